// Key values formed from record buffers, the OPT blank test, and the layout of key entries.
#include "tablestore/key_value.h"

#include <algorithm>
#include <cstring>

#include "tablestore/collation.h"
#include "vellum/byte_order.h"
#include "vellum/character_tables.h"
#include "vellum/control_blocks.h"
#include "vellum/file_layer_services.h"

namespace vellum {

namespace {

template <size_t N>
void copyFrom(std::span<const uint8_t> record, unsigned offset, std::array<uint8_t, N>* table) {
    std::copy_n(record.begin() + offset, N, table->begin());
}

template <size_t N>
void copyTo(const std::array<uint8_t, N>& table, unsigned offset, std::vector<uint8_t>* record) {
    std::copy(table.begin(), table.end(), record->begin() + offset);
}

const FieldDescriptor* componentField(const KeyComponent& component,
                                      const TableDefinition& definition) {
    return component.field < definition.fields.size() ? &definition.fields[component.field]
                                                       : nullptr;
}

// The field's bytes of the record; those beyond its end are zero.
void copyField(std::span<const uint8_t> record, const FieldDescriptor& field, uint8_t* piece) {
    std::memset(piece, 0, field.size);
    if (field.offset >= record.size()) return;
    size_t available = std::min<size_t>(field.size, record.size() - field.offset);
    std::memcpy(piece, record.data() + field.offset, available);
}

// The expansion item of a byte, or none.
const uint8_t* expansionOf(const Collation& collation, uint8_t byte) {
    for (unsigned at = 0; at < collation.expansions.size(); at += 4) {
        const uint8_t* item = collation.expansions.data() + at;
        if (item[0] == 0) break;
        if (item[0] == byte) return item;
    }
    return nullptr;
}

// Replaces each byte of the expansion list by its two replacement bytes; the piece keeps its
// size, so the bytes pushed past its end are dropped.
void expand(uint8_t* piece, uint32_t size, const Collation& collation) {
    std::vector<uint8_t> source(piece, piece + size);
    uint32_t at = 0;
    for (uint8_t byte : source) {
        if (at == size) break;
        if (const uint8_t* item = expansionOf(collation, byte)) {
            piece[at++] = item[1];
            if (at < size) piece[at++] = item[2];
        } else {
            piece[at++] = byte;
        }
    }
}

void stringSteps(uint8_t* piece, uint32_t size, bool noCase, const Collation& collation) {
    if (noCase) {
        for (uint32_t i = 0; i < size; ++i) {
            if (collation.classes[piece[i]] & kClassUpper) piece[i] = collation.caseMap[piece[i]];
        }
    }
    if (collation.expansions[0] != 0) expand(piece, size, collation);
    const std::array<uint8_t, 256>* weights = &collation.ansiWeights;
    if (collation.oem) {
        fileLayer().ansiToOem(std::span<uint8_t>(piece, size));
        weights = &collation.oemWeights;
    }
    for (uint32_t i = 0; i < size; ++i) piece[i] = (*weights)[piece[i]];
}

// Forms the piece of one component into piece (field.size bytes).
void formPiece(const FieldDescriptor& field, bool descending, bool noCase,
               const Collation& collation, std::span<const uint8_t> record, uint8_t* piece) {
    const uint32_t size = field.size;
    copyField(record, field, piece);
    if (size == 0) return;
    bool invert = descending;
    switch (field.type) {
    case kUShort:
    case kULong:
    case kDate:
    case kTime:
        std::reverse(piece, piece + size);
        break;
    case kShort:
    case kLong:
        std::reverse(piece, piece + size);
        piece[0] ^= 0x80;
        break;
    case kSReal:
    case kReal:
        // Sign and magnitude: a negative number's bytes are inverted, so that a larger magnitude
        // sorts lower; a positive number sorts above every negative one. -0.0 thus sorts just
        // below 0.0, and NaNs beyond the infinities of their sign.
        std::reverse(piece, piece + size);
        if (piece[0] & 0x80) {
            invert = !invert;
        } else {
            piece[0] |= 0x80;
        }
        break;
    case kDecimal:
        // Packed decimal: the high half of the first byte is the sign, the rest are digits. A
        // signed zero sorts just below zero.
        if (piece[0] & 0xF0) {
            piece[0] &= 0x0F;
            invert = !invert;
        }
        piece[0] ^= 0x80;
        break;
    case kString:
    case kGroup:
        stringSteps(piece, size, noCase, collation);
        break;
    case kCString: {
        uint8_t* end = std::find(piece, piece + size, uint8_t{0});
        std::fill(end, piece + size, uint8_t{0});
        stringSteps(piece, size, noCase, collation);
        break;
    }
    case kPString: {
        // A used length beyond the field's storage takes what the field holds.
        uint32_t used = std::min<uint32_t>(piece[0], size - 1);
        std::memmove(piece, piece + 1, used);
        std::fill(piece + used, piece + size, uint8_t{0});
        stringSteps(piece, size, noCase, collation);
        break;
    }
    default:
        break;
    }
    if (invert) {
        for (uint32_t i = 0; i < size; ++i) piece[i] = static_cast<uint8_t>(~piece[i]);
    }
}

bool isBlankComponent(const FieldDescriptor& field, std::span<const uint8_t> record) {
    std::vector<uint8_t> bytes(field.size);
    copyField(record, field, bytes.data());
    switch (field.type) {
    case kString:
    case kGroup:
        return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0x20; });
    case kCString:
    case kPString:
        return bytes.empty() || bytes[0] == 0;
    default:
        return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
    }
}

}  // namespace

