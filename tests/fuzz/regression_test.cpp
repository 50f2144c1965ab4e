// Replays the fuzz target's work on every saved input of tests/fuzz/corpus-regressions, on the
// seed files, and on hand-made damaged files. Each must either open and walk or end in a fatal
// error; a crash, a hang or a sanitizer report fails the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/open_and_walk.h"
#include "pagestore/header_page.h"
#include "pagestore/page_codec.h"
#include "pagestore/page_file.h"
#include "pagestore/page_tree.h"
#include "support/entry_text.h"
#include "vellum/byte_order.h"
#include "vellum/entry.h"

namespace vellum::fuzz {
namespace {

std::vector<uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

std::string describe(const WalkOutcome& outcome) {
    return "open " + std::to_string(outcome.openResult) + ", walk fatal " +
           std::to_string(outcome.walkFatal) + ", walked " + std::to_string(outcome.walked) +
           ", commit fatal " + std::to_string(outcome.commitFatal) + ", check fatal " +
           std::to_string(outcome.checkFatal) + ", problems " +
           std::to_string(outcome.checkProblems);
}

WalkReport run(const std::vector<uint8_t>& bytes) {
    WalkReport report = runOpenAndWalk(bytes.data(), bytes.size());
    EXPECT_EQ(contractViolation(report), "");
    return report;
}

// Saved inputs -----------------------------------------------------------------------------------

TEST(FuzzRegression, EverySavedInputOpensAndWalksOrEndsInAFatalError) {
    std::filesystem::path directory = VELLUM_FUZZ_REGRESSIONS_DIR;
    ASSERT_TRUE(std::filesystem::is_directory(directory)) << directory;
    std::vector<std::filesystem::path> inputs;
    for (const auto& item : std::filesystem::directory_iterator(directory)) {
        std::string name = item.path().filename().string();
        if (item.is_regular_file() && !name.starts_with(".") && !name.ends_with(".md")) {
            inputs.push_back(item.path());
        }
    }
    std::sort(inputs.begin(), inputs.end());
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.filename().string());
        run(readBytes(input));
    }
}

// Seeds ------------------------------------------------------------------------------------------

TEST(FuzzRegression, TheSeedFilesAreSoundInBothModes) {
    for (const SeedFile& seed : makeSeedFiles()) {
        SCOPED_TRACE(seed.name);
        WalkReport report = run(seed.bytes);
        for (const WalkOutcome* outcome : {&report.readMode, &report.writeMode}) {
            EXPECT_EQ(outcome->openResult, 0);
            // A file that was never committed has no root to read in read mode: the first
            // access would make one, which only a writer may do.
            int expectedFatal = seed.bytes.empty() && outcome == &report.readMode ? 1194 : 0;
            EXPECT_EQ(outcome->walkFatal, expectedFatal) << describe(*outcome);
            EXPECT_EQ(outcome->checkFatal, expectedFatal) << describe(*outcome);
            EXPECT_EQ(outcome->checkProblems, 0u) << describe(*outcome);
            EXPECT_EQ(outcome->commitFatal, 0) << describe(*outcome);
        }
    }
}

TEST(FuzzRegression, TheSeedFilesHaveTheirShapes) {
    std::vector<SeedFile> seeds = makeSeedFiles();
    auto find = [&](const std::string& name) {
        auto seed = std::find_if(seeds.begin(), seeds.end(),
                                 [&](const SeedFile& s) { return s.name == name; });
        return seed->bytes;
    };
    EXPECT_TRUE(find("empty").empty());
    EXPECT_EQ(run(find("one-leaf")).readMode.walked, 12u);
    EXPECT_EQ(run(find("two-levels")).readMode.walked, 60u);
    EXPECT_EQ(run(find("three-levels")).readMode.walked, 400u);
    // The pending commit is seen through its log area, and replayed by the write-mode open.
    WalkReport pending = run(find("pending-log"));
    EXPECT_EQ(pending.readMode.walked, 68u);
    EXPECT_EQ(pending.writeMode.walked, 68u);

    // Levels, from the root page's level byte.
    for (const auto& [name, levels] : {std::pair<std::string, int>{"one-leaf", 0},
                                       {"two-levels", 1}, {"three-levels", 2}}) {
        std::vector<uint8_t> bytes = find(name);
        HeaderPage header;
        std::copy_n(bytes.begin(), kHeaderSize, header.bytes());
        EXPECT_EQ(bytes[pageOffset(header.rootPage()) + 12], levels) << name;
    }
}

