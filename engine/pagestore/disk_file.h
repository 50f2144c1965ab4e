// DiskFile: the operating-system side of a PageFile. It reads and writes whole 64-byte blocks
// (enciphering them when the file has an owner), and takes the lock bytes that processes sharing
// the file coordinate with. The lock bytes lie at 2147483648 + d, beyond any data:
//
//   d = 0..1022   reader slot (one byte each)     d = 0, length 1023   all reader slots
//   d = 1023      writer byte                     d = 1025 + n         user lock n
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "os/file_system.h"
#include "pagestore/cipher.h"
#include "vellum/trace_log.h"

namespace vellum {

constexpr unsigned kReaderSlots = 1023;

// What lock(n = 0, kind) addresses.
enum class LockKind { writer = 0, readerSlot = 1, allReaderSlots = 2 };

class DiskFile {
public:
    DiskFile();  // reader slot from the clock, so processes tend to pick different slots
    ~DiskFile();
    DiskFile(const DiskFile&) = delete;
    DiskFile& operator=(const DiskFile&) = delete;

    // Opens name in a mode (see open_mode.h); a non-empty owner enciphers every transfer.
    // Returns 0 or an error code; the name is kept either way.
    int open(const std::string& name, int mode, std::string_view owner);
    // Closes and opens the kept name again in a new mode; the result is not reported.
    void reopen(int mode);
    void close();
    // Closes the file and deletes it by its name; 0 or the operating system's error.
    int deleteFile();
    // The file's length (low 32 bits), 0 when not open.
    uint32_t size() const;
    // Makes offset the end of the file; errors are ignored.
    void truncateAt(uint64_t offset);

    // Reads count bytes (a multiple of 64, else fatal 2272); returns the count read (0 without a
    // handle). A failed read is fatal 2277. Only a complete read is deciphered.
    size_t read(uint64_t offset, uint8_t* buffer, size_t count);
    // read, where anything but count bytes is fatal 2172.
    void readExact(uint64_t offset, uint8_t* buffer, size_t count);
    // Writes count bytes (a multiple of 64, else fatal 2286). Skipped without a handle or while
    // a write error is pending; a failed write stores its error, a short one stores 5. The
    // caller's buffer is left as it was.
    void write(uint64_t offset, uint8_t* buffer, size_t count);
    // Asks the system to write its buffers through; errors are ignored.
    void flush();

    // Locks the bytes chosen by n and kind: n > 0 is byte 1024 + n (kind must be writer, else
    // fatal 2328). Three attempts, or as many as it takes with wait; after a failed attempt the
    // trace gets "LockFile failed with error <code>", and a reader slot moves on to the next
    // byte. Returns 0 or the last error. Without a handle nothing is locked and 0 returned.
    int lock(TraceLog* trace, uint64_t n, LockKind kind, bool wait);
    // Unlocks them (n > 0 with another kind than writer is fatal 2352).
    void unlock(uint64_t n, LockKind kind);

    bool isOpen() const { return handle_.valid(); }
    const std::string& name() const { return name_; }
    unsigned readerSlot() const { return readerSlot_; }
    void setReaderSlot(unsigned slot) { readerSlot_ = slot % kReaderSlots; }
    int stickyWriteError() const { return stickyWriteError_; }
    void clearStickyWriteError() { stickyWriteError_ = 0; }

private:
    void lockRange(uint64_t n, LockKind kind, uint64_t* offset, uint64_t* length,
                   int fatalNumber) const;

    os::Handle handle_;
    std::string name_;
    unsigned readerSlot_;
    std::unique_ptr<CipherKey> cipherKey_;
    int stickyWriteError_ = 0;
};

}  // namespace vellum
