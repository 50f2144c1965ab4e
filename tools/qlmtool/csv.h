// RFC 4180 text: a streaming reader of records whose quoted fields may hold commas, doubled
// quotes and line breaks, which knows the line and column each field starts at; and the writer,
// which quotes a field only where it must and ends every record with CRLF.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace vellum::qlmtool {

struct CsvField {
    std::string value;
    uint64_t line = 0;    // the line the field starts on, from 1
    uint32_t column = 0;  // its position in the record, from 1
};

// What is wrong with the input, and where.
struct CsvError {
    uint64_t line = 0;
    uint32_t column = 0;
    std::string message;
};

class CsvReader {
  public:
    explicit CsvReader(std::istream& in);

    // Reads the next record. False at the end of the input, and on a malformed record, which
    // error() then describes; error() stays empty at a clean end.
    bool next(std::vector<CsvField>& record);
    const CsvError& error() const { return error_; }

  private:
    bool readQuoted(CsvField& field);
    void readPlain(CsvField& field);
    bool fail(uint64_t line, uint32_t column, std::string message);

    std::streambuf* in_;
    uint64_t line_ = 1;
    CsvError error_;
};

// A value as one field: enclosed in quotes, inner quotes doubled, when it holds a comma, a
// quote or a line break; as it is otherwise.
std::string csvField(std::string_view value);

// One record: its fields joined by commas, then CRLF.
void writeCsvRecord(std::ostream& out, const std::vector<std::string>& values);

}  // namespace vellum::qlmtool
