// Opening a table file read-only, its tables and their stored definitions.
#include "tools/vellum/read_only_file.h"

#include <algorithm>
#include <cstring>

#include "filelayer/file_layer.h"
#include "tablestore/key_value.h"
#include "tablestore/table_address.h"
#include "vellum/byte_order.h"
#include "vellum/error_codes.h"

namespace vellum::filetool {

namespace {

constexpr int kReadOnlyMode = 0x40;  // read only, deny none

}  // namespace

int ReadOnlyFile::open(const std::string& path, const std::string& owner, std::ostream& err) {
    path_ = path;
    int result = file_->open(path, kReadOnlyMode, owner);
    if (result == 0) return kSuccess;
    err << "vellum: " << path << ": ";
    if (result == kInvalidDataFile) {
        err << (owner.empty() ? "not a table file (or enciphered: give its owner with --owner)"
                              : "not a table file, or enciphered with another owner");
    } else {
        err << "cannot be opened: " << errorText(result);
    }
    err << " (error " << result << ")\n";
    return kFileProblem;
}

std::vector<TableName> ReadOnlyFile::tables() {
    std::vector<TableName> found;
    if (holdsNothing()) return found;
    for (const std::string& name : tableNamesIn(*file_)) {
        Entry* record = file_->findEntry(tableNameKey(name));
        if (record == nullptr || record->data().size() != 4) continue;
        TableName table{name, {}};
        std::copy_n(record->data().begin(), 4, table.number.begin());
        found.push_back(table);
    }
    return found;
}

int ReadOnlyFile::loadTable(const std::string& tableName, StoredTable* out,
                             std::ostream& err) {
    for (const TableName& table : tables()) {
        if (table.name == tableName) return loadTable(table, out, err);
    }
    err << "vellum: " << path_ << ": holds no table " << displayName(tableName) << "\n";
    return kFileProblem;
}

int ReadOnlyFile::loadTable(const TableName& name, StoredTable* out, std::ostream& err) {
    out->name = name;
    out->object = std::make_unique<TableObject>(nullptr);
    TableObject& object = *out->object;
    object.tableNumber = name.number;
    if (loadDefinition(*file_, name.number, &object, &object.definition) != 0) {
        err << "vellum: " << path_ << ": the definition of table " << displayName(name.name)
            << " does not load: " << fileError() << "\n";
        return kFileProblem;
    }
    std::vector<uint8_t> collationKey = tableKey(name.number, kRecordTypeCollation);
    collationKey.push_back(0x01);
    Entry* stored = file_->findEntry(collationKey);
    if (stored == nullptr || !loadCollation(stored->data(), &object.collation)) {
        object.collation = builtInCollation(false);
    }
    return kSuccess;
}

PrefixWalk::PrefixWalk(PageFile& file, std::vector<uint8_t> prefix)
    : file_(file), prefix_(std::move(prefix)) {}

const Entry* PrefixWalk::next() {
    if (file_.header().changeCounter() == 0) return nullptr;
    Entry* found = nullptr;
    if (!started_) {
        started_ = true;
        found = file_.findEntry(prefix_);
        if (found == nullptr) {
            OwnedEntry probe(newEntry(prefix_));
            found = file_.findNextEntry(probe.get());
        }
    } else if (current_) {
        found = file_.findNextEntry(current_.get());
    }
    bool inside = found != nullptr && found->keyLength >= prefix_.size() &&
                  std::memcmp(found->bytes(), prefix_.data(), prefix_.size()) == 0;
    current_.reset(inside ? copyEntry(*found) : nullptr);
    return current_.get();
}

std::string displayName(const std::string& tableName) {
    return tableName == kUnnamedTable ? "(unnamed)" : tableName;
}

uint32_t numberOf(const TableNumber& number) { return load32be(number.data()); }

std::string itemName(const std::optional<std::string>& externalName,
                     const std::optional<std::string>& label) {
    if (externalName && !externalName->empty()) return *externalName;
    return label.value_or("");
}

std::string keyName(const KeyDescriptor& key) { return itemName(key.externalName, key.label); }

}  // namespace vellum::filetool
