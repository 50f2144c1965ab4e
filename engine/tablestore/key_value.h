// Key values and key entries. A key value is formed from a record buffer so that unsigned byte
// comparison of values gives the key's declared order: one piece per component, each exactly as
// long as its field, concatenated without separators.
//
// Key entry:
//   key   4  table number
//   key   1  key number (0 to 239)
//   key   n  key value (the sum of the component sizes)
//   key   4  record number, big-endian           (DUP keys)
//   data  4  record number, big-endian           (all other keys; DUP keys have no data)
//
// Pieces by field type (the record buffer holds numbers little-endian, text in ANSI):
//   USHORT, ULONG, DATE, TIME  the bytes reversed
//   SHORT, LONG                the bytes reversed, then the top bit flipped
//   SREAL, REAL                the bytes reversed; a negative number toggles the inversion
//                              flag, a positive one gets its top bit set
//   DECIMAL                    the bytes; a nonzero sign half-byte (negative) is cleared and
//                              toggles the inversion flag; then the top bit flipped
//   STRING, GROUP              the bytes, then the string steps
//   CSTRING                    the text before the first zero byte, zero-filled, string steps
//   PSTRING                    the used length's bytes after the length byte, zero-filled,
//                              string steps
//   anything else              the bytes unchanged
// String steps: NOCASE keys replace every byte of class 0x01 by its case-map entry; then bytes in
// the expansion list become their two replacement bytes (what no longer fits is dropped); then an
// OEM table converts the piece to OEM through the file layer and weighs it with the OEM weights,
// any other table weighs it with the ANSI weights. The inversion flag starts as the component's
// descending flag; when it is set at the end, every byte of the piece is inverted.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "tablestore/table_definition.h"

namespace vellum {

// The character tables a table's key values are formed with, from its collation record.
struct Collation {
    bool oem = false;  // strings are stored and collated in the OEM character set
    std::array<uint8_t, 256> ansiWeights{};
    std::array<uint8_t, 256> oemWeights{};
    std::array<uint8_t, 256> caseMap{};
    std::array<uint8_t, 256> classes{};
    // Items of 4 bytes: byte value, first and second replacement, an unused byte. The list ends
    // at the first item whose byte value is 0; of two items for one byte value the first counts.
    std::array<uint8_t, 64> expansions{};
    std::array<uint8_t, 64> reserved{};  // carried unchanged
};

// The collation of a collation record; false, leaving out untouched, for a record shorter than
// 1153 bytes (longer records are read up to that size).
bool loadCollation(std::span<const uint8_t> record, Collation* out);
// The platform's built-in tables, with the given OEM flag.
Collation builtInCollation(bool oem);
// The collation record of a collation.
std::vector<uint8_t> collationRecord(const Collation& collation);

// The size of the key's values: the sum of the sizes of its components' fields.
uint32_t keyLength(const KeyDescriptor& key, const TableDefinition& definition);

// Forms the key value of a record buffer into out (replacing its contents). Field bytes that
// lie beyond the end of the buffer read as zero. A component naming no field of the definition
// contributes nothing, here and in keyLength.
void formKeyValue(const KeyDescriptor& key, const TableDefinition& definition,
                  const Collation& collation, std::span<const uint8_t> record,
                  std::vector<uint8_t>* out);

// Whether a record gets no entry in an OPT key: every component blank (STRING and GROUP all
// spaces, CSTRING and PSTRING a first byte 0, any other type all zero bytes). Always false for a
// key without OPT; true for an OPT key without components.
bool isBlankForOpt(const KeyDescriptor& key, const TableDefinition& definition,
                   std::span<const uint8_t> record);

// A record number in its raw form, big-endian.
using RawRecordNumber = std::array<uint8_t, 4>;

// The key and data bytes of a key entry.
struct KeyEntryBytes {
    std::vector<uint8_t> key;
    std::vector<uint8_t> data;
};

// The 5 bytes that begin every entry of a key: table number and key number.
std::vector<uint8_t> keyEntryPrefix(const TableNumber& table, const KeyDescriptor& key);
// The entry of a key value and a record number: the record number ends the key of a DUP key
// and is the data of any other key.
KeyEntryBytes keyEntryBytes(const TableNumber& table, const KeyDescriptor& key,
                            std::span<const uint8_t> value, const RawRecordNumber& recordNumber);
KeyEntryBytes keyEntryBytes(const TableNumber& table, const KeyDescriptor& key,
                            std::span<const uint8_t> value, uint32_t recordNumber);

}  // namespace vellum