// Hand-made damaged files ------------------------------------------------------------------------

struct PageLayout {
    int32_t number;
    uint8_t level;
    // Keys in the order they are stored (normally ascending) and, on index pages, the children.
    std::vector<std::string> keys;
    std::vector<int32_t> children;
};

// Builds the image of a page from its layout through the engine's own encoder.
std::vector<uint8_t> pageImage(const PageLayout& layout) {
    Entry nil;
    std::vector<Entry*> entries;
    unsigned estimate = 13;
    for (size_t i = 0; i < layout.keys.size(); ++i) {
        const std::string& key = layout.keys[i];
        Entry* entry = test::makeEntry(key);
        entry->child = i < layout.children.size() ? layout.children[i] : 0;
        estimate += entry->totalLength + 5 + (layout.level > 0 ? 4 : 0);
        entries.push_back(entry);
    }
    Entry* tree = buildBalancedTree(entries.data(), entries.size(), &nil);
    std::vector<uint8_t> image =
        buildPageImage(tree, &nil, layout.level, static_cast<uint16_t>(estimate));
    if (layout.level != 0) writeChildNumbers(image.data(), tree, &nil);
    setImageOwnOffset(image.data(), static_cast<uint32_t>(pageOffset(layout.number)));
    destroyTree(tree, &nil);
    return image;
}

// A file whose pages are all of class 1 (each layout must fit 256 bytes), numbered 0 to n - 1,
// with range 1 holding them all, and the header given to adjust before it is written.
struct HandMadeFile {
    HeaderPage header;
    std::vector<uint8_t> bytes;

    explicit HandMadeFile(const std::vector<PageLayout>& pages, int32_t root = 0) {
        bytes.assign(kHeaderSize + pages.size() * kPageUnit, 0);
        for (const PageLayout& page : pages) {
            std::vector<uint8_t> image = pageImage(page);
            EXPECT_EQ(image.size(), kPageUnit);
            std::copy(image.begin(), image.end(),
                      bytes.begin() + static_cast<std::ptrdiff_t>(pageOffset(page.number)));
        }
        uint32_t count = static_cast<uint32_t>(pages.size());
        header.setMagic();
        header.setChangeCounter(1);
        header.setRootPage(root);
        for (unsigned k = 1; k <= kMaxSizeClass; ++k) {
            header.setRangeStart(k, k == 1 ? 0 : count);
            header.setRangeEnd(k, count);
        }
        header.setLogStart(static_cast<uint32_t>(header.endOfPages()));
        header.setLogEnd(header.logStart());
    }

    // The bytes with the header in place, and anything appended after the pages.
    std::vector<uint8_t> finish(const std::vector<uint8_t>& appended = {}) const {
        std::vector<uint8_t> result = bytes;
        std::copy_n(header.bytes(), kHeaderSize, result.begin());
        result.insert(result.end(), appended.begin(), appended.end());
        return result;
    }
};

// Root 0 (level 1) over leaves 1 ("", a, b) and 2 (m, n).
std::vector<PageLayout> soundTree() {
    return {{0, 1, {"", "m"}, {1, 2}}, {1, 0, {"", "a", "b"}, {}}, {2, 0, {"m", "n"}, {}}};
}

