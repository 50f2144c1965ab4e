// The platform's character sets: ANSI is Windows-1252 and OEM is code page 437. Conversions
// between them work byte for byte and in place; a character that has no counterpart in the
// target set becomes the substitute byte '?' (0x3F, the same in both sets). Bytes 0x00 to 0x7F
// are the same in both sets. ANSI text is turned into UTF-8 for display and back for input.
// The process's current character tables (weights, case map, classes) are the built-in ones.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "vellum/character_tables.h"

namespace vellum {

constexpr uint8_t kCharsetSubstitute = 0x3F;  // '?'

// One byte converted; the substitute when the character has no counterpart.
uint8_t ansiToOemByte(uint8_t ansi);
uint8_t oemToAnsiByte(uint8_t oem);

// Whether a byte's character exists in the other set. The conversions are inverse to each other
// on exactly these bytes (182 in each set).
bool ansiHasOemCounterpart(uint8_t ansi);
bool oemHasAnsiCounterpart(uint8_t oem);

// In-place conversions of a byte span.
void convertAnsiToOem(std::span<uint8_t> bytes);
void convertOemToAnsi(std::span<uint8_t> bytes);

// ANSI text as UTF-8. Every byte has a character: the five bytes Windows-1252 leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 control characters of the same value.
std::string ansiToUtf8(std::string_view ansi);
// UTF-8 text as ANSI: characters outside Windows-1252 and bytes that are not well-formed UTF-8
// (each such byte) become the substitute. The inverse of ansiToUtf8.
std::string utf8ToAnsi(std::string_view utf8);

// The process's current character tables.
const CharacterTables& currentCharacterTables();

}  // namespace vellum
