// A seeded random run of the entry tree against std::map: inserts (some of several KB, so that
// pages also split by size), removals, lookups of present and absent keys, next and previous
// searches, cursor walks, insertions and removals through cursors, with commits every few hundred
// operations and a close and reopen every few thousand, after which the whole file is compared
// with the model and checked. Runs once in plain and once in an enciphered file.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <map>
#include <random>
#include <string>

#include "pagestore/entry_cursor.h"
#include "pagestore/page_file.h"
#include "pagestore/tree_check.h"
#include "support/entry_text.h"
#include "support/temp_dir.h"
#include "vellum/entry.h"
#include "vellum/fatal.h"

namespace vellum {
namespace {

using test::bytesOf;
using test::dataOf;
using test::keyOf;
using test::makeEntry;

// Printable form of a key for failure messages.
std::string shown(const std::string& key) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : key) {
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}

struct RunParameters {
    const char* name;
    const char* owner;
    int operations;
    int commitEvery;
    int reopenEvery;
};

class EntryTreeModel {
public:
    EntryTreeModel(const RunParameters& run, uint32_t seed) : run_(run), random_(seed) {}

    void execute() {
        path_ = dir_.file("model.vlm");
        test::writeFileBytes(path_, "");
        open();
        for (int step = 1; step <= run_.operations; ++step) {
            step_ = step;
            operate();
            if (::testing::Test::HasFatalFailure()) return;
            if (step % run_.commitEvery == 0) {
                ASSERT_EQ(file_.commit(), 0) << where();
            }
            if (step % run_.reopenEvery == 0) {
                reopenAndCompare();
                if (::testing::Test::HasFailure()) return;
            }
        }
        reopenAndCompare();
        TreeCheckReport report = checkTree(file_);
        EXPECT_GE(report.levels, 3u) << "the tree should have grown a root of level 2 or more";
        ::testing::Test::RecordProperty("levels", static_cast<int>(report.levels));
        ::testing::Test::RecordProperty("entries", static_cast<int>(model_.size()));
    }

private:
    std::string where() const { return std::string(run_.name) + " step " + std::to_string(step_); }

    void open() {
        ASSERT_EQ(file_.open(path_, 0x42, run_.owner), 0);
        file_.beginWrite();
    }

    uint32_t below(uint32_t n) { return static_cast<uint32_t>(random_() % n); }

    // Keys of 1 to 40 bytes from a small alphabet, so that prefixes are often shared and keys
    // often differ only in length.
    std::string randomKey() {
        static const char alphabet[] = {'\0', '\1', 'a', 'b', 'c', 'd', 'e', 'f', 'g', '\xff'};
        std::string key(1 + below(40), '\0');
        for (char& c : key) c = alphabet[below(sizeof alphabet)];
        return key;
    }

    // Mostly 0 to 300 bytes; one in forty several KB. Half of the data is runs, which pack.
    std::string randomData() {
        size_t length = below(40) == 0 ? 2000 + below(7000) : below(301);
        std::string data(length, static_cast<char>(below(256)));
        if (below(2) == 0) {
            for (char& c : data) c = static_cast<char>(below(256));
        }
        return data;
    }

    // A present key near a random one.
    std::map<std::string, std::string>::iterator somePresent() {
        auto it = model_.lower_bound(randomKey());
        return it == model_.end() ? model_.begin() : it;
    }

    void operate() {
        uint32_t choice = below(100);
        if (model_.empty() || choice < 42) {
            insert();
        } else if (choice < 62) {
            remove();
        } else if (choice < 72) {
            lookUpPresent();
        } else if (choice < 80) {
            lookUpAbsent();
        } else if (choice < 90) {
            searchNeighbours();
        } else if (choice < 94) {
            walk();
        } else if (choice < 97) {
            insertThroughCursor();
        } else {
            removeThroughCursor();
        }
    }

    void insert() {
        std::string key = randomKey();
        if (model_.count(key)) return;
        std::string data = randomData();
        file_.insertEntry(makeEntry(key, data));
        model_[key] = data;
    }

    void remove() {
        auto it = somePresent();
        Entry* entry = file_.findEntry(bytesOf(it->first));
        ASSERT_NE(entry, nullptr) << where() << " remove " << shown(it->first);
        file_.removeEntry(entry);
        model_.erase(it);
    }

    void lookUpPresent() {
        auto it = somePresent();
        Entry* entry = file_.findEntry(bytesOf(it->first));
        ASSERT_NE(entry, nullptr) << where() << " find " << shown(it->first);
        ASSERT_EQ(dataOf(entry), it->second) << where() << " find " << shown(it->first);
    }

    void lookUpAbsent() {
        std::string key = randomKey();
        if (model_.count(key)) return;
        ASSERT_EQ(file_.findEntry(bytesOf(key)), nullptr) << where() << " absent " << shown(key);
    }

