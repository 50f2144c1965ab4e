// Record operations through the typed table wrapper: record numbers shared by the tables of a
// file, ADD and its undo on a duplicate, PUT and DELETE with and without a current record, PUT of
// an unchanged buffer, WATCH, HOLD between processes, counts, FLAGS, BYTES, and string fields of
// OEM tables as stored on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "filelayer/table.h"
#include "os/file_system.h"
#include "pagestore/page_file.h"
#include "support/child_process.h"
#include "support/sound_files.h"
#include "support/temp_dir.h"
#include "tablestore/count_records.h"
#include "tablestore/table_object.h"
#include "vellum/byte_order.h"
#include "vellum/error_codes.h"
#include "vellum/operation_codes.h"

namespace vellum {
namespace {

// People: LONG Id (unique KEY), STRING(20) Name (NOCASE DUP KEY), LONG Code (unique KEY,
// OPT), STRING(10) Town (DUP INDEX).
TableDeclaration people(const std::string& file, const std::string& table = "PEOPLE") {
    TableDeclaration declaration("P");
    declaration.name(file + "\\!" + table)
        .attributes(kAttributeCreate)
        .longField("P:Id")
        .string("P:Name", 20)
        .longField("P:Code")
        .string("P:Town", 10)
        .key("P:IdKey", 0, {1})
        .key("P:NameKey", kKeyDup | kKeyNoCase, {2})
        .key("P:CodeKey", kKeyOpt, {3})
        .key("P:TownIndex", kKeyDup | kKeyIndex, {4});
    return declaration;
}

class RecordsTest : public ::testing::Test {
protected:
    void SetUp() override {
        file_ = dir_.file("people.vlm");
        table_ = std::make_unique<Table>(people(file_));
        ASSERT_EQ(table_->create(), 0);
        ASSERT_EQ(table_->open(0x42), 0);
    }

    // Adds a record; returns ERRORCODE.
    int add(Table& table, int32_t id, const std::string& name, int32_t code,
            const std::string& town = "") {
        table.clear();
        table.setLong(1, id);
        table.setText(2, name);
        table.setLong(3, code);
        table.setText(4, town);
        return table.add();
    }
    int addPerson(int32_t id, const std::string& name, int32_t code) {
        return add(*table_, id, name, code);
    }

    uint32_t pointer(Table& table) { return static_cast<uint32_t>(table.call(kPOINTERfile)); }
    int32_t keyCount(Table& table, unsigned key) {
        return table.call(kRECORDSkey, {reinterpret_cast<ArgumentSlot>(table.key(key))});
    }
    uint32_t recordCount(Table& table) {
        uint32_t count = 0;
        EXPECT_EQ(table.records(&count), 0);
        return count;
    }
    int getByPointer(Table& table, uint32_t number) {
        table.call(kGETfileptr, {number});
        return table.errorCode();
    }
    int getById(Table& table, int32_t id) {
        table.clear();
        table.setLong(1, id);
        return table.get(table.key(1));
    }
    PageFile& fileOf(Table& table) {
        return *static_cast<TableObject*>(table.block()->tableObject)->pageFile();
    }

    test::TempDir dir_;
    test::SoundFilesCheck soundFiles_{dir_};
    std::string file_;
    std::unique_ptr<Table> table_;
};

TEST_F(RecordsTest, TablesOfOneFileShareTheRecordNumberCounter) {
    Table other(people(file_, "OTHER"));
    ASSERT_EQ(other.create(), 0);
    ASSERT_EQ(other.open(0x42), 0);
    std::vector<uint32_t> numbers;
    for (int32_t i = 1; i <= 3; ++i) {
        ASSERT_EQ(addPerson(i, "A", i), 0);
        numbers.push_back(pointer(*table_));
        ASSERT_EQ(add(other, i, "B", i), 0);
        numbers.push_back(pointer(other));
    }
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
    EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end()), numbers.end());
    EXPECT_EQ(recordCount(*table_), 3u);
    EXPECT_EQ(recordCount(other), 3u);
    // Each table reads only its own records by number.
    EXPECT_EQ(getByPointer(*table_, numbers[1]), kRecordNotFound);
    EXPECT_EQ(getByPointer(other, numbers[1]), 0);
    EXPECT_EQ(other.text(2), "B");
}

