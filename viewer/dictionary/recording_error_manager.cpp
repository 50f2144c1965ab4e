// The recording stand-in for the error manager.
#include "dictionary/recording_error_manager.h"

namespace vellum::viewer {

void RecordingErrorManager::show(int messageNumber, const std::string& title,
                                 const std::string& text) {
    shown_.push_back({messageNumber, title, text, procedureName()});
}

}  // namespace vellum::viewer
