// The access bracket of a PageFile and its locks. On a shared file every access runs inside a
// bracket: a reader holds one reader slot, a writer the writer byte; a process writing a commit
// holds all reader slots. The first access of a bracket re-reads the header when another process
// has committed since, and recovers a commit left pending on disk.
#include "pagestore/page_file.h"

#include "vellum/error_codes.h"

namespace vellum {

int PageFile::refreshHeader(bool wait) {
    if (bracketOpen_) return 0;
    if (shared_ &&
        disk_->lock(nullptr, 0, readMode_ ? LockKind::readerSlot : LockKind::writer, wait) != 0) {
        return kAccessDenied;
    }
    bracketOpen_ = true;
    // A write bracket opened while this process reads through a pending log area reloads the
    // header, so that the pending commit is replayed before any change is made on top of it.
    if (!readMode_ && !logAreaMap_.empty()) header_.clearMagic();
    // A file no other process may change is read once.
    if (!shared_ && header_.hasMagic()) return 0;

    HeaderPage disk;
    size_t got = disk_->read(0, disk.bytes(), kHeaderSize);
    if (got == 0) {
        // An empty file was never committed. A copy marked for reloading may describe a first
        // commit that failed, whose pages never reached the file: start again from nothing.
        if (!header_.hasMagic()) {
            dropCache();
            header_ = HeaderPage();
            temporaryPageCounter_ = 0;
        }
        header_.setMagic();
        return 0;
    }
    if (got < kHeaderSize || !disk.hasMagic()) return 1;
    if (disk.changeCounter() <= header_.changeCounter() && header_.hasMagic()) return 0;
    dropCache();
    header_ = disk;
    if (header_.logStart() != header_.logEnd()) recoverPending();
    return 0;
}

void PageFile::excludeReaders(bool on) {
    if (!shared_ && !denyWrite_) return;
    if (on) {
        if (readersExcluded_) return;
        disk_->lock(nullptr, 0, LockKind::allReaderSlots, true);
        readersExcluded_ = true;
    } else if (readersExcluded_) {
        disk_->unlock(0, LockKind::allReaderSlots);
        readersExcluded_ = false;
    }
}

int PageFile::endBracket() {
    int result = commit();
    if (bracketOpen_) {
        bracketOpen_ = false;
        if (shared_) disk_->unlock(0, readMode_ ? LockKind::readerSlot : LockKind::writer);
    }
    return result;
}

void PageFile::beginWrite() {
    if (readMode_) endBracket();
    readMode_ = false;
}

void PageFile::endWrite() {
    if (enlisted_) return;
    endBracket();
    readMode_ = true;
}

int PageFile::lockUser(TraceLog* trace, uint32_t n) {
    // Each lock number nests on its own: with one count shared by all numbers, a second record
    // held in this process would never be locked on disk, and releasing the first would leave
    // the second unprotected against other processes.
    unsigned& count = userLocks_[n];
    if (count == 0) {
        int result = disk_->lock(trace, uint64_t{n} + 1, LockKind::writer, false);
        if (result != 0) {
            userLocks_.erase(n);
            return result;
        }
    }
    ++count;
    ++userLockCount_;
    return 0;
}

int PageFile::unlockUser(uint32_t n) {
    auto held = userLocks_.find(n);
    if (held == userLocks_.end()) {
        disk_->unlock(uint64_t{n} + 1, LockKind::writer);
        return 1;
    }
    --userLockCount_;
    if (--held->second > 0) return 0;
    disk_->unlock(uint64_t{n} + 1, LockKind::writer);
    userLocks_.erase(held);
    return 1;
}

void PageFile::releaseLocks(uint32_t n) {
    disk_->unlock(0, LockKind::writer);
    disk_->unlock(0, LockKind::readerSlot);
    disk_->unlock(0, LockKind::allReaderSlots);
    excludeReaders(false);
    unlockUser(n);
}

}  // namespace vellum
