// A fixture for tests of the entry tree and its cursors: a new, empty table file in a directory
// of the test's own, opened for reading and writing (deny none) in a write bracket, under a fatal
// trap; reopening it, and the check of the whole tree.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "pagestore/page_file.h"
#include "pagestore/tree_check.h"
#include "support/temp_dir.h"
#include "vellum/fatal.h"

namespace vellum::test {

class NewFileTest : public ::testing::Test {
protected:
    // Makes the file `name` of the directory anew and opens it with a write bracket.
    void openNew(const std::string& name) {
        // A new object for every file: a PageFile is not reused for another file after close.
        file_ = std::make_unique<PageFile>();
        path_ = dir_.file(name);
        writeFileBytes(path_, "");
        ASSERT_EQ(file_->open(path_, 0x42, ""), 0);
        file_->beginWrite();
    }
    void reopen(bool write = true) {
        file_->close();
        ASSERT_EQ(file_->open(path_, 0x42, ""), 0);
        if (write) file_->beginWrite();
    }
    // Checks the whole tree. Before a commit, slots freed by removals leave holes in the class
    // ranges that the commit packs, so range problems count only in a committed file.
    TreeCheckReport expectSound(bool committed = true) {
        TreeCheckReport report = checkTree(*file_);
        std::string problems;
        for (const std::string& problem : report.problems) {
            if (committed || problem.rfind("range ", 0) != 0) problems += problem + "\n";
        }
        EXPECT_EQ(problems, "");
        return report;
    }

    FatalTrap trap_;
    TempDir dir_;
    std::string path_;
    std::unique_ptr<PageFile> file_;
};

}  // namespace vellum::test
