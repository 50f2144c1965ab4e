// Reading the arguments, opening the file and running the command under a fatal-error trap, so
// that a damaged file ends the command with a message instead of the program.
#include "tools/vellum/command_line.h"

#include <optional>

#include "filelayer/file_layer.h"
#include "tablestore/table_address.h"
#include "tools/vellum/commands.h"
#include "vellum/fatal.h"

namespace vellum::filetool {

namespace {

constexpr const char* kUsage =
    "usage: vellum info FILE                     header, pages per size class, file size\n"
    "       vellum tables FILE                   table names, numbers and record counts\n"
    "       vellum schema FILE[\\!TABLE]          fields, memos and keys of a table\n"
    "       vellum dump FILE[\\!TABLE] [--key NAME] [--csv]\n"
    "                                            the records, in record or key order\n"
    "       vellum check FILE                    check the file; one line per problem\n"
    "options: --owner PASSWORD                   the owner of an enciphered file\n"
    "exit status: 0 success, 1 usage error, 2 file problem, 3 check found problems\n";

struct CommandLine {
    std::string command;
    std::string address;
    std::string owner;
    DumpOptions dump;
};

// Reads the arguments; a message for what is wrong, none when they are fine.
std::optional<std::string> parse(const std::vector<std::string>& arguments, CommandLine* out) {
    if (arguments.empty()) return "no command";
    out->command = arguments[0];
    bool haveAddress = false;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        bool takesValue = argument == "--owner" || argument == "--key";
        if (takesValue && i + 1 == arguments.size()) return argument + " needs a value";
        if (argument == "--owner") {
            out->owner = arguments[++i];
        } else if (argument == "--key") {
            out->dump.key = arguments[++i];
        } else if (argument == "--csv") {
            out->dump.csv = true;
        } else if (argument.starts_with("--") || haveAddress) {
            return "unexpected argument '" + argument + "'";
        } else {
            out->address = argument;
            haveAddress = true;
        }
    }
    const std::string& command = out->command;
    if (command != "info" && command != "tables" && command != "schema" && command != "dump" &&
        command != "check") {
        return "unknown command '" + command + "'";
    }
    if (!haveAddress) return "no file named";
    if (command != "dump" && (out->dump.key || out->dump.csv)) {
        return "--key and --csv belong to dump";
    }
    bool namesTable = out->address.find("\\!") != std::string::npos;
    if (namesTable && command != "schema" && command != "dump") {
        return command + " works on a whole file; leave out the table name";
    }
    return std::nullopt;
}

int run(const CommandLine& line, std::ostream& out, std::ostream& err) {
    TableAddress address;
    if (splitTableAddress(line.address, &address) != 0) {
        err << "vellum: " << line.address << ": not a usable file name\n";
        return kFileProblem;
    }
    FatalTrap trap(address.fileName);
    ReadOnlyFile file;
    try {
        if (int status = file.open(address.fileName, line.owner, err); status != kSuccess) {
            return status;
        }
        if (line.command == "info") return showInfo(file, out);
        if (line.command == "tables") return listTables(file, out);
        if (line.command == "schema") return showSchema(file, address.tableName, out, err);
        if (line.command == "dump") {
            return dumpRecords(file, address.tableName, line.dump, out, err);
        }
        return checkFile(file, out);
    } catch (const FatalError& error) {
        out.flush();
        err << "vellum: " << address.fileName << ": damaged, fatal error " << error.number()
            << "\n";
        return kFileProblem;
    }
}

}  // namespace

int runCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    installPlatformFileLayer();
    CommandLine line;
    if (std::optional<std::string> wrong = parse(arguments, &line)) {
        err << "vellum: " << *wrong << "\n" << kUsage;
        return kUsageError;
    }
    return run(line, out, err);
}

}  // namespace vellum::filetool
