// Table addresses: where "\!" splits an address, the upper-case table name, completing the file
// name to a full path with ".VLM", refused names, and the full name rebuilt after an open.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "support/temp_dir.h"
#include "tablestore/table_address.h"

namespace vellum {
namespace {

std::string realPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    std::string result = resolved != nullptr ? resolved : path;
    std::free(resolved);
    return result;
}

std::string currentDirectory() {
    char buffer[PATH_MAX];
    return ::getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
}

class TableAddressTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = realPath(dir_.path());
        ASSERT_EQ(::mkdir((root_ + "/sub.d").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((root_ + "/real").c_str(), 0755), 0);
        ASSERT_EQ(::symlink((root_ + "/real").c_str(), (root_ + "/link").c_str()), 0);
    }

    test::TempDir dir_;
    std::string root_;
};

TEST_F(TableAddressTest, SplitsAndCompletesAddresses) {
    struct Case {
        std::string address;
        std::string fileName;
        std::string tableName;
    };
    const std::string r = root_;
    const std::string cwd = currentDirectory();
    const std::vector<Case> cases = {
        {r + "/data.vlm", r + "/data.vlm", "UNNAMED"},
        {r + "/data.vlm\\!people", r + "/data.vlm", "PEOPLE"},
        {r + "/data.vlm\\!MiXed_Case9", r + "/data.vlm", "MIXED_CASE9"},
        {r + "/data\\!t", r + "/data.VLM", "T"},
        {r + "/data", r + "/data.VLM", "UNNAMED"},
        {r + "/sub.d/data", r + "/sub.d/data.VLM", "UNNAMED"},
        {r + "/data.", r + "/data.", "UNNAMED"},
        {r + "/data.tar.gz", r + "/data.tar.gz", "UNNAMED"},
        {r + "\\sub.d\\data.vlm", r + "/sub.d/data.vlm", "UNNAMED"},
        // "\!" after an existing directory is part of the path.
        {r + "\\!names.dat", r + "/!names.dat", "UNNAMED"},
        {r + "\\!names.dat\\!keywords", r + "/!names.dat", "KEYWORDS"},
        {r + "/sub.d\\!x\\!y", r + "/sub.d/!x.VLM", "Y"},
        // After a name that is not a directory it separates the table.
        {r + "/missing\\!names.dat", r + "/missing.VLM", "NAMES.DAT"},
        // Only the first separator splits; the rest is the table name.
        {r + "/a.vlm\\!b\\!c", r + "/a.vlm", "B\\!C"},
        // The directory part is resolved, the file name kept as given.
        {r + "/sub.d/../data.vlm", r + "/data.vlm", "UNNAMED"},
        {r + "/link/data.vlm", r + "/real/data.vlm", "UNNAMED"},
        {r + "//sub.d/./data.vlm", r + "/sub.d/data.vlm", "UNNAMED"},
        // The last component is kept as given even when it is a symbolic link.
        {r + "/link", r + "/link.VLM", "UNNAMED"},
        // A directory that does not exist is kept as given.
        {"/nonexistent-vellum-dir/x", "/nonexistent-vellum-dir/x.VLM", "UNNAMED"},
        // A relative name is taken from the current directory.
        {"thes.vlm\\!terms", cwd + "/thes.vlm", "TERMS"},
        {"QLMRELAT", cwd + "/QLMRELAT.VLM", "UNNAMED"},
        // A separator with nothing after it names no table.
        {r + "/data.vlm\\!", r + "/data.vlm", "UNNAMED"},
        // Only a to z change case.
        {r + "/d.vlm\\!abc\xC3\xA9z", r + "/d.vlm", "ABC\xC3\xA9Z"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        TableAddress address;
        ASSERT_EQ(splitTableAddress(c.address, &address), 0);
        EXPECT_EQ(address.fileName, c.fileName);
        EXPECT_EQ(address.tableName, c.tableName);
    }
}

TEST_F(TableAddressTest, RefusesUnusableFileNames) {
    const std::vector<std::string> cases = {
        "",
        "   ",
        "\\!table",
        "   \\!table",
        root_ + "/",
        root_ + "/sub.d\\",
        "/",
        std::string(PATH_MAX + 1, 'a'),
        root_ + "/" + std::string(PATH_MAX, 'a') + "\\!t",
    };
    for (const std::string& name : cases) {
        SCOPED_TRACE(name.substr(0, 80));
        TableAddress address{"unchanged", "UNCHANGED"};
        EXPECT_EQ(splitTableAddress(name, &address), 45);
        EXPECT_EQ(address.fileName, "unchanged");
        EXPECT_EQ(address.tableName, "UNCHANGED");
    }
}

TEST_F(TableAddressTest, RebuildsTheFullName) {
    struct Case {
        std::string address;
        std::string fullName;
    };
    const std::vector<Case> cases = {
        {root_ + "/data.vlm", root_ + "/data.vlm"},
        {root_ + "/data.vlm\\!unnamed", root_ + "/data.vlm"},
        {root_ + "\\data\\!people", root_ + "/data.VLM\\!PEOPLE"},
        {root_ + "\\!names.dat\\!kw", root_ + "/!names.dat\\!KW"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        TableAddress address;
        ASSERT_EQ(splitTableAddress(c.address, &address), 0);
        EXPECT_EQ(fullTableName(address), c.fullName);
        // The full name is a fixed point.
        TableAddress again;
        ASSERT_EQ(splitTableAddress(fullTableName(address), &again), 0);
        EXPECT_EQ(again.fileName, address.fileName);
        EXPECT_EQ(again.tableName, address.tableName);
    }
    EXPECT_EQ(fullTableName({"/x/y.vlm", "UNNAMED"}), "/x/y.vlm");
    EXPECT_EQ(fullTableName({"/x/y.vlm", "T1"}), "/x/y.vlm\\!T1");
}

TEST(UpperCaseNameTest, ChangesOnlyAToZ) {
    EXPECT_EQ(upperCaseName("qlmThes_1-az"), "QLMTHES_1-AZ");
    EXPECT_EQ(upperCaseName(""), "");
    EXPECT_EQ(upperCaseName("\xE4\xF6`{@["), "\xE4\xF6`{@[");
}

}  // namespace
}  // namespace vellum
