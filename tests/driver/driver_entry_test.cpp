// The driver entry called directly through the file layer with hand-made control blocks: the
// operations it answers itself (QUERY_VIEW, OPEN, CLOSE, DESTROY, CREATE, NAME, SEND, BOF/EOF,
// CLEAR, COUNTRECORDS, LOCKfile, LOCKfilesec, FLUSH), attaching, rebuilding and renewing table
// objects, the flush after every operation, the poisoned table after a fatal error, the driver
// descriptor, and bad input that must be refused without touching the disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/driver_descriptor.h"
#include "driver/driver_entry.h"
#include "driver/driver_fixture.h"
#include "driver/state_rules.h"
#include "filelayer/file_layer.h"
#include "filelayer/handle_registry.h"
#include "pagestore/page_file.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "vellum/byte_order.h"
#include "vellum/error_codes.h"
#include "vellum/operation_codes.h"

namespace vellum {
namespace {

using test::CallResult;
using test::DriverTable;
using test::TempDir;

constexpr int kReadOnly = 0x00;
constexpr int kReadWriteShared = 0x42;

size_t filesIn(const std::string& directory) {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) {
        ++count;
    }
    return count;
}

// Posts an error through a failing call on a table of its own, so that a later call can be
// seen to leave the thread's error state as it was.
void postSomeError(DriverTable& bystander) {
    CallResult result = bystander.call(kBOF);
    ASSERT_EQ(result.error, kFileNotOpen);
}

class DriverEntryTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return dir_.file(name); }
    const std::string& directory() const { return dir_.path(); }

    TempDir dir_;
};

// QUERY_VIEW ------------------------------------------------------------------------------

TEST_F(DriverEntryTest, queryViewAnswersZeroAndLeavesTheErrorStateWithoutATableObject) {
    DriverTable bystander(path("other.vlm"));
    DriverTable table(path("t.vlm"));
    postSomeError(bystander);
    FileControlBlock* errorBlock = errorFile();
    ArgumentSlot slots[4] = {};
    EXPECT_EQ(callDriver(kQUERYVIEW, &table.block(), slots), 0);
    EXPECT_EQ(errorCode(), kFileNotOpen);
    EXPECT_EQ(errorFile(), errorBlock);
    EXPECT_EQ(table.table(), nullptr) << "QUERY_VIEW attaches no table object";
}

TEST_F(DriverEntryTest, queryViewAnswersZeroAndLeavesTheErrorStateWithATableObject) {
    DriverTable bystander(path("other.vlm"));
    DriverTable table(path("t.vlm"));
    ASSERT_EQ(table.createAndOpen(), 0);
    uint32_t state = table.state();
    postSomeError(bystander);
    ArgumentSlot slots[4] = {};
    EXPECT_EQ(callDriver(kQUERYVIEW, &table.block(), slots), 0);
    EXPECT_EQ(errorCode(), kFileNotOpen);
    EXPECT_EQ(errorFile(), &bystander.block());
    EXPECT_EQ(table.state(), state);
}

// CLOSE and DESTROY without a table object ------------------------------------------------

TEST_F(DriverEntryTest, closeAndDestroyOfABlockWithoutTableObjectSucceedWithoutAttaching) {
    DriverTable table(path("t.vlm"));
    CallResult closed = table.call(kCLOSE);
    EXPECT_EQ(closed.error, 0);
    EXPECT_EQ(closed.value, 0);
    EXPECT_EQ(table.table(), nullptr);
    CallResult destroyed = table.call(kDESTROY);
    EXPECT_EQ(destroyed.error, 0);
    EXPECT_EQ(table.table(), nullptr);
    EXPECT_EQ(table.block().statusRecord, nullptr);
    EXPECT_EQ(filesIn(directory()), 0u);
}

TEST_F(DriverEntryTest, destroyClosesTheTableAndFreesTheStatusRecord) {
    DriverTable table(path("t.vlm"));
    ASSERT_EQ(table.createAndOpen(), 0);
    ASSERT_NE(table.block().statusRecord, nullptr);
    EXPECT_EQ(table.call(kDESTROY).error, 0);
    EXPECT_EQ(table.table(), nullptr);
    EXPECT_EQ(table.block().statusRecord, nullptr);
    EXPECT_EQ(table.key(0).keyDescriptor, nullptr);
    // The block can be used again: the next operation attaches a fresh table object.
    EXPECT_EQ(table.call(kOPEN, {kReadOnly}).error, 0);
    EXPECT_NE(table.table(), nullptr);
    EXPECT_TRUE(table.table()->isOpen());
}

// OPEN and SHARE --------------------------------------------------------------------------

TEST_F(DriverEntryTest, openWithoutANameFailsWith45AndStaysClosed) {
    DriverTable table(path("t.vlm"));
    table.setAbsentName();
    EXPECT_EQ(table.call(kOPEN, {kReadOnly}).error, kInvalidFilename);
    ASSERT_NE(table.table(), nullptr);
    EXPECT_FALSE(table.table()->isOpen());
    EXPECT_EQ(table.state() & kStateOpen, 0u);
    EXPECT_EQ(table.call(kSHARE, {kReadWriteShared}).error, kInvalidFilename);
    EXPECT_EQ(table.state(), 0u);
}

TEST_F(DriverEntryTest, openWithANameOfBlanksFailsWith45AndStaysClosed) {
    for (bool counted : {false, true}) {
        DriverTable table(path("t.vlm"));
        if (counted) {
            table.setCountedName("      ");
        } else {
            table.setName("      ");
        }
        EXPECT_EQ(table.call(kOPEN, {kReadOnly}).error, kInvalidFilename) << counted;
        EXPECT_FALSE(table.table()->isOpen());
        EXPECT_EQ(table.state(), 0u);
        EXPECT_EQ(table.block().statusRecord, nullptr);
    }
    EXPECT_EQ(filesIn(directory()), 0u);
}