TEST_F(RecordsTest, AddOfADuplicateUndoesTheKeysBeforeAndWritesNothing) {
    ASSERT_EQ(addPerson(1, "Ann", 10), 0);
    ASSERT_EQ(addPerson(2, "Bob", 20), 0);
    // Id 3 is new for the first key, Code 10 repeats on the third: the first key's new entry
    // must go again.
    EXPECT_EQ(addPerson(3, "Cid", 10), kCreatesDuplicateKey);
    EXPECT_EQ(recordCount(*table_), 2u);
    EXPECT_EQ(keyCount(*table_, 1), 2);
    EXPECT_EQ(keyCount(*table_, 2), 2);
    EXPECT_EQ(keyCount(*table_, 3), 2);
    EXPECT_EQ(getById(*table_, 3), kRecordNotFound);
    // A duplicate on the first key fails before anything is written.
    EXPECT_EQ(addPerson(2, "Dan", 30), kCreatesDuplicateKey);
    EXPECT_EQ(recordCount(*table_), 2u);
}

TEST_F(RecordsTest, PutAndDeleteNeedACurrentRecord) {
    EXPECT_EQ(table_->put(), kRecordNotAvailable);
    EXPECT_EQ(table_->erase(), kRecordNotAvailable);
    ASSERT_EQ(addPerson(1, "Ann", 10), 0);
    ASSERT_EQ(addPerson(2, "Bob", 20), 0);
    EXPECT_EQ(table_->erase(), 0);
    EXPECT_EQ(table_->erase(), kRecordNotAvailable);
    EXPECT_EQ(table_->put(), kRecordNotAvailable);
    EXPECT_EQ(recordCount(*table_), 1u);
    EXPECT_EQ(keyCount(*table_, 1), 1);
    EXPECT_EQ(keyCount(*table_, 2), 1);
    EXPECT_EQ(getById(*table_, 2), kRecordNotFound);
    // ADD, ADD, DELETE on an empty table leaves one record.
    EXPECT_EQ(getById(*table_, 1), 0);
    EXPECT_EQ(table_->text(2), "Ann");
}

TEST_F(RecordsTest, PutOfAnUnchangedBufferWritesNothing) {
    ASSERT_EQ(addPerson(1, "Ann", 10), 0);
    ASSERT_EQ(getById(*table_, 1), 0);
    uint32_t changes = fileOf(*table_).header().changeCounter();
    EXPECT_EQ(table_->put(), 0);
    EXPECT_EQ(fileOf(*table_).header().changeCounter(), changes);
    // A changed buffer is written, and only the changed key moves.
    table_->setText(2, "Anna");
    EXPECT_EQ(table_->put(), 0);
    EXPECT_GT(fileOf(*table_).header().changeCounter(), changes);
    EXPECT_EQ(keyCount(*table_, 2), 1);
    table_->clear();
    table_->setText(2, "ANNA");  // NOCASE
    ASSERT_EQ(table_->get(table_->key(2)), 0);
    EXPECT_EQ(table_->longValue(1), 1);
    table_->clear();
    table_->setText(2, "Ann");
    EXPECT_EQ(table_->get(table_->key(2)), kRecordNotFound);
}

TEST_F(RecordsTest, PutThatWouldDuplicateAUniqueKeyChangesNothing) {
    ASSERT_EQ(addPerson(1, "Ann", 10), 0);
    ASSERT_EQ(addPerson(2, "Bob", 20), 0);
    ASSERT_EQ(getById(*table_, 2), 0);
    table_->setText(2, "Robert");
    table_->setLong(3, 10);
    EXPECT_EQ(table_->put(), kCreatesDuplicateKey);
    ASSERT_EQ(getById(*table_, 2), 0);
    EXPECT_EQ(table_->text(2), "Bob");
    EXPECT_EQ(table_->longValue(3), 20);
    table_->clear();
    table_->setText(2, "Robert");
    EXPECT_EQ(table_->get(table_->key(2)), kRecordNotFound);
}

TEST_F(RecordsTest, OptKeysLeaveBlankRecordsOut) {
    ASSERT_EQ(addPerson(1, "Ann", 0), 0);
    ASSERT_EQ(addPerson(2, "Bob", 0), 0);  // a blank Code twice is no duplicate
    ASSERT_EQ(addPerson(3, "Cid", 7), 0);
    EXPECT_EQ(keyCount(*table_, 3), 1);
    table_->clear();
    EXPECT_EQ(table_->get(table_->key(3)), kRecordNotFound);
    // Giving a blank record a value adds its entry; blanking it again removes it.
    ASSERT_EQ(getById(*table_, 1), 0);
    table_->setLong(3, 5);
    ASSERT_EQ(table_->put(), 0);
    EXPECT_EQ(keyCount(*table_, 3), 2);
    table_->setLong(3, 0);
    ASSERT_EQ(table_->put(), 0);
    EXPECT_EQ(keyCount(*table_, 3), 1);
}

