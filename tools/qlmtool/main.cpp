// qlmtool: loads a thesaurus from CSV files into its table files, writes it back, and makes
// large synthetic thesauri.
#include <iostream>

#include "qlmtool/command_line.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    return vellum::qlmtool::runCommand(arguments, std::cout, std::cerr);
}
