// Error texts and operation names.
#include <gtest/gtest.h>

#include "vellum/error_codes.h"
#include "vellum/operation_codes.h"

namespace vellum {
namespace {

TEST(ErrorCodes, TextsOfEveryCode) {
    const std::pair<int, const char*> cases[] = {
        {2, "File Not Found"}, {3, "Path Not Found"}, {4, "Too Many Open Files"},
        {5, "Access Denied"}, {8, "Insufficient Memory"}, {32, "File Is Already Locked"},
        {33, "Record Not Available"}, {35, "Record Not Found"}, {36, "Invalid Data File"},
        {37, "File Not Open"}, {38, "Invalid Key File"}, {40, "Creates Duplicate Key"},
        {43, "Record Is Already Held"}, {45, "Invalid Filename"},
        {46, "Key File Must Be Rebuilt"}, {47, "Invalid Record Declaration"},
        {48, "Unable To Log Transaction"}, {52, "File Already Open"},
        {54, "No Create Attribute"}, {56, "LOGOUT Already Active"},
        {63, "Exclusive Access Required"}, {75, "Invalid Field Type Descriptor"},
        {76, "Invalid Index String"}, {80, "Unsupported File Driver Function"},
        {89, "Record Changed By Another Station"}, {90, "File System Error"},
        {92, "BUILD In Progress"}, {93, "BUILD Cancelled"},
    };
    for (const auto& [code, text] : cases) EXPECT_EQ(errorText(code), text) << code;
    EXPECT_TRUE(errorText(0).empty());
    EXPECT_TRUE(errorText(34).empty());
}

TEST(OperationCodes, NamesAndGaps) {
    const std::pair<int, const char*> cases[] = {
        {0, "(0)"},         {1, "ADD"},           {14, "EOF"},          {24, "NEXT"},
        {25, "OPEN"},       {45, "SETkeykey"},    {51, "ADDfilelen"},   {68, "NULL"},
        {74, "QUERY_VIEW"}, {87, "Internal87"},   {91, "Internal91"},   {94, "Internal94"},
        {100, "Internal100"}, {101, "(101)"},     {103, "SQLCALLBACK"}, {104, "DESTROY"},
    };
    for (const auto& [code, name] : cases) EXPECT_EQ(operationName(code), name) << code;
    for (int code = 0; code <= 104; ++code) EXPECT_FALSE(operationName(code).empty()) << code;
    for (int code : {105, 106, 107, 108, -1, 109}) EXPECT_TRUE(operationName(code).empty()) << code;
    EXPECT_EQ(kSETkeykey, 45);
    EXPECT_EQ(kDESTROY, 104);
}

}  // namespace
}  // namespace vellum
