// The CSV files of the thesaurus and the declarations of the dictionary they belong to.
#include "qlmtool/thesaurus_files.h"

#include "dictionary/thesaurus_tables.h"

namespace vellum::qlmtool {

const std::array<ThesaurusFile, 3>& thesaurusFiles() {
    static const std::array<ThesaurusFile, 3> files = {{
        {kTermsCsv, thesaurus::thesDeclaration},
        {kKeywordsCsv, thesaurus::keywordDeclaration},
        {kRelatedCsv, thesaurus::relatedDeclaration},
    }};
    return files;
}

std::string columnName(const FieldSpec& field) {
    size_t colon = field.label.find(':');
    return colon == std::string::npos ? field.label : field.label.substr(colon + 1);
}

}  // namespace vellum::qlmtool
