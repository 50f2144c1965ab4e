// The balanced entry tree of a cached page: building, searching, inserting, removing, freeing.
#include "pagestore/page_tree.h"

#include <cstdint>

#include "vellum/fatal.h"

namespace vellum {

namespace {

// Links entries[0, count) below parent; returns the subtree's root. The depth of the recursion
// is the height of the balanced tree, about log2(count).
Entry* linkBalanced(Entry* const* entries, size_t count, Entry* parent, Entry* nil) {
    if (count == 0) return nil;
    size_t half = count / 2;
    Entry* root = entries[half];
    root->parent = parent;
    root->subtreeSize = static_cast<uint32_t>(count);
    root->left = linkBalanced(entries, half, root, nil);
    root->right = linkBalanced(entries + half + 1, count - half - 1, root, nil);
    return root;
}

}  // namespace

Entry* buildBalancedTree(Entry* const* entries, size_t count, Entry* nil) {
    return linkBalanced(entries, count, nullptr, nil);
}

// Frees without a stack of its own, so any tree shape is fine: while the current node has a
// left child, a right rotation moves that child up; a node without a left child is freed and
// its right subtree taken next. Empty sides may be nil or null.
void destroyTree(Entry* root, const Entry* nil) {
    Entry* node = root;
    while (node != nil && node != nullptr) {
        Entry* left = node->left;
        if (left != nil && left != nullptr) {
            node->left = left->right;
            left->right = node;
            node = left;
        } else {
            Entry* right = node->right;
            freeEntry(node);
            node = right;
        }
    }
}

}  // namespace vellum

