// Snapshots of a table's state, their restore through the file layer's statements, and the
// resync step.
#include "tablestore/table_state.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tablestore/blob_content.h"
#include "tablestore/positioning.h"
#include "tablestore/state_word.h"
#include "tablestore/table_object.h"
#include "vellum/control_blocks.h"
#include "vellum/error_codes.h"
#include "vellum/file_layer_services.h"
#include "vellum/operation_codes.h"

namespace vellum {

namespace {

// The record buffer, the MEMO buffers and, when they were copied, the BLOB contents (a BLOB not
// copied has no slot content).
struct Buffers {
    std::vector<uint8_t> record;
    std::vector<std::optional<std::vector<uint8_t>>> memos;
};

struct TableSnapshot {
    const FileControlBlock* block = nullptr;
    Buffers buffers;
    bool open = false;
    int openMode = 0;
    uint32_t stateWord = 0;
    int lastOperation = 0;
    KeyControlBlock* lastKey = nullptr;  // and pointer, as the last operation was given them
    uint32_t lastPointer = 0;
    int lastSequentialOperation = 0;
    KeyControlBlock* currentKey = nullptr;
    // Where the sequence stood after a last NEXT, PREVIOUS or SKIP; empty otherwise.
    std::string position;
    // The current record after another last sequential operation (a read by number or key).
    std::string filePosition;
    std::string resetPosition;
    int32_t holdTimeout = -1;
};

bool isStep(int operation) {
    return operation == kNEXT || operation == kPREVIOUS || operation == kSKIP;
}

Buffers buffersOf(const TableObject& table, bool withBlobs) {
    Buffers buffers;
    const FileControlBlock& block = *table.block;
    if (block.recordBuffer != nullptr) {
        buffers.record.assign(block.recordBuffer, block.recordBuffer + block.recordLength);
    }
    for (const MemoDescriptor& memo : table.definition.memos) {
        if (memo.flags & kMemoBlob) {
            buffers.memos.push_back(withBlobs ? std::optional(memo.content) : std::nullopt);
        } else {
            buffers.memos.push_back(memo.buffer);
        }
    }
    return buffers;
}

void putBuffers(TableObject& table, const Buffers& buffers) {
    FileControlBlock& block = *table.block;
    if (block.recordBuffer != nullptr) {
        std::copy_n(buffers.record.begin(),
                    std::min<size_t>(buffers.record.size(), block.recordLength),
                    block.recordBuffer);
    }
    std::vector<MemoDescriptor>& memos = table.definition.memos;
    for (size_t m = 0; m < memos.size() && m < buffers.memos.size(); ++m) {
        if (!buffers.memos[m]) continue;
        const std::vector<uint8_t>& saved = *buffers.memos[m];
        if (memos[m].flags & kMemoBlob) {
            // Setting the size and taking the content back, which sets the Touched mark.
            assignBlob(memos[m], saved);
            continue;
        }
        std::copy_n(saved.begin(), std::min(saved.size(), memos[m].buffer.size()),
                    memos[m].buffer.begin());
    }
}

TableSnapshot* snapshotOf(uint32_t handle) {
    return static_cast<TableSnapshot*>(fileLayer().objectOf(
        std::to_string(handle), FileLayerServices::HandleKind::savedState));
}

FileLayerServices::StatementResult issue(FileControlBlock& block, int operation,
                                         std::vector<ArgumentSlot> slots = {},
                                         std::vector<std::string> texts = {}) {
    return fileLayer().runStatement(&block, operation, std::move(slots), std::move(texts));
}

ArgumentSlot slotOf(KeyControlBlock* key) { return reinterpret_cast<ArgumentSlot>(key); }

// RESETkey with a key, else RESETfile; its error.
int resetTo(FileControlBlock& block, KeyControlBlock* key, const std::string& position) {
    if (key != nullptr) return issue(block, kRESETkey, {slotOf(key)}, {position}).error;
    return issue(block, kRESETfile, {}, {position}).error;
}

// POSITIONkey with a key, else POSITIONfile.
std::string positionNow(FileControlBlock& block, KeyControlBlock* key) {
    if (key != nullptr) return issue(block, kPOSITIONkey, {slotOf(key)}).text;
    return issue(block, kPOSITIONfile).text;
}

// Gives the saved position back and reads there again in the saved direction: 35 when another
// record is there now. *reached becomes false when the position could not be given back or
// nothing could be read there. A snapshot whose last operation was no step has no position.
int readAtPosition(FileControlBlock& block, const TableSnapshot& snapshot, bool* reached) {
    if (snapshot.position.empty()) return 0;
    int error = resetTo(block, snapshot.currentKey, snapshot.position);
    if (error == 0) {
        int read = snapshot.lastSequentialOperation == kPREVIOUS ? kPREVIOUS : kNEXT;
        error = issue(block, read).error;
    }
    if (error != 0) {
        *reached = false;
        return error;
    }
    return positionNow(block, snapshot.currentKey) == snapshot.position ? 0 : kRecordNotFound;
}

// Issues the last operation again: a SET with its key and pointer, a RESET with its position
// text; after a step the saved position waits as the resync position for the next step.
void repeatLastOperation(FileControlBlock& block, const TableSnapshot& snapshot) {
    int operation = snapshot.lastOperation;
    switch (operation) {
        case kSETfile:
        case kSETfileptr:
            issue(block, operation, {snapshot.lastPointer});
            break;
        case kSETfilekey:
        case kSETkey:
        case kSETkeykey:
        case kSETkeyptr:
        case kSETkeykeyptr:
            issue(block, operation, {slotOf(snapshot.lastKey), snapshot.lastPointer});
            break;
        case kRESETfile:
            issue(block, operation, {}, {snapshot.resetPosition});
            break;
        case kRESETkey:
            issue(block, operation, {slotOf(snapshot.lastKey)}, {snapshot.resetPosition});
            break;
        case kNEXT:
        case kPREVIOUS:
        case kSKIP:
            if (block.tableObject != nullptr) block.tableObject->resyncPosition = snapshot.position;
            break;
        default:
            break;
    }
}

// The state of an open snapshot on the opened table: STREAM and LOCK, the current record, the
// last operation and the armed modifiers. The result is that of reading the current record.
int replayOpenState(FileControlBlock& block, const TableSnapshot& snapshot) {
    if (snapshot.stateWord & kStateStream) issue(block, kSTREAM);
    if (snapshot.stateWord & kStateLocked) issue(block, kLOCKfile);
    int result = 0;
    bool reached = true;
    if (snapshot.lastSequentialOperation != 0) {
        if (snapshot.stateWord & kStateWatched) issue(block, kWATCH);
        if (snapshot.stateWord & kStateHeld) issue(block, kHOLDfile);
        if (isStep(snapshot.lastSequentialOperation)) {
            result = readAtPosition(block, snapshot, &reached);
        } else {
            result = issue(block, kREGETfile, {}, {snapshot.filePosition}).error;
        }
    } else {
        // No record was read: record number 0 leaves no current record.
        issue(block, kGETfileptr, {0});
    }
    if (reached) repeatLastOperation(block, snapshot);
    if (snapshot.stateWord & kStateWatchArmed) issue(block, kWATCH);
    if (snapshot.stateWord & kStateHoldArmed) {
        if (snapshot.holdTimeout < 0) {
            issue(block, kHOLDfile);
        } else {
            issue(block, kHOLDfilesec, {static_cast<ArgumentSlot>(snapshot.holdTimeout)});
        }
    }
    return result;
}

}  // namespace

KeyControlBlock* keyControlBlockOf(const FileControlBlock& block, const KeyDescriptor* key) {
    if (key == nullptr || block.keys == nullptr) return nullptr;
    for (uint8_t k = 0; k < block.keyCount; ++k) {
        if (block.keys[k] != nullptr && block.keys[k]->keyDescriptor == key) return block.keys[k];
    }
    return nullptr;
}

uint32_t saveState(TableObject& table, bool withBlobs) {
    auto snapshot = std::make_unique<TableSnapshot>();
    const FileControlBlock& block = *table.block;
    snapshot->block = &block;
    snapshot->buffers = buffersOf(table, withBlobs);
    snapshot->open = table.isOpen();
    snapshot->openMode = table.accessMode;
    snapshot->stateWord = table.stateWord;
    snapshot->lastOperation = table.lastOperation;
    snapshot->lastKey = keyControlBlockOf(block, table.lastKey);
    snapshot->lastPointer = table.lastPointer;
    snapshot->lastSequentialOperation = table.lastSequentialOperation;
    snapshot->currentKey = keyControlBlockOf(block, table.currentKey);
    if (table.lastOperation == kNEXT || table.lastOperation == kPREVIOUS) {
        snapshot->position = table.lastPosition;
    } else if (table.lastOperation == kSKIP) {
        snapshot->position = currentPosition(table);
    }
    if (table.lastSequentialOperation != 0 && !isStep(table.lastSequentialOperation)) {
        snapshot->filePosition = filePosition(table);
    }
    snapshot->resetPosition = table.resetPosition;
    snapshot->holdTimeout = table.holdTimeout;
    std::string handle =
        fileLayer().handleOf(snapshot.release(), FileLayerServices::HandleKind::savedState);
    return static_cast<uint32_t>(std::stoul(handle));
}

int restoreState(FileControlBlock& block, uint32_t handle, bool snapshotBuffers) {
    const TableSnapshot* snapshot = snapshotOf(handle);
    if (snapshot == nullptr || snapshot->block != &block) return kInvalidRecordDeclaration;
    Buffers kept = snapshotBuffers ? Buffers() : buffersOf(*block.tableObject, true);
    int result = 0;
    bool open = block.tableObject->isOpen();
    if (!snapshot->open) {
        if (open) issue(block, kCLOSE);
    } else {
        if (!open) issue(block, kOPEN, {static_cast<ArgumentSlot>(snapshot->openMode)});
        result = replayOpenState(block, *snapshot);
    }
    // The statements come back into the driver entry, which may have given the block another
    // table object.
    if (block.tableObject != nullptr) {
        putBuffers(*block.tableObject, snapshotBuffers ? snapshot->buffers : kept);
    }
    return result;
}

void freeState(uint32_t handle) {
    std::unique_ptr<TableSnapshot> snapshot(snapshotOf(handle));
    if (snapshot != nullptr) fileLayer().dropHandle(snapshot.get());
}

int resyncSequence(FileControlBlock& block, int operation) {
    TableObject& table = *block.tableObject;
    // A copy: the RESET below drops the pending position.
    const std::string position = table.resyncPosition.value_or(std::string());
    KeyControlBlock* key = keyControlBlockOf(block, table.currentKey);
    if (int error = resetTo(block, key, position); error != 0) return error;
    if (int error = issue(block, operation == kNEXT ? kNEXT : kPREVIOUS).error; error != 0) {
        resetTo(block, key, position);
        return error;
    }
    std::string now = positionNow(block, key);
    return now == position ? 0 : resetTo(block, key, now);
}

}  // namespace vellum
