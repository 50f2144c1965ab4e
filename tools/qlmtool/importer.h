// Loading a thesaurus: the three CSV files of a directory become the three table files of a
// data directory, replacing what they held.
#pragma once

#include <string>

#include "qlmtool/outcome.h"

namespace vellum::qlmtool {

// Creates the tables in dataDirectory (made when missing) from terms.csv, keywords.csv and
// related.csv in csvDirectory. Each header row names the fields of its table by their labels
// without prefix, in any order and letter case; every field needs its column. Values are
// converted from UTF-8 to Windows-1252 and checked against their fields; ID fields take the
// numbers given. The rows are added under STREAM. A file that cannot be read, a malformed
// record or a value that does not fit is an input error naming file, line and column; a failed
// statement (an ADD that would duplicate a unique key, say) is an engine error naming the line.
// On an error the table being loaded keeps the rows before the failing one.
Outcome importThesaurus(const std::string& csvDirectory, const std::string& dataDirectory);

}  // namespace vellum::qlmtool
