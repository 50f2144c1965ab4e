// Per-thread error state, string stack, status records and the declaration-error report.
#include "filelayer/file_layer.h"

#include "filelayer/handle_registry.h"

#include <cstdio>
#include <mutex>
#include <vector>

namespace vellum {

namespace {

struct ThreadState {
    int code = 0;
    std::string fileErrorCode;
    std::string fileError;
    FileControlBlock* errorFile = nullptr;
    std::vector<std::string> stack;
    std::string result;
};

thread_local ThreadState state;

class PlatformFileLayer : public FileLayerServices {
public:
    void postError(int code, FileControlBlock* file) override {
        state.code = code;
        state.errorFile = file;
    }

    void postDriverError(std::string_view code, std::string_view message) override {
        state.fileErrorCode = code;
        state.fileError = message;
    }

    void clearError() override { clearErrorState(); }

    int currentError() override { return state.code; }

    std::optional<std::string> takeText() override {
        if (state.stack.empty()) return std::nullopt;
        std::string text = std::move(state.stack.back());
        state.stack.pop_back();
        return text;
    }

    void putText(std::string_view text) override {
        state.result = text;
    }

    StatusRecord* createStatusRecord(int accessMode) override {
        return new StatusRecord{accessMode};
    }

    void setStatusAccessMode(StatusRecord* record, int accessMode) override {
        if (record != nullptr) record->accessMode = accessMode;
    }

    void freeStatusRecord(StatusRecord* record) override { delete record; }

    int declarationError(std::string_view kind, int item, std::string_view attribute, int reason,
                         std::string_view message) override {
        char detail[160];
        std::snprintf(detail, sizeof detail, "%.*s : %d : %.*s : %s%05d",
                      static_cast<int>(kind.size()), kind.data(), item,
                      static_cast<int>(attribute.size()), attribute.data(), "D", reason + 1);
        std::string text = detail;
        if (!message.empty()) text += ": " + std::string(message);
        postDriverError({}, text);
        return 47;
    }

    std::optional<std::string> dataCorruptionMessage() override { return std::nullopt; }

    std::string handleOf(const void* object, HandleKind kind) override {
        return vellum::handleOf(object, kind);
    }

    void* objectOf(std::string_view text, HandleKind kind) override {
        return vellum::objectOf(text, kind);
    }

    void dropHandle(const void* object) override { vellum::dropHandle(object); }

    bool appendToList(std::string_view handle, std::string_view item) override {
        auto* list = static_cast<TextList*>(vellum::objectOf(handle, HandleKind::list));
        if (list == nullptr) return false;
        list->items.emplace_back(item);
        return true;
    }

    void messageBox(std::string_view text, std::string_view caption, Icon) override {
        std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                     static_cast<int>(text.size()), text.data());
    }
};

PlatformFileLayer platformFileLayer;
std::once_flag installed;

}  // namespace

int errorCode() { return state.code; }
const std::string& fileErrorCode() { return state.fileErrorCode; }
const std::string& fileError() { return state.fileError; }
FileControlBlock* errorFile() { return state.errorFile; }

void clearErrorState() {
    state.code = 0;
    state.fileErrorCode.clear();
    state.fileError.clear();
    state.errorFile = nullptr;
}

void pushText(std::string_view text) { state.stack.emplace_back(text); }
const std::string& resultText() { return state.result; }

void installPlatformFileLayer() {
    std::call_once(installed, [] { installFileLayer(&platformFileLayer); });
}

int32_t callDriver(int32_t operation, FileControlBlock* block, ArgumentSlot* slots) {
    installPlatformFileLayer();
    state.result.clear();
    int32_t value = block->driverEntry(operation, block, slots);
    // Texts the driver did not take belong to this call only.
    state.stack.clear();
    return value;
}

}  // namespace vellum
