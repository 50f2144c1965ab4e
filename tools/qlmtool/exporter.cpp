// The export: each table is opened read-only, sharing it with everyone, and read in record
// order from SET to the NEXT that finds no record.
#include "qlmtool/exporter.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include "dictionary/thesaurus_tables.h"
#include "qlmtool/csv.h"
#include "qlmtool/field_values.h"
#include "qlmtool/thesaurus_files.h"
#include "vellum/error_codes.h"

namespace vellum::qlmtool {

namespace {

constexpr int kReadMode = 0x40;  // read only, others may read and write

// Writes the records of one table to out; rows counts them.
Outcome writeTable(Table& table, const TableDeclaration& declaration, std::ostream& out,
                   uint64_t& rows) {
    const std::vector<FieldSpec>& fields = declaration.fields();
    std::vector<std::string> values;
    for (const FieldSpec& declared : fields) values.push_back(columnName(declared));
    writeCsvRecord(out, values);
    if (table.set(nullptr) != 0) return engineError(table, "SET " + declaration.label());
    while (table.next() == 0) {
        for (size_t i = 0; i < fields.size(); ++i) {
            values[i] = fieldValue(table, static_cast<uint32_t>(i + 1), fields[i]);
        }
        writeCsvRecord(out, values);
        ++rows;
    }
    if (table.errorCode() != kRecordNotAvailable) {
        return engineError(table, "NEXT " + declaration.label());
    }
    return {};
}

}  // namespace

Outcome exportThesaurus(const std::string& dataDirectory, const std::string& csvDirectory) {
    // A directory that cannot be made is reported when its files cannot be written.
    std::error_code ignored;
    if (!csvDirectory.empty()) std::filesystem::create_directories(csvDirectory, ignored);

    Outcome done;
    for (const ThesaurusFile& file : thesaurusFiles()) {
        TableDeclaration declaration = file.declare(dataDirectory);
        Table table(declaration);
        if (table.open(kReadMode) != 0) return engineError(table, "OPEN " + declaration.label());
        std::string path = thesaurus::fileIn(csvDirectory, file.csvName);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        uint64_t rows = 0;
        Outcome outcome = out ? writeTable(table, declaration, out, rows)
                              : Outcome{kInputError, path + ": cannot be written"};
        if (table.close() != 0 && outcome.status == kSuccess) {
            outcome = engineError(table, "CLOSE " + declaration.label());
        }
        out.close();
        if (outcome.status == kSuccess && !out)
            outcome = {kInputError, path + ": cannot be written"};
        if (outcome.status != kSuccess) return outcome;
        done.message +=
            declaration.label() + ": " + std::to_string(rows) + " records to " + path + "\n";
    }
    return done;
}

}  // namespace vellum::qlmtool
