// Reading and changing count records in place.
#include "tablestore/count_records.h"

#include "pagestore/entry_cursor.h"
#include "pagestore/page_file.h"
#include "tablestore/table_object.h"
#include "vellum/byte_order.h"

namespace vellum {

namespace {

constexpr int kCountDataLength = 8;

// A count record through a cursor, so that its data can be changed in place.
Entry* attachCount(EntryCursor& cursor, const TableNumber& table, uint8_t selector) {
    cursor.set(newEntry(countRecordKey(table, selector)), false);
    Entry* entry = cursor.fetch();
    if (entry == nullptr || entry->totalLength - entry->keyLength < kCountDataLength) return nullptr;
    return entry;
}

}  // namespace

std::vector<uint8_t> countRecordKey(const TableNumber& table, uint8_t selector) {
    std::vector<uint8_t> key = tableKey(table, kRecordTypeCount);
    key.push_back(selector);
    return key;
}

bool readCounts(PageFile& tree, const TableNumber& table, uint8_t selector, CountValues* out) {
    if (tree.isOpened() && tree.header().changeCounter() == 0) return false;
    Entry* entry = tree.findEntry(countRecordKey(table, selector));
    if (entry == nullptr || entry->totalLength - entry->keyLength < kCountDataLength) return false;
    out->count = load32le(entry->data().data());
    out->second = load32le(entry->data().data() + 4);
    return true;
}

bool readCounts(TableObject& table, uint8_t selector, CountValues* out) {
    Entry* entry = table.countRecord(selector);
    if (entry == nullptr) return false;
    out->count = load32le(entry->data().data());
    out->second = load32le(entry->data().data() + 4);
    return true;
}

bool changeEntryCount(TableObject& table, uint8_t selector, int64_t delta) {
    Entry* entry = table.countRecord(selector);
    if (entry == nullptr) return false;
    uint8_t* data = entry->bytes() + entry->keyLength;
    store32le(data, static_cast<uint32_t>(load32le(data) + delta));
    table.countCursors[selector]->markChanged();
    return true;
}

void writeCounts(PageFile& tree, const TableNumber& table, uint8_t selector,
                 const CountValues& values) {
    EntryCursor cursor(&tree);
    Entry* entry = attachCount(cursor, table, selector);
    if (entry == nullptr) {
        if (Entry* damaged = tree.findEntry(countRecordKey(table, selector))) tree.removeEntry(damaged);
        uint8_t data[kCountDataLength];
        store32le(data, values.count);
        store32le(data + 4, values.second);
        tree.insertEntry(newEntry(countRecordKey(table, selector), data));
        return;
    }
    uint8_t* data = entry->bytes() + entry->keyLength;
    store32le(data, values.count);
    store32le(data + 4, values.second);
    cursor.markChanged();
}

void setSecondValue(PageFile& tree, const TableNumber& table, uint8_t selector, uint32_t value) {
    CountValues values;
    readCounts(tree, table, selector, &values);
    values.second = value;
    writeCounts(tree, table, selector, values);
}

}  // namespace vellum
