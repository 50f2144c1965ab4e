// Reading the texts of a declaration by their length rules.
#include "vellum/control_blocks.h"

#include <cstring>

namespace vellum {

std::optional<std::string> declaredText(const DeclaredText& text, bool keepTrailingBlanks) {
    if (text.text == nullptr) return std::nullopt;
    if (text.length == -1) return std::string(text.text);
    if (text.length == -2) {
        auto length = static_cast<unsigned char>(text.text[0]);
        return std::string(text.text + 1, length);
    }
    if (text.length < 0) return std::string();
    std::string result(text.text, static_cast<size_t>(text.length));
    if (!keepTrailingBlanks) {
        size_t end = result.find_last_not_of(' ');
        result.erase(end == std::string::npos ? 0 : end + 1);
    }
    return result;
}

}  // namespace vellum
