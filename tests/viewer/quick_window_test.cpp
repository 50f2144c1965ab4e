// QuickWindow as a whole: its controls at their places in dialog units, its place stored in the
// settings file at closing and restored at the next run (and the first run without the file),
// missing thesaurus files created empty, and a file of another definition reported while the
// window stays usable.
#include <QPushButton>
#include <QTabWidget>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>

#include "browse_lists/dialog_units.h"
#include "filelayer/table.h"
#include "ini/settings_file.h"
#include "ini/settings_location.h"
#include "viewer/viewer_fixture.h"

namespace vellum::viewer::test {
namespace {

TEST_F(ViewerTest, ControlsLieAtTheirPlacesInDialogUnits) {
    openWindow();
    QuickWindow& window = this->window();
    const DialogUnits units(window.font());
    EXPECT_EQ(window.windowTitle(), "Vellum project - example.org");
    EXPECT_EQ(window.size(), units.size(420, 269));
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "the size is fixed";

    struct Place {
        const char* label;
        int x, y, width, height;  // width and height 0: the text's own size
    };
    const Place places[] = {
        {"?STRING1", 9, 233, 0, 0},       {"?STRING2", 9, 245, 0, 0},
        {"?CURRENTTAB", 4, 21, 411, 193}, {"?BROWSE:1", 8, 41, 402, 167},
        {"?LIST", 8, 41, 402, 167},       {"?LIST:2", 8, 41, 402, 167},
        {"?STRING4", 133, 1, 0, 0},       {"?STRING6", 5, 1, 0, 0},
        {"?STRING5", 133, 12, 0, 0},      {"?CLOSE", 365, 251, 49, 14},
        {"?HELP", 328, 251, 11, 14},      {"?STRING7", 9, 218, 149, 10},
        {"?STRING8", 218, 218, 202, 10},  {"?STRING3", 9, 257, 0, 0},
    };
    for (const Place& place : places) {
        SCOPED_TRACE(place.label);
        auto* control = window.findChild<QWidget*>(place.label);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->mapTo(&window, QPoint(0, 0)), units.point(place.x, place.y));
        if (place.width != 0) {
            EXPECT_EQ(control->size(), units.size(place.width, place.height));
        }
    }
    auto* tabs = window.findChild<QTabWidget*>("?CURRENTTAB");
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), "QLM Terms");
    EXPECT_EQ(tabs->tabText(1), "QLM Keywords");
    EXPECT_EQ(tabs->tabText(2), "QLM Related Terms");
    auto* help = window.findChild<QPushButton*>("?HELP");
    EXPECT_FALSE(help->isVisible());
    EXPECT_FALSE(help->isEnabled());
    EXPECT_EQ(window.findChild<QPushButton*>("?CLOSE")->text(), "&Close");
}

