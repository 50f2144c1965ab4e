// The typed table wrapper: the control blocks it builds from a declaration, its record accessors,
// and tables in a file driven through it: CREATE, OPEN, NAME, CLOSE, REMOVE, RENAME, COPY,
// the PNM and PNMQ switches, bad names and declarations that break the limits, options, owners,
// EMPTY, the sharing of one physical file, and a failed operation leaving files as they were.
// Files are inspected through a PageFile of their own once the tables have closed them; records
// are put into tables straight through it, as the record operations would store them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <array>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "driver/driver_entry.h"
#include "filelayer/file_layer.h"
#include "filelayer/handle_registry.h"
#include "filelayer/table.h"
#include "pagestore/page_file.h"
#include "support/temp_dir.h"
#include "tablestore/open_file_registry.h"
#include "tablestore/table_object.h"
#include "vellum/byte_order.h"
#include "vellum/entry.h"
#include "vellum/operation_codes.h"

namespace vellum {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string canonicalDir(const test::TempDir& dir) { return fs::canonical(dir.path()).string(); }

std::vector<uint8_t> bigEndianBytes(uint32_t value) {
    std::vector<uint8_t> bytes(4);
    store32be(bytes.data(), value);
    return bytes;
}

// A table file opened on its own, to look at its table names, entries and record counter.
class FileView {
public:
    explicit FileView(const std::string& path, int mode = 0x40) {
        opened_ = file_.open(path, mode, "") == 0;
        EXPECT_TRUE(opened_) << path;
    }
    ~FileView() {
        if (opened_) file_.close();
    }

    PageFile& file() { return file_; }

    std::optional<uint32_t> tableNumber(const std::string& name) {
        Entry* record = file_.findEntry(tableNameKey(name));
        if (record == nullptr || record->data().size() != 4) return std::nullopt;
        return load32be(record->data().data());
    }

    std::vector<std::string> names() { return tableNamesIn(file_); }

    // The keys of every entry of a table number, in order, with their data.
    std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> entriesOf(uint32_t table) {
        std::vector<uint8_t> prefix = bigEndianBytes(table);
        std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> entries;
        OwnedEntry probe(newEntry(prefix));
        Entry* entry = file_.findEntry(prefix);
        if (entry == nullptr) entry = file_.findNextEntry(probe.get());
        while (entry != nullptr && entry->keyLength >= 4 &&
               std::equal(prefix.begin(), prefix.end(), entry->bytes())) {
            entries.emplace_back(std::vector<uint8_t>(entry->key().begin(), entry->key().end()),
                                 std::vector<uint8_t>(entry->data().begin(), entry->data().end()));
            probe.reset(newEntry(entries.back().first));
            entry = file_.findNextEntry(probe.get());
        }
        return entries;
    }

