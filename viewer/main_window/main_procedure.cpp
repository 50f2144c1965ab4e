// Running the main window in an event loop of its own until it closes.
#include "main_window/main_procedure.h"

#include <QEventLoop>

#include "main_window/quick_window.h"

namespace vellum::viewer {

void runMain(Dictionary& dictionary, SettingsManager& settings) {
    QuickWindow window(dictionary, settings);
    QEventLoop loop;
    QObject::connect(&window, &QuickWindow::closed, &loop, &QEventLoop::quit);
    window.open();
    loop.exec();
}

}  // namespace vellum::viewer
