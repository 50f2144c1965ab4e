// Conversion between page images and the entries of a cached page: the entry encoding with
// shared prefixes, the run-length packing of the entry area, and the image header fields.
#include "pagestore/page_codec.h"

#include <algorithm>
#include <cstring>

#include "pagestore/page_tree.h"
#include "vellum/byte_order.h"
#include "vellum/fatal.h"

namespace vellum {

namespace {

constexpr unsigned kMaxShared = 63;
constexpr uint8_t kTotalFollows = 0x80;
constexpr uint8_t kKeyFollows = 0x40;
constexpr uint8_t kSharedMask = 0x3F;
// A count never needs more than five groups of seven bits.
constexpr unsigned kMaxCountBytes = 5;

size_t roundUpToUnit(size_t size) { return (size + kPageUnit - 1) / kPageUnit * kPageUnit; }

size_t countSize(size_t count) {
    size_t bytes = 1;
    while (count >= 0x80) {
        count >>= 7;
        ++bytes;
    }
    return bytes;
}

// Reads one count at *at. A stream that ends before the count is complete, a count of more than
// five bytes, or a count above limit is fatal with the given number.
size_t readCount(const uint8_t* in, size_t inLength, size_t* at, size_t limit, int fatalNumber) {
    uint64_t value = 0;
    for (unsigned i = 0;; ++i) {
        if (i == kMaxCountBytes || *at >= inLength) fatal(fatalNumber);
        uint8_t byte = in[(*at)++];
        value |= static_cast<uint64_t>(byte & 0x7F) << (7 * i);
        if ((byte & 0x80) == 0) break;
    }
    if (value > limit) fatal(fatalNumber);
    return static_cast<size_t>(value);
}

// Owns decoded entries until they are handed over, so that a fatal error midway frees them.
class EntryGuard {
public:
    ~EntryGuard() {
        for (Entry* entry : entries) freeEntry(entry);
    }
    std::vector<Entry*> release() {
        std::vector<Entry*> released;
        released.swap(entries);
        return released;
    }

