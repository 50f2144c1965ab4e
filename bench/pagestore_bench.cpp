// Times the page store on one fixed workload and, when built with SQLite, the same workload on
// SQLite as the baseline: N entries (default 1,000,000) of 16-byte keys and 100-byte values
// inserted in key order and, into a second file, in random order, committing every 1,000 inserts
// and once at the end; then N point lookups of random keys and one walk of every entry in key
// order on the second file. Prints operations per second for each phase and the file sizes.
//
// Usage: pagestore_bench [--entries N] [--dir DIRECTORY]
// The files go to a new directory under the system's temporary directory unless --dir names
// one; they are removed at the end.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "bench_support.h"
#include "pagestore/page_file.h"
#include "vellum/entry.h"
#include "vellum/fatal.h"

#ifdef VELLUM_BENCH_SQLITE
#include <sqlite3.h>
#endif

const char* const bench::kBenchName = "pagestore_bench";

namespace {

using bench::fail;
using bench::mix;
using bench::seconds;
#ifdef VELLUM_BENCH_SQLITE
using bench::check;
using bench::exec;
#endif

constexpr size_t kKeyLength = 16;
constexpr size_t kValueLength = 100;
constexpr uint64_t kCommitEvery = 1000;

using Key = std::array<uint8_t, kKeyLength>;

void storeBigEndian(uint8_t* out, uint64_t value) {
    for (int i = 7; i >= 0; --i) {
        out[i] = static_cast<uint8_t>(value);
        value >>= 8;
    }
}

// Key i: a scattered half, then i itself; both big-endian so byte order is number order.
Key keyOf(uint64_t i) {
    Key key;
    storeBigEndian(key.data(), mix(i));
    storeBigEndian(key.data() + 8, i);
    return key;
}

// Value of key i: bytes that do not pack, and whose first byte tells the key apart.
void valueOf(uint64_t i, uint8_t* out) {
    uint64_t state = mix(i ^ 0x5DEECE66Dull);
    for (size_t n = 0; n < kValueLength; n += 8) {
        state = mix(state);
        uint8_t bytes[8];
        std::memcpy(bytes, &state, 8);
        std::memcpy(out + n, bytes, std::min<size_t>(8, kValueLength - n));
    }
    out[0] = static_cast<uint8_t>(i);
}

// A small, fast generator for the lookup order.
struct Random {
    uint64_t state;
    uint64_t next() {
        state = mix(state);
        return state;
    }
};

struct Result {
    double keyOrderInserts = 0;  // operations per second
    double randomInserts = 0;
    double lookups = 0;
    double walk = 0;
    uint64_t keyOrderSize = 0;  // bytes
    uint64_t randomSize = 0;
    int pageSize = 0;  // SQLite's page size
};

// Page store -------------------------------------------------------------------------------------

// Inserts keys in the given order, committing every kCommitEvery inserts and at the end.
double pageStoreInserts(const std::string& path, const std::vector<uint64_t>& order) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).close();  // an empty table file
    vellum::PageFile file;
    // Read and write, deny all: no other process shares the file, so no lock per access.
    if (file.open(path, 0x12, "") != 0) fail("cannot open " + path);
    uint8_t value[kValueLength];
    auto start = std::chrono::steady_clock::now();
    file.beginWrite();
    uint64_t count = 0;
    for (uint64_t i : order) {
        Key key = keyOf(i);
        valueOf(i, value);
        file.insertEntry(vellum::newEntry(key, std::span<const uint8_t>(value, kValueLength)));
        if (++count % kCommitEvery == 0) {
            file.endWrite();
            file.beginWrite();
        }
    }
    file.endWrite();
    file.close();
    return static_cast<double>(order.size()) / seconds(start);
}

Result runPageStore(const std::string& directory, uint64_t entries,
                    const std::vector<uint64_t>& keyOrder, const std::vector<uint64_t>& random,
                    const std::vector<uint64_t>& lookups) {
    Result result;
    std::string sorted = directory + "/key-order.vlm";
    std::string shuffled = directory + "/random-order.vlm";
    result.keyOrderInserts = pageStoreInserts(sorted, keyOrder);
    result.keyOrderSize = std::filesystem::file_size(sorted);
    std::printf("  vellum: inserts in key order done\n");
    std::fflush(stdout);
    result.randomInserts = pageStoreInserts(shuffled, random);
    result.randomSize = std::filesystem::file_size(shuffled);
    std::printf("  vellum: inserts in random order done\n");
    std::fflush(stdout);

    vellum::PageFile file;
    // Read only, deny all.
    if (file.open(shuffled, 0x10, "") != 0) fail("cannot open " + shuffled);
    auto start = std::chrono::steady_clock::now();
    for (uint64_t i : lookups) {
        Key key = keyOf(i);
        vellum::Entry* entry = file.findEntry(key);
        if (entry == nullptr || entry->data().size() != kValueLength ||
            entry->data()[0] != static_cast<uint8_t>(i)) {
            fail("lookup of key " + std::to_string(i) + " failed");
        }
    }
    result.lookups = static_cast<double>(lookups.size()) / seconds(start);

    start = std::chrono::steady_clock::now();
    vellum::OwnedEntry first(vellum::newEntry(0, 0));
    uint64_t walked = 0;
    for (vellum::Entry* entry = file.findNextEntry(first.get()); entry != nullptr;
         entry = file.findNextEntry(entry)) {
        ++walked;
    }
    result.walk = static_cast<double>(walked) / seconds(start);
    if (walked != entries) fail("the walk found " + std::to_string(walked) + " entries");
    file.close();
    return result;
}

