// MEMO and BLOB storage through the typed table wrapper: the chunks each memo is stored as, PUT
// rewriting only the chunks that changed, the BLOB operations' bounds, OEM conversion of text
// memos only, NOMEMO, WATCH, DELETE and GETSTATE with BLOB contents.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "filelayer/table.h"
#include "pagestore/page_file.h"
#include "support/sound_files.h"
#include "support/temp_dir.h"
#include "tablestore/memo_chunks.h"
#include "tablestore/table_object.h"
#include "vellum/byte_order.h"
#include "vellum/error_codes.h"
#include "vellum/operation_codes.h"

namespace vellum {
namespace {

constexpr ArgumentSlot kText = 1;  // memo numbers from 1
constexpr ArgumentSlot kData = 2;

// Notes: LONG Id, MEMO(1000) Text, BLOB Data; with binary, a second MEMO(20), BINARY.
TableDeclaration notes(const std::string& file, uint8_t attributes = 0) {
    TableDeclaration declaration("N");
    declaration.name(file)
        .attributes(kAttributeCreate | attributes)
        .longField("N:Id")
        .memo("N:Text", 1000)
        .memo("N:Data", 0, kMemoBlob)
        .memo("N:Raw", 20, kMemoBinary);
    return declaration;
}

struct Chunk {
    unsigned memo = 0;
    unsigned sequence = 0;
    std::string data;
};

class MemoTest : public ::testing::Test {
protected:
    void SetUp() override {
        file_ = dir_.file("notes.vlm");
        table_ = std::make_unique<Table>(notes(file_));
        ASSERT_EQ(table_->create(), 0);
        ASSERT_EQ(table_->open(0x42), 0);
    }

    static TableObject& engine(Table& table) {
        return *static_cast<TableObject*>(table.block()->tableObject);
    }
    static std::vector<uint8_t>& memo(Table& table, ArgumentSlot number) {
        return engine(table).definition.memos[number - 1].buffer;
    }
    static void setMemo(Table& table, ArgumentSlot number, const std::string& text) {
        std::vector<uint8_t>& buffer = memo(table, number);
        std::fill(buffer.begin(), buffer.end(), ' ');
        std::copy(text.begin(), text.end(), buffer.begin());
    }
    static std::string memoText(Table& table, ArgumentSlot number) {
        return {memo(table, number).begin(), memo(table, number).end()};
    }
    // BLOB_TAKE of value at from..to; ERRORCODE.
    static int take(Table& table, uint32_t from, uint32_t to, const std::string& value) {
        table.call(kBLOBTAKE, {kData, from, to}, {value});
        return table.errorCode();
    }
    static std::string yield(Table& table, uint32_t from, uint32_t to) {
        table.call(kBLOBYIELD, {kData, from, to});
        return table.resultText();
    }
    static std::string blob(Table& table) {
        return yield(table, 0, static_cast<uint32_t>(table.call(kBLOBSIZE, {kData})) - 1);
    }

    // Adds a record with an id, a text memo and a BLOB; its record number.
    static uint32_t add(Table& table, int32_t id, const std::string& text,
                        const std::string& data) {
        table.clear();
        table.setLong(1, id);
        setMemo(table, kText, text);
        if (!data.empty()) {
            EXPECT_EQ(take(table, 0, static_cast<uint32_t>(data.size() - 1), data), 0);
        }
        EXPECT_EQ(table.add(), 0);
        return static_cast<uint32_t>(table.call(kPOINTERfile));
    }
    // Clears the buffers and reads a record by number; ERRORCODE.
    static int get(Table& table, uint32_t number) {
        table.clear();
        table.call(kGETfileptr, {number});
        return table.errorCode();
    }

    // The stored chunks of a record, in key order.
    std::vector<Chunk> chunks(Table& table, uint32_t number) {
        TableObject& object = engine(table);
        std::vector<uint8_t> prefix = tableKey(object.tableNumber, kRecordTypeMemo);
        prefix.resize(9);
        store32be(prefix.data() + 5, number);
        std::vector<Chunk> found;
        PageFile& file = *object.pageFile();
        for (Entry* entry = file.findNextEntry(OwnedEntry(newEntry(prefix)).get());
             entry != nullptr && entry->keyLength == 12 &&
             std::equal(prefix.begin(), prefix.end(), entry->bytes());
             entry = file.findNextEntry(entry)) {
            found.push_back({entry->bytes()[9],
                             static_cast<unsigned>(entry->bytes()[10] << 8 | entry->bytes()[11]),
                             std::string(entry->data().begin(), entry->data().end())});
        }
        return found;
    }
    std::vector<size_t> sizesOf(Table& table, uint32_t number, unsigned memoIndex) {
        std::vector<size_t> sizes;
        for (const Chunk& chunk : chunks(table, number)) {
            if (chunk.memo == memoIndex) sizes.push_back(chunk.data.size());
        }
        return sizes;
    }

    test::TempDir dir_;
    test::SoundFilesCheck soundFiles_{dir_};
    std::string file_;
    std::unique_ptr<Table> table_;
};

std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 % 251);
    return bytes;
}

