// Key entries kept up to date with the records, and the reads and tests by key value: GETfilekey,
// DUPLICATEkey, DUPLICATE and RECORDSkey. The layout of key entries is in key_value.h; the count
// record of a key (count_records.h) holds its entry count and its rebuild point, the lowest record
// number from which its entries may be missing or stale (0 when the key is complete).
#pragma once

#include <cstddef>
#include <cstdint>

#include "tablestore/table_definition.h"

namespace vellum {

class TableObject;

// Updates the key entries of keys 0 to keyCount - 1 for the record r going from oldImage to
// newImage (either may be none). A KEY gets its entries changed and its count adjusted; an INDEX,
// and every key in append mode, only has its rebuild point lowered to r. Dynamic indexes are
// left alone. Returns 0, or 40 when a unique key would get a second entry for a value: the keys
// before it are then put back as they were.
int maintainKeys(TableObject& table, const uint8_t* newImage, const uint8_t* oldImage, uint32_t r,
                 bool append, size_t keyCount);

// The rebuild point of a key (0 also when its count record is missing).
uint32_t rebuildPoint(TableObject& table, const KeyDescriptor& key);

// GETfilekey: reads the first record whose key value equals the record buffer's.
int getByKey(TableObject& table, const KeyDescriptor& key);
// DUPLICATEkey: sets *out to 1 when the record buffer would give the key a second entry, to 0
// when not; a DUP key, and a buffer blank for an OPT key, leave *out as it is.
void duplicateKey(TableObject& table, const KeyDescriptor& key, bool excludeCurrent, int32_t* out);
// DUPLICATE: the same over every key, stopping at the first duplicate.
int32_t duplicateAny(TableObject& table, bool excludeCurrent);
// RECORDSkey: the entry count of a key.
uint32_t keyEntryCount(TableObject& table, const KeyDescriptor& key);

}  // namespace vellum
