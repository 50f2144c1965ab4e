// QLMviewer, the thesaurus pick-list viewer. Its one argument names the data directory that
// holds the thesaurus files (the current directory when it is left out); the settings file is
// "QLMviewer.INI" in the user's configuration directory.
#include <QApplication>
#include <string>

#include "app/program_body.h"
#include "ini/settings_location.h"
#include "main_window/main_procedure.h"
#include "main_window/message_box_error_manager.h"

int main(int argc, char* argv[]) {
    using namespace vellum::viewer;
    // QApplication takes its own options out of the arguments.
    QApplication application(argc, argv);
    const std::string dataDirectory = argc > 1 ? argv[1] : "";

    MessageBoxErrorManager errors;
    SettingsManager settings(vellum::settingsFilePath(kSettingsFileName));
    MemorySystemSettings system;
    Dictionary dictionary(dataDirectory, errors);
    runProgramBody(settings, system, dictionary, [&] { runMain(dictionary, settings); });
    endThread(dictionary);
    return 0;
}
