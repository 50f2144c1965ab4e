// The entry tree of a table file: searches across page boundaries, the sentinel of a new file,
// duplicate keys, the split rule and its limits, root splits, removals that free pages or change
// separators, the record-number counter, refusals in read mode and the memory-only tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <iterator>
#include <new>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "fatal_matchers.h"
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

// Data of a given length that does not pack into runs.
std::string varied(size_t length) {
    std::string data(length, '\0');
    for (size_t i = 0; i < length; ++i) data[i] = static_cast<char>((i * 7 + i / 251) % 251);
    return data;
}

// A search key in caller-owned storage, as initKeyEntry prepares it.
class SearchKey {
public:
    static constexpr size_t kRoom = 128;

    explicit SearchKey(std::string_view key) {
        if (key.size() > kRoom) throw std::length_error("search key too long");
        entry_ = new (storage_.data()) Entry;
        initKeyEntry(entry_);
        entry_->keyLength = entry_->totalLength = static_cast<uint16_t>(key.size());
        std::copy(key.begin(), key.end(), reinterpret_cast<char*>(entry_->bytes()));
    }
    Entry* get() { return entry_; }

private:
    alignas(Entry) std::array<uint8_t, sizeof(Entry) + kRoom> storage_{};
    Entry* entry_;
};

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

// One page of the tree as copied out of the cache.
struct PageView {
    int32_t number = 0;
    unsigned level = 0;
    std::vector<std::string> keys;
    std::vector<int32_t> children;
};

void collectPages(PageFile& file, int32_t number, unsigned level, std::vector<PageView>& out) {
    PageNode* node = file.fetchPage(number);
    PageView view{number, node->level, {}, {}};
    forEachEntry(node->tree, file.nil(), [&](Entry* entry) {
        view.keys.push_back(keyOf(entry));
        view.children.push_back(entry->child);
    });
    if (view.level == level) {
        out.push_back(std::move(view));
        return;
    }
    for (int32_t child : view.children) collectPages(file, child, level, out);
}

// The pages of one level, in key order.
std::vector<PageView> pagesOnLevel(PageFile& file, unsigned level) {
    std::vector<PageView> pages;
    collectPages(file, file.rootPage()->pageNumber, level, pages);
    return pages;
}

// 4-byte big-endian number and a filler, so that separators are long enough for several levels.
std::string numberKey(uint32_t n, size_t filler = 28) {
    std::string key = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                       static_cast<char>(n >> 8), static_cast<char>(n)};
    return key + std::string(filler, 'k');
}

class EntryTreeTest : public test::NewFileTest {
protected:
    void SetUp() override { openNew("tree.vlm"); }

    void insert(std::string_view key, std::string_view data = {}) {
        file_->insertEntry(makeEntry(key, data));
    }
    std::string find(std::string_view key) {
        Entry* entry = file_->findEntry(bytesOf(key));
        return entry ? dataOf(entry) : "<none>";
    }
    unsigned rootLevel() { return file_->rootPage()->level; }
};

TEST(EntryTree, TheFirstSearchOfANewFileNeedsWriteMode) {
    FatalTrap trap;
    test::TempDir dir;
    std::string path = dir.file("new.vlm");
    test::writeFileBytes(path, "");
    {
        PageFile reader;
        ASSERT_EQ(reader.open(path, 0x42, ""), 0);
        EXPECT_FATAL(reader.findEntry(bytesOf("a")), 1194);
    }

    PageFile writer;
    ASSERT_EQ(writer.open(path, 0x42, ""), 0);
    writer.beginWrite();
    EXPECT_EQ(writer.findEntry(bytesOf("a")), nullptr);
    EXPECT_EQ(writer.findEntry(bytesOf("")), nullptr) << "the sentinel is never returned";
    SearchKey empty("");
    EXPECT_EQ(writer.findNextEntry(empty.get()), nullptr);
    EXPECT_EQ(writer.findPreviousEntry(bytesOf("zzz")), nullptr);
    PageNode* root = writer.rootPage();
    ASSERT_NE(root->tree, writer.nil());
    EXPECT_EQ(root->tree->subtreeSize, 1u);
    EXPECT_EQ(root->tree->totalLength, 0u);
    writer.endWrite();
    writer.close();
    EXPECT_GT(test::readFileBytes(path).size(), 512u);

    PageFile again;
    ASSERT_EQ(again.open(path, 0x42, ""), 0);
    EXPECT_EQ(again.findEntry(bytesOf("a")), nullptr);
    EXPECT_EQ(again.findNextEntry(empty.get()), nullptr);
    TreeCheckReport report = checkTree(again);
    EXPECT_TRUE(report.ok()) << joined(report.problems);
    EXPECT_EQ(report.entries, 1u);
    EXPECT_EQ(report.pages, 1u);
}

