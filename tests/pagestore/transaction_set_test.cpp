// TransactionSet over page files: a transaction over two files in two folders committed through
// the control files "vellum.tcf" next to them, the marker entries it leaves, a transaction that
// changes one file, a number already registered, an explicit control file, a write failing at
// each point of commitAll, and a process stopped after every write of commitAll: at the next
// open both files show all old or all new contents, as commitAll reported.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "os/path_location.h"
#include "pagestore/commit_support.h"
#include "pagestore/transaction_set.h"
#include "support/child_process.h"
#include "support/faulty_file_system.h"
#include "vellum/byte_order.h"

namespace vellum {
namespace {

using test::Contents;
namespace fs = std::filesystem;

const std::string kMarkerKey(1, '\xFF');

std::string numberKey(uint32_t number) {
    std::string key(4, '\0');
    store32le(reinterpret_cast<uint8_t*>(key.data()), number);
    return key;
}

Contents withoutMarker(Contents contents) {
    contents.erase(kMarkerKey);
    return contents;
}

// The entries of a control file; none when it does not exist.
Contents controlEntries(const std::string& path) {
    if (!fs::exists(path)) return {};
    return test::readTable(path);
}

// Records the file and offset of each write, and forwards to the fault-injecting file system.
struct Write {
    std::string file;
    uint64_t offset;
};

class RecordingFileSystem : public test::FaultyFileSystem {
public:
    std::vector<Write> writes;

    int open(const std::string& path, const os::OpenRequest& request, os::Handle* handle) override {
        int result = FaultyFileSystem::open(path, request, handle);
        if (result == 0) names_[handle->fd] = path;
        return result;
    }
    int write(const os::Handle& handle, uint64_t offset, const void* buffer, size_t count,
              size_t* done) override {
        writes.push_back({names_[handle.fd], offset});
        return FaultyFileSystem::write(handle, offset, buffer, count, done);
    }

private:
    std::map<int, std::string> names_;
};

// Two data files, each in a folder of its own, with their contents before and after.
class TwoFolders : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(dir_.file("a"));
        fs::create_directory(dir_.file("b"));
        test::writeTable(a_, beforeA_);
        test::writeTable(b_, beforeB_);
        baseA_ = test::readFileBytes(a_);
        baseB_ = test::readFileBytes(b_);
        for (auto& [key, data] : afterA_) {
            if (key[4] % 3 == 0) data = test::unpackableText(data.size(), 77 + key[4]);
        }
        Contents more = test::numbered(60, 90, 120, 9);
        afterB_.insert(more.begin(), more.end());
        afterB_.erase("k0003");
    }

    // Puts both data files back as they were and removes the control files.
    void restore() {
        test::writeFileBytes(a_, baseA_);
        test::writeFileBytes(b_, baseB_);
        fs::remove(controlA_);
        fs::remove(controlB_);
    }

    // Opens A and the second file (B unless named), enlists them as LOGOUT does and makes the
    // changes (to A only when onlyA); then commits them all. Returns commitAll's result.
    int runTransaction(bool onlyA = false) { return runTransactionWith(b_, onlyA); }
    int runTransactionWith(const std::string& second, bool onlyA) {
        FatalTrap trap("test file");
        PageFile fileA;
        PageFile fileB;
        EXPECT_EQ(fileA.open(a_, 0x42, ""), 0);
        EXPECT_EQ(fileB.open(second, 0x42, ""), 0);
        fileA.beginWrite();
        transactionSet().enlist(&fileA);
        fileB.beginWrite();
        transactionSet().enlist(&fileB);
        test::applyChanges(fileA, beforeA_, afterA_);
        if (!onlyA) test::applyChanges(fileB, beforeB_, afterB_);
        int result = transactionSet().commitAll();
        EXPECT_EQ(transactionSet().enlistedCount(), 0u);
        EXPECT_FALSE(fileA.isEnlisted());
        EXPECT_FALSE(fileB.isEnlisted());
        fileA.close();
        fileB.close();
        return result;
    }

    // The marker of a data file: its number and control-file name.
    static std::pair<uint32_t, std::string> markerOf(const std::string& path) {
        Contents contents = test::readTable(path);
        auto marker = contents.find(kMarkerKey);
        if (marker == contents.end() || marker->second.size() < 5) return {0, "<none>"};
        const std::string& data = marker->second;
        uint32_t number = load32le(reinterpret_cast<const uint8_t*>(data.data()));
        EXPECT_EQ(data.back(), '\0');
        return {number, data.substr(4, data.size() - 5)};
    }

