// Per-thread error state, string stack, status records and the declaration-error report.
#include "filelayer/file_layer.h"

#include <cstdio>
#include <map>
#include <vector>

#include "charset/charset.h"
#include "filelayer/current_window.h"
#include "filelayer/filter_expression.h"
#include "filelayer/handle_registry.h"
#include "vellum/error_codes.h"

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

PlatformFileLayer platformFileLayer;

}  // namespace

void PlatformFileLayer::postError(int code, FileControlBlock* file) {
    state.code = code;
    state.errorFile = file;
}

void PlatformFileLayer::postDriverError(std::string_view code, std::string_view message) {
    state.fileErrorCode = code;
    state.fileError = message;
}

void PlatformFileLayer::clearError() { clearErrorState(); }

int PlatformFileLayer::currentError() { return state.code; }

std::optional<std::string> PlatformFileLayer::takeText() {
    if (state.stack.empty()) return std::nullopt;
    std::string text = std::move(state.stack.back());
    state.stack.pop_back();
    return text;
}

void PlatformFileLayer::putText(std::string_view text) { state.result = text; }

StatusRecord* PlatformFileLayer::createStatusRecord(int accessMode) {
    return new StatusRecord{accessMode};
}

void PlatformFileLayer::setStatusAccessMode(StatusRecord* record, int accessMode) {
    if (record != nullptr) record->accessMode = accessMode;
}

void PlatformFileLayer::freeStatusRecord(StatusRecord* record) { delete record; }

int PlatformFileLayer::declarationError(std::string_view kind, int item,
                                        std::string_view attribute, int reason,
                                        std::string_view message) {
    char detail[160];
    std::snprintf(detail, sizeof detail, "%.*s : %d : %.*s : %s%05d",
                  static_cast<int>(kind.size()), kind.data(), item,
                  static_cast<int>(attribute.size()), attribute.data(), "D", reason + 1);
    std::string text = detail;
    if (!message.empty()) text += ": " + std::string(message);
    postDriverError({}, text);
    return 47;
}

std::optional<std::string> PlatformFileLayer::dataCorruptionMessage() { return std::nullopt; }

std::string PlatformFileLayer::handleOf(const void* object, HandleKind kind) {
    return vellum::handleOf(object, kind);
}

void* PlatformFileLayer::objectOf(std::string_view text, HandleKind kind) {
    return vellum::objectOf(text, kind);
}

void PlatformFileLayer::dropHandle(const void* object) { vellum::dropHandle(object); }

bool PlatformFileLayer::appendToList(std::string_view handle, std::string_view item) {
    auto* list = static_cast<TextList*>(vellum::objectOf(handle, HandleKind::list));
    if (list == nullptr) return false;
    list->items.emplace_back(item);
    return true;
}

void PlatformFileLayer::messageBox(std::string_view text, std::string_view caption, Icon) {
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
}

int PlatformFileLayer::selectFile(FileSelection& request) {
    // This program offers no file dialog: nothing is chosen.
    request.fileName.clear();
    return 0;
}

std::optional<std::string> PlatformFileLayer::chooseFromList(std::string_view, std::string_view,
                                                             std::string_view) {
    return std::nullopt;
}

void PlatformFileLayer::ansiToOem(std::span<uint8_t> bytes) { convertAnsiToOem(bytes); }

void PlatformFileLayer::oemToAnsi(std::span<uint8_t> bytes) { convertOemToAnsi(bytes); }

namespace {
thread_local std::map<const FileControlBlock*, int32_t> transactionList;
}  // namespace

std::optional<int32_t> PlatformFileLayer::transactionListValue(const FileControlBlock* block) {
    auto found = transactionList.find(block);
    if (found == transactionList.end()) return std::nullopt;
    return found->second;
}

bool PlatformFileLayer::setTransactionListValue(const FileControlBlock* block, int32_t value) {
    if (value < 0) {
        transactionList.erase(block);
    } else {
        transactionList[block] = value;
    }
    return true;
}

// This platform knows no driver but the engine's own, so no block can change to another.
void PlatformFileLayer::changeDriver(FileControlBlock* block, int32_t) {
    postError(kUnsupportedFunction, block);
}

std::unique_ptr<CompiledFilter> PlatformFileLayer::compileFilter(
    std::string_view text, std::span<const FilterVariable> variables, int* error) {
    return compileFilterText(text, variables, error);
}

void PlatformFileLayer::postWindowMessage(uint32_t message, uintptr_t wParam, uintptr_t lParam) {
    if (CurrentWindow* window = currentWindow()) window->postMessage(message, wParam, lParam);
}

int PlatformFileLayer::sendWindowEvent(uint32_t event, int32_t parameter) {
    CurrentWindow* window = currentWindow();
    return window != nullptr ? window->sendEvent(event, parameter) : 0;
}

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

void installPlatformFileLayer() { installFileLayerIfNone(&platformFileLayer); }

int32_t runStatement(FileControlBlock* block, int32_t operation, std::vector<ArgumentSlot> slots,
                     const std::vector<std::string>& texts) {
    // The driver takes the top of the stack first: push the last text first.
    for (auto text = texts.rbegin(); text != texts.rend(); ++text) pushText(*text);
    if (slots.size() < kMinimumSlots) slots.resize(kMinimumSlots, 0);
    clearErrorState();
    return callDriver(operation, block, slots.data());
}

FileLayerServices::StatementResult PlatformFileLayer::runStatement(
    FileControlBlock* block, int32_t operation, std::vector<ArgumentSlot> slots,
    std::vector<std::string> texts) {
    // The engine issues statements in the middle of a call of its own: that call posts its
    // own error and result at its end, so the statement leaves the thread's state as it was.
    ThreadState saved = state;
    StatementResult result;
    result.value = vellum::runStatement(block, operation, std::move(slots), texts);
    result.error = state.code;
    result.text = state.result;
    state = std::move(saved);
    return result;
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
