// The application's current window as the file layer sees it: where the engine posts window
// messages (0xB020 starts a deferred build) and sends numbered events (0xA241 build progress,
// 0xA242 build finished). The viewer installs its main window; tests install scripted stand-ins.
#pragma once

#include <cstdint>

namespace vellum {

class CurrentWindow {
public:
    virtual ~CurrentWindow() = default;
    // Queues a message; the window handles it after the current call of the engine.
    virtual void postMessage(uint32_t message, uintptr_t wParam, uintptr_t lParam) = 0;
    // Runs the handler of an event now; its answer (0 goes on, anything else cancels).
    virtual int sendEvent(uint32_t event, int32_t parameter) = 0;
};

// Makes window the current window (nullptr: none); returns the one before.
CurrentWindow* setCurrentWindow(CurrentWindow* window);
// The current window, or none.
CurrentWindow* currentWindow();

}  // namespace vellum
