// check: the tree check of the page store, the file's length against its header, and per table
// the counts, records, key entries and memo chunks. A key whose rebuild point is 0 is complete:
// every record has exactly its entry, and every entry names an existing record with that value.
#include <algorithm>
#include <optional>
#include <sstream>

#include "pagestore/tree_check.h"
#include "tablestore/count_records.h"
#include "tablestore/key_value.h"
#include "tablestore/memo_chunks.h"
#include "tablestore/records.h"
#include "tools/vellum/commands.h"
#include "vellum/byte_order.h"
#include "vellum/fatal.h"

namespace vellum::filetool {

namespace {

constexpr size_t kMemoChunkKeyLength = 12;  // table, type, record, memo, sequence

class Checker {
public:
    Checker(ReadOnlyFile& file, std::ostream& out) : file_(file), out_(out) {}

    int run() {
        PageFile& pages = file_.pages();
        if (pages.size() == 0) {
            out_ << "empty table file: nothing to check\n";
            return kSuccess;
        }
        checkLength();
        try {
            TreeCheckReport tree = file_.holdsNothing() ? TreeCheckReport{} : checkTree(pages);
            for (const std::string& text : tree.problems) problem("tree: " + text);
            for (const TableName& table : file_.tables()) checkTable(table);
            if (problems_ == 0) {
                out_ << "no problems: " << tables_ << (tables_ == 1 ? " table, " : " tables, ")
                     << tree.entries << " entries, " << tree.pages << " pages\n";
            }
        } catch (const FatalError& error) {
            problem("the file cannot be read on: fatal error " + std::to_string(error.number()));
        }
        if (problems_ > 0) out_ << problems_ << (problems_ == 1 ? " problem\n" : " problems\n");
        return problems_ == 0 ? kSuccess : kProblemsFound;
    }

private:
    void problem(const std::string& text) {
        out_ << text << "\n";
        ++problems_;
    }

    void checkLength() {
        const HeaderPage& header = file_.pages().header();
        uint64_t needed = std::max<uint64_t>(header.endOfPages(), header.logEnd());
        if (file_.pages().size() < needed) {
            problem("the file is cut: " + std::to_string(file_.pages().size()) +
                    " bytes, but its pages end at " + std::to_string(needed));
        }
    }

    void checkTable(const TableName& name) {
        ++tables_;
        StoredTable table;
        std::ostringstream why;
        if (file_.loadTable(name, &table, why) != kSuccess) {
            std::string text = why.str();
            problem(text.substr(0, text.find_last_not_of('\n') + 1));
            return;
        }
        prefix_ = "table " + displayName(name.name) + ": ";
        checkRecords(table);
        for (const auto& key : table.definition().keys) {
            if (!(key->attributes & kKeyDescriptorDynamic)) checkKey(table, *key);
        }
        checkMemoChunks(table);
    }

    // The stored counts of a selector, with a problem when the count record is missing.
    bool counts(const StoredTable& table, uint8_t selector, const std::string& what,
                CountValues* out) {
        if (readCounts(file_.pages(), table.name.number, selector, out)) return true;
        problem(prefix_ + what + " has no count record");
        return false;
    }

    bool isComplete(const StoredTable& table, const KeyDescriptor& key) {
        CountValues values;
        return readCounts(file_.pages(), table.name.number, static_cast<uint8_t>(key.number),
                          &values) &&
               values.second == 0;
    }