TEST_F(MemoTest, MemosAreCutIntoChunksAndReadBack) {
    struct Case {
        std::string text;
        size_t blobSize;
        std::vector<size_t> textChunks;
        std::vector<size_t> blobChunks;
    };
    const Case cases[] = {
        {std::string(600, 'x'), 0, {256, 256, 88}, {}},
        {"", 10240, {}, {10244}},
        {"a b", 10241, {3}, {10244, 1}},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.blobSize);
        std::string data = pattern(item.blobSize);
        uint32_t number = add(*table_, 1, item.text, data);
        EXPECT_EQ(sizesOf(*table_, number, 0), item.textChunks);
        EXPECT_EQ(sizesOf(*table_, number, 1), item.blobChunks);
        for (const Chunk& chunk : chunks(*table_, number)) {
            if (chunk.memo == 1 && chunk.sequence == 0) {
                EXPECT_EQ(load32le(reinterpret_cast<const uint8_t*>(chunk.data.data())),
                          item.blobSize);
            }
        }
        ASSERT_EQ(get(*table_, number), 0);
        std::string expected = item.text + std::string(1000 - item.text.size(), ' ');
        EXPECT_EQ(memoText(*table_, kText), expected);
        EXPECT_EQ(table_->call(kBLOBSIZE, {kData}), static_cast<int32_t>(item.blobSize));
        EXPECT_EQ(blob(*table_), data);
    }
}

TEST_F(MemoTest, PutRewritesOnlyTheChunksThatChanged) {
    std::string data = pattern(100000);
    uint32_t number = add(*table_, 1, "text", data);
    ASSERT_EQ(sizesOf(*table_, number, 1).size(), 10u);
    std::vector<Chunk> before = chunks(*table_, number);
    PageFile& file = *engine(*table_).pageFile();
    ASSERT_EQ(table_->call(kSTREAM), 0);
    ASSERT_EQ(get(*table_, number), 0);
    ASSERT_EQ(table_->put(), 0);
    EXPECT_EQ(file.dirtyCount(), 0u);
    ASSERT_EQ(take(*table_, 50000, 50000, "!"), 0);
    ASSERT_EQ(table_->put(), 0);
    EXPECT_EQ(file.dirtyCount(), 1u);
    ASSERT_EQ(table_->call(kFLUSH), 0);
    std::vector<Chunk> after = chunks(*table_, number);
    ASSERT_EQ(after.size(), before.size());
    unsigned changed = 0;
    for (size_t i = 0; i < after.size(); ++i) changed += after[i].data != before[i].data ? 1 : 0;
    EXPECT_EQ(changed, 1u);
    data[50000] = '!';
    ASSERT_EQ(get(*table_, number), 0);
    EXPECT_EQ(blob(*table_), data);

    // CLEAR empties the BLOB and blanks the text memo: PUT leaves no chunk of either.
    table_->clear();
    ASSERT_EQ(table_->put(), 0);
    EXPECT_TRUE(sizesOf(*table_, number, 0).empty());
    EXPECT_TRUE(sizesOf(*table_, number, 1).empty());
    ASSERT_EQ(get(*table_, number), 0);
    EXPECT_EQ(table_->call(kBLOBSIZE, {kData}), 0);
}

TEST_F(MemoTest, BlobYieldAndTakeBounds) {
    // BLOB_SIZE, BLOB_YIELD and BLOB_TAKE need a current record.
    uint32_t number = add(*table_, 1, "", "0123456789");
    EXPECT_FALSE(engine(*table_).definition.memos[1].touched);
    struct Yield {
        uint32_t from, to;
        std::string bytes;
    };
    const Yield yields[] = {
        {3, 5, "345"}, {5, 3, ""}, {10, 12, ""}, {8, 20, "89"}, {0, 9, "0123456789"},
    };
    for (const Yield& item : yields) {
        EXPECT_EQ(yield(*table_, item.from, item.to), item.bytes) << item.from << ".." << item.to;
        EXPECT_EQ(table_->errorCode(), 0);
    }
    EXPECT_TRUE(engine(*table_).definition.memos[1].touched);

    struct Take {
        uint32_t from, to;
        std::string value;
        int error;
        std::string content;
    };
    const Take takes[] = {
        {0, 3, "ab", 0, std::string("ab  456789")},   // a short value is padded with blanks
        {4, 5, "xyz", 0, std::string("ab  xy6789")},  // a long one is cut
        {6, 5, "q", 0, std::string("ab  xy6789")},    // to below from stores nothing
        {12, 13, "ZZ", 0, std::string("ab  xy6789\0\0ZZ", 14)},  // beyond the end: grows
        {0, 671088640, "", kUnsupportedFunction, std::string("ab  xy6789\0\0ZZ", 14)},
    };
    for (const Take& item : takes) {
        SCOPED_TRACE(item.content);
        EXPECT_EQ(take(*table_, item.from, item.to, item.value), item.error);
        EXPECT_EQ(blob(*table_), item.content);
    }
    // Memo 1 is a MEMO, not a BLOB.
    table_->call(kBLOBSIZE, {kText});
    EXPECT_EQ(table_->errorCode(), kUnsupportedFunction);

    // A read ends the Touched mark.
    ASSERT_EQ(get(*table_, number), 0);
    EXPECT_FALSE(engine(*table_).definition.memos[1].touched);
}

