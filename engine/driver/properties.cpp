// The routing of the property operations, the table properties, and the table store's own.
#include "driver/properties.h"

#include <algorithm>
#include <optional>

#include "driver/driver_descriptor.h"
#include "driver/item_properties.h"
#include "driver/state_rules.h"
#include "tablestore/blob_content.h"
#include "tablestore/records.h"
#include "tablestore/table_object.h"
#include "vellum/error_codes.h"

namespace vellum {

namespace {

using HandleKind = FileLayerServices::HandleKind;

enum TableProperty : int32_t {
    kFullBuild = 29232,
    kCurrentKey = 29440,
    kTransactionList = 29441,
    kTraceLine = 29442,
    kTraceFile = 29443,
    kWatched = 29444,
    kHeld = 29445,
    kBuildProgress = 29446,
    kBuildPercent = 29447,
    kDriverName = 29453,
    kCapability24 = 29454,
    kKeyCount = 29455,
    kBlobCount = 29456,
    kMemoCount = 29457,
    kFieldCount = 29458,
    kEncrypt = 29459,
    kDriverOptions = 29460,
    kOwner = 29461,
    kName = 29462,
    kLabel = 29463,
    kOem = 29464,
    kReclaim = 29465,
    kTraceFirst = 29481,
    kCapability22 = 29508,
    kRemoteServer = 29510,
    kFileBytes = 29511,
    kSupportsOperation = 29512,
    kSupportsType = 29513,
    kRecordLayout = 29515,
    kTraceSecond = 29518,
    kDriverChange = 29519,
    kPlatformWord = 29522,
    kKeyBlock = 31851,
    kThread = 31893,
    kCreate = 31942,
    kBlobFile = 31945,
};

std::string flag(bool set) {
    return set ? "1" : "";
}

std::string withoutTrailingBlanks(const std::string& text) {
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

size_t memosWithBlobFlag(const TableObject& table, bool blob) {
    const std::vector<MemoDescriptor>& memos = table.definition.memos;
    return static_cast<size_t>(std::count_if(memos.begin(), memos.end(), [&](const auto& memo) {
        return ((memo.flags & kMemoBlob) != 0) == blob;
    }));
}

// Whether code is in the descriptor's list of operations (the first list) or of types.
bool inSupportList(int32_t code, bool types) {
    const uint8_t* list = driverDescriptor().supportLists;
    if (types) list += 1 + list[0];
    return std::find(list + 1, list + 1 + list[0], code) != list + 1 + list[0];
}

// The key control block of a key descriptor of the table.
const KeyControlBlock* keyBlockOf(const FileControlBlock& block, const KeyDescriptor* key) {
    for (uint8_t k = 0; key != nullptr && block.keys != nullptr && k < block.keyCount; ++k) {
        if (block.keys[k] != nullptr && block.keys[k]->keyDescriptor == key) return block.keys[k];
    }
    return nullptr;
}

std::optional<std::string> tableProperty(FileControlBlock& block, TableObject& table,
                                         int32_t property) {
    uint32_t capabilities = driverDescriptor().capabilities;
    switch (property) {
        case kCurrentKey: {
            // During a build with progress events: the key being built.
            const KeyDescriptor* key = table.currentKey;
            const auto& keys = table.definition.keys;
            if ((table.stateWord & kStateEventBuild) && table.buildKey < keys.size()) {
                key = keys[table.buildKey].get();
            }
            if (key == nullptr) return std::string();
            return handleText(keyBlockOf(block, key), HandleKind::keyControlBlock);
        }
        case kTransactionList: {
            std::optional<int32_t> value = fileLayer().transactionListValue(&block);
            return value ? std::to_string(*value) : std::string();
        }
        case kTraceFile:
            return table.trace.fileName();
        case kTraceFirst:
            return flag(table.trace.firstSetting != 0);
        case kTraceSecond:
            return flag(table.trace.secondSetting != 0);
        case kWatched:
            return flag((table.stateWord & kStateWatched) != 0);
        case kHeld:
            return flag((table.stateWord & kStateHeld) != 0);
        case kBuildProgress:
            return flag((table.stateWord & kStateEventBuild) != 0);
        case kBuildPercent:
            return std::to_string((table.stateWord & kStateEventBuild) ? table.buildPercent : 0);
        case kDriverName:
            return std::string(driverDescriptor().name);
        case kCapability24:
            return flag((capabilities >> 24) & 1);
        case kCapability22:
            return flag((capabilities >> 22) & 1);
        case kKeyCount:
            return std::to_string(table.definition.keys.size());
        case kBlobCount:
            return std::to_string(memosWithBlobFlag(table, true));
        case kMemoCount:
            return std::to_string(memosWithBlobFlag(table, false));
        case kFieldCount:
            return std::to_string(table.definition.fields.size());
        case kEncrypt:
            return flag((table.attributes & kAttributeEncrypt) != 0);
        case kDriverOptions:
            return table.driverOptions;
        case kOwner:
            return table.owner;
        case kName:
            return table.address;
        case kLabel:
            return block.fields == nullptr ? std::string()
                                           : declaredText(block.fields[0].label).value_or("");
        case kOem:
            return flag((table.attributes & kAttributeOem) != 0);
        case kReclaim:
            return flag((table.attributes & kAttributeReclaim) != 0);
        case kThread:
            return flag((table.attributes & kAttributeThread) != 0);
        case kCreate:
            return flag((table.attributes & kAttributeCreate) != 0);
        case kRemoteServer:
            return std::string();
        case kFileBytes: {
            // The size as BYTES reports it without a current record; the call then leaves the
            // thread without an error, as an operation with after-flag 0x01 does.
            uint32_t size = 0;
            fileBytes(table, &size);
            fileLayer().clearError();
            return std::to_string(size);
        }
        case kRecordLayout:
            return handleText(block.recordBuffer, HandleKind::recordBuffer) + ":" +
                   std::to_string(block.recordLength) + ":" +
                   handleText(block.fields, HandleKind::fieldList);
        case kPlatformWord:
            return flag(block.words[0] != 0);
        default:
            return std::nullopt;
    }
}

std::optional<int> setTableProperty(TableObject& table, int32_t property,
                                    const std::string& value) {
    auto setAttribute = [&](uint8_t bit) {
        if (decimalNumber(value) != 0) {
            table.attributes |= bit;
        } else {
            table.attributes &= static_cast<uint8_t>(~bit);
        }
        return 0;
    };
    switch (property) {
        case kBuildProgress: {
            int32_t n = decimalNumber(value);
            if (n == 0) {
                table.stateWord &= ~uint32_t{kStateBuildRequest};
                return 0;
            }
            // A second request while one is pending leaves it in place.
            table.progressInterval = static_cast<uint32_t>(101 - std::clamp<int32_t>(n, 1, 100));
            table.stateWord |= kStateBuildRequest;
            return 0;
        }
        case kTransactionList:
            if (!table.isOpen()) return kFileNotOpen;
            return fileLayer().setTransactionListValue(table.block, decimalNumber(value))
                       ? 0
                       : kUnableToLogTransaction;
        case kTraceLine:
            table.trace.writeLine(value);
            return 0;
        case kTraceFile:
            table.trace.setFileName(value);
            return 0;
        case kTraceFirst:
            table.trace.firstSetting = decimalNumber(value);
            return 0;
        case kTraceSecond:
            table.trace.secondSetting = decimalNumber(value);
            return 0;
        case kDriverName:
            return kUnsupportedFunction;
        case kRemoteServer:
            // No remote access is offered.
            return value.empty() ? 0 : kUnsupportedFunction;
        case kEncrypt:
            return setAttribute(kAttributeEncrypt);
        case kOem:
            return setAttribute(kAttributeOem);
        case kDriverOptions:
            table.driverOptions = withoutTrailingBlanks(value);
            table.optionsOverridden = true;
            return 0;
        case kOwner:
            table.owner = withoutTrailingBlanks(value);
            table.ownerOverridden = true;
            return 0;
        case kName:
            table.address = withoutTrailingBlanks(value);
            table.nameOverridden = true;
            return 0;
        default:
            return std::nullopt;
    }
}

// The table store's properties: full rebuild, and the BLOB properties of memo (0 for none).
// BLOB_GET_PROP reads any other property of a BLOB as "0".
std::string storeProperty(TableObject& table, uint32_t memo, int32_t property, bool blobOperation) {
    if (property == kFullBuild) return flag(table.fullBuild);
    std::vector<MemoDescriptor>& memos = table.definition.memos;
    if (memo == 0 || memo > memos.size() || (memos[memo - 1].flags & kMemoBlob) == 0) return {};
    return readBlobProperty(memos[memo - 1], property).value_or(blobOperation ? "0" : "");
}

int setStoreProperty(TableObject& table, uint32_t memo, int32_t property,
                     const std::string& value) {
    if (property == kFullBuild) {
        table.fullBuild = decimalNumber(value) != 0;
        return 0;
    }
    std::vector<MemoDescriptor>& memos = table.definition.memos;
    if (memo == 0 || memo > memos.size() || (memos[memo - 1].flags & kMemoBlob) == 0) return 0;
    return writeBlobProperty(memos[memo - 1], property, value);
}

uint32_t memoOfIndex(int32_t index) {
    return index < 0 ? static_cast<uint32_t>(-int64_t{index}) : static_cast<uint32_t>(index);
}

}  // namespace

int setProperty(TableObject& table, int32_t index, const std::string& property,
                const std::string& value) {
    int32_t number = decimalNumber(property);
    std::optional<int> result;
    if (index < 0) {
        result = setMemoProperty(table, memoOfIndex(index), number, value);
    } else if (index > 0) {
        result = setFieldProperty(table, static_cast<uint32_t>(index), number, value);
    } else {
        result = setTableProperty(table, number, value);
    }
    if (result) return *result;
    return setStoreProperty(table, index < 0 ? memoOfIndex(index) : 0, number, value);
}

bool isDriverChange(int32_t index, const std::string& property) {
    return index == 0 && decimalNumber(property) == kDriverChange;
}

int getProperty(FileControlBlock& block, TableObject& table, int32_t index,
                const std::string& property, std::string* result) {
    int32_t number = decimalNumber(property);
    std::optional<std::string> answer;
    if (number == kBlobFile || index < 0) {
        answer = memoProperty(block, table, memoOfIndex(index), number);
    } else if (number == kSupportsOperation || number == kSupportsType) {
        answer = flag(inSupportList(index, number == kSupportsType));
    } else if (index > 0 && number == kKeyBlock) {
        auto key = static_cast<uint32_t>(index);
        answer = key <= block.keyCount && block.keys != nullptr
                     ? handleText(block.keys[key - 1], HandleKind::keyControlBlock)
                     : std::string();
    } else if (index > 0) {
        answer = fieldProperty(table, static_cast<uint32_t>(index), number);
    } else {
        answer = tableProperty(block, table, number);
    }
    uint32_t memo = index < 0 ? memoOfIndex(index) : 0;
    *result = answer ? *answer : storeProperty(table, memo, number, false);
    return 0;
}

int setBlobProperty(TableObject& table, uint32_t memo, const std::string& property,
                    const std::string& value) {
    int32_t number = decimalNumber(property);
    if (std::optional<int> result = setMemoProperty(table, memo, number, value)) return *result;
    return setStoreProperty(table, memo, number, value);
}

int getBlobProperty(FileControlBlock& block, TableObject& table, uint32_t memo,
                    const std::string& property, std::string* result) {
    int32_t number = decimalNumber(property);
    std::optional<std::string> answer = memoProperty(block, table, memo, number);
    *result = answer ? *answer : storeProperty(table, memo, number, true);
    return 0;
}

int getKeyProperty(FileControlBlock& block, const KeyDescriptor& key, int32_t component,
                   const std::string& property, std::string* result) {
    *result = keyProperty(block, key, component, decimalNumber(property)).value_or(std::string());
    return 0;
}

void dropPropertyHandles(FileControlBlock& block) {
    FileLayerServices& files = fileLayer();
    files.dropHandle(&block);
    if (block.recordBuffer != nullptr) files.dropHandle(block.recordBuffer);
    if (block.fields != nullptr) files.dropHandle(block.fields);
    for (uint8_t k = 0; block.keys != nullptr && k < block.keyCount; ++k) {
        if (block.keys[k] != nullptr) files.dropHandle(block.keys[k]);
    }
    if (block.tableObject == nullptr) return;
    for (const MemoDescriptor& memo : block.tableObject->definition.memos) {
        files.dropHandle(&memo.content);
    }
}

}  // namespace vellum
