// Resolving a path to its location (host, directory device and inode, file name) and to its
// full path, and the local clock in seconds.
#include "os/path_location.h"

#include <limits.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "os/file_system.h"

namespace vellum::os {

int resolveLocation(const std::string& path, PathLocation* location) {
    std::string name = path;
    std::replace(name.begin(), name.end(), '\\', '/');
    size_t slash = name.rfind('/');
    std::string directory = slash == std::string::npos ? "." : name.substr(0, slash + 1);
    struct stat status {};
    if (stat(directory.c_str(), &status) != 0) return errorFromErrno(errno);
    if (!S_ISDIR(status.st_mode)) return errorFromErrno(ENOTDIR);
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host - 1) != 0) return errorFromErrno(errno);
    location->host = host;
    location->device = static_cast<uint64_t>(status.st_dev);
    location->inode = static_cast<uint64_t>(status.st_ino);
    location->fileName = slash == std::string::npos ? name : name.substr(slash + 1);
    return 0;
}

int fullPath(const std::string& path, std::string* full) {
    std::string name = path;
    std::replace(name.begin(), name.end(), '\\', '/');
    if (name.empty() || name.front() != '/') {
        char current[PATH_MAX];
        if (getcwd(current, sizeof current) == nullptr) return errorFromErrno(errno);
        std::string directory = current;
        if (directory.back() != '/') directory += '/';
        name = directory + name;
    }
    size_t slash = name.rfind('/');
    std::string directory = slash == 0 ? "/" : name.substr(0, slash);
    if (char* resolved = realpath(directory.c_str(), nullptr)) {
        directory = resolved;
        free(resolved);
    }
    if (directory.back() != '/') directory += '/';
    *full = directory + name.substr(slash + 1);
    return 0;
}

uint32_t localTimeSeconds() {
    time_t now = time(nullptr);
    tm local {};
    localtime_r(&now, &local);
    return static_cast<uint32_t>(now + local.tm_gmtoff);
}

}  // namespace vellum::os
