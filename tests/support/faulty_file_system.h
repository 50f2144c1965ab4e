// A file system for tests that forwards to the POSIX one and injects faults: a failed or short
// write, a failed read, refused locks, and a stop after the k-th write (the process exits at
// once, as if the machine stopped, or further writes are silently lost). Install it with
// ScopedFileSystem.
#pragma once

#include <cstdint>

#include "os/file_system.h"
#include "support/scoped_file_system.h"

namespace vellum::test {

class FaultyFileSystem : public os::FileSystem {
public:
    enum class StopAction { exitProcess, dropWrites };

    // Writes are counted from 1 from the moment the file system is installed.
    int failWriteAt = 0;       // this write fails with writeError
    int writeError = 28;       // errno given to the failed write (ENOSPC)
    int shortWriteAt = 0;      // this write transfers only half its bytes
    int failReadAt = 0;        // this read (counted from 1) fails with EIO
    bool refuseLocks = false;  // every lock fails as if held elsewhere
    int stopAfterWrite = 0;    // after this write, stop (see stopAction)
    StopAction stopAction = StopAction::exitProcess;
    int stopExitStatus = 77;

    int writes() const { return writes_; }
    int reads() const { return reads_; }
    bool stopped() const { return stopped_; }

    int open(const std::string& path, const os::OpenRequest& request, os::Handle* handle) override;
    void close(os::Handle* handle) override;
    int read(const os::Handle& handle, uint64_t offset, void* buffer, size_t count,
             size_t* done) override;
    int write(const os::Handle& handle, uint64_t offset, const void* buffer, size_t count,
              size_t* done) override;
    int flush(const os::Handle& handle) override;
    int truncate(const os::Handle& handle, uint64_t length) override;
    int size(const os::Handle& handle, uint64_t* length) override;
    int lock(const os::Handle& handle, uint64_t offset, uint64_t length) override;
    int unlock(const os::Handle& handle, uint64_t offset, uint64_t length) override;
    int remove(const std::string& path) override;

private:
    int writes_ = 0;
    int reads_ = 0;
    bool stopped_ = false;
};

}  // namespace vellum::test
