// The operation state rules on table objects set up by hand: the check before an operation (as
// a table of cases: state word, key, position text, expected code), the update after it, and a
// few rows of the rule table against their hexadecimal values.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "driver/state_rules.h"
#include "tablestore/table_definition.h"
#include "tablestore/table_object.h"
#include "vellum/error_codes.h"
#include "vellum/operation_codes.h"

namespace vellum {
namespace {

// Which key a case passes to the check.
enum class KeyKind { none, own, other, dynamicNeverBuilt, dynamicBuilt };

struct CheckCase {
    const char* what;
    int operation;
    uint32_t state;
    int expected;
    KeyKind key = KeyKind::none;
    std::optional<std::string> position = std::nullopt;
};

// A table object with no declaration, its keys, and a key of another table object.
class Tables {
public:
    Tables() : table(nullptr), other(nullptr) {
        ownKey.table = &table;
        dynamicKey.table = &table;
        dynamicKey.attributes = kKeyDescriptorIndex | kKeyDescriptorDynamic;
        otherKey.table = &other;
    }

    KeyDescriptor* keyOf(KeyKind kind) {
        switch (kind) {
            case KeyKind::none: return nullptr;
            case KeyKind::own: return &ownKey;
            case KeyKind::other: return &otherKey;
            case KeyKind::dynamicNeverBuilt: dynamicKey.built = false; return &dynamicKey;
            case KeyKind::dynamicBuilt: dynamicKey.built = true; return &dynamicKey;
        }
        return nullptr;
    }

