// Decoding field values of record images.
#include "tools/vellum/field_text.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>

#include "charset/charset.h"
#include "vellum/byte_order.h"

namespace vellum::filetool {

namespace {

template <typename Number>
std::string numberText(Number value) {
    char text[64];
    auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

template <typename Number>
Number load(const uint8_t* at) {
    Number value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// Packed decimal: sign half-byte (nonzero: negative), then the digits, two to a byte.
std::string decimalText(std::span<const uint8_t> bytes, unsigned places) {
    std::string digits;
    for (size_t half = 1; half < 2 * bytes.size(); ++half) {
        uint8_t byte = bytes[half / 2];
        unsigned digit = half % 2 == 0 ? byte >> 4 : byte & 0x0F;
        digits.push_back(static_cast<char>('0' + std::min(digit, 9u)));
    }
    if (digits.size() <= places) digits.insert(0, places + 1 - digits.size(), '0');
    size_t point = digits.size() - places;
    size_t first = std::min(digits.find_first_not_of('0'), point - 1);
    std::string text = digits.substr(first, point - first);
    if (places > 0) text += "." + digits.substr(point);
    bool negative = !bytes.empty() && (bytes[0] >> 4) != 0;
    return negative ? "-" + text : text;
}

std::string textOf(const uint8_t* at, size_t length) {
    return ansiToUtf8(std::string(reinterpret_cast<const char*>(at), length));
}

}  // namespace

bool isShownField(const FieldDescriptor& field) { return !field.over && field.type != kGroup; }

std::string elementText(const FieldDescriptor& field, uint32_t element,
                        std::span<const uint8_t> image) {
    uint32_t width = field.elementCount == 0 ? 0 : field.size / field.elementCount;
    if (width == 0) return {};
    std::vector<uint8_t> bytes(width, 0);
    uint64_t start = field.offset + uint64_t{width} * element;
    for (uint32_t i = 0; i < width && start + i < image.size(); ++i) bytes[i] = image[start + i];
    const uint8_t* at = bytes.data();
    switch (field.type) {
        case kByte: return numberText(at[0]);
        case kShort: return width >= 2 ? numberText(load<int16_t>(at)) : "";
        case kUShort: return width >= 2 ? numberText(load16le(at)) : "";
        case kDate: case kTime: case kLong: return width >= 4 ? numberText(load<int32_t>(at)) : "";
        case kULong: return width >= 4 ? numberText(load32le(at)) : "";
        case kSReal: return width >= 4 ? numberText(load<float>(at)) : "";
        case kReal: return width >= 8 ? numberText(load<double>(at)) : "";
        case kDecimal: return decimalText(bytes, field.places);
        case kString: {
            size_t end = std::string_view(reinterpret_cast<const char*>(at), width)
                             .find_last_not_of(' ');
            return textOf(at, end == std::string_view::npos ? 0 : end + 1);
        }
        case kCString:
            return textOf(at, static_cast<size_t>(std::find(at, at + width, 0) - at));
        case kPString: return textOf(at + 1, std::min<size_t>(at[0], width - 1));
        default: {
            static constexpr char kHex[] = "0123456789ABCDEF";
            std::string hex;
            for (uint8_t byte : bytes) {
                hex.push_back(kHex[byte >> 4]);
                hex.push_back(kHex[byte & 0x0F]);
            }
            return hex;
        }
    }
}

std::string fieldText(const FieldDescriptor& field, std::span<const uint8_t> image) {
    std::string text;
    for (uint32_t element = 0; element < field.elementCount; ++element) {
        if (element > 0) text += "; ";
        text += elementText(field, element, image);
    }
    return text;
}

}  // namespace vellum::filetool
