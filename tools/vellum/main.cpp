// vellum: a command-line tool for people who keep Vellum table files: header and size
// classes, tables, stored definitions, record dumps and a full consistency check.
//
// Layering: tools normally sit over platform/filelayer, but a tool that examines files must see what
// the file layer hides (header fields, size classes, the log area, raw entries, count records),
// so this tool alone reads the page store and the table store directly (vellum_pagestore,
// vellum_tablestore). It opens files read-only, sharing them with everyone (mode 0x40), and so
// never changes a file.
#include <iostream>

#include "tools/vellum/command_line.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    return vellum::filetool::runCommand(arguments, std::cout, std::cerr);
}
