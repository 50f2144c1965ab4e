// What the benchmarks share: a 64-bit mix for scattered keys, timing, ending with a message, and
// the two SQLite calls of the baselines. Each benchmark defines kBenchName, the name its
// messages begin with.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <stdlib.h>

#ifdef VELLUM_BENCH_SQLITE
#include <sqlite3.h>
#endif

namespace bench {

extern const char* const kBenchName;

// A bijective mix of 64 bits, so that distinct numbers give distinct, scattered values.
inline uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

inline double seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

[[noreturn]] inline void fail(const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", kBenchName, what.c_str());
    std::exit(1);
}

// Makes the working directory: a new one under the system's temporary directory when none was
// given (the caller removes it at the end), else the given one, created when missing. Returns
// whether the directory is the benchmark's own.
inline bool makeWorkDirectory(std::string& directory) {
    bool own = directory.empty();
    if (own) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vellum-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) fail("cannot make a temporary directory");
        directory = pattern;
    }
    std::filesystem::create_directories(directory);
    return own;
}

#ifdef VELLUM_BENCH_SQLITE
inline void check(sqlite3* db, int code, const char* what) {
    if (code != SQLITE_OK && code != SQLITE_DONE && code != SQLITE_ROW) {
        fail(std::string("sqlite: ") + what + ": " + sqlite3_errmsg(db));
    }
}

inline void exec(sqlite3* db, const char* sql) {
    check(db, sqlite3_exec(db, sql, nullptr, nullptr, nullptr), sql);
}
#endif

}  // namespace bench
