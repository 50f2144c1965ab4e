// Entry: one key-and-data byte string of a file's entry tree, together with its place in the
// balanced binary tree of the cached page that holds it. The bytes (key, then data) follow the
// structure in the same allocation.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

namespace vellum {

class EntryCursor;

struct Entry {
    static constexpr unsigned kMaxLength = 15093;  // longest total length of an entry

    Entry* left = nullptr;    // children in the page tree; the file's NIL entry marks an empty side
    Entry* right = nullptr;
    Entry* parent = nullptr;  // none at the page root
    int32_t child = 0;        // index pages: the child page number
    uint32_t subtreeSize = 0; // entries in the subtree rooted here; 0 for NIL and loose entries
    EntryCursor* cursors = nullptr;  // the cursors standing on this entry
    uint16_t totalLength = 0; // key length + data length
    uint16_t keyLength = 0;

    uint8_t* bytes() { return reinterpret_cast<uint8_t*>(this + 1); }
    const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(this + 1); }
    std::span<const uint8_t> key() const { return {bytes(), keyLength}; }
    std::span<const uint8_t> data() const {
        return {bytes() + keyLength, static_cast<size_t>(totalLength - keyLength)};
    }
};

// A new loose entry with room for the given lengths; its bytes are uninitialised. A total of
// 15094 or more is fatal 824.
Entry* newEntry(unsigned keyLength, unsigned dataLength);
// A new loose entry holding the given key and data.
Entry* newEntry(std::span<const uint8_t> key, std::span<const uint8_t> data = {});
// A new loose entry with the same lengths and bytes, or with the key alone.
Entry* copyEntry(const Entry& entry);
Entry* copyEntryKey(const Entry& entry);
// Prepares caller-owned storage of an Entry as a loose search key; the caller sets the lengths
// and bytes.
void initKeyEntry(Entry* entry);
// Frees the memory of an entry made by newEntry. Cursors still standing on it must have been
// cleared first (releaseEntry).
void freeEntry(Entry* entry);

// A loose entry made by newEntry or copyEntry, such as a search key, freed when its owner goes.
struct OwnedEntryDeleter {
    void operator()(Entry* entry) const { freeEntry(entry); }
};
using OwnedEntry = std::unique_ptr<Entry, OwnedEntryDeleter>;

// Key order: unsigned bytes over the shorter length, then the shorter key first.
int compareKeys(std::span<const uint8_t> a, std::span<const uint8_t> b);
inline int compareKeys(const Entry& a, const Entry& b) { return compareKeys(a.key(), b.key()); }

}  // namespace vellum
