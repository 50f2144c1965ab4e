// Data records: one entry per row, keyed by table number, 0xF3 and the record number.
//
// Data record entry:
//   key   4  table number
//   key   1  0xF3
//   key   4  record number, big-endian
//   data  n  the record image (record length bytes); an OEM table stores its STRING, CSTRING
//            and PSTRING fields in the OEM character set
//
// The record operations of a table object: adding, changing, deleting and reading records by
// record number, the one-shot read modifiers HOLD, WATCH and NOMEMO, the record count, and the
// flush after every operation.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "tablestore/table_definition.h"

namespace vellum {

class TableObject;
class PageFile;
struct Entry;

std::vector<uint8_t> dataRecordKey(const TableNumber& table, uint32_t number);
// The record number an entry of a table carries: the last 4 key bytes of a data record or a DUP
// key entry, the data of any other key entry.
uint32_t recordNumberOf(const Entry& entry);

// Converts the string fields of a record image in place: ANSI to OEM (toOem) or back. Only OEM
// tables convert; fields over other fields are left alone.
void convertStrings(const TableObject& table, std::span<uint8_t> image, bool toOem);
// Copies a stored record image into out (out's size, zeros beyond what is stored), converted to
// ANSI.
void loadImage(const TableObject& table, const Entry& stored, std::vector<uint8_t>* out);

// Reads the record an entry names into the record buffer (the entry may be a data record or a
// key entry; none gives 35). One attempt: under HOLD a record locked elsewhere gives 43 with
// the modifiers still armed.
int fetchRecord(TableObject& table, const Entry* entry);
// Runs a read again while it gives 43 and the hold window is open: without end under HOLDfile,
// for the time-out of HOLDfilesec. A closed window gives 43 and disarms the modifiers.
int readWithRetry(TableObject& table, const std::function<int()>& attempt);
// Disarms HOLD, WATCH and NOMEMO.
void disarmModifiers(TableObject& table);

int addRecord(TableObject& table, bool append);
int putRecord(TableObject& table);
int putRecordAt(TableObject& table, uint32_t number);
int deleteRecord(TableObject& table);
// GETfileptr and GETkeyptr.
int getRecord(TableObject& table, uint32_t number);
// REGETfile: the position is the raw (big-endian) record number.
int regetRecord(TableObject& table, const std::string& position);
// Releases the record this table object holds.
void releaseRecord(TableObject& table);
void armHold(TableObject& table, int32_t seconds);  // -1: no time-out

// The number of records of an open table; 0 or an error code.
int recordCount(TableObject& table, uint32_t* count);
// The size of the table's file; 37 when the table is not open.
int fileBytes(TableObject& table, uint32_t* size);

// Clears the record buffer field by field: fill 0 gives blanks and zeros, a positive fill the
// highest values, a negative fill the lowest; memo buffers are filled alike, and a fill of 0
// empties every BLOB.
void clearRecord(TableObject& table, int32_t fill);

// The flush after an operation on an open table: commits the file and leaves write mode, which
// also ends the access bracket, so that no lock of the file is held between operations. STREAM
// defers it while fewer than 40 pages are dirty and fewer than 5000 operations were deferred;
// an event-driven build defers it always. Returns 0 or the commit's error.
int flushAfterOperation(TableObject& table);

}  // namespace vellum
