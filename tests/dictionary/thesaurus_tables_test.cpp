// The thesaurus declarations: their layouts, keys and attributes, the three files they create,
// the terms table open under both of its declarations at once, a stored definition that differs
// from the declaration, and THREAD instances that keep their files per thread.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "dictionary/thesaurus_tables.h"
#include "filelayer/table.h"
#include "support/temp_dir.h"
#include "tablestore/open_file_registry.h"
#include "vellum/operation_codes.h"

namespace vellum {
namespace {

namespace fs = std::filesystem;

struct FieldRow {
    std::string label;
    uint8_t type;
    uint32_t size;
    uint32_t offset;
    uint8_t places;
};

struct KeyRow {
    std::string label;
    uint32_t attributes;
    int32_t component;
};

struct TableRow {
    std::string label;
    std::function<TableDeclaration(const std::string&)> declare;
    std::string file;
    uint32_t recordLength;
    std::vector<FieldRow> fields;
    std::vector<KeyRow> keys;
};

std::vector<TableRow> thesaurusRows() {
    auto terms = [](const std::string& prefix) {
        return std::vector<FieldRow>{
            {prefix + ":TermID", kDecimal, 3, 0, 0},
            {prefix + ":Term", kString, 50, 3, 0},
            {prefix + ":Status", kString, 50, 53, 0},
            {prefix + ":Notes", kString, 1000, 103, 0},
        };
    };
    auto termKeys = [](const std::string& prefix) {
        return std::vector<KeyRow>{{prefix + ":KeyTermID", 0x0016, 1},
                                   {prefix + ":KeyTerm", 0x0005, 2}};
    };
    return {
        {"QLMThes", thesaurus::thesDeclaration, "QLMThes.vlm", 1103, terms("QLM"),
         termKeys("QLM")},
        {"QLMThesAlias", thesaurus::thesAliasDeclaration, "QLMThes.vlm", 1103, terms("QLA"),
         termKeys("QLA")},
        {"QLMRelated",
         thesaurus::relatedDeclaration,
         "QLMRELAT",
         154,
         {{"QLR:RelatedID", kLong, 4, 0, 0},
          {"QLR:Term", kString, 50, 4, 0},
          {"QLR:RelatedTerm", kString, 50, 54, 0},
          {"QLR:Relationship", kString, 50, 104, 0}},
         {{"QLR:KeyRelatedID", 0x0006, 1},
          {"QLR:KeyTerm", 0x0005, 2},
          {"QLR:KeyRelatedTerm", 0x0005, 3}}},
        {"QLMKeyword",
         thesaurus::keywordDeclaration,
         "QLMKEYWO",
         57,
         {{"QLK:KeywordID", kLong, 4, 0, 0},
          {"QLK:Word", kString, 50, 4, 0},
          {"QLK:TermID", kDecimal, 3, 54, 0}},
         {{"QLK:KeyKeywordID", 0x0006, 1},
          {"QLK:KeyWord", 0x0005, 2},
          {"QLK:KeyTermID", 0x0005, 3}}},
    };
}

TEST(ThesaurusTables, DeclarationsFollowTheDictionary) {
    for (const TableRow& row : thesaurusRows()) {
        SCOPED_TRACE(row.label);
        TableDeclaration declaration = row.declare("/data/thesaurus");
        EXPECT_EQ(declaration.label(), row.label);
        EXPECT_EQ(declaration.fileName(), "/data/thesaurus/" + row.file);
        EXPECT_EQ(declaration.attributeBits(), 0x14);
        EXPECT_FALSE(declaration.ownerText().has_value());
        EXPECT_FALSE(declaration.optionsText().has_value());
        EXPECT_TRUE(declaration.memos().empty());

        Table table(declaration);
        const FileControlBlock& block = *table.block();
        EXPECT_EQ(table.recordLength(), row.recordLength);
        EXPECT_EQ(block.attributes, 0x14);
        EXPECT_EQ(block.owner.text, nullptr);
        EXPECT_EQ(block.driverOptions.text, nullptr);
        EXPECT_EQ(block.memoCount, 0);
        ASSERT_EQ(block.fields[0].memberCount, row.fields.size());
        for (size_t i = 0; i < row.fields.size(); ++i) {
            const FieldRow& expected = row.fields[i];
            const FieldDeclaration& field = block.fields[i + 1];
            SCOPED_TRACE(expected.label);
            EXPECT_STREQ(field.label.text, expected.label.c_str());
            EXPECT_EQ(field.type, expected.type);
            EXPECT_EQ(field.elementSize, expected.size);
            EXPECT_EQ(field.offset, expected.offset);
            EXPECT_EQ(field.places, expected.places);
            EXPECT_EQ(field.dimensionCount, 0);
            EXPECT_EQ(field.externalName.text, nullptr);
        }
        ASSERT_EQ(block.keyCount, row.keys.size());
        for (size_t k = 0; k < row.keys.size(); ++k) {
            const KeyRow& expected = row.keys[k];
            const KeyControlBlock& key = *block.keys[k];
            SCOPED_TRACE(expected.label);
            EXPECT_STREQ(key.label.text, expected.label.c_str());
            EXPECT_EQ(key.name.text, nullptr) << "no external name";
            EXPECT_EQ(key.attributes, expected.attributes);
            ASSERT_EQ(key.componentCount, 1);
            EXPECT_EQ(key.components[0], expected.component);
        }
    }
    EXPECT_EQ(thesaurus::thesDeclaration("").fileName(), "QLMThes.vlm");
    EXPECT_EQ(thesaurus::keywordDeclaration("dir/").fileName(), "dir/QLMKEYWO");
}

TEST(ThesaurusTables, CreateMakesTheThreeFiles) {
    test::TempDir dir;
    for (auto declare : {thesaurus::thesDeclaration, thesaurus::relatedDeclaration,
                         thesaurus::keywordDeclaration}) {
        Table table(declare(dir.path()));
        // What the viewer does on first use: open, and create when the file is missing.
        EXPECT_EQ(table.open(0x42), 2);
        ASSERT_EQ(table.create(), 0) << table.fileError();
        EXPECT_EQ(table.open(0x42), 0) << table.fileError();
        EXPECT_EQ(table.call(kCOUNTRECORDS, {0}), 0) << "empty";
        EXPECT_EQ(table.errorCode(), 0);
        EXPECT_EQ(table.close(), 0);
    }
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        files.push_back(entry.path().filename().string());
    }
    EXPECT_THAT(files, ::testing::UnorderedElementsAre("QLMThes.vlm", "QLMRELAT.VLM",
                                                       "QLMKEYWO.VLM"));
}

TEST(ThesaurusTables, TermsOpenUnderBothDeclarationsAtOnce) {
    test::TempDir dir;
    {
        Table create(thesaurus::thesDeclaration(dir.path()));
        ASSERT_EQ(create.create(), 0);
    }
    Table thes(thesaurus::thesDeclaration(dir.path()));
    Table alias(thesaurus::thesAliasDeclaration(dir.path()));
    EXPECT_EQ(thes.open(0x42), 0) << thes.fileError();
    EXPECT_EQ(alias.open(0x42), 0) << alias.fileError();
    EXPECT_EQ(thes.name(), alias.name());

    // THREAD tables: one PageFile in this thread's list, none in the process list.
    std::string path = fs::canonical(dir.path()).string() + "/QLMThes.vlm";
    OpenFile* file = findOpenFile(path, true);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->references, 2u);
    EXPECT_EQ(findOpenFile(path, false), nullptr);

