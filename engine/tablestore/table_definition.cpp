// Building the field, memo and key descriptors of a table from the application's declaration,
// with the limits that keep every entry of the table within what the page store accepts.
#include "tablestore/table_definition.h"

#include <cstdint>
#include <limits>
#include <new>
#include <utility>

#include "vellum/file_layer_services.h"

namespace vellum {

namespace {

constexpr int kInvalidFieldType = 75;
constexpr int kInsufficientMemory = 8;
constexpr uint32_t kMaxCStringLength = 15001;

// A name of a declaration: trailing blanks removed; a zero-length text is absent, an all-blank
// one is empty.
std::optional<std::string> declaredName(const DeclaredText& text) {
    std::optional<std::string> raw = declaredText(text, true);
    if (!raw || raw->empty()) return std::nullopt;
    size_t end = raw->find_last_not_of(' ');
    raw->erase(end == std::string::npos ? 0 : end + 1);
    return raw;
}

// Whether a declared item carries a name or label with at least one character.
bool hasName(const std::optional<std::string>& label, const std::optional<std::string>& name) {
    return (label && !label->empty()) || (name && !name->empty());
}

int declarationError(std::string_view kind, int item, std::string_view attribute, int reason,
                     std::string_view message = {}) {
    return fileLayer().declarationError(kind, item, attribute, reason, message);
}

// The walk over the declared fields. Declaration entry 0 is the record; descriptor i comes from
// declaration entry i + 1.
class FieldWalk {
public:
    FieldWalk(const FileControlBlock& block, std::vector<FieldDescriptor>& fields)
        : declarations_(block.fields),
          fields_(fields),
          create_((block.attributes & kAttributeCreate) != 0) {}

    // Walks the fields [first, end) of one level.
    int walkLevel(uint32_t first, uint32_t end, uint64_t expected, bool inheritedOver) {
        uint32_t position = first;
        while (position < end) {
            const FieldDeclaration& declared = declarations_[position + 1];
            FieldDescriptor& field = fields_[position];
            field.type = declared.type;
            field.offset = declared.offset;
            field.over = inheritedOver;
            field.overTarget = 0;
            field.index = position;
            int item = static_cast<int>(position + 1);

            if (declared.offset > expected) return kInvalidFieldType;
            if (declared.offset < expected) {
                field.over = true;
                field.overTarget = findOverTarget(first, position, declared.offset);
                if (field.overTarget == 0) return kInvalidFieldType;
            }

            field.label = declaredName(declared.label);
            field.externalName = declaredName(declared.externalName);
            if (!hasName(field.label, field.externalName) && !field.over && create_) {
                return declarationError("FIELD", item, "LABEL", 1);
            }
            field.nameIsLabel = !field.externalName.has_value() && field.label.has_value();
            field.name = field.externalName ? field.externalName : field.label;

            uint64_t elementCount = 1;
            if (declared.dimensionCount != 0 && declared.dimensions == nullptr) {
                return kInvalidFieldType;
            }
            for (unsigned d = 0; d < declared.dimensionCount; ++d) {
                elementCount *= declared.dimensions[d];
                if (elementCount > std::numeric_limits<uint32_t>::max()) return kInvalidFieldType;
            }
            uint64_t size = elementCount * declared.elementSize;
            if (size > std::numeric_limits<uint32_t>::max()) return kInvalidFieldType;
            field.elementCount = static_cast<uint32_t>(elementCount);
            field.size = static_cast<uint32_t>(size);

            int result = describeType(declared, field, item);
            if (result != 0) return result;

            if (!field.over && field.type != kGroup) {
                if (field.size > kMaxStoredSize) return declarationError("FIELD", item, "DIM", 5);
                if (storedTotal_ + field.size > kMaxStoredSize) {
                    return declarationError("FIELD", item, "SIZE", 5);
                }
                storedTotal_ += field.size;
            }

            if (field.overTarget == 0 && field.offset == expected) expected += field.size;

            if (field.type == kGroup) {
                // The members follow the group directly and lie within the enclosing level.
                if (field.memberCount > end - position - 1) return kInvalidFieldType;
                uint32_t membersEnd = position + 1 + field.memberCount;
                if (field.memberCount != 0) {
                    result = walkLevel(position + 1, membersEnd, field.offset, field.over);
                    if (result != 0) return result;
                }
                position = membersEnd;
            } else {
                ++position;
            }
        }
        return 0;
    }

private:
    // The number (from 1) of the field of the level [first, position) at offset, stepping over
    // groups that do not match with all their members; 0 when there is none.
    uint32_t findOverTarget(uint32_t first, uint32_t position, uint32_t offset) const {
        uint32_t candidate = first;
        while (candidate < position) {
            const FieldDescriptor& field = fields_[candidate];
            if (field.offset == offset) return candidate + 1;
            candidate += field.type == kGroup ? 1 + field.memberCount : 1;
        }
        return 0;
    }

