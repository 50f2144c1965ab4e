// The header page: the first 512 bytes of a table file (little-endian unless noted).
//
//   0   4  own offset        always 0; the header travels through the log area like a page
//   4   2  header size       512
//   6   4  log start         file offset of the first log-area image
//  10   4  log end           just past the last log-area image; equal to log start when settled
//  14   4  magic             "vElM"
//  18   2  reserved          carried along unchanged
//  20   4  record counter    big-endian; the last record number issued
//  24   4  change counter    raised by every commit; 0 in a file never committed
//  28   4  root page         page number of the root of the entry tree
//  32 240  range starts      60 page numbers, index 0 unused
// 272 240  range ends        60 page numbers, index 0 unused
//
// Page n occupies k units of 256 bytes at 512 + 256 * n, k being its size class (1 to 59). All
// pages of class k lie back to back from range start k to range end k; ranges ascend in class
// order and do not overlap.
#pragma once

#include <array>
#include <cstdint>

namespace vellum {

constexpr unsigned kHeaderSize = 512;
constexpr unsigned kSizeClasses = 60;  // classes 1 to 59; index 0 is no class
constexpr unsigned kMaxSizeClass = 59;

// File offset of page n.
constexpr uint64_t pageOffset(int32_t page) {
    return kHeaderSize + 256 * static_cast<uint64_t>(static_cast<uint32_t>(page));
}

class HeaderPage {
public:
    HeaderPage();  // all zero but the header size

    uint8_t* bytes() { return bytes_.data(); }
    const uint8_t* bytes() const { return bytes_.data(); }

    uint32_t logStart() const { return get32(6); }
    void setLogStart(uint32_t offset) { put32(6, offset); }
    uint32_t logEnd() const { return get32(10); }
    void setLogEnd(uint32_t offset) { put32(10, offset); }

    bool hasMagic() const;
    void setMagic();
    void clearMagic();

    // The four counter bytes in stored (big-endian) order.
    const uint8_t* recordCounter() const { return bytes_.data() + 20; }
    uint8_t* recordCounter() { return bytes_.data() + 20; }

    int32_t changeCounter() const { return static_cast<int32_t>(get32(24)); }
    void setChangeCounter(int32_t value) { put32(24, static_cast<uint32_t>(value)); }
    // Raises the change counter by one; it wraps rather than overflows.
    void raiseChangeCounter() { put32(24, get32(24) + 1); }
    int32_t rootPage() const { return static_cast<int32_t>(get32(28)); }
    void setRootPage(int32_t page) { put32(28, static_cast<uint32_t>(page)); }

    uint32_t rangeStart(unsigned k) const { return get32(32 + 4 * k); }
    void setRangeStart(unsigned k, uint32_t page) { put32(32 + 4 * k, page); }
    uint32_t rangeEnd(unsigned k) const { return get32(272 + 4 * k); }
    void setRangeEnd(unsigned k, uint32_t page) { put32(272 + 4 * k, page); }

    // The size class of a page: 0 for a negative number (a page never placed), fatal 1735 for a
    // non-negative number that lies in no range.
    unsigned sizeClassOf(int32_t page) const;
    // Whether the ranges are whole slots, ascending and without overlap, as allocation needs.
    bool rangesAreSound() const;
    // File offset just past the highest non-empty range; 512 when every range is empty.
    uint64_t endOfPages() const;

private:
    uint32_t get32(unsigned at) const;
    void put32(unsigned at, uint32_t value);

    std::array<uint8_t, kHeaderSize> bytes_{};
};

}  // namespace vellum
