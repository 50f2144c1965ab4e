// The trace log the engine writes its lock-failure lines to. The caller decides whether tracing
// is on and where the lines go.
#pragma once

#include <string_view>

namespace vellum {

class TraceLog {
public:
    virtual ~TraceLog() = default;
    virtual bool isOn() const = 0;
    virtual void writeLine(std::string_view line) = 0;
};

}  // namespace vellum
