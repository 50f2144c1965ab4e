// Operation tracing through the table properties: the trace file (29443), lines written into it
// (29442), one line per operation unless the control block's driver flag 0x02 is set, and the
// two trace settings (29481, 29518).
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "filelayer/table.h"
#include "support/temp_dir.h"
#include "vellum/operation_codes.h"

namespace vellum {
namespace {

class TraceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TableDeclaration declaration("Traced");
        declaration.name(dir_.file("traced.vlm"))
            .attributes(kAttributeCreate)
            .longField("T:Id")
            .string("T:Name", 10)
            .key("T:ById", kKeyPrimary, {1});
        table_ = std::make_unique<Table>(declaration);
        ASSERT_EQ(table_->create(), 0) << table_->fileError();
        ASSERT_EQ(table_->open(0x22), 0) << table_->fileError();
    }

    int set(const std::string& property, const std::string& value) {
        table_->call(kSETPROPERTY, {0}, {value, property});
        return table_->errorCode();
    }
    std::string get(const std::string& property) {
        table_->call(kGETPROPERTY, {0}, {property});
        return table_->resultText();
    }
    std::vector<std::string> traceLines() {
        std::istringstream in(test::readFileBytes(traceFile_));
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    // Lines naming the operation as a word, with the key label when given.
    size_t linesOf(int operation, const std::string& keyLabel = "") {
        std::string word = " " + std::string(operationName(operation)) + " ";
        if (!keyLabel.empty()) word += "key=" + keyLabel + " ";
        size_t count = 0;
        for (const std::string& line : traceLines()) count += line.find(word) != std::string::npos;
        return count;
    }

    test::TempDir dir_;
    std::string traceFile_ = dir_.file("trace.log");
    std::unique_ptr<Table> table_;
};

TEST_F(TraceTest, TracesEachOperationUntilTheFileNameIsCleared) {
    ASSERT_EQ(set("29443", traceFile_), 0);
    EXPECT_EQ(get("29443"), traceFile_);
    ASSERT_EQ(set("29442", "a note"), 0);
    table_->setLong(1, 7);
    ASSERT_EQ(table_->add(), 0);
    ASSERT_EQ(table_->set(table_->key(1)), 0);
    ASSERT_EQ(table_->next(), 0);
    ASSERT_EQ(set("29443", ""), 0);
    EXPECT_EQ(get("29443"), "");
    EXPECT_NE(table_->next(), 0);
    ASSERT_EQ(set("29442", "not written"), 0);

    // GET_PROPERTY, the note and its own call, ADD, SETkey and NEXT.
    std::vector<std::string> lines = traceLines();
    ASSERT_EQ(lines.size(), 6u) << test::readFileBytes(traceFile_);
    EXPECT_EQ(lines[1], "a note");
    EXPECT_EQ(linesOf(kSETPROPERTY), 1u);
    EXPECT_EQ(linesOf(kGETPROPERTY), 1u);
    EXPECT_EQ(linesOf(kADD), 1u);
    EXPECT_EQ(linesOf(kSETkey, "T:ById"), 1u);
    EXPECT_EQ(linesOf(kNEXT), 1u);
    lines.erase(lines.begin() + 1);
    for (const std::string& line : lines) {
        EXPECT_NE(line.find("traced.vlm"), std::string::npos) << line;
        EXPECT_NE(line.find(" error=0 elapsed="), std::string::npos) << line;
    }
}

TEST_F(TraceTest, DriverFlagKeepsOperationsOutButNotNotes) {
    table_->block()->driverFlags |= 0x02;
    ASSERT_EQ(set("29443", traceFile_), 0);
    ASSERT_EQ(table_->set(nullptr), 0);
    EXPECT_NE(table_->next(), 0);
    ASSERT_EQ(set("29442", "only this"), 0);
    EXPECT_EQ(test::readFileBytes(traceFile_), "only this\n");

    // Without the flag a failed GET is traced with its key and error.
    table_->block()->driverFlags &= static_cast<uint8_t>(~0x02);
    table_->setLong(1, 99);
    int error = table_->get(table_->key(1));
    ASSERT_NE(error, 0);
    ASSERT_EQ(linesOf(kGETfilekey, "T:ById"), 1u) << test::readFileBytes(traceFile_);
    EXPECT_NE(traceLines().back().find(" error=" + std::to_string(error) + " "),
              std::string::npos);
}

TEST_F(TraceTest, KeepsBothSettingsAsFlags) {
    EXPECT_EQ(get("29481"), "");
    EXPECT_EQ(get("29518"), "");
    ASSERT_EQ(set("29481", "1"), 0);
    ASSERT_EQ(set("29518", "12"), 0);
    EXPECT_EQ(get("29481"), "1");
    EXPECT_EQ(get("29518"), "1");
    ASSERT_EQ(set("29481", "0"), 0);
    EXPECT_EQ(get("29481"), "");
    EXPECT_EQ(get("29518"), "1");
}

}  // namespace
}  // namespace vellum
