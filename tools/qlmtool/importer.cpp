// The import: every CSV file is opened before any table is replaced; then each table is
// created afresh, opened exclusively and filled row by row in transactions of up to 20,000 rows:
// a transaction holds its changes until COMMIT, which writes them in one go, where STREAM would
// commit every 40 changed pages.
#include "qlmtool/importer.h"

#include <strings.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "dictionary/thesaurus_tables.h"
#include "qlmtool/csv.h"
#include "qlmtool/field_values.h"
#include "qlmtool/thesaurus_files.h"
#include "vellum/operation_codes.h"

namespace vellum::qlmtool {

namespace {

constexpr int kLoadMode = 0x12;  // read and write, others denied
constexpr const char* kByteOrderMark = "\xEF\xBB\xBF";
constexpr uint64_t kRowsPerTransaction = 20000;

Outcome csvError(const std::string& file, const CsvError& error) {
    return inputError(file, error.line, error.column, "", error.message);
}

// Maps the header row: fieldOfColumn receives for each CSV column the number of the field it
// fills. A UTF-8 byte-order mark before the first name is passed over.
Outcome mapHeader(const std::string& file, std::vector<CsvField>& header,
                  const TableDeclaration& declaration, std::vector<uint32_t>& fieldOfColumn) {
    std::string& first = header.front().value;
    if (first.starts_with(kByteOrderMark)) first.erase(0, 3);
    const std::vector<FieldSpec>& fields = declaration.fields();
    std::vector<bool> mapped(fields.size(), false);
    fieldOfColumn.clear();
    for (const CsvField& column : header) {
        size_t found = 0;
        while (found < fields.size() &&
               strcasecmp(columnName(fields[found]).c_str(), column.value.c_str()) != 0) {
            ++found;
        }
        if (found == fields.size()) {
            return inputError(file, column.line, column.column, column.value,
                              "no field of " + declaration.label() + " has this name");
        }
        if (mapped[found]) {
            return inputError(file, column.line, column.column, column.value,
                              "a second column for " + fields[found].label);
        }
        mapped[found] = true;
        fieldOfColumn.push_back(static_cast<uint32_t>(found + 1));
    }
    for (size_t i = 0; i < fields.size(); ++i) {
        if (!mapped[i]) {
            return inputError(
                file, header.front().line, 0, "",
                "the header has no column " + columnName(fields[i]) + " for " + fields[i].label);
        }
    }
    return {};
}

// Adds the rows after the header, committing every kRowsPerTransaction rows; rows counts the rows
// added. The rows before a failing line stay.
Outcome addRows(CsvReader& reader, const std::string& file, const TableDeclaration& declaration,
                const std::vector<uint32_t>& fieldOfColumn, Table& table, uint64_t& rows) {
    if (table.logout() != 0) return engineError(table, "LOGOUT " + declaration.label());
    Outcome outcome;
    std::vector<CsvField> record;
    while (outcome.status == kSuccess && reader.next(record)) {
        uint64_t line = record.front().line;
        if (record.size() != fieldOfColumn.size()) {
            outcome = inputError(file, line, 0, "",
                                 std::to_string(record.size()) + " fields where the header has " +
                                     std::to_string(fieldOfColumn.size()));
            break;
        }
        for (const CsvField& value : record) {
            uint32_t field = fieldOfColumn[value.column - 1];
            const FieldSpec& declared = declaration.fields()[field - 1];
            std::string problem = storeValue(table, field, declared, value.value);
            if (!problem.empty()) {
                outcome = inputError(file, value.line, value.column, columnName(declared), problem);
                break;
            }
        }
        if (outcome.status != kSuccess) break;
        if (table.add() != 0) {
            outcome = engineError(
                table, file + ", line " + std::to_string(line) + ": ADD to " + declaration.label());
            break;
        }
        ++rows;
        if (rows % kRowsPerTransaction == 0) {
            if (table.commit() != 0 || table.logout() != 0) {
                outcome = engineError(table, "COMMIT " + declaration.label());
            }
        }
    }
    if (outcome.status == kSuccess && !reader.error().message.empty()) {
        outcome = csvError(file, reader.error());
    }
    if (table.commit() != 0 && outcome.status == kSuccess) {
        outcome = engineError(table, "COMMIT " + declaration.label());
    }
    return outcome;
}

// Replaces one table with the rows of its CSV file.
Outcome loadTable(std::istream& in, const std::string& file, const TableDeclaration& declaration,
                  uint64_t& rows) {
    CsvReader reader(in);
    std::vector<CsvField> header;
    if (!reader.next(header)) {
        if (!reader.error().message.empty()) return csvError(file, reader.error());
        return inputError(file, 1, 0, "", "the file is empty where a header row was expected");
    }
    std::vector<uint32_t> fieldOfColumn;
    Outcome outcome = mapHeader(file, header, declaration, fieldOfColumn);
    if (outcome.status != kSuccess) return outcome;

    Table table(declaration);
    if (table.create() != 0) return engineError(table, "CREATE " + declaration.label());
    if (table.open(kLoadMode) != 0) return engineError(table, "OPEN " + declaration.label());
    outcome = addRows(reader, file, declaration, fieldOfColumn, table, rows);
    if (table.close() != 0 && outcome.status == kSuccess) {
        outcome = engineError(table, "CLOSE " + declaration.label());
    }
    return outcome;
}

}  // namespace

Outcome importThesaurus(const std::string& csvDirectory, const std::string& dataDirectory) {
    const auto& files = thesaurusFiles();
    std::vector<std::ifstream> inputs(files.size());
    std::vector<std::string> paths;
    for (size_t i = 0; i < files.size(); ++i) {
        paths.push_back(thesaurus::fileIn(csvDirectory, files[i].csvName));
        inputs[i].open(paths[i], std::ios::binary);
        if (!inputs[i]) return {kInputError, paths[i] + ": cannot be read"};
    }
    // A directory that cannot be made is reported by CREATE.
    std::error_code ignored;
    if (!dataDirectory.empty()) std::filesystem::create_directories(dataDirectory, ignored);

    Outcome done;
    for (size_t i = 0; i < files.size(); ++i) {
        TableDeclaration declaration = files[i].declare(dataDirectory);
        uint64_t rows = 0;
        Outcome outcome = loadTable(inputs[i], paths[i], declaration, rows);
        if (outcome.status != kSuccess) return outcome;
        done.message +=
            declaration.label() + ": " + std::to_string(rows) + " records from " + paths[i] + "\n";
    }
    return done;
}

}  // namespace vellum::qlmtool
