// The typed table wrapper: a table declared in C++ (fields, keys, memos, attributes, name,
// owner and options) from which the wrapper makes the file and key control blocks, and whose
// statements call the driver entry through the file layer. The viewer, the tools and most tests
// use it; tests of the driver entry itself call the entry directly.
//
//   TableDeclaration thes("QLMThes");
//   thes.name("QLMThes.vlm").attributes(kAttributeCreate | kAttributeThread)
//       .decimal("QLM:TermID", 5, 0).string("QLM:Term", 50)
//       .key("QLM:KeyTermID", kKeyPrimary | kKeyNoCase | kKeyOpt, {1});
//   Table table(thes);
//   if (table.open(0x42) != 0) ... table.errorCode() ...
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vellum/control_blocks.h"

namespace vellum {

struct FieldSpec {
    std::string label;
    uint8_t type = 0;
    uint32_t elementSize = 0;
    uint8_t places = 0;
    std::vector<uint32_t> dimensions;
    std::optional<std::string> externalName;
    std::optional<std::string> picture;
    uint32_t memberCount = 0;     // GROUP: how many of the following fields belong to it
    uint32_t overField = 0;       // number (from 1) of the field this one lies over, 0 for none
};

struct KeySpec {
    std::string label;
    std::optional<std::string> externalName;
    uint32_t attributes = 0;
    std::vector<int32_t> components;  // field numbers from 1; negative for descending
};

struct MemoSpec {
    std::string label;
    std::optional<std::string> externalName;
    uint32_t size = 0;
    uint8_t flags = 0;
};

// A table's declaration. Fields are laid out one after the other in declaration order (a GROUP's
// members inside it, a field declared over another at that field's offset); field numbers count
// from 1 in that order.
class TableDeclaration {
public:
    explicit TableDeclaration(std::string label);

    TableDeclaration& name(std::string fileName);  // the NAME: file name and optional "\!" table
    TableDeclaration& owner(std::string password);
    TableDeclaration& options(std::string driverOptions);
    TableDeclaration& attributes(uint8_t bits);

    TableDeclaration& field(FieldSpec item);
    TableDeclaration& byte(std::string label) { return number(std::move(label), kByte, 1); }
    TableDeclaration& shortField(std::string label) { return number(std::move(label), kShort, 2); }
    TableDeclaration& longField(std::string label) { return number(std::move(label), kLong, 4); }
    TableDeclaration& real(std::string label) { return number(std::move(label), kReal, 8); }
    TableDeclaration& decimal(std::string label, unsigned digits, unsigned places);
    TableDeclaration& string(std::string label, uint32_t length);
    TableDeclaration& cstring(std::string label, uint32_t length);
    TableDeclaration& pstring(std::string label, uint32_t length);
    // A GROUP of the next memberCount fields.
    TableDeclaration& group(std::string label, uint32_t memberCount);
    TableDeclaration& key(std::string label, uint32_t attributes, std::vector<int32_t> components,
                          std::optional<std::string> externalName = std::nullopt);
    TableDeclaration& memo(std::string label, uint32_t size, uint8_t flags = 0);

    const std::string& label() const { return label_; }
    const std::vector<FieldSpec>& fields() const { return fields_; }
    const std::vector<KeySpec>& keys() const { return keys_; }
    const std::vector<MemoSpec>& memos() const { return memos_; }
    const std::optional<std::string>& fileName() const { return name_; }
    const std::optional<std::string>& ownerText() const { return owner_; }
    const std::optional<std::string>& optionsText() const { return options_; }
    uint8_t attributeBits() const { return attributes_; }

private:
    TableDeclaration& number(std::string label, uint8_t type, uint32_t size);

    std::string label_;
    std::optional<std::string> name_;
    std::optional<std::string> owner_;
    std::optional<std::string> options_;
    uint8_t attributes_ = 0;
    std::vector<FieldSpec> fields_;
    std::vector<KeySpec> keys_;
    std::vector<MemoSpec> memos_;
};

// One instance of a declared table: its record buffer, its control blocks, and the statements.
// Each statement returns the call's ERRORCODE (0 on success); errorCode(), fileErrorCode() and
// fileError() read the thread's error state after it. The destructor hands the instance to
// DESTROY.
class Table {
public:
    explicit Table(const TableDeclaration& declaration);
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // The record buffer and its fields (numbers from 1).
    uint8_t* record() { return record_.data(); }
    uint32_t recordLength() const { return static_cast<uint32_t>(record_.size()); }
    uint32_t fieldNumber(const std::string& label) const;  // 0 when there is none
    std::string text(uint32_t field) const;                // a string field, trailing blanks cut
    void setText(uint32_t field, const std::string& value);
    int32_t longValue(uint32_t field) const;
    void setLong(uint32_t field, int32_t value);
    int64_t decimalValue(uint32_t field) const;             // a DECIMAL with 0 places
    void setDecimal(uint32_t field, int64_t value);

    // The control blocks, for calls the wrapper does not offer.
    FileControlBlock* block() { return &block_; }
    KeyControlBlock* key(unsigned number);                  // from 1
    KeyControlBlock* key(const std::string& label);

    // Statements.
    int open(int mode = 0x42);
    int share(int mode = 0x42);
    int create();
    int close();
    int remove();
    int rename(const std::string& target);
    int copy(const std::string& target);
    int empty();
    std::string name();
    std::string send(const std::string& command);
    int clear(int32_t fill = 0);
    int set(KeyControlBlock* key);       // SETkey, or SETfile for none
    int setFromBuffer(KeyControlBlock* key);  // SETkeykey
    int next();
    int previous();
    int skip(int32_t count);             // SKIP
    int setPointer(KeyControlBlock* key, uint32_t pointer);  // SETkeyptr, or SETfileptr for none
    // POSITIONkey, or POSITIONfile for none: the position string.
    std::string position(KeyControlBlock* key);
    int reset(KeyControlBlock* key, const std::string& position);  // RESETkey, or RESETfile
    int get(KeyControlBlock* key);       // GETfilekey
    int add();
    int put();
    int erase();                         // DELETE
    int records(uint32_t* count);        // RECORDSfile
    int lock();
    int unlock();
    int logout();
    int commit();
    int rollback();
    // Any operation: texts are pushed in the order given, so the first one is taken first.
    int32_t call(int32_t operation, std::vector<ArgumentSlot> slots = {},
                 std::vector<std::string> texts = {});

    int errorCode() const;
    std::string fileErrorCode() const;
    std::string fileError() const;
    std::string resultText() const;

private:
    // One statement without arguments beyond an optional key; its ERRORCODE.
    int statement(int32_t operation, KeyControlBlock* key = nullptr);
    const FieldDeclaration* fieldAt(uint32_t field) const;  // null for a number out of range

    // Everything the control blocks point into is made once by the constructor and never
    // moves: the vectors are not resized afterwards and the deques keep their elements in place.
    std::vector<uint8_t> record_;
    std::vector<FieldDeclaration> fields_;              // entry 0 is the record group
    std::deque<std::vector<uint32_t>> dimensions_;
    std::vector<MemoDeclaration> memos_;
    std::vector<std::unique_ptr<KeyControlBlock>> keys_;
    std::vector<KeyControlBlock*> keyPointers_;
    std::deque<std::vector<int32_t>> components_;
    std::deque<std::string> texts_;                     // the texts the blocks point into
    std::vector<std::string> labels_;                   // field labels, for fieldNumber
    FileControlBlock block_;
};

}  // namespace vellum
