// BLOB content and the BLOB operations.
#include "tablestore/blob_content.h"

#include <algorithm>
#include <new>
#include <vector>

#include "tablestore/table_object.h"
#include "vellum/error_codes.h"
#include "vellum/file_layer_services.h"

namespace vellum {

namespace {

// The BLOB with a memo number from 1; none when the number names no BLOB.
MemoDescriptor* blobOf(TableObject& table, uint32_t number) {
    std::vector<MemoDescriptor>& memos = table.definition.memos;
    if (number == 0 || number > memos.size()) return nullptr;
    MemoDescriptor& memo = memos[number - 1];
    return (memo.flags & kMemoBlob) ? &memo : nullptr;
}

enum BlobProperty : int32_t {
    kHandleProperty = 31894,
    kTouchedProperty = 31899,
    kSizeProperty = 31929,
};

// The value of a BLOB property: its decimal digits in order, every other character ignored.
uint64_t digitsOf(std::string_view value) {
    uint64_t number = 0;
    for (char c : value) {
        // Past 32 bits the number stays too large for any size or handle.
        if (c >= '0' && c <= '9' && number <= UINT32_MAX) {
            number = number * 10 + static_cast<uint64_t>(c - '0');
        }
    }
    return number;
}

}  // namespace

int resizeBlob(MemoDescriptor& memo, uint64_t size) {
    if (size > kMaxBlobSize) return kUnsupportedFunction;
    if (size == 0) {
        memo.content.clear();
        memo.content.shrink_to_fit();
        return 0;
    }
    try {
        memo.content.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return kUnsupportedFunction;
    }
    return 0;
}

int assignBlob(MemoDescriptor& memo, std::span<const uint8_t> bytes) {
    if (int result = resizeBlob(memo, bytes.size()); result != 0) return result;
    std::copy(bytes.begin(), bytes.end(), memo.content.begin());
    memo.touched = true;
    return 0;
}

int blobSize(TableObject& table, uint32_t number, int32_t* size) {
    MemoDescriptor* memo = blobOf(table, number);
    if (memo == nullptr) return kUnsupportedFunction;
    *size = static_cast<int32_t>(memo->content.size());
    return 0;
}

int yieldBlob(TableObject& table, uint32_t number, uint32_t from, uint32_t to, std::string* bytes) {
    MemoDescriptor* memo = blobOf(table, number);
    if (memo == nullptr) return kUnsupportedFunction;
    memo->touched = true;
    bytes->clear();
    size_t size = memo->content.size();
    if (to < from || from >= size) return 0;
    size_t end = std::min<size_t>(size_t{to} + 1, size);
    bytes->assign(memo->content.begin() + from,
                  memo->content.begin() + static_cast<std::ptrdiff_t>(end));
    return 0;
}

int takeIntoBlob(TableObject& table, uint32_t number, uint32_t from, uint32_t to,
                 std::string_view value) {
    MemoDescriptor* memo = blobOf(table, number);
    if (memo == nullptr) return kUnsupportedFunction;
    if (to < from) return 0;
    uint64_t end = uint64_t{to} + 1;
    if (end > memo->content.size()) {
        if (int result = resizeBlob(*memo, end); result != 0) return result;
    }
    auto target = memo->content.begin() + from;
    size_t length = static_cast<size_t>(end - from);
    size_t taken = std::min(length, value.size());
    std::copy_n(value.begin(), taken, target);
    std::fill(target + static_cast<std::ptrdiff_t>(taken),
              target + static_cast<std::ptrdiff_t>(length), ' ');
    return 0;
}

std::optional<std::string> readBlobProperty(MemoDescriptor& memo, int32_t property) {
    switch (property) {
        case kTouchedProperty:
            return std::string(memo.touched ? "1" : "0");
        case kSizeProperty:
            return std::to_string(memo.content.size());
        case kHandleProperty:
            return fileLayer().handleOf(&memo.content, FileLayerServices::HandleKind::blob);
        default:
            return std::nullopt;
    }
}

int writeBlobProperty(MemoDescriptor& memo, int32_t property, std::string_view value) {
    uint64_t number = digitsOf(value);
    int result = 0;
    if (property == kSizeProperty || (property == kHandleProperty && number == 0)) {
        result = resizeBlob(memo, number);
    } else if (property == kHandleProperty) {
        auto* block = static_cast<std::vector<uint8_t>*>(fileLayer().objectOf(
            std::to_string(number), FileLayerServices::HandleKind::blob));
        if (block == nullptr) return kUnsupportedFunction;
        // The block may be this BLOB's own content.
        std::vector<uint8_t> bytes = *block;
        return assignBlob(memo, bytes);
    } else {
        return 0;
    }
    if (result == 0) memo.touched = true;
    return result;
}

void resetTouched(TableObject& table) {
    for (MemoDescriptor& memo : table.definition.memos) memo.touched = false;
}

}  // namespace vellum
