// The order text of a header sort: field labels separated by commas, each after optional spaces
// and an optional "+" (ascending) or "-" (descending), as in "+QLM:Status,-QLM:Term".
#pragma once

#include <string>
#include <vector>

namespace vellum {

struct OrderItem {
    std::string label;
    bool descending = false;
};

// The items of a text; false when an item names nothing.
bool parseOrderText(const std::string& text, std::vector<OrderItem>* out);

}  // namespace vellum
