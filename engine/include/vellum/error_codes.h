// Error codes the engine posts to the caller, with their texts. Engine operations return 0 or
// one of these; -1 inside the engine means "nothing done, nothing to report".
#pragma once

#include <string_view>

namespace vellum {

enum ErrorCode : int {
    kNoError = 0,
    kFileNotFound = 2,
    kPathNotFound = 3,
    kTooManyOpenFiles = 4,
    kAccessDenied = 5,
    kInsufficientMemory = 8,
    kFileAlreadyLocked = 32,
    kRecordNotAvailable = 33,
    kRecordNotFound = 35,
    kInvalidDataFile = 36,
    kFileNotOpen = 37,
    kInvalidKeyFile = 38,
    kCreatesDuplicateKey = 40,
    kRecordAlreadyHeld = 43,
    kInvalidFilename = 45,
    kKeyFileMustBeRebuilt = 46,
    kInvalidRecordDeclaration = 47,
    kUnableToLogTransaction = 48,
    kFileAlreadyOpen = 52,
    kNoCreateAttribute = 54,
    kLogoutAlreadyActive = 56,
    kExclusiveAccessRequired = 63,
    kInvalidFieldTypeDescriptor = 75,
    kInvalidIndexString = 76,
    kUnsupportedFunction = 80,
    kRecordChangedByAnotherStation = 89,
    kFileSystemError = 90,
    kBuildInProgress = 92,
    kBuildCancelled = 93,
};

// The text of an error code, or an empty view for a number that is not one of ours.
std::string_view errorText(int code);

}  // namespace vellum
