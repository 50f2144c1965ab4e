// The command line of qlmtool: import, export and generate, with their exit statuses.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace vellum::qlmtool {

// Runs the command the arguments (without the program name) give; prints a summary to out or
// the reason of a failure to err (the usage for a usage error). Returns the exit status:
// 0 success, 1 usage error, 2 input error, 3 engine error.
int runCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace vellum::qlmtool