// SQLite -----------------------------------------------------------------------------------------

#ifdef VELLUM_BENCH_SQLITE

double sqliteInserts(const std::string& path, const std::vector<uint64_t>& order) {
    std::filesystem::remove(path);
    sqlite3* db = nullptr;
    check(db, sqlite3_open(path.c_str(), &db), "open");
    // A clustered B-tree on the key, like the page store's entry tree.
    exec(db, "CREATE TABLE t(k BLOB PRIMARY KEY, v BLOB) WITHOUT ROWID");
    sqlite3_stmt* insert = nullptr;
    check(db, sqlite3_prepare_v2(db, "INSERT INTO t(k, v) VALUES(?, ?)", -1, &insert, nullptr),
          "prepare insert");
    uint8_t value[kValueLength];
    auto start = std::chrono::steady_clock::now();
    exec(db, "BEGIN");
    uint64_t count = 0;
    for (uint64_t i : order) {
        Key key = keyOf(i);
        valueOf(i, value);
        sqlite3_bind_blob(insert, 1, key.data(), kKeyLength, SQLITE_STATIC);
        sqlite3_bind_blob(insert, 2, value, kValueLength, SQLITE_STATIC);
        check(db, sqlite3_step(insert), "insert");
        sqlite3_reset(insert);
        if (++count % kCommitEvery == 0) {
            exec(db, "COMMIT");
            exec(db, "BEGIN");
        }
    }
    exec(db, "COMMIT");
    sqlite3_finalize(insert);
    sqlite3_close(db);
    return static_cast<double>(order.size()) / seconds(start);
}

Result runSqlite(const std::string& directory, uint64_t entries,
                 const std::vector<uint64_t>& keyOrder, const std::vector<uint64_t>& random,
                 const std::vector<uint64_t>& lookups) {
    Result result;
    std::string sorted = directory + "/key-order.sqlite";
    std::string shuffled = directory + "/random-order.sqlite";
    result.keyOrderInserts = sqliteInserts(sorted, keyOrder);
    result.keyOrderSize = std::filesystem::file_size(sorted);
    result.randomInserts = sqliteInserts(shuffled, random);
    result.randomSize = std::filesystem::file_size(shuffled);
    std::printf("  sqlite: inserts done\n");
    std::fflush(stdout);

    sqlite3* db = nullptr;
    check(db, sqlite3_open_v2(shuffled.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), "open");
    sqlite3_stmt* pragma = nullptr;
    check(db, sqlite3_prepare_v2(db, "PRAGMA page_size", -1, &pragma, nullptr), "page size");
    if (sqlite3_step(pragma) == SQLITE_ROW) result.pageSize = sqlite3_column_int(pragma, 0);
    sqlite3_finalize(pragma);
    sqlite3_stmt* select = nullptr;
    check(db, sqlite3_prepare_v2(db, "SELECT v FROM t WHERE k = ?", -1, &select, nullptr),
          "prepare select");
    // One read transaction for all lookups, as the page store's reader keeps one bracket open
    // on a file no other process shares; otherwise every statement would lock the file anew.
    exec(db, "BEGIN");
    auto start = std::chrono::steady_clock::now();
    for (uint64_t i : lookups) {
        Key key = keyOf(i);
        sqlite3_bind_blob(select, 1, key.data(), kKeyLength, SQLITE_STATIC);
        if (sqlite3_step(select) != SQLITE_ROW || sqlite3_column_bytes(select, 0) != kValueLength ||
            static_cast<const uint8_t*>(sqlite3_column_blob(select, 0))[0] !=
                static_cast<uint8_t>(i)) {
            fail("sqlite lookup of key " + std::to_string(i) + " failed");
        }
        sqlite3_reset(select);
    }
    result.lookups = static_cast<double>(lookups.size()) / seconds(start);
    sqlite3_finalize(select);

    sqlite3_stmt* scan = nullptr;
    check(db, sqlite3_prepare_v2(db, "SELECT k, v FROM t ORDER BY k", -1, &scan, nullptr),
          "prepare scan");
    start = std::chrono::steady_clock::now();
    uint64_t walked = 0;
    while (sqlite3_step(scan) == SQLITE_ROW) {
        if (sqlite3_column_bytes(scan, 0) != kKeyLength) fail("sqlite scan: bad key");
        ++walked;
    }
    result.walk = static_cast<double>(walked) / seconds(start);
    if (walked != entries) fail("the sqlite scan found " + std::to_string(walked) + " rows");
    sqlite3_finalize(scan);
    exec(db, "COMMIT");
    sqlite3_close(db);
    return result;
}

