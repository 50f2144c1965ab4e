// Writing the trace file: one line per call, opened for appending each time so that several
// table objects may trace into the same file.
#include "tablestore/trace_file.h"

#include <chrono>
#include <cstdio>
#include <fstream>

#include "os/file_system.h"

namespace vellum {

namespace {

// "YYYY-MM-DD hh:mm:ss" in UTC.
std::string timestamp() {
    using namespace std::chrono;
    auto now = floor<seconds>(system_clock::now());
    auto day = floor<days>(now);
    year_month_day date{day};
    hh_mm_ss time{now - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02ld:%02ld:%02ld", int{date.year()},
                  unsigned{date.month()}, unsigned{date.day()},
                  static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()),
                  static_cast<long>(time.seconds().count()));
    return text;
}

}  // namespace

void TraceFile::writeLine(std::string_view line) {
    if (!isOn()) return;
    std::ofstream out(fileName_, std::ios::app);
    out << line << '\n';
    out.flush();
}

void TraceFile::writeOperation(std::string_view table, std::string_view operation,
                               std::string_view keyLabel, int error, uint32_t start) {
    std::string line = timestamp() + " " + std::string(table) + " " + std::string(operation);
    if (!keyLabel.empty()) line += " key=" + std::string(keyLabel);
    line += " error=" + std::to_string(error) +
            " elapsed=" + std::to_string(os::clockHundredths() - start);
    writeLine(line);
}

}  // namespace vellum
