// Positioning and sequential access through the typed table wrapper: reading in file and key
// order both ways, the SET variants by value and pointer on unique and DUP keys, key entries
// whose record is missing, SKIP, EOF and BOF, position strings with RESET and REGETkey, and
// saved states (GETSTATE, RESTORESTATE, FREESTATE) that bring a scan back.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "filelayer/table.h"
#include "pagestore/page_file.h"
#include "support/sound_files.h"
#include "support/temp_dir.h"
#include "tablestore/records.h"
#include "tablestore/table_object.h"
#include "vellum/byte_order.h"
#include "vellum/error_codes.h"
#include "vellum/operation_codes.h"

namespace vellum {
namespace {

// Items: LONG Id (unique KEY), STRING(10) Name (DUP KEY).
TableDeclaration items(const std::string& file) {
    TableDeclaration declaration("I");
    declaration.name(file)
        .attributes(kAttributeCreate)
        .longField("I:Id")
        .string("I:Name", 10)
        .key("I:IdKey", 0, {1})
        .key("I:NameKey", kKeyDup, {2});
    return declaration;
}

constexpr uint32_t kName = 2;

ArgumentSlot slotOf(KeyControlBlock* key) { return reinterpret_cast<ArgumentSlot>(key); }

class PositioningTest : public ::testing::Test {
protected:
    void SetUp() override { useFile("items.vlm"); }

    // Works on a fresh table in a file of its own.
    void useFile(const std::string& name) {
        table_.reset();
        file_ = dir_.file(name);
        table_ = std::make_unique<Table>(items(file_));
        ASSERT_EQ(table_->create(), 0);
        ASSERT_EQ(table_->open(0x42), 0);
    }

    Table& table() { return *table_; }
    KeyControlBlock* idKey() { return table_->key(1); }
    KeyControlBlock* nameKey() { return table_->key(2); }

    // Adds a record and returns its record number.
    uint32_t add(int32_t id, const std::string& name) {
        table_->clear();
        table_->setLong(1, id);
        table_->setText(kName, name);
        EXPECT_EQ(table_->add(), 0) << name;
        return pointer();
    }
    // Adds one record per name, with ids 1, 2, ...; their record numbers.
    std::vector<uint32_t> addAll(const std::vector<std::string>& names) {
        std::vector<uint32_t> numbers;
        for (size_t i = 0; i < names.size(); ++i) {
            numbers.push_back(add(static_cast<int32_t>(i + 1), names[i]));
        }
        return numbers;
    }

    uint32_t pointer() { return static_cast<uint32_t>(table_->call(kPOINTERfile)); }
    // NEXT, PREVIOUS or another operation without arguments; its ERRORCODE.
    int run(int32_t operation) {
        table_->call(operation);
        return table_->errorCode();
    }
    int getByPointer(uint32_t number) {
        table_->call(kGETfileptr, {number});
        return table_->errorCode();
    }
    // Reads with NEXT or PREVIOUS until the end; the record numbers read.
    std::vector<uint32_t> readToEnd(int32_t operation) {
        std::vector<uint32_t> numbers;
        int error;
        while ((error = run(operation)) == 0) numbers.push_back(pointer());
        EXPECT_EQ(error, kRecordNotAvailable);
        return numbers;
    }
    // Deletes a data record entry straight through the file, leaving its key entries behind.
    void dropDataRecord(uint32_t number) {
        auto* object = static_cast<TableObject*>(table_->block()->tableObject);
        PageFile& file = *object->pageFile();
        file.beginWrite();
        Entry* record = file.findEntry(dataRecordKey(object->tableNumber, number));
        ASSERT_NE(record, nullptr);
        file.removeEntry(record);
        ASSERT_EQ(file.commit(), 0);
        file.endWrite();
    }
    int32_t flag(int32_t operation) {
        int32_t value = table_->call(operation);
        EXPECT_EQ(table_->errorCode(), 0) << operationName(operation);
        return value;
    }