    // The data count, the image lengths, and the entry of every record in each complete key.
    void checkRecords(const StoredTable& table) {
        const TableDefinition& definition = table.definition();
        std::vector<const KeyDescriptor*> complete;
        for (const auto& key : definition.keys) {
            if (!(key->attributes & kKeyDescriptorDynamic) && isComplete(table, *key)) {
                complete.push_back(key.get());
            }
        }
        uint64_t records = 0;
        std::vector<uint8_t> image(definition.recordLength);
        std::vector<uint8_t> value;
        PrefixWalk walk(file_.pages(), tableKey(table.name.number, kRecordTypeData));
        while (const Entry* stored = walk.next()) {
            ++records;
            uint32_t record = recordNumberOf(*stored);
            if (stored->data().size() != definition.recordLength) {
                problem(prefix_ + "record " + std::to_string(record) + " holds " +
                        std::to_string(stored->data().size()) + " bytes, the record length is " +
                        std::to_string(definition.recordLength));
            }
            loadImage(*table.object, *stored, &image);
            for (const KeyDescriptor* key : complete) {
                if (isBlankForOpt(*key, definition, image)) continue;
                formKeyValue(*key, definition, table.object->collation, image, &value);
                KeyEntryBytes expected = keyEntryBytes(table.name.number, *key, value, record);
                Entry* found = file_.pages().findEntry(expected.key);
                if (found != nullptr && recordNumberOf(*found) == record) continue;
                std::string where = prefix_ + "key " + keyName(*key) + ": record " +
                                    std::to_string(record);
                if (found == nullptr) {
                    problem(where + " has no key entry");
                } else {
                    problem(where + " has no key entry of its own; its value's entry names record " +
                            std::to_string(recordNumberOf(*found)));
                }
            }
        }
        CountValues stored;
        if (counts(table, kRecordTypeData, "the data", &stored) && stored.count != records) {
            problem(prefix_ + "the data count is " + std::to_string(stored.count) + ", but " +
                    std::to_string(records) + " records are stored");
        }
    }

    // The count of a key, and for a complete key the record and value of every entry.
    void checkKey(const StoredTable& table, const KeyDescriptor& key) {
        const TableDefinition& definition = table.definition();
        std::string where = prefix_ + "key " + keyName(key) + ": ";
        CountValues stored;
        bool counted = counts(table, static_cast<uint8_t>(key.number), "key " + keyName(key),
                              &stored);
        bool complete = counted && stored.second == 0;
        uint32_t valueLength = keyLength(key, definition);
        size_t keyBytes = 5 + valueLength + ((key.attributes & kKeyDescriptorDup) ? 4 : 0);
        uint64_t entries = 0;
        std::vector<uint8_t> image(definition.recordLength);
        std::vector<uint8_t> value;
        PrefixWalk walk(file_.pages(), keyEntryPrefix(table.name.number, key));
        while (const Entry* entry = walk.next()) {
            ++entries;
            if (!complete) continue;
            uint32_t record = recordNumberOf(*entry);
            std::string named = "the entry for record " + std::to_string(record);
            const Entry* data = file_.pages().findEntry(dataRecordKey(table.name.number, record));
            if (data == nullptr) {
                problem(where + named + " names no existing record");
                continue;
            }
            loadImage(*table.object, *data, &image);
            if (isBlankForOpt(key, definition, image)) {
                problem(where + named + " exists, but the record is blank for this OPT key");
                continue;
            }
            formKeyValue(key, definition, table.object->collation, image, &value);
            bool same = entry->keyLength == keyBytes &&
                        std::equal(value.begin(), value.end(), entry->bytes() + 5);
            if (!same) problem(where + named + " does not hold the record's value");
        }
        if (counted && stored.count != entries) {
            problem(where + "the count is " + std::to_string(stored.count) + ", but " +
                    std::to_string(entries) + " entries are stored");
        }
    }

    // Every memo chunk names an existing record and a memo of the table.
    void checkMemoChunks(const StoredTable& table) {
        size_t memos = table.definition().memos.size();
        std::optional<uint32_t> lastRecord;  // chunks of one record are checked once
        PrefixWalk walk(file_.pages(), tableKey(table.name.number, kRecordTypeMemo));
        while (const Entry* chunk = walk.next()) {
            if (chunk->keyLength != kMemoChunkKeyLength) {
                problem(prefix_ + "a memo chunk with a key of " +
                        std::to_string(chunk->keyLength) + " bytes");
                continue;
            }
            uint32_t record = load32be(chunk->bytes() + 5);
            unsigned memo = chunk->bytes()[9];
            std::string named = "a chunk of memo " + std::to_string(memo + 1) + " of record " +
                                std::to_string(record);
            if (memo >= memos) problem(prefix_ + named + ": the table has no such memo");
            if (lastRecord == record) continue;
            lastRecord = record;
            if (file_.pages().findEntry(dataRecordKey(table.name.number, record)) == nullptr) {
                problem(prefix_ + named + ": no such record");
            }
        }
    }

    ReadOnlyFile& file_;
    std::ostream& out_;
    std::string prefix_;
    unsigned problems_ = 0;
    unsigned tables_ = 0;
};

}  // namespace

int checkFile(ReadOnlyFile& file, std::ostream& out) {
    return Checker(file, out).run();
}

}  // namespace vellum::filetool
