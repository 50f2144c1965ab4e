// BUILD of keys through the typed table wrapper: APPEND then BUILDfile completing every key, a
// unique INDEX that meets duplicates, a sort that spills into a work file and sorts that fail,
// the deferred build with its window message and progress events (their interval, cancel, the
// engine lock given up meanwhile, a table closed or destroyed meanwhile, a fatal error), dynamic
// indexes from component texts and filters, full rebuild by switch and property, and the access
// a build needs.
// File keys are read through a PageFile of the test's own once the table has closed the file; a
// dynamic index through its table object's private tree.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "filelayer/current_window.h"
#include "filelayer/table.h"
#include "pagestore/page_file.h"
#include "support/faulty_file_system.h"
#include "support/sound_files.h"
#include "support/temp_dir.h"
#include "tablestore/collation.h"
#include "tablestore/count_records.h"
#include "tablestore/records.h"
#include "tablestore/table_address.h"
#include "tablestore/table_object.h"
#include "vellum/byte_order.h"
#include "vellum/entry.h"
#include "vellum/error_codes.h"
#include "vellum/operation_codes.h"

namespace vellum {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using Bytes = std::vector<uint8_t>;
using Order = std::vector<uint32_t>;  // record numbers in key order

constexpr int kExclusiveMode = 0x22;  // reading and writing, others denied writing
constexpr uint32_t kBuildMessage = 0xB020;
constexpr uint32_t kProgressEvent = 0xA241;
constexpr uint32_t kFinishedEvent = 0xA242;
constexpr const char* kFullBuildProperty = "29232";
constexpr const char* kProgressProperty = "29446";

// Fields, and keys by their place in the declaration (from 1).
enum ItemField : uint32_t { kId = 1, kName, kTag, kValue };
enum ItemKey : unsigned { kById = 1, kByName, kByTag, kByValue, kSorted };

// Items: Id (unique KEY), Name (DUP KEY), Tag (OPT DUP INDEX), Value (unique INDEX) and Sorted,
// a dynamic index with duplicates.
TableDeclaration items(const std::string& file, uint32_t nameLength) {
    TableDeclaration declaration("Items");
    declaration.name(file)
        .attributes(kAttributeCreate)
        .longField("Id")
        .string("Name", nameLength)
        .string("Tag", 8)
        .longField("Value")
        .key("ById", 0, {kId})
        .key("ByName", kKeyDup, {kName})
        .key("ByTag", kKeyOpt | kKeyDup | kKeyIndex, {kTag})
        .key("ByValue", kKeyIndex, {kValue})
        .key("Sorted", kKeyDup | kKeyIndex, {});
    return declaration;
}

struct Row {
    int32_t id = 0;
    std::string name;
    std::string tag;  // blank: no entry in ByTag
    int32_t value = 0;
};

// n rows: ids a permutation of 1 to n, 37 names, blank tags every fifth row, unique values.
std::vector<Row> manyRows(int32_t n) {
    std::vector<Row> rows;
    for (int32_t i = 0; i < n; ++i) {
        int32_t id = static_cast<int32_t>((int64_t{i} * 7919) % n) + 1;
        rows.push_back({id, "N" + std::to_string(i % 37),
                        i % 5 == 0 ? std::string() : "T" + std::to_string(i % 7), 3 * id});
    }
    return rows;
}

// A stored record decoded.
Row decode(const Bytes& image, uint32_t nameLength) {
    auto text = [&](size_t offset, size_t size) {
        std::string value(image.begin() + static_cast<std::ptrdiff_t>(offset),
                          image.begin() + static_cast<std::ptrdiff_t>(offset + size));
        return value.substr(0, value.find_last_not_of(' ') + 1);
    };
    return {static_cast<int32_t>(load32le(image.data())), text(4, nameLength),
            text(4 + nameLength, 8),
            static_cast<int32_t>(load32le(image.data() + 12 + nameLength))};
}

// What a key holds: its counts and the record numbers of its entries in key order.
struct KeyState {
    uint32_t count = 0;
    uint32_t point = 0;
    std::vector<uint32_t> records;
};

KeyState keyState(PageFile& tree, const TableNumber& table, unsigned key) {
    KeyState state;
    auto selector = static_cast<uint8_t>(key - 1);
    CountValues counts;
    EXPECT_TRUE(readCounts(tree, table, selector, &counts));
    state.count = counts.count;
    state.point = counts.second;
    Bytes prefix(table.begin(), table.end());
    prefix.push_back(selector);
    OwnedEntry probe(newEntry(prefix));
    for (Entry* entry = tree.findNextEntry(probe.get());
         entry != nullptr && entry->keyLength > prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), entry->bytes());
         entry = tree.findNextEntry(probe.get())) {
        state.records.push_back(recordNumberOf(*entry));
        probe.reset(copyEntryKey(*entry));
    }
    return state;
}

// The table's file opened on its own, once the table has closed it.
class StoredTable {
public:
    explicit StoredTable(const std::string& path, int mode = 0x40) {
        EXPECT_EQ(file_.open(path, mode, ""), 0) << path;
        Entry* name = file_.findEntry(tableNameKey(kUnnamedTable));
        EXPECT_NE(name, nullptr);
        if (name != nullptr) std::copy_n(name->data().begin(), 4, table_.begin());
    }
    ~StoredTable() { file_.close(); }

    PageFile& file() { return file_; }
    const TableNumber& tableNumber() const { return table_; }
    KeyState key(unsigned number) { return keyState(file_, table_, number); }

