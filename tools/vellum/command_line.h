// The command line of vellum: info, tables, schema, dump and check, with their exit statuses.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace vellum::filetool {

// Runs the command the arguments (without the program name) give, writing its result to out
// and complaints to err (the usage for a usage error). Returns the exit status: 0 success,
// 1 usage error, 2 a file problem (missing, not a table file, wrong owner, damaged), 3 check
// found problems.
int runCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace vellum::filetool
