// A window's place in the settings file, in a section named after the window's procedure:
// "Maximize" and "Minimize" ("Yes" or "No"), and for a window that is neither, "XPos" and
// "YPos", with "Width" and "Height" for a resizable window. Restoring gives the steps the window
// takes, in order, so the Qt window can carry them out.
#pragma once

#include <string_view>
#include <vector>

#include "ini/settings_file.h"

namespace vellum::viewer {

struct WindowPlace {
    bool maximized = false;
    bool minimized = false;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool resizable = false;
};

struct WindowStep {
    enum Kind { unmaximize, move, resize, maximize, minimize };
    Kind kind;
    int first = 0;   // move: x, resize: width
    int second = 0;  // move: y, resize: height

    bool operator==(const WindowStep&) const = default;
};

// Writes the window's state; of XPos, YPos, Width and Height those without a value (the window
// maximized or minimized, or not resizable) are removed instead.
void storeWindowPlace(SettingsFile& file, std::string_view section, const WindowPlace& window);

// The steps that bring the window to the stored place: none when "Maximize" is neither "Yes"
// nor "No" (as on the first run). Otherwise un-maximize when it says "No" and the window is
// maximized, move to XPos and YPos, resize to Width and Height (resizable windows only),
// maximize when it says "Yes" and the window is not, and minimize when "Minimize" is "Yes". A
// coordinate missing from the file keeps the window's own.
std::vector<WindowStep> restoreWindowPlace(const SettingsFile& file, std::string_view section,
                                           const WindowPlace& window);

}  // namespace vellum::viewer