    // Record number and decoded record of every data record, in record-number order.
    std::vector<std::pair<uint32_t, Row>> records(uint32_t nameLength) {
        std::vector<std::pair<uint32_t, Row>> rows;
        Bytes prefix = tableKey(table_, kRecordTypeData);
        OwnedEntry probe(newEntry(prefix));
        for (Entry* entry = file_.findNextEntry(probe.get());
             entry != nullptr && entry->keyLength == 9 &&
             std::equal(prefix.begin(), prefix.end(), entry->bytes());
             entry = file_.findNextEntry(probe.get())) {
            rows.emplace_back(
                recordNumberOf(*entry),
                decode(Bytes(entry->data().begin(), entry->data().end()), nameLength));
            probe.reset(copyEntryKey(*entry));
        }
        return rows;
    }

private:
    PageFile file_;
    TableNumber table_{};
};

// The record numbers of the rows that pass, in the order of the key tuple, then record number.
template <typename KeyOf>
std::vector<uint32_t> expectedOrder(const std::vector<std::pair<uint32_t, Row>>& records,
                                    KeyOf keyOf, std::function<bool(const Row&)> passes = {}) {
    std::vector<std::pair<decltype(keyOf(Row{})), uint32_t>> sorted;
    for (const auto& [number, row] : records) {
        if (!passes || passes(row)) sorted.emplace_back(keyOf(row), number);
    }
    std::sort(sorted.begin(), sorted.end());
    std::vector<uint32_t> order;
    for (const auto& item : sorted) order.push_back(item.second);
    return order;
}

// A string that sorts in reverse: descending components invert their bytes.
std::string inverted(const std::string& text, size_t size) {
    std::string padded = text + std::string(size - text.size(), ' ');
    for (char& c : padded) c = static_cast<char>(~static_cast<unsigned char>(c));
    return padded;
}

// The current window as a test scripts it: messages are recorded, events recorded and answered
// by the handler (0 without one).
class ScriptedWindow : public CurrentWindow {
public:
    struct Message {
        uint32_t message;
        uintptr_t wParam;
        uintptr_t lParam;
        bool operator==(const Message&) const = default;
    };
    void postMessage(uint32_t message, uintptr_t wParam, uintptr_t lParam) override {
        messages.push_back({message, wParam, lParam});
    }
    int sendEvent(uint32_t event, int32_t parameter) override {
        events.emplace_back(event, parameter);
        return onEvent ? onEvent(event) : 0;
    }

    std::vector<Message> messages;
    std::vector<std::pair<uint32_t, int32_t>> events;
    std::function<int(uint32_t)> onEvent;
};

class KeyBuildTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sortDir_ = dir_.file("sort");
        fs::create_directory(sortDir_);
        if (const char* tmp = std::getenv("TMPDIR")) savedTmpDir_ = tmp;
        setenv("TMPDIR", sortDir_.c_str(), 1);
        previousWindow_ = setCurrentWindow(&window_);
    }
    void TearDown() override {
        setCurrentWindow(previousWindow_);
        if (savedTmpDir_) {
            setenv("TMPDIR", savedTmpDir_->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }

    // Creates the table, puts rows into it with op (APPEND under STREAM, or ADD) and leaves it
    // open for reading and writing with others denied writing.
    std::unique_ptr<Table> makeTable(const std::vector<Row>& rows, uint32_t nameLength = 20,
                                     int op = kAPPEND) {
        auto table = std::make_unique<Table>(items(file_, nameLength));
        EXPECT_EQ(table->create(), 0) << table->fileError();
        EXPECT_EQ(table->open(kExclusiveMode), 0);
        table->call(kSTREAM);
        for (const Row& row : rows) {
            table->clear();
            table->setLong(kId, row.id);
            table->setText(kName, row.name);
            table->setText(kTag, row.tag);
            table->setLong(kValue, row.value);
            table->call(op);
            EXPECT_EQ(table->errorCode(), 0) << row.id;
        }
        table->call(kFLUSH);
        return table;
    }

    static int callKey(Table& table, int op, unsigned key, std::vector<std::string> texts = {}) {
        table.call(op, {reinterpret_cast<ArgumentSlot>(table.key(key))}, std::move(texts));
        return table.errorCode();
    }
    static int32_t keyCount(Table& table, unsigned key) {
        return table.call(kRECORDSkey, {reinterpret_cast<ArgumentSlot>(table.key(key))});
    }
    static int setProperty(Table& table, const std::string& property, const std::string& value) {
        table.call(kSETPROPERTY, {0}, {value, property});
        return table.errorCode();
    }
    static std::string getProperty(Table& table, const std::string& property) {
        table.call(kGETPROPERTY, {0}, {property});
        return table.resultText();
    }
    static TableObject& tableObject(Table& table) { return *table.block()->tableObject; }

    // The names of the files in the sort directory.
    std::vector<std::string> workFiles() const {
        std::vector<std::string> names;
        for (const auto& item : fs::directory_iterator(sortDir_)) {
            names.push_back(item.path().filename().string());
        }
        return names;
    }

    // Expects n progress events with parameter 0 and then the finished event with 1.
    void expectEvents(size_t n) {
        std::vector<std::pair<uint32_t, int32_t>> expected(n, {kProgressEvent, 0});
        expected.emplace_back(kFinishedEvent, 1);
        EXPECT_THAT(window_.events, ElementsAreArray(expected));
    }

    test::TempDir dir_;
    test::SoundFilesCheck soundFiles_{dir_};
    std::string file_ = dir_.file("items.vlm");
    std::string sortDir_;
    std::optional<std::string> savedTmpDir_;
    ScriptedWindow window_;
    CurrentWindow* previousWindow_ = nullptr;
};

// ---- BUILDfile after APPEND ----

TEST_F(KeyBuildTest, BuildFileAfterAppendLeavesEveryKeyComplete) {
    for (bool openDuringBuild : {true, false}) {
        SCOPED_TRACE(openDuringBuild);
        file_ = dir_.file(openDuringBuild ? "open.vlm" : "closed.vlm");
        std::vector<Row> rows = manyRows(1000);
        auto table = makeTable(rows);
        // APPEND writes no key entries.
        EXPECT_EQ(keyCount(*table, kById), 0);
        if (!openDuringBuild) {
            ASSERT_EQ(table->close(), 0);
        }
        table->call(kBUILDfile);
        ASSERT_EQ(table->errorCode(), 0) << table->fileError();
        // A table the build opened itself is closed again.
        EXPECT_EQ(table->close(), openDuringBuild ? 0 : kFileNotOpen);

        StoredTable stored(file_);
        auto records = stored.records(20);
        ASSERT_EQ(records.size(), rows.size());
        size_t tagged = std::count_if(rows.begin(), rows.end(),
                                      [](const Row& row) { return !row.tag.empty(); });
        struct Expected {
            unsigned key;
            std::vector<uint32_t> order;
        };
        const Expected cases[] = {
            {kById, expectedOrder(records, [](const Row& r) { return r.id; })},
            {kByName, expectedOrder(records, [](const Row& r) { return r.name; })},
            {kByTag, expectedOrder(
                         records, [](const Row& r) { return r.tag; },
                         [](const Row& r) { return !r.tag.empty(); })},
            {kByValue, expectedOrder(records, [](const Row& r) { return r.value; })},
        };
        for (const Expected& expected : cases) {
            SCOPED_TRACE(expected.key);
            KeyState key = stored.key(expected.key);
            EXPECT_EQ(key.point, 0u);
            EXPECT_EQ(key.count, key.records.size());
            EXPECT_EQ(key.count, expected.key == kByTag ? tagged : rows.size());
            EXPECT_EQ(key.records, expected.order);
        }
    }
}

// ---- A unique INDEX that meets duplicates ----

TEST_F(KeyBuildTest, UniqueIndexKeepsTheFirstRecordOfEachValueAndStaysMarked) {
    auto table = makeTable({{1, "A", "", 5}, {2, "B", "", 7}, {3, "C", "", 5}}, 20, kADD);
    std::vector<uint32_t> numbers;
    {
        ASSERT_EQ(table->close(), 0);
        StoredTable stored(file_);
        for (const auto& record : stored.records(20)) numbers.push_back(record.first);
    }
    ASSERT_EQ(numbers.size(), 3u);
    ASSERT_EQ(table->open(kExclusiveMode), 0);
    // The second build resumes at the first duplicate and meets it again.
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(callKey(*table, kBUILDkey, kByValue), kCreatesDuplicateKey);
        EXPECT_EQ(keyCount(*table, kByValue), 2);
    }
    ASSERT_EQ(table->close(), 0);
    {
        StoredTable stored(file_);
        KeyState key = stored.key(kByValue);
        EXPECT_THAT(key.records, ElementsAre(numbers[0], numbers[1]));
        EXPECT_EQ(key.point, numbers[2]);
    }
    // Once the third record has a value of its own, the key completes.
    ASSERT_EQ(table->open(kExclusiveMode), 0);
    table->call(kGETfileptr, {numbers[2]});
    ASSERT_EQ(table->errorCode(), 0);
    table->setLong(kValue, 9);
    ASSERT_EQ(table->put(), 0);
    EXPECT_EQ(callKey(*table, kBUILDkey, kByValue), 0);
    ASSERT_EQ(table->close(), 0);
    StoredTable stored(file_);
    KeyState key = stored.key(kByValue);
    EXPECT_THAT(key.records, ElementsAre(numbers[0], numbers[1], numbers[2]));
    EXPECT_EQ(key.point, 0u);
}

// ---- The sort's work file ----

TEST_F(KeyBuildTest, BigBuildSpillsIntoAWorkFileThatIsGoneAfterwards) {
    // 1200 items of 4004 bytes: about five runs of a megabyte; their entries fill more than 400
    // pages, so the key is committed on the way as well.
    constexpr uint32_t kLongName = 4000;
    std::vector<Row> rows = manyRows(1200);
    for (Row& row : rows) row.name = "Name " + std::to_string(row.id * 37 % 1201);
    auto table = makeTable(rows, kLongName);
    ASSERT_EQ(setProperty(*table, kProgressProperty, "100"), 0);
    ASSERT_EQ(callKey(*table, kBUILDkey, kByName), 0);
    std::vector<std::vector<std::string>> seen;
    window_.onEvent = [&](uint32_t event) {
        if (event == kProgressEvent) seen.push_back(workFiles());
        return 0;
    };
    table->call(kBUILDevent);
    ASSERT_EQ(table->errorCode(), 0) << table->fileError();
    // The first run is written after 250 items; from the progress event at 256 on there is one
    // work file.
    ASSERT_EQ(seen.size(), 9u);
    EXPECT_THAT(seen[0], IsEmpty());
    for (size_t i = 1; i < seen.size(); ++i) {
        ASSERT_EQ(seen[i].size(), 1u) << i;
        EXPECT_EQ(seen[i][0].rfind("TMP", 0), 0u) << seen[i][0];
    }
    EXPECT_THAT(workFiles(), IsEmpty());
    ASSERT_EQ(table->close(), 0);

    StoredTable stored(file_);
    KeyState key = stored.key(kByName);
    EXPECT_EQ(key.point, 0u);
    EXPECT_EQ(key.count, rows.size());
    EXPECT_EQ(key.records,
              expectedOrder(stored.records(kLongName), [](const Row& r) { return r.name; }));
}

