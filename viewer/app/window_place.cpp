// Storing and restoring a window's place.
#include "app/window_place.h"

#include <charconv>
#include <optional>
#include <string>

namespace vellum::viewer {

namespace {

constexpr std::string_view kMaximize = "Maximize";
constexpr std::string_view kMinimize = "Minimize";
constexpr std::string_view kXPos = "XPos";
constexpr std::string_view kYPos = "YPos";
constexpr std::string_view kWidth = "Width";
constexpr std::string_view kHeight = "Height";

const char* yesNo(bool value) {
    return value ? "Yes" : "No";
}

// Writes a number, or removes the entry when there is none.
void writeNumber(SettingsFile& file, std::string_view section, std::string_view key,
                 std::optional<int> value) {
    if (value) {
        file.write(section, key, std::to_string(*value));
    } else {
        file.remove(section, key);
    }
}

int numberOr(const SettingsFile& file, std::string_view section, std::string_view key,
             int fallback) {
    std::optional<std::string> text = file.find(section, key);
    if (!text) return fallback;
    int value = 0;
    auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    return error == std::errc() && end == text->data() + text->size() ? value : fallback;
}

// "Yes", "No" or neither, without regard to letter case.
std::optional<bool> yesOrNo(const SettingsFile& file, std::string_view section,
                            std::string_view key) {
    std::string text = file.read(section, key);
    for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (text == "yes") return true;
    if (text == "no") return false;
    return std::nullopt;
}

}  // namespace

void storeWindowPlace(SettingsFile& file, std::string_view section, const WindowPlace& window) {
    file.write(section, kMaximize, yesNo(window.maximized));
    file.write(section, kMinimize, yesNo(window.minimized));
    bool normal = !window.maximized && !window.minimized;
    bool sized = normal && window.resizable;
    writeNumber(file, section, kXPos, normal ? std::optional(window.x) : std::nullopt);
    writeNumber(file, section, kYPos, normal ? std::optional(window.y) : std::nullopt);
    writeNumber(file, section, kWidth, sized ? std::optional(window.width) : std::nullopt);
    writeNumber(file, section, kHeight, sized ? std::optional(window.height) : std::nullopt);
}

std::vector<WindowStep> restoreWindowPlace(const SettingsFile& file, std::string_view section,
                                           const WindowPlace& window) {
    std::optional<bool> maximize = yesOrNo(file, section, kMaximize);
    if (!maximize) return {};
    std::vector<WindowStep> steps;
    if (window.maximized && !*maximize) steps.push_back({WindowStep::unmaximize});
    if (file.find(section, kXPos) || file.find(section, kYPos)) {
        steps.push_back({WindowStep::move, numberOr(file, section, kXPos, window.x),
                         numberOr(file, section, kYPos, window.y)});
    }
    if (window.resizable && (file.find(section, kWidth) || file.find(section, kHeight))) {
        steps.push_back({WindowStep::resize, numberOr(file, section, kWidth, window.width),
                         numberOr(file, section, kHeight, window.height)});
    }
    if (*maximize && !window.maximized) steps.push_back({WindowStep::maximize});
    if (yesOrNo(file, section, kMinimize) == std::optional(true)) {
        steps.push_back({WindowStep::minimize});
    }
    return steps;
}

}  // namespace vellum::viewer
