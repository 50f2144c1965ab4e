// The rule table and the check and update that read it.
#include "driver/state_rules.h"

#include <array>

#include "tablestore/table_address.h"
#include "tablestore/table_definition.h"
#include "tablestore/table_object.h"
#include "vellum/error_codes.h"
#include "vellum/operation_codes.h"

namespace vellum {

namespace {

struct NumberedRow {
    int operation;
    RuleRow row;
};

// Rows in hexadecimal: after, required, forbidden, set, clear, clear on failure. Operations
// without a row have no requirement and change nothing.
constexpr NumberedRow kRows[] = {
    {1, {0x0011, 0x0041, 0, 0x0002, 0x1400, 0}},  // ADD
    {2, {0, 0x0021, 0, 0, 0, 0}},  // BOF
    {3, {0x0001, 0x00C0, 0x0004, 0, 0, 0x2022}},  // BUILDfile
    {4, {0x0011, 0x0041, 0, 0, 0, 0}},  // APPEND
    {5, {0x0001, 0x0001, 0x0004, 0x0100, 0, 0}},  // BUILDdyn
    {6, {0x0001, 0x00C0, 0x0004, 0, 0, 0}},  // BUILDkey
    {7, {0x0003, 0x0001, 0x0004, 0, 0x0101, 0}},  // CLOSE
    {8, {0x0001, 0x0005, 0, 0, 0x0004, 0}},  // COMMIT
    {9, {0x0001, 0, 0x0001, 0, 0, 0}},  // COPY
    {10, {0x0001, 0, 0x0001, 0, 0, 0}},  // CREATE
    {11, {0x0001, 0x0043, 0, 0, 0x0002, 0}},  // DELETE
    {12, {0x0001, 0x0041, 0, 0, 0, 0}},  // DUPLICATE
    {13, {0x0001, 0x00C1, 0x0004, 0, 0, 0}},  // EMPTY
    {14, {0, 0x0021, 0, 0, 0, 0}},  // EOF
    {15, {0x0011, 0x0101, 0, 0x0002, 0x0A00, 0x0002}},  // GETfilekey
    {16, {0x0011, 0x0001, 0, 0x0002, 0x0A00, 0x0002}},  // GETfileptr
    {17, {0x0011, 0x0101, 0, 0x0002, 0x0A00, 0x0002}},  // GETkeyptr
    {18, {0x0001, 0x0001, 0, 0x0800, 0, 0}},  // HOLDfile
    {19, {0x0001, 0x0001, 0, 0x0800, 0, 0}},  // HOLDfilesec
    {20, {0x0001, 0x0001, 0x0010, 0x0090, 0, 0}},  // LOCKfile
    {21, {0x0001, 0x0001, 0x0010, 0x0090, 0, 0}},  // LOCKfilesec
    {22, {0x0001, 0x0001, 0x0004, 0x0004, 0, 0}},  // LOGOUT
    {24, {0x0015, 0x0021, 0, 0x0002, 0x0A00, 0x2022}},  // NEXT
    {25, {0x0001, 0, 0x0001, 0x0001, 0, 0}},  // OPEN
    {26, {0x0001, 0x00C0, 0x0004, 0, 0x0022, 0x2022}},  // PACK
    {27, {0, 0x0003, 0, 0, 0, 0}},  // POINTERfile
    {28, {0, 0x0103, 0, 0, 0, 0}},  // POINTERkey
    {29, {0x0001, 0x0001, 0, 0, 0x0008, 0}},  // FLUSH
    {30, {0x0011, 0x0043, 0, 0, 0x1400, 0}},  // PUT
    {31, {0x0015, 0x0021, 0, 0x0002, 0x0A00, 0x2022}},  // PREVIOUS
    {32, {0, 0x0001, 0, 0, 0, 0}},  // RECORDSfile
    {33, {0, 0x0101, 0, 0, 0, 0}},  // RECORDSkey
    {34, {0x0001, 0x0001, 0x0004, 0x0100, 0, 0}},  // BUILDdynfilter
    {36, {0x0001, 0x0001, 0, 0, 0x1000, 0}},  // RELEASE
    {37, {0x0001, 0, 0x0001, 0, 0, 0}},  // REMOVE
    {38, {0x0001, 0, 0x0001, 0, 0, 0}},  // RENAME
    {40, {0x0001, 0x0005, 0, 0, 0x0004, 0}},  // ROLLBACK
    {41, {0x0025, 0x0001, 0, 0x2020, 0, 0x2020}},  // SETfile
    {42, {0x0025, 0x0101, 0, 0x2020, 0, 0x2020}},  // SETfilekey
    {43, {0x0025, 0x0001, 0, 0x2020, 0, 0x2020}},  // SETfileptr
    {44, {0x0025, 0x0101, 0, 0x2020, 0, 0x2020}},  // SETkey
    {45, {0x0025, 0x0101, 0, 0x2020, 0, 0x2020}},  // SETkeykey
    {46, {0x0025, 0x0101, 0, 0x2020, 0, 0x2020}},  // SETkeyptr
    {47, {0x0025, 0x0101, 0, 0x2020, 0, 0x2020}},  // SETkeykeyptr
    {48, {0x0001, 0, 0x0001, 0x0001, 0, 0}},  // SHARE
    {49, {0x0015, 0x0021, 0, 0, 0x0002, 0x2022}},  // SKIP
    {50, {0x0001, 0x0011, 0x0004, 0, 0x0010, 0}},  // UNLOCK
    {51, {0x0011, 0x0001, 0, 0, 0x1400, 0}},  // ADDfilelen
    {52, {0x0001, 0x0001, 0, 0, 0, 0}},  // BYTES
    {53, {0x0011, 0x0001, 0, 0x0002, 0x0A00, 0x0002}},  // GETfileptrlen
    {54, {0x0011, 0x0041, 0, 0, 0x1400, 0x0002}},  // PUTfileptr
    {55, {0x0011, 0x0041, 0, 0, 0x1400, 0x0002}},  // PUTfileptrlen
    {56, {0x0001, 0x0001, 0x0008, 0x0008, 0, 0}},  // STREAM
    {57, {0x0001, 0x0101, 0, 0, 0, 0}},  // DUPLICATEkey
    {58, {0x0001, 0x0001, 0, 0x0200, 0, 0}},  // WATCH
    {59, {0x0001, 0x0041, 0, 0, 0x1400, 0}},  // APPENDlen
    {60, {0x0001, 0, 0, 0, 0, 0}},  // SEND
    {61, {0x0001, 0x0003, 0, 0, 0, 0}},  // POSITIONfile
    {62, {0x0001, 0x0103, 0, 0, 0, 0}},  // POSITIONkey
    {63, {0x0025, 0x0001, 0, 0x2020, 0, 0x2020}},  // RESETfile
    {64, {0x0025, 0x0101, 0, 0x2020, 0, 0x2020}},  // RESETkey
    {65, {0, 0x0001, 0, 0, 0, 0}},  // NOMEMO
    {66, {0x0011, 0x0001, 0, 0x0002, 0x0A00, 0}},  // REGETfile
    {67, {0x0011, 0x0101, 0, 0x0002, 0x0A00, 0}},  // REGETkey
    {68, {0x0001, 0x0001, 0, 0, 0, 0}},  // NULL
    {69, {0x0001, 0x0001, 0, 0, 0, 0}},  // SETNULL
    {70, {0x0001, 0x0001, 0, 0, 0, 0}},  // SETNONULL
    {71, {0x0001, 0, 0, 0, 0, 0}},  // SET_PROPERTY
    {73, {0, 0x0101, 0, 0, 0, 0}},  // QUERY_KEY
    {75, {0x0001, 0x0001, 0, 0, 0, 0}},  // BLOB_YIELD
    {76, {0x0001, 0x0001, 0, 0, 0, 0}},  // BLOB_TAKE
    {77, {0, 0x0003, 0, 0, 0, 0}},  // BLOB_SIZE
    {78, {0x0001, 0x0001, 0, 0, 0, 0}},  // BLOB_SET_PROP
    {79, {0x0001, 0x0001, 0, 0, 0, 0}},  // BLOB_GET_PROP
    {80, {0x0001, 0x0001, 0, 0, 0, 0}},  // BUFFER
    {81, {0x0005, 0x0001, 0, 0x0020, 0, 0x0020}},  // SETview
    {83, {0x0005, 0x0001, 0, 0x2020, 0, 0x2020}},  // RESETviewfile
    {84, {0x0001, 0x00C0, 0x0004, 0, 0, 0x2022}},  // BUILDevent
    {85, {0x0001, 0, 0, 0, 0, 0}},  // SETPROPERTYkey
    {88, {0x0001, 0, 0, 0, 0, 0}},  // DO_PROPERTY
    {89, {0x0001, 0, 0, 0, 0, 0}},  // DOPROPERTYkey
    {90, {0x0001, 0, 0, 0, 0, 0}},  // DOPROPERTYblob
    {92, {0x0001, 0x0001, 0x0100, 0x0100, 0, 0}},  // INVIEW
    {93, {0x0001, 0x0001, 0, 0, 0x0100, 0}},  // ENDVIEW
    {94, {0x0001, 0, 0x0001, 0, 0, 0}},  // Internal94
    {95, {0, 0x0001, 0, 0, 0, 0}},  // COUNTRECORDS
    {96, {0x0001, 0x0003, 0, 0, 0, 0}},  // GETNULLS
    {97, {0x0001, 0x0001, 0, 0, 0, 0}},  // SETNULLS
    {108, {0x0001, 0, 0, 0, 0, 0}},  // (no name)
};

constexpr std::array<RuleRow, kLastOperationCode + 1> makeTable() {
    std::array<RuleRow, kLastOperationCode + 1> table{};
    for (const NumberedRow& numbered : kRows) table[static_cast<size_t>(numbered.operation)] = numbered.row;
    return table;
}

constexpr std::array<RuleRow, kLastOperationCode + 1> kTable = makeTable();

bool isDynamicIndex(const KeyDescriptor* key) {
    return key != nullptr && (key->attributes & kKeyDescriptorDynamic) != 0;
}

bool isBlank(const std::optional<std::string>& text) { return !text || isBlankName(*text); }

}  // namespace

const RuleRow& ruleRow(int operation) {
    static const RuleRow none{};
    if (operation < 0 || operation > kLastOperationCode) return none;
    return kTable[static_cast<size_t>(operation)];
}

int checkState(TableObject& table, const KeyDescriptor* key, int operation,
               const std::optional<std::string>& position) {
    table.afterFlags = 0;
    if (key != nullptr && key->table != &table) return kInvalidKeyFile;
    if (operation < 1 || operation > kLastOperationCode) return kUnsupportedFunction;
    const RuleRow& row = ruleRow(operation);
    uint32_t state = table.stateWord;
    uint32_t missing = row.required & ~state & ~uint32_t{kStateKeyBuilt};
    if (missing == 0 && (row.required & kStateKeyBuilt) && isDynamicIndex(key) && !key->built) {
        missing = kStateKeyBuilt;
    }
    if (missing == 0 && (state & kStateEventBuild) && operation != kCLOSE &&
        operation != kNAME && operation != kGETPROPERTY && operation != kBUILDevent &&
        operation != kGETPROPERTYkey) {
        return kBuildInProgress;
    }
    if (missing != 0) {
        if (missing & kStateOpen) return kFileNotOpen;
        if (missing & kStateKeyBuilt) return kKeyFileMustBeRebuilt;
        if ((state & kStateOpen) == 0) return 0;
        if (missing & (kStateCurrentRecord | kStateSequenceSet)) return kRecordNotAvailable;
        if (missing & kStateExclusive) return kExclusiveAccessRequired;
        if (missing & kStateWriteAccess) return kAccessDenied;
        return -1;
    }
    uint32_t forbidden = row.forbidden & state;
    if (forbidden != 0) {
        if (forbidden & kStateOpen) return kFileAlreadyOpen;
        if (forbidden & kStateLogout) return kLogoutAlreadyActive;
        return -1;
    }
    if (operation == kREGETfile || operation == kREGETkey || operation == kRESETfile ||
        operation == kRESETkey) {
        return isBlank(position) ? kRecordNotFound : 0;
    }
    return 0;
}

void updateState(TableObject& table, KeyDescriptor* key, int operation, int error) {
    if (operation < 1 || operation > kLastOperationCode) return;
    const RuleRow& row = ruleRow(operation);
    uint32_t& state = table.stateWord;
    if (error != 0) {
        uint32_t clear = row.clearOnFailure;
        if (operation == kSETfileptr) clear &= ~uint32_t{kStateSequenceSet};
        state &= ~clear;
        state &= ~uint32_t{kStateWatchArmed | kStateWatched};
        return;
    }
    if (row.clear & kStateWatchArmed) {
        if (state & kStateWatchArmed) {
            state |= kStateWatched;
        } else {
            state &= ~uint32_t{kStateWatched};
        }
    }
    if ((row.clear & kStateOpen) && (state & kStateOpen)) state = 0;
    if (row.clear & kStateHoldArmed) {
        if (state & kStateHoldArmed) {
            state |= kStateHeld;
        } else {
            state &= ~uint32_t{kStateHeld};
        }
    }
    state |= row.set & ~uint32_t{kStateKeyBuilt};
    state &= ~(row.clear & ~uint32_t{kStateKeyBuilt});
    if (isDynamicIndex(key)) {
        if (row.set & kStateKeyBuilt) key->built = true;
        if (row.clear & kStateKeyBuilt) key->built = false;
    }
    table.afterFlags = row.after;
}

}  // namespace vellum