    // Each has its own record buffer.
    thes.setText(2, "Vase");
    EXPECT_EQ(alias.text(2), "");
    EXPECT_EQ(thes.close(), 0);
    EXPECT_EQ(alias.close(), 0);
    EXPECT_EQ(findOpenFile(path, true), nullptr);
}

TEST(ThesaurusTables, ThreadInstancesKeepTheirFilesPerThread) {
    test::TempDir dir;
    {
        Table create(thesaurus::relatedDeclaration(dir.path()));
        ASSERT_EQ(create.create(), 0);
    }
    std::string path = fs::canonical(dir.path()).string() + "/QLMRELAT.VLM";
    Table mine(thesaurus::relatedDeclaration(dir.path()));
    ASSERT_EQ(mine.open(0x42), 0);
    OpenFile* ours = findOpenFile(path, true);
    ASSERT_NE(ours, nullptr);

    bool seenOurs = true;
    unsigned theirReferences = 0;
    int theirOpen = -1;
    std::thread other([&] {
        seenOurs = findOpenFile(path, true) != nullptr;
        Table theirs(thesaurus::relatedDeclaration(dir.path()));
        theirOpen = theirs.open(0x42);
        OpenFile* file = findOpenFile(path, true);
        theirReferences = file != nullptr && file != ours ? file->references : 0;
        theirs.close();
    });
    other.join();
    EXPECT_FALSE(seenOurs) << "another thread has a list of its own";
    EXPECT_EQ(theirOpen, 0);
    EXPECT_EQ(theirReferences, 1u);
    EXPECT_EQ(ours->references, 1u);
    EXPECT_EQ(mine.close(), 0);
}

