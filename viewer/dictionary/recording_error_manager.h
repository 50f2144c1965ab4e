// An error manager that shows nothing and keeps every message it was asked to show, with the
// procedure name current at the time, so that tests can check what a user would have seen.
#pragma once

#include <string>
#include <vector>

#include "dictionary/error_manager.h"

namespace vellum::viewer {

struct ShownMessage {
    int number = 0;
    std::string title;
    std::string text;
    std::string procedure;

    bool operator==(const ShownMessage&) const = default;
};

class RecordingErrorManager : public ErrorManager {
  public:
    const std::vector<ShownMessage>& shown() const { return shown_; }
    void forget() { shown_.clear(); }

  protected:
    void show(int messageNumber, const std::string& title, const std::string& text) override;

  private:
    std::vector<ShownMessage> shown_;
};

}  // namespace vellum::viewer
