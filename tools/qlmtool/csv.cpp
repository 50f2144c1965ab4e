// The CSV reader and writer. Records end with CRLF, LF or a lone CR outside quotes; a quote
// inside an unquoted field and anything but a comma or a line end after a closing quote are
// errors, as is a quoted field the input ends in.
#include "qlmtool/csv.h"

#include <utility>

namespace vellum::qlmtool {

namespace {

constexpr int kEnd = std::char_traits<char>::eof();

}  // namespace

CsvReader::CsvReader(std::istream& in) : in_(in.rdbuf()) {}

bool CsvReader::fail(uint64_t line, uint32_t column, std::string message) {
    error_ = {line, column, std::move(message)};
    return false;
}

bool CsvReader::next(std::vector<CsvField>& record) {
    record.clear();
    if (in_ == nullptr || in_->sgetc() == kEnd) return false;
    while (true) {
        CsvField& field = record.emplace_back();
        field.line = line_;
        field.column = static_cast<uint32_t>(record.size());
        if (in_->sgetc() == '"') {
            if (!readQuoted(field)) return false;
        } else {
            readPlain(field);
            if (!error_.message.empty()) return false;
        }
        int c = in_->sbumpc();
        if (c == ',') continue;
        if (c == '\r' && in_->sgetc() == '\n') in_->sbumpc();
        if (c != kEnd) ++line_;
        return true;
    }
}

// Reads an unquoted field up to the comma or line end that follows it, which stays unread.
void CsvReader::readPlain(CsvField& field) {
    for (int c = in_->sgetc(); c != ',' && c != '\r' && c != '\n' && c != kEnd; c = in_->snextc()) {
        if (c == '"') {
            fail(line_, field.column, "a double quote inside a field that is not quoted");
            return;
        }
        field.value.push_back(static_cast<char>(c));
    }
}

// Reads a quoted field from its opening quote to its closing one; what follows stays unread.
bool CsvReader::readQuoted(CsvField& field) {
    in_->sbumpc();
    while (true) {
        int c = in_->sbumpc();
        if (c == kEnd) {
            return fail(field.line, field.column, "the input ends inside a quoted field");
        }
        if (c == '"') {
            if (in_->sgetc() != '"') break;
            in_->sbumpc();
        }
        if (c == '\n') ++line_;
        field.value.push_back(static_cast<char>(c));
    }
    int after = in_->sgetc();
    if (after == ',' || after == '\r' || after == '\n' || after == kEnd) return true;
    return fail(line_, field.column, "text after the closing quote of a field");
}

std::string csvField(std::string_view value) {
    if (value.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(value);
    std::string quoted = "\"";
    for (char c : value) {
        if (c == '"') quoted.push_back('"');
        quoted.push_back(c);
    }
    quoted.push_back('"');
    return quoted;
}

void writeCsvRecord(std::ostream& out, const std::vector<std::string>& values) {
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) out.put(',');
        out << csvField(values[i]);
    }
    out << "\r\n";
}

}  // namespace vellum::qlmtool
