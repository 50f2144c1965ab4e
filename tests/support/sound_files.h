// Checks every table file a test leaves in its temporary directory with the file check of the
// vellum tool (tree, counts, key entries both ways, memo chunks) when the check object goes, and
// fails the test with the problems found; so each file the table-store tests write is shown to
// be sound. Declare it right after the directory: members are destroyed in reverse order, so it
// runs after the test's tables have closed and before the directory is removed.
#pragma once

#include <string>

#include "support/temp_dir.h"

namespace vellum::test {

class SoundFilesCheck {
public:
    explicit SoundFilesCheck(const TempDir& dir) : dir_(dir) {}
    ~SoundFilesCheck();
    SoundFilesCheck(const SoundFilesCheck&) = delete;
    SoundFilesCheck& operator=(const SoundFilesCheck&) = delete;

    // A test that damages its files on purpose leaves them unchecked.
    void skip() { skipped_ = true; }

private:
    const TempDir& dir_;
    bool skipped_ = false;
};

}  // namespace vellum::test
