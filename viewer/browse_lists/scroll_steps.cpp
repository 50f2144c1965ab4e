// Step values as four-digit numbers over the upper-case letters.
#include "browse_lists/scroll_steps.h"

#include <algorithm>

#include "browse_lists/step_locator.h"
#include "charset/charset.h"

namespace vellum::viewer {

namespace {

constexpr size_t kDigits = 4;

std::string folded(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) c = static_cast<char>(upperCase(static_cast<uint8_t>(c)));
    return upper;
}

}  // namespace

ScrollSteps::ScrollSteps(std::string_view first, std::string_view last) {
    const CharacterTables& tables = currentCharacterTables();
    for (unsigned c = 0; c < 256; ++c) {
        if ((tables.classes[c] & kClassUpper) != 0) letters_ += static_cast<char>(c);
    }
    std::string low = folded(first);
    std::string high = folded(last);
    auto [lowEnd, highEnd] = std::mismatch(low.begin(), low.end(), high.begin(), high.end());
    prefix_.assign(low.begin(), lowEnd);
    low_ = number(std::string_view(low).substr(prefix_.size()));
    high_ = number(std::string_view(high).substr(prefix_.size()));
}

// A character that is no letter counts as the letter it would sort among; a missing one as the
// lowest letter.
int64_t ScrollSteps::number(std::string_view rest) const {
    const auto base = static_cast<int64_t>(letters_.size());
    int64_t value = 0;
    for (size_t i = 0; i < kDigits; ++i) {
        int64_t digit = 0;
        if (i < rest.size()) {
            auto c = static_cast<uint8_t>(rest[i]);
            digit = std::count_if(letters_.begin(), letters_.end(),
                                  [c](char letter) { return static_cast<uint8_t>(letter) < c; });
            digit = std::min(digit, base - 1);
        }
        value = value * base + digit;
    }
    return value;
}

int64_t ScrollSteps::stepNumber(int step) const {
    return low_ + (high_ - low_) * std::clamp(step, 0, kCount - 1) / (kCount - 1);
}

std::string ScrollSteps::value(int step) const {
    const auto base = static_cast<int64_t>(letters_.size());
    int64_t value = stepNumber(step);
    std::string digits(kDigits, letters_.front());
    for (size_t i = kDigits; i-- > 0; value /= base) {
        digits[i] = letters_[static_cast<size_t>(value % base)];
    }
    return prefix_ + digits;
}

int ScrollSteps::stepOf(std::string_view text) const {
    std::string upper = folded(text);
    if (upper.compare(0, prefix_.size(), prefix_) != 0) return upper < prefix_ ? 0 : kCount - 1;
    if (high_ <= low_) return 0;
    int64_t value = number(std::string_view(upper).substr(prefix_.size()));
    // The division gives the step or the one below it.
    auto step = static_cast<int>(
        std::clamp<int64_t>((value - low_) * (kCount - 1) / (high_ - low_), 0, kCount - 1));
    if (step + 1 < kCount && stepNumber(step + 1) <= value) ++step;
    return step;
}

}  // namespace vellum::viewer
