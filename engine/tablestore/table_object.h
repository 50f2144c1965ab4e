// TableObject: the engine's state of one declared table, attached to its file control block at
// the first operation and destroyed by DESTROY. The table store keeps here the declaration's
// descriptors, and while the table is open its physical file, table number and cursors; the
// driver entry keeps its bookkeeping of the state word and the last operations.
//
// Entry keys of a table begin with its 4-byte table number and a record type; table names are
// kept in table-name records (0xFE, then the name in upper case; data: the table number).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pagestore/entry_cursor.h"
#include "tablestore/key_value.h"
#include "tablestore/open_file_registry.h"
#include "tablestore/positioning.h"
#include "tablestore/table_definition.h"
#include "tablestore/trace_file.h"
#include "vellum/control_blocks.h"

namespace vellum {

constexpr uint8_t kRecordTypeData = 0xF3;
constexpr uint8_t kRecordTypeCount = 0xF6;
constexpr uint8_t kRecordTypeCollation = 0xFB;
constexpr uint8_t kTableNameRecord = 0xFE;

// What the opening core of a table operation is asked to do beyond opening.
enum OpenRequest : unsigned {
    kOpenPlain = 0,
    kOpenForWriting = 0x01,    // put the file into write mode
    kOpenDropName = 0x02,      // delete the table-name record at once (CREATE, RENAME, REMOVE)
};

class TableObject {
public:
    // A table object for a control block; bare objects get no descriptors.
    explicit TableObject(FileControlBlock* block);
    ~TableObject();
    TableObject(const TableObject&) = delete;
    TableObject& operator=(const TableObject&) = delete;

    // Builds the descriptors from the declaration (again, after the platform changed it).
    int buildDescriptors();

    // Table operations; each returns 0 or an error code.
    int open(int mode);
    int create();
    int close();
    int remove();
    int rename(const std::string& target) { return renameOrCopy(target, true); }
    int copy(const std::string& target) { return renameOrCopy(target, false); }
    int empty();
    // The name of the table after name in its file's name order, or none (also when closed).
    std::optional<std::string> nextTableName(const std::string& name);

    // Lets the user choose the file and table of a table that is not open (file dialog, list
    // dialog, trial open read-only); on success the address and password are the chosen ones.
    int chooseTable();

    // Reads and optionally sets a driver switch (the text after its slash); the result text.
    std::string readSwitch(const std::string& text);

    bool isOpen() const { return (status & 0x01) != 0; }
    PageFile* pageFile() const { return file_ != nullptr ? file_->file.get() : nullptr; }
    bool isThreadInstance() const { return (attributes & kAttributeThread) != 0; }
    // The entry tree of a key: the file's, or the private tree of a dynamic index (none before
    // its first build).
    PageFile* keyTree(const KeyDescriptor& key) const;
    // The count record of a selector in the table's file, found through its cursor; none when
    // it is missing or too short.
    Entry* countRecord(uint8_t selector);
    // Forgets the current record and the read modifiers (the record lock is the caller's).
    void resetRecordState();
    // Forgets where the sequence stands: no position and no current key.
    void forgetPosition();

    // The declaration.
    FileControlBlock* block;
    uint8_t attributes = 0;
    std::string address;        // the NAME as copied from the declaration
    std::string owner;
    std::string driverOptions;
    TableDefinition definition;
    bool decimalCheck = true;

    // While open.
    std::string fullName;   // file name, and "\!" with the table name unless UNNAMED
    std::string tableName;
    TableNumber tableNumber{};
    int openMode = 0;
    // The character tables of the table's key values, and whether it stores strings in the OEM
    // character set.
    Collation collation;
    // Cursors on the count records of the table in its file, by selector, made at first use.
    std::array<std::unique_ptr<EntryCursor>, 256> countCursors;
    std::unique_ptr<EntryCursor> insertCursor;
    uint32_t lastInserted = 0;  // the record number the insertion cursor stands on, 0 for none
    // Per key number: the private entry tree of a dynamic index, once built.
    std::vector<std::unique_ptr<PageFile>> privateTrees;

    // Builds.
    bool fullBuild = false;          // the next build starts from record 1 (switch FULLBUILD)
    uint32_t progressInterval = 1;   // P, 1 to 100: a progress event every 128 P records or so
    uint32_t buildPercent = 0;       // how far a build with progress events has got
    unsigned buildKey = 0;           // the number of the key it was building then

    // The current record and the one-shot read modifiers.
    uint32_t currentRecord = 0;  // 0: none
    std::vector<uint8_t> savedImage;  // the record as last read or written, in ANSI
    std::vector<uint8_t> workImage;   // the stored record during PUT
    bool holding = false;        // this table object locks its current record
    bool holdArmed = false;
    int32_t holdTimeout = -1;    // seconds; -1 waits without end
    bool watchArmed = false;
    bool watched = false;        // the current record was read under WATCH
    bool noMemoArmed = false;
    bool memosNotRead = false;   // the current record was read under NOMEMO
    // Where the sequence stands (positioning.h).
    PositionState position;
    std::string resetPosition;   // the position text of the last RESETfile or RESETkey
    uint32_t status = 0;    // 0x01 open
    int damageCode = 0;     // a fatal error met while working on this table

    // The driver entry's bookkeeping.
    uint32_t stateWord = 0;
    uint32_t afterFlags = 0;
    bool nameOverridden = false;
    bool ownerOverridden = false;
    bool optionsOverridden = false;
    KeyDescriptor* currentKey = nullptr;
    std::optional<std::string> resyncPosition;
    std::string lastPosition;
    int lastOperation = 0;
    int lastResult = 0;
    KeyDescriptor* lastKey = nullptr;  // the key and pointer the last operation was given
    uint32_t lastPointer = 0;
    int lastSequentialOperation = 0;
    int lastError = 0;
    bool stale = false;
    bool reload = false;
    int fatalCode = 0;
    int accessMode = 0;
    unsigned deferredFlushes = 0;  // operations whose flush STREAM held back
    // A build held back until BUILDevent: its operation (0 for none), key and texts.
    struct PendingBuild {
        int operation = 0;
        std::optional<unsigned> key;  // the key's number
        std::optional<std::string> components;
        std::optional<std::string> filter;
    };
    PendingBuild pendingBuild;
    TraceFile trace;

private:
    int openCore(int mode, unsigned request);
    int renameOrCopy(const std::string& target, bool rename);
    void writeFreshTable(PageFile& file);
    void removeEntriesOf(PageFile& file, const TableNumber& table);

    OpenFile* file_ = nullptr;
};

// The name of the table after name in a file's name order (an empty name gives the first), and
// every table name of a file in order.
std::optional<std::string> nextTableNameIn(PageFile& file, const std::string& name);
std::vector<std::string> tableNamesIn(PageFile& file);

// Key prefixes and entries of a table.
std::vector<uint8_t> tableKey(const TableNumber& table, uint8_t type);
std::vector<uint8_t> tableNameKey(const std::string& name);

}  // namespace vellum
