// What the driver entry asks of the application platform's file layer: the thread's error
// state, the string stack that carries text arguments and result texts, status records, the
// declaration-error report, a message box and the character-set conversion. The file layer
// implements this interface and installs it; the engine reaches the platform only through it,
// so calls keep going downwards.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vellum/control_blocks.h"
#include "vellum/filter_expression.h"

namespace vellum {

struct FileControlBlock;
struct StatusRecord;

class FileLayerServices {
public:
    virtual ~FileLayerServices() = default;

    // The thread's error state.
    virtual void postError(int code, FileControlBlock* errorFile) = 0;
    virtual void postDriverError(std::string_view code, std::string_view message) = 0;
    virtual void clearError() = 0;
    // The thread's current error code (99 when the thread has no error state).
    virtual int currentError() = 0;

    // The string stack: the top text, taken off (none when the stack is empty); the result text
    // of a call.
    virtual std::optional<std::string> takeText() = 0;
    virtual void putText(std::string_view text) = 0;

    // Status records of control blocks.
    virtual StatusRecord* createStatusRecord(int accessMode) = 0;
    virtual void setStatusAccessMode(StatusRecord* record, int accessMode) = 0;
    virtual void freeStatusRecord(StatusRecord* record) = 0;

    // The declaration-error report: makes the detail text "%s : %d : %s : %s%05d" of kind, item
    // number, attribute, "D" and reason + 1, posts it (with the message, when there is one) as
    // the thread's driver error, and returns 47.
    virtual int declarationError(std::string_view kind, int item, std::string_view attribute,
                                 int reason, std::string_view message) = 0;

    // The application's replacement for the platform's message 4101, when it registered one.
    virtual std::optional<std::string> dataCorruptionMessage() = 0;

    // Handles: objects the application may name back as decimal text (the driver descriptor,
    // lists, saved states, BLOB content blocks as std::vector<uint8_t>, and the control blocks,
    // record buffers and field lists that properties name) are registered here and never handed
    // out as addresses. A text that names no handle of the kind gives none.
    enum class HandleKind {
        driverDescriptor,
        list,
        savedState,
        blob,
        fileControlBlock,
        keyControlBlock,
        recordBuffer,
        fieldList,
    };
    virtual std::string handleOf(const void* object, HandleKind kind) = 0;
    virtual void* objectOf(std::string_view text, HandleKind kind) = 0;
    virtual void dropHandle(const void* object) = 0;
    // Appends a text to a list of the file layer named by its handle; false when the text names
    // no list.
    virtual bool appendToList(std::string_view handle, std::string_view item) = 0;

    // The file-selection service: a request for a file (and a password) chosen by the user.
    struct FileSelection {
        unsigned flags = 0;  // 0x01 plain file dialog, 0x02 ask for a table name, 0x04 a password
        std::string title;
        std::string filter;            // description|pattern pairs, separated by "|"
        std::string defaultExtension;
        std::string fileName;          // in: a proposal; out: the choice, empty for none
        size_t fileNameRoom = 0;
        std::string tableName;
        size_t tableNameRoom = 0;
        std::string password;
        size_t passwordRoom = 0;
    };
    // 0 or the dialog's error; an empty file name means that nothing was chosen.
    virtual int selectFile(FileSelection& request) = 0;
    // The list dialog: the item the user picked from items separated by "|", or none on cancel.
    virtual std::optional<std::string> chooseFromList(std::string_view title,
                                                      std::string_view prompt,
                                                      std::string_view items) = 0;

    // Runs a statement of the file layer on a control block, as the application's statements
    // run: the texts pushed so that the first is taken first, the thread's error state cleared,
    // the driver entry called. Gives the statement's value, ERRORCODE and result text; the
    // caller's error state and result text are as they were before. The engine issues
    // statements this way when it replays a saved state (RESTORESTATE) or resyncs a sequence.
    struct StatementResult {
        int32_t value = 0;
        int error = 0;
        std::string text;
    };
    virtual StatementResult runStatement(FileControlBlock* block, int32_t operation,
                                         std::vector<ArgumentSlot> slots,
                                         std::vector<std::string> texts) = 0;

    enum class Icon { information, warning, error };
    virtual void messageBox(std::string_view text, std::string_view caption, Icon icon) = 0;

    // The platform's character-set conversion, in place: ANSI to OEM for strings an OEM table
    // stores or collates, OEM to ANSI when reading them back. A character without a counterpart
    // becomes the platform's substitute byte.
    virtual void ansiToOem(std::span<uint8_t> bytes) = 0;
    virtual void oemToAnsi(std::span<uint8_t> bytes) = 0;

    // The platform's expression service: compiles a filter text over the given variables; none
    // (with *error set: 0 never) when the text does not compile.
    virtual std::unique_ptr<CompiledFilter> compileFilter(std::string_view text,
                                                          std::span<const FilterVariable> variables,
                                                          int* error) = 0;

    // The application's current window: a message posted to it is handled after the current
    // call; a numbered event sent to it runs its handler at once, whose answer comes back (0:
    // go on). Without a current window a message is dropped and an event answered 0.
    virtual void postWindowMessage(uint32_t message, uintptr_t wParam, uintptr_t lParam) = 0;
    virtual int sendWindowEvent(uint32_t event, int32_t parameter) = 0;

    // The thread's transaction list: the value a control block is enlisted with (none when it
    // is not), and enlisting it with a value of 0 or more or taking it out with a negative one;
    // false when the list refuses.
    virtual std::optional<int32_t> transactionListValue(const FileControlBlock* block) = 0;
    virtual bool setTransactionListValue(const FileControlBlock* block, int32_t value) = 0;

    // Hands a control block, whose table object is gone, to another driver, named by the
    // number; a platform without other drivers reports the failure itself.
    virtual void changeDriver(FileControlBlock* block, int32_t driver) = 0;
};

// The installed file layer. The engine cannot run without one: the file layer installs itself
// before its first call of the driver entry.
FileLayerServices& fileLayer();
// Installs services (nullptr uninstalls); returns the ones installed before.
FileLayerServices* installFileLayer(FileLayerServices* services);
// Installs services unless some are installed already.
void installFileLayerIfNone(FileLayerServices* services);

}  // namespace vellum
