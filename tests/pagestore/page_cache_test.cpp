// The page cache: hashing, the clean and dirty lists, and the trim rule. Every fetch of a new
// page raises the use clock by two and a fetch of a cached page by one; the oldest clean page is
// evicted while 20 or more are cached, unless fewer than 100 are and it was used recently
// against its age (idle < 4 x (age / clean count)).
#include <gtest/gtest.h>

#include "pagestore/page_file.h"
#include "pagestore/table_file_builder.h"
#include "support/temp_dir.h"

namespace vellum {
namespace {

class PageCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::writeLeafFile(dir_.file("c.vlm"), 260);
        ASSERT_EQ(file_.open(dir_.file("c.vlm"), 0x40, ""), 0);
    }

    void fetchRange(int first, int last) {
        for (int page = first; page <= last; ++page) file_.fetchPage(page);
    }
    bool cached(int page) const { return file_.cachedPage(page) != nullptr; }

    test::TempDir dir_;
    PageFile file_;
};

TEST_F(PageCacheTest, NineteenCleanPagesAreNeverTrimmed) {
    fetchRange(0, 18);
    file_.fetchPage(19);
    EXPECT_EQ(file_.cleanCount(), 20u);
    EXPECT_TRUE(cached(0));
}

TEST_F(PageCacheTest, TwentyCleanPagesLoseAnIdleOldestPage) {
    fetchRange(0, 19);
    file_.fetchPage(20);
    EXPECT_EQ(file_.cleanCount(), 20u);
    EXPECT_FALSE(cached(0));
    EXPECT_TRUE(cached(1));
}

TEST_F(PageCacheTest, TwentyCleanPagesKeepAnOldestPageUsedLately) {
    for (int i = 0; i < 1000; ++i) file_.fetchPage(0);
    fetchRange(1, 19);
    file_.fetchPage(20);
    EXPECT_EQ(file_.cleanCount(), 21u);
    EXPECT_TRUE(cached(0));
}

TEST_F(PageCacheTest, AtNinetyNineTheAgeRuleHoldsAndAtOneHundredTheOldestGoes) {
    for (int i = 0; i < 10000; ++i) file_.fetchPage(0);
    fetchRange(1, 98);
    file_.fetchPage(99);  // 99 clean: page 0 is old but was used lately, so it stays
    EXPECT_EQ(file_.cleanCount(), 100u);
    EXPECT_TRUE(cached(0));
    file_.fetchPage(100);  // 100 clean: page 0 goes whatever its age; the idle young ones follow
    EXPECT_FALSE(cached(0));
    EXPECT_EQ(file_.cleanCount(), 20u);
    EXPECT_TRUE(cached(100));
}

TEST_F(PageCacheTest, PagesSharingAHashChainStayApart) {
    fetchRange(0, 0);
    file_.fetchPage(100);
    file_.fetchPage(200);
    ASSERT_TRUE(cached(0) && cached(100) && cached(200));
    EXPECT_NE(file_.cachedPage(100), file_.cachedPage(200));
    EXPECT_EQ(file_.cachedPage(200)->pageNumber, 200);
    EXPECT_EQ(file_.fetchPage(100), file_.cachedPage(100));
}

TEST_F(PageCacheTest, DirtyPagesAreNeverTrimmedAndDropCacheEmptiesBothLists) {
    file_.beginWrite();
    PageNode* changed = file_.fetchPage(7);
    file_.markDirty(changed);
    EXPECT_TRUE(file_.isDirty());
    fetchRange(8, 150);
    EXPECT_EQ(file_.cachedPage(7), changed);
    EXPECT_EQ(file_.dirtyCount(), 1u);
    file_.dropCache();
    EXPECT_EQ(file_.cleanCount(), 0u);
    EXPECT_EQ(file_.dirtyCount(), 0u);
    EXPECT_FALSE(cached(7));
}

}  // namespace
}  // namespace vellum
