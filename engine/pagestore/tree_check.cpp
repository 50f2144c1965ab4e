// The tree and range check.
#include "pagestore/tree_check.h"

#include <algorithm>
#include <climits>
#include <set>
#include <span>

#include "pagestore/page_file.h"
#include "pagestore/page_tree.h"

namespace vellum {

namespace {

using Key = std::vector<uint8_t>;

// Unreachable slots of one range named one by one; the rest are counted.
constexpr uint64_t kListedSlots = 8;

Key keyOf(const Entry* entry) { return Key(entry->key().begin(), entry->key().end()); }

std::string describe(int32_t page) { return "page " + std::to_string(page); }

class TreeChecker {
public:
    explicit TreeChecker(PageFile& file) : file_(file) {}

    TreeCheckReport run() {
        PageNode* root = file_.rootPage();
        report_.levels = root->level + 1u;
        checkPage(file_.header().rootPage(), root->level, nullptr);
        checkRanges();
        return std::move(report_);
    }

private:
    void problem(std::string text) { report_.problems.push_back(std::move(text)); }

    // Checks the in-page tree below node: links, sizes and order. Returns the subtree size.
    uint32_t checkPageTree(int32_t page, Entry* node, Entry* parent) {
        Entry* nil = file_.nil();
        if (node == nil) return 0;
        if (node->parent != parent) problem(describe(page) + ": wrong parent link");
        uint32_t size = checkPageTree(page, node->left, node) + 1 +
                        checkPageTree(page, node->right, node);
        if (node->subtreeSize != size) problem(describe(page) + ": wrong subtree size");
        return size;
    }

    void checkPage(int32_t number, unsigned level, const Key* separator) {
        if (!visited_.insert(number).second) {
            problem(describe(number) + ": reached twice");
            return;
        }
        ++report_.pages;
        PageNode* node = file_.fetchPage(number);
        if (node->level != level) {
            problem(describe(number) + ": level " + std::to_string(node->level) + ", expected " +
                    std::to_string(level));
            return;
        }
        if (node->tree == file_.nil()) {
            problem(describe(number) + ": empty page");
            return;
        }
        checkPageTree(number, node->tree, nullptr);
        unsigned estimate = 13;
        std::vector<std::pair<Key, int32_t>> children;
        bool first = true;
        forEachEntry(node->tree, file_.nil(), [&](Entry* entry) {
            estimate += entry->totalLength + 5u + (level > 0 ? 4u : 0u);
            Key key = keyOf(entry);
            if (first && separator != nullptr && key != *separator) {
                problem(describe(number) + ": first key differs from its separator");
            }
            if (first && separator == nullptr && !key.empty()) {
                problem(describe(number) + ": the leftmost page does not start with the sentinel");
            }
            if (level == 0) {
                if (haveLastKey_ && !(lastKey_ < key)) problem(describe(number) + ": keys out of order");
                lastKey_ = key;
                haveLastKey_ = true;
                ++report_.entries;
            } else {
                if (entry->totalLength != entry->keyLength) {
                    problem(describe(number) + ": separator with data");
                }
                children.emplace_back(std::move(key), entry->child);
            }
            first = false;
        });
        if (estimate != node->sizeEstimate) problem(describe(number) + ": wrong size estimate");
        if (level == 0) return;
        for (size_t i = 0; i < children.size(); ++i) {
            if (i > 0 && !(children[i - 1].first < children[i].first)) {
                problem(describe(number) + ": separators out of order");
            }
            // The first separator of the leftmost page is the sentinel's empty key.
            const Key* childSeparator = separator == nullptr && i == 0 ? nullptr : &children[i].first;
            checkPage(children[i].second, level - 1, childSeparator);
        }
    }

    void checkRanges() {
        const HeaderPage& header = file_.header();
        if (header.rangeStart(0) != 0 || header.rangeEnd(0) != 0) problem("range 0 is not empty");
        if (header.rangeStart(1) != 0) problem("range 1 does not start at 0");
        for (unsigned k = 1; k <= kMaxSizeClass; ++k) {
            uint32_t start = header.rangeStart(k);
            uint32_t end = header.rangeEnd(k);
            std::string name = "range " + std::to_string(k);
            if (end < start || (end - start) % k != 0) {
                problem(name + ": not a whole number of slots");
                continue;
            }
            if (k > 1) {
                uint32_t below = header.rangeEnd(k - 1);
                if (start < below) problem(name + ": overlaps the range below");
                uint32_t gap = start - below;
                bool several = end - start > k;
                if (several ? gap >= k : gap != 0) problem(name + ": a hole below it");
            }
            // A damaged header can claim ranges of billions of slots: name the first few
            // unreachable slots and count the rest, so the work stays bounded by the pages
            // reached.
            uint64_t slots = (end - start) / k;
            uint64_t reachable = 0;
            for (int32_t page : visited_) {
                uint32_t n = static_cast<uint32_t>(page);
                if (page >= 0 && start <= n && n < end && (n - start) % k == 0) ++reachable;
            }
            uint64_t unreachable = slots - reachable;
            uint64_t listed = 0;
            for (uint64_t page = start; page < end && listed < std::min(unreachable, kListedSlots);
                 page += k) {
                bool reached = page <= INT32_MAX && visited_.count(static_cast<int32_t>(page)) != 0;
                if (!reached) {
                    problem(describe(static_cast<int32_t>(page)) + ": in a range but unreachable");
                    ++listed;
                }
            }
            if (unreachable > listed) {
                problem(name + ": " + std::to_string(unreachable - listed) +
                        " more slots in the range but unreachable");
            }
        }
        for (int32_t page : visited_) {
            if (page < 0) continue;
            unsigned k = 0;
            for (unsigned c = 1; c <= kMaxSizeClass && k == 0; ++c) {
                uint32_t start = header.rangeStart(c);
                uint32_t end = header.rangeEnd(c);
                uint32_t n = static_cast<uint32_t>(page);
                if (start <= n && n < end && (n - start) % c == 0) k = c;
            }
            if (k == 0) problem(describe(page) + ": not at a slot of any range");
        }
    }

    PageFile& file_;
    TreeCheckReport report_;
    std::set<int32_t> visited_;
    Key lastKey_;
    bool haveLastKey_ = false;
};

}  // namespace

TreeCheckReport checkTree(PageFile& file) { return TreeChecker(file).run(); }

}  // namespace vellum
