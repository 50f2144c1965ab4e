// Times the record layer through the typed Table wrapper on the QLMRelated layout (154 bytes:
// a LONG id and three 50-byte STRINGs; a unique key on the id and two NOCASE keys with
// duplicates on the two terms) and, when built with SQLite, the same work on SQLite as the
// baseline:
//   1. load N records (default 1,000,000) with ADD under STREAM, FLUSH at the end; SQLite: a
//      table with the same columns and the same three indexes, filled in one transaction through
//      a prepared INSERT;
//   2. a full scan in each key's order: SETkey, NEXT until 33; SQLite: SELECT of all columns
//      ORDER BY the index's columns, reading every column of every row;
//   3. 100,000 GETfilekey lookups of random ids on the id key; SQLite: a prepared SELECT by id;
//   4. PUT of 10% of the records, each read by the id key, its relationship changed and PUT,
//      under STREAM with FLUSH at the end; SQLite: an UPDATE by id per record, in one
//      transaction.
// Prints the seconds of each step for both, the ratio (SQLite's time / ours, so above 1 means
// we are faster) and the file sizes. A step that fails is reported and the run goes on.
//
// Usage: records_bench [--records N] [--lookups N] [--dir DIRECTORY] [--shared]
// By default both sides have the file to themselves: the table is opened read-write deny-all
// (no lock per operation) and SQLite's reads run in one read transaction. --shared opens the
// table read-write deny-none and lets every SQLite read statement lock the file on its own.
// The files go to a new directory under the system's temporary directory unless --dir names
// one; they are removed at the end.
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "dictionary/thesaurus_tables.h"
#include "filelayer/table.h"
#include "vellum/error_codes.h"
#include "vellum/operation_codes.h"

#ifdef VELLUM_BENCH_SQLITE
#include <sqlite3.h>
#endif

const char* const bench::kBenchName = "records_bench";

