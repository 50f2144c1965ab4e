// The collation record of a table (record type 0xFB, key byte 0x01): the character tables its
// key values were formed with and whether it stores strings in the OEM character set.
//
//   1    OEM flag
//   256  ANSI weights        256  OEM weights
//   256  case map (NOCASE)   256  character classes (0x01 marks what NOCASE replaces)
//   64   expansion list (4-byte items, ended by a zero byte value)
//   64   reserved
#pragma once

#include <cstdint>
#include <vector>

namespace vellum {

constexpr unsigned kCollationRecordSize = 1153;

// Offsets of the parts of the record.
constexpr unsigned kCollationOemFlag = 0;
constexpr unsigned kCollationAnsiWeights = 1;
constexpr unsigned kCollationOemWeights = 257;
constexpr unsigned kCollationCaseMap = 513;
constexpr unsigned kCollationClasses = 769;
constexpr unsigned kCollationExpansions = 1025;
constexpr unsigned kCollationReserved = 1089;
constexpr unsigned kCollationExpansionItems = 16;  // 4 bytes each

// The record for the built-in tables: identity weights, a case map exchanging A-Z and a-z,
// classes 0x01 for A-Z, 0x02 for a-z and 0x04 for 0-9, no expansions.
std::vector<uint8_t> builtInCollationRecord(bool oem);

}  // namespace vellum
