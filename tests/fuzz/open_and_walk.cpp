// Opens arbitrary bytes as a table file and walks it, in read mode and in write mode, through an
// in-memory file system; also makes the small valid files that seed the fuzzer.
#include "fuzz/open_and_walk.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <span>
#include <stdexcept>

#include "os/file_system.h"
#include "pagestore/page_file.h"
#include "pagestore/tree_check.h"
#include "support/scoped_file_system.h"
#include "vellum/entry.h"
#include "vellum/fatal.h"

namespace vellum::fuzz {

namespace {

constexpr const char* kFileName = "/memory/input.vlm";
// Writes that would make a file larger than this fail as a full disk does. A damaged log area
// may name any 32-bit target offset; a real file would grow sparse there.
constexpr uint64_t kMaxFileSize = uint64_t{64} << 20;
constexpr int kNotFound = 2;
constexpr int kAccessDenied = 5;
// Every this many walked entries the walk also looks the key up and continues from a loose copy.
constexpr uint64_t kProbeEvery = 64;

// Files kept in memory by name. Locks always succeed: only one handle ever uses a file.
class MemoryFileSystem final : public os::FileSystem {
public:
    std::map<std::string, std::vector<uint8_t>> files;

    int open(const std::string& path, const os::OpenRequest& request,
             os::Handle* handle) override {
        *handle = os::Handle{};
        auto found = files.find(path);
        if (found == files.end()) {
            if (request.disposition == os::Disposition::openExisting) return kNotFound;
            found = files.emplace(path, std::vector<uint8_t>{}).first;
        } else if (request.disposition == os::Disposition::createAlways) {
            found->second.clear();
        }
        handle->fd = nextDescriptor_++;
        handle->readable = request.access != os::Access::write;
        handle->writable = request.access != os::Access::read;
        open_[handle->fd] = path;
        return 0;
    }

    void close(os::Handle* handle) override {
        open_.erase(handle->fd);
        *handle = os::Handle{};
    }

    int read(const os::Handle& handle, uint64_t offset, void* buffer, size_t count,
             size_t* done) override {
        *done = 0;
        if (!handle.readable) return kAccessDenied;
        std::vector<uint8_t>* file = fileOf(handle);
        if (file == nullptr) return os::errorFromErrno(EBADF);
        if (offset >= file->size()) return 0;
        *done = std::min<uint64_t>(count, file->size() - offset);
        std::copy_n(file->data() + offset, *done, static_cast<uint8_t*>(buffer));
        return 0;
    }

    int write(const os::Handle& handle, uint64_t offset, const void* buffer, size_t count,
              size_t* done) override {
        *done = 0;
        if (!handle.writable) return kAccessDenied;
        std::vector<uint8_t>* file = fileOf(handle);
        if (file == nullptr) return os::errorFromErrno(EBADF);
        if (offset > kMaxFileSize || count > kMaxFileSize - offset) {
            return os::errorFromErrno(ENOSPC);
        }
        if (offset + count > file->size()) file->resize(offset + count);
        std::copy_n(static_cast<const uint8_t*>(buffer), count, file->data() + offset);
        *done = count;
        return 0;
    }

    int flush(const os::Handle&) override { return 0; }

    int truncate(const os::Handle& handle, uint64_t length) override {
        std::vector<uint8_t>* file = fileOf(handle);
        if (file == nullptr) return os::errorFromErrno(EBADF);
        if (length > kMaxFileSize) return os::errorFromErrno(ENOSPC);
        file->resize(length);
        return 0;
    }

    int size(const os::Handle& handle, uint64_t* length) override {
        std::vector<uint8_t>* file = fileOf(handle);
        if (file == nullptr) return os::errorFromErrno(EBADF);
        *length = file->size();
        return 0;
    }

    int lock(const os::Handle&, uint64_t, uint64_t) override { return 0; }
    int unlock(const os::Handle&, uint64_t, uint64_t) override { return 0; }

    int remove(const std::string& path) override {
        return files.erase(path) != 0 ? 0 : kNotFound;
    }

private:
    std::vector<uint8_t>* fileOf(const os::Handle& handle) {
        auto name = open_.find(handle.fd);
        if (name == open_.end()) return nullptr;
        auto file = files.find(name->second);
        return file != files.end() ? &file->second : nullptr;
    }

