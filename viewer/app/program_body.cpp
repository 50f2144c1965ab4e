// The program body's steps and the end of a thread.
#include "app/program_body.h"

#include "filelayer/file_layer.h"

namespace vellum::viewer {

void runProgramBody(SettingsManager& settings, SystemSettings& system, Dictionary& dictionary,
                    const std::function<void()>& runMain) {
    // The error manager needs no binding: file managers hand it the error state of each failed
    // call. Nothing of the viewer uses a text matcher, so none is set up.
    //
    // A settings file that cannot be read or written leaves the window where the desktop puts
    // it; the body has no error path of its own.
    settings.init();
    dictionary.startUp();
    const int savedDrag = system.getDragFullWindows();
    if (savedDrag == 1) system.setDragFullWindows(0);
    runMain();
    if (savedDrag == 1) system.setDragFullWindows(1);
    settings.kill();
}

void endThread(Dictionary& dictionary) {
    dictionary.shutDown();
    clearErrorState();
    for (ThesaurusTable which : {ThesaurusTable::thesAlias, ThesaurusTable::related,
                                 ThesaurusTable::keyword, ThesaurusTable::thes}) {
        dictionary.destroyTable(which);
    }
}

}  // namespace vellum::viewer
