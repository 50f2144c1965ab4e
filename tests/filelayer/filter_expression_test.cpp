// The file layer's expression service: filter texts compiled over the fields of a record image
// of every type and evaluated on it; the relations, AND, OR and NOT with their precedence and
// parentheses; compile errors; nesting and length limits; and records a filter cannot read.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "filelayer/file_layer.h"
#include "filelayer/filter_expression.h"
#include "vellum/control_blocks.h"

namespace vellum {
namespace {

// The record image's fields; each test compiles against a fresh copy, so a filter must keep the
// variables it names.
std::vector<FilterVariable> variables() {
    return {
        {"T:Byte", kByte, 0, 1, 1, 0},
        {"T:Short", kShort, 1, 2, 2, 0},
        {"T:UShort", kUShort, 3, 2, 2, 0},
        {"T:Date", kDate, 5, 4, 4, 0},
        {"T:Time", kTime, 9, 4, 4, 0},
        {"T:Long", kLong, 13, 4, 4, 0},
        {"T:ULong", kULong, 17, 4, 4, 0},
        {"T:SReal", kSReal, 21, 4, 4, 0},
        {"T:Real", kReal, 25, 8, 8, 0},
        {"T:Decimal", kDecimal, 33, 3, 3, 2},
        {"T:PDecimal", kPDecimal, 36, 3, 3, 1},
        {"T:String", kString, 39, 10, 10, 0},
        {"T:CString", kCString, 49, 8, 8, 0},
        {"T:PString", kPString, 57, 6, 6, 0},
        {"T:Number", kString, 63, 6, 6, 0},
        {"T:Codes", kString, 69, 12, 4, 0},
        {"T:Group", kGroup, 39, 10, 10, 0},
        {"T:Far", kString, 1000, 4, 4, 0},
        {"T:Wrapping", kLong, 0xFFFFFFFE, 4, 4, 0},
    };
}

template <typename T>
void put(std::vector<uint8_t>& record, size_t offset, T value) {
    std::memcpy(record.data() + offset, &value, sizeof value);  // the host is little-endian
}

std::vector<uint8_t> sampleRecord() {
    std::vector<uint8_t> record(81, 0);
    put<uint8_t>(record, 0, 200);
    put<int16_t>(record, 1, -300);
    put<uint16_t>(record, 3, 60000);
    put<int32_t>(record, 5, 80000);
    put<int32_t>(record, 9, 123456);
    put<int32_t>(record, 13, -70000);
    put<uint32_t>(record, 17, 4000000000u);
    put<float>(record, 21, 1.5f);
    put<double>(record, 25, -2.25);
    // DECIMAL(5,2) -123.45: sign half-byte F, then the digits.
    const uint8_t decimal[] = {0xF1, 0x23, 0x45};
    std::memcpy(record.data() + 33, decimal, 3);
    // PDECIMAL(5,1) -123.4: the digits, then the sign half-byte D.
    const uint8_t packed[] = {0x01, 0x23, 0x4D};
    std::memcpy(record.data() + 36, packed, 3);
    std::memcpy(record.data() + 39, "Smith     ", 10);
    std::memcpy(record.data() + 49, "abc\0xyz\0", 8);
    std::memcpy(record.data() + 57, "\x03O'Bzz", 6);
    std::memcpy(record.data() + 63, "  42  ", 6);
    std::memcpy(record.data() + 69, "ab  cd  ef  ", 12);
    return record;
}

struct Case {
    const char* text;
    int expected;  // the evaluation, or the compile error
};

class FilterExpressionTest : public ::testing::Test {
protected:
    std::unique_ptr<CompiledFilter> compile(const std::string& text, int* error) {
        return layer_.compileFilter(text, variables(), error);
    }

    // The evaluation of a text that must compile; 99 when it does not.
    int evaluate(const std::string& text, std::span<const uint8_t> record) {
        int error = -1;
        std::unique_ptr<CompiledFilter> filter = compile(text, &error);
        EXPECT_EQ(error, 0) << text;
        return filter == nullptr ? 99 : filter->evaluate(record);
    }

