// Writing a thesaurus back out: the three table files of a data directory become terms.csv,
// keywords.csv and related.csv.
#pragma once

#include <string>

#include "qlmtool/outcome.h"

namespace vellum::qlmtool {

// Writes the three CSV files into csvDirectory (made when missing): UTF-8, a header row of the
// field labels without prefix in declaration order, RFC 4180 quoting only where needed, CRLF
// line ends, trailing blanks of text fields cut. Rows come in record order, which is the order
// the import added them in: a CSV file written this way comes back byte for byte through import
// and export, whatever order its rows are in, and rows whose ID is 0 (which an OPT key leaves
// out) are written too. A file that cannot be written is an input error; a failed statement an
// engine error.
Outcome exportThesaurus(const std::string& dataDirectory, const std::string& csvDirectory);

}  // namespace vellum::qlmtool
