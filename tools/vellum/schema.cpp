// schema: a table's stored definition: fields, memos and keys.
#include "tools/vellum/commands.h"
#include "tools/vellum/field_text.h"

namespace vellum::filetool {

namespace {

std::string keyAttributes(uint8_t attributes) {
    static constexpr std::pair<uint8_t, const char*> kNames[] = {
        {kKeyDescriptorDup, "DUP"},         {kKeyDescriptorOpt, "OPT"},
        {kKeyDescriptorNoCase, "NOCASE"},   {kKeyDescriptorCarried, "0x08"},
        {kKeyDescriptorPrimary, "PRIMARY"}, {kKeyDescriptorIndex, "INDEX"},
        {kKeyDescriptorDynamic, "DYNAMIC"},
    };
    std::string text;
    for (const auto& [bit, name] : kNames) {
        if (!(attributes & bit)) continue;
        if (!text.empty()) text += ",";
        text += name;
    }
    return text.empty() ? "-" : text;
}

}  // namespace

int showSchema(ReadOnlyFile& file, const std::string& tableName, std::ostream& out,
               std::ostream& err) {
    StoredTable table;
    if (int status = file.loadTable(tableName, &table, err); status != kSuccess) return status;
    const TableDefinition& definition = table.definition();
    out << "table " << displayName(table.name.name) << " (number " << numberOf(table.name.number)
        << "), definition version " << definition.version << ", record length "
        << definition.recordLength << ", strings in "
        << (table.object->collation.oem ? "OEM" : "ANSI") << "\n";

    out << "fields:\n#\tname\ttype\toffset\tsize\tdims\tplaces\tpicture\n";
    for (const FieldDescriptor& field : definition.fields) {
        bool decimal = field.type == kDecimal || field.type == kPDecimal;
        out << field.index + 1 << "\t" << field.name.value_or("") << "\t" << typeName(field.type)
            << (field.over ? " OVER" : "") << "\t" << field.offset << "\t" << field.size << "\t"
            << field.elementCount << "\t" << (decimal ? std::to_string(field.places) : "-")
            << "\t" << field.picture.value_or("-") << "\n";
    }

    out << "memos:\n#\tname\tsize\tflags\n";
    for (size_t i = 0; i < definition.memos.size(); ++i) {
        const MemoDescriptor& memo = definition.memos[i];
        std::string flags;
        if (memo.flags & kMemoBinary) flags += "BINARY";
        if (memo.flags & kMemoBlob) flags += flags.empty() ? "BLOB" : ",BLOB";
        out << i + 1 << "\t" << itemName(memo.externalName, memo.label) << "\t" << memo.size << "\t" << (flags.empty() ? "-" : flags)
            << "\n";
    }

    out << "keys:\n#\tname\tattributes\tcomponents\n";
    for (const auto& key : definition.keys) {
        std::string components;
        for (const KeyComponent& component : key->components) {
            if (!components.empty()) components += ", ";
            components += component.descending ? "-" : "+";
            components += definition.fields[component.field].name.value_or("");
        }
        out << key->number << "\t" << keyName(*key) << "\t" << keyAttributes(key->attributes)
            << "\t" << (components.empty() ? "-" : components) << "\n";
    }
    return kSuccess;
}

}  // namespace vellum::filetool
