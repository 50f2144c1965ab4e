// The entry tree of a PageFile: a B+tree whose nodes are the file's pages. Leaves hold the
// entries; an index page holds, for each child, a copy of the child's first key with the child's
// page number. The first leaf starts with the sentinel, the entry with an empty key, so every
// key has a separator to descend by. Pages split when their size estimate passes 15094 bytes,
// or 4096 bytes with more than 20 entries; the root keeps its page number by moving its content
// into a new child. A page that loses its last entry is freed at once.
#include <algorithm>
#include <vector>

#include "pagestore/entry_cursor.h"
#include "pagestore/page_file.h"
#include "pagestore/page_tree.h"
#include "vellum/fatal.h"

namespace vellum {

namespace {
constexpr unsigned kSplitEstimate = 15094;
constexpr unsigned kSmallEntrySplitEstimate = 4096;
constexpr unsigned kSmallEntryCount = 20;

unsigned entryCost(const Entry* entry, unsigned level) {
    return entry->totalLength + 5u + (level > 0 ? 4u : 0u);
}
}  // namespace

PageNode* PageFile::childOf(const PageNode* index, const Entry* separator) {
    uint8_t level = index->level;
    PageNode* child = fetchPage(separator->child);
    if (child->level + 1 != level) fatal(kDamagedTreeFatal);
    return child;
}

PageNode* PageFile::findLeaf(std::span<const uint8_t> key) {
    PageNode* node = rootPage();
    while (node->level != 0) {
        Entry* separator = floorEntry(node->tree, nil_.get(), key);
        if (separator == nullptr) fatal(kDamagedTreeFatal);
        node = childOf(node, separator);
    }
    return node;
}

Entry* PageFile::findEntry(std::span<const uint8_t> key) {
    PageNode* leaf = findLeaf(key);
    Entry* entry = findInTree(leaf->tree, nil_.get(), key);
    return entry != nullptr && entry->keyLength != 0 ? entry : nullptr;
}

Entry* PageFile::nextInSubtree(PageNode* node, std::span<const uint8_t> key) {
    if (node->level == 0) return higherEntry(node->tree, nil_.get(), key);
    if (Entry* separator = floorEntry(node->tree, nil_.get(), key)) {
        if (Entry* found = nextInSubtree(childOf(node, separator), key)) return found;
    }
    Entry* higher = higherEntry(node->tree, nil_.get(), key);
    return higher != nullptr ? nextInSubtree(childOf(node, higher), key) : nullptr;
}

Entry* PageFile::findNextEntry(Entry* entry) {
    if (entry->subtreeSize != 0) {
        if (Entry* next = nextInTree(entry, nil_.get())) return next;
    }
    return nextInSubtree(rootPage(), entry->key());
}

Entry* PageFile::findPreviousEntry(std::span<const uint8_t> key) {
    if (key.empty()) return nullptr;
    PageNode* node = rootPage();
    while (node->level != 0) {
        Entry* separator = lowerEntry(node->tree, nil_.get(), key);
        if (separator == nullptr) return nullptr;
        node = childOf(node, separator);
    }
    Entry* previous = lowerEntry(node->tree, nil_.get(), key);
    return previous != nullptr && previous->keyLength != 0 ? previous : nullptr;
}

// Changes ----------------------------------------------------------------------------------------

bool PageFile::needsSplit(const PageNode* node) const {
    return node->sizeEstimate > kSplitEstimate ||
           (node->sizeEstimate > kSmallEntrySplitEstimate &&
            node->tree->subtreeSize > kSmallEntryCount);
}

PageNode* PageFile::newPageNode(int32_t number, uint8_t level) {
    PageNode* node = new PageNode;
    node->file = this;
    node->pageNumber = number;
    node->level = level;
    node->tree = nil_.get();
    node->hashNext = pageTable_[static_cast<uint32_t>(number) % kHashChains];
    pageTable_[static_cast<uint32_t>(number) % kHashChains] = node;
    node->created = useClock_;
    touch(node);
    markDirty(node);
    return node;
}

Entry* PageFile::separatorFor(PageNode* node) {
    Entry* separator = copyEntryKey(*firstEntry(node->tree, nil_.get()));
    separator->child = node->pageNumber;
    return separator;
}

void PageFile::recomputeEstimate(PageNode* node) {
    unsigned estimate = 13;
    forEachEntry(node->tree, nil_.get(),
                 [&](Entry* entry) { estimate += entryCost(entry, node->level); });
    node->sizeEstimate = static_cast<uint16_t>(estimate);
}

void PageFile::detachCursors(PageNode* node) {
    while (node->cursors != nullptr) node->cursors->detach();
}

void PageFile::insertEntry(Entry* entry) {
    try {
        insertAtLevel(entry, 0);
    } catch (const FatalError&) {
        // The tree took the entry over; one that never got into it is freed here.
        if (entry->subtreeSize == 0) freeEntry(entry);
        throw;
    }
}

void PageFile::insertAtLevel(Entry* entry, unsigned level) {
    if (readMode_) fatal(1194);
    dirty_ = true;
    PageNode* node = rootPage();
    while (node->level > level) {
        Entry* separator = floorEntry(node->tree, nil_.get(), entry->key());
        if (separator == nullptr) fatal(kDamagedTreeFatal);
        node = childOf(node, separator);
    }
    insertIntoTree(&node->tree, nil_.get(), entry);
    markDirty(node);
    node->sizeEstimate = static_cast<uint16_t>(node->sizeEstimate + entryCost(entry, level));
    splitIfNeeded(node);
}

void PageFile::splitIfNeeded(PageNode* node) {
    if (!needsSplit(node)) return;
    if (node->tree->subtreeSize == 1) fatal(1364);
    detachCursors(node);
    if (node->pageNumber == header_.rootPage()) {
        // The root keeps its number: its content moves into a new child below it.
        PageNode* child = newPageNode(nextTemporaryPage(), node->level);
        child->tree = node->tree;
        child->sizeEstimate = node->sizeEstimate;
        node->level = static_cast<uint8_t>(node->level + 1);
        node->tree = nil_.get();
        node->sizeEstimate = 13;
        markDirty(node);
        Entry* separator = separatorFor(child);
        insertIntoTree(&node->tree, nil_.get(), separator);
        node->sizeEstimate = static_cast<uint16_t>(13 + entryCost(separator, node->level));
        node = child;
    }
    PageNode* sibling = newPageNode(nextTemporaryPage(), node->level);
    markDirty(node);
    Entry* middle = node->tree;
    node->tree = middle->left;
    sibling->tree = middle->right;
    if (node->tree != nil_.get()) node->tree->parent = nullptr;
    if (sibling->tree != nil_.get()) sibling->tree->parent = nullptr;
    middle->parent = nullptr;
    bool intoOld = node->tree->subtreeSize < sibling->tree->subtreeSize;
    insertIntoTree(intoOld ? &node->tree : &sibling->tree, nil_.get(), middle);
    recomputeEstimate(node);
    recomputeEstimate(sibling);
    insertAtLevel(separatorFor(sibling), node->level + 1u);
    splitIfNeeded(node);
    splitIfNeeded(sibling);
}

void PageFile::takeOutOfPage(PageNode* page, Entry* entry) {
    if (findInTree(page->tree, nil_.get(), entry->key()) != entry) fatal(780);
    removeFromTree(&page->tree, nil_.get(), entry);
    markDirty(page);
    page->sizeEstimate = static_cast<uint16_t>(page->sizeEstimate - entryCost(entry, page->level));
    detachCursors(page);
}

void PageFile::removeEntry(Entry* entry) {
    if (entry == nullptr) return;
    if (readMode_) fatal(1203);
    dirty_ = true;
    removeAtLevel(rootPage(), entry, 0);
    releaseEntry(entry);
    freeEntry(entry);
}

void PageFile::removeAtLevel(PageNode* page, Entry* entry, unsigned level) {
    if (page->level <= level) {
        takeOutOfPage(page, entry);
        return;
    }
    Entry* separator = floorEntry(page->tree, nil_.get(), entry->key());
    if (separator == nullptr) fatal(780);
    PageNode* child = childOf(page, separator);
    removeAtLevel(child, entry, level);
    if (child->tree == nil_.get()) {
        // The child is empty: drop its node before its slot is given back, so that the page
        // moved into that slot cannot meet a node of the same number.
        int32_t number = child->pageNumber;
        destroyNode(child);
        freeSlot(number);
        takeOutOfPage(page, separator);
        releaseEntry(separator);
        freeEntry(separator);
    } else if (compareKeys(*firstEntry(child->tree, nil_.get()), *separator) > 0) {
        takeOutOfPage(page, separator);
        releaseEntry(separator);
        freeEntry(separator);
        insertAtLevel(separatorFor(child), page->level);
    }
}

std::array<uint8_t, 4> PageFile::nextRecordNumber() {
    if (readMode_) fatal(1163);
    if (refreshHeader(true) != 0) fatal(1164);
    dirty_ = true;
    uint8_t* counter = header_.recordCounter();
    for (int i = 3; i >= 0 && ++counter[i] == 0; --i) {
    }
    if (counter[0] >= 0xFE) fatal(1173);
    return {counter[0], counter[1], counter[2], counter[3]};
}

void PageFile::setRecordNumber(const uint8_t* bytes) {
    std::copy(bytes, bytes + 4, header_.recordCounter());
}

}  // namespace vellum
