// The file layer of our application platform: the per-thread error state that applications
// read as ERRORCODE, FILEERRORCODE and FILEERROR, the string stack that carries text arguments
// into the driver entry and result texts out of it, status records, the declaration-error
// report and the character-set conversion. It implements the services the driver entry asks for
// and installs them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vellum/control_blocks.h"
#include "vellum/file_layer_services.h"

namespace vellum {

struct StatusRecord {
    int accessMode = 0;
};

// The file layer's services to the engine. This program shows no dialogs: the file-selection
// service chooses nothing and the list dialog is cancelled; tests derive from it to script them.
class PlatformFileLayer : public FileLayerServices {
public:
    void postError(int code, FileControlBlock* file) override;
    void postDriverError(std::string_view code, std::string_view message) override;
    void clearError() override;
    int currentError() override;
    std::optional<std::string> takeText() override;
    void putText(std::string_view text) override;
    StatusRecord* createStatusRecord(int accessMode) override;
    void setStatusAccessMode(StatusRecord* record, int accessMode) override;
    void freeStatusRecord(StatusRecord* record) override;
    int declarationError(std::string_view kind, int item, std::string_view attribute, int reason,
                         std::string_view message) override;
    std::optional<std::string> dataCorruptionMessage() override;
    std::string handleOf(const void* object, HandleKind kind) override;
    void* objectOf(std::string_view text, HandleKind kind) override;
    void dropHandle(const void* object) override;
    bool appendToList(std::string_view handle, std::string_view item) override;
    int selectFile(FileSelection& request) override;
    std::optional<std::string> chooseFromList(std::string_view title, std::string_view prompt,
                                              std::string_view items) override;
    void messageBox(std::string_view text, std::string_view caption, Icon icon) override;
    // runStatement below, with the caller's error state and result text kept.
    StatementResult runStatement(FileControlBlock* block, int32_t operation,
                                 std::vector<ArgumentSlot> slots,
                                 std::vector<std::string> texts) override;
    // Windows-1252 <-> code page 437 by the platform's character sets.
    void ansiToOem(std::span<uint8_t> bytes) override;
    void oemToAnsi(std::span<uint8_t> bytes) override;
    // The filter expressions of filter_expression.h.
    // A list per thread, kept in memory.
    std::optional<int32_t> transactionListValue(const FileControlBlock* block) override;
    bool setTransactionListValue(const FileControlBlock* block, int32_t value) override;
    void changeDriver(FileControlBlock* block, int32_t driver) override;
    std::unique_ptr<CompiledFilter> compileFilter(std::string_view text,
                                                  std::span<const FilterVariable> variables,
                                                  int* error) override;
    // Through the current window of current_window.h.
    void postWindowMessage(uint32_t message, uintptr_t wParam, uintptr_t lParam) override;
    int sendWindowEvent(uint32_t event, int32_t parameter) override;
};

// The error state of the calling thread.
int errorCode();                    // ERRORCODE: 0 when the last call succeeded
const std::string& fileErrorCode(); // FILEERRORCODE: the driver's own code, as text
const std::string& fileError();     // FILEERROR: the driver's own message
FileControlBlock* errorFile();      // the control block of the last error
void clearErrorState();

// The string stack of the calling thread: texts pushed before a call, and the result text the
// call left (empty when it left none).
void pushText(std::string_view text);
const std::string& resultText();

// Calls the driver entry of a control block: the file layer's single way into a driver. Texts
// must have been pushed; the result text is copied at once.
int32_t callDriver(int32_t operation, FileControlBlock* block, ArgumentSlot* slots);

// Slots handed to every statement at least, so that an operation reading a slot the caller did
// not give finds 0 there instead of reading past the array.
constexpr size_t kMinimumSlots = 4;

// One statement on a control block: pushes the texts so that the first one is taken first,
// clears the thread's error state, so that ERRORCODE afterwards is the statement's, and calls
// the driver. Returns the driver's value.
int32_t runStatement(FileControlBlock* block, int32_t operation, std::vector<ArgumentSlot> slots,
                     const std::vector<std::string>& texts);

// Installs the file layer as the engine's platform services unless others are installed (a test's
// scripted ones); callDriver does it too.
void installPlatformFileLayer();

}  // namespace vellum
