// The key-build sorter: an external merge sort of fixed-length items. Items collect in a binary
// min-heap; once a run of about a megabyte has been added, the heap is written out smallest first
// as one sorted run of the run stream. At the end the runs are merged through a heap of run
// readers. A sort that never fills a run stays in memory and touches no file.
//
// An item is L bytes compared as unsigned bytes over its whole length: the key value encoded so
// that byte order is key order, then the 4-byte big-endian record number, so equal keys come out
// in record-number order.
//
// Run stream layout: the runs one after the other, each
//   offset 0   4 bytes   n, the number of item bytes that follow, little-endian
//   offset 4   n bytes   the run's items in ascending order, L bytes each
// The stream lives in a 16384-byte memory buffer until a write would end beyond it; then it moves
// to a temporary file "TMP<pid>_<counter>" in the directory named by TMPDIR (else /tmp), which
// is deleted when the stream is closed.
//
// Failures of the temporary file (it cannot be created, a write fails or falls short, a read
// fails or falls short) make the sort fail with 90 and a message for the extended error; a sort
// either hands out every item inserted exactly once or fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "os/file_system.h"

namespace vellum {

// The most entries a sort heap holds, and so the most items per run and the most runs.
constexpr size_t kMaxHeapEntries = 0x3FFFFFE6;  // 1073741798
// A run is written once the items added since the last one reach this many bytes.
constexpr size_t kRunBytes = 1000000;
// The run stream's memory buffer and the temporary file's write buffer.
constexpr size_t kRunStreamBufferSize = 16384;
// A run reader's read buffer.
constexpr size_t kRunReaderBufferSize = 500;

// Extended messages of a failed sort.
inline constexpr const char* kSortFileNotCreated = "Sort work file could not be created";
inline constexpr const char* kSortFileNotWritten = "Sort work file could not be written";
inline constexpr const char* kSortFileNotRead = "Sort work file could not be read";
inline constexpr const char* kSortFileDamaged = "Sort work file holds a damaged run";
inline constexpr const char* kSortTooManyRuns = "Sort needs too many runs";
inline constexpr const char* kSortRunTooLong = "Sort run too long";
inline constexpr const char* kSortMisuse = "Sort called out of order";
inline constexpr const char* kSortOutOfMemory = "Sort ran out of memory";

// Why a sort or a run stream failed: the error code the caller returns (90, or 8 for memory),
// the platform code the file system gave (0 when there was none, as for a short transfer), the
// system's error number behind a platform code 90, and the message for the extended error.
struct SortFailure {
    int code = 0;
    int osError = 0;
    int systemError = 0;
    std::string message;
};

// A binary min-heap in an array. The capacity starts at 0 and grows to twice the old capacity
// plus 1 (1, 3, 7, 15, ...) when an insertion finds the array full, up to maxCapacity.
template <typename T, typename Less>
class SortHeap {
public:
    explicit SortHeap(Less less, size_t maxCapacity = kMaxHeapEntries)
        : less_(std::move(less)), maxCapacity_(maxCapacity) {}
    SortHeap(const SortHeap&) = delete;
    SortHeap& operator=(const SortHeap&) = delete;

    size_t count() const { return count_; }
    size_t capacity() const { return capacity_; }
    bool empty() const { return count_ == 0; }
    bool full() const { return count_ == maxCapacity_; }

    // Inserts a value; false when the heap holds maxCapacity entries. Growing the array may
    // throw std::bad_alloc, leaving the heap as it was.
    bool push(T value) {
        if (count_ == capacity_) {
            if (capacity_ == maxCapacity_) return false;
            size_t grown = capacity_ > (maxCapacity_ - 1) / 2 ? maxCapacity_ : 2 * capacity_ + 1;
            std::unique_ptr<T[]> larger(new T[grown]);
            for (size_t i = 0; i < count_; ++i) larger[i] = std::move(slots_[i]);
            slots_ = std::move(larger);
            capacity_ = grown;
        }
        // Sift up: parents larger than the new value move down into the free slot.
        size_t i = count_;
        while (i > 0) {
            size_t parent = (i - 1) / 2;
            if (!less_(value, slots_[parent])) break;
            slots_[i] = std::move(slots_[parent]);
            i = parent;
        }
        slots_[i] = std::move(value);
        ++count_;
        return true;
    }

    // Takes the smallest value out; the heap must not be empty.
    T pop() {
        T result = std::move(slots_[0]);
        --count_;
        if (count_ == 0) return result;
        // Sift the last value down from the root: smaller children move up.
        T sifted = std::move(slots_[count_]);
        size_t i = 0;
        for (;;) {
            size_t child = 2 * i + 1;
            if (child >= count_) break;
            if (child + 1 < count_ && less_(slots_[child + 1], slots_[child])) ++child;
            if (!less_(slots_[child], sifted)) break;
            slots_[i] = std::move(slots_[child]);
            i = child;
        }
        slots_[i] = std::move(sifted);
        return result;
    }

    // Forgets the entries and gives the array back.
    void clear() {
        slots_.reset();
        count_ = 0;
        capacity_ = 0;
    }

private:
    Less less_;
    size_t maxCapacity_;
    size_t count_ = 0;
    size_t capacity_ = 0;
    std::unique_ptr<T[]> slots_;
};

// The byte stream that holds the runs: a position, writes and reads at the position, in memory
// while it ends within 16384 bytes, then in a temporary file. The first failure sticks: every
// later operation returns 90 and does nothing.
class RunStream {
public:
    RunStream();
    // Closes the stream, deleting the temporary file.
    ~RunStream();
    RunStream(const RunStream&) = delete;
    RunStream& operator=(const RunStream&) = delete;

