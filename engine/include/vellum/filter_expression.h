// What the engine hands the platform's expression service to filter records: the fields a filter
// text may name, and the compiled filter it gets back, which tells for each record image whether
// the text holds. The compile errors the service reports are here too.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vellum {

// Compile errors of a filter text.
constexpr int kFilterSyntaxError = 800;  // the text is not a well-formed expression
constexpr int kFilterUnknownName = 801;  // the text names no variable given

// A variable a filter text may name: one field of the record image.
struct FilterVariable {
    // The field name as declared, e.g. "T:Name", matched without regard to case; a name may also
    // be matched without its prefix up to and including the last ':'.
    std::string name;
    // A field type code of control_blocks.h: kByte, kShort, kUShort, kDate, kTime, kLong, kULong,
    // kSReal, kReal, kDecimal, kPDecimal, kString, kCString, kPString, kGroup.
    uint8_t type = 0;
    uint32_t offset = 0;  // in the record image
    uint32_t size = 0;    // bytes (for arrays only the first element is used, of elementSize)
    uint32_t elementSize = 0;
    uint8_t places = 0;   // DECIMAL and PDECIMAL
};

// A compiled filter bound to record images.
class CompiledFilter {
public:
    virtual ~CompiledFilter() = default;
    // 1 when the expression is true, 0 when false, -1 when it cannot be evaluated on this record.
    virtual int evaluate(std::span<const uint8_t> record) = 0;
};

}  // namespace vellum
