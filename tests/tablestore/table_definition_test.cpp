// Table definitions: descriptors built from declarations (layout walk, names, limits and the
// declaration errors with their detail texts), the definition stream and its blocks, the check
// of a stored definition against a declaration, and loading, including damaged streams.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "filelayer/file_layer.h"
#include "pagestore/page_file.h"
#include "tablestore/table_definition.h"
#include "vellum/control_blocks.h"
#include "vellum/entry.h"

namespace vellum {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// A compact description of a declaration. Texts are DeclaredText: {chars, -1} zero-terminated,
// {chars, n} counted, {} absent.
struct FieldShape {
    uint8_t type = kLong;
    uint32_t offset = 0;
    uint32_t size = 4;  // element size
    DeclaredText label = {"F", -1};
    DeclaredText name = {};
    std::vector<uint32_t> dims = {};
    uint32_t members = 0;
    uint8_t places = 0;
    DeclaredText picture = {};
};

struct MemoShape {
    uint32_t size = 100;
    uint8_t flags = 0;
    DeclaredText label = {"M", -1};
    DeclaredText name = {};
};

struct KeyShape {
    std::vector<int32_t> components = {};
    uint32_t attributes = 0;
    DeclaredText label = {"K", -1};
    DeclaredText name = {};
};

// A file control block with its field, memo and key declarations, built from shapes. Field
// entry 0 is the record group over all the fields.
class Declaration {
public:
    explicit Declaration(std::vector<FieldShape> fields, std::vector<MemoShape> memos = {},
                         std::vector<KeyShape> keys = {}, uint8_t attributes = kAttributeCreate)
        : fieldShapes_(std::move(fields)), keyShapes_(std::move(keys)) {
        uint32_t recordLength = 0;
        for (const FieldShape& shape : fieldShapes_) {
            uint32_t count = 1;
            for (uint32_t d : shape.dims) count *= d;
            recordLength = std::max(recordLength, shape.offset + shape.size * count);
        }
        FieldDeclaration record;
        record.type = kGroup;
        record.elementSize = recordLength;
        record.memberCount = static_cast<uint32_t>(fieldShapes_.size());
        fields_.push_back(record);
        for (const FieldShape& shape : fieldShapes_) {
            FieldDeclaration field;
            field.type = shape.type;
            field.offset = shape.offset;
            field.elementSize = shape.size;
            field.places = shape.places;
            field.picture = shape.picture;
            field.dimensions = shape.dims.empty() ? nullptr : shape.dims.data();
            field.dimensionCount = static_cast<uint8_t>(shape.dims.size());
            field.memberCount = shape.members;
            field.label = shape.label;
            field.externalName = shape.name;
            fields_.push_back(field);
        }
        for (const MemoShape& shape : memos) {
            memos_.push_back({shape.label, shape.name, shape.size, shape.flags});
        }
        for (const KeyShape& shape : keyShapes_) {
            auto key = std::make_unique<KeyControlBlock>();
            key->name = shape.name;
            key->label = shape.label;
            key->attributes = shape.attributes;
            key->componentCount = static_cast<uint8_t>(shape.components.size());
            key->components = shape.components.empty() ? nullptr : shape.components.data();
            key->file = &block_;
            keyPointers_.push_back(key.get());
            keys_.push_back(std::move(key));
        }
        block_.recordLength = recordLength;
        block_.fields = fields_.data();
        block_.memos = memos_.empty() ? nullptr : memos_.data();
        block_.keys = keyPointers_.empty() ? nullptr : keyPointers_.data();
        block_.memoCount = static_cast<uint8_t>(memos_.size());
        block_.keyCount = static_cast<uint8_t>(keyPointers_.size());
        block_.attributes = attributes;
    }
    Declaration(const Declaration&) = delete;
    Declaration& operator=(const Declaration&) = delete;

    FileControlBlock& block() { return block_; }
    FieldDeclaration& record() { return fields_[0]; }
    KeyControlBlock& key(size_t i) { return *keys_[i]; }

private:
    std::vector<FieldShape> fieldShapes_;
    std::vector<KeyShape> keyShapes_;
    std::vector<FieldDeclaration> fields_;
    std::vector<MemoDeclaration> memos_;
    std::vector<std::unique_ptr<KeyControlBlock>> keys_;
    std::vector<KeyControlBlock*> keyPointers_;
    FileControlBlock block_;
};

char ownerTag;
TableObject* const kOwner = reinterpret_cast<TableObject*>(&ownerTag);
const TableNumber kTable = {0x00, 0x00, 0x01, 0x07};
constexpr const char* kKeyLengthMessage = "Key components are more than a total of 7526 bytes long";
constexpr const char* kVersionMessage =
    "You are attempting to open a newer Vellum file format than the driver supports";

std::vector<uint8_t> blockKey(uint16_t number) {
    return {kTable[0], kTable[1], kTable[2], kTable[3], 0xFA, static_cast<uint8_t>(number & 0xFF),
            static_cast<uint8_t>(number >> 8)};
}

// The stored blocks of the table, in block-number order, until the first missing one.
std::vector<std::vector<uint8_t>> storedBlocks(PageFile& file) {
    std::vector<std::vector<uint8_t>> blocks;
    for (uint16_t n = 0;; ++n) {
        const Entry* entry = file.findEntry(blockKey(n));
        if (entry == nullptr) break;
        blocks.emplace_back(entry->data().begin(), entry->data().end());
    }
    return blocks;
}

// Stores raw bytes as the blocks of the table, cut as the writer cuts them.
void storeRaw(PageFile& file, const std::vector<uint8_t>& stream) {
    for (size_t start = 0, n = 0; start < stream.size(); start += 512, ++n) {
        size_t length = std::min<size_t>(512, stream.size() - start);
        file.insertEntry(newEntry(blockKey(static_cast<uint16_t>(n)),
                                  std::span<const uint8_t>(stream.data() + start, length)));
    }
}

class TableDefinitionTest : public ::testing::Test {
protected:
    void SetUp() override {
        installPlatformFileLayer();
        clearErrorState();
    }

