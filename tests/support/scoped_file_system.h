// Installs a file system in place of the POSIX one for the lifetime of the object.
#pragma once

#include "os/file_system.h"

namespace vellum::test {

class ScopedFileSystem {
public:
    explicit ScopedFileSystem(os::FileSystem& fileSystem) { os::setFileSystem(&fileSystem); }
    ~ScopedFileSystem() { os::setFileSystem(nullptr); }
    ScopedFileSystem(const ScopedFileSystem&) = delete;
    ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;
};

}  // namespace vellum::test
