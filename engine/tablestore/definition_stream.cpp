// The stored definition of a table: encoding the descriptors as the definition stream, storing
// it in definition blocks, comparing a stored stream with declared descriptors and loading one
// into fresh descriptors. Reading never leaves the stored bytes: whatever lies beyond them, or
// in a block that is missing, reads as zero bytes.
#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "pagestore/page_file.h"
#include "tablestore/table_definition.h"
#include "vellum/byte_order.h"
#include "vellum/file_layer_services.h"

namespace vellum {

namespace {

constexpr uint16_t kNewestVersion = 2;
constexpr int kInsufficientMemory = 8;
// A key control block declares at most 255 components.
constexpr unsigned kMaxComponents = 255;
constexpr const char* kNewerVersionMessage =
    "You are attempting to open a newer Vellum file format than the driver supports";

bool isDecimal(uint8_t type) { return type == kDecimal || type == kPDecimal; }
bool isString(uint8_t type) { return type == kString || type == kCString || type == kPString; }

int componentItem(unsigned key, unsigned component) {
    return static_cast<int>((key + 1) * 1000 + component + 1);
}

std::array<uint8_t, 7> blockKey(const TableNumber& table, uint16_t number) {
    std::array<uint8_t, 7> key = {table[0], table[1], table[2], table[3], kRecordTypeDefinition};
    store16le(key.data() + 5, number);
    return key;
}

// Appends the elementary items of the stream.
class StreamWriter {
public:
    void byte(uint8_t value) { bytes_.push_back(value); }
    void word(uint32_t value) {
        uint8_t bytes[2];
        store16le(bytes, static_cast<uint16_t>(value));
        bytes_.insert(bytes_.end(), bytes, bytes + 2);
    }
    // A text ends at its first zero byte, which would otherwise end it when read back.
    void text(const std::optional<std::string>& value) {
        if (!value) {
            byte(0x00);
            byte(0x01);
            return;
        }
        size_t length = std::min(value->size(), value->find('\0'));
        if (length == 0) {
            byte(0x00);
            byte(0x00);
            return;
        }
        bytes_.insert(bytes_.end(), value->begin(), value->begin() + static_cast<long>(length));
        byte(0x00);
    }
    std::vector<uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};

// Reads the stream block by block: each block is taken as 512 bytes, its stored bytes followed
// by zeros, and a missing block is 512 zeros.
class StreamReader {
public:
    StreamReader(PageFile& file, const TableNumber& table) : file_(file), table_(table) {}

    uint8_t byte() {
        if (position_ == kDefinitionBlockSize) fetch();
        return block_[position_++];
    }
    uint16_t word() {
        const uint8_t bytes[2] = {byte(), byte()};  // a braced list reads them in order
        return load16le(bytes);
    }
    std::optional<std::string> text() {
        uint8_t first = byte();
        if (first == 0) {
            // 00 01 is an absent text; 00 00 (or anything else a damaged stream holds) empty.
            if (byte() == 0x01) return std::nullopt;
            return std::string();
        }
        std::string value(1, static_cast<char>(first));
        for (uint8_t next = byte(); next != 0; next = byte()) value.push_back(static_cast<char>(next));
        return value;
    }

private:
    void fetch() {
        block_.fill(0);
        std::array<uint8_t, 7> key = blockKey(table_, nextBlock_++);
        if (const Entry* entry = file_.findEntry(key)) {
            std::span<const uint8_t> data = entry->data();
            std::memcpy(block_.data(), data.data(), std::min<size_t>(data.size(), block_.size()));
        }
        position_ = 0;
    }

