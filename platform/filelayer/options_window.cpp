// The options window's controls, its parse messages and its "..." button.
#include "filelayer/options_window.h"

#include <algorithm>
#include <cstring>

#include "vellum/file_layer_services.h"

namespace vellum {

OptionsWindow::OptionsWindow(std::string_view options) {
    switches_.addText("TCF", &controlFile, kControlFileRoom);
    switches_.addFlag("DecimalCheck", &checkDecimalPlaces, true, "ON", "OFF");
    for (const std::string& message : switches_.parse(options)) {
        fileLayer().messageBox(message, kTitle, FileLayerServices::Icon::warning);
    }
}

void OptionsWindow::browse() {
    FileLayerServices::FileSelection request;
    request.flags = 0x01;
    request.title = kBrowseTitle;
    request.filter = kBrowseFilter;
    request.fileName = controlFile;
    request.fileNameRoom = kControlFileRoom;
    if (fileLayer().selectFile(request) != 0 || request.fileName.empty()) return;
    controlFile = request.fileName.substr(0, kControlFileRoom - 1);
}

int runOptionsWindow(char* buffer, size_t length,
                     const std::function<bool(OptionsWindow&)>& dialog) {
    if (buffer == nullptr || length == 0) return 0;
    OptionsWindow window(std::string_view(buffer, strnlen(buffer, length)));
    if (!dialog(window)) return 0;
    std::string options = window.options();
    size_t kept = std::min(options.size(), length - 1);
    std::memcpy(buffer, options.data(), kept);
    buffer[kept] = '\0';
    return 1;
}

}  // namespace vellum
