// Entries: key order and the length limit.
#include <gtest/gtest.h>

#include <string>

#include "support/entry_text.h"
#include "vellum/entry.h"
#include "vellum/fatal.h"

namespace vellum {
namespace {

using test::bytesOf;
using test::dataOf;

TEST(Entry, KeyOrderIsUnsignedBytesThenLength) {
    struct Case {
        std::string a, b;
        int sign;
    };
    const Case cases[] = {
        {"", "", 0},         {"", "a", -1},          {"ab", "a", 1},     {"abc", "abd", -1},
        {"\x80", "\x7f", 1}, {"a\xff", "b", -1},    {"same", "same", 0},
    };
    for (const Case& c : cases) {
        int result = compareKeys(bytesOf(c.a), bytesOf(c.b));
        EXPECT_EQ((result > 0) - (result < 0), c.sign) << c.a << " vs " << c.b;
    }
}

TEST(Entry, DataPlaysNoPartInTheOrder) {
    Entry* a = newEntry(bytesOf("key"), bytesOf("zzz"));
    Entry* b = newEntry(bytesOf("key"), bytesOf("aaa"));
    EXPECT_EQ(compareKeys(*a, *b), 0);
    EXPECT_EQ(dataOf(a), "zzz");
    freeEntry(a);
    freeEntry(b);
}

TEST(Entry, LongestEntryAndOneByteMore) {
    FatalTrap trap("test");
    Entry* longest = newEntry(10, Entry::kMaxLength - 10);
    EXPECT_EQ(longest->totalLength, Entry::kMaxLength);
    freeEntry(longest);
    try {
        newEntry(10, Entry::kMaxLength - 9);
        FAIL() << "no fatal error";
    } catch (const FatalError& error) {
        EXPECT_EQ(error.number(), 824);
        EXPECT_EQ(error.message(), "Possible data corruption in file");
    }
}

TEST(Fatal, MessageIsEmptyWithoutACurrentFile) {
    FatalTrap trap;
    try {
        fatal(1013);
    } catch (const FatalError& error) {
        EXPECT_EQ(error.number(), 1013);
        EXPECT_TRUE(error.message().empty());
        EXPECT_STREQ(error.what(), "Vellum File Driver Error (1013)");
    }
}

TEST(FatalDeathTest, WithoutATrapTheProgramEnds) {
    EXPECT_DEATH(fatal(706), "\\(706\\)");
}

}  // namespace
}  // namespace vellum
