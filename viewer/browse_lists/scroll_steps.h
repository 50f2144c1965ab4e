// The scroll steps of a list in a text order: the thumb stands for 100 steps between the first
// and the last entry. The leading characters both entries share stay fixed; the next four
// characters of each, folded to upper case, are read as a number whose digits are the
// upper-case letters of the character tables, and the range between the two numbers is divided
// into 100 equal steps. A step's value is the fixed part followed by the step's number written
// back in letters; texts are the records' Windows-1252 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vellum::viewer {

class ScrollSteps {
  public:
    static constexpr int kCount = 100;

    ScrollSteps(std::string_view first, std::string_view last);

    // The value of step n (0 to 99): the list is positioned at the first entry at or after it.
    std::string value(int step) const;
    // The step an entry falls on: the last step whose value is not above it.
    int stepOf(std::string_view text) const;

  private:
    int64_t number(std::string_view rest) const;
    int64_t stepNumber(int step) const;

    std::string letters_;  // the digits, in order
    std::string prefix_;
    int64_t low_ = 0;
    int64_t high_ = 0;
};

}  // namespace vellum::viewer
