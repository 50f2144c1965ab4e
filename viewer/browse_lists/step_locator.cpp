// The step locator's comparison and located value, by the process's character tables.
#include "browse_lists/step_locator.h"

#include "charset/charset.h"

namespace vellum::viewer {

namespace {
// Above every character a locator field can begin with.
constexpr char kDescendingFill = '\xFE';
}  // namespace

uint8_t upperCase(uint8_t c) {
    const CharacterTables& tables = currentCharacterTables();
    return (tables.classes[c] & kClassLower) != 0 ? tables.caseMap[c] : c;
}

void StepLocator::bind(std::string label, bool descending) {
    label_ = std::move(label);
    descending_ = descending;
}

bool StepLocator::matches(std::string_view field, uint8_t c) const {
    return !field.empty() && upperCase(static_cast<uint8_t>(field.front())) == upperCase(c);
}

std::string StepLocator::value(uint8_t c) const {
    std::string located(1, static_cast<char>(upperCase(c)));
    if (descending_) located += kDescendingFill;
    return located;
}

}  // namespace vellum::viewer
