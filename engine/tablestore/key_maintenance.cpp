// Key maintenance for ADD, APPEND, PUT and DELETE, and the reads and tests by key value.
#include "tablestore/key_maintenance.h"

#include <algorithm>
#include <optional>
#include <span>

#include "tablestore/count_records.h"
#include "tablestore/key_value.h"
#include "tablestore/records.h"
#include "tablestore/table_object.h"
#include "vellum/byte_order.h"
#include "vellum/error_codes.h"

namespace vellum {

namespace {

std::span<const uint8_t> recordOf(const TableObject& table, const uint8_t* image) {
    return {image, table.definition.recordLength};
}

// The key entry of an image, or none for no image or an image blank for an OPT key.
std::optional<KeyEntryBytes> entryOf(TableObject& table, const KeyDescriptor& key,
                                     const uint8_t* image, uint32_t r) {
    if (image == nullptr) return std::nullopt;
    std::span<const uint8_t> record = recordOf(table, image);
    if (isBlankForOpt(key, table.definition, record)) return std::nullopt;
    std::vector<uint8_t> value;
    formKeyValue(key, table.definition, table.collation, record, &value);
    return keyEntryBytes(table.tableNumber, key, value, r);
}

bool isDup(const KeyDescriptor& key) { return (key.attributes & kKeyDescriptorDup) != 0; }
bool isIndex(const KeyDescriptor& key) { return (key.attributes & kKeyDescriptorIndex) != 0; }

// A point of 0 stands for "complete" and counts as higher than any record number.
bool isBelowPoint(uint32_t r, uint32_t point) { return point == 0 || r < point; }

// The key of the record buffer's entry: the value alone for a unique key, the value and record
// number 0 for a DUP key.
std::vector<uint8_t> bufferEntryKey(TableObject& table, const KeyDescriptor& key) {
    std::vector<uint8_t> value;
    formKeyValue(key, table.definition, table.collation,
                 recordOf(table, table.block->recordBuffer), &value);
    return keyEntryBytes(table.tableNumber, key, value, 0u).key;
}

}  // namespace

uint32_t rebuildPoint(TableObject& table, const KeyDescriptor& key) {
    CountValues values;
    if (key.attributes & kKeyDescriptorDynamic) {
        PageFile* tree = table.keyTree(key);
        if (tree != nullptr) {
            readCounts(*tree, table.tableNumber, static_cast<uint8_t>(key.number), &values);
        }
    } else {
        readCounts(table, static_cast<uint8_t>(key.number), &values);
    }
    return values.second;
}

int maintainKeys(TableObject& table, const uint8_t* newImage, const uint8_t* oldImage, uint32_t r,
                 bool append, size_t keyCount) {
    PageFile& file = *table.pageFile();
    for (size_t k = 0; k < keyCount && k < table.definition.keys.size(); ++k) {
        const KeyDescriptor& key = *table.definition.keys[k];
        if (key.attributes & kKeyDescriptorDynamic) continue;
        auto selector = static_cast<uint8_t>(key.number);
        bool marksOnly = isIndex(key) || append;
        uint32_t point = 0;
        if (marksOnly) {
            point = rebuildPoint(table, key);
            if (point != 0 && r >= point) continue;
        }
        std::optional<KeyEntryBytes> before = entryOf(table, key, oldImage, r);
        std::optional<KeyEntryBytes> after = entryOf(table, key, newImage, r);
        if (before && after && before->key == after->key) continue;
        if (!before && !after) continue;
        if (marksOnly) {
            if (isBelowPoint(r, point)) setSecondValue(file, table.tableNumber, selector, r);
            continue;
        }
        int64_t change = 0;
        if (after) {
            if (!isDup(key) && file.findEntry(after->key) != nullptr) {
                maintainKeys(table, oldImage, newImage, r, append, k);
                return kCreatesDuplicateKey;
            }
            file.insertEntry(newEntry(after->key, after->data));
            ++change;
        }
        if (before) {
            Entry* existing = file.findEntry(before->key);
            if (existing != nullptr && recordNumberOf(*existing) == r) {
                file.removeEntry(existing);
                --change;
            }
        }
        if (change != 0) changeEntryCount(table, selector, change);
    }
    return 0;
}

int getByKey(TableObject& table, const KeyDescriptor& key) {
    return readWithRetry(table, [&]() -> int {
        PageFile* tree = table.keyTree(key);
        if (tree == nullptr) return fetchRecord(table, nullptr);
        std::vector<uint8_t> wanted = bufferEntryKey(table, key);
        if (!isDup(key)) return fetchRecord(table, tree->findEntry(wanted));
        // A DUP key: the first entry after the value with record number 0.
        OwnedEntry probe(newEntry(wanted));
        const Entry* next = tree->findNextEntry(probe.get());
        bool matches = next != nullptr && next->keyLength == wanted.size() &&
                       std::equal(wanted.begin(), wanted.end() - 4, next->bytes());
        return fetchRecord(table, matches ? next : nullptr);
    });
}

void duplicateKey(TableObject& table, const KeyDescriptor& key, bool excludeCurrent, int32_t* out) {
    if (isDup(key)) return;
    if (isBlankForOpt(key, table.definition, recordOf(table, table.block->recordBuffer))) return;
    PageFile* tree = table.keyTree(key);
    const Entry* existing = tree != nullptr ? tree->findEntry(bufferEntryKey(table, key)) : nullptr;
    if (existing == nullptr) {
        *out = 0;
        return;
    }
    *out = excludeCurrent && recordNumberOf(*existing) == table.currentRecord ? 0 : 1;
}

int32_t duplicateAny(TableObject& table, bool excludeCurrent) {
    int32_t found = 0;
    for (const auto& key : table.definition.keys) {
        duplicateKey(table, *key, excludeCurrent, &found);
        if (found == 1) break;
    }
    return found;
}

uint32_t keyEntryCount(TableObject& table, const KeyDescriptor& key) {
    CountValues values;
    if (PageFile* tree = table.keyTree(key)) {
        readCounts(*tree, table.tableNumber, static_cast<uint8_t>(key.number), &values);
    }
    return values.count;
}

}  // namespace vellum
