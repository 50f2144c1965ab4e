// The driver entry: the steps of one call, and the operations the entry answers itself.
#include "driver/driver_entry.h"

#include <strings.h>

#include <algorithm>
#include <optional>
#include <string>

#include "driver/deferred_build.h"
#include "driver/driver_descriptor.h"
#include "driver/engine_locks.h"
#include "driver/item_properties.h"
#include "driver/properties.h"
#include "driver/state_rules.h"
#include "os/file_system.h"
#include "pagestore/transaction_set.h"
#include "tablestore/blob_content.h"
#include "tablestore/key_maintenance.h"
#include "tablestore/positioning.h"
#include "tablestore/records.h"
#include "tablestore/table_address.h"
#include "tablestore/table_object.h"
#include "tablestore/table_state.h"
#include "vellum/byte_order.h"
#include "vellum/error_codes.h"
#include "vellum/fatal.h"
#include "vellum/file_layer_services.h"
#include "vellum/operation_codes.h"

namespace vellum {

namespace {

constexpr const char* kCorruptionMessage = "Possible data corruption in file";
constexpr uint8_t kDriverFlagRemote = 0x01;  // remote access active: no flush here
constexpr uint8_t kDriverFlagNoTrace = 0x02;  // operations of this block are not traced
constexpr size_t kMaxCorruptionMessage = 219;

bool takesKey(int operation) {
    switch (operation) {
        case kBUILDdyn: case kBUILDkey: case kGETfilekey: case kGETkeyptr: case kPOINTERkey:
        case kRECORDSkey: case kBUILDdynfilter: case kSETfilekey: case kSETkey: case kSETkeykey:
        case kSETkeyptr: case kSETkeykeyptr: case kDUPLICATEkey: case kPOSITIONkey: case kRESETkey:
        case kREGETkey: case kSETPROPERTYkey: case kGETPROPERTYkey: case kDOPROPERTYkey:
            return true;
        default:
            return false;
    }
}

int textsTaken(int operation) {
    switch (operation) {
        case kBUILDdynfilter: case kSETPROPERTY: case kBLOBSETPROP: case kSETPROPERTYkey:
            return 2;
        case kBUILDdyn: case kCOPY: case kRENAME: case kSEND: case kRESETfile: case kRESETkey:
        case kREGETfile: case kREGETkey: case kGETPROPERTY: case kBLOBGETPROP:
        case kGETPROPERTYkey: case kDOPROPERTY: case kDOPROPERTYkey: case kDOPROPERTYblob:
        case kSETNULLS:
        case kBLOBTAKE:  // its value, taken even when it cannot be stored
            return 1;
        default:
            return 0;
    }
}

bool givesResultText(int operation) {
    switch (operation) {
        case kNAME: case kSEND: case kPOSITIONfile: case kPOSITIONkey: case kGETPROPERTY:
        case kGETPROPERTYkey: case kBLOBGETPROP: case kGETNULLS:
        case kBLOBYIELD:  // the bytes it yields
            return true;
        default:
            return false;
    }
}

// Operations after which no BLOB of the table keeps its Touched mark.
bool resetsTouched(int operation) {
    switch (operation) {
        case kADD: case kAPPEND: case kDELETE: case kGETfilekey: case kGETfileptr: case kGETkeyptr:
        case kNEXT: case kPUT: case kPREVIOUS: case kPUTfileptr: case kREGETfile: case kREGETkey:
            return true;
        default:
            return false;
    }
}

// Operations that take name, owner and options from the declaration while the table is closed.
bool copiesDeclaration(int operation) {
    switch (operation) {
        case kBUILDfile: case kCOPY: case kCREATE: case kEMPTY: case kNAME: case kOPEN:
        case kPACK: case kREMOVE: case kRENAME: case kSHARE: case kBYTES: case kSEND:
        case kGETPROPERTY:
            return true;
        default:
            return false;
    }
}

// Takes the locks of one call and gives them back.
class CallLocks {
public:
    CallLocks() {
        transactionLock().lockShared();
        engineLock().lock();
    }
    ~CallLocks() {
        engineLock().unlock();
        transactionLock().unlockShared();
    }
    CallLocks(const CallLocks&) = delete;
    CallLocks& operator=(const CallLocks&) = delete;
};

// The control-block lock, not taken for THREAD tables, whose blocks belong to one thread.
class BlockLock {
public:
    explicit BlockLock(const FileControlBlock* block)
        : taken_((block->attributes & kAttributeThread) == 0) {
        if (taken_) controlBlockLock().lock();
    }
    ~BlockLock() {
        if (taken_) controlBlockLock().unlock();
    }
    BlockLock(const BlockLock&) = delete;
    BlockLock& operator=(const BlockLock&) = delete;

private:
    bool taken_;
};

void destroyTableObject(FileControlBlock* block) {
    BlockLock hold(block);
    dropPropertyHandles(*block);
    delete block->tableObject;
    block->tableObject = nullptr;
    for (uint8_t k = 0; k < block->keyCount; ++k) {
        if (block->keys != nullptr && block->keys[k] != nullptr) block->keys[k]->keyDescriptor = nullptr;
    }
}

int attachTableObject(FileControlBlock* block, bool bare) {
    BlockLock hold(block);
    auto table = std::make_unique<TableObject>(block);
    if (!bare) {
        if (int result = table->buildDescriptors(); result != 0) {
            for (uint8_t k = 0; k < block->keyCount; ++k) {
                if (block->keys != nullptr && block->keys[k] != nullptr) {
                    block->keys[k]->keyDescriptor = nullptr;
                }
            }
            return result;
        }
    }
    block->tableObject = table.release();
    return 0;
}

void copyDeclaration(TableObject& table, const FileControlBlock& block) {
    if (block.name.length != 0 && !table.nameOverridden) {
        table.address = declaredText(block.name).value_or(std::string());
    }
    if (block.owner.length != 0 && !table.ownerOverridden) {
        table.owner = declaredText(block.owner).value_or(std::string());
    }
    if (block.driverOptions.length != 0 && !table.optionsOverridden) {
        table.driverOptions = declaredText(block.driverOptions).value_or(std::string());
    }
}

std::string corruptionMessage() {
    std::string message = fileLayer().dataCorruptionMessage().value_or(kCorruptionMessage);
    if (message.size() > kMaxCorruptionMessage) message.resize(kMaxCorruptionMessage);
    return message;
}

uint32_t tableLockNumber(const TableObject& table) { return load32be(table.tableNumber.data()); }

// What one call works with.
struct Call {
    int operation = 0;
    FileControlBlock* block = nullptr;
    ArgumentSlot* slots = nullptr;
    TableObject* table = nullptr;
    KeyDescriptor* key = nullptr;
    std::optional<std::string> text1;
    std::optional<std::string> text2;
    std::optional<std::string> resultText;
    int32_t value = 0;
    std::optional<uint32_t> traceStart;  // set when the table traced at the start of the call
    std::optional<int32_t> newDriver;    // SET_PROPERTY handing the block to this driver
};

int32_t slotValue(const Call& call, unsigned index) {
    unsigned at = index + (takesKey(call.operation) ? 1u : 0u);
    return call.slots != nullptr ? static_cast<int32_t>(call.slots[at]) : 0;
}

int runOpen(Call& call) {
    TableObject& table = *call.table;
    int mode = slotValue(call, 0);
    if (isBlankName(table.address)) return kInvalidFilename;
    int result = table.open(mode);
    if (result != 0) return result;
    table.accessMode = mode;
    if (mode & 0x30) {
        table.stateWord |= kStateExclusive;
    } else {
        table.stateWord &= ~uint32_t{kStateExclusive};
    }
    if (mode % 4 != 0) {
        table.stateWord |= kStateWriteAccess;
    } else {
        table.stateWord &= ~uint32_t{kStateWriteAccess};
    }
    int statusMode = mode == 0 ? 0x40 : mode;
    if (call.block->statusRecord == nullptr) {
        call.block->statusRecord = fileLayer().createStatusRecord(statusMode);
    } else {
        fileLayer().setStatusAccessMode(call.block->statusRecord, statusMode);
    }
    return 0;
}

int runClose(Call& call) {
    if (call.table == nullptr) return 0;
    int result = call.table->close();
    if (result == 0 && call.block->statusRecord != nullptr) {
        fileLayer().setStatusAccessMode(call.block->statusRecord, 0);
    }
    return result;
}

int runSend(Call& call) {
    TableObject& table = *call.table;
    std::string command = call.text1.value_or(std::string());
    if (strcasecmp(command.c_str(), "REGISTER") == 0) {
        std::string handle = fileLayer().handleOf(&driverDescriptor(),
                                                  FileLayerServices::HandleKind::driverDescriptor);
        call.resultText = handle;
        call.value = static_cast<int32_t>(std::stoul(handle));
        if (!table.isOpen()) table.stale = true;
        return 0;
    }
    if (strcasecmp(command.c_str(), "IMPORTFILE") == 0) {
        if (!table.isOpen()) {
            fileLayer().messageBox("File Driver does not support File Import", "File Import",
                                   FileLayerServices::Icon::warning);
        }
        return kFileNotOpen;
    }
    call.resultText = table.readSwitch(command);
    return 0;
}

int runLockSeconds(Call& call) {
    TableObject& table = *call.table;
    uint32_t deadline = os::clockHundredths() + 100u * static_cast<uint32_t>(slotValue(call, 0));
    for (;;) {
        int result = table.pageFile()->lockUser(&table.trace, tableLockNumber(table));
        if (result == 0) return 0;
        table.trace.writeLine("Locking failed with error " + std::to_string(result));
        os::sleepMilliseconds(1000);
        if (static_cast<int32_t>(os::clockHundredths() - deadline) >= 0) {
            return result == kRecordNotAvailable ? kFileAlreadyLocked : result;
        }
    }
}

int runQueryKey(Call& call) {
    TableObject& table = *call.table;
    call.value = 0;
    for (size_t k = 0; k < table.definition.keys.size(); ++k) {
        if (table.definition.keys[k].get() == table.currentKey) call.value = static_cast<int32_t>(k + 1);
    }
    return 0;
}

// BUILDevent. The build's events may have destroyed the table object: the block's current one,
// or a fresh one, goes on.
int runBuildEventCall(Call& call) {
    int result = runBuildEvent(*call.block, *call.table);
    if (call.block->tableObject == nullptr) {
        int attached = attachTableObject(call.block, false);
        if (result == 0) result = attached;
    }
    call.table = call.block->tableObject;
    if (call.table != nullptr) call.table->stateWord &= ~uint32_t{kStateEventBuild};
    if (result == -1) call.value = -1;
    return result;
}

// RESTORESTATE: the handle, then a flag byte telling whether the snapshot's own buffers come
// back. Its statements come back into the entry, so the table object is read from the block
// again.
int runRestoreState(Call& call) {
    int result = restoreState(*call.block, static_cast<uint32_t>(slotValue(call, 0)),
                              (slotValue(call, 1) & 0xFF) != 0);
    call.table = call.block->tableObject;
    return result;
}

// Runs an operation on a call that has a table object (or is CLOSE or DESTROY without one).
int runOperation(Call& call) {
    TableObject* table = call.table;
    // A key control block that names no key of this table has no key descriptor.
    if (takesKey(call.operation) && call.key == nullptr && call.operation != kGETkeyptr &&
        call.operation != kPOINTERkey) {
        return kInvalidKeyFile;
    }
    switch (call.operation) {
        case kOPEN:
        case kSHARE:
            return runOpen(call);
        case kCLOSE:
        case kDESTROY:
            return runClose(call);
        case kCREATE:
            if ((table->attributes & kAttributeCreate) == 0) return kNoCreateAttribute;
            if (isBlankName(table->address)) return kInvalidFilename;
            return table->create();
        case kREMOVE:
            return table->remove();
        case kRENAME:
            return table->rename(call.text1.value_or(std::string()));
        case kCOPY:
            return table->copy(call.text1.value_or(std::string()));
        case kEMPTY:
            return table->empty();
        case kNAME:
            // An OPEN that a fatal error cut short leaves the file registered for CLOSE but
            // built no full name: such a table counts as closed here.
            if (table->isOpen() && (table->stateWord & kStateOpen) != 0) {
                call.resultText = table->fullName;
            } else {
                call.resultText = declaredText(call.block->name, true).value_or(std::string());
            }
            return 0;
        case kSEND:
            return runSend(call);
        case kCLEAR:
            clearRecord(*table, slotValue(call, 0));
            return 0;
        case kQUERYKEY:
            return runQueryKey(call);
        case kCOUNTRECORDS: {
            uint32_t count = 0;
            if (recordCount(*table, &count) != 0) count = 0;
            call.value = count > static_cast<uint32_t>(slotValue(call, 0)) ? 1 : 0;
            return 0;
        }
        case kLOCKfile: {
            int result;
            while ((result = table->pageFile()->lockUser(&table->trace, tableLockNumber(*table))) ==
                   kRecordNotAvailable) {
            }
            return result == 0 ? 0 : kFileAlreadyLocked;
        }
        case kLOCKfilesec:
            return runLockSeconds(call);
        case kUNLOCK:
            table->pageFile()->unlockUser(tableLockNumber(*table));
            return 0;
        case kLOGOUT:
            table->pageFile()->beginWrite();
            transactionSet().enlist(table->pageFile());
            return 0;
        case kCOMMIT: {
            // Commits every file of the transaction, whichever table LOGOUT was called for.
            int result = transactionSet().commitAll();
            table->pageFile()->endWrite();
            return result;
        }
        case kROLLBACK:
            transactionSet().rollbackAll();
            table->pageFile()->endWrite();
            return 0;
        case kSTREAM:
            return 0;
        case kFLUSH: {
            // Ends STREAM: what the flushes held back is committed now.
            PageFile* file = table->pageFile();
            table->deferredFlushes = 0;
            int result = file->commit();
            file->endWrite();
            return result;
        }
        case kADD:
            return addRecord(*table, false);
        case kAPPEND:
            return addRecord(*table, true);
        case kPUT:
            return putRecord(*table);
        case kPUTfileptr:
            return putRecordAt(*table, static_cast<uint32_t>(slotValue(call, 0)));
        case kDELETE:
            return deleteRecord(*table);
        case kGETfileptr:
        case kGETkeyptr:
            return getRecord(*table, static_cast<uint32_t>(slotValue(call, 0)));
        case kREGETfile:
            return regetRecord(*table, call.text1.value_or(std::string()));
        case kGETfilekey:
            return getByKey(*table, *call.key);
        case kHOLDfile:
            armHold(*table, -1);
            return 0;
        case kHOLDfilesec:
            armHold(*table, std::max<int32_t>(slotValue(call, 0), 0));
            return 0;
        case kRELEASE:
            releaseRecord(*table);
            return 0;
        case kWATCH:
            table->watchArmed = true;
            return 0;
        case kNOMEMO:
            table->noMemoArmed = true;
            return 0;
        case kRECORDSfile: {
            uint32_t count = 0;
            int result = recordCount(*table, &count);
            call.value = static_cast<int32_t>(count);
            return result;
        }
        case kRECORDSkey:
            call.value = static_cast<int32_t>(keyEntryCount(*table, *call.key));
            return 0;
        case kPOINTERfile:
        case kPOINTERkey:
            call.value = static_cast<int32_t>(table->currentRecord);
            return 0;
        case kSETfile:
            setFile(*table);
            return 0;
        case kSETfilekey:
            setFileByValue(*table, *call.key);
            return 0;
        case kSETfileptr:
            setFilePointer(*table, static_cast<uint32_t>(slotValue(call, 0)));
            return 0;
        case kSETkey:
            setKey(*table, *call.key);
            return 0;
        case kSETkeykey:
            setKeyByValue(*table, *call.key);
            return 0;
        case kSETkeyptr:
            setKeyPointer(*table, *call.key, static_cast<uint32_t>(slotValue(call, 0)));
            return 0;
        case kSETkeykeyptr:
            setKeyValueAndPointer(*table, *call.key, static_cast<uint32_t>(slotValue(call, 0)));
            return 0;
        case kRESETfile:
            return resetFile(*table, call.text1.value_or(std::string()));
        case kRESETkey:
            return resetKey(*table, *call.key, call.text1.value_or(std::string()));
        case kNEXT:
            return readSequential(*table, Direction::forward);
        case kPREVIOUS:
            return readSequential(*table, Direction::backward);
        case kSKIP:
            skipRecords(*table, slotValue(call, 0));
            return 0;
        case kEOF:
        case kBOF: {
            Direction direction = call.operation == kEOF ? Direction::forward : Direction::backward;
            call.value = atEnd(*table, direction) ? 1 : 0;
            return 0;
        }
        case kPOSITIONfile:
            call.resultText = filePosition(*table);
            return 0;
        case kPOSITIONkey:
            call.resultText = keyPosition(*table, *call.key);
            return 0;
        case kREGETkey:
            return regetByKey(*table, *call.key, call.text1.value_or(std::string()));
        case kGETSTATE:
            call.value = static_cast<int32_t>(saveState(*table, (slotValue(call, 0) & 0xFF) != 0));
            return 0;
        case kRESTORESTATE:
            return runRestoreState(call);
        case kFREESTATE:
            freeState(static_cast<uint32_t>(slotValue(call, 0)));
            return 0;
        case kBYTES: {
            if (table->currentRecord != 0) {
                call.value = static_cast<int32_t>(table->definition.recordLength);
                return 0;
            }
            uint32_t size = 0;
            int result = fileBytes(*table, &size);
            call.value = static_cast<int32_t>(size);
            return result;
        }
        case kDUPLICATEkey:
            // The exclude-current flag travels in the slot after the key.
            duplicateKey(*table, *call.key, slotValue(call, 0) != 0, &call.value);
            return 0;
        case kDUPLICATE:
            call.value = duplicateAny(*table, slotValue(call, 0) != 0);
            return 0;
        case kBUILDfile:
        case kBUILDkey:
        case kPACK:
        case kBUILDdyn:
        case kBUILDdynfilter:
            return runBuildOperation(*call.block, *table, call.operation, call.key, call.text1,
                                     call.text2);
        case kBUILDevent:
            return runBuildEventCall(call);
        case kSETPROPERTY:
            // The value comes first, then the property.
            if (isDriverChange(slotValue(call, 0), call.text2.value_or(std::string()))) {
                if (table->isOpen()) return kFileAlreadyOpen;
                call.newDriver = decimalNumber(call.text1.value_or(std::string()));
                return 0;
            }
            return setProperty(*table, slotValue(call, 0), call.text2.value_or(std::string()),
                               call.text1.value_or(std::string()));
        case kGETPROPERTY:
            return getProperty(*call.block, *table, slotValue(call, 0),
                               call.text1.value_or(std::string()), &call.resultText.emplace());
        case kBLOBSETPROP:
            return setBlobProperty(*table, slotValue(call, 0) & 0xFFFF,
                                   call.text2.value_or(std::string()),
                                   call.text1.value_or(std::string()));
        case kBLOBGETPROP:
            return getBlobProperty(*call.block, *table, slotValue(call, 0) & 0xFFFF,
                                   call.text1.value_or(std::string()), &call.resultText.emplace());
        case kSETPROPERTYkey:
            return 0;
        case kGETPROPERTYkey:
            return getKeyProperty(*call.block, *call.key, slotValue(call, 0),
                                  call.text1.value_or(std::string()), &call.resultText.emplace());
        case kGETNULLS:
            call.resultText = std::string();
            return kUnsupportedFunction;
        case kBLOBSIZE:
            return blobSize(*table, slotValue(call, 0) & 0xFFFF, &call.value);
        case kBLOBYIELD:
            call.resultText.emplace();
            return yieldBlob(*table, slotValue(call, 0) & 0xFFFF,
                             static_cast<uint32_t>(slotValue(call, 1)),
                             static_cast<uint32_t>(slotValue(call, 2)), &*call.resultText);
        case kBLOBTAKE:
            return takeIntoBlob(*table, slotValue(call, 0) & 0xFFFF,
                                static_cast<uint32_t>(slotValue(call, 1)),
                                static_cast<uint32_t>(slotValue(call, 2)),
                                call.text1.value_or(std::string()));
        case kInternal91:
            return 0;
        default:
            return kUnsupportedFunction;
    }
}

void putResultText(Call& call) {
    if (!givesResultText(call.operation)) return;
    if (call.block->tableObject == nullptr || !call.resultText) {
        fileLayer().putText({});
    } else {
        fileLayer().putText(*call.resultText);
    }
}

std::string trapName(const TableObject& table) {
    return table.address.empty() ? std::string("table") : table.address;
}

// A fatal error of the page store while working on a table: the table keeps the fatal code and
// answers 90 from now on. Returns 90.
int poisonTable(TableObject& table, const FatalError& fault) {
    table.fatalCode = fault.number();
    table.damageCode = fault.number();
    // Half-done changes of the failed operation must not reach the disk with a later commit of
    // another table of the file.
    if (PageFile* file = table.pageFile()) {
        try {
            file->discard();
        } catch (const FatalError&) {
        }
    }
    fileLayer().postDriverError(std::to_string(fault.number()),
                                fault.message().empty() ? "Vellum File Driver Error"
                                                        : fault.message());
    return kFileSystemError;
}

int32_t finish(Call& call, int error) {
    FileControlBlock* block = call.block;
    TableObject* table = block->tableObject;
    // Every call that finishes is traced, also one the state rules refused.
    if (call.traceStart && table != nullptr && table->trace.isOn() &&
        (block->driverFlags & kDriverFlagNoTrace) == 0) {
        std::string keyLabel = call.key != nullptr ? call.key->label.value_or("") : "";
        table->trace.writeOperation(trapName(*table), operationName(call.operation), keyLabel,
                                    error, *call.traceStart);
    }
    // The table store's flush after the operation commits and ends the access bracket, so that
    // no lock of the file stays held between calls. Its result counts when the operation had
    // no error of its own.
    if (table != nullptr && (block->driverFlags & kDriverFlagRemote) == 0) {
        FatalTrap trap(trapName(*table));
        int flushed;
        try {
            flushed = flushAfterOperation(*table);
        } catch (const FatalError& fault) {
            flushed = poisonTable(*table, fault);
        }
        if (error == 0) error = flushed;
    }
    if (table != nullptr && resetsTouched(call.operation)) resetTouched(*table);
    if (table != nullptr) updateState(*table, call.key, call.operation, error);
    putResultText(call);
    if (table != nullptr) {
        table->lastError = error == -1 ? 0 : error;
        if (error == 0 && (table->afterFlags & kAfterClearError)) fileLayer().clearError();
        if (error == kInvalidRecordDeclaration || (call.operation == kCREATE && error != 0)) {
            table->stale = true;
        }
        if (table->afterFlags & kAfterRemember) {
            table->lastOperation = call.operation;
            table->lastResult = error;
            bool pointed = call.operation == kSETfileptr || call.operation == kSETkeyptr ||
                           call.operation == kSETkeykeyptr;
            table->lastKey = call.key;
            table->lastPointer = pointed ? static_cast<uint32_t>(slotValue(call, 0)) : 0;
            // The flag is set only after success.
            if (call.operation == kNEXT || call.operation == kPREVIOUS) {
                table->lastPosition = currentPosition(*table);
            }
        }
        if (table->afterFlags & kAfterRememberSequential) {
            table->lastSequentialOperation = call.operation;
        } else if (table->afterFlags & kAfterForgetSequential) {
            table->lastSequentialOperation = 0;
        }
        if (table->afterFlags & kAfterDropResync) table->resyncPosition.reset();
    }
    if (call.operation == kDESTROY || call.newDriver) {
        if (table != nullptr) destroyTableObject(block);
        fileLayer().freeStatusRecord(block->statusRecord);
        block->statusRecord = nullptr;
    }
    if (error != 0 && error != -1) fileLayer().postError(error, block);
    if (call.newDriver) fileLayer().changeDriver(block, *call.newDriver);
    if (error != 0 && (call.operation == kBOF || call.operation == kEOF)) return 1;
    return call.value;
}

}  // namespace

void markDeclarationChanged(FileControlBlock* block) {
    BlockLock hold(block);
    if (block->tableObject != nullptr) block->tableObject->reload = true;
}

int32_t driverEntry(int32_t operation, FileControlBlock* block, ArgumentSlot* slots) {
    if (operation == kQUERYVIEW) return 0;
    if (operation == kSTARTRAN) {
        transactionLock().lockExclusive();
        return 0;
    }
    if (operation == kENDTRAN) {
        transactionLock().unlockExclusive();
        return 0;
    }
    CallLocks locks;
    Call call;
    call.operation = operation;
    call.block = block;
    call.slots = slots;
    int error = 0;

    TableObject* table;
    {
        BlockLock hold(block);
        table = block->tableObject;
    }
    if (table != nullptr && table->stale && operation != kDESTROY) {
        driverEntry(kDESTROY, block, slots);
        error = fileLayer().currentError();
        table = nullptr;
    }

    int texts = textsTaken(operation);
    if (texts >= 1) call.text1 = fileLayer().takeText();
    if (texts >= 2) call.text2 = fileLayer().takeText();

    if (table != nullptr && table->reload) {
        table->reload = false;
        dropPropertyHandles(*block);
        if (int result = table->buildDescriptors(); result != 0) {
            destroyTableObject(block);
            return finish(call, result);
        }
    }
    bool attachedHere = false;
    if (table == nullptr && operation != kCLOSE && operation != kDESTROY) {
        if (int result = attachTableObject(block, operation == 107); result != 0) {
            return finish(call, result);
        }
        table = block->tableObject;
        attachedHere = true;
    }
    call.table = table;
    // Operation 107 gives back the bare table object it attached; a table object the block
    // already had stays, and the operation is refused like any other unsupported one.
    if (operation == 107 && attachedHere) {
        destroyTableObject(block);
        call.table = nullptr;
        return finish(call, kUnsupportedFunction);
    }

    // Only an operation that began while tracing is traced, so that the property call that
    // starts tracing writes no line with a start it never noted.
    if (table != nullptr && table->trace.isOn()) call.traceStart = os::clockHundredths();

    if (takesKey(operation) && slots != nullptr) {
        auto* keyBlock = reinterpret_cast<KeyControlBlock*>(slots[0]);
        if (keyBlock != nullptr) call.key = keyBlock->keyDescriptor;
    }

    if (table == nullptr) {
        // CLOSE or DESTROY on a block that never had a table object.
        if (operation == kDESTROY && error == 0) error = runOperation(call);
        return finish(call, error);
    }

    // A sequence that RESTORESTATE left finds its place again first.
    if ((operation == kNEXT || operation == kPREVIOUS || operation == kSKIP) &&
        table->resyncPosition) {
        if (int result = resyncSequence(*block, operation); result != 0) {
            return finish(call, result);
        }
    }

    if (table->fatalCode != 0) {
        if (operation == kCLOSE) table->stateWord |= kStateOpen;
        if (operation != kCLOSE && operation != kNAME && operation != kREMOVE) {
            fileLayer().postDriverError(std::to_string(table->fatalCode), corruptionMessage());
            return finish(call, kFileSystemError);
        }
    }
    FatalTrap trap(trapName(*table));

    if (int result = checkState(*table, call.key, operation, call.text1); result != 0) {
        return finish(call, result);
    }
    if (copiesDeclaration(operation) && !table->isOpen()) copyDeclaration(*table, *block);

    try {
        error = runOperation(call);
    } catch (const FatalError& fault) {
        error = poisonTable(*table, fault);
        if (table->stateWord & kStateEventBuild) endEventBuild(*block, error);
    }
    return finish(call, error);
}

int chooseTableFor(FileControlBlock* block) {
    CallLocks locks;
    fileLayer().clearError();
    TableObject* table;
    {
        BlockLock hold(block);
        table = block->tableObject;
    }
    int result = 0;
    if (table == nullptr) {
        result = attachTableObject(block, false);
        table = block->tableObject;
    }
    if (result == 0) {
        if (!table->isOpen()) copyDeclaration(*table, *block);
        FatalTrap trap(trapName(*table));
        try {
            // An open table cannot be chosen again.
            result = table->isOpen() ? kFileNotOpen : table->chooseTable();
        } catch (const FatalError& fault) {
            result = poisonTable(*table, fault);
        }
    }
    if (result != 0) fileLayer().postError(result, block);
    return result;
}

}  // namespace vellum
