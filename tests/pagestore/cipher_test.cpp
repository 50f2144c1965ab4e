// Tests of the block cipher: key bytes from the owner string, the key, single blocks and whole
// buffers.
#include "pagestore/cipher.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "vellum/byte_order.h"

namespace vellum {
namespace {

using Bytes = std::vector<uint8_t>;
using Block = std::array<uint32_t, 16>;

TEST(OwnerKeyBytes, OneCharacterOwner) {
    // The owner and its terminating zero alternate: even steps add i to 0, odd ones to c.
    for (unsigned c : {0x41u, 0x7Au, 0xFFu}) {
        SCOPED_TRACE(c);
        std::string owner(1, static_cast<char>(c));
        std::array<uint8_t, 64> bytes = ownerKeyBytes(owner);
        for (unsigned i = 0; i < 64; ++i) {
            uint8_t expected = static_cast<uint8_t>(i % 2 == 0 ? i : c + i);
            EXPECT_EQ(bytes[(17 * i) % 64], expected) << "step " << i;
        }
    }
}

TEST(OwnerKeyBytes, LongerOwnerCyclesThroughItsTerminatingZero) {
    std::array<uint8_t, 64> bytes = ownerKeyBytes("ab");
    // Step i reads "ab\0"[(i + 1) mod 3] and lands at 17 * i mod 64.
    EXPECT_EQ(bytes[0], 'b');
    EXPECT_EQ(bytes[17], 1);
    EXPECT_EQ(bytes[34], 'a' + 2);
    EXPECT_EQ(bytes[51], 'b' + 3);
    EXPECT_EQ(bytes[4], 4);
    EXPECT_EQ(bytes[(17 * 63) % 64], ('b' + 63) % 256);  // (63 + 1) mod 3 = 1
    EXPECT_NE(ownerKeyBytes("ab"), ownerKeyBytes("ba"));
}

TEST(CipherKey, IsTheKeyBytesEncipheredTwiceWithThemselves) {
    std::array<uint8_t, 64> bytes = ownerKeyBytes("Kestrel");
    CipherKey expected;
    for (size_t i = 0; i < 16; ++i) expected[i] = load32le(bytes.data() + 4 * i);
    CipherKey raw = expected;
    encipherBlock(expected.data(), expected.data());
    encipherBlock(expected.data(), expected.data());
    EXPECT_EQ(makeCipherKey("Kestrel"), expected);
    EXPECT_NE(makeCipherKey("Kestrel"), raw);
    EXPECT_NE(makeCipherKey("Kestrel"), makeCipherKey("kestrel"));
}

TEST(CipherBlock, AliasedKeyReadsEachWordAsChangedSoFar) {
    // Step 0 (k = 1) turns words 0 and 1 into 2 and 1; step 1 then uses the new word 1 as its
    // key (a copy taken beforehand would give 0 and another result); steps 2 to 15 have k = 0,
    // which swaps word i with word 0.
    Block block{};
    block[0] = 1;
    encipherBlock(block.data(), block.data());
    Block expected{};
    expected[1] = 2;
    expected[2] = 2;
    EXPECT_EQ(block, expected);
}

TEST(CipherBlock, ZeroKeyRotatesTheWords) {
    // With k = 0 every step swaps word i with word 0.
    Block key{};
    Block block;
    for (uint32_t i = 0; i < 16; ++i) block[i] = 100 + i;
    encipherBlock(block.data(), key.data());
    Block expected;
    expected[0] = 115;
    for (uint32_t i = 1; i < 16; ++i) expected[i] = 100 + i - 1;
    EXPECT_EQ(block, expected);
}

TEST(CipherBlock, DecipherUndoesEncipher) {
    std::mt19937 random(31337);
    for (int round = 0; round < 2000; ++round) {
        Block key;
        Block block;
        for (uint32_t& word : key) word = static_cast<uint32_t>(random());
        for (uint32_t& word : block) word = static_cast<uint32_t>(random());
        // Some steps pair a word with itself.
        if (round % 2 == 0) {
            key[round % 16] = (key[round % 16] & ~15u) | static_cast<uint32_t>(round % 16);
        }
        Block original = block;
        encipherBlock(block.data(), key.data());
        EXPECT_NE(block, original);
        decipherBlock(block.data(), key.data());
        ASSERT_EQ(block, original) << "round " << round;
    }
}

TEST(CipherBuffer, WorksOnLittleEndianWords) {
    CipherKey key = makeCipherKey("owner");
    Bytes buffer(64);
    for (size_t i = 0; i < 64; ++i) buffer[i] = static_cast<uint8_t>(i * 5 + 1);
    Block words;
    for (size_t i = 0; i < 16; ++i) words[i] = load32le(buffer.data() + 4 * i);
    encipherBlock(words.data(), key.data());
    encipherBuffer(buffer.data(), buffer.size(), key);
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(load32le(buffer.data() + 4 * i), words[i]);
}

TEST(CipherBuffer, WholePageRoundTrips) {
    std::mt19937 random(8);
    Bytes page(15104);
    for (uint8_t& byte : page) byte = static_cast<uint8_t>(random());
    // A stretch of zeros as well: equal plain blocks must not stay plain.
    std::fill(page.begin() + 1024, page.begin() + 2048, 0);
    const Bytes original = page;
    CipherKey key = makeCipherKey("owner");

    encipherBuffer(page.data(), page.size(), key);
    for (size_t at = 0; at < page.size(); at += 64) {
        EXPECT_FALSE(std::equal(page.begin() + at, page.begin() + at + 64, original.begin() + at))
            << "block at " << at;
    }
    const Bytes enciphered = page;

    Bytes wrong = enciphered;
    decipherBuffer(wrong.data(), wrong.size(), makeCipherKey("Owner"));
    EXPECT_NE(wrong, original);

    decipherBuffer(page.data(), page.size(), key);
    EXPECT_EQ(page, original);
}

}  // namespace
}  // namespace vellum