TEST_F(KeyBuildTest, FailedSortGives90AndTheKeyResumesLater) {
    constexpr uint32_t kLongName = 4000;
    test::writeFileBytes(dir_.file("plain"), "not a directory");
    struct Case {
        const char* tableFile;
        std::string tmpDir;
    };
    const Case cases[] = {
        {"missing.vlm", dir_.file("missing")},
        {"plain.vlm", dir_.file("plain")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tmpDir);
        file_ = dir_.file(c.tableFile);
        // 300 items of 4004 bytes need a work file.
        auto table = makeTable(manyRows(300), kLongName);
        setenv("TMPDIR", c.tmpDir.c_str(), 1);
        EXPECT_EQ(callKey(*table, kBUILDkey, kByName), kFileSystemError);
        EXPECT_EQ(table->fileError(), "Sort work file could not be created");
        EXPECT_EQ(table->fileErrorCode(), "90");
        EXPECT_EQ(keyCount(*table, kByName), 0);
        ASSERT_EQ(table->close(), 0);
        {
            StoredTable stored(file_);
            KeyState key = stored.key(kByName);
            EXPECT_EQ(key.point, stored.records(kLongName).front().first);
            EXPECT_EQ(key.count, 0u);
        }
        setenv("TMPDIR", sortDir_.c_str(), 1);
        ASSERT_EQ(table->open(kExclusiveMode), 0);
        EXPECT_EQ(callKey(*table, kBUILDkey, kByName), 0);
        EXPECT_EQ(keyCount(*table, kByName), 300);
        ASSERT_EQ(table->close(), 0);
        StoredTable stored(file_);
        EXPECT_EQ(stored.key(kByName).point, 0u);
    }
}

// ---- The deferred build ----

TEST_F(KeyBuildTest, DeferredBuildRunsAtBuildEventWithProgressEvents) {
    auto table = makeTable(manyRows(1000));
    ASSERT_EQ(setProperty(*table, kProgressProperty, "100"), 0);
    EXPECT_EQ(callKey(*table, kBUILDkey, kById), 0);
    EXPECT_THAT(window_.messages,
                ElementsAre(ScriptedWindow::Message{kBuildMessage, 0,
                                                    reinterpret_cast<uintptr_t>(table->block())}));
    EXPECT_THAT(window_.events, IsEmpty());
    // Until BUILDevent the table works as before and the key is not built.
    ASSERT_EQ(table->set(nullptr), 0);
    EXPECT_EQ(table->next(), 0);
    uint32_t records = 0;
    EXPECT_EQ(table->records(&records), 0);
    EXPECT_EQ(records, 1000u);
    EXPECT_EQ(keyCount(*table, kById), 0);
    EXPECT_EQ(getProperty(*table, kProgressProperty), "");

    // During a progress event only CLOSE, NAME, GET_PROPERTY, BUILDevent and GETPROPERTYkey
    // pass on this table.
    struct Probe {
        int op;
        int error;
    };
    const Probe probes[] = {{kRECORDSfile, kBuildInProgress},
                            {kADD, kBuildInProgress},
                            {kGETfileptr, kBuildInProgress},
                            {kBUILDfile, kBuildInProgress},
                            {kNAME, 0},
                            {kGETPROPERTY, 0}};
    std::vector<uint32_t> percents;
    std::string name = table->name();
    window_.onEvent = [&](uint32_t event) {
        if (event != kProgressEvent) return 0;
        percents.push_back(tableObject(*table).buildPercent);
        // NEXT first: its failure, like that of BUILDfile, clears the sequence it needs.
        if (percents.size() == 1) {
            EXPECT_EQ(table->next(), kBuildInProgress);
        }
        for (const Probe& probe : probes) {
            table->call(probe.op, {0}, {kProgressProperty});
            EXPECT_EQ(table->errorCode(), probe.error) << probe.op;
        }
        EXPECT_EQ(table->name(), name);
        EXPECT_EQ(getProperty(*table, kProgressProperty), "1");
        return 0;
    };
    table->call(kBUILDevent);
    EXPECT_EQ(table->errorCode(), 0) << table->fileError();
    expectEvents(7);
    EXPECT_THAT(percents, ElementsAre(12, 25, 38, 51, 64, 76, 89));
    EXPECT_EQ(keyCount(*table, kById), 1000);
    EXPECT_EQ(getProperty(*table, kProgressProperty), "");

    // BUILDevent consumed the pending build.
    window_.events.clear();
    table->call(kBUILDevent);
    EXPECT_EQ(table->errorCode(), 0);
    EXPECT_THAT(window_.events, IsEmpty());
    EXPECT_EQ(window_.messages.size(), 1u);
}

