// Field, memo, BLOB and key properties.
#include "driver/item_properties.h"

#include <algorithm>
#include <cstdlib>
#include <span>

#include "tablestore/blob_content.h"
#include "tablestore/table_definition.h"
#include "tablestore/table_object.h"

namespace vellum {

namespace {

using HandleKind = FileLayerServices::HandleKind;

enum ItemProperty : int32_t {
    kMemberCount = 29458,
    kExternalName = 29462,
    kLabel = 29463,
    kComponentCount = 29466,
    kDuplicatesAllowed = 29467,
    kOptional = 29468,
    kNoCase = 29469,
    kPrimary = 29470,
    kComponentField = 29471,
    kComponentAscending = 29472,
    kBinary = 29473,
    kPlaces = 29474,
    kElementCount = 29475,
    kOverTarget = 29476,
    kKeyFile = 29478,
    kPicture = 29523,
    kContent = 31744,
    kTypeName = 31745,
    kElementSize = 31929,
    kContentToo = 31935,
    kBlobFile = 31945,
};

std::string flag(bool set) {
    return set ? "1" : "";
}

bool isStringType(uint8_t type) {
    return type == kString || type == kCString || type == kPString;
}

}  // namespace

int32_t decimalNumber(const std::string& text) {
    return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

std::string handleText(const void* object, HandleKind kind) {
    return object == nullptr ? std::string("0") : fileLayer().handleOf(object, kind);
}

std::optional<std::string> fieldProperty(const TableObject& table, uint32_t field,
                                         int32_t property) {
    const std::vector<FieldDescriptor>& fields = table.definition.fields;
    if (field == 0 || field > fields.size()) return std::nullopt;
    const FieldDescriptor& item = fields[field - 1];
    bool decimal = item.type == kDecimal || item.type == kPDecimal;
    switch (property) {
        case kMemberCount:
            return std::to_string(item.type == kGroup ? item.memberCount : 1);
        case kExternalName:
            return item.externalName && item.externalName != item.label ? *item.externalName
                                                                        : std::string();
        case kLabel:
            return item.label.value_or(std::string());
        case kPlaces:
            return item.type == kDecimal ? std::to_string(item.places) : std::string();
        case kElementCount:
            return std::to_string(item.elementCount >= 2 ? item.elementCount : 0);
        case kOverTarget:
            return std::to_string(item.overTarget);
        case kPicture:
            return isStringType(item.type) ? item.picture.value_or(std::string()) : std::string();
        case kTypeName:
            return typeName(item.type);
        case kElementSize: {
            if (decimal) return std::to_string(2 * item.elementByteSize - 1);
            return std::to_string(item.elementCount == 0 ? 0 : item.size / item.elementCount);
        }
        default:
            return std::nullopt;
    }
}

std::optional<int> setFieldProperty(TableObject& table, uint32_t field, int32_t property,
                                    const std::string& value) {
    std::vector<FieldDescriptor>& fields = table.definition.fields;
    if (field == 0 || field > fields.size() || property != kExternalName) return std::nullopt;
    // The name by which component texts of dynamic indexes find the field follows it.
    FieldDescriptor& item = fields[field - 1];
    item.externalName = value;
    item.name = value;
    item.nameIsLabel = false;
    return 0;
}

std::optional<std::string> memoProperty(FileControlBlock& block, TableObject& table, uint32_t memo,
                                        int32_t property) {
    std::vector<MemoDescriptor>& memos = table.definition.memos;
    if (memo == 0 || memo > memos.size()) return std::nullopt;
    const MemoDescriptor& item = memos[memo - 1];
    bool blob = (item.flags & kMemoBlob) != 0;
    switch (property) {
        case kExternalName:
            return item.externalName.value_or(std::string());
        case kLabel:
            return item.label.value_or(std::string());
        case kBinary:
            return flag((item.flags & kMemoBinary) != 0);
        case kContent:
        case kContentToo: {
            const std::vector<uint8_t>& bytes = blob ? item.content : item.buffer;
            return std::string(bytes.begin(), bytes.end());
        }
        case kTypeName:
            return std::string(blob ? "BLOB" : "MEMO");
        case kElementSize:
            // A BLOB's size is the table store's.
            if (blob) return std::nullopt;
            return std::to_string(item.size);
        case kBlobFile:
            if (!blob) return std::string();
            return handleText(&block, HandleKind::fileControlBlock) + ":" + std::to_string(memo);
        default:
            return std::nullopt;
    }
}

std::optional<int> setMemoProperty(TableObject& table, uint32_t memo, int32_t property,
                                   const std::string& value) {
    std::vector<MemoDescriptor>& memos = table.definition.memos;
    if (memo == 0 || memo > memos.size()) return std::nullopt;
    MemoDescriptor& item = memos[memo - 1];
    switch (property) {
        case kExternalName:
            item.externalName = value;
            return 0;
        case kContent:
        case kContentToo: {
            if (item.flags & kMemoBlob) {
                return assignBlob(
                    item, std::span(reinterpret_cast<const uint8_t*>(value.data()), value.size()));
            }
            // The platform's string assignment: cut to the buffer, padded with blanks.
            size_t taken = std::min(value.size(), item.buffer.size());
            std::copy_n(value.begin(), taken, item.buffer.begin());
            std::fill(item.buffer.begin() + static_cast<std::ptrdiff_t>(taken), item.buffer.end(),
                      ' ');
            return 0;
        }
        default:
            return std::nullopt;
    }
}

std::optional<std::string> keyProperty(FileControlBlock& block, const KeyDescriptor& key,
                                       int32_t component, int32_t property) {
    const KeyComponent* part =
        component >= 1 && static_cast<size_t>(component) <= key.components.size()
            ? &key.components[static_cast<size_t>(component) - 1]
            : nullptr;
    switch (property) {
        case kExternalName:
            return key.externalName.value_or(std::string());
        case kLabel:
            return key.label.value_or(std::string());
        case kComponentCount:
            return std::to_string(key.components.size());
        case kDuplicatesAllowed:
            return flag((key.attributes & (kKeyDescriptorDup | kKeyDescriptorIndex)) != 0);
        case kOptional:
            return flag((key.attributes & kKeyDescriptorOpt) != 0);
        case kNoCase:
            return flag((key.attributes & kKeyDescriptorNoCase) != 0);
        case kPrimary:
            return flag((key.attributes & kKeyDescriptorPrimary) != 0);
        case kComponentField:
            return part != nullptr ? std::to_string(part->field + 1) : std::string();
        case kComponentAscending:
            return flag(part != nullptr && !part->descending);
        case kKeyFile:
            return handleText(&block, HandleKind::fileControlBlock);
        case kTypeName:
            return std::string((key.attributes & kKeyDescriptorIndex) ? "INDEX" : "KEY");
        default:
            return std::nullopt;
    }
}

}  // namespace vellum