TEST_F(RecordsTest, DuplicateTellsWhetherTheBufferRepeatsAUniqueValue) {
    ASSERT_EQ(addPerson(1, "Ann", 10), 0);
    ASSERT_EQ(addPerson(2, "Bob", 20), 0);
    struct Case {
        int32_t id;
        int32_t code;
        ArgumentSlot excludeCurrent;
        int32_t expected;
    };
    // Record 2 is current after the last ADD.
    const Case cases[] = {
        {3, 30, 0, 0}, {1, 30, 0, 1}, {3, 10, 0, 1}, {2, 20, 0, 1}, {2, 20, 1, 0}, {2, 10, 1, 1},
    };
    for (const Case& c : cases) {
        table_->setLong(1, c.id);
        table_->setLong(3, c.code);
        EXPECT_EQ(table_->call(kDUPLICATE, {c.excludeCurrent}), c.expected)
            << c.id << " " << c.code << " " << c.excludeCurrent;
    }
    table_->setLong(1, 1);
    table_->setLong(3, 30);
    EXPECT_EQ(table_->call(kDUPLICATEkey, {reinterpret_cast<ArgumentSlot>(table_->key(1)), 0}), 1);
    EXPECT_EQ(table_->call(kDUPLICATEkey, {reinterpret_cast<ArgumentSlot>(table_->key(3)), 0}), 0);
}

TEST_F(RecordsTest, IndexesAreMarkedForRebuildingInsteadOfMaintained) {
    ASSERT_EQ(add(*table_, 1, "Ann", 10, "Rome"), 0);
    uint32_t first = pointer(*table_);
    ASSERT_EQ(add(*table_, 2, "Bob", 20, "Oslo"), 0);
    EXPECT_EQ(keyCount(*table_, 4), 0);
    TableObject& object = *static_cast<TableObject*>(table_->block()->tableObject);
    CountValues values;
    ASSERT_TRUE(readCounts(*object.pageFile(), object.tableNumber, 3, &values));
    EXPECT_EQ(values.second, first);
}

TEST_F(RecordsTest, WatchedRecordChangedByAnotherTableObjectIsNotOverwritten) {
    ASSERT_EQ(addPerson(1, "Ann", 10), 0);
    Table other(people(file_));
    ASSERT_EQ(other.open(0x42), 0);
    EXPECT_EQ(table_->call(kWATCH), 0);
    ASSERT_EQ(getById(*table_, 1), 0);
    ASSERT_EQ(getById(other, 1), 0);
    other.setText(2, "Other");
    ASSERT_EQ(other.put(), 0);
    table_->setText(2, "Mine");
    EXPECT_EQ(table_->put(), kRecordChangedByAnotherStation);
    ASSERT_EQ(getById(*table_, 1), 0);
    EXPECT_EQ(table_->text(2), "Other");
    // Without WATCH the last PUT wins.
    table_->setText(2, "Mine");
    EXPECT_EQ(table_->put(), 0);
}

TEST_F(RecordsTest, HoldBetweenProcessesWaitsOrTimesOut) {
    ASSERT_EQ(addPerson(1, "Ann", 10), 0);
    uint32_t number = pointer(*table_);
    ASSERT_EQ(table_->close(), 0);
    test::ChildProcess holder([&](test::ChildProcess& self) {
        Table table(people(file_));
        if (table.open(0x42) != 0) return 1;
        if (table.call(kHOLDfile) != 0 || getByPointer(table, number) != 0) return 2;
        self.signalParent();
        self.waitForParent();
        table.call(kRELEASE);
        self.signalParent();
        self.waitForParent();
        return 0;
    });
    ASSERT_TRUE(holder.waitForChild());
    ASSERT_EQ(table_->open(0x42), 0);
    // Without HOLD the record reads.
    EXPECT_EQ(getByPointer(*table_, number), 0);
    table_->call(kHOLDfilesec, {1});
    uint32_t start = os::clockHundredths();
    EXPECT_EQ(getByPointer(*table_, number), kRecordAlreadyHeld);
    uint32_t waited = os::clockHundredths() - start;
    EXPECT_GE(waited, 100u);
    EXPECT_LT(waited, 500u);
    // The time-out disarmed HOLD: the next read does not wait.
    EXPECT_EQ(getByPointer(*table_, number), 0);
    // HOLDfile waits until the other process releases the record.
    table_->call(kHOLDfile);
    holder.signalChild();
    EXPECT_EQ(getByPointer(*table_, number), 0);
    EXPECT_TRUE(holder.waitForChild());
    holder.signalChild();
    EXPECT_EQ(holder.join(), 0);
    EXPECT_EQ(table_->call(kRELEASE), 0);
}

