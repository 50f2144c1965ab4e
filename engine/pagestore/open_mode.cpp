// Open modes: normalising, combining, and their translation to operating-system requests.
#include "pagestore/open_mode.h"

namespace vellum {

int normaliseMode(int mode) { return mode < 16 ? mode + kModeDenyNone : mode; }

int combineModes(int stored, int requested) {
    requested = normaliseMode(requested);
    int storedAccess = stored & kModeAccessMask;
    int requestedAccess = requested & kModeAccessMask;
    int access = storedAccess == requestedAccess ? storedAccess : 2;
    int storedSharing = stored & kModeSharingMask;
    int requestedSharing = requested & kModeSharingMask;
    int sharing;
    if (storedSharing == requestedSharing) {
        sharing = storedSharing;
    } else if (requestedSharing == kModeDenyNone) {
        sharing = storedSharing;
    } else if (storedSharing == kModeDenyNone) {
        sharing = requestedSharing;
    } else {
        sharing = kModeDenyAll;
    }
    return (stored & ~(kModeAccessMask | kModeSharingMask)) | access | sharing;
}

namespace {
os::Access accessOf(int mode) {
    switch (mode & kModeAccessMask) {
        case 0: return os::Access::read;
        case 1: return os::Access::write;
        default: return os::Access::readWrite;
    }
}
}  // namespace

os::OpenRequest openRequestFor(int mode) {
    os::OpenRequest request;
    if (mode & kModeOwnOpen) {
        request.access = (mode & kModeAccessMask) != 0 ? os::Access::readWrite : os::Access::read;
        switch (mode & 0x30) {
            case 0: request.sharing = os::Sharing::denyNone; break;
            case kModeDenyWrite: request.sharing = os::Sharing::denyWrite; break;
            default: request.sharing = os::Sharing::denyAll; break;
        }
        request.disposition = (mode & kModeCreateNew) ? os::Disposition::createAlways
                                                      : os::Disposition::openAlways;
        return request;
    }
    request.access = accessOf(mode);
    switch (mode & kModeSharingMask) {
        case kModeDenyAll: request.sharing = os::Sharing::denyAll; break;
        case kModeDenyWrite: request.sharing = os::Sharing::denyWrite; break;
        case kModeDenyRead: request.sharing = os::Sharing::denyRead; break;
        default: request.sharing = os::Sharing::denyNone; break;
    }
    request.disposition = os::Disposition::openExisting;
    return request;
}

}  // namespace vellum