namespace vellum {

namespace {

uint32_t sizeOf(const Entry* entry) { return entry->subtreeSize; }

void setParent(Entry* child, Entry* parent, const Entry* nil) {
    if (child != nil) child->parent = parent;
}

void recomputeSize(Entry* node) {
    node->subtreeSize = sizeOf(node->left) + sizeOf(node->right) + 1;
}

// Points whatever pointed to old (its parent's side, or the root) at replacement.
void replaceChild(Entry** root, Entry* old, Entry* replacement, const Entry* nil) {
    Entry* parent = old->parent;
    if (parent == nullptr) {
        *root = replacement;
    } else if (parent->left == old) {
        parent->left = replacement;
    } else if (parent->right == old) {
        parent->right = replacement;
    } else {
        fatal(300);
    }
    setParent(replacement, parent, nil);
}

// The right child y of x becomes the subtree's root; x takes y's left subtree as its right.
Entry* rotateLeft(Entry** root, Entry* x, const Entry* nil) {
    Entry* y = x->right;
    replaceChild(root, x, y, nil);
    x->right = y->left;
    setParent(y->left, x, nil);
    y->left = x;
    x->parent = y;
    recomputeSize(x);
    recomputeSize(y);
    return y;
}

Entry* rotateRight(Entry** root, Entry* x, const Entry* nil) {
    Entry* y = x->left;
    replaceChild(root, x, y, nil);
    x->left = y->right;
    setParent(y->right, x, nil);
    y->right = x;
    x->parent = y;
    recomputeSize(x);
    recomputeSize(y);
    return y;
}

}  // namespace

Entry* firstEntry(Entry* root, const Entry* nil) {
    if (root == nil) return nullptr;
    while (root->left != nil) root = root->left;
    return root;
}

Entry* lastEntry(Entry* root, const Entry* nil) {
    if (root == nil) return nullptr;
    while (root->right != nil) root = root->right;
    return root;
}

Entry* nextInTree(Entry* entry, const Entry* nil) {
    if (entry->right != nil) return firstEntry(entry->right, nil);
    while (entry->parent != nullptr && entry->parent->right == entry) entry = entry->parent;
    return entry->parent;
}

Entry* previousInTree(Entry* entry, const Entry* nil) {
    if (entry->left != nil) return lastEntry(entry->left, nil);
    while (entry->parent != nullptr && entry->parent->left == entry) entry = entry->parent;
    return entry->parent;
}

Entry* findInTree(Entry* root, const Entry* nil, std::span<const uint8_t> key) {
    Entry* node = root;
    while (node != nil) {
        int c = compareKeys(key, node->key());
        if (c == 0) return node;
        node = c < 0 ? node->left : node->right;
    }
    return nullptr;
}

Entry* floorEntry(Entry* root, const Entry* nil, std::span<const uint8_t> key) {
    Entry* best = nullptr;
    for (Entry* node = root; node != nil;) {
        int c = compareKeys(node->key(), key);
        if (c == 0) return node;
        if (c < 0) {
            best = node;
            node = node->right;
        } else {
            node = node->left;
        }
    }
    return best;
}

Entry* lowerEntry(Entry* root, const Entry* nil, std::span<const uint8_t> key) {
    Entry* best = nullptr;
    for (Entry* node = root; node != nil;) {
        if (compareKeys(node->key(), key) < 0) {
            best = node;
            node = node->right;
        } else {
            node = node->left;
        }
    }
    return best;
}

Entry* higherEntry(Entry* root, const Entry* nil, std::span<const uint8_t> key) {
    Entry* best = nullptr;
    for (Entry* node = root; node != nil;) {
        if (compareKeys(node->key(), key) > 0) {
            best = node;
            node = node->left;
        } else {
            node = node->right;
        }
    }
    return best;
}

void insertIntoTree(Entry** root, Entry* nil, Entry* entry) {
    Entry* parent = nullptr;
    Entry** side = root;
    while (*side != nil) {
        parent = *side;
        int c = compareKeys(entry->key(), parent->key());
        if (c == 0) fatal(706);
        side = c < 0 ? &parent->left : &parent->right;
    }
    *side = entry;
    entry->left = entry->right = nil;
    entry->subtreeSize = 1;
    entry->parent = parent;
    for (Entry* node = parent; node != nullptr;) {
        recomputeSize(node);
        int64_t l = sizeOf(node->left);
        int64_t r = sizeOf(node->right);
        Entry* top = node;
        if (r > l && r - l - int64_t{sizeOf(node->right->left)} > 0) {
            top = rotateLeft(root, node, nil);
        } else if (l > r && r - l + int64_t{sizeOf(node->left->right)} < 0) {
            top = rotateRight(root, node, nil);
        }
        node = top->parent;
    }
}

void removeFromTree(Entry** root, Entry* nil, Entry* entry) {
    // Checked before anything is relinked, so that a refusal leaves every entry in the tree.
    Entry* parent = entry->parent;
    if (parent == nullptr ? *root != entry : parent->left != entry && parent->right != entry) {
        fatal(300);
    }
    Entry* left = entry->left;
    Entry* right = entry->right;
    Entry* replacement;
    Entry* fixFrom;  // lowest node whose subtree size changed
    bool fromLeft = sizeOf(left) > sizeOf(right);
    if (fromLeft ? right == nil : left == nil) {
        replacement = fromLeft ? left : right;
        replaceChild(root, entry, replacement, nil);
        fixFrom = entry->parent;
    } else if (fromLeft) {
        replacement = lastEntry(left, nil);
        if (replacement == left) {
            fixFrom = replacement;
        } else {
            fixFrom = replacement->parent;
            fixFrom->right = replacement->left;
            setParent(replacement->left, fixFrom, nil);
            replacement->left = left;
            left->parent = replacement;
        }
        replacement->right = right;
        right->parent = replacement;
        replaceChild(root, entry, replacement, nil);
    } else {
        replacement = firstEntry(right, nil);
        if (replacement == right) {
            fixFrom = replacement;
        } else {
            fixFrom = replacement->parent;
            fixFrom->left = replacement->right;
            setParent(replacement->right, fixFrom, nil);
            replacement->right = right;
            right->parent = replacement;
        }
        replacement->left = left;
        left->parent = replacement;
        replaceChild(root, entry, replacement, nil);
    }
    for (Entry* node = fixFrom; node != nullptr; node = node->parent) recomputeSize(node);
    entry->left = entry->right = nullptr;
    entry->parent = nullptr;
    entry->subtreeSize = 0;
}

}  // namespace vellum
