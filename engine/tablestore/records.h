// Record-level services the driver entry uses before the record operations exist in full: the
// record count of the data count record, clearing the record buffer, and the flush after every
// operation.
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

// The flush after an operation on an open table: commits the file and leaves write mode, which
// also ends the access bracket, so that no lock of the file is held between operations. STREAM
// defers it while fewer than 40 pages are dirty and fewer than 5000 operations were deferred;
// an event-driven build defers it always. Returns 0 or the commit's error.
int flushAfterOperation(TableObject& table);

}  // namespace vellum
