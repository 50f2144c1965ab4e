// Writing, reading, rewriting, comparing and deleting the memo chunks of a record.
#include "tablestore/memo_chunks.h"

#include <algorithm>
#include <functional>
#include <span>
#include <vector>

#include "pagestore/entry_cursor.h"
#include "pagestore/page_file.h"
#include "tablestore/blob_content.h"
#include "tablestore/table_object.h"
#include "vellum/byte_order.h"
#include "vellum/file_layer_services.h"

namespace vellum {

namespace {

constexpr size_t kMemoChunkSize = 256;
constexpr size_t kBlobChunkSize = 10240;
constexpr size_t kLengthBytes = 4;  // the BLOB's length in front of its first chunk
constexpr size_t kChunkKeyLength = 12;
constexpr size_t kMemoNumberAt = 9;  // where the memo number lies in a chunk key

bool isBlob(const MemoDescriptor& memo) {
    return (memo.flags & kMemoBlob) != 0;
}

bool converts(const TableObject& table, const MemoDescriptor& memo) {
    return table.collation.oem && (memo.flags & kMemoBinary) == 0;
}

// Key prefixes: all chunks of a record, of one memo of it; one chunk's whole key.
std::vector<uint8_t> recordPrefix(const TableObject& table, uint32_t number) {
    std::vector<uint8_t> key = tableKey(table.tableNumber, kRecordTypeMemo);
    key.resize(kMemoNumberAt);
    store32be(key.data() + 5, number);
    return key;
}

std::vector<uint8_t> memoPrefix(const TableObject& table, uint32_t number, size_t memo) {
    std::vector<uint8_t> key = recordPrefix(table, number);
    key.push_back(static_cast<uint8_t>(memo));
    return key;
}

std::vector<uint8_t> chunkKey(const TableObject& table, uint32_t number, size_t memo,
                              size_t sequence) {
    std::vector<uint8_t> key = memoPrefix(table, number, memo);
    key.push_back(static_cast<uint8_t>(sequence >> 8));
    key.push_back(static_cast<uint8_t>(sequence));
    return key;
}

bool startsWith(std::span<const uint8_t> key, std::span<const uint8_t> prefix) {
    return key.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), key.begin());
}

// What a memo stores: a MEMO's buffer without trailing spaces, a BLOB's content.
std::span<const uint8_t> storedContent(const MemoDescriptor& memo) {
    if (isBlob(memo)) return memo.content;
    auto last = std::find_if(memo.buffer.rbegin(), memo.buffer.rend(),
                             [](uint8_t byte) { return byte != ' '; });
    return {memo.buffer.data(), static_cast<size_t>(memo.buffer.rend() - last)};
}

size_t chunkCount(const MemoDescriptor& memo) {
    size_t limit = isBlob(memo) ? kBlobChunkSize : kMemoChunkSize;
    return (storedContent(memo).size() + limit - 1) / limit;
}

// The data of chunk i of a memo in its stored form.
std::vector<uint8_t> chunkData(const TableObject& table, const MemoDescriptor& memo, size_t i) {
    std::span<const uint8_t> content = storedContent(memo);
    size_t limit = isBlob(memo) ? kBlobChunkSize : kMemoChunkSize;
    std::span<const uint8_t> piece =
        content.subspan(i * limit, std::min(limit, content.size() - i * limit));
    std::vector<uint8_t> data;
    if (isBlob(memo) && i == 0) {
        data.resize(kLengthBytes);
        store32le(data.data(), static_cast<uint32_t>(content.size()));
    }
    size_t start = data.size();
    data.insert(data.end(), piece.begin(), piece.end());
    if (converts(table, memo)) fileLayer().ansiToOem(std::span<uint8_t>(data).subspan(start));
    return data;
}

// Calls visit with each stored chunk whose key begins with prefix, in key order. The entry is
// valid during the call only, and visit must not change the file.
void forEachChunk(PageFile& file, std::span<const uint8_t> prefix,
                  const std::function<void(const Entry&)>& visit) {
    OwnedEntry probe(newEntry(prefix));
    for (Entry* entry = file.findNextEntry(probe.get());
         entry != nullptr && startsWith(entry->key(), prefix); entry = file.findNextEntry(entry)) {
        if (entry->keyLength == kChunkKeyLength) visit(*entry);
    }
}

// Removes every entry after the key after whose key begins with prefix.
void removeAfter(PageFile& file, std::span<const uint8_t> prefix, std::span<const uint8_t> after) {
    OwnedEntry probe(newEntry(after));
    for (;;) {
        Entry* entry = file.findNextEntry(probe.get());
        if (entry == nullptr || !startsWith(entry->key(), prefix)) return;
        file.removeEntry(entry);
    }
}

// Copies bytes into target at a place, as far as target reaches; converted from OEM when asked.
void place(std::span<uint8_t> target, size_t at, std::span<const uint8_t> bytes, bool fromOem) {
    if (at >= target.size()) return;
    std::span<uint8_t> room = target.subspan(at, std::min(bytes.size(), target.size() - at));
    std::copy_n(bytes.begin(), room.size(), room.begin());
    if (fromOem && !room.empty()) fileLayer().oemToAnsi(room);
}

}  // namespace

