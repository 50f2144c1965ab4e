// The user's configuration directory and the settings files in it.
#include "ini/settings_location.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace vellum {

namespace {

std::string configurationDirectory() {
    // The XDG base directory rules ignore a value that is not an absolute path.
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome != nullptr && configHome[0] == '/') return configHome;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        const passwd* user = ::getpwuid(::getuid());
        home = user != nullptr ? user->pw_dir : "";
    }
    return std::string(home) + "/.config";
}

}  // namespace

std::string settingsFilePath(std::string_view fileName) {
    std::string directory = configurationDirectory();
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);
    return directory + "/" + std::string(fileName);
}

}  // namespace vellum