TEST_F(DriverEntryTest, openSetsTheAccessBitsAndTheStatusRecord) {
    DriverTable table(path("t.vlm"));
    ASSERT_EQ(table.call(kCREATE).error, 0);
    ASSERT_EQ(table.block().statusRecord, nullptr);

    ASSERT_EQ(table.call(kOPEN, {kReadOnly}).error, 0);
    ASSERT_NE(table.block().statusRecord, nullptr);
    EXPECT_EQ(table.block().statusRecord->accessMode, 64);
    EXPECT_EQ(table.state(), kStateOpen);
    EXPECT_EQ(table.table()->accessMode, 0);
    ASSERT_EQ(table.call(kCLOSE).error, 0);
    EXPECT_EQ(table.block().statusRecord->accessMode, 0);
    EXPECT_EQ(table.state(), 0u);

    ASSERT_EQ(table.call(kOPEN, {kReadWriteShared}).error, 0);
    EXPECT_EQ(table.block().statusRecord->accessMode, kReadWriteShared);
    EXPECT_EQ(table.state(), kStateOpen | kStateWriteAccess);
    ASSERT_EQ(table.call(kCLOSE).error, 0);

    // Deny all and deny write make the access exclusive.
    ASSERT_EQ(table.call(kSHARE, {0x12}).error, 0);
    EXPECT_EQ(table.block().statusRecord->accessMode, 0x12);
    EXPECT_EQ(table.state(), kStateOpen | kStateWriteAccess | kStateExclusive);
    ASSERT_EQ(table.call(kCLOSE).error, 0);
    ASSERT_EQ(table.call(kOPEN, {0x20}).error, 0);
    EXPECT_EQ(table.state(), kStateOpen | kStateExclusive);
    ASSERT_EQ(table.call(kCLOSE).error, 0);
    EXPECT_EQ(table.block().statusRecord->accessMode, 0);
}

TEST_F(DriverEntryTest, openForWritingOnlyIsRefusedWith5) {
    DriverTable table(path("t.vlm"));
    ASSERT_EQ(table.call(kCREATE).error, 0);
    EXPECT_EQ(table.call(kOPEN, {0x41}).error, kAccessDenied);
    EXPECT_FALSE(table.table()->isOpen());
    EXPECT_EQ(table.state(), 0u);
    EXPECT_EQ(table.block().statusRecord, nullptr);
    EXPECT_EQ(table.call(kOPEN, {0x01}).error, kAccessDenied);
}

TEST_F(DriverEntryTest, openTwiceFailsWith52) {
    DriverTable table(path("t.vlm"));
    ASSERT_EQ(table.createAndOpen(), 0);
    EXPECT_EQ(table.call(kOPEN, {kReadOnly}).error, kFileAlreadyOpen);
    EXPECT_EQ(table.call(kCREATE).error, kFileAlreadyOpen);
    EXPECT_TRUE(table.table()->isOpen());
}

TEST_F(DriverEntryTest, openOfAMissingFileFailsAndCreatesNothing) {
    DriverTable table(path("missing.vlm"));
    EXPECT_EQ(table.call(kOPEN, {kReadWriteShared}).error, kFileNotFound);
    EXPECT_FALSE(table.table()->isOpen());
    EXPECT_EQ(filesIn(directory()), 0u);
}

// CREATE --------------------------------------------------------------------------------

TEST_F(DriverEntryTest, createWithoutTheCreateAttributeFailsAndRenewsTheTableObject) {
    DriverTable table(path("t.vlm"), /*attributes=*/0);
    CallResult created = table.call(kCREATE);
    EXPECT_EQ(created.error, kNoCreateAttribute);
    EXPECT_EQ(errorFile(), &table.block());
    EXPECT_EQ(filesIn(directory()), 0u) << "nothing is created";
    ASSERT_NE(table.table(), nullptr);
    EXPECT_TRUE(table.table()->stale);
    // Mark the old table object so that its successor can be told from it even when the
    // allocator hands out the same address again.
    table.table()->lastSequentialOperation = 4711;
    TableObject* old = table.table();
    KeyDescriptor* oldKey = table.key(0).keyDescriptor;
    ASSERT_EQ(oldKey->table, old);

    CallResult name = table.call(kNAME);
    EXPECT_EQ(name.error, 0);
    ASSERT_NE(table.table(), nullptr);
    EXPECT_FALSE(table.table()->stale);
    EXPECT_EQ(table.table()->lastSequentialOperation, 0);
    EXPECT_EQ(table.key(0).keyDescriptor->table, table.table());
    EXPECT_EQ(name.text, path("t.vlm"));
}

TEST_F(DriverEntryTest, aDeclarationThatDoesNotMatchFailsWith47AndRenewsTheTableObject) {
    {
        DriverTable creator(path("t.vlm"));
        ASSERT_EQ(creator.call(kCREATE).error, 0);
    }
    DriverTable table(path("t.vlm"), kAttributeCreate, {{"T:IdKey", {1}, kKeyDup}});
    EXPECT_EQ(table.call(kOPEN, {kReadOnly}).error, kInvalidRecordDeclaration);
    ASSERT_NE(table.table(), nullptr);
    EXPECT_FALSE(table.table()->isOpen());
    EXPECT_TRUE(table.table()->stale);
    table.table()->lastSequentialOperation = 4711;
    EXPECT_EQ(table.call(kNAME).error, 0);
    EXPECT_FALSE(table.table()->stale);
    EXPECT_EQ(table.table()->lastSequentialOperation, 0);
}

