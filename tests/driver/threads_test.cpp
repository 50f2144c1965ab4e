// Several threads calling the driver entry at once: THREAD tables with blocks of their own (on
// files of their own, and reading one shared file), non-THREAD tables of one file, and one
// non-THREAD control block shared by all threads, with STARTRAN and ENDTRAN framing. Every call
// must give one of the outcomes its situation allows, and the whole must end (a watchdog turns
// a deadlock into a failure). The program also runs under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "driver/driver_fixture.h"
#include "driver/state_rules.h"
#include "support/temp_dir.h"
#include "vellum/error_codes.h"
#include "vellum/operation_codes.h"

namespace vellum {
namespace {

using test::CallResult;
using test::DriverTable;
using test::TempDir;

constexpr int kThreads = 4;
constexpr int kRounds = 100;
constexpr int kReadWriteShared = 0x42;
constexpr int kReadOnly = 0x40;

// Ends the program when a test does not finish in time: a deadlock would otherwise hang the
// test run until its outer time-out, without saying where.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit) : thread_([this, limit] { watch(limit); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

private:
    void watch(std::chrono::seconds limit) {
        std::unique_lock<std::mutex> hold(mutex_);
        if (!changed_.wait_for(hold, limit, [this] { return done_; })) {
            std::fprintf(stderr, "threads test did not finish within %lld s: deadlock?\n",
                         static_cast<long long>(limit.count()));
            std::abort();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    std::thread thread_;
};

// Collects the calls whose outcome was not among the allowed ones, from any thread.
class Failures {
public:
    void expect(bool ok, const std::string& what, const CallResult& result) {
        if (ok) return;
        std::ostringstream line;
        line << what << ": error " << result.error << ", value " << result.value;
        std::lock_guard<std::mutex> hold(mutex_);
        lines_.push_back(line.str());
    }
    void expectError(int expected, const std::string& what, const CallResult& result) {
        expect(result.error == expected, what + " (expected " + std::to_string(expected) + ")",
               result);
    }
    void expectOneOf(std::set<int> allowed, const std::string& what, const CallResult& result) {
        expect(allowed.count(result.error) != 0, what, result);
    }
    // A NAME call that gave the name of the file. Busy threads call this without pause, so the
    // label is only made for a failure.
    void expectName(const std::string& name, const CallResult& result) {
        if (result.error != 0 || result.text != name) expect(false, "NAME " + result.text, result);
    }
    std::string report() const {
        std::lock_guard<std::mutex> hold(mutex_);
        std::string text;
        for (size_t i = 0; i < lines_.size() && i < 20; ++i) text += lines_[i] + "\n";
        if (lines_.size() > 20) text += "... " + std::to_string(lines_.size()) + " in all\n";
        return text;
    }
    bool empty() const {
        std::lock_guard<std::mutex> hold(mutex_);
        return lines_.empty();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Starts the threads together, so that their calls overlap, and joins them.
void runThreads(int count, const std::function<void(int)>& body) {
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < count) std::this_thread::yield();
            body(t);
        });
    }
    for (std::thread& thread : threads) thread.join();
}

// Makes the file with CREATE through a block of its own, which is gone before the threads start;
// the error of the CREATE.
int createFile(const std::string& name) {
    DriverTable creator(name);
    return creator.call(kCREATE).error;
}

// One open-use-close cycle of a table that only this thread uses.
void privateCycle(DriverTable& table, const std::string& name, int mode, Failures& failures) {
    failures.expectError(0, "OPEN", table.call(kOPEN, {static_cast<ArgumentSlot>(mode)}));
    failures.expectName(name, table.call(kNAME));
    CallResult count = table.call(kCOUNTRECORDS, {0});
    failures.expect(count.error == 0 && count.value == 0, "COUNTRECORDS", count);
    failures.expectError(kRecordNotAvailable, "NEXT before SET", table.call(kNEXT));
    failures.expectError(kRecordNotAvailable, "POINTERfile", table.call(kPOINTERfile));
    failures.expectError(kFileAlreadyOpen, "OPEN again", table.call(kOPEN, {0}));
    failures.expectError(0, "CLOSE", table.call(kCLOSE));
}

// Each test has a directory of its own, and a watchdog.
class ThreadsTest : public ::testing::Test {
protected:
    Watchdog watchdog_{std::chrono::seconds(240)};
    TempDir dir_;
};

TEST_F(ThreadsTest, threadTablesOnFilesOfTheirOwn) {
    Failures failures;
    runThreads(kThreads, [&](int t) {
        std::string name = dir_.file("own" + std::to_string(t) + ".vlm");
        DriverTable table(name, kAttributeCreate | kAttributeThread);
        failures.expectError(0, "CREATE", table.call(kCREATE));
        for (int round = 0; round < kRounds; ++round) {
            privateCycle(table, name, kReadWriteShared, failures);
            // A transaction and a table lock of this thread's own file.
            failures.expectError(0, "OPEN", table.call(kOPEN, {0x12}));
            failures.expectError(0, "LOCKfile", table.call(kLOCKfile));
            failures.expectError(0, "LOGOUT", table.call(kLOGOUT));
            CallResult count = table.call(kCOUNTRECORDS, {0});
            failures.expect(count.error == 0 && count.value == 0, "COUNTRECORDS in LOGOUT", count);
            failures.expectError(kLogoutAlreadyActive, "CLOSE in LOGOUT", table.call(kCLOSE));
            failures.expectError(0, "COMMIT", table.call(kCOMMIT));
            failures.expectError(0, "UNLOCK", table.call(kUNLOCK));
            failures.expectError(0, "CLOSE", table.call(kCLOSE));
            if (round % 10 == 9) failures.expectError(0, "CREATE", table.call(kCREATE));
        }
        // The thread's tables go before its list of open files does.
        failures.expectError(0, "DESTROY", table.call(kDESTROY));
    });
    EXPECT_TRUE(failures.empty()) << failures.report();
}

TEST_F(ThreadsTest, threadTablesReadingOneFile) {
    std::string name = dir_.file("shared.vlm");
    ASSERT_EQ(createFile(name), 0);
    Failures failures;
    runThreads(kThreads, [&](int t) {
        // Two blocks per thread on the one file: they share this thread's open file.
        DriverTable first(name, kAttributeThread);
        DriverTable second(name, kAttributeThread);
        for (int round = 0; round < kRounds; ++round) {
            int mode = (round + t) % 2 == 0 ? kReadOnly : kReadWriteShared;
            failures.expectError(0, "OPEN second", second.call(kOPEN, {kReadOnly}));
            privateCycle(first, name, mode, failures);
            CallResult count = second.call(kCOUNTRECORDS, {0});
            failures.expect(count.error == 0 && count.value == 0, "COUNTRECORDS second", count);
            failures.expectError(0, "CLOSE second", second.call(kCLOSE));
        }
        failures.expectError(0, "DESTROY", first.call(kDESTROY));
        failures.expectError(0, "DESTROY", second.call(kDESTROY));
    });
    EXPECT_TRUE(failures.empty()) << failures.report();
}

TEST_F(ThreadsTest, tablesOfOneFileInSeveralThreads) {
    std::string name = dir_.file("process.vlm");
    ASSERT_EQ(createFile(name), 0);
    Failures failures;
    runThreads(kThreads, [&](int t) {
        DriverTable table(name);
        for (int round = 0; round < kRounds; ++round) {
            bool framed = (round + t) % 3 == 0;
            if (framed) failures.expectError(0, "STARTRAN", table.call(kSTARTRAN));
            privateCycle(table, name, kReadWriteShared, failures);
            failures.expectError(0, "OPEN", table.call(kOPEN, {kReadWriteShared}));
            failures.expectError(0, "LOGOUT", table.call(kLOGOUT));
            CallResult count = table.call(kCOUNTRECORDS, {0});
            failures.expect(count.error == 0 && count.value == 0, "COUNTRECORDS in LOGOUT", count);
            failures.expectError(0, "COMMIT", table.call(kCOMMIT));
            failures.expectError(0, "LOCKfile", table.call(kLOCKfile));
            failures.expectError(0, "UNLOCK", table.call(kUNLOCK));
            failures.expectError(0, "CLOSE", table.call(kCLOSE));
            if (framed) failures.expectError(0, "ENDTRAN", table.call(kENDTRAN));
        }
        failures.expectError(0, "DESTROY", table.call(kDESTROY));
    });
    EXPECT_TRUE(failures.empty()) << failures.report();
}

TEST_F(ThreadsTest, oneControlBlockSharedByAllThreads) {
    std::string name = dir_.file("block.vlm");
    DriverTable table(name);
    ASSERT_EQ(table.call(kCREATE).error, 0);
    Failures failures;
    std::atomic<int> framedCycles{0};
    runThreads(kThreads, [&](int t) {
        for (int round = 0; round < kRounds; ++round) {
            switch ((round + t) % 4) {
                case 0: {
                    // Unframed: the other threads may open or close the table at any moment.
                    failures.expectOneOf({0, kFileAlreadyOpen}, "OPEN",
                                         table.call(kOPEN, {kReadWriteShared}));
                    failures.expectName(name, table.call(kNAME));
                    CallResult count = table.call(kCOUNTRECORDS, {0});
                    failures.expect((count.error == 0 || count.error == kFileNotOpen) &&
                                        count.value == 0,
                                    "COUNTRECORDS", count);
                    failures.expectOneOf({0, kFileNotOpen}, "CLOSE", table.call(kCLOSE));
                    break;
                }
                case 1: {
                    // Framed: between STARTRAN and ENDTRAN no other thread runs an engine call,
                    // so every outcome is exact.
                    failures.expectError(0, "STARTRAN", table.call(kSTARTRAN));
                    if (table.state() & kStateOpen) {
                        failures.expectError(0, "CLOSE first", table.call(kCLOSE));
                    }
                    failures.expectError(0, "OPEN framed", table.call(kOPEN, {kReadWriteShared}));
                    failures.expectError(0, "LOGOUT framed", table.call(kLOGOUT));
                    CallResult count = table.call(kCOUNTRECORDS, {0});
                    failures.expect(count.error == 0 && count.value == 0, "COUNTRECORDS framed",
                                    count);
                    failures.expectError(0, "COMMIT framed", table.call(kCOMMIT));
                    failures.expectError(0, "CLOSE framed", table.call(kCLOSE));
                    failures.expectError(kFileNotOpen, "CLOSE framed again", table.call(kCLOSE));
                    failures.expectError(0, "ENDTRAN", table.call(kENDTRAN));
                    framedCycles.fetch_add(1);
                    break;
                }
                case 2: {
                    failures.expectName(name, table.call(kNAME));
                    CallResult view = table.call(kQUERYVIEW);
                    failures.expect(view.error == 0 && view.value == 0, "QUERY_VIEW", view);
                    break;
                }
                default: {
                    CallResult count = table.call(kCOUNTRECORDS, {0});
                    failures.expect(count.error == 0 || count.error == kFileNotOpen,
                                    "COUNTRECORDS", count);
                    CallResult bof = table.call(kBOF);
                    failures.expect((bof.error == kFileNotOpen || bof.error == kRecordNotAvailable) &&
                                        bof.value == 1,
                                    "BOF", bof);
                    break;
                }
            }
        }
    });
    EXPECT_TRUE(failures.empty()) << failures.report();
    EXPECT_EQ(framedCycles.load(), kThreads * kRounds / 4);
    CallResult closed = table.call(kCLOSE);
    EXPECT_TRUE(closed.error == 0 || closed.error == kFileNotOpen) << closed.error;
}

// STARTRAN must get its turn while other threads keep calling without pause.
TEST_F(ThreadsTest, startranIsNotStarvedByBusyThreads) {
    std::string name = dir_.file("busy.vlm");
    Failures failures;
    std::atomic<bool> stop{false};
    std::atomic<int> transactions{0};
    runThreads(kThreads + 1, [&](int t) {
        DriverTable table(name);
        if (t == 0) {
            for (int round = 0; round < kRounds; ++round) {
                failures.expectError(0, "STARTRAN", table.call(kSTARTRAN));
                failures.expectName(name, table.call(kNAME));
                failures.expectError(0, "ENDTRAN", table.call(kENDTRAN));
                transactions.fetch_add(1);
            }
            stop.store(true);
        } else {
            while (!stop.load()) {
                failures.expectName(name, table.call(kNAME));
            }
        }
    });
    EXPECT_TRUE(failures.empty()) << failures.report();
    EXPECT_EQ(transactions.load(), kRounds);
}

// Threads that attach, use and destroy table objects of their own blocks while others do the
// same: the table-object pointers of the blocks and the open-file registry stay consistent.
TEST_F(ThreadsTest, attachingAndDestroyingInSeveralThreads) {
    std::string name = dir_.file("attach.vlm");
    ASSERT_EQ(createFile(name), 0);
    Failures failures;
    runThreads(kThreads, [&](int t) {
        for (int round = 0; round < kRounds; ++round) {
            DriverTable table(name, (round + t) % 2 == 0 ? 0 : kAttributeThread);
            failures.expectName(name, table.call(kNAME));
            failures.expectError(0, "OPEN", table.call(kOPEN, {kReadOnly}));
            failures.expectError(0, "SEND", table.call(kSEND, {}, {"REGISTER"}));
            failures.expectError(0, "DESTROY", table.call(kDESTROY));
            failures.expect(table.table() == nullptr, "table object left after DESTROY", {});
        }
    });
    EXPECT_TRUE(failures.empty()) << failures.report();
}

}  // namespace
}  // namespace vellum