void writeMemos(TableObject& table, uint32_t number) {
    PageFile& file = *table.pageFile();
    // The record is new, so each chunk belongs right after the one inserted before it.
    EntryCursor cursor(&file);
    const std::vector<MemoDescriptor>& memos = table.definition.memos;
    for (size_t m = 0; m < memos.size(); ++m) {
        for (size_t i = 0; i < chunkCount(memos[m]); ++i) {
            cursor.insertHere(
                newEntry(chunkKey(table, number, m, i), chunkData(table, memos[m], i)));
        }
    }
}

void prepareComparison(TableObject& table) {
    for (MemoDescriptor& memo : table.definition.memos) {
        if (!isBlob(memo)) memo.comparison.assign(memo.size, ' ');
    }
}

void readMemos(TableObject& table, uint32_t number) {
    std::vector<MemoDescriptor>& memos = table.definition.memos;
    std::vector<size_t> written(memos.size(), 0);
    std::vector<bool> found(memos.size(), false);
    forEachChunk(*table.pageFile(), recordPrefix(table, number), [&](const Entry& chunk) {
        size_t m = chunk.bytes()[kMemoNumberAt];
        if (m >= memos.size()) return;
        MemoDescriptor& memo = memos[m];
        std::span<const uint8_t> data = chunk.data();
        if (isBlob(memo)) {
            if (!found[m]) {
                // The first chunk sizes the content; a length beyond the limit leaves it empty.
                uint32_t total = data.size() >= kLengthBytes ? load32le(data.data()) : 0;
                resizeBlob(memo, 0);
                resizeBlob(memo, total);
                data = data.subspan(std::min(kLengthBytes, data.size()));
            }
            place(memo.content, written[m], data, converts(table, memo));
        } else {
            if (table.watched) place(memo.comparison, written[m], data, false);
            place(memo.buffer, written[m], data, converts(table, memo));
        }
        found[m] = true;
        written[m] += data.size();
    });
    for (size_t m = 0; m < memos.size(); ++m) {
        if (isBlob(memos[m])) {
            if (!found[m]) resizeBlob(memos[m], 0);
        } else if (written[m] < memos[m].buffer.size()) {
            std::fill(memos[m].buffer.begin() + static_cast<std::ptrdiff_t>(written[m]),
                      memos[m].buffer.end(), ' ');
        }
    }
}

void rewriteMemos(TableObject& table, uint32_t number) {
    PageFile& file = *table.pageFile();
    const std::vector<MemoDescriptor>& memos = table.definition.memos;
    for (size_t m = 0; m < memos.size(); ++m) {
        size_t count = chunkCount(memos[m]);
        for (size_t i = 0; i < count; ++i) {
            std::vector<uint8_t> key = chunkKey(table, number, m, i);
            std::vector<uint8_t> data = chunkData(table, memos[m], i);
            EntryCursor cursor(&file);
            cursor.set(newEntry(key), false);
            if (Entry* stored = cursor.fetch()) {
                std::span<const uint8_t> old = stored->data();
                if (std::equal(old.begin(), old.end(), data.begin(), data.end())) continue;
                if (old.size() == data.size()) {
                    // Same length: the chunk is overwritten in place.
                    std::copy(data.begin(), data.end(), stored->bytes() + stored->keyLength);
                    cursor.markChanged();
                    continue;
                }
                cursor.clear();
                file.removeEntry(file.findEntry(key));
            }
            file.insertEntry(newEntry(key, data));
        }
        std::vector<uint8_t> prefix = memoPrefix(table, number, m);
        removeAfter(file, prefix, count == 0 ? prefix : chunkKey(table, number, m, count - 1));
    }
}

bool memosChanged(TableObject& table, uint32_t number) {
    std::vector<MemoDescriptor>& memos = table.definition.memos;
    std::vector<size_t> compared(memos.size(), 0);
    bool changed = false;
    forEachChunk(*table.pageFile(), recordPrefix(table, number), [&](const Entry& chunk) {
        size_t m = chunk.bytes()[kMemoNumberAt];
        if (changed || m >= memos.size() || isBlob(memos[m])) return;
        std::span<const uint8_t> data = chunk.data();
        const std::vector<uint8_t>& comparison = memos[m].comparison;
        size_t at = compared[m];
        changed = at > comparison.size() || data.size() > comparison.size() - at ||
                  !std::equal(data.begin(), data.end(),
                              comparison.begin() + static_cast<std::ptrdiff_t>(at));
        compared[m] += data.size();
    });
    return changed;
}

void deleteMemos(TableObject& table, uint32_t number) {
    std::vector<uint8_t> prefix = recordPrefix(table, number);
    removeAfter(*table.pageFile(), prefix, prefix);
}

}  // namespace vellum