#endif

const char* sqliteVersion() {
#ifdef VELLUM_BENCH_SQLITE
    return sqlite3_libversion();
#else
    return "";
#endif
}

void printRow(const char* phase, double vellum, double sqlite, bool haveSqlite) {
    if (haveSqlite) {
        std::printf("%-34s %14.0f %14.0f\n", phase, vellum, sqlite);
    } else {
        std::printf("%-34s %14.0f\n", phase, vellum);
    }
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t entries = 1000000;
    std::string directory;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--entries" && i + 1 < argc) {
            entries = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--dir" && i + 1 < argc) {
            directory = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--entries N] [--dir DIRECTORY]\n", argv[0]);
            return 2;
        }
    }
    if (entries == 0) fail("--entries must be at least 1");
    bool ownDirectory = bench::makeWorkDirectory(directory);

    // Key order is the order of the keys' bytes; the random order is the numbers' order, whose
    // keys are scattered; lookups pick keys at random, with repeats.
    std::vector<uint64_t> random(entries);
    for (uint64_t i = 0; i < entries; ++i) random[i] = i;
    std::vector<uint64_t> keyOrder = random;
    std::sort(keyOrder.begin(), keyOrder.end(),
              [](uint64_t a, uint64_t b) { return keyOf(a) < keyOf(b); });
    std::vector<uint64_t> lookups(entries);
    Random generator{42};
    for (uint64_t& i : lookups) i = generator.next() % entries;

    std::printf("workload: %llu entries, %zu-byte keys, %zu-byte values, a commit every %llu "
                "inserts; files in %s\n",
                static_cast<unsigned long long>(entries), kKeyLength, kValueLength,
                static_cast<unsigned long long>(kCommitEvery), directory.c_str());
    std::fflush(stdout);

    vellum::FatalTrap trap("benchmark");
    Result vellum;
    try {
        vellum = runPageStore(directory, entries, keyOrder, random, lookups);
    } catch (const vellum::FatalError& error) {
        fail(std::string("fatal error in the page store: ") + error.what());
    }
    Result sqlite;
    bool haveSqlite = false;
#ifdef VELLUM_BENCH_SQLITE
    sqlite = runSqlite(directory, entries, keyOrder, random, lookups);
    haveSqlite = true;
#endif

    std::printf("\n%-34s %14s %14s\n", "operations per second", "vellum",
                haveSqlite ? "sqlite" : "");
    printRow("insert, key order", vellum.keyOrderInserts, sqlite.keyOrderInserts, haveSqlite);
    printRow("insert, random order", vellum.randomInserts, sqlite.randomInserts, haveSqlite);
    printRow("point lookup, random keys", vellum.lookups, sqlite.lookups, haveSqlite);
    printRow("walk in key order (entries/s)", vellum.walk, sqlite.walk, haveSqlite);
    std::printf("\n%-34s %14s %14s\n", "file size (bytes)", "vellum", haveSqlite ? "sqlite" : "");
    std::printf("%-34s %14llu %14s\n", "after inserts in key order",
                static_cast<unsigned long long>(vellum.keyOrderSize),
                haveSqlite ? std::to_string(sqlite.keyOrderSize).c_str() : "");
    std::printf("%-34s %14llu %14s\n", "after inserts in random order",
                static_cast<unsigned long long>(vellum.randomSize),
                haveSqlite ? std::to_string(sqlite.randomSize).c_str() : "");
    if (haveSqlite) {
        std::printf("\nsqlite %s: table WITHOUT ROWID with a 16-byte BLOB primary key, default "
                    "settings (rollback journal, synchronous FULL, %d-byte pages); lookups and "
                    "the walk in one read transaction\n",
                    sqliteVersion(), sqlite.pageSize);
    }

    if (ownDirectory) std::filesystem::remove_all(directory);
    return 0;
}
