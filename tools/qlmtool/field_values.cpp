// Storing and reading CSV values field by field. A text is converted to Windows-1252 as a
// whole; only when the conversion does not come back to the same UTF-8 is it walked character
// by character to name the first character that has no counterpart.
#include "qlmtool/field_values.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>

#include "charset/charset.h"

namespace vellum::qlmtool {

namespace {

// The length in bytes of the UTF-8 sequence a lead byte starts (1 for a stray byte).
size_t sequenceLength(uint8_t lead) {
    if (lead >= 0xF0 && lead <= 0xF7) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC0) return 2;
    return 1;
}

// The code point of a UTF-8 sequence, or none when it is not well-formed.
std::optional<uint32_t> codePoint(std::string_view sequence) {
    auto lead = static_cast<uint8_t>(sequence[0]);
    if (sequence.size() == 1) return lead < 0x80 ? std::optional<uint32_t>(lead) : std::nullopt;
    uint32_t value = lead & (0x7F >> sequence.size());
    for (size_t i = 1; i < sequence.size(); ++i) {
        auto byte = static_cast<uint8_t>(sequence[i]);
        if ((byte & 0xC0) != 0x80) return std::nullopt;
        value = value << 6 | (byte & 0x3F);
    }
    return value;
}

// What is wrong with the first character of utf8 that does not survive the way to
// Windows-1252 and back, with its position in characters from 1.
std::string unmappableCharacter(std::string_view utf8) {
    size_t position = 1;
    for (size_t at = 0; at < utf8.size(); ++position) {
        size_t length = std::min(sequenceLength(static_cast<uint8_t>(utf8[at])), utf8.size() - at);
        std::string_view sequence = utf8.substr(at, length);
        if (ansiToUtf8(utf8ToAnsi(sequence)) != sequence) {
            std::optional<uint32_t> code = codePoint(sequence);
            char text[96];
            if (code) {
                std::snprintf(text, sizeof text,
                              "character %zu (U+%04X) has no Windows-1252 counterpart", position,
                              *code);
            } else {
                std::snprintf(text, sizeof text, "character %zu is not well-formed UTF-8",
                              position);
            }
            return text;
        }
        at += length;
    }
    return "the text has no Windows-1252 form";
}

std::string storeText(Table& table, uint32_t field, const FieldSpec& declared,
                      std::string_view utf8) {
    std::string ansi = utf8ToAnsi(utf8);
    if (ansiToUtf8(ansi) != utf8) return unmappableCharacter(utf8);
    size_t end = ansi.find_last_not_of(' ');
    size_t length = end == std::string::npos ? 0 : end + 1;
    if (length > declared.elementSize) {
        return "the text is " + std::to_string(length) + " characters long; " + declared.label +
               " holds " + std::to_string(declared.elementSize);
    }
    table.setText(field, ansi);
    return {};
}

// A whole number with an optional minus sign; empty is 0.
std::optional<int64_t> wholeNumber(std::string_view text) {
    if (text.empty()) return 0;
    int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string notWhole(std::string_view text, const FieldSpec& declared) {
    return "'" + std::string(text) + "' is not a whole number that fits " + declared.label;
}

}  // namespace

std::string storeValue(Table& table, uint32_t field, const FieldSpec& declared,
                       std::string_view utf8) {
    switch (declared.type) {
        case kString:
            return storeText(table, field, declared, utf8);
        case kLong: {
            std::optional<int64_t> value = wholeNumber(utf8);
            if (!value || *value < INT32_MIN || *value > INT32_MAX) return notWhole(utf8, declared);
            table.setLong(field, static_cast<int32_t>(*value));
            return {};
        }
        case kDecimal: {
            if (declared.places != 0)
                return declared.label + " has decimal places, which are not supported";
            // A packed decimal of n bytes holds 2n - 1 digits (here at most 18).
            int64_t limit = 1;
            for (uint32_t d = 1; d < 2 * declared.elementSize && d < 19; ++d) limit *= 10;
            std::optional<int64_t> value = wholeNumber(utf8);
            if (!value || *value <= -limit || *value >= limit) return notWhole(utf8, declared);
            table.setDecimal(field, *value);
            return {};
        }
        default:
            return "the type of " + declared.label + " is not supported";
    }
}

std::string fieldValue(const Table& table, uint32_t field, const FieldSpec& declared) {
    switch (declared.type) {
        case kString:
            return ansiToUtf8(table.text(field));
        case kLong:
            return std::to_string(table.longValue(field));
        case kDecimal:
            return std::to_string(table.decimalValue(field));
        default:
            return {};
    }
}

}  // namespace vellum::qlmtool
