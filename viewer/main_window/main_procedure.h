// Main, the viewer's one procedure: it opens QuickWindow and returns when the window has closed.
#pragma once

#include "app/settings_manager.h"
#include "dictionary/dictionary.h"

namespace vellum::viewer {

void runMain(Dictionary& dictionary, SettingsManager& settings);

}  // namespace vellum::viewer