    int describeType(const FieldDeclaration& declared, FieldDescriptor& field, int item) {
        switch (declared.type) {
            case kGroup:
                field.memberCount = declared.memberCount;
                return 0;
            case kByte:
            case kShort:
            case kUShort:
            case kDate:
            case kTime:
            case kLong:
            case kULong:
            case kSReal:
            case kReal:
                return 0;
            case kPDecimal:
                if (!field.over) return declarationError("FIELD", item, "TYPE", 2);
                [[fallthrough]];
            case kDecimal:
                field.places = declared.places;
                field.elementByteSize = static_cast<uint8_t>(declared.elementSize);
                return 0;
            case kString:
                field.elementLength = declared.elementSize;
                field.picture = declaredText(declared.picture);
                if (field.elementLength > kMaxStoredSize) {
                    return declarationError("FIELD", item, "SIZE", 4);
                }
                return 0;
            case kCString:
                field.elementLength = declared.elementSize;
                field.picture = declaredText(declared.picture);
                if (field.elementLength < 1 || field.elementLength > kMaxCStringLength) {
                    return declarationError("FIELD", item, "SIZE", 4);
                }
                return 0;
            case kPString:
                field.elementLength = declared.elementSize;
                field.picture = declaredText(declared.picture);
                return 0;
            default:
                if (!field.over) return declarationError("FIELD", item, "TYPE", 2);
                return 0;
        }
    }

