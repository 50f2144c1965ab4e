// The block cipher of enciphered files. Every byte the page store reads or writes is enciphered
// in blocks of 64 bytes at offsets that are multiples of 64, each block taken as sixteen
// little-endian 32-bit words. The key, sixteen words made from the owner string, is never
// stored in the file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vellum {

using CipherKey = std::array<uint32_t, 16>;

// The 64 key bytes from a non-empty owner string before the two mixing passes: with t the owner
// followed by its terminating zero, byte (17 * i) mod 64 is (t[(i + 1) mod (n + 1)] + i) mod 256.
std::array<uint8_t, 64> ownerKeyBytes(std::string_view owner);

// The cipher key of a non-empty owner string: the key bytes as words, enciphered twice with
// themselves as key.
CipherKey makeCipherKey(std::string_view owner);

// One block of sixteen words; block and key may be the same array.
void encipherBlock(uint32_t* block, const uint32_t* key);
void decipherBlock(uint32_t* block, const uint32_t* key);

// Every 64-byte block of a buffer whose length is a multiple of 64.
void encipherBuffer(uint8_t* buffer, size_t length, const CipherKey& key);
void decipherBuffer(uint8_t* buffer, size_t length, const CipherKey& key);

}  // namespace vellum
