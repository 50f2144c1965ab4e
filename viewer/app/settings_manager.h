// The settings manager: the viewer's settings file "QLMviewer.INI". Initialisation reads the
// manager's bookkeeping from the section "__Dont_Touch_Me__" ("Sectors" = n and the lines
// "Sectors_1" to "Sectors_n"); kill writes it back. Window places are read from the file as it
// is on disk and written to it at once, as private-profile files are, so other sections and
// other programs' changes stay.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/window_place.h"
#include "ini/settings_file.h"

namespace vellum::viewer {

inline constexpr const char* kSettingsFileName = "QLMviewer.INI";
inline constexpr const char* kBookkeepingSection = "__Dont_Touch_Me__";

class SettingsManager {
  public:
    explicit SettingsManager(std::string path) : file_(std::move(path)) {}

    const std::string& path() const { return file_.path(); }
    // The bookkeeping lines read by init; the viewer adds none.
    const std::vector<std::string>& sectors() const { return sectors_; }

    // Reads the bookkeeping; a missing file holds none. 0 or the error reading the file.
    int init();
    // Writes "Sectors" with the count of the lines and each line under its number.
    int kill();

    int storeWindowPlace(std::string_view section, const WindowPlace& window);
    // No steps when the file cannot be read.
    std::vector<WindowStep> restoreWindowPlace(std::string_view section, const WindowPlace& window);

  private:
    SettingsFile file_;
    std::vector<std::string> sectors_;
};

}  // namespace vellum::viewer