namespace {

using bench::fail;
using bench::mix;
using bench::seconds;
#ifdef VELLUM_BENCH_SQLITE
using bench::check;
using bench::exec;
#endif

using vellum::Table;

struct Random {
    uint64_t state;
    uint64_t next() {
        state = mix(state);
        return state;
    }
};

// A term made of letters and blanks. Its letters begin with the 14 base-26 digits of x, which
// tell every x apart (26^14 > 2^64) whatever the case, so distinct x give texts that differ
// under NOCASE too; more letters, the blanks between words and the capitals follow from a hash
// of x. At most 14 + 15 letters and 9 blanks: within the 50 bytes of the field.
std::string termText(uint64_t x) {
    char letters[32];
    size_t count = 0;
    uint64_t digits = x;
    for (int i = 0; i < 14; ++i) {
        letters[count++] = static_cast<char>('a' + digits % 26);
        digits /= 26;
    }
    uint64_t shape = mix(x ^ 0x7F4A7C159E3779B9ull);
    size_t extra = shape % 16;
    shape /= 16;
    uint64_t filler = mix(shape);
    for (size_t i = 0; i < extra; ++i) {
        letters[count++] = static_cast<char>('a' + filler % 26);
        filler /= 26;
        if (filler < 26) filler = mix(filler + i);
    }
    std::string text;
    text.reserve(40);
    size_t word = 0;
    size_t wordLength = 3 + shape % 7;
    shape /= 7;
    for (size_t i = 0; i < count; ++i) {
        if (word == wordLength) {
            text.push_back(' ');
            word = 0;
            wordLength = 3 + shape % 7;
            shape /= 7;
        }
        char c = letters[i];
        if (word == 0) c = static_cast<char>(c - 'a' + 'A');
        text.push_back(c);
        ++word;
    }
    return text;
}

const char* const kRelationships[] = {"Broader Term", "Narrower Term", "Related Term",
                                      "Used For"};
const char* const kChangedRelationship = "See Also (revised)";

// Record i (from 1): its id is i, which the OPT id key needs to be non-zero.
struct Row {
    int32_t id;
    std::string term;
    std::string relatedTerm;
    const char* relationship;
};

Row rowOf(uint64_t i) {
    return {static_cast<int32_t>(i), termText(mix(i)), termText(mix(i ^ (1ull << 63))),
            kRelationships[mix(i ^ 0x5DEECE66Dull) % 4]};
}

// NOCASE order of two texts without trailing blanks: A-Z folded to a-z byte by byte, a text
// before every longer text it begins.
int compareNoCase(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    int c = strncasecmp(a.c_str(), b.c_str(), n);
    if (c != 0) return c;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

void progress(const char* side, const std::string& what) {
    std::printf("  %s: %s\n", side, what.c_str());
    std::fflush(stdout);
}

// One timed step: its seconds, or the reason it failed.
struct Step {
    std::optional<double> time;
    std::string failure;
    static Step ok(double t) { return {t, {}}; }
    static Step failed(std::string why) { return {std::nullopt, std::move(why)}; }
};

constexpr int kKeys = 3;

struct Result {
    Step load;
    Step scans[kKeys];
    Step lookups;
    Step puts;
    uint64_t size = 0;  // bytes, after the last step
    std::string note;
};

// The keys in the order of the declaration: id, term, related term.
const char* const kKeyLabels[kKeys] = {"QLR:KeyRelatedID", "QLR:KeyTerm", "QLR:KeyRelatedTerm"};

// Checks that ids (as a scan found them) are every record once, in the order of key k.
std::string checkScanOrder(const std::vector<int32_t>& ids, uint64_t records, int k) {
    if (ids.size() != records) {
        return "found " + std::to_string(ids.size()) + " of " + std::to_string(records) +
               " records";
    }
    std::vector<bool> seen(records + 1, false);
    std::optional<std::string> previous;
    for (size_t n = 0; n < ids.size(); ++n) {
        int32_t id = ids[n];
        if (id < 1 || static_cast<uint64_t>(id) > records || seen[id]) {
            return "record " + std::to_string(id) + " out of range or seen twice";
        }
        seen[id] = true;
        if (k == 0) {
            if (n > 0 && ids[n - 1] >= id) return "ids out of order at row " + std::to_string(n);
            continue;
        }
        Row row = rowOf(static_cast<uint64_t>(id));
        std::string& text = k == 1 ? row.term : row.relatedTerm;
        if (previous && compareNoCase(*previous, text) > 0) {
            return "texts out of order at row " + std::to_string(n);
        }
        previous = std::move(text);
    }
    return {};
}

// Vellum ---------------------------------------------------------------------------------------

std::string errorText(Table& table, const char* what, int error) {
    std::string text = std::string(what) + " gave " + std::to_string(error);
    std::string detail = table.fileError();
    if (!detail.empty()) text += " (" + detail + ")";
    return text;
}

std::string vellumFile(const std::string& directory) {
    // The engine adds ".VLM" to the declared "QLMRELAT".
    return vellum::thesaurus::fileIn(directory, std::string(vellum::thesaurus::kRelatedFile) +
                                                    ".VLM");
}

Result runVellum(const std::string& directory, uint64_t records, bool shared,
                 const std::vector<int32_t>& lookups, const std::vector<int32_t>& puts) {
    Result result;
    vellum::TableDeclaration declaration = vellum::thesaurus::relatedDeclaration(directory);
    Table table(declaration);
    const uint32_t idField = table.fieldNumber("QLR:RelatedID");
    const uint32_t termField = table.fieldNumber("QLR:Term");
    const uint32_t relatedField = table.fieldNumber("QLR:RelatedTerm");
    const uint32_t relationshipField = table.fieldNumber("QLR:Relationship");
    vellum::KeyControlBlock* keys[kKeys];
    for (int k = 0; k < kKeys; ++k) keys[k] = table.key(kKeyLabels[k]);
    if (idField == 0 || termField == 0 || relatedField == 0 || relationshipField == 0 ||
        keys[0] == nullptr || keys[1] == nullptr || keys[2] == nullptr) {
        fail("the QLMRelated declaration lacks a field or key this benchmark uses");
    }

    if (int error = table.create(); error != 0) fail(errorText(table, "CREATE", error));
    // Read and write; deny all, or deny none with --shared.
    if (int error = table.open(shared ? 0x42 : 0x12); error != 0) {
        fail(errorText(table, "OPEN", error));
    }

    // 1. Load.
    std::vector<Row> rows;  // made before the clock starts, like SQLite's
    rows.reserve(records);
    for (uint64_t i = 1; i <= records; ++i) rows.push_back(rowOf(i));
    auto start = std::chrono::steady_clock::now();
    table.call(vellum::kSTREAM);
    int error = table.errorCode();
    if (error != 0) {
        result.load = Step::failed(errorText(table, "STREAM", error));
    } else {
        for (const Row& row : rows) {
            table.setLong(idField, row.id);
            table.setText(termField, row.term);
            table.setText(relatedField, row.relatedTerm);
            table.setText(relationshipField, row.relationship);
            if ((error = table.add()) != 0) {
                result.load = Step::failed(errorText(table, "ADD", error) + " at record " +
                                           std::to_string(row.id));
                break;
            }
        }
        table.call(vellum::kFLUSH);
        if (error == 0 && (error = table.errorCode()) != 0) {
            result.load = Step::failed(errorText(table, "FLUSH", error));
        }
        if (error == 0) result.load = Step::ok(seconds(start));
    }
    rows.clear();
    rows.shrink_to_fit();
    uint32_t count = 0;
    if (result.load.time && (error = table.records(&count)) != 0) {
        result.load = Step::failed(errorText(table, "RECORDSfile after the load", error));
    } else if (result.load.time && count != records) {
        result.load = Step::failed("RECORDSfile counts " + std::to_string(count));
    }
    progress("vellum", result.load.time ? "load done" : "load failed: " + result.load.failure);
    if (!result.load.time) {
        table.close();
        result.size = std::filesystem::exists(vellumFile(directory))
                          ? std::filesystem::file_size(vellumFile(directory))
                          : 0;
        return result;
    }

    // 2. Scans.
    std::vector<int32_t> ids;
    ids.reserve(records);
    for (int k = 0; k < kKeys; ++k) {
        ids.clear();
        start = std::chrono::steady_clock::now();
        error = table.set(keys[k]);
        if (error != 0) {
            result.scans[k] = Step::failed(errorText(table, "SETkey", error));
        } else {
            while ((error = table.next()) == 0) ids.push_back(table.longValue(idField));
            double time = seconds(start);
            if (error != vellum::kRecordNotAvailable) {
                result.scans[k] = Step::failed(errorText(table, "NEXT", error) + " after " +
                                               std::to_string(ids.size()) + " records");
            } else if (std::string wrong = checkScanOrder(ids, records, k); !wrong.empty()) {
                result.scans[k] = Step::failed(wrong);
            } else {
                result.scans[k] = Step::ok(time);
            }
        }
        progress("vellum", std::string("scan by ") + kKeyLabels[k] +
                               (result.scans[k].time ? " done" : " failed: " +
                                                                     result.scans[k].failure));
    }
    ids = {};

    // 3. Lookups.
    start = std::chrono::steady_clock::now();
    error = 0;
    for (int32_t id : lookups) {
        table.setLong(idField, id);
        if ((error = table.get(keys[0])) != 0 || table.longValue(idField) != id) {
            result.lookups = Step::failed(errorText(table, "GETfilekey", error) + " for id " +
                                          std::to_string(id));
            break;
        }
    }
    if (result.lookups.failure.empty()) result.lookups = Step::ok(seconds(start));
    progress("vellum", result.lookups.time ? "lookups done"
                                           : "lookups failed: " + result.lookups.failure);

    // 4. PUT.
    start = std::chrono::steady_clock::now();
    table.call(vellum::kSTREAM);
    if ((error = table.errorCode()) != 0) {
        result.puts = Step::failed(errorText(table, "STREAM", error));
    } else {
        for (int32_t id : puts) {
            table.setLong(idField, id);
            if ((error = table.get(keys[0])) != 0) {
                result.puts = Step::failed(errorText(table, "GETfilekey", error) + " for id " +
                                           std::to_string(id));
                break;
            }
            table.setText(relationshipField, kChangedRelationship);
            if ((error = table.put()) != 0) {
                result.puts = Step::failed(errorText(table, "PUT", error) + " for id " +
                                           std::to_string(id));
                break;
            }
        }
        table.call(vellum::kFLUSH);
        if (error == 0 && (error = table.errorCode()) != 0) {
            result.puts = Step::failed(errorText(table, "FLUSH", error));
        }
        if (error == 0) result.puts = Step::ok(seconds(start));
    }
    // Outside the clock: a sample of the changed records reads back changed.
    for (size_t n = 0; result.puts.time && n < puts.size(); n += 97) {
        table.setLong(idField, puts[n]);
        if (table.get(keys[0]) != 0 || table.text(relationshipField) != kChangedRelationship) {
            result.puts = Step::failed("record " + std::to_string(puts[n]) +
                                       " does not read back changed");
        }
    }
    progress("vellum", result.puts.time ? "PUT done" : "PUT failed: " + result.puts.failure);

    if ((error = table.close()) != 0) fail(errorText(table, "CLOSE", error));
    result.size = std::filesystem::file_size(vellumFile(directory));
    return result;
}

// SQLite ---------------------------------------------------------------------------------------

#ifdef VELLUM_BENCH_SQLITE

sqlite3_stmt* prepare(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    check(db, sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), sql.c_str());
    return statement;
}

const char* const kColumns = "related_id, term, related_term, relationship";
// The columns of each index, as in ORDER BY.
const char* const kIndexColumns[kKeys] = {"related_id", "term COLLATE NOCASE",
                                          "related_term COLLATE NOCASE"};

// A rowid table, so that, as in our file, the rows lie in the order they were added and each
// key is an index beside them. The id key is unique; the term keys allow duplicates and ignore
// case. (NOCASE on the id key means nothing for a number.)
const char* const kSchema =
    "CREATE TABLE related(related_id INTEGER NOT NULL, term TEXT NOT NULL COLLATE NOCASE, "
    "related_term TEXT NOT NULL COLLATE NOCASE, relationship TEXT NOT NULL);"
    "CREATE UNIQUE INDEX related_by_id ON related(related_id);"
    "CREATE INDEX related_by_term ON related(term COLLATE NOCASE);"
    "CREATE INDEX related_by_related_term ON related(related_term COLLATE NOCASE);";

Result runSqlite(const std::string& directory, uint64_t records, bool shared,
                 const std::vector<int32_t>& lookups, const std::vector<int32_t>& puts) {
    Result result;
    std::string path = directory + "/related.sqlite";
    std::filesystem::remove(path);
    sqlite3* db = nullptr;
    check(db, sqlite3_open(path.c_str(), &db), "open");
    exec(db, kSchema);

    // 1. Load.
    std::vector<Row> rows;
    rows.reserve(records);
    for (uint64_t i = 1; i <= records; ++i) rows.push_back(rowOf(i));
    sqlite3_stmt* insert = prepare(db, std::string("INSERT INTO related(") + kColumns +
                                           ") VALUES(?, ?, ?, ?)");
    auto start = std::chrono::steady_clock::now();
    exec(db, "BEGIN");
    for (const Row& row : rows) {
        sqlite3_bind_int(insert, 1, row.id);
        sqlite3_bind_text(insert, 2, row.term.data(), static_cast<int>(row.term.size()),
                          SQLITE_STATIC);
        sqlite3_bind_text(insert, 3, row.relatedTerm.data(),
                          static_cast<int>(row.relatedTerm.size()), SQLITE_STATIC);
        sqlite3_bind_text(insert, 4, row.relationship, -1, SQLITE_STATIC);
        check(db, sqlite3_step(insert), "insert");
        sqlite3_reset(insert);
    }
    exec(db, "COMMIT");
    result.load = Step::ok(seconds(start));
    sqlite3_finalize(insert);
    rows.clear();
    rows.shrink_to_fit();
    progress("sqlite", "load done");

    // 2. Scans. Without --shared all reads share one read transaction.
    if (!shared) exec(db, "BEGIN");
    std::vector<int32_t> ids;
    ids.reserve(records);
    for (int k = 0; k < kKeys; ++k) {
        std::string sql = std::string("SELECT ") + kColumns + " FROM related ORDER BY " +
                          kIndexColumns[k];
        // A plan that sorts instead of walking the index would not be the same work.
        sqlite3_stmt* plan = prepare(db, "EXPLAIN QUERY PLAN " + sql);
        while (sqlite3_step(plan) == SQLITE_ROW) {
            const unsigned char* detail = sqlite3_column_text(plan, 3);
            if (detail != nullptr && std::strstr(reinterpret_cast<const char*>(detail),
                                                 "TEMP B-TREE") != nullptr) {
                result.note += std::string(" scan ") + std::to_string(k + 1) + " sorts;";
            }
        }
        sqlite3_finalize(plan);
        sqlite3_stmt* scan = prepare(db, sql);
        ids.clear();
        uint64_t bytes = 0;
        start = std::chrono::steady_clock::now();
        int code;
        while ((code = sqlite3_step(scan)) == SQLITE_ROW) {
            ids.push_back(sqlite3_column_int(scan, 0));
            for (int c = 1; c <= 3; ++c) {
                sqlite3_column_text(scan, c);
                bytes += static_cast<uint64_t>(sqlite3_column_bytes(scan, c));
            }
        }
        double time = seconds(start);
        check(db, code, "scan");
        sqlite3_finalize(scan);
        std::string wrong = checkScanOrder(ids, records, k);
        result.scans[k] = wrong.empty() && bytes > 0 ? Step::ok(time) : Step::failed(wrong);
    }
    ids = {};
    progress("sqlite", "scans done");

    // 3. Lookups.
    sqlite3_stmt* select =
        prepare(db, std::string("SELECT ") + kColumns + " FROM related WHERE related_id = ?");
    start = std::chrono::steady_clock::now();
    for (int32_t id : lookups) {
        sqlite3_bind_int(select, 1, id);
        if (sqlite3_step(select) != SQLITE_ROW || sqlite3_column_int(select, 0) != id) {
            fail("sqlite lookup of id " + std::to_string(id) + " failed");
        }
        for (int c = 1; c <= 3; ++c) sqlite3_column_text(select, c);
        sqlite3_reset(select);
    }
    result.lookups = Step::ok(seconds(start));
    if (!shared) exec(db, "COMMIT");
    progress("sqlite", "lookups done");

    // 4. Updates.
    sqlite3_stmt* update =
        prepare(db, "UPDATE related SET relationship = ? WHERE related_id = ?");
    start = std::chrono::steady_clock::now();
    exec(db, "BEGIN");
    for (int32_t id : puts) {
        sqlite3_bind_text(update, 1, kChangedRelationship, -1, SQLITE_STATIC);
        sqlite3_bind_int(update, 2, id);
        check(db, sqlite3_step(update), "update");
        if (sqlite3_changes(db) != 1) fail("sqlite update of id " + std::to_string(id));
        sqlite3_reset(update);
    }
    exec(db, "COMMIT");
    result.puts = Step::ok(seconds(start));
    for (size_t n = 0; n < puts.size(); n += 97) {
        sqlite3_bind_int(select, 1, puts[n]);
        if (sqlite3_step(select) != SQLITE_ROW ||
            std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(select, 3)),
                        kChangedRelationship) != 0) {
            result.puts = Step::failed("id " + std::to_string(puts[n]) + " reads back unchanged");
        }
        sqlite3_reset(select);
    }
    sqlite3_finalize(select);
    sqlite3_finalize(update);
    progress("sqlite", "updates done");

    sqlite3_stmt* pragma = prepare(db, "PRAGMA page_size");
    int pageSize = sqlite3_step(pragma) == SQLITE_ROW ? sqlite3_column_int(pragma, 0) : 0;
    sqlite3_finalize(pragma);
    sqlite3_close(db);
    result.size = std::filesystem::file_size(path);
    result.note = std::string("sqlite ") + sqlite3_libversion() +
                  ": rowid table with three indexes, default settings (rollback journal, "
                  "synchronous FULL, " +
                  std::to_string(pageSize) + "-byte pages)" +
                  (shared ? "; every read statement locks on its own"
                          : "; scans and lookups in one read transaction") +
                  (result.note.empty() ? "" : ";" + result.note);
    return result;
}

