// Page allocation and the two-stage commit: what each stage puts on disk, how pages move
// between class ranges, and what a failed write in either stage leaves behind.
#include <gtest/gtest.h>

#include <string>

#include "os/file_system.h"
#include "pagestore/commit_support.h"
#include "support/faulty_file_system.h"

namespace vellum {
namespace {

using test::Contents;

std::string slice(const std::string& bytes, uint64_t offset, uint64_t count) {
    return bytes.substr(static_cast<size_t>(offset), static_cast<size_t>(count));
}

HeaderPage headerAt(const std::string& bytes, uint64_t offset) {
    HeaderPage header;
    std::copy_n(bytes.data() + offset, kHeaderSize, header.bytes());
    return header;
}

uint32_t ownOffsetAt(const std::string& bytes, uint64_t offset) {
    return imageOwnOffset(reinterpret_cast<const uint8_t*>(bytes.data() + offset));
}

// After stage one the header at offset 0 is the old one pointing at the log area, with the new
// change counter so that other processes look at it.
void expectOldHeaderPointingAtTheLog(const std::string& bytes, const HeaderPage& original) {
    HeaderPage atZero = headerAt(bytes, 0);
    HeaderPage expected = original;
    expected.setLogStart(atZero.logStart());
    expected.setLogEnd(atZero.logEnd());
    expected.setChangeCounter(original.changeCounter() + 1);
    EXPECT_EQ(slice(bytes, 0, kHeaderSize),
              std::string(reinterpret_cast<const char*>(expected.bytes()), kHeaderSize));
}

// Each test works on the file t.vlm of a directory of its own, under a fatal trap.
class Commit : public ::testing::Test {
protected:
    FatalTrap trap_{"test file"};
    test::TempDir dir_;
    const std::string path_ = dir_.file("t.vlm");
};

TEST_F(Commit, TheFirstCommitOfAnEmptyFileWritesPagesInPlaceAndOnlyTheHeaderThroughTheLog) {
    test::writeFileBytes(path_, "");
    const Contents contents = {{"apple", "red"}, {"kiwi", "green"}, {"plum", "blue"}};

    PageFile file;
    ASSERT_EQ(test::openAndChange(file, path_, {}, contents), 0);
    ASSERT_EQ(file.commitStageOne(), 0);

    // One leaf of class 1 in slot 0, straight behind the header; the log area right behind
    // it holds nothing but the new header.
    const uint32_t endOfPages = kHeaderSize + kPageUnit;
    std::string bytes = test::readFileBytes(path_);
    ASSERT_EQ(bytes.size(), endOfPages + kHeaderSize);
    EXPECT_EQ(ownOffsetAt(bytes, kHeaderSize), kHeaderSize);
    HeaderPage atZero = headerAt(bytes, 0);
    EXPECT_TRUE(atZero.hasMagic());
    EXPECT_EQ(atZero.logStart(), endOfPages);
    EXPECT_EQ(atZero.logEnd(), endOfPages + kHeaderSize);
    // Offset 0 holds the previous header, nothing placed yet, with the new change counter.
    EXPECT_EQ(atZero.rangeEnd(1), 0u);
    EXPECT_EQ(atZero.rootPage(), -1);
    EXPECT_EQ(atZero.changeCounter(), 2);
    HeaderPage logged = headerAt(bytes, endOfPages);
    EXPECT_EQ(ownOffsetAt(bytes, endOfPages), 0u);
    EXPECT_TRUE(logged.hasMagic());
    EXPECT_EQ(logged.rootPage(), 0);
    EXPECT_EQ(logged.rangeStart(1), 0u);
    EXPECT_EQ(logged.rangeEnd(1), 1u);
    EXPECT_EQ(logged.changeCounter(), 2);
    EXPECT_EQ(logged.logStart(), endOfPages);
    EXPECT_EQ(logged.logEnd(), endOfPages + kHeaderSize);
    const std::string page = slice(bytes, kHeaderSize, kPageUnit);

    ASSERT_EQ(file.commitStageTwo(), 0);
    bytes = test::readFileBytes(path_);
    EXPECT_EQ(slice(bytes, kHeaderSize, kPageUnit), page);
    HeaderPage settled = headerAt(bytes, 0);
    EXPECT_EQ(settled.logStart(), endOfPages);
    EXPECT_EQ(settled.logEnd(), endOfPages);
    EXPECT_EQ(settled.endOfPages(), endOfPages);
    EXPECT_EQ(settled.rootPage(), 0);
    EXPECT_EQ(settled.rangeEnd(1), 1u);
    EXPECT_EQ(settled.changeCounter(), 3) << "stage two writes the header, the reset raises it";
    file.close();

    test::expectStoredAs(path_, contents);
}

TEST_F(Commit, AChangedPageGoesThroughTheLogAndIsThenCopiedIntoPlace) {
    const Contents before = {{"apple", "red"}, {"kiwi", "green"}, {"plum", "blue"}};
    Contents after = before;
    after["kiwi"] = "brown";
    test::writeTable(path_, before);
    const std::string original = test::readFileBytes(path_);
    const HeaderPage originalHeader = headerAt(original, 0);
    const uint32_t endOfPages = kHeaderSize + kPageUnit;
    ASSERT_EQ(originalHeader.endOfPages(), endOfPages);

    PageFile file;
    ASSERT_EQ(test::openAndChange(file, path_, before, after), 0);
    ASSERT_EQ(file.commitStageOne(), 0);

    // The page and the header go to the log area behind the pages; the live page is untouched
    // and the header at offset 0 is the old one pointing at the log, with the new change
    // counter so that other processes look at it.
    std::string bytes = test::readFileBytes(path_);
    EXPECT_EQ(slice(bytes, kHeaderSize, kPageUnit), slice(original, kHeaderSize, kPageUnit));
    HeaderPage atZero = headerAt(bytes, 0);
    EXPECT_EQ(atZero.logStart(), endOfPages);
    EXPECT_EQ(atZero.logEnd(), endOfPages + kPageUnit + kHeaderSize);
    expectOldHeaderPointingAtTheLog(bytes, originalHeader);
    EXPECT_EQ(ownOffsetAt(bytes, endOfPages), kHeaderSize);
    const std::string loggedPage = slice(bytes, endOfPages, kPageUnit);
    EXPECT_NE(loggedPage.find("brown"), std::string::npos);
    EXPECT_EQ(ownOffsetAt(bytes, endOfPages + kPageUnit), 0u);
    HeaderPage logged = headerAt(bytes, endOfPages + kPageUnit);
    EXPECT_EQ(logged.changeCounter(), originalHeader.changeCounter() + 1);
    EXPECT_EQ(logged.logEnd(), atZero.logEnd());

    ASSERT_EQ(file.commitStageTwo(), 0);
    bytes = test::readFileBytes(path_);
    EXPECT_EQ(slice(bytes, kHeaderSize, kPageUnit), loggedPage);
    HeaderPage settled = headerAt(bytes, 0);
    EXPECT_EQ(settled.logStart(), endOfPages);
    EXPECT_EQ(settled.logEnd(), endOfPages);
    EXPECT_EQ(settled.changeCounter(), originalHeader.changeCounter() + 2);
    file.close();

    test::expectStoredAs(path_, after);
}

// Leaves of two small entries each (class 1), keyed "a" and "a2", "b" and "b2", ...; the first
// also holds the sentinel. The second entry keeps a leaf alive while its first is replaced.
std::vector<Contents> smallLeaves(int count) {
    std::vector<Contents> leaves;
    for (int i = 0; i < count; ++i) {
        std::string key(1, static_cast<char>('a' + i));
        leaves.push_back({{key, "v" + key}, {key + "2", "w" + key}});
    }
    return leaves;
}

Contents allOf(const std::vector<Contents>& leaves) {
    Contents all;
    for (const Contents& leaf : leaves) all.insert(leaf.begin(), leaf.end());
    return all;
}

int32_t leafOf(PageFile& file, const std::string& key) {
    return file.descendTo(test::bytesOf(key), 0)->pageNumber;
}

TEST_F(Commit, APageGrowingPastOneUnitMovesToRangeTwoAndTheLastPageOfRangeOneFillsItsSlot) {
    std::vector<Contents> leaves = smallLeaves(3);
    std::vector<int32_t> pages = test::writeTreeFile(path_, leaves);
    ASSERT_EQ(pages, (std::vector<int32_t>{1, 2, 3}));  // the root is page 0
    const Contents before = allOf(leaves);
    Contents after = before;
    after["a"] = test::unpackableText(260, 1);

    PageFile file;
    ASSERT_EQ(file.open(path_, 0x42, ""), 0);
    ASSERT_TRUE(checkTree(file).ok());
    file.beginWrite();
    test::applyChanges(file, before, after);
    ASSERT_EQ(file.commit(), 0);

    const HeaderPage& header = file.header();
    EXPECT_EQ(header.rangeEnd(1), 3u);
    EXPECT_EQ(header.rangeStart(2), 3u);
    EXPECT_EQ(header.rangeEnd(2), 5u);
    EXPECT_EQ(leafOf(file, "a"), 3) << "the grown page is the only one of class 2";
    EXPECT_EQ(leafOf(file, "c"), 1) << "the last page of range 1 moved into the freed slot";
    EXPECT_EQ(leafOf(file, "b"), 2);
    TreeCheckReport report = checkTree(file);
    EXPECT_TRUE(report.ok()) << ::testing::PrintToString(report.problems);
    EXPECT_EQ(test::readContents(file), after);
    file.close();

    test::expectStoredAs(path_, after);
}

TEST_F(Commit, TheFirstPageOfClassThreeTakesTheSlotAtRangeEndThreeAndPushesHigherRangesUp) {
    // Range 1: root, a, b. Range 2: c, d. Range 3 empty. Range 4: e, f.
    std::vector<Contents> leaves = smallLeaves(2);
    leaves.push_back({{"c", test::unpackableText(350, 3)}, {"c2", ""}});
    leaves.push_back({{"d", test::unpackableText(350, 4)}, {"d2", ""}});
    leaves.push_back({{"e", test::unpackableText(900, 5)}, {"e2", ""}});
    leaves.push_back({{"f", test::unpackableText(900, 6)}, {"f2", ""}});
    std::vector<int32_t> pages = test::writeTreeFile(path_, leaves);
    ASSERT_EQ(pages, (std::vector<int32_t>{1, 2, 3, 5, 7, 11}));
    const Contents before = allOf(leaves);
    Contents after = before;
    after["b2"] = test::unpackableText(600, 2);

    PageFile file;
    ASSERT_EQ(file.open(path_, 0x42, ""), 0);
    ASSERT_TRUE(checkTree(file).ok());
    file.beginWrite();
    test::applyChanges(file, before, after);
    ASSERT_EQ(file.commit(), 0);

    // b leaves range 1 (the top slot, so nothing fills it) and gets slot 7, the end of the
    // empty range 3. Range 4 holds two pages, so it moves up by one slot of its own class: its
    // bottom page e goes to the top. The free unit left below ranges 2 and 4 is smaller than
    // one of their slots and stays.
    const HeaderPage& header = file.header();
    const std::pair<uint32_t, uint32_t> ranges[] = {{0, 0}, {0, 2}, {3, 7}, {7, 10}, {11, 19}};
    for (unsigned k = 1; k <= 4; ++k) {
        EXPECT_EQ(header.rangeStart(k), ranges[k].first) << "range " << k;
        EXPECT_EQ(header.rangeEnd(k), ranges[k].second) << "range " << k;
    }
    for (unsigned k = 5; k <= kMaxSizeClass; ++k) {
        EXPECT_EQ(header.rangeStart(k), 19u) << "range " << k;
        EXPECT_EQ(header.rangeEnd(k), 19u) << "range " << k;
    }
    const std::pair<const char*, int32_t> places[] = {{"a", 1}, {"b", 7},  {"c", 3},
                                                      {"d", 5}, {"e", 15}, {"f", 11}};
    for (const auto& [key, page] : places) EXPECT_EQ(leafOf(file, key), page) << key;
    TreeCheckReport report = checkTree(file);
    EXPECT_TRUE(report.ok()) << ::testing::PrintToString(report.problems);
    file.close();

    test::expectStoredAs(path_, after);
}

TEST_F(Commit, AFreedPageKeepsItsSlotAndItsPlaceInTheOldHeaderUntilTheSwitch) {
    std::vector<Contents> leaves = smallLeaves(4);
    test::writeTreeFile(path_, leaves);
    const std::string original = test::readFileBytes(path_);
    const HeaderPage originalHeader = headerAt(original, 0);
    const uint64_t oldEnd = originalHeader.endOfPages();
    const Contents before = allOf(leaves);
    Contents after = before;
    after.erase("d");
    after.erase("d2");
    after["a2"] = "changed";

    PageFile file;
    ASSERT_EQ(test::openAndChange(file, path_, before, after), 0);
    // The emptied leaf, in the top slot of range 1, is given back at once.
    EXPECT_LT(file.header().endOfPages(), oldEnd);
    ASSERT_EQ(file.commitStageOne(), 0);

    // Its slot still belongs to the old state: neither the log area nor a page of the new
    // state is written into it, and the header at offset 0 still has the old ranges.
    std::string bytes = test::readFileBytes(path_);
    EXPECT_TRUE(slice(bytes, kHeaderSize, oldEnd - kHeaderSize) ==
                slice(original, kHeaderSize, oldEnd - kHeaderSize));
    HeaderPage atZero = headerAt(bytes, 0);
    expectOldHeaderPointingAtTheLog(bytes, originalHeader);
    EXPECT_GE(atZero.logStart(), oldEnd);
    ASSERT_EQ(file.commitStageTwo(), 0);
    file.close();

    test::expectStoredAs(path_, after);
}

// A change that rewrites live pages (through the log), grows one into class 2 and one into
// class 4 so that pages land beyond the old end of pages (written in place), and empties the
// page in the top slot of range 1, whose slot is given back at once, before the commit. That
// slot still holds a live page of the old state on disk.
struct FaultCase {
    std::string base;  // the file's bytes before the commit
    Contents before;
    Contents after;
};

FaultCase mixedChange(const std::string& path) {
    std::vector<Contents> leaves = smallLeaves(5);
    test::writeTreeFile(path, leaves);
    FaultCase c{test::readFileBytes(path), allOf(leaves), allOf(leaves)};
    c.after["b2"] = test::unpackableText(300, 7);
    c.after["c2"] = test::unpackableText(900, 9);
    c.after["d2"] = "w";
    c.after.erase("e");
    c.after.erase("e2");
    return c;
}

// The writes of each stage of the change, counted by a file system that injects nothing.
std::pair<int, int> countWrites(const std::string& path, const FaultCase& c) {
    test::writeFileBytes(path, c.base);
    PageFile file;
    EXPECT_EQ(test::openAndChange(file, path, c.before, c.after), 0);
    test::FaultyFileSystem counter;
    test::ScopedFileSystem scoped(counter);
    EXPECT_EQ(file.commitStageOne(), 0);
    int stageOne = counter.writes();
    EXPECT_EQ(file.commitStageTwo(), 0);
    file.close();
    return {stageOne, counter.writes() - stageOne};
}

TEST_F(Commit, AFailedWriteInStageOneFailsTheCommitAndKeepsTheOldContents) {
    const FaultCase c = mixedChange(path_);
    const auto [stageOne, stageTwo] = countWrites(path_, c);
    ASSERT_GE(stageOne, 4) << "pages in place, pages and header into the log, header switch";
    const uint64_t oldEnd = headerAt(c.base, 0).endOfPages();
    ASSERT_GT(test::diskHeader(path_).endOfPages(), oldEnd) << "no page lands beyond the old end";

    for (int k = 1; k <= stageOne; ++k) {
        SCOPED_TRACE("failed write " + std::to_string(k) + " of " + std::to_string(stageOne));
        test::writeFileBytes(path_, c.base);
        PageFile file;
        ASSERT_EQ(test::openAndChange(file, path_, c.before, c.after), 0);
        test::FaultyFileSystem faulty;
        faulty.failWriteAt = k;
        {
            test::ScopedFileSystem scoped(faulty);
            EXPECT_EQ(file.commit(), os::errorFromErrno(faulty.writeError));
        }
        EXPECT_FALSE(file.isDirty());
        EXPECT_EQ(faulty.writes(), k) << "nothing is written after the failure";
        // The live part of the file is as it was; the same PageFile reloads the old state.
        std::string bytes = test::readFileBytes(path_);
        EXPECT_TRUE(slice(bytes, 0, oldEnd) == slice(c.base, 0, oldEnd)) << "live data changed";
        EXPECT_EQ(test::readContents(file), c.before);
        EXPECT_TRUE(checkTree(file).ok());
        file.close();
        test::expectStoredAs(path_, c.before);
    }
}

TEST_F(Commit, AFailedFirstCommitLeavesAnEmptyFileThatTheSamePageFileCanStillFill) {
    test::writeFileBytes(path_, "");
    Contents contents;
    for (int i = 0; i < 40; ++i) {
        contents["k" + std::to_string(100 + i)] = test::unpackableText(50, static_cast<unsigned>(i));
    }
    PageFile file;
    ASSERT_EQ(test::openAndChange(file, path_, {}, contents), 0);
    test::FaultyFileSystem faulty;
    faulty.failWriteAt = 1;
    {
        test::ScopedFileSystem scoped(faulty);
        EXPECT_NE(file.commit(), 0);
    }
    EXPECT_EQ(test::readFileBytes(path_), "");
    EXPECT_TRUE(test::readContents(file).empty()) << "the failed pages are forgotten";
    file.beginWrite();
    test::applyChanges(file, {}, contents);
    EXPECT_EQ(file.commit(), 0);
    file.close();
    test::expectStoredAs(path_, contents);
}

TEST_F(Commit, AFailedWriteInStageTwoLeavesTheCommitInTheLogForRecovery) {
    const FaultCase c = mixedChange(path_);
    const auto [stageOne, stageTwo] = countWrites(path_, c);
    ASSERT_GE(stageTwo, 3) << "logged pages, header, reset header";

    for (int k = stageOne + 1; k <= stageOne + stageTwo; ++k) {
        SCOPED_TRACE("failed write " + std::to_string(k));
        test::writeFileBytes(path_, c.base);
        {
            PageFile file;
            ASSERT_EQ(test::openAndChange(file, path_, c.before, c.after), 0);
            test::FaultyFileSystem faulty;
            faulty.failWriteAt = k;
            test::ScopedFileSystem scoped(faulty);
            EXPECT_EQ(file.commit(), 0) << "stage one made the commit safe";
            EXPECT_FALSE(file.isDirty());
        }
        test::expectStoredAs(path_, c.after);
    }
}

TEST_F(Commit, AfterAFailedWriteInStageTwoTheSameFileReadsAndCommitsOnTheNewState) {
    const FaultCase c = mixedChange(path_);
    const auto [stageOne, stageTwo] = countWrites(path_, c);

    for (int k = stageOne + 1; k <= stageOne + stageTwo; ++k) {
        SCOPED_TRACE("failed write " + std::to_string(k));
        test::writeFileBytes(path_, c.base);
        PageFile file;
        ASSERT_EQ(test::openAndChange(file, path_, c.before, c.after), 0);
        test::FaultyFileSystem faulty;
        faulty.failWriteAt = k;
        {
            test::ScopedFileSystem scoped(faulty);
            EXPECT_EQ(file.commit(), 0);
        }
        // The same bracket, the next one, and a commit on top.
        EXPECT_EQ(test::readContents(file), c.after);
        file.endBracket();
        EXPECT_EQ(test::readContents(file), c.after);
        Contents next = c.after;
        next["a2"] = "again";
        next["e"] = "back";
        test::applyChanges(file, c.after, next);
        ASSERT_EQ(file.commit(), 0);
        EXPECT_EQ(test::readContents(file), next);
        file.close();
        test::expectStoredAs(path_, next);
    }
}

}  // namespace
}  // namespace vellum
