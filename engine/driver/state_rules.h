// The operation state rules: one row per operation code with the state bits an operation needs,
// the bits that forbid it, the bits it sets and clears on success and on failure, and what the
// driver entry does after it. check runs before an operation, update after it.
//
// The state word's bits are in tablestore/state_word.h.
// After-operation flags: 0x01 clear the thread's error state, 0x02 forget the last sequential
// operation, 0x04 remember the operation and its result, 0x10 remember it as the last
// sequential operation, 0x20 drop the resync position.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "tablestore/state_word.h"

namespace vellum {

struct KeyDescriptor;
class TableObject;

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