TEST_F(DriverEntryTest, aChangedDeclarationRebuildsTheDescriptorsAtTheNextCall) {
    DriverTable table(path("t.vlm"));
    ASSERT_EQ(table.call(kNAME).error, 0);
    TableObject* object = table.table();
    ASSERT_EQ(object->definition.keys.size(), 2u);
    table.block().keyCount = 1;
    markDeclarationChanged(&table.block());
    EXPECT_TRUE(object->reload);
    EXPECT_EQ(table.call(kNAME).error, 0);
    EXPECT_EQ(table.table(), object);
    EXPECT_FALSE(object->reload);
    EXPECT_EQ(object->definition.keys.size(), 1u);
    EXPECT_EQ(table.key(0).keyDescriptor->table, object);

    // A declaration that no longer builds ends the call with its error and takes the table
    // object away.
    table.block().keyCount = 2;
    FieldDeclaration broken[1];
    broken[0].type = kLong;
    table.block().fields = broken;
    markDeclarationChanged(&table.block());
    EXPECT_EQ(table.call(kNAME).error, kInvalidFieldTypeDescriptor);
    EXPECT_EQ(table.table(), nullptr);
    EXPECT_EQ(table.key(0).keyDescriptor, nullptr);
    EXPECT_EQ(table.key(1).keyDescriptor, nullptr);
    table.block().fields = nullptr;
}

TEST_F(DriverEntryTest, clearFillsTheRecordBuffer) {
    DriverTable table(path("t.vlm"));
    std::vector<uint8_t>& record = table.record();
    auto id = [&] {
        int32_t value;
        std::memcpy(&value, record.data(), 4);
        return value;
    };
    auto name = [&] { return std::string(record.begin() + 4, record.begin() + 24); };
    std::fill(record.begin(), record.end(), uint8_t{0x5A});
    EXPECT_EQ(table.call(kCLEAR, {0}).error, 0);
    EXPECT_EQ(id(), 0);
    EXPECT_EQ(name(), std::string(20, ' '));
    EXPECT_EQ(table.call(kCLEAR, {1}).error, 0);
    EXPECT_EQ(id(), INT32_MAX);
    EXPECT_EQ(name(), std::string(20, '\xFF'));
    EXPECT_EQ(table.call(kCLEAR, {static_cast<ArgumentSlot>(-1)}).error, 0);
    EXPECT_EQ(id(), INT32_MIN);
    EXPECT_EQ(name(), std::string(20, '\0'));
    EXPECT_EQ(record.size(), DriverTable::kRecordLength);
}

TEST_F(DriverEntryTest, createWithABlankNameFailsWith45AndCreatesNothing) {
    DriverTable table(path("t.vlm"));
    table.setName("   ");
    EXPECT_EQ(table.call(kCREATE).error, kInvalidFilename);
    EXPECT_EQ(filesIn(directory()), 0u);
}

// Operation codes and keys ----------------------------------------------------------------

TEST_F(DriverEntryTest, codesOutsideTheTableFailWith80AndChangeNoState) {
    DriverTable table(path("t.vlm"));
    ASSERT_EQ(table.createAndOpen(), 0);
    ASSERT_EQ(table.call(kLOCKfile).error, 0);
    TableObject* object = table.table();
    uint32_t state = table.state();
    for (int32_t operation : {-1, -100000, 109, 110, 255, 100000}) {
        CallResult result = table.call(operation);
        EXPECT_EQ(result.error, kUnsupportedFunction) << operation;
        EXPECT_EQ(result.value, 0) << operation;
        EXPECT_EQ(table.table(), object) << operation;
        EXPECT_EQ(table.state(), state) << operation;
    }
    EXPECT_TRUE(table.table()->isOpen());
    EXPECT_EQ(table.table()->pageFile()->userLockCount(), 1u);
    EXPECT_EQ(table.call(kNAME).text, path("t.vlm"));
}

TEST_F(DriverEntryTest, codesOutsideTheTableOnAFreshBlockFailWith80) {
    DriverTable table(path("t.vlm"));
    EXPECT_EQ(table.call(-1).error, kUnsupportedFunction);
    EXPECT_EQ(table.call(109).error, kUnsupportedFunction);
    EXPECT_EQ(table.state(), 0u);
    EXPECT_EQ(filesIn(directory()), 0u);
}

// Operation 107 attaches a bare table object only for itself; a table object the block already
// has, open or not, must survive it.
TEST_F(DriverEntryTest, operation107LeavesAnAttachedTableObjectAlone) {
    DriverTable table(path("t.vlm"));
    ASSERT_EQ(table.createAndOpen(), 0);
    TableObject* object = table.table();
    uint32_t state = table.state();
    EXPECT_EQ(table.call(107).error, kUnsupportedFunction);
    EXPECT_EQ(table.table(), object);
    ASSERT_NE(table.table(), nullptr);
    EXPECT_TRUE(table.table()->isOpen());
    EXPECT_EQ(table.state(), state);
    EXPECT_NE(table.key(0).keyDescriptor, nullptr);
    EXPECT_EQ(table.call(kCLOSE).error, 0);
}

TEST_F(DriverEntryTest, operation107OnAFreshBlockLeavesNoTableObject) {
    DriverTable table(path("t.vlm"));
    EXPECT_EQ(table.call(107).error, kUnsupportedFunction);
    EXPECT_EQ(table.table(), nullptr);
}

