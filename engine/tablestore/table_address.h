// Table addresses: a file name, optionally followed by "\!" and a table name.
#pragma once

#include <string>

namespace vellum {

constexpr const char* kUnnamedTable = "UNNAMED";

struct TableAddress {
    std::string fileName;   // completed to a full path, ".VLM" added when it has no extension
    std::string tableName;  // upper case; "UNNAMED" when the address names none
};

// Splits an address at the first "\!" that does not follow the name of an existing directory.
// Returns 0, or the error of completing the file name (45 for an empty or unusable name).
int splitTableAddress(const std::string& address, TableAddress* out);

// The full name of a table after an open: the file name, and "\!" with the table name unless
// the table is "UNNAMED".
std::string fullTableName(const TableAddress& address);

// Whether a name is empty or consists of blanks only.
bool isBlankName(const std::string& name);

// A table name in upper case, by the built-in character tables (a to z).
std::string upperCaseName(std::string name);

}  // namespace vellum
