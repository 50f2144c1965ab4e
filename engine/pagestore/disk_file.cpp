// DiskFile: whole-block reads and writes, the cipher on the way, and the lock bytes.
#include "pagestore/disk_file.h"

#include "pagestore/open_mode.h"
#include "vellum/error_codes.h"
#include "vellum/fatal.h"

namespace vellum {

namespace {
constexpr uint64_t kLockBase = uint64_t{1} << 31;
constexpr unsigned kWriterByte = 1023;
}  // namespace

DiskFile::DiskFile() : readerSlot_(os::clockHundredths() % kReaderSlots) {}

DiskFile::~DiskFile() { close(); }

int DiskFile::open(const std::string& name, int mode, std::string_view owner) {
    if (handle_.valid()) os::fileSystem().close(&handle_);
    name_ = name;
    cipherKey_.reset();
    int result = os::fileSystem().open(name, openRequestFor(mode), &handle_);
    if (result != 0) return result;
    if (!owner.empty()) cipherKey_ = std::make_unique<CipherKey>(makeCipherKey(owner));
    return 0;
}

void DiskFile::reopen(int mode) {
    if (handle_.valid()) os::fileSystem().close(&handle_);
    os::fileSystem().open(name_, openRequestFor(mode), &handle_);
}

void DiskFile::close() {
    if (handle_.valid()) os::fileSystem().close(&handle_);
    handle_ = os::Handle{};
    cipherKey_.reset();
    name_.clear();
}

int DiskFile::deleteFile() {
    if (handle_.valid()) os::fileSystem().close(&handle_);
    handle_ = os::Handle{};
    return os::fileSystem().remove(name_);
}

uint32_t DiskFile::size() const {
    if (!handle_.valid()) return 0;
    uint64_t length = 0;
    if (os::fileSystem().size(handle_, &length) != 0) return 0;
    return static_cast<uint32_t>(length);
}

void DiskFile::truncateAt(uint64_t offset) {
    if (handle_.valid()) os::fileSystem().truncate(handle_, offset);
}

size_t DiskFile::read(uint64_t offset, uint8_t* buffer, size_t count) {
    if (count % 64 != 0) fatal(2272);
    if (!handle_.valid()) return 0;
    size_t done = 0;
    if (os::fileSystem().read(handle_, offset, buffer, count, &done) != 0) fatal(2277);
    if (done == count && cipherKey_) decipherBuffer(buffer, count, *cipherKey_);
    return done;
}

void DiskFile::readExact(uint64_t offset, uint8_t* buffer, size_t count) {
    if (read(offset, buffer, count) != count) fatal(2172);
}

void DiskFile::write(uint64_t offset, uint8_t* buffer, size_t count) {
    if (count % 64 != 0) fatal(2286);
    if (!handle_.valid() || stickyWriteError_ != 0) return;
    if (cipherKey_) encipherBuffer(buffer, count, *cipherKey_);
    size_t done = 0;
    int result = os::fileSystem().write(handle_, offset, buffer, count, &done);
    if (cipherKey_) decipherBuffer(buffer, count, *cipherKey_);
    if (result != 0) {
        stickyWriteError_ = result;
    } else if (done != count) {
        stickyWriteError_ = kAccessDenied;
    }
}

void DiskFile::flush() {
    if (handle_.valid()) os::fileSystem().flush(handle_);
}

void DiskFile::lockRange(uint64_t n, LockKind kind, uint64_t* offset, uint64_t* length,
                         int fatalNumber) const {
    *length = 1;
    if (n > 0) {
        if (kind != LockKind::writer) fatal(fatalNumber);
        *offset = kLockBase + 1024 + n;
        return;
    }
    switch (kind) {
        case LockKind::writer: *offset = kLockBase + kWriterByte; break;
        case LockKind::readerSlot: *offset = kLockBase + readerSlot_; break;
        case LockKind::allReaderSlots:
            *offset = kLockBase;
            *length = kReaderSlots;
            break;
    }
}

int DiskFile::lock(TraceLog* trace, uint64_t n, LockKind kind, bool wait) {
    uint64_t offset = 0;
    uint64_t length = 0;
    lockRange(n, kind, &offset, &length, 2328);
    if (!handle_.valid()) return 0;
    int error = 0;
    for (int attempt = 0; wait || attempt < 3; ++attempt) {
        if (n == 0 && kind == LockKind::readerSlot) offset = kLockBase + readerSlot_;
        error = os::fileSystem().lock(handle_, offset, length);
        if (error == 0) return 0;
        if (trace != nullptr && trace->isOn()) {
            trace->writeLine("LockFile failed with error " + std::to_string(error));
        }
        os::sleepMilliseconds(1);
        if (kind == LockKind::readerSlot) readerSlot_ = (readerSlot_ + 1) % kReaderSlots;
    }
    return error;
}

void DiskFile::unlock(uint64_t n, LockKind kind) {
    uint64_t offset = 0;
    uint64_t length = 0;
    lockRange(n, kind, &offset, &length, 2352);
    if (handle_.valid()) os::fileSystem().unlock(handle_, offset, length);
}

}  // namespace vellum
