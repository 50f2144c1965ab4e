// Key order by field type: for each type a table of values in their sorted order is added in a
// shuffled order, and a scan of an ascending and of a descending key over the field returns them
// sorted and reversed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "filelayer/table.h"
#include "support/sound_files.h"
#include "support/temp_dir.h"
#include "vellum/error_codes.h"

namespace vellum {
namespace {

using Bytes = std::vector<uint8_t>;

template <typename T>
Bytes raw(T value) {
    Bytes bytes(sizeof(T));
    std::memcpy(bytes.data(), &value, sizeof(T));
    return bytes;
}

template <typename T>
std::vector<Bytes> raws(std::initializer_list<T> values) {
    std::vector<Bytes> out;
    for (T value : values) out.push_back(raw(value));
    return out;
}

// Packed decimal of 5 digits: a sign half-byte (non-zero for a negative number), then the digits.
Bytes packed(int32_t value) {
    uint32_t magnitude = static_cast<uint32_t>(value < 0 ? -value : value);
    uint8_t nibbles[6] = {static_cast<uint8_t>(value < 0 ? 0xF : 0)};
    for (int i = 5; i >= 1; --i, magnitude /= 10) nibbles[i] = static_cast<uint8_t>(magnitude % 10);
    return {static_cast<uint8_t>(nibbles[0] << 4 | nibbles[1]),
            static_cast<uint8_t>(nibbles[2] << 4 | nibbles[3]),
            static_cast<uint8_t>(nibbles[4] << 4 | nibbles[5])};
}

Bytes padded(const std::string& text, size_t size, uint8_t fill) {
    Bytes bytes(size, fill);
    std::copy(text.begin(), text.end(), bytes.begin());
    return bytes;
}

Bytes pascal(const std::string& text, size_t size) {
    Bytes bytes(size, 0);
    bytes[0] = static_cast<uint8_t>(text.size());
    std::copy(text.begin(), text.end(), bytes.begin() + 1);
    return bytes;
}

struct TypeCase {
    std::string name;
    std::function<void(TableDeclaration&)> declare;  // the field (or group) at offset 0
    uint32_t keyAttributes = 0;
    std::vector<Bytes> sorted;                       // raw values in key order
};

std::vector<TypeCase> typeCases() {
    auto number = [](uint8_t type, uint32_t size) {
        return [type, size](TableDeclaration& d) {
            FieldSpec item;
            item.label = "K:Value";
            item.type = type;
            item.elementSize = size;
            d.field(item);
        };
    };
    using L = std::numeric_limits<int32_t>;
    std::vector<TypeCase> cases = {
        {"BYTE", number(kByte, 1), 0, raws<uint8_t>({0, 1, 127, 128, 255})},
        {"SHORT", number(kShort, 2), 0, raws<int16_t>({-32768, -300, -1, 0, 1, 300, 32767})},
        {"USHORT", number(kUShort, 2), 0, raws<uint16_t>({0, 1, 255, 256, 65535})},
        {"LONG", number(kLong, 4), 0, raws<int32_t>({L::min(), -70000, -1, 0, 1, 70000, L::max()})},
        {"ULONG", number(kULong, 4), 0, raws<uint32_t>({0, 1, 65536, 0x80000000u, 0xFFFFFFFFu})},
        {"DATE", number(kDate, 4), 0, raws<int32_t>({0, 1, 4000, 80000, 1 << 24})},
        {"TIME", number(kTime, 4), 0, raws<int32_t>({0, 1, 100, 360000, 8640000})},
        {"SREAL", number(kSReal, 4), 0, raws<float>({-1e30f, -2.5f, -1.0f, -1e-30f, 0.0f, 1e-30f, 3.0f, 1e30f})},
        {"REAL", number(kReal, 8), 0, raws<double>({-1e300, -2.5, -1.0, 0.0, 0.5, 3.0, 1e300})},
        {"DECIMAL", [](TableDeclaration& d) { d.decimal("K:Value", 5, 0); }, 0,
         {packed(-99999), packed(-12345), packed(-1), packed(0), packed(1), packed(10), packed(99999)}},
        {"STRING", [](TableDeclaration& d) { d.string("K:Value", 6); }, 0,
         {padded("", 6, ' '), padded("!", 6, ' '), padded("A", 6, ' '), padded("AB", 6, ' '),
          padded("B", 6, ' '), padded("a", 6, ' '), padded("b", 6, ' ')}},
        {"STRING NOCASE", [](TableDeclaration& d) { d.string("K:Value", 6); }, kKeyNoCase,
         {padded("", 6, ' '), padded("a", 6, ' '), padded("AB", 6, ' '), padded("abC", 6, ' '),
          padded("b", 6, ' '), padded("C", 6, ' '), padded("d", 6, ' ')}},
        {"CSTRING", [](TableDeclaration& d) { d.cstring("K:Value", 6); }, 0,
         {padded("", 6, 0), padded("A", 6, 0), padded("AB", 6, 0), padded("B", 6, 0),
          padded("a", 6, 0)}},
        {"PSTRING", [](TableDeclaration& d) { d.pstring("K:Value", 6); }, 0,
         {pascal("", 6), pascal("A", 6), pascal("AB", 6), pascal("B", 6), pascal("a", 6)}},
        {"GROUP", [](TableDeclaration& d) { d.group("K:Value", 2).byte("K:High").byte("K:Low"); }, 0,
         {{0, 0}, {0, 1}, {1, 0}, {1, 255}, {255, 255}}},
    };
    return cases;
}

class KeyOrderTest : public ::testing::TestWithParam<TypeCase> {};

// The ranks of the records in the order of a key.
std::vector<int32_t> scan(Table& table, unsigned key, uint32_t rankField, bool backward) {
    std::vector<int32_t> ranks;
    EXPECT_EQ(table.set(table.key(key)), 0);
    while ((backward ? table.previous() : table.next()) == 0) {
        ranks.push_back(table.longValue(rankField));
    }
    EXPECT_EQ(table.errorCode(), kRecordNotAvailable);
    return ranks;
}

TEST_P(KeyOrderTest, AScanReturnsTheValuesInTheirOrder) {
    const TypeCase& c = GetParam();
    test::TempDir dir;
    test::SoundFilesCheck soundFiles(dir);
    TableDeclaration declaration("K");
    declaration.name(dir.file("order.vlm")).attributes(kAttributeCreate);
    c.declare(declaration);
    declaration.longField("K:Rank");
    declaration.key("K:Up", c.keyAttributes, {1}).key("K:Down", c.keyAttributes, {-1});
    Table table(declaration);
    ASSERT_EQ(table.create(), 0);
    ASSERT_EQ(table.open(0x42), 0);
    uint32_t rankField = table.fieldNumber("K:Rank");
    std::vector<int32_t> order(c.sorted.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int32_t>(i);
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (int32_t rank : order) {
        const Bytes& value = c.sorted[static_cast<size_t>(rank)];
        table.clear();
        std::copy(value.begin(), value.end(), table.record());
        table.setLong(rankField, rank);
        ASSERT_EQ(table.add(), 0) << c.name << " rank " << rank;
    }
    std::vector<int32_t> ascending(order.size());
    for (size_t i = 0; i < ascending.size(); ++i) ascending[i] = static_cast<int32_t>(i);
    std::vector<int32_t> descending(ascending.rbegin(), ascending.rend());
    EXPECT_EQ(scan(table, 1, rankField, false), ascending);
    EXPECT_EQ(scan(table, 1, rankField, true), descending);
    EXPECT_EQ(scan(table, 2, rankField, false), descending);
    EXPECT_EQ(scan(table, 2, rankField, true), ascending);
}

INSTANTIATE_TEST_SUITE_P(Types, KeyOrderTest, ::testing::ValuesIn(typeCases()),
                         [](const ::testing::TestParamInfo<TypeCase>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name;
                         });

}  // namespace
}  // namespace vellum
