// Page images: the bytes of one slot of the page region, and their conversion to and from the
// entries of a cached page.
//
// Page image (little-endian):
//   0  4  own offset      512 + 256 * page number, set when the page is written
//   4  2  stored size     header, child numbers and entry area as stored
//   6  2  plain size      the same with the entry area unpacked
//   8  2  size estimate   13 + sum of (total length + 5), + 4 per entry on an index page
//  10  2  entry count
//  12  1  level           0 for a leaf
//  13  4n child numbers   index pages only, one per entry
//  ..     entry area      plain, or packed when stored size < plain size
// The slot is the stored size raised to a multiple of 256; the bytes past the stored size are
// 0xB0.
//
// Entry encoding: a flag byte (0x80 a 2-byte total length follows, 0x40 a 2-byte key length
// follows, bits 0-5 the count of leading bytes shared with the previous entry, at most 63), the
// lengths, then the bytes after the shared prefix. An absent length repeats the previous one.
//
// Packed area: literal count, literal bytes, repeat count (copies of the last literal byte),
// and so on until the plain length is reached. Counts are 7 bits per byte, low group first,
// bit 7 set on all but the last byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vellum/entry.h"

namespace vellum {

constexpr unsigned kPageHeaderSize = 13;
constexpr unsigned kPageUnit = 256;
constexpr unsigned kMaxSlotSize = 15104;  // 59 units
constexpr uint8_t kSlotFill = 0xB0;

// Writes a count of the packed stream; returns the bytes written (at most 5).
size_t writeCount(uint32_t count, uint8_t* out);

// Packs a plain entry area of n bytes into out, which holds at least n + 10 bytes. Returns the
// stream length, or n when the area has no run worth packing.
size_t packArea(const uint8_t* in, size_t n, uint8_t* out);

// Unpacks a stream of inLength bytes into exactly outLength bytes. A literal count or literal
// bytes beyond what is missing or present is fatal 522; a repeat count beyond what is missing is
// fatal 530.
void unpackArea(const uint8_t* in, size_t inLength, uint8_t* out, size_t outLength);

// Encodes entries (in key order) into out, which holds at least the sum of their total lengths
// + 5; returns the bytes written.
size_t encodeEntries(const Entry* const* entries, size_t count, uint8_t* out);

// Decodes count entries from a plain entry area of exactly length bytes into new entries.
// Anything that does not end exactly at length is fatal 1602.
std::vector<Entry*> decodeEntries(const uint8_t* area, size_t length, unsigned count);

struct PageContents {
    Entry* tree = nullptr;  // balanced tree of the entries, or nil
    uint16_t sizeEstimate = 0;
    uint8_t level = 0;
};

// Decodes a page image of slotSize bytes (256 times the page's size class). A stored size that
// does not round to slotSize is fatal 1477; damaged packing 522 or 530; damaged entries 1602.
// On a fatal error nothing is leaked.
PageContents decodePageImage(const uint8_t* image, size_t slotSize, Entry* nil);

// Builds the image of a page from its tree: slot-sized, packed when that saves a 256-byte unit,
// filled with 0xB0. Child numbers and the own offset are left 0 (see below). An encoding longer
// than the size estimate is fatal 1659; a slot above 15104 bytes is fatal 1678.
std::vector<uint8_t> buildPageImage(Entry* tree, const Entry* nil, uint8_t level,
                                    uint16_t sizeEstimate);

// Writes the child numbers of an index page's entries into its image.
void writeChildNumbers(uint8_t* image, Entry* tree, const Entry* nil);

// Fields of an image header.
uint32_t imageOwnOffset(const uint8_t* image);
void setImageOwnOffset(uint8_t* image, uint32_t offset);
uint16_t imageStoredSize(const uint8_t* image);
// The stored size raised to the next multiple of 256.
uint32_t imageSlotSize(const uint8_t* image);

}  // namespace vellum
