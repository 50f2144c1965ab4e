// The definition of a table: field, memo and key descriptors built from the application's
// declaration, and the stored copy of them, the definition stream, kept in definition blocks of
// the table (record type 0xFA).
//
// Definition stream (numbers little-endian 16-bit; a text is its characters and a zero byte, an
// empty text 00 00, an absent text 00 01):
//   version (1, or 2 with a BLOB), record length, field count, memo count, key count
//   per field:  type (byte), offset, name, element count, size, over flag, index,
//               DECIMAL/PDECIMAL: places (byte), element byte size (byte);
//               STRING/CSTRING/PSTRING: element length, picture
//   per memo:   external name, label, size, flags
//   per key:    external name, label, attributes (byte), component count,
//               per component: field index (from 0), descending flag
// The stream is cut into blocks of 512 bytes, numbered from 0; the last holds the rest.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vellum/control_blocks.h"

namespace vellum {

class PageFile;
class TableObject;

using TableNumber = std::array<uint8_t, 4>;  // big-endian, as in entry keys

constexpr uint8_t kRecordTypeDefinition = 0xFA;
constexpr unsigned kDefinitionBlockSize = 512;
constexpr unsigned kMaxKeys = 240;
constexpr unsigned kMaxMemos = 255;
constexpr uint32_t kMaxMemoSize = 64000;
constexpr uint32_t kMaxStoredSize = 15000;
constexpr uint32_t kMaxKeyLength = 7526;

struct FieldDescriptor {
    uint8_t type = 0;
    uint32_t offset = 0;
    std::optional<std::string> name;  // the external name when declared, else the label
    std::optional<std::string> label;
    std::optional<std::string> externalName;
    bool nameIsLabel = false;
    uint32_t memberCount = 0;   // GROUP
    uint32_t elementCount = 1;  // product of the dimensions
    uint32_t size = 0;          // element size times element count
    bool over = false;          // shares storage with an earlier field
    uint32_t overTarget = 0;    // number (from 1) of the field it lies over, 0 for none
    uint32_t index = 0;         // position in the list, from 0
    uint8_t places = 0;          // DECIMAL, PDECIMAL
    uint8_t elementByteSize = 0; // DECIMAL, PDECIMAL
    uint32_t elementLength = 0;  // STRING, CSTRING, PSTRING
    std::optional<std::string> picture;
};

struct MemoDescriptor {
    std::optional<std::string> externalName;
    std::optional<std::string> label;
    uint32_t size = 0;
    uint8_t flags = 0;  // kMemoBinary, kMemoBlob
    std::vector<uint8_t> buffer;  // working buffer of the declared size, filled with spaces
    // MEMO: the stored bytes of the current record as read under WATCH, compared at PUT.
    std::vector<uint8_t> comparison;
    // BLOB: the content, exactly the current size, and the Touched mark.
    std::vector<uint8_t> content;
    bool touched = false;
};

// Attribute byte of a key descriptor.
enum KeyDescriptorAttribute : uint8_t {
    kKeyDescriptorDup = 0x01,
    kKeyDescriptorOpt = 0x02,
    kKeyDescriptorNoCase = 0x04,
    kKeyDescriptorCarried = 0x08,
    kKeyDescriptorPrimary = 0x10,
    kKeyDescriptorIndex = 0x20,
    kKeyDescriptorDynamic = 0x40,  // an INDEX declared without components
};

struct KeyComponent {
    uint32_t field = 0;  // index of the field descriptor, from 0
    bool descending = false;
};

struct KeyDescriptor {
    TableObject* table = nullptr;  // the table the key belongs to
    unsigned number = 0;           // key number of its key entries, from 0
    std::optional<std::string> externalName;
    std::optional<std::string> label;
    uint8_t attributes = 0;
    std::vector<KeyComponent> components;
    bool built = false;  // a dynamic index whose entries are up to date
};

struct TableDefinition {
    uint16_t version = 1;
    uint32_t recordLength = 0;
    std::vector<FieldDescriptor> fields;
    std::vector<MemoDescriptor> memos;
    std::vector<std::unique_ptr<KeyDescriptor>> keys;
};

// The name of a field type code ("STRING"), or "TYPE n" for a code without one.
std::string typeName(uint8_t type);

// Builds the descriptors of a declaration and checks its limits. Returns 0; 75 for a layout
// the record cannot have (no record group, a gap, an OVER with no target, a dimensioned key
// component); 47 through the declaration-error report for the other checks; 8 when memory
// runs out. The key descriptors belong to table.
int buildDefinition(const FileControlBlock& block, TableObject* table, TableDefinition* out);

// The definition stream of a table.
std::vector<uint8_t> encodeDefinition(const TableDefinition& definition);

// Stores the stream as definition blocks 0, 1, ... of the table (none may exist yet).
void writeDefinition(PageFile& file, const TableNumber& table, const TableDefinition& definition);

// Compares the stored stream with the declared descriptors, item by item; the first difference
// is reported through the declaration-error report (47). DECIMAL places and byte sizes are
// compared only with decimalCheck on. A missing block reads as 512 zero bytes.
int checkDefinition(PageFile& file, const TableNumber& table, const TableDefinition& declared,
                    bool decimalCheck);

// Reads the stored stream into fresh descriptors (the version is not tested). Returns 0, or 47
// for a stream that does not describe a table.
int loadDefinition(PageFile& file, const TableNumber& table, TableObject* owner,
                   TableDefinition* out);

}  // namespace vellum
