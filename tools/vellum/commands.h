// The commands of vellum, each over a file opened read-only. Each writes its result to out
// and its complaints to err (check writes its problems to out), and returns the exit status
// (read_only_file.h).
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "tools/vellum/read_only_file.h"

namespace vellum::filetool {

// Header fields, pages per size class and the file size.
int showInfo(ReadOnlyFile& file, std::ostream& out);
// The tables with their numbers and record counts.
int listTables(ReadOnlyFile& file, std::ostream& out);
// Fields, memos and keys of a table's stored definition.
int showSchema(ReadOnlyFile& file, const std::string& tableName, std::ostream& out,
               std::ostream& err);

struct DumpOptions {
    std::optional<std::string> key;  // walk this key's entries instead of the record order
    bool csv = false;                // CSV instead of tab-separated values
};
// The records of a table, one line each, with a header line of field names.
int dumpRecords(ReadOnlyFile& file, const std::string& tableName, const DumpOptions& options,
                std::ostream& out, std::ostream& err);

// The tree check and the per-table checks of records, counts, keys and memo chunks; one line
// per problem.
int checkFile(ReadOnlyFile& file, std::ostream& out);

}  // namespace vellum::filetool