    int build(Declaration& declaration, TableDefinition* out) {
        clearErrorState();
        return buildDefinition(declaration.block(), kOwner, out);
    }
    // The result of building, and the detail text of a declaration error.
    std::string buildError(Declaration& declaration) {
        TableDefinition definition;
        int result = build(declaration, &definition);
        if (result == 47) return fileError();
        return "result " + std::to_string(result);
    }
    // Writes the definition of stored and checks declared against it.
    std::string checkAgainst(Declaration& stored, Declaration& declared, bool decimalCheck = true) {
        TableDefinition storedDefinition;
        TableDefinition declaredDefinition;
        EXPECT_EQ(build(stored, &storedDefinition), 0);
        EXPECT_EQ(build(declared, &declaredDefinition), 0);
        PageFile file;
        writeDefinition(file, kTable, storedDefinition);
        return checkResult(file, declaredDefinition, decimalCheck);
    }
    std::string checkResult(PageFile& file, const TableDefinition& declared,
                            bool decimalCheck = true) {
        clearErrorState();
        int result = checkDefinition(file, kTable, declared, decimalCheck);
        if (result == 0) return "ok";
        if (result == 47) return fileError();
        return "result " + std::to_string(result);
    }
};

// Building descriptors -------------------------------------------------------------------------

TEST_F(TableDefinitionTest, BuildsFieldDescriptorsOfAFlatRecord) {
    static const uint32_t dims[] = {3, 2};
    Declaration declaration({
        {.type = kLong, .offset = 0, .size = 4, .label = {"PRE:ID", -1}},
        {.type = kDecimal, .offset = 4, .size = 5, .label = {"PRE:AMOUNT", -1},
         .name = {"Amount", -1}, .places = 2},
        {.type = kString, .offset = 9, .size = 10, .label = {"PRE:NAME", -1},
         .picture = {"@s10", -1}},
        {.type = kShort, .offset = 19, .size = 2, .dims = {dims[0], dims[1]}},
        {.type = kCString, .offset = 31, .size = 1},
        {.type = kPString, .offset = 32, .size = 8, .picture = {"@s7", -1}},
    });
    TableDefinition definition;
    ASSERT_EQ(build(declaration, &definition), 0);
    EXPECT_EQ(definition.version, 1);
    EXPECT_EQ(definition.recordLength, 40u);
    ASSERT_EQ(definition.fields.size(), 6u);

    const FieldDescriptor& id = definition.fields[0];
    EXPECT_EQ(id.type, kLong);
    EXPECT_EQ(id.offset, 0u);
    EXPECT_EQ(id.name, "PRE:ID");
    EXPECT_EQ(id.label, "PRE:ID");
    EXPECT_EQ(id.externalName, std::nullopt);
    EXPECT_TRUE(id.nameIsLabel);
    EXPECT_EQ(id.elementCount, 1u);
    EXPECT_EQ(id.size, 4u);
    EXPECT_FALSE(id.over);
    EXPECT_EQ(id.overTarget, 0u);
    EXPECT_EQ(id.index, 0u);

    const FieldDescriptor& amount = definition.fields[1];
    EXPECT_EQ(amount.name, "Amount");
    EXPECT_EQ(amount.label, "PRE:AMOUNT");
    EXPECT_EQ(amount.externalName, "Amount");
    EXPECT_FALSE(amount.nameIsLabel);
    EXPECT_EQ(amount.places, 2);
    EXPECT_EQ(amount.elementByteSize, 5);
    EXPECT_EQ(amount.index, 1u);

    const FieldDescriptor& name = definition.fields[2];
    EXPECT_EQ(name.elementLength, 10u);
    EXPECT_EQ(name.picture, "@s10");
    EXPECT_EQ(name.size, 10u);

    const FieldDescriptor& matrix = definition.fields[3];
    EXPECT_EQ(matrix.elementCount, 6u);
    EXPECT_EQ(matrix.size, 12u);
    EXPECT_EQ(matrix.offset, 19u);

    EXPECT_EQ(definition.fields[4].elementLength, 1u);
    EXPECT_EQ(definition.fields[5].elementLength, 8u);
    EXPECT_EQ(definition.fields[5].picture, "@s7");
    EXPECT_EQ(definition.fields[5].index, 5u);
}

TEST_F(TableDefinitionTest, WalksGroupsAndOverFields) {
    // 1 G group @0 (8): 2 A @0, 3 B @4; 4 C @8; 5 X over @0 (matches the group, not A);
    // 6 Y over @8 (C); 7 H group over @0 (8) with 8 P @0 and 9 Q @4, both over by inheritance;
    // 10 D @12, after the whole record so far.
    Declaration declaration({
        {.type = kGroup, .offset = 0, .size = 8, .members = 2},
        {.type = kLong, .offset = 0},
        {.type = kLong, .offset = 4},
        {.type = kLong, .offset = 8},
        {.type = kULong, .offset = 0},
        {.type = kULong, .offset = 8},
        {.type = kGroup, .offset = 0, .size = 8, .members = 2},
        {.type = kLong, .offset = 0},
        {.type = kLong, .offset = 4},
        {.type = kByte, .offset = 12, .size = 1},
    });
    TableDefinition definition;
    ASSERT_EQ(build(declaration, &definition), 0);
    ASSERT_EQ(definition.fields.size(), 10u);
    struct Expected {
        bool over;
        uint32_t overTarget;
        uint32_t memberCount;
    };
    const Expected expected[] = {
        {false, 0, 2}, {false, 0, 0}, {false, 0, 0}, {false, 0, 0}, {true, 1, 0},
        {true, 4, 0},  {true, 1, 2},  {true, 0, 0},  {true, 0, 0},  {false, 0, 0},
    };
    for (size_t i = 0; i < 10; ++i) {
        SCOPED_TRACE("field " + std::to_string(i + 1));
        EXPECT_EQ(definition.fields[i].over, expected[i].over);
        EXPECT_EQ(definition.fields[i].overTarget, expected[i].overTarget);
        EXPECT_EQ(definition.fields[i].memberCount, expected[i].memberCount);
        EXPECT_EQ(definition.fields[i].index, i);
    }
}

TEST_F(TableDefinitionTest, OverInsideAGroupFindsItsTargetAmongTheGroupMembers) {
    Declaration declaration({
        {.type = kGroup, .offset = 0, .size = 8, .members = 3},
        {.type = kLong, .offset = 0},
        {.type = kLong, .offset = 4},
        {.type = kString, .offset = 4, .size = 4},
    });
    TableDefinition definition;
    ASSERT_EQ(build(declaration, &definition), 0);
    EXPECT_TRUE(definition.fields[3].over);
    EXPECT_EQ(definition.fields[3].overTarget, 3u);
}

TEST_F(TableDefinitionTest, LayoutErrorsGiveError75) {
    struct Case {
        const char* what;
        std::vector<FieldShape> fields;
    };
    const std::vector<Case> cases = {
        {"gap before a field", {{.offset = 0}, {.offset = 6}}},
        {"gap inside a group",
         {{.type = kGroup, .offset = 0, .size = 8, .members = 2}, {.offset = 0}, {.offset = 5}}},
        // An over target inside a group is not searched from outside it.
        {"over target only inside a group",
         {{.type = kGroup, .offset = 0, .size = 8, .members = 2},
          {.offset = 0},
          {.offset = 4},
          {.offset = 8},
          {.offset = 4}}},
        {"over an offset nobody starts at", {{.offset = 0, .size = 8}, {.offset = 2}}},
        {"group members beyond the record",
         {{.type = kGroup, .offset = 0, .size = 8, .members = 5}, {.offset = 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Declaration declaration(c.fields);
        EXPECT_EQ(buildError(declaration), "result 75");
    }
}

TEST_F(TableDefinitionTest, RecordEntryMustBeAGroup) {
    Declaration declaration(std::vector<FieldShape>{{.offset = 0}});
    declaration.record().type = kString;
    TableDefinition definition;
    EXPECT_EQ(build(declaration, &definition), 75);

    Declaration none(std::vector<FieldShape>{});
    none.block().fields = nullptr;
    ASSERT_EQ(build(none, &definition), 0);
    EXPECT_TRUE(definition.fields.empty());
}

TEST_F(TableDefinitionTest, KeyComponentErrorsGiveError75) {
    static const uint32_t dims[] = {2};
    struct Case {
        const char* what;
        std::vector<int32_t> components;
    };
    const std::vector<Case> cases = {
        {"field 0", {0}},
        {"beyond the fields", {4}},
        {"descending beyond the fields", {-4}},
        {"dimensioned field", {1, 3}},
        {"dimensioned field descending", {-3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Declaration declaration(
            {{.offset = 0}, {.offset = 4}, {.type = kShort, .offset = 8, .size = 2, .dims = {dims[0]}}},
            {}, {{.components = c.components}});
        EXPECT_EQ(buildError(declaration), "result 75");
        EXPECT_EQ(declaration.key(0).keyDescriptor, nullptr);
    }
}

TEST_F(TableDefinitionTest, DeclarationErrorsGiveTheirDetailTexts) {
    struct Case {
        const char* what;
        std::vector<FieldShape> fields;
        std::vector<MemoShape> memos;
        std::vector<KeyShape> keys;
        uint8_t attributes;
        const char* detail;
    };
    const std::vector<Case> cases = {
        {"field without label or name", {{.offset = 0}, {.offset = 4, .label = {}}}, {}, {},
         kAttributeCreate, "FIELD : 2 : LABEL : D00002"},
        {"field with a zero-length counted label", {{.offset = 0, .label = {"", 0}}}, {}, {},
         kAttributeCreate, "FIELD : 1 : LABEL : D00002"},
        {"PDECIMAL not over a field", {{.offset = 0}, {.type = kPDecimal, .offset = 4, .size = 3}},
         {}, {}, 0, "FIELD : 2 : TYPE : D00003"},
        {"MEMO type as a field", {{.type = 21, .offset = 0}}, {}, {}, 0,
         "FIELD : 1 : TYPE : D00003"},
        {"type 12", {{.type = 12, .offset = 0}}, {}, {}, 0, "FIELD : 1 : TYPE : D00003"},
        {"STRING of 15001", {{.type = kString, .offset = 0, .size = 15001}}, {}, {}, 0,
         "FIELD : 1 : SIZE : D00005"},
        {"CSTRING of 0", {{.offset = 0}, {.type = kCString, .offset = 4, .size = 0}}, {}, {}, 0,
         "FIELD : 2 : SIZE : D00005"},
        {"CSTRING of 15002", {{.type = kCString, .offset = 0, .size = 15002}}, {}, {}, 0,
         "FIELD : 1 : SIZE : D00005"},
        {"stored CSTRING of 15001", {{.type = kCString, .offset = 0, .size = 15001}}, {}, {}, 0,
         "FIELD : 1 : DIM : D00006"},
        {"dimensioned field above 15000",
         {{.type = kString, .offset = 0, .size = 100, .dims = {151}}}, {}, {}, 0,
         "FIELD : 1 : DIM : D00006"},
        {"record above 15000",
         {{.type = kString, .offset = 0, .size = 8000},
          {.type = kString, .offset = 8000, .size = 7001}},
         {}, {}, 0, "FIELD : 2 : SIZE : D00006"},
        {"memo without label or name", {{.offset = 0}}, {{.label = {}}}, {}, kAttributeCreate,
         "MEMO/BLOB : 1 : LABEL : D00002"},
        {"memo above 64000", {{.offset = 0}}, {MemoShape{}, {.size = 64001}}, {}, 0,
         "MEMO/BLOB : 2 : SIZE : D00004"},
        {"key without label or name", {{.offset = 0}}, {}, {{.components = {1}, .label = {}}},
         kAttributeCreate, "KEY : 1 : LABEL : D00002"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Declaration declaration(c.fields, c.memos, c.keys, c.attributes);
        EXPECT_EQ(buildError(declaration), c.detail);
    }
}

TEST_F(TableDefinitionTest, LimitsAcceptTheirLargestValues) {
    struct Case {
        const char* what;
        std::vector<FieldShape> fields;
        std::vector<MemoShape> memos;
        std::vector<KeyShape> keys;
        uint8_t attributes;
    };
    const std::vector<Case> cases = {
        {"unnamed fields without CREATE", {{.offset = 0, .label = {}}}, {{.label = {}}},
         {{.components = {1}, .label = {}}}, 0},
        {"unnamed field over another under CREATE",
         {{.offset = 0}, {.type = kULong, .offset = 0, .label = {}}}, {}, {}, kAttributeCreate},
        {"field with only an external name", {{.offset = 0, .label = {}, .name = {"X", -1}}}, {},
         {}, kAttributeCreate},
        {"PDECIMAL and other types over a field",
         {{.type = kString, .offset = 0, .size = 8},
          {.type = kPDecimal, .offset = 0, .size = 3, .places = 1},
          {.type = 21, .offset = 0, .size = 8},
          {.type = 30, .offset = 0, .size = 8}},
         {}, {}, 0},
        {"STRING of 15000", {{.type = kString, .offset = 0, .size = 15000}}, {}, {}, 0},
        {"CSTRING of 15001 over a field",
         {{.type = kString, .offset = 0, .size = 15000},
          {.type = kCString, .offset = 0, .size = 15001}},
         {}, {}, 0},
        {"record of 15000",
         {{.type = kString, .offset = 0, .size = 8000},
          {.type = kString, .offset = 8000, .size = 7000}},
         {}, {}, 0},
        {"memo of 64000", {{.offset = 0}}, {{.size = 64000}}, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Declaration declaration(c.fields, c.memos, c.keys, c.attributes);
        EXPECT_EQ(buildError(declaration), "result 0");
    }
}

TEST_F(TableDefinitionTest, OverFieldsDoNotCountTowardsTheRecordSize) {
    Declaration declaration({
        {.type = kString, .offset = 0, .size = 15000},
        {.type = kString, .offset = 0, .size = 15000},
        {.type = kGroup, .offset = 0, .size = 15000, .members = 1},
        {.type = kString, .offset = 0, .size = 15000},
    });
    TableDefinition definition;
    ASSERT_EQ(build(declaration, &definition), 0);
    EXPECT_TRUE(definition.fields[3].over);
}

TEST_F(TableDefinitionTest, The241stKeyIsRefused) {
    std::vector<KeyShape> keys(240, KeyShape{.components = {1}});
    {
        Declaration declaration({{.offset = 0}}, {}, keys);
        TableDefinition definition;
        ASSERT_EQ(build(declaration, &definition), 0);
        ASSERT_EQ(definition.keys.size(), 240u);
        EXPECT_EQ(definition.keys[239]->number, 239u);
    }
    keys.push_back(KeyShape{.components = {1}});
    Declaration declaration({{.offset = 0}}, {}, keys);
    EXPECT_EQ(buildError(declaration), "KEY : 241 : KEY : D00003");
}

TEST_F(TableDefinitionTest, The255thMemoIsAccepted) {
    // A declaration holds at most 255 memos (its count is one byte); a stream that claims 256
    // is refused by the loader (see LoaderRefusesCountsNoDeclarationCanHave).
    Declaration declaration({{.offset = 0}}, std::vector<MemoShape>(255, MemoShape{.size = 10}));
    TableDefinition definition;
    ASSERT_EQ(build(declaration, &definition), 0);
    EXPECT_EQ(definition.memos.size(), 255u);
}

TEST_F(TableDefinitionTest, KeyComponentsUpTo7526BytesAreAccepted) {
    struct Case {
        const char* what;
        std::vector<FieldShape> fields;
        std::vector<KeyShape> keys;
        const char* detail;
    };
    const std::vector<Case> cases = {
        {"one component of 7526", {{.type = kString, .offset = 0, .size = 7526}},
         {{.components = {1}}}, "result 0"},
        {"one component of 7527", {{.type = kString, .offset = 0, .size = 7527}},
         {{.components = {1}}}, "KEY : 1 : SIZE : D00101"},
        {"components of 7000 and 526",
         {{.type = kString, .offset = 0, .size = 7000}, {.type = kString, .offset = 7000, .size = 526}},
         {{.components = {1, -2}}}, "result 0"},
        {"second key of 7000 and 527",
         {{.type = kString, .offset = 0, .size = 7000}, {.type = kString, .offset = 7000, .size = 527}},
         {{.components = {1}}, {.components = {1, -2}}, {.components = {-2, 1}}},
         "KEY : 2 : SIZE : D00101"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Declaration declaration(c.fields, {}, c.keys);
        std::string detail = buildError(declaration);
        EXPECT_THAT(detail, StartsWith(c.detail));
        if (detail != "result 0") {
            EXPECT_THAT(detail, HasSubstr(kKeyLengthMessage));
        }
    }
}

TEST_F(TableDefinitionTest, BuildsKeyDescriptorsAndLinksTheKeyControlBlocks) {
    struct Case {
        uint32_t declared;
        std::vector<int32_t> components;
        uint8_t attributes;
    };
    const std::vector<Case> cases = {
        {kKeyDup, {1}, 0x01},
        {kKeyOpt, {1}, 0x02},
        {kKeyNoCase, {1}, 0x04},
        {kKeyCarried, {1}, 0x08},
        {kKeyPrimary, {1}, 0x10},
        {kKeyIndex, {1}, 0x20},
        {kKeyIndex, {}, 0x60},
        {0, {}, 0x00},
        {kKeyDup | kKeyNoCase | kKeyOpt, {2, -1}, 0x07},
        {0x1000 | kKeyPrimary, {1}, 0x10},
    };
    std::vector<KeyShape> keys;
    for (const Case& c : cases) keys.push_back({.components = c.components, .attributes = c.declared});
    Declaration declaration({{.offset = 0}, {.type = kString, .offset = 4, .size = 6}}, {}, keys);
    TableDefinition definition;
    ASSERT_EQ(build(declaration, &definition), 0);
    ASSERT_EQ(definition.keys.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("key " + std::to_string(i));
        const KeyDescriptor& key = *definition.keys[i];
        EXPECT_EQ(key.attributes, cases[i].attributes);
        EXPECT_EQ(key.number, i);
        EXPECT_EQ(key.table, kOwner);
        EXPECT_EQ(declaration.key(i).keyDescriptor, &key);
        ASSERT_EQ(key.components.size(), cases[i].components.size());
        for (size_t c = 0; c < key.components.size(); ++c) {
            int32_t v = cases[i].components[c];
            EXPECT_EQ(key.components[c].field, static_cast<uint32_t>((v < 0 ? -v : v) - 1));
            EXPECT_EQ(key.components[c].descending, v < 0);
        }
    }
}

TEST_F(TableDefinitionTest, NamesKeepAbsentAndEmptyApart) {
    struct Case {
        DeclaredText text;
        std::optional<std::string> name;
    };
    static const char counted[] = {3, 'A', 'B', ' '};
    const std::vector<Case> cases = {
        {{}, std::nullopt},
        {{"", -1}, std::nullopt},
        {{"ABC", 0}, std::nullopt},
        {{"   ", 3}, std::string()},
        {{"AB  ", 4}, std::string("AB")},
        {{"Name  ", -1}, std::string("Name")},
        {{counted, -2}, std::string("AB")},
        {{" A", 2}, std::string(" A")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.value_or("(absent)"));
        Declaration declaration({{.offset = 0, .label = {"L", -1}, .name = c.text}},
                                {{.label = c.text, .name = c.text}},
                                {{.components = {1}, .label = c.text, .name = c.text}}, 0);
        TableDefinition definition;
        ASSERT_EQ(build(declaration, &definition), 0);
        EXPECT_EQ(definition.fields[0].externalName, c.name);
        EXPECT_EQ(definition.fields[0].name, c.name ? c.name : std::optional<std::string>("L"));
        EXPECT_EQ(definition.fields[0].nameIsLabel, !c.name.has_value());
        EXPECT_EQ(definition.memos[0].label, c.name);
        EXPECT_EQ(definition.memos[0].externalName, c.name);
        EXPECT_EQ(definition.keys[0]->label, c.name);
        EXPECT_EQ(definition.keys[0]->externalName, c.name);
    }
}

TEST_F(TableDefinitionTest, MemoDescriptorsGetBuffersOfSpaces) {
    Declaration declaration({{.offset = 0}},
                            {{.size = 300, .flags = kMemoBinary, .label = {"NOTES", -1}},
                             {.size = 0, .flags = kMemoBlob, .label = {"PICTURE", -1}}});
    TableDefinition definition;
    ASSERT_EQ(build(declaration, &definition), 0);
    EXPECT_EQ(definition.version, 2);
    ASSERT_EQ(definition.memos.size(), 2u);
    EXPECT_EQ(definition.memos[0].size, 300u);
    EXPECT_EQ(definition.memos[0].flags, kMemoBinary);
    EXPECT_EQ(definition.memos[0].buffer, std::vector<uint8_t>(300, ' '));
    EXPECT_EQ(definition.memos[1].flags, kMemoBlob);
    EXPECT_TRUE(definition.memos[1].buffer.empty());
}

TEST_F(TableDefinitionTest, AFailedBuildLeavesTheDefinitionAndKeyBlocksAlone) {
    Declaration good({{.offset = 0}}, {}, {{.components = {1}}});
    TableDefinition definition;
    ASSERT_EQ(build(good, &definition), 0);
    Declaration bad({{.offset = 0, .label = {}}}, {}, {{.components = {1}}});
    EXPECT_EQ(build(bad, &definition), 47);
    EXPECT_EQ(definition.fields.size(), 1u);
    EXPECT_EQ(definition.keys.size(), 1u);
    EXPECT_EQ(bad.key(0).keyDescriptor, nullptr);
    EXPECT_EQ(good.key(0).keyDescriptor, definition.keys[0].get());
}

// The stream and its blocks --------------------------------------------------------------------

TEST_F(TableDefinitionTest, EncodesTheStreamByteForByte) {
    Declaration declaration(
        {
            {.type = kLong, .offset = 0, .size = 4, .label = {"ID", -1}},
            {.type = kDecimal, .offset = 4, .size = 5, .label = {"AMT", -1},
             .name = {"Amount", -1}, .places = 2},
            {.type = kString, .offset = 9, .size = 10, .label = {"NAME", -1},
             .picture = {"@s10", -1}},
        },
        {{.size = 100, .flags = kMemoBinary, .label = {"NOTES", -1}}},
        {{.components = {1, -3}, .attributes = kKeyDup | kKeyNoCase, .label = {"KEYID", -1},
          .name = {"   ", 3}}});
    TableDefinition definition;
    ASSERT_EQ(build(declaration, &definition), 0);
    const std::vector<uint8_t> expected = {
        0x01, 0x00, 0x13, 0x00, 0x03, 0x00, 0x01, 0x00, 0x01, 0x00,  // header
        0x06, 0x00, 0x00, 'I', 'D', 0x00, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x0A, 0x04, 0x00, 'A', 'm', 'o', 'u', 'n', 't', 0x00, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00,
        0x01, 0x00, 0x02, 0x05,
        0x12, 0x09, 0x00, 'N', 'A', 'M', 'E', 0x00, 0x01, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x02,
        0x00, 0x0A, 0x00, '@', 's', '1', '0', 0x00,
        0x00, 0x01, 'N', 'O', 'T', 'E', 'S', 0x00, 0x64, 0x00, 0x02, 0x00,  // memo
        0x00, 0x00, 'K', 'E', 'Y', 'I', 'D', 0x00, 0x05, 0x02, 0x00,         // key
        0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01, 0x00,
    };
    EXPECT_EQ(encodeDefinition(definition), expected);
}

TEST_F(TableDefinitionTest, StoresOnlyTheLow16BitsOfNumbers) {
    TableDefinition definition;
    definition.recordLength = 0x12345;
    FieldDescriptor field;
    field.type = kByte;
    field.offset = 0x10002;
    field.elementCount = 0x20003;
    field.size = 0x30004;
    field.index = 0x40005;
    definition.fields.push_back(field);
    std::vector<uint8_t> stream = encodeDefinition(definition);
    const std::vector<uint8_t> expected = {
        0x01, 0x00, 0x45, 0x23, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x01, 0x02, 0x00, 0x00, 0x01, 0x03, 0x00, 0x04, 0x00, 0x00, 0x00, 0x05, 0x00,
    };
    EXPECT_EQ(stream, expected);
}

TEST_F(TableDefinitionTest, WritesTheVersion2OnlyWithABlob) {
    TableDefinition definition;
    definition.memos.resize(2);
    definition.memos[1].flags = kMemoBinary;
    EXPECT_EQ(encodeDefinition(definition)[0], 1);
    definition.memos[1].flags = kMemoBlob;
    EXPECT_EQ(encodeDefinition(definition)[0], 2);
}

// A definition whose stream is 17 + length bytes long: the header and one memo whose external
// name has the given length.
TableDefinition definitionOfLength(size_t length) {
    TableDefinition definition;
    definition.memos.resize(1);
    definition.memos[0].externalName = std::string(length - 17, 'n');
    return definition;
}

TEST_F(TableDefinitionTest, CutsTheStreamIntoBlocksOf512Bytes) {
    struct Case {
        size_t length;
        std::vector<size_t> blocks;
    };
    const std::vector<Case> cases = {
        {18, {18}}, {511, {511}}, {512, {512}}, {513, {512, 1}}, {1024, {512, 512}},
        {1025, {512, 512, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        TableDefinition definition = definitionOfLength(c.length);
        std::vector<uint8_t> stream = encodeDefinition(definition);
        ASSERT_EQ(stream.size(), c.length);
        PageFile file;
        writeDefinition(file, kTable, definition);
        std::vector<std::vector<uint8_t>> blocks = storedBlocks(file);
        ASSERT_EQ(blocks.size(), c.blocks.size());
        std::vector<uint8_t> joined;
        for (size_t i = 0; i < blocks.size(); ++i) {
            EXPECT_EQ(blocks[i].size(), c.blocks[i]);
            joined.insert(joined.end(), blocks[i].begin(), blocks[i].end());
        }
        EXPECT_EQ(joined, stream);

        TableDefinition loaded;
        ASSERT_EQ(loadDefinition(file, kTable, kOwner, &loaded), 0);
        EXPECT_EQ(loaded.memos[0].externalName, definition.memos[0].externalName);
        EXPECT_EQ(checkResult(file, definition), "ok");
    }
}

TEST_F(TableDefinitionTest, BlockNumbersAreLittleEndianInTheKey) {
    // 300 blocks: block 256 and up have the high byte 1.
    TableDefinition definition = definitionOfLength(300 * 512);
    PageFile file;
    writeDefinition(file, kTable, definition);
    const std::vector<uint8_t> block299 = {0x00, 0x00, 0x01, 0x07, 0xFA, 0x2B, 0x01};
    ASSERT_NE(file.findEntry(block299), nullptr);
    EXPECT_EQ(file.findEntry(block299)->data().size(), 512u);
    const std::vector<uint8_t> block300 = {0x00, 0x00, 0x01, 0x07, 0xFA, 0x2C, 0x01};
    EXPECT_EQ(file.findEntry(block300), nullptr);
    EXPECT_EQ(storedBlocks(file).size(), 300u);
    TableDefinition loaded;
    ASSERT_EQ(loadDefinition(file, kTable, kOwner, &loaded), 0);
    EXPECT_EQ(loaded.memos[0].externalName, definition.memos[0].externalName);
}

TEST_F(TableDefinitionTest, WriteAndLoadKeepEveryStoredItem) {
    static const char blank[] = "  ";
    Declaration declaration(
        {
            {.type = kGroup, .offset = 0, .size = 12, .label = {"G", -1}, .members = 2},
            {.type = kDecimal, .offset = 0, .size = 4, .label = {"D", -1}, .places = 3},
            {.type = kCString, .offset = 4, .size = 8, .label = {"C", -1}, .picture = {"", 0}},
            {.type = kString, .offset = 0, .size = 12, .label = {}, .name = {blank, 2}},
            {.type = kPString, .offset = 12, .size = 5, .label = {"P", -1},
             .picture = {"@s4", -1}},
            {.type = kReal, .offset = 17, .size = 8, .label = {"R", -1}, .dims = {2}},
        },
        {{.size = 50, .flags = kMemoBinary, .label = {"M1", -1}, .name = {blank, 2}},
         {.size = 0, .flags = kMemoBlob, .label = {blank, 2}, .name = {}}},
        {{.components = {2, -3}, .attributes = kKeyNoCase | kKeyPrimary, .label = {"K1", -1},
          .name = {"Ext", -1}},
         {.components = {}, .attributes = kKeyIndex, .label = {"DYN", -1}}},
        0);
    TableDefinition definition;
    ASSERT_EQ(build(declaration, &definition), 0);
    PageFile file;
    writeDefinition(file, kTable, definition);
    TableDefinition loaded;
    ASSERT_EQ(loadDefinition(file, kTable, kOwner, &loaded), 0);

    EXPECT_EQ(loaded.version, 2);
    EXPECT_EQ(loaded.recordLength, definition.recordLength);
    ASSERT_EQ(loaded.fields.size(), definition.fields.size());
    for (size_t i = 0; i < definition.fields.size(); ++i) {
        SCOPED_TRACE("field " + std::to_string(i + 1));
        const FieldDescriptor& a = definition.fields[i];
        const FieldDescriptor& b = loaded.fields[i];
        EXPECT_EQ(b.type, a.type);
        EXPECT_EQ(b.offset, a.offset);
        EXPECT_EQ(b.name, a.name);
        EXPECT_EQ(b.elementCount, a.elementCount);
        EXPECT_EQ(b.size, a.size);
        EXPECT_EQ(b.over, a.over);
        EXPECT_EQ(b.index, a.index);
        EXPECT_EQ(b.places, a.places);
        EXPECT_EQ(b.elementByteSize, a.elementByteSize);
        EXPECT_EQ(b.elementLength, a.elementLength);
        EXPECT_EQ(b.picture, a.picture);
    }
    EXPECT_EQ(loaded.fields[3].name, std::string());
    EXPECT_EQ(loaded.fields[2].picture, std::string());
    EXPECT_EQ(loaded.fields[1].picture, std::nullopt);
    EXPECT_EQ(loaded.fields[4].picture, "@s4");

    ASSERT_EQ(loaded.memos.size(), 2u);
    EXPECT_EQ(loaded.memos[0].externalName, std::string());
    EXPECT_EQ(loaded.memos[0].label, "M1");
    EXPECT_EQ(loaded.memos[1].externalName, std::nullopt);
    EXPECT_EQ(loaded.memos[1].label, std::string());
    EXPECT_EQ(loaded.memos[0].size, 50u);
    EXPECT_EQ(loaded.memos[0].flags, kMemoBinary);
    EXPECT_EQ(loaded.memos[1].flags, kMemoBlob);
    EXPECT_TRUE(loaded.memos[0].buffer.empty());

    ASSERT_EQ(loaded.keys.size(), 2u);
    EXPECT_EQ(loaded.keys[0]->externalName, "Ext");
    EXPECT_EQ(loaded.keys[0]->label, "K1");
    EXPECT_EQ(loaded.keys[0]->attributes, 0x14);
    EXPECT_EQ(loaded.keys[0]->table, kOwner);
    ASSERT_EQ(loaded.keys[0]->components.size(), 2u);
    EXPECT_EQ(loaded.keys[0]->components[0].field, 1u);
    EXPECT_FALSE(loaded.keys[0]->components[0].descending);
    EXPECT_EQ(loaded.keys[0]->components[1].field, 2u);
    EXPECT_TRUE(loaded.keys[0]->components[1].descending);
    EXPECT_EQ(loaded.keys[1]->number, 1u);
    EXPECT_EQ(loaded.keys[1]->externalName, std::nullopt);
    EXPECT_EQ(loaded.keys[1]->attributes, 0x60);
    EXPECT_TRUE(loaded.keys[1]->components.empty());

    // The loaded definition is stored again byte for byte.
    EXPECT_EQ(encodeDefinition(loaded), encodeDefinition(definition));
    EXPECT_EQ(checkResult(file, definition), "ok");
}

// Checking -------------------------------------------------------------------------------------

TEST_F(TableDefinitionTest, CheckReportsTheFirstDifference) {
    struct Case {
        const char* what;
        std::vector<FieldShape> storedFields;
        std::vector<FieldShape> declaredFields;
        std::vector<MemoShape> storedMemos;
        std::vector<MemoShape> declaredMemos;
        std::vector<KeyShape> storedKeys;
        std::vector<KeyShape> declaredKeys;
        const char* result;
    };
    const std::vector<FieldShape> two = {{.offset = 0}, {.type = kString, .offset = 4, .size = 10}};
    const std::vector<Case> cases = {
        {"same", two, two, {MemoShape{}}, {MemoShape{}}, {{.components = {1}}}, {{.components = {1}}}, "ok"},
        {"names, offsets and pictures are not compared", two,
         {{.offset = 0, .label = {"OTHER", -1}},
          {.type = kString, .offset = 4, .size = 10, .label = {"X", -1}, .picture = {"@s3", -1}}},
         {{.label = {"A", -1}}}, {{.label = {"B", -1}, .name = {"N", -1}}},
         {{.components = {1}, .label = {"A", -1}}}, {{.components = {1}, .name = {"N", -1}}}, "ok"},
        {"field count", two, {{.offset = 0}}, {}, {}, {}, {}, "FILE : 0 : FIELDS : D00001"},
        {"memo count", two, two, {MemoShape{}}, {}, {}, {}, "FILE : 0 : MEMOS : D00001"},
        {"key count", two, two, {}, {}, {{.components = {1}}}, {}, "FILE : 0 : KEYS : D00001"},
        {"field count before memo count", two, {{.offset = 0}}, {MemoShape{}}, {}, {}, {},
         "FILE : 0 : FIELDS : D00001"},
        {"type", two, {{.type = kULong, .offset = 0}, {.type = kString, .offset = 4, .size = 10}},
         {}, {}, {}, {}, "FIELD : 1 : TYPE : D00001"},
        {"dimensions", {{.offset = 0, .dims = {2}}}, {{.offset = 0, .dims = {3}}}, {}, {}, {}, {},
         "FIELD : 1 : DIM : D00001"},
        {"size", two, {{.offset = 0}, {.type = kString, .offset = 4, .size = 12}}, {}, {}, {}, {},
         "FIELD : 2 : SIZE : D00001"},
        {"size of a dimensioned field", {{.type = kString, .offset = 0, .size = 4, .dims = {3}}},
         {{.type = kString, .offset = 0, .size = 5, .dims = {3}}}, {}, {}, {}, {},
         "FIELD : 1 : SIZE : D00001"},
        {"over", {{.offset = 0}, {.offset = 4}}, {{.offset = 0}, {.offset = 0}}, {}, {}, {}, {},
         "FIELD : 2 : OVER : D00001"},
        {"places", {{.type = kDecimal, .offset = 0, .size = 4, .places = 2}},
         {{.type = kDecimal, .offset = 0, .size = 4, .places = 3}}, {}, {}, {}, {},
         "FIELD : 1 : PLACES : D00001"},
        {"memo size", two, two, {{.size = 100}}, {{.size = 200}}, {}, {},
         "MEMO/BLOB : 1 : SIZE : D00001"},
        {"BLOB size", two, two, {{.size = 100, .flags = kMemoBlob}},
         {{.size = 200, .flags = kMemoBlob}}, {}, {}, "ok"},
        {"BLOB declared where a MEMO is stored", two, two, {{.size = 100}},
         {{.size = 0, .flags = kMemoBlob}}, {}, {}, "ok"},
        {"BINARY", two, two, {MemoShape{}, {.flags = kMemoBinary}}, {MemoShape{}, MemoShape{}}, {}, {},
         "MEMO/BLOB : 2 : BINARY : D00001"},
        {"PRIMARY only", two, two, {}, {}, {{.components = {1}, .attributes = kKeyPrimary}},
         {{.components = {1}}}, "ok"},
        {"NOCASE", two, two, {}, {}, {{.components = {1}}},
         {{.components = {1}, .attributes = kKeyNoCase}}, "KEY : 1 : ATTRIBUTE : D00001"},
        {"DUP", two, two, {}, {}, {{.components = {1}}, {.components = {1}, .attributes = kKeyDup}},
         {{.components = {1}}, {.components = {1}}}, "KEY : 2 : ATTRIBUTE : D00001"},
        {"bit 0x08", two, two, {}, {}, {{.components = {1}}},
         {{.components = {1}, .attributes = kKeyCarried}}, "KEY : 1 : ATTRIBUTE : D00001"},
        {"dynamic index", two, two, {}, {}, {{.components = {1}, .attributes = kKeyIndex}},
         {{.components = {}, .attributes = kKeyIndex}}, "KEY : 1 : ATTRIBUTE : D00001"},
        {"component count", two, two, {}, {}, {{.components = {1}}, {.components = {1}}},
         {{.components = {1}}, {.components = {1, 2}}}, "KEY : 2 : FIELDS : D00001"},
        {"component field", two, two, {}, {}, {{.components = {1, 2}}, {.components = {1, 2}}},
         {{.components = {1, 2}}, {.components = {1, 1}}}, "COMPONENT : 2002 : FIELD : D00001"},
        {"component direction", two, two, {}, {}, {{.components = {1, 2}}},
         {{.components = {-1, 2}}}, "COMPONENT : 1001 : ASCENDING : D00001"},
        {"the first of two differences", two,
         {{.type = kULong, .offset = 0}, {.type = kString, .offset = 4, .size = 12}}, {}, {}, {},
         {}, "FIELD : 1 : TYPE : D00001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Declaration stored(c.storedFields, c.storedMemos, c.storedKeys);
        Declaration declared(c.declaredFields, c.declaredMemos, c.declaredKeys);
        EXPECT_EQ(checkAgainst(stored, declared), c.result);
    }
}

TEST_F(TableDefinitionTest, DecimalCheckOffAcceptsOtherPlacesAndByteSizes) {
    Declaration stored({{.type = kDecimal, .offset = 0, .size = 4, .places = 2}, {.offset = 4}});
    Declaration declared({{.type = kDecimal, .offset = 0, .size = 4, .places = 5}, {.offset = 4}});
    EXPECT_EQ(checkAgainst(stored, declared, false), "ok");
    EXPECT_EQ(checkAgainst(stored, declared, true), "FIELD : 1 : PLACES : D00001");

    // The element byte size differs while the field size does not (a stream written elsewhere).
    TableDefinition storedDefinition;
    ASSERT_EQ(build(stored, &storedDefinition), 0);
    storedDefinition.fields[0].elementByteSize = 7;
    TableDefinition declaredDefinition;
    ASSERT_EQ(build(stored, &declaredDefinition), 0);
    PageFile file;
    writeDefinition(file, kTable, storedDefinition);
    EXPECT_EQ(checkResult(file, declaredDefinition, true), "FIELD : 1 : SIZE : D00001");
    EXPECT_EQ(checkResult(file, declaredDefinition, false), "ok");
}

TEST_F(TableDefinitionTest, PDecimalPlacesAreCheckedToo) {
    Declaration stored({{.type = kString, .offset = 0, .size = 4},
                        {.type = kPDecimal, .offset = 0, .size = 4, .places = 1}});
    Declaration declared({{.type = kString, .offset = 0, .size = 4},
                          {.type = kPDecimal, .offset = 0, .size = 4, .places = 2}});
    EXPECT_EQ(checkAgainst(stored, declared, true), "FIELD : 2 : PLACES : D00001");
    EXPECT_EQ(checkAgainst(stored, declared, false), "ok");
}

TEST_F(TableDefinitionTest, ANewerStoredVersionIsRefusedByTheCheckButLoaded) {
    Declaration declaration({{.offset = 0}}, {}, {{.components = {1}}});
    TableDefinition definition;
    ASSERT_EQ(build(declaration, &definition), 0);
    std::vector<uint8_t> stream = encodeDefinition(definition);
    for (uint16_t version : {0, 1, 2, 3, 0x100}) {
        SCOPED_TRACE(version);
        stream[0] = static_cast<uint8_t>(version & 0xFF);
        stream[1] = static_cast<uint8_t>(version >> 8);
        PageFile file;
        storeRaw(file, stream);
        std::string result = checkResult(file, definition);
        if (version <= 2) {
            EXPECT_EQ(result, "ok");
        } else {
            EXPECT_THAT(result, StartsWith("FILE : 0 : VERSION : D00102"));
            EXPECT_THAT(result, HasSubstr(kVersionMessage));
        }
        TableDefinition loaded;
        ASSERT_EQ(loadDefinition(file, kTable, kOwner, &loaded), 0);
        EXPECT_EQ(loaded.version, version);
        EXPECT_EQ(loaded.fields.size(), 1u);
        EXPECT_EQ(loaded.keys.size(), 1u);
    }
}

TEST_F(TableDefinitionTest, MissingBlocksReadAsZeros) {
    // No blocks at all: version 0 and no fields, memos or keys.
    PageFile file;
    TableDefinition empty;
    EXPECT_EQ(checkResult(file, empty), "ok");
    TableDefinition loaded;
    ASSERT_EQ(loadDefinition(file, kTable, kOwner, &loaded), 0);
    EXPECT_EQ(loaded.version, 0);
    EXPECT_TRUE(loaded.fields.empty());

    Declaration declaration(std::vector<FieldShape>{{.offset = 0}});
    TableDefinition definition;
    ASSERT_EQ(build(declaration, &definition), 0);
    EXPECT_EQ(checkResult(file, definition), "FILE : 0 : FIELDS : D00001");

    // Another table's blocks are not read.
    PageFile other;
    TableNumber otherTable = {0x00, 0x00, 0x01, 0x08};
    writeDefinition(other, otherTable, definition);
    EXPECT_EQ(checkResult(other, definition), "FILE : 0 : FIELDS : D00001");
    EXPECT_EQ(checkDefinition(other, otherTable, definition, true), 0);
}

TEST_F(TableDefinitionTest, AMissingMiddleBlockReadsAsZeros) {
    // Block 1 of three is missing: the name that runs through it reads zeros there, so the
    // stream seen is no longer the written one, and the read ends without leaving the blocks.
    TableDefinition definition = definitionOfLength(1200);
    std::vector<uint8_t> stream = encodeDefinition(definition);
    PageFile file;
    storeRaw(file, stream);
    file.removeEntry(file.findEntry(blockKey(1)));
    ASSERT_EQ(storedBlocks(file).size(), 1u);
    TableDefinition loaded;
    ASSERT_EQ(loadDefinition(file, kTable, kOwner, &loaded), 0);
    ASSERT_EQ(loaded.memos.size(), 1u);
    EXPECT_EQ(loaded.memos[0].externalName, std::string(512 - 10, 'n'));
}

TEST_F(TableDefinitionTest, LoaderRefusesCountsNoDeclarationCanHave) {
    struct Case {
        const char* what;
        std::vector<uint8_t> stream;
        const char* detail;
    };
    const std::vector<Case> cases = {
        {"256 memos", {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00},
         "MEMO/BLOB : 256 : MEMO/BLOB : D00003"},
        {"65535 memos", {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00},
         "MEMO/BLOB : 256 : MEMO/BLOB : D00003"},
        {"241 keys", {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF1, 0x00},
         "KEY : 241 : KEY : D00003"},
        {"a component beyond the fields",
         {0x01, 0x00, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00,           // header
          0x06, 0x00, 0x00, 'A', 0x00, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00,  // field
          0x00, 0x01, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00},
         "COMPONENT : 1002 : FIELD : D00001"},
        {"256 components",
         {0x01, 0x00, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00,
          0x06, 0x00, 0x00, 'A', 0x00, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00,
          0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x01},
         "KEY : 1 : FIELDS : D00001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PageFile file;
        storeRaw(file, c.stream);
        TableDefinition loaded;
        clearErrorState();
        EXPECT_EQ(loadDefinition(file, kTable, kOwner, &loaded), 47);
        EXPECT_EQ(fileError(), c.detail);
        EXPECT_TRUE(loaded.fields.empty());
    }
}

TEST_F(TableDefinitionTest, HugeFieldCountsLoadFromZeros) {
    std::vector<uint8_t> stream = {0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00};
    PageFile file;
    storeRaw(file, stream);
    TableDefinition loaded;
    ASSERT_EQ(loadDefinition(file, kTable, kOwner, &loaded), 0);
    EXPECT_EQ(loaded.fields.size(), 65535u);
    EXPECT_EQ(loaded.fields[65534].index, 65534u);
    TableDefinition declared;
    EXPECT_EQ(checkResult(file, declared), "FILE : 0 : FIELDS : D00001");
}

// Loads and checks a stream as stored blocks; either may refuse with 47, neither may crash or
// read outside the blocks (the sanitizers watch).
void expectCleanOutcome(const std::vector<std::vector<uint8_t>>& blocks,
                        const TableDefinition& declared) {
    PageFile file;
    for (size_t n = 0; n < blocks.size(); ++n) {
        file.insertEntry(newEntry(blockKey(static_cast<uint16_t>(n)), blocks[n]));
    }
    TableDefinition loaded;
    int load = loadDefinition(file, kTable, kOwner, &loaded);
    EXPECT_TRUE(load == 0 || load == 47) << load;
    if (load == 0) {
        for (const auto& key : loaded.keys) {
            for (const KeyComponent& component : key->components) {
                EXPECT_LT(component.field, loaded.fields.size());
            }
        }
    }
    for (bool decimalCheck : {true, false}) {
        int check = checkDefinition(file, kTable, declared, decimalCheck);
        EXPECT_TRUE(check == 0 || check == 47) << check;
    }
}

std::vector<std::vector<uint8_t>> cutIntoBlocks(const std::vector<uint8_t>& stream) {
    std::vector<std::vector<uint8_t>> blocks;
    for (size_t start = 0; start < stream.size(); start += 512) {
        size_t end = std::min(stream.size(), start + 512);
        blocks.emplace_back(stream.begin() + static_cast<long>(start),
                            stream.begin() + static_cast<long>(end));
    }
    return blocks;
}

class DamagedStreamTest : public TableDefinitionTest {
protected:
    void SetUp() override {
        TableDefinitionTest::SetUp();
        std::vector<MemoShape> memos(3, MemoShape{.size = 40, .label = {"SOME:MEMO:LABEL", -1}});
        std::vector<KeyShape> keys = {{.components = {1, -2}}, {.components = {3}},
                                     {.components = {}, .attributes = kKeyIndex}};
        std::vector<FieldShape> fields;
        for (uint32_t i = 0; i < 60; ++i) {
            fields.push_back({.type = i % 3 == 0 ? kString : i % 3 == 1 ? kDecimal : kLong,
                              .offset = i * 4, .size = 4, .label = {"PREFIX:SOMEFIELD", -1},
                              .picture = {"@s4", -1}});
        }
        declaration_ = std::make_unique<Declaration>(fields, memos, keys);
        ASSERT_EQ(build(*declaration_, &definition_), 0);
        stream_ = encodeDefinition(definition_);
        ASSERT_GT(stream_.size(), 1024u);
    }

    std::unique_ptr<Declaration> declaration_;
    TableDefinition definition_;
    std::vector<uint8_t> stream_;
};

TEST_F(DamagedStreamTest, RandomBytesGiveACleanLoadOr47) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> damaged = stream_;
        if (round % 3 == 0) {
            // Every byte random.
            for (uint8_t& byte : damaged) byte = static_cast<uint8_t>(random());
        } else {
            // A few bytes changed, at times in the header.
            int changes = 1 + static_cast<int>(random() % 8);
            for (int i = 0; i < changes; ++i) {
                size_t at = round % 3 == 1 ? random() % 10 : random() % damaged.size();
                damaged[at] = static_cast<uint8_t>(random());
            }
        }
        SCOPED_TRACE(round);
        expectCleanOutcome(cutIntoBlocks(damaged), definition_);
    }
}

TEST_F(DamagedStreamTest, TruncatedStreamsGiveACleanLoadOr47) {
    for (size_t length = 0; length < stream_.size(); length += 7) {
        SCOPED_TRACE(length);
        std::vector<uint8_t> cut(stream_.begin(), stream_.begin() + static_cast<long>(length));
        expectCleanOutcome(cutIntoBlocks(cut), definition_);
    }
}

TEST_F(DamagedStreamTest, OddBlockSizesAndHugeCountsGiveACleanLoadOr47) {
    std::mt19937 random(7);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        std::vector<std::vector<uint8_t>> blocks = cutIntoBlocks(stream_);
        // Blocks that are too long, too short or empty, and texts without terminators.
        for (auto& block : blocks) {
            switch (random() % 4) {
                case 0: block.resize(block.size() + random() % 600, 'x'); break;
                case 1: block.resize(random() % (block.size() + 1)); break;
                case 2: std::fill(block.begin(), block.end(), 'y'); break;
                default: break;
            }
        }
        // Huge counts.
        if (blocks[0].size() >= 10) {
            for (size_t at = 4; at < 10; ++at) {
                if (random() % 2) blocks[0][at] = 0xFF;
            }
        }
        expectCleanOutcome(blocks, definition_);
    }
}

TEST_F(DamagedStreamTest, TheSoundStreamChecksAndLoads) {
    PageFile file;
    writeDefinition(file, kTable, definition_);
    EXPECT_EQ(checkResult(file, definition_), "ok");
    TableDefinition loaded;
    ASSERT_EQ(loadDefinition(file, kTable, kOwner, &loaded), 0);
    EXPECT_EQ(encodeDefinition(loaded), stream_);
}

}  // namespace
}  // namespace vellum
