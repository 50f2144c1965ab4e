// The record operations, the record count, clearing the record buffer and the flush policy.
#include "tablestore/records.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "os/file_system.h"
#include "pagestore/entry_cursor.h"
#include "tablestore/blob_content.h"
#include "tablestore/count_records.h"
#include "tablestore/key_maintenance.h"
#include "tablestore/memo_chunks.h"
#include "tablestore/state_word.h"
#include "tablestore/table_object.h"
#include "vellum/byte_order.h"
#include "vellum/error_codes.h"
#include "vellum/file_layer_services.h"

namespace vellum {

namespace {

// How long a read waiting for a held record sleeps between attempts.
constexpr unsigned kHoldRetryMilliseconds = 10;

Entry* findDataRecord(TableObject& table, uint32_t number) {
    return table.pageFile()->findEntry(dataRecordKey(table.tableNumber, number));
}

}  // namespace

void loadImage(const TableObject& table, const Entry& stored, std::vector<uint8_t>* out) {
    std::span<const uint8_t> data = stored.data();
    size_t length = std::min(out->size(), data.size());
    std::copy_n(data.begin(), length, out->begin());
    std::fill(out->begin() + static_cast<std::ptrdiff_t>(length), out->end(), 0);
    convertStrings(table, *out, false);
}

namespace {

std::span<uint8_t> recordBuffer(TableObject& table) {
    return {table.block->recordBuffer, table.definition.recordLength};
}

// A new data record entry holding the record buffer in its stored form.
Entry* newDataRecord(TableObject& table, uint32_t number) {
    std::vector<uint8_t> image(recordBuffer(table).begin(), recordBuffer(table).end());
    convertStrings(table, image, true);
    return newEntry(dataRecordKey(table.tableNumber, number), image);
}

// Forgets the current record after releasing it (step one of every read).
void leaveCurrentRecord(TableObject& table) {
    releaseRecord(table);
    table.watched = false;
    table.memosNotRead = false;
    table.currentRecord = 0;
}

}  // namespace

std::vector<uint8_t> dataRecordKey(const TableNumber& table, uint32_t number) {
    std::vector<uint8_t> key = tableKey(table, kRecordTypeData);
    key.resize(9);
    store32be(key.data() + 5, number);
    return key;
}

uint32_t recordNumberOf(const Entry& entry) {
    size_t dataLength = entry.totalLength - entry.keyLength;
    bool dataRecord = entry.keyLength > 4 && entry.bytes()[4] == kRecordTypeData;
    if (!dataRecord && dataLength >= 4) return load32be(entry.bytes() + entry.keyLength);
    return entry.keyLength >= 4 ? load32be(entry.bytes() + entry.keyLength - 4) : 0;
}

void convertStrings(const TableObject& table, std::span<uint8_t> image, bool toOem) {
    if (!table.collation.oem) return;
    auto convert = [toOem](std::span<uint8_t> bytes) {
        if (bytes.empty()) return;
        if (toOem) {
            fileLayer().ansiToOem(bytes);
        } else {
            fileLayer().oemToAnsi(bytes);
        }
    };
    for (const FieldDescriptor& field : table.definition.fields) {
        if (field.over || field.size == 0) continue;
        if (field.offset > image.size() || field.size > image.size() - field.offset) continue;
        std::span<uint8_t> storage = image.subspan(field.offset, field.size);
        switch (field.type) {
            case kString:
                convert(storage);
                break;
            case kCString: {
                auto zero = std::find(storage.begin(), storage.end(), uint8_t{0});
                convert(storage.first(static_cast<size_t>(zero - storage.begin())));
                break;
            }
            case kPString: {
                // The length byte itself is never converted.
                size_t used = std::min<size_t>(storage[0], storage.size() - 1);
                convert(storage.subspan(1, used));
                break;
            }
            default:
                break;
        }
    }
}

// Reading ----------------------------------------------------------------------------------

void disarmModifiers(TableObject& table) {
    table.holdArmed = false;
    table.watchArmed = false;
    table.noMemoArmed = false;
}

void armHold(TableObject& table, int32_t seconds) {
    table.holdArmed = true;
    table.holdTimeout = seconds;
}

void releaseRecord(TableObject& table) {
    if (!table.holding) return;
    if (PageFile* file = table.pageFile(); file == nullptr || file->unlockUser(table.currentRecord) == 1) {
        table.holding = false;
    }
}

int fetchRecord(TableObject& table, const Entry* entry) {
    // The number is taken before anything else reaches the cache, which may drop the entry.
    uint32_t number = 0;
    bool dataRecord = false;
    if (entry != nullptr) {
        number = recordNumberOf(*entry);
        dataRecord = entry->keyLength > 4 && entry->bytes()[4] == kRecordTypeData &&
                     std::equal(table.tableNumber.begin(), table.tableNumber.end(), entry->bytes());
    }
    leaveCurrentRecord(table);
    if (entry == nullptr) {
        disarmModifiers(table);
        return kRecordNotFound;
    }
    const Entry* stored = dataRecord ? entry : findDataRecord(table, number);
    if (stored == nullptr) {
        disarmModifiers(table);
        return kRecordNotFound;
    }
    if (table.holdArmed) {
        if (table.pageFile()->lockUser(&table.trace, number) != 0) {
            flushAfterOperation(table);
            return kRecordAlreadyHeld;
        }
        table.holding = true;
    }
    std::vector<uint8_t> image(table.definition.recordLength);
    loadImage(table, *stored, &image);
    std::copy(image.begin(), image.end(), table.block->recordBuffer);
    table.savedImage = image;
    table.currentRecord = number;
    if (table.watchArmed) {
        table.watched = true;
        prepareComparison(table);
    }
    if (table.noMemoArmed) {
        table.memosNotRead = true;
    } else if (!table.definition.memos.empty()) {
        readMemos(table, number);
    }
    disarmModifiers(table);
    return 0;
}

int readWithRetry(TableObject& table, const std::function<int()>& attempt) {
    uint32_t start = os::clockHundredths();
    for (;;) {
        int result = attempt();
        if (result != kRecordAlreadyHeld) return result;
        bool open = table.holdTimeout < 0 ||
                    os::clockHundredths() - start <= 100u * static_cast<uint32_t>(table.holdTimeout);
        if (!open) {
            disarmModifiers(table);
            return kRecordAlreadyHeld;
        }
        os::sleepMilliseconds(kHoldRetryMilliseconds);
    }
}

int getRecord(TableObject& table, uint32_t number) {
    return readWithRetry(table, [&] { return fetchRecord(table, findDataRecord(table, number)); });
}

int regetRecord(TableObject& table, const std::string& position) {
    if (position.size() < 4) {
        leaveCurrentRecord(table);
        disarmModifiers(table);
        return kRecordNotFound;
    }
    return getRecord(table, load32be(reinterpret_cast<const uint8_t*>(position.data())));
}

// Changing ---------------------------------------------------------------------------------

int addRecord(TableObject& table, bool append) {
    PageFile& file = *table.pageFile();
    file.beginWrite();
    uint32_t number = load32be(file.nextRecordNumber().data());
    if (int result = maintainKeys(table, recordBuffer(table).data(), nullptr, number, append,
                                  table.definition.keys.size());
        result != 0) {
        return result;
    }
    leaveCurrentRecord(table);
    table.savedImage.assign(recordBuffer(table).begin(), recordBuffer(table).end());
    // A record number one above the last one inserted through the cursor belongs right after
    // it: nobody can have taken a number in between. Otherwise the cursor searches afresh.
    if (table.lastInserted == 0 || number != table.lastInserted + 1) table.insertCursor->clear();
    table.insertCursor->insertHere(newDataRecord(table, number));
    table.lastInserted = number;
    table.currentRecord = number;
    if (!changeEntryCount(table, kRecordTypeData, 1)) return kAccessDenied;
    writeMemos(table, number);
    return 0;
}

int putRecord(TableObject& table) {
    PageFile& file = *table.pageFile();
    file.beginWrite();
    if (table.currentRecord == 0) return kRecordNotAvailable;
    uint32_t number = table.currentRecord;
    if (!table.holding && file.lockUser(&table.trace, number) != 0) return kAccessDenied;
    int result = 0;
    EntryCursor cursor(&file);
    cursor.set(newEntry(dataRecordKey(table.tableNumber, number)), false);
    Entry* stored = cursor.fetch();
    std::span<uint8_t> buffer = recordBuffer(table);
    if (stored == nullptr) {
        result = kRecordNotAvailable;
    } else {
        loadImage(table, *stored, &table.workImage);
        if (table.watched && (table.workImage != table.savedImage ||
                              (!table.memosNotRead && memosChanged(table, number)))) {
            result = kRecordChangedByAnotherStation;
        }
    }
    if (result == 0 && !std::equal(buffer.begin(), buffer.end(), table.workImage.begin())) {
        result = maintainKeys(table, buffer.data(), table.workImage.data(), number, false,
                              table.definition.keys.size());
        if (result == 0) {
            table.savedImage.assign(buffer.begin(), buffer.end());
            stored = cursor.fetch();
            if (stored != nullptr && stored->data().size() == buffer.size()) {
                // Same length: the image is overwritten in place.
                std::copy(buffer.begin(), buffer.end(), stored->bytes() + stored->keyLength);
                convertStrings(table, {stored->bytes() + stored->keyLength, buffer.size()}, true);
                cursor.markChanged();
            } else {
                cursor.clear();
                file.removeEntry(findDataRecord(table, number));
                file.insertEntry(newDataRecord(table, number));
            }
        }
    }
    cursor.clear();
    if (result == 0 && !table.memosNotRead) rewriteMemos(table, number);
    // The change is committed while the record is still locked, so that nobody reads it half
    // way.
    if (result == 0) result = flushAfterOperation(table);
    if (file.unlockUser(number) == 1) table.holding = false;
    table.watched = false;
    return result;
}

int putRecordAt(TableObject& table, uint32_t number) {
    table.currentRecord = number;
    return putRecord(table);
}

int deleteRecord(TableObject& table) {
    PageFile& file = *table.pageFile();
    file.beginWrite();
    if (table.currentRecord == 0) return kRecordNotAvailable;
    uint32_t number = table.currentRecord;
    if (!table.holding) {
        if (file.lockUser(&table.trace, number) != 0) return kRecordNotAvailable;
        table.holding = true;
    }
    Entry* stored = findDataRecord(table, number);
    if (stored == nullptr) {
        releaseRecord(table);
        return kRecordNotAvailable;
    }
    loadImage(table, *stored, &table.savedImage);
    file.removeEntry(stored);
    maintainKeys(table, nullptr, table.savedImage.data(), number, false,
                 table.definition.keys.size());
    changeEntryCount(table, kRecordTypeData, -1);
    deleteMemos(table, number);
    leaveCurrentRecord(table);
    return 0;
}

// Counts -----------------------------------------------------------------------------------

int recordCount(TableObject& table, uint32_t* count) {
    PageFile* file = table.pageFile();
    if (file == nullptr) return kFileNotOpen;
    CountValues values;
    if (!readCounts(table, kRecordTypeData, &values)) return kAccessDenied;
    *count = values.count;
    return 0;
}

int fileBytes(TableObject& table, uint32_t* size) {
    PageFile* file = table.pageFile();
    if (!table.isOpen() || file == nullptr) return kFileNotOpen;
    *size = file->size();
    return 0;
}

int flushAfterOperation(TableObject& table) {
    constexpr unsigned kMaxDirtyPages = 40;
    constexpr unsigned kMaxDeferred = 5000;
    PageFile* file = table.pageFile();
    if (!table.isOpen() || file == nullptr) return 0;
    bool deferStream = (table.stateWord & kStateStream) != 0 &&
                       file->dirtyCount() < kMaxDirtyPages && table.deferredFlushes < kMaxDeferred;
    if (deferStream || (table.stateWord & kStateEventBuild) != 0) {
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
        if (memo.flags & kMemoBlob) {
            // Blank filling empties a BLOB, as setting its size to 0 does.
            if (fill == 0) {
                resizeBlob(memo, 0);
                memo.touched = true;
            }
            continue;
        }
        uint8_t value = fill == 0 ? ((memo.flags & kMemoBinary) ? 0x00 : ' ')
                                  : (fill > 0 ? 0xFF : 0x00);
        std::fill(memo.buffer.begin(), memo.buffer.end(), value);
    }
}

}  // namespace vellum