TEST_F(KeyBuildTest, ProgressEventsFollowTheIntervalOfTheRequest) {
    auto table = makeTable(manyRows(1000));
    // Events after the k-th record where (-k) AND (256 (P - 1) + 127) is 0, P = 101 - value,
    // the value taken into 1 to 100.
    struct Case {
        const char* value;
        size_t events;
    };
    const Case cases[] = {{"100", 7}, {"500", 7}, {"99", 3}, {"-7", 0}, {"1", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        window_.events.clear();
        ASSERT_EQ(setProperty(*table, kFullBuildProperty, "1"), 0);
        ASSERT_EQ(setProperty(*table, kProgressProperty, c.value), 0);
        ASSERT_EQ(callKey(*table, kBUILDkey, kByName), 0);
        table->call(kBUILDevent);
        EXPECT_EQ(table->errorCode(), 0);
        expectEvents(c.events);
        EXPECT_EQ(keyCount(*table, kByName), 1000);
    }
}

TEST_F(KeyBuildTest, BuildFileProgressCountsTheKeysInTurn) {
    auto table = makeTable(manyRows(1000));
    ASSERT_EQ(setProperty(*table, kProgressProperty, "100"), 0);
    table->call(kBUILDfile);
    ASSERT_EQ(table->errorCode(), 0);
    std::vector<uint32_t> percents;
    window_.onEvent = [&](uint32_t event) {
        if (event == kProgressEvent) percents.push_back(tableObject(*table).buildPercent);
        return 0;
    };
    table->call(kBUILDevent);
    ASSERT_EQ(table->errorCode(), 0);
    // Four keys (the dynamic index is not built): each takes a quarter.
    std::vector<uint32_t> expected;
    for (uint32_t quarter = 0; quarter < 4; ++quarter) {
        for (uint32_t within : {3, 6, 9, 12, 16, 19, 22}) expected.push_back(25 * quarter + within);
    }
    EXPECT_EQ(percents, expected);
    expectEvents(expected.size());
}

TEST_F(KeyBuildTest, CancelledBuildGives93AndResumesLater) {
    auto table = makeTable(manyRows(1000));
    ASSERT_EQ(setProperty(*table, kProgressProperty, "100"), 0);
    ASSERT_EQ(callKey(*table, kBUILDkey, kByValue), 0);
    window_.onEvent = [](uint32_t event) { return event == kProgressEvent ? 1 : 0; };
    table->call(kBUILDevent);
    EXPECT_EQ(table->errorCode(), kBuildCancelled);
    expectEvents(1);
    EXPECT_THAT(workFiles(), IsEmpty());
    EXPECT_EQ(keyCount(*table, kByValue), 0);
    ASSERT_EQ(table->close(), 0);
    {
        StoredTable stored(file_);
        KeyState key = stored.key(kByValue);
        EXPECT_EQ(key.point, stored.records(20).front().first);
        EXPECT_EQ(key.count, 0u);
    }
    ASSERT_EQ(table->open(kExclusiveMode), 0);
    EXPECT_EQ(callKey(*table, kBUILDkey, kByValue), 0);
    EXPECT_EQ(keyCount(*table, kByValue), 1000);
}

TEST_F(KeyBuildTest, OtherThreadsReachTheEngineDuringAProgressEvent) {
    auto table = makeTable(manyRows(200));
    Table other(items(dir_.file("other.vlm"), 20));
    ASSERT_EQ(other.create(), 0);
    ASSERT_EQ(other.open(0x42), 0);
    ASSERT_EQ(setProperty(*table, kProgressProperty, "100"), 0);
    ASSERT_EQ(callKey(*table, kBUILDkey, kById), 0);
    int otherError = -1;
    window_.onEvent = [&](uint32_t event) {
        if (event == kProgressEvent) {
            // Would wait for ever if the build kept the engine lock.
            std::thread reader([&] {
                uint32_t count = 0;
                otherError = other.records(&count);
            });
            reader.join();
        }
        return 0;
    };
    table->call(kBUILDevent);
    EXPECT_EQ(table->errorCode(), 0);
    EXPECT_EQ(otherError, 0);
}

TEST_F(KeyBuildTest, TableClosedOrDestroyedDuringAProgressEventEndsTheBuild) {
    for (int op : {kCLOSE, kDESTROY}) {
        SCOPED_TRACE(op);
        file_ = dir_.file(op == kCLOSE ? "closed.vlm" : "destroyed.vlm");
        window_.events.clear();
        auto table = makeTable(manyRows(1000));
        ASSERT_EQ(setProperty(*table, kFullBuildProperty, "1"), 0);
        ASSERT_EQ(setProperty(*table, kProgressProperty, "100"), 0);
        ASSERT_EQ(callKey(*table, kBUILDkey, kById), 0);
        window_.onEvent = [&](uint32_t event) {
            if (event == kProgressEvent) table->call(op);
            return 0;
        };
        table->call(kBUILDevent);
        EXPECT_EQ(table->errorCode(), kFileSystemError);
        EXPECT_EQ(table->fileError(),
                  "BUILD abandoned: the table was closed during a progress event");
        expectEvents(1);
        window_.onEvent = nullptr;
        // The table object in use works: the key was left marked from record 1 and builds again.
        ASSERT_EQ(table->open(kExclusiveMode), 0);
        EXPECT_EQ(callKey(*table, kBUILDkey, kById), 0);
        EXPECT_EQ(keyCount(*table, kById), 1000);
    }
}

TEST_F(KeyBuildTest, FatalErrorDuringAnEventBuildPosts90AndEndsTheBuild) {
    auto table = makeTable(manyRows(1000));
    ASSERT_EQ(setProperty(*table, kProgressProperty, "100"), 0);
    ASSERT_EQ(callKey(*table, kBUILDkey, kById), 0);
    test::FaultyFileSystem faults;
    faults.failReadAt = 1;
    std::optional<test::ScopedFileSystem> failing;
    window_.onEvent = [&](uint32_t event) {
        // From here on the build must read every page it needs, and the first read fails.
        if (event == kProgressEvent && !failing) {
            tableObject(*table).pageFile()->dropCache();
            failing.emplace(faults);
        }
        return 0;
    };
    table->call(kBUILDevent);
    failing.reset();
    EXPECT_EQ(table->errorCode(), kFileSystemError);
    EXPECT_EQ(table->fileErrorCode(), "2277");  // a failed read
    expectEvents(1);
    uint32_t count = 0;
    EXPECT_EQ(table->records(&count), kFileSystemError);
}

TEST_F(KeyBuildTest, NonZeroRequestDefersTheNextBuildAndZeroClearsIt) {
    auto table = makeTable(manyRows(300));
    struct Case {
        std::vector<const char*> values;
        bool deferred;
    };
    const Case cases[] = {
        {{}, false},           {{"100"}, true},
        {{"100", "0"}, false}, {{"100", "50"}, true},  // a second request leaves the first in place
        {{"0"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.values.size());
        window_.messages.clear();
        for (const char* value : c.values)
            ASSERT_EQ(setProperty(*table, kProgressProperty, value), 0);
        ASSERT_EQ(setProperty(*table, kFullBuildProperty, "1"), 0);
        EXPECT_EQ(callKey(*table, kBUILDkey, kById), 0);
        EXPECT_EQ(window_.messages.size(), c.deferred ? 1u : 0u);
        // A build that ran has switched full rebuild off.
        EXPECT_EQ(table->send("FULLBUILD"), c.deferred ? "ON" : "OFF");
        // The request is used up either way.
        window_.messages.clear();
        table->call(kBUILDevent);
        EXPECT_EQ(keyCount(*table, kById), 300);
        ASSERT_EQ(setProperty(*table, kFullBuildProperty, "1"), 0);
        EXPECT_EQ(callKey(*table, kBUILDkey, kById), 0);
        EXPECT_THAT(window_.messages, IsEmpty());
    }
}

TEST_F(KeyBuildTest, DeferredDynamicBuildsKeepTheirTexts) {
    auto table = makeTable(manyRows(1000));
    auto tagged = [&](const char* tag) {
        std::vector<Row> rows = manyRows(1000);
        return static_cast<int32_t>(
            std::count_if(rows.begin(), rows.end(), [&](const Row& r) { return r.tag == tag; }));
    };
    struct Case {
        int op;
        std::vector<std::string> texts;
        int error;
        int32_t entries;
    };
    const Case cases[] = {
        {kBUILDdyn, {"-Name"}, 0, 1000},
        {kBUILDdynfilter, {"Id", "Tag = 'T3'"}, 0, 1000 - tagged("T3")},
        {kBUILDdyn, {""}, kInvalidIndexString, 1000 - tagged("T3")},
        {kBUILDdynfilter, {"Nothing", "Tag = 'T3'"}, kInvalidIndexString, 1000 - tagged("T3")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.texts[0]);
        window_.events.clear();
        ASSERT_EQ(setProperty(*table, kProgressProperty, "100"), 0);
        ASSERT_EQ(callKey(*table, c.op, kSorted, c.texts), 0);
        table->call(kBUILDevent);
        EXPECT_EQ(table->errorCode(), c.error);
        expectEvents(c.error == 0 ? 7 : 0);
        EXPECT_EQ(keyCount(*table, kSorted), c.entries);
    }
}

TEST_F(KeyBuildTest, PackCutsTheFileAtTheEndOfItsPages) {
    auto table = makeTable(manyRows(1000), 20, kADD);
    ASSERT_EQ(table->close(), 0);
    std::vector<uint32_t> numbers;
    for (const auto& record : StoredTable(file_).records(20)) numbers.push_back(record.first);
    ASSERT_EQ(table->open(kExclusiveMode), 0);
    for (size_t i = 0; i < 900; ++i) {
        table->call(kGETfileptr, {numbers[i]});
        ASSERT_EQ(table->erase(), 0);
    }
    uintmax_t before = fs::file_size(file_);
    table->call(kPACK);
    ASSERT_EQ(table->errorCode(), 0);
    EXPECT_LT(fs::file_size(file_), before);
    EXPECT_EQ(keyCount(*table, kById), 100);
    EXPECT_EQ(keyCount(*table, kByValue), 100);
}

// ---- Dynamic indexes ----

TEST_F(KeyBuildTest, DynamicIndexOrdersByItsComponentText) {
    auto table = makeTable(manyRows(1000));
    // Never built: the state rules refuse to read it.
    keyCount(*table, kSorted);
    EXPECT_EQ(table->errorCode(), kKeyFileMustBeRebuilt);
    ASSERT_EQ(table->close(), 0);
    std::vector<std::pair<uint32_t, Row>> records = StoredTable(file_).records(20);
    ASSERT_EQ(table->open(kExclusiveMode), 0);

    auto nameDownTagUp = expectedOrder(
        records, [](const Row& r) { return std::make_tuple(inverted(r.name, 20), r.tag); });
    struct Case {
        const char* text;
        Order order;
    };
    const Case cases[] = {
        {"-Name, +Tag", nameDownTagUp},
        {"-nAME,+tag", nameDownTagUp},
        {"  -NAME,   TAG", nameDownTagUp},
        {"Tag, -Id",
         expectedOrder(records,
                       [](const Row& r) { return std::make_pair(r.tag, -int64_t{r.id}); })},
        {"+value", expectedOrder(records, [](const Row& r) { return r.value; })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_EQ(callKey(*table, kBUILDdyn, kSorted, {c.text}), 0) << table->fileError();
        EXPECT_EQ(keyCount(*table, kSorted), 1000);
        TableObject& object = tableObject(*table);
        KeyState key = keyState(*object.privateTrees[kSorted - 1], object.tableNumber, kSorted);
        EXPECT_EQ(key.count, 1000u);
        EXPECT_EQ(key.records, c.order);
    }
    // The index lives in memory only: the file holds nothing of it.
    ASSERT_EQ(table->close(), 0);
    StoredTable stored(file_);
    Bytes prefix(stored.tableNumber().begin(), stored.tableNumber().end());
    prefix.push_back(static_cast<uint8_t>(kSorted - 1));
    OwnedEntry probe(newEntry(prefix));
    Entry* after = stored.file().findNextEntry(probe.get());
    EXPECT_FALSE(after != nullptr && after->keyLength > 5 &&
                 std::equal(prefix.begin(), prefix.end(), after->bytes()));
}

TEST_F(KeyBuildTest, ComponentTextThatNamesNoFieldGives76AndKeepsTheIndex) {
    auto table = makeTable(manyRows(100));
    ASSERT_EQ(callKey(*table, kBUILDdyn, kSorted, {"Name"}), 0);
    for (const char* text : {"Name, Missing", "", "   ", "Name,", "Nam", "Name Tag", "*Name"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(callKey(*table, kBUILDdyn, kSorted, {text}), kInvalidIndexString);
        const KeyDescriptor& key = *tableObject(*table).definition.keys[kSorted - 1];
        ASSERT_EQ(key.components.size(), 1u);
        EXPECT_EQ(key.components[0].field, kName - 1);
        EXPECT_FALSE(key.components[0].descending);
        EXPECT_EQ(keyCount(*table, kSorted), 100);
    }
    // A key that is not a dynamic index takes no components.
    EXPECT_EQ(callKey(*table, kBUILDdyn, kById, {"Name"}), kInvalidIndexString);
}

TEST_F(KeyBuildTest, FilteredDynamicIndexLeavesOutWhatTheFilterAnswers1For) {
    auto table = makeTable(manyRows(1000));
    ASSERT_EQ(table->close(), 0);
    std::vector<std::pair<uint32_t, Row>> records = StoredTable(file_).records(20);
    ASSERT_EQ(table->open(kExclusiveMode), 0);
    struct Case {
        const char* filter;
        std::function<bool(const Row&)> taken;
    };
    const Case cases[] = {
        {"Tag = 'T3'", [](const Row& r) { return r.tag != "T3"; }},
        {"Value > 1500 OR Name = 'N4'",
         [](const Row& r) { return !(r.value > 1500 || r.name == "N4"); }},
        {"", [](const Row&) { return true; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        ASSERT_EQ(callKey(*table, kBUILDdynfilter, kSorted, {"Id", c.filter}), 0)
            << table->fileError();
        Order expected = expectedOrder(
            records, [](const Row& r) { return r.id; }, c.taken);
        EXPECT_EQ(keyCount(*table, kSorted), static_cast<int32_t>(expected.size()));
        TableObject& object = tableObject(*table);
        EXPECT_EQ(keyState(*object.privateTrees[kSorted - 1], object.tableNumber, kSorted).records,
                  expected);
    }
    for (const char* filter : {"Tag = ", "Missing = 1"}) {
        SCOPED_TRACE(filter);
        EXPECT_EQ(callKey(*table, kBUILDdynfilter, kSorted, {"Name", filter}), kInvalidIndexString);
        EXPECT_EQ(table->fileError(), "Invalid filter expression");
    }
}

// ---- Full rebuild ----

TEST_F(KeyBuildTest, FullBuildSwitchAndPropertyReadAndSet) {
    auto table = makeTable({});
    // Each command returns the setting before it; the property reads the setting after it.
    struct Step {
        const char* command;
        const char* before;
        const char* property;
    };
    const Step steps[] = {
        {"FULLBUILD", "OFF", ""},
        {"fullbuild=on", "OFF", "1"},
        {"FULLBUILD", "ON", "1"},
        {"FullBuild = yes", "ON", ""},
        {"FULLBUILD=On, please", "OFF", "1"},
        {"FULLBUILDX", "ON", "1"},
        {"FULLBUILD=", "ON", ""},
        {"FULLBUILD = oN", "OFF", "1"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.command);
        EXPECT_EQ(table->send(step.command), step.before);
        EXPECT_EQ(getProperty(*table, kFullBuildProperty), step.property);
    }
    struct Setting {
        const char* value;
        const char* reading;
    };
    for (const Setting& setting :
         {Setting{"0", "OFF"}, Setting{"1", "ON"}, Setting{"-3", "ON"}, Setting{"zero", "OFF"}}) {
        SCOPED_TRACE(setting.value);
        EXPECT_EQ(setProperty(*table, kFullBuildProperty, setting.value), 0);
        EXPECT_EQ(table->send("FULLBUILD"), setting.reading);
    }
}

TEST_F(KeyBuildTest, FullBuildRebuildsFromTheFirstRecordAndBuildsClearIt) {
    auto table = makeTable(manyRows(3), 20, kADD);
    ASSERT_EQ(table->close(), 0);
    // An entry of the complete key ById goes behind the engine's back.
    {
        StoredTable stored(file_, kExclusiveMode);
        PageFile& file = stored.file();
        std::vector<uint32_t> records = stored.key(kById).records;
        ASSERT_EQ(records.size(), 3u);
        file.beginWrite();
        Bytes prefix(stored.tableNumber().begin(), stored.tableNumber().end());
        prefix.push_back(kById - 1);
        OwnedEntry probe(newEntry(prefix));
        file.removeEntry(file.findNextEntry(probe.get()));
        ASSERT_EQ(file.commit(), 0);
    }
    ASSERT_EQ(table->open(kExclusiveMode), 0);
    auto entries = [&] {
        EXPECT_EQ(table->close(), 0);
        size_t found = StoredTable(file_).key(kById).records.size();
        EXPECT_EQ(table->open(kExclusiveMode), 0);
        return found;
    };
    // A complete key is not built again.
    EXPECT_EQ(callKey(*table, kBUILDkey, kById), 0);
    EXPECT_EQ(entries(), 2u);
    // Full rebuild: the entry is back, and the build switched it off.
    EXPECT_EQ(table->send("FULLBUILD=ON"), "OFF");
    EXPECT_EQ(callKey(*table, kBUILDkey, kById), 0);
    EXPECT_EQ(entries(), 3u);
    EXPECT_EQ(keyCount(*table, kById), 3);
    EXPECT_EQ(table->send("FULLBUILD"), "OFF");
    // PACK keeps it; BUILDfile, BUILDdyn and BUILDdynfilter clear it like BUILDkey.
    struct Case {
        int op;
        unsigned key;
        std::vector<std::string> texts;
        const char* after;
    };
    const Case cases[] = {{kPACK, 0, {}, "ON"},
                          {kBUILDfile, 0, {}, "OFF"},
                          {kBUILDdyn, kSorted, {"Name"}, "OFF"},
                          {kBUILDdynfilter, kSorted, {"Name", "Id = 1"}, "OFF"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.op);
        table->send("FULLBUILD=ON");
        if (c.key != 0) {
            EXPECT_EQ(callKey(*table, c.op, c.key, c.texts), 0);
        } else {
            table->call(c.op);
            EXPECT_EQ(table->errorCode(), 0);
        }
        EXPECT_EQ(table->send("FULLBUILD"), c.after);
    }
}

TEST_F(KeyBuildTest, FullBuildFileRenewsTheCollationRecord) {
    auto table = makeTable(manyRows(10));
    table->call(kBUILDfile);
    ASSERT_EQ(table->errorCode(), 0);
    ASSERT_EQ(table->close(), 0);
    Bytes collationKey;
    // Reversed weights stand for tables of another time.
    {
        StoredTable stored(file_, kExclusiveMode);
        collationKey = tableKey(stored.tableNumber(), kRecordTypeCollation);
        collationKey.push_back(0x01);
        Bytes other = builtInCollationRecord(false);
        for (unsigned i = 0; i < 256; ++i)
            other[kCollationAnsiWeights + i] = static_cast<uint8_t>(255 - i);
        stored.file().beginWrite();
        stored.file().removeEntry(stored.file().findEntry(collationKey));
        stored.file().insertEntry(newEntry(collationKey, other));
        ASSERT_EQ(stored.file().commit(), 0);
    }
    auto storedCollation = [&] {
        EXPECT_EQ(table->close(), 0);
        StoredTable stored(file_);
        Entry* record = stored.file().findEntry(collationKey);
        return record != nullptr ? Bytes(record->data().begin(), record->data().end()) : Bytes();
    };
    for (bool full : {false, true}) {
        SCOPED_TRACE(full);
        ASSERT_EQ(table->open(kExclusiveMode), 0);
        ASSERT_EQ(setProperty(*table, kFullBuildProperty, full ? "1" : "0"), 0);
        table->call(kBUILDfile);
        ASSERT_EQ(table->errorCode(), 0);
        Bytes collation = storedCollation();
        ASSERT_EQ(collation.size(), kCollationRecordSize);
        EXPECT_EQ(collation[kCollationAnsiWeights + 'A'], full ? 'A' : 255 - 'A');
    }
    // The full rebuild formed the keys with the renewed tables: ByName ascends again.
    StoredTable stored(file_);
    EXPECT_EQ(stored.key(kByName).records,
              expectedOrder(stored.records(20), [](const Row& r) { return r.name; }));
}

// ---- Access ----

TEST_F(KeyBuildTest, BuildNeedsTheTableOpenForReadingAndWriting) {
    makeTable(manyRows(10))->close();
    struct Case {
        int mode;
        int op;
        unsigned key;
        int error;
    };
    const Case cases[] = {
        {0x40, kBUILDdyn, kSorted, kAccessDenied},           // read only: the build refuses
        {0x40, kBUILDkey, kById, kExclusiveAccessRequired},  // the state rules refuse first
        {0x42, kBUILDkey, kById, kExclusiveAccessRequired},
        {0x20, kBUILDkey, kById, kAccessDenied},
        {0x22, kBUILDkey, kById, 0},
        {0x42, kBUILDdyn, kSorted, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        SCOPED_TRACE(c.op);
        Table table(items(file_, 20));
        ASSERT_EQ(table.open(c.mode), 0);
        EXPECT_EQ(callKey(table, c.op, c.key, {"Name"}), c.error);
    }
}

}  // namespace
}  // namespace vellum
