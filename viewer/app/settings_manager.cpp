// The settings manager's bookkeeping and its use of the settings file.
#include "app/settings_manager.h"

#include <algorithm>
#include <charconv>

namespace vellum::viewer {

namespace {

constexpr const char* kSectors = "Sectors";

std::string sectorKey(size_t number) {
    return std::string(kSectors) + "_" + std::to_string(number);
}

}  // namespace

int SettingsManager::init() {
    sectors_.clear();
    if (int error = file_.load(); error != 0) return error;
    std::string count = file_.read(kBookkeepingSection, kSectors, "0");
    size_t n = 0;
    std::from_chars(count.data(), count.data() + count.size(), n);
    // A damaged count cannot name more lines than the section holds.
    n = std::min(n, file_.keys(kBookkeepingSection).size());
    for (size_t i = 1; i <= n; ++i)
        sectors_.push_back(file_.read(kBookkeepingSection, sectorKey(i)));
    return 0;
}

int SettingsManager::kill() {
    if (int error = file_.load(); error != 0) return error;
    file_.write(kBookkeepingSection, kSectors, std::to_string(sectors_.size()));
    for (size_t i = 0; i < sectors_.size(); ++i) {
        file_.write(kBookkeepingSection, sectorKey(i + 1), sectors_[i]);
    }
    return file_.save();
}

int SettingsManager::storeWindowPlace(std::string_view section, const WindowPlace& window) {
    if (int error = file_.load(); error != 0) return error;
    viewer::storeWindowPlace(file_, section, window);
    return file_.save();
}

std::vector<WindowStep> SettingsManager::restoreWindowPlace(std::string_view section,
                                                            const WindowPlace& window) {
    if (file_.load() != 0) return {};
    return viewer::restoreWindowPlace(file_, section, window);
}

}  // namespace vellum::viewer
