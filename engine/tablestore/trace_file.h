// TraceFile: the trace of one table object. While it has a file name it appends each line to
// that file; it also keeps the two trace settings the properties set and read back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "vellum/trace_log.h"

namespace vellum {

class TraceFile : public TraceLog {
public:
    bool isOn() const override { return !fileName_.empty(); }
    // Appends the line to the file and flushes it, so that a crash loses nothing traced.
    void writeLine(std::string_view line) override;

    const std::string& fileName() const { return fileName_; }
    // A non-empty name starts tracing into that file; an empty one stops.
    void setFileName(std::string name) { fileName_ = std::move(name); }

    // One line for an operation: UTC timestamp, table, operation, key label (when given), error
    // and the time since start in hundredths of a second.
    void writeOperation(std::string_view table, std::string_view operation,
                        std::string_view keyLabel, int error, uint32_t start);

    int32_t firstSetting = 0;
    int32_t secondSetting = 0;

private:
    std::string fileName_;
};

}  // namespace vellum
