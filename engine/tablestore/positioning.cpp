// The SET and RESET operations, the sequential step, the position strings and REGETkey.
#include "tablestore/positioning.h"

#include <algorithm>
#include <span>

#include "pagestore/page_file.h"
#include "tablestore/key_value.h"
#include "tablestore/records.h"
#include "tablestore/table_object.h"
#include "vellum/byte_order.h"
#include "vellum/entry.h"
#include "vellum/error_codes.h"

namespace vellum {

namespace {

// The entries of one order: the tree they live in and the prefix every key of them begins with.
// A dynamic index that was never built has no tree, hence no entries. An entry a search finds
// outside the prefix counts as none. Entries found stay valid until the next operation on the
// tree.
struct EntryRange {
    PageFile* tree = nullptr;
    std::vector<uint8_t> prefix;

    bool holds(const Entry& entry) const {
        return entry.keyLength >= prefix.size() &&
               std::equal(prefix.begin(), prefix.end(), entry.bytes());
    }
    Entry* inside(Entry* entry) const {
        return entry != nullptr && holds(*entry) ? entry : nullptr;
    }
    Entry* exact(std::span<const uint8_t> key) const {
        return tree != nullptr ? inside(tree->findEntry(key)) : nullptr;
    }
    // The entry after (forward) or before (backward) a key, the key itself not included.
    Entry* beyond(std::span<const uint8_t> key, Direction direction) const {
        if (tree == nullptr) return nullptr;
        if (direction == Direction::backward) return inside(tree->findPreviousEntry(key));
        OwnedEntry probe(newEntry(key));
        return inside(tree->findNextEntry(probe.get()));
    }
    Entry* exactOrBeyond(std::span<const uint8_t> key, Direction direction) const {
        Entry* found = exact(key);
        return found != nullptr ? found : beyond(key, direction);
    }
    // The first (forward) or last (backward) entry. An entry may equal the prefix itself: that
    // of a key without components.
    Entry* end(Direction direction) const {
        if (direction == Direction::forward) return exactOrBeyond(prefix, direction);
        std::vector<uint8_t> above = prefix;
        ++above.back();  // type bytes are key numbers below 240 or 0xF3: no overflow
        return beyond(above, direction);
    }
};

EntryRange dataRange(const TableObject& table) {
    return {table.pageFile(), tableKey(table.tableNumber, kRecordTypeData)};
}

EntryRange keyRange(const TableObject& table, const KeyDescriptor& key) {
    return {table.keyTree(key), keyEntryPrefix(table.tableNumber, key)};
}

bool isDup(const KeyDescriptor& key) { return (key.attributes & kKeyDescriptorDup) != 0; }

// The key entry of a value: equal to it (not for DUP keys), else the next or previous entry,
// searched for DUP keys with record number 0 forward and all record-number bits set backward.
Entry* valueSearch(const EntryRange& range, const KeyDescriptor& key,
                   const std::vector<uint8_t>& entry, Direction direction) {
    if (!isDup(key)) return range.exactOrBeyond(entry, direction);
    std::vector<uint8_t> wanted = entry;
    wanted.resize(wanted.size() + 4, direction == Direction::forward ? 0x00 : 0xFF);
    return range.beyond(wanted, direction);
}

// The entry the next step in a direction looks at, as the position kind says; none when
// nothing lies that way.
Entry* findCandidate(const TableObject& table, Direction direction) {
    const PositionState& position = table.position;
    switch (position.kind) {
        case PositionKind::none:
            return nullptr;
        case PositionKind::fileStart:
            return dataRange(table).end(direction);
        case PositionKind::filePointer: {
            // A number with no record at it or beyond it reads the last record either way.
            EntryRange data = dataRange(table);
            Entry* found = data.exactOrBeyond(position.entry, direction);
            return found != nullptr ? found : data.end(Direction::backward);
        }
        case PositionKind::fileAtRecord:
            return dataRange(table).beyond(position.entry, direction);
        case PositionKind::fileKeyValue:
        case PositionKind::keyValue:
            return valueSearch(keyRange(table, *position.key), *position.key, position.entry,
                               direction);
        case PositionKind::keyStart:
            return keyRange(table, *position.key).end(direction);
        case PositionKind::keyValueAndPointer:
            return keyRange(table, *position.key).exactOrBeyond(position.entry, direction);
        case PositionKind::keyPointer: {
            Entry* record = dataRange(table).exact(position.entry);
            return record != nullptr ? record
                                     : keyRange(table, *position.key).end(Direction::backward);
        }
        case PositionKind::keyAtEntry:
            return keyRange(table, *position.key).beyond(position.entry, direction);
    }
    return nullptr;
}

// The key entry of a key for a stored data record, formed from its image with its number.
std::vector<uint8_t> keyEntryOfRecord(const TableObject& table, const KeyDescriptor& key,
                                      const Entry& record) {
    std::vector<uint8_t> image(table.definition.recordLength);
    loadImage(table, record, &image);
    std::vector<uint8_t> value;
    formKeyValue(key, table.definition, table.collation, image, &value);
    return keyEntryBytes(table.tableNumber, key, value, recordNumberOf(record)).key;
}

// Where a step that arrives at the candidate leaves the position. From a file key value the
// position goes to the record the key entry names; from a key pointer to the key entry of the
// record found (formed from its stored image, which a read copies into the record buffer and
// which SKIP, reading nothing, takes the same way); from every other kind to the candidate.
PositionState positionAt(const TableObject& table, const Entry& candidate) {
    const PositionState& position = table.position;
    std::vector<uint8_t> key(candidate.key().begin(), candidate.key().end());
    switch (position.kind) {
        case PositionKind::fileKeyValue:
            return {PositionKind::fileAtRecord, nullptr,
                    dataRecordKey(table.tableNumber, recordNumberOf(candidate))};
        case PositionKind::fileStart:
        case PositionKind::filePointer:
        case PositionKind::fileAtRecord:
            return {PositionKind::fileAtRecord, nullptr, std::move(key)};
        case PositionKind::keyPointer:
            if (dataRange(table).holds(candidate)) {
                key = keyEntryOfRecord(table, *position.key, candidate);
            }
            return {PositionKind::keyAtEntry, position.key, std::move(key)};
        default:
            return {PositionKind::keyAtEntry, position.key, std::move(key)};
    }
}

// One sequential step: finds the candidate, reads its record when asked and moves the position
// there. No candidate gives 33 and leaves the position. A key entry whose record is missing (35)
// still moves the position, and the step goes on from there. A record held elsewhere (43)
// leaves the position and the modifiers for a retry.
int step(TableObject& table, Direction direction, bool read) {
    for (;;) {
        Entry* candidate = findCandidate(table, direction);
        if (candidate == nullptr) {
            disarmModifiers(table);
            return kRecordNotAvailable;
        }
        PositionState next = positionAt(table, *candidate);
        if (read) {
            int result = fetchRecord(table, candidate);
            if (result == kRecordNotFound) {
                table.position = std::move(next);
                continue;
            }
            if (result != 0) return result;
        }
        table.position = std::move(next);
        disarmModifiers(table);
        return 0;
    }
}

std::vector<uint8_t> bufferValue(const TableObject& table, const KeyDescriptor& key) {
    std::vector<uint8_t> value;
    formKeyValue(key, table.definition, table.collation,
                 {table.block->recordBuffer, table.definition.recordLength}, &value);
    return value;
}

// The key entry prefix followed by the record buffer's value, without a record number.
std::vector<uint8_t> bufferValueEntry(const TableObject& table, const KeyDescriptor& key) {
    std::vector<uint8_t> entry = keyEntryPrefix(table.tableNumber, key);
    std::vector<uint8_t> value = bufferValue(table, key);
    entry.insert(entry.end(), value.begin(), value.end());
    return entry;
}

void place(TableObject& table, PositionKind kind, KeyDescriptor* current,
           const KeyDescriptor* searched, std::vector<uint8_t> entry) {
    table.position = {kind, searched, std::move(entry)};
    table.currentKey = current;
}

bool selectsStart(uint32_t pointer) { return static_cast<int32_t>(pointer) <= 0; }

std::string rawNumber(uint32_t number) {
    std::string raw(4, '\0');
    store32be(reinterpret_cast<uint8_t*>(raw.data()), number);
    return raw;
}

uint32_t numberOf(const std::string& position) {
    return load32be(reinterpret_cast<const uint8_t*>(position.data()));
}

std::span<const uint8_t> valueOf(const std::string& position) {
    return {reinterpret_cast<const uint8_t*>(position.data()) + 4, position.size() - 4};
}

}  // namespace

// Placing --------------------------------------------------------------------------------------

void setFile(TableObject& table) { place(table, PositionKind::fileStart, nullptr, nullptr, {}); }

void setFileByValue(TableObject& table, const KeyDescriptor& key) {
    place(table, PositionKind::fileKeyValue, nullptr, &key, bufferValueEntry(table, key));
}

void setFilePointer(TableObject& table, uint32_t pointer) {
    if (selectsStart(pointer)) return setFile(table);
    place(table, PositionKind::filePointer, nullptr, nullptr,
          dataRecordKey(table.tableNumber, pointer));
}

void setKey(TableObject& table, KeyDescriptor& key) {
    place(table, PositionKind::keyStart, &key, &key, {});
}

void setKeyByValue(TableObject& table, KeyDescriptor& key) {
    place(table, PositionKind::keyValue, &key, &key, bufferValueEntry(table, key));
}

void setKeyPointer(TableObject& table, KeyDescriptor& key, uint32_t pointer) {
    if (selectsStart(pointer)) return setKey(table, key);
    place(table, PositionKind::keyPointer, &key, &key, dataRecordKey(table.tableNumber, pointer));
}

void setKeyValueAndPointer(TableObject& table, KeyDescriptor& key, uint32_t pointer) {
    place(table, PositionKind::keyValueAndPointer, &key, &key,
          keyEntryBytes(table.tableNumber, key, bufferValue(table, key), pointer).key);
}

int resetFile(TableObject& table, const std::string& position) {
    if (position.size() < 4) return kRecordNotFound;
    place(table, PositionKind::filePointer, nullptr, nullptr,
          dataRecordKey(table.tableNumber, numberOf(position)));
    table.resetPosition = position;
    return 0;
}

int resetKey(TableObject& table, KeyDescriptor& key, const std::string& position) {
    if (position.size() < 4) return kRecordNotFound;
    place(table, PositionKind::keyValueAndPointer, &key, &key,
          keyEntryBytes(table.tableNumber, key, valueOf(position), numberOf(position)).key);
    table.resetPosition = position;
    return 0;
}

// Moving ---------------------------------------------------------------------------------------

int readSequential(TableObject& table, Direction direction) {
    return readWithRetry(table, [&] { return step(table, direction, true); });
}

void skipRecords(TableObject& table, int32_t count) {
    Direction direction = count < 0 ? Direction::backward : Direction::forward;
    int64_t places = count < 0 ? -int64_t{count} : int64_t{count};
    for (int64_t i = 0; i < places; ++i) {
        if (step(table, direction, false) != 0) break;
    }
}

bool atEnd(TableObject& table, Direction direction) {
    return findCandidate(table, direction) == nullptr;
}

// Position strings -----------------------------------------------------------------------------

std::string filePosition(const TableObject& table) { return rawNumber(table.currentRecord); }

std::string keyPosition(const TableObject& table, const KeyDescriptor& key) {
    std::vector<uint8_t> value;
    formKeyValue(key, table.definition, table.collation, table.savedImage, &value);
    std::string position = rawNumber(table.currentRecord);
    position.append(value.begin(), value.end());
    return position;
}

std::string currentPosition(const TableObject& table) {
    return table.currentKey != nullptr ? keyPosition(table, *table.currentKey)
                                       : filePosition(table);
}

int regetByKey(TableObject& table, const KeyDescriptor& key, const std::string& position) {
    if (position.size() < 4) return fetchRecord(table, nullptr);
    uint32_t number = numberOf(position);
    std::vector<uint8_t> wanted =
        keyEntryBytes(table.tableNumber, key, valueOf(position), number).key;
    return readWithRetry(table, [&] {
        Entry* found = keyRange(table, key).exact(wanted);
        bool matches = found != nullptr && recordNumberOf(*found) == number;
        return fetchRecord(table, matches ? found : nullptr);
    });
}

}  // namespace vellum