TEST_F(EntryTreeTest, ReadModeRefusesEveryChange) {
    insert("a", "data");
    file_->endWrite();
    reopen(false);
    struct Case {
        const char* name;
        std::function<void(PageFile&)> change;
        int fatal;
    };
    const Case cases[] = {
        {"insert", [](PageFile& f) { f.insertEntry(makeEntry("b")); }, 1194},
        {"remove", [](PageFile& f) { f.removeEntry(f.findEntry(bytesOf("a"))); }, 1203},
        {"record number", [](PageFile& f) { f.nextRecordNumber(); }, 1163},
    };
    for (const Case& c : cases) {
        EXPECT_FATAL(c.change(*file_), c.fatal);
        EXPECT_FALSE(file_->isDirty()) << c.name;
    }
    file_->removeEntry(nullptr);  // none: nothing happens, whatever the mode
    EXPECT_EQ(find("a"), "data");
    EXPECT_EQ(find("b"), "<none>");
}

TEST_F(EntryTreeTest, AnEqualKeyIsFatalEvenWithOtherData) {
    std::vector<std::string> keys;
    for (uint32_t n = 0; n < 400; ++n) {
        keys.push_back(numberKey(n, 4));
        insert(keys.back(), varied(100));
    }
    file_->commit();
    ASSERT_GE(rootLevel(), 1u);
    for (size_t i : {size_t{0}, size_t{201}, size_t{399}}) {
        EXPECT_FATAL(insert(keys[i], "other data"), 706);
        EXPECT_FATAL(insert(keys[i]), 706);
        EXPECT_EQ(find(keys[i]), varied(100));
    }
    file_->commit();
    reopen();
    EXPECT_EQ(expectSound().entries, 401u);
}

TEST_F(EntryTreeTest, SplitRule) {
    // Entries go into a new file, whose only leaf starts with the sentinel (estimate 13 + 5).
    // A leaf splits above 15094, or above 4096 when it holds more than 20 entries.
    struct Case {
        const char* name;
        std::vector<size_t> totals;  // total lengths of the entries inserted
        unsigned leaves;
    };
    auto many = [](size_t count, size_t total, std::vector<size_t> more) {
        std::vector<size_t> totals(count, total);
        totals.insert(totals.end(), more.begin(), more.end());
        return totals;
    };
    const Case cases[] = {
        {"21 entries of 200 (estimate 4118) split", many(20, 200, {}), 2},
        {"20 entries at estimate 4118 stay", many(18, 200, {405}), 1},
        {"21 entries at estimate 4096 stay", many(19, 200, {178}), 1},
        {"21 entries at estimate 4097 split", many(19, 200, {179}), 2},
        // [sentinel] [7600 7600] (estimate 15223) splits again: every 7600 stands alone.
        {"two entries of 7600 split", {7600, 7600}, 3},
        {"estimate 15094 stays", {7600, 7466}, 1},
        {"estimate 15095 splits", {7600, 7467}, 2},
    };
    int fileNumber = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        openNew("split" + std::to_string(++fileNumber) + ".vlm");
        for (size_t i = 0; i < c.totals.size(); ++i) {
            std::string key = "k" + std::to_string(100 + i);
            insert(key, varied(c.totals[i] - key.size()));
        }
        EXPECT_EQ(rootLevel(), c.leaves == 1 ? 0u : 1u);
        EXPECT_EQ(expectSound(false).pages, c.leaves + (c.leaves == 1 ? 0u : 1u));
        file_->commit();
        reopen();
        TreeCheckReport report = expectSound();
        EXPECT_EQ(report.entries, c.totals.size() + 1);
        EXPECT_EQ(pagesOnLevel(*file_, 0).size(), c.leaves);
    }
}

