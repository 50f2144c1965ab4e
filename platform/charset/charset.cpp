// Windows-1252 <-> code page 437 by two 256-entry tables, derived from the Unicode mappings of
// both code pages: an entry is the byte of the same character in the other set, or -1 when that
// set has no such character (such bytes convert to the substitute '?'). Windows-1252 <-> UTF-8
// by the code points of its bytes: 0x00-0x7F and 0xA0-0xFF are the code points of the same
// value, 0x80-0x9F come from a 32-entry table.
#include "charset/charset.h"

#include <array>

namespace vellum {

namespace {

// kAnsiToOem: 182 bytes with a counterpart; -1 for none.
constexpr std::array<int16_t, 256> kAnsiToOem = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,  // 00
    0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,  // 08
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,  // 10
    0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,  // 18
    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27,  // 20
    0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,  // 28
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37,  // 30
    0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,  // 38
    0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47,  // 40
    0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,  // 48
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57,  // 50
    0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,  // 58
    0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67,  // 60
    0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,  // 68
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77,  // 70
    0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F,  // 78
      -1,   -1,   -1, 0x9F,   -1,   -1,   -1,   -1,  // 80
      -1,   -1,   -1,   -1,   -1,   -1,   -1,   -1,  // 88
      -1,   -1,   -1,   -1,   -1,   -1,   -1,   -1,  // 90
      -1,   -1,   -1,   -1,   -1,   -1,   -1,   -1,  // 98
    0xFF, 0xAD, 0x9B, 0x9C,   -1, 0x9D,   -1,   -1,  // A0
      -1,   -1, 0xA6, 0xAE, 0xAA,   -1,   -1,   -1,  // A8
    0xF8, 0xF1, 0xFD,   -1,   -1, 0xE6,   -1, 0xFA,  // B0
      -1,   -1, 0xA7, 0xAF, 0xAC, 0xAB,   -1, 0xA8,  // B8
      -1,   -1,   -1,   -1, 0x8E, 0x8F, 0x92, 0x80,  // C0
      -1, 0x90,   -1,   -1,   -1,   -1,   -1,   -1,  // C8
      -1, 0xA5,   -1,   -1,   -1,   -1, 0x99,   -1,  // D0
      -1,   -1,   -1,   -1, 0x9A,   -1,   -1, 0xE1,  // D8
    0x85, 0xA0, 0x83,   -1, 0x84, 0x86, 0x91, 0x87,  // E0
    0x8A, 0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,  // E8
      -1, 0xA4, 0x95, 0xA2, 0x93,   -1, 0x94, 0xF6,  // F0
      -1, 0x97, 0xA3, 0x96, 0x81,   -1,   -1, 0x98,  // F8
};

// kOemToAnsi: the inverse of kAnsiToOem, so the two conversions undo each other exactly.
constexpr std::array<int16_t, 256> inverseOf(const std::array<int16_t, 256>& table) {
    std::array<int16_t, 256> inverse{};
    inverse.fill(-1);
    for (int16_t byte = 0; byte < 256; ++byte) {
        if (table[static_cast<size_t>(byte)] >= 0) {
            inverse[static_cast<size_t>(table[static_cast<size_t>(byte)])] = byte;
        }
    }
    return inverse;
}
constexpr std::array<int16_t, 256> kOemToAnsi = inverseOf(kAnsiToOem);

// Unicode code points of Windows-1252 bytes 0x80 to 0x9F; the five bytes the code page
// leaves undefined stand for the C1 control characters of the same value.
constexpr std::array<uint16_t, 32> kAnsiHighCodePoints = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

uint8_t converted(const std::array<int16_t, 256>& table, uint8_t byte) {
    int16_t value = table[byte];
    return value < 0 ? kCharsetSubstitute : static_cast<uint8_t>(value);
}

// Appends a code point below U+10000 (all that Windows-1252 has) in UTF-8.
void appendUtf8(std::string& out, uint32_t codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

uint8_t ansiOfCodePoint(uint32_t codePoint) {
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
        return static_cast<uint8_t>(codePoint);
    }
    for (unsigned i = 0; i < kAnsiHighCodePoints.size(); ++i) {
        if (kAnsiHighCodePoints[i] == codePoint) return static_cast<uint8_t>(0x80 + i);
    }
    return kCharsetSubstitute;
}

// The code point of the well-formed UTF-8 sequence at text[at], and its length; length 0 when
// the bytes there are not one (a stray continuation byte, a cut or overlong sequence, a
// surrogate, a value above U+10FFFF).
uint32_t decodeUtf8(std::string_view text, size_t at, size_t* length) {
    *length = 0;
    auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    uint8_t lead = byte(at);
    if (lead < 0x80) {
        *length = 1;
        return lead;
    }
    size_t count = 4;
    uint32_t codePoint = lead & 0x07;
    uint32_t lowest = 0x10000;
    if ((lead & 0xE0) == 0xC0) {
        count = 2;
        codePoint = lead & 0x1F;
        lowest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        count = 3;
        codePoint = lead & 0x0F;
        lowest = 0x800;
    } else if ((lead & 0xF8) != 0xF0) {
        return 0;
    }
    if (text.size() - at < count) return 0;
    for (size_t i = 1; i < count; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        codePoint = (codePoint << 6) | (byte(at + i) & 0x3F);
    }
    if (codePoint < lowest || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return 0;
    }
    *length = count;
    return codePoint;
}

}  // namespace

uint8_t ansiToOemByte(uint8_t ansi) { return converted(kAnsiToOem, ansi); }
uint8_t oemToAnsiByte(uint8_t oem) { return converted(kOemToAnsi, oem); }
bool ansiHasOemCounterpart(uint8_t ansi) { return kAnsiToOem[ansi] >= 0; }
bool oemHasAnsiCounterpart(uint8_t oem) { return kOemToAnsi[oem] >= 0; }

void convertAnsiToOem(std::span<uint8_t> bytes) {
    for (uint8_t& byte : bytes) byte = converted(kAnsiToOem, byte);
}

void convertOemToAnsi(std::span<uint8_t> bytes) {
    for (uint8_t& byte : bytes) byte = converted(kOemToAnsi, byte);
}

std::string ansiToUtf8(std::string_view ansi) {
    std::string out;
    out.reserve(ansi.size());
    for (char c : ansi) {
        auto byte = static_cast<uint8_t>(c);
        appendUtf8(out, byte >= 0x80 && byte < 0xA0 ? kAnsiHighCodePoints[byte - 0x80] : byte);
    }
    return out;
}

std::string utf8ToAnsi(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t at = 0; at < utf8.size();) {
        size_t length = 0;
        uint32_t codePoint = decodeUtf8(utf8, at, &length);
        if (length == 0) {
            out.push_back(static_cast<char>(kCharsetSubstitute));
            ++at;
        } else {
            out.push_back(static_cast<char>(ansiOfCodePoint(codePoint)));
            at += length;
        }
    }
    return out;
}

const CharacterTables& currentCharacterTables() { return kBuiltInCharacterTables; }

}  // namespace vellum
