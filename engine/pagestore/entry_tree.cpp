// The entry tree of a PageFile: a B+tree whose nodes are the file's pages. Leaves hold the
// entries; an index page holds, for each child, a copy of the child's first key with the child's
// page number. The first leaf starts with the sentinel, the entry with an empty key, so every
// key has a separator to descend by. Pages split when their size estimate passes 15094 bytes,
// or 4096 bytes with more than 20 entries; the root keeps its page number by moving its content
// into a new child. A page that loses its last entry is freed at once.
#include <algorithm>
#include <cstdint>
#include <functional>
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

// The child page of an index page of a level, which must lie one level lower.
PageNode* fetchChild(PageFile& file, unsigned parentLevel, int32_t number) {
    PageNode* child = file.fetchPage(number);
    if (child->level + 1u != parentLevel) fatal(kDamagedTreeFatal);
    return child;
}

// The first entry of a subtree whose separator lies above key: down the first separators to the
// leftmost leaf, whose first entry must lie above key too. Searching that subtree for key
// instead would, on a damaged file whose pages are shared between subtrees, search each shared
// page again once per path to it.
Entry* firstEntryAbove(PageFile& file, PageNode* node, std::span<const uint8_t> key) {
    while (node->level != 0) {
        Entry* first = firstEntry(node->tree, file.nil());
        if (first == nullptr) fatal(kDamagedTreeFatal);
        node = fetchChild(file, node->level, first->child);
    }
    Entry* first = firstEntry(node->tree, file.nil());
    if (first == nullptr || compareKeys(first->key(), key) <= 0) fatal(kDamagedTreeFatal);
    return first;
}
}  // namespace

PageNode* PageFile::childOf(const PageNode* index, const Entry* separator) {
    uint8_t level = index->level;
    PageNode* child = fetchPage(separator->child);
    if (child->level + 1 != level) fatal(kDamagedTreeFatal);
    return child;
}

PageNode* PageFile::descendTo(std::span<const uint8_t> key, unsigned level) {
    PageNode* node = rootPage();
    while (node->level > level) {
        Entry* separator = floorEntry(node->tree, nil_.get(), key);
        if (separator == nullptr) fatal(kDamagedTreeFatal);
        node = childOf(node, separator);
    }
    return node;
}

Entry* PageFile::findEntry(std::span<const uint8_t> key) {
    PageNode* leaf = descendTo(key, 0);
    Entry* entry = findInTree(leaf->tree, nil_.get(), key);
    return entry != nullptr && entry->keyLength != 0 ? entry : nullptr;
}

// Fetching a page may evict any clean page, so nothing of node is used once a descent below it
// has started: both child numbers are read first.
Entry* PageFile::nextInSubtree(PageNode* node, std::span<const uint8_t> key) {
    if (node->level == 0) return higherEntry(node->tree, nil_.get(), key);
    unsigned level = node->level;
    Entry* separator = floorEntry(node->tree, nil_.get(), key);
    Entry* higher = higherEntry(node->tree, nil_.get(), key);
    bool hasHigher = higher != nullptr;
    int32_t higherChild = hasHigher ? higher->child : 0;
    if (separator != nullptr) {
        if (Entry* found = nextInSubtree(fetchChild(*this, level, separator->child), key)) {
            return found;
        }
    }
    return hasHigher ? firstEntryAbove(*this, fetchChild(*this, level, higherChild), key) : nullptr;
}

