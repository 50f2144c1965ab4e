// Allocation and key order of entries.
#include "vellum/entry.h"

#include <algorithm>
#include <new>

#include "vellum/fatal.h"

namespace vellum {

Entry* newEntry(unsigned keyLength, unsigned dataLength) {
    unsigned total = keyLength + dataLength;
    if (total > Entry::kMaxLength) fatal(824);
    void* memory = ::operator new(sizeof(Entry) + total);
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
    entry->~Entry();
    ::operator delete(entry);
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