// Points the user's configuration directory somewhere else for the life of the object.
class ConfigurationHome {
  public:
    explicit ConfigurationHome(const std::string& path) {
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) old_ = old;
        setenv("XDG_CONFIG_HOME", path.c_str(), 1);
    }
    ~ConfigurationHome() {
        if (old_) {
            setenv("XDG_CONFIG_HOME", old_->c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
    }

  private:
    std::optional<std::string> old_;
};

TEST_F(ViewerTest, WindowPlaceIsStoredAtClosingAndRestoredAtTheNextRun) {
    ConfigurationHome home(config_.path());
    const std::string path = settingsFilePath(kSettingsFileName);
    ASSERT_EQ(path, config_.file("QLMviewer.INI"));
    ASSERT_FALSE(std::filesystem::exists(path));

    using Entries = std::map<std::string, std::optional<std::string>>;
    struct Run {
        std::optional<QPoint> opensAt;  // none: where the window system puts it
        bool opensMinimized;
        std::function<void(QuickWindow&)> beforeClosing;
        Entries stored;  // section "Main" afterwards; none: no such entry
    };
    const Run runs[] = {
        {std::nullopt,
         false,
         [](QuickWindow& w) { w.move(140, 90); },
         {{"Maximize", "No"},
          {"Minimize", "No"},
          {"XPos", "140"},
          {"YPos", "90"},
          {"Width", std::nullopt},
          {"Height", std::nullopt}}},
        {QPoint(140, 90),
         false,
         [](QuickWindow& w) { w.move(60, 45); },
         {{"Maximize", "No"}, {"Minimize", "No"}, {"XPos", "60"}, {"YPos", "45"}}},
        {QPoint(60, 45),
         false,
         [](QuickWindow& w) { w.showMinimized(); },
         {{"Maximize", "No"}, {"Minimize", "Yes"}, {"XPos", std::nullopt}, {"YPos", std::nullopt}}},
        {std::nullopt, true, [](QuickWindow& w) { w.showNormal(); }, {{"Minimize", "No"}}},
    };
    int number = 0;
    for (const Run& run : runs) {
        SCOPED_TRACE(++number);
        openWindow(path);
        EXPECT_EQ(window().testAttribute(Qt::WA_Moved), run.opensAt.has_value());
        if (run.opensAt) {
            EXPECT_EQ(window().pos(), *run.opensAt);
        }
        EXPECT_EQ(window().isMinimized(), run.opensMinimized);
        run.beforeClosing(window());
        closeWindow();
        SettingsFile file(path);
        ASSERT_EQ(file.load(), 0);
        for (const auto& [key, value] : run.stored) {
            EXPECT_EQ(file.find("Main", key), value) << key;
        }
        EXPECT_EQ(file.find("__Dont_Touch_Me__", "Sectors"), "0");
    }
}

TEST_F(ViewerTest, MissingFilesAreCreatedEmptyUnderTheirNames) {
    openWindow();
    for (const char* name : {"QLMThes.vlm", "QLMRELAT.VLM", "QLMKEYWO.VLM"}) {
        EXPECT_TRUE(std::filesystem::exists(data_.file(name))) << name;
    }
    for (const char* label : {kTermsList, kKeywordsList, kRelatedList}) {
        SCOPED_TRACE(label);
        BrowseList& shown = list(label);
        EXPECT_EQ(shown.model().rowCount(), 0);
        typeKey(shown, 'a', QStringLiteral("a"));
        typeKey(shown, Qt::Key_Menu);
        EXPECT_EQ(shown.model().rowCount(), 0);
    }
    EXPECT_TRUE(errors_.shown().empty());
}

TEST_F(ViewerTest, FileOfAnotherDefinitionIsReportedAndTheWindowStaysUsable) {
    writeTerms(data_.path(), {{1, "Armchair", "Preferred", ""}, {2, "Bowl", "Preferred", ""}});
    {
        TableDeclaration other("Other");
        other.name(data_.file("QLMRELAT"))
            .attributes(kAttributeCreate)
            .longField("OTH:Id")
            .string("OTH:Name", 20)
            .key("OTH:KeyId", 0, {1});
        Table table(other);
        ASSERT_EQ(table.create(), 0);
    }
    openWindow();
    ASSERT_EQ(errors_.shown().size(), 1u);
    const ShownMessage& message = errors_.shown().front();
    EXPECT_EQ(message.number, 26);
    EXPECT_EQ(message.title, "File Access Error");
    EXPECT_EQ(message.text.rfind("File QLMRelated could not be opened.  Error: ", 0), 0u)
        << message.text;
    EXPECT_EQ(message.procedure, "Main");

    EXPECT_EQ(list(kRelatedList).model().rowCount(), 0);
    BrowseList& terms = list(kTermsList);
    EXPECT_EQ(column(terms, 0), (std::vector<std::string>{"Armchair", "Bowl"}));
    typeKey(terms, 'b', QStringLiteral("b"));
    doubleClickRow(terms, currentRow(terms));
    EXPECT_EQ(clipboardText(), "Bowl");
    closeWindow();
    EXPECT_EQ(errors_.procedureName(), "") << "the procedure name before Main is back";
    SettingsFile file(config_.file(kSettingsFileName));
    ASSERT_EQ(file.load(), 0);
    EXPECT_EQ(file.find("Main", "Minimize"), "No");
}

}  // namespace
}  // namespace vellum::viewer::test