    // Each returns 0 or the failure's code (90).
    int write(const void* data, size_t count);
    int read(void* data, size_t count);
    int seek(uint64_t position);
    // Closes the temporary file and deletes it (the buffer is not written out first: nobody can
    // read it any more) and frees the buffer. Returns 0, or the failure's code when the stream
    // had failed before; afterwards every operation fails.
    int close();

    uint64_t position() const { return position_; }
    // The highest end written so far.
    uint64_t size() const { return size_; }
    bool onFile() const { return file_.valid(); }
    // The temporary file's path, kept after the file is deleted; empty while the stream has
    // stayed in memory.
    const std::string& fileName() const { return fileName_; }
    bool failed() const { return failure_.code != 0; }
    const SortFailure& failure() const { return failure_; }

private:
    int fail(int osError, const char* message);
    int checkUsable();
    int moveToFile();
    int writeToFile(const uint8_t* data, size_t count);
    int writeOut(uint64_t offset, const uint8_t* data, size_t count);
    int flushBuffer();
    void discardFile();

    uint64_t position_ = 0;
    uint64_t size_ = 0;
    // In memory: the buffer. On a file: the write buffer, holding bufferFill_ bytes that belong
    // at bufferStart_.
    std::unique_ptr<uint8_t[]> buffer_;
    uint64_t bufferStart_ = 0;
    size_t bufferFill_ = 0;
    os::Handle file_;
    std::string fileName_;
    bool closed_ = false;
    SortFailure failure_;
};

// One run during the merge: its item bytes in the stream, the position of the next unread byte,
// a 500-byte read buffer and the current item.
struct RunReader {
    uint64_t start = 0;
    uint64_t end = 0;
    uint64_t position = 0;
    uint8_t buffer[kRunReaderBufferSize];
    size_t bufferPosition = 0;
    size_t bufferFill = 0;  // bytes of the buffer holding data; empty when bufferPosition == it
    std::unique_ptr<uint8_t[]> current;
    bool atEnd() const { return position >= end; }
};

// Limits of a sort; the defaults are the engine's, tests lower them to reach the edges.
struct SortLimits {
    size_t runBytes = kRunBytes;
    size_t maxItems = kMaxHeapEntries;  // items per run, and the most runs
};

// The sorter a key build feeds. Use: construct, insert every item, finish, next until no item,
// destroy. The destructor frees everything and deletes the temporary file, also when the sort
// stopped early or failed.
class Sorter {
public:
    // A sorter for items of itemLength bytes (at least 1).
    explicit Sorter(size_t itemLength, SortLimits limits = {});
    ~Sorter();
    Sorter(const Sorter&) = delete;
    Sorter& operator=(const Sorter&) = delete;

    size_t itemLength() const { return itemLength_; }

    // Adds one item: the sorter copies its itemLength bytes, the caller keeps its buffer. Writes
    // a run first when the items added since the last run reach the run size. Returns 0, or 90
    // (8 when memory runs out) when the sort has failed; see failure().
    int insert(const uint8_t* item);

    // No more items: writes the last run and prepares the merge of the runs, if there are any.
    // Returns 0 or the failure's code.
    int finish();

    // The smallest remaining item in *item, or nullptr when all have been handed out. The bytes
    // belong to the sorter and stay valid until the next call of next() or the sorter's end.
    // Returns 0 or the failure's code (then *item is nullptr).
    int next(const uint8_t** item);

    bool failed() const { return failure_.code != 0; }
    // Why the sort failed (code 0 when it did not).
    const SortFailure& failure() const { return failure_; }

    // For tests and diagnostics.
    size_t runCount() const { return runs_; }
    size_t heapCapacity() const { return items_.capacity(); }
    // The temporary file's path, kept after the file is deleted; empty while no run has left
    // memory.
    std::string workFileName() const;

private:
    struct ItemLess {
        size_t length;
        bool operator()(const uint8_t* a, const uint8_t* b) const {
            return std::memcmp(a, b, length) < 0;
        }
    };
    struct ReaderLess {
        size_t length;
        bool operator()(const std::unique_ptr<RunReader>& a,
                        const std::unique_ptr<RunReader>& b) const {
            return std::memcmp(a->current.get(), b->current.get(), length) < 0;
        }
    };

    // The items of the current run: whole chunks of item slots, reused after each run.
    class ItemPool {
    public:
        explicit ItemPool(size_t itemLength);
        uint8_t* allocate();
        // Every slot is free again; the chunks stay for the next run.
        void reset();
        // Gives the chunks back.
        void release();

    private:
        size_t itemLength_;
        size_t itemsPerChunk_;
        std::vector<std::unique_ptr<uint8_t[]>> chunks_;
        size_t chunk_ = 0;
        size_t used_ = 0;
    };

    enum class Phase { adding, output };

    int fail(int code, int osError, const char* message);
    int failFromStream();
    int spill();
    int prepareMerge();
    int readItem(RunReader& reader, uint8_t* destination);
    int nextFromRuns(const uint8_t** item);
    void releaseAll();

    size_t itemLength_;
    SortLimits limits_;
    Phase phase_ = Phase::adding;
    ItemPool pool_;
    SortHeap<const uint8_t*, ItemLess> items_;
    size_t runTotal_ = 0;
    size_t runs_ = 0;
    std::unique_ptr<RunStream> stream_;
    SortHeap<std::unique_ptr<RunReader>, ReaderLess> readers_;
    std::unique_ptr<uint8_t[]> output_;
    SortFailure failure_;
};

}  // namespace vellum
