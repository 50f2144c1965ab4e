// LOGOUT, COMMIT and ROLLBACK through the driver entry over two tables in two files of two
// folders: ROLLBACK leaves both files as before, COMMIT makes the changes to both visible.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "driver/driver_fixture.h"
#include "pagestore/commit_support.h"
#include "pagestore/page_file.h"
#include "pagestore/transaction_set.h"
#include "support/temp_dir.h"
#include "vellum/byte_order.h"
#include "vellum/error_codes.h"
#include "vellum/operation_codes.h"

namespace vellum {
namespace {

using test::DriverTable;
namespace fs = std::filesystem;

class DriverTransaction : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(dir_.file("a"));
        fs::create_directory(dir_.file("b"));
        ASSERT_EQ(first_.createAndOpen(0x42), 0);
        ASSERT_EQ(second_.createAndOpen(0x42), 0);
        ASSERT_EQ(add(first_, 1, "before"), 0);
        ASSERT_EQ(add(second_, 1, "before"), 0);
    }

    static int add(DriverTable& table, int32_t id, const std::string& name) {
        std::vector<uint8_t>& record = table.record();
        std::fill(record.begin(), record.end(), 0);
        store32le(record.data(), static_cast<uint32_t>(id));
        std::memcpy(record.data() + 4, name.data(), std::min<size_t>(name.size(), 20));
        return table.call(kADD).error;
    }

    // The records stored in a file as a PageFile of its own reads them from the disk: entries
    // keyed by table number, 0xF3 and record number.
    static int recordsOnDisk(const std::string& path) {
        FatalTrap trap("test file");
        PageFile file;
        EXPECT_EQ(file.open(path, 0x40, ""), 0);
        int count = 0;
        for (const auto& [key, data] : test::readContents(file)) {
            if (key.size() == 9 && static_cast<uint8_t>(key[4]) == 0xF3) ++count;
        }
        file.close();
        return count;
    }

    // LOGOUT on both tables and a record added to each.
    void changeBoth() {
        ASSERT_EQ(first_.call(kLOGOUT).error, 0);
        ASSERT_EQ(second_.call(kLOGOUT).error, 0);
        ASSERT_EQ(add(first_, 2, "inside"), 0);
        ASSERT_EQ(add(second_, 2, "inside"), 0);
        EXPECT_EQ(first_.call(kRECORDSfile).value, 2);
        EXPECT_EQ(second_.call(kRECORDSfile).value, 2);
    }

    test::TempDir dir_;
    const std::string pathA_ = dir_.file("a") + "/one.vlm";
    const std::string pathB_ = dir_.file("b") + "/two.vlm";
    DriverTable first_{pathA_};
    DriverTable second_{pathB_};
};

TEST_F(DriverTransaction, rollbackLeavesBothFilesAsBefore) {
    changeBoth();
    EXPECT_EQ(first_.call(kROLLBACK).error, 0);
    EXPECT_EQ(second_.call(kROLLBACK).error, 0);
    EXPECT_EQ(transactionSet().enlistedCount(), 0u);
    EXPECT_EQ(first_.call(kRECORDSfile).value, 1);
    EXPECT_EQ(second_.call(kRECORDSfile).value, 1);
    EXPECT_EQ(recordsOnDisk(pathA_), 1);
    EXPECT_EQ(recordsOnDisk(pathB_), 1);
    EXPECT_FALSE(fs::exists(dir_.file("a") + "/vellum.tcf")) << "nothing was committed";
}

TEST_F(DriverTransaction, commitMakesTheChangesToBothFilesVisible) {
    changeBoth();
    // The COMMIT of one table commits the whole transaction; that of the other finds nothing
    // left to do.
    EXPECT_EQ(first_.call(kCOMMIT).error, 0);
    EXPECT_EQ(transactionSet().enlistedCount(), 0u);
    EXPECT_EQ(recordsOnDisk(pathB_), 2);
    EXPECT_EQ(second_.call(kCOMMIT).error, 0);
    EXPECT_EQ(recordsOnDisk(pathA_), 2);
    EXPECT_EQ(recordsOnDisk(pathB_), 2);
    EXPECT_TRUE(fs::exists(dir_.file("a") + "/vellum.tcf"));
    EXPECT_TRUE(fs::exists(dir_.file("b") + "/vellum.tcf"));
    EXPECT_FALSE(first_.table()->pageFile()->isBracketOpen());
    EXPECT_FALSE(second_.table()->pageFile()->isBracketOpen());
    // Outside the transaction each table commits on its own again.
    EXPECT_EQ(add(first_, 3, "after"), 0);
    EXPECT_EQ(recordsOnDisk(pathA_), 3);
}

TEST_F(DriverTransaction, aTransactionOverOneTableUsesNoControlFile) {
    ASSERT_EQ(first_.call(kLOGOUT).error, 0);
    ASSERT_EQ(add(first_, 2, "inside"), 0);
    EXPECT_EQ(recordsOnDisk(pathA_), 1) << "held back until COMMIT";
    EXPECT_EQ(first_.call(kCOMMIT).error, 0);
    EXPECT_EQ(recordsOnDisk(pathA_), 2);
    EXPECT_FALSE(fs::exists(dir_.file("a") + "/vellum.tcf"));
}

}  // namespace
}  // namespace vellum
