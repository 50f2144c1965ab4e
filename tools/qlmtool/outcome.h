// What a command of qlmtool ends with: its exit status and the message to show, a summary on
// success and the reason otherwise.
#pragma once

#include <cstdint>
#include <string>

#include "filelayer/table.h"

namespace vellum::qlmtool {

enum ExitStatus : int {
    kSuccess = 0,
    kUsageError = 1,
    kInputError = 2,
    kEngineError = 3,
};

struct Outcome {
    int status = kSuccess;
    std::string message;
};

// An input error at a place of a file: "FILE, line L, column C (NAME): what". A column of 0
// leaves the column out, an empty name its parenthesis.
Outcome inputError(const std::string& file, uint64_t line, uint32_t column,
                   const std::string& columnName, const std::string& what);

// A failed statement of the engine on a table: "what: ERRORCODE n (text), FILEERRORCODE x,
// FILEERROR y", read from the error state the statement left.
Outcome engineError(const Table& table, const std::string& what);

}  // namespace vellum::qlmtool