TEST_F(EntryTreeTest, EntriesAndKeysTooLargeToShareAPageAreFatal1364) {
    // A leaf holding one entry alone has estimate 13 + total + 5, so an entry of more than
    // 15076 bytes cannot be placed although newEntry takes up to 15093. Separators cost their
    // key length + 9: two keys of more than 7531 bytes cannot share an index page, and a root
    // holding them splits into a new root that overflows again; the root then rises until its
    // one-byte level is exhausted. Keys of 7531 bytes still work, if in a deep tree.
    struct Case {
        size_t keyLength;
        size_t total;
        int count;
        int fatal;
        unsigned rootLevel;  // when the fatal error is raised
    };
    const Case cases[] = {
        {4, 15076, 1, 0, 0},         {4, 15077, 1, 1364, 1},      {4, 15093, 1, 1364, 1},
        {7531, 7531, 6, 0, 0},       {7532, 7532, 6, 1364, 255},  {7540, 7540, 2, 1364, 255},
        {15064, 15064, 1, 0, 0},     {15072, 15072, 1, 1364, 255},
    };
    int fileNumber = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.count) + " of " + std::to_string(c.total) + " with keys of " +
                     std::to_string(c.keyLength));
        openNew("large" + std::to_string(++fileNumber) + ".vlm");
        std::vector<std::string> keys;
        std::string data = varied(c.total - c.keyLength);
        int fatalNumber = 0;
        {
            FatalTrap trap;
            try {
                for (int i = 0; i < c.count; ++i) {
                    keys.push_back(std::string(1, char('b' + i)) + std::string(c.keyLength - 1, 'k'));
                    insert(keys.back(), data);
                }
            } catch (const FatalError& error) {
                fatalNumber = error.number();
            }
        }
        EXPECT_EQ(fatalNumber, c.fatal);
        if (c.fatal == 0) {
            EXPECT_EQ(file_->commit(), 0);
        } else {
            EXPECT_EQ(rootLevel(), c.rootLevel);
            file_->discard();  // a fatal error abandons the change; the file keeps its old state
        }
        reopen();
        for (const std::string& key : keys) EXPECT_EQ(find(key), c.fatal == 0 ? data : "<none>");
        if (c.fatal != 0) {
            EXPECT_EQ(test::readFileBytes(path_), "");
        } else {
            EXPECT_EQ(expectSound().entries, keys.size() + 1);
        }
    }
}

TEST(EntryTree, NewEntryRefusesATotalOf15094OrMore) {
    FatalTrap trap;
    const std::array<unsigned, 3> cases[] = {
        // key length, data length, fatal
        {0, 15093, 0}, {15093, 0, 0}, {7547, 7546, 0},
        {0, 15094, 824}, {15094, 0, 824}, {7547, 7547, 824}, {1, 15093, 824},
    };
    for (const auto& [keyLength, dataLength, expected] : cases) {
        Entry* entry = nullptr;
        EXPECT_FATAL(entry = newEntry(keyLength, dataLength), static_cast<int>(expected));
        if (entry != nullptr) {
            EXPECT_EQ(entry->totalLength, keyLength + dataLength);
            EXPECT_EQ(entry->keyLength, keyLength);
            freeEntry(entry);
        }
    }
}