TEST(ThesaurusTables, AStoredDefinitionThatDiffersIsRefused) {
    test::TempDir dir;
    // The keyword file created with the layout of the related terms.
    TableDeclaration wrong = thesaurus::relatedDeclaration(dir.path());
    wrong.name(*thesaurus::keywordDeclaration(dir.path()).fileName());
    {
        Table create(wrong);
        ASSERT_EQ(create.create(), 0);
    }
    Table keyword(thesaurus::keywordDeclaration(dir.path()));
    EXPECT_EQ(keyword.open(0x42), 47);
    EXPECT_EQ(keyword.errorCode(), 47);
    EXPECT_EQ(keyword.fileError(), "FILE : 0 : FIELDS : D00001");
    EXPECT_EQ(keyword.open(0x42), 47) << "again, on a fresh table object";

    // The terms declared under another layout of the same field count.
    TableDeclaration terms = thesaurus::thesDeclaration(dir.path());
    {
        Table create(terms);
        ASSERT_EQ(create.create(), 0);
    }
    TableDeclaration shorter("QLMThes");
    shorter.name(*terms.fileName())
        .attributes(thesaurus::kTableAttributes)
        .decimal("QLM:TermID", 5, 0)
        .string("QLM:Term", 40)
        .string("QLM:Status", 50)
        .string("QLM:Notes", 1000)
        .key("QLM:KeyTermID", 0x16, {1})
        .key("QLM:KeyTerm", 0x05, {2});
    Table other(shorter);
    EXPECT_EQ(other.open(0x42), 47);
    EXPECT_EQ(other.fileError(), "FIELD : 2 : SIZE : D00001");

    // A key that differs in PRIMARY only still opens; one that differs in NOCASE does not.
    TableDeclaration primary = thesaurus::thesDeclaration(dir.path());
    TableDeclaration notPrimary("QLMThes");
    notPrimary.name(*primary.fileName()).attributes(thesaurus::kTableAttributes);
    for (const FieldSpec& field : primary.fields()) notPrimary.field(field);
    notPrimary.key("QLM:KeyTermID", 0x06, {1}).key("QLM:KeyTerm", 0x05, {2});
    Table relaxed(notPrimary);
    EXPECT_EQ(relaxed.open(0x42), 0) << relaxed.fileError();
    EXPECT_EQ(relaxed.close(), 0);
    TableDeclaration caseKey("QLMThes");
    caseKey.name(*primary.fileName()).attributes(thesaurus::kTableAttributes);
    for (const FieldSpec& field : primary.fields()) caseKey.field(field);
    caseKey.key("QLM:KeyTermID", 0x16, {1}).key("QLM:KeyTerm", 0x01, {2});
    Table strict(caseKey);
    EXPECT_EQ(strict.open(0x42), 47);
    EXPECT_EQ(strict.fileError(), "KEY : 2 : ATTRIBUTE : D00001");
}

}  // namespace
}  // namespace vellum
