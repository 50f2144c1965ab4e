// dump: the records of a table in record order or in the order of a key's entries, one line
// each after a line of field names, tab-separated or as CSV. A key entry that names a missing
// record is passed over, as the engine's reads do (check reports it).
#include <algorithm>
#include <vector>

#include "qlmtool/csv.h"
#include "tablestore/key_value.h"
#include "tablestore/records.h"
#include "tablestore/table_address.h"
#include "tools/vellum/commands.h"
#include "tools/vellum/field_text.h"

namespace vellum::filetool {

namespace {

// A value for a tab-separated line: backslash, tab, line feed and carriage return escaped.
std::string tabSafe(const std::string& value) {
    std::string text;
    for (char c : value) {
        switch (c) {
            case '\\': text += "\\\\"; break;
            case '\t': text += "\\t"; break;
            case '\n': text += "\\n"; break;
            case '\r': text += "\\r"; break;
            default: text.push_back(c);
        }
    }
    return text;
}

void writeLine(std::ostream& out, const std::vector<std::string>& values, bool csv) {
    if (csv) {
        qlmtool::writeCsvRecord(out, values);
        return;
    }
    for (size_t i = 0; i < values.size(); ++i) out << (i > 0 ? "\t" : "") << tabSafe(values[i]);
    out << "\n";
}

bool namesKey(const KeyDescriptor& key, const std::string& name) {
    std::string wanted = upperCaseName(name);
    return upperCaseName(keyName(key)) == wanted ||
           upperCaseName(key.label.value_or("")) == wanted;
}

}  // namespace

int dumpRecords(ReadOnlyFile& file, const std::string& tableName, const DumpOptions& options,
                std::ostream& out, std::ostream& err) {
    StoredTable table;
    if (int status = file.loadTable(tableName, &table, err); status != kSuccess) return status;
    const TableDefinition& definition = table.definition();
    const TableNumber& number = table.name.number;

    std::vector<uint8_t> prefix = tableKey(number, kRecordTypeData);
    if (options.key) {
        auto found = std::find_if(definition.keys.begin(), definition.keys.end(),
                                  [&](const auto& key) { return namesKey(*key, *options.key); });
        if (found == definition.keys.end()) {
            err << "vellum: table " << displayName(table.name.name) << " has no key "
                << *options.key << "\n";
            return kUsageError;
        }
        if ((*found)->attributes & kKeyDescriptorDynamic) {
            err << "vellum: key " << *options.key
                << " is a dynamic index; its entries are not kept in the file\n";
            return kUsageError;
        }
        prefix = keyEntryPrefix(number, **found);
    }

    std::vector<std::string> values{"record"};
    for (const FieldDescriptor& field : definition.fields) {
        if (isShownField(field)) values.push_back(field.name.value_or(""));
    }
    writeLine(out, values, options.csv);

    std::vector<uint8_t> image(definition.recordLength);
    PrefixWalk walk(file.pages(), prefix);
    while (const Entry* entry = walk.next()) {
        uint32_t record = recordNumberOf(*entry);
        const Entry* stored =
            options.key ? file.pages().findEntry(dataRecordKey(number, record)) : entry;
        if (stored == nullptr) continue;
        loadImage(*table.object, *stored, &image);
        values.assign(1, std::to_string(record));
        for (const FieldDescriptor& field : definition.fields) {
            if (isShownField(field)) values.push_back(fieldText(field, image));
        }
        writeLine(out, values, options.csv);
    }
    return kSuccess;
}

}  // namespace vellum::filetool
