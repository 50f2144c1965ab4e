// The main window's place in the settings file and the settings manager's bookkeeping: nothing
// restored on a first run, what is stored for each state of a fixed and a resizable window,
// and the steps of restoring.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/settings_manager.h"
#include "ini/settings_file.h"
#include "support/temp_dir.h"

namespace vellum::viewer {

void PrintTo(const WindowStep& step, std::ostream* out) {
    static const char* const kNames[] = {"unmaximize", "move", "resize", "maximize", "minimize"};
    *out << kNames[step.kind] << "(" << step.first << ", " << step.second << ")";
}

namespace {

std::optional<std::string> entry(const std::string& path, const char* section, const char* key) {
    SettingsFile file(path);
    EXPECT_EQ(file.load(), 0);
    return file.find(section, key);
}

TEST(WindowPlace, AFirstRunRestoresNothingAndClosingStoresThePlace) {
    test::TempDir dir;
    SettingsManager settings(dir.file("QLMviewer.INI"));
    ASSERT_EQ(settings.init(), 0);
    EXPECT_TRUE(settings.sectors().empty());
    const WindowPlace fixed{.maximized = false,
                            .minimized = false,
                            .x = 40,
                            .y = 50,
                            .width = 630,
                            .height = 440,
                            .resizable = false};
    EXPECT_TRUE(settings.restoreWindowPlace("Main", fixed).empty());

    ASSERT_EQ(settings.storeWindowPlace("Main", fixed), 0);
    ASSERT_EQ(settings.kill(), 0);
    EXPECT_EQ(test::readFileBytes(settings.path()),
              "[Main]\nMaximize=No\nMinimize=No\nXPos=40\nYPos=50\n"
              "\n[__Dont_Touch_Me__]\nSectors=0\n");

    // The next run opens at the stored place.
    SettingsManager next(settings.path());
    ASSERT_EQ(next.init(), 0);
    WindowPlace elsewhere = fixed;
    elsewhere.x = 0;
    elsewhere.y = 0;
    EXPECT_EQ(next.restoreWindowPlace("Main", elsewhere),
              (std::vector<WindowStep>{{WindowStep::move, 40, 50}}));
}

TEST(WindowPlace, StoringWritesTheStateAndRemovesWhatHasNoValue) {
    struct Case {
        const char* what;
        WindowPlace window;
        std::vector<std::pair<const char*, std::optional<std::string>>> expected;
    };
    const Case cases[] = {
        {"fixed, normal",
         {false, false, 1, 2, 300, 200, false},
         {{"Maximize", "No"},
          {"Minimize", "No"},
          {"XPos", "1"},
          {"YPos", "2"},
          {"Width", std::nullopt},
          {"Height", std::nullopt}}},
        {"fixed, minimized",
         {false, true, 1, 2, 300, 200, false},
         {{"Maximize", "No"},
          {"Minimize", "Yes"},
          {"XPos", std::nullopt},
          {"YPos", std::nullopt},
          {"Width", std::nullopt},
          {"Height", std::nullopt}}},
        {"resizable, normal",
         {false, false, -5, 7, 300, 200, true},
         {{"Maximize", "No"},
          {"Minimize", "No"},
          {"XPos", "-5"},
          {"YPos", "7"},
          {"Width", "300"},
          {"Height", "200"}}},
        {"resizable, maximized",
         {true, false, 1, 2, 300, 200, true},
         {{"Maximize", "Yes"},
          {"Minimize", "No"},
          {"XPos", std::nullopt},
          {"YPos", std::nullopt},
          {"Width", std::nullopt},
          {"Height", std::nullopt}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        std::string path = dir.file("QLMviewer.INI");
        // A place stored before, with every entry, in a file that holds other settings too.
        test::writeFileBytes(path,
                             "[Main]\nMaximize=No\nMinimize=No\nXPos=9\nYPos=9\nWidth=9\n"
                             "Height=9\n[Other]\nKeep=this\n");
        SettingsManager settings(path);
        ASSERT_EQ(settings.storeWindowPlace("Main", c.window), 0);
        for (const auto& [key, value] : c.expected)
            EXPECT_EQ(entry(path, "Main", key), value) << key;
        EXPECT_EQ(entry(path, "Other", "Keep"), "this");
    }
}

TEST(WindowPlace, RestoringTakesItsStepsInOrder) {
    using enum WindowStep::Kind;
    const WindowPlace normal{false, false, 3, 4, 100, 80, false};
    WindowPlace maximized = normal;
    maximized.maximized = true;
    WindowPlace resizable = normal;
    resizable.resizable = true;
    struct Case {
        const char* what;
        const char* file;
        WindowPlace window;
        std::vector<WindowStep> steps;
    };
    const Case cases[] = {
        {"Maximize neither Yes nor No", "[Main]\nMaximize=Perhaps\nXPos=1\nYPos=2\n", normal, {}},
        {"maximized window, stored No",
         "[Main]\nMaximize=No\nMinimize=No\nXPos=1\nYPos=2\n",
         maximized,
         {{unmaximize}, {move, 1, 2}}},
        {"stored Yes, window normal", "[Main]\nMaximize=Yes\nMinimize=No\n", normal, {{maximize}}},
        {"stored Yes, window maximized", "[Main]\nMaximize=yes\n", maximized, {}},
        {"minimized", "[Main]\nMaximize=No\nMinimize=Yes\n", normal, {{minimize}}},
        {"one coordinate", "[Main]\nMaximize=No\nYPos=20\n", normal, {{move, 3, 20}}},
        {"fixed window ignores the size",
         "[Main]\nMaximize=No\nXPos=1\nYPos=2\nWidth=9\nHeight=8\n",
         normal,
         {{move, 1, 2}}},
        {"resizable window takes it",
         "[Main]\nMaximize=Yes\nMinimize=Yes\nXPos=1\nYPos=2\nWidth=9\nHeight=8\n",
         resizable,
         {{move, 1, 2}, {resize, 9, 8}, {maximize}, {minimize}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        test::writeFileBytes(dir.file("QLMviewer.INI"), c.file);
        SettingsManager settings(dir.file("QLMviewer.INI"));
        EXPECT_EQ(settings.restoreWindowPlace("Main", c.window), c.steps);
    }
}

TEST(SettingsManager, KeepsItsBookkeepingLines) {
    test::TempDir dir;
    std::string path = dir.file("QLMviewer.INI");
    test::writeFileBytes(path, "[__Dont_Touch_Me__]\nSectors=2\nSectors_1=a,b\nSectors_2=c\n");
    SettingsManager settings(path);
    ASSERT_EQ(settings.init(), 0);
    EXPECT_EQ(settings.sectors(), (std::vector<std::string>{"a,b", "c"}));
    test::writeFileBytes(path, "[Main]\nMaximize=No\n");
    ASSERT_EQ(settings.kill(), 0);
    EXPECT_EQ(
        test::readFileBytes(path),
        "[Main]\nMaximize=No\n\n[__Dont_Touch_Me__]\nSectors=2\nSectors_1=a,b\nSectors_2=c\n");
}

}  // namespace
}  // namespace vellum::viewer
