// Table objects: making one for a control block, building its descriptors, key prefixes.
#include "tablestore/table_object.h"

#include <algorithm>

namespace vellum {

TableObject::TableObject(FileControlBlock* declaration)
    : block(declaration), attributes(declaration != nullptr ? declaration->attributes : 0) {}

TableObject::~TableObject() { close(); }

int TableObject::buildDescriptors() {
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