    // Both files show the old contents, or both the new, at the next open and once settled.
    void expectAllOldOrAllNew(bool newContents) {
        const Contents& expectedA = newContents ? afterA_ : beforeA_;
        const Contents& expectedB = newContents ? afterB_ : beforeB_;
        EXPECT_EQ(withoutMarker(test::readTable(a_)), expectedA);
        EXPECT_EQ(withoutMarker(test::readTable(b_)), expectedB);
        EXPECT_EQ(withoutMarker(test::settleAndCheck(a_)), expectedA);
        EXPECT_EQ(withoutMarker(test::settleAndCheck(b_)), expectedB);
    }

    FatalTrap trap_{"test file"};
    test::TempDir dir_;
    const std::string a_ = dir_.file("a") + "/one.vlm";
    const std::string b_ = dir_.file("b") + "/two.vlm";
    const std::string controlA_ = dir_.file("a") + "/vellum.tcf";
    const std::string controlB_ = dir_.file("b") + "/vellum.tcf";
    const Contents beforeA_ = test::numbered(0, 60, 100, 1);
    const Contents beforeB_ = test::numbered(0, 40, 120, 2);
    Contents afterA_ = beforeA_;
    Contents afterB_ = beforeB_;
    std::string baseA_;
    std::string baseB_;
};

TEST_F(TwoFolders, aTransactionRegistersInBothControlFilesAndMarksBothWithTheFirst) {
    ASSERT_EQ(runTransaction(), 0);
    expectAllOldOrAllNew(true);
    ASSERT_TRUE(fs::exists(controlA_));
    ASSERT_TRUE(fs::exists(controlB_));
    EXPECT_TRUE(controlEntries(controlA_).empty()) << "the number is removed again";
    EXPECT_TRUE(controlEntries(controlB_).empty());
    auto [numberA, nameA] = markerOf(a_);
    auto [numberB, nameB] = markerOf(b_);
    EXPECT_NE(numberA, 0u);
    EXPECT_EQ(numberA, numberB);
    // Both files ask the control file of the first folder, by its full path.
    EXPECT_EQ(nameA, fs::canonical(dir_.file("a")).string() + "/vellum.tcf");
    EXPECT_EQ(nameB, nameA);
    EXPECT_EQ(transactionSet().pathCount(), 0u);
}

TEST_F(TwoFolders, filesOfOneFolderAskTheControlFileBesideThem) {
    const std::string other = dir_.file("a") + "/three.vlm";
    test::writeTable(other, beforeB_);
    ASSERT_EQ(runTransactionWith(other, false), 0);
    EXPECT_EQ(markerOf(a_).second, "C:\\velLuM.TCF");
    EXPECT_EQ(markerOf(other).second, "C:\\velLuM.TCF");
    EXPECT_EQ(withoutMarker(test::readTable(other)), afterB_);
    EXPECT_TRUE(fs::exists(controlA_));
    EXPECT_FALSE(fs::exists(controlB_));
}

TEST_F(TwoFolders, aTransactionThatChangesOneFileTouchesNoControlFile) {
    ASSERT_EQ(runTransaction(true), 0);
    EXPECT_EQ(withoutMarker(test::readTable(a_)), afterA_);
    EXPECT_EQ(test::readTable(b_), beforeB_);
    EXPECT_FALSE(fs::exists(controlA_));
    EXPECT_FALSE(fs::exists(controlB_));
    EXPECT_EQ(test::readTable(a_).count(kMarkerKey), 0u) << "no marker for one file";
}

TEST_F(TwoFolders, filesOfOneFolderShareOneControlFile) {
    const std::string other = dir_.file("a") + "/../a/three.vlm";
    test::writeTable(other, {});
    PageFile fileA;
    PageFile fileC;
    ASSERT_EQ(fileA.open(a_, 0x42, ""), 0);
    ASSERT_EQ(fileC.open(other, 0x42, ""), 0);
    transactionSet().enlist(&fileA);
    transactionSet().enlist(&fileA);
    transactionSet().enlist(&fileC);
    EXPECT_EQ(transactionSet().enlistedCount(), 2u);
    EXPECT_EQ(transactionSet().pathCount(), 1u);
    transactionSet().rollbackAll();
    EXPECT_EQ(transactionSet().enlistedCount(), 0u);
    EXPECT_EQ(transactionSet().pathCount(), 0u);
}

