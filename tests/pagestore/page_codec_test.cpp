// Tests of page images: the packed entry area, the entry encoding, building and decoding whole
// images, the balanced page tree, and the fatal errors of damaged images.
#include "pagestore/page_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "pagestore/page_tree.h"
#include "vellum/byte_order.h"
#include "vellum/fatal.h"

namespace vellum {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

size_t roundUp(size_t size) { return (size + 255) / 256 * 256; }

void put16(Bytes& image, size_t at, size_t value) {
    store16le(image.data() + at, static_cast<uint16_t>(value));
}

size_t get16(const Bytes& image, size_t at) { return load16le(image.data() + at); }

// Runs f under a fatal trap and returns the fatal number it raised, or 0.
template <typename F>
int fatalNumberOf(F&& f) {
    FatalTrap trap;
    try {
        f();
    } catch (const FatalError& error) {
        return error.number();
    }
    return 0;
}

// The key and data of an entry, for comparisons.
struct Item {
    std::string key;
    std::string data;
    bool operator==(const Item&) const = default;
};

void PrintTo(const Item& item, std::ostream* os) {
    *os << "{key " << item.key.size() << " bytes, data " << item.data.size() << " bytes}";
}

Item itemOf(const Entry* entry) {
    auto key = entry->key();
    auto data = entry->data();
    return {std::string(key.begin(), key.end()), std::string(data.begin(), data.end())};
}

// Loose entries owned by the test.
class EntryList {
public:
    explicit EntryList(const std::vector<Item>& items = {}) {
        for (const Item& item : items) add(item);
    }
    ~EntryList() {
        for (Entry* entry : entries_) freeEntry(entry);
    }
    EntryList(const EntryList&) = delete;
    EntryList& operator=(const EntryList&) = delete;

    Entry* add(const Item& item) {
        Bytes key = bytesOf(item.key);
        Bytes data = bytesOf(item.data);
        entries_.push_back(newEntry(key, data));
        return entries_.back();
    }
    Entry* const* data() const { return entries_.data(); }
    size_t size() const { return entries_.size(); }
    Entry* operator[](size_t i) const { return entries_[i]; }

private:
    std::vector<Entry*> entries_;
};

// A decoded tree, freed at the end of the test.
class DecodedPage {
public:
    DecodedPage(PageContents contents, Entry* nil) : contents_(contents), nil_(nil) {}
    ~DecodedPage() { destroyTree(contents_.tree, nil_); }
    DecodedPage(const DecodedPage&) = delete;
    DecodedPage& operator=(const DecodedPage&) = delete;

    const PageContents& contents() const { return contents_; }
    std::vector<Entry*> entries() const {
        std::vector<Entry*> all;
        forEachEntry(contents_.tree, nil_, [&](Entry* entry) { all.push_back(entry); });
        return all;
    }
    std::vector<Item> items() const {
        std::vector<Item> all;
        for (Entry* entry : entries()) all.push_back(itemOf(entry));
        return all;
    }

private:
    PageContents contents_;
    Entry* nil_;
};

uint16_t sizeEstimateOf(const std::vector<Item>& items, uint8_t level) {
    size_t estimate = kPageHeaderSize;
    for (const Item& item : items) estimate += item.key.size() + item.data.size() + 5;
    if (level != 0) estimate += 4 * items.size();
    return static_cast<uint16_t>(estimate);
}

std::string repeated(char c, size_t n) { return std::string(n, c); }

// Bytes with no two equal neighbours, so that they contain no run.
std::string noRuns(size_t n, unsigned seed = 0) {
    std::string text(n, '\0');
    for (size_t i = 0; i < n; ++i) text[i] = static_cast<char>((i * 7 + seed) % 251);
    return text;
}

std::string randomText(std::mt19937& random, size_t n) {
    std::string text(n, '\0');
    for (char& c : text) c = static_cast<char>(random() & 0xFF);
    return text;
}

// ---- Packed entry area ----

TEST(PackArea, WritesTheRunsOfFourOrMore) {
    struct Case {
        std::string input;
        Bytes stream;  // empty: reported as not worth packing
    };
    const std::vector<Case> cases = {
        {"AAAAB", {1, 'A', 3, 1, 'B'}},
        {"ABBBB", {2, 'A', 'B', 3, 0}},
        {"AAAA", {1, 'A', 3, 0}},
        {"xyAAAAAAAAzAAAAB", {3, 'x', 'y', 'A', 7, 2, 'z', 'A', 3, 1, 'B'}},
        {repeated('A', 200), {1, 'A', 0xC7, 0x01, 0}},
        {"ABCD", {}},
        {"AAAB", {}},
        {"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        Bytes input = bytesOf(c.input);
        Bytes out(input.size() + 10);
        size_t length = packArea(input.data(), input.size(), out.data());
        if (c.stream.empty()) {
            EXPECT_EQ(length, input.size());
        } else {
            ASSERT_EQ(length, c.stream.size());
            EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(length)), c.stream);
        }
    }
}

