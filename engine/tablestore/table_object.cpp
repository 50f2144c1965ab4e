// Table objects: making one for a control block, building its descriptors, key prefixes.
#include "tablestore/table_object.h"

#include <algorithm>

#include "tablestore/count_records.h"

namespace vellum {

TableObject::TableObject(FileControlBlock* declaration)
    : block(declaration), attributes(declaration != nullptr ? declaration->attributes : 0) {}

TableObject::~TableObject() { close(); }

int TableObject::buildDescriptors() {
    // The key descriptors go: nothing may keep naming one.
    forgetPosition();
    lastKey = nullptr;
    lastOperation = 0;
    definition = TableDefinition();
    attributes = block->attributes;
    return buildDefinition(*block, this, &definition);
}

PageFile* TableObject::keyTree(const KeyDescriptor& key) const {
    if (key.attributes & kKeyDescriptorDynamic) {
        return key.number < privateTrees.size() ? privateTrees[key.number].get() : nullptr;
    }
    return pageFile();
}

Entry* TableObject::countRecord(uint8_t selector) {
    constexpr int kCountDataLength = 8;
    PageFile* file = pageFile();
    if (file == nullptr) return nullptr;
    std::unique_ptr<EntryCursor>& cursor = countCursors[selector];
    if (cursor == nullptr) cursor = std::make_unique<EntryCursor>(file);
    Entry* entry = cursor->fetch();
    if (entry == nullptr) {
        // A cursor whose record was removed (EMPTY, say) stands on nothing: search again.
        cursor->set(newEntry(countRecordKey(tableNumber, selector)), false);
        entry = cursor->fetch();
    }
    if (entry == nullptr || entry->totalLength - entry->keyLength < kCountDataLength) return nullptr;
    return entry;
}

void TableObject::resetRecordState() {
    currentRecord = 0;
    holding = false;
    holdArmed = false;
    holdTimeout = -1;
    watchArmed = false;
    watched = false;
    noMemoArmed = false;
    memosNotRead = false;
    lastInserted = 0;
}

void TableObject::forgetPosition() {
    position = PositionState();
    currentKey = nullptr;
}

std::vector<uint8_t> tableKey(const TableNumber& table, uint8_t type) {
    return {table[0], table[1], table[2], table[3], type};
}

std::vector<uint8_t> tableNameKey(const std::string& name) {
    std::vector<uint8_t> key(name.size() + 1);
    key[0] = kTableNameRecord;
    std::copy(name.begin(), name.end(), key.begin() + 1);
    return key;
}

}  // namespace vellum