    int nextDescriptor_ = 3;
    std::map<int, std::string> open_;
};

// Walks every entry from the start, each step asking for the entry after the one before, as a
// reader of the whole file does. Stops at kWalkLimit entries or at the first key that is not
// greater than the previous one.
void walk(PageFile& file, WalkOutcome& outcome) {
    OwnedEntry start(newEntry(0, 0));
    std::vector<uint8_t> last;  // the sentinel's empty key
    Entry* entry = file.findNextEntry(start.get());
    while (entry != nullptr) {
        if (outcome.walked == kWalkLimit) {
            outcome.limited = true;
            return;
        }
        std::span<const uint8_t> key = entry->key();
        if (compareKeys(key, last) <= 0) {
            outcome.outOfOrder = true;
            return;
        }
        last.assign(key.begin(), key.end());
        ++outcome.walked;
        if (outcome.walked % kProbeEvery == 0) {
            // Point lookups along the way; they may evict the page of entry, so the walk goes
            // on from a loose copy of the key.
            file.findEntry(last);
            file.findPreviousEntry(last);
            OwnedEntry probe(newEntry(last));
            entry = file.findNextEntry(probe.get());
        } else {
            entry = file.findNextEntry(entry);
        }
    }
}

// Removes every eighth of the first 512 entries and inserts a few new ones after all others:
// changes that free pages, renew separators, split pages and move them between classes.
void change(PageFile& file, WalkOutcome& outcome) {
    std::vector<std::vector<uint8_t>> victims;
    OwnedEntry start(newEntry(0, 0));
    Entry* entry = file.findNextEntry(start.get());
    for (unsigned i = 0; entry != nullptr && i < 512; ++i) {
        if (i % 8 == 0) victims.emplace_back(entry->key().begin(), entry->key().end());
        entry = file.findNextEntry(entry);
    }
    for (const std::vector<uint8_t>& key : victims) {
        file.removeEntry(file.findEntry(key));
        ++outcome.removed;
    }
    std::vector<uint8_t> data(300, 0x5A);
    for (uint8_t i = 0; i < 24; ++i) {
        std::vector<uint8_t> key = {0xFF, 0xFE, 'f', 'u', 'z', 'z', i};
        if (file.findEntry(key) != nullptr) continue;
        file.insertEntry(newEntry(key, data));
        ++outcome.inserted;
    }
}

// Opens the file in a mode and walks it; in write mode the walk runs in a write bracket, whose
// first access replays a pending log area, and is followed by changes and their commit.
void openAndWalkIn(int mode, bool write, WalkOutcome& outcome) {
    PageFile file;
    try {
        outcome.openResult = file.open(kFileName, mode, "");
    } catch (const FatalError& error) {
        outcome.walkFatal = error.number();
        return;
    }
    if (outcome.openResult != 0) return;
    try {
        if (write) file.beginWrite();
        walk(file, outcome);
    } catch (const FatalError& error) {
        outcome.walkFatal = error.number();
        return;  // a file that met a fatal error is not used any more
    }
    if (write) {
        try {
            change(file, outcome);
            outcome.commitResult = file.commit();
            file.endWrite();
        } catch (const FatalError& error) {
            outcome.commitFatal = error.number();
        }
    }
}

// Checks the whole tree of the file as it now is, through a fresh read-mode open.
void checkFile(WalkOutcome& outcome) {
    PageFile file;
    try {
        if (file.open(kFileName, 0x40, "") != 0) {
            outcome.checkFatal = -1;
            return;
        }
        TreeCheckReport report = checkTree(file);
        outcome.checkProblems = report.problems.size();
        outcome.checkEntries = report.entries;
    } catch (const FatalError& error) {
        outcome.checkFatal = error.number();
    }
}

WalkOutcome runMode(MemoryFileSystem& fileSystem, const uint8_t* data, size_t size, int mode,
                    bool write) {
    fileSystem.files[kFileName].assign(data, data + size);
    WalkOutcome outcome;
    openAndWalkIn(mode, write, outcome);
    checkFile(outcome);
    return outcome;
}

std::string violationOf(const char* mode, const WalkOutcome& outcome) {
    std::string prefix = std::string(mode) + ": ";
    if (outcome.outOfOrder) return prefix + "the walk returned a key not above the previous one";
    bool sound = outcome.openResult == 0 && outcome.checkFatal == 0 && outcome.checkProblems == 0;
    if (!sound) return {};
    if (outcome.walkFatal != 0) {
        return prefix + "checkTree finds the file sound but the walk met fatal error " +
               std::to_string(outcome.walkFatal);
    }
    if (!outcome.limited && outcome.checkEntries != outcome.walked + 1) {
        return prefix + "checkTree counts " + std::to_string(outcome.checkEntries) +
               " entries with the sentinel, the walk found " + std::to_string(outcome.walked);
    }
    return {};
}

}  // namespace

// A file sound in read mode must stay sound through the changes of write mode, and hold the
// entries it had less those removed and plus those inserted.
std::string changeViolation(const WalkOutcome& before, const WalkOutcome& after) {
    bool sound = before.openResult == 0 && before.checkFatal == 0 && before.checkProblems == 0 &&
                 before.walkFatal == 0 && !before.limited;
    if (!sound || after.commitResult != 0) return {};
    std::string prefix = "write mode on a sound file: ";
    if (after.walkFatal != 0 || after.commitFatal != 0) {
        return prefix + "fatal error " + std::to_string(after.walkFatal + after.commitFatal);
    }
    if (after.checkFatal != 0 || after.checkProblems != 0) {
        return prefix + "the changes left " + std::to_string(after.checkProblems) +
               " problems (fatal " + std::to_string(after.checkFatal) + ")";
    }
    if (after.checkEntries != before.checkEntries - after.removed + after.inserted) {
        return prefix + "checkTree counts " + std::to_string(after.checkEntries) +
               " entries after the changes, expected " +
               std::to_string(before.checkEntries - after.removed + after.inserted);
    }
    return {};
}

WalkReport runOpenAndWalk(const uint8_t* data, size_t size) {
    MemoryFileSystem fileSystem;
    test::ScopedFileSystem installed(fileSystem);
    FatalTrap trap(kFileName);
    WalkReport report;
    report.readMode = runMode(fileSystem, data, size, 0x40, false);
    report.writeMode = runMode(fileSystem, data, size, 0x42, true);
    return report;
}

std::string contractViolation(const WalkReport& report) {
    std::string violation = violationOf("read mode", report.readMode);
    if (violation.empty() && report.writeMode.outOfOrder) {
        violation = "write mode: the walk returned a key not above the previous one";
    }
    if (violation.empty()) violation = changeViolation(report.readMode, report.writeMode);
    return violation;
}

int openAndWalk(const uint8_t* data, size_t size) {
    std::string violation = contractViolation(runOpenAndWalk(data, size));
    if (!violation.empty()) {
        std::fprintf(stderr, "open-and-walk contract violated: %s\n", violation.c_str());
        std::abort();
    }
    return 0;
}

// Seed files ------------------------------------------------------------------------------------

namespace {

// The key of entry i: a five-digit number first, so that neighbours share little, then
// filler that packs well.
std::vector<uint8_t> seedKey(unsigned i, size_t length) {
    std::vector<uint8_t> key(length, 'x');
    char digits[12];
    std::snprintf(digits, sizeof digits, "%05u", i);
    for (size_t n = 0; n < 5 && n < length; ++n) key[n] = static_cast<uint8_t>(digits[n]);
    return key;
}

// Data that does not pack: a simple generator of pseudo-random bytes.
std::vector<uint8_t> seedData(unsigned i, size_t length) {
    std::vector<uint8_t> data(length);
    uint32_t state = i * 2654435761u + 1;
    for (uint8_t& byte : data) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    return data;
}

struct SeedShape {
    const char* name;
    unsigned entries;
    size_t keyLength;
    size_t dataLength;
};

void insertEntries(PageFile& file, unsigned first, unsigned count, const SeedShape& shape) {
    for (unsigned i = first; i < first + count; ++i) {
        std::vector<uint8_t> key = seedKey(i, shape.keyLength);
        std::vector<uint8_t> data = seedData(i, shape.dataLength);
        file.insertEntry(newEntry(key, data));
    }
}

std::vector<uint8_t> makeFile(MemoryFileSystem& fileSystem, const SeedShape& shape) {
    std::string name = std::string("/memory/") + shape.name;
    fileSystem.files[name] = {};
    PageFile file;
    if (file.open(name, 0x12, "") != 0) throw std::runtime_error("cannot open " + name);
    file.beginWrite();
    insertEntries(file, 0, shape.entries, shape);
    file.endWrite();
    file.close();
    return fileSystem.files[name];
}

// A file whose last commit stopped after its first stage: the header points at a log area
// holding the new images of pages that existed before.
std::vector<uint8_t> makePendingFile(MemoryFileSystem& fileSystem, const SeedShape& shape) {
    std::string name = std::string("/memory/") + shape.name;
    fileSystem.files[name] = makeFile(fileSystem, shape);
    PageFile file;
    if (file.open(name, 0x12, "") != 0) throw std::runtime_error("cannot open " + name);
    file.beginWrite();
    // Keys between the existing ones land in existing leaves.
    SeedShape later = shape;
    later.keyLength = shape.keyLength + 1;
    insertEntries(file, 0, 8, later);
    if (file.commitStageOne() != 0) throw std::runtime_error("stage one failed");
    // The file object goes away without the second stage, as if the process had stopped.
    return fileSystem.files[name];
}

}  // namespace

std::vector<SeedFile> makeSeedFiles() {
    MemoryFileSystem fileSystem;
    test::ScopedFileSystem installed(fileSystem);
    FatalTrap trap;
    std::vector<SeedFile> seeds;
    seeds.push_back({"empty", {}});
    const SeedShape oneLeaf{"one-leaf", 12, 8, 20};
    const SeedShape twoLevels{"two-levels", 60, 12, 100};
    const SeedShape threeLevels{"three-levels", 400, 200, 0};
    const SeedShape pending{"pending-log", 60, 12, 100};
    for (const SeedShape& shape : {oneLeaf, twoLevels, threeLevels}) {
        seeds.push_back({shape.name, makeFile(fileSystem, shape)});
    }
    seeds.push_back({pending.name, makePendingFile(fileSystem, pending)});
    return seeds;
}

}  // namespace vellum::fuzz
