// The page cache of a PageFile: a table of 100 hash chains on page number, a clean list in
// least-recently-used order that is trimmed as pages are fetched, and a dirty list in the order
// pages changed. Clean pages are the only ones ever evicted.
#include "pagestore/page_file.h"

#include <cstdint>

#include "pagestore/entry_cursor.h"

#include "pagestore/page_codec.h"
#include "pagestore/page_tree.h"
#include "vellum/fatal.h"

namespace vellum {

void PageList::append(PageNode* node) {
    if (head == nullptr) {
        head = node;
        node->listNext = node->listPrev = node;
    } else {
        PageNode* tail = head->listPrev;
        node->listPrev = tail;
        node->listNext = head;
        tail->listNext = node;
        head->listPrev = node;
    }
    ++count;
}

void PageList::remove(PageNode* node) {
    if (node->listNext == node) {
        head = nullptr;
    } else {
        node->listPrev->listNext = node->listNext;
        node->listNext->listPrev = node->listPrev;
        if (head == node) head = node->listNext;
    }
    node->listNext = node->listPrev = nullptr;
    --count;
}

namespace {
unsigned chainOf(int32_t number) {
    return static_cast<uint32_t>(number) % PageFile::kHashChains;
}
}  // namespace

PageNode* PageFile::cachedPage(int32_t number) const {
    for (PageNode* node = pageTable_[chainOf(number)]; node != nullptr; node = node->hashNext) {
        if (node->pageNumber == number) return node;
    }
    return nullptr;
}

void PageFile::touch(PageNode* node) {
    node->lastUse = ++useClock_;
    clean_.append(node);
}

void PageFile::markDirty(PageNode* node) {
    if (node->dirty) return;
    dirty_ = true;
    clean_.remove(node);
    dirtyList_.append(node);
    node->dirty = true;
}

void PageFile::renumberNode(PageNode* node, int32_t number) {
    PageNode** link = &pageTable_[chainOf(node->pageNumber)];
    while (*link != node) link = &(*link)->hashNext;
    *link = node->hashNext;
    node->pageNumber = number;
    node->hashNext = pageTable_[chainOf(number)];
    pageTable_[chainOf(number)] = node;
}

void PageFile::destroyNode(PageNode* node) {
    ++reshapes_;
    detachCursors(node);
    if (node->tree != nullptr) destroyTree(node->tree, nil_.get());
    PageNode** link = &pageTable_[chainOf(node->pageNumber)];
    while (*link != node) link = &(*link)->hashNext;
    *link = node->hashNext;
    (node->dirty ? dirtyList_ : clean_).remove(node);
    delete node;
}

void PageFile::dropCache() {
    while (clean_.head != nullptr) destroyNode(clean_.head);
    while (dirtyList_.head != nullptr) destroyNode(dirtyList_.head);
    logAreaMap_.clear();
}

// Keeps at least 20 clean pages, and below 100 keeps a page whose idle time is short against
// its average age per clean page; at 100 or more the oldest goes whatever its age.
void PageFile::trimCleanList() {
    while (clean_.count >= 20) {
        PageNode* oldest = clean_.head;
        if (clean_.count < 100 &&
            useClock_ - oldest->lastUse < 4 * ((useClock_ - oldest->created) / clean_.count)) {
            return;
        }
        destroyNode(oldest);
    }
}

void PageFile::readPageImage(PageNode* node) {
    unsigned sizeClass = header_.sizeClassOf(node->pageNumber);
    size_t slotSize = size_t{sizeClass} * kPageUnit;
    uint64_t offset = pageOffset(node->pageNumber);
    for (const auto& [target, logOffset] : logAreaMap_) {
        if (target == offset) {
            offset = logOffset;
            break;
        }
    }
    node->image.resize(slotSize);
    disk_->readExact(offset, node->image.data(), slotSize);
    PageContents contents = decodePageImage(node->image.data(), slotSize, nil_.get());
    node->image = {};
    node->tree = contents.tree;
    node->level = contents.level;
    node->sizeEstimate = contents.sizeEstimate;
}

PageNode* PageFile::fetchPage(int32_t number) {
    trimCleanList();
    PageNode* node = cachedPage(number);
    if (node == nullptr) {
        node = new PageNode;
        node->file = this;
        node->pageNumber = number;
        node->hashNext = pageTable_[chainOf(number)];
        pageTable_[chainOf(number)] = node;
        node->created = useClock_;
        touch(node);
    }
    if (node->tree == nullptr) {
        if (number < 0) {
            // The root of a new file: an empty tree that receives the sentinel, the entry with
            // an empty key that every file's first leaf holds.
            // Refused in read mode before the node gets a tree, so that the first access in
            // write mode still gives the root its sentinel.
            if (readMode_) fatal(1194);
            node->tree = nil_.get();
            insertEntry(newEntry(0, 0));
        } else {
            readPageImage(node);
        }
    }
    if (!node->dirty) {
        clean_.remove(node);
        touch(node);
    }
    return node;
}

int32_t PageFile::nextTemporaryPage() {
    if (temporaryPageCounter_ == INT32_MIN) fatal(kDamagedTreeFatal);
    return --temporaryPageCounter_;
}

PageNode* PageFile::rootPage() {
    if (refreshHeader(true) != 0) fatal(1013);
    // Only a root never placed is negative, and it is page -1.
    if (header_.rootPage() < -1) fatal(kDamagedTreeFatal);
    if (header_.changeCounter() == 0) {
        header_.setChangeCounter(1);
        header_.setRootPage(-1);
        --temporaryPageCounter_;
    }
    // A header can also name the unplaced root -1 when it comes from a first commit whose log
    // area was lost; temporary numbers must then still start below it.
    if (header_.rootPage() < 0 && temporaryPageCounter_ > header_.rootPage()) {
        temporaryPageCounter_ = header_.rootPage();
    }
    return fetchPage(header_.rootPage());
}

}  // namespace vellum
