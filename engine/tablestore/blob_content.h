// BLOB content: the bytes of each BLOB of a table, held in its memo descriptor as one block of
// exactly the current size, and the BLOB operations of the driver entry. BLOBs are named by their
// memo number, counted from 1 over all memos of the declaration. BLOB_YIELD and BLOB_TAKE carry
// their bytes through the file layer's string stack: BLOB_TAKE takes its value off it, BLOB_YIELD
// gives its bytes as the call's result text.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vellum {

class TableObject;
struct MemoDescriptor;

constexpr uint32_t kMaxBlobSize = 671088640;  // 640 MiB

// Resizes the content, keeping its bytes up to the smaller of both sizes (0 releases the block);
// 80 above kMaxBlobSize or when memory runs out, leaving the content as it was.
int resizeBlob(MemoDescriptor& memo, uint64_t size);
// Replaces the content by bytes and sets the Touched mark; 80 as for resizeBlob.
int assignBlob(MemoDescriptor& memo, std::span<const uint8_t> bytes);

// BLOB_SIZE: the current size.
int blobSize(TableObject& table, uint32_t number, int32_t* size);
// BLOB_YIELD: the bytes from offset from to offset to, both inclusive, clipped to the content;
// sets the Touched mark.
int yieldBlob(TableObject& table, uint32_t number, uint32_t from, uint32_t to, std::string* bytes);
// BLOB_TAKE: stores value into the to - from + 1 bytes at offset from (cut, or padded with
// blanks), growing the content first when it ends before to.
int takeIntoBlob(TableObject& table, uint32_t number, uint32_t from, uint32_t to,
                 std::string_view value);
// The BLOB properties: Touched (31899, "0" or "1"), Size (31929) and Handle (31894: the file
// layer's handle of the content block, a std::vector<uint8_t>); none for any other property.
std::optional<std::string> readBlobProperty(MemoDescriptor& memo, int32_t property);
// Size resizes the content to the value (0 empties it); Handle 0 empties it, another value names
// a block of the file layer (kind blob) whose whole content is copied in, 80 when it names none.
// Both set Touched; the value is read from its decimal digits alone. Other properties are ignored.
int writeBlobProperty(MemoDescriptor& memo, int32_t property, std::string_view value);
// After the record operations that read or write records: every BLOB loses its Touched mark.
void resetTouched(TableObject& table);

}  // namespace vellum
