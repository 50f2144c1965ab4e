// Splitting an order text into its labels and directions.
#include "view/order_text.h"

namespace vellum {

bool parseOrderText(const std::string& text, std::vector<OrderItem>* out) {
    std::vector<OrderItem> items;
    size_t at = 0;
    for (;;) {
        size_t end = text.find(',', at);
        if (end == std::string::npos) end = text.size();
        while (at < end && text[at] == ' ') ++at;
        OrderItem item;
        if (at < end && (text[at] == '+' || text[at] == '-')) item.descending = text[at++] == '-';
        size_t last = end;
        while (last > at && text[last - 1] == ' ') --last;
        if (last == at) return false;
        item.label = text.substr(at, last - at);
        items.push_back(std::move(item));
        if (end == text.size()) break;
        at = end + 1;
    }
    *out = std::move(items);
    return true;
}

}  // namespace vellum