    uint32_t recordCounter() { return load32be(file_.header().recordCounter()); }

private:
    PageFile file_;
    bool opened_ = false;
};

// A field item of a label, type and element size, dimensioned or over another field.
FieldSpec fieldItem(std::string label, uint8_t type, uint32_t elementSize,
                    std::vector<uint32_t> dimensions = {}, uint32_t overField = 0) {
    FieldSpec item;
    item.label = std::move(label);
    item.type = type;
    item.elementSize = elementSize;
    item.dimensions = std::move(dimensions);
    item.overField = overField;
    return item;
}

// A declaration with fields of several types, a group, a field over another, two keys and a
// memo. Offsets: 0 4 24 28 29 31 39 39 45 0; record length 49.
TableDeclaration sampleDeclaration(const std::string& address,
                                   uint8_t attributes = kAttributeCreate) {
    TableDeclaration table("Sample");
    table.name(address)
        .attributes(attributes)
        .longField("SAM:Id")
        .string("SAM:Name", 20)
        .decimal("SAM:Amount", 7, 2)
        .byte("SAM:Flag")
        .shortField("SAM:Count")
        .real("SAM:Ratio")
        .group("SAM:Pair", 2)
        .cstring("SAM:Code", 6)
        .pstring("SAM:Tag", 4)
        .field(fieldItem("SAM:IdText", kString, 4, {}, 1))
        .key("SAM:KeyId", kKeyPrimary | kKeyNoCase, {1})
        .key("SAM:KeyName", kKeyDup | kKeyNoCase, {2, -1}, "NAMEKEY")
        .memo("SAM:Notes", 200);
    return table;
}

// A small table of one LONG field and one unique key.
TableDeclaration smallDeclaration(const std::string& address,
                                  uint8_t attributes = kAttributeCreate) {
    TableDeclaration table("Small");
    table.name(address).attributes(attributes).longField("SMA:Id").key("SMA:KeyId", 0, {1});
    return table;
}

// Creates a table and checks that it went well.
void createTable(const TableDeclaration& declaration) {
    Table table(declaration);
    ASSERT_EQ(table.create(), 0) << *declaration.fileName() << ": " << table.fileError();
}

// Adds a record with its key entries and a memo chunk straight into a table's entries, as the
// record operations would store them: a data record, an entry of the unique key 0 (data: the
// record number), an entry of the DUP key 1 (the record number ends its key) and a memo chunk.
// Returns the record number, issued from the file's counter.
uint32_t addRawRecord(const std::string& path, const std::string& tableName, uint8_t fill) {
    FileView view(path, 0x42);
    std::optional<uint32_t> number = view.tableNumber(tableName);
    EXPECT_TRUE(number.has_value()) << tableName;
    if (!number) return 0;
    PageFile& file = view.file();
    file.beginWrite();
    std::vector<uint8_t> table = bigEndianBytes(*number);
    std::array<uint8_t, 4> issued = file.nextRecordNumber();
    std::vector<uint8_t> record(issued.begin(), issued.end());
    auto key = [&](uint8_t type) {
        std::vector<uint8_t> k = table;
        k.push_back(type);
        return k;
    };
    std::vector<uint8_t> data = key(0xF3);
    data.insert(data.end(), record.begin(), record.end());
    file.insertEntry(newEntry(data, std::vector<uint8_t>(49, fill)));
    std::vector<uint8_t> unique = key(0x00);
    unique.insert(unique.end(), {fill, fill, fill, fill});
    file.insertEntry(newEntry(unique, record));
    std::vector<uint8_t> dup = key(0x01);
    dup.insert(dup.end(), 20, fill);
    dup.insert(dup.end(), record.begin(), record.end());
    file.insertEntry(newEntry(dup));
    std::vector<uint8_t> memo = key(0xFC);
    memo.insert(memo.end(), record.begin(), record.end());
    memo.insert(memo.end(), {0x01, 0x00, 0x00});
    file.insertEntry(newEntry(memo, std::vector<uint8_t>(10, fill)));
    EXPECT_EQ(file.commit(), 0);
    file.endWrite();
    return load32be(record.data());
}

// The record numbers an entry carries, by its record type: data records and memo chunks in the
// key, key entries in their data or, for DUP keys, at the end of the key.
std::vector<uint32_t> recordNumbersOf(
    const std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>>& entries) {
    std::vector<uint32_t> numbers;
    for (const auto& [key, data] : entries) {
        uint8_t type = key[4];
        if (type == 0xF3 || type == 0xFC) {
            numbers.push_back(load32be(key.data() + 5));
        } else if (type <= 0xEF) {
            numbers.push_back(data.size() == 4 ? load32be(data.data())
                                               : load32be(key.data() + key.size() - 4));
        }
    }
    return numbers;
}

// The blocks ---------------------------------------------------------------------------------

TEST(TableBlocks, FieldsAreLaidOutInDeclarationOrder) {
    Table table(sampleDeclaration("s.vlm"));
    const FileControlBlock& block = *table.block();
    ASSERT_EQ(table.recordLength(), 49u);
    EXPECT_EQ(block.recordLength, 49u);
    EXPECT_EQ(block.recordBuffer, table.record());

    const FieldDeclaration& record = block.fields[0];
    EXPECT_EQ(record.type, kGroup);
    EXPECT_EQ(record.offset, 0u);
    EXPECT_EQ(record.elementSize, 49u);
    EXPECT_EQ(record.memberCount, 10u);

    struct Expected {
        const char* label;
        uint8_t type;
        uint32_t offset;
        uint32_t elementSize;
    };
    const Expected expected[] = {
        {"SAM:Id", kLong, 0, 4},       {"SAM:Name", kString, 4, 20},
        {"SAM:Amount", kDecimal, 24, 4}, {"SAM:Flag", kByte, 28, 1},
        {"SAM:Count", kShort, 29, 2},  {"SAM:Ratio", kReal, 31, 8},
        {"SAM:Pair", kGroup, 39, 10},  {"SAM:Code", kCString, 39, 6},
        {"SAM:Tag", kPString, 45, 4},  {"SAM:IdText", kString, 0, 4},
    };
    for (uint32_t i = 0; i < std::size(expected); ++i) {
        const FieldDeclaration& field = block.fields[i + 1];
        SCOPED_TRACE(expected[i].label);
        EXPECT_STREQ(field.label.text, expected[i].label);
        EXPECT_EQ(field.label.length, -1);
        EXPECT_EQ(field.type, expected[i].type);
        EXPECT_EQ(field.offset, expected[i].offset);
        EXPECT_EQ(field.elementSize, expected[i].elementSize);
        EXPECT_EQ(field.externalName.text, nullptr);
        EXPECT_EQ(table.fieldNumber(expected[i].label), i + 1);
    }
    EXPECT_EQ(block.fields[3].places, 2);
    EXPECT_EQ(block.fields[7].memberCount, 2u);
    EXPECT_EQ(table.fieldNumber("sam:name"), 2u) << "labels match without regard to case";
    EXPECT_EQ(table.fieldNumber("SAM:None"), 0u);
}

TEST(TableBlocks, BlockCarriesTextsKeysAndMemos) {
    TableDeclaration declaration = sampleDeclaration("s.vlm\\!one");
    declaration.owner("secret").options("/DecimalCheck=OFF");
    Table table(declaration);
    const FileControlBlock& block = *table.block();
    EXPECT_EQ(block.blockSize, sizeof(FileControlBlock));
    EXPECT_EQ(block.driverEntry, &driverEntry);
    EXPECT_EQ(block.tableObject, nullptr);
    EXPECT_STREQ(block.name.text, "s.vlm\\!one");
    EXPECT_EQ(block.name.length, -1);
    EXPECT_STREQ(block.owner.text, "secret");
    EXPECT_EQ(block.owner.length, -1);
    EXPECT_STREQ(block.driverOptions.text, "/DecimalCheck=OFF");
    EXPECT_EQ(block.attributes, kAttributeCreate);

    ASSERT_EQ(block.keyCount, 2);
    ASSERT_EQ(block.keys[0], table.key(1u));
    ASSERT_EQ(block.keys[1], table.key("sam:keyname"));
    EXPECT_EQ(table.key(3u), nullptr);
    EXPECT_EQ(table.key(0u), nullptr);
    EXPECT_EQ(table.key("SAM:NoKey"), nullptr);
    const KeyControlBlock& first = *block.keys[0];
    EXPECT_STREQ(first.label.text, "SAM:KeyId");
    EXPECT_EQ(first.name.text, nullptr);
    EXPECT_EQ(first.attributes, uint32_t{kKeyPrimary | kKeyNoCase});
    ASSERT_EQ(first.componentCount, 1);
    EXPECT_EQ(first.components[0], 1);
    EXPECT_EQ(first.file, table.block());
    const KeyControlBlock& second = *block.keys[1];
    EXPECT_STREQ(second.name.text, "NAMEKEY");
    ASSERT_EQ(second.componentCount, 2);
    EXPECT_EQ(second.components[0], 2);
    EXPECT_EQ(second.components[1], -1);

    ASSERT_EQ(block.memoCount, 1);
    EXPECT_STREQ(block.memos[0].label.text, "SAM:Notes");
    EXPECT_EQ(block.memos[0].size, 200u);

    // Absent texts are null; a second instance has blocks and a record of its own.
    Table plain(sampleDeclaration("s.vlm"));
    EXPECT_EQ(plain.block()->owner.text, nullptr);
    EXPECT_EQ(plain.block()->driverOptions.text, nullptr);
    EXPECT_NE(plain.record(), table.record());
    EXPECT_NE(plain.block()->fields, block.fields);
    EXPECT_NE(plain.key(1u), table.key(1u));
    EXPECT_EQ(plain.key(1u)->file, plain.block());
}

TEST(TableBlocks, RecordAccessorsReadWhatTheyWrite) {
    Table table(sampleDeclaration("s.vlm"));
    // A fresh record has blank strings and zero numbers.
    EXPECT_EQ(std::string(reinterpret_cast<char*>(table.record()) + 4, 20), std::string(20, ' '));
    EXPECT_EQ(table.longValue(1), 0);

    struct TextCase {
        uint32_t field;
        std::string written;
        std::string read;
    };
    const TextCase texts[] = {
        {2, "Vase", "Vase"},
        {2, "", ""},
        {2, std::string(25, 'x'), std::string(20, 'x')},  // cut to the field
        {2, "trailing   ", "trailing"},
        {8, "abc", "abc"},
        {8, "abcdefgh", "abcde"},  // CSTRING keeps room for its terminator
        {9, "xyz", "xyz"},
        {9, "wxyz", "wxy"},        // PSTRING: a length byte and three characters
        {1, "no string", ""},      // not a string field
        {99, "nothing", ""},       // no such field
    };
    for (const TextCase& c : texts) {
        table.setText(c.field, c.written);
        EXPECT_EQ(table.text(c.field), c.read) << c.field << " '" << c.written << "'";
    }

    const int32_t longs[] = {0, 1, -1, 2147483647, -2147483647 - 1};
    for (int32_t value : longs) {
        table.setLong(1, value);
        EXPECT_EQ(table.longValue(1), value);
    }
    table.setLong(5, -2);
    EXPECT_EQ(table.longValue(5), -2) << "SHORT";
    table.setLong(4, 300);
    EXPECT_EQ(table.longValue(4), 44) << "BYTE keeps the low byte";

    // DECIMAL(7,2) is 4 bytes: sign half-byte and seven digits.
    struct DecimalCase {
        int64_t written;
        int64_t read;
        std::vector<uint8_t> bytes;
    };
    const DecimalCase decimals[] = {
        {0, 0, {0x00, 0x00, 0x00, 0x00}},
        {12345, 12345, {0x00, 0x01, 0x23, 0x45}},
        {-7, -7, {0xF0, 0x00, 0x00, 0x07}},
        {9999999, 9999999, {0x09, 0x99, 0x99, 0x99}},
        {12345678, 2345678, {0x02, 0x34, 0x56, 0x78}},  // digits beyond the field are lost
    };
    for (const DecimalCase& c : decimals) {
        table.setDecimal(3, c.written);
        EXPECT_EQ(table.decimalValue(3), c.read) << c.written;
        EXPECT_EQ(std::vector<uint8_t>(table.record() + 24, table.record() + 28), c.bytes)
            << c.written;
    }
    EXPECT_EQ(table.longValue(1), -2147483647 - 1) << "neighbours untouched";
}

TEST(TableBlocks, LayoutsBeyondAnyRecordAreRefused) {
    // Fields over others may reach beyond the stored ones; a layout past any record's size gets
    // no buffer, and the engine refuses it.
    TableDeclaration huge("Huge");
    huge.name("huge.vlm")
        .attributes(kAttributeCreate)
        .longField("HUG:Id")
        .field(fieldItem("HUG:Wide", kString, 100000, {100000}, 1));
    Table table(huge);
    EXPECT_EQ(table.recordLength(), 0u);
    EXPECT_EQ(table.block()->recordBuffer, nullptr);
    EXPECT_EQ(table.text(2), "");
    table.setText(2, "x");
    table.setLong(1, 5);
    EXPECT_EQ(table.longValue(1), 0);
    EXPECT_EQ(table.create(), 75);
    EXPECT_FALSE(fs::exists("huge.vlm"));

    // A LONG declared one byte wide is read and written only where it fits.
    TableDeclaration narrow("Narrow");
    narrow.field(fieldItem("NAR:Id", kLong, 1));
    Table small(narrow);
    ASSERT_EQ(small.recordLength(), 1u);
    small.setLong(1, 7);
    EXPECT_EQ(small.longValue(1), 0);
    EXPECT_EQ(small.record()[0], 0);
}

// Create, open, name, errors -------------------------------------------------------------------

TEST(TableStatements, CreateThenOpenAcceptsTheBlocks) {
    test::TempDir dir;
    std::string path = dir.file("s.vlm");
    Table table(sampleDeclaration(path));
    EXPECT_EQ(table.open(), 2) << "no file yet";
    ASSERT_EQ(table.create(), 0) << table.fileError();
    ASSERT_TRUE(fs::exists(path));
    ASSERT_EQ(table.open(0x42), 0) << table.fileError();
    EXPECT_EQ(table.errorCode(), 0);
    EXPECT_EQ(table.open(0x42), 52) << "already open";
    EXPECT_EQ(table.block()->statusRecord->accessMode, 0x42);
    EXPECT_EQ(table.call(kCOUNTRECORDS, {0}), 0) << "no records";
    EXPECT_EQ(table.errorCode(), 0);
    EXPECT_EQ(table.close(), 0);
    EXPECT_EQ(table.block()->statusRecord->accessMode, 0);
    EXPECT_EQ(table.close(), 37) << "not open";
    EXPECT_EQ(table.open(0x40), 0) << "read only";
    EXPECT_EQ(table.close(), 0);
    EXPECT_EQ(table.open(0x41), 5) << "write only is refused";

    // A declaration without fields takes the stored definition.
    TableDeclaration bare("Bare");
    bare.name(path);
    Table loaded(bare);
    EXPECT_EQ(loaded.open(0x40), 0) << loaded.fileError();
    EXPECT_EQ(loaded.close(), 0);

    // A table without CREATE cannot be created; nothing is written.
    std::string other = dir.file("none.vlm");
    Table refused(sampleDeclaration(other, 0));
    EXPECT_EQ(refused.create(), 54);
    EXPECT_FALSE(fs::exists(other));
}

TEST(TableStatements, NameBeforeAndAfterOpen) {
    test::TempDir dir;
    std::string full = canonicalDir(dir);
    struct Case {
        std::string address;  // relative to the directory
        std::string opened;   // the full name once open, relative to the canonical directory
    };
    const Case cases[] = {
        {"f.vlm", "f.vlm"},
        {"g", "g.VLM"},
        {"h.vlm\\!one", "h.vlm\\!ONE"},
        {"h.vlm\\!Two", "h.vlm\\!TWO"},
        {"h.vlm\\!", "h.vlm"},           // a separator with nothing after it names no table
        {"h.vlm\\!unnamed", "h.vlm"},    // the unnamed table by its own name
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        std::string address = dir.path() + "/" + c.address;
        Table table(smallDeclaration(address));
        EXPECT_EQ(table.name(), address) << "closed: the declared name";
        ASSERT_EQ(table.create(), 0) << table.fileError();
        EXPECT_EQ(table.name(), address);
        ASSERT_EQ(table.open(), 0);
        EXPECT_EQ(table.name(), full + "/" + c.opened);
        EXPECT_EQ(table.resultText(), full + "/" + c.opened);
        ASSERT_EQ(table.close(), 0);
        EXPECT_EQ(table.name(), address);
    }
}

TEST(TableStatements, ErrorsAreReadBackFromTheThread) {
    test::TempDir dir;
    std::string path = dir.file("e.vlm");
    createTable(smallDeclaration(path + "\\!one"));

    Table missing(smallDeclaration(path + "\\!two"));
    EXPECT_EQ(missing.open(), 2);
    EXPECT_EQ(missing.errorCode(), 2);
    EXPECT_EQ(errorFile(), missing.block());
    EXPECT_EQ(missing.fileError(), "");

    // Another layout under the same name: the stored definition refuses it.
    TableDeclaration wider("Wider");
    wider.name(path + "\\!one").attributes(kAttributeCreate).string("WID:Id", 4).key(
        "WID:KeyId", 0, {1});
    Table mismatch(wider);
    EXPECT_EQ(mismatch.open(), 47);
    EXPECT_EQ(mismatch.errorCode(), 47);
    EXPECT_EQ(mismatch.fileError(), "FIELD : 1 : TYPE : D00001");
    EXPECT_EQ(mismatch.fileErrorCode(), "");
    // The next statement starts afresh.
    EXPECT_EQ(mismatch.close(), 0);
    EXPECT_EQ(mismatch.errorCode(), 0);
    EXPECT_EQ(mismatch.fileError(), "");

    Table closed(smallDeclaration(path + "\\!one"));
    EXPECT_EQ(closed.next(), 37) << "needs an open table";
    EXPECT_EQ(closed.set(nullptr), 37);
    EXPECT_EQ(closed.call(kOPEN, {}, {}), 0) << "the value; the error is separate";
    EXPECT_EQ(closed.errorCode(), 0) << "mode 0 reads";
    EXPECT_EQ(closed.call(kBOF), 1) << "sequence not set";
    EXPECT_EQ(closed.errorCode(), 33);
    EXPECT_EQ(closed.close(), 0);
}

TEST(TableStatements, OptionsAndOwnerReachTheEngine) {
    test::TempDir dir;
    std::string path = dir.file("o.vlm");
    auto withPlaces = [&](unsigned places) {
        TableDeclaration table("Places");
        table.name(path).attributes(kAttributeCreate).decimal("PLA:Amount", 5, places);
        return table;
    };
    createTable(withPlaces(0));

    Table strict(withPlaces(2));
    EXPECT_EQ(strict.open(), 47);
    EXPECT_EQ(strict.fileError(), "FIELD : 1 : PLACES : D00001");
    TableDeclaration relaxedDeclaration = withPlaces(2);
    relaxedDeclaration.options("/DecimalCheck=OFF");
    Table relaxed(relaxedDeclaration);
    EXPECT_EQ(relaxed.share(0x42), 0) << relaxed.fileError();
    EXPECT_EQ(relaxed.send("DecimalCheck"), "OFF");
    EXPECT_EQ(relaxed.send("DecimalCheck=ON"), "OFF");
    EXPECT_EQ(relaxed.send("DecimalCheck"), "ON");
    EXPECT_EQ(relaxed.close(), 0);

    // Mode 0 opens for reading; the status record says so.
    Table reader(withPlaces(0));
    EXPECT_EQ(reader.open(0), 0);
    ASSERT_NE(reader.block()->statusRecord, nullptr);
    EXPECT_EQ(reader.block()->statusRecord->accessMode, 0x40);
    EXPECT_EQ(reader.close(), 0);

    // The owner text enciphers the file; without it the file is not readable.
    std::string secret = dir.file("secret.vlm");
    TableDeclaration owned = smallDeclaration(secret, kAttributeCreate | kAttributeEncrypt);
    owned.owner("password");
    createTable(owned);
    EXPECT_EQ(test::readFileBytes(secret).find("SMA:Id"), std::string::npos) << "enciphered";
    Table withOwner(owned);
    EXPECT_EQ(withOwner.open(0x40), 0) << withOwner.fileError();
    EXPECT_EQ(withOwner.close(), 0);
    Table withoutOwner(smallDeclaration(secret));
    EXPECT_EQ(withoutOwner.open(0x40), 36);
    TableDeclaration wrongOwner = smallDeclaration(secret);
    wrongOwner.owner("other");
    Table wrong(wrongOwner);
    EXPECT_EQ(wrong.open(0x40), 36);
}

// Tables in a file ---------------------------------------------------------------------------

TEST(TablesInFile, SeveralNamedTablesShareAFile) {
    test::TempDir dir;
    std::string path = dir.file("f.vlm");
    createTable(smallDeclaration(path + "\\!one"));
    createTable(sampleDeclaration(path + "\\!two"));
    Table one(smallDeclaration(path + "\\!one"));
    Table two(sampleDeclaration(path + "\\!TWO"));
    ASSERT_EQ(one.open(), 0);
    ASSERT_EQ(two.open(), 0) << two.fileError();
    EXPECT_EQ(one.close(), 0);
    EXPECT_EQ(two.close(), 0);

    FileView view(path);
    EXPECT_THAT(view.names(), ElementsAre("ONE", "TWO"));
    std::optional<uint32_t> first = view.tableNumber("ONE");
    std::optional<uint32_t> second = view.tableNumber("TWO");
    ASSERT_TRUE(first && second);
    EXPECT_LT(*first, *second);
    EXPECT_FALSE(view.entriesOf(*first).empty());
    EXPECT_FALSE(view.entriesOf(*second).empty());
}

TEST(TablesInFile, CreateOverAnExistingTableGivesANewNumber) {
    test::TempDir dir;
    std::string path = dir.file("c.vlm");
    createTable(sampleDeclaration(path + "\\!one"));
    createTable(smallDeclaration(path + "\\!other"));
    uint32_t old;
    {
        FileView view(path);
        old = view.tableNumber("ONE").value_or(0);
        ASSERT_NE(old, 0u);
    }
    uint32_t record = addRawRecord(path, "ONE", 0x41);
    ASSERT_NE(record, 0u);
    createTable(sampleDeclaration(path + "\\!one"));

    FileView view(path);
    std::optional<uint32_t> renewed = view.tableNumber("ONE");
    ASSERT_TRUE(renewed.has_value());
    EXPECT_GT(*renewed, record) << "drawn from the counter after the record";
    EXPECT_THAT(view.entriesOf(old), IsEmpty()) << "the old table's entries are gone";
    EXPECT_THAT(recordNumbersOf(view.entriesOf(*renewed)), IsEmpty()) << "no records";
    EXPECT_THAT(view.names(), ElementsAre("ONE", "OTHER"));
    EXPECT_FALSE(view.entriesOf(view.tableNumber("OTHER").value_or(0)).empty());
}

TEST(TablesInFile, RemoveDeletesTheFileWithItsLastTable) {
    test::TempDir dir;
    std::string path = dir.file("r.vlm");
    createTable(smallDeclaration(path + "\\!one"));
    createTable(smallDeclaration(path + "\\!two"));

    Table one(smallDeclaration(path + "\\!one"));
    ASSERT_EQ(one.remove(), 0);
    ASSERT_TRUE(fs::exists(path)) << "one table is left";
    EXPECT_EQ(one.open(), 2);
    Table two(smallDeclaration(path + "\\!two"));
    ASSERT_EQ(two.open(), 0);
    EXPECT_EQ(two.close(), 0);
    {
        FileView view(path);
        EXPECT_THAT(view.names(), ElementsAre("TWO"));
    }

    EXPECT_EQ(two.remove(), 0);
    EXPECT_FALSE(fs::exists(path)) << "no table is left";
    EXPECT_EQ(two.open(), 2);

    // The unnamed table alone.
    std::string single = dir.file("u.vlm");
    createTable(smallDeclaration(single));
    Table unnamed(smallDeclaration(single));
    EXPECT_EQ(unnamed.remove(), 0);
    EXPECT_FALSE(fs::exists(single));
}

TEST(TablesInFile, RenameWithinAFileKeepsTheNumber) {
    test::TempDir dir;
    std::string path = dir.file("n.vlm");
    createTable(sampleDeclaration(path + "\\!one"));
    createTable(smallDeclaration(path + "\\!taken"));
    uint32_t record = addRawRecord(path, "ONE", 0x42);
    uint32_t number;
    {
        FileView view(path);
        number = view.tableNumber("ONE").value_or(0);
    }

    Table one(sampleDeclaration(path + "\\!one"));
    EXPECT_EQ(one.rename(path + "\\!taken"), 5) << "onto an existing table";
    EXPECT_EQ(one.rename(path + "\\!uno"), 0) << one.fileError();

    {
        FileView view(path);
        EXPECT_THAT(view.names(), ElementsAre("TAKEN", "UNO"));
        EXPECT_EQ(view.tableNumber("UNO"), number);
        std::vector<uint32_t> records = recordNumbersOf(view.entriesOf(number));
        EXPECT_THAT(records, ElementsAre(record, record, record, record))
            << "keys, data record and memo stay";
    }
    EXPECT_EQ(one.open(), 2) << "the old name is not found";
    Table uno(sampleDeclaration(path + "\\!uno"));
    EXPECT_EQ(uno.open(), 0);
    EXPECT_EQ(uno.close(), 0);
    Table taken(smallDeclaration(path + "\\!taken"));
    EXPECT_EQ(taken.open(), 0) << "the refused rename left the target alone";
    EXPECT_EQ(taken.close(), 0);
}

TEST(TablesInFile, CopyIntoAnotherFileTakesNumbersAboveTheTargets) {
    test::TempDir dir;
    std::string source = dir.file("from.vlm");
    std::string target = dir.file("to.vlm");
    createTable(sampleDeclaration(source + "\\!one"));
    uint32_t first = addRawRecord(source, "ONE", 0x31);
    uint32_t second = addRawRecord(source, "ONE", 0x32);
    // The target has issued numbers of its own, beyond those of the source.
    createTable(smallDeclaration(target + "\\!a"));
    createTable(smallDeclaration(target + "\\!b"));
    createTable(smallDeclaration(target + "\\!c"));
    addRawRecord(target, "C", 0x01);
    addRawRecord(target, "C", 0x02);
    uint32_t before;
    {
        FileView view(target);
        before = view.recordCounter();
        ASSERT_GT(before, second);
    }

    Table one(sampleDeclaration(source + "\\!one"));
    ASSERT_EQ(one.copy(target + "\\!copy"), 0) << one.fileError();

    FileView view(target);
    std::optional<uint32_t> copy = view.tableNumber("COPY");
    ASSERT_TRUE(copy.has_value());
    EXPECT_GT(*copy, before);
    auto entries = view.entriesOf(*copy);
    std::vector<uint32_t> records = recordNumbersOf(entries);
    ASSERT_EQ(records.size(), 8u);
    uint32_t highest = *std::max_element(records.begin(), records.end());
    for (uint32_t r : records) EXPECT_GT(r, *copy) << "above the table number and the counter";
    // Record numbers keep their distance: base + r for every r of the source.
    std::vector<uint32_t> distinct = records;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    ASSERT_EQ(distinct.size(), 2u);
    EXPECT_EQ(distinct[1] - distinct[0], second - first);
    EXPECT_EQ(view.recordCounter(), highest) << "the counter follows the highest number used";
    EXPECT_THAT(view.names(), ElementsAre("A", "B", "C", "COPY"));

    // The source keeps its table and entries.
    FileView from(source);
    std::optional<uint32_t> original = from.tableNumber("ONE");
    ASSERT_TRUE(original.has_value());
    EXPECT_THAT(recordNumbersOf(from.entriesOf(*original)),
                ::testing::UnorderedElementsAre(first, first, first, first, second, second,
                                                second, second));
}

TEST(TablesInFile, CopyOntoAnExistingTableReplacesIt) {
    test::TempDir dir;
    std::string source = dir.file("from.vlm");
    std::string target = dir.file("to.vlm");
    createTable(sampleDeclaration(source + "\\!one"));
    addRawRecord(source, "ONE", 0x55);
    createTable(smallDeclaration(target + "\\!copy"));
    addRawRecord(target, "COPY", 0x66);
    uint32_t replaced;
    {
        FileView view(target);
        replaced = view.tableNumber("COPY").value_or(0);
        ASSERT_NE(replaced, 0u);
    }

    Table one(sampleDeclaration(source + "\\!one"));
    ASSERT_EQ(one.copy(target + "\\!copy"), 0) << one.fileError();
    {
        FileView view(target);
        EXPECT_THAT(view.names(), ElementsAre("COPY"));
        uint32_t number = view.tableNumber("COPY").value_or(0);
        EXPECT_GT(number, replaced);
        EXPECT_THAT(view.entriesOf(replaced), IsEmpty());
        EXPECT_EQ(recordNumbersOf(view.entriesOf(number)).size(), 4u);
    }
    // The copy now has the source's layout.
    Table copied(sampleDeclaration(target + "\\!copy"));
    EXPECT_EQ(copied.open(), 0) << copied.fileError();
    EXPECT_EQ(copied.close(), 0);
    Table old(smallDeclaration(target + "\\!copy"));
    EXPECT_EQ(old.open(), 47);
}

TEST(TablesInFile, WholeFileCopyAndMoveOfAnUnnamedTable) {
    test::TempDir dir;
    std::string source = dir.file("whole.vlm");
    createTable(smallDeclaration(source));
    std::string bytes = test::readFileBytes(source);

    Table table(smallDeclaration(source));
    ASSERT_EQ(table.copy(dir.file("copied.vlm")), 0);
    EXPECT_EQ(test::readFileBytes(dir.file("copied.vlm")), bytes);
    fs::create_directory(dir.file("sub"));
    ASSERT_EQ(table.rename(dir.file("sub")), 0) << "into a directory";
    EXPECT_FALSE(fs::exists(source));
    EXPECT_EQ(test::readFileBytes(dir.file("sub/whole.vlm")), bytes);
}

TEST(TablesInFile, CopyWithinAFileAndRenameIntoAnotherFile) {
    test::TempDir dir;
    std::string path = dir.file("w.vlm");
    std::string other = dir.file("o.vlm");
    createTable(sampleDeclaration(path + "\\!one"));
    uint32_t record = addRawRecord(path, "ONE", 0x21);

    Table one(sampleDeclaration(path + "\\!one"));
    ASSERT_EQ(one.copy(path + "\\!two"), 0) << one.fileError();
    uint32_t twoNumber;
    {
        FileView view(path);
        EXPECT_THAT(view.names(), ElementsAre("ONE", "TWO"));
        uint32_t oneNumber = view.tableNumber("ONE").value_or(0);
        twoNumber = view.tableNumber("TWO").value_or(0);
        EXPECT_GT(twoNumber, record);
        EXPECT_THAT(recordNumbersOf(view.entriesOf(oneNumber)),
                    ElementsAre(record, record, record, record));
        std::vector<uint32_t> copied = recordNumbersOf(view.entriesOf(twoNumber));
        ASSERT_EQ(copied.size(), 4u);
        EXPECT_GT(copied[0], twoNumber);
        EXPECT_EQ(view.recordCounter(), copied[0]);
    }

    // Moving TWO into another file takes it out of this one.
    createTable(smallDeclaration(other + "\\!x"));
    Table two(sampleDeclaration(path + "\\!two"));
    ASSERT_EQ(two.rename(other + "\\!moved"), 0) << two.fileError();
    {
        FileView view(path);
        EXPECT_THAT(view.names(), ElementsAre("ONE"));
        EXPECT_THAT(view.entriesOf(twoNumber), IsEmpty());
    }
    {
        FileView view(other);
        EXPECT_THAT(view.names(), ElementsAre("MOVED", "X"));
        EXPECT_EQ(recordNumbersOf(view.entriesOf(view.tableNumber("MOVED").value_or(0))).size(),
                  4u);
    }
    EXPECT_EQ(two.open(), 2);
    Table moved(sampleDeclaration(other + "\\!moved"));
    EXPECT_EQ(moved.open(), 0) << moved.fileError();
    EXPECT_EQ(moved.close(), 0);
}

TEST(TablesInFile, EmptyKeepsTheNameAndNumber) {
    test::TempDir dir;
    std::string path = dir.file("m.vlm");
    createTable(sampleDeclaration(path + "\\!one"));
    addRawRecord(path, "ONE", 0x11);
    uint32_t number;
    size_t entries;
    {
        FileView view(path);
        number = view.tableNumber("ONE").value_or(0);
        entries = view.entriesOf(number).size();
    }
    Table one(sampleDeclaration(path + "\\!one"));
    EXPECT_EQ(one.empty(), 37) << "needs an open table";
    ASSERT_EQ(one.open(0x42), 0);
    EXPECT_EQ(one.empty(), 63) << "needs exclusive access";
    ASSERT_EQ(one.close(), 0);
    ASSERT_EQ(one.open(0x22), 0);
    EXPECT_EQ(one.empty(), 0);
    ASSERT_EQ(one.close(), 0);

    FileView view(path);
    EXPECT_EQ(view.tableNumber("ONE"), number);
    auto left = view.entriesOf(number);
    EXPECT_THAT(recordNumbersOf(left), IsEmpty());
    EXPECT_LT(left.size(), entries) << "records, keys and memos are gone";
    EXPECT_FALSE(left.empty()) << "the definition and the counts stay";
}

TEST(TablesInFile, ChangesWhileAnotherTableOfTheFileIsOpen) {
    test::TempDir dir;
    std::string path = dir.file("busy.vlm");
    createTable(smallDeclaration(path + "\\!one"));
    Table one(smallDeclaration(path + "\\!one"));
    ASSERT_EQ(one.open(0x42), 0);

    // Creating, copying and removing other tables of the file while ONE stays open.
    Table two(sampleDeclaration(path + "\\!two"));
    ASSERT_EQ(two.create(), 0) << two.fileError();
    ASSERT_EQ(two.copy(path + "\\!three"), 0) << two.fileError();
    EXPECT_EQ(one.send("PNM=ONE"), "THREE");
    ASSERT_EQ(two.remove(), 0);
    EXPECT_EQ(one.send("PNM=ONE"), "THREE");
    EXPECT_EQ(one.send("PNM=THREE"), "");
    Table three(sampleDeclaration(path + "\\!three"));
    EXPECT_EQ(three.open(0x42), 0) << three.fileError();
    EXPECT_EQ(three.close(), 0);
    EXPECT_EQ(one.close(), 0);
    EXPECT_EQ(one.open(0x40), 0);
    EXPECT_EQ(one.close(), 0);

    FileView view(path);
    EXPECT_THAT(view.names(), ElementsAre("ONE", "THREE"));
}

TEST(TablesInFile, DestroyReleasesAnOpenTable) {
    test::TempDir dir;
    std::string path = dir.file("d.vlm");
    createTable(smallDeclaration(path));
    std::string registered = canonicalDir(dir) + "/d.vlm";
    {
        Table table(smallDeclaration(path));
        ASSERT_EQ(table.open(0x42), 0);
        EXPECT_NE(findOpenFile(registered, false), nullptr);
    }
    EXPECT_EQ(findOpenFile(registered, false), nullptr);
}

TEST(TablesInFile, AKeyOfAnotherTableIsRefused) {
    test::TempDir dir;
    std::string path = dir.file("k.vlm");
    createTable(sampleDeclaration(path));
    Table one(sampleDeclaration(path));
    Table two(sampleDeclaration(path));
    ASSERT_EQ(one.open(0x40), 0);
    ASSERT_EQ(two.open(0x40), 0);
    EXPECT_EQ(one.set(two.key(1u)), 38);
    EXPECT_EQ(one.get(two.key(2u)), 38);
    EXPECT_EQ(one.setFromBuffer(two.key("SAM:KeyId")), 38);
    EXPECT_EQ(one.close(), 0);
    EXPECT_EQ(two.close(), 0);
}

TEST(TablesInFile, ACopyThatFailsLeavesTheSourceAlone) {
    test::TempDir dir;
    std::string path = dir.file("src.vlm");
    createTable(smallDeclaration(path + "\\!one"));
    auto contents = [&] {
        FileView view(path);
        return std::make_tuple(view.names(), view.entriesOf(view.tableNumber("ONE").value_or(0)),
                               view.file().header().changeCounter());
    };
    auto before = contents();
    Table missing(smallDeclaration(path + "\\!none"));
    EXPECT_EQ(missing.copy(dir.file("dst.vlm\\!x")), 2);
    EXPECT_EQ(missing.rename(dir.file("dst.vlm\\!x")), 2);
    EXPECT_EQ(contents(), before) << "no change committed";
    EXPECT_FALSE(fs::exists(dir.file("dst.vlm"))) << "no target file left behind";
    Table one(smallDeclaration(path + "\\!one"));
    EXPECT_EQ(one.open(), 0);
    EXPECT_EQ(one.close(), 0);
}

TEST(TablesInFile, ACopyThatFailsLeavesTheTargetTableInPlace) {
    test::TempDir dir;
    std::string source = dir.file("src.vlm");
    std::string target = dir.file("dst.vlm");
    createTable(smallDeclaration(source + "\\!one"));
    createTable(smallDeclaration(target + "\\!keep"));
    addRawRecord(target, "KEEP", 0x07);
    auto contents = [&] {
        FileView view(target);
        return std::make_pair(view.names(),
                              view.entriesOf(view.tableNumber("KEEP").value_or(0)));
    };
    auto before = contents();
    ASSERT_EQ(before.second.size(), 8u);

    // The source table does not exist, or its stored definition does not match.
    Table missing(smallDeclaration(source + "\\!none"));
    EXPECT_EQ(missing.copy(target + "\\!keep"), 2);
    EXPECT_EQ(contents(), before);
    Table mismatch(sampleDeclaration(source + "\\!one"));
    EXPECT_EQ(mismatch.copy(target + "\\!keep"), 47);
    EXPECT_EQ(contents(), before);
    // A copy onto itself: with the target out of the way the source is not found, and the
    // table stays as it was.
    Table self(smallDeclaration(target + "\\!keep"));
    EXPECT_EQ(self.copy(target + "\\!keep"), 2);
    EXPECT_EQ(contents(), before);
    Table keep(smallDeclaration(target + "\\!keep"));
    EXPECT_EQ(keep.open(), 0);
    // And while another table holds the target file open.
    EXPECT_EQ(missing.copy(target + "\\!keep"), 2);
    EXPECT_EQ(keep.send("PNM="), "KEEP");
    EXPECT_EQ(keep.close(), 0);
    EXPECT_EQ(contents(), before);
}

TEST(TablesInFile, RemoveAndRenameUnderAnotherLayoutChangeNothing) {
    test::TempDir dir;
    std::string path = dir.file("l.vlm");
    createTable(smallDeclaration(path + "\\!one"));
    createTable(smallDeclaration(path + "\\!two"));
    auto contents = [&] {
        FileView view(path);
        return std::make_pair(view.names(), view.entriesOf(view.tableNumber("ONE").value_or(0)));
    };
    auto before = contents();

    Table other(sampleDeclaration(path + "\\!one"));
    EXPECT_EQ(other.remove(), 47);
    EXPECT_EQ(contents(), before);
    Table renamer(sampleDeclaration(path + "\\!one"));
    EXPECT_EQ(renamer.rename(path + "\\!uno"), 47);
    EXPECT_EQ(contents(), before);
    Table mover(sampleDeclaration(path + "\\!one"));
    EXPECT_EQ(mover.rename(dir.file("m.vlm\\!uno")), 47);
    EXPECT_EQ(contents(), before);
    Table one(smallDeclaration(path + "\\!one"));
    EXPECT_EQ(one.open(), 0);
    EXPECT_EQ(one.close(), 0);
}

TEST(TablesInFile, TablesOfOneFileShareOnePageFile) {
    test::TempDir dir;
    std::string path = dir.file("s.vlm");
    createTable(smallDeclaration(path + "\\!one"));
    createTable(smallDeclaration(path + "\\!two"));
    std::string registered = canonicalDir(dir) + "/s.vlm";
    EXPECT_EQ(findOpenFile(registered, false), nullptr);

    Table one(smallDeclaration(path + "\\!one"));
    Table two(smallDeclaration(path + "\\!two"));
    fs::create_directory(dir.file("sub"));
    Table again(smallDeclaration(dir.file("sub/../s.vlm\\!one")));
    ASSERT_EQ(one.open(), 0);
    ASSERT_EQ(two.open(), 0);
    OpenFile* file = findOpenFile(registered, false);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->references, 2u);
    ASSERT_EQ(again.open(), 0);
    EXPECT_EQ(findOpenFile(registered, false), file);
    EXPECT_EQ(file->references, 3u);
    EXPECT_EQ(findOpenFile(registered, true), nullptr) << "not THREAD tables";

