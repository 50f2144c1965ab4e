// Page allocation and the two-stage commit of a PageFile, and recovery of a commit left
// pending on disk.
//
// A commit first gives every changed page a slot of its size class, keeping the class ranges
// packed. Stage one writes pages that land beyond the old end of pages straight into their
// slots, and everything that would overwrite live data (including the new header) into a log
// area behind the pages; then it points the header at offset 0 at that log. Stage two copies the
// logged images into place and resets the log. A crash before the header switch leaves the old
// state; after it, the next refresh in write mode replays the log, unless the commit belongs to
// a transaction over several files that had not reached its commit point (transaction_set.h).
#include <algorithm>
#include <vector>

#include "pagestore/page_codec.h"
#include "pagestore/page_file.h"
#include "pagestore/page_tree.h"
#include "pagestore/transaction_set.h"
#include "vellum/fatal.h"

namespace vellum {

namespace {
std::vector<PageNode*> snapshot(const PageList& list) {
    std::vector<PageNode*> nodes;
    nodes.reserve(list.count);
    PageNode* node = list.head;
    for (unsigned i = 0; i < list.count; ++i, node = node->listNext) nodes.push_back(node);
    return nodes;
}
}  // namespace

// Allocation ---------------------------------------------------------------------------------

int32_t PageFile::allocateSlot(unsigned k) {
    if (makeRoomBelow(k - 1, k)) {
        header_.setRangeStart(k, header_.rangeStart(k) - k);
        return static_cast<int32_t>(header_.rangeStart(k));
    }
    makeRoomAbove(k, k);
    uint32_t slot = header_.rangeEnd(k);
    header_.setRangeEnd(k, slot + k);
    return static_cast<int32_t>(slot);
}

// Ensures b free units between range a and range a + 1 by moving range a, and the ranges
// below it, down. Range 1 never moves down.
bool PageFile::makeRoomBelow(unsigned a, uint32_t b) {
    if (a == 0) return false;
    uint32_t gap = header_.rangeStart(a + 1) - header_.rangeEnd(a);
    if (gap >= b) return true;
    uint32_t pages = (b - gap + a - 1) / a;
    if (!makeRoomBelow(a - 1, pages * a)) return false;
    while (header_.rangeStart(a + 1) - header_.rangeEnd(a) < b) {
        movePage(static_cast<int32_t>(header_.rangeEnd(a) - a),
                 static_cast<int32_t>(header_.rangeStart(a) - a));
        header_.setRangeStart(a, header_.rangeStart(a) - a);
        header_.setRangeEnd(a, header_.rangeEnd(a) - a);
    }
    return true;
}

// Ensures a free units between range d and range d + 1 by moving the ranges above up.
void PageFile::makeRoomAbove(unsigned d, uint32_t a) {
    if (a > d) fatal(1781);
    if (d >= kMaxSizeClass) return;
    uint32_t gap = header_.rangeStart(d + 1) - header_.rangeEnd(d);
    if (gap >= a) return;
    unsigned n = d + 1;
    uint32_t size = header_.rangeEnd(n) - header_.rangeStart(n);
    uint32_t shift;
    if (size <= n) {
        shift = a - gap;
        makeRoomAbove(n, shift);
        if (size != 0) {
            movePage(static_cast<int32_t>(header_.rangeStart(n)),
                     static_cast<int32_t>(header_.rangeStart(n) + shift));
        }
    } else {
        makeRoomAbove(n, n);
        movePage(static_cast<int32_t>(header_.rangeStart(n)),
                 static_cast<int32_t>(header_.rangeEnd(n)));
        shift = n;
    }
    header_.setRangeStart(n, header_.rangeStart(n) + shift);
    header_.setRangeEnd(n, header_.rangeEnd(n) + shift);
}

void PageFile::freeSlot(int32_t page) {
    unsigned k = header_.sizeClassOf(page);
    if (k == 0) return;
    movePage(static_cast<int32_t>(header_.rangeEnd(k) - k), page);
    header_.setRangeEnd(k, header_.rangeEnd(k) - k);
}

void PageFile::placePage(int32_t page, unsigned k) {
    unsigned current = header_.sizeClassOf(page);
    if (current == k) return;
    if (current != 0) {
        int32_t temporary = nextTemporaryPage();
        movePage(page, temporary);
        freeSlot(page);
        page = temporary;
    }
    if (k != 0) movePage(page, allocateSlot(k));
}

// Closes the gaps that allocation left below the ranges of several pages, and moves ranges of
// at most one page right down onto the range below.
void PageFile::packRanges() {
    for (unsigned k = 2; k <= kMaxSizeClass; ++k) {
        uint32_t size = header_.rangeEnd(k) - header_.rangeStart(k);
        if (size > k) {
            while (header_.rangeStart(k) - header_.rangeEnd(k - 1) >= k) {
                movePage(static_cast<int32_t>(header_.rangeEnd(k) - k),
                         static_cast<int32_t>(header_.rangeStart(k) - k));
                header_.setRangeStart(k, header_.rangeStart(k) - k);
                header_.setRangeEnd(k, header_.rangeEnd(k) - k);
            }
        } else {
            if (size != 0) {
                movePage(static_cast<int32_t>(header_.rangeStart(k)),
                         static_cast<int32_t>(header_.rangeEnd(k - 1)));
            }
            header_.setRangeStart(k, header_.rangeEnd(k - 1));
            header_.setRangeEnd(k, header_.rangeStart(k) + size);
        }
    }
}

// Gives a page a new number and points its parent's separator (or the header) at it.
void PageFile::movePage(int32_t from, int32_t to) {
    if (from == to) return;
    PageNode* node = fetchPage(from);
    markDirty(node);
    renumberNode(node, to);
    if (header_.rootPage() == from) {
        header_.setRootPage(to);
        return;
    }
    if (node->tree == nil_.get()) fatal(1891);
    const Entry* first = firstEntry(node->tree, nil_.get());
    PageNode* index = fetchPage(header_.rootPage());
    while (index->level != 0) {
        Entry* separator = floorEntry(index->tree, nil_.get(), first->key());
        if (separator == nullptr) fatal(1894);
        if (separator->child == from) {
            separator->child = to;
            markDirty(index);
            return;
        }
        index = childOf(index, separator);
    }
    fatal(1894);
}

// Commit -------------------------------------------------------------------------------------

int PageFile::commit() {
    int result = commitStageOne();
    if (result == 0) commitStageTwo();
    return result;
}

int PageFile::commitStageOne() {
    if (enlisted_ || !dirty_) return 0;
    if (!opened_) {
        discard();
        return disk_->stickyWriteError();
    }
    // Allocation walks the ranges by their differences; on ranges a sound file cannot have it
    // could run for ever.
    if (!header_.rangesAreSound()) fatal(kDamagedTreeFatal);
    excludeReaders(true);
    // The previous header describes the state on disk. The copy does not serve: freeing a page
    // during the changes already moved the top page of its range and lowered the range end
    // there. A file never committed has no such state on disk; its copy is that of a new file,
    // unchanged but for the new root.
    HeaderPage previous;
    if (disk_->read(0, previous.bytes(), kHeaderSize) != kHeaderSize || !previous.hasMagic() ||
        previous.changeCounter() == 0) {
        previous = header_;
    }
    // Pages freed since the last commit have already lowered the range ends in the copy, but
    // their slots still hold live data on disk. The copy's log start lies at or above the end
    // of pages on disk (it was loaded from there or set by this process's last commit), so it
    // keeps those slots below the old end.
    oldEnd_ = std::max<uint64_t>(header_.endOfPages(), header_.logStart());

    for (PageNode* node : snapshot(dirtyList_)) {
        if (node->image.empty()) node->image = buildImage(node);
        placePage(node->pageNumber, imageSlotSize(node->image.data()) / kPageUnit);
    }
    packRanges();

    uint64_t logEnd = std::max<uint64_t>(header_.endOfPages(), oldEnd_);
    header_.setLogStart(static_cast<uint32_t>(logEnd));
    header_.raiseChangeCounter();
    disk_->clearStickyWriteError();

    // An empty file first gets the header of a file never committed. Without it, a crash
    // before the switch would leave pages behind 512 bytes that are no header at all, and the
    // file would no longer open; with it, the file opens as the empty file it was.
    if (disk_->size() == 0) {
        HeaderPage empty;
        empty.setMagic();
        disk_->write(0, empty.bytes(), kHeaderSize);
        disk_->flush();
    }

    for (PageNode* node : snapshot(dirtyList_)) {
        if (node->image.empty()) node->image = buildImage(node);
        if (node->level != 0) writeChildNumbers(node->image.data(), node->tree, nil_.get());
        uint64_t offset = pageOffset(node->pageNumber);
        setImageOwnOffset(node->image.data(), static_cast<uint32_t>(offset));
        if (offset < oldEnd_) {
            disk_->write(logEnd, node->image.data(), node->image.size());
            logEnd += node->image.size();
        } else {
            disk_->write(offset, node->image.data(), node->image.size());
            destroyNode(node);
        }
    }
    header_.setLogEnd(static_cast<uint32_t>(logEnd + kHeaderSize));
    disk_->write(logEnd, header_.bytes(), kHeaderSize);

    if (int error = disk_->stickyWriteError(); error != 0) {
        discard();
        return error;
    }
    disk_->flush();
    previous.setLogStart(header_.logStart());
    previous.setLogEnd(header_.logEnd());
    // The new change counter makes every other process that has the file open reload the
    // header at its next bracket, and so read through or replay this commit should this
    // process stop before stage two; with the old one a writer would commit over it.
    previous.setChangeCounter(header_.changeCounter());
    disk_->write(0, previous.bytes(), kHeaderSize);
    // A failed switch leaves the old header in force: the commit did not happen.
    if (int error = disk_->stickyWriteError(); error != 0) {
        discard();
        return error;
    }
    disk_->flush();
    return 0;
}

int PageFile::commitStageTwo() {
    if (enlisted_ || !dirty_) return 0;
    if (!opened_) {
        discard();
        return disk_->stickyWriteError();
    }
    while (dirtyList_.head != nullptr) {
        PageNode* node = dirtyList_.head;
        disk_->write(pageOffset(node->pageNumber), node->image.data(), node->image.size());
        destroyNode(node);
    }
    disk_->write(0, header_.bytes(), kHeaderSize);
    resetLog();
    excludeReaders(false);
    dirty_ = false;
    // Every page now has its slot, so temporary numbers start afresh.
    temporaryPageCounter_ = 0;
    if (disk_->stickyWriteError() != 0) {
        // Some logged images did not reach their slots, so the slots no longer match the
        // header copy, while the log area stays recorded on disk. Clear the error, drop the
        // cache, end the bracket and mark the copy for reloading: the next bracket reads
        // through the log area or, in write mode, replays it.
        disk_->clearStickyWriteError();
        header_.clearMagic();
        dropCache();
        endBracket();
    }
    return 0;
}

void PageFile::discard() {
    if (dirty_) {
        dirty_ = false;
        header_.clearMagic();
        commit();
        dropCache();
        endBracket();
    }
    excludeReaders(false);
}

void PageFile::resetLog() {
    disk_->flush();
    HeaderPage onDisk;
    disk_->readExact(0, onDisk.bytes(), kHeaderSize);
    uint32_t end = static_cast<uint32_t>(onDisk.endOfPages());
    onDisk.setLogStart(end);
    onDisk.setLogEnd(end);
    onDisk.raiseChangeCounter();
    disk_->write(0, onDisk.bytes(), kHeaderSize);
    disk_->flush();
}

std::vector<uint8_t> PageFile::buildImage(PageNode* node) {
    return buildPageImage(node->tree, nil_.get(), node->level, node->sizeEstimate);
}

// Recovery -----------------------------------------------------------------------------------

// Collects the log area's images into the log-area map. A log area that cannot be read to its
// end, or whose images do not fit it, is incomplete.
bool PageFile::scanLogArea() {
    uint64_t position = header_.logStart();
    uint64_t end = header_.logEnd();
    HeaderPage image;
    while (position != end) {
        if (position > end || disk_->read(position, image.bytes(), kHeaderSize) < kHeaderSize) {
            return false;
        }
        uint32_t target = imageOwnOffset(image.bytes());
        uint32_t slot = imageSlotSize(image.bytes());
        bool header = target == 0 && slot == kHeaderSize;
        bool page = target >= kHeaderSize && (target - kHeaderSize) % kPageUnit == 0 &&
                    slot >= kPageUnit && slot <= kMaxSlotSize;
        if (!header && !page) return false;
        logAreaMap_.emplace_back(target, static_cast<uint32_t>(position));
        position += slot;
    }
    uint64_t headerAt = 0;
    for (const auto& [target, logOffset] : logAreaMap_) {
        if (target == 0) headerAt = logOffset;
    }
    if (disk_->read(headerAt, image.bytes(), kHeaderSize) < kHeaderSize || !image.hasMagic()) {
        return false;
    }
    header_ = image;
    return true;
}

void PageFile::recoverPending() {
    uint32_t logStart = header_.logStart();
    uint32_t logEnd = header_.logEnd();
    // A commit of a transaction over several files counts only once the transaction reached
    // its commit point; the check reads the file's marker through the log area.
    bool complete = scanLogArea() && !TransactionSet::recoveryCheck(*this);
    if (!complete) {
        dropCache();
        disk_->readExact(0, header_.bytes(), kHeaderSize);
        if (readMode_) {
            // The file stays pending on disk. Mark the copy for reloading, so that the next
            // bracket reads the header again and the first write bracket resets the log.
            header_.clearMagic();
            return;
        }
    } else {
        if (readMode_) return;
        dropCache();
    }
    if (denyWrite_) disk_->lock(nullptr, 0, LockKind::writer, true);
    if (complete) replayLog(logStart, logEnd);
    resetLog();
    if (denyWrite_) disk_->unlock(0, LockKind::writer);
}

// Copies every image of a complete log area to the offset it belongs to.
void PageFile::replayLog(uint32_t logStart, uint32_t logEnd) {
    std::vector<uint8_t> buffer(kMaxSlotSize);
    uint64_t position = logStart;
    while (position < logEnd) {
        disk_->readExact(position, buffer.data(), kPageUnit);
        uint32_t size = imageOwnOffset(buffer.data()) == 0 ? kHeaderSize
                                                            : imageSlotSize(buffer.data());
        if (size < kPageUnit || size > kMaxSlotSize) fatal(2172);
        disk_->readExact(position + kPageUnit, buffer.data() + kPageUnit, size - kPageUnit);
        disk_->write(imageOwnOffset(buffer.data()), buffer.data(), size);
        position += size;
    }
}

}  // namespace vellum
