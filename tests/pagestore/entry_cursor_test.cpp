// Entry cursors: positions that survive removals, splits and eviction of their page, stepping
// back over removed entries, inserting next to the position, long walks, and their refusals in
// read mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fatal_matchers.h"
#include "pagestore/entry_cursor.h"
#include "pagestore/new_file_fixture.h"
#include "pagestore/page_file.h"
#include "pagestore/page_tree.h"
#include "pagestore/tree_check.h"
#include "support/entry_text.h"
#include "support/temp_dir.h"
#include "vellum/entry.h"

namespace vellum {
namespace {

using test::bytesOf;
using test::dataOf;
using test::keyOf;
using test::makeEntry;

std::string varied(size_t length, unsigned seed = 0) {
    std::string data(length, '\0');
    for (size_t i = 0; i < length; ++i) data[i] = static_cast<char>((i * 7 + seed) % 251);
    return data;
}

// Key of number n: 4 bytes big-endian, so byte order is number order. Keys are even numbers;
// key(n) + "+" lies between key(n) and key(n + 2).
std::string key(uint32_t n) {
    return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
            static_cast<char>(n)};
}

class EntryCursorTest : public test::NewFileTest {
protected:
    void SetUp() override { openNew("cursor.vlm"); }

    // Keys 2, 4, ..., 2 * count with data of dataLength, inserted in a shuffled order.
    void fill(uint32_t count, size_t dataLength) {
        std::vector<uint32_t> numbers(count);
        for (uint32_t i = 0; i < count; ++i) numbers[i] = 2 * i + 2;
        std::shuffle(numbers.begin(), numbers.end(), std::mt19937(count));
        for (uint32_t n : numbers) file_->insertEntry(makeEntry(key(n), varied(dataLength, n)));
    }
    void commitAndReopen(bool write = true) {
        ASSERT_EQ(file_->commit(), 0);
        reopen(write);
    }
    Entry* find(const std::string& k) { return file_->findEntry(bytesOf(k)); }
    // The keys of every leaf, in order.
    std::vector<std::vector<std::string>> leaves() {
        std::vector<std::vector<std::string>> out;
        collect(file_->rootPage()->pageNumber, out);
        return out;
    }

private:
    void collect(int32_t number, std::vector<std::vector<std::string>>& out) {
        PageNode* node = file_->fetchPage(number);
        std::vector<std::string> keys;
        std::vector<int32_t> children;
        forEachEntry(node->tree, file_->nil(), [&](Entry* entry) {
            keys.push_back(keyOf(entry));
            children.push_back(entry->child);
        });
        if (node->level == 0) {
            out.push_back(std::move(keys));
            return;
        }
        for (int32_t child : children) collect(child, out);
    }
};

TEST_F(EntryCursorTest, ACursorOnAnEntryRemovedElsewhereFetchesNone) {
    struct Case {
        const char* name;
        size_t dataLength;  // 7599: every entry alone in its leaf
        uint32_t removed;
    };
    const Case cases[] = {
        {"inner entry of a leaf", 100, 200},
        {"entry alone in its leaf", 7599, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        openNew(std::string(c.name) + ".vlm");
        fill(c.dataLength > 1000 ? 20 : 400, c.dataLength);
        commitAndReopen();
        EntryCursor cursor(file_.get());
        EntryCursor neighbour(file_.get());
        cursor.set(makeEntry(key(c.removed)), false);
        neighbour.set(makeEntry(key(c.removed + 2)), false);
        ASSERT_EQ(keyOf(cursor.fetch()), key(c.removed));
        ASSERT_EQ(keyOf(neighbour.fetch()), key(c.removed + 2));

        file_->removeEntry(find(key(c.removed)));
        EXPECT_EQ(cursor.fetch(), nullptr);
        EXPECT_TRUE(cursor.isAttached()) << "attached to the leaf where the key would be";
        EXPECT_EQ(keyOf(neighbour.fetch()), key(c.removed + 2));
        EXPECT_EQ(dataOf(neighbour.fetch()), varied(c.dataLength, c.removed + 2));
        expectSound(false);
    }
}

TEST_F(EntryCursorTest, ADetachedCursorWhoseKeyWasRemovedStaysAtItsPlace) {
    fill(300, 100);
    commitAndReopen();
    EntryCursor cursor(file_.get());
    cursor.set(makeEntry(key(100)), false);
    EXPECT_FALSE(cursor.isAttached());
    file_->removeEntry(find(key(100)));
    EXPECT_EQ(cursor.fetch(), nullptr);
    EXPECT_TRUE(cursor.isAttached());

    // The place is still good for inserting there.
    cursor.insertHere(makeEntry(key(100), "back"));
    EXPECT_TRUE(cursor.isAttached());
    EXPECT_EQ(cursor.fetch(), find(key(100)));
    EXPECT_EQ(dataOf(cursor.fetch()), "back");
    expectSound(false);
}

TEST_F(EntryCursorTest, ACursorInAPageThatSplitsFetchesTheSameEntryAgain) {
    fill(10, 200);
    EntryCursor cursor(file_.get());
    cursor.set(makeEntry(key(8)), false);
    Entry* before = cursor.fetch();
    ASSERT_EQ(keyOf(before), key(8));
    ASSERT_EQ(file_->rootPage()->level, 0);
    for (uint32_t n = 101; file_->rootPage()->level == 0; n += 2) {
        file_->insertEntry(makeEntry(key(n), varied(200)));
    }
    EXPECT_FALSE(cursor.isAttached());
    Entry* after = cursor.fetch();
    EXPECT_EQ(after, before) << "splits move entries, they do not copy them";
    EXPECT_EQ(dataOf(after), varied(200, 8));
    EXPECT_TRUE(cursor.isAttached());
    expectSound(false);
}

TEST_F(EntryCursorTest, EvictingTheCursorsPageDetachesItAndItFindsItsEntryAgain) {
    fill(3000, 200);
    commitAndReopen(false);
    std::vector<std::vector<std::string>> all = leaves();
    ASSERT_GT(all.size(), 150u);
    file_->close();
    reopen(false);  // an empty cache

    const std::string& mine = all[1].back();
    EntryCursor cursor(file_.get());
    cursor.set(makeEntry(mine), false);
    ASSERT_EQ(keyOf(cursor.fetch()), mine);
    for (size_t leaf = 2; leaf < all.size(); ++leaf) find(all[leaf].front());
    EXPECT_FALSE(cursor.isAttached());
    Entry* again = cursor.fetch();
    EXPECT_EQ(keyOf(again), mine);
    EXPECT_TRUE(cursor.isAttached());
    EXPECT_EQ(again, find(mine));
}

TEST_F(EntryCursorTest, RemoveAndStepBackOnTheSmallestEntryLeavesNothingToFetch) {
    struct Case {
        const char* name;
        size_t dataLength;
    };
    const Case cases[] = {
        {"sentinel in the same leaf", 50},
        {"sentinel alone in the first leaf", 7599},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        openNew(std::string(c.name) + ".vlm");
        fill(c.dataLength > 1000 ? 6 : 100, c.dataLength);
        commitAndReopen();
        EntryCursor cursor(file_.get());
        cursor.set(makeEntry(key(2)), false);
        ASSERT_NE(cursor.fetch(), nullptr);
        cursor.removeAndStepBack();
        EXPECT_EQ(cursor.fetch(), nullptr);
        EXPECT_EQ(find(key(2)), nullptr);
        EXPECT_EQ(file_->findPreviousEntry(bytesOf(key(4))), nullptr);
        expectSound(false);
        commitAndReopen();
        expectSound();
        EXPECT_NE(find(key(4)), nullptr);
    }
}

TEST_F(EntryCursorTest, RemoveAndStepBackLandsOnThePreviousEntry) {
    fill(400, 100);
    commitAndReopen();
    std::vector<std::vector<std::string>> all = leaves();
    ASSERT_GT(all.size(), 4u);
    ASSERT_GT(all[3].size(), 3u);
    struct Case {
        const char* name;
        std::string removed;
        std::string previous;
        bool staysAttached;  // without a new fetch
    };
    const Case cases[] = {
        {"middle of a leaf", all[3][2], all[3][1], true},
        {"last of a leaf", all[3].back(), all[3][all[3].size() - 2], true},
        {"first of a leaf", all[2].front(), all[1].back(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EntryCursor cursor(file_.get());
        EntryCursor onPrevious(file_.get());
        cursor.set(makeEntry(c.removed), false);
        onPrevious.set(makeEntry(c.previous), false);
        ASSERT_NE(cursor.fetch(), nullptr);
        ASSERT_NE(onPrevious.fetch(), nullptr);
        cursor.removeAndStepBack();
        EXPECT_EQ(cursor.isAttached(), c.staysAttached);
        EXPECT_EQ(keyOf(cursor.fetch()), c.previous);
        EXPECT_EQ(cursor.fetch(), onPrevious.fetch());
        EXPECT_EQ(find(c.removed), nullptr);
        expectSound(false);
    }
    commitAndReopen();
    EXPECT_EQ(expectSound().entries, 400u + 1 - std::size(cases));
    for (const Case& c : cases) EXPECT_EQ(find(c.removed), nullptr);
}

TEST_F(EntryCursorTest, InsertHereMovesTheCursorOntoTheNewEntry) {
    struct Case {
        const char* name;
        uint32_t entries;    // in one leaf with the sentinel, data of 200
        bool fetchFirst;     // attached cursor; otherwise it holds a key only
        unsigned rootLevel;  // afterwards
    };
    const Case cases[] = {
        {"attached, room in the leaf", 5, true, 0},
        {"attached, the leaf splits", 19, true, 1},  // the 21st entry, estimate 4194
        {"detached", 5, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        openNew(std::string(c.name) + ".vlm");
        fill(c.entries, 200);
        commitAndReopen();
        EntryCursor cursor(file_.get());
        cursor.set(makeEntry(key(6)), false);
        if (c.fetchFirst) {
            ASSERT_NE(cursor.fetch(), nullptr);
        }
        std::string added = key(6) + "+";
        cursor.insertHere(makeEntry(added, varied(200 - added.size())));
        // Without a split the cursor moves onto the new entry; otherwise it finds it again.
        EXPECT_TRUE(cursor.isAttached());
        Entry* current = cursor.fetch();
        EXPECT_EQ(keyOf(current), added);
        EXPECT_EQ(current, find(added));
        EXPECT_EQ(file_->rootPage()->level, c.rootLevel);
        EXPECT_EQ(keyOf(file_->findNextEntry(current)), key(8));
        expectSound(false);
        commitAndReopen();
        EXPECT_EQ(expectSound().entries, c.entries + 2u);
        ASSERT_NE(find(added), nullptr);
        EXPECT_EQ(dataOf(find(added)), varied(200 - added.size()));
    }
}

TEST_F(EntryCursorTest, SetWithInsertFirstInsertsAndKeepsTheKey) {
    fill(50, 10);
    EntryCursor cursor(file_.get());
    cursor.set(makeEntry(key(31), "new"), true);
    EXPECT_FALSE(cursor.isAttached());
    Entry* current = cursor.fetch();
    EXPECT_EQ(current, find(key(31)));
    EXPECT_EQ(dataOf(current), "new");
    EXPECT_FATAL(cursor.set(makeEntry(key(31), "again"), true), 706);
    EXPECT_EQ(dataOf(find(key(31))), "new");
}

TEST_F(EntryCursorTest, InsertHereOfAnExistingKeyIsFatal) {
    fill(20, 10);
    EntryCursor cursor(file_.get());
    cursor.set(makeEntry(key(10)), false);
    ASSERT_NE(cursor.fetch(), nullptr);
    EXPECT_FATAL(cursor.insertHere(makeEntry(key(12), "other")), 706);
    EXPECT_EQ(dataOf(find(key(12))), varied(10, 12));
    EntryCursor detached(file_.get());
    detached.set(makeEntry(key(10)), false);
    EXPECT_FATAL(detached.insertHere(makeEntry(key(10), "other")), 706);
    expectSound(false);
}

TEST_F(EntryCursorTest, ReleasingAnEntryClearsTheCursorsOnIt) {
    fill(100, 10);
    EntryCursor first(file_.get());
    EntryCursor second(file_.get());
    first.set(makeEntry(key(50)), false);
    second.set(makeEntry(key(50)), false);
    ASSERT_EQ(first.fetch(), second.fetch());
    releaseEntry(find(key(50)));
    EXPECT_FALSE(first.isAttached());
    EXPECT_FALSE(second.isAttached());
    EXPECT_EQ(first.fetch(), nullptr);
    EXPECT_EQ(second.fetch(), nullptr);
    EXPECT_NE(find(key(50)), nullptr) << "releasing clears cursors, the entry stays";

    // Removing through one cursor clears the others standing on the entry.
    first.set(makeEntry(key(52)), false);
    second.set(makeEntry(key(52)), false);
    ASSERT_NE(first.fetch(), nullptr);
    ASSERT_EQ(first.fetch(), second.fetch());
    first.removeAndStepBack();
    EXPECT_EQ(keyOf(first.fetch()), key(50));
    EXPECT_EQ(second.fetch(), nullptr);
    EXPECT_FALSE(second.isAttached());
    expectSound(false);
}

TEST_F(EntryCursorTest, CursorsWalkThousandsOfEntriesBothWays) {
    const uint32_t count = 4000;
    fill(count, 120);
    commitAndReopen(false);
    ASSERT_GE(file_->rootPage()->level, 1);

    EntryCursor cursor(file_.get());
    Entry* start = newEntry(0, 0);
    Entry* first = file_->findNextEntry(start);
    freeEntry(start);
    ASSERT_NE(first, nullptr);
    cursor.set(copyEntryKey(*first), false);
    uint32_t expected = 2;
    for (Entry* entry = cursor.fetch(); entry != nullptr; expected += 2) {
        ASSERT_EQ(keyOf(entry), key(expected));
        ASSERT_EQ(dataOf(entry), varied(120, expected));
        Entry* next = file_->findNextEntry(entry);
        cursor.set(next ? copyEntryKey(*next) : nullptr, false);
        entry = cursor.fetch();
    }
    EXPECT_EQ(expected, 2 * count + 2);

    cursor.set(makeEntry(key(2 * count)), false);
    expected = 2 * count;
    for (Entry* entry = cursor.fetch(); entry != nullptr; expected -= 2) {
        ASSERT_EQ(keyOf(entry), key(expected));
        Entry* previous = file_->findPreviousEntry(entry->key());
        cursor.set(previous ? copyEntryKey(*previous) : nullptr, false);
        entry = cursor.fetch();
    }
    EXPECT_EQ(expected, 0u);
}

TEST_F(EntryCursorTest, MarkChangedKeepsDataChangedInPlace) {
    fill(50, 10);
    commitAndReopen();
    EntryCursor cursor(file_.get());
    cursor.set(makeEntry(key(20)), false);
    Entry* entry = cursor.fetch();
    ASSERT_NE(entry, nullptr);
    std::fill_n(entry->bytes() + entry->keyLength, 10, uint8_t{'z'});
    cursor.markChanged();
    EXPECT_TRUE(file_->isDirty());
    commitAndReopen();
    EXPECT_EQ(dataOf(find(key(20))), std::string(10, 'z'));
}

TEST_F(EntryCursorTest, ReadModeRefusesChangesThroughCursors) {
    fill(50, 10);
    commitAndReopen(false);
    EntryCursor cursor(file_.get());
    cursor.set(makeEntry(key(20)), false);
    ASSERT_NE(cursor.fetch(), nullptr) << "fetching is fine in read mode";
    struct Case {
        const char* name;
        std::function<void()> change;
        int fatal;
    };
    const Case cases[] = {
        {"insert here", [&] { cursor.insertHere(makeEntry(key(20) + "+")); }, 231},
        {"mark changed", [&] { cursor.markChanged(); }, 337},
        {"remove and step back", [&] { cursor.removeAndStepBack(); }, 337},
    };
    for (const Case& c : cases) {
        EXPECT_FATAL(c.change(), c.fatal);
        EXPECT_FALSE(file_->isDirty()) << c.name;
    }
    EXPECT_NE(find(key(20)), nullptr);
    EXPECT_EQ(find(key(20) + "+"), nullptr);
}

}  // namespace
}  // namespace vellum