    std::vector<Entry*> entries;
};

std::vector<Entry*> entriesInOrder(Entry* tree, const Entry* nil) {
    std::vector<Entry*> entries;
    if (tree != nullptr) forEachEntry(tree, nil, [&](Entry* entry) { entries.push_back(entry); });
    return entries;
}

}  // namespace

size_t writeCount(uint32_t count, uint8_t* out) {
    size_t written = 0;
    while (count >= 0x80) {
        out[written++] = static_cast<uint8_t>(count | 0x80);
        count >>= 7;
    }
    out[written++] = static_cast<uint8_t>(count);
    return written;
}

// Every run of four or more equal bytes becomes a literal count ending with the run's first
// byte and a repeat count for the rest of the run; the bytes after the last run close the
// stream as a final literal count. Before each piece is written its size is checked against n:
// a stream that would grow longer than the plain area gains nothing, and the area is reported
// as not worth packing. So at most n bytes of out are ever written.
size_t packArea(const uint8_t* in, size_t n, uint8_t* out) {
    size_t length = 0;
    size_t pos = 0;
    size_t i = 0;
    while (i < n) {
        size_t j = i + 1;
        while (j < n && in[j] == in[i]) ++j;
        if (j - i >= 4) {
            size_t literal = i + 1 - pos;
            size_t repeat = j - i - 1;
            if (length + countSize(literal) + literal + countSize(repeat) > n) return n;
            length += writeCount(static_cast<uint32_t>(literal), out + length);
            std::memcpy(out + length, in + pos, literal);
            length += literal;
            length += writeCount(static_cast<uint32_t>(repeat), out + length);
            pos = j;
        }
        i = j;
    }
    if (pos == 0) return n;
    size_t literal = n - pos;
    if (length + countSize(literal) + literal > n) return n;
    length += writeCount(static_cast<uint32_t>(literal), out + length);
    if (literal > 0) std::memcpy(out + length, in + pos, literal);
    return length + literal;
}

void unpackArea(const uint8_t* in, size_t inLength, uint8_t* out, size_t outLength) {
    size_t at = 0;
    size_t written = 0;
    while (written < outLength) {
        size_t literal = readCount(in, inLength, &at, outLength - written, 522);
        if (literal > inLength - at) fatal(522);
        if (literal > 0) std::memcpy(out + written, in + at, literal);
        at += literal;
        written += literal;
        if (written == outLength) break;
        size_t repeat = readCount(in, inLength, &at, outLength - written, 530);
        if (repeat == 0) continue;
        // A repeat copies the byte just written; there is none before the first literal.
        if (written == 0) fatal(530);
        std::memset(out + written, out[written - 1], repeat);
        written += repeat;
    }
}

size_t encodeEntries(const Entry* const* entries, size_t count, uint8_t* out) {
    size_t length = 0;
    const Entry* previous = nullptr;
    for (size_t n = 0; n < count; ++n) {
        const Entry* entry = entries[n];
        unsigned total = entry->totalLength;
        uint8_t flags = kTotalFollows | kKeyFollows;
        unsigned shared = 0;
        if (previous != nullptr) {
            flags = 0;
            if (total != previous->totalLength) flags |= kTotalFollows;
            if (entry->keyLength != previous->keyLength) flags |= kKeyFollows;
            unsigned limit = std::min<unsigned>({kMaxShared, total, previous->totalLength});
            const uint8_t* a = entry->bytes();
            const uint8_t* b = previous->bytes();
            while (shared < limit && a[shared] == b[shared]) ++shared;
        }
        out[length++] = static_cast<uint8_t>(flags | shared);
        if (flags & kTotalFollows) {
            store16le(out + length, total);
            length += 2;
        }
        if (flags & kKeyFollows) {
            store16le(out + length, entry->keyLength);
            length += 2;
        }
        if (total > shared) std::memcpy(out + length, entry->bytes() + shared, total - shared);
        length += total - shared;
        previous = entry;
    }
    return length;
}

std::vector<Entry*> decodeEntries(const uint8_t* area, size_t length, unsigned count) {
    EntryGuard guard;
    // Every entry takes at least its flag byte, which bounds a sensible reservation.
    guard.entries.reserve(std::min<size_t>(count, length));
    size_t at = 0;
    unsigned total = 0;
    unsigned keyLength = 0;
    const Entry* previous = nullptr;
    for (unsigned n = 0; n < count; ++n) {
        if (at >= length) fatal(1602);
        uint8_t flags = area[at++];
        if (flags & kTotalFollows) {
            if (length - at < 2) fatal(1602);
            total = load16le(area + at);
            at += 2;
        }
        if (flags & kKeyFollows) {
            if (length - at < 2) fatal(1602);
            keyLength = load16le(area + at);
            at += 2;
        }
        unsigned shared = flags & kSharedMask;
        unsigned previousTotal = previous != nullptr ? previous->totalLength : 0;
        if (total > Entry::kMaxLength || keyLength > total) fatal(1602);
        if (shared > total || shared > previousTotal) fatal(1602);
        size_t tail = total - shared;
        if (tail > length - at) fatal(1602);
        Entry* entry = newEntry(keyLength, total - keyLength);
        guard.entries.push_back(entry);
        if (shared > 0) std::memcpy(entry->bytes(), previous->bytes(), shared);
        if (tail > 0) std::memcpy(entry->bytes() + shared, area + at, tail);
        at += tail;
        previous = entry;
    }
    if (at != length) fatal(1602);
    return guard.release();
}

PageContents decodePageImage(const uint8_t* image, size_t slotSize, Entry* nil) {
    if (slotSize < kPageHeaderSize) fatal(1477);
    size_t stored = load16le(image + 4);
    if (roundUpToUnit(stored) != slotSize) fatal(1477);
    size_t plain = load16le(image + 6);
    uint16_t sizeEstimate = load16le(image + 8);
    unsigned count = load16le(image + 10);
    uint8_t level = image[12];
    size_t header = kPageHeaderSize + (level != 0 ? 4 * static_cast<size_t>(count) : 0);
    if (header > stored || header > plain) fatal(1602);

    EntryGuard guard;
    if (stored < plain) {
        std::vector<uint8_t> area(plain - header);
        unpackArea(image + header, stored - header, area.data(), area.size());
        guard.entries = decodeEntries(area.data(), area.size(), count);
    } else {
        guard.entries = decodeEntries(image + header, plain - header, count);
    }
    if (level != 0) {
        for (unsigned n = 0; n < count; ++n) {
            const uint8_t* child = image + kPageHeaderSize + 4 * static_cast<size_t>(n);
            guard.entries[n]->child = static_cast<int32_t>(load32le(child));
        }
    }

    PageContents contents;
    contents.sizeEstimate = sizeEstimate;
    contents.level = level;
    std::vector<Entry*> entries = guard.release();
    contents.tree = buildBalancedTree(entries.data(), entries.size(), nil);
    return contents;
}

std::vector<uint8_t> buildPageImage(Entry* tree, const Entry* nil, uint8_t level,
                                    uint16_t sizeEstimate) {
    std::vector<Entry*> entries = entriesInOrder(tree, nil);
    size_t header = kPageHeaderSize + (level != 0 ? 4 * entries.size() : 0);
    // Room for the worst case of the encoding, so that a wrong estimate is caught below
    // instead of overrunning the buffer.
    size_t worst = header;
    for (const Entry* entry : entries) worst += entry->totalLength + 5;
    std::vector<uint8_t> image(std::max<size_t>(sizeEstimate, worst), 0);

    size_t plain = header + encodeEntries(entries.data(), entries.size(), image.data() + header);
    if (plain > sizeEstimate) fatal(1659);
    store16le(image.data() + 8, sizeEstimate);
    store16le(image.data() + 10, static_cast<uint16_t>(entries.size()));
    image[12] = level;

    size_t areaLength = plain - header;
    std::vector<uint8_t> packed(areaLength + 10);
    size_t packedLength = packArea(image.data() + header, areaLength, packed.data());
    size_t stored = plain;
    if (roundUpToUnit(header + packedLength) < roundUpToUnit(plain)) {
        stored = header + packedLength;
        std::memcpy(image.data() + header, packed.data(), packedLength);
    }

    size_t slot = roundUpToUnit(stored);
    if (slot > kMaxSlotSize) fatal(1678);
    image.resize(slot);
    std::fill(image.begin() + static_cast<std::ptrdiff_t>(stored), image.end(), kSlotFill);
    store16le(image.data() + 4, static_cast<uint16_t>(stored));
    store16le(image.data() + 6, static_cast<uint16_t>(plain));
    return image;
}

void writeChildNumbers(uint8_t* image, Entry* tree, const Entry* nil) {
    size_t at = kPageHeaderSize;
    if (tree == nullptr) return;
    forEachEntry(tree, nil, [&](Entry* entry) {
        store32le(image + at, static_cast<uint32_t>(entry->child));
        at += 4;
    });
}

uint32_t imageOwnOffset(const uint8_t* image) { return load32le(image); }

void setImageOwnOffset(uint8_t* image, uint32_t offset) { store32le(image, offset); }

uint16_t imageStoredSize(const uint8_t* image) { return load16le(image + 4); }

uint32_t imageSlotSize(const uint8_t* image) {
    return static_cast<uint32_t>(roundUpToUnit(imageStoredSize(image)));
}

}  // namespace vellum
