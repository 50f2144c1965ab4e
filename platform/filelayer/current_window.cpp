// The process's current window.
#include "filelayer/current_window.h"

#include <atomic>

namespace vellum {

namespace {
std::atomic<CurrentWindow*> current{nullptr};
}  // namespace

CurrentWindow* setCurrentWindow(CurrentWindow* window) {
    return current.exchange(window);
}

CurrentWindow* currentWindow() {
    return current.load();
}

}  // namespace vellum