#endif

std::string cell(const Step& step) {
    if (!step.time) return "failed";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", *step.time);
    return text;
}

void printRow(const std::string& label, const Step& ours, const Step& theirs, bool haveSqlite) {
    if (!haveSqlite) {
        std::printf("%-40s %12s\n", label.c_str(), cell(ours).c_str());
        return;
    }
    std::string ratio = "-";
    if (ours.time && theirs.time && *ours.time > 0) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", *theirs.time / *ours.time);
        ratio = text;
    }
    std::printf("%-40s %12s %12s %8s\n", label.c_str(), cell(ours).c_str(), cell(theirs).c_str(),
                ratio.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t records = 1000000;
    uint64_t lookupCount = 100000;
    std::string directory;
    bool shared = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--records" && i + 1 < argc) {
            records = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--lookups" && i + 1 < argc) {
            lookupCount = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--dir" && i + 1 < argc) {
            directory = argv[++i];
        } else if (arg == "--shared") {
            shared = true;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--records N] [--lookups N] [--dir DIRECTORY] [--shared]\n",
                         argv[0]);
            return 2;
        }
    }
    if (records == 0 || records > 100000000) fail("--records must be from 1 to 100,000,000");
    bool ownDirectory = bench::makeWorkDirectory(directory);
    directory = std::filesystem::absolute(directory).string();

    // Lookups: random ids, with repeats. PUTs: 10% of the records, each once, in random order.
    Random generator{42};
    std::vector<int32_t> lookups(lookupCount);
    for (int32_t& id : lookups) id = static_cast<int32_t>(1 + generator.next() % records);
    std::vector<int32_t> puts(records);
    for (uint64_t i = 0; i < records; ++i) puts[i] = static_cast<int32_t>(i + 1);
    for (uint64_t i = records - 1; i > 0; --i) {
        std::swap(puts[i], puts[generator.next() % (i + 1)]);
    }
    puts.resize(std::max<uint64_t>(records / 10, 1));

    std::printf("workload: %llu QLMRelated records (154 bytes, 3 keys), %llu lookups, %zu PUTs; "
                "%s; files in %s\n",
                static_cast<unsigned long long>(records),
                static_cast<unsigned long long>(lookupCount), puts.size(),
                shared ? "shared (deny none)" : "exclusive (deny all)", directory.c_str());
    std::fflush(stdout);

    Result ours = runVellum(directory, records, shared, lookups, puts);
    Result theirs;
    bool haveSqlite = false;
