// The file check of every table file in a test's directory.
#include "support/sound_files.h"

#include <gtest/gtest.h>
#include <strings.h>

#include <filesystem>
#include <sstream>

#include "tools/vellum/commands.h"

namespace vellum::test {

SoundFilesCheck::~SoundFilesCheck() {
    if (skipped_) return;
    namespace fs = std::filesystem;
    std::error_code error;
    for (const auto& item : fs::recursive_directory_iterator(dir_.path(), error)) {
        if (!item.is_regular_file() || strcasecmp(item.path().extension().c_str(), ".vlm") != 0) {
            continue;
        }
        std::ostringstream problems;
        filetool::ReadOnlyFile file;
        int status = file.open(item.path().string(), "", problems);
        if (status == filetool::kSuccess) status = filetool::checkFile(file, problems);
        EXPECT_EQ(status, filetool::kSuccess) << item.path() << ":\n" << problems.str();
    }
}

}  // namespace vellum::test
