// Properties through the typed table wrapper: reading and setting table, field, memo and key
// properties (tables of cases), handles for control blocks, the record buffer and the field list,
// the name property steering the next OPEN, the build-progress property around a build with
// progress events, and the BLOB properties of BLOB_GET_PROP and BLOB_SET_PROP.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "filelayer/current_window.h"
#include "filelayer/handle_registry.h"
#include "filelayer/table.h"
#include "support/temp_dir.h"
#include "vellum/error_codes.h"
#include "vellum/operation_codes.h"

namespace vellum {
namespace {

enum PropsField : uint32_t { kId = 1, kPair, kFirst, kLast, kAmount, kScores, kIdAgain };
enum PropsKey : unsigned { kById = 1, kByName, kByAmount };
enum PropsMemo : ArgumentSlot { kNote = 1, kData, kRaw };

FieldSpec fieldOf(std::string label, uint8_t type, uint32_t elementSize) {
    FieldSpec item;
    item.label = std::move(label);
    item.type = type;
    item.elementSize = elementSize;
    return item;
}

// Props: a LONG, a GROUP of two strings, a DECIMAL, a dimensioned SHORT, a LONG over the first
// field; a primary KEY, a two-component DUP OPT KEY and an INDEX; a MEMO, a BLOB, a binary MEMO.
TableDeclaration props(const std::string& file) {
    FieldSpec first = fieldOf("P:First", kString, 10);
    first.externalName = "FirstName";
    first.picture = "@s10";
    FieldSpec scores = fieldOf("P:Scores", kShort, 2);
    scores.dimensions = {3};
    FieldSpec idAgain = fieldOf("P:IdAgain", kLong, 4);
    idAgain.overField = kId;
    TableDeclaration declaration("Props");
    declaration.name(file)
        .attributes(kAttributeCreate)
        .longField("P:Id")
        .group("P:Pair", 2)
        .field(first)
        .string("P:Last", 10)
        .decimal("P:Amount", 7, 2)
        .field(scores)
        .field(idAgain)
        .key("P:ById", kKeyPrimary | kKeyNoCase, {kId}, "IDKEY")
        .key("P:ByName", kKeyDup | kKeyOpt, {kFirst, -static_cast<int32_t>(kLast)})
        .key("P:ByAmount", kKeyIndex, {kAmount})
        .memo("P:Note", 100)
        .memo("P:Data", 0, kMemoBlob)
        .memo("P:Raw", 20, kMemoBinary);
    return declaration;
}

// The current window during a build: events go to the handler.
class EventWindow : public CurrentWindow {
  public:
    void postMessage(uint32_t, uintptr_t, uintptr_t) override {}
    int sendEvent(uint32_t event, int32_t) override {
        if (event == kProgressEvent && onProgress) onProgress();
        return 0;
    }
    static constexpr uint32_t kProgressEvent = 0xA241;
    std::function<void()> onProgress;
};

class PropertiesTest : public ::testing::Test {
  protected:
    void SetUp() override { previousWindow_ = setCurrentWindow(&window_); }
    void TearDown() override { setCurrentWindow(previousWindow_); }

    static std::string get(Table& table, int32_t index, const std::string& property) {
        table.call(kGETPROPERTY, {static_cast<ArgumentSlot>(index)}, {property});
        EXPECT_EQ(table.errorCode(), 0) << property;
        return table.resultText();
    }
    static int set(Table& table, int32_t index, const std::string& property,
                   const std::string& value) {
        table.call(kSETPROPERTY, {static_cast<ArgumentSlot>(index)}, {value, property});
        return table.errorCode();
    }
    static std::string keyProperty(Table& table, unsigned key, int32_t component,
                                   const std::string& property) {
        table.call(kGETPROPERTYkey,
                   {reinterpret_cast<ArgumentSlot>(table.key(key)),
                    static_cast<ArgumentSlot>(component)},
                   {property});
        EXPECT_EQ(table.errorCode(), 0) << property;
        return table.resultText();
    }
    static std::string blobProperty(Table& table, ArgumentSlot memo, const std::string& property) {
        table.call(kBLOBGETPROP, {memo}, {property});
        EXPECT_EQ(table.errorCode(), 0) << property;
        return table.resultText();
    }
    static int setBlobProperty(Table& table, ArgumentSlot memo, const std::string& property,
                               const std::string& value) {
        table.call(kBLOBSETPROP, {memo}, {value, property});
        return table.errorCode();
    }

    // A created table, left open.
    std::unique_ptr<Table> openTable(const std::string& file) {
        auto table = std::make_unique<Table>(props(file));
        EXPECT_EQ(table->create(), 0) << table->fileError();
        EXPECT_EQ(table->open(0x22), 0) << table->fileError();
        return table;
    }

