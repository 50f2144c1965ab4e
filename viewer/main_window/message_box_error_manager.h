// The program's error manager: each message of a data-access error is shown in a message box
// with its title and text, over the active window.
#pragma once

#include "dictionary/error_manager.h"

namespace vellum::viewer {

class MessageBoxErrorManager : public ErrorManager {
  protected:
    void show(int messageNumber, const std::string& title, const std::string& text) override;
};

}  // namespace vellum::viewer
