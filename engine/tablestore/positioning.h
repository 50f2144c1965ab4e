// Positioning and sequential access: where the sequence of a table stands (the position state of
// its table object), the SET and RESET operations that place it, the steps of NEXT, PREVIOUS,
// SKIP, EOF and BOF that move along it, and the position strings of POSITIONfile and POSITIONkey
// with REGETkey, which reads by one.
//
// Two orders exist: file order (record numbers) and the order of one key. Searches stay inside
// the table and the entry type of the order: data records (table number, 0xF3), or the entries
// of one key (table number, key number) in the key's entry tree.
//
// Position strings:
//   POSITIONfile  4 bytes  the current record number, big-endian
//   POSITIONkey   4 + n    the current record number, then the key value of the saved image
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellum {

class TableObject;
struct KeyDescriptor;

// What the next read looks for, and where it reads on from.
enum class PositionKind : uint8_t {
    none,                // no SET yet
    fileStart,           // the first or last data record
    filePointer,         // the data record of the entry's number, else the next or previous one
    fileKeyValue,        // the key entry of a value, read in file order
    fileAtRecord,        // the data record after or before the entry's number
    keyStart,            // the first or last entry of the key
    keyValue,            // the key entry of a value
    keyValueAndPointer,  // the key entry of a value and (for DUP keys) a record number
    keyPointer,          // the data record of the entry's number, else the key's last entry
    keyAtEntry,          // the key entry after or before the entry
};

// The position state of a table object.
struct PositionState {
    PositionKind kind = PositionKind::none;
    // The key searched: the key whose order is followed, or the key of a file key value; none in
    // file order otherwise.
    const KeyDescriptor* key = nullptr;
    // The key bytes of the position entry: a data record key whose record number holds the place
    // (file kinds and key pointer), or a key entry's key (other key kinds; a value without a
    // record number for the value kinds).
    std::vector<uint8_t> entry;
};

enum class Direction { forward, backward };

// The SET family. Each reads nothing and never fails; the key ones make the key the current key,
// the file ones leave none. A pointer that is 0 or negative as a signed number selects the start.
void setFile(TableObject& table);
void setFileByValue(TableObject& table, const KeyDescriptor& key);             // SETfilekey
void setFilePointer(TableObject& table, uint32_t pointer);                     // SETfileptr
void setKey(TableObject& table, KeyDescriptor& key);                           // SETkey
void setKeyByValue(TableObject& table, KeyDescriptor& key);                    // SETkeykey
void setKeyPointer(TableObject& table, KeyDescriptor& key, uint32_t pointer);  // SETkeyptr
// SETkeykeyptr.
void setKeyValueAndPointer(TableObject& table, KeyDescriptor& key, uint32_t pointer);

// RESETfile and RESETkey take a position string back; 35 for a string too short to be one.
int resetFile(TableObject& table, const std::string& position);
int resetKey(TableObject& table, KeyDescriptor& key, const std::string& position);

// NEXT and PREVIOUS: read the next record of the order, passing over key entries whose record
// is missing; 33 at the end. Retried while the record is held elsewhere (HOLD).
int readSequential(TableObject& table, Direction direction);
// SKIP: moves count places (negative: backward) without reading, stopping at the end.
void skipRecords(TableObject& table, int32_t count);
// EOF (forward) and BOF (backward): whether no entry follows or precedes the position.
bool atEnd(TableObject& table, Direction direction);

// The position strings of the current record.
std::string filePosition(const TableObject& table);
std::string keyPosition(const TableObject& table, const KeyDescriptor& key);
// In the current key, else in file order.
std::string currentPosition(const TableObject& table);

// REGETkey: reads the record whose key entry matches a POSITIONkey string exactly; 35 without.
int regetByKey(TableObject& table, const KeyDescriptor& key, const std::string& position);

}  // namespace vellum