Entry* PageFile::findNextEntry(Entry* entry) {
    if (entry->subtreeSize != 0) {
        if (Entry* next = nextInTree(entry, nil_.get())) {
            // A page whose entries are not in key order would send a walk back to keys it has
            // passed, and round again for ever.
            if (compareKeys(*next, *entry) <= 0) fatal(kDamagedTreeFatal);
            return next;
        }
    }
    // The key is copied: the descent may evict the page that holds entry.
    std::vector<uint8_t> key(entry->key().begin(), entry->key().end());
    return nextInSubtree(rootPage(), key);
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
    ++reshapes_;
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

void PageFile::insertAtLevel(Entry* entry, unsigned level) {
    PageNode* node = nullptr;
    try {
        if (readMode_) fatal(1194);
        dirty_ = true;
        node = descendTo(entry->key(), level);
        insertIntoTree(&node->tree, nil_.get(), entry);
    } catch (const FatalError&) {
        // The tree takes every entry over; one refused before it got into a page is freed.
        freeEntry(entry);
        throw;
    }
    markDirty(node);
    node->sizeEstimate = static_cast<uint16_t>(node->sizeEstimate + entryCost(entry, level));
    splitIfNeeded(node);
}

void PageFile::splitIfNeeded(PageNode* node) {
    if (!needsSplit(node)) return;
    if (node->tree->subtreeSize == 1) fatal(1364);
    detachCursors(node);
    if (node->pageNumber == header_.rootPage()) {
        // A level is one byte. Separators too long for two of them to share an index page
        // (keys of more than 7531 bytes) can make every new root overflow again, so without
        // this bound the root would rise for ever.
        if (node->level == UINT8_MAX) fatal(1364);
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
    try {
        insertIntoTree(intoOld ? &node->tree : &sibling->tree, nil_.get(), middle);
    } catch (const FatalError&) {
        freeEntry(middle);  // a damaged page held its key twice
        throw;
    }
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
    // The descent may evict the leaf that holds the entry (only on a tree deeper than the cache
    // keeps, which a damaged file can claim); the key is copied so that the entry can then be
    // found again in the leaf read anew.
    std::vector<uint8_t> key(entry->key().begin(), entry->key().end());
    Entry* removed = nullptr;
    pagesToFree_.clear();
    try {
        removeAtLevel(rootPage(), key, 0, entry, reshapes_, &removed);
    } catch (const FatalError&) {
        // An entry already out of its leaf when a damaged page above refused the rest is freed.
        if (removed != nullptr) freeEntry(removed);
        pagesToFree_.clear();
        throw;
    }
    releaseEntry(removed);
    freeEntry(removed);
    // The slots of emptied pages are given back once the whole path is settled: giving one back
    // moves the top page of its class into it, and that page may be an index page on the path
    // that has just lost its last child and is still to be dropped itself. Highest numbers go
    // first, so that a freed slot at the top of its range is never moved into another.
    std::sort(pagesToFree_.begin(), pagesToFree_.end(), std::greater<>());
    for (int32_t number : pagesToFree_) freeSlot(number);
    pagesToFree_.clear();
}

void PageFile::removeAtLevel(PageNode* page, std::span<const uint8_t> key, unsigned level,
                             Entry* entry, uint64_t reshapes, Entry** removed) {
    if (page->level <= level) {
        if (reshapes_ != reshapes) entry = findInTree(page->tree, nil_.get(), key);
        if (entry == nullptr) fatal(780);
        takeOutOfPage(page, entry);
        *removed = entry;
        return;
    }
    unsigned pageLevel = page->level;
    Entry* separator = floorEntry(page->tree, nil_.get(), key);
    if (separator == nullptr) fatal(780);
    PageNode* child = childOf(page, separator);
    uint64_t before = reshapes_;
    removeAtLevel(child, key, level, entry, reshapes, removed);
    if (reshapes_ != before) {
        // Below, pages were split or left the cache: this page may have been evicted, or its
        // separator moved to a new sibling. Find both again by the key.
        page = descendTo(key, pageLevel);
        separator = floorEntry(page->tree, nil_.get(), key);
        if (separator == nullptr) fatal(780);
        child = childOf(page, separator);
    }
    if (child->tree == nil_.get()) {
        // The child is empty: its separator and its node go now, its slot once the removal is
        // done (see removeEntry).
        int32_t number = child->pageNumber;
        takeOutOfPage(page, separator);
        releaseEntry(separator);
        freeEntry(separator);
        destroyNode(child);
        pagesToFree_.push_back(number);
    } else if (compareKeys(*firstEntry(child->tree, nil_.get()), *separator) > 0) {
        takeOutOfPage(page, separator);
        releaseEntry(separator);
        freeEntry(separator);
        insertAtLevel(separatorFor(child), pageLevel);
    }
}

std::array<uint8_t, 4> PageFile::nextRecordNumber() {
    if (readMode_) fatal(1163);
    if (refreshHeader(true) != 0) fatal(1164);
    // A new file gets its root now: a commit of the counter alone would otherwise store a
    // header that names a root page the file does not have.
    if (header_.changeCounter() == 0) rootPage();
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