    const FieldDeclaration* declarations_;
    std::vector<FieldDescriptor>& fields_;
    bool create_;
    uint32_t storedTotal_ = 0;
};

int buildFields(const FileControlBlock& block, std::vector<FieldDescriptor>& fields) {
    if (block.fields == nullptr) return 0;
    const FieldDeclaration& record = block.fields[0];
    if (record.type != kGroup) return kInvalidFieldType;
    fields.resize(record.memberCount);
    FieldWalk walk(block, fields);
    return walk.walkLevel(0, record.memberCount, 0, false);
}

int buildMemos(const FileControlBlock& block, std::vector<MemoDescriptor>& memos) {
    bool create = (block.attributes & kAttributeCreate) != 0;
    if (block.memoCount != 0 && block.memos == nullptr) return kInvalidFieldType;
    memos.resize(block.memoCount);
    for (unsigned i = 0; i < block.memoCount; ++i) {
        const MemoDeclaration& declared = block.memos[i];
        MemoDescriptor& memo = memos[i];
        int item = static_cast<int>(i + 1);
        memo.label = declaredName(declared.label);
        memo.externalName = declaredName(declared.externalName);
        if (!hasName(memo.label, memo.externalName) && create) {
            return declarationError("MEMO/BLOB", item, "LABEL", 1);
        }
        if (i >= kMaxMemos) return declarationError("MEMO/BLOB", item, "MEMO/BLOB", 2);
        if (declared.size > kMaxMemoSize) return declarationError("MEMO/BLOB", item, "SIZE", 3);
        memo.size = declared.size;
        memo.flags = declared.flags;
        // A BLOB has no fixed size: its content is served without a working buffer.
        if ((memo.flags & kMemoBlob) == 0) memo.buffer.assign(memo.size, ' ');
    }
    return 0;
}

uint8_t keyDescriptorAttributes(const KeyControlBlock& key) {
    uint8_t attributes = 0;
    if (key.attributes & kKeyDup) attributes |= kKeyDescriptorDup;
    if (key.attributes & kKeyOpt) attributes |= kKeyDescriptorOpt;
    if (key.attributes & kKeyNoCase) attributes |= kKeyDescriptorNoCase;
    if (key.attributes & kKeyCarried) attributes |= kKeyDescriptorCarried;
    if (key.attributes & kKeyPrimary) attributes |= kKeyDescriptorPrimary;
    if (key.attributes & kKeyIndex) {
        attributes |= kKeyDescriptorIndex;
        if (key.componentCount == 0) attributes |= kKeyDescriptorDynamic;
    }
    return attributes;
}

int buildKeys(const FileControlBlock& block, TableObject* table,
              const std::vector<FieldDescriptor>& fields,
              std::vector<std::unique_ptr<KeyDescriptor>>& keys) {
    bool create = (block.attributes & kAttributeCreate) != 0;
    if (block.keyCount != 0 && block.keys == nullptr) return kInvalidFieldType;
    keys.reserve(block.keyCount);
    for (unsigned i = 0; i < block.keyCount; ++i) {
        const KeyControlBlock* declared = block.keys[i];
        if (declared == nullptr) return kInvalidFieldType;
        int item = static_cast<int>(i + 1);
        auto key = std::make_unique<KeyDescriptor>();
        key->table = table;
        key->number = i;
        key->label = declaredName(declared->label);
        key->externalName = declaredName(declared->name);
        if (!hasName(key->label, key->externalName) && create) {
            return declarationError("KEY", item, "LABEL", 1);
        }
        if (i >= kMaxKeys) return declarationError("KEY", item, "KEY", 2);
        key->attributes = keyDescriptorAttributes(*declared);
        if (declared->componentCount != 0 && declared->components == nullptr) {
            return kInvalidFieldType;
        }
        key->components.reserve(declared->componentCount);
        for (unsigned c = 0; c < declared->componentCount; ++c) {
            int64_t value = declared->components[c];
            bool descending = value < 0;
            int64_t number = descending ? -value : value;
            if (number < 1 || number > static_cast<int64_t>(fields.size())) {
                return kInvalidFieldType;
            }
            uint32_t index = static_cast<uint32_t>(number - 1);
            if (fields[index].elementCount > 1) return kInvalidFieldType;
            key->components.push_back({index, descending});
        }
        keys.push_back(std::move(key));
    }
    return 0;
}

// The first key whose components add up to more than the longest key value is refused.
int checkKeyLengths(const TableDefinition& definition) {
    for (const auto& key : definition.keys) {
        uint64_t total = 0;
        for (const KeyComponent& component : key->components) {
            total += definition.fields[component.field].size;
        }
        if (total > kMaxKeyLength) {
            return declarationError("KEY", static_cast<int>(key->number + 1), "SIZE", 100,
                                    "Key components are more than a total of 7526 bytes long");
        }
    }
    return 0;
}

int buildAll(const FileControlBlock& block, TableObject* table, TableDefinition& definition) {
    definition.recordLength = block.recordLength;
    int result = buildFields(block, definition.fields);
    if (result == 0) result = buildMemos(block, definition.memos);
    if (result == 0) result = buildKeys(block, table, definition.fields, definition.keys);
    if (result == 0) result = checkKeyLengths(definition);
    if (result != 0) return result;
    definition.version = 1;
    for (const MemoDescriptor& memo : definition.memos) {
        if (memo.flags & kMemoBlob) definition.version = 2;
    }
    return 0;
}

}  // namespace

int buildDefinition(const FileControlBlock& block, TableObject* table, TableDefinition* out) {
    TableDefinition definition;
    try {
        int result = buildAll(block, table, definition);
        if (result != 0) return result;
    } catch (const std::bad_alloc&) {
        return kInsufficientMemory;
    }
    // The descriptors become the table's only when the whole declaration is accepted; the key
    // control blocks then point at the key descriptors, which keep their addresses on the move.
    *out = std::move(definition);
    for (unsigned i = 0; i < out->keys.size(); ++i) block.keys[i]->keyDescriptor = out->keys[i].get();
    return 0;
}

std::string typeName(uint8_t type) {
    switch (type) {
        case kByte: return "BYTE";
        case kShort: return "SHORT";
        case kUShort: return "USHORT";
        case kDate: return "DATE";
        case kTime: return "TIME";
        case kLong: return "LONG";
        case kULong: return "ULONG";
        case kSReal: return "SREAL";
        case kReal: return "REAL";
        case kDecimal: return "DECIMAL";
        case kPDecimal: return "PDECIMAL";
        case kString: return "STRING";
        case kCString: return "CSTRING";
        case kPString: return "PSTRING";
        case kGroup: return "GROUP";
        default: return "TYPE " + std::to_string(type);
    }
}

}  // namespace vellum