bool loadCollation(std::span<const uint8_t> record, Collation* out) {
    if (record.size() < kCollationRecordSize) return false;
    out->oem = record[kCollationOemFlag] != 0;
    copyFrom(record, kCollationAnsiWeights, &out->ansiWeights);
    copyFrom(record, kCollationOemWeights, &out->oemWeights);
    copyFrom(record, kCollationCaseMap, &out->caseMap);
    copyFrom(record, kCollationClasses, &out->classes);
    copyFrom(record, kCollationExpansions, &out->expansions);
    copyFrom(record, kCollationReserved, &out->reserved);
    return true;
}

Collation builtInCollation(bool oem) {
    Collation collation;
    loadCollation(builtInCollationRecord(oem), &collation);
    return collation;
}

std::vector<uint8_t> collationRecord(const Collation& collation) {
    std::vector<uint8_t> record(kCollationRecordSize, 0);
    record[kCollationOemFlag] = collation.oem ? 1 : 0;
    copyTo(collation.ansiWeights, kCollationAnsiWeights, &record);
    copyTo(collation.oemWeights, kCollationOemWeights, &record);
    copyTo(collation.caseMap, kCollationCaseMap, &record);
    copyTo(collation.classes, kCollationClasses, &record);
    copyTo(collation.expansions, kCollationExpansions, &record);
    copyTo(collation.reserved, kCollationReserved, &record);
    return record;
}

uint32_t keyLength(const KeyDescriptor& key, const TableDefinition& definition) {
    uint32_t length = 0;
    for (const KeyComponent& component : key.components) {
        if (const FieldDescriptor* field = componentField(component, definition)) {
            length += field->size;
        }
    }
    return length;
}

void formKeyValue(const KeyDescriptor& key, const TableDefinition& definition,
                  const Collation& collation, std::span<const uint8_t> record,
                  std::vector<uint8_t>* out) {
    out->assign(keyLength(key, definition), 0);
    bool noCase = (key.attributes & kKeyDescriptorNoCase) != 0;
    uint8_t* piece = out->data();
    for (const KeyComponent& component : key.components) {
        const FieldDescriptor* field = componentField(component, definition);
        if (field == nullptr) continue;
        formPiece(*field, component.descending, noCase, collation, record, piece);
        piece += field->size;
    }
}

bool isBlankForOpt(const KeyDescriptor& key, const TableDefinition& definition,
                   std::span<const uint8_t> record) {
    if ((key.attributes & kKeyDescriptorOpt) == 0) return false;
    return std::all_of(key.components.begin(), key.components.end(),
                       [&](const KeyComponent& component) {
                           const FieldDescriptor* field = componentField(component, definition);
                           return field == nullptr || isBlankComponent(*field, record);
                       });
}

std::vector<uint8_t> keyEntryPrefix(const TableNumber& table, const KeyDescriptor& key) {
    return {table[0], table[1], table[2], table[3], static_cast<uint8_t>(key.number)};
}

KeyEntryBytes keyEntryBytes(const TableNumber& table, const KeyDescriptor& key,
                            std::span<const uint8_t> value, const RawRecordNumber& recordNumber) {
    KeyEntryBytes entry;
    entry.key = keyEntryPrefix(table, key);
    entry.key.insert(entry.key.end(), value.begin(), value.end());
    if (key.attributes & kKeyDescriptorDup) {
        entry.key.insert(entry.key.end(), recordNumber.begin(), recordNumber.end());
    } else {
        entry.data.assign(recordNumber.begin(), recordNumber.end());
    }
    return entry;
}

KeyEntryBytes keyEntryBytes(const TableNumber& table, const KeyDescriptor& key,
                            std::span<const uint8_t> value, uint32_t recordNumber) {
    RawRecordNumber raw;
    store32be(raw.data(), recordNumber);
    return keyEntryBytes(table, key, value, raw);
}

}  // namespace vellum
