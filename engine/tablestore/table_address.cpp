// Splitting a table address into a full file name and an upper-case table name, and rebuilding
// the full name of a table from the two.
#include "tablestore/table_address.h"

#include <sys/stat.h>

#include <climits>

#include "os/path_location.h"

namespace vellum {

namespace {

constexpr int kInvalidFilename = 45;
constexpr const char* kTableSeparator = "\\!";
constexpr const char* kDefaultExtension = ".VLM";

std::string withSlashes(std::string name) {
    for (char& c : name) {
        if (c == '\\') c = '/';
    }
    return name;
}

bool isDirectory(const std::string& name) {
    if (name.empty()) return false;
    struct stat status {};
    return ::stat(withSlashes(name).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Completes a file name to a full path: taken from the current directory when relative, the
// directory part resolved when it exists (the last component kept as given), ".VLM" added when
// the last component has no extension.
int completeFileName(const std::string& given, std::string* out) {
    if (given.find_first_not_of(' ') == std::string::npos) return kInvalidFilename;
    if (given.size() > PATH_MAX) return kInvalidFilename;
    std::string full;
    if (int result = os::fullPath(given, &full); result != 0) return result;
    std::string last = full.substr(full.rfind('/') + 1);
    if (last.empty() || last == "." || last == "..") return kInvalidFilename;
    if (last.find('.') == std::string::npos) full += kDefaultExtension;
    if (full.size() > PATH_MAX) return kInvalidFilename;
    *out = std::move(full);
    return 0;
}

}  // namespace

bool isBlankName(const std::string& name) {
    return name.find_first_not_of(' ') == std::string::npos;
}

std::string upperCaseName(std::string name) {
    for (char& c : name) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return name;
}

int splitTableAddress(const std::string& address, TableAddress* out) {
    // The first separator that does not follow the name of an existing directory; one that does
    // is part of the path.
    std::string fileName = address;
    std::string tableName = kUnnamedTable;
    for (size_t at = address.find(kTableSeparator); at != std::string::npos;
         at = address.find(kTableSeparator, at + 2)) {
        std::string before = address.substr(0, at);
        if (isDirectory(before)) continue;
        fileName = before;
        tableName = upperCaseName(address.substr(at + 2));
        // A separator with nothing after it names no table.
        if (tableName.empty()) tableName = kUnnamedTable;
        break;
    }

    TableAddress result;
    int error = completeFileName(fileName, &result.fileName);
    if (error != 0) return error;
    result.tableName = std::move(tableName);
    *out = std::move(result);
    return 0;
}

std::string fullTableName(const TableAddress& address) {
    if (address.tableName == kUnnamedTable) return address.fileName;
    return address.fileName + kTableSeparator + address.tableName;
}

}  // namespace vellum
