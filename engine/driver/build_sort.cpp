// The key-build sorter: the run stream with its move from memory to a temporary file, the run
// readers of the merge, and the sorter that writes runs and merges them.
#include "driver/build_sort.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

#include "vellum/byte_order.h"
#include "vellum/error_codes.h"

namespace vellum {

namespace {

constexpr size_t kRunLengthSize = 4;

// Makes temporary file names unique within the process; the process id separates processes.
std::atomic<unsigned long> temporaryFileCounter{0};

// The system's temporary directory: TMPDIR when it is set, else /tmp, without a trailing slash.
std::string temporaryDirectory() {
    const char* configured = std::getenv("TMPDIR");
    std::string directory = configured != nullptr && *configured != '\0' ? configured : "/tmp";
    while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
    return directory;
}

std::string temporaryFileName() {
    std::string directory = temporaryDirectory();
    if (directory != "/") directory += '/';
    return directory + "TMP" + std::to_string(static_cast<long>(getpid())) + "_" +
           std::to_string(temporaryFileCounter.fetch_add(1) + 1);
}

}  // namespace

// ---- RunStream ----

RunStream::RunStream() : buffer_(std::make_unique<uint8_t[]>(kRunStreamBufferSize)) {}

RunStream::~RunStream() { close(); }

int RunStream::fail(int osError, const char* message) {
    if (failure_.code == 0) {
        failure_.code = kFileSystemError;
        failure_.osError = osError;
        failure_.systemError = osError == kFileSystemError ? os::lastSystemError() : 0;
        failure_.message = message;
    }
    // A failed stream is of no further use: the file goes at once.
    discardFile();
    return failure_.code;
}

int RunStream::checkUsable() {
    if (failure_.code != 0) return failure_.code;
    if (closed_) return fail(0, kSortMisuse);
    return 0;
}

void RunStream::discardFile() {
    if (!file_.valid()) return;
    os::fileSystem().close(&file_);
    os::fileSystem().remove(fileName_);
    file_ = os::Handle{};
}

int RunStream::writeOut(uint64_t offset, const uint8_t* data, size_t count) {
    size_t done = 0;
    int result = os::fileSystem().write(file_, offset, data, count, &done);
    if (result != 0) return fail(result, kSortFileNotWritten);
    // A short write is a failure too: the bytes missing would be missing from the sort.
    if (done != count) return fail(0, kSortFileNotWritten);
    return 0;
}

int RunStream::flushBuffer() {
    if (bufferFill_ == 0) return 0;
    int result = writeOut(bufferStart_, buffer_.get(), bufferFill_);
    bufferFill_ = 0;
    return result;
}

int RunStream::moveToFile() {
    std::string name = temporaryFileName();
    os::OpenRequest request;
    request.access = os::Access::readWrite;
    request.sharing = os::Sharing::denyAll;
    request.disposition = os::Disposition::createAlways;
    int result = os::fileSystem().open(name, request, &file_);
    if (result != 0) {
        file_ = os::Handle{};
        return fail(result, kSortFileNotCreated);
    }
    fileName_ = std::move(name);
    // The bytes held in memory go to the start of the file; the memory buffer then serves as
    // the write buffer.
    if (size_ > 0) {
        result = writeOut(0, buffer_.get(), static_cast<size_t>(size_));
        if (result != 0) return result;
    }
    bufferFill_ = 0;
    bufferStart_ = position_;
    return 0;
}

int RunStream::writeToFile(const uint8_t* data, size_t count) {
    if (count > kRunStreamBufferSize) {
        int result = flushBuffer();
        if (result != 0) return result;
        result = writeOut(position_, data, count);
        if (result != 0) return result;
        position_ += count;
        size_ = std::max(size_, position_);
        return 0;
    }
    // The buffer holds one contiguous stretch: a write elsewhere writes it out first.
    if (bufferFill_ > 0 && bufferStart_ + bufferFill_ != position_) {
        int result = flushBuffer();
        if (result != 0) return result;
    }
    if (bufferFill_ == 0) bufferStart_ = position_;
    while (count > 0) {
        size_t take = std::min(count, kRunStreamBufferSize - bufferFill_);
        std::memcpy(buffer_.get() + bufferFill_, data, take);
        bufferFill_ += take;
        data += take;
        count -= take;
        position_ += take;
        size_ = std::max(size_, position_);
        if (bufferFill_ == kRunStreamBufferSize) {
            int result = flushBuffer();
            if (result != 0) return result;
            bufferStart_ = position_;
        }
    }
    return 0;
}

int RunStream::write(const void* data, size_t count) {
    if (int result = checkUsable(); result != 0) return result;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (!file_.valid()) {
        // The highest end written never lies beyond the buffer, so a write that ends within the
        // buffer is one that ends within the highest end or within 16384 bytes.
        if (position_ + count <= kRunStreamBufferSize) {
            if (count > 0) std::memcpy(buffer_.get() + position_, bytes, count);
            position_ += count;
            size_ = std::max(size_, position_);
            return 0;
        }
        if (int result = moveToFile(); result != 0) return result;
    }
    return writeToFile(bytes, count);
}

int RunStream::read(void* data, size_t count) {
    if (int result = checkUsable(); result != 0) return result;
    if (position_ > size_ || count > size_ - position_) return fail(0, kSortFileNotRead);
    if (!file_.valid()) {
        if (count > 0) std::memcpy(data, buffer_.get() + position_, count);
        position_ += count;
        return 0;
    }
    if (int result = flushBuffer(); result != 0) return result;
    size_t done = 0;
    int result = os::fileSystem().read(file_, position_, data, count, &done);
    if (result != 0) return fail(result, kSortFileNotRead);
    if (done != count) return fail(0, kSortFileNotRead);
    position_ += count;
    return 0;
}

int RunStream::seek(uint64_t position) {
    if (int result = checkUsable(); result != 0) return result;
    if (file_.valid()) {
        if (int result = flushBuffer(); result != 0) return result;
    }
    position_ = position;
    return 0;
}

int RunStream::close() {
    int result = failure_.code;
    discardFile();
    buffer_.reset();
    bufferFill_ = 0;
    closed_ = true;
    return result;
}

// ---- Sorter ----

namespace {

// Limits within what the heaps can hold: at least one item per run and one run.
SortLimits clampedLimits(SortLimits limits) {
    limits.maxItems = std::clamp<size_t>(limits.maxItems, 1, kMaxHeapEntries);
    limits.runBytes = std::max<size_t>(1, limits.runBytes);
    return limits;
}

}  // namespace

Sorter::ItemPool::ItemPool(size_t itemLength)
    : itemLength_(itemLength), itemsPerChunk_(std::max<size_t>(1, 65536 / itemLength)) {}

uint8_t* Sorter::ItemPool::allocate() {
    if (used_ == itemsPerChunk_) {
        ++chunk_;
        used_ = 0;
    }
    if (chunk_ == chunks_.size()) {
        chunks_.push_back(std::make_unique_for_overwrite<uint8_t[]>(itemsPerChunk_ * itemLength_));
    }
    return chunks_[chunk_].get() + itemLength_ * used_++;
}

void Sorter::ItemPool::reset() {
    chunk_ = 0;
    used_ = 0;
}

void Sorter::ItemPool::release() {
    chunks_.clear();
    chunks_.shrink_to_fit();
    reset();
}

Sorter::Sorter(size_t itemLength, SortLimits limits)
    : itemLength_(std::max<size_t>(1, itemLength)),
      limits_(clampedLimits(limits)),
      pool_(itemLength_),
      items_(ItemLess{itemLength_}, limits_.maxItems),
      readers_(ReaderLess{itemLength_}, limits_.maxItems) {}

Sorter::~Sorter() = default;

std::string Sorter::workFileName() const { return stream_ ? stream_->fileName() : std::string(); }

void Sorter::releaseAll() {
    items_.clear();
    readers_.clear();
    pool_.release();
    output_.reset();
    // Closing the stream deletes the temporary file.
    if (stream_) stream_->close();
}

int Sorter::fail(int code, int osError, const char* message) {
    if (failure_.code == 0) {
        failure_.code = code;
        failure_.osError = osError;
        failure_.systemError = 0;
        failure_.message = message;
    }
    releaseAll();
    return failure_.code;
}

int Sorter::failFromStream() {
    if (failure_.code == 0) failure_ = stream_->failure();
    releaseAll();
    return failure_.code;
}

int Sorter::insert(const uint8_t* item) {
    if (failure_.code != 0) return failure_.code;
    if (phase_ != Phase::adding) return fail(kFileSystemError, 0, kSortMisuse);
    if (items_.full() || runTotal_ >= limits_.runBytes) {
        if (int result = spill(); result != 0) return result;
    }
    try {
        uint8_t* slot = pool_.allocate();
        std::memcpy(slot, item, itemLength_);
        items_.push(slot);
    } catch (const std::bad_alloc&) {
        return fail(kInsufficientMemory, 0, kSortOutOfMemory);
    }
    runTotal_ += itemLength_;
    return 0;
}

// Writes the heap out as one run, smallest item first.
int Sorter::spill() {
    if (items_.empty()) return 0;
    if (runs_ == limits_.maxItems) return fail(kFileSystemError, 0, kSortTooManyRuns);
    uint64_t runBytes = static_cast<uint64_t>(items_.count()) * itemLength_;
    if (runBytes > UINT32_MAX) return fail(kFileSystemError, 0, kSortRunTooLong);
    if (!stream_) {
        try {
            stream_ = std::make_unique<RunStream>();
        } catch (const std::bad_alloc&) {
            return fail(kInsufficientMemory, 0, kSortOutOfMemory);
        }
    }
    uint8_t length[kRunLengthSize];
    store32le(length, static_cast<uint32_t>(runBytes));
    if (stream_->write(length, sizeof length) != 0) return failFromStream();
    while (!items_.empty()) {
        if (stream_->write(items_.pop(), itemLength_) != 0) return failFromStream();
    }
    pool_.reset();
    runTotal_ = 0;
    ++runs_;
    return 0;
}

int Sorter::finish() {
    if (failure_.code != 0) return failure_.code;
    if (phase_ != Phase::adding) return fail(kFileSystemError, 0, kSortMisuse);
    phase_ = Phase::output;
    // Everything fitted in memory: next() takes the items straight out of the heap.
    if (!stream_) return 0;
    if (int result = spill(); result != 0) return result;
    return prepareMerge();
}

// Reads the next item of a run into destination, through the reader's buffer for items shorter
// than the buffer and straight from the stream for longer ones.
int Sorter::readItem(RunReader& reader, uint8_t* destination) {
    size_t wanted = itemLength_;
    if (reader.end - reader.position < wanted) return fail(kFileSystemError, 0, kSortFileDamaged);
    while (wanted > 0) {
        if (reader.bufferPosition == reader.bufferFill) {
            if (stream_->seek(reader.position) != 0) return failFromStream();
            if (wanted >= kRunReaderBufferSize) {
                if (stream_->read(destination, wanted) != 0) return failFromStream();
                reader.position += wanted;
                return 0;
            }
            // Only the run's own bytes are read: the last buffer of the last run would run past
            // the end of the stream otherwise.
            size_t fill = static_cast<size_t>(
                std::min<uint64_t>(kRunReaderBufferSize, reader.end - reader.position));
            if (stream_->read(reader.buffer, fill) != 0) return failFromStream();
            reader.bufferPosition = 0;
            reader.bufferFill = fill;
        } else {
            size_t take = std::min(wanted, reader.bufferFill - reader.bufferPosition);
            std::memcpy(destination, reader.buffer + reader.bufferPosition, take);
            reader.bufferPosition += take;
            reader.position += take;
            destination += take;
            wanted -= take;
        }
    }
    return 0;
}

// Makes one reader per run, each holding the run's first item, in a heap ordered by those items.
int Sorter::prepareMerge() {
    items_.clear();
    pool_.release();
    try {
        output_ = std::make_unique_for_overwrite<uint8_t[]>(itemLength_);
        uint64_t offset = 0;
        for (size_t run = 0; run < runs_; ++run) {
            uint8_t length[kRunLengthSize];
            if (stream_->seek(offset) != 0 || stream_->read(length, sizeof length) != 0) {
                return failFromStream();
            }
            uint64_t bytes = load32le(length);
            uint64_t start = offset + kRunLengthSize;
            if (bytes == 0 || bytes % itemLength_ != 0 || bytes > stream_->size() - start) {
                return fail(kFileSystemError, 0, kSortFileDamaged);
            }
            auto reader = std::make_unique<RunReader>();
            reader->start = start;
            reader->end = start + bytes;
            reader->position = start;
            reader->current = std::make_unique_for_overwrite<uint8_t[]>(itemLength_);
            if (int result = readItem(*reader, reader->current.get()); result != 0) return result;
            readers_.push(std::move(reader));
            offset = start + bytes;
        }
        if (offset != stream_->size()) return fail(kFileSystemError, 0, kSortFileDamaged);
    } catch (const std::bad_alloc&) {
        return fail(kInsufficientMemory, 0, kSortOutOfMemory);
    }
    return 0;
}

// Takes the reader with the smallest current item; the item goes out through output_ and the
// reader, when its run has more, goes back into the heap with its next item.
int Sorter::nextFromRuns(const uint8_t** item) {
    if (readers_.empty()) return 0;
    std::unique_ptr<RunReader> reader = readers_.pop();
    std::swap(reader->current, output_);
    if (!reader->atEnd()) {
        if (int result = readItem(*reader, reader->current.get()); result != 0) return result;
        // The heap just gave up this slot, so the push needs no memory.
        readers_.push(std::move(reader));
    }
    *item = output_.get();
    return 0;
}

int Sorter::next(const uint8_t** item) {
    *item = nullptr;
    if (failure_.code != 0) return failure_.code;
    if (phase_ != Phase::output) return fail(kFileSystemError, 0, kSortMisuse);
    if (!stream_) {
        if (!items_.empty()) *item = items_.pop();
        return 0;
    }
    return nextFromRuns(item);
}

}  // namespace vellum
