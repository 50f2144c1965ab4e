// The program body and the end of its thread: full-window dragging switched off while the main
// window runs and back on only when it was on, the settings file's bookkeeping written at the
// end, and the four table instances closed by the dictionary shutdown and then destroyed in
// the order QLMThesAlias, QLMRelated, QLMKeyword, QLMThes.
#include "app/program_body.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "dictionary/recording_error_manager.h"
#include "filelayer/file_layer.h"
#include "support/temp_dir.h"

namespace vellum::viewer {
namespace {

using enum ThesaurusTable;

class RecordingSystemSettings : public MemorySystemSettings {
  public:
    using MemorySystemSettings::MemorySystemSettings;
    void setDragFullWindows(int value) override {
        writes.push_back(value);
        MemorySystemSettings::setDragFullWindows(value);
    }
    std::vector<int> writes;
};

TEST(ProgramBody, FullWindowDragIsOffWhileTheMainWindowRuns) {
    struct Case {
        int before;
        int duringMain;
        std::vector<int> writes;
    };
    const Case cases[] = {
        {1, 0, {0, 1}}, {0, 0, {}}, {2, 2, {}},  // any value but 1 is left alone
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        test::TempDir dir;
        RecordingErrorManager errors;
        Dictionary dictionary(dir.path(), errors);
        SettingsManager settings(dir.file("QLMviewer.INI"));
        RecordingSystemSettings system(c.before);
        int duringMain = -1;
        runProgramBody(settings, system, dictionary, [&] {
            duringMain = system.getDragFullWindows();
            // The dictionary is started before the main window runs.
            dictionary.openRelations(related, false);
            EXPECT_EQ(dictionary.fileManager(related).use(), 0);
            dictionary.relationManager(related).close();
        });
        EXPECT_EQ(duringMain, c.duringMain);
        EXPECT_EQ(system.writes, c.writes);
        EXPECT_EQ(system.getDragFullWindows(), c.before);
        EXPECT_EQ(test::readFileBytes(settings.path()), "[__Dont_Touch_Me__]\nSectors=0\n");
        endThread(dictionary);
        EXPECT_TRUE(errors.shown().empty());
    }
}

// Notes, through the status records the engine keeps per table instance, when an instance is
// closed (its access mode drops to 0) and when it is destroyed (its record is freed).
class RecordingFileLayer : public PlatformFileLayer {
  public:
    void setStatusAccessMode(StatusRecord* record, int accessMode) override {
        if (accessMode == 0) events.push_back("close " + labels[record]);
        PlatformFileLayer::setStatusAccessMode(record, accessMode);
    }
    void freeStatusRecord(StatusRecord* record) override {
        events.push_back("destroy " + labels[record]);
        PlatformFileLayer::freeStatusRecord(record);
    }
    std::map<StatusRecord*, std::string> labels;
    std::vector<std::string> events;
};

TEST(ProgramBody, TheThreadEndClosesAndThenDestroysTheTables) {
    test::TempDir dir;
    RecordingErrorManager errors;
    Dictionary dictionary(dir.path(), errors);
    dictionary.startUp();
    dictionary.openRelations(keyword, true);
    dictionary.openRelations(related, false);
    RecordingFileLayer recorder;
    for (ThesaurusTable which : kStartUpOrder) {
        ASSERT_EQ(dictionary.fileManager(which).use(), 0);
        recorder.labels[dictionary.table(which).block()->statusRecord] = tableLabel(which);
    }

    FileLayerServices* previous = installFileLayer(&recorder);
    endThread(dictionary);
    installFileLayer(previous);

    // DESTROY closes an instance again before it frees it.
    EXPECT_EQ(
        recorder.events,
        (std::vector<std::string>{
            "close QLMThes", "close QLMKeyword", "close QLMRelated", "close QLMThesAlias",
            "close QLMThesAlias", "destroy QLMThesAlias", "close QLMRelated", "destroy QLMRelated",
            "close QLMKeyword", "destroy QLMKeyword", "close QLMThes", "destroy QLMThes"}));
    EXPECT_TRUE(errors.shown().empty());
}

}  // namespace
}  // namespace vellum::viewer