TEST(FuzzRegression, TheHandMadeSoundTreeWalksCompletely) {
    WalkReport report = run(HandMadeFile(soundTree()).finish());
    for (const WalkOutcome* outcome : {&report.readMode, &report.writeMode}) {
        EXPECT_EQ(outcome->walkFatal, 0) << describe(*outcome);
        EXPECT_EQ(outcome->walked, 4u);
        EXPECT_EQ(outcome->checkProblems, 0u) << describe(*outcome);
    }
}

TEST(FuzzRegression, AChildThatPointsAtItsParentIsFatal) {
    std::vector<PageLayout> pages = soundTree();
    pages[0].children = {1, 0};
    WalkReport report = run(HandMadeFile(pages).finish());
    EXPECT_EQ(report.readMode.walkFatal, kDamagedTreeFatal) << describe(report.readMode);
    EXPECT_EQ(report.writeMode.walkFatal, kDamagedTreeFatal) << describe(report.writeMode);
}

TEST(FuzzRegression, ACycleThroughTwoIndexPagesIsFatal) {
    // Root 0 (level 2) -> page 1 (level 1) -> back to page 0.
    std::vector<PageLayout> pages = {{0, 2, {""}, {1}}, {1, 1, {""}, {0}}};
    WalkReport report = run(HandMadeFile(pages).finish());
    EXPECT_EQ(report.readMode.walkFatal, kDamagedTreeFatal) << describe(report.readMode);
    EXPECT_NE(report.readMode.checkProblems, 0u);
}

TEST(FuzzRegression, AChildOnAHigherLevelThanItsParentIsFatal) {
    std::vector<PageLayout> pages = soundTree();
    pages[2].level = 7;
    pages[2].children = {1, 1};
    WalkReport report = run(HandMadeFile(pages).finish());
    EXPECT_EQ(report.readMode.walkFatal, kDamagedTreeFatal) << describe(report.readMode);
}

TEST(FuzzRegression, ARootOutsideEveryRangeIsFatal) {
    HandMadeFile file(soundTree());
    file.header.setRootPage(1000);
    WalkReport report = run(file.finish());
    EXPECT_EQ(report.readMode.walkFatal, 1735) << describe(report.readMode);
    EXPECT_EQ(report.writeMode.walkFatal, 1735) << describe(report.writeMode);
    // Inside a range but past the end of the file.
    HandMadeFile beyond(soundTree());
    beyond.header.setRangeEnd(1, 500);
    for (unsigned k = 2; k <= kMaxSizeClass; ++k) {
        beyond.header.setRangeStart(k, 500);
        beyond.header.setRangeEnd(k, 500);
    }
    beyond.header.setRootPage(400);
    report = run(beyond.finish());
    EXPECT_EQ(report.readMode.walkFatal, 2172) << describe(report.readMode);
}

// A log area after the pages: images given as (own offset, stored size) headers of the size
// their stored size claims, filled with bytes that are no page.
std::vector<uint8_t> logImage(uint32_t ownOffset, uint16_t storedSize, size_t length) {
    std::vector<uint8_t> image(length, 0xB0);
    store32le(image.data(), ownOffset);
    store16le(image.data() + 4, storedSize);
    return image;
}

TEST(FuzzRegression, ALogAreaWhoseImagesClaimAbsurdSizesIsNotReplayed) {
    for (uint16_t claimed : {uint16_t{0}, uint16_t{1}, uint16_t{0xFFFF}, uint16_t{15105}}) {
        SCOPED_TRACE(claimed);
        HandMadeFile file(soundTree());
        std::vector<uint8_t> log = logImage(512, claimed, 1024);
        file.header.setLogEnd(file.header.logStart() + 1024);
        WalkReport report = run(file.finish(log));
        // The log area is incomplete: the file stays as its pages are.
        for (const WalkOutcome* outcome : {&report.readMode, &report.writeMode}) {
            EXPECT_EQ(outcome->walkFatal, 0) << describe(*outcome);
            EXPECT_EQ(outcome->walked, 4u);
        }
    }
}

