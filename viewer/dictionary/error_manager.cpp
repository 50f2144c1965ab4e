// Placeholder substitution and the description of engine errors in messages.
#include "dictionary/error_manager.h"

#include <array>
#include <utility>

#include "vellum/error_codes.h"

namespace vellum::viewer {

std::string substituteMessage(std::string_view text, const MessageValues& values) {
    const std::array<std::pair<std::string_view, const std::string*>, 4> placeholders = {{
        {"%File", &values.file},
        {"%ErrorText", &values.errorText},
        {"%Field", &values.field},
        {"%Message", &values.message},
    }};
    std::string result;
    size_t at = 0;
    while (at < text.size()) {
        bool replaced = false;
        if (text[at] == '%') {
            for (const auto& [name, value] : placeholders) {
                if (text.substr(at, name.size()) == name) {
                    result += *value;
                    at += name.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) result += text[at++];
    }
    return result;
}

std::string errorDescription(int code, std::string_view fileError) {
    std::string_view text = errorText(code);
    std::string description = text.empty() ? "Error " + std::to_string(code)
                                           : std::string(text) + " (" + std::to_string(code) + ")";
    if (!fileError.empty()) description += " - " + std::string(fileError);
    return description;
}

void ErrorManager::report(const MessageText& message, const MessageValues& values) {
    show(message.number, std::string(message.title), substituteMessage(message.text, values));
}

}  // namespace vellum::viewer
