// PageFile: opening files good and bad, modes, the header, reading pages and the new root.
#include "pagestore/page_file.h"

#include <gtest/gtest.h>

#include <string>

#include "pagestore/fatal_matchers.h"
#include "pagestore/open_mode.h"
#include "pagestore/page_tree.h"
#include "pagestore/table_file_builder.h"
#include "support/entry_text.h"
#include "support/temp_dir.h"

namespace vellum {
namespace {

using test::keyOf;

TEST(OpenMode, FlagsAndPlatformRequests) {
    struct Case {
        int mode;
        int normalised;
        bool shared;
        bool denyWrite;
        os::Access access;
        os::Sharing sharing;
    };
    const Case cases[] = {
        {0, 0x40, true, false, os::Access::read, os::Sharing::denyNone},
        {2, 0x42, true, false, os::Access::readWrite, os::Sharing::denyNone},
        {0x12, 0x12, false, false, os::Access::readWrite, os::Sharing::denyAll},
        {0x22, 0x22, false, true, os::Access::readWrite, os::Sharing::denyWrite},
        {0x31, 0x31, false, false, os::Access::write, os::Sharing::denyRead},
        {0x40, 0x40, true, false, os::Access::read, os::Sharing::denyNone},
    };
    for (const Case& c : cases) {
        int mode = normaliseMode(c.mode);
        EXPECT_EQ(mode, c.normalised) << c.mode;
        EXPECT_EQ(isSharedMode(mode), c.shared) << c.mode;
        EXPECT_EQ(isDenyWriteMode(mode), c.denyWrite) << c.mode;
        os::OpenRequest request = openRequestFor(mode);
        EXPECT_EQ(request.access, c.access) << c.mode;
        EXPECT_EQ(request.sharing, c.sharing) << c.mode;
        EXPECT_EQ(request.disposition, os::Disposition::openExisting) << c.mode;
    }
    // The page store's own open creates; deny read counts as deny all there.
    os::OpenRequest own = openRequestFor(kModeOwnOpen | 0x30 | 1);
    EXPECT_EQ(own.access, os::Access::readWrite);
    EXPECT_EQ(own.sharing, os::Sharing::denyAll);
    EXPECT_EQ(own.disposition, os::Disposition::openAlways);
    EXPECT_EQ(openRequestFor(kModeOwnOpen | kModeCreateNew | 0x20).disposition,
              os::Disposition::createAlways);
    EXPECT_EQ(openRequestFor(kModeOwnOpen | 0x20).access, os::Access::read);
}

TEST(OpenMode, CombiningAStoredModeWithANewOne) {
    struct Case {
        int stored, requested, combined;
    };
    const Case cases[] = {
        {0x40, 0x40, 0x40},  // equal stays
        {0x40, 2, 0x42},     // below 16 gets deny none; differing access becomes read and write
        {0x22, 0x40, 0x22},  // a new deny none keeps the stored sharing
        {0x40, 0x20, 0x20},  // a stored deny none takes the new sharing
        {0x20, 0x30, 0x10},  // two different denials become deny all
        {0x41, 0x41, 0x41},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(combineModes(c.stored, c.requested), c.combined)
            << std::hex << c.stored << " + " << c.requested;
    }
}

TEST(HeaderPage, SizeClassesAndTheEndOfPages) {
    HeaderPage header;
    EXPECT_EQ(header.endOfPages(), 512u);
    header.setRangeStart(1, 0);
    header.setRangeEnd(1, 3);
    for (unsigned k = 2; k <= kMaxSizeClass; ++k) header.setRangeStart(k, 3), header.setRangeEnd(k, 3);
    header.setRangeEnd(2, 7);
    for (unsigned k = 3; k <= kMaxSizeClass; ++k) header.setRangeStart(k, 7), header.setRangeEnd(k, 7);
    header.setRangeEnd(5, 17);
    for (unsigned k = 6; k <= kMaxSizeClass; ++k) header.setRangeStart(k, 17), header.setRangeEnd(k, 17);
    EXPECT_EQ(header.endOfPages(), 512u + 256 * 17);
    const std::pair<int32_t, unsigned> cases[] = {{-1, 0}, {0, 1}, {2, 1}, {3, 2}, {5, 2},
                                                  {7, 5},  {12, 5}};
    for (const auto& [page, sizeClass] : cases) EXPECT_EQ(header.sizeClassOf(page), sizeClass);
    EXPECT_FATAL(header.sizeClassOf(17), 1735);
}

TEST(PageFile, AnEmptyFileOpensAndStaysEmpty) {
    test::TempDir dir;
    test::writeFileBytes(dir.file("e.vlm"), "");
    PageFile file;
    ASSERT_EQ(file.open(dir.file("e.vlm"), 0x42, ""), 0);
    EXPECT_TRUE(file.isOpened());
    EXPECT_TRUE(file.inReadMode());
    EXPECT_TRUE(file.isBracketOpen());
    EXPECT_TRUE(file.header().hasMagic());
    EXPECT_EQ(file.size(), 0u);
    file.close();
    EXPECT_EQ(test::readFileBytes(dir.file("e.vlm")), "");
}

TEST(PageFile, BadFilesAreRefusedAndLeftAsTheyWere) {
    test::TempDir dir;
    std::string good = dir.file("good.vlm");
    test::writeLeafFile(good, 3, "owner");
    std::string wrongMagic = test::readFileBytes(good);
    wrongMagic[14] ^= 0x20;
    struct Case {
        const char* name;
        std::string bytes;
        const char* owner;
    };
    const Case cases[] = {
        {"short", std::string(100, '\0'), ""},
        {"almost", std::string(511, 'v'), ""},
        {"magic", wrongMagic, "owner"},
        {"owner", test::readFileBytes(good), "other"},
        {"unowned", test::readFileBytes(good), ""},
    };
    for (const Case& c : cases) {
        std::string path = dir.file(std::string(c.name) + ".vlm");
        test::writeFileBytes(path, c.bytes);
        for (int mode : {0x40, 0x42, 0x22, 0x12}) {
            PageFile file;
            EXPECT_EQ(file.open(path, mode, c.owner), 36) << c.name << " mode " << mode;
            EXPECT_FALSE(file.isOpened());
            EXPECT_FALSE(file.diskFile().isOpen());
            file.close();
        }
        EXPECT_EQ(test::readFileBytes(path), c.bytes) << c.name;
    }
    PageFile file;
    EXPECT_EQ(file.open(good, 0x40, "owner"), 0);
}

TEST(PageFile, MissingFilesGiveTheSystemsCode) {
    test::TempDir dir;
    PageFile file;
    EXPECT_EQ(file.open(dir.file("none.vlm"), 0x40, ""), 2);
    EXPECT_EQ(file.open(dir.file("none/x.vlm"), 0x40, ""), 3);
    EXPECT_FALSE(file.isOpened());
}

TEST(PageFile, PagesAreReadFromTheirSlots) {
    test::TempDir dir;
    for (const char* owner : {"", "owner"}) {
        std::string path = dir.file(std::string("p") + owner + ".vlm");
        test::writeLeafFile(path, 5, owner);
        PageFile file;
        ASSERT_EQ(file.open(path, 0x40, owner), 0);
        EXPECT_EQ(keyOf(file.rootPage()->tree), test::pageKey(0));
        for (int page : {4, 2, 3}) {
            PageNode* node = file.fetchPage(page);
            ASSERT_NE(node->tree, file.nil());
            EXPECT_EQ(keyOf(node->tree), test::pageKey(page));
            EXPECT_EQ(node->level, 0);
            EXPECT_EQ(node->sizeEstimate, 13 + test::pageKey(page).size() + 5);
        }
        EXPECT_FATAL(file.fetchPage(5), 1735);
    }
}

TEST(PageFile, ANewFileGetsItsRootOnlyInWriteMode) {
    test::TempDir dir;
    test::writeFileBytes(dir.file("n.vlm"), "");
    PageFile file;
    ASSERT_EQ(file.open(dir.file("n.vlm"), 0x42, ""), 0);
    EXPECT_FATAL(file.rootPage(), 1194);
    file.dropCache();

    PageFile writer;
    ASSERT_EQ(writer.open(dir.file("n.vlm"), 0x42, ""), 0);
    writer.beginWrite();
    PageNode* root = writer.rootPage();
    EXPECT_EQ(root->pageNumber, -1);
    EXPECT_EQ(writer.header().rootPage(), -1);
    EXPECT_EQ(writer.header().changeCounter(), 1);
    ASSERT_NE(root->tree, writer.nil());
    EXPECT_EQ(root->tree->keyLength, 0) << "the sentinel";
    EXPECT_EQ(root->tree->subtreeSize, 1u);
    EXPECT_EQ(root->sizeEstimate, 18);
    EXPECT_TRUE(root->dirty);
    EXPECT_TRUE(writer.isDirty());
    EXPECT_EQ(writer.nextTemporaryPage(), -2);
}

TEST(PageFile, TruncateCutsAtTheEndOfPages) {
    test::TempDir dir;
    std::string path = dir.file("t.vlm");
    test::writeLeafFile(path, 4);
    std::string bytes = test::readFileBytes(path);
    test::writeFileBytes(path, bytes + std::string(1000, 'z'));
    PageFile file;
    ASSERT_EQ(file.open(path, 0x42, ""), 0);
    file.truncate();
    EXPECT_EQ(file.size(), 512u + 4 * 256);
    file.close();
    EXPECT_EQ(test::readFileBytes(path), bytes);
}

TEST(PageFile, DeleteFileRemovesIt) {
    test::TempDir dir;
    std::string path = dir.file("d.vlm");
    test::writeLeafFile(path, 1);
    PageFile file;
    ASSERT_EQ(file.open(path, 0x12, ""), 0);
    EXPECT_EQ(file.deleteFile(), 0);
    EXPECT_EQ(test::readFileBytes(path), "");
    EXPECT_EQ(PageFile().open(path, 0x40, ""), 2);
}

}  // namespace
}  // namespace vellum