    EXPECT_EQ(one.close(), 0);
    EXPECT_EQ(file->references, 2u);
    EXPECT_EQ(again.close(), 0);
    EXPECT_EQ(two.close(), 0);
    EXPECT_EQ(findOpenFile(registered, false), nullptr);
}

TEST(TablesInFile, PnmWalksTheNamesInOrder) {
    test::TempDir dir;
    std::string path = dir.file("p.vlm");
    for (const char* name : {"beta", "alpha", "gamma"}) {
        createTable(smallDeclaration(path + "\\!" + name));
    }
    Table table(smallDeclaration(path + "\\!beta"));
    EXPECT_EQ(table.send("PNM="), "") << "only while open";
    ASSERT_EQ(table.open(), 0);
    EXPECT_EQ(table.send("PNM="), "ALPHA");
    EXPECT_EQ(table.send("PNM=ALPHA"), "BETA");
    EXPECT_EQ(table.send("pnm = beta"), "GAMMA") << "any case, blanks around the equals sign";
    EXPECT_EQ(table.send("PNM=GAMMA"), "") << "nothing after the last";
    EXPECT_EQ(table.errorCode(), 0);
    EXPECT_EQ(table.send("PNM=ZZZ"), "");
    EXPECT_EQ(table.send("PNM"), "") << "no value, no walk";
    EXPECT_EQ(table.close(), 0);
}