    TableObject table;
    TableObject other;
    KeyDescriptor ownKey;
    KeyDescriptor dynamicKey;
    KeyDescriptor otherKey;
};

constexpr uint32_t kOpenReadOnly = kStateOpen;
constexpr uint32_t kOpenShared = kStateOpen | kStateWriteAccess;
constexpr uint32_t kOpenExclusive = kStateOpen | kStateWriteAccess | kStateExclusive;

const std::vector<CheckCase>& checkCases() {
    static const std::vector<CheckCase> cases = {
        {"NEXT before any SET", kNEXT, kOpenShared, kRecordNotAvailable},
        {"NEXT after SET", kNEXT, kOpenShared | kStateSequenceSet, 0},
        {"NEXT on a closed table", kNEXT, 0, kFileNotOpen},
        {"DELETE without a current record", kDELETE, kOpenShared, kRecordNotAvailable},
        {"DELETE read-only with a current record", kDELETE, kOpenReadOnly | kStateCurrentRecord,
         kAccessDenied},
        {"DELETE with write access and a current record", kDELETE,
         kOpenShared | kStateCurrentRecord, 0},
        {"ADD read-only", kADD, kOpenReadOnly, kAccessDenied},
        {"BUILDkey on a shared read/write table", kBUILDkey, kOpenShared, kExclusiveAccessRequired,
         KeyKind::own},
        {"BUILDkey on a closed table goes ahead", kBUILDkey, 0, 0, KeyKind::own},
        {"BUILDfile on a closed table goes ahead", kBUILDfile, 0, 0},
        {"PACK on a closed table goes ahead", kPACK, 0, 0},
        {"BUILDevent on a closed table goes ahead", kBUILDevent, 0, 0},
        {"BUILDkey exclusive", kBUILDkey, kOpenExclusive, 0, KeyKind::own},
        {"OPEN twice", kOPEN, kOpenReadOnly, kFileAlreadyOpen},
        {"SHARE on an open table", kSHARE, kOpenReadOnly, kFileAlreadyOpen},
        {"CREATE on an open table", kCREATE, kOpenReadOnly, kFileAlreadyOpen},
        {"COPY on an open table", kCOPY, kOpenReadOnly, kFileAlreadyOpen},
        {"RENAME on an open table", kRENAME, kOpenReadOnly, kFileAlreadyOpen},
        {"REMOVE on an open table", kREMOVE, kOpenReadOnly, kFileAlreadyOpen},
        {"CREATE on a closed table", kCREATE, 0, 0},
        {"LOGOUT", kLOGOUT, kOpenShared, 0},
        {"LOGOUT twice", kLOGOUT, kOpenShared | kStateLogout, kLogoutAlreadyActive},
        {"CLOSE inside a transaction", kCLOSE, kOpenShared | kStateLogout, kLogoutAlreadyActive},
        {"EMPTY inside a transaction", kEMPTY, kOpenExclusive | kStateLogout,
         kLogoutAlreadyActive},
        {"PACK inside a transaction", kPACK, kOpenExclusive | kStateLogout, kLogoutAlreadyActive},
        {"UNLOCK inside a transaction", kUNLOCK, kOpenShared | kStateLocked | kStateLogout,
         kLogoutAlreadyActive},
        {"EMPTY outside a transaction but shared", kEMPTY, kOpenShared, kExclusiveAccessRequired},
        {"REGETfile with four blanks", kREGETfile, kOpenShared, kRecordNotFound, KeyKind::none,
         std::string("    ")},
        {"REGETfile with an empty position", kREGETfile, kOpenShared, kRecordNotFound,
         KeyKind::none, std::string()},
        {"REGETfile without a position", kREGETfile, kOpenShared, kRecordNotFound},
        {"REGETfile with a position", kREGETfile, kOpenShared, 0, KeyKind::none,
         std::string("  1 ")},
        {"REGETkey with blanks", kREGETkey, kOpenShared, kRecordNotFound, KeyKind::own,
         std::string(" ")},
        {"RESETfile with blanks", kRESETfile, kOpenShared, kRecordNotFound, KeyKind::none,
         std::string("  ")},
        {"RESETkey without a position", kRESETkey, kOpenShared, kRecordNotFound, KeyKind::own},
        {"REGETfile on a closed table", kREGETfile, 0, kFileNotOpen, KeyKind::none,
         std::string("    ")},
        {"NEXT during an event build", kNEXT, kOpenExclusive | kStateSequenceSet | kStateEventBuild,
         kBuildInProgress},
        {"NAME during an event build", kNAME, kOpenExclusive | kStateEventBuild, 0},
        {"CLOSE during an event build", kCLOSE, kOpenExclusive | kStateEventBuild, 0},
        {"GET_PROPERTY during an event build", kGETPROPERTY, kOpenExclusive | kStateEventBuild, 0},
        {"BUILDevent during an event build", kBUILDevent, kOpenExclusive | kStateEventBuild, 0},
        {"GETPROPERTYkey during an event build", kGETPROPERTYkey,
         kOpenExclusive | kStateEventBuild, 0, KeyKind::own},
        {"SET during an event build", kSETfile, kOpenExclusive | kStateEventBuild,
         kBuildInProgress},
        {"NEXT without SET during an event build", kNEXT, kOpenExclusive | kStateEventBuild,
         kRecordNotAvailable},
        {"SETkey on a dynamic index never built", kSETkey, kOpenShared, kKeyFileMustBeRebuilt,
         KeyKind::dynamicNeverBuilt},
        {"SETkey on a built dynamic index", kSETkey, kOpenShared, 0, KeyKind::dynamicBuilt},
        {"SETkey on a closed table with a dynamic index never built", kSETkey, 0, kFileNotOpen,
         KeyKind::dynamicNeverBuilt},
        {"BUILDdyn on a dynamic index never built", kBUILDdyn, kOpenShared, 0,
         KeyKind::dynamicNeverBuilt},
        {"SETkey on an ordinary key", kSETkey, kOpenShared, 0, KeyKind::own},
        {"LOCKfile on a locked table", kLOCKfile, kOpenShared | kStateLocked, -1},
        {"LOCKfilesec on a locked table", kLOCKfilesec, kOpenShared | kStateLocked, -1},
        {"LOCKfile on an unlocked table", kLOCKfile, kOpenShared, 0},
        {"STREAM while streaming", kSTREAM, kOpenShared | kStateStream, -1},
        {"STREAM", kSTREAM, kOpenShared, 0},
        {"UNLOCK on an unlocked open table", kUNLOCK, kOpenShared, -1},
        {"UNLOCK on a closed table", kUNLOCK, 0, kFileNotOpen},
        {"COMMIT without a transaction", kCOMMIT, kOpenShared, -1},
        {"ROLLBACK without a transaction", kROLLBACK, kOpenShared, -1},
        {"COMMIT in a transaction", kCOMMIT, kOpenShared | kStateLogout, 0},
        {"COMMIT on a closed table", kCOMMIT, 0, kFileNotOpen},
        {"code -1", -1, kOpenShared, kUnsupportedFunction},
        {"code 0", 0, kOpenShared, kUnsupportedFunction},
        {"code 109", 109, kOpenShared, kUnsupportedFunction},
        {"code 1000 on a closed table", 1000, 0, kUnsupportedFunction},
        {"code 108", 108, 0, 0},
        {"key of another table", kSETkey, kOpenShared, kInvalidKeyFile, KeyKind::other},
        {"key of another table on a closed table", kSETkey, 0, kInvalidKeyFile, KeyKind::other},
        {"key of another table with a bad code", 200, 0, kInvalidKeyFile, KeyKind::other},
        {"NAME on a closed table", kNAME, 0, 0},
        {"DESTROY on a closed table", kDESTROY, 0, 0},
        {"POINTERfile without a current record", kPOINTERfile, kOpenShared, kRecordNotAvailable},
        {"BOF on a closed table", kBOF, 0, kFileNotOpen},
        {"COUNTRECORDS on a closed table", kCOUNTRECORDS, 0, kFileNotOpen},
    };
    return cases;
}

TEST(StateRulesTest, checkGivesTheCodeOfEachCase) {
    for (const CheckCase& c : checkCases()) {
        Tables tables;
        tables.table.stateWord = c.state;
        tables.table.afterFlags = 0x37;
        int got = checkState(tables.table, tables.keyOf(c.key), c.operation, c.position);
        EXPECT_EQ(got, c.expected) << c.what;
        EXPECT_EQ(tables.table.afterFlags, 0u) << c.what << ": the check resets the after flags";
        EXPECT_EQ(tables.table.stateWord, c.state) << c.what << ": the check changes no state";
    }
}

// The state word after a check and an update with the given error, from a starting word.
uint32_t afterUpdate(Tables& tables, uint32_t state, int operation, int error,
                     KeyKind key = KeyKind::none) {
    tables.table.stateWord = state;
    updateState(tables.table, tables.keyOf(key), operation, error);
    return tables.table.stateWord;
}

TEST(StateRulesTest, lockThenUnlockKeepsTheExclusiveBit) {
    Tables tables;
    tables.table.stateWord = kOpenShared;
    ASSERT_EQ(checkState(tables.table, nullptr, kLOCKfile, std::nullopt), 0);
    updateState(tables.table, nullptr, kLOCKfile, 0);
    EXPECT_EQ(tables.table.stateWord, kOpenShared | kStateLocked | kStateExclusive);
    ASSERT_EQ(checkState(tables.table, nullptr, kUNLOCK, std::nullopt), 0);
    updateState(tables.table, nullptr, kUNLOCK, 0);
    EXPECT_EQ(tables.table.stateWord, kOpenShared | kStateExclusive);
    // A second LOCKfile then has nothing to do only while the lock is held.
    EXPECT_EQ(checkState(tables.table, nullptr, kLOCKfile, std::nullopt), 0);
}

TEST(StateRulesTest, failedSetFilePointerKeepsTheSequenceBitOnly) {
    Tables tables;
    uint32_t set = kOpenShared | kStateSequenceSet | kStateSequenceUndisturbed;
    EXPECT_EQ(afterUpdate(tables, kOpenShared, kSETfileptr, 0), set);
    EXPECT_EQ(afterUpdate(tables, set, kSETfileptr, kRecordNotFound),
              kOpenShared | kStateSequenceSet);
    EXPECT_EQ(afterUpdate(tables, set, kSETfile, kRecordNotFound), kOpenShared);
    EXPECT_EQ(afterUpdate(tables, set, kSETkey, kRecordNotFound, KeyKind::own), kOpenShared);
}

TEST(StateRulesTest, watchMarksOneReadAndAFailureClearsBothBits) {
    Tables tables;
    uint32_t reading = kOpenShared | kStateSequenceSet | kStateSequenceUndisturbed;
    uint32_t armed = afterUpdate(tables, reading, kWATCH, 0);
    EXPECT_EQ(armed, reading | kStateWatchArmed);
    uint32_t watched = afterUpdate(tables, armed, kNEXT, 0);
    EXPECT_EQ(watched, reading | kStateCurrentRecord | kStateWatched);
    uint32_t plain = afterUpdate(tables, watched, kNEXT, 0);
    EXPECT_EQ(plain, reading | kStateCurrentRecord);
    // A failed read clears both WATCH bits (and the sequence bits NEXT clears on failure).
    uint32_t failed =
        afterUpdate(tables, reading | kStateCurrentRecord | kStateWatchArmed | kStateWatched,
                    kNEXT, kRecordNotFound);
    EXPECT_EQ(failed, kOpenShared);
    // So does any failure, even of an operation that clears nothing else on failure.
    EXPECT_EQ(afterUpdate(tables, kOpenShared | kStateWatchArmed | kStateWatched, kGETfileptr,
                          kRecordNotFound),
              kOpenShared);
    EXPECT_EQ(afterUpdate(tables, kOpenShared | kStateWatchArmed, kREGETfile, -1), kOpenShared);
    // A read by record number after WATCH is watched, too.
    EXPECT_EQ(afterUpdate(tables, kOpenShared | kStateWatchArmed, kGETfileptr, 0),
              kOpenShared | kStateCurrentRecord | kStateWatched);
    // ADD and PUT drop the watched mark.
    EXPECT_EQ(afterUpdate(tables, kOpenShared | kStateCurrentRecord | kStateWatched, kPUT, 0),
              kOpenShared | kStateCurrentRecord);
}

TEST(StateRulesTest, holdMarksTheRecordReadAndReleaseDropsIt) {
    Tables tables;
    uint32_t armed = afterUpdate(tables, kOpenShared, kHOLDfile, 0);
    EXPECT_EQ(armed, kOpenShared | kStateHoldArmed);
    uint32_t held = afterUpdate(tables, armed, kGETfileptr, 0);
    EXPECT_EQ(held, kOpenShared | kStateCurrentRecord | kStateHeld);
    EXPECT_EQ(afterUpdate(tables, held, kGETfileptr, 0), kOpenShared | kStateCurrentRecord);
    EXPECT_EQ(afterUpdate(tables, held, kRELEASE, 0), kOpenShared | kStateCurrentRecord);
}

TEST(StateRulesTest, closeClearsTheWholeWordAndOpenSetsTheOpenBit) {
    Tables tables;
    uint32_t busy = kOpenExclusive | kStateLocked | kStateSequenceSet | kStateCurrentRecord |
                    kStateHoldArmed | kStateBuildRequest;
    EXPECT_EQ(afterUpdate(tables, busy, kCLOSE, 0), 0u);
    EXPECT_EQ(tables.table.afterFlags, 0x0003u);
    EXPECT_EQ(afterUpdate(tables, busy, kCLOSE, kFileSystemError), busy);
    EXPECT_EQ(afterUpdate(tables, 0, kOPEN, 0), kOpenReadOnly);
    EXPECT_EQ(afterUpdate(tables, 0, kSHARE, 0), kOpenReadOnly);
    EXPECT_EQ(afterUpdate(tables, 0, kOPEN, kFileNotFound), 0u);
}

TEST(StateRulesTest, eventBuildLetsNameAndCloseThroughAndCloseEndsIt) {
    Tables tables;
    uint32_t building = kOpenExclusive | kStateSequenceSet | kStateEventBuild;
    tables.table.stateWord = building;
    EXPECT_EQ(checkState(tables.table, nullptr, kNEXT, std::nullopt), kBuildInProgress);
    updateState(tables.table, nullptr, kNEXT, kBuildInProgress);
    // The refused NEXT still counts as a failed read: the sequence is disturbed.
    EXPECT_EQ(tables.table.stateWord, kOpenExclusive | kStateEventBuild);
    EXPECT_EQ(checkState(tables.table, nullptr, kNAME, std::nullopt), 0);
    updateState(tables.table, nullptr, kNAME, 0);
    EXPECT_EQ(checkState(tables.table, nullptr, kCLOSE, std::nullopt), 0);
    updateState(tables.table, nullptr, kCLOSE, 0);
    EXPECT_EQ(tables.table.stateWord, 0u);
}

TEST(StateRulesTest, buildingADynamicIndexMarksItBuilt) {
    Tables tables;
    KeyDescriptor* key = tables.keyOf(KeyKind::dynamicNeverBuilt);
    tables.table.stateWord = kOpenShared;
    EXPECT_EQ(checkState(tables.table, key, kSETkey, std::nullopt), kKeyFileMustBeRebuilt);
    EXPECT_EQ(checkState(tables.table, key, kRECORDSkey, std::nullopt), kKeyFileMustBeRebuilt);
    // A failed build leaves it unbuilt.
    ASSERT_EQ(checkState(tables.table, key, kBUILDdyn, std::nullopt), 0);
    updateState(tables.table, key, kBUILDdyn, kInvalidIndexString);
    EXPECT_FALSE(key->built);
    ASSERT_EQ(checkState(tables.table, key, kBUILDdyn, std::nullopt), 0);
    updateState(tables.table, key, kBUILDdyn, 0);
    EXPECT_TRUE(key->built);
    // The built bit belongs to the key; it never enters the state word.
    EXPECT_EQ(tables.table.stateWord, kOpenShared);
    EXPECT_EQ(checkState(tables.table, key, kSETkey, std::nullopt), 0);
    updateState(tables.table, key, kSETkey, 0);
    EXPECT_EQ(tables.table.stateWord,
              kOpenShared | kStateSequenceSet | kStateSequenceUndisturbed);
    // BUILDdynfilter marks it built as well; an ordinary key never gets the mark.
    key->built = false;
    updateState(tables.table, key, kBUILDdynfilter, 0);
    EXPECT_TRUE(key->built);
    KeyDescriptor* ordinary = tables.keyOf(KeyKind::own);
    updateState(tables.table, ordinary, kBUILDdyn, 0);
    EXPECT_FALSE(ordinary->built);
}

TEST(StateRulesTest, updateSetsTheAfterFlagsOnlyOnSuccess) {
    Tables tables;
    tables.table.stateWord = kOpenShared | kStateSequenceSet;
    updateState(tables.table, nullptr, kNEXT, 0);
    EXPECT_EQ(tables.table.afterFlags, 0x0015u);
    tables.table.afterFlags = 0;
    updateState(tables.table, nullptr, kNEXT, kRecordNotFound);
    EXPECT_EQ(tables.table.afterFlags, 0u);
    updateState(tables.table, nullptr, kSETfile, 0);
    EXPECT_EQ(tables.table.afterFlags, 0x0025u);
}

TEST(StateRulesTest, codesOutsideTheTableChangeNothing) {
    for (int operation : {-1000, -1, 0, 109, 4096}) {
        Tables tables;
        uint32_t busy = kOpenShared | kStateSequenceSet | kStateWatchArmed | kStateWatched;
        tables.table.stateWord = busy;
        tables.table.afterFlags = 0;
        updateState(tables.table, nullptr, operation, 0);
        EXPECT_EQ(tables.table.stateWord, busy) << operation;
        updateState(tables.table, nullptr, operation, kUnsupportedFunction);
        EXPECT_EQ(tables.table.stateWord, busy) << operation;
        EXPECT_EQ(tables.table.afterFlags, 0u) << operation;
    }
}

bool operator==(const RuleRow& a, const RuleRow& b) {
    return a.after == b.after && a.required == b.required && a.forbidden == b.forbidden &&
           a.set == b.set && a.clear == b.clear && a.clearOnFailure == b.clearOnFailure;
}

TEST(StateRulesTest, rowsHoldTheirHexadecimalValues) {
    struct Row {
        int operation;
        RuleRow row;
    };
    const Row rows[] = {
        {kADD, {0x0011, 0x0041, 0, 0x0002, 0x1400, 0}},
        {kNEXT, {0x0015, 0x0021, 0, 0x0002, 0x0A00, 0x2022}},
        {kSETfileptr, {0x0025, 0x0001, 0, 0x2020, 0, 0x2020}},
        {kCLOSE, {0x0003, 0x0001, 0x0004, 0, 0x0101, 0}},
        {kBUILDevent, {0x0001, 0x00C0, 0x0004, 0, 0, 0x2022}},
        {kUNLOCK, {0x0001, 0x0011, 0x0004, 0, 0x0010, 0}},
        {kPACK, {0x0001, 0x00C0, 0x0004, 0, 0x0022, 0x2022}},
        {kSKIP, {0x0015, 0x0021, 0, 0, 0x0002, 0x2022}},
        {kGETfilekey, {0x0011, 0x0101, 0, 0x0002, 0x0A00, 0x0002}},
        {kINVIEW, {0x0001, 0x0001, 0x0100, 0x0100, 0, 0}},
        {kSETview, {0x0005, 0x0001, 0, 0x0020, 0, 0x0020}},
        {kCOUNTRECORDS, {0, 0x0001, 0, 0, 0, 0}},
        {108, {0x0001, 0, 0, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        EXPECT_TRUE(ruleRow(row.operation) == row.row) << operationName(row.operation);
    }
    // Operations without a row, and codes outside the table, have all-zero rows.
    const RuleRow zero{};
    const std::initializer_list<int> withoutRow = {
        kNAME,         kSTARTRAN,    kENDTRAN,    kGETPROPERTY, kQUERYVIEW, kCLEAR,
        kGETPROPERTYkey, kInternal87, kInternal91, kGETSTATE,  kRESTORESTATE, kInternal100,
        101,           kFREESTATE,   kSQLCALLBACK, kDESTROY,    105,        106,
        107,           -1,           0,           109};
    for (int operation : withoutRow) {
        EXPECT_TRUE(ruleRow(operation) == zero) << operation;
    }
}

}  // namespace
}  // namespace vellum