    void searchNeighbours() {
        std::string key = below(2) == 0 ? randomKey() : somePresent()->first;
        auto above = model_.upper_bound(key);
        auto atOrAbove = model_.lower_bound(key);
        std::string expectedNext = above == model_.end() ? "<none>" : above->first;
        std::string expectedPrevious =
            atOrAbove == model_.begin() ? "<none>" : std::prev(atOrAbove)->first;

        Entry* loose = newEntry(bytesOf(key));
        std::string next = keyOf(file_.findNextEntry(loose));
        freeEntry(loose);
        ASSERT_EQ(next, expectedNext) << where() << " next of " << shown(key);
        ASSERT_EQ(keyOf(file_.findPreviousEntry(bytesOf(key))), expectedPrevious)
            << where() << " previous of " << shown(key);
        // From an entry in a cached page, the in-page successor or a search from the root.
        if (Entry* present = file_.findEntry(bytesOf(key))) {
            ASSERT_EQ(keyOf(file_.findNextEntry(present)), expectedNext) << where();
        }
    }

    void walk() {
        auto it = somePresent();
        EntryCursor cursor(&file_);
        cursor.set(newEntry(bytesOf(it->first)), false);
        for (int steps = static_cast<int>(below(60)); steps >= 0 && it != model_.end(); --steps, ++it) {
            Entry* entry = cursor.fetch();
            ASSERT_EQ(keyOf(entry), it->first) << where() << " walk";
            ASSERT_EQ(dataOf(entry), it->second) << where() << " walk";
            Entry* next = file_.findNextEntry(entry);
            cursor.set(next ? copyEntryKey(*next) : nullptr, false);
        }
        if (it == model_.end()) {
            ASSERT_EQ(cursor.fetch(), nullptr) << where() << " walk end";
        }
    }

    // The key followed by a zero byte is the very next key in key order, so nothing lies
    // between the cursor's entry and the new one.
    void insertThroughCursor() {
        auto it = somePresent();
        std::string key = it->first + std::string(1, '\0');
        if (model_.count(key)) return;
        std::string data = randomData();
        EntryCursor cursor(&file_);
        cursor.set(newEntry(bytesOf(it->first)), false);
        ASSERT_NE(cursor.fetch(), nullptr) << where();
        cursor.insertHere(makeEntry(key, data));
        model_[key] = data;
        ASSERT_EQ(keyOf(cursor.fetch()), key) << where() << " insert here " << shown(key);
    }

    void removeThroughCursor() {
        auto it = somePresent();
        std::string expected = it == model_.begin() ? "<none>" : std::prev(it)->first;
        EntryCursor cursor(&file_);
        cursor.set(newEntry(bytesOf(it->first)), false);
        ASSERT_NE(cursor.fetch(), nullptr) << where();
        cursor.removeAndStepBack();
        model_.erase(it);
        ASSERT_EQ(keyOf(cursor.fetch()), expected) << where() << " step back";
    }

    void reopenAndCompare() {
        file_.close();
        open();
        for (const auto& [key, data] : model_) {
            Entry* entry = file_.findEntry(bytesOf(key));
            ASSERT_NE(entry, nullptr) << where() << " after reopen: " << shown(key);
            ASSERT_EQ(dataOf(entry), data) << where() << " after reopen: " << shown(key);
        }
        Entry* start = newEntry(0, 0);
        Entry* entry = file_.findNextEntry(start);
        freeEntry(start);
        for (const auto& [key, data] : model_) {
            ASSERT_EQ(keyOf(entry), key) << where() << " full walk";
            ASSERT_EQ(dataOf(entry), data) << where() << " full walk";
            entry = file_.findNextEntry(entry);
        }
        ASSERT_EQ(entry, nullptr) << where() << " full walk goes on";
        TreeCheckReport report = checkTree(file_);
        std::string problems;
        for (const std::string& p : report.problems) problems += p + "\n";
        ASSERT_TRUE(report.ok()) << where() << "\n" << problems;
        ASSERT_EQ(report.entries, model_.size() + 1) << where();
    }

    RunParameters run_;
    std::mt19937 random_;
    test::TempDir dir_;
    std::string path_;
    PageFile file_;
    std::map<std::string, std::string> model_;
    int step_ = 0;
};

class EntryTreeModelTest : public ::testing::TestWithParam<RunParameters> {};

TEST_P(EntryTreeModelTest, AgreesWithAnOrderedMap) {
    FatalTrap trap;
    EntryTreeModel model(GetParam(), 20240611);
    model.execute();
}

INSTANTIATE_TEST_SUITE_P(Runs, EntryTreeModelTest,
                         ::testing::Values(RunParameters{"plain", "", 60000, 300, 6000},
                                           RunParameters{"enciphered", "model owner", 30000, 250,
                                                         5000}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vellum
