// The block cipher of enciphered files: key derivation from the owner string and the
// enciphering and deciphering of 64-byte blocks.
#include "pagestore/cipher.h"

#include "vellum/byte_order.h"

namespace vellum {

namespace {

constexpr size_t kBlockSize = 64;
constexpr size_t kBlockWords = 16;

template <typename Step>
void forEachBlock(uint8_t* buffer, size_t length, Step step) {
    uint32_t words[kBlockWords];
    for (size_t at = 0; at + kBlockSize <= length; at += kBlockSize) {
        for (size_t i = 0; i < kBlockWords; ++i) words[i] = load32le(buffer + at + 4 * i);
        step(words);
        for (size_t i = 0; i < kBlockWords; ++i) store32le(buffer + at + 4 * i, words[i]);
    }
}

}  // namespace

std::array<uint8_t, 64> ownerKeyBytes(std::string_view owner) {
    // The owner followed by its terminating zero, indexed cyclically.
    size_t cycle = owner.size() + 1;
    std::array<uint8_t, 64> bytes{};
    for (size_t i = 0; i < 64; ++i) {
        size_t at = (i + 1) % cycle;
        uint8_t c = at < owner.size() ? static_cast<uint8_t>(owner[at]) : 0;
        bytes[(17 * i) % 64] = static_cast<uint8_t>(c + i);
    }
    return bytes;
}

CipherKey makeCipherKey(std::string_view owner) {
    std::array<uint8_t, 64> bytes = ownerKeyBytes(owner);
    CipherKey key{};
    for (size_t i = 0; i < kBlockWords; ++i) key[i] = load32le(bytes.data() + 4 * i);
    // Each pass enciphers the key with itself: step i reads key word i as the earlier steps of
    // the same pass left it.
    encipherBlock(key.data(), key.data());
    encipherBlock(key.data(), key.data());
    return key;
}

// Step i swaps the bits of words i and k mod 16 where k, the key word, has 0 bits, then adds k
// to both. Both words are read before either is written, so i == j works as well.
void encipherBlock(uint32_t* block, const uint32_t* key) {
    for (size_t i = 0; i < kBlockWords; ++i) {
        uint32_t k = key[i];
        size_t j = k % kBlockWords;
        uint32_t x = block[i];
        uint32_t y = block[j];
        block[j] = ((y & k) | (x & ~k)) + k;
        block[i] = ((x & k) | (y & ~k)) + k;
    }
}

// The steps of encipherBlock undone in reverse order.
void decipherBlock(uint32_t* block, const uint32_t* key) {
    for (size_t n = kBlockWords; n-- > 0;) {
        uint32_t k = key[n];
        size_t j = k % kBlockWords;
        uint32_t x = block[n] - k;
        uint32_t y = block[j] - k;
        block[n] = (x & k) | (y & ~k);
        block[j] = (y & k) | (x & ~k);
    }
}

void encipherBuffer(uint8_t* buffer, size_t length, const CipherKey& key) {
    forEachBlock(buffer, length, [&](uint32_t* words) { encipherBlock(words, key.data()); });
}

void decipherBuffer(uint8_t* buffer, size_t length, const CipherKey& key) {
    forEachBlock(buffer, length, [&](uint32_t* words) { decipherBlock(words, key.data()); });
}

}  // namespace vellum
