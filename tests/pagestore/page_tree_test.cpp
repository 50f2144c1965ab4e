// The balanced entry tree inside a page: the shapes its insertion rule (single rotations driven
// by subtree sizes) and its removal rule (predecessor or successor, no rotations) produce, exact
// subtree sizes and parent links through long random sequences, the height it keeps under
// ordered insertions, and its fatal errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fatal_matchers.h"
#include "pagestore/page_tree.h"
#include "vellum/byte_order.h"
#include "vellum/entry.h"

namespace vellum {
namespace {

// Keys are 4-byte big-endian numbers, so that byte order is number order.
std::vector<uint8_t> numberKey(uint32_t n) {
    std::vector<uint8_t> key(4);
    store32be(key.data(), n);
    return key;
}

Entry* numberEntry(uint32_t n) { return newEntry(numberKey(n)); }

uint32_t numberOf(const Entry* entry) { return load32be(entry->bytes()); }

// A tree of numbered entries with its own NIL entry. The tree is freed with the object.
class PageTree {
public:
    PageTree() : nil_(newEntry(0, 0)) {}
    ~PageTree() {
        destroyTree(root_, nil_);
        freeEntry(nil_);
    }
    PageTree(const PageTree&) = delete;
    PageTree& operator=(const PageTree&) = delete;

    // The perfectly balanced tree of the numbers 1..n, as a decoded page has it.
    void buildOneTo(uint32_t n) {
        std::vector<Entry*> entries;
        for (uint32_t i = 1; i <= n; ++i) entries.push_back(numberEntry(i));
        root_ = buildBalancedTree(entries.data(), entries.size(), nil_);
    }
    void insert(uint32_t n) { insertIntoTree(&root_, nil_, numberEntry(n)); }
    void remove(uint32_t n) {
        Entry* entry = find(n);
        ASSERT_NE(entry, nullptr) << n;
        removeFromTree(&root_, nil_, entry);
        EXPECT_EQ(entry->subtreeSize, 0u);
        EXPECT_EQ(entry->parent, nullptr);
        freeEntry(entry);
    }
    Entry* find(uint32_t n) { return findInTree(root_, nil_, numberKey(n)); }

    // "k" for a node without children, else "k(left,right)" with "-" for an empty side.
    std::string shape() const { return shapeOf(root_); }

    // Checks parent links, subtree sizes and key order; returns the keys in order.
    std::vector<uint32_t> checkedKeys() const {
        std::vector<uint32_t> keys;
        if (root_ != nil_) {
            EXPECT_EQ(root_->parent, nullptr);
            checkSubtree(root_, keys);
        }
        EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
        EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end());
        return keys;
    }

    unsigned height() const { return heightOf(root_); }
    Entry*& root() { return root_; }
    Entry* nil() { return nil_; }

private:
    std::string shapeOf(const Entry* node) const {
        if (node == nil_) return "-";
        std::string key = std::to_string(numberOf(node));
        if (node->left == nil_ && node->right == nil_) return key;
        return key + "(" + shapeOf(node->left) + "," + shapeOf(node->right) + ")";
    }

    uint32_t checkSubtree(const Entry* node, std::vector<uint32_t>& keys) const {
        uint32_t size = 1;
        if (node->left != nil_) {
            EXPECT_EQ(node->left->parent, node) << "left child of " << numberOf(node);
            size += checkSubtree(node->left, keys);
        }
        keys.push_back(numberOf(node));
        if (node->right != nil_) {
            EXPECT_EQ(node->right->parent, node) << "right child of " << numberOf(node);
            size += checkSubtree(node->right, keys);
        }
        EXPECT_EQ(node->subtreeSize, size) << "subtree of " << numberOf(node);
        return size;
    }

    unsigned heightOf(const Entry* node) const {
        if (node == nil_) return 0;
        return 1 + std::max(heightOf(node->left), heightOf(node->right));
    }

