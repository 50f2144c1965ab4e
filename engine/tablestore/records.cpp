// The record count and clearing the record buffer.
#include "tablestore/records.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "tablestore/table_object.h"
#include "vellum/byte_order.h"
#include "vellum/error_codes.h"

namespace vellum {

int recordCount(TableObject& table, uint32_t* count) {
    PageFile* file = table.pageFile();
    if (file == nullptr) return kFileNotOpen;
    std::vector<uint8_t> key = tableKey(table.tableNumber, kRecordTypeCount);
    key.push_back(kRecordTypeData);
    Entry* record = file->header().changeCounter() == 0 ? nullptr : file->findEntry(key);
    if (record == nullptr || record->totalLength - record->keyLength < 8) return kAccessDenied;
    *count = load32le(record->data().data());
    return 0;
}

int flushAfterOperation(TableObject& table) {
    // State-word bits of the driver entry that decide the policy.
    constexpr uint32_t kStreaming = 0x0008;
    constexpr uint32_t kEventBuild = 0x4000;
    constexpr unsigned kMaxDirtyPages = 40;
    constexpr unsigned kMaxDeferred = 5000;
    PageFile* file = table.pageFile();
    if (!table.isOpen() || file == nullptr) return 0;
    bool deferStream = (table.stateWord & kStreaming) != 0 &&
                       file->dirtyCount() < kMaxDirtyPages && table.deferredFlushes < kMaxDeferred;
    if (deferStream || (table.stateWord & kEventBuild) != 0) {
        ++table.deferredFlushes;
        return 0;
    }
    table.deferredFlushes = 0;
    int result = file->commit();
    file->endWrite();
    return result;
}

namespace {

template <typename T>
void fillNumber(uint8_t* at, uint32_t elements, int32_t fill) {
    T value = fill == 0 ? T{} : (fill > 0 ? std::numeric_limits<T>::max()
                                          : std::numeric_limits<T>::lowest());
    for (uint32_t i = 0; i < elements; ++i) std::memcpy(at + i * sizeof(T), &value, sizeof(T));
}

void clearField(const FieldDescriptor& field, uint8_t* at, int32_t fill) {
    uint32_t elementSize = field.elementCount != 0 ? field.size / field.elementCount : field.size;
    switch (field.type) {
        case kByte: fillNumber<uint8_t>(at, field.elementCount, fill); break;
        case kShort: fillNumber<int16_t>(at, field.elementCount, fill); break;
        case kUShort: fillNumber<uint16_t>(at, field.elementCount, fill); break;
        case kDate: case kTime: case kLong: fillNumber<int32_t>(at, field.elementCount, fill); break;
        case kULong: fillNumber<uint32_t>(at, field.elementCount, fill); break;
        case kSReal: fillNumber<float>(at, field.elementCount, fill); break;
        case kReal: fillNumber<double>(at, field.elementCount, fill); break;
        case kDecimal:
            // Packed decimal: the high half of the first byte marks a negative number.
            for (uint32_t i = 0; i < field.elementCount; ++i) {
                uint8_t* element = at + i * elementSize;
                std::memset(element, fill == 0 ? 0x00 : 0x99, elementSize);
                if (fill != 0 && elementSize > 0) element[0] = fill > 0 ? 0x09 : 0xF9;
            }
            break;
        case kString:
            std::memset(at, fill == 0 ? ' ' : (fill > 0 ? 0xFF : 0x00), field.size);
            break;
        case kCString:
        case kPString:
            std::memset(at, fill > 0 ? 0xFF : 0x00, field.size);
            if (fill > 0 && field.type == kPString) {
                for (uint32_t i = 0; i < field.elementCount; ++i) {
                    at[i * elementSize] = static_cast<uint8_t>(std::min<uint32_t>(elementSize - 1, 255));
                }
            }
            if (fill > 0 && field.type == kCString) {
                for (uint32_t i = 0; i < field.elementCount; ++i) at[(i + 1) * elementSize - 1] = 0;
            }
            break;
        default:
            break;
    }
}

}  // namespace

void clearRecord(TableObject& table, int32_t fill) {
    uint8_t* buffer = table.block != nullptr ? table.block->recordBuffer : nullptr;
    uint32_t length = table.block != nullptr ? table.block->recordLength : 0;
    if (buffer != nullptr) {
        for (const FieldDescriptor& field : table.definition.fields) {
            if (field.type == kGroup || field.over) continue;
            if (field.offset > length || field.size > length - field.offset) continue;
            clearField(field, buffer + field.offset, fill);
        }
    }
    for (MemoDescriptor& memo : table.definition.memos) {
        if (memo.flags & kMemoBlob) continue;
        uint8_t value = fill == 0 ? ((memo.flags & kMemoBinary) ? 0x00 : ' ')
                                  : (fill > 0 ? 0xFF : 0x00);
        std::fill(memo.buffer.begin(), memo.buffer.end(), value);
    }
}

}  // namespace vellum
