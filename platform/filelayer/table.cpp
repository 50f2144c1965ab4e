// The typed table wrapper: lays out a C++ table declaration as a record buffer with field, memo
// and key declarations, builds the file and key control blocks over them, and turns each
// statement into one call of the driver entry through the file layer.
#include "filelayer/table.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "driver/driver_entry.h"
#include "filelayer/file_layer.h"
#include "vellum/operation_codes.h"

namespace vellum {

namespace {

// The largest record buffer a declaration gets. The engine stores at most 15000 bytes of a
// record; fields over others may reach further, but a layout beyond this is no table's.
constexpr uint64_t kMaxRecordLength = uint64_t{64} << 20;

uint64_t elementCountOf(const std::vector<uint32_t>& dimensions) {
    uint64_t count = 1;
    for (uint32_t d : dimensions) count *= d;
    return count;
}

// Lays out the fields [first, end) of one level from offset start, one after the other; a field
// over another takes that field's offset and does not advance the level. A GROUP without a
// declared size takes the span of its members. Returns the end of the level; highest receives
// the end of the furthest field. Entry i + 1 of out belongs to field i.
uint64_t layoutLevel(const std::vector<FieldSpec>& items, std::vector<FieldDeclaration>& out,
                     size_t first, size_t end, uint64_t start, uint64_t& highest) {
    uint64_t cursor = start;
    uint64_t levelEnd = start;
    size_t i = first;
    while (i < end) {
        const FieldSpec& item = items[i];
        FieldDeclaration& field = out[i + 1];
        bool over = item.overField != 0 && item.overField <= i;
        uint64_t offset = over ? out[item.overField].offset : cursor;
        uint64_t elementSize = item.elementSize;
        size_t next = i + 1;
        if (item.type == kGroup) {
            size_t members = std::min<size_t>(item.memberCount, end - i - 1);
            next = i + 1 + members;
            uint64_t membersEnd = layoutLevel(items, out, i + 1, next, offset, highest);
            if (elementSize == 0) elementSize = membersEnd - offset;
        }
        uint64_t size = elementSize * elementCountOf(item.dimensions);
        field.offset = static_cast<uint32_t>(offset);
        field.elementSize = static_cast<uint32_t>(elementSize);
        if (!over) cursor = offset + size;
        levelEnd = std::max(levelEnd, offset + size);
        highest = std::max(highest, offset + size);
        i = next;
    }
    return levelEnd;
}

bool sameLabel(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

uint8_t countByte(size_t count) {
    return static_cast<uint8_t>(std::min<size_t>(count, std::numeric_limits<uint8_t>::max()));
}

}  // namespace

// TableDeclaration ---------------------------------------------------------------------------

TableDeclaration::TableDeclaration(std::string label) : label_(std::move(label)) {}

TableDeclaration& TableDeclaration::name(std::string fileName) {
    name_ = std::move(fileName);
    return *this;
}

TableDeclaration& TableDeclaration::owner(std::string password) {
    owner_ = std::move(password);
    return *this;
}

TableDeclaration& TableDeclaration::options(std::string driverOptions) {
    options_ = std::move(driverOptions);
    return *this;
}

TableDeclaration& TableDeclaration::attributes(uint8_t bits) {
    attributes_ = bits;
    return *this;
}

TableDeclaration& TableDeclaration::field(FieldSpec item) {
    fields_.push_back(std::move(item));
    return *this;
}

TableDeclaration& TableDeclaration::number(std::string label, uint8_t type, uint32_t size) {
    FieldSpec item;
    item.label = std::move(label);
    item.type = type;
    item.elementSize = size;
    return field(std::move(item));
}

TableDeclaration& TableDeclaration::decimal(std::string label, unsigned digits, unsigned places) {
    // Packed decimal: a sign half-byte and one half-byte per digit.
    FieldSpec item;
    item.label = std::move(label);
    item.type = kDecimal;
    item.elementSize = digits / 2 + 1;
    item.places = static_cast<uint8_t>(places);
    return field(std::move(item));
}

TableDeclaration& TableDeclaration::string(std::string label, uint32_t length) {
    return number(std::move(label), kString, length);
}

TableDeclaration& TableDeclaration::cstring(std::string label, uint32_t length) {
    return number(std::move(label), kCString, length);
}

TableDeclaration& TableDeclaration::pstring(std::string label, uint32_t length) {
    return number(std::move(label), kPString, length);
}

TableDeclaration& TableDeclaration::group(std::string label, uint32_t memberCount) {
    FieldSpec item;
    item.label = std::move(label);
    item.type = kGroup;
    item.memberCount = memberCount;
    return field(std::move(item));
}

TableDeclaration& TableDeclaration::key(std::string label, uint32_t attributes,
                                        std::vector<int32_t> components,
                                        std::optional<std::string> externalName) {
    keys_.push_back({std::move(label), std::move(externalName), attributes, std::move(components)});
    return *this;
}

TableDeclaration& TableDeclaration::memo(std::string label, uint32_t size, uint8_t flags) {
    memos_.push_back({std::move(label), std::nullopt, size, flags});
    return *this;
}

// Table: the blocks ------------------------------------------------------------------------

Table::Table(const TableDeclaration& declaration) {
    auto keep = [this](const std::optional<std::string>& text) -> DeclaredText {
        if (!text) return {};
        texts_.push_back(*text);
        return {texts_.back().c_str(), -1};
    };

    const std::vector<FieldSpec>& items = declaration.fields();
    fields_.resize(items.size() + 1);
    uint64_t highest = 0;
    layoutLevel(items, fields_, 0, items.size(), 0, highest);
    // A layout too large for a record gets no buffer, and entry 0 that is no GROUP, so that the
    // engine refuses every operation with 75 instead of the wrapper allocating without bound.
    bool tooLarge = highest > kMaxRecordLength;
    record_.assign(tooLarge ? 0 : static_cast<size_t>(highest), 0);

    FieldDeclaration& recordGroup = fields_[0];
    recordGroup.type = tooLarge ? 0 : kGroup;
    recordGroup.offset = 0;
    recordGroup.elementSize = static_cast<uint32_t>(record_.size());
    recordGroup.memberCount = static_cast<uint32_t>(items.size());
    recordGroup.label = keep(declaration.label());

    labels_.reserve(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        const FieldSpec& item = items[i];
        FieldDeclaration& field = fields_[i + 1];
        field.type = item.type;
        field.places = item.places;
        field.memberCount = item.type == kGroup ? item.memberCount : 0;
        field.label = keep(item.label);
        field.externalName = keep(item.externalName);
        field.picture = keep(item.picture);
        if (!item.dimensions.empty()) {
            dimensions_.push_back(item.dimensions);
            field.dimensions = dimensions_.back().data();
            field.dimensionCount = countByte(item.dimensions.size());
        }
        labels_.push_back(item.label);
    }

    // A fresh record: strings blank, everything else zero.
    for (size_t i = 0; i < items.size() && !tooLarge; ++i) {
        const FieldSpec& item = items[i];
        if (item.type != kString || (item.overField != 0 && item.overField <= i)) continue;
        uint64_t size = uint64_t{fields_[i + 1].elementSize} * elementCountOf(item.dimensions);
        std::memset(record_.data() + fields_[i + 1].offset, ' ', static_cast<size_t>(size));
    }

    memos_.reserve(declaration.memos().size());
    for (const MemoSpec& item : declaration.memos()) {
        memos_.push_back({keep(item.label), keep(item.externalName), item.size, item.flags});
    }

    keys_.reserve(declaration.keys().size());
    keyPointers_.reserve(declaration.keys().size());
    for (const KeySpec& item : declaration.keys()) {
        auto key = std::make_unique<KeyControlBlock>();
        key->name = keep(item.externalName);
        key->label = keep(item.label);
        key->attributes = item.attributes;
        if (!item.components.empty()) {
            components_.push_back(item.components);
            key->components = components_.back().data();
            key->componentCount = countByte(item.components.size());
        }
        key->file = &block_;
        keyPointers_.push_back(key.get());
        keys_.push_back(std::move(key));
    }

    block_.blockSize = sizeof(FileControlBlock);
    block_.driverEntry = &driverEntry;
    block_.name = keep(declaration.fileName());
    block_.driverOptions = keep(declaration.optionsText());
    block_.owner = keep(declaration.ownerText());
    block_.recordBuffer = record_.empty() ? nullptr : record_.data();
    block_.recordLength = static_cast<uint32_t>(record_.size());
    block_.fields = fields_.data();
    block_.keys = keyPointers_.empty() ? nullptr : keyPointers_.data();
    block_.memos = memos_.empty() ? nullptr : memos_.data();
    block_.keyCount = countByte(keyPointers_.size());
    block_.memoCount = countByte(memos_.size());
    block_.attributes = declaration.attributeBits();
}

Table::~Table() {
    ArgumentSlot slots[kMinimumSlots] = {};
    callDriver(kDESTROY, &block_, slots);
}

KeyControlBlock* Table::key(unsigned number) {
    return number >= 1 && number <= keys_.size() ? keys_[number - 1].get() : nullptr;
}

KeyControlBlock* Table::key(const std::string& label) {
    for (const auto& key : keys_) {
        if (key->label.text != nullptr && sameLabel(key->label.text, label)) return key.get();
    }
    return nullptr;
}

// Table: the record buffer -----------------------------------------------------------------

uint32_t Table::fieldNumber(const std::string& label) const {
    for (size_t i = 0; i < labels_.size(); ++i) {
        if (sameLabel(labels_[i], label)) return static_cast<uint32_t>(i + 1);
    }
    return 0;
}

// A field the accessors may touch: its number exists and the bytes they use for its type lie
// inside the record.
const FieldDeclaration* Table::fieldAt(uint32_t field) const {
    if (field < 1 || field >= fields_.size()) return nullptr;
    const FieldDeclaration& declared = fields_[field];
    uint64_t width = declared.elementSize;
    switch (declared.type) {
        case kByte: width = 1; break;
        case kShort: case kUShort: width = 2; break;
        case kDate: case kTime: case kLong: case kULong: width = 4; break;
        default: break;
    }
    return uint64_t{declared.offset} + width <= record_.size() ? &declared : nullptr;
}

std::string Table::text(uint32_t field) const {
    const FieldDeclaration* declared = fieldAt(field);
    if (declared == nullptr) return {};
    const char* at = reinterpret_cast<const char*>(record_.data()) + declared->offset;
    size_t size = declared->elementSize;
    switch (declared->type) {
        case kString: {
            std::string value(at, size);
            size_t end = value.find_last_not_of(' ');
            value.erase(end == std::string::npos ? 0 : end + 1);
            return value;
        }
        case kCString:
            return std::string(at, strnlen(at, size));
        case kPString: {
            if (size == 0) return {};
            size_t used = std::min<size_t>(static_cast<unsigned char>(at[0]), size - 1);
            return std::string(at + 1, used);
        }
        default:
            return {};
    }
}

void Table::setText(uint32_t field, const std::string& value) {
    const FieldDeclaration* declared = fieldAt(field);
    if (declared == nullptr) return;
    char* at = reinterpret_cast<char*>(record_.data()) + declared->offset;
    size_t size = declared->elementSize;
    switch (declared->type) {
        case kString:
            std::memset(at, ' ', size);
            std::memcpy(at, value.data(), std::min(size, value.size()));
            break;
        case kCString:
            if (size == 0) break;
            std::memset(at, 0, size);
            std::memcpy(at, value.data(), std::min(size - 1, value.size()));
            break;
        case kPString: {
            if (size == 0) break;
            size_t used = std::min({size - 1, value.size(), size_t{255}});
            std::memset(at, 0, size);
            at[0] = static_cast<char>(used);
            std::memcpy(at + 1, value.data(), used);
            break;
        }
        default:
            break;
    }
}

int32_t Table::longValue(uint32_t field) const {
    const FieldDeclaration* declared = fieldAt(field);
    if (declared == nullptr) return 0;
    const uint8_t* at = record_.data() + declared->offset;
    switch (declared->type) {
        case kByte:
            return at[0];
        case kShort: {
            int16_t value;
            std::memcpy(&value, at, sizeof value);
            return value;
        }
        case kUShort: {
            uint16_t value;
            std::memcpy(&value, at, sizeof value);
            return value;
        }
        case kDate: case kTime: case kLong: case kULong: {
            int32_t value;
            std::memcpy(&value, at, sizeof value);
            return value;
        }
        default:
            return 0;
    }
}

void Table::setLong(uint32_t field, int32_t value) {
    const FieldDeclaration* declared = fieldAt(field);
    if (declared == nullptr) return;
    uint8_t* at = record_.data() + declared->offset;
    switch (declared->type) {
        case kByte:
            at[0] = static_cast<uint8_t>(value);
            break;
        case kShort: case kUShort: {
            auto narrow = static_cast<uint16_t>(value);
            std::memcpy(at, &narrow, sizeof narrow);
            break;
        }
        case kDate: case kTime: case kLong: case kULong:
            std::memcpy(at, &value, sizeof value);
            break;
        default:
            break;
    }
}

// Packed decimal: the high half of the first byte is the sign (0 positive, otherwise negative),
// then the digits of the magnitude, most significant first, two to a byte.
int64_t Table::decimalValue(uint32_t field) const {
    const FieldDeclaration* declared = fieldAt(field);
    if (declared == nullptr || declared->type != kDecimal || declared->elementSize == 0) return 0;
    const uint8_t* at = record_.data() + declared->offset;
    size_t digits = std::min<size_t>(2 * size_t{declared->elementSize} - 1, 18);
    size_t skipped = 2 * size_t{declared->elementSize} - 1 - digits;
    int64_t value = 0;
    for (size_t d = skipped; d < skipped + digits; ++d) {
        size_t nibble = d + 1;  // half-byte 0 is the sign
        uint8_t byte = at[nibble / 2];
        int digit = nibble % 2 == 0 ? byte >> 4 : byte & 0x0F;
        value = value * 10 + std::min(digit, 9);
    }
    return (at[0] >> 4) != 0 ? -value : value;
}

void Table::setDecimal(uint32_t field, int64_t value) {
    const FieldDeclaration* declared = fieldAt(field);
    if (declared == nullptr || declared->type != kDecimal || declared->elementSize == 0) return;
    uint8_t* at = record_.data() + declared->offset;
    size_t size = declared->elementSize;
    std::memset(at, 0, size);
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    // Fill from the last half-byte back, leaving half-byte 0 for the sign.
    for (size_t nibble = 2 * size - 1; nibble >= 1 && magnitude != 0; --nibble) {
        auto digit = static_cast<uint8_t>(magnitude % 10);
        magnitude /= 10;
        at[nibble / 2] |= nibble % 2 == 0 ? static_cast<uint8_t>(digit << 4) : digit;
    }
    if (value < 0) at[0] |= 0xF0;
}

// Table: statements ------------------------------------------------------------------------

int32_t Table::call(int32_t operation, std::vector<ArgumentSlot> slots,
                    std::vector<std::string> texts) {
    return runStatement(&block_, operation, std::move(slots), texts);
}

int Table::statement(int32_t operation, KeyControlBlock* key) {
    if (key != nullptr) {
        call(operation, {reinterpret_cast<ArgumentSlot>(key)});
    } else {
        call(operation);
    }
    return errorCode();
}

int Table::open(int mode) {
    call(kOPEN, {static_cast<ArgumentSlot>(static_cast<uint32_t>(mode))});
    return errorCode();
}

int Table::share(int mode) {
    call(kSHARE, {static_cast<ArgumentSlot>(static_cast<uint32_t>(mode))});
    return errorCode();
}

int Table::create() { return statement(kCREATE); }
int Table::close() { return statement(kCLOSE); }
int Table::remove() { return statement(kREMOVE); }

int Table::rename(const std::string& target) {
    call(kRENAME, {}, {target});
    return errorCode();
}

int Table::copy(const std::string& target) {
    call(kCOPY, {}, {target});
    return errorCode();
}

int Table::empty() { return statement(kEMPTY); }

std::string Table::name() {
    call(kNAME);
    return vellum::resultText();
}

std::string Table::send(const std::string& command) {
    call(kSEND, {}, {command});
    return vellum::resultText();
}

int Table::clear(int32_t fill) {
    call(kCLEAR, {static_cast<ArgumentSlot>(static_cast<uint32_t>(fill))});
    return errorCode();
}

int Table::set(KeyControlBlock* key) {
    return key != nullptr ? statement(kSETkey, key) : statement(kSETfile);
}

int Table::setFromBuffer(KeyControlBlock* key) {
    // SETkeykey always carries its key slot, even an empty one.
    call(kSETkeykey, {reinterpret_cast<ArgumentSlot>(key)});
    return errorCode();
}

int Table::next() { return statement(kNEXT); }
int Table::previous() { return statement(kPREVIOUS); }

int Table::skip(int32_t count) {
    call(kSKIP, {static_cast<ArgumentSlot>(static_cast<uint32_t>(count))});
    return errorCode();
}

int Table::setPointer(KeyControlBlock* key, uint32_t pointer) {
    if (key != nullptr) {
        call(kSETkeyptr, {reinterpret_cast<ArgumentSlot>(key), pointer});
    } else {
        call(kSETfileptr, {pointer});
    }
    return errorCode();
}

std::string Table::position(KeyControlBlock* key) {
    if (key != nullptr) {
        call(kPOSITIONkey, {reinterpret_cast<ArgumentSlot>(key)});
    } else {
        call(kPOSITIONfile);
    }
    return vellum::resultText();
}

int Table::reset(KeyControlBlock* key, const std::string& position) {
    if (key != nullptr) {
        call(kRESETkey, {reinterpret_cast<ArgumentSlot>(key)}, {position});
    } else {
        call(kRESETfile, {}, {position});
    }
    return errorCode();
}

int Table::get(KeyControlBlock* key) {
    call(kGETfilekey, {reinterpret_cast<ArgumentSlot>(key)});
    return errorCode();
}

int Table::add() { return statement(kADD); }
int Table::put() { return statement(kPUT); }
int Table::erase() { return statement(kDELETE); }

int Table::records(uint32_t* count) {
    int32_t value = call(kRECORDSfile);
    int error = errorCode();
    if (error == 0 && count != nullptr) *count = static_cast<uint32_t>(value);
    return error;
}

int Table::lock() { return statement(kLOCKfile); }
int Table::unlock() { return statement(kUNLOCK); }
int Table::logout() { return statement(kLOGOUT); }
int Table::commit() { return statement(kCOMMIT); }
int Table::rollback() { return statement(kROLLBACK); }

int Table::errorCode() const { return vellum::errorCode(); }
std::string Table::fileErrorCode() const { return vellum::fileErrorCode(); }
std::string Table::fileError() const { return vellum::fileError(); }
std::string Table::resultText() const { return vellum::resultText(); }

}  // namespace vellum