#ifdef VELLUM_BENCH_SQLITE
    theirs = runSqlite(directory, records, shared, lookups, puts);
    haveSqlite = true;
#endif

    if (haveSqlite) {
        std::printf("\n%-40s %12s %12s %8s\n", "seconds", "vellum", "sqlite", "ratio");
    } else {
        std::printf("\n%-40s %12s\n", "seconds", "vellum");
    }
    std::string n = std::to_string(records);
    printRow("load " + n + " records (ADD, STREAM)", ours.load, theirs.load, haveSqlite);
    for (int k = 0; k < kKeys; ++k) {
        printRow(std::string("scan by ") + kKeyLabels[k], ours.scans[k], theirs.scans[k],
                 haveSqlite);
    }
    printRow(std::to_string(lookups.size()) + " GETfilekey by id", ours.lookups, theirs.lookups,
             haveSqlite);
    printRow(std::to_string(puts.size()) + " PUT by id (STREAM)", ours.puts, theirs.puts,
             haveSqlite);
    if (haveSqlite) {
        std::printf("%-40s %12llu %12llu %8.2f\n", "file size (bytes)",
                    static_cast<unsigned long long>(ours.size),
                    static_cast<unsigned long long>(theirs.size),
                    ours.size > 0 ? static_cast<double>(theirs.size) / ours.size : 0.0);
    } else {
        std::printf("%-40s %12llu\n", "file size (bytes)",
                    static_cast<unsigned long long>(ours.size));
    }
    std::printf("ratio: sqlite's seconds / ours (above 1: we are faster); for the size, sqlite's "
                "bytes / ours\n");

    bool anyFailed = false;
    auto report = [&](const char* side, const char* step, const Step& s) {
        if (s.time) return;
        if (!anyFailed) std::printf("\nfailed steps:\n");
        anyFailed = true;
        std::printf("  %s %s: %s\n", side, step, s.failure.c_str());
    };
    for (const auto& [side, r] : {std::pair<const char*, const Result*>{"vellum", &ours},
                                  std::pair<const char*, const Result*>{"sqlite", &theirs}}) {
        if (!haveSqlite && r == &theirs) continue;
        report(side, "load", r->load);
        for (int k = 0; k < kKeys; ++k) report(side, kKeyLabels[k], r->scans[k]);
        report(side, "lookups", r->lookups);
        report(side, "PUT", r->puts);
    }
    if (haveSqlite) std::printf("\n%s\n", theirs.note.c_str());

    if (ownDirectory) std::filesystem::remove_all(directory);
    return 0;
}