    test::TempDir dir_;
    std::string file_ = dir_.file("props.vlm");
    EventWindow window_;
    CurrentWindow* previousWindow_ = nullptr;
};

TEST_F(PropertiesTest, ReadsTableFieldAndMemoProperties) {
    Table closed(props(file_));
    // The driver name, the name and the field count need no open table.
    EXPECT_EQ(get(closed, 0, "29453"), "VELLUM");
    EXPECT_EQ(get(closed, 0, "29462"), file_);
    EXPECT_EQ(get(closed, 0, "29458"), "7");

    auto table = openTable(file_);
    struct Case {
        int32_t index;
        const char* property;
        std::string expected;
    };
    const Case cases[] = {
        // The table and the driver.
        {0, "29453", "VELLUM"}, {0, "29454", "1"}, {0, "29508", ""}, {0, "29455", "3"},
        {0, "29456", "1"}, {0, "29457", "2"}, {0, "29458", "7"}, {0, "29462", file_},
        {0, "29463", "Props"}, {0, "31942", "1"}, {0, "29464", ""}, {0, "29459", ""},
        {0, "31893", ""}, {0, "29446", ""}, {0, "29447", "0"}, {0, "29444", ""}, {0, "29445", ""},
        {0, "29510", ""}, {0, "29522", ""}, {0, "29440", ""}, {0, "29232", ""},
        {0, "99999", ""}, {0, "x", ""},
        // The descriptor's operation and type lists, whatever the index.
        {24, "29512", "1"}, {35, "29512", ""}, {86, "29512", "1"}, {0, "29512", ""},
        {22, "29513", "1"}, {11, "29513", ""},
        // Fields: a GROUP counts its members.
        {kPair, "29458", "2"}, {kId, "29458", "1"}, {kFirst, "29462", "FirstName"},
        {kLast, "29462", ""}, {kFirst, "29463", "P:First"}, {kAmount, "29474", "2"},
        {kId, "29474", ""}, {kScores, "29475", "3"}, {kId, "29475", "0"},
        {kIdAgain, "29476", "1"}, {kId, "29476", "0"}, {kFirst, "29523", "@s10"},
        {kId, "29523", ""}, {kAmount, "31745", "DECIMAL"}, {kScores, "31745", "SHORT"},
        {kFirst, "31745", "STRING"}, {kPair, "31745", "GROUP"}, {kAmount, "31929", "7"},
        {kScores, "31929", "2"}, {kFirst, "31929", "10"}, {8, "29463", ""},
        // Memos and BLOBs.
        {-1, "29463", "P:Note"}, {-1, "29462", ""}, {-1, "31745", "MEMO"},
        {-2, "31745", "BLOB"}, {-3, "29473", "1"}, {-1, "29473", ""}, {-1, "31929", "100"},
        {-2, "31929", "0"}, {-2, "31899", "0"}, {-1, "31945", ""},
        {-1, "31744", std::string(100, ' ')}, {-4, "29463", ""}, {-2, "12345", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(get(*table, c.index, c.property), c.expected)
            << "index " << c.index << " property " << c.property;
    }
}

TEST_F(PropertiesTest, HandsOutHandlesForBlocksBufferAndFieldList) {
    auto table = openTable(file_);
    FileControlBlock* block = table->block();
    std::string layout = get(*table, 0, "29515");
    size_t first = layout.find(':');
    size_t second = layout.find(':', first + 1);
    ASSERT_NE(second, std::string::npos) << layout;
    EXPECT_EQ(objectOf(layout.substr(0, first), HandleKind::recordBuffer), table->record());
    EXPECT_EQ(layout.substr(first + 1, second - first - 1), std::to_string(table->recordLength()));
    EXPECT_EQ(objectOf(layout.substr(second + 1), HandleKind::fieldList), block->fields);
    EXPECT_EQ(objectOf(get(*table, kByName, "31851"), HandleKind::keyControlBlock),
              table->key(kByName));
    std::string fileHandle = keyProperty(*table, kById, 0, "29478");
    EXPECT_EQ(objectOf(fileHandle, HandleKind::fileControlBlock), block);
    EXPECT_EQ(get(*table, -2, "31945"), fileHandle + ":2");
    // The current key, once a key order is set.
    ASSERT_EQ(table->set(table->key(kByAmount)), 0);
    EXPECT_EQ(objectOf(get(*table, 0, "29440"), HandleKind::keyControlBlock),
              table->key(kByAmount));
    // A destroyed table object takes its handles along.
    table->call(kDESTROY);
    EXPECT_EQ(objectOf(fileHandle, HandleKind::fileControlBlock), nullptr);
}

TEST_F(PropertiesTest, ReadsKeyProperties) {
    auto table = openTable(file_);
    struct Case {
        unsigned key;
        int32_t component;
        const char* property;
        const char* expected;
    };
    const Case cases[] = {
        {kById, 0, "31745", "KEY"},      {kByAmount, 0, "31745", "INDEX"},
        {kById, 0, "29462", "IDKEY"},    {kById, 0, "29463", "P:ById"},
        {kByName, 0, "29466", "2"},      {kById, 0, "29467", ""},
        {kByName, 0, "29467", "1"},      {kByAmount, 0, "29467", "1"},
        {kByName, 0, "29468", "1"},      {kById, 0, "29468", ""},
        {kById, 0, "29469", "1"},        {kById, 0, "29470", "1"},
        {kByName, 0, "29470", ""},       {kByName, 1, "29471", "3"},
        {kByName, 2, "29471", "4"},      {kByName, 3, "29471", ""},
        {kByName, 1, "29472", "1"},      {kByName, 2, "29472", ""},
        {kById, 0, "12345", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(keyProperty(*table, c.key, c.component, c.property), c.expected)
            << "key " << c.key << " component " << c.component << " property " << c.property;
    }
    // SETPROPERTYkey is accepted and changes nothing.
    table->call(kSETPROPERTYkey, {reinterpret_cast<ArgumentSlot>(table->key(kById)), 0},
                {"x", "29463"});
    EXPECT_EQ(table->errorCode(), 0);
    EXPECT_EQ(keyProperty(*table, kById, 0, "29463"), "P:ById");
}

TEST_F(PropertiesTest, SetsTableFieldAndMemoProperties) {
    Table table(props(file_));
    struct Case {
        int32_t index;
        const char* property;
        std::string value;
        int error;
        std::string reads;  // the property afterwards
    };
    const Case cases[] = {
        {0, "29453", "OTHER", kUnsupportedFunction, "VELLUM"},
        {0, "29441", "7", kFileNotOpen, ""},
        {0, "29510", "server", kUnsupportedFunction, ""},
        {0, "29510", "", 0, ""},
        {0, "29460", "/FULLBUILD=ON  ", 0, "/FULLBUILD=ON"},
        {0, "29461", "secret ", 0, "secret"},
        {0, "29459", "1", 0, "1"},
        {0, "29459", "0", 0, ""},
        {0, "29464", "+5", 0, "1"},
        {0, "29232", "1", 0, "1"},
        {0, "29232", "no digits", 0, ""},
        {0, "29446", "100", 0, ""},  // a request, but no build runs
        {0, "99999", "x", 0, ""},
        {kFirst, "29462", "Given", 0, "Given"},
        {kFirst, "29463", "Label", 0, "P:First"},
        {-1, "29462", "NoteName", 0, "NoteName"},
        {-1, "31744", "hello", 0, "hello" + std::string(95, ' ')},
        {-2, "31935", "blob bytes", 0, "blob bytes"},
        {-2, "31929", "3", 0, "3"},
        {-3, "31744", std::string(30, 'x'), 0, std::string(20, 'x')},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(set(table, c.index, c.property, c.value), c.error)
            << "index " << c.index << " property " << c.property;
        EXPECT_EQ(get(table, c.index, c.property), c.reads)
            << "index " << c.index << " property " << c.property;
    }
    EXPECT_EQ(get(table, -2, "31744"), "blo");
}

TEST_F(PropertiesTest, TransactionListEnlistsAnOpenTable) {
    std::unique_ptr<Table> table = openTable(file_);
    EXPECT_EQ(get(*table, 0, "29441"), "");
    EXPECT_EQ(set(*table, 0, "29441", "7"), 0);
    EXPECT_EQ(get(*table, 0, "29441"), "7");
    EXPECT_EQ(set(*table, 0, "29441", "-1"), 0);
    EXPECT_EQ(get(*table, 0, "29441"), "");
}

TEST_F(PropertiesTest, DriverChangeNeedsAClosedTableAndForgetsItsTableObject) {
    std::unique_ptr<Table> table = openTable(file_);
    EXPECT_EQ(set(*table, 0, "29519", "2"), kFileAlreadyOpen);
    uint32_t records = 9;
    EXPECT_EQ(table->records(&records), 0) << "the open table goes on";
    EXPECT_EQ(records, 0u);
    ASSERT_EQ(table->close(), 0);

    // The table object goes with what it was told; the platform has no other driver and says so.
    ASSERT_EQ(set(*table, 0, "29462", "elsewhere"), 0);
    EXPECT_EQ(set(*table, 0, "29519", "2"), kUnsupportedFunction);
    EXPECT_EQ(get(*table, 0, "29462"), file_);
    EXPECT_EQ(table->open(0x22), 0) << table->fileError();
}

TEST_F(PropertiesTest, NamePropertySteersTheNextOpen) {
    std::string other = dir_.file("other.vlm");
    {
        auto second = openTable(other);
        second->setLong(kId, 7);
        ASSERT_EQ(second->add(), 0);
    }
    { auto first = openTable(file_); }
    Table table(props(file_));
    ASSERT_EQ(set(table, 0, "29462", other + "  "), 0);
    ASSERT_EQ(table.open(0x22), 0) << table.fileError();
    uint32_t records = 0;
    ASSERT_EQ(table.records(&records), 0);
    EXPECT_EQ(records, 1u);
    EXPECT_EQ(get(table, 0, "29462"), other);
    // The control block keeps the declared name.
    EXPECT_EQ(declaredText(table.block()->name), file_);
}

TEST_F(PropertiesTest, BuildProgressPropertyDuringABuildWithProgressEvents) {
    auto table = openTable(file_);
    table->call(kSTREAM);
    for (int32_t id = 1; id <= 300; ++id) {
        table->setLong(kId, id);
        ASSERT_EQ(table->call(kAPPEND), 0);
    }
    table->call(kFLUSH);
    ASSERT_EQ(set(*table, 0, "29446", "100"), 0);
    table->call(kBUILDkey, {reinterpret_cast<ArgumentSlot>(table->key(kById))});
    ASSERT_EQ(table->errorCode(), 0);
    EXPECT_EQ(get(*table, 0, "29446"), "");
    EXPECT_EQ(get(*table, 0, "29440"), "");
    std::vector<std::string> during;
    window_.onProgress = [&] {
        during.push_back(get(*table, 0, "29446") + "/" + get(*table, 0, "29447"));
        EXPECT_EQ(objectOf(get(*table, 0, "29440"), HandleKind::keyControlBlock),
                  table->key(kById));
    };
    table->call(kBUILDevent);
    EXPECT_EQ(table->errorCode(), 0) << table->fileError();
    EXPECT_EQ(during, (std::vector<std::string>{"1/42", "1/85"}));
    EXPECT_EQ(get(*table, 0, "29446"), "");
    EXPECT_EQ(get(*table, 0, "29447"), "0");
}

TEST_F(PropertiesTest, BlobPropertiesSizeContentTouchedAndHandle) {
    auto table = openTable(file_);
    std::vector<uint8_t> block{'x', 'y'};
    std::string blockHandle = handleOf(&block, HandleKind::blob);
    struct Case {
        ArgumentSlot memo;
        const char* property;
        const char* value;  // set first unless null
        int error;
        std::string reads;
    };
    const Case cases[] = {
        {kData, "31899", nullptr, 0, "0"},
        {kData, "31929", "4", 0, "4"},
        {kData, "31899", nullptr, 0, "1"},
        {kData, "31744", "abc", 0, "abc"},
        {kData, "31929", nullptr, 0, "3"},
        {kData, "31745", nullptr, 0, "BLOB"},
        {kData, "31929", "size=1,2", 0, "12"},
        {kData, "31894", blockHandle.c_str(), 0, ""},
        {kData, "31744", nullptr, 0, "xy"},
        {kData, "31894", "0", 0, ""},
        {kData, "31929", nullptr, 0, "0"},
        {kData, "31929", "999999999", kUnsupportedFunction, "0"},
        {kData, "31894", "4000000000", kUnsupportedFunction, ""},
        {kData, "12345", "7", 0, "0"},
        {kNote, "31745", nullptr, 0, "MEMO"},
        {kNote, "31899", nullptr, 0, ""},
        {kRaw, "29473", nullptr, 0, "1"},
    };
    for (const Case& c : cases) {
        if (c.value != nullptr) {
            EXPECT_EQ(setBlobProperty(*table, c.memo, c.property, c.value), c.error)
                << "memo " << c.memo << " property " << c.property;
        }
        if (std::string(c.property) == "31894") continue;
        EXPECT_EQ(blobProperty(*table, c.memo, c.property), c.reads)
            << "memo " << c.memo << " property " << c.property;
    }
    // Handle names the content block itself.
    ASSERT_EQ(setBlobProperty(*table, kData, "31744", "content"), 0);
    auto* content = static_cast<std::vector<uint8_t>*>(
        objectOf(blobProperty(*table, kData, "31894"), HandleKind::blob));
    ASSERT_NE(content, nullptr);
    EXPECT_EQ(std::string(content->begin(), content->end()), "content");
    // ADD stores the BLOB and resets Touched.
    table->setLong(kId, 1);
    ASSERT_EQ(table->add(), 0);
    EXPECT_EQ(blobProperty(*table, kData, "31899"), "0");
    dropHandle(&block);
}

}  // namespace
}  // namespace vellum
