// Key values: the order their bytes give for every field type, ascending and descending, NOCASE,
// CSTRING and PSTRING ends, several components, the OPT blank test, the expansion list, OEM
// tables, the collation record and the layout of key entries; and the character sets: ANSI and
// OEM conversions, UTF-8 for display, and the built-in character tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "charset/charset.h"
#include "filelayer/file_layer.h"
#include "tablestore/collation.h"
#include "tablestore/key_value.h"
#include "vellum/byte_order.h"
#include "vellum/character_tables.h"
#include "vellum/control_blocks.h"
#include "vellum/file_layer_services.h"

namespace vellum {
namespace {

using Bytes = std::vector<uint8_t>;

// ---- Field values as a record buffer holds them ----

template <typename T>
Bytes littleEndian(T value) {
    using U = std::make_unsigned_t<T>;
    auto bits = static_cast<U>(value);
    Bytes bytes(sizeof(T));
    for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
    return bytes;
}

Bytes sreal(float value) { return littleEndian(std::bit_cast<uint32_t>(value)); }
Bytes real(double value) { return littleEndian(std::bit_cast<uint64_t>(value)); }

// Packed decimal of size bytes (2 * size - 1 digits): the high half of the first byte is the
// sign (0xF for negative), then the digits, most significant first.
Bytes decimal(int64_t value, uint32_t size, uint8_t negativeSign = 0xF) {
    Bytes bytes(size, 0);
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : value;
    for (uint32_t digit = 0; digit < 2 * size - 1; ++digit) {
        uint32_t nibble = 2 * size - 1 - digit;  // from the last half-byte backwards
        auto d = static_cast<uint8_t>(magnitude % 10);
        magnitude /= 10;
        bytes[nibble / 2] |= static_cast<uint8_t>(nibble % 2 == 1 ? d : d << 4);
    }
    if (value < 0) bytes[0] |= static_cast<uint8_t>(negativeSign << 4);
    return bytes;
}

Bytes string(std::string_view text, uint32_t size) {
    Bytes bytes(size, ' ');
    std::copy_n(text.begin(), std::min<size_t>(text.size(), size), bytes.begin());
    return bytes;
}

// A CSTRING: the text, a zero byte, and after it what was left there.
Bytes cstring(std::string_view text, uint32_t size, std::string_view after = {}) {
    Bytes bytes(size, 0);
    std::copy(text.begin(), text.end(), bytes.begin());
    std::copy(after.begin(), after.end(), bytes.begin() + text.size() + 1);
    return bytes;
}

// A PSTRING: the length byte, the text, and after it what was left there.
Bytes pstring(std::string_view text, uint32_t size, std::string_view after = {}) {
    Bytes bytes(size, 0);
    bytes[0] = static_cast<uint8_t>(text.size());
    std::copy(text.begin(), text.end(), bytes.begin() + 1);
    std::copy(after.begin(), after.end(), bytes.begin() + 1 + text.size());
    return bytes;
}

// ---- Definitions, keys and records ----

FieldDescriptor field(uint8_t type, uint32_t offset, uint32_t size, uint32_t index) {
    FieldDescriptor descriptor;
    descriptor.type = type;
    descriptor.offset = offset;
    descriptor.size = size;
    descriptor.index = index;
    if (type == kString || type == kCString || type == kPString) descriptor.elementLength = size;
    if (type == kDecimal) descriptor.elementByteSize = static_cast<uint8_t>(size);
    return descriptor;
}

// A table whose record holds the given fields one after another, behind 3 leading bytes.
struct Table {
    TableDefinition definition;
    KeyDescriptor key;

    Table(const std::vector<std::pair<uint8_t, uint32_t>>& fields,
          std::vector<KeyComponent> components, uint8_t attributes = 0) {
        uint32_t offset = 3;
        for (const auto& [type, size] : fields) {
            definition.fields.push_back(
                field(type, offset, size, static_cast<uint32_t>(definition.fields.size())));
            offset += size;
        }
        definition.recordLength = offset + 2;
        key.number = 7;
        key.attributes = attributes;
        key.components = std::move(components);
    }

    // A record holding the given field values, with other bytes that must not matter.
    Bytes record(const std::vector<Bytes>& values) const {
        Bytes bytes(definition.recordLength, 0xA5);
        for (size_t i = 0; i < values.size(); ++i) {
            const FieldDescriptor& f = definition.fields[i];
            EXPECT_EQ(values[i].size(), f.size);
            std::copy(values[i].begin(), values[i].end(), bytes.begin() + f.offset);
        }
        return bytes;
    }