TEST_F(RecordsTest, OemTablesStoreStringsInOemAndReadThemBackInAnsi) {
    TableDeclaration declaration("O");
    declaration.name(dir_.file("oem.vlm"))
        .attributes(kAttributeCreate | kAttributeOem)
        .string("O:Text", 8)
        .cstring("O:C", 8)
        .pstring("O:P", 200)
        .key("O:TextKey", 0, {1});
    std::string text = "caf\xE9 \xC4";           // ANSI: e acute, A umlaut
    std::string oemText = "caf\x82 \x8E  ";       // the same in OEM, blank-padded
    std::string pstring(130, 'a');
    pstring[0] = '\xE9';
    {
        Table table(declaration);
        ASSERT_EQ(table.create(), 0);
        ASSERT_EQ(table.open(0x42), 0);
        table.setText(1, text);
        std::copy_n("\xE9t\xE9\0zz", 7, table.record() + 8);
        // A PSTRING of 130 characters: its length byte 0x82 is an OEM e acute.
        table.record()[16] = 130;
        std::copy(pstring.begin(), pstring.end(), table.record() + 17);
        ASSERT_EQ(table.add(), 0);
        table.clear();
        ASSERT_EQ(table.call(kGETfileptr, {static_cast<ArgumentSlot>(table.call(kPOINTERfile))}), 0);
        ASSERT_EQ(table.errorCode(), 0);
        EXPECT_EQ(table.text(1), text);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(table.record()) + 8, 7),
                  std::string("\xE9t\xE9\0zz", 7));
        EXPECT_EQ(table.record()[16], 130);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(table.record()) + 17, 130), pstring);
        table.clear();
        table.setText(1, text);
        EXPECT_EQ(table.get(table.key(1)), 0);
    }
    PageFile file;
    ASSERT_EQ(file.open(dir_.file("oem.vlm"), 0x40, ""), 0);
    // The only data record of the file: find it by its record type.
    std::vector<uint8_t> key(5, 0);
    const Entry* stored = nullptr;
    for (Entry* entry = file.findNextEntry(OwnedEntry(newEntry(key)).get()); entry != nullptr;
         entry = file.findNextEntry(entry)) {
        if (entry->keyLength == 9 && entry->bytes()[4] == kRecordTypeData) {
            stored = entry;
            break;
        }
    }
    ASSERT_NE(stored, nullptr);
    std::string image(reinterpret_cast<const char*>(stored->data().data()), stored->data().size());
    EXPECT_EQ(image.substr(0, 8), oemText);
    EXPECT_EQ(image.substr(8, 7), std::string("\x82t\x82\0zz", 7));
    EXPECT_EQ(static_cast<uint8_t>(image[16]), 130);
    EXPECT_EQ(static_cast<uint8_t>(image[17]), 0x82);
    file.close();
}

TEST_F(RecordsTest, FlagsBytesAndPointers) {
    EXPECT_EQ(table_->send("FLAGS"), "0");
    table_->send("FLAGS=-5");
    EXPECT_EQ(table_->send("flags"), "-5");
    ASSERT_EQ(addPerson(1, "Ann", 10), 0);
    EXPECT_EQ(table_->call(kBYTES), static_cast<int32_t>(table_->recordLength()));
    std::string position;
    table_->call(kPOSITIONfile);
    position = table_->resultText();
    ASSERT_EQ(position.size(), 4u);
    EXPECT_EQ(load32be(reinterpret_cast<const uint8_t*>(position.data())), pointer(*table_));
    table_->clear();
    EXPECT_EQ(table_->call(kREGETfile, {}, {position}), 0);
    EXPECT_EQ(table_->errorCode(), 0);
    EXPECT_EQ(table_->text(2), "Ann");
    EXPECT_EQ(table_->erase(), 0);
    EXPECT_GT(table_->call(kBYTES), 512);
    ASSERT_EQ(table_->close(), 0);
    EXPECT_EQ(table_->send("FLAGS"), "");
    ASSERT_EQ(table_->open(0x42), 0);
    EXPECT_EQ(table_->send("FLAGS"), "-5");
}

}  // namespace
}  // namespace vellum