TEST_F(MemoTest, OemTablesConvertTextMemosOnly) {
    Table table(notes(dir_.file("oem.vlm"), kAttributeOem));
    ASSERT_EQ(table.create(), 0);
    ASSERT_EQ(table.open(0x42), 0);
    table.clear();
    setMemo(table, kText, "caf\xE9");
    setMemo(table, 3, "caf\xE9");
    ASSERT_EQ(table.add(), 0);
    uint32_t number = static_cast<uint32_t>(table.call(kPOINTERfile));
    std::vector<Chunk> stored = chunks(table, number);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].data, "caf\x82");  // OEM e acute
    EXPECT_EQ(stored[1].memo, 2u);
    EXPECT_EQ(stored[1].data, "caf\xE9");  // BINARY: as given
    ASSERT_EQ(get(table, number), 0);
    EXPECT_EQ(memoText(table, kText).substr(0, 5), "caf\xE9 ");
    EXPECT_EQ(memoText(table, 3).substr(0, 4), "caf\xE9");
}

TEST_F(MemoTest, NomemoReadThenPutKeepsTheStoredMemos) {
    uint32_t number = add(*table_, 1, "kept text", "kept bytes");
    table_->clear();
    ASSERT_EQ(table_->call(kNOMEMO), 0);
    ASSERT_EQ(get(*table_, number), 0);
    EXPECT_EQ(table_->longValue(1), 1);
    EXPECT_EQ(memoText(*table_, kText), std::string(1000, ' '));
    table_->setLong(1, 2);
    ASSERT_EQ(table_->put(), 0);
    ASSERT_EQ(get(*table_, number), 0);
    EXPECT_EQ(table_->longValue(1), 2);
    EXPECT_EQ(memoText(*table_, kText).substr(0, 10), "kept text ");
    EXPECT_EQ(blob(*table_), "kept bytes");
}

TEST_F(MemoTest, WatchComparesMemosButNotBlobs) {
    struct Case {
        std::string otherText;
        std::string otherData;
        int error;
    };
    const Case cases[] = {
        {"first", "bytes", 0},  // nobody changed anything
        {"first!", "bytes", kRecordChangedByAnotherStation},
        {"first", "other bytes", 0},  // BLOBs are not compared
    };
    Table other(notes(file_));
    ASSERT_EQ(other.open(0x42), 0);
    for (const Case& item : cases) {
        SCOPED_TRACE(item.otherText + "/" + item.otherData);
        uint32_t number = add(*table_, 1, "first", "bytes");
        ASSERT_EQ(table_->call(kWATCH), 0);
        ASSERT_EQ(get(*table_, number), 0);
        ASSERT_EQ(get(other, number), 0);
        setMemo(other, kText, item.otherText);
        ASSERT_EQ(take(other, 0, static_cast<uint32_t>(item.otherData.size() - 1), item.otherData),
                  0);
        ASSERT_EQ(other.put(), 0);
        setMemo(*table_, kText, "mine");
        EXPECT_EQ(table_->put(), item.error);
    }
}

TEST_F(MemoTest, DeleteRemovesTheChunksOfItsRecordOnly) {
    uint32_t first = add(*table_, 1, std::string(300, 'a'), pattern(20000));
    uint32_t second = add(*table_, 2, "b", "c");
    // Text and BLOB two chunks each, and the BINARY memo that CLEAR filled with zeros.
    ASSERT_EQ(chunks(*table_, first).size(), 5u);
    ASSERT_EQ(get(*table_, first), 0);
    ASSERT_EQ(table_->erase(), 0);
    EXPECT_TRUE(chunks(*table_, first).empty());
    EXPECT_EQ(chunks(*table_, second).size(), 3u);
}

TEST_F(MemoTest, GetstateCopiesBlobsWhenAsked) {
    uint32_t number = add(*table_, 1, "text", "store");
    struct Case {
        ArgumentSlot withBlobs;
        ArgumentSlot snapshotBuffers;
        std::string restored;
    };
    const Case cases[] = {
        {1, 1, "saved"},  // the snapshot's copy
        {0, 1, "store"},  // not copied: what the record read again holds
        {1, 0, "later"},  // the buffers as they were before RESTORESTATE
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.restored);
        ASSERT_EQ(get(*table_, number), 0);
        ASSERT_EQ(take(*table_, 0, 4, "saved"), 0);
        auto state = static_cast<uint32_t>(table_->call(kGETSTATE, {item.withBlobs}));
        ASSERT_EQ(take(*table_, 0, 4, "later"), 0);
        table_->call(kRESTORESTATE, {state, item.snapshotBuffers});
        EXPECT_EQ(table_->errorCode(), 0);
        EXPECT_EQ(blob(*table_), item.restored);
        table_->call(kFREESTATE, {state});
    }
}

}  // namespace
}  // namespace vellum
