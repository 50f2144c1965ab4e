// Putting the position strings of a row into one view position and taking them out again.
#include "view/view_position.h"

namespace vellum {

namespace {

constexpr size_t kRecordPosition = 4;  // POSITIONfile: the record number
const std::string kNoRecord(kRecordPosition, '\0');

}  // namespace

size_t viewPositionLength(size_t orderLength, size_t joins) {
    return 2 + orderLength + kRecordPosition * (1 + joins);
}

std::string encodeViewPosition(const ViewPosition& position) {
    std::string text;
    text.push_back(static_cast<char>(position.order.size() >> 8));
    text.push_back(static_cast<char>(position.order.size() & 0xFF));
    text += position.order;
    text += position.primary;
    for (const std::string& joined : position.joined) text += joined.empty() ? kNoRecord : joined;
    return text;
}

bool decodeViewPosition(const std::string& text, size_t joins, ViewPosition* out) {
    if (text.size() < 2) return false;
    size_t orderLength = static_cast<size_t>(static_cast<unsigned char>(text[0])) << 8 |
                         static_cast<unsigned char>(text[1]);
    if (text.size() != viewPositionLength(orderLength, joins)) return false;
    ViewPosition position;
    position.order = text.substr(2, orderLength);
    size_t at = 2 + orderLength;
    position.primary = text.substr(at, kRecordPosition);
    for (size_t j = 0; j < joins; ++j) {
        at += kRecordPosition;
        std::string joined = text.substr(at, kRecordPosition);
        position.joined.push_back(joined == kNoRecord ? std::string() : joined);
    }
    *out = std::move(position);
    return true;
}

}  // namespace vellum