TEST(TablesInFile, PnmqFillsAListNamedByItsHandle) {
    test::TempDir dir;
    std::string path = dir.file("q.vlm");
    for (const char* name : {"two", "one", "three"}) {
        createTable(smallDeclaration(path + "\\!" + name));
    }
    TextList list;
    std::string handle = handleOf(&list, HandleKind::list);
    Table table(smallDeclaration(path + "\\!one"));

    EXPECT_EQ(table.send("PNMQ=" + handle), "");
    EXPECT_EQ(table.errorCode(), 0);
    EXPECT_THAT(list.items, ElementsAre("ONE", "THREE", "TWO")) << "closed: the file is inspected";
    EXPECT_EQ(findOpenFile(canonicalDir(dir) + "/q.vlm", false), nullptr) << "and released";

    list.items.clear();
    ASSERT_EQ(table.open(), 0);
    table.send("PNMQ=" + handle);
    EXPECT_THAT(list.items, ElementsAre("ONE", "THREE", "TWO")) << "open";

    // Texts that name no list are ignored.
    list.items.clear();
    int other = 0;
    std::string wrongKind = handleOf(&other, HandleKind::savedState);
    for (const std::string& text :
         {std::string("PNMQ="), std::string("PNMQ=abc"), std::string("PNMQ=-1"),
          std::string("PNMQ=99999999"), std::string("PNMQ=99999999999999999999"),
          std::string("PNMQ=") + wrongKind, std::string("PNMQ=") + handle + "x",
          std::string("PNMQ")}) {
        EXPECT_EQ(table.send(text), "") << text;
        EXPECT_EQ(table.errorCode(), 0) << text;
    }
    EXPECT_THAT(list.items, IsEmpty());
    EXPECT_EQ(table.close(), 0);
    dropHandle(&other);
    dropHandle(&list);

    // A file that does not exist lists nothing.
    Table missing(smallDeclaration(dir.file("none.vlm")));
    TextList empty;
    std::string emptyHandle = handleOf(&empty, HandleKind::list);
    EXPECT_EQ(missing.send("PNMQ=" + emptyHandle), "");
    EXPECT_THAT(empty.items, IsEmpty());
    EXPECT_FALSE(fs::exists(dir.file("none.vlm")));
    dropHandle(&empty);
}