TEST_F(DriverEntryTest, aKeyOfAnotherTableFailsWith38) {
    DriverTable table(path("t.vlm"));
    DriverTable other(path("u.vlm"));
    ASSERT_EQ(table.createAndOpen(), 0);
    ASSERT_EQ(other.call(kNAME).error, 0);  // attaches other's table object and key descriptors
    ASSERT_NE(other.key(0).keyDescriptor, nullptr);
    uint32_t state = table.state();
    CallResult result = table.callKey(kSETkey, other.key(0));
    EXPECT_EQ(result.error, kInvalidKeyFile);
    EXPECT_EQ(errorFile(), &table.block());
    EXPECT_EQ(table.state(), state & ~uint32_t{kStateSequenceSet | kStateSequenceUndisturbed});
    // The table's own key passes the check (and then meets the table store).
    EXPECT_NE(table.callKey(kSETkey, table.key(0)).error, kInvalidKeyFile);
}

TEST_F(DriverEntryTest, aDynamicIndexNeverBuiltRefusesSetKeyWith46) {
    DriverTable table(path("t.vlm"));
    ASSERT_EQ(table.createAndOpen(), 0);
    EXPECT_EQ(table.callKey(kSETkey, table.key(1)).error, kKeyFileMustBeRebuilt);
    EXPECT_EQ(table.callKey(kRECORDSkey, table.key(1)).error, kKeyFileMustBeRebuilt);
}

// NAME --------------------------------------------------------------------------------

TEST_F(DriverEntryTest, nameOfAClosedTableKeepsTheTrailingBlanksOfACountedName) {
    DriverTable table(path("t.vlm"));
    table.setCountedName(path("t.vlm") + "   ");
    CallResult name = table.call(kNAME);
    EXPECT_EQ(name.error, 0);
    EXPECT_EQ(name.text, path("t.vlm") + "   ");
    table.setName(path("t.vlm") + "\\!People");
    EXPECT_EQ(table.call(kNAME).text, path("t.vlm") + "\\!People");
}

TEST_F(DriverEntryTest, nameOfAnOpenTableIsItsFullName) {
    DriverTable table(path("t") + "\\!people");
    ASSERT_EQ(table.createAndOpen(), 0);
    EXPECT_EQ(table.call(kNAME).text, path("t.VLM") + "\\!PEOPLE");
    ASSERT_EQ(table.call(kCLOSE).error, 0);
    EXPECT_EQ(table.call(kNAME).text, path("t") + "\\!people");
}

// SEND ----------------------------------------------------------------------------------

TEST_F(DriverEntryTest, sendRegisterGivesTheDescriptorHandleAsTextAndValue) {
    DriverTable table(path("t.vlm"));
    CallResult result = table.call(kSEND, {}, {"register"});
    EXPECT_EQ(result.error, 0);
    ASSERT_FALSE(result.text.empty());
    EXPECT_EQ(std::to_string(static_cast<uint32_t>(result.value)), result.text);
    EXPECT_EQ(objectOf(result.text, HandleKind::driverDescriptor), &driverDescriptor());
    EXPECT_EQ(objectOf(result.text, HandleKind::list), nullptr);
    // Not open: the table object is renewed at the next call.
    ASSERT_NE(table.table(), nullptr);
    EXPECT_TRUE(table.table()->stale);
    EXPECT_EQ(table.call(kSEND, {}, {"REGISTER"}).text, result.text);
    EXPECT_EQ(table.call(kSEND, {}, {"Register"}).value, result.value);
}

TEST_F(DriverEntryTest, sendRegisterOnAnOpenTableKeepsTheTableObject) {
    DriverTable table(path("t.vlm"));
    ASSERT_EQ(table.createAndOpen(), 0);
    CallResult result = table.call(kSEND, {}, {"REGISTER"});
    EXPECT_EQ(result.error, 0);
    EXPECT_FALSE(table.table()->stale);
    EXPECT_EQ(objectOf(result.text, HandleKind::driverDescriptor), &driverDescriptor());
}

TEST_F(DriverEntryTest, sendOfAnUnknownSwitchGivesAnEmptyTextAndNoError) {
    DriverTable table(path("t.vlm"));
    for (const char* command : {"Recover=10", "Recover", "", "NoSuchSwitch=ON", "=", "/"}) {
        CallResult result = table.call(kSEND, {}, {command});
        EXPECT_EQ(result.error, 0) << command;
        EXPECT_EQ(result.text, "") << command;
        EXPECT_EQ(result.value, 0) << command;
    }
    // Without any text on the string stack.
    CallResult bare = table.call(kSEND);
    EXPECT_EQ(bare.error, 0);
    EXPECT_EQ(bare.text, "");
}

TEST_F(DriverEntryTest, sendImportFileFailsWith37) {
    DriverTable table(path("t.vlm"));
    EXPECT_EQ(table.call(kSEND, {}, {"IMPORTFILE"}).error, kFileNotOpen);
    ASSERT_EQ(table.createAndOpen(), 0);
    EXPECT_EQ(table.call(kSEND, {}, {"importfile"}).error, kFileNotOpen);
    EXPECT_TRUE(table.table()->isOpen());
}

TEST_F(DriverEntryTest, sendDecimalCheckReadsAndSetsTheSwitch) {
    DriverTable table(path("t.vlm"));
    EXPECT_EQ(table.call(kSEND, {}, {"DecimalCheck"}).text, "ON");
    EXPECT_EQ(table.call(kSEND, {}, {"decimalcheck = off"}).text, "ON");
    EXPECT_EQ(table.call(kSEND, {}, {"DECIMALCHECK"}).text, "OFF");
}

