// Crash safety and isolation between real processes on the real file system: a writer killed
// with SIGKILL at a random moment leaves exactly a prefix of its commits, and a reader in
// another process never sees a commit half done.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>

#include "pagestore/commit_support.h"
#include "support/child_process.h"

namespace vellum {
namespace {

using test::Contents;

constexpr int kBatch = 4;  // entries added by every commit
const std::string kFirstCounter = "0count";  // the smallest key and the largest: they lie in
const std::string kLastCounter = "~count";   // different pages once the file has grown

std::string batchKey(int commit, int i) { return "c" + std::to_string(commit) + "-" + std::to_string(i); }
std::string batchData(int commit, int i) {
    return test::unpackableText(40, static_cast<unsigned>(commit * kBatch + i));
}

// The contents after the first n commits.
Contents stateAfter(int n) {
    Contents contents = {{kFirstCounter, std::to_string(n)}, {kLastCounter, std::to_string(n)}};
    for (int commit = 0; commit < n; ++commit) {
        for (int i = 0; i < kBatch; ++i) contents[batchKey(commit, i)] = batchData(commit, i);
    }
    return contents;
}

// The commit count a snapshot claims, or -1 when it has no counter.
int claimedCommits(const Contents& contents) {
    auto found = contents.find(kFirstCounter);
    return found == contents.end() ? -1 : std::atoi(found->second.c_str());
}

// Commit number n (0-based): its batch, and both counters raised to n + 1.
void makeCommit(PageFile& file, int n) {
    file.beginWrite();
    for (int i = 0; i < kBatch; ++i) {
        file.insertEntry(test::makeEntry(batchKey(n, i), batchData(n, i)));
    }
    for (const std::string& key : {kFirstCounter, kLastCounter}) {
        file.removeEntry(file.findEntry(test::bytesOf(key)));
        file.insertEntry(test::makeEntry(key, std::to_string(n + 1)));
    }
    file.endWrite();
}

int environmentNumber(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

TEST(CrashProcess, AWriterKilledAtARandomMomentLeavesAPrefixOfItsCommits) {
    const int runs = environmentNumber("VELLUM_CRASH_RUNS", 200);
    const unsigned seed = static_cast<unsigned>(environmentNumber("VELLUM_CRASH_SEED", 20240611));
    std::mt19937 random(seed);
    // Delays from 1 to 50 ms, spread evenly on a log scale so that the first commits of the
    // new file are hit about as often as later ones.
    std::uniform_real_distribution<double> logDelayMicros(std::log(1000.0), std::log(50000.0));
    test::TempDir dir;
    std::string path = dir.file("t.vlm");
    std::map<int, int> commitsSeen;  // commit count -> runs
    int pendingSeen = 0;

    for (int run = 0; run < runs; ++run) {
        SCOPED_TRACE("run " + std::to_string(run) + ", seed " + std::to_string(seed));
        test::writeFileBytes(path, "");
        {
            test::ChildProcess writer([&](test::ChildProcess&) {
                FatalTrap trap("test file");
                PageFile file;
                if (file.open(path, 0x42, "") != 0) return 1;
                for (int n = 0;; ++n) makeCommit(file, n);
            });
            usleep(static_cast<useconds_t>(std::exp(logDelayMicros(random))));
            kill(writer.pid(), SIGKILL);
            ASSERT_EQ(writer.join(), -1) << "the writer stopped by itself";
        }
        HeaderPage header = test::diskHeader(path);
        if (header.logStart() != header.logEnd()) ++pendingSeen;

        Contents seen = test::readTable(path);
        int commits = seen.empty() ? 0 : claimedCommits(seen);
        ASSERT_GE(commits, 0);
        ASSERT_EQ(seen, seen.empty() ? Contents{} : stateAfter(commits));
        ASSERT_EQ(test::settleAndCheck(path), seen);
        ++commitsSeen[commits];
    }
    // How the kills fell, for people running long soaks.
    std::cout << runs << " runs (seed " << seed << "), " << pendingSeen
              << " left pending; commits found:";
    for (const auto& [commits, count] : commitsSeen) std::cout << ' ' << commits << "x" << count;
    std::cout << '\n';
}

TEST(CrashProcess, AReaderInAnotherProcessSeesWholeCommitsInOrder) {
    constexpr int kCommits = 100;
    constexpr int kPauseEvery = 20;
    test::TempDir dir;
    std::string path = dir.file("t.vlm");
    test::writeTable(path, stateAfter(0));

    // The writer stops after every kPauseEvery commits until the reader has looked.
    test::ChildProcess writer([&](test::ChildProcess& self) {
        FatalTrap trap("test file");
        PageFile file;
        if (file.open(path, 0x42, "") != 0) return 1;
        for (int n = 0; n < kCommits; ++n) {
            makeCommit(file, n);
            usleep(500);  // lets the reader in between commits now and then
            if ((n + 1) % kPauseEvery == 0) {
                self.signalParent();
                if (!self.waitForParent()) return 2;
            }
        }
        file.close();
        return 0;
    });

    FatalTrap trap("test file");
    PageFile reader;
    ASSERT_EQ(reader.open(path, 0x40, ""), 0);
    int last = 0;
    int snapshots = 0;
    std::set<int> distinct;
    for (int paused = kPauseEvery; paused <= kCommits;) {
        Contents snapshot = test::readContents(reader);
        reader.endBracket();
        ++snapshots;
        int commits = claimedCommits(snapshot);
        ASSERT_EQ(snapshot, stateAfter(commits)) << "a torn snapshot";
        ASSERT_GE(commits, last) << "a snapshot older than one seen before";
        last = commits;
        distinct.insert(commits);
        if (writer.waitForChild(0)) {
            // The writer has made `paused` commits and waits: the next bracket shows them all.
            snapshot = test::readContents(reader);
            reader.endBracket();
            ++snapshots;
            ASSERT_EQ(claimedCommits(snapshot), paused);
            ASSERT_EQ(snapshot, stateAfter(paused));
            last = paused;
            distinct.insert(paused);
            paused += kPauseEvery;
            writer.signalChild();
        }
        usleep(200);  // lets the writer take the lock on all reader slots
    }
    EXPECT_EQ(writer.join(), 0);
    EXPECT_EQ(test::readContents(reader), stateAfter(kCommits));
    reader.close();
    EXPECT_EQ(test::settleAndCheck(path), stateAfter(kCommits));
    std::cout << snapshots << " snapshots showing " << distinct.size() << " different states\n";
}

}  // namespace
}  // namespace vellum
