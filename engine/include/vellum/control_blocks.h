// The declaration records the file layer hands to the driver entry: one file control block per
// declared table (per thread for THREAD tables) and one key control block per declared KEY or
// INDEX, with the field and memo declarations they point to. The file layer owns them; the
// engine reads them and writes only the table-object and key-descriptor fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vellum {

class TableObject;
struct KeyDescriptor;
struct FileControlBlock;
struct StatusRecord;

// A text of a declaration. text == nullptr: absent. length -1: zero-terminated; -2: the first
// byte holds the length and the text follows; otherwise length bytes, whose trailing blanks are
// not part of the text.
struct DeclaredText {
    const char* text = nullptr;
    int32_t length = -1;
};

// The text by those rules; none when absent. keepTrailingBlanks reads a counted text whole.
std::optional<std::string> declaredText(const DeclaredText& text, bool keepTrailingBlanks = false);

// Field type codes.
enum FieldType : uint8_t {
    kByte = 1,
    kShort = 2,
    kUShort = 3,
    kDate = 4,
    kTime = 5,
    kLong = 6,
    kULong = 7,
    kSReal = 8,
    kReal = 9,
    kDecimal = 10,
    kPDecimal = 11,
    kString = 18,
    kCString = 19,
    kPString = 20,
    kGroup = 22,
};

// Table attributes of a declaration.
enum TableAttribute : uint8_t {
    kAttributeEncrypt = 0x02,
    kAttributeCreate = 0x04,
    kAttributeReclaim = 0x08,
    kAttributeThread = 0x10,
    kAttributeOem = 0x20,
    kAttributeCarried = 0x40,
};

// Key attributes of a key control block.
enum KeyAttribute : uint32_t {
    kKeyDup = 0x0001,
    kKeyOpt = 0x0002,
    kKeyNoCase = 0x0004,
    kKeyCarried = 0x0008,
    kKeyPrimary = 0x0010,
    kKeyIndex = 0x4000,
};

// Memo flags of a memo declaration.
enum MemoFlag : uint8_t {
    kMemoBinary = 0x02,
    kMemoBlob = 0x04,
};

// One declared field. Entry 0 of a field list is the record itself, a GROUP whose member count
// is the number of fields that follow; a GROUP's members follow it directly.
struct FieldDeclaration {
    uint8_t type = 0;
    uint32_t offset = 0;
    uint32_t elementSize = 0;
    uint8_t places = 0;              // DECIMAL and PDECIMAL
    DeclaredText picture;            // STRING, CSTRING and PSTRING
    const uint32_t* dimensions = nullptr;
    uint8_t dimensionCount = 0;
    uint32_t memberCount = 0;        // GROUP
    DeclaredText label;
    DeclaredText externalName;
};

// One declared MEMO or BLOB.
struct MemoDeclaration {
    DeclaredText label;
    DeclaredText externalName;
    uint32_t size = 0;
    uint8_t flags = 0;
};

struct KeyControlBlock {
    DeclaredText name;                      // the NAME attribute
    DeclaredText label;
    KeyDescriptor* keyDescriptor = nullptr; // written by the engine
    uint32_t attributes = 0;
    uint8_t componentCount = 0;
    const int32_t* components = nullptr;    // field numbers from 1; negative: descending
    FileControlBlock* file = nullptr;
};

// Argument slots of a call: pointer-sized, so that a slot can carry a key control block.
using ArgumentSlot = uintptr_t;
using DriverEntryFunction = int32_t (*)(int32_t operation, FileControlBlock* block,
                                        ArgumentSlot* slots);

struct FileControlBlock {
    uint32_t blockSize = sizeof(FileControlBlock);
    DriverEntryFunction driverEntry = nullptr;
    void* preCallHook = nullptr;
    TableObject* tableObject = nullptr;  // written by the engine
    DeclaredText name;
    DeclaredText driverOptions;
    DeclaredText owner;
    uint8_t* recordBuffer = nullptr;
    uint32_t recordLength = 0;
    const FieldDeclaration* fields = nullptr;
    KeyControlBlock* const* keys = nullptr;
    const MemoDeclaration* memos = nullptr;
    uint8_t keyCount = 0;
    uint8_t memoCount = 0;
    uint8_t attributes = 0;
    uint8_t driverFlags = 0;  // 0x01 remote access active, 0x02 do not trace each operation
    StatusRecord* statusRecord = nullptr;
    uint32_t words[2] = {0, 0};
};

}  // namespace vellum
