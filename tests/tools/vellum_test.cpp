// vellum, the tool for keepers of table files: check passes on a sound file of two tables (one of them OEM)
// and reports a removed key entry, a wrong count and a cut file; info, tables, schema and dump
// on a small file; a wrong owner and a missing file end with exit status 2.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "filelayer/table.h"
#include "pagestore/page_file.h"
#include "support/temp_dir.h"
#include "tablestore/count_records.h"
#include "tablestore/table_object.h"
#include "tools/vellum/command_line.h"

namespace vellum::filetool {
namespace {

using test::TempDir;

struct Outcome {
    int status = 0;
    std::string out;
    std::string err;
};

Outcome vellum(std::vector<std::string> arguments) {
    std::ostringstream out;
    std::ostringstream err;
    Outcome run;
    run.status = runCommand(arguments, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// PEOPLE: LONG Id (KEY), STRING(20) Name with a picture (NOCASE DUP KEY), DECIMAL(7,2) Price.
TableDeclaration people(const std::string& file) {
    TableDeclaration declaration("P");
    declaration.name(file + "\\!people")
        .attributes(kAttributeCreate)
        .longField("P:Id")
        .field({.label = "P:Name", .type = kString, .elementSize = 20, .places = 0,
                .dimensions = {}, .externalName = std::nullopt, .picture = "@s20"})
        .decimal("P:Price", 7, 2)
        .key("P:IdKey", 0, {1})
        .key("P:NameKey", kKeyDup | kKeyNoCase, {2, -1})
        .memo("P:Notes", 200);
    return declaration;
}

// ITEMS, stored in the OEM character set: STRING(12) Word (NOCASE KEY), LONG Count (DUP KEY).
TableDeclaration items(const std::string& file, const std::string& owner = "") {
    TableDeclaration declaration("I");
    declaration.name(file + "\\!items")
        .attributes(kAttributeCreate | kAttributeOem)
        .string("I:Word", 12)
        .longField("I:Count")
        .key("I:WordKey", kKeyNoCase, {1})
        .key("I:CountKey", kKeyDup, {2});
    if (!owner.empty()) declaration.owner(owner);
    return declaration;
}

void addPerson(Table& table, int32_t id, const std::string& ansiName, int64_t cents) {
    table.clear();
    table.setLong(1, id);
    table.setText(2, ansiName);
    table.setDecimal(3, cents);
    ASSERT_EQ(table.add(), 0) << table.fileError();
}

void addItem(Table& table, const std::string& ansiWord, int32_t count) {
    table.clear();
    table.setText(1, ansiWord);
    table.setLong(2, count);
    ASSERT_EQ(table.add(), 0) << table.fileError();
}

// A file of two tables: three people and four items.
void makeShop(const std::string& file, const std::string& owner = "") {
    TableDeclaration peopleDeclaration = people(file);
    if (!owner.empty()) peopleDeclaration.owner(owner);
    Table person(peopleDeclaration);
    ASSERT_EQ(person.create(), 0) << person.fileError();
    ASSERT_EQ(person.open(0x42), 0) << person.fileError();
    addPerson(person, 7, "Zo\xEB", 1250);  // Zoë in Windows-1252
    addPerson(person, 3, "Adam", -5);
    addPerson(person, 9, "adam", 0);
    ASSERT_EQ(person.close(), 0);

    Table item(items(file, owner));
    ASSERT_EQ(item.create(), 0) << item.fileError();
    ASSERT_EQ(item.open(0x42), 0) << item.fileError();
    addItem(item, "caf\xE9", 2);  // café: é exists in code page 437 too
    addItem(item, "Bowl", 2);
    addItem(item, "\xC9tui", 5);  // Étui
    addItem(item, "apple", 1);
    ASSERT_EQ(item.close(), 0);
}

// Changes a file through the page store: opens it for writing, lets change work on it, commits.
template <typename Change>
void changeFile(const std::string& file, Change change) {
    PageFile pages;
    ASSERT_EQ(pages.open(file, 0x42, ""), 0);
    pages.beginWrite();
    Entry* name = pages.findEntry(tableNameKey("PEOPLE"));
    ASSERT_NE(name, nullptr);
    TableNumber table{};
    std::copy_n(name->data().begin(), 4, table.begin());
    change(pages, table);
    ASSERT_EQ(pages.commit(), 0);
    pages.endWrite();
    pages.close();
}

class VellumTest : public ::testing::Test {
protected:
    void SetUp() override {
        file_ = dir_.file("shop.vlm");
        makeShop(file_);
    }

    TempDir dir_;
    std::string file_;
};

TEST_F(VellumTest, checkPassesOnASoundFile) {
    Outcome run = vellum({"check", file_});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(contains(run.out, "no problems: 2 tables")) << run.out;
}

TEST_F(VellumTest, checkFindsARemovedKeyEntry) {
    changeFile(file_, [](PageFile& pages, const TableNumber& table) {
        // The first entry of the name key: "adam" with Id 9 (record 4 of the file).
        std::vector<uint8_t> prefix = tableKey(table, 1);
        OwnedEntry probe(newEntry(prefix));
        Entry* first = pages.findNextEntry(probe.get());
        ASSERT_NE(first, nullptr);
        pages.removeEntry(first);
    });
    Outcome run = vellum({"check", file_});
    EXPECT_EQ(run.status, 3) << run.out << run.err;
    EXPECT_TRUE(contains(run.out, "table PEOPLE: key P:NameKey: record 4 has no key entry\n"))
        << run.out;
    EXPECT_TRUE(contains(run.out, "table PEOPLE: key P:NameKey: the count is 3, but 2 entries"))
        << run.out;
    EXPECT_TRUE(contains(run.out, "2 problems\n")) << run.out;
}

TEST_F(VellumTest, checkFindsAWrongCount) {
    changeFile(file_, [](PageFile& pages, const TableNumber& table) {
        writeCounts(pages, table, kRecordTypeData, {5, 0});
    });
    Outcome run = vellum({"check", file_});
    EXPECT_EQ(run.status, 3) << run.out << run.err;
    EXPECT_EQ(run.out, "table PEOPLE: the data count is 5, but 3 records are stored\n1 problem\n");
}

TEST_F(VellumTest, checkFindsACutFile) {
    std::filesystem::resize_file(file_, std::filesystem::file_size(file_) - 256);
    Outcome run = vellum({"check", file_});
    EXPECT_EQ(run.status, 3) << run.out << run.err;
    EXPECT_TRUE(contains(run.out, "the file is cut: ")) << run.out;

    std::filesystem::resize_file(file_, 100);
    run = vellum({"check", file_});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.err, "shop.vlm: not a table file")) << run.err;
}

TEST_F(VellumTest, infoTablesSchemaAndDump) {
    Outcome info = vellum({"info", file_});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_TRUE(contains(info.out, "magic: vElM, header size 512\n")) << info.out;
    EXPECT_TRUE(contains(info.out, "(no commit pending)\n")) << info.out;
    EXPECT_TRUE(contains(info.out, "size class\tpages\tbytes\n")) << info.out;
    EXPECT_TRUE(contains(info.out, "file size: " + std::to_string(std::filesystem::file_size(file_))))
        << info.out;

    Outcome tables = vellum({"tables", file_});
    EXPECT_EQ(tables.status, 0) << tables.err;
    EXPECT_EQ(tables.out, "table\tnumber\trecords\nITEMS\t5\t4\nPEOPLE\t1\t3\n");

    Outcome schema = vellum({"schema", file_ + "\\!people"});
    EXPECT_EQ(schema.status, 0) << schema.err;
    EXPECT_TRUE(contains(schema.out, "2\tP:Name\tSTRING\t4\t20\t1\t-\t@s20\n")) << schema.out;
    EXPECT_TRUE(contains(schema.out, "3\tP:Price\tDECIMAL\t24\t4\t1\t2\t-\n")) << schema.out;
    EXPECT_TRUE(contains(schema.out, "1\tP:Notes\t200\t-\n")) << schema.out;
    EXPECT_TRUE(contains(schema.out, "1\tP:NameKey\tDUP,NOCASE\t+P:Name, -P:Id\n"))
        << schema.out;

    Outcome dump = vellum({"dump", file_ + "\\!people", "--key", "p:namekey"});
    EXPECT_EQ(dump.status, 0) << dump.err;
    EXPECT_EQ(dump.out,
              "record\tP:Id\tP:Name\tP:Price\n4\t9\tadam\t0.00\n3\t3\tAdam\t-0.05\n"
              "2\t7\tZo\xC3\xAB\t12.50\n");

    Outcome csv = vellum({"dump", file_ + "\\!items", "--csv"});
    EXPECT_EQ(csv.status, 0) << csv.err;
    EXPECT_TRUE(contains(csv.out, "I:Word,I:Count\r\n")) << csv.out;
    EXPECT_TRUE(contains(csv.out, ",\xC3\x89tui,5\r\n")) << csv.out;
}

TEST(Vellum, wrongOwnerMissingFileAndUsage) {
    TempDir dir;
    std::string file = dir.file("secret.vlm");
    makeShop(file, "opensesame");
    EXPECT_EQ(vellum({"check", file, "--owner", "opensesame"}).status, 0);

    Outcome wrong = vellum({"tables", file, "--owner", "guess"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_TRUE(contains(wrong.err, "secret.vlm: not a table file, or enciphered with another owner"))
        << wrong.err;
    Outcome none = vellum({"tables", file});
    EXPECT_EQ(none.status, 2);
    EXPECT_TRUE(contains(none.err, "give its owner with --owner")) << none.err;

    Outcome missing = vellum({"info", dir.file("nothing.vlm")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_TRUE(contains(missing.err, "nothing.vlm: cannot be opened: File Not Found (error 2)"))
        << missing.err;

    EXPECT_EQ(vellum({"schema", file + "\\!nosuch", "--owner", "opensesame"}).status, 2);
    EXPECT_EQ(vellum({"dump", file, "--key"}).status, 1);
    EXPECT_EQ(vellum({"check", file + "\\!people"}).status, 1);
    EXPECT_EQ(vellum({"frobnicate", file}).status, 1);
}

}  // namespace
}  // namespace vellum::filetool