TEST_F(EntryTreeTest, SplittingTheRootKeepsItsPageNumber) {
    insert("a", "1");
    insert("b", "2");
    file_->commit();
    reopen();
    int32_t rootNumber = file_->header().rootPage();
    EXPECT_EQ(rootNumber, 0);
    int inserted = 0;
    while (rootLevel() == 0) {
        insert("c" + std::to_string(1000 + inserted++), varied(1000));
        ASSERT_LT(inserted, 100);
    }
    EXPECT_EQ(file_->header().rootPage(), rootNumber);
    PageNode* root = file_->rootPage();
    EXPECT_EQ(root->pageNumber, rootNumber);
    EXPECT_EQ(root->level, 1);
    std::vector<PageView> leaves = pagesOnLevel(*file_, 0);
    ASSERT_EQ(leaves.size(), 2u);
    EXPECT_EQ(leaves[0].keys.front(), "") << "the first child begins with the sentinel";
    EXPECT_EQ(leaves[0].keys.size() + leaves[1].keys.size(), size_t(inserted) + 3);
    PageView rootView = pagesOnLevel(*file_, 1).front();
    EXPECT_EQ(rootView.keys, (std::vector<std::string>{"", leaves[1].keys.front()}));
    EXPECT_EQ(rootView.children, (std::vector<int32_t>{leaves[0].number, leaves[1].number}));
    EXPECT_LT(leaves[0].number, 0);
    EXPECT_LT(leaves[1].number, 0);
    expectSound(false);

    file_->commit();
    reopen();
    EXPECT_EQ(file_->header().rootPage(), rootNumber);
    TreeCheckReport report = expectSound();
    EXPECT_EQ(report.levels, 2u);
    EXPECT_EQ(report.pages, 3u);
}

TEST_F(EntryTreeTest, RemovingTheLastEntryOfALeafFreesTheLeaf) {
    // Entries of 7600 bytes cannot share a leaf: every one stands alone below the root.
    for (bool committed : {false, true}) {
        SCOPED_TRACE(committed ? "committed pages" : "new pages");
        openNew(committed ? "c.vlm" : "n.vlm");
        for (const char* key : {"b", "c", "d", "e"}) insert(key, varied(7599));
        if (committed) {
            file_->commit();
            reopen();
        }
        EXPECT_EQ(pagesOnLevel(*file_, 1).front().keys,
                  (std::vector<std::string>{"", "b", "c", "d", "e"}));
        uint64_t endBefore = file_->header().endOfPages();

        file_->removeEntry(file_->findEntry(bytesOf("c")));
        EXPECT_EQ(pagesOnLevel(*file_, 1).front().keys,
                  (std::vector<std::string>{"", "b", "d", "e"}));
        EXPECT_EQ(pagesOnLevel(*file_, 0).size(), 4u);
        EXPECT_EQ(expectSound(false).pages, 5u);
        file_->commit();
        if (committed) {
            EXPECT_LT(file_->header().endOfPages(), endBefore);
        }
        reopen();
        TreeCheckReport report = expectSound();
        EXPECT_EQ(report.pages, 5u);
        EXPECT_EQ(report.entries, 4u);
        EXPECT_EQ(find("c"), "<none>");
        EXPECT_EQ(find("d"), varied(7599));
    }
}