    void expectEvaluations(const std::vector<Case>& cases) {
        std::vector<uint8_t> record = sampleRecord();
        for (const Case& c : cases) EXPECT_EQ(evaluate(c.text, record), c.expected) << c.text;
    }

    PlatformFileLayer layer_;
};

TEST_F(FilterExpressionTest, FieldsOfEveryTypeCompareByEveryRelation) {
    expectEvaluations({
        {"T:Byte = 200", 1},
        {"Byte > 199", 1},          // matched without its prefix
        {"t:byte < 200", 0},        // and without regard to case
        {"T:Short = -300", 1},
        {"T:Short < -299.5", 1},
        {"T:UShort = 60000", 1},
        {"T:Date >= 80000", 1},
        {"T:Date > 80000", 0},
        {"T:Time =< 123456", 1},
        {"T:Time => 123457", 0},
        {"T:Time <= 123455", 0},
        {"T:Long <> -70000", 0},
        {"T:Long ~= 0", 1},
        {"T:ULong = 4000000000", 1},
        {"T:SReal = 1.5", 1},
        {"T:Real = -2.25", 1},
        {"T:Decimal = -123.45", 1},
        {"T:Decimal < -123.4", 1},
        {"T:PDecimal = -123.4", 1},
        {"T:String = 'Smith'", 1},      // trailing blanks of field and literal are ignored
        {"T:String = 'Smith   '", 1},
        {"T:String = 'smith'", 0},      // case matters
        {"T:String < 'Smithy'", 1},
        {"T:String > 'Smit'", 1},
        {"T:CString = 'abc'", 1},       // up to the first zero
        {"T:PString = 'O''B'", 1},      // the length byte's bytes; '' is a quote
        {"T:Group = T:String", 1},
        {"T:Codes = 'ab'", 1},          // an array's first element
        {"T:Number = 42", 1},           // a text compared with a number is read as one
        {"42.5 > T:Number", 1},
        {"T:String = 42", -1},          // unless it spells none
        {"'2' < '10'", 0},              // texts compare byte by byte
        {"2 < 10", 1},
        {"'\xE9' > 'z'", 1},            // as unsigned bytes
        {"T:Byte", 1},                  // a lone operand: a non-zero number or a non-blank text
        {"0", 0},
        {"-0.5", 1},
        {"'x'", 1},
        {"'   '", 0},
        {"''", 0},
        {"T:String", 1},
    });
}

TEST_F(FilterExpressionTest, AndBindsTighterThanOrAndNotTighterThanBoth) {
    expectEvaluations({
        {"1 = 1 OR 1 = 2 AND 1 = 2", 1},
        {"(1 = 1 OR 1 = 2) AND 1 = 2", 0},
        {"NOT 1 = 2", 1},
        {"NOT 1 = 1 OR 1 = 1", 1},
        {"NOT (1 = 1 OR 1 = 1)", 0},
        {"NOT NOT T:Byte", 1},
        {"not 0 and 1 or 0", 1},
        {"0 Or 0 oR 0", 0},
        {"T:Byte = 200 AND T:String = 'Smith' And T:Long < 0", 1},
        {"T:Byte = 200 AND T:String = 'Jones'", 0},
        {"(T:Byte = 200) = 1", 1},      // a comparison's value is 1 or 0
        {"((('x')))", 1},
        {"(T:Short)<(T:Byte)", 1},
    });
}

TEST_F(FilterExpressionTest, BadTextsDoNotCompile) {
    const Case cases[] = {
        {"", kFilterSyntaxError},
        {"   ", kFilterSyntaxError},
        {"T:String = 'Smith", kFilterSyntaxError},  // unclosed quote
        {"T:Byte =", kFilterSyntaxError},           // missing operand
        {"= 1", kFilterSyntaxError},
        {"T:Byte AND", kFilterSyntaxError},
        {"NOT", kFilterSyntaxError},
        {"T:Byte = 1 2", kFilterSyntaxError},       // trailing junk
        {"T:Byte = 1)", kFilterSyntaxError},
        {"(T:Byte = 1", kFilterSyntaxError},
        {"()", kFilterSyntaxError},
        {"1 = 1 = 1", kFilterSyntaxError},
        {"T:Byte # 1", kFilterSyntaxError},
        {"1.", kFilterSyntaxError},
        {"- 1", kFilterSyntaxError},
        {"T:Nothing = 1", kFilterUnknownName},
        {"X:Byte = 1", kFilterUnknownName},         // only the variable's prefix may be left out
        {"T:Byte = 1 AND Missing", kFilterUnknownName},
    };
    for (const Case& c : cases) {
        int error = 0;
        EXPECT_EQ(compile(c.text, &error), nullptr) << c.text;
        EXPECT_EQ(error, c.expected) << c.text;
    }
}

TEST_F(FilterExpressionTest, NestingAndLengthAreLimited) {
    std::vector<uint8_t> record = sampleRecord();
    auto nested = [](int parentheses, int nots) {
        std::string text;
        for (int i = 0; i < nots; ++i) text += "NOT ";
        return text + std::string(parentheses, '(') + "T:Byte" + std::string(parentheses, ')');
    };
    EXPECT_EQ(evaluate(nested(kMaxFilterNesting, 0), record), 1);
    EXPECT_EQ(evaluate(nested(0, kMaxFilterNesting), record), 1);
    EXPECT_EQ(evaluate(nested(kMaxFilterNesting / 2, kMaxFilterNesting / 2 - 1), record), 0);
    for (std::string text : {nested(kMaxFilterNesting + 1, 0), nested(0, kMaxFilterNesting + 1),
                             nested(kMaxFilterNesting / 2 + 1, kMaxFilterNesting / 2),
                             std::string(60000, '(')}) {
        int error = 0;
        EXPECT_EQ(compile(text, &error), nullptr) << text.size();
        EXPECT_EQ(error, kFilterSyntaxError);
    }

    // A long flat chain is no deep nesting.
    std::string chain;
    while (chain.size() < kMaxFilterTextLength - 100) chain += "T:Byte = 0 OR ";
    EXPECT_EQ(evaluate(chain + "T:Byte = 200", record), 1);

    std::string longest = "1" + std::string(kMaxFilterTextLength - 1, ' ');
    EXPECT_EQ(evaluate(longest, record), 1);
    int error = 0;
    EXPECT_EQ(compile(longest + " ", &error), nullptr);
    EXPECT_EQ(error, kFilterSyntaxError);
}

TEST_F(FilterExpressionTest, FieldsBeyondTheRecordOrUnreadableFailTheEvaluation) {
    std::vector<uint8_t> record = sampleRecord();
    expectEvaluations({
        {"T:Far = 'x'", -1},
        {"T:Far", -1},
        {"T:Wrapping = 0", -1},
        {"T:Byte = 200 OR T:Far = 'x'", -1},   // even where the other operand would decide
        {"1 = 2 AND T:Far = 'x'", -1},
        {"NOT T:Far", -1},
    });

    // The REAL field ends at byte 33.
    EXPECT_EQ(evaluate("T:Real = -2.25", std::span(record).first(32)), -1);
    EXPECT_EQ(evaluate("T:Real = -2.25", std::span(record).first(33)), 1);
    EXPECT_EQ(evaluate("T:Byte", {}), -1);
    EXPECT_EQ(evaluate("1", {}), 1);

    // A packed decimal with a half-byte that is no digit.
    record[34] = 0x2A;
    EXPECT_EQ(evaluate("T:Decimal < 0", record), -1);
    EXPECT_EQ(evaluate("T:PDecimal < 0", record), 1);
}

}  // namespace
}  // namespace vellum
