// Crash safety of the commit inside one process: the machine stops after the k-th write of a
// commit (later writes are lost), for every k, and the file must then show exactly its old or
// exactly its new contents, and settle soundly. Also a log area cut short, and a file left
// pending between the two stages that is read through and then written on.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "pagestore/commit_support.h"
#include "support/faulty_file_system.h"

namespace vellum {
namespace {

using test::Contents;

struct Scenario {
    const char* name;
    std::string base;  // the file's bytes before the commit
    Contents before;
    Contents after;
};

// The four kinds of commit, each from a base file made in dir.
std::vector<Scenario> scenarios(const test::TempDir& dir) {
    std::vector<Scenario> list;
    std::string path = dir.file("base.vlm");

    // The first commit of a new, empty file.
    list.push_back({"first commit", "", {}, test::numbered(0, 12, 20, 1)});

    // Rewrites of entries in several existing pages, sizes unchanged.
    {
        Contents before = test::numbered(0, 80, 100, 2);
        test::writeTable(path, before);
        Contents after = before;
        for (auto& [key, data] : after) {
            if (key[4] % 3 == 0) data = test::unpackableText(data.size(), 99 + key[4]);
        }
        list.push_back({"rewrite", test::readFileBytes(path), before, after});
    }

    // Pages that change class or go. Each leaf holds one key, so replacing "c" and "e" empties
    // their leaves, which are freed at once (that of "e" from class 2), and the new entries
    // land in the leaves before them: that of "b" grows into class 4. The first leaf grows
    // into class 2.
    {
        std::vector<Contents> leaves;
        for (int i = 0; i < 5; ++i) {
            std::string key(1, static_cast<char>('a' + i));
            leaves.push_back({{key, i == 4 ? test::unpackableText(400, 4) : "v" + key}});
        }
        test::writeTreeFile(path, leaves);
        Contents before;
        for (const Contents& leaf : leaves) before.insert(leaf.begin(), leaf.end());
        Contents after = before;
        after["a"] = test::unpackableText(300, 10);
        after["c"] = test::unpackableText(900, 11);
        after["e"] = "short";
        list.push_back({"class move", test::readFileBytes(path), before, after});
    }

    // A root leaf that splits: the root keeps its number and becomes an index page.
    {
        Contents before = test::numbered(0, 20, 150, 3);
        test::writeTable(path, before);
        Contents after = before;
        Contents more = test::numbered(20, 30, 150, 3);
        after.insert(more.begin(), more.end());
        list.push_back({"root split", test::readFileBytes(path), before, after});
    }
    return list;
}

// Opens the restored base file in a mode, makes the scenario's change and runs `commit` with
// the given file system installed; the PageFile is then destroyed without close, as a stopped
// process leaves it (close would commit again).
void runCommit(const std::string& path, const Scenario& s, os::FileSystem* fileSystem,
               const std::function<void(PageFile&)>& commit, int mode = 0x42) {
    FatalTrap trap("test file");
    test::writeFileBytes(path, s.base);
    PageFile file;
    ASSERT_EQ(test::openAndChange(file, path, s.before, s.after, mode), 0);
    if (fileSystem == nullptr) {
        commit(file);
        return;
    }
    test::ScopedFileSystem scoped(*fileSystem);
    commit(file);
}

void fullCommit(PageFile& file) { EXPECT_EQ(file.commit(), 0); }
void stageOneOnly(PageFile& file) { EXPECT_EQ(file.commitStageOne(), 0); }

// Each test works on the file t.vlm of a directory of its own, under a fatal trap; the base files
// of the scenarios are made in the same directory.
class CrashStop : public ::testing::Test {
protected:
    FatalTrap trap_{"test file"};
    test::TempDir dir_;
    const std::string path_ = dir_.file("t.vlm");
};

TEST_F(CrashStop, EveryStopInACommitLeavesTheOldOrTheNewContents) {
    // Shared files lock reader slots while committing and recovering, deny-write files lock
    // the writer byte to recover, deny-all files lock nothing.
    const std::pair<int, const char*> modes[] = {
        {0x42, "deny none"}, {0x22, "deny write"}, {0x12, "deny all"}};
    for (const Scenario& s : scenarios(dir_)) {
        SCOPED_TRACE(s.name);
        ASSERT_NE(s.before, s.after);
        test::FaultyFileSystem stageOneCounter;
        runCommit(path_, s, &stageOneCounter, stageOneOnly);
        const int stageOne = stageOneCounter.writes();
        test::FaultyFileSystem counter;
        runCommit(path_, s, &counter, fullCommit);
        const int total = counter.writes();
        ASSERT_GT(total, stageOne);
        if (std::string(s.name) == "root split") {
            PageFile file;
            ASSERT_EQ(file.open(path_, 0x40, ""), 0);
            EXPECT_EQ(checkTree(file).levels, 2u) << "the commit splits the root";
        }

        for (const auto& [mode, modeName] : modes) {
            SCOPED_TRACE(modeName);
            for (int k = 1; k <= total; ++k) {
                SCOPED_TRACE("stopped after write " + std::to_string(k) + " of " +
                             std::to_string(total) + ", stage one has " +
                             std::to_string(stageOne));
                test::FaultyFileSystem faulty;
                faulty.stopAfterWrite = k;
                faulty.stopAction = test::FaultyFileSystem::StopAction::dropWrites;
                runCommit(path_, s, &faulty, fullCommit, mode);
                ASSERT_TRUE(faulty.stopped());
                // The header switch is the last write of stage one: before it the old state,
                // from it on the new.
                const Contents& expected = k < stageOne ? s.before : s.after;
                EXPECT_EQ(test::readTable(path_), expected);
                EXPECT_EQ(test::settleAndCheck(path_, mode), expected);
                EXPECT_EQ(test::readTable(path_), expected);
            }
        }
    }
}

// Opens the file for writing, checks that its first write bracket finds `expected` and leaves
// the file settled on disk before any change, then adds entries enough to split a root leaf
// and commits. Returns the contents now expected.
Contents writeOnTop(const std::string& path, const Contents& expected) {
    FatalTrap trap("test file");
    PageFile file;
    EXPECT_EQ(file.open(path, 0x42, ""), 0);
    file.beginWrite();
    EXPECT_EQ(test::readContents(file), expected);
    HeaderPage header = test::diskHeader(path);
    EXPECT_EQ(header.logStart(), header.logEnd()) << "the write bracket did not settle the file";
    Contents changed = expected;
    Contents more = test::numbered(100, 130, 150, 5);
    changed.insert(more.begin(), more.end());
    test::applyChanges(file, expected, changed);
    EXPECT_EQ(file.commit(), 0);
    TreeCheckReport report = checkTree(file);
    EXPECT_TRUE(report.ok()) << ::testing::PrintToString(report.problems);
    EXPECT_GE(report.levels, 2u);
    file.close();
    return changed;
}

TEST_F(CrashStop, ALogAreaCutShortOpensWithTheOldStateAndIsResetByAWriter) {
    for (const Scenario& s : scenarios(dir_)) {
        SCOPED_TRACE(s.name);
        runCommit(path_, s, nullptr, stageOneOnly);
        const HeaderPage pending = test::diskHeader(path_);
        ASSERT_LT(pending.logStart(), pending.logEnd());
        // Cut inside the header image at the end of the log area, and inside its first image.
        for (uint32_t length : {pending.logEnd() - kPageUnit, pending.logStart() + 64}) {
            SCOPED_TRACE("cut at " + std::to_string(length));
            runCommit(path_, s, nullptr, stageOneOnly);
            std::filesystem::resize_file(path_, length);
            const std::string cut = test::readFileBytes(path_);

            EXPECT_EQ(test::readTable(path_), s.before);
            EXPECT_TRUE(test::readFileBytes(path_) == cut) << "a reader writes nothing";
            Contents expected = writeOnTop(path_, s.before);
            test::expectStoredAs(path_, expected);
        }
    }
}

TEST_F(CrashStop, AFilePendingBetweenTheStagesIsReadThroughThenReplayedBeforeTheFirstChange) {
    for (const Scenario& s : scenarios(dir_)) {
        SCOPED_TRACE(s.name);
        runCommit(path_, s, nullptr, stageOneOnly);
        const std::string pending = test::readFileBytes(path_);
        ASSERT_NE(test::diskHeader(path_).logStart(), test::diskHeader(path_).logEnd());

        // A reader sees the new state through the log area and leaves the file as it is.
        EXPECT_EQ(test::readTable(path_), s.after);
        EXPECT_TRUE(test::readFileBytes(path_) == pending) << "a reader writes nothing";

        // A writer that opened in read mode, and so reads through the log too, replays it when
        // its first write bracket opens, before the change that opens it; its commit then
        // stands on the new state. The change touches the first leaf and the last.
        Contents expected = s.after;
        expected["0"] = "first";
        expected["zz"] = "last";
        {
            FatalTrap trap("test file");
            PageFile file;
            ASSERT_EQ(file.open(path_, 0x42, ""), 0);
            EXPECT_EQ(test::readContents(file), s.after);
            file.beginWrite();
            file.insertEntry(test::makeEntry("0", "first"));
            HeaderPage header = test::diskHeader(path_);
            EXPECT_EQ(header.logStart(), header.logEnd()) << "the log area was not replayed";
            file.insertEntry(test::makeEntry("zz", "last"));
            ASSERT_EQ(file.commit(), 0);
            EXPECT_EQ(test::readContents(file), expected);
            TreeCheckReport report = checkTree(file);
            EXPECT_TRUE(report.ok()) << ::testing::PrintToString(report.problems);
            file.close();
        }
        test::expectStoredAs(path_, expected);
    }
}

TEST_F(CrashStop, AProcessThatHadTheFileOpenSeesACommitLeftBetweenTheStages) {
    for (const Scenario& s : scenarios(dir_)) {
        SCOPED_TRACE(s.name);
        if (s.base.empty()) continue;  // a file never committed cannot be read before
        test::writeFileBytes(path_, s.base);
        // Two processes have the file open and have read it; one of them commits and stops
        // between the stages.
        PageFile reader;
        ASSERT_EQ(reader.open(path_, 0x40, ""), 0);
        EXPECT_EQ(test::readContents(reader), s.before);
        reader.endBracket();
        PageFile writer;
        ASSERT_EQ(writer.open(path_, 0x42, ""), 0);
        EXPECT_EQ(test::readContents(writer), s.before);
        writer.endBracket();
        {
            PageFile stopped;
            ASSERT_EQ(test::openAndChange(stopped, path_, s.before, s.after), 0);
            ASSERT_EQ(stopped.commitStageOne(), 0);
        }
        // The reader's next bracket reads through the log area; the writer replays it before
        // its own change, which then stands on the new state.
        EXPECT_EQ(test::readContents(reader), s.after);
        reader.endBracket();
        writer.beginWrite();
        EXPECT_EQ(test::readContents(writer), s.after);
        Contents expected = s.after;
        expected["zz"] = "last";
        test::applyChanges(writer, s.after, expected);
        ASSERT_EQ(writer.commit(), 0);
        writer.close();
        EXPECT_EQ(test::readContents(reader), expected);
        reader.close();
        EXPECT_EQ(test::settleAndCheck(path_), expected);
    }
}

}  // namespace
}  // namespace vellum
