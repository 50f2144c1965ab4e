// The program body and the end of a thread. The body starts the settings manager and the
// dictionary, switches full-window dragging off while the main window runs (and back on only
// when it was on), and kills the settings manager. The end of a thread shuts the dictionary
// down and hands the thread's four table instances to DESTROY.
#pragma once

#include <functional>

#include "app/settings_manager.h"
#include "app/system_settings.h"
#include "dictionary/dictionary.h"

namespace vellum::viewer {

// runMain runs the main window and returns when it closes.
void runProgramBody(SettingsManager& settings, SystemSettings& system, Dictionary& dictionary,
                    const std::function<void()>& runMain);

// Dictionary shutdown, the thread's error state released, then DESTROY of QLMThesAlias,
// QLMRelated, QLMKeyword and QLMThes, in that order.
void endThread(Dictionary& dictionary);

}  // namespace vellum::viewer
