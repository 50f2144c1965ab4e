// The step locator of a list: a typed character first steps one row down; when the locator
// field of that row begins with the character (without regard to case) the list stays there, so
// typing the same letter again steps through the entries that begin with it. Otherwise the list
// is positioned at the character in upper case, followed by 0xFE when the current order sorts
// the locator field descending, which in such an order stands above every entry beginning with
// the character. Texts are the records' Windows-1252 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vellum::viewer {

class StepLocator {
  public:
    // Binds the locator to a field of the list's current order (the key's field, or the first
    // field of a header order) and that field's direction.
    void bind(std::string label, bool descending);

    const std::string& label() const { return label_; }
    // Whether the field's text begins with c, compared without regard to case.
    bool matches(std::string_view field, uint8_t c) const;
    // The value the list is positioned at when the next row does not match.
    std::string value(uint8_t c) const;

  private:
    std::string label_;
    bool descending_ = false;
};

// A byte in upper case, by the current character tables.
uint8_t upperCase(uint8_t c);

}  // namespace vellum::viewer