    test::TempDir dir_;
    test::SoundFilesCheck soundFiles_{dir_};
    std::string file_;
    std::unique_ptr<Table> table_;
};

// Orders -----------------------------------------------------------------------------------

TEST_F(PositioningTest, ReadsInFileAndKeyOrderBothWays) {
    // Record numbers 0..4 name C, A, E, B, D.
    std::vector<uint32_t> r = addAll({"C", "A", "E", "B", "D"});
    struct Case {
        const char* what;
        bool byName;
        int32_t operation;
        std::vector<uint32_t> expected;
    };
    const std::vector<Case> cases = {
        {"file order forward", false, kNEXT, {r[0], r[1], r[2], r[3], r[4]}},
        {"file order backward", false, kPREVIOUS, {r[4], r[3], r[2], r[1], r[0]}},
        {"name order forward", true, kNEXT, {r[1], r[3], r[0], r[4], r[2]}},
        {"name order backward", true, kPREVIOUS, {r[2], r[4], r[0], r[3], r[1]}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(table().set(c.byName ? nameKey() : nullptr), 0) << c.what;
        EXPECT_EQ(readToEnd(c.operation), c.expected) << c.what;
    }
}

TEST_F(PositioningTest, SetKeyByValueOnADupKeyReadsEqualValuesInRecordNumberOrder) {
    std::vector<uint32_t> r = addAll({"A", "B", "B", "B", "C"});
    struct Case {
        int32_t operation;
        std::vector<uint32_t> expected;
    };
    for (const Case& c : std::vector<Case>{{kNEXT, {r[1], r[2], r[3], r[4]}},
                                           {kPREVIOUS, {r[3], r[2], r[1], r[0]}}}) {
        table().clear();
        table().setText(kName, "B");
        ASSERT_EQ(table().setFromBuffer(nameKey()), 0);
        EXPECT_EQ(readToEnd(c.operation), c.expected) << operationName(c.operation);
    }
}

TEST_F(PositioningTest, SetFileByValueGoesOnInRecordNumberOrder) {
    // By name the record after A would be B (r[0]); by number it is C (r[2]).
    std::vector<uint32_t> r = addAll({"B", "A", "C"});
    struct Case {
        const char* what;
        unsigned key;
        int32_t id;
        std::string name;
    };
    for (const Case& c : std::vector<Case>{{"unique key", 1, 2, ""}, {"DUP key", 2, 0, "A"}}) {
        table().clear();
        table().setLong(1, c.id);
        table().setText(kName, c.name);
        table().call(kSETfilekey, {slotOf(table().key(c.key))});
        ASSERT_EQ(table().errorCode(), 0) << c.what;
        EXPECT_EQ(readToEnd(kNEXT), (std::vector<uint32_t>{r[1], r[2]})) << c.what;
    }
}

TEST_F(PositioningTest, SetByPointerStartsAtThatRecordInEitherOrder) {
    std::vector<uint32_t> r = addAll({"C", "A", "B"});
    // File order from record r[1]; key order from the entry of r[1], which is the first by name.
    ASSERT_EQ(table().setPointer(nullptr, r[1]), 0);
    EXPECT_EQ(readToEnd(kNEXT), (std::vector<uint32_t>{r[1], r[2]}));
    ASSERT_EQ(table().setPointer(nameKey(), r[0]), 0);
    EXPECT_EQ(readToEnd(kNEXT), (std::vector<uint32_t>{r[0]}));
    ASSERT_EQ(table().setPointer(nameKey(), r[0]), 0);
    EXPECT_EQ(readToEnd(kPREVIOUS), (std::vector<uint32_t>{r[0], r[2], r[1]}));
    // A pointer of 0 selects the start of the order.
    ASSERT_EQ(table().setPointer(nameKey(), 0), 0);
    EXPECT_EQ(readToEnd(kNEXT), (std::vector<uint32_t>{r[1], r[2], r[0]}));
}

TEST_F(PositioningTest, SetKeyByValueAndPointerStartsAtThatDuplicate) {
    std::vector<uint32_t> r = addAll({"A", "A", "A"});
    table().clear();
    table().setText(kName, "A");
    table().call(kSETkeykeyptr, {slotOf(nameKey()), r[1]});
    ASSERT_EQ(table().errorCode(), 0);
    EXPECT_EQ(readToEnd(kNEXT), (std::vector<uint32_t>{r[1], r[2]}));
}

TEST_F(PositioningTest, KeyEntriesWhoseRecordIsMissingArePassedOver) {
    soundFiles_.skip();  // the file is damaged on purpose
    std::vector<uint32_t> r = addAll({"A", "B", "C", "D"});
    dropDataRecord(r[1]);
    dropDataRecord(r[3]);
    ASSERT_EQ(table().set(nameKey()), 0);
    EXPECT_EQ(readToEnd(kNEXT), (std::vector<uint32_t>{r[0], r[2]}));
    ASSERT_EQ(table().set(nameKey()), 0);
    EXPECT_EQ(readToEnd(kPREVIOUS), (std::vector<uint32_t>{r[2], r[0]}));
}

// SKIP, EOF, BOF ------------------------------------------------------------------------------

TEST_F(PositioningTest, SkipStopsAtTheEndWithoutError) {
    std::vector<uint32_t> r = addAll({"A", "B", "C"});
    struct Case {
        int32_t count;
        int32_t then;
        int expected;        // the error of the read after the SKIP
        uint32_t read;       // the record it reads
    };
    const std::vector<Case> cases = {
        {5, kNEXT, kRecordNotAvailable, 0},
        {5, kPREVIOUS, 0, r[1]},   // the position stands at the last record
        {2, kNEXT, 0, r[2]},
        {-5, kPREVIOUS, kRecordNotAvailable, 0},
        {-5, kNEXT, 0, r[1]},      // backward from the start the first step takes the last one
    };
    for (const Case& c : cases) {
        ASSERT_EQ(table().set(nullptr), 0);
        EXPECT_EQ(table().skip(c.count), 0) << c.count;
        EXPECT_EQ(run(c.then), c.expected) << c.count << " " << operationName(c.then);
        if (c.expected == 0) {
            EXPECT_EQ(pointer(), c.read) << c.count;
        }
    }
}

TEST_F(PositioningTest, EofAndBofTellWhetherARecordFollowsOrPrecedes) {
    ASSERT_EQ(table().set(nameKey()), 0);
    EXPECT_EQ(flag(kEOF), 1);
    EXPECT_EQ(flag(kBOF), 1);
    EXPECT_EQ(table().next(), kRecordNotAvailable);
    // The failed read ended the sequence: both still answer 1.
    EXPECT_EQ(table().call(kEOF), 1);
    EXPECT_EQ(table().call(kBOF), 1);

    std::vector<uint32_t> r = addAll({"A", "B"});
    ASSERT_EQ(table().set(nameKey()), 0);
    EXPECT_EQ(flag(kEOF), 0);
    EXPECT_EQ(flag(kBOF), 0);
    ASSERT_EQ(table().next(), 0);
    EXPECT_EQ(flag(kEOF), 0);
    EXPECT_EQ(flag(kBOF), 1);
    ASSERT_EQ(table().next(), 0);
    EXPECT_EQ(flag(kEOF), 1);
    EXPECT_EQ(flag(kBOF), 0);
    // Asking does not move: the next read is the one before the last.
    ASSERT_EQ(table().previous(), 0);
    EXPECT_EQ(pointer(), r[0]);
}

// Position strings ----------------------------------------------------------------------------

TEST_F(PositioningTest, APositionStringTakenBackReadsTheSameRecordAgain) {
    std::vector<uint32_t> r = addAll({"A", "A", "A", "B"});
    for (KeyControlBlock* key : {nameKey(), static_cast<KeyControlBlock*>(nullptr)}) {
        ASSERT_EQ(table().set(key), 0);
        ASSERT_EQ(table().next(), 0);
        ASSERT_EQ(table().next(), 0);
        ASSERT_EQ(pointer(), r[1]);
        std::string position = table().position(key);
        ASSERT_EQ(position.size(), key != nullptr ? 14u : 4u);
        EXPECT_EQ(load32be(reinterpret_cast<const uint8_t*>(position.data())), r[1]);
        if (key != nullptr) {
            EXPECT_EQ(position.substr(4), "A         ");
        }

        ASSERT_EQ(table().next(), 0);
        ASSERT_EQ(getByPointer(r[3]), 0);
        ASSERT_EQ(table().reset(key, position), 0);
        EXPECT_EQ(table().next(), 0);
        EXPECT_EQ(pointer(), r[1]) << (key != nullptr ? "RESETkey" : "RESETfile");
        EXPECT_EQ(table().next(), 0);
        EXPECT_EQ(pointer(), r[2]);
    }
}

TEST_F(PositioningTest, RegetKeyReadsTheRecordOfAPositionExactly) {
    std::vector<uint32_t> r = addAll({"A", "A", "B"});
    ASSERT_EQ(getByPointer(r[1]), 0);
    std::string position = table().position(nameKey());
    table().clear();
    table().call(kREGETkey, {slotOf(nameKey())}, {position});
    ASSERT_EQ(table().errorCode(), 0);
    EXPECT_EQ(pointer(), r[1]);
    EXPECT_EQ(table().longValue(1), 2);

    // Another record number, or another value, matches no entry.
    std::string otherNumber = position;
    store32be(reinterpret_cast<uint8_t*>(otherNumber.data()), r[2]);
    std::string otherValue = position;
    otherValue[4] = 'B';
    for (const std::string& text : {otherNumber, otherValue}) {
        table().call(kREGETkey, {slotOf(nameKey())}, {text});
        EXPECT_EQ(table().errorCode(), kRecordNotFound);
        EXPECT_EQ(pointer(), 0u);
    }
}

// Saved states --------------------------------------------------------------------------------

TEST_F(PositioningTest, RestoreStateContinuesTheSavedScan) {
    struct Case {
        const char* what;
        int32_t direction;
        bool deleteSaved;   // the record current at GETSTATE goes before RESTORESTATE
        int restored;       // RESTORESTATE's error
    };
    const std::vector<Case> cases = {
        {"forward", kNEXT, false, 0},
        {"forward, saved record deleted", kNEXT, true, kRecordNotFound},
        {"backward", kPREVIOUS, false, 0},
        {"backward, saved record deleted", kPREVIOUS, true, kRecordNotFound},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        useFile("state" + std::to_string(i) + ".vlm");
        std::vector<uint32_t> r = addAll({"E", "D", "C", "B", "A"});
        ASSERT_EQ(table().set(nameKey()), 0);
        ASSERT_EQ(run(c.direction), 0);
        ASSERT_EQ(run(c.direction), 0);
        const std::string saved = table().text(kName);  // B forward, D backward
        const uint32_t savedNumber = pointer();
        auto handle = static_cast<ArgumentSlot>(table().call(kGETSTATE, {0}));
        ASSERT_EQ(table().errorCode(), 0);

        // Another order and other reads meanwhile.
        ASSERT_EQ(table().set(idKey()), 0);
        ASSERT_EQ(table().next(), 0);
        ASSERT_EQ(table().next(), 0);
        if (c.deleteSaved) {
            ASSERT_EQ(getByPointer(savedNumber), 0);
            ASSERT_EQ(table().erase(), 0);
        }
        ASSERT_EQ(getByPointer(r[0]), 0);

        table().call(kRESTORESTATE, {handle, 1});
        EXPECT_EQ(table().errorCode(), c.restored);
        EXPECT_EQ(table().text(kName), saved) << "the saved record buffer is back";
        // C follows B forward and D backward; it also takes the place of a deleted B or D.
        EXPECT_EQ(run(c.direction), 0);
        EXPECT_EQ(table().text(kName), "C");
        table().call(kFREESTATE, {handle});
        EXPECT_EQ(table().errorCode(), 0);
    }
}

TEST_F(PositioningTest, RestoreStateRepeatsTheLastSetAndCanKeepTheBuffer) {
    addAll({"C", "A", "B"});
    ASSERT_EQ(table().set(nameKey()), 0);
    table().setText(kName, "saved");
    auto handle = static_cast<ArgumentSlot>(table().call(kGETSTATE, {0}));
    ASSERT_EQ(table().set(nullptr), 0);
    ASSERT_EQ(table().next(), 0);
    ASSERT_EQ(table().text(kName), "C");

    // Flag 0: the record buffer keeps what it holds now.
    table().call(kRESTORESTATE, {handle, 0});
    EXPECT_EQ(table().errorCode(), 0);
    EXPECT_EQ(table().text(kName), "C");
    EXPECT_EQ(table().call(kQUERYKEY), 2);
    ASSERT_EQ(table().next(), 0);
    EXPECT_EQ(table().text(kName), "A");
    table().call(kFREESTATE, {handle});
}

TEST_F(PositioningTest, ASnapshotBelongsToItsControlBlockUntilFreed) {
    addAll({"A"});
    Table other(items(file_));
    ASSERT_EQ(other.open(0x42), 0);
    auto handle = static_cast<ArgumentSlot>(table().call(kGETSTATE, {0}));
    ASSERT_EQ(table().errorCode(), 0);
    EXPECT_NE(handle, 0u);
    other.call(kRESTORESTATE, {handle, 1});
    EXPECT_EQ(other.errorCode(), kInvalidRecordDeclaration);

    table().call(kFREESTATE, {handle});
    EXPECT_EQ(table().errorCode(), 0);
    // A freed snapshot is gone for its own block too.
    table().call(kRESTORESTATE, {handle, 1});
    EXPECT_EQ(table().errorCode(), kInvalidRecordDeclaration);
}

}  // namespace
}  // namespace vellum
