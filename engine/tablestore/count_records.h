// Count records: one per table for its data records and one per key, each holding an entry
// count and a second value (the table's FLAGS word for the data records, the rebuild point for a
// key).
//
//   key   4  table number
//   key   1  0xF6
//   key   1  selector: 0xF3 for the data records, else the key number
//   data  4  entry count, unsigned, little-endian
//   data  4  second value, unsigned, little-endian
#pragma once

#include <cstdint>
#include <vector>

#include "tablestore/table_definition.h"

namespace vellum {

class PageFile;
class TableObject;

std::vector<uint8_t> countRecordKey(const TableNumber& table, uint8_t selector);

struct CountValues {
    uint32_t count = 0;
    uint32_t second = 0;
};

// The values of a count record of tree; false when the record is missing or too short.
bool readCounts(PageFile& tree, const TableNumber& table, uint8_t selector, CountValues* out);
// The same for the count records of a table in its file, through the table's count cursors,
// and adding delta to an entry count (false when the record is missing; nothing changes then).
bool readCounts(TableObject& table, uint8_t selector, CountValues* out);
bool changeEntryCount(TableObject& table, uint8_t selector, int64_t delta);
// Stores both values, inserting the record when it is missing.
void writeCounts(PageFile& tree, const TableNumber& table, uint8_t selector,
                 const CountValues& values);
// Stores the second value, inserting a fresh record (count 0) when it is missing.
void setSecondValue(PageFile& tree, const TableNumber& table, uint8_t selector, uint32_t value);

}  // namespace vellum