TEST_F(TwoFolders, aHundredAndFirstControlFileIsFatal) {
    std::vector<std::unique_ptr<PageFile>> files;
    for (int i = 0; i < 101; ++i) {
        std::string folder = dir_.file("f" + std::to_string(i));
        fs::create_directory(folder);
        test::writeFileBytes(folder + "/t.vlm", "");
        files.push_back(std::make_unique<PageFile>());
        ASSERT_EQ(files.back()->open(folder + "/t.vlm", 0x42, ""), 0);
    }
    for (int i = 0; i < 100; ++i) transactionSet().enlist(files[static_cast<size_t>(i)].get());
    EXPECT_EQ(transactionSet().pathCount(), 100u);
    try {
        transactionSet().enlist(files.back().get());
        ADD_FAILURE() << "no fatal error";
    } catch (const FatalError& error) {
        EXPECT_EQ(error.number(), kTooManyControlFilesFatal);
    }
    transactionSet().rollbackAll();
    EXPECT_EQ(transactionSet().enlistedCount(), 0u);
}

TEST_F(TwoFolders, aNumberAlreadyRegisteredIsRaisedAndGivenBackEverywhere) {
    // Another transaction holds the numbers of this second and the next 20 in the second
    // control file; the first gives back every number it registered on the way.
    const uint32_t now = os::localTimeSeconds();
    Contents taken;
    for (uint32_t n = now; n <= now + 20; ++n) taken[numberKey(n)] = "";
    test::writeTable(controlB_, taken);
    ASSERT_EQ(runTransaction(), 0);
    expectAllOldOrAllNew(true);
    EXPECT_EQ(markerOf(a_).first, now + 21);
    EXPECT_EQ(markerOf(b_).first, now + 21);
    EXPECT_TRUE(controlEntries(controlA_).empty());
    EXPECT_EQ(controlEntries(controlB_), taken);
}

TEST_F(TwoFolders, anExplicitControlFileReplacesTheDefaultOnesAndIsMarkedByItsFullPath) {
    // Given relative to the working directory; a recovery may run from another one.
    const fs::path previous = fs::current_path();
    fs::current_path(dir_.file("a"));
    transactionSet().setExplicitName("../shared.tcf");
    int result = runTransaction();
    transactionSet().setExplicitName("");
    fs::current_path(previous);
    ASSERT_EQ(result, 0);
    expectAllOldOrAllNew(true);
    const std::string control = dir_.file("shared.tcf");
    EXPECT_TRUE(fs::exists(control));
    EXPECT_TRUE(controlEntries(control).empty());
    EXPECT_FALSE(fs::exists(controlA_));
    EXPECT_FALSE(fs::exists(controlB_));
    EXPECT_EQ(markerOf(a_).second, fs::canonical(dir_.path()).string() + "/shared.tcf");
    EXPECT_EQ(markerOf(b_).second, markerOf(a_).second);
}

TEST_F(TwoFolders, aControlFileThatCannotBeOpenedFailsTheCommit) {
    transactionSet().setExplicitName(dir_.file("missing") + "/x.tcf");
    int result = runTransaction();
    transactionSet().setExplicitName("");
    EXPECT_NE(result, 0);
    expectAllOldOrAllNew(false);
}

// The writes of a commitAll over both files, in order, as points of the commit: writes to the
// control files register the number, then each data file's first stage, then the control
// files again remove it, then the data files' second stages. Counts are of writes from 1.
struct CommitPoints {
    int firstStageOne = 0;   // writes before the first data file's first stage
    int secondStageOne = 0;  // writes before the second data file's first stage
    int removal = 0;         // writes before the number is removed
    int removedFromA = 0;    // the write that commits the removal from A's control file
    int removalFromB = 0;    // writes before the removal from B's control file
    int removedFromB = 0;    // the write that commits the removal from B's control file
    int stageTwo = 0;        // writes before the second stages
    int total = 0;
};

class CommitWrites : public TwoFolders {
protected:
    // Runs a transaction with every write recorded, finds its points and restores the files.
    CommitPoints findPoints() {
        RecordingFileSystem recorder;
        {
            test::ScopedFileSystem scoped(recorder);
            EXPECT_EQ(runTransaction(), 0);
        }
        restore();
        const std::vector<Write>& writes = recorder.writes;
        auto isData = [&](size_t i) { return writes[i].file == a_ || writes[i].file == b_; };
        CommitPoints points;
        size_t i = 0;
        while (i < writes.size() && !isData(i)) ++i;
        points.firstStageOne = static_cast<int>(i);
        const std::string first = i < writes.size() ? writes[i].file : "";
        while (i < writes.size() && writes[i].file == first) ++i;
        points.secondStageOne = static_cast<int>(i);
        while (i < writes.size() && isData(i)) ++i;
        points.removal = static_cast<int>(i);
        // A control file's commit takes effect with the write of its header (offset 0).
        for (; i < writes.size() && !isData(i); ++i) {
            if (writes[i].file == controlB_ && points.removalFromB == 0) {
                points.removalFromB = static_cast<int>(i);
            }
            int& removed = writes[i].file == controlA_ ? points.removedFromA : points.removedFromB;
            if (writes[i].offset == 0 && removed == 0) removed = static_cast<int>(i) + 1;
        }
        points.stageTwo = static_cast<int>(i);
        points.total = static_cast<int>(writes.size());
        EXPECT_GT(points.firstStageOne, 0) << "registration writes the control files";
        EXPECT_GT(points.secondStageOne, points.firstStageOne);
        EXPECT_GT(points.removal, points.secondStageOne);
        EXPECT_GT(points.removedFromA, points.removal) << "A's control file is the first";
        EXPECT_GE(points.removalFromB, points.removedFromA);
        EXPECT_GT(points.removedFromB, points.removalFromB);
        EXPECT_GT(points.stageTwo, points.removedFromB);
        EXPECT_GT(points.total, points.stageTwo);
        return points;
    }

