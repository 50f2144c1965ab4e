// qlmtool: the sample thesaurus through import and export comes back byte for byte; the CSV
// reader's quoting edge cases; input errors that name line and column; a generated thesaurus
// that imports with the counts it was written with; exit statuses of the command line.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "dictionary/thesaurus_tables.h"
#include "qlmtool/command_line.h"
#include "qlmtool/csv.h"
#include "qlmtool/exporter.h"
#include "qlmtool/generator.h"
#include "qlmtool/importer.h"
#include "qlmtool/thesaurus_files.h"
#include "support/temp_dir.h"

namespace vellum::qlmtool {
namespace {

using test::readFileBytes;
using test::TempDir;
using test::writeFileBytes;

std::vector<std::vector<std::string>> parse(const std::string& text) {
    std::istringstream in(text);
    CsvReader reader(in);
    std::vector<std::vector<std::string>> rows;
    std::vector<CsvField> record;
    while (reader.next(record)) {
        std::vector<std::string>& row = rows.emplace_back();
        for (const CsvField& field : record) row.push_back(field.value);
    }
    EXPECT_EQ(reader.error().message, "");
    return rows;
}

// The records of each table in dataDirectory: terms, keywords, related pairs.
std::vector<uint32_t> recordCounts(const std::string& dataDirectory) {
    std::vector<uint32_t> counts;
    for (const ThesaurusFile& file : thesaurusFiles()) {
        Table table(file.declare(dataDirectory));
        EXPECT_EQ(table.open(0x40), 0) << table.fileError();
        uint32_t count = 0;
        EXPECT_EQ(table.records(&count), 0);
        counts.push_back(count);
    }
    return counts;
}

// Writes the three CSV files of a thesaurus: the given terms, one keyword and no related pair.
void writeThesaurus(const TempDir& dir, const std::string& termRows) {
    writeFileBytes(dir.file(kTermsCsv), "TermID,Term,Status,Notes\r\n" + termRows);
    writeFileBytes(dir.file(kKeywordsCsv), "keywordid,WORD,TermID\r\n1,vase,1\r\n");
    writeFileBytes(dir.file(kRelatedCsv), "RelatedID,Term,RelatedTerm,Relationship\r\n");
}

TEST(QlmTool, sampleComesBackByteForByte) {
    TempDir data;
    TempDir csv;
    Outcome imported = importThesaurus(VELLUM_SAMPLE_DIR, data.path());
    ASSERT_EQ(imported.status, kSuccess) << imported.message;
    EXPECT_EQ(recordCounts(data.path()), (std::vector<uint32_t>{895, 1892, 887}));

    Outcome exported = exportThesaurus(data.path(), csv.path());
    ASSERT_EQ(exported.status, kSuccess) << exported.message;
    for (const ThesaurusFile& file : thesaurusFiles()) {
        SCOPED_TRACE(file.csvName);
        std::string original = readFileBytes(std::string(VELLUM_SAMPLE_DIR) + "/" + file.csvName);
        std::string written = readFileBytes(csv.file(file.csvName));
        EXPECT_EQ(parse(written), parse(original));
        EXPECT_TRUE(written == original) << "not byte for byte";
    }
    // Import replaces the tables instead of adding to them.
    ASSERT_EQ(importThesaurus(csv.path(), data.path()).status, kSuccess);
    EXPECT_EQ(recordCounts(data.path()), (std::vector<uint32_t>{895, 1892, 887}));
}

TEST(QlmTool, csvQuotingEdgeCases) {
    std::string text =
        "a,\"b, with comma\",\"say \"\"hi\"\"\"\r\n"
        ",,\r\n"
        "\"two\r\nlines\",\"\",x\r\n"
        "last,\"\"\"\",no line end";
    std::istringstream in(text);
    CsvReader reader(in);
    std::vector<CsvField> record;
    std::vector<std::vector<std::string>> rows;
    std::vector<uint64_t> lines;
    while (reader.next(record)) {
        lines.push_back(record.back().line);
        std::vector<std::string>& row = rows.emplace_back();
        for (const CsvField& field : record) row.push_back(field.value);
    }
    EXPECT_EQ(reader.error().message, "");
    std::vector<std::vector<std::string>> expected = {{"a", "b, with comma", "say \"hi\""},
                                                      {"", "", ""},
                                                      {"two\r\nlines", "", "x"},
                                                      {"last", "\"", "no line end"}};
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(lines, (std::vector<uint64_t>{1, 2, 4, 5})) << "a quoted line break is a line";

    // The writer quotes only where it must, and its output reads back the same.
    std::ostringstream out;
    for (const auto& row : expected) writeCsvRecord(out, row);
    EXPECT_EQ(out.str(),
              "a,\"b, with comma\",\"say \"\"hi\"\"\"\r\n,,\r\n\"two\r\nlines\",,x\r\n"
              "last,\"\"\"\",no line end\r\n");
    EXPECT_EQ(parse(out.str()), expected);

    struct Malformed {
        std::string text;
        uint64_t line;
        uint32_t column;
    };
    for (const Malformed& bad :
         {Malformed{"a,b\r\nc,\"open\r\nstill open", 2, 2}, Malformed{"a,b\"c\r\n", 1, 2},
          Malformed{"x\r\n\"q\"z,y\r\n", 2, 1}}) {
        std::istringstream input(bad.text);
        CsvReader malformed(input);
        while (malformed.next(record)) {
        }
        EXPECT_NE(malformed.error().message, "") << bad.text;
        EXPECT_EQ(malformed.error().line, bad.line) << bad.text;
        EXPECT_EQ(malformed.error().column, bad.column) << bad.text;
    }
}

TEST(QlmTool, badValuesAreInputErrorsNamingLineAndColumn) {
    TempDir csv;
    TempDir data;
    auto importWith = [&](const std::string& termRows) {
        writeThesaurus(csv, termRows);
        return importThesaurus(csv.path(), data.path());
    };
    // Field widths count Windows-1252 characters: 50 accented letters fit QLM:Term.
    std::string fifty;
    for (int i = 0; i < 50; ++i) fifty += "é";
    Outcome fits = importWith("1," + fifty + ",Preferred,\r\n");
    ASSERT_EQ(fits.status, kSuccess) << fits.message;

    Outcome tooLong = importWith("1,Vase,Preferred,\r\n2,\"Long\r\n" + fifty + "\",Preferred,\r\n");
    EXPECT_EQ(tooLong.status, kInputError);
    EXPECT_NE(tooLong.message.find("terms.csv, line 3, column 2 (Term): the text is 56 characters "
                                   "long; QLM:Term holds 50"),
              std::string::npos)
        << tooLong.message;

    Outcome unmappable = importWith("1,Vase,Preferred,Glaze \xE2\x86\x92 blue\r\n");
    EXPECT_EQ(unmappable.status, kInputError);
    EXPECT_NE(unmappable.message.find(
                  "terms.csv, line 2, column 4 (Notes): character 7 (U+2192) has no Windows-1252"),
              std::string::npos)
        << unmappable.message;

    Outcome number = importWith("123456,Vase,Preferred,\r\n");
    EXPECT_EQ(number.status, kInputError);
    EXPECT_NE(number.message.find("line 2, column 1 (TermID)"), std::string::npos)
        << number.message;

    Outcome duplicate = importWith("1,Vase,Preferred,\r\n1,Jug,Preferred,\r\n");
    EXPECT_EQ(duplicate.status, kEngineError);
    EXPECT_NE(duplicate.message.find("terms.csv, line 3: ADD to QLMThes: ERRORCODE 40"),
              std::string::npos)
        << duplicate.message;

    writeFileBytes(csv.file(kTermsCsv), "TermID,Term,Notes,Remark\r\n");
    Outcome header = importThesaurus(csv.path(), data.path());
    EXPECT_EQ(header.status, kInputError);
    EXPECT_NE(header.message.find("line 1, column 4 (Remark)"), std::string::npos)
        << header.message;
}

TEST(QlmTool, generatedThesaurusImportsWithItsCounts) {
    TempDir csv;
    TempDir data;
    TempDir back;
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(runCommand({"generate", "2000", csv.path()}, out, err), 0) << err.str();
    std::vector<std::vector<std::string>> terms = parse(readFileBytes(csv.file(kTermsCsv)));
    std::vector<std::vector<std::string>> keywords = parse(readFileBytes(csv.file(kKeywordsCsv)));
    std::vector<std::vector<std::string>> related = parse(readFileBytes(csv.file(kRelatedCsv)));
    ASSERT_EQ(terms.size(), 2001u);
    EXPECT_NEAR(static_cast<double>(keywords.size() - 1) / 2000, 3.0, 0.1);
    EXPECT_EQ(related.size(), 2001u);

    // Names are distinct when letters A to Z are compared without case; some notes are long.
    std::set<std::string> names;
    size_t longNotes = 0;
    for (size_t row = 1; row < terms.size(); ++row) {
        std::string name = terms[row][1];
        for (char& c : name) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
        names.insert(name);
        longNotes += terms[row][3].size() > 255 ? 1 : 0;
    }
    EXPECT_EQ(names.size(), 2000u);
    EXPECT_GT(longNotes, 20u);

    ASSERT_EQ(runCommand({"import", csv.path(), data.path()}, out, err), 0) << err.str();
    EXPECT_EQ(recordCounts(data.path()),
              (std::vector<uint32_t>{2000, static_cast<uint32_t>(keywords.size() - 1), 2000}));
    ASSERT_EQ(runCommand({"export", data.path(), back.path()}, out, err), 0) << err.str();
    for (const char* name : {kTermsCsv, kKeywordsCsv, kRelatedCsv}) {
        EXPECT_TRUE(readFileBytes(back.file(name)) == readFileBytes(csv.file(name))) << name;
    }
}

TEST(QlmTool, exitStatuses) {
    TempDir dir;
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(runCommand({}, out, err), kUsageError);
    EXPECT_NE(err.str().find("usage: qlmtool import CSVDIR DATADIR"), std::string::npos);
    EXPECT_EQ(runCommand({"generate", "many", dir.path()}, out, err), kUsageError);
    EXPECT_EQ(runCommand({"import", dir.file("missing"), dir.path()}, out, err), kInputError);
    EXPECT_EQ(runCommand({"export", dir.path(), dir.file("out")}, out, err), kEngineError);
    EXPECT_NE(err.str().find("OPEN QLMThes: ERRORCODE 2"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("FILEERRORCODE"), std::string::npos);
}

}  // namespace
}  // namespace vellum::qlmtool