TEST(FuzzRegression, ALogAreaWithImagesForFarOffsetsDoesNoHarm) {
    // A complete log area: an image aimed far beyond the pages, then a copy of the header.
    HandMadeFile file(soundTree());
    uint32_t logStart = file.header.logStart();
    std::vector<uint8_t> log = logImage(0xFFFFFF00u, 256, 256);
    HeaderPage logged = file.header;
    logged.setLogStart(logStart);
    logged.setLogEnd(logStart + 256 + kHeaderSize);
    log.insert(log.end(), logged.bytes(), logged.bytes() + kHeaderSize);
    file.header.setLogEnd(logStart + 256 + kHeaderSize);
    run(file.finish(log));
}

TEST(FuzzRegression, ALogAreaBeyondTheFileIsNotReplayed) {
    struct Case {
        uint32_t start, end;
    };
    for (Case c : {Case{1000000, 2000000}, Case{0xFFFFFE00u, 0xFFFFFFFFu}, Case{4096, 1024},
                   Case{1280, 0xFFFFFFFFu}}) {
        SCOPED_TRACE(std::to_string(c.start) + " to " + std::to_string(c.end));
        HandMadeFile file(soundTree());
        file.header.setLogStart(c.start);
        file.header.setLogEnd(c.end);
        WalkReport report = run(file.finish());
        for (const WalkOutcome* outcome : {&report.readMode, &report.writeMode}) {
            EXPECT_EQ(outcome->walkFatal, 0) << describe(*outcome);
            EXPECT_EQ(outcome->walked, 4u);
        }
    }
}

TEST(FuzzRegression, AnUnsortedLeafEndsTheWalkInAFatalError) {
    std::vector<PageLayout> pages = soundTree();
    pages[1].keys = {"", "b", "a"};
    WalkReport report = run(HandMadeFile(pages).finish());
    EXPECT_FALSE(report.readMode.outOfOrder);
    EXPECT_EQ(report.readMode.walkFatal, kDamagedTreeFatal) << describe(report.readMode);
}

TEST(FuzzRegression, PagesSharedByManySubtreesCostLittle) {
    // Each index page on levels 1 to 40 has two separators leading to the same page below; a
    // search that tried both at every level would take 2^40 steps.
    std::vector<PageLayout> pages;
    pages.push_back({0, 0, {"", "a"}, {}});
    for (int32_t level = 1; level <= 40; ++level) {
        pages.push_back({level, static_cast<uint8_t>(level), {"", "m"}, {level - 1, level - 1}});
    }
    WalkReport report = run(HandMadeFile(pages, 40).finish());
    EXPECT_EQ(report.readMode.walkFatal, kDamagedTreeFatal) << describe(report.readMode);
    EXPECT_NE(report.readMode.checkProblems, 0u);
}

TEST(FuzzRegression, ADeepChainOfIndexPagesWalksWithoutLosingItsPlace) {
    // 60 levels of single-separator index pages above one leaf: a descent fetches more pages
    // than the cache keeps, so the walk must not hold on to pages it passed.
    std::vector<PageLayout> pages;
    pages.push_back({0, 0, {"", "a", "b", "c"}, {}});
    for (int32_t level = 1; level <= 60; ++level) {
        pages.push_back({level, static_cast<uint8_t>(level), {""}, {level - 1}});
    }
    WalkReport report = run(HandMadeFile(pages, 60).finish());
    for (const WalkOutcome* outcome : {&report.readMode, &report.writeMode}) {
        EXPECT_EQ(outcome->walkFatal, 0) << describe(*outcome);
        EXPECT_EQ(outcome->walked, 3u);
        EXPECT_EQ(outcome->checkProblems, 0u);
    }
}

}  // namespace
}  // namespace vellum::fuzz
