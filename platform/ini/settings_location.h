// Where the user's settings files live: $XDG_CONFIG_HOME when it names an absolute directory,
// otherwise ~/.config, as Linux programs keep them.
#pragma once

#include <string>
#include <string_view>

namespace vellum {

// The path of the settings file fileName in the user's configuration directory. The directory
// is created when it is missing; when that fails the path is still given and writing the file
// fails later with the error.
std::string settingsFilePath(std::string_view fileName);

}  // namespace vellum
