// Opens arbitrary bytes as a table file and walks it: the work the fuzz target does for each
// input, shared with the regression test that replays saved inputs and hand-made damaged files.
// The bytes are served from memory through an in-memory file system, so nothing touches the
// disk; the copy may be changed by the recovery of a pending log area.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vellum::fuzz {

// At most this many entries are walked per open, so that a valid huge file cannot stall a run.
constexpr uint64_t kWalkLimit = 100000;

// What happened in one open of the bytes.
struct WalkOutcome {
    int openResult = -1;        // PageFile::open's result; nothing else ran unless it is 0
    int walkFatal = 0;          // fatal number that ended the walk, 0 when it ran to its end
    uint64_t walked = 0;        // entries returned by findNextEntry, the sentinel not counted
    bool limited = false;       // the walk stopped at kWalkLimit
    bool outOfOrder = false;    // an entry's key was not greater than the one before it
    int commitFatal = 0;        // write mode: fatal number of the changes or of their commit
    int commitResult = 0;       // write mode: the commit's result (a write error, say)
    uint64_t inserted = 0;      // write mode: entries the changes inserted
    uint64_t removed = 0;       // write mode: entries the changes removed
    int checkFatal = 0;         // fatal number that ended checkTree, 0 when it finished
    size_t checkProblems = 0;   // problems checkTree reported
    uint64_t checkEntries = 0;  // leaf entries checkTree counted, the sentinel included
};

struct WalkReport {
    WalkOutcome readMode;   // opened with 0x40: read only, deny none
    WalkOutcome writeMode;  // opened with 0x42 and walked in a write bracket (recovers a log),
                            // then changed: some entries removed, some inserted, committed
};

// Runs both opens on a private copy of the bytes. Fatal errors are caught; anything else the
// engine does wrong shows as a crash or a sanitizer report.
WalkReport runOpenAndWalk(const uint8_t* data, size_t size);

// Empty when the report is consistent; otherwise what is wrong: a walk that went backwards, a
// file that checkTree finds sound but whose walk failed or missed entries, or a sound file that
// the changes of write mode left unsound or with the wrong number of entries.
std::string contractViolation(const WalkReport& report);

// The fuzz entry's work: runOpenAndWalk, and abort with a message on a contract violation.
// Returns 0.
int openAndWalk(const uint8_t* data, size_t size);

// Small valid table files made through the engine, for the seed corpus and the regression
// test: an empty file, one leaf, two levels, three levels, and a file with a pending log area.
struct SeedFile {
    std::string name;
    std::vector<uint8_t> bytes;
};
std::vector<SeedFile> makeSeedFiles();

}  // namespace vellum::fuzz
