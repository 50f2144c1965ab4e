// Record-level services the driver entry uses before the record operations exist in full: the
// record count of the data count record, and clearing the record buffer.
//
// Count record (record type 0xF6, selector 0xF3 for the data records or a key number):
//   data: entry count (4 bytes, little-endian), second value (4 bytes, little-endian)
#pragma once

#include <cstdint>

namespace vellum {

class TableObject;

// The number of records of an open table; 0 or an error code.
int recordCount(TableObject& table, uint32_t* count);

// Clears the record buffer field by field: fill 0 gives blanks and zeros, a positive fill the
// highest values, a negative fill the lowest; memo buffers are filled alike.
void clearRecord(TableObject& table, int32_t fill);

}  // namespace vellum
