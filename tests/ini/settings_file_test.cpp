// The INI reader and writer: a round trip that keeps every line it was not asked to change,
// names matched without regard to case, the atomic save, and where the settings file lives.
#include "ini/settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "ini/settings_location.h"
#include "support/temp_dir.h"

namespace vellum {
namespace {

namespace fs = std::filesystem;

constexpr const char* kOriginal =
    "; written by hand\n"
    "[Other]\n"
    "Colour = Green \n"
    "\n"
    "[Main]\n"
    "XPos=10\n"
    "; the last place\n"
    "YPos=20\n"
    "\n"
    "[Tail]\r\n"
    "Keep=1\r\n";

TEST(SettingsFile, ChangesOnlyTheLinesItIsAskedToChange) {
    test::TempDir dir;
    std::string path = dir.file("QLMviewer.INI");
    test::writeFileBytes(path, kOriginal);

    SettingsFile file(path);
    ASSERT_EQ(file.load(), 0);
    EXPECT_EQ(file.sections(), (std::vector<std::string>{"Other", "Main", "Tail"}));
    EXPECT_EQ(file.keys("main"), (std::vector<std::string>{"XPos", "YPos"}));

    struct Read {
        const char* section;
        const char* key;
        std::optional<std::string> value;
    };
    const Read reads[] = {
        {"Other", "Colour", "Green"},  // the blanks around the value are dropped
        {"MAIN", "xpos", "10"},        // names match without regard to case
        {"Tail", "Keep", "1"},         // CR LF line ends read as LF
        {"Main", "Width", std::nullopt}, {"Missing", "XPos", std::nullopt},
    };
    for (const Read& r : reads) {
        SCOPED_TRACE(std::string(r.section) + "/" + r.key);
        EXPECT_EQ(file.find(r.section, r.key), r.value);
    }
    EXPECT_EQ(file.read("Main", "Width", "none"), "none");

    file.write("main", "XPOS", "30");      // replaced in place
    file.write("Main", "Maximize", "No");  // after the section's last entry
    file.remove("Main", "YPos");
    file.remove("Main", "Height");      // nothing to remove
    file.write("New", "Key", "Value");  // a new section at the end
    ASSERT_EQ(file.save(), 0);

    EXPECT_EQ(test::readFileBytes(path),
              "; written by hand\n"
              "[Other]\n"
              "Colour = Green \n"
              "\n"
              "[Main]\n"
              "XPOS=30\n"
              "; the last place\n"
              "Maximize=No\n"
              "\n"
              "[Tail]\n"
              "Keep=1\n"
              "\n"
              "[New]\n"
              "Key=Value\n");
    // Only the file itself is left in the directory: the temporary file was renamed over it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    SettingsFile again(path);
    ASSERT_EQ(again.load(), 0);
    EXPECT_EQ(again.read("Main", "XPos"), "30");
    EXPECT_EQ(again.read("New", "key"), "Value");
}

TEST(SettingsFile, AMissingFileReadsEmptyAndIsWrittenWithItsMode) {
    test::TempDir dir;
    SettingsFile file(dir.file("new.ini"));
    ASSERT_EQ(file.load(), 0);
    EXPECT_TRUE(file.sections().empty());
    file.write("Main", "Maximize", "Yes");
    ASSERT_EQ(file.save(), 0);
    EXPECT_EQ(test::readFileBytes(dir.file("new.ini")), "[Main]\nMaximize=Yes\n");

    struct stat status {};
    ASSERT_EQ(::stat(dir.file("new.ini").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
    ASSERT_EQ(::chmod(dir.file("new.ini").c_str(), 0600), 0);
    ASSERT_EQ(file.save(), 0);
    ASSERT_EQ(::stat(dir.file("new.ini").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u) << "a saved file keeps the mode of the one it replaces";

    // A directory that does not exist cannot take the file.
    SettingsFile nowhere(dir.file("missing/new.ini"));
    EXPECT_EQ(nowhere.save(), 2);
}

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(SettingsLocation, XdgConfigHomeElseTheConfigDirectoryOfHome) {
    test::TempDir dir;
    struct Case {
        const char* what;
        std::optional<std::string> configHome;
        std::string expectedDirectory;
    };
    const Case cases[] = {
        {"XDG_CONFIG_HOME", dir.file("xdg"), dir.file("xdg")},
        {"unset", std::nullopt, dir.file("home/.config")},
        {"relative, so ignored", std::string("relative/config"), dir.file("home/.config")},
    };
    ScopedEnvironment home("HOME", dir.file("home").c_str());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedEnvironment configHome("XDG_CONFIG_HOME",
                                     c.configHome ? c.configHome->c_str() : nullptr);
        EXPECT_EQ(settingsFilePath("QLMviewer.INI"), c.expectedDirectory + "/QLMviewer.INI");
        EXPECT_TRUE(fs::is_directory(c.expectedDirectory)) << "the directory is created";
    }
}

}  // namespace
}  // namespace vellum
