// The operating-system services the engine uses: files with the platform's sharing modes,
// byte-range locks that belong to one open file, error numbers, a clock and sleep. Everything
// goes through the FileSystem interface so that tests can install one that injects faults.
//
// Sharing modes are emulated with open-file-description locks on a reserved range starting at
// kSharingLockBase (2^33), above every lock offset the file format uses (user locks reach
// 2^31 + 1025 + 2^32). Each open handle keeps shared locks there that describe its access and
// what it denies; an open that conflicts with any handle already open, in this process or
// another, fails with 5 (access denied) as a sharing violation does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellum::os {

enum class Access { read, write, readWrite };
enum class Sharing { denyNone, denyRead, denyWrite, denyAll };
enum class Disposition {
    openExisting,  // fail with 2 when the file does not exist
    openAlways,    // create the file when it does not exist
    createAlways,  // always start from a new, empty file
};

struct OpenRequest {
    Access access = Access::readWrite;
    Sharing sharing = Sharing::denyNone;
    Disposition disposition = Disposition::openExisting;
};

// An open file. Locks taken through it belong to it alone: two handles of one process
// conflict exactly as two processes do.
struct Handle {
    int fd = -1;
    bool readable = false;
    bool writable = false;
    bool exclusiveLocks = true;  // false when the descriptor could only be opened for reading
    bool valid() const { return fd >= 0; }
};

constexpr uint64_t kSharingLockBase = uint64_t{1} << 33;

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Each returns 0 or the platform's error code (see errorFromErrno).
    virtual int open(const std::string& path, const OpenRequest& request, Handle* handle) = 0;
    virtual void close(Handle* handle) = 0;
    // Reads or writes up to count bytes at offset; *done receives the count transferred. A read
    // that meets the end of the file is not an error.
    virtual int read(const Handle& handle, uint64_t offset, void* buffer, size_t count,
                     size_t* done) = 0;
    virtual int write(const Handle& handle, uint64_t offset, const void* buffer, size_t count,
                      size_t* done) = 0;
    virtual int flush(const Handle& handle) = 0;
    virtual int truncate(const Handle& handle, uint64_t length) = 0;
    virtual int size(const Handle& handle, uint64_t* length) = 0;
    // Exclusive byte-range lock without waiting; a lock held through another handle gives 33.
    virtual int lock(const Handle& handle, uint64_t offset, uint64_t length) = 0;
    virtual int unlock(const Handle& handle, uint64_t offset, uint64_t length) = 0;
    virtual int remove(const std::string& path) = 0;
};

// The file system in use: the POSIX one unless a test installed another.
FileSystem& fileSystem();
// Installs a file system (nullptr puts the POSIX one back).
void setFileSystem(FileSystem* fileSystem);
// The POSIX implementation, for wrappers that forward to it.
FileSystem& posixFileSystem();

// Maps an errno value to the platform's error code: ENOENT 2, ENOTDIR 3, EMFILE and ENFILE 4,
// EACCES, EPERM and EROFS 5, ENOMEM 8, ENAMETOOLONG and EINVAL 45; anything else is 90, with the
// errno kept by lastSystemError for the extended error code.
int errorFromErrno(int error);
// The errno value behind the last error code 90 given out on this thread.
int lastSystemError();

// Hundredths of a second elapsed since the program started, from a monotonic clock.
uint32_t clockHundredths();
void sleepMilliseconds(unsigned milliseconds);

}  // namespace vellum::os