TEST(PackArea, ReportsAStreamThatGainsNothingAsPlain) {
    // Two long literals around a run of four: the stream would be longer than the area.
    Bytes input = bytesOf(noRuns(200) + "QQQQ" + noRuns(200, 3));
    Bytes out(input.size() + 10);
    EXPECT_EQ(packArea(input.data(), input.size(), out.data()), input.size());
}

TEST(PackCount, UsesSevenBitGroupsLowFirst) {
    struct Case {
        uint32_t count;
        Bytes bytes;
    };
    const std::vector<Case> cases = {
        {0, {0x00}},
        {127, {0x7F}},
        {128, {0x80, 0x01}},
        {200, {0xC8, 0x01}},
        {16383, {0xFF, 0x7F}},
        {16384, {0x80, 0x80, 0x01}},
        {0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        uint8_t out[5] = {};
        size_t length = writeCount(c.count, out);
        EXPECT_EQ(Bytes(out, out + length), c.bytes);
    }
}

TEST(PackCount, RoundTripsThroughUnpacking) {
    for (uint32_t count : {0u, 1u, 127u, 128u, 16383u, 16384u}) {
        SCOPED_TRACE(count);
        // A literal 'x', `count` repeats of it, and a closing literal 'y'.
        Bytes stream = {1, 'x'};
        uint8_t encoded[5];
        stream.insert(stream.end(), encoded, encoded + writeCount(count, encoded));
        stream.insert(stream.end(), {1, 'y'});
        Bytes out(count + 2);
        unpackArea(stream.data(), stream.size(), out.data(), out.size());
        Bytes expected(count + 1, 'x');
        expected.push_back('y');
        EXPECT_EQ(out, expected);
    }
}

// Packs into a buffer of exactly n + 10 bytes (so that the sanitizer sees any write beyond) and
// unpacks the result again when it was packed.
void expectPackRoundTrip(const Bytes& input) {
    Bytes out(input.size() + 10);
    size_t length = packArea(input.data(), input.size(), out.data());
    ASSERT_LE(length, input.size());
    if (length == input.size()) return;
    Bytes back(input.size());
    unpackArea(out.data(), length, back.data(), back.size());
    EXPECT_EQ(back, input);
}

TEST(PackArea, RoundTripsRandomAreasWithRuns) {
    std::mt19937 random(20240611);
    int packed = 0;
    for (int round = 0; round < 500; ++round) {
        Bytes input;
        size_t target = random() % 3000;
        while (input.size() < target) {
            uint8_t byte = static_cast<uint8_t>(random() % 4);
            size_t run = random() % 3 == 0 ? 1 + random() % 300 : 1 + random() % 5;
            input.insert(input.end(), run, byte);
        }
        expectPackRoundTrip(input);
        Bytes out(input.size() + 10);
        if (packArea(input.data(), input.size(), out.data()) < input.size()) ++packed;
    }
    EXPECT_GT(packed, 400);
}

TEST(PackArea, StaysWithinItsBufferOnAdversarialAreas) {
    std::vector<Bytes> inputs;
    // Alternating runs of exactly four.
    Bytes alternating;
    for (size_t i = 0; alternating.size() < 15000; ++i) {
        alternating.insert(alternating.end(), 4, i % 2 ? 'A' : 'B');
    }
    inputs.push_back(alternating);
    // Runs of four after one literal byte each.
    Bytes spaced;
    for (size_t i = 0; spaced.size() < 15000; ++i) {
        spaced.push_back(static_cast<uint8_t>(i));
        spaced.insert(spaced.end(), 4, static_cast<uint8_t>(i + 1));
    }
    inputs.push_back(spaced);
    // Literals just past the two- and three-byte count sizes, each followed by a run of four.
    for (size_t literal : {127u, 128u, 16383u, 16384u}) {
        Bytes input;
        for (unsigned i = 0; input.size() + literal + 4 <= 65000; ++i) {
            Bytes part = bytesOf(noRuns(literal, i));
            input.insert(input.end(), part.begin(), part.end());
            input.insert(input.end(), 4, static_cast<uint8_t>(part.back() + 1));
        }
        inputs.push_back(input);
    }
    // Runs of three, never packed, and one run of four at the very end.
    Bytes threes;
    for (size_t i = 0; threes.size() < 3000; ++i) threes.insert(threes.end(), 3, i % 2 ? 'C' : 'D');
    threes.insert(threes.end(), 4, 'E');
    inputs.push_back(threes);
    for (const Bytes& input : inputs) {
        SCOPED_TRACE(input.size());
        expectPackRoundTrip(input);
    }
}

TEST(UnpackArea, DamagedStreamsAreFatal) {
    struct Case {
        const char* name;
        Bytes stream;
        size_t outLength;
        int fatal;
    };
    const std::vector<Case> cases = {
        {"empty stream", {}, 4, 522},
        {"cut within a literal count", {0x80}, 200, 522},
        {"cut within the literal bytes", {5, 'a', 'b'}, 10, 522},
        {"literal count past the output", {11, 'a'}, 10, 522},
        {"count longer than five bytes", {0x80, 0x80, 0x80, 0x80, 0x80, 0x01}, 10, 522},
        {"cut where a repeat count belongs", {1, 'a'}, 10, 530},
        {"repeat count past the output", {1, 'a', 10}, 10, 530},
        {"cut within a repeat count", {1, 'a', 0x81}, 200, 530},
        {"repeat before any byte", {0, 3}, 10, 530},
        {"second literal cut short", {1, 'a', 2, 5, 'b'}, 10, 522},
        {"cut where the second literal count belongs", {1, 'a', 2}, 10, 522},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out(c.outLength);
        EXPECT_EQ(fatalNumberOf([&] {
                      unpackArea(c.stream.data(), c.stream.size(), out.data(), out.size());
                  }),
                  c.fatal);
    }
}

TEST(UnpackArea, StopsBeforeTheClosingCount) {
    // The stream ends in a repeat; the final literal count of 0 is never needed.
    Bytes stream = {2, 'a', 'b', 3};
    Bytes out(5);
    unpackArea(stream.data(), stream.size(), out.data(), out.size());
    EXPECT_EQ(out, bytesOf("abbbb"));
}

// ---- Entry encoding ----

Bytes encode(const EntryList& list) {
    size_t room = 0;
    for (size_t i = 0; i < list.size(); ++i) room += list[i]->totalLength + 5;
    Bytes out(room);
    out.resize(encodeEntries(list.data(), list.size(), out.data()));
    return out;
}

TEST(EntryEncoding, WritesFlagsLengthsAndTails) {
    EntryList list({{"ab", "X"}, {"ac", "X"}, {"acd", ""}});
    Bytes expected = {0xC0, 3, 0, 2, 0, 'a', 'b', 'X',  // both lengths, nothing shared
                      0x01, 'c', 'X',                   // same lengths, shares "a"
                      0x42, 3, 0, 'd'};                 // new key length, shares "ac"
    EXPECT_EQ(encode(list), expected);
}

TEST(EntryEncoding, FlagByteFollowsTheEntryBefore) {
    struct Case {
        const char* name;
        Item previous;
        Item entry;
        uint8_t flags;  // of the second entry
    };
    const std::vector<Case> cases = {
        {"both lengths repeat", {"abc", "de"}, {"abd", "de"}, 0x02},
        {"key length differs, prefix runs into the data", {"abc", "de"}, {"abcd", "e"}, 0x45},
        {"total length differs", {"abc", "de"}, {"abc", "def"}, 0x85},
        {"both differ", {"ab", ""}, {"abc", ""}, 0xC2},
        {"nothing shared", {"b", ""}, {"ab", ""}, 0xC0},
        {"shared prefix capped at 63",
         {repeated('a', 100) + "x", ""},
         {repeated('a', 100) + "y", ""},
         0x3F},
        {"shared prefix capped by the shorter entry", {"abc", ""}, {"abcabc", ""}, 0xC3},
        {"empty entry after another", {"abc", ""}, {"", ""}, 0xC0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EntryList list({c.previous, c.entry});
        Bytes encoded = encode(list);
        EXPECT_EQ(encoded[0], 0xC0);
        size_t second = 5 + c.previous.key.size() + c.previous.data.size();
        ASSERT_LT(second, encoded.size());
        EXPECT_EQ(encoded[second], c.flags);
    }
}

TEST(EntryEncoding, DecodesWhatItEncodes) {
    std::mt19937 random(77);
    std::vector<Item> prefixed;
    for (int i = 0; i < 40; ++i) {
        prefixed.push_back({repeated('p', 70) + char('a' + i / 8) + randomText(random, i % 8),
                            randomText(random, random() % 90)});
    }
    const std::vector<std::vector<Item>> lists = {
        {},
        {{"", ""}},
        {{"key", ""}},
        {{"", "data only"}},
        {{"alpha", "1"}, {"alphabet", "2"}, {"alphas", "2"}, {"beta", ""}, {"betamax", "tape"}},
        {{"same", "1234"}, {"samf", "1234"}, {"samg", "1234"}},
        {{repeated('k', 100), repeated('d', 100)}, {repeated('k', 101), repeated('d', 99)}},
        {{"x", repeated('z', Entry::kMaxLength - 1)}, {"y", ""}},
        prefixed,
    };
    for (size_t n = 0; n < lists.size(); ++n) {
        SCOPED_TRACE(n);
        EntryList list(lists[n]);
        Bytes encoded = encode(list);
        std::vector<Entry*> decoded =
            decodeEntries(encoded.data(), encoded.size(), static_cast<unsigned>(list.size()));
        std::vector<Item> items;
        for (Entry* entry : decoded) {
            items.push_back(itemOf(entry));
            freeEntry(entry);
        }
        EXPECT_EQ(items, lists[n]);
    }
}

// ---- Balanced page tree ----

// Checks that node is the perfectly balanced tree of entries[lo, hi) below parent.
void expectBalanced(const Entry* node, const EntryList& list, size_t lo, size_t hi,
                    const Entry* parent, const Entry* nil) {
    if (lo == hi) {
        EXPECT_EQ(node, nil);
        return;
    }
    size_t root = lo + (hi - lo) / 2;
    ASSERT_EQ(node, list[root]);
    EXPECT_EQ(node->parent, parent);
    EXPECT_EQ(node->subtreeSize, hi - lo);
    expectBalanced(node->left, list, lo, root, node, nil);
    expectBalanced(node->right, list, root + 1, hi, node, nil);
}

TEST(PageTree, FiveEntriesHaveTheFixedShape) {
    Entry nil;
    EntryList list({{"a", ""}, {"b", ""}, {"c", ""}, {"d", ""}, {"e", ""}});
    Entry* root = buildBalancedTree(list.data(), list.size(), &nil);
    // c over (b over a) and (e over d).
    EXPECT_EQ(root, list[2]);
    EXPECT_EQ(root->parent, nullptr);
    EXPECT_EQ(root->left, list[1]);
    EXPECT_EQ(root->right, list[4]);
    EXPECT_EQ(list[1]->left, list[0]);
    EXPECT_EQ(list[1]->right, &nil);
    EXPECT_EQ(list[4]->left, list[3]);
    EXPECT_EQ(list[4]->right, &nil);
    EXPECT_EQ(list[0]->left, &nil);
    EXPECT_EQ(list[3]->right, &nil);
    EXPECT_EQ(list[3]->parent, list[4]);
    std::vector<uint32_t> sizes;
    for (size_t i = 0; i < 5; ++i) sizes.push_back(list[i]->subtreeSize);
    EXPECT_EQ(sizes, (std::vector<uint32_t>{1, 2, 5, 1, 2}));
}

TEST(PageTree, EveryCountIsPerfectlyBalanced) {
    Entry nil;
    EXPECT_EQ(buildBalancedTree(nullptr, 0, &nil), &nil);
    for (size_t n = 1; n <= 130; ++n) {
        SCOPED_TRACE(n);
        EntryList list;
        for (size_t i = 0; i < n; ++i) list.add({std::to_string(1000 + i), ""});
        Entry* root = buildBalancedTree(list.data(), list.size(), &nil);
        expectBalanced(root, list, 0, n, nullptr, &nil);
        std::vector<Entry*> order;
        forEachEntry(root, &nil, [&](Entry* entry) { order.push_back(entry); });
        EXPECT_EQ(order, std::vector<Entry*>(list.data(), list.data() + n));
    }
}

TEST(PageTree, DestroysDegenerateTreesWithoutDeepRecursion) {
    Entry nil;
    for (bool leftChain : {true, false}) {
        Entry* root = &nil;
        for (int i = 0; i < 200000; ++i) {
            Entry* entry = newEntry(0, 1);
            entry->left = leftChain ? root : &nil;
            entry->right = leftChain ? &nil : root;
            root = entry;
        }
        destroyTree(root, &nil);  // the leak checker confirms every entry was freed
    }
    destroyTree(&nil, &nil);
}

// ---- Building and decoding page images ----

class PageImageTest : public ::testing::Test {
protected:
    // Builds the image of a page holding items; index pages get the given child numbers.
    Bytes build(const std::vector<Item>& items, uint8_t level,
                const std::vector<int32_t>& children = {}) {
        EntryList list(items);
        for (size_t i = 0; i < children.size(); ++i) list[i]->child = children[i];
        Entry* tree = buildBalancedTree(list.data(), list.size(), &nil_);
        Bytes image = buildPageImage(tree, &nil_, level, sizeEstimateOf(items, level));
        if (level != 0) writeChildNumbers(image.data(), tree, &nil_);
        return image;
    }

    PageContents decode(const Bytes& image) {
        return decodePageImage(image.data(), image.size(), &nil_);
    }

    Entry nil_;
};

std::vector<Item> mixedItems() {
    std::mt19937 random(5);
    std::vector<Item> items;
    for (int i = 0; i < 30; ++i) {
        items.push_back({"customer/" + std::to_string(10000 + i * 37), randomText(random, i * 3)});
    }
    return items;
}

TEST_F(PageImageTest, LeafRoundTrips) {
    std::vector<Item> items = mixedItems();
    Bytes image = build(items, 0);
    EXPECT_EQ(image.size() % kPageUnit, 0u);
    EXPECT_EQ(imageSlotSize(image.data()), image.size());
    EXPECT_EQ(get16(image, 10), items.size());
    EXPECT_EQ(image[12], 0);
    FatalTrap trap;
    DecodedPage page(decode(image), &nil_);
    EXPECT_EQ(page.items(), items);
    EXPECT_EQ(page.contents().level, 0);
    EXPECT_EQ(page.contents().sizeEstimate, sizeEstimateOf(items, 0));
}

TEST_F(PageImageTest, IndexPageRoundTripsWithChildNumbers) {
    std::vector<Item> items = mixedItems();
    items.resize(12);
    std::vector<int32_t> children;
    for (int i = 0; i < 12; ++i) children.push_back(i == 3 ? -1 : 1000 * i + 7);
    children.back() = INT32_MAX;
    Bytes image = build(items, 3, children);
    FatalTrap trap;
    DecodedPage page(decode(image), &nil_);
    EXPECT_EQ(page.items(), items);
    EXPECT_EQ(page.contents().level, 3);
    EXPECT_EQ(page.contents().sizeEstimate, sizeEstimateOf(items, 3));
    std::vector<int32_t> decodedChildren;
    for (Entry* entry : page.entries()) decodedChildren.push_back(entry->child);
    EXPECT_EQ(decodedChildren, children);
    // The child numbers stand right after the header, little-endian.
    EXPECT_EQ(Bytes(image.begin() + 13, image.begin() + 17), (Bytes{7, 0, 0, 0}));
    EXPECT_EQ(Bytes(image.begin() + 25, image.begin() + 29), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(PageImageTest, DecodedTreeIsPerfectlyBalanced) {
    std::vector<Item> items = mixedItems();
    Bytes image = build(items, 0);
    FatalTrap trap;
    DecodedPage page(decode(image), &nil_);
    std::vector<Entry*> entries = page.entries();
    ASSERT_EQ(entries.size(), items.size());
    const Entry* root = page.contents().tree;
    EXPECT_EQ(root, entries[items.size() / 2]);
    EXPECT_EQ(root->parent, nullptr);
    EXPECT_EQ(root->subtreeSize, items.size());
    EXPECT_EQ(root->left->subtreeSize, items.size() / 2);
    EXPECT_EQ(root->right->subtreeSize, items.size() - items.size() / 2 - 1);
}

TEST_F(PageImageTest, EmptyLeafRoundTrips) {
    Bytes image = build({}, 0);
    ASSERT_EQ(image.size(), 256u);
    EXPECT_EQ(get16(image, 4), 13u);
    EXPECT_EQ(get16(image, 6), 13u);
    FatalTrap trap;
    DecodedPage page(decode(image), &nil_);
    EXPECT_EQ(page.contents().tree, &nil_);
}

TEST_F(PageImageTest, SmallGainIsStoredPlain) {
    // A run of 30 bytes: packing saves some bytes but not a whole unit.
    std::vector<Item> items = {{"key-a", noRuns(100) + repeated('r', 30)}, {"key-b", noRuns(50)}};
    Bytes image = build(items, 0);
    size_t stored = get16(image, 4);
    size_t plain = get16(image, 6);
    EXPECT_EQ(stored, plain);
    EXPECT_EQ(image.size(), roundUp(plain));
    Bytes packed(plain - 13 + 10);
    EXPECT_LT(packArea(image.data() + 13, plain - 13, packed.data()), plain - 13);
    EXPECT_TRUE(std::all_of(image.begin() + static_cast<long>(stored), image.end(),
                            [](uint8_t b) { return b == kSlotFill; }));
    FatalTrap trap;
    DecodedPage page(decode(image), &nil_);
    EXPECT_EQ(page.items(), items);
}

TEST_F(PageImageTest, RepetitivePageIsPacked) {
    std::vector<Item> items;
    for (int i = 0; i < 10; ++i) items.push_back({"row" + std::to_string(i), repeated(' ', 600)});
    Bytes image = build(items, 0);
    size_t stored = get16(image, 4);
    size_t plain = get16(image, 6);
    EXPECT_LT(stored, plain);
    EXPECT_LT(roundUp(stored), roundUp(plain));
    EXPECT_EQ(image.size(), roundUp(stored));
    EXPECT_EQ(imageStoredSize(image.data()), stored);
    EXPECT_TRUE(std::all_of(image.begin() + static_cast<long>(stored), image.end(),
                            [](uint8_t b) { return b == kSlotFill; }));
    FatalTrap trap;
    DecodedPage page(decode(image), &nil_);
    EXPECT_EQ(page.items(), items);
    EXPECT_EQ(page.contents().sizeEstimate, sizeEstimateOf(items, 0));
}

TEST_F(PageImageTest, PackedIndexPageKeepsChildNumbersUnpacked) {
    std::vector<Item> items;
    std::vector<int32_t> children;
    for (int i = 0; i < 8; ++i) {
        items.push_back({"k" + std::to_string(i), repeated('0', 400)});
        children.push_back(0x01010101 * (i + 1));  // runs of four equal bytes
    }
    Bytes image = build(items, 1, children);
    EXPECT_LT(get16(image, 4), get16(image, 6));
    EXPECT_EQ(image[13], 1);
    EXPECT_EQ(image[16], 1);
    EXPECT_EQ(image[17], 2);
    FatalTrap trap;
    DecodedPage page(decode(image), &nil_);
    EXPECT_EQ(page.items(), items);
    std::vector<int32_t> decodedChildren;
    for (Entry* entry : page.entries()) decodedChildren.push_back(entry->child);
    EXPECT_EQ(decodedChildren, children);
}

TEST_F(PageImageTest, OwnOffsetAccessors) {
    Bytes image = build({{"a", "b"}}, 0);
    EXPECT_EQ(imageOwnOffset(image.data()), 0u);
    setImageOwnOffset(image.data(), 512 + 256 * 0x010203);
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 4), (Bytes{0x00, 0x05, 0x02, 0x01}));
    EXPECT_EQ(imageOwnOffset(image.data()), 512u + 256u * 0x010203u);
}

TEST_F(PageImageTest, BuildingChecksEstimateAndSlotSize) {
    struct Case {
        const char* name;
        std::vector<Item> items;
        int estimateChange;
        int fatal;           // 0: builds
        size_t slotSize = 0;  // when it builds
    };
    std::mt19937 random(9);
    // The two small entries encode into 27 bytes against an estimate of 31.
    const std::vector<Case> cases = {
        {"estimate equal to the encoding", {{"a", "bcd"}, {"b", "cde"}}, -4, 0, 256},
        {"estimate below the encoding", {{"a", "bcd"}, {"b", "cde"}}, -5, 1659},
        {"estimate below the header", {{"a", "bcd"}}, -20, 1659},
        {"slot of exactly 15104 bytes", {{"k", randomText(random, 15085)}}, 0, 0, kMaxSlotSize},
        {"slot above 15104 bytes", {{"k", randomText(random, 15092)}}, 0, 1678},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EntryList list(c.items);
        Entry* tree = buildBalancedTree(list.data(), list.size(), &nil_);
        auto estimate = static_cast<uint16_t>(sizeEstimateOf(c.items, 0) + c.estimateChange);
        Bytes image;
        EXPECT_EQ(fatalNumberOf([&] { image = buildPageImage(tree, &nil_, 0, estimate); }),
                  c.fatal);
        if (c.fatal == 0) {
            EXPECT_EQ(image.size(), c.slotSize);
        }
    }
}

// ---- Damaged images ----

// A hand-made image: header, then body (child numbers and entry area as stored), filled to the
// slot with 0xB0. The stored size is 13 + body size unless given.
Bytes rawImage(uint8_t level, size_t count, size_t plain, const Bytes& body,
               std::optional<size_t> stored = std::nullopt) {
    Bytes image(std::max<size_t>(kPageUnit, roundUp(13 + body.size())), kSlotFill);
    std::fill(image.begin(), image.begin() + 13, 0);
    put16(image, 4, stored.value_or(13 + body.size()));
    put16(image, 6, plain);
    put16(image, 8, plain + 40);
    put16(image, 10, count);
    image[12] = level;
    std::copy(body.begin(), body.end(), image.begin() + 13);
    return image;
}

// Key "k", data "zzzzzzz": 13 bytes plain, 10 packed.
const Bytes kEntry = {0xC0, 8, 0, 1, 0, 'k', 'z', 'z', 'z', 'z', 'z', 'z', 'z'};
const Bytes kPacked = {7, 0xC0, 8, 0, 1, 0, 'k', 'z', 6, 0};

Bytes with(Bytes bytes, size_t at, uint8_t value) {
    bytes[at] = value;
    return bytes;
}

TEST_F(PageImageTest, HandMadeImagesDecode) {
    const std::vector<Bytes> images = {
        rawImage(0, 1, 26, kEntry),
        rawImage(0, 1, 26, kPacked),
        rawImage(0, 1, 26, Bytes(kPacked.begin(), kPacked.end() - 1)),  // closing count left out
        rawImage(2, 1, 30, concat({{0xFE, 0xFF, 0xFF, 0xFF}, kEntry})),
    };
    FatalTrap trap;
    for (size_t n = 0; n < images.size(); ++n) {
        SCOPED_TRACE(n);
        DecodedPage page(decode(images[n]), &nil_);
        EXPECT_EQ(page.items(), (std::vector<Item>{{"k", "zzzzzzz"}}));
    }
    DecodedPage index(decode(images[3]), &nil_);
    EXPECT_EQ(index.entries()[0]->child, -2);
    EXPECT_EQ(index.contents().level, 2);
}

TEST_F(PageImageTest, DamagedImagesAreFatal) {
    struct Case {
        const char* name;
        Bytes image;
        int fatal;
        std::optional<size_t> slotSize = std::nullopt;  // the image's size unless given
    };
    const std::vector<Case> cases = {
        {"slot larger than the stored size needs", rawImage(0, 1, 26, kEntry), 1477, 512},
        {"stored size beyond the slot", rawImage(0, 1, 26, kEntry, 300), 1477},
        {"stored size of zero", rawImage(0, 1, 26, kEntry, 0), 1477},
        {"slot smaller than a header", rawImage(0, 1, 26, kEntry), 1477, 12},
        {"packed stream cut within the literal bytes", rawImage(0, 1, 26, kPacked, 13 + 4), 522},
        {"packed stream cut where a repeat count belongs", rawImage(0, 1, 26, kPacked, 13 + 8),
         530},
        {"packed stream cut where a literal count belongs",
         rawImage(0, 1, 27, Bytes(kPacked.begin(), kPacked.end() - 1)), 522},
        {"literal count past the plain size", rawImage(0, 1, 26, with(kPacked, 0, 0x7F)), 522},
        {"repeat count past the plain size", rawImage(0, 1, 26, with(kPacked, 8, 7)), 530},
        {"repeat before any byte", rawImage(0, 1, 26, concat({{0, 3}, kPacked})), 530},
        {"entry count beyond the entries", rawImage(0, 2, 26, kEntry), 1602},
        {"area longer than its entries", rawImage(0, 1, 27, concat({kEntry, {0}})), 1602},
        {"entry overruns the area", rawImage(0, 1, 26, with(kEntry, 1, 9)), 1602},
        {"packed entry overruns the area", rawImage(0, 1, 26, with(kPacked, 2, 9)), 1602},
        {"key longer than the entry", rawImage(0, 1, 26, with(kEntry, 3, 9)), 1602},
        {"total above the longest entry", rawImage(0, 1, 26, with(kEntry, 2, 0xFF)), 1602},
        {"first entry sharing bytes",
         rawImage(0, 1, 25, concat({{0xC1, 8, 0, 1, 0}, bytesOf("zzzzzzz")})), 1602},
        {"shared count beyond the previous entry",
         rawImage(0, 2, 30, concat({kEntry, {0x89, 10, 0, 'q'}})), 1602},
        {"shared count beyond its own entry",
         rawImage(0, 2, 30, concat({kEntry, {0x85, 3, 0, 'q'}})), 1602},
        {"length field cut short", rawImage(0, 1, 15, {0xC0, 8}), 1602},
        {"huge entry count", rawImage(0, 0xFFFF, 26, kEntry), 1602},
        {"huge entry count on an index page",
         rawImage(1, 0xFFFF, 30, concat({{0, 0, 0, 0}, kEntry})), 1602},
        {"child numbers beyond the stored size", rawImage(1, 5, 30, concat({{0, 0, 0, 0}, kEntry})),
         1602},
        {"child numbers beyond the plain size",
         rawImage(1, 1, 16, concat({{0, 0, 0, 0}, kPacked})), 1602},
        {"plain size smaller than the header", rawImage(0, 0, 10, {}), 1602},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        size_t slotSize = c.slotSize.value_or(c.image.size());
        EXPECT_EQ(fatalNumberOf([&] {
                      PageContents contents = decodePageImage(c.image.data(), slotSize, &nil_);
                      destroyTree(contents.tree, &nil_);
                  }),
                  c.fatal);
    }
}

TEST_F(PageImageTest, MutatedImagesDecodeOrFailCleanly) {
    std::vector<Item> items;
    for (int i = 0; i < 12; ++i) {
        items.push_back({"item" + std::to_string(i * 13), repeated('-', 30 + i) + noRuns(i * 5)});
    }
    std::vector<int32_t> children(items.size(), 0x7F000001);
    const std::vector<Bytes> bases = {build(items, 0), build(items, 1, children),
                                      build(mixedItems(), 0)};
    ASSERT_LT(get16(bases[0], 4), get16(bases[0], 6));  // one packed base
    std::mt19937 random(424242);
    int decoded = 0;
    int failed = 0;
    for (int round = 0; round < 6000; ++round) {
        const Bytes& base = bases[round % bases.size()];
        size_t stored = get16(base, 4);
        // The bytes copied into a buffer of exactly the slot size, so the sanitizer sees any
        // access outside.
        Bytes image = base;
        int mutations = 1 + static_cast<int>(random() % 4);
        for (int m = 0; m < mutations; ++m) {
            size_t at = random() % 4 == 0 ? 4 + random() % 9 : random() % stored;
            if (random() % 2 == 0) {
                image[at] = static_cast<uint8_t>(random());
            } else {
                image[at] ^= static_cast<uint8_t>(1u << (random() % 8));
            }
        }
        FatalTrap trap;
        try {
            PageContents contents = decodePageImage(image.data(), image.size(), &nil_);
            destroyTree(contents.tree, &nil_);
            ++decoded;
        } catch (const FatalError& error) {
            ++failed;
            EXPECT_TRUE(error.number() == 522 || error.number() == 530 ||
                        error.number() == 1477 || error.number() == 1602)
                << error.number();
        }
    }
    EXPECT_GT(decoded, 0);
    EXPECT_GT(failed, 0);
}

}  // namespace
}  // namespace vellum
