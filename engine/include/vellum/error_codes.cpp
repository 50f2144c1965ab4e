// Texts of the engine's error codes.
#include "vellum/error_codes.h"

namespace vellum {

std::string_view errorText(int code) {
    switch (code) {
        case kFileNotFound: return "File Not Found";
        case kPathNotFound: return "Path Not Found";
        case kTooManyOpenFiles: return "Too Many Open Files";
        case kAccessDenied: return "Access Denied";
        case kInsufficientMemory: return "Insufficient Memory";
        case kFileAlreadyLocked: return "File Is Already Locked";
        case kRecordNotAvailable: return "Record Not Available";
        case kRecordNotFound: return "Record Not Found";
        case kInvalidDataFile: return "Invalid Data File";
        case kFileNotOpen: return "File Not Open";
        case kInvalidKeyFile: return "Invalid Key File";
        case kCreatesDuplicateKey: return "Creates Duplicate Key";
        case kRecordAlreadyHeld: return "Record Is Already Held";
        case kInvalidFilename: return "Invalid Filename";
        case kKeyFileMustBeRebuilt: return "Key File Must Be Rebuilt";
        case kInvalidRecordDeclaration: return "Invalid Record Declaration";
        case kUnableToLogTransaction: return "Unable To Log Transaction";
        case kFileAlreadyOpen: return "File Already Open";
        case kNoCreateAttribute: return "No Create Attribute";
        case kLogoutAlreadyActive: return "LOGOUT Already Active";
        case kExclusiveAccessRequired: return "Exclusive Access Required";
        case kInvalidFieldTypeDescriptor: return "Invalid Field Type Descriptor";
        case kInvalidIndexString: return "Invalid Index String";
        case kUnsupportedFunction: return "Unsupported File Driver Function";
        case kRecordChangedByAnotherStation: return "Record Changed By Another Station";
        case kFileSystemError: return "File System Error";
        case kBuildInProgress: return "BUILD In Progress";
        case kBuildCancelled: return "BUILD Cancelled";
        default: return {};
    }
}

}  // namespace vellum
