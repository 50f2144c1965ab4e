// Loading and storing numbers in a fixed byte order, checked against the bytes written out.
#include "vellum/byte_order.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace vellum {
namespace {

TEST(ByteOrder, LittleEndianPutsTheLowByteFirst) {
    std::array<uint8_t, 6> bytes{};
    store16le(bytes.data() + 1, 0xA1B2);
    EXPECT_EQ(bytes, (std::array<uint8_t, 6>{0x00, 0xB2, 0xA1, 0x00, 0x00, 0x00}));
    EXPECT_EQ(load16le(bytes.data() + 1), 0xA1B2);

    bytes = {};
    store32le(bytes.data() + 1, 0xA1B2C3D4);
    EXPECT_EQ(bytes, (std::array<uint8_t, 6>{0x00, 0xD4, 0xC3, 0xB2, 0xA1, 0x00}));
    EXPECT_EQ(load32le(bytes.data() + 1), 0xA1B2C3D4u);
}

TEST(ByteOrder, BigEndianPutsTheHighByteFirst) {
    std::array<uint8_t, 6> bytes{};
    store32be(bytes.data() + 1, 0xA1B2C3D4);
    EXPECT_EQ(bytes, (std::array<uint8_t, 6>{0x00, 0xA1, 0xB2, 0xC3, 0xD4, 0x00}));
    EXPECT_EQ(load32be(bytes.data() + 1), 0xA1B2C3D4u);
}

TEST(ByteOrder, BigEndianByteOrderIsNumberOrder) {
    std::array<uint8_t, 4> lower{};
    std::array<uint8_t, 4> higher{};
    store32be(lower.data(), 0x000000FF);
    store32be(higher.data(), 0x00000100);
    EXPECT_LT(lower, higher);
}

}  // namespace
}  // namespace vellum
