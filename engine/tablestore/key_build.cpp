// BUILD of keys: the start point and kept entries of a key, the scan of the records into the
// sort, the insertion of the sorted items, and the key's counts; BUILDfile and PACK; the
// components and filter of a dynamic index.
#include "tablestore/key_build.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <span>
#include <vector>

#include "pagestore/open_mode.h"
#include "pagestore/page_file.h"
#include "tablestore/collation.h"
#include "tablestore/count_records.h"
#include "tablestore/key_value.h"
#include "tablestore/records.h"
#include "tablestore/table_object.h"
#include "vellum/byte_order.h"
#include "vellum/entry.h"
#include "vellum/error_codes.h"
#include "vellum/file_layer_services.h"
#include "vellum/filter_expression.h"

namespace vellum {

namespace {

constexpr int kBuildOpenMode = 0x22;  // reading and writing, others denied writing
constexpr int kReadWriteAccess = 2;
constexpr unsigned kCommitDirtyPages = 400;
constexpr size_t kRecordNumberSize = 4;

bool isDynamic(const KeyDescriptor& key) {
    return (key.attributes & kKeyDescriptorDynamic) != 0;
}
bool isDup(const KeyDescriptor& key) {
    return (key.attributes & kKeyDescriptorDup) != 0;
}
bool isIndex(const KeyDescriptor& key) {
    return (key.attributes & kKeyDescriptorIndex) != 0;
}
uint8_t selectorOf(const KeyDescriptor& key) {
    return static_cast<uint8_t>(key.number);
}

// The lower of two rebuild points; a point of 0 (complete) counts as higher than any record.
uint32_t lowerPoint(uint32_t a, uint32_t b) {
    if (a == 0) return b;
    if (b == 0) return a;
    return std::min(a, b);
}

bool hasPrefix(const Entry* entry, std::span<const uint8_t> prefix) {
    return entry != nullptr && entry->keyLength >= prefix.size() &&
           std::memcmp(entry->bytes(), prefix.data(), prefix.size()) == 0;
}

// The first entry whose key is above key.
Entry* entryAfter(PageFile& tree, std::span<const uint8_t> key) {
    OwnedEntry probe(newEntry(key));
    return tree.findNextEntry(probe.get());
}

// The build state of one key.
struct KeyPass {
    TableObject& table;
    const KeyDescriptor& key;
    BuildServices& services;
    CompiledFilter* filter;
    unsigned place;  // this key's place among the keys the operation builds, from 1
    unsigned keys;   // how many keys the operation builds
    PageFile* tree = nullptr;
    uint32_t start = 0;      // S: the first record number of the pass
    uint32_t kept = 0;       // K: the key's entries
    uint32_t duplicate = 0;  // D: the lowest record number that met a duplicate, 0 for none
    uint32_t toScan = 0;
    uint32_t scanned = 0;
};

void writeKeyCounts(KeyPass& pass, uint32_t rebuildPoint) {
    CountValues values;
    values.count = pass.kept;
    values.second = isDynamic(pass.key) ? 0 : rebuildPoint;
    writeCounts(*pass.tree, pass.table.tableNumber, selectorOf(pass.key), values);
}

// A private tree is never committed: the commit of a memory-only tree discards its pages, which
// would empty the index.
int commitKeyTree(KeyPass& pass) {
    return isDynamic(pass.key) ? 0 : pass.tree->commit();
}

// Deletes the key's entries that carry record number from or higher; the number left.
uint32_t removeEntriesFrom(PageFile& tree, const std::vector<uint8_t>& prefix, uint32_t from) {
    uint32_t left = 0;
    std::vector<uint8_t> position = prefix;
    for (Entry* entry = entryAfter(tree, position); hasPrefix(entry, prefix);
         entry = entryAfter(tree, position)) {
        position.assign(entry->key().begin(), entry->key().end());
        if (recordNumberOf(*entry) >= from) {
            tree.removeEntry(entry);
        } else {
            ++left;
        }
    }
    return left;
}

// The start point and the kept entries; false when the key is complete.
bool preparePass(KeyPass& pass) {
    TableObject& table = pass.table;
    if (isDynamic(pass.key)) {
        auto tree = std::make_unique<PageFile>();
        writeCounts(*tree, table.tableNumber, selectorOf(pass.key), CountValues{});
        if (table.privateTrees.size() <= pass.key.number) {
            table.privateTrees.resize(pass.key.number + 1);
        }
        table.privateTrees[pass.key.number] = std::move(tree);
        pass.tree = table.privateTrees[pass.key.number].get();
        pass.start = 1;
        return true;
    }
    pass.tree = table.pageFile();
    CountValues counts;
    readCounts(*pass.tree, table.tableNumber, selectorOf(pass.key), &counts);
    pass.start = table.fullBuild ? 1 : counts.second;
    if (pass.start == 0) return false;
    // The entries of a KEY from S on were never written (APPEND only marks it); an INDEX, and any
    // key rebuilt in full, loses them here.
    pass.kept =
        isIndex(pass.key) || table.fullBuild
            ? removeEntriesFrom(*pass.tree, keyEntryPrefix(table.tableNumber, pass.key), pass.start)
            : counts.count;
    return true;
}

uint32_t buildPercent(const KeyPass& pass) {
    uint64_t percent = uint64_t{pass.place - 1} * 100 / pass.keys;
    if (pass.keys <= 100 && pass.toScan != 0) {
        percent += uint64_t{100} * pass.scanned / (uint64_t{pass.toScan} * pass.keys);
    }
    return static_cast<uint32_t>(percent);
}

// The sort's error, posted with its reason as the extended error.
int sortFailed(BuildSort& sort, int code) {
    fileLayer().postDriverError(std::to_string(code), sort.failureMessage());
    return code;
}

// The items of the records from S on into the sort, with the progress steps; 0, 93 when the
// user cancelled, or the sort's error.
int scanRecords(KeyPass& pass, BuildSort& sort) {
    TableObject& table = pass.table;
    PageFile& file = *table.pageFile();
    const TableDefinition& definition = table.definition;
    CountValues records;
    readCounts(file, table.tableNumber, kRecordTypeData, &records);
    pass.toScan = records.count;
    // A progress step follows the k-th record when (-k) AND M is 0.
    uint32_t stepMask = 256 * (table.progressInterval - 1) + 127;
    std::vector<uint8_t> prefix = tableKey(table.tableNumber, kRecordTypeData);
    std::vector<uint8_t> position = dataRecordKey(table.tableNumber, pass.start);
    std::vector<uint8_t> image(definition.recordLength);
    std::vector<uint8_t> item;
    Entry* stored = file.findEntry(position);
    if (stored == nullptr) stored = entryAfter(file, position);
    for (; hasPrefix(stored, prefix); stored = entryAfter(file, position)) {
        position.assign(stored->key().begin(), stored->key().end());
        uint32_t number = recordNumberOf(*stored);
        if (!isBlankForOpt(pass.key, definition, stored->data())) {
            loadImage(table, *stored, &image);
            if (table.block != nullptr && table.block->recordBuffer != nullptr) {
                std::copy_n(image.begin(),
                            std::min<size_t>(image.size(), table.block->recordLength),
                            table.block->recordBuffer);
            }
            if (pass.filter == nullptr || pass.filter->evaluate(image) != 1) {
                formKeyValue(pass.key, definition, table.collation, image, &item);
                item.resize(item.size() + kRecordNumberSize);
                store32be(item.data() + item.size() - kRecordNumberSize, number);
                if (int result = sort.insert(item.data()); result != 0) {
                    return sortFailed(sort, result);
                }
            }
        }
        ++pass.scanned;
        if (((0u - pass.scanned) & stepMask) == 0) {
            table.buildPercent = buildPercent(pass);
            table.buildKey = pass.key.number;
            if (pass.services.progressCancels()) return kBuildCancelled;
        }
    }
    return 0;
}

// The sorted items as key entries; 0, the sort's error or a commit's.
int insertSorted(KeyPass& pass, BuildSort& sort, size_t valueLength) {
    PageFile& tree = *pass.tree;
    // Only a DUP INDEX has lost every entry the items can give; other keys may hold some already.
    bool searchFirst = !(isDup(pass.key) && isIndex(pass.key));
    for (;;) {
        const uint8_t* item = nullptr;
        if (int result = sort.next(&item); result != 0) return sortFailed(sort, result);
        if (item == nullptr) return 0;
        RawRecordNumber number;
        std::copy_n(item + valueLength, kRecordNumberSize, number.begin());
        KeyEntryBytes entry =
            keyEntryBytes(pass.table.tableNumber, pass.key, {item, valueLength}, number);
        if (searchFirst) {
            if (const Entry* existing = tree.findEntry(entry.key)) {
                uint32_t r = load32be(number.data());
                if (!isDup(pass.key) && recordNumberOf(*existing) != r) {
                    pass.duplicate = lowerPoint(pass.duplicate, r);
                }
                continue;
            }
        }
        tree.insertEntry(newEntry(entry.key, entry.data));
        ++pass.kept;
        if (!isDynamic(pass.key) && tree.dirtyCount() >= kCommitDirtyPages) {
            writeKeyCounts(pass, lowerPoint(pass.duplicate, pass.start));
            if (int result = tree.commit(); result != 0) return result;
        }
    }
}

// Builds one key of an open table in write mode: the place-th of keys the operation builds.
int buildOneKey(TableObject& table, const KeyDescriptor& key, BuildServices& services,
                CompiledFilter* filter, unsigned place, unsigned keys) {
    if (key.components.empty()) return 0;
    KeyPass pass{table, key, services, filter, place, keys};
    if (!preparePass(pass)) return 0;
    // The counts of the pass as it starts: whatever ends it early (a cancel, a table closed during
    // a progress event, a crash) leaves K entries and the key marked from S.
    writeKeyCounts(pass, pass.start);
    size_t valueLength = keyLength(key, table.definition);
    int result;
    {
        std::unique_ptr<BuildSort> sort = services.newSort(valueLength + kRecordNumberSize);
        result = scanRecords(pass, *sort);
        if (result == 0) {
            if (int finished = sort->finish(); finished != 0) result = sortFailed(*sort, finished);
        }
        if (result == 0) result = insertSorted(pass, *sort, valueLength);
    }
    // A pass that did not end keeps S as the rebuild point, so that the next build resumes there.
    writeKeyCounts(pass, result == 0 ? pass.duplicate : lowerPoint(pass.duplicate, pass.start));
    int committed = commitKeyTree(pass);
    if (result == 0) result = committed;
    if (result == 0 && pass.duplicate != 0) result = kCreatesDuplicateKey;
    return result;
}

// Runs a build on the table in write mode, opening it for the build when it is closed and
// closing it again afterwards. A table that is open must be open for reading and writing.
int withTableOpen(TableObject& table, const std::function<int()>& build) {
    bool openedHere = !table.isOpen();
    if (openedHere) {
        if (int result = table.open(kBuildOpenMode); result != 0) return result;
    } else if ((table.openMode & kModeAccessMask) != kReadWriteAccess) {
        return kAccessDenied;
    }
    table.pageFile()->beginWrite();
    int result = build();
    if (openedHere) {
        int closed = table.close();
        if (result == 0) result = closed;
    }
    return result;
}

// The table's collation record made afresh from the current character tables.
void renewCollation(TableObject& table) {
    PageFile& file = *table.pageFile();
    std::vector<uint8_t> key = tableKey(table.tableNumber, kRecordTypeCollation);
    key.push_back(0x01);
    if (Entry* stored = file.findEntry(key)) file.removeEntry(stored);
    std::vector<uint8_t> record = builtInCollationRecord(table.collation.oem);
    file.insertEntry(newEntry(key, record));
    loadCollation(record, &table.collation);
}

int buildAllKeys(TableObject& table, BuildServices& services) {
    if (table.fullBuild) renewCollation(table);
    auto keys = static_cast<unsigned>(
        std::count_if(table.definition.keys.begin(), table.definition.keys.end(),
                      [](const auto& key) { return !isDynamic(*key); }));
    for (const auto& key : table.definition.keys) {
        if (isDynamic(*key)) continue;
        int result = buildOneKey(table, *key, services, nullptr, key->number + 1, keys);
        if (result != 0) return result;
    }
    return 0;
}

// The components a text names: items separated by commas, each after optional spaces and an
// optional "+" (ascending) or "-" (descending), naming a field in any letter case.
int parseComponents(const TableDefinition& definition, std::string_view text,
                    std::vector<KeyComponent>* out) {
    std::vector<KeyComponent> components;
    uint64_t length = 0;
    size_t at = 0;
    for (;;) {
        while (at < text.size() && text[at] == ' ') ++at;
        bool descending = at < text.size() && text[at] == '-';
        if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
        size_t end = std::min(text.find(',', at), text.size());
        std::string_view item = text.substr(at, end - at);
        auto field = std::find_if(
            definition.fields.begin(), definition.fields.end(), [&](const FieldDescriptor& f) {
                return f.name && f.name->size() == item.size() &&
                       strncasecmp(f.name->data(), item.data(), item.size()) == 0;
            });
        if (field == definition.fields.end()) return kInvalidIndexString;
        components.push_back(
            {static_cast<uint32_t>(field - definition.fields.begin()), descending});
        length += field->size;
        if (end == text.size()) break;
        at = end + 1;
    }
    // A dynamic index obeys the limit of declared keys.
    if (length > kMaxKeyLength) return kInvalidIndexString;
    *out = std::move(components);
    return 0;
}

// The record's fields as the variables a filter may name.
std::vector<FilterVariable> filterVariables(const TableDefinition& definition) {
    std::vector<FilterVariable> variables;
    for (const FieldDescriptor& field : definition.fields) {
        if (!field.name) continue;
        FilterVariable variable;
        variable.name = *field.name;
        variable.type = field.type;
        variable.offset = field.offset;
        variable.size = field.size;
        variable.elementSize =
            field.elementCount != 0 ? field.size / field.elementCount : field.size;
        variable.places = field.places;
        variables.push_back(std::move(variable));
    }
    return variables;
}

int setComponentsAndBuild(TableObject& table, KeyDescriptor& key, std::string_view components,
                          const std::optional<std::string>& filterText, BuildServices& services) {
    std::unique_ptr<CompiledFilter> filter;
    if (filterText && !filterText->empty()) {
        int error = 0;
        filter = fileLayer().compileFilter(*filterText, filterVariables(table.definition), &error);
        if (filter == nullptr) {
            fileLayer().postDriverError(std::to_string(error), "Invalid filter expression");
            return kInvalidIndexString;
        }
    }
    std::vector<KeyComponent> parsed;
    if (int result = parseComponents(table.definition, components, &parsed); result != 0) {
        return result;
    }
    key.components = std::move(parsed);
    return buildOneKey(table, key, services, filter.get(), 1, 1);
}

}  // namespace

int buildKey(TableObject& table, KeyDescriptor& key, BuildServices& services) {
    int result =
        withTableOpen(table, [&] { return buildOneKey(table, key, services, nullptr, 1, 1); });
    table.fullBuild = false;
    return result;
}

int buildFile(TableObject& table, BuildServices& services) {
    int result = withTableOpen(table, [&] { return buildAllKeys(table, services); });
    table.fullBuild = false;
    return result;
}

int packFile(TableObject& table, BuildServices& services) {
    return withTableOpen(table, [&] {
        int result = buildAllKeys(table, services);
        if (result == 0) table.pageFile()->truncate();
        return result;
    });
}

int buildDynamic(TableObject& table, KeyDescriptor& key, std::string_view components,
                 const std::optional<std::string>& filter, BuildServices& services) {
    // Only a dynamic index takes components from a text.
    int result = kInvalidIndexString;
    if (isDynamic(key)) {
        result = withTableOpen(
            table, [&] { return setComponentsAndBuild(table, key, components, filter, services); });
    }
    table.fullBuild = false;
    return result;
}

}  // namespace vellum