    PageFile& file_;
    TableNumber table_;
    uint16_t nextBlock_ = 0;
    std::array<uint8_t, kDefinitionBlockSize> block_{};
    unsigned position_ = kDefinitionBlockSize;
};

int declarationError(std::string_view kind, int item, std::string_view attribute, int reason = 0,
                     std::string_view message = {}) {
    return fileLayer().declarationError(kind, item, attribute, reason, message);
}

// The comparison of a stored stream with declared descriptors; the first difference is
// reported. Declared numbers are compared as they would be stored (their low 16 bits).
int compareStream(StreamReader& in, const TableDefinition& declared, bool decimalCheck) {
    auto low = [](uint64_t value) { return static_cast<uint16_t>(value & 0xFFFF); };

    if (in.word() > kNewestVersion) {
        return declarationError("FILE", 0, "VERSION", 101, kNewerVersionMessage);
    }
    in.word();  // record length
    if (in.word() != low(declared.fields.size())) return declarationError("FILE", 0, "FIELDS");
    if (in.word() != low(declared.memos.size())) return declarationError("FILE", 0, "MEMOS");
    if (in.word() != low(declared.keys.size())) return declarationError("FILE", 0, "KEYS");

    for (size_t i = 0; i < declared.fields.size(); ++i) {
        const FieldDescriptor& field = declared.fields[i];
        int item = static_cast<int>(i + 1);
        if (in.byte() != field.type) return declarationError("FIELD", item, "TYPE");
        in.word();  // offset
        in.text();  // name
        if (in.word() != low(field.elementCount)) return declarationError("FIELD", item, "DIM");
        if (in.word() != low(field.size)) return declarationError("FIELD", item, "SIZE");
        if (in.word() != (field.over ? 1 : 0)) return declarationError("FIELD", item, "OVER");
        in.word();  // index
        if (isDecimal(field.type)) {
            uint8_t places = in.byte();
            if (decimalCheck && places != field.places) {
                return declarationError("FIELD", item, "PLACES");
            }
            uint8_t byteSize = in.byte();
            if (decimalCheck && byteSize != field.elementByteSize) {
                return declarationError("FIELD", item, "SIZE");
            }
        } else if (isString(field.type)) {
            in.word();  // element length
            in.text();  // picture
        }
    }

    for (size_t i = 0; i < declared.memos.size(); ++i) {
        const MemoDescriptor& memo = declared.memos[i];
        int item = static_cast<int>(i + 1);
        in.text();  // external name
        in.text();  // label
        if (in.word() != low(memo.size) && (memo.flags & kMemoBlob) == 0) {
            return declarationError("MEMO/BLOB", item, "SIZE");
        }
        if ((in.word() & kMemoBinary) != (memo.flags & kMemoBinary)) {
            return declarationError("MEMO/BLOB", item, "BINARY");
        }
    }

    for (size_t k = 0; k < declared.keys.size(); ++k) {
        const KeyDescriptor& key = *declared.keys[k];
        int item = static_cast<int>(k + 1);
        in.text();  // external name
        in.text();  // label
        if (((in.byte() ^ key.attributes) & ~kKeyDescriptorPrimary) != 0) {
            return declarationError("KEY", item, "ATTRIBUTE");
        }
        if (in.word() != low(key.components.size())) return declarationError("KEY", item, "FIELDS");
        for (size_t c = 0; c < key.components.size(); ++c) {
            const KeyComponent& component = key.components[c];
            int componentNumber = componentItem(static_cast<unsigned>(k), static_cast<unsigned>(c));
            if (in.word() != low(component.field)) {
                return declarationError("COMPONENT", componentNumber, "FIELD");
            }
            if (in.word() != (component.descending ? 1 : 0)) {
                return declarationError("COMPONENT", componentNumber, "ASCENDING");
            }
        }
    }
    return 0;
}

// Reads a stored stream into fresh descriptors. Counts no declaration could have (more keys,
// memos or key components than a declaration holds) are refused before anything is allocated
// for them, and a component must name a field of the table.
int readStream(StreamReader& in, TableObject* owner, TableDefinition& out) {
    out.version = in.word();
    out.recordLength = in.word();
    uint16_t fieldCount = in.word();
    uint16_t memoCount = in.word();
    uint16_t keyCount = in.word();
    if (memoCount > kMaxMemos) return declarationError("MEMO/BLOB", kMaxMemos + 1, "MEMO/BLOB", 2);
    if (keyCount > kMaxKeys) return declarationError("KEY", kMaxKeys + 1, "KEY", 2);

    out.fields.resize(fieldCount);
    for (uint32_t i = 0; i < fieldCount; ++i) {
        FieldDescriptor& field = out.fields[i];
        field.type = in.byte();
        field.offset = in.word();
        field.name = in.text();
        field.elementCount = in.word();
        field.size = in.word();
        field.over = in.word() != 0;
        in.word();  // the stored index is the position
        field.index = i;
        if (isDecimal(field.type)) {
            field.places = in.byte();
            field.elementByteSize = in.byte();
        } else if (isString(field.type)) {
            field.elementLength = in.word();
            field.picture = in.text();
        }
    }

    out.memos.resize(memoCount);
    for (MemoDescriptor& memo : out.memos) {
        memo.externalName = in.text();
        memo.label = in.text();
        memo.size = in.word();
        memo.flags = static_cast<uint8_t>(in.word());
    }

    out.keys.reserve(keyCount);
    for (unsigned k = 0; k < keyCount; ++k) {
        auto key = std::make_unique<KeyDescriptor>();
        key->table = owner;
        key->number = k;
        key->externalName = in.text();
        key->label = in.text();
        key->attributes = in.byte();
        uint16_t componentCount = in.word();
        if (componentCount > kMaxComponents) {
            return declarationError("KEY", static_cast<int>(k + 1), "FIELDS");
        }
        key->components.reserve(componentCount);
        for (unsigned c = 0; c < componentCount; ++c) {
            uint16_t fieldIndex = in.word();
            bool descending = in.word() != 0;
            if (fieldIndex >= fieldCount) {
                return declarationError("COMPONENT", componentItem(k, c), "FIELD");
            }
            key->components.push_back({fieldIndex, descending});
        }
        out.keys.push_back(std::move(key));
    }
    return 0;
}

}  // namespace

std::vector<uint8_t> encodeDefinition(const TableDefinition& definition) {
    StreamWriter out;
    bool anyBlob = std::any_of(definition.memos.begin(), definition.memos.end(),
                               [](const MemoDescriptor& memo) { return memo.flags & kMemoBlob; });
    out.word(anyBlob ? 2 : 1);
    out.word(definition.recordLength);
    out.word(static_cast<uint32_t>(definition.fields.size()));
    out.word(static_cast<uint32_t>(definition.memos.size()));
    out.word(static_cast<uint32_t>(definition.keys.size()));

    for (const FieldDescriptor& field : definition.fields) {
        out.byte(field.type);
        out.word(field.offset);
        out.text(field.name);
        out.word(field.elementCount);
        out.word(field.size);
        out.word(field.over ? 1 : 0);
        out.word(field.index);
        if (isDecimal(field.type)) {
            out.byte(field.places);
            out.byte(field.elementByteSize);
        } else if (isString(field.type)) {
            out.word(field.elementLength);
            out.text(field.picture);
        }
    }

    for (const MemoDescriptor& memo : definition.memos) {
        out.text(memo.externalName);
        out.text(memo.label);
        out.word(memo.size);
        out.word(memo.flags);
    }

    for (const auto& key : definition.keys) {
        out.text(key->externalName);
        out.text(key->label);
        out.byte(key->attributes);
        out.word(static_cast<uint32_t>(key->components.size()));
        for (const KeyComponent& component : key->components) {
            out.word(component.field);
            out.word(component.descending ? 1 : 0);
        }
    }
    return out.take();
}

void writeDefinition(PageFile& file, const TableNumber& table, const TableDefinition& definition) {
    std::vector<uint8_t> stream = encodeDefinition(definition);
    // Every block but the last holds 512 bytes; the last holds the rest, 1 to 512 bytes. Block
    // numbers are 16 bits, far more than any definition the declaration limits allow needs.
    uint16_t number = 0;
    for (size_t start = 0; start < stream.size(); start += kDefinitionBlockSize, ++number) {
        size_t length = std::min<size_t>(kDefinitionBlockSize, stream.size() - start);
        std::array<uint8_t, 7> key = blockKey(table, number);
        file.insertEntry(newEntry(key, std::span<const uint8_t>(stream.data() + start, length)));
    }
}

int checkDefinition(PageFile& file, const TableNumber& table, const TableDefinition& declared,
                    bool decimalCheck) {
    StreamReader in(file, table);
    return compareStream(in, declared, decimalCheck);
}

int loadDefinition(PageFile& file, const TableNumber& table, TableObject* owner,
                   TableDefinition* out) {
    TableDefinition loaded;
    try {
        StreamReader in(file, table);
        int result = readStream(in, owner, loaded);
        if (result != 0) return result;
    } catch (const std::bad_alloc&) {
        return kInsufficientMemory;
    }
    *out = std::move(loaded);
    return 0;
}

}  // namespace vellum