    Bytes value(const std::vector<Bytes>& values, const Collation& collation) const {
        Bytes out{0xEE};  // replaced, not appended to
        formKeyValue(key, definition, collation, record(values), &out);
        return out;
    }
};

class KeyValueTest : public ::testing::Test {
protected:
    void SetUp() override { installPlatformFileLayer(); }
};

// ---- Order ----

struct Item {
    Bytes bytes;  // the field's value
    int rank;     // its place in ascending order; equal values share a rank
};

// Items of strictly increasing values.
std::vector<Item> increasing(const std::vector<Bytes>& values) {
    std::vector<Item> items;
    for (const Bytes& v : values) items.push_back({v, static_cast<int>(items.size())});
    return items;
}

// Forms the key values of the items in a shuffled order, sorts them as unsigned byte strings
// and checks that the items come out in their order, equal ranks exactly with equal values.
void expectOrder(uint8_t type, uint32_t size, const std::vector<Item>& items,
                 uint8_t attributes = 0, const Collation& collation = builtInCollation(false)) {
    for (bool descending : {false, true}) {
        SCOPED_TRACE(descending ? "descending" : "ascending");
        Table table({{type, size}}, {{0, descending}}, attributes);
        std::vector<std::pair<Bytes, int>> keyed;
        std::vector<Item> shuffled = items;
        std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(20240611u + size));
        for (const Item& item : shuffled) {
            Bytes value = table.value({item.bytes}, collation);
            EXPECT_EQ(value.size(), size);
            keyed.emplace_back(std::move(value), item.rank);
        }
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (size_t i = 1; i < keyed.size(); ++i) {
            SCOPED_TRACE("sorted position " + std::to_string(i));
            int before = keyed[i - 1].second;
            int after = keyed[i].second;
            if (descending) {
                EXPECT_GE(before, after);
            } else {
                EXPECT_LE(before, after);
            }
            EXPECT_EQ(before == after, keyed[i - 1].first == keyed[i].first);
        }
    }
}

TEST_F(KeyValueTest, ByteOrder) {
    expectOrder(kByte, 1, increasing({{0x00}, {0x01}, {0x7F}, {0x80}, {0xFE}, {0xFF}}));
}

TEST_F(KeyValueTest, ShortOrdersNegativesBeforeZeroBeforePositives) {
    expectOrder(kShort, 2,
                increasing({littleEndian<int16_t>(-32768), littleEndian<int16_t>(-256),
                            littleEndian<int16_t>(-255), littleEndian<int16_t>(-1),
                            littleEndian<int16_t>(0), littleEndian<int16_t>(1),
                            littleEndian<int16_t>(255), littleEndian<int16_t>(256),
                            littleEndian<int16_t>(32767)}));
}

TEST_F(KeyValueTest, UShortOrder) {
    expectOrder(kUShort, 2,
                increasing({littleEndian<uint16_t>(0), littleEndian<uint16_t>(1),
                            littleEndian<uint16_t>(255), littleEndian<uint16_t>(256),
                            littleEndian<uint16_t>(0x8000), littleEndian<uint16_t>(65535)}));
}

TEST_F(KeyValueTest, LongOrdersNegativesBeforeZeroBeforePositives) {
    expectOrder(kLong, 4,
                increasing({littleEndian<int32_t>(std::numeric_limits<int32_t>::min()),
                            littleEndian<int32_t>(-65536), littleEndian<int32_t>(-256),
                            littleEndian<int32_t>(-2), littleEndian<int32_t>(-1),
                            littleEndian<int32_t>(0), littleEndian<int32_t>(1),
                            littleEndian<int32_t>(255), littleEndian<int32_t>(256),
                            littleEndian<int32_t>(65536),
                            littleEndian<int32_t>(std::numeric_limits<int32_t>::max())}));
}

TEST_F(KeyValueTest, LongPiecesAreBigEndianWithTheSignBitInverted) {
    Table ascending({{kLong, 4}}, {{0, false}});
    Table descending({{kLong, 4}}, {{0, true}});
    Collation collation = builtInCollation(false);
    EXPECT_EQ(ascending.value({littleEndian<int32_t>(1)}, collation), (Bytes{0x80, 0, 0, 1}));
    EXPECT_EQ(ascending.value({littleEndian<int32_t>(-1)}, collation),
              (Bytes{0x7F, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(descending.value({littleEndian<int32_t>(1)}, collation),
              (Bytes{0x7F, 0xFF, 0xFF, 0xFE}));
}

TEST_F(KeyValueTest, ULongOrder) {
    expectOrder(kULong, 4,
                increasing({littleEndian<uint32_t>(0), littleEndian<uint32_t>(1),
                            littleEndian<uint32_t>(255), littleEndian<uint32_t>(256),
                            littleEndian<uint32_t>(65536), littleEndian<uint32_t>(0x7FFFFFFF),
                            littleEndian<uint32_t>(0x80000000),
                            littleEndian<uint32_t>(0xFFFFFFFF)}));
}

TEST_F(KeyValueTest, DateOrder) {
    // Day numbers.
    expectOrder(kDate, 4,
                increasing({littleEndian<uint32_t>(0), littleEndian<uint32_t>(4),
                            littleEndian<uint32_t>(255), littleEndian<uint32_t>(36525),
                            littleEndian<uint32_t>(73051), littleEndian<uint32_t>(2994626)}));
}

TEST_F(KeyValueTest, TimeOrder) {
    // Hundredths of a second since midnight, plus one.
    expectOrder(kTime, 4,
                increasing({littleEndian<uint32_t>(0), littleEndian<uint32_t>(1),
                            littleEndian<uint32_t>(101), littleEndian<uint32_t>(360001),
                            littleEndian<uint32_t>(4320001), littleEndian<uint32_t>(8640000)}));
}

TEST_F(KeyValueTest, SRealOrder) {
    const float inf = std::numeric_limits<float>::infinity();
    const float tiny = std::numeric_limits<float>::denorm_min();
    // -0.0 sorts just before 0.0: the two are distinct key values.
    expectOrder(kSReal, 4,
                increasing({sreal(-inf), sreal(-3.0e38f), sreal(-2.5f), sreal(-1.0f),
                            sreal(-0.5f), sreal(-tiny), sreal(-0.0f), sreal(0.0f), sreal(tiny),
                            sreal(0.5f), sreal(1.0f), sreal(3.0f), sreal(3.0e38f),
                            sreal(inf)}));
}

TEST_F(KeyValueTest, RealOrder) {
    const double inf = std::numeric_limits<double>::infinity();
    const double tiny = std::numeric_limits<double>::denorm_min();
    expectOrder(kReal, 8,
                increasing({real(-inf), real(-1.0e300), real(-2.5), real(-1.0),
                            real(-1.0 / 1024), real(-tiny), real(-0.0), real(0.0), real(tiny),
                            real(1.0 / 1024), real(1.0), real(3.0), real(1.0e300), real(inf)}));
}

TEST_F(KeyValueTest, RealNegativeZeroSortsBetweenNegativesAndZero) {
    Table table({{kReal, 8}}, {{0, false}});
    Collation collation = builtInCollation(false);
    Bytes negativeZero = table.value({real(-0.0)}, collation);
    EXPECT_EQ(negativeZero, (Bytes{0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(table.value({real(0.0)}, collation), (Bytes{0x80, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(KeyValueTest, DecimalOrdersNegativesFirst) {
    const uint32_t size = 4;  // seven digits
    expectOrder(kDecimal, size,
                increasing({decimal(-9999999, size), decimal(-1000000, size),
                            decimal(-12345, size), decimal(-100, size), decimal(-99, size),
                            decimal(-1, size), decimal(0, size), decimal(1, size),
                            decimal(9, size), decimal(10, size), decimal(12345, size),
                            decimal(1000000, size), decimal(9999999, size)}));
}

TEST_F(KeyValueTest, DecimalTakesAnyNonzeroSignAsNegative) {
    const uint32_t size = 3;
    std::vector<Item> items = {{decimal(-500, size, 0xF), 0}, {decimal(-500, size, 0xD), 0},
                               {decimal(-500, size, 0x8), 0}, {decimal(-2, size, 0xB), 1},
                               {decimal(0, size), 2},         {decimal(2, size), 3}};
    expectOrder(kDecimal, size, items);
}

TEST_F(KeyValueTest, DecimalNegativeZeroSortsJustBelowZero) {
    const uint32_t size = 2;
    Bytes negativeZero = {0xF0, 0x00};
    expectOrder(kDecimal, size, {{decimal(-1, size), 0}, {negativeZero, 1}, {decimal(0, size), 2}});
}

TEST_F(KeyValueTest, StringOrder) {
    const uint32_t size = 5;
    expectOrder(kString, size,
                increasing({string("", size), string("!", size), string("A", size),
                            string("AB", size), string("B", size), string("Z", size),
                            string("[", size), string("a", size), string("ab", size),
                            string("abc", size), string("abcde", size), string("b", size),
                            string("z", size), string("\xE9", size), string("\xFC", size)}));
}

TEST_F(KeyValueTest, NoCaseStringFoldsUpperToLower) {
    const uint32_t size = 4;
    // Without NOCASE "Z" sorts before "[" before "a"; with it "Z" is "z".
    std::vector<Item> folded = {
        {string("[", size), 0},   {string("a", size), 1},  {string("A", size), 1},
        {string("ab", size), 2},  {string("AB", size), 2}, {string("aB", size), 2},
        {string("b", size), 3},   {string("B", size), 3},  {string("c", size), 4},
        {string("C", size), 4},   {string("z", size), 5},  {string("Z", size), 5},
        {string("\xC9", size), 6}, {string("\xE9", size), 7},
    };
    expectOrder(kString, size, folded, kKeyDescriptorNoCase);
}

TEST_F(KeyValueTest, WithoutNoCaseCaseMatters) {
    const uint32_t size = 2;
    expectOrder(kString, size,
                increasing({string("B", size), string("Z", size), string("a", size),
                            string("b", size), string("c", size)}));
}

TEST_F(KeyValueTest, NoCaseFindsLowerCaseStoredValueFromUpperCaseBuffer) {
    Table table({{kString, 8}}, {{0, false}}, kKeyDescriptorNoCase);
    Collation collation = builtInCollation(false);
    EXPECT_EQ(table.value({string("BOSTON", 8)}, collation),
              table.value({string("boston", 8)}, collation));
    EXPECT_EQ(table.value({string("BOSTON", 8)}, collation), string("boston", 8));
}

TEST_F(KeyValueTest, CStringIgnoresBytesAfterTheEnd) {
    const uint32_t size = 6;
    std::vector<Item> items = {
        {cstring("", size), 0},          {cstring("", size, "zzz"), 0},
        {cstring("a", size), 1},         {cstring("a", size, "\xFF\xFF"), 1},
        {cstring("a", size, "b"), 1},    {cstring("ab", size), 2},
        {cstring("ab", size, "zz"), 2},  {cstring("abc", size), 3},
        {cstring("abcde", size), 4},     {cstring("b", size), 5},
    };
    expectOrder(kCString, size, items);
    // A CSTRING filling its whole storage has no zero byte.
    Table table({{kCString, 3}}, {{0, false}});
    EXPECT_EQ(table.value({Bytes{'x', 'y', 'z'}}, builtInCollation(false)), (Bytes{'x', 'y', 'z'}));
}

TEST_F(KeyValueTest, PStringIgnoresBytesAfterTheUsedLength) {
    const uint32_t size = 6;
    std::vector<Item> items = {
        {pstring("", size), 0},         {pstring("", size, "zzz"), 0},
        {pstring("a", size), 1},        {pstring("a", size, "\xFF\xFF"), 1},
        {pstring("a", size, "b"), 1},   {pstring("ab", size), 2},
        {pstring("ab", size, "zz"), 2}, {pstring("abc", size), 3},
        {pstring("abcde", size), 4},    {pstring("b", size), 5},
    };
    expectOrder(kPString, size, items);
    // The piece is the text after the length byte, zero-filled.
    Table table({{kPString, 6}}, {{0, false}});
    EXPECT_EQ(table.value({pstring("ab", 6, "cd")}, builtInCollation(false)),
              (Bytes{'a', 'b', 0, 0, 0, 0}));
    // A used length beyond the storage takes what the field holds.
    Bytes tooLong = {200, 'p', 'q', 'r', 's', 't'};
    EXPECT_EQ(table.value({tooLong}, builtInCollation(false)), (Bytes{'p', 'q', 'r', 's', 't', 0}));
}

TEST_F(KeyValueTest, NoCaseAppliesToCStringAndPString) {
    const uint32_t size = 4;
    expectOrder(kCString, size,
                {{cstring("a", size), 0}, {cstring("B", size, "x"), 1}, {cstring("b", size), 1},
                 {cstring("c", size), 2}},
                kKeyDescriptorNoCase);
    expectOrder(kPString, size,
                {{pstring("a", size), 0}, {pstring("B", size, "x"), 1}, {pstring("b", size), 1},
                 {pstring("c", size), 2}},
                kKeyDescriptorNoCase);
}

TEST_F(KeyValueTest, GroupOrdersAsBytesWithTheStringSteps) {
    const uint32_t size = 4;
    expectOrder(kGroup, size,
                increasing({Bytes{0, 0, 0, 0}, Bytes{0, 0, 0, 1}, Bytes{0, 1, 0, 0},
                            Bytes{'A', 0, 0, 0}, Bytes{'a', 0, 0, 0}, Bytes{0xFF, 0, 0, 0}}));
    expectOrder(kGroup, size,
                {{Bytes{'a', 'b', 0, 0}, 0}, {Bytes{'A', 'B', 0, 0}, 0}, {Bytes{'a', 'c', 0, 0}, 1}},
                kKeyDescriptorNoCase);
}

TEST_F(KeyValueTest, UnlistedTypesAreTakenUnchanged) {
    Table table({{kPDecimal, 3}}, {{0, false}}, kKeyDescriptorNoCase);
    EXPECT_EQ(table.value({Bytes{'A', 0xF1, 0x23}}, builtInCollation(false)),
              (Bytes{'A', 0xF1, 0x23}));
}

TEST_F(KeyValueTest, SeveralComponentsConcatenateWithoutSeparators) {
    // Ascending on a STRING, descending on a LONG, ascending on a USHORT.
    Table table({{kString, 3}, {kLong, 4}, {kUShort, 2}}, {{0, false}, {1, true}, {2, false}});
    Collation collation = builtInCollation(false);
    EXPECT_EQ(keyLength(table.key, table.definition), 9u);
    struct Row {
        std::string name;
        int32_t number;
        uint16_t small;
    };
    std::vector<Row> rows = {{"ab", 5, 0},  {"ab", 5, 9},  {"ab", 0, 3}, {"ab", -7, 1},
                             {"abc", 9, 0}, {"b", 100, 0}, {"b", -1, 0}, {"b", -1, 70}};
    std::vector<std::pair<Bytes, size_t>> keyed;
    std::vector<size_t> order = {5, 2, 7, 0, 3, 6, 1, 4};
    for (size_t at : order) {
        const Row& row = rows[at];
        Bytes value = table.value({string(row.name, 3), littleEndian(row.number),
                                   littleEndian(row.small)},
                                  collation);
        ASSERT_EQ(value.size(), 9u);
        keyed.emplace_back(std::move(value), at);
    }
    std::sort(keyed.begin(), keyed.end());
    for (size_t i = 0; i < keyed.size(); ++i) EXPECT_EQ(keyed[i].second, i);
    // The pieces lie side by side.
    Bytes value = table.value({string("ab", 3), littleEndian<int32_t>(1), littleEndian<uint16_t>(2)},
                              collation);
    EXPECT_EQ(value, (Bytes{'a', 'b', ' ', 0x7F, 0xFF, 0xFF, 0xFE, 0x00, 0x02}));
}

TEST_F(KeyValueTest, NoCaseLeavesNumbersAlone) {
    // 'A' (0x41) as the low byte of a LONG is not folded.
    Table table({{kString, 1}, {kLong, 4}}, {{0, false}, {1, false}}, kKeyDescriptorNoCase);
    EXPECT_EQ(table.value({string("Q", 1), littleEndian<int32_t>(0x41)}, builtInCollation(false)),
              (Bytes{'q', 0x80, 0, 0, 0x41}));
}

TEST_F(KeyValueTest, FieldBytesBeyondTheRecordReadAsZero) {
    Table table({{kULong, 4}}, {{0, false}});
    Bytes shortRecord = {0xA5, 0xA5, 0xA5, 0x01, 0x02};
    Bytes out;
    formKeyValue(table.key, table.definition, builtInCollation(false), shortRecord, &out);
    EXPECT_EQ(out, (Bytes{0, 0, 0x02, 0x01}));
}

// ---- OPT ----

TEST_F(KeyValueTest, OptBlankValuesPerType) {
    struct Case {
        uint8_t type;
        uint32_t size;
        Bytes blank;
        Bytes notBlank;
    };
    std::vector<Case> cases = {
        {kByte, 1, {0}, {1}},
        {kShort, 2, littleEndian<int16_t>(0), littleEndian<int16_t>(-1)},
        {kUShort, 2, littleEndian<uint16_t>(0), littleEndian<uint16_t>(256)},
        {kLong, 4, littleEndian<int32_t>(0), littleEndian<int32_t>(1)},
        {kULong, 4, littleEndian<uint32_t>(0), littleEndian<uint32_t>(0x01000000)},
        {kDate, 4, littleEndian<uint32_t>(0), littleEndian<uint32_t>(73051)},
        {kTime, 4, littleEndian<uint32_t>(0), littleEndian<uint32_t>(1)},
        {kSReal, 4, sreal(0.0f), sreal(1.0f)},
        {kSReal, 4, sreal(0.0f), sreal(-0.0f)},  // -0.0 has a nonzero byte
        {kReal, 8, real(0.0), real(-2.5)},
        {kDecimal, 3, decimal(0, 3), decimal(-1, 3)},
        {kString, 4, string("", 4), string("   x", 4)},
        {kString, 4, string("", 4), Bytes{0, 0, 0, 0}},  // zeros are not spaces
        {kCString, 4, cstring("", 4, "ab"), cstring("a", 4)},
        {kPString, 4, pstring("", 4, "ab"), pstring("a", 4)},
        {kGroup, 3, Bytes{' ', ' ', ' '}, Bytes{0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type));
        Table opt({{c.type, c.size}}, {{0, false}}, kKeyDescriptorOpt);
        EXPECT_TRUE(isBlankForOpt(opt.key, opt.definition, opt.record({c.blank})));
        EXPECT_FALSE(isBlankForOpt(opt.key, opt.definition, opt.record({c.notBlank})));
        Table plain({{c.type, c.size}}, {{0, false}}, kKeyDescriptorDup);
        EXPECT_FALSE(isBlankForOpt(plain.key, plain.definition, plain.record({c.blank})));
    }
}

TEST_F(KeyValueTest, OptBlankNeedsEveryComponentBlank) {
    Table table({{kString, 3}, {kLong, 4}}, {{0, false}, {1, true}},
                kKeyDescriptorOpt | kKeyDescriptorNoCase);
    EXPECT_TRUE(isBlankForOpt(table.key, table.definition,
                              table.record({string("", 3), littleEndian<int32_t>(0)})));
    EXPECT_FALSE(isBlankForOpt(table.key, table.definition,
                               table.record({string("a", 3), littleEndian<int32_t>(0)})));
    EXPECT_FALSE(isBlankForOpt(table.key, table.definition,
                               table.record({string("", 3), littleEndian<int32_t>(-1)})));
}

// ---- Collation ----

Collation withExpansions(std::initializer_list<std::array<uint8_t, 3>> items) {
    Collation collation = builtInCollation(false);
    size_t at = 0;
    for (const auto& item : items) {
        collation.expansions[at] = item[0];
        collation.expansions[at + 1] = item[1];
        collation.expansions[at + 2] = item[2];
        collation.expansions[at + 3] = 0x77;  // not used
        at += 4;
    }
    return collation;
}

TEST_F(KeyValueTest, ExpansionListReplacesOneByteByTwo) {
    // German sharp s (0xDF) sorts as "ss".
    Collation collation = withExpansions({{0xDF, 's', 's'}});
    const uint32_t size = 6;
    expectOrder(kString, size,
                {{string("mas", size), 0}, {string("masse", size), 1},
                 {string("ma\xDF" "e", size), 1}, {string("ma\xDFz", size), 2},
                 {string("massz", size), 2}, {string("masz", size), 3}},
                0, collation);
}

TEST_F(KeyValueTest, ExpansionDropsWhatNoLongerFits) {
    Collation collation = withExpansions({{0xDF, 's', 's'}, {0xC6, 'A', 'E'}});
    Table table({{kString, 3}}, {{0, false}});
    EXPECT_EQ(table.value({Bytes{'a', 0xDF, 0xDF}}, collation), (Bytes{'a', 's', 's'}));
    EXPECT_EQ(table.value({Bytes{'a', 'b', 0xDF}}, collation), (Bytes{'a', 'b', 's'}));
    EXPECT_EQ(table.value({Bytes{0xC6, 0xDF, 'x'}}, collation), (Bytes{'A', 'E', 's'}));
    // NOCASE folds before the expansion list is consulted: 'Q' becomes 'q', which expands.
    Collation folded = withExpansions({{'q', 'k', 'w'}});
    Table noCase({{kString, 3}}, {{0, false}}, kKeyDescriptorNoCase);
    EXPECT_EQ(noCase.value({string("Qa", 3)}, folded), (Bytes{'k', 'w', 'a'}));
}

TEST_F(KeyValueTest, ExpansionListEndsAtAZeroByteValue) {
    Collation collation = withExpansions({{'x', '1', '2'}, {0, '3', '4'}, {'y', '5', '6'}});
    Table table({{kString, 4}}, {{0, false}});
    EXPECT_EQ(table.value({string("xy", 4)}, collation), (Bytes{'1', '2', 'y', ' '}));
    // The first of two items for one byte value counts.
    Collation twice = withExpansions({{'x', '1', '2'}, {'x', '3', '4'}});
    EXPECT_EQ(table.value({string("x", 4)}, twice), (Bytes{'1', '2', ' ', ' '}));
}

TEST_F(KeyValueTest, WeightsApplyAfterTheOtherSteps) {
    Collation collation = builtInCollation(false);
    // Sort 'b' before 'a'.
    std::swap(collation.ansiWeights['a'], collation.ansiWeights['b']);
    const uint32_t size = 2;
    expectOrder(kString, size, increasing({string("b", size), string("a", size)}), 0, collation);
    expectOrder(kString, size,
                {{string("B", size), 0}, {string("b", size), 0}, {string("a", size), 1},
                 {string("A", size), 1}},
                kKeyDescriptorNoCase, collation);
}

TEST_F(KeyValueTest, OemTableConvertsBeforeWeighting) {
    Collation oem = builtInCollation(true);
    Collation ansi = builtInCollation(false);
    Table table({{kString, 2}}, {{0, false}});
    // 'é' is 0xE9 in ANSI and 0x82 in OEM.
    EXPECT_EQ(table.value({string("\xE9", 2)}, oem), (Bytes{0x82, ' '}));
    EXPECT_EQ(table.value({string("\xE9", 2)}, ansi), (Bytes{0xE9, ' '}));
    // The OEM weights weigh the converted byte; the ANSI weights play no part.
    oem.oemWeights[0x82] = 0x45;
    oem.ansiWeights[0xE9] = 0x99;
    oem.ansiWeights[0x82] = 0x98;
    EXPECT_EQ(table.value({string("\xE9", 2)}, oem), (Bytes{0x45, ' '}));
    // The order follows the OEM set: 'ü' (0xFC, OEM 0x81) before 'é'; in ANSI the reverse.
    const uint32_t size = 3;
    expectOrder(kString, size,
                increasing({string("z", size), string("\xFC", size), string("\xE9", size),
                            string("\xE2", size)}),
                0, builtInCollation(true));
    expectOrder(kString, size,
                increasing({string("z", size), string("\xE2", size), string("\xE9", size),
                            string("\xFC", size)}),
                0, builtInCollation(false));
}

TEST_F(KeyValueTest, OemTableConvertsCStringPStringAndGroup) {
    Collation oem = builtInCollation(true);
    Table cstringTable({{kCString, 3}}, {{0, false}});
    EXPECT_EQ(cstringTable.value({cstring("\xE9", 3)}, oem), (Bytes{0x82, 0, 0}));
    Table groupTable({{kGroup, 2}}, {{0, false}});
    EXPECT_EQ(groupTable.value({Bytes{0xE9, 0xFC}}, oem), (Bytes{0x82, 0x81}));
    // Numbers are never converted.
    Table longTable({{kLong, 4}}, {{0, false}});
    EXPECT_EQ(longTable.value({littleEndian<int32_t>(0xE9)}, oem), (Bytes{0x80, 0, 0, 0xE9}));
}

TEST_F(KeyValueTest, PStringLengthByteIsNeverConverted) {
    // A used length of 0xE9 (233) would become 0x82 (130) if converted as a character.
    const uint32_t size = 240;
    Bytes field(size, 0xE9);
    Table table({{kPString, size}}, {{0, false}});
    Bytes value = table.value({field}, builtInCollation(true));
    Bytes expected(size, 0);
    std::fill_n(expected.begin(), 233, uint8_t{0x82});
    EXPECT_EQ(value, expected);
}

TEST_F(KeyValueTest, NoCaseInOemTableFoldsInAnsiFirst) {
    // Folding uses the ANSI classes and case map, before the conversion.
    Collation oem = builtInCollation(true);
    Table table({{kString, 2}}, {{0, false}}, kKeyDescriptorNoCase);
    EXPECT_EQ(table.value({string("E\xE9", 2)}, oem), (Bytes{'e', 0x82}));
}

TEST_F(KeyValueTest, CollationRecordRoundTrips) {
    std::vector<uint8_t> record = builtInCollationRecord(true);
    record[kCollationExpansions] = 0xDF;
    record[kCollationExpansions + 1] = 's';
    record[kCollationExpansions + 2] = 's';
    record[kCollationReserved + 5] = 0x42;
    Collation collation;
    ASSERT_TRUE(loadCollation(record, &collation));
    EXPECT_TRUE(collation.oem);
    EXPECT_EQ(collation.expansions[0], 0xDF);
    EXPECT_EQ(collation.reserved[5], 0x42);
    EXPECT_EQ(collationRecord(collation), record);
    Collation untouched = builtInCollation(false);
    EXPECT_FALSE(loadCollation(std::span(record).first(kCollationRecordSize - 1), &untouched));
    EXPECT_FALSE(untouched.oem);
}

TEST_F(KeyValueTest, BuiltInCollationHoldsTheBuiltInTables) {
    for (bool oem : {false, true}) {
        Collation collation = builtInCollation(oem);
        EXPECT_EQ(collation.oem, oem);
        const CharacterTables& tables = currentCharacterTables();
        EXPECT_EQ(collation.ansiWeights, tables.weights);
        EXPECT_EQ(collation.oemWeights, tables.weights);
        EXPECT_EQ(collation.caseMap, tables.caseMap);
        EXPECT_EQ(collation.classes, tables.classes);
        EXPECT_EQ(collation.expansions, (std::array<uint8_t, 64>{}));
        EXPECT_EQ(collation.reserved, (std::array<uint8_t, 64>{}));
    }
    const CharacterTables& tables = kBuiltInCharacterTables;
    for (unsigned c = 0; c < 256; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(tables.weights[c], c);
        bool upper = c >= 'A' && c <= 'Z';
        bool lower = c >= 'a' && c <= 'z';
        bool digit = c >= '0' && c <= '9';
        EXPECT_EQ(tables.caseMap[c], upper ? c + 32 : lower ? c - 32 : c);
        EXPECT_EQ(tables.classes[c], upper ? 0x01 : lower ? 0x02 : digit ? 0x04 : 0x00);
    }
}

// ---- Key entries ----

TEST_F(KeyValueTest, DupKeyEntryEndsItsKeyWithTheRecordNumber) {
    Table table({{kLong, 4}}, {{0, false}}, kKeyDescriptorDup);
    TableNumber number = {0, 0, 1, 2};
    Bytes value = table.value({littleEndian<int32_t>(5)}, builtInCollation(false));
    KeyEntryBytes entry = keyEntryBytes(number, table.key, value, 0x01020304u);
    EXPECT_EQ(entry.key, (Bytes{0, 0, 1, 2, 7, 0x80, 0, 0, 5, 1, 2, 3, 4}));
    EXPECT_TRUE(entry.data.empty());
    EXPECT_EQ(keyEntryPrefix(number, table.key), (Bytes{0, 0, 1, 2, 7}));
    // Equal values order by record number, unsigned.
    EXPECT_LT(keyEntryBytes(number, table.key, value, 0x000000FFu).key,
              keyEntryBytes(number, table.key, value, 0x00000100u).key);
    EXPECT_LT(keyEntryBytes(number, table.key, value, 0x7FFFFFFFu).key,
              keyEntryBytes(number, table.key, value, 0x80000000u).key);
    RawRecordNumber raw = {9, 8, 7, 6};
    EXPECT_EQ(keyEntryBytes(number, table.key, value, raw).key,
              (Bytes{0, 0, 1, 2, 7, 0x80, 0, 0, 5, 9, 8, 7, 6}));
}

TEST_F(KeyValueTest, UniqueKeyEntryHoldsTheRecordNumberAsData) {
    Table table({{kString, 2}}, {{0, false}}, kKeyDescriptorOpt);
    table.key.number = 239;
    TableNumber number = {0x80, 0, 0, 1};
    Bytes value = table.value({string("ab", 2)}, builtInCollation(false));
    KeyEntryBytes entry = keyEntryBytes(number, table.key, value, 0x00000010u);
    EXPECT_EQ(entry.key, (Bytes{0x80, 0, 0, 1, 239, 'a', 'b'}));
    EXPECT_EQ(entry.data, (Bytes{0, 0, 0, 0x10}));
}

TEST_F(KeyValueTest, KeyLengthIsTheSumOfTheComponentSizes) {
    Table table({{kByte, 1}, {kReal, 8}, {kString, 20}, {kDecimal, 5}},
                {{3, false}, {0, true}, {2, false}});
    EXPECT_EQ(keyLength(table.key, table.definition), 26u);
    Bytes value = table.value({Bytes{1}, real(1.0), string("x", 20), decimal(1, 5)},
                              builtInCollation(false));
    EXPECT_EQ(value.size(), 26u);
    Table none({{kByte, 1}}, {});
    EXPECT_EQ(keyLength(none.key, none.definition), 0u);
}

// ---- Character sets ----

TEST(CharsetTest, ConversionsRoundTripForEveryByteWithACounterpart) {
    unsigned ansiCount = 0;
    unsigned oemCount = 0;
    for (unsigned b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        auto byte = static_cast<uint8_t>(b);
        if (ansiHasOemCounterpart(byte)) {
            ++ansiCount;
            EXPECT_TRUE(oemHasAnsiCounterpart(ansiToOemByte(byte)));
            EXPECT_EQ(oemToAnsiByte(ansiToOemByte(byte)), byte);
        } else {
            EXPECT_EQ(ansiToOemByte(byte), kCharsetSubstitute);
        }
        if (oemHasAnsiCounterpart(byte)) {
            ++oemCount;
            EXPECT_EQ(ansiToOemByte(oemToAnsiByte(byte)), byte);
        } else {
            EXPECT_EQ(oemToAnsiByte(byte), kCharsetSubstitute);
        }
        if (b < 0x80) {
            EXPECT_EQ(ansiToOemByte(byte), byte);
            EXPECT_EQ(oemToAnsiByte(byte), byte);
        }
    }
    EXPECT_EQ(ansiCount, 182u);
    EXPECT_EQ(oemCount, 182u);
}

TEST(CharsetTest, SpanConversionsWorkInPlace) {
    Bytes all(256);
    for (unsigned b = 0; b < 256; ++b) all[b] = static_cast<uint8_t>(b);
    Bytes bytes = all;
    convertAnsiToOem(bytes);
    convertOemToAnsi(bytes);
    for (unsigned b = 0; b < 256; ++b) {
        auto byte = static_cast<uint8_t>(b);
        EXPECT_EQ(bytes[b], ansiHasOemCounterpart(byte) ? byte : kCharsetSubstitute) << b;
    }
    bytes = all;
    convertOemToAnsi(bytes);
    convertAnsiToOem(bytes);
    for (unsigned b = 0; b < 256; ++b) {
        auto byte = static_cast<uint8_t>(b);
        EXPECT_EQ(bytes[b], oemHasAnsiCounterpart(byte) ? byte : kCharsetSubstitute) << b;
    }
}

TEST(CharsetTest, KnownCharacters) {
    struct Pair {
        uint8_t ansi;
        uint8_t oem;
    };
    // Ç ü é â ä à å ç ñ Ñ ß µ ± ° · ² ½ ¼ « » ¿ ¡ £ ¥ ƒ no-break space
    std::vector<Pair> pairs = {{0xC7, 0x80}, {0xFC, 0x81}, {0xE9, 0x82}, {0xE2, 0x83},
                               {0xE4, 0x84}, {0xE0, 0x85}, {0xE5, 0x86}, {0xE7, 0x87},
                               {0xF1, 0xA4}, {0xD1, 0xA5}, {0xDF, 0xE1}, {0xB5, 0xE6},
                               {0xB1, 0xF1}, {0xB0, 0xF8}, {0xB7, 0xFA}, {0xB2, 0xFD},
                               {0xBD, 0xAB}, {0xBC, 0xAC}, {0xAB, 0xAE}, {0xBB, 0xAF},
                               {0xBF, 0xA8}, {0xA1, 0xAD}, {0xA3, 0x9C}, {0xA5, 0x9D},
                               {0x83, 0x9F}, {0xA0, 0xFF}};
    for (const Pair& pair : pairs) {
        EXPECT_EQ(ansiToOemByte(pair.ansi), pair.oem) << int{pair.ansi};
        EXPECT_EQ(oemToAnsiByte(pair.oem), pair.ansi) << int{pair.oem};
    }
    // € À © and the box-drawing and Greek characters of the OEM set have no counterpart.
    EXPECT_EQ(ansiToOemByte(0x80), kCharsetSubstitute);
    EXPECT_EQ(ansiToOemByte(0xC0), kCharsetSubstitute);
    EXPECT_EQ(ansiToOemByte(0xA9), kCharsetSubstitute);
    EXPECT_EQ(oemToAnsiByte(0xC4), kCharsetSubstitute);
    EXPECT_EQ(oemToAnsiByte(0xE3), kCharsetSubstitute);
}

TEST(CharsetTest, FileLayerConvertsWithThePlatformCharacterSets) {
    installPlatformFileLayer();
    Bytes bytes = {'C', 'a', 'f', 0xE9, 0x80, 0};
    fileLayer().ansiToOem(bytes);
    EXPECT_EQ(bytes, (Bytes{'C', 'a', 'f', 0x82, '?', 0}));
    fileLayer().oemToAnsi(bytes);
    EXPECT_EQ(bytes, (Bytes{'C', 'a', 'f', 0xE9, '?', 0}));
}

TEST(CharsetTest, AnsiToUtf8) {
    EXPECT_EQ(ansiToUtf8("Caf\xE9"), "Caf\xC3\xA9");
    EXPECT_EQ(ansiToUtf8("\x80"), "\xE2\x82\xAC");            // euro sign
    EXPECT_EQ(ansiToUtf8("\x99"), "\xE2\x84\xA2");            // trade mark sign
    EXPECT_EQ(ansiToUtf8("\x81\x9D"), "\xC2\x81\xC2\x9D");    // undefined: C1 controls
    EXPECT_EQ(ansiToUtf8(std::string_view("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(ansiToUtf8("\xFF"), "\xC3\xBF");
}

TEST(CharsetTest, Utf8ToAnsiIsTheInverse) {
    std::string all;
    for (unsigned b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    EXPECT_EQ(utf8ToAnsi(ansiToUtf8(all)), all);
    EXPECT_EQ(utf8ToAnsi("\xE4\xB8\xAD"), "?");          // a character outside the set
    EXPECT_EQ(utf8ToAnsi("a\xC3"), "a?");                // cut sequence
    EXPECT_EQ(utf8ToAnsi("\xC0\xAF"), "??");             // overlong
    EXPECT_EQ(utf8ToAnsi("\xED\xA0\x80"), "???");        // surrogate
    EXPECT_EQ(utf8ToAnsi("\xF0\x9F\x98\x80!"), "?!");    // outside the set, four bytes
}

}  // namespace
}  // namespace vellum