// Bad input ----------------------------------------------------------------------------------

TEST(TableBadInput, NamesThatNameNoFile) {
    test::TempDir dir;
    struct Case {
        std::string address;
        int error;
    };
    const Case cases[] = {
        {"", 45},
        {"   ", 45},
        {"\\!x", 45},
        {dir.path() + "/" + std::string(300, 'a'), 45},
        {std::string(300, 'a'), 45},
        {dir.path() + "/" + std::string(300, 'a') + "\\!t", 45},
        {dir.path() + "/missing/f.vlm", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address.size() > 60 ? c.address.substr(0, 60) + "..." : c.address);
        Table table(smallDeclaration(c.address));
        EXPECT_EQ(table.open(), c.error);
        EXPECT_EQ(table.create(), c.error);
        EXPECT_EQ(table.open(), c.error);
        EXPECT_EQ(table.remove(), c.error);
        EXPECT_EQ(table.close(), 37) << "never opened";
    }
    EXPECT_THAT(std::vector<fs::path>(fs::directory_iterator(dir.path()), {}), IsEmpty());

    // A declaration without any name.
    TableDeclaration nameless("Nameless");
    nameless.attributes(kAttributeCreate).longField("NAM:Id");
    Table table(nameless);
    EXPECT_EQ(table.open(), 45);
    EXPECT_EQ(table.create(), 45);
    EXPECT_EQ(table.name(), "");
}

