// The balanced binary tree of entries inside a cached page. Every empty side points to the
// file's NIL entry; subtree sizes and parent links are exact.
#pragma once

#include <cstddef>
#include <span>

#include "vellum/entry.h"

namespace vellum {

// Links entries given in key order into a perfectly balanced tree: of n entries the first
// n / 2 form the left subtree, the next is the root, the rest form the right subtree. Returns
// the root (nil for no entries).
Entry* buildBalancedTree(Entry* const* entries, size_t count, Entry* nil);

// Searches; each returns none (nullptr) when no entry qualifies.
Entry* firstEntry(Entry* root, const Entry* nil);
Entry* lastEntry(Entry* root, const Entry* nil);
Entry* nextInTree(Entry* entry, const Entry* nil);
Entry* previousInTree(Entry* entry, const Entry* nil);
Entry* findInTree(Entry* root, const Entry* nil, std::span<const uint8_t> key);
// The entry with the greatest key not greater than key.
Entry* floorEntry(Entry* root, const Entry* nil, std::span<const uint8_t> key);
// The entry with the greatest key less than key.
Entry* lowerEntry(Entry* root, const Entry* nil, std::span<const uint8_t> key);
// The entry with the smallest key greater than key.
Entry* higherEntry(Entry* root, const Entry* nil, std::span<const uint8_t> key);

// Inserts a loose entry by its key (an equal key is fatal 706). On the way back up, a node
// whose right side outweighs its left by more than the right child's left subtree rotates
// left, and the mirror case rotates right.
void insertIntoTree(Entry** root, Entry* nil, Entry* entry);
// Takes an entry out: a node with a larger left side is replaced by its in-order predecessor,
// otherwise by its successor; a child takes its place directly when the other side is empty.
// No rotations follow. A parent that does not point to the entry is fatal 300. The entry is left
// loose (no links, subtree size 0).
void removeFromTree(Entry** root, Entry* nil, Entry* entry);

// Frees every entry of a tree.
void destroyTree(Entry* root, const Entry* nil);

// Calls visit(entry) for every entry of a tree in key order.
template <typename Visit>
void forEachEntry(Entry* root, const Entry* nil, Visit&& visit) {
    Entry* node = root;
    if (node == nil) return;
    while (node->left != nil) node = node->left;
    while (node != nullptr) {
        visit(node);
        if (node->right != nil) {
            node = node->right;
            while (node->left != nil) node = node->left;
        } else {
            while (node->parent != nullptr && node->parent->right == node) node = node->parent;
            node = node->parent;
        }
    }
}

}  // namespace vellum
