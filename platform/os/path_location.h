// The location of a path: what tells two names of one file apart from names of two files. On
// Linux it is the host name, the device and inode of the path's directory, and the file name;
// two paths with equal locations name the same file, whichever way they reach its directory.
#pragma once

#include <cstdint>
#include <string>

namespace vellum::os {

struct PathLocation {
    std::string host;
    uint64_t device = 0;
    uint64_t inode = 0;
    std::string fileName;

    bool operator==(const PathLocation&) const = default;
};

// Resolves a path ("/" or "\" between directories; a name alone lies in the working directory)
// to its location. Returns 0, or the platform's error code when the directory cannot be found.
int resolveLocation(const std::string& path, PathLocation* location);

// The full path of a file: "\" turned into "/", a relative path taken from the working
// directory, the directory resolved to its real path when it exists, the last component kept as
// given. Returns 0, or the platform's error code when the working directory cannot be read.
int fullPath(const std::string& path, std::string* full);

// Seconds since 1970 on the local clock (the time zone's offset added).
uint32_t localTimeSeconds();

}  // namespace vellum::os
