// A hand-made declaration for calling the driver entry directly through the file layer: a file
// control block whose field list holds the record GROUP and two fields (LONG T:Id at 0,
// STRING(20) T:Name at 4), key control blocks, a record buffer, and helpers that push texts,
// call the entry and read the calling thread's error state.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "driver/driver_entry.h"
#include "filelayer/file_layer.h"
#include "tablestore/table_object.h"
#include "vellum/control_blocks.h"
#include "vellum/operation_codes.h"

namespace vellum::test {

// One declared key: its label, field numbers (from 1) and attributes.
struct KeyShape {
    std::string label;
    std::vector<int32_t> components;
    uint32_t attributes = 0;
};

// A KEY on T:Id and a dynamic INDEX (no components).
inline std::vector<KeyShape> standardKeys() {
    return {{"T:IdKey", {1}, 0}, {"T:Dynamic", {}, kKeyIndex}};
}

// The outcome of one call: the returned value, ERRORCODE after it, and the result text.
struct CallResult {
    int32_t value = 0;
    int error = 0;
    std::string text;
};

class DriverTable {
public:
    static constexpr uint32_t kRecordLength = 24;

    explicit DriverTable(std::string name, uint8_t attributes = kAttributeCreate,
                         std::vector<KeyShape> keys = standardKeys())
        : name_(std::move(name)), keyShapes_(std::move(keys)), record_(kRecordLength, 0) {
        FieldDeclaration group;
        group.type = kGroup;
        group.elementSize = kRecordLength;
        group.memberCount = 2;
        fields_[0] = group;
        fields_[1].type = kLong;
        fields_[1].offset = 0;
        fields_[1].elementSize = 4;
        fields_[1].label = {"T:Id", -1};
        fields_[2].type = kString;
        fields_[2].offset = 4;
        fields_[2].elementSize = 20;
        fields_[2].label = {"T:Name", -1};
        for (const KeyShape& shape : keyShapes_) {
            auto key = std::make_unique<KeyControlBlock>();
            key->label = {shape.label.c_str(), -1};
            key->attributes = shape.attributes;
            key->componentCount = static_cast<uint8_t>(shape.components.size());
            key->components = shape.components.empty() ? nullptr : shape.components.data();
            key->file = &block_;
            keyPointers_.push_back(key.get());
            keys_.push_back(std::move(key));
        }
        block_.driverEntry = &driverEntry;
        block_.name = {name_.c_str(), -1};
        block_.recordBuffer = record_.data();
        block_.recordLength = kRecordLength;
        block_.fields = fields_;
        block_.keys = keyPointers_.empty() ? nullptr : keyPointers_.data();
        block_.keyCount = static_cast<uint8_t>(keyPointers_.size());
        block_.attributes = attributes;
    }

    // Gives the table object and the status record back, as the file layer does when it is
    // done with a control block.
    ~DriverTable() { destroy(); }

    DriverTable(const DriverTable&) = delete;
    DriverTable& operator=(const DriverTable&) = delete;

    void destroy() {
        if (block_.tableObject != nullptr || block_.statusRecord != nullptr) {
            ArgumentSlot slots[2] = {0, 0};
            callDriver(kDESTROY, &block_, slots);
        }
    }

    FileControlBlock& block() { return block_; }
    KeyControlBlock& key(size_t i) { return *keys_[i]; }
    TableObject* table() const { return block_.tableObject; }
    uint32_t state() const { return block_.tableObject != nullptr ? block_.tableObject->stateWord : 0; }
    std::vector<uint8_t>& record() { return record_; }

    // The NAME of the declaration: a zero-terminated text, a counted one, or none.
    void setName(std::string name) {
        name_ = std::move(name);
        block_.name = {name_.c_str(), -1};
    }
    void setCountedName(std::string name) {
        name_ = std::move(name);
        block_.name = {name_.c_str(), static_cast<int32_t>(name_.size())};
    }
    void setAbsentName() { block_.name = {}; }

    // Clears the thread's error state, pushes the texts in order and calls the entry.
    CallResult call(int32_t operation, std::initializer_list<ArgumentSlot> slots = {},
                    std::initializer_list<std::string> texts = {}) {
        return callWith(operation, std::vector<ArgumentSlot>(slots), texts);
    }

    // The same for an operation whose first slot is a key control block.
    CallResult callKey(int32_t operation, KeyControlBlock& key,
                       std::initializer_list<ArgumentSlot> more = {},
                       std::initializer_list<std::string> texts = {}) {
        std::vector<ArgumentSlot> arguments{reinterpret_cast<ArgumentSlot>(&key)};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return callWith(operation, std::move(arguments), texts);
    }

    // CREATE, then OPEN in a mode; the first error met, or 0.
    int createAndOpen(int mode = 0x42) {
        if (int error = call(kCREATE).error; error != 0) return error;
        return call(kOPEN, {static_cast<ArgumentSlot>(mode)}).error;
    }

private:
    // call and callKey: the arguments are followed by four empty slots.
    CallResult callWith(int32_t operation, std::vector<ArgumentSlot> arguments,
                        std::initializer_list<std::string> texts) {
        arguments.resize(arguments.size() + 4, 0);
        clearErrorState();
        for (const std::string& text : texts) pushText(text);
        CallResult result;
        result.value = callDriver(operation, &block_, arguments.data());
        result.error = errorCode();
        result.text = resultText();
        return result;
    }

    std::string name_;
    std::vector<KeyShape> keyShapes_;
    std::vector<uint8_t> record_;
    FieldDeclaration fields_[3];
    std::vector<std::unique_ptr<KeyControlBlock>> keys_;
    std::vector<KeyControlBlock*> keyPointers_;
    FileControlBlock block_;
};

}  // namespace vellum::test
