// TransactionSet over page files: a transaction over two files in two folders committed through
// the control files "vellum.tcf" next to them, the marker entries it leaves, a transaction that
// changes one file, a number already registered, an explicit control file, a failed first
// stage, and a process stopped after every write of commitAll: at the next open both files show
// all old or all new contents.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
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

Contents numbered(int from, int to, size_t dataLength, unsigned seed) {
    Contents contents;
    for (int i = from; i < to; ++i) {
        char key[16];
        std::snprintf(key, sizeof key, "k%04d", i);
        contents[key] = test::unpackableText(dataLength, seed + static_cast<unsigned>(i));
    }
    return contents;
}

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

// Records which file each write goes to, and forwards to the fault-injecting file system.
class RecordingFileSystem : public test::FaultyFileSystem {
public:
    std::vector<std::string> writtenFiles;

    int open(const std::string& path, const os::OpenRequest& request, os::Handle* handle) override {
        int result = FaultyFileSystem::open(path, request, handle);
        if (result == 0) names_[handle->fd] = path;
        return result;
    }
    int write(const os::Handle& handle, uint64_t offset, const void* buffer, size_t count,
              size_t* done) override {
        writtenFiles.push_back(names_[handle.fd]);
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
        Contents more = numbered(60, 90, 120, 9);
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

    // Opens both files, enlists them as LOGOUT does and makes the changes (to A only when
    // onlyA); then commits them all. Returns commitAll's result.
    int runTransaction(bool onlyA = false) {
        FatalTrap trap("test file");
        PageFile fileA;
        PageFile fileB;
        EXPECT_EQ(fileA.open(a_, 0x42, ""), 0);
        EXPECT_EQ(fileB.open(b_, 0x42, ""), 0);
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
    const Contents beforeA_ = numbered(0, 60, 100, 1);
    const Contents beforeB_ = numbered(0, 40, 120, 2);
    Contents afterA_ = beforeA_;
    Contents afterB_ = beforeB_;
    std::string baseA_;
    std::string baseB_;
};

TEST_F(TwoFolders, aTransactionRegistersInBothControlFilesAndLeavesTheSameMarkerInBoth) {
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
    EXPECT_EQ(nameA, "C:\\velLuM.TCF");
    EXPECT_EQ(nameB, "C:\\velLuM.TCF");
    EXPECT_EQ(transactionSet().pathCount(), 0u);
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

TEST_F(TwoFolders, anExplicitControlFileReplacesTheDefaultOnes) {
    const std::string control = dir_.file("shared.tcf");
    transactionSet().setExplicitName(control);
    int result = runTransaction();
    transactionSet().setExplicitName("");
    ASSERT_EQ(result, 0);
    expectAllOldOrAllNew(true);
    EXPECT_TRUE(fs::exists(control));
    EXPECT_TRUE(controlEntries(control).empty());
    EXPECT_FALSE(fs::exists(controlA_));
    EXPECT_FALSE(fs::exists(controlB_));
    EXPECT_EQ(markerOf(a_).second, control);
}

TEST_F(TwoFolders, aControlFileThatCannotBeOpenedFailsTheCommit) {
    transactionSet().setExplicitName(dir_.file("missing") + "/x.tcf");
    int result = runTransaction();
    transactionSet().setExplicitName("");
    EXPECT_NE(result, 0);
    expectAllOldOrAllNew(false);
}

TEST_F(TwoFolders, aFailedFirstStageLeavesBothFilesAsBefore) {
    RecordingFileSystem recorder;
    {
        test::ScopedFileSystem scoped(recorder);
        ASSERT_EQ(runTransaction(), 0);
    }
    // The first write of the data file committed second fails.
    const std::vector<std::string>& writes = recorder.writtenFiles;
    size_t first = 0;
    while (writes[first] != a_ && writes[first] != b_) ++first;
    size_t second = first;
    while (writes[second] == writes[first] || (writes[second] != a_ && writes[second] != b_)) {
        ++second;
    }
    restore();
    test::FaultyFileSystem faulty;
    faulty.failWriteAt = static_cast<int>(second) + 1;
    {
        test::ScopedFileSystem scoped(faulty);
        EXPECT_NE(runTransaction(), 0);
    }
    expectAllOldOrAllNew(false);
    EXPECT_TRUE(controlEntries(controlA_).empty());
    EXPECT_TRUE(controlEntries(controlB_).empty());
}

// The points of commitAll as write counts: writes to control files register the number, then
// each data file's first stage, then the control files again remove it (the commit point),
// then the data files' second stages.
struct CommitPoints {
    int firstStageOne = 0;   // writes before the first data file's first stage
    int secondStageOne = 0;  // writes before the second data file's first stage
    int removal = 0;         // writes before the number is removed
    int stageTwo = 0;        // writes before the second stages
    int total = 0;
};

CommitPoints findPoints(const std::vector<std::string>& writes, const std::string& a,
                        const std::string& b) {
    auto isData = [&](size_t i) { return writes[i] == a || writes[i] == b; };
    CommitPoints points;
    size_t i = 0;
    while (i < writes.size() && !isData(i)) ++i;
    points.firstStageOne = static_cast<int>(i);
    const std::string first = writes[i];
    while (i < writes.size() && writes[i] == first) ++i;
    points.secondStageOne = static_cast<int>(i);
    while (i < writes.size() && isData(i)) ++i;
    points.removal = static_cast<int>(i);
    while (i < writes.size() && !isData(i)) ++i;
    points.stageTwo = static_cast<int>(i);
    points.total = static_cast<int>(writes.size());
    return points;
}

TEST_F(TwoFolders, aProcessStoppedAtAnyPointOfTheCommitLeavesAllOldOrAllNew) {
    RecordingFileSystem recorder;
    {
        test::ScopedFileSystem scoped(recorder);
        ASSERT_EQ(runTransaction(), 0);
    }
    const CommitPoints points = findPoints(recorder.writtenFiles, a_, b_);
    ASSERT_GT(points.firstStageOne, 0) << "registration writes the control files";
    ASSERT_GT(points.secondStageOne, points.firstStageOne);
    ASSERT_GT(points.removal, points.secondStageOne);
    ASSERT_GT(points.stageTwo, points.removal);
    ASSERT_GT(points.total, points.stageTwo);

    // Every write count but those inside the removal: while the number leaves the first control
    // file and not yet the second, the folders disagree (each file asks its own control file).
    std::vector<int> stops{0};
    for (int k = 1; k <= points.total; ++k) {
        if (k <= points.removal || k >= points.stageTwo) stops.push_back(k);
    }
    for (int k : stops) {
        SCOPED_TRACE("stopped after write " + std::to_string(k) + " (stage one from " +
                     std::to_string(points.firstStageOne) + ", removal from " +
                     std::to_string(points.removal) + ", stage two from " +
                     std::to_string(points.stageTwo) + " to " + std::to_string(points.total) +
                     ")");
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

        const bool committed = k >= points.stageTwo;
        expectAllOldOrAllNew(committed);
        // Between registration and removal the number stays in both control files: it is what
        // rolls the files back at their next open. From the removal on it is gone.
        if (k == 0 || k >= points.firstStageOne) {
            size_t registered = k >= points.firstStageOne && !committed ? 1 : 0;
            EXPECT_EQ(controlEntries(controlA_).size(), registered);
            EXPECT_EQ(controlEntries(controlB_).size(), registered);
        }
        if (committed) {
            EXPECT_EQ(markerOf(a_).first, markerOf(b_).first);
        }
    }
}

}  // namespace
}  // namespace vellum
