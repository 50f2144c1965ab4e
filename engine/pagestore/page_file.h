// PageFile: one open table file of this process. It keeps a copy of the header page, a cache of
// decoded pages (PageNode) hashed on page number, the access bracket that coordinates it with
// other processes through the lock bytes of its DiskFile, and the commit that writes changed
// pages back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pagestore/disk_file.h"
#include "pagestore/header_page.h"
#include "pagestore/page_node.h"
#include "vellum/entry.h"
#include "vellum/trace_log.h"

namespace vellum {

// Fatal number for a tree whose shape a sound file cannot have: a child page on the wrong
// level, no separator for a key, or a descent deeper than any level number allows.
constexpr int kDamagedTreeFatal = 1040;

class PageFile {
public:
    static constexpr unsigned kHashChains = 100;

    // A file that is never opened serves as a memory-only tree: it starts in write mode and
    // every commit of it discards its pages.
    PageFile();
    ~PageFile();
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    // Opens a file in a mode (open_mode.h) with an owner string (empty: not enciphered). Leaves
    // the file in read mode with a read bracket open. Returns 0, 36 for a file that is not a
    // table file (or is enciphered with another owner), 5 when access is refused, or the
    // operating system's error.
    int open(const std::string& name, int mode, std::string_view owner);
    // Reopens with the mode combined from the stored one and mode.
    void changeMode(int mode);
    // Ends the bracket with its commit, drops the cache and closes the file.
    void close();
    // Forgets uncommitted changes and deletes the file.
    int deleteFile();
    uint32_t size() const;
    // Cuts the file at the end of pages (not while enlisted in a transaction).
    void truncate();

    // Cache.
    PageNode* fetchPage(int32_t number);
    PageNode* rootPage();
    void markDirty(PageNode* node);
    void dropCache();
    int32_t nextTemporaryPage();

    // Access bracket and locks.
    int refreshHeader(bool wait);
    void excludeReaders(bool on);
    int endBracket();
    void beginWrite();
    void endWrite();
    int lockUser(TraceLog* trace, uint32_t n);
    int unlockUser(uint32_t n);
    void releaseLocks(uint32_t n);

    // Entry tree (see entry_tree.cpp). Entries returned by a search belong to the cache and
    // stay valid until the next operation on this file; cursors keep positions.
    Entry* findEntry(std::span<const uint8_t> key);
    // The first entry with a key greater than entry's; entry may be loose or in a cached page.
    Entry* findNextEntry(Entry* entry);
    Entry* findPreviousEntry(std::span<const uint8_t> key);
    // Takes over a loose entry (write mode only; an existing key is fatal 706).
    void insertEntry(Entry* entry) { insertAtLevel(entry, 0); }
    // Removes and frees an entry exactly as a search returned it; none does nothing.
    void removeEntry(Entry* entry);
    // Raises the record-number counter and returns it in stored (big-endian) order.
    std::array<uint8_t, 4> nextRecordNumber();
    void setRecordNumber(const uint8_t* bytes);
    // The page of a level (0: the leaf) where a key belongs.
    PageNode* descendTo(std::span<const uint8_t> key, unsigned level);
    bool needsSplit(const PageNode* node) const;
    void splitIfNeeded(PageNode* node);

    // A file enlisted in a transaction keeps its changes until the transaction ends.
    void setEnlisted(bool on) { enlisted_ = on; }

    // Commit (see commit.cpp).
    int commit();
    int commitStageOne();
    int commitStageTwo();
    void discard();
    // Abandons a pending log area on disk: the header at offset 0 settles in its old state.
    void resetLog();

    // State.
    bool isOpened() const { return opened_; }
    bool isShared() const { return shared_; }
    bool isDenyWrite() const { return denyWrite_; }
    bool inReadMode() const { return readMode_; }
    bool isDirty() const { return dirty_; }
    bool isBracketOpen() const { return bracketOpen_; }
    bool isEnlisted() const { return enlisted_; }
    bool readersExcluded() const { return readersExcluded_; }
    int mode() const { return mode_; }
    unsigned userLockCount() const { return userLockCount_; }
    HeaderPage& header() { return header_; }
    const HeaderPage& header() const { return header_; }
    DiskFile& diskFile() { return *disk_; }
    Entry* nil() { return nil_.get(); }
    unsigned cleanCount() const { return clean_.count; }
    unsigned dirtyCount() const { return dirtyList_.count; }
    // The cached node of a page, or none.
    PageNode* cachedPage(int32_t number) const;

private:
    struct NilDeleter {
        void operator()(Entry* entry) const { freeEntry(entry); }
    };

    // Entry tree.
    void insertAtLevel(Entry* entry, unsigned level);
    // Takes the entry (found again by key after reshapes) out of its leaf and renews or drops
    // the separators above it; *removed receives the entry once it is out of the tree.
    void removeAtLevel(PageNode* page, std::span<const uint8_t> key, unsigned level, Entry* entry,
                       uint64_t reshapes, Entry** removed);
    void takeOutOfPage(PageNode* page, Entry* entry);
    PageNode* childOf(const PageNode* index, const Entry* separator);
    Entry* nextInSubtree(PageNode* node, std::span<const uint8_t> key);
    PageNode* newPageNode(int32_t number, uint8_t level);
    Entry* separatorFor(PageNode* node);
    void recomputeEstimate(PageNode* node);
    void detachCursors(PageNode* node);

    // Allocation and commit.
    int32_t allocateSlot(unsigned k);
    bool makeRoomBelow(unsigned a, uint32_t b);
    void makeRoomAbove(unsigned d, uint32_t a);
    void freeSlot(int32_t page);
    void placePage(int32_t page, unsigned k);
    void packRanges();
    void movePage(int32_t from, int32_t to);
    std::vector<uint8_t> buildImage(PageNode* node);
    bool scanLogArea();
    void replayLog(uint32_t logStart, uint32_t logEnd);

    // Cache.
    void renumberNode(PageNode* node, int32_t number);
    void touch(PageNode* node);
    void trimCleanList();
    void destroyNode(PageNode* node);
    void readPageImage(PageNode* node);
    void resetDiskFile();
    void recoverPending();

    std::unique_ptr<DiskFile> disk_;
    std::unique_ptr<Entry, NilDeleter> nil_;
    HeaderPage header_;
    int mode_ = 0;
    bool enlisted_ = false;
    bool readersExcluded_ = false;
    bool shared_ = false;
    bool denyWrite_ = false;
    bool readMode_ = false;
    bool opened_ = false;
    bool dirty_ = false;
    bool bracketOpen_ = false;
    uint64_t oldEnd_ = 0;
    int32_t temporaryPageCounter_ = 0;
    std::array<PageNode*, kHashChains> pageTable_{};
    // (target offset, log-area offset) pairs of a pending commit being read through.
    std::vector<std::pair<uint32_t, uint32_t>> logAreaMap_;
    uint64_t useClock_ = 0;
    // Raised whenever a page node is made by a split or destroyed, so that an operation holding
    // pages across a descent can tell whether they are still what it saw.
    uint64_t reshapes_ = 0;
    // Slots of pages emptied by the removal under way, given back when it ends.
    std::vector<int32_t> pagesToFree_;
    PageList clean_;
    PageList dirtyList_;
    std::map<uint32_t, unsigned> userLocks_;  // user lock number -> nesting count
    unsigned userLockCount_ = 0;              // all user locks held, nested ones counted
};

}  // namespace vellum
