// DiskFile: block transfers, the cipher on the way, write errors, and lock attempts.
#include "pagestore/disk_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pagestore/fatal_matchers.h"
#include "pagestore/open_mode.h"
#include "support/faulty_file_system.h"
#include "support/temp_dir.h"

namespace vellum {
namespace {

constexpr int kCreateReadWrite = kModeOwnOpen | kModeCreateNew | 2;

class RecordingTrace : public TraceLog {
public:
    bool isOn() const override { return true; }
    void writeLine(std::string_view line) override { lines.emplace_back(line); }
    std::vector<std::string> lines;
};

std::vector<uint8_t> patternBlock(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
}

TEST(DiskFile, EncipheredWritesLeaveTheCallersBufferAndReadBack) {
    test::TempDir dir;
    std::string path = dir.file("a.vlm");
    std::vector<uint8_t> plain = patternBlock(512);
    {
        DiskFile disk;
        ASSERT_EQ(disk.open(path, kCreateReadWrite, "secret"), 0);
        std::vector<uint8_t> buffer = plain;
        disk.write(0, buffer.data(), buffer.size());
        EXPECT_EQ(buffer, plain);
    }
    std::string onDisk = test::readFileBytes(path);
    ASSERT_EQ(onDisk.size(), 512u);
    EXPECT_NE(std::vector<uint8_t>(onDisk.begin(), onDisk.end()), plain);

    DiskFile disk;
    ASSERT_EQ(disk.open(path, 2, "secret"), 0);
    std::vector<uint8_t> back(512);
    EXPECT_EQ(disk.read(0, back.data(), 512), 512u);
    EXPECT_EQ(back, plain);
    // A read past the end returns what there is, as it lies on disk.
    EXPECT_EQ(disk.read(448, back.data(), 128), 64u);
}

TEST(DiskFile, CountsThatAreNotWholeBlocksAreFatalBeforeAnythingHappens) {
    test::TempDir dir;
    DiskFile disk;
    ASSERT_EQ(disk.open(dir.file("a.vlm"), kCreateReadWrite, ""), 0);
    std::vector<uint8_t> buffer(128);
    EXPECT_FATAL(disk.write(0, buffer.data(), 100), 2286);
    EXPECT_EQ(disk.size(), 0u);
    EXPECT_FATAL(disk.read(0, buffer.data(), 100), 2272);
    EXPECT_FATAL(disk.readExact(0, buffer.data(), 64), 2172);
}

TEST(DiskFile, WithoutAHandleNothingIsTransferredOrLocked) {
    DiskFile disk;
    std::vector<uint8_t> buffer(64);
    EXPECT_EQ(disk.read(0, buffer.data(), 64), 0u);
    disk.write(0, buffer.data(), 64);
    EXPECT_EQ(disk.lock(nullptr, 0, LockKind::writer, false), 0);
    EXPECT_EQ(disk.size(), 0u);
}

TEST(DiskFile, AFailedWriteIsStickyAndAShortOneStoresAccessDenied) {
    test::TempDir dir;
    std::vector<uint8_t> buffer = patternBlock(256);
    {
        test::FaultyFileSystem faults;
        faults.failWriteAt = 1;
        test::ScopedFileSystem installed(faults);
        DiskFile disk;
        ASSERT_EQ(disk.open(dir.file("a.vlm"), kCreateReadWrite, ""), 0);
        disk.write(0, buffer.data(), 256);
        EXPECT_EQ(disk.stickyWriteError(), 90);
        disk.write(0, buffer.data(), 256);
        EXPECT_EQ(faults.writes(), 1) << "writes are skipped while the error is set";
        disk.clearStickyWriteError();
        disk.write(0, buffer.data(), 256);
        EXPECT_EQ(disk.size(), 256u);
    }
    {
        test::FaultyFileSystem faults;
        faults.shortWriteAt = 1;
        test::ScopedFileSystem installed(faults);
        DiskFile disk;
        ASSERT_EQ(disk.open(dir.file("b.vlm"), kCreateReadWrite, ""), 0);
        disk.write(0, buffer.data(), 256);
        EXPECT_EQ(disk.stickyWriteError(), 5);
    }
}

TEST(DiskFile, AFailedReadIsFatal) {
    test::TempDir dir;
    test::writeFileBytes(dir.file("a.vlm"), std::string(512, 'x'));
    test::FaultyFileSystem faults;
    faults.failReadAt = 1;
    test::ScopedFileSystem installed(faults);
    DiskFile disk;
    ASSERT_EQ(disk.open(dir.file("a.vlm"), 2, ""), 0);
    std::vector<uint8_t> buffer(512);
    EXPECT_FATAL(disk.read(0, buffer.data(), 512), 2277);
}

TEST(DiskFile, ARefusedLockIsTriedThreeTimesAndTraced) {
    test::TempDir dir;
    test::FaultyFileSystem faults;
    faults.refuseLocks = true;
    test::ScopedFileSystem installed(faults);
    DiskFile disk;
    ASSERT_EQ(disk.open(dir.file("a.vlm"), kCreateReadWrite, ""), 0);
    disk.setReaderSlot(1021);
    RecordingTrace trace;
    EXPECT_EQ(disk.lock(&trace, 0, LockKind::readerSlot, false), 33);
    EXPECT_EQ(trace.lines, std::vector<std::string>(3, "LockFile failed with error 33"));
    EXPECT_EQ(disk.readerSlot(), 1u) << "1021 -> 1022 -> 0 -> 1";
    EXPECT_EQ(disk.lock(nullptr, 5, LockKind::writer, false), 33);
}

TEST(DiskFile, UserLockNumbersOnlyGoWithTheWriterKind) {
    test::TempDir dir;
    DiskFile disk;
    ASSERT_EQ(disk.open(dir.file("a.vlm"), kCreateReadWrite, ""), 0);
    EXPECT_FATAL(disk.lock(nullptr, 3, LockKind::readerSlot, false), 2328);
    EXPECT_FATAL(disk.unlock(3, LockKind::allReaderSlots), 2352);
    // The highest user lock lies far below the range the sharing modes use.
    EXPECT_EQ(disk.lock(nullptr, uint64_t{0xFFFFFFFF} + 1, LockKind::writer, false), 0);
    disk.unlock(uint64_t{0xFFFFFFFF} + 1, LockKind::writer);
}

TEST(DiskFile, DeleteRemovesTheFileByItsName) {
    test::TempDir dir;
    DiskFile disk;
    ASSERT_EQ(disk.open(dir.file("a.vlm"), kCreateReadWrite, ""), 0);
    EXPECT_EQ(disk.deleteFile(), 0);
    EXPECT_FALSE(disk.isOpen());
    EXPECT_EQ(disk.deleteFile(), 2);
    EXPECT_EQ(disk.open(dir.file("a.vlm"), 2, ""), 2);
    EXPECT_EQ(disk.name(), dir.file("a.vlm"));
}

}  // namespace
}  // namespace vellum