    Entry* nil_;
    Entry* root_ = nil_;
};

TEST(PageTree, InsertionOrdersGiveTheirShapes) {
    // Worked by hand from the rule: walking up from the new entry, a node with right size R,
    // left size L and right child's left size RL rotates left when R > L and R - L - RL > 0
    // (the mirror image rotates right). A two-entry tree therefore always ends with the newer
    // entry on top.
    struct Case {
        std::vector<uint32_t> order;
        const char* shape;
    };
    const Case cases[] = {
        {{1}, "1"},
        {{1, 2}, "2(1,-)"},  // rotated left at the root
        {{2, 1}, "1(-,2)"},  // rotated right at the root
        {{1, 2, 3}, "2(1,3)"},
        {{3, 2, 1}, "2(1,3)"},
        {{3, 1, 2}, "2(1,3)"},
        {{1, 3, 2}, "2(1,3)"},
        {{2, 1, 3}, "3(1(-,2),-)"},
        {{2, 3, 1}, "1(-,3(2,-))"},
        {{1, 2, 3, 4}, "2(1,4(3,-))"},
        {{1, 2, 3, 4, 5}, "4(2(1,3),5)"},
        {{1, 2, 3, 4, 5, 6}, "4(2(1,3),6(5,-))"},
        {{1, 2, 3, 4, 5, 6, 7}, "4(2(1,3),6(5,7))"},
    };
    FatalTrap trap;
    for (const Case& c : cases) {
        PageTree tree;
        for (uint32_t n : c.order) tree.insert(n);
        std::string order;
        for (uint32_t n : c.order) order += std::to_string(n) + " ";
        EXPECT_EQ(tree.shape(), c.shape) << "order " << order;
        tree.checkedKeys();
    }
}

TEST(PageTree, RemovalTakesThePredecessorFromALargerLeftSideElseTheSuccessor) {
    // Each case starts from the perfectly balanced tree of 1..n and removes in order; the shape
    // after the last removal is checked. No rotations follow a removal.
    struct Case {
        const char* name;
        uint32_t n;
        std::vector<uint32_t> removals;
        const char* shape;
    };
    const Case cases[] = {
        {"leaf", 3, {1}, "2(-,3)"},
        {"equal sides take the successor", 7, {4}, "5(2(1,3),6(-,7))"},
        {"larger left side takes the predecessor", 6, {4}, "3(2(1,-),6(5,-))"},
        {"empty right side: the left child moves up", 6, {6}, "4(2(1,3),5)"},
        {"empty left side: the right child moves up", 7, {1, 2}, "4(3,6(5,7))"},
        {"single child at the root", 2, {2}, "1"},
        {"successor is the right child itself", 7, {5, 4, 3}, "6(2(1,-),7)"},
        {"inner node, successor a leaf", 7, {2}, "4(3(1,-),6(5,7))"},
        {"successor's right child moves up to its place", 15, {9, 8, 7},
         "10(4(2(1,3),6(5,-)),12(11,14(13,15)))"},
        {"predecessor's left child moves up to its place", 15, {9, 11, 7, 8},
         "6(4(2(1,3),5),12(10,14(13,15)))"},
        {"last entry", 1, {1}, "-"},
    };
    FatalTrap trap;
    for (const Case& c : cases) {
        PageTree tree;
        tree.buildOneTo(c.n);
        for (uint32_t n : c.removals) {
            tree.remove(n);
            tree.checkedKeys();
        }
        EXPECT_EQ(tree.shape(), c.shape) << c.name;
        EXPECT_EQ(tree.checkedKeys().size(), c.n - c.removals.size()) << c.name;
    }
}

TEST(PageTree, DecodedShapeIsPerfectlyBalanced) {
    const std::pair<uint32_t, const char*> cases[] = {
        {0, "-"},
        {1, "1"},
        {2, "2(1,-)"},
        {5, "3(2(1,-),5(4,-))"},
        {7, "4(2(1,3),6(5,7))"},
    };
    for (const auto& [n, shape] : cases) {
        PageTree tree;
        tree.buildOneTo(n);
        EXPECT_EQ(tree.shape(), shape) << n;
        EXPECT_EQ(tree.checkedKeys().size(), n);
    }
}

TEST(PageTree, SizesAndLinksStayExactThroughARandomSequence) {
    FatalTrap trap;
    std::mt19937 random(20240611);
    PageTree tree;
    std::set<uint32_t> model;
    for (int step = 0; step < 6000; ++step) {
        bool insert = model.empty() || random() % 100 < (model.size() < 300 ? 60u : 45u);
        if (insert) {
            uint32_t n = random() % 2000;
            if (!model.insert(n).second) continue;
            tree.insert(n);
        } else {
            // A present number, picked near a random one.
            auto it = model.lower_bound(static_cast<uint32_t>(random() % 2000));
            if (it == model.end()) it = model.begin();
            tree.remove(*it);
            model.erase(it);
        }
        std::vector<uint32_t> keys = tree.checkedKeys();
        ASSERT_TRUE(std::equal(keys.begin(), keys.end(), model.begin(), model.end()))
            << "step " << step;
        if (HasFailure()) FAIL() << "step " << step;
    }
    // Searches agree with the model.
    for (uint32_t n = 0; n < 2000; n += 7) {
        auto above = model.upper_bound(n);
        auto atOrAbove = model.lower_bound(n);
        Entry* higher = higherEntry(tree.root(), tree.nil(), numberKey(n));
        Entry* floor = floorEntry(tree.root(), tree.nil(), numberKey(n));
        Entry* lower = lowerEntry(tree.root(), tree.nil(), numberKey(n));
        EXPECT_EQ(higher ? numberOf(higher) : ~0u, above == model.end() ? ~0u : *above);
        EXPECT_EQ(floor ? numberOf(floor) : ~0u,
                  atOrAbove != model.end() && *atOrAbove == n ? n
                  : atOrAbove == model.begin()                ? ~0u
                                                              : *std::prev(atOrAbove));
        EXPECT_EQ(lower ? numberOf(lower) : ~0u,
                  atOrAbove == model.begin() ? ~0u : *std::prev(atOrAbove));
    }
}

TEST(PageTree, OrderedInsertionsKeepTheHeightLogarithmic) {
    FatalTrap trap;
    for (uint32_t count : {100u, 1000u, 4096u}) {
        unsigned bound = 2 * static_cast<unsigned>(std::log2(count)) + 2;
        PageTree ascending;
        PageTree descending;
        PageTree shuffled;
        std::vector<uint32_t> order(count);
        for (uint32_t i = 0; i < count; ++i) order[i] = i;
        std::shuffle(order.begin(), order.end(), std::mt19937(count));
        for (uint32_t i = 0; i < count; ++i) {
            ascending.insert(i);
            descending.insert(count - i);
            shuffled.insert(order[i]);
        }
        EXPECT_LE(ascending.height(), bound) << count << " ascending";
        EXPECT_LE(descending.height(), bound) << count << " descending";
        EXPECT_LE(shuffled.height(), bound) << count << " shuffled";
        EXPECT_EQ(ascending.checkedKeys().size(), count);
        EXPECT_EQ(descending.checkedKeys().size(), count);
        EXPECT_EQ(shuffled.checkedKeys().size(), count);
    }
}

TEST(PageTree, AnEqualKeyIsFatalAndLeavesTheTreeAlone) {
    PageTree tree;
    tree.buildOneTo(7);
    Entry* duplicate = numberEntry(5);
    EXPECT_FATAL(insertIntoTree(&tree.root(), tree.nil(), duplicate), 706);
    freeEntry(duplicate);
    EXPECT_EQ(tree.shape(), "4(2(1,3),6(5,7))");
    tree.checkedKeys();
}

TEST(PageTree, AParentThatDoesNotPointBackIsFatal) {
    PageTree tree;
    tree.buildOneTo(3);
    Entry* three = tree.find(3);
    Entry* one = tree.find(1);
    Entry* two = three->parent;
    three->parent = one;
    EXPECT_FATAL(removeFromTree(&tree.root(), tree.nil(), three), 300);
    three->parent = two;
    EXPECT_EQ(tree.shape(), "2(1,3)");
}

TEST(PageTree, NeighboursWalkInKeyOrder) {
    PageTree tree;
    FatalTrap trap;
    for (uint32_t n : {5u, 1u, 9u, 3u, 7u, 2u, 8u}) tree.insert(n);
    std::vector<uint32_t> forward;
    for (Entry* e = firstEntry(tree.root(), tree.nil()); e; e = nextInTree(e, tree.nil())) {
        forward.push_back(numberOf(e));
    }
    std::vector<uint32_t> backward;
    for (Entry* e = lastEntry(tree.root(), tree.nil()); e; e = previousInTree(e, tree.nil())) {
        backward.push_back(numberOf(e));
    }
    EXPECT_EQ(forward, (std::vector<uint32_t>{1, 2, 3, 5, 7, 8, 9}));
    EXPECT_EQ(backward, (std::vector<uint32_t>{9, 8, 7, 5, 3, 2, 1}));
    std::vector<uint32_t> visited;
    forEachEntry(tree.root(), tree.nil(), [&](Entry* e) { visited.push_back(numberOf(e)); });
    EXPECT_EQ(visited, forward);
}

}  // namespace
}  // namespace vellum
