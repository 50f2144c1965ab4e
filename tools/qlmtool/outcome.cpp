// The messages of failed commands.
#include "qlmtool/outcome.h"

#include "vellum/error_codes.h"

namespace vellum::qlmtool {

Outcome inputError(const std::string& file, uint64_t line, uint32_t column,
                   const std::string& columnName, const std::string& what) {
    std::string place = file + ", line " + std::to_string(line);
    if (column != 0) place += ", column " + std::to_string(column);
    if (!columnName.empty()) place += " (" + columnName + ")";
    return {kInputError, place + ": " + what};
}

Outcome engineError(const Table& table, const std::string& what) {
    int code = table.errorCode();
    std::string message = what + ": ERRORCODE " + std::to_string(code);
    std::string_view text = errorText(code);
    if (!text.empty()) message += " (" + std::string(text) + ")";
    message +=
        ", FILEERRORCODE '" + table.fileErrorCode() + "', FILEERROR '" + table.fileError() + "'";
    return {kEngineError, message};
}

}  // namespace vellum::qlmtool