TEST(TableBadInput, AnAddressNamingADirectory) {
    test::TempDir dir;
    fs::create_directory(dir.file("folder.vlm"));
    Table table(smallDeclaration(dir.file("folder.vlm")));
    EXPECT_EQ(table.open(), 90);
    EXPECT_EQ(table.create(), 90);
    EXPECT_EQ(table.remove(), 90);
    EXPECT_EQ(table.rename(dir.file("other.vlm\\!x")), 90);
    EXPECT_EQ(table.copy(dir.file("other.vlm\\!x")), 90);
    TextList list;
    std::string handle = handleOf(&list, HandleKind::list);
    EXPECT_EQ(table.send("PNMQ=" + handle), "");
    EXPECT_THAT(list.items, IsEmpty());
    dropHandle(&list);
    EXPECT_TRUE(fs::is_directory(dir.file("folder.vlm")));

    // A target naming a directory and a name after "\\!" is a file in that directory.
    createTable(smallDeclaration(dir.file("t.vlm\\!one")));
    Table one(smallDeclaration(dir.file("t.vlm\\!one")));
    EXPECT_EQ(one.copy(dir.file("folder.vlm\\!x")), 0);
    EXPECT_TRUE(fs::exists(dir.file("folder.vlm/!x.VLM")));
    EXPECT_EQ(one.rename(dir.file("folder.vlm\\!x")), 5) << "its unnamed table exists now";
    EXPECT_EQ(one.open(), 0);
    EXPECT_EQ(one.close(), 0);
}

