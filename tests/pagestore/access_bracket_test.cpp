// The access bracket and its locks between real processes: reader slots, the writer byte, the
// lock on all reader slots, user locks, sharing modes, and a header changed by another process.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>

#include "pagestore/page_file.h"
#include "pagestore/table_file_builder.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace vellum {
namespace {

class AccessBracketTest : public ::testing::Test {
protected:
    void SetUp() override { test::writeLeafFile(path_, 3); }

    test::TempDir dir_;
    std::string path_ = dir_.file("b.vlm");
};

TEST_F(AccessBracketTest, AReaderMovesPastAHeldSlotAndWrapsToZero) {
    test::ChildProcess holder([&](test::ChildProcess& self) {
        PageFile file;
        file.diskFile().setReaderSlot(1022);
        if (file.open(path_, 0x40, "") != 0 || file.diskFile().readerSlot() != 1022) return 1;
        self.signalParent();
        self.waitForParent();
        return 0;
    });
    ASSERT_TRUE(holder.waitForChild());
    PageFile file;
    file.diskFile().setReaderSlot(1022);
    ASSERT_EQ(file.open(path_, 0x40, ""), 0);
    EXPECT_EQ(file.diskFile().readerSlot(), 0u);
    holder.signalChild();
    EXPECT_EQ(holder.join(), 0);
}

TEST_F(AccessBracketTest, ASecondWriterWaitsForTheFirstToEndItsBracket) {
    test::ChildProcess writer([&](test::ChildProcess& self) {
        PageFile file;
        if (file.open(path_, 0x42, "") != 0) return 1;
        file.beginWrite();
        if (file.refreshHeader(false) != 0) return 2;
        self.signalParent();
        self.waitForParent();
        usleep(100 * 1000);
        file.endBracket();
        self.signalParent();
        self.waitForParent();
        return 0;
    });
    ASSERT_TRUE(writer.waitForChild());
    PageFile file;
    ASSERT_EQ(file.open(path_, 0x42, ""), 0) << "readers are not kept out by a writer";
    file.beginWrite();
    EXPECT_EQ(file.refreshHeader(false), 5);
    EXPECT_FALSE(file.isBracketOpen());
    writer.signalChild();
    EXPECT_EQ(file.refreshHeader(true), 0);
    EXPECT_TRUE(writer.waitForChild(0)) << "the bracket opened only after the other one ended";
    writer.signalChild();
    EXPECT_EQ(writer.join(), 0);
}

TEST_F(AccessBracketTest, TheLockOnAllReaderSlotsKeepsNewReadersOut) {
    test::ChildProcess writer([&](test::ChildProcess& self) {
        PageFile file;
        if (file.open(path_, 0x42, "") != 0) return 1;
        file.beginWrite();
        file.excludeReaders(true);
        self.signalParent();
        self.waitForParent();
        file.excludeReaders(false);
        self.signalParent();
        self.waitForParent();
        return 0;
    });
    ASSERT_TRUE(writer.waitForChild());
    {
        PageFile reader;
        EXPECT_EQ(reader.open(path_, 0x40, ""), 5);
        EXPECT_FALSE(reader.isOpened());
    }
    writer.signalChild();
    ASSERT_TRUE(writer.waitForChild());
    PageFile reader;
    EXPECT_EQ(reader.open(path_, 0x40, ""), 0);
    writer.signalChild();
    EXPECT_EQ(writer.join(), 0);
}

TEST_F(AccessBracketTest, SharingModesRefuseConflictingOpens) {
    struct Case {
        int held, requested, expected;
    };
    const Case cases[] = {
        {0x22, 0x42, 5},  // deny write refuses a writer
        {0x22, 0x40, 0},  // but admits a reader
        {0x12, 0x40, 5},  // deny all refuses everything
        {0x12, 0x12, 5},
        {0x42, 0x22, 5},  // a writer already in refuses a deny-write open
        {0x40, 0x22, 0},  // a reader does not
        {0x42, 0x42, 0},
    };
    for (const Case& c : cases) {
        test::ChildProcess holder([&](test::ChildProcess& self) {
            PageFile file;
            if (file.open(path_, c.held, "") != 0) return 1;
            self.signalParent();
            self.waitForParent();
            return 0;
        });
        ASSERT_TRUE(holder.waitForChild());
        PageFile file;
        EXPECT_EQ(file.open(path_, c.requested, ""), c.expected)
            << std::hex << c.held << " then " << c.requested;
        holder.signalChild();
        EXPECT_EQ(holder.join(), 0);
    }
}

TEST_F(AccessBracketTest, UserLocksNestAndAreReleasedByTheLastUnlock) {
    auto otherProcessCanLock = [&](uint32_t n) {
        test::ChildProcess other([&](test::ChildProcess&) {
            PageFile file;
            if (file.open(path_, 0x42, "") != 0) return 2;
            int result = file.lockUser(nullptr, n);
            return result == 0 ? 0 : 1;
        });
        return other.join() == 0;
    };
    PageFile file;
    ASSERT_EQ(file.open(path_, 0x42, ""), 0);
    ASSERT_EQ(file.lockUser(nullptr, 42), 0);
    ASSERT_EQ(file.lockUser(nullptr, 42), 0);
    EXPECT_EQ(file.userLockCount(), 2u);
    EXPECT_EQ(file.unlockUser(42), 0);
    EXPECT_FALSE(otherProcessCanLock(42));
    EXPECT_TRUE(otherProcessCanLock(43));
    EXPECT_EQ(file.unlockUser(42), 1);
    EXPECT_TRUE(otherProcessCanLock(42));
    EXPECT_EQ(file.unlockUser(42), 1) << "the count does not go below zero";
    EXPECT_EQ(file.userLockCount(), 0u);
    // Numbers nest apart: releasing one keeps another held.
    ASSERT_EQ(file.lockUser(nullptr, 42), 0);
    ASSERT_EQ(file.lockUser(nullptr, 43), 0);
    EXPECT_FALSE(otherProcessCanLock(43));
    EXPECT_EQ(file.unlockUser(42), 1);
    EXPECT_TRUE(otherProcessCanLock(42));
    EXPECT_FALSE(otherProcessCanLock(43));
    EXPECT_EQ(file.unlockUser(43), 1);
    EXPECT_TRUE(otherProcessCanLock(43));
}

TEST_F(AccessBracketTest, ANewerHeaderOnDiskDropsTheCacheAtTheNextBracket) {
    PageFile file;
    ASSERT_EQ(file.open(path_, 0x40, ""), 0);
    file.fetchPage(1);
    file.endBracket();
    ASSERT_NE(file.cachedPage(1), nullptr);

    // The same header is read again: the cache stays.
    file.rootPage();
    EXPECT_NE(file.cachedPage(1), nullptr);
    file.endBracket();

    test::ChildProcess committer([&](test::ChildProcess&) {
        std::string bytes = test::readFileBytes(path_);
        bytes[24] = 2;  // change counter 1 -> 2, as a commit of another process leaves it
        test::writeFileBytes(path_, bytes);
        return 0;
    });
    ASSERT_EQ(committer.join(), 0);
    file.rootPage();
    EXPECT_EQ(file.header().changeCounter(), 2);
    EXPECT_EQ(file.cachedPage(1), nullptr);
}

TEST_F(AccessBracketTest, AFileNoOneElseMayChangeReadsItsHeaderOnce) {
    PageFile file;
    ASSERT_EQ(file.open(path_, 0x12, ""), 0);
    file.fetchPage(1);
    file.endBracket();
    std::string bytes = test::readFileBytes(path_);
    bytes[24] = 5;
    test::writeFileBytes(path_, bytes);
    file.rootPage();
    EXPECT_EQ(file.header().changeCounter(), 1);
    EXPECT_NE(file.cachedPage(1), nullptr);
}

}  // namespace
}  // namespace vellum