    static std::string describe(const CommitPoints& points) {
        return "stage one from " + std::to_string(points.firstStageOne + 1) + ", removal from " +
               std::to_string(points.removal + 1) + " (A committed at " +
               std::to_string(points.removedFromA) + ", B at " +
               std::to_string(points.removedFromB) + "), stage two from " +
               std::to_string(points.stageTwo + 1) + " to " + std::to_string(points.total);
    }
};

TEST_F(CommitWrites, aFailedWriteAtEachPointEndsTheCommitAsItReports) {
    const CommitPoints points = findPoints();
    // Which write fails, what commitAll answers, whether the files show the new contents, and
    // how many numbers each control file keeps.
    struct Case {
        const char* point;
        int failWrite;
        bool committed;
        size_t leftInA;
        size_t leftInB;
    };
    const Case cases[] = {
        {"registration", 1, false, 0, 0},
        {"first file's stage one", points.firstStageOne + 1, false, 0, 0},
        {"second file's stage one", points.secondStageOne + 1, false, 0, 0},
        // The number stays where its removal failed: the files roll back, as reported.
        {"removal from the first control file", points.removal + 1, false, 1, 0},
        // The commit point lies behind; the other control file only keeps numbers apart.
        {"removal from the second control file", points.removalFromB + 1, true, 0, 1},
        {"stage two", points.stageTwo + 1, true, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.point) + ": write " + std::to_string(c.failWrite) + "; " +
                     describe(points));
        test::FaultyFileSystem faulty;
        faulty.failWriteAt = c.failWrite;
        int result;
        {
            test::ScopedFileSystem scoped(faulty);
            result = runTransaction();
        }
        EXPECT_EQ(result == 0, c.committed) << result;
        expectAllOldOrAllNew(c.committed);
        EXPECT_EQ(controlEntries(controlA_).size(), c.leftInA);
        EXPECT_EQ(controlEntries(controlB_).size(), c.leftInB);
        restore();
    }
}

TEST_F(CommitWrites, aProcessStoppedAfterAnyWriteOfTheCommitLeavesAllOldOrAllNew) {
    const CommitPoints points = findPoints();
    for (int k = 0; k <= points.total; ++k) {
        SCOPED_TRACE("stopped after write " + std::to_string(k) + "; " + describe(points));
        restore();
        test::ChildProcess child([&](test::ChildProcess&) {
            test::FaultyFileSystem faulty;
            faulty.stopAfterWrite = k;
            faulty.stopExitStatus = 77;
            test::ScopedFileSystem scoped(faulty);
            FatalTrap trap("test file");
            PageFile fileA;
            PageFile fileB;
            if (fileA.open(a_, 0x42, "") != 0 || fileB.open(b_, 0x42, "") != 0) return 1;
            fileA.beginWrite();
            transactionSet().enlist(&fileA);
            fileB.beginWrite();
            transactionSet().enlist(&fileB);
            test::applyChanges(fileA, beforeA_, afterA_);
            test::applyChanges(fileB, beforeB_, afterB_);
            if (k == 0) _exit(77);
            return transactionSet().commitAll() == 0 ? 0 : 2;
        });
        ASSERT_EQ(child.join(), 77) << "the child stopped";

        const bool committed = k >= points.removedFromA;
        expectAllOldOrAllNew(committed);
        if (committed) {
            EXPECT_EQ(markerOf(a_).first, markerOf(b_).first);
        }
        // From registration to the removal the number stays in a control file: in the first
        // it is what rolls the files back at their next open, in the second it is never asked
        // for again. While the number is being registered, either may hold it.
        if (k == 0 || k >= points.firstStageOne) {
            EXPECT_EQ(controlEntries(controlA_).size(), k == 0 || committed ? 0u : 1u);
            EXPECT_EQ(controlEntries(controlB_).size(),
                      k == 0 || k >= points.removedFromB ? 0u : 1u);
        }
    }
}

}  // namespace
}  // namespace vellum