// BOF, EOF, COUNTRECORDS, QUERY_KEY -------------------------------------------------------

TEST_F(DriverEntryTest, bofAndEofOfAClosedTablePost37AndAnswer1) {
    DriverTable table(path("t.vlm"));
    for (int32_t operation : {kBOF, kEOF}) {
        CallResult result = table.call(operation);
        EXPECT_EQ(result.error, kFileNotOpen);
        EXPECT_EQ(result.value, 1);
        EXPECT_EQ(errorFile(), &table.block());
    }
}

TEST_F(DriverEntryTest, bofAndEofBeforeSetPost33AndAnswer1) {
    DriverTable table(path("t.vlm"));
    ASSERT_EQ(table.createAndOpen(), 0);
    for (int32_t operation : {kBOF, kEOF}) {
        CallResult result = table.call(operation);
        EXPECT_EQ(result.error, kRecordNotAvailable);
        EXPECT_EQ(result.value, 1);
    }
}

// Writes the entry count of a table's data count record through its page file, standing in
// for records the table store cannot add yet.
void setRecordCount(TableObject& table, uint32_t count) {
    PageFile& file = *table.pageFile();
    std::vector<uint8_t> key(table.tableNumber.begin(), table.tableNumber.end());
    key.push_back(0xF6);
    key.push_back(0xF3);
    file.beginWrite();
    file.removeEntry(file.findEntry(key));
    std::vector<uint8_t> data(8, 0);
    store32le(data.data(), count);
    file.insertEntry(newEntry(key, data));
    ASSERT_EQ(file.commit(), 0);
    file.endWrite();
}

TEST_F(DriverEntryTest, countRecordsComparesTheCountWithTheLimit) {
    DriverTable table(path("t.vlm"));
    ASSERT_EQ(table.createAndOpen(), 0);
    CallResult empty = table.call(kCOUNTRECORDS, {0});
    EXPECT_EQ(empty.error, 0);
    EXPECT_EQ(empty.value, 0);

    setRecordCount(*table.table(), 1);
    EXPECT_EQ(table.call(kCOUNTRECORDS, {0}).value, 1);
    EXPECT_EQ(table.call(kCOUNTRECORDS, {1}).value, 0);
    // The limit is unsigned: -1 is the highest limit there is.
    EXPECT_EQ(table.call(kCOUNTRECORDS, {0xFFFFFFFFu}).value, 0);
    setRecordCount(*table.table(), 0x80000000u);
    EXPECT_EQ(table.call(kCOUNTRECORDS, {0x7FFFFFFFu}).value, 1);
    EXPECT_EQ(table.call(kCOUNTRECORDS, {0x80000000u}).value, 0);
}

TEST_F(DriverEntryTest, countRecordsOfAClosedTableFailsWith37) {
    DriverTable table(path("t.vlm"));
    CallResult result = table.call(kCOUNTRECORDS, {0});
    EXPECT_EQ(result.error, kFileNotOpen);
    EXPECT_EQ(result.value, 0);
}

TEST_F(DriverEntryTest, queryKeyIsZeroInRecordOrder) {
    DriverTable table(path("t.vlm"));
    ASSERT_EQ(table.createAndOpen(), 0);
    CallResult result = table.call(kQUERYKEY);
    EXPECT_EQ(result.error, 0);
    EXPECT_EQ(result.value, 0);
    table.table()->currentKey = table.key(1).keyDescriptor;
    EXPECT_EQ(table.call(kQUERYKEY).value, 2);
}

// LOCKfile and LOCKfilesec -----------------------------------------------------------------

TEST_F(DriverEntryTest, aSecondLockFileDoesNothingAndPostsNothing) {
    DriverTable bystander(path("other.vlm"));
    DriverTable table(path("t.vlm"));
    ASSERT_EQ(table.createAndOpen(), 0);
    ASSERT_EQ(table.call(kLOCKfile).error, 0);
    EXPECT_EQ(table.state() & (kStateLocked | kStateExclusive), kStateLocked | kStateExclusive);
    ASSERT_EQ(table.table()->pageFile()->userLockCount(), 1u);

    postSomeError(bystander);
    ArgumentSlot slots[4] = {};
    EXPECT_EQ(callDriver(kLOCKfile, &table.block(), slots), 0);
    EXPECT_EQ(errorCode(), kFileNotOpen) << "nothing posted";
    EXPECT_EQ(errorFile(), &bystander.block());
    EXPECT_EQ(table.table()->pageFile()->userLockCount(), 1u);
    EXPECT_EQ(table.table()->lastError, 0);

    ASSERT_EQ(table.call(kUNLOCK).error, 0);
    EXPECT_EQ(table.table()->pageFile()->userLockCount(), 0u);
    EXPECT_EQ(table.state() & (kStateLocked | kStateExclusive), uint32_t{kStateExclusive});
    // UNLOCK of an unlocked table has nothing to do either.
    postSomeError(bystander);
    EXPECT_EQ(callDriver(kUNLOCK, &table.block(), slots), 0);
    EXPECT_EQ(errorCode(), kFileNotOpen);
}