TEST_F(EntryTreeTest, RemovingTheFirstEntryOfALeafReplacesItsSeparators) {
    // Long keys make index pages fill quickly, so that the tree gets a root of level 2.
    std::vector<uint32_t> numbers(2400);
    std::iota(numbers.begin(), numbers.end(), 0u);
    std::shuffle(numbers.begin(), numbers.end(), std::mt19937(7));
    for (uint32_t n : numbers) insert(numberKey(n, 60), varied(100));
    file_->commit();
    reopen();
    ASSERT_EQ(rootLevel(), 2u);

    struct Case {
        const char* name;
        size_t indexPage;  // which level-1 page
        size_t child;      // which of its leaves
        unsigned separatorsChanged;
    };
    const Case cases[] = {
        {"first leaf of an index page", 1, 0, 2},
        {"inner leaf of an index page", 1, 3, 1},
        {"last leaf of the last index page", size_t(-1), size_t(-1), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<PageView> index = pagesOnLevel(*file_, 1);
        const PageView& parent = c.indexPage == size_t(-1) ? index.back() : index[c.indexPage];
        size_t child = c.child == size_t(-1) ? parent.children.size() - 1 : c.child;
        PageNode* leaf = file_->fetchPage(parent.children[child]);
        std::string removed = keyOf(firstEntry(leaf->tree, file_->nil()));
        std::string following = keyOf(nextInTree(firstEntry(leaf->tree, file_->nil()), file_->nil()));
        auto separatorCount = [&](const std::string& key) {
            unsigned count = 0;
            for (unsigned level : {1u, 2u}) {
                for (const PageView& page : pagesOnLevel(*file_, level)) {
                    count += static_cast<unsigned>(std::count(page.keys.begin(), page.keys.end(), key));
                }
            }
            return count;
        };
        ASSERT_EQ(separatorCount(removed), c.separatorsChanged);

        file_->removeEntry(file_->findEntry(bytesOf(removed)));
        EXPECT_EQ(separatorCount(removed), 0u);
        EXPECT_EQ(separatorCount(following), c.separatorsChanged);
        expectSound(false);
    }
    file_->commit();
    reopen();
    EXPECT_EQ(expectSound().entries, numbers.size() + 1 - std::size(cases));
}

TEST_F(EntryTreeTest, SearchesAcrossPageBoundaries) {
    // Even numbers only: an odd number lies between two entries, at page ends between pages.
    std::vector<uint32_t> numbers(3000);
    for (uint32_t i = 0; i < numbers.size(); ++i) numbers[i] = 2 * i + 2;
    std::shuffle(numbers.begin(), numbers.end(), std::mt19937(11));
    for (uint32_t n : numbers) insert(numberKey(n), varied(200));
    file_->commit();
    reopen(false);
    ASSERT_GE(rootLevel(), 2u);

    std::vector<PageView> leaves = pagesOnLevel(*file_, 0);
    ASSERT_GT(leaves.size(), 100u);
    auto numberOf = [](const std::string& key) {
        return uint32_t(uint8_t(key[0])) << 24 | uint32_t(uint8_t(key[1])) << 16 |
               uint32_t(uint8_t(key[2])) << 8 | uint8_t(key[3]);
    };
    for (size_t i = 0; i + 1 < leaves.size(); ++i) {
        SCOPED_TRACE("between leaves " + std::to_string(i) + " and " + std::to_string(i + 1));
        const std::string& last = leaves[i].keys.back();
        const std::string& next = leaves[i + 1].keys.front();
        std::string between = numberKey(numberOf(last) + 1);
        ASSERT_LT(between, next);

        EXPECT_EQ(file_->findEntry(bytesOf(between)), nullptr);
        SearchKey key(between);
        Entry* found = file_->findNextEntry(key.get());
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(keyOf(found), next);
        Entry* previous = file_->findPreviousEntry(bytesOf(between));
        ASSERT_NE(previous, nullptr);
        EXPECT_EQ(keyOf(previous), last);
        previous = file_->findPreviousEntry(bytesOf(next));
        ASSERT_NE(previous, nullptr);
        EXPECT_EQ(keyOf(previous), last);
        // From the last entry of a cached page the search goes on from the root.
        Entry* lastEntry = file_->findEntry(bytesOf(last));
        ASSERT_NE(lastEntry, nullptr);
        found = file_->findNextEntry(lastEntry);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(keyOf(found), next);
    }

    std::string smallest = numberKey(2);
    std::string largest = numberKey(2 * uint32_t(numbers.size()));
    EXPECT_EQ(file_->findPreviousEntry(bytesOf(smallest)), nullptr) << "only the sentinel precedes";
    EXPECT_EQ(file_->findPreviousEntry(bytesOf("")), nullptr);
    ASSERT_NE(file_->findPreviousEntry(bytesOf(numberKey(3))), nullptr);
    EXPECT_EQ(keyOf(file_->findPreviousEntry(bytesOf(numberKey(3)))), smallest);
    EXPECT_EQ(file_->findNextEntry(file_->findEntry(bytesOf(largest))), nullptr);
    SearchKey empty("");
    ASSERT_NE(file_->findNextEntry(empty.get()), nullptr);
    EXPECT_EQ(keyOf(file_->findNextEntry(empty.get())), smallest);
    SearchKey beyond(numberKey(~0u));
    EXPECT_EQ(file_->findNextEntry(beyond.get()), nullptr);
    EXPECT_EQ(keyOf(file_->findPreviousEntry(bytesOf(numberKey(~0u)))), largest);
}

TEST_F(EntryTreeTest, RecordNumbersCountUpInStoredOrder) {
    using Bytes = std::array<uint8_t, 4>;
    struct Case {
        Bytes start;
        Bytes next;
        int fatal;
    };
    const Case cases[] = {
        {{0, 0, 0, 0}, {0, 0, 0, 1}, 0},
        {{0, 0, 0, 255}, {0, 0, 1, 0}, 0},
        {{0, 0, 255, 255}, {0, 1, 0, 0}, 0},
        {{0x12, 0x34, 0x56, 0x78}, {0x12, 0x34, 0x56, 0x79}, 0},
        {{0xFD, 0xFF, 0xFF, 0xFE}, {0xFD, 0xFF, 0xFF, 0xFF}, 0},
        {{0xFD, 0xFF, 0xFF, 0xFF}, {}, 1173},
        {{0xFE, 0, 0, 0}, {}, 1173},
    };
    for (const Case& c : cases) {
        file_->setRecordNumber(c.start.data());
        Bytes got{};
        EXPECT_FATAL(got = file_->nextRecordNumber(), c.fatal);
        if (c.fatal == 0) {
            EXPECT_EQ(got, c.next);
            EXPECT_TRUE(std::equal(c.next.begin(), c.next.end(), file_->header().recordCounter()));
        }
    }

    // The counter is kept by the commit; setting it alone does not make the file dirty. Only
    // record numbers were issued in this new file, so its tree is just the sentinel.
    file_->setRecordNumber(Bytes{0, 0, 0, 255}.data());
    file_->nextRecordNumber();
    file_->commit();
    reopen();
    const Bytes stored{0, 0, 1, 0};
    EXPECT_TRUE(std::equal(stored.begin(), stored.end(), file_->header().recordCounter()));
    EXPECT_EQ(expectSound().entries, 1u);
    file_->setRecordNumber(Bytes{0, 0, 0, 7}.data());
    EXPECT_FALSE(file_->isDirty());
    EXPECT_EQ(file_->nextRecordNumber(), (Bytes{0, 0, 0, 8}));
    EXPECT_TRUE(file_->isDirty());
}

TEST(EntryTree, AFileNeverOpenedIsAPrivateTreeThatACommitDiscards) {
    FatalTrap trap;
    PageFile memory;
    EXPECT_FALSE(memory.inReadMode());
    std::vector<std::string> keys;
    for (uint32_t n = 0; n < 3000; ++n) keys.push_back(numberKey(n * 37 % 3001, 20));
    for (const std::string& key : keys) memory.insertEntry(makeEntry(key, varied(150)));
    EXPECT_GE(memory.rootPage()->level, 2u);
    for (const std::string& key : keys) {
        Entry* entry = memory.findEntry(bytesOf(key));
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(dataOf(entry), varied(150));
    }
    TreeCheckReport report = checkTree(memory);
    EXPECT_TRUE(report.ok()) << joined(report.problems);
    EXPECT_EQ(report.entries, keys.size() + 1);
    EXPECT_TRUE(memory.isDirty());

    EXPECT_EQ(memory.commit(), 0);
    EXPECT_FALSE(memory.isDirty());
    EXPECT_EQ(memory.dirtyCount(), 0u);
    EXPECT_EQ(memory.findEntry(bytesOf(keys[0])), nullptr);
    report = checkTree(memory);
    EXPECT_TRUE(report.ok()) << joined(report.problems);
    EXPECT_EQ(report.entries, 1u) << "only a new sentinel";

    memory.insertEntry(makeEntry("again", "x"));
    ASSERT_NE(memory.findEntry(bytesOf("again")), nullptr);
    EXPECT_EQ(dataOf(memory.findEntry(bytesOf("again"))), "x");
}

}  // namespace
}  // namespace vellum
