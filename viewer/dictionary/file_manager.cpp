// The open sequence of a table's file and the lazy open around it.
#include "dictionary/file_manager.h"

#include "vellum/error_codes.h"
#include "vellum/operation_codes.h"

namespace vellum::viewer {

namespace {
// An open that fails twice is not tried a third time.
constexpr int kMaximumOpenAttempts = 2;
}  // namespace

FileManager::FileManager(std::string name, Table& table, ErrorManager& errors)
    : name_(std::move(name)), table_(table), errors_(errors) {}

void FileManager::open() {
    ++users_;
}

void FileManager::close() {
    if (users_ == 0) return;
    if (--users_ == 0) kill();
}

int FileManager::use() {
    if (fileOpen_) return 0;
    if (users_ == 0) return kFileNotOpen;
    int error = openFile();
    fileOpen_ = error == 0;
    return error;
}

void FileManager::kill() {
    if (fileOpen_) table_.close();
    fileOpen_ = false;
    users_ = 0;
}

int FileManager::openFile() {
    bool recovered = false;
    for (int attempt = 1;; ++attempt) {
        int error = table_.open(openMode_);
        if (error == kAccessDenied && !recovered) {
            // The engine knows no such switch; the send changes nothing and only the retry counts.
            recovered = true;
            table_.send("Recover=" + std::to_string(kLockRecoverTime));
            error = table_.open(openMode_);
        }
        if (error == 0) return 0;
        if (attempt == kMaximumOpenAttempts) {
            report(kFileAccessMessage);
            return error;
        }
        if (error == kFileNotFound) {
            if (int created = table_.create(); created != 0) {
                report(kFileCreationMessage);
                return created;
            }
        } else if (error == kAccessDenied && (openMode_ & kAccessMask) != 0) {
            openMode_ &= ~kAccessMask;
            report(kAccessDeniedMessage);
        } else if (error == kKeyFileMustBeRebuilt) {
            report(kInvalidKeyMessage);
            if (int rebuilt = rebuildKeys(); rebuilt != 0) return rebuilt;
        } else {
            report(kFileAccessMessage);
            return error;
        }
    }
}

int FileManager::rebuildKeys() {
    if (int error = table_.open(kReadWriteDenyAll); error != 0) {
        report(kKeyNotBuiltMessage);
        return error;
    }
    table_.call(kBUILDfile);
    int error = table_.errorCode();
    if (error != 0) report(kKeyNotBuiltMessage);
    table_.close();
    return error;
}

void FileManager::report(const MessageText& message) {
    errors_.report(message, {.file = name_,
                             .errorText = errorDescription(table_.errorCode(), table_.fileError()),
                             .field = {},
                             .message = {}});
}

}  // namespace vellum::viewer