TEST_F(DriverEntryTest, lockFileSecondsOnATableLockedByAnotherProcessFailsWith32) {
    const std::string name = path("t.vlm");
    {
        DriverTable creator(name);
        ASSERT_EQ(creator.call(kCREATE).error, 0);
    }
    // The child opens the file itself: locks belong to the open file, and every table of one
    // process shares one open file.
    test::ChildProcess child([&](test::ChildProcess& self) {
        DriverTable table(name);
        if (table.call(kOPEN, {kReadWriteShared}).error != 0) return 10;
        if (table.call(kLOCKfile).error != 0) return 11;
        self.signalParent();
        if (!self.waitForParent(30000)) return 12;
        return 0;
    });
    ASSERT_TRUE(child.waitForChild(30000));

    DriverTable table(name);
    ASSERT_EQ(table.call(kOPEN, {kReadWriteShared}).error, 0);
    auto start = std::chrono::steady_clock::now();
    CallResult locked = table.call(kLOCKfilesec, {1});
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(locked.error, kFileAlreadyLocked);
    EXPECT_EQ(table.state() & kStateLocked, 0u);
    EXPECT_GE(elapsed, std::chrono::milliseconds(900));
    EXPECT_LT(elapsed, std::chrono::seconds(5));

    child.signalChild();
    EXPECT_EQ(child.join(), 0);
    // With the other process gone the lock is free.
    EXPECT_EQ(table.call(kLOCKfilesec, {1}).error, 0);
    EXPECT_NE(table.state() & kStateLocked, 0u);
    EXPECT_EQ(table.call(kUNLOCK).error, 0);
}

// The flush after every operation -------------------------------------------------------------

TEST_F(DriverEntryTest, theFlushAfterEachOperationEndsTheAccessBracket) {
    DriverTable table(path("t.vlm"));
    ASSERT_EQ(table.createAndOpen(kReadWriteShared), 0);
    PageFile& file = *table.table()->pageFile();
    EXPECT_FALSE(file.isBracketOpen()) << "after OPEN";
    EXPECT_EQ(table.call(kCOUNTRECORDS, {0}).error, 0);
    EXPECT_FALSE(file.isBracketOpen()) << "after COUNTRECORDS";
    EXPECT_EQ(table.call(kNEXT).error, kRecordNotAvailable);
    EXPECT_FALSE(file.isBracketOpen()) << "after a refused NEXT";

    // A transaction keeps its write bracket until COMMIT.
    ASSERT_EQ(table.call(kLOGOUT).error, 0);
    EXPECT_EQ(table.call(kCOUNTRECORDS, {0}).error, 0);
    EXPECT_TRUE(file.isBracketOpen()) << "inside LOGOUT";
    EXPECT_FALSE(file.inReadMode());
    ASSERT_EQ(table.call(kCOMMIT).error, 0);
    EXPECT_FALSE(file.isBracketOpen()) << "after COMMIT";
    EXPECT_TRUE(file.inReadMode());

    // STREAM holds the flushes back; FLUSH ends STREAM and the bracket.
    ASSERT_EQ(table.call(kSTREAM).error, 0);
    EXPECT_EQ(table.call(kCOUNTRECORDS, {0}).error, 0);
    EXPECT_TRUE(file.isBracketOpen()) << "while streaming";
    EXPECT_GT(table.table()->deferredFlushes, 0u);
    ASSERT_EQ(table.call(kFLUSH).error, 0);
    EXPECT_EQ(table.state() & kStateStream, 0u);
    EXPECT_FALSE(file.isBracketOpen()) << "after FLUSH";
    EXPECT_EQ(table.call(kFLUSH).error, 0) << "FLUSH without STREAM commits nothing";
}

// A table that another process has open must not keep this process from committing: the
// other process holds no reader slot between its calls.
TEST_F(DriverEntryTest, anOpenTableDoesNotBlockACommitOfAnotherProcess) {
    const std::string name = path("t.vlm");
    {
        DriverTable creator(name + "\\!A");
        ASSERT_EQ(creator.call(kCREATE).error, 0);
    }
    // Made before this process opens the file, so that the child has an open file of its own.
    test::ChildProcess child([&](test::ChildProcess& self) {
        if (!self.waitForParent(30000)) return 10;
        DriverTable other(name + "\\!B");
        if (other.call(kCREATE).error != 0) return 11;
        self.signalParent();
        return 0;
    });
    DriverTable table(name + "\\!A");
    ASSERT_EQ(table.call(kOPEN, {kReadWriteShared}).error, 0);
    ASSERT_EQ(table.call(kCOUNTRECORDS, {0}).error, 0);
    child.signalChild();
    ASSERT_TRUE(child.waitForChild(10000)) << "the other process could not commit";
    EXPECT_EQ(child.join(), 0);
    // The new table of the other process is seen at the next access.
    TextList names;
    std::string handle = handleOf(&names, HandleKind::list);
    EXPECT_EQ(table.call(kSEND, {}, {"PNMQ=" + handle}).error, 0);
    dropHandle(&names);
    EXPECT_EQ(names.items, (std::vector<std::string>{"A", "B"}));
}

// The poisoned table ---------------------------------------------------------------------

