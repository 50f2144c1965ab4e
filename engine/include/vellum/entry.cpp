// Allocation and key order of entries.
//
// Entries come and go a page at a time: a cache miss decodes a page into a few dozen entries and
// evicts another page's, mostly of a few similar sizes. The general heap keeps only a handful of
// freed blocks of one size at hand and sorts the rest back into its bins, so each thread keeps
// its own freed entry blocks by size class (64-byte steps) for reuse, up to 4 MiB; beyond that,
// blocks go back to the heap. Under AddressSanitizer every block goes to the heap, so that a use
// after free is still found.
#include "vellum/entry.h"

#include <algorithm>
#include <array>
#include <new>
#include <vector>

#include "vellum/fatal.h"

namespace vellum {

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPoolEntries = false;
#else
constexpr bool kPoolEntries = true;
#endif

class EntryPool {
public:
    static constexpr size_t kClassStep = 64;
    static constexpr size_t kLimit = size_t{4} << 20;

    ~EntryPool() {
        destroyed_ = true;
        for (std::vector<void*>& blocks : free_) {
            for (void* block : blocks) ::operator delete(block);
        }
    }

    // A thread's pool is gone before the objects with static lifetime that may still free
    // entries at exit; their blocks then go straight to the heap.
    static bool usable() { return kPoolEntries && !destroyed_; }

    void* take(size_t size) {
        std::vector<void*>& blocks = free_[classOf(size)];
        if (blocks.empty()) return ::operator new(classBytes(size));
        void* block = blocks.back();
        blocks.pop_back();
        held_ -= classBytes(size);
        return block;
    }

    void give(void* block, size_t size) {
        if (held_ + classBytes(size) > kLimit) {
            ::operator delete(block);
            return;
        }
        free_[classOf(size)].push_back(block);
        held_ += classBytes(size);
    }

private:
    static size_t classOf(size_t size) { return (size - 1) / kClassStep; }
    static size_t classBytes(size_t size) { return (classOf(size) + 1) * kClassStep; }

    static constexpr size_t kClasses =
        (sizeof(Entry) + Entry::kMaxLength + kClassStep - 1) / kClassStep;
    std::array<std::vector<void*>, kClasses> free_;
    size_t held_ = 0;
    static thread_local bool destroyed_;
};

thread_local bool EntryPool::destroyed_ = false;
thread_local EntryPool pool;

}  // namespace

Entry* newEntry(unsigned keyLength, unsigned dataLength) {
    unsigned total = keyLength + dataLength;
    if (total > Entry::kMaxLength) fatal(824);
    size_t size = sizeof(Entry) + total;
    void* memory = EntryPool::usable() ? pool.take(size) : ::operator new(size);
    Entry* entry = new (memory) Entry;
    entry->totalLength = static_cast<uint16_t>(total);
    entry->keyLength = static_cast<uint16_t>(keyLength);
    return entry;
}

Entry* newEntry(std::span<const uint8_t> key, std::span<const uint8_t> data) {
    Entry* entry = newEntry(static_cast<unsigned>(key.size()), static_cast<unsigned>(data.size()));
    if (!key.empty()) std::memcpy(entry->bytes(), key.data(), key.size());
    if (!data.empty()) std::memcpy(entry->bytes() + key.size(), data.data(), data.size());
    return entry;
}

Entry* copyEntry(const Entry& entry) {
    Entry* copy = newEntry(entry.keyLength, entry.totalLength - entry.keyLength);
    std::memcpy(copy->bytes(), entry.bytes(), entry.totalLength);
    return copy;
}

Entry* copyEntryKey(const Entry& entry) { return newEntry(entry.key()); }

void initKeyEntry(Entry* entry) {
    entry->left = entry->right = entry->parent = nullptr;
    entry->child = 0;
    entry->subtreeSize = 0;
    entry->cursors = nullptr;
}

void freeEntry(Entry* entry) {
    if (entry == nullptr) return;
    size_t size = sizeof(Entry) + entry->totalLength;
    entry->~Entry();
    if (EntryPool::usable()) {
        pool.give(entry, size);
    } else {
        ::operator delete(entry);
    }
}

int compareKeys(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    size_t common = std::min(a.size(), b.size());
    if (common > 0) {
        int c = std::memcmp(a.data(), b.data(), common);
        if (c != 0) return c;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace vellum
