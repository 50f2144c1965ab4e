// The built-in character tables of the platform: sort weights, the case map that NOCASE keys
// apply and the character classes. The engine puts them into the collation record of a new
// table and the platform's character-set services offer them as the process's current tables;
// both take them from here so that there is one copy.
//
//   weights   identity: byte value c weighs c
//   caseMap   'A'-'Z' <-> 'a'-'z', every other byte maps to itself
//   classes   0x01 for 'A'-'Z' (the bytes NOCASE replaces), 0x02 for 'a'-'z', 0x04 for '0'-'9'
#pragma once

#include <array>
#include <cstdint>

namespace vellum {

enum CharacterClass : uint8_t {
    kClassUpper = 0x01,  // replaced by its case-map entry under NOCASE
    kClassLower = 0x02,
    kClassDigit = 0x04,
};

struct CharacterTables {
    std::array<uint8_t, 256> weights{};
    std::array<uint8_t, 256> caseMap{};
    std::array<uint8_t, 256> classes{};
};

constexpr CharacterTables makeBuiltInCharacterTables() {
    CharacterTables tables;
    for (unsigned c = 0; c < 256; ++c) {
        tables.weights[c] = tables.caseMap[c] = static_cast<uint8_t>(c);
        if (c >= 'A' && c <= 'Z') {
            tables.caseMap[c] = static_cast<uint8_t>(c - 'A' + 'a');
            tables.classes[c] = kClassUpper;
        } else if (c >= 'a' && c <= 'z') {
            tables.caseMap[c] = static_cast<uint8_t>(c - 'a' + 'A');
            tables.classes[c] = kClassLower;
        } else if (c >= '0' && c <= '9') {
            tables.classes[c] = kClassDigit;
        }
    }
    return tables;
}

inline constexpr CharacterTables kBuiltInCharacterTables = makeBuiltInCharacterTables();

}  // namespace vellum