// Damages a table file underneath an open table: the header on disk names a root page that
// lies in no page range, and its change counter is raised so that the next access of the
// table drops its cache and takes the header from the disk.
void damageHeader(const std::string& name) {
    std::fstream file(name, std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(file.good());
    uint8_t header[512];
    file.read(reinterpret_cast<char*>(header), sizeof header);
    ASSERT_TRUE(file.good());
    uint32_t counter = 0;
    std::memcpy(&counter, header + 24, 4);
    counter += 1;
    std::memcpy(header + 24, &counter, 4);
    uint32_t root = 0x7FFFFF00u;
    std::memcpy(header + 28, &root, 4);
    file.seekp(0);
    file.write(reinterpret_cast<const char*>(header), sizeof header);
    ASSERT_TRUE(file.good());
}

TEST_F(DriverEntryTest, aFatalErrorPoisonsTheTable) {
    const std::string name = path("t.vlm");
    DriverTable table(name);
    ASSERT_EQ(table.createAndOpen(kReadWriteShared), 0);
    // The flush after OPEN ended its access bracket, so the next access reads the header again.
    damageHeader(name);

    CallResult count = table.call(kCOUNTRECORDS, {0});
    EXPECT_EQ(count.error, kFileSystemError);
    const int fatalCode = table.table()->fatalCode;
    ASSERT_NE(fatalCode, 0);
    EXPECT_EQ(fileErrorCode(), std::to_string(fatalCode));

    CallResult next = table.call(kNEXT);
    EXPECT_EQ(next.error, kFileSystemError);
    EXPECT_EQ(fileErrorCode(), std::to_string(fatalCode));
    EXPECT_EQ(fileError(), "Possible data corruption in file");
    EXPECT_EQ(errorFile(), &table.block());

    CallResult nameResult = table.call(kNAME);
    EXPECT_EQ(nameResult.error, 0);
    EXPECT_EQ(nameResult.text, name);

    for (int32_t operation : {kSETfile, kCOUNTRECORDS, kLOCKfile, kSEND}) {
        EXPECT_EQ(table.call(operation).error, kFileSystemError) << operationName(operation);
    }

    CallResult closed = table.call(kCLOSE);
    EXPECT_EQ(closed.error, 0);
    EXPECT_FALSE(table.table()->isOpen());
    EXPECT_EQ(table.state(), 0u);
    // The table object stays poisoned until it is destroyed.
    EXPECT_EQ(table.call(kOPEN, {kReadOnly}).error, kFileSystemError);
    EXPECT_EQ(table.call(kDESTROY).error, kFileSystemError);
    EXPECT_EQ(table.table(), nullptr);
    EXPECT_EQ(table.block().statusRecord, nullptr);
    // A fresh table object answers normally again.
    CallResult renewed = table.call(kNAME);
    EXPECT_EQ(renewed.error, 0);
    EXPECT_EQ(renewed.text, name);
}

TEST_F(DriverEntryTest, aFatalErrorDuringOpenPoisonsTheTable) {
    const std::string name = path("t.vlm");
    {
        DriverTable creator(name);
        ASSERT_EQ(creator.call(kCREATE).error, 0);
    }
    damageHeader(name);
    DriverTable table(name);
    EXPECT_EQ(table.call(kOPEN, {kReadWriteShared}).error, kFileSystemError);
    ASSERT_NE(table.table()->fatalCode, 0);
    EXPECT_EQ(table.state() & kStateOpen, 0u);
    CallResult nameResult = table.call(kNAME);
    EXPECT_EQ(nameResult.error, 0);
    EXPECT_EQ(nameResult.text, name);
    EXPECT_EQ(table.call(kCOUNTRECORDS, {0}).error, kFileSystemError);
    EXPECT_EQ(table.call(kCLOSE).error, 0);
    EXPECT_FALSE(table.table()->isOpen());
    EXPECT_EQ(table.call(kDESTROY).error, kFileSystemError);
    EXPECT_EQ(table.table(), nullptr);
}

// The driver descriptor ---------------------------------------------------------------------

TEST(DriverDescriptorTest, namesTheDriverAndWhatItSupports) {
    const DriverDescriptor& descriptor = driverDescriptor();
    EXPECT_STREQ(descriptor.name, "VELLUM");
    EXPECT_STREQ(descriptor.description, "Vellum (VLM)");
    EXPECT_EQ(descriptor.capabilities, 0x01BDEFBFu);
    EXPECT_EQ(descriptor.entry, &driverEntry);
    for (size_t i = std::strlen(descriptor.name); i < sizeof descriptor.name; ++i) {
        EXPECT_EQ(descriptor.name[i], 0) << "zero padding at " << i;
    }
    for (size_t i = std::strlen(descriptor.description); i < sizeof descriptor.description; ++i) {
        EXPECT_EQ(descriptor.description[i], 0) << "zero padding at " << i;
    }
    EXPECT_EQ(sizeof descriptor.name, 21u);
    EXPECT_EQ(sizeof descriptor.description, 31u);

    const uint8_t* lists = descriptor.supportLists;
    ASSERT_NE(lists, nullptr);
    ASSERT_EQ(lists[0], 73);
    EXPECT_EQ(lists[1], 1);
    EXPECT_EQ(lists[2], 4);
    EXPECT_EQ(lists[73], 102);
    const uint8_t* types = lists + 1 + 73;
    ASSERT_EQ(types[0], 17);
    EXPECT_EQ(types[1], 1);
    EXPECT_EQ(types[16], 22);
    EXPECT_EQ(types[17], 24);
    // Every listed operation has a name, and none is listed twice.
    std::vector<bool> seen(256, false);
    for (int i = 1; i <= 73; ++i) {
        EXPECT_FALSE(operationName(lists[i]).empty()) << int{lists[i]};
        EXPECT_FALSE(seen[lists[i]]) << int{lists[i]};
        seen[lists[i]] = true;
    }
}

// Bad input --------------------------------------------------------------------------------

TEST_F(DriverEntryTest, textsThatClaimToBeListHandlesAreIgnored) {
    DriverTable table(path("t.vlm"));
    const char* claims[] = {"PNMQ=12345678901", "PNMQ=-1", "PNMQ=abc", "PNMQ=", "PNMQ",
                            "PNMQ= 4294967295", "PNMQ=99999999999999999999", "PNMQ=0",
                            "pnmq=1 2"};
    // Closed, with a file that does not exist: nothing is opened or created.
    for (const char* claim : claims) {
        CallResult result = table.call(kSEND, {}, {claim});
        EXPECT_EQ(result.error, 0) << claim;
        EXPECT_EQ(result.text, "") << claim;
    }
    EXPECT_EQ(filesIn(directory()), 0u);
    // Open: the names of the file would be listed, but no list answers to these texts.
    ASSERT_EQ(table.createAndOpen(), 0);
    for (const char* claim : claims) {
        CallResult result = table.call(kSEND, {}, {claim});
        EXPECT_EQ(result.error, 0) << claim;
        EXPECT_EQ(result.text, "") << claim;
    }
    // The driver descriptor's handle is no list either.
    std::string descriptor = handleOf(&driverDescriptor(), HandleKind::driverDescriptor);
    EXPECT_EQ(table.call(kSEND, {}, {"PNMQ=" + descriptor}).error, 0);

    // A real list gets the table names, open or closed.
    TextList list;
    std::string handle = handleOf(&list, HandleKind::list);
    EXPECT_EQ(table.call(kSEND, {}, {"PNMQ=" + handle}).error, 0);
    ASSERT_EQ(list.items.size(), 1u);
    EXPECT_EQ(list.items[0], "UNNAMED");
    ASSERT_EQ(table.call(kCLOSE).error, 0);
    EXPECT_EQ(table.call(kSEND, {}, {"PNMQ = " + handle}).error, 0);
    EXPECT_EQ(list.items.size(), 2u);
    dropHandle(&list);
    EXPECT_EQ(table.call(kSEND, {}, {"PNMQ=" + handle}).error, 0);
    EXPECT_EQ(list.items.size(), 2u);
}

TEST_F(DriverEntryTest, emptyAndOverlongNamesAreRefusedWithoutTouchingTheDisk) {
    const std::string overlong = directory() + "/" + std::string(300, 'n');
    const std::string overlongDirectory = directory() + "/" + std::string(300, 'd') + "/t.vlm";
    for (const std::string& name : {std::string(), overlong, overlongDirectory}) {
        DriverTable table(name);
        for (int32_t operation : {kOPEN, kSHARE}) {
            CallResult result = table.call(operation, {kReadWriteShared});
            EXPECT_NE(result.error, 0) << name.size();
            EXPECT_FALSE(table.table()->isOpen());
        }
        EXPECT_NE(table.call(kCREATE).error, 0) << name.size();
        EXPECT_NE(table.call(kREMOVE).error, 0) << name.size();
        EXPECT_EQ(table.call(kSEND, {}, {"PNM=X"}).error, 0);
        EXPECT_EQ(table.call(kNAME).text, name);
        EXPECT_EQ(filesIn(directory()), 0u) << name.size();
    }
    // A counted name of length 0 is no name either.
    DriverTable counted(path("t.vlm"));
    counted.setCountedName("");
    EXPECT_EQ(counted.call(kOPEN, {kReadOnly}).error, kInvalidFilename);
    EXPECT_EQ(counted.call(kCREATE).error, kInvalidFilename);
    EXPECT_EQ(filesIn(directory()), 0u);
}

TEST_F(DriverEntryTest, oddSeparatorsInNamesFailWithoutTouchingTheDisk) {
    const std::string d = directory();
    const std::vector<std::string> names = {
        "\\!",           "\\!table",        d + "/\\!",        d + "/t.vlm\\!",
        d + "/\\!\\!",   d + "/t\\!\\!x",   d + "\\!t",        d + "/t.vlm\\!\\!\\!",
        d + "//t.vlm",   d + "/./t.vlm\\!", d + "/../",        d + "/t.vlm\\",
        d + "/t.vlm!",   d + "/.",          d + "/" + std::string(1, '\0') + "x",
    };
    for (const std::string& name : names) {
        DriverTable table(name);
        CallResult opened = table.call(kOPEN, {kReadWriteShared});
        EXPECT_NE(opened.error, 0) << name;
        EXPECT_FALSE(table.table()->isOpen()) << name;
        EXPECT_NE(table.call(kREMOVE).error, 0) << name;
        EXPECT_EQ(table.call(kSEND, {}, {"PNMQ=1"}).error, 0) << name;
        EXPECT_EQ(filesIn(directory()), 0u) << name;
    }
}

TEST_F(DriverEntryTest, copyAndRenameOfAMissingTableFailWithoutTouchingTheDisk) {
    for (const std::string& source : {path("missing.vlm"), path("missing.vlm") + "\\!A"}) {
        for (const std::string& target :
             {path("copy.vlm"), path("copy.vlm") + "\\!B", directory(), std::string("\\!"),
              std::string(), path(std::string(300, 'c'))}) {
            for (int32_t operation : {kCOPY, kRENAME}) {
                DriverTable table(source);
                CallResult result = table.call(operation, {}, {target});
                EXPECT_NE(result.error, 0) << operationName(operation) << " " << source << " to "
                                           << target;
                EXPECT_FALSE(table.table()->isOpen());
                EXPECT_EQ(filesIn(directory()), 0u) << operationName(operation) << " " << source
                                                    << " to " << target;
            }
        }
    }
}

TEST_F(DriverEntryTest, aLongTableNameWorks) {
    std::string tableName(300, 't');
    DriverTable table(path("t.vlm") + "\\!" + tableName);
    ASSERT_EQ(table.createAndOpen(), 0);
    EXPECT_EQ(table.call(kNAME).text, path("t.vlm") + "\\!" + std::string(300, 'T'));
    EXPECT_EQ(table.call(kCOUNTRECORDS, {0}).error, 0);
}

}  // namespace
}  // namespace vellum
