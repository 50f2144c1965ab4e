// Tests of the operating-system layer: error mapping, opening files, sharing modes and byte-range
// locks within one process and across processes, the fault-injecting file system and the clock.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "os/file_system.h"
#include "support/child_process.h"
#include "support/faulty_file_system.h"
#include "support/temp_dir.h"

namespace vellum {
namespace {

using os::Access;
using os::Disposition;
using os::Handle;
using os::OpenRequest;
using os::Sharing;
using test::ChildProcess;
using test::TempDir;

constexpr int kFileNotFound = 2;
constexpr int kPathNotFound = 3;
constexpr int kAccessDenied = 5;
constexpr int kLockViolation = 33;
constexpr int kBadName = 45;
constexpr int kSystemError = 90;

OpenRequest request(Access access, Sharing sharing,
                    Disposition disposition = Disposition::openAlways) {
    OpenRequest result;
    result.access = access;
    result.sharing = sharing;
    result.disposition = disposition;
    return result;
}

// A handle that closes itself.
struct OpenFile {
    Handle handle;
    int status = -1;
    OpenFile(const std::string& path, const OpenRequest& openRequest) {
        status = os::fileSystem().open(path, openRequest, &handle);
    }
    ~OpenFile() { os::fileSystem().close(&handle); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
};

int writeText(const Handle& handle, uint64_t offset, const std::string& text) {
    size_t done = 0;
    int status = os::fileSystem().write(handle, offset, text.data(), text.size(), &done);
    if (status == 0 && done != text.size()) return -1;
    return status;
}

// ---------------------------------------------------------------------------------------------
// Error numbers

struct ErrnoCase {
    int error;
    int expected;
};

TEST(ErrorMapping, MapsErrnoToPlatformCodes) {
    const ErrnoCase cases[] = {
        {ENOENT, 2}, {ENOTDIR, 3}, {EMFILE, 4}, {ENFILE, 4},  {EACCES, 5},
        {EPERM, 5},  {EROFS, 5},   {ENOMEM, 8}, {EINVAL, 45}, {ENAMETOOLONG, 45},
        {EIO, 90},   {ENOSPC, 90}, {EBADF, 90}, {EISDIR, 90}, {EDQUOT, 90},
    };
    for (const ErrnoCase& c : cases) {
        EXPECT_EQ(os::errorFromErrno(c.error), c.expected) << "errno " << c.error;
    }
}

TEST(ErrorMapping, KeepsErrnoBehindCatchAllCode) {
    const int catchAll[] = {EIO, ENOSPC, EBADF, EDQUOT};
    for (int error : catchAll) {
        ASSERT_EQ(os::errorFromErrno(error), kSystemError);
        EXPECT_EQ(os::lastSystemError(), error);
        // A mapped code leaves the last system error alone.
        ASSERT_EQ(os::errorFromErrno(ENOENT), kFileNotFound);
        EXPECT_EQ(os::lastSystemError(), error);
    }
}

TEST(ErrorMapping, LastSystemErrorBelongsToItsThread) {
    ASSERT_EQ(os::errorFromErrno(EIO), kSystemError);
    int seenByOther = -1;
    std::thread other([&] {
        seenByOther = os::lastSystemError();
        os::errorFromErrno(ENOSPC);
    });
    other.join();
    EXPECT_EQ(seenByOther, 0);
    EXPECT_EQ(os::lastSystemError(), EIO);
}

// ---------------------------------------------------------------------------------------------
// Opening files

TEST(OpenFile, OpenExistingOnMissingFileGivesFileNotFound) {
    TempDir dir;
    OpenFile file(dir.file("missing.vlm"),
                  request(Access::readWrite, Sharing::denyNone, Disposition::openExisting));
    EXPECT_EQ(file.status, kFileNotFound);
    EXPECT_FALSE(file.handle.valid());
}

TEST(OpenFile, MissingDirectoryGivesPathNotFoundForEveryDisposition) {
    TempDir dir;
    test::writeFileBytes(dir.file("plain"), "x");
    const std::string paths[] = {dir.file("nowhere/file.vlm"), dir.file("a/b/file.vlm"),
                                 dir.file("plain/file.vlm")};
    const Disposition dispositions[] = {Disposition::openExisting, Disposition::openAlways,
                                        Disposition::createAlways};
    for (const std::string& path : paths) {
        for (Disposition disposition : dispositions) {
            OpenFile file(path, request(Access::readWrite, Sharing::denyNone, disposition));
            EXPECT_EQ(file.status, kPathNotFound)
                << path << " disposition " << static_cast<int>(disposition);
        }
    }
}

TEST(OpenFile, OpenAlwaysCreatesAndKeepsContents) {
    TempDir dir;
    std::string path = dir.file("data.vlm");
    {
        OpenFile file(path, request(Access::readWrite, Sharing::denyNone));
        ASSERT_EQ(file.status, 0);
        ASSERT_EQ(writeText(file.handle, 0, "hello"), 0);
    }
    {
        OpenFile file(path, request(Access::readWrite, Sharing::denyNone));
        ASSERT_EQ(file.status, 0);
        uint64_t length = 0;
        ASSERT_EQ(os::fileSystem().size(file.handle, &length), 0);
        EXPECT_EQ(length, 5u);
    }
    EXPECT_EQ(test::readFileBytes(path), "hello");
}

TEST(OpenFile, CreateAlwaysTruncates) {
    TempDir dir;
    std::string path = dir.file("data.vlm");
    test::writeFileBytes(path, "old contents");
    OpenFile file(path, request(Access::readWrite, Sharing::denyAll, Disposition::createAlways));
    ASSERT_EQ(file.status, 0);
    uint64_t length = 99;
    ASSERT_EQ(os::fileSystem().size(file.handle, &length), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(test::readFileBytes(path), "");
}

TEST(OpenFile, HandleRefusesWhatTheRequestDidNotAskFor) {
    TempDir dir;
    std::string path = dir.file("data.vlm");
    test::writeFileBytes(path, "abcdef");
    char buffer[4];
    size_t done = 99;
    {
        OpenFile reader(path, request(Access::read, Sharing::denyNone));
        ASSERT_EQ(reader.status, 0);
        EXPECT_TRUE(reader.handle.readable);
        EXPECT_FALSE(reader.handle.writable);
        EXPECT_EQ(os::fileSystem().write(reader.handle, 0, "zz", 2, &done), kAccessDenied);
        EXPECT_EQ(done, 0u);
        EXPECT_EQ(os::fileSystem().truncate(reader.handle, 0), kAccessDenied);
        ASSERT_EQ(os::fileSystem().read(reader.handle, 1, buffer, 3, &done), 0);
        EXPECT_EQ(std::string(buffer, done), "bcd");
    }
    {
        OpenFile writer(path, request(Access::write, Sharing::denyNone));
        ASSERT_EQ(writer.status, 0);
        EXPECT_EQ(os::fileSystem().read(writer.handle, 0, buffer, 3, &done), kAccessDenied);
        EXPECT_EQ(done, 0u);
        EXPECT_EQ(writeText(writer.handle, 0, "AB"), 0);
    }
    EXPECT_EQ(test::readFileBytes(path), "ABcdef");
}

TEST(OpenFile, ReadsStopAtEndOfFileAndWritesExtendIt) {
    TempDir dir;
    OpenFile file(dir.file("data.vlm"), request(Access::readWrite, Sharing::denyNone));
    ASSERT_EQ(file.status, 0);
    ASSERT_EQ(writeText(file.handle, 10, "tail"), 0);
    char buffer[32];
    size_t done = 0;
    ASSERT_EQ(os::fileSystem().read(file.handle, 8, buffer, sizeof buffer, &done), 0);
    EXPECT_EQ(std::string(buffer, done), std::string("\0\0tail", 6));
    ASSERT_EQ(os::fileSystem().read(file.handle, 100, buffer, sizeof buffer, &done), 0);
    EXPECT_EQ(done, 0u);
    ASSERT_EQ(os::fileSystem().truncate(file.handle, 12), 0);
    uint64_t length = 0;
    ASSERT_EQ(os::fileSystem().size(file.handle, &length), 0);
    EXPECT_EQ(length, 12u);
    EXPECT_EQ(os::fileSystem().flush(file.handle), 0);
}

TEST(OpenFile, BackslashSeparatesDirectories) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
    std::string windowsStyle = dir.path() + "\\sub\\data.vlm";
    {
        OpenFile file(windowsStyle, request(Access::readWrite, Sharing::denyNone));
        ASSERT_EQ(file.status, 0);
        ASSERT_EQ(writeText(file.handle, 0, "via backslash"), 0);
    }
    EXPECT_EQ(test::readFileBytes(dir.file("sub/data.vlm")), "via backslash");
    EXPECT_EQ(os::fileSystem().remove(windowsStyle), 0);
    EXPECT_EQ(test::readFileBytes(dir.file("sub/data.vlm")), "");
}

TEST(OpenFile, DirectoryCannotBeOpened) {
    TempDir dir;
    OpenFile file(dir.path(), request(Access::read, Sharing::denyNone, Disposition::openExisting));
    EXPECT_NE(file.status, 0);
    EXPECT_FALSE(file.handle.valid());
}

TEST(RemoveFile, RemovesAndReportsMissingFileOrDirectory) {
    TempDir dir;
    std::string path = dir.file("data.vlm");
    test::writeFileBytes(path, "x");
    EXPECT_EQ(os::fileSystem().remove(path), 0);
    EXPECT_EQ(os::fileSystem().remove(path), kFileNotFound);
    EXPECT_EQ(os::fileSystem().remove(dir.file("nowhere/data.vlm")), kPathNotFound);
}

// A file this process can only read: as root, the checks run in a child that gives up root.
// Returns the child's status, or -2 when no such child could be set up.
int runWithoutWriteAccess(const TempDir& dir, const std::string& path,
                          const std::function<int()>& body) {
    if (chmod(path.c_str(), 0444) != 0 || chmod(dir.path().c_str(), 0755) != 0) return -2;
    ChildProcess child([&](ChildProcess&) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 50;
        if (access(path.c_str(), W_OK) == 0) return 50;
        return body();
    });
    int status = child.join();
    return status == 50 ? -2 : status;
}

TEST(OpenFile, ReadOnlyFileOpensForReadingWithSharedLocks) {
    TempDir dir;
    std::string path = dir.file("data.vlm");
    test::writeFileBytes(path, "read me");
    // A writer with an exclusive lock, inherited by nobody but held by this process.
    OpenFile writer(path, request(Access::readWrite, Sharing::denyNone));
    ASSERT_EQ(writer.status, 0);
    ASSERT_EQ(os::fileSystem().lock(writer.handle, 100, 10), 0);
    int status = runWithoutWriteAccess(dir, path, [&] {
        OpenFile reader(path, request(Access::read, Sharing::denyNone, Disposition::openExisting));
        if (reader.status != 0) return 1;
        if (reader.handle.exclusiveLocks || !reader.handle.readable || reader.handle.writable) {
            return 2;
        }
        char buffer[16];
        size_t done = 0;
        if (os::fileSystem().read(reader.handle, 0, buffer, sizeof buffer, &done) != 0 ||
            std::string(buffer, done) != "read me") {
            return 3;
        }
        if (os::fileSystem().write(reader.handle, 0, "x", 1, &done) != kAccessDenied) return 4;
        // Shared locks still conflict with the writer's exclusive one.
        if (os::fileSystem().lock(reader.handle, 105, 1) != kLockViolation) return 5;
        if (os::fileSystem().lock(reader.handle, 200, 1) != 0) return 6;
        OpenFile readWrite(path, request(Access::readWrite, Sharing::denyNone));
        if (readWrite.status != kAccessDenied) return 7;
        OpenFile create(path, request(Access::read, Sharing::denyNone, Disposition::createAlways));
        if (create.status != kAccessDenied) return 8;
        // Sharing checks work for read-only descriptors too.
        OpenFile denier(path, request(Access::read, Sharing::denyRead));
        if (denier.status != kAccessDenied) return 9;
        OpenFile second(path, request(Access::read, Sharing::denyWrite));
        if (second.status != kAccessDenied) return 10;  // the writer holds write access
        OpenFile third(path, request(Access::read, Sharing::denyNone));
        if (third.status != 0) return 11;
        return 0;
    });
    if (status == -2) GTEST_SKIP() << "cannot make a file unwritable for this process";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(test::readFileBytes(path), "read me");
}

// ---------------------------------------------------------------------------------------------
// Sharing modes

struct SharingCase {
    const char* name;
    Access firstAccess;
    Sharing firstSharing;
    Access secondAccess;
    Sharing secondSharing;
    int expected;
};

const SharingCase kSharingCases[] = {
    {"DenyWriteRefusesWriter", Access::read, Sharing::denyWrite, Access::write, Sharing::denyNone,
     kAccessDenied},
    {"DenyWriteRefusesReadWriter", Access::read, Sharing::denyWrite, Access::readWrite,
     Sharing::denyNone, kAccessDenied},
    {"DenyWriteAdmitsReader", Access::readWrite, Sharing::denyWrite, Access::read,
     Sharing::denyNone, 0},
    {"DenyWriteAdmitsReaderDenyingWrite", Access::read, Sharing::denyWrite, Access::read,
     Sharing::denyWrite, 0},
    {"WriterRefusesLaterDenyWrite", Access::readWrite, Sharing::denyNone, Access::read,
     Sharing::denyWrite, kAccessDenied},
    {"ReaderAdmitsLaterDenyWrite", Access::read, Sharing::denyNone, Access::readWrite,
     Sharing::denyWrite, 0},
    {"DenyAllRefusesReader", Access::readWrite, Sharing::denyAll, Access::read, Sharing::denyNone,
     kAccessDenied},
    {"DenyAllRefusesWriter", Access::readWrite, Sharing::denyAll, Access::write, Sharing::denyNone,
     kAccessDenied},
    {"DenyAllRefusesReadWriter", Access::read, Sharing::denyAll, Access::readWrite,
     Sharing::denyNone, kAccessDenied},
    {"ReaderRefusesLaterDenyAll", Access::read, Sharing::denyNone, Access::readWrite,
     Sharing::denyAll, kAccessDenied},
    {"DenyNoneAdmitsReadWriter", Access::readWrite, Sharing::denyNone, Access::readWrite,
     Sharing::denyNone, 0},
    {"DenyNoneAdmitsReader", Access::readWrite, Sharing::denyNone, Access::read, Sharing::denyNone,
     0},
    {"DenyNoneAdmitsWriter", Access::read, Sharing::denyNone, Access::write, Sharing::denyNone, 0},
    {"DenyReadRefusesReader", Access::write, Sharing::denyRead, Access::read, Sharing::denyNone,
     kAccessDenied},
    {"DenyReadAdmitsWriter", Access::write, Sharing::denyRead, Access::write, Sharing::denyNone, 0},
    {"ReaderRefusesLaterDenyRead", Access::read, Sharing::denyNone, Access::write,
     Sharing::denyRead, kAccessDenied},
    {"WriterAdmitsLaterDenyRead", Access::write, Sharing::denyNone, Access::write,
     Sharing::denyRead, 0},
};

class SharingTest : public ::testing::TestWithParam<SharingCase> {};

std::string sharingCaseName(const ::testing::TestParamInfo<SharingCase>& info) {
    return info.param.name;
}

TEST_P(SharingTest, SecondHandleInSameProcess) {
    const SharingCase& c = GetParam();
    TempDir dir;
    std::string path = dir.file("shared.vlm");
    test::writeFileBytes(path, "contents");
    {
        OpenFile first(path, request(c.firstAccess, c.firstSharing));
        ASSERT_EQ(first.status, 0);
        OpenFile second(path, request(c.secondAccess, c.secondSharing));
        EXPECT_EQ(second.status, c.expected);
        EXPECT_EQ(second.handle.valid(), c.expected == 0);
    }
    OpenFile afterClose(path, request(c.secondAccess, c.secondSharing));
    EXPECT_EQ(afterClose.status, 0);
}

TEST_P(SharingTest, SecondHandleInAnotherProcess) {
    const SharingCase& c = GetParam();
    TempDir dir;
    std::string path = dir.file("shared.vlm");
    test::writeFileBytes(path, "contents");
    ChildProcess child([&](ChildProcess& self) {
        OpenFile first(path, request(c.firstAccess, c.firstSharing));
        if (first.status != 0) return 1;
        self.signalParent();
        if (!self.waitForParent()) return 2;
        return 0;  // closing the handle as the child ends
    });
    ASSERT_TRUE(child.waitForChild());
    {
        OpenFile second(path, request(c.secondAccess, c.secondSharing));
        EXPECT_EQ(second.status, c.expected);
    }
    child.signalChild();
    EXPECT_EQ(child.join(), 0);
    OpenFile afterExit(path, request(c.secondAccess, c.secondSharing));
    EXPECT_EQ(afterExit.status, 0);
}

INSTANTIATE_TEST_SUITE_P(Table, SharingTest, ::testing::ValuesIn(kSharingCases), sharingCaseName);

TEST(Sharing, RefusedCreateAlwaysLeavesBytesUntouched) {
    TempDir dir;
    std::string path = dir.file("precious.vlm");
    test::writeFileBytes(path, "precious bytes");
    OpenRequest create = request(Access::readWrite, Sharing::denyAll, Disposition::createAlways);
    {
        OpenFile first(path, request(Access::read, Sharing::denyWrite));
        ASSERT_EQ(first.status, 0);
        OpenFile second(path, create);
        EXPECT_EQ(second.status, kAccessDenied);
        EXPECT_EQ(test::readFileBytes(path), "precious bytes");
    }
    ChildProcess child([&](ChildProcess& self) {
        OpenFile first(path, request(Access::read, Sharing::denyNone));
        if (first.status != 0) return 1;
        self.signalParent();
        return self.waitForParent() ? 0 : 2;
    });
    ASSERT_TRUE(child.waitForChild());
    {
        OpenFile second(path, create);  // denies the reader the child holds
        EXPECT_EQ(second.status, kAccessDenied);
        EXPECT_EQ(test::readFileBytes(path), "precious bytes");
    }
    child.signalChild();
    ASSERT_EQ(child.join(), 0);
    OpenFile alone(path, create);
    EXPECT_EQ(alone.status, 0);
    EXPECT_EQ(test::readFileBytes(path), "");
}

TEST(Sharing, ConcurrentOpensNeverAdmitTwoExclusiveHandles) {
    TempDir dir;
    std::string path = dir.file("race.vlm");
    test::writeFileBytes(path, "x");
    // Several processes try at once to open the file denying everyone else; each holds what it
    // got until all have tried, so at most one may succeed.
    constexpr int kProcesses = 4;
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int i = 0; i < kProcesses; ++i) {
        children.push_back(std::make_unique<ChildProcess>([&](ChildProcess& self) {
            if (!self.waitForParent()) return 3;
            OpenFile file(path, request(Access::readWrite, Sharing::denyAll));
            self.signalParent();
            if (!self.waitForParent()) return 3;
            return file.status == 0 ? 0 : (file.status == kAccessDenied ? 1 : 2);
        }));
    }
    for (auto& child : children) child->signalChild();
    for (auto& child : children) ASSERT_TRUE(child->waitForChild());
    for (auto& child : children) child->signalChild();
    int admitted = 0;
    for (auto& child : children) {
        int status = child->join();
        ASSERT_TRUE(status == 0 || status == 1) << status;
        admitted += status == 0;
    }
    EXPECT_EQ(admitted, 1);
}

// ---------------------------------------------------------------------------------------------
// Byte-range locks

TEST(Locks, TwoHandlesOfOneProcessConflict) {
    TempDir dir;
    std::string path = dir.file("locks.vlm");
    OpenFile first(path, request(Access::readWrite, Sharing::denyNone));
    OpenFile second(path, request(Access::readWrite, Sharing::denyNone));
    ASSERT_EQ(first.status, 0);
    ASSERT_EQ(second.status, 0);
    ASSERT_EQ(os::fileSystem().lock(first.handle, 100, 10), 0);
    EXPECT_EQ(os::fileSystem().lock(second.handle, 105, 1), kLockViolation);
    EXPECT_EQ(os::fileSystem().lock(second.handle, 99, 2), kLockViolation);
    EXPECT_EQ(os::fileSystem().lock(second.handle, 110, 5), 0);
    EXPECT_EQ(os::fileSystem().lock(second.handle, 90, 10), 0);
    EXPECT_EQ(os::fileSystem().unlock(first.handle, 100, 10), 0);
    EXPECT_EQ(os::fileSystem().lock(second.handle, 100, 10), 0);
    EXPECT_EQ(os::fileSystem().lock(first.handle, 100, 1), kLockViolation);
}

TEST(Locks, ReadOnlyRequestLocksExclusively) {
    TempDir dir;
    std::string path = dir.file("locks.vlm");
    OpenFile first(path, request(Access::read, Sharing::denyNone));
    OpenFile second(path, request(Access::read, Sharing::denyNone));
    ASSERT_EQ(first.status, 0);
    ASSERT_EQ(second.status, 0);
    EXPECT_TRUE(first.handle.exclusiveLocks);
    ASSERT_EQ(os::fileSystem().lock(first.handle, 0, 1), 0);
    EXPECT_EQ(os::fileSystem().lock(second.handle, 0, 1), kLockViolation);
}

TEST(Locks, LockBeyondFourGigabytes) {
    TempDir dir;
    std::string path = dir.file("locks.vlm");
    OpenFile first(path, request(Access::readWrite, Sharing::denyNone));
    OpenFile second(path, request(Access::readWrite, Sharing::denyNone));
    ASSERT_EQ(first.status, 0);
    ASSERT_EQ(second.status, 0);
    const uint64_t highest = 2147483648ull + 1025 + 4294967295ull;
    ASSERT_EQ(os::fileSystem().lock(first.handle, highest, 1), 0);
    EXPECT_EQ(os::fileSystem().lock(second.handle, highest, 1), kLockViolation);
    // The same offset cut to 32 bits is a different byte.
    EXPECT_EQ(os::fileSystem().lock(second.handle, highest & 0xffffffffull, 1), 0);
    EXPECT_EQ(os::fileSystem().unlock(first.handle, highest, 1), 0);
    EXPECT_EQ(os::fileSystem().lock(second.handle, highest, 1), 0);
}

TEST(Locks, SharingRangeIsNotForUserLocks) {
    TempDir dir;
    OpenFile file(dir.file("locks.vlm"), request(Access::readWrite, Sharing::denyNone));
    ASSERT_EQ(file.status, 0);
    EXPECT_EQ(os::fileSystem().lock(file.handle, os::kSharingLockBase, 1), kBadName);
    EXPECT_EQ(os::fileSystem().lock(file.handle, os::kSharingLockBase - 1, 2), kBadName);
    EXPECT_EQ(os::fileSystem().unlock(file.handle, os::kSharingLockBase, 5), kBadName);
    EXPECT_EQ(os::fileSystem().lock(file.handle, os::kSharingLockBase - 1, 1), 0);
}

TEST(Locks, VanishWhenHandleCloses) {
    TempDir dir;
    std::string path = dir.file("locks.vlm");
    OpenFile second(path, request(Access::readWrite, Sharing::denyNone));
    ASSERT_EQ(second.status, 0);
    {
        OpenFile first(path, request(Access::readWrite, Sharing::denyNone));
        ASSERT_EQ(first.status, 0);
        ASSERT_EQ(os::fileSystem().lock(first.handle, 500, 20), 0);
        ASSERT_EQ(os::fileSystem().lock(second.handle, 510, 1), kLockViolation);
    }
    EXPECT_EQ(os::fileSystem().lock(second.handle, 500, 20), 0);
}

TEST(Locks, ConflictAcrossProcessesAndVanishWhenProcessDies) {
    TempDir dir;
    std::string path = dir.file("locks.vlm");
    test::writeFileBytes(path, "");
    const uint64_t high = 2147483648ull + 1025 + 4000000000ull;
    ChildProcess child([&](ChildProcess& self) {
        OpenFile file(path, request(Access::readWrite, Sharing::denyNone));
        if (file.status != 0) return 1;
        if (os::fileSystem().lock(file.handle, 1000, 10) != 0) return 2;
        if (os::fileSystem().lock(file.handle, high, 1) != 0) return 3;
        self.signalParent();
        self.waitForParent(60000);  // killed before this ends
        return 4;
    });
    ASSERT_TRUE(child.waitForChild());
    OpenFile file(path, request(Access::readWrite, Sharing::denyNone));
    ASSERT_EQ(file.status, 0);
    EXPECT_EQ(os::fileSystem().lock(file.handle, 1005, 1), kLockViolation);
    EXPECT_EQ(os::fileSystem().lock(file.handle, high, 1), kLockViolation);
    EXPECT_EQ(os::fileSystem().lock(file.handle, 1010, 1), 0);
    ASSERT_EQ(kill(child.pid(), SIGKILL), 0);
    EXPECT_EQ(child.join(), -1);
    EXPECT_EQ(os::fileSystem().lock(file.handle, 1000, 10), 0);
    EXPECT_EQ(os::fileSystem().lock(file.handle, high, 1), 0);
}

TEST(Locks, ChildConflictsWithParentsLocks) {
    TempDir dir;
    std::string path = dir.file("locks.vlm");
    test::writeFileBytes(path, "");
    ChildProcess child([&](ChildProcess& self) {
        if (!self.waitForParent()) return 10;
        OpenFile file(path, request(Access::readWrite, Sharing::denyNone));
        if (file.status != 0) return 1;
        if (os::fileSystem().lock(file.handle, 0, 4) != kLockViolation) return 2;
        self.signalParent();
        if (!self.waitForParent()) return 11;
        return os::fileSystem().lock(file.handle, 0, 4) == 0 ? 0 : 3;
    });
    {
        OpenFile file(path, request(Access::readWrite, Sharing::denyNone));
        ASSERT_EQ(file.status, 0);
        ASSERT_EQ(os::fileSystem().lock(file.handle, 2, 1), 0);
        child.signalChild();
        ASSERT_TRUE(child.waitForChild());
        ASSERT_EQ(os::fileSystem().unlock(file.handle, 2, 1), 0);
    }
    child.signalChild();
    EXPECT_EQ(child.join(), 0);
}

// ---------------------------------------------------------------------------------------------
// The fault-injecting file system

TEST(FaultyFileSystem, InstallsAndRestoresFileSystem) {
    test::FaultyFileSystem faulty;
    {
        test::ScopedFileSystem installed(faulty);
        EXPECT_EQ(&os::fileSystem(), &faulty);
    }
    EXPECT_EQ(&os::fileSystem(), &os::posixFileSystem());
}

TEST(FaultyFileSystem, FailWriteAt) {
    TempDir dir;
    std::string path = dir.file("data.vlm");
    test::FaultyFileSystem faulty;
    faulty.failWriteAt = 2;
    test::ScopedFileSystem installed(faulty);
    OpenFile file(path, request(Access::readWrite, Sharing::denyNone));
    ASSERT_EQ(file.status, 0);
    EXPECT_EQ(writeText(file.handle, 0, "one"), 0);
    size_t done = 99;
    EXPECT_EQ(os::fileSystem().write(file.handle, 3, "two", 3, &done), kSystemError);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(os::lastSystemError(), ENOSPC);
    EXPECT_EQ(writeText(file.handle, 3, "six"), 0);
    EXPECT_EQ(faulty.writes(), 3);
    EXPECT_EQ(test::readFileBytes(path), "onesix");

    faulty.failWriteAt = 4;
    faulty.writeError = EACCES;
    EXPECT_EQ(os::fileSystem().write(file.handle, 0, "x", 1, &done), kAccessDenied);
}

TEST(FaultyFileSystem, ShortWriteAt) {
    TempDir dir;
    std::string path = dir.file("data.vlm");
    test::FaultyFileSystem faulty;
    faulty.shortWriteAt = 1;
    test::ScopedFileSystem installed(faulty);
    OpenFile file(path, request(Access::readWrite, Sharing::denyNone));
    ASSERT_EQ(file.status, 0);
    size_t done = 0;
    EXPECT_EQ(os::fileSystem().write(file.handle, 0, "0123456789", 10, &done), 0);
    EXPECT_EQ(done, 5u);
    EXPECT_EQ(test::readFileBytes(path), "01234");
    EXPECT_EQ(os::fileSystem().write(file.handle, 5, "56789", 5, &done), 0);
    EXPECT_EQ(done, 5u);
    EXPECT_EQ(test::readFileBytes(path), "0123456789");
}

TEST(FaultyFileSystem, FailReadAt) {
    TempDir dir;
    std::string path = dir.file("data.vlm");
    test::writeFileBytes(path, "abc");
    test::FaultyFileSystem faulty;
    faulty.failReadAt = 2;
    test::ScopedFileSystem installed(faulty);
    OpenFile file(path, request(Access::read, Sharing::denyNone));
    ASSERT_EQ(file.status, 0);
    char buffer[3];
    size_t done = 0;
    EXPECT_EQ(os::fileSystem().read(file.handle, 0, buffer, 3, &done), 0);
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(os::fileSystem().read(file.handle, 0, buffer, 3, &done), kSystemError);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(os::lastSystemError(), EIO);
    EXPECT_EQ(os::fileSystem().read(file.handle, 0, buffer, 3, &done), 0);
    EXPECT_EQ(faulty.reads(), 3);
}

TEST(FaultyFileSystem, RefuseLocks) {
    TempDir dir;
    test::FaultyFileSystem faulty;
    faulty.refuseLocks = true;
    test::ScopedFileSystem installed(faulty);
    OpenFile file(dir.file("data.vlm"), request(Access::readWrite, Sharing::denyNone));
    ASSERT_EQ(file.status, 0);
    EXPECT_EQ(os::fileSystem().lock(file.handle, 0, 1), kLockViolation);
    EXPECT_EQ(os::fileSystem().unlock(file.handle, 0, 1), 0);
    faulty.refuseLocks = false;
    EXPECT_EQ(os::fileSystem().lock(file.handle, 0, 1), 0);
}

TEST(FaultyFileSystem, StopAfterWriteDropsLaterWrites) {
    TempDir dir;
    std::string path = dir.file("data.vlm");
    test::FaultyFileSystem faulty;
    faulty.stopAfterWrite = 2;
    faulty.stopAction = test::FaultyFileSystem::StopAction::dropWrites;
    test::ScopedFileSystem installed(faulty);
    OpenFile file(path, request(Access::readWrite, Sharing::denyNone));
    ASSERT_EQ(file.status, 0);
    EXPECT_EQ(writeText(file.handle, 0, "aa"), 0);
    EXPECT_FALSE(faulty.stopped());
    EXPECT_EQ(writeText(file.handle, 2, "bb"), 0);
    EXPECT_TRUE(faulty.stopped());
    EXPECT_EQ(writeText(file.handle, 4, "cc"), 0);
    EXPECT_EQ(writeText(file.handle, 0, "zz"), 0);
    EXPECT_EQ(os::fileSystem().truncate(file.handle, 1), 0);
    EXPECT_EQ(os::fileSystem().flush(file.handle), 0);
    EXPECT_EQ(faulty.writes(), 4);
    EXPECT_EQ(test::readFileBytes(path), "aabb");
}

TEST(FaultyFileSystem, StopAfterWriteEndsTheProcess) {
    TempDir dir;
    std::string path = dir.file("data.vlm");
    ChildProcess child([&](ChildProcess&) {
        test::FaultyFileSystem faulty;
        faulty.stopAfterWrite = 3;
        test::ScopedFileSystem installed(faulty);
        OpenFile file(path, request(Access::readWrite, Sharing::denyAll));
        if (file.status != 0) return 1;
        const char* pieces[] = {"11", "22", "33", "44", "55"};
        for (int i = 0; i < 5; ++i) {
            if (writeText(file.handle, static_cast<uint64_t>(2 * i), pieces[i]) != 0) return 2;
        }
        return 0;
    });
    EXPECT_EQ(child.join(), 77);
    EXPECT_EQ(test::readFileBytes(path), "112233");
    // The dead process left no sharing locks behind.
    OpenFile file(path, request(Access::readWrite, Sharing::denyAll));
    EXPECT_EQ(file.status, 0);
}

// ---------------------------------------------------------------------------------------------
// Clock

TEST(Clock, AdvancesAcrossSleep) {
    uint32_t before = os::clockHundredths();
    os::sleepMilliseconds(30);
    uint32_t after = os::clockHundredths();
    EXPECT_GE(after - before, 2u);
    EXPECT_GE(os::clockHundredths(), after);
}

TEST(Clock, ZeroSleepReturns) {
    os::sleepMilliseconds(0);
    SUCCEED();
}

}  // namespace
}  // namespace vellum
