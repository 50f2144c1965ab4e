// Maps errno values to the platform's error codes and keeps the errno behind the catch-all code.
#include <cerrno>

#include "os/file_system.h"

namespace vellum::os {

namespace {
// The errno behind the last code 90, per thread, so that concurrent callers do not mix them up.
thread_local int lastError = 0;
}  // namespace

int errorFromErrno(int error) {
    switch (error) {
        case ENOENT:
            return 2;
        case ENOTDIR:
            return 3;
        case EMFILE:
        case ENFILE:
            return 4;
        case EACCES:
        case EPERM:
        case EROFS:
            return 5;
        case ENOMEM:
            return 8;
        case EINVAL:
        case ENAMETOOLONG:
            return 45;
        default:
            lastError = error;
            return 90;
    }
}

int lastSystemError() {
    return lastError;
}

}  // namespace vellum::os
