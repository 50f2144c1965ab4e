// The fault-injecting file system for tests: forwards to the POSIX one and fails, shortens or
// stops writes, fails reads and refuses locks on request.
#include "support/faulty_file_system.h"

#include <unistd.h>

#include <cerrno>

namespace vellum::test {

namespace {
constexpr int kLockViolation = 33;
}  // namespace

int FaultyFileSystem::open(const std::string& path, const os::OpenRequest& request,
                           os::Handle* handle) {
    return os::posixFileSystem().open(path, request, handle);
}

void FaultyFileSystem::close(os::Handle* handle) {
    os::posixFileSystem().close(handle);
}

int FaultyFileSystem::read(const os::Handle& handle, uint64_t offset, void* buffer, size_t count,
                           size_t* done) {
    ++reads_;
    if (reads_ == failReadAt) {
        *done = 0;
        return os::errorFromErrno(EIO);
    }
    return os::posixFileSystem().read(handle, offset, buffer, count, done);
}

int FaultyFileSystem::write(const os::Handle& handle, uint64_t offset, const void* buffer,
                            size_t count, size_t* done) {
    ++writes_;
    // Once stopped, the machine is gone: nothing reaches the file, yet the caller sees success.
    if (stopped_) {
        *done = count;
        return 0;
    }
    int result;
    if (writes_ == failWriteAt) {
        *done = 0;
        result = os::errorFromErrno(writeError);
    } else if (writes_ == shortWriteAt) {
        result = os::posixFileSystem().write(handle, offset, buffer, count / 2, done);
    } else {
        result = os::posixFileSystem().write(handle, offset, buffer, count, done);
    }
    if (writes_ == stopAfterWrite) {
        if (stopAction == StopAction::exitProcess) _exit(stopExitStatus);
        stopped_ = true;
    }
    return result;
}

int FaultyFileSystem::flush(const os::Handle& handle) {
    if (stopped_) return 0;
    return os::posixFileSystem().flush(handle);
}

int FaultyFileSystem::truncate(const os::Handle& handle, uint64_t length) {
    // A truncation after the stop is lost like a write; a flush has nothing left to do.
    if (stopped_) return 0;
    return os::posixFileSystem().truncate(handle, length);
}

int FaultyFileSystem::size(const os::Handle& handle, uint64_t* length) {
    return os::posixFileSystem().size(handle, length);
}

int FaultyFileSystem::lock(const os::Handle& handle, uint64_t offset, uint64_t length) {
    if (refuseLocks) return kLockViolation;
    return os::posixFileSystem().lock(handle, offset, length);
}

int FaultyFileSystem::unlock(const os::Handle& handle, uint64_t offset, uint64_t length) {
    return os::posixFileSystem().unlock(handle, offset, length);
}

int FaultyFileSystem::remove(const std::string& path) {
    // Removing a file changes the disk too, so after the stop it is lost as well.
    if (stopped_) return 0;
    return os::posixFileSystem().remove(path);
}

}  // namespace vellum::test