TEST(TableBadInput, OddSeparators) {
    test::TempDir dir;
    std::string full = canonicalDir(dir);
    fs::create_directory(dir.file("sub"));
    struct Case {
        std::string address;  // relative to the directory
        std::string file;     // the file it makes
        std::string opened;   // its full name once open
        std::vector<std::string> names;  // the table names of the file
    };
    const Case cases[] = {
        // The first separator splits; the rest is the table name.
        {"a\\!\\!b", "a.VLM", "a.VLM\\!\\!B", {"\\!B"}},
        // A separator after a directory is part of the path: the file "!" in that directory.
        {"sub\\!", "sub/!.VLM", "sub/!.VLM", {"UNNAMED"}},
        {"sub\\!t\\!u", "sub/!t.VLM", "sub/!t.VLM\\!U", {"U"}},
        // A separator at the end names no table.
        {"c.vlm\\!", "c.vlm", "c.vlm", {"UNNAMED"}},
        {"d\\!x\\!", "d.VLM", "d.VLM\\!X\\!", {"X\\!"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        Table table(smallDeclaration(dir.path() + "/" + c.address));
        ASSERT_EQ(table.create(), 0) << table.fileError();
        EXPECT_TRUE(fs::exists(dir.file(c.file)));
        ASSERT_EQ(table.open(), 0);
        EXPECT_EQ(table.name(), full + "/" + c.opened);
        EXPECT_EQ(table.close(), 0);
        FileView view(dir.file(c.file));
        EXPECT_EQ(view.names(), c.names);
    }
}

TEST(TableBadInput, DeclarationsThatBreakLimitsWriteNothing) {
    struct Case {
        const char* what;
        TableDeclaration declaration;
        int error;
        std::string detail;
    };
    auto declared = [](const char* label) {
        TableDeclaration table(label);
        table.attributes(kAttributeCreate);
        return table;
    };
    std::vector<Case> cases;
    cases.push_back({"field without a label",
                     declared("T").field(fieldItem("", kLong, 4)), 47,
                     "FIELD : 1 : LABEL : D00002"});
    cases.push_back({"STRING of 15001", declared("T").string("T:S", 15001), 47,
                     "FIELD : 1 : SIZE : D00005"});
    cases.push_back({"CSTRING of 0", declared("T").cstring("T:C", 0), 47,
                     "FIELD : 1 : SIZE : D00005"});
    cases.push_back({"CSTRING of 15002", declared("T").cstring("T:C", 15002), 47,
                     "FIELD : 1 : SIZE : D00005"});
    cases.push_back({"stored fields above 15000",
                     declared("T").string("T:A", 8000).string("T:B", 7001), 47,
                     "FIELD : 2 : SIZE : D00006"});
    cases.push_back(
        {"one field above 15000",
         declared("T").field(fieldItem("T:A", kString, 100, {151})),
         47, "FIELD : 1 : DIM : D00006"});
    cases.push_back({"a type that is not stored",
                     declared("T").field(fieldItem("T:X", 12, 4)), 47,
                     "FIELD : 1 : TYPE : D00003"});
    cases.push_back({"PDECIMAL not over a field",
                     declared("T").field(fieldItem("T:P", kPDecimal, 4)),
                     47, "FIELD : 1 : TYPE : D00003"});
    {
        TableDeclaration many = declared("T");
        many.longField("T:Id");
        for (int k = 0; k < 241; ++k) many.key("T:K" + std::to_string(k), kKeyDup, {1});
        cases.push_back({"241 keys", many, 47, "KEY : 241 : KEY : D00003"});
    }
    cases.push_back({"key without a label", declared("T").longField("T:Id").key("", 0, {1}), 47,
                     "KEY : 1 : LABEL : D00002"});
    cases.push_back({"key of 7527 bytes",
                     declared("T").string("T:S", 7527).key("T:K", 0, {1}), 47,
                     "KEY : 1 : SIZE : D00101: Key components are more than a total of 7526 "
                     "bytes long"});
    cases.push_back({"memo above 64000", declared("T").longField("T:Id").memo("T:M", 64001), 47,
                     "MEMO/BLOB : 1 : SIZE : D00004"});
    cases.push_back({"memo without a label", declared("T").longField("T:Id").memo("", 10), 47,
                     "MEMO/BLOB : 1 : LABEL : D00002"});
    cases.push_back({"key on a field that does not exist",
                     declared("T").longField("T:Id").key("T:K", 0, {2}), 75, ""});
    cases.push_back({"key on field 0", declared("T").longField("T:Id").key("T:K", 0, {0}), 75,
                     ""});
    cases.push_back(
        {"key on a dimensioned field",
         declared("T").field(fieldItem("T:A", kLong, 4, {3})).key("T:K", 0, {1}),
         75, ""});

    test::TempDir dir;
    std::string existing = dir.file("existing.vlm");
    createTable(sampleDeclaration(existing));
    std::string bytes = test::readFileBytes(existing);
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = dir.file("new.vlm");
        c.declaration.name(path);
        {
            Table table(c.declaration);
            EXPECT_EQ(table.create(), c.error);
            EXPECT_EQ(table.fileError(), c.detail);
            EXPECT_EQ(table.open(), c.error);
        }
        EXPECT_FALSE(fs::exists(path));

        c.declaration.name(existing);
        {
            Table table(c.declaration);
            EXPECT_EQ(table.create(), c.error);
            EXPECT_EQ(table.open(), c.error);
            EXPECT_EQ(table.remove(), c.error);
        }
        EXPECT_EQ(test::readFileBytes(existing), bytes);
    }

    // Just inside the limits.
    const std::pair<const char*, TableDeclaration> accepted[] = {
        {"key of 7526 bytes", declared("T").string("T:S", 7526).key("T:K", 0, {1})},
        {"240 keys", [&] {
             TableDeclaration many = declared("T");
             many.longField("T:Id");
             for (int k = 0; k < 240; ++k) many.key("T:K" + std::to_string(k), kKeyDup, {1});
             return many;
         }()},
        {"stored fields of 15000", declared("T").string("T:A", 8000).string("T:B", 7000)},
        {"memo of 64000", declared("T").longField("T:Id").memo("T:M", 64000)},
    };
    for (const auto& [what, declaration] : accepted) {
        SCOPED_TRACE(what);
        TableDeclaration named = declaration;
        named.name(dir.file("fits.vlm"));
        Table table(named);
        EXPECT_EQ(table.create(), 0) << table.fileError();
        EXPECT_EQ(table.open(), 0) << table.fileError();
        EXPECT_EQ(table.remove(), 52) << "open tables are not removed";
        EXPECT_EQ(table.close(), 0);
        EXPECT_EQ(table.remove(), 0);
        EXPECT_FALSE(fs::exists(dir.file("fits.vlm")));
    }
}

}  // namespace
}  // namespace vellum
