// The view position of a row: what the view needs to find the row's records again and to go on
// from the row in the view's order. It holds engine position strings:
//   2 bytes  the length n of the order part (big-endian)
//   n bytes  the row's place in the order: POSITIONkey of the primary record in its key, or
//            POSITIONfile of the row's sort record in a header order
//   4 bytes  POSITIONfile of the primary record
//   4 bytes  per join, POSITIONfile of the joined record; zero when the link found none
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vellum {

// The most bytes a view position may take.
constexpr size_t kMaxViewPosition = 1024;

struct ViewPosition {
    std::string order;
    std::string primary;
    std::vector<std::string> joined;  // an empty string for a join that found nothing
};

// The length of a position with an order part of orderLength bytes and joins joins.
size_t viewPositionLength(size_t orderLength, size_t joins);

std::string encodeViewPosition(const ViewPosition& position);

// The parts of a position made for a view with joins joins; false when text is none.
bool decodeViewPosition(const std::string& text, size_t joins, ViewPosition* out);

}  // namespace vellum
