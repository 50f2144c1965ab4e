// The POSIX file system: files through open/pread/pwrite, byte-range locks and sharing modes
// through open-file-description locks, and the switch that lets tests install another one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <limits>

#include "os/file_system.h"

namespace vellum::os {

namespace {

constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());

// Platform codes given out directly rather than through errorFromErrno.
constexpr int kPathNotFound = 3;
constexpr int kAccessDenied = 5;
constexpr int kLockViolation = 33;

// Bytes of the sharing range, relative to kSharingLockBase. Each open handle keeps a shared lock
// on the bytes that describe it; the last byte serialises opens while they check and lock.
enum SharingByte : uint64_t {
    hasReadAccess = 0,
    hasWriteAccess = 1,
    deniesRead = 2,
    deniesWrite = 3,
    openMutex = 4,
};

// How long an open waits for another open of the same file to finish its sharing check.
constexpr auto kOpenMutexTimeout = std::chrono::seconds(10);

std::string nativePath(const std::string& path) {
    std::string native = path;
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    return native;
}

// ENOENT covers both a missing file and a missing directory on the way to it; the platform
// tells them apart, so look at the directory the name lives in.
int missingFileError(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return errorFromErrno(ENOENT);
    std::string directory = slash == 0 ? std::string("/") : path.substr(0, slash);
    struct stat info;
    if (stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return kPathNotFound;
    return errorFromErrno(ENOENT);
}

struct flock lockRange(short type, uint64_t offset, uint64_t length) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = static_cast<off_t>(offset);
    range.l_len = static_cast<off_t>(length);
    range.l_pid = 0;  // required by the open-file-description commands
    return range;
}

// Sets, changes or removes a lock without waiting; returns 0 or the errno.
int setLock(int fd, short type, uint64_t offset, uint64_t length) {
    struct flock range = lockRange(type, offset, length);
    while (fcntl(fd, F_OFD_SETLK, &range) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

int setSharingLock(int fd, short type, SharingByte byte) {
    return setLock(fd, type, kSharingLockBase + byte, 1);
}

// Whether another open file holds any lock on the byte; *error receives an errno on failure.
bool heldElsewhere(int fd, SharingByte byte, int* error) {
    struct flock range = lockRange(F_WRLCK, kSharingLockBase + byte, 1);
    if (fcntl(fd, F_OFD_GETLK, &range) != 0) {
        *error = errno;
        return false;
    }
    return range.l_type != F_UNLCK;
}

struct SharingBytes {
    SharingByte bytes[4];
    int count = 0;
    void add(SharingByte byte) { bytes[count++] = byte; }
};

bool wantsRead(Access access) {
    return access != Access::write;
}
bool wantsWrite(Access access) {
    return access != Access::read;
}
bool deniesReaders(Sharing sharing) {
    return sharing == Sharing::denyRead || sharing == Sharing::denyAll;
}
bool deniesWriters(Sharing sharing) {
    return sharing == Sharing::denyWrite || sharing == Sharing::denyAll;
}

// The bytes this handle keeps locked while it is open.
SharingBytes describingBytes(const OpenRequest& request) {
    SharingBytes result;
    if (wantsRead(request.access)) result.add(hasReadAccess);
    if (wantsWrite(request.access)) result.add(hasWriteAccess);
    if (deniesReaders(request.sharing)) result.add(deniesRead);
    if (deniesWriters(request.sharing)) result.add(deniesWrite);
    return result;
}

// The bytes whose lock by another handle rules this request out.
SharingBytes conflictingBytes(const OpenRequest& request) {
    SharingBytes result;
    if (wantsRead(request.access)) result.add(deniesRead);
    if (wantsWrite(request.access)) result.add(deniesWrite);
    if (deniesReaders(request.sharing)) result.add(hasReadAccess);
    if (deniesWriters(request.sharing)) result.add(hasWriteAccess);
    return result;
}

// 0 when no other open file conflicts, 5 when one does, or another error code.
int checkSharing(int fd, const OpenRequest& request) {
    SharingBytes conflicts = conflictingBytes(request);
    for (int i = 0; i < conflicts.count; ++i) {
        int error = 0;
        if (heldElsewhere(fd, conflicts.bytes[i], &error)) return kAccessDenied;
        if (error != 0) return errorFromErrno(error);
    }
    return 0;
}

// Takes the open mutex, polling while another open holds it.
int takeOpenMutex(int fd, short type) {
    auto deadline = std::chrono::steady_clock::now() + kOpenMutexTimeout;
    for (;;) {
        int error = setSharingLock(fd, type, openMutex);
        if (error == 0) return 0;
        if (error != EAGAIN && error != EACCES) return errorFromErrno(error);
        if (std::chrono::steady_clock::now() >= deadline) return kAccessDenied;
        sleepMilliseconds(1);
    }
}

// Checks the request against every handle already open and, when it fits, takes the locks that
// describe it and performs the truncation of createAlways. On failure the caller closes the
// descriptor, which drops whatever was locked here.
int enterSharing(int fd, const OpenRequest& request, bool exclusiveLocks) {
    // A descriptor opened for reading only cannot hold the mutex exclusively. It takes it shared,
    // which still keeps out every writable opener, and checks again after locking, so that two
    // such opens racing each other cannot both get in (at worst both are refused).
    int error = takeOpenMutex(fd, exclusiveLocks ? F_WRLCK : F_RDLCK);
    if (error != 0) return error;
    error = checkSharing(fd, request);
    if (error != 0) return error;
    SharingBytes describing = describingBytes(request);
    for (int i = 0; i < describing.count; ++i) {
        int lockError = setSharingLock(fd, F_RDLCK, describing.bytes[i]);
        // Every lock on these bytes is shared, so a refusal means something else is wrong.
        if (lockError != 0) return errorFromErrno(lockError);
    }
    if (!exclusiveLocks) {
        error = checkSharing(fd, request);
        if (error != 0) return error;
    }
    if (request.disposition == Disposition::createAlways) {
        while (ftruncate(fd, 0) != 0) {
            if (errno != EINTR) return errorFromErrno(errno);
        }
    }
    error = setSharingLock(fd, F_UNLCK, openMutex);
    return error == 0 ? 0 : errorFromErrno(error);
}

int openDescriptor(const std::string& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Checks a user lock range: it must stay below the sharing range, which it would otherwise
// disturb.
bool validUserRange(uint64_t offset, uint64_t length) {
    return offset <= kSharingLockBase && length <= kSharingLockBase - offset;
}

class PosixFileSystem : public FileSystem {
public:
    int open(const std::string& path, const OpenRequest& request, Handle* handle) override {
        *handle = Handle{};
        std::string native = nativePath(path);
        int creation = request.disposition == Disposition::openExisting ? 0 : O_CREAT;
        bool exclusiveLocks = true;
        // Always ask for a read-write descriptor so that locks can be exclusive even for a
        // read-only request; the handle still refuses what the request did not ask for.
        int fd = openDescriptor(native, O_RDWR | O_CLOEXEC | creation);
        if (fd < 0 && (errno == EACCES || errno == EROFS) && request.access == Access::read &&
            request.disposition != Disposition::createAlways) {
            fd = openDescriptor(native, O_RDONLY | O_CLOEXEC | creation);
            exclusiveLocks = false;
        }
        if (fd < 0) {
            int error = errno;
            return error == ENOENT ? missingFileError(native) : errorFromErrno(error);
        }
        struct stat info;
        if (fstat(fd, &info) != 0) {
            int error = errno;
            ::close(fd);
            return errorFromErrno(error);
        }
        // A read-only descriptor can name a directory; it is no file to work with.
        if (S_ISDIR(info.st_mode)) {
            ::close(fd);
            return kAccessDenied;
        }
        int error = enterSharing(fd, request, exclusiveLocks);
        if (error != 0) {
            ::close(fd);
            return error;
        }
        handle->fd = fd;
        handle->readable = wantsRead(request.access);
        handle->writable = wantsWrite(request.access);
        handle->exclusiveLocks = exclusiveLocks;
        return 0;
    }

    void close(Handle* handle) override {
        // Closing the last descriptor of the open file drops all its locks, the sharing ones
        // included. close is not retried: on Linux the descriptor is gone even after EINTR.
        if (handle->fd >= 0) ::close(handle->fd);
        *handle = Handle{};
    }

    int read(const Handle& handle, uint64_t offset, void* buffer, size_t count,
             size_t* done) override {
        *done = 0;
        if (!handle.readable) return kAccessDenied;
        if (offset > kMaxOffset || count > kMaxOffset - offset) return errorFromErrno(EINVAL);
        auto* bytes = static_cast<char*>(buffer);
        while (*done < count) {
            ssize_t n =
                pread(handle.fd, bytes + *done, count - *done, static_cast<off_t>(offset + *done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return errorFromErrno(errno);
            }
            if (n == 0) break;  // end of file
            *done += static_cast<size_t>(n);
        }
        return 0;
    }

    int write(const Handle& handle, uint64_t offset, const void* buffer, size_t count,
              size_t* done) override {
        *done = 0;
        if (!handle.writable) return kAccessDenied;
        if (offset > kMaxOffset || count > kMaxOffset - offset) return errorFromErrno(EINVAL);
        auto* bytes = static_cast<const char*>(buffer);
        while (*done < count) {
            ssize_t n =
                pwrite(handle.fd, bytes + *done, count - *done, static_cast<off_t>(offset + *done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return errorFromErrno(errno);
            }
            // A regular file that accepts nothing has no room left.
            if (n == 0) return errorFromErrno(ENOSPC);
            *done += static_cast<size_t>(n);
        }
        return 0;
    }

    int flush(const Handle& handle) override {
        while (fdatasync(handle.fd) != 0) {
            if (errno != EINTR) return errorFromErrno(errno);
        }
        return 0;
    }

    int truncate(const Handle& handle, uint64_t length) override {
        if (!handle.writable) return kAccessDenied;
        if (length > kMaxOffset) return errorFromErrno(EINVAL);
        while (ftruncate(handle.fd, static_cast<off_t>(length)) != 0) {
            if (errno != EINTR) return errorFromErrno(errno);
        }
        return 0;
    }

    int size(const Handle& handle, uint64_t* length) override {
        *length = 0;
        struct stat info;
        if (fstat(handle.fd, &info) != 0) return errorFromErrno(errno);
        *length = static_cast<uint64_t>(info.st_size);
        return 0;
    }

    int lock(const Handle& handle, uint64_t offset, uint64_t length) override {
        if (!validUserRange(offset, length)) return errorFromErrno(EINVAL);
        // A zero length would mean "to the end of the file and beyond" to fcntl.
        if (length == 0) return 0;
        int error = setLock(handle.fd, handle.exclusiveLocks ? F_WRLCK : F_RDLCK, offset, length);
        if (error == EAGAIN || error == EACCES) return kLockViolation;
        return error == 0 ? 0 : errorFromErrno(error);
    }

    int unlock(const Handle& handle, uint64_t offset, uint64_t length) override {
        if (!validUserRange(offset, length)) return errorFromErrno(EINVAL);
        if (length == 0) return 0;
        int error = setLock(handle.fd, F_UNLCK, offset, length);
        return error == 0 ? 0 : errorFromErrno(error);
    }

    int remove(const std::string& path) override {
        std::string native = nativePath(path);
        if (unlink(native.c_str()) != 0) {
            int error = errno;
            return error == ENOENT ? missingFileError(native) : errorFromErrno(error);
        }
        return 0;
    }
};

std::atomic<FileSystem*> installed{nullptr};

}  // namespace

FileSystem& posixFileSystem() {
    static PosixFileSystem instance;
    return instance;
}

FileSystem& fileSystem() {
    FileSystem* current = installed.load(std::memory_order_acquire);
    return current != nullptr ? *current : posixFileSystem();
}

void setFileSystem(FileSystem* fileSystem) {
    installed.store(fileSystem, std::memory_order_release);
}

}  // namespace vellum::os
