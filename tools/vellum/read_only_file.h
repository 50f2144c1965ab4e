// A table file opened read-only, sharing it with everyone (mode 0x40), so that nothing the tool
// does can change it; the tables of the file with their stored definitions, and a walk over the
// entries that share a key prefix.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "pagestore/page_file.h"
#include "tablestore/table_object.h"
#include "vellum/entry.h"

namespace vellum::filetool {

// Exit statuses of the tool.
enum ExitStatus : int {
    kSuccess = 0,
    kUsageError = 1,
    kFileProblem = 2,
    kProblemsFound = 3,
};

// A table of the file: its name and number.
struct TableName {
    std::string name;
    TableNumber number{};
};

// A table with its stored definition and collation, held in a table object that is never
// opened, so that the table store's record and key helpers can be used on it.
struct StoredTable {
    TableName name;
    std::unique_ptr<TableObject> object;
    const TableDefinition& definition() const { return object->definition; }
};

class ReadOnlyFile {
public:
    // Opens path read-only with an owner (empty: not enciphered); on failure writes a message
    // naming the file and the reason to err and returns the exit status.
    int open(const std::string& path, const std::string& owner, std::ostream& err);

    PageFile& pages() { return *file_; }
    const std::string& path() const { return path_; }
    // A file never committed holds no entries at all.
    bool holdsNothing() const { return file_->header().changeCounter() == 0; }

    // The tables in name order; a name record whose data is not a table number is skipped.
    std::vector<TableName> tables();
    // Loads the definition and collation of a table; on failure writes the reason to err and
    // returns the exit status.
    int loadTable(const std::string& tableName, StoredTable* out, std::ostream& err);
    int loadTable(const TableName& name, StoredTable* out, std::ostream& err);

private:
    std::unique_ptr<PageFile> file_ = std::make_unique<PageFile>();
    std::string path_;
};

// The entries whose keys begin with a prefix, in key order. Each step searches afresh from a
// copy of the entry before, so lookups in between are allowed.
class PrefixWalk {
public:
    PrefixWalk(PageFile& file, std::vector<uint8_t> prefix);
    // The next entry (a private copy), or none at the end.
    const Entry* next();

private:
    PageFile& file_;
    std::vector<uint8_t> prefix_;
    OwnedEntry current_;
    bool started_ = false;
};

// The display name of a table: "UNNAMED" is shown as "(unnamed)".
std::string displayName(const std::string& tableName);
// A table number as one decimal number.
uint32_t numberOf(const TableNumber& number);
// The name of a key or memo: its external name when one is stored, else its label.
std::string itemName(const std::optional<std::string>& externalName,
                     const std::optional<std::string>& label);
std::string keyName(const KeyDescriptor& key);

}  // namespace vellum::filetool
