// Memo chunks: the content of every MEMO and BLOB of a record, cut into entries that follow the
// record's number, and the steps of the record operations that write, read, rewrite, compare
// and delete them.
//
// Memo chunk entry:
//   key   4  table number
//   key   1  0xFC
//   key   4  record number, big-endian
//   key   1  memo number: the memo's position in the declaration, from 0
//   key   2  chunk sequence number, from 0, big-endian
//   data  n  MEMO: 1 to 256 bytes; BLOB: 1 to 10240 bytes, the first chunk preceded by the
//            BLOB's total length (4 bytes, little-endian)
//
// A MEMO is stored without its trailing spaces and an empty BLOB not at all, so neither has
// chunks then. An OEM table stores the content of its memos that are not BINARY in the OEM
// character set; the length of a BLOB is never converted.
#pragma once

#include <cstdint>

namespace vellum {

class TableObject;

constexpr uint8_t kRecordTypeMemo = 0xFC;

// ADD and APPEND: writes the chunks of every memo of the new record.
void writeMemos(TableObject& table, uint32_t number);
// Every fetch: fills every MEMO buffer and BLOB content from the record's chunks; under the
// watched bit the stored bytes of each MEMO also go to its comparison buffer.
void readMemos(TableObject& table, uint32_t number);
// Gives every MEMO a comparison buffer of its declared size, filled with spaces.
void prepareComparison(TableObject& table);
// PUT: makes the stored chunks equal to the current content; chunks that did not change are
// left as they are.
void rewriteMemos(TableObject& table, uint32_t number);
// PUT under WATCH: whether a stored MEMO chunk differs from the comparison buffer at its place.
bool memosChanged(TableObject& table, uint32_t number);
// DELETE: removes every chunk of the record.
void deleteMemos(TableObject& table, uint32_t number);

}  // namespace vellum
