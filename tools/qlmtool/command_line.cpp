// The commands and their arguments.
#include "qlmtool/command_line.h"

#include <charconv>

#include "qlmtool/exporter.h"
#include "qlmtool/generator.h"
#include "qlmtool/importer.h"

namespace vellum::qlmtool {

namespace {

constexpr const char* kUsage =
    "usage: qlmtool import CSVDIR DATADIR    load terms.csv, keywords.csv and related.csv into\n"
    "                                        the thesaurus tables in DATADIR (replacing them)\n"
    "       qlmtool export DATADIR CSVDIR    write the thesaurus tables back as CSV files\n"
    "       qlmtool generate N CSVDIR        write a synthetic thesaurus of N terms as CSV files\n"
    "exit status: 0 success, 1 usage error, 2 input error, 3 engine error\n";

Outcome run(const std::vector<std::string>& arguments) {
    if (arguments.size() != 3) return {kUsageError, ""};
    const std::string& command = arguments[0];
    if (command == "import") return importThesaurus(arguments[1], arguments[2]);
    if (command == "export") return exportThesaurus(arguments[1], arguments[2]);
    if (command == "generate") {
        const std::string& count = arguments[1];
        uint64_t terms = 0;
        auto [end, error] = std::from_chars(count.data(), count.data() + count.size(), terms);
        if (error != std::errc() || end != count.data() + count.size() || terms == 0 ||
            terms > kMaxGeneratedTerms) {
            return {kUsageError,
                    "N must be a number of terms from 1 to " + std::to_string(kMaxGeneratedTerms)};
        }
        return generateThesaurus(terms, arguments[2]);
    }
    return {kUsageError, "unknown command '" + command + "'"};
}

}  // namespace

int runCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    Outcome outcome = run(arguments);
    if (outcome.status == kSuccess) {
        out << outcome.message;
    } else {
        if (!outcome.message.empty()) err << "qlmtool: " << outcome.message << "\n";
        if (outcome.status == kUsageError) err << kUsage;
    }
    return outcome.status;
}

}  // namespace vellum::qlmtool
