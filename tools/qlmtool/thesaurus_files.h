// The three CSV files of a thesaurus and the tables they hold: terms.csv the terms (QLMThes),
// keywords.csv the keywords (QLMKeyword), related.csv the related pairs (QLMRelated). A CSV
// column is named by its field's label without the prefix ("QLM:TermID" is "TermID").
#pragma once

#include <array>
#include <string>

#include "filelayer/table.h"

namespace vellum::qlmtool {

struct ThesaurusFile {
    const char* csvName;
    TableDeclaration (*declare)(const std::string& directory);
};

inline constexpr const char* kTermsCsv = "terms.csv";
inline constexpr const char* kKeywordsCsv = "keywords.csv";
inline constexpr const char* kRelatedCsv = "related.csv";

// The files in the order they are imported and exported: terms, keywords, related pairs.
const std::array<ThesaurusFile, 3>& thesaurusFiles();

// A field's label without its prefix: the name of its CSV column.
std::string columnName(const FieldSpec& field);

}  // namespace vellum::qlmtool
