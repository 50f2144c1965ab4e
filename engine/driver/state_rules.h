// The operation state rules: one row per operation code with the state bits an operation needs,
// the bits that forbid it, the bits it sets and clears on success and on failure, and what the
// driver entry does after it. check runs before an operation, update after it.
//
// State word bits:
//   0x0001 open                      0x0100 (in masks only) the key must be built
//   0x0002 current record            0x0200 WATCH armed
//   0x0004 LOGOUT active             0x0400 current record read under WATCH
//   0x0008 STREAM active             0x0800 HOLD armed
//   0x0010 locked by LOCK            0x1000 current record held
//   0x0020 sequence set              0x2000 sequence set and undisturbed
//   0x0040 write access              0x4000 a build with progress events runs
//   0x0080 exclusive access          0x8000 build-progress request pending
// After-operation flags: 0x01 clear the thread's error state, 0x02 forget the last sequential
// operation, 0x04 remember the operation and its result, 0x10 remember it as the last
// sequential operation, 0x20 drop the resync position.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vellum {

struct KeyDescriptor;
class TableObject;

enum StateBit : uint32_t {
    kStateOpen = 0x0001,
    kStateCurrentRecord = 0x0002,
    kStateLogout = 0x0004,
    kStateStream = 0x0008,
    kStateLocked = 0x0010,
    kStateSequenceSet = 0x0020,
    kStateWriteAccess = 0x0040,
    kStateExclusive = 0x0080,
    kStateKeyBuilt = 0x0100,
    kStateWatchArmed = 0x0200,
    kStateWatched = 0x0400,
    kStateHoldArmed = 0x0800,
    kStateHeld = 0x1000,
    kStateSequenceUndisturbed = 0x2000,
    kStateEventBuild = 0x4000,
    kStateBuildRequest = 0x8000,
};

enum AfterFlag : uint32_t {
    kAfterClearError = 0x01,
    kAfterForgetSequential = 0x02,
    kAfterRemember = 0x04,
    kAfterRememberSequential = 0x10,
    kAfterDropResync = 0x20,
};

struct RuleRow {
    uint32_t after = 0;
    uint32_t required = 0;
    uint32_t forbidden = 0;
    uint32_t set = 0;
    uint32_t clear = 0;
    uint32_t clearOnFailure = 0;
};

// The row of an operation code; all zero for codes without one.
const RuleRow& ruleRow(int operation);

// The check before an operation: 0, an error code, or -1 (nothing to do, nothing to report).
// position is the operation's first text, which matters for REGET and RESET. Resets the table's
// after-operation flags.
int checkState(TableObject& table, const KeyDescriptor* key, int operation,
               const std::optional<std::string>& position);

// The update after an operation with its final error.
void updateState(TableObject& table, KeyDescriptor* key, int operation, int error);

}  // namespace vellum
