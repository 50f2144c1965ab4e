// A full check of a file's entry tree and class ranges, for tests and for people who keep
// files: every page reachable exactly once on the level below its parent, separators equal to
// their child's first keys, keys ascending, page trees exact, size estimates right, and the
// class ranges of the header ordered, packed and holding exactly the reachable pages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellum {

class PageFile;

struct TreeCheckReport {
    std::vector<std::string> problems;  // empty for a sound file
    uint64_t entries = 0;               // leaf entries, the sentinel included
    uint64_t pages = 0;
    unsigned levels = 0;                // root level + 1
    bool ok() const { return problems.empty(); }
};

// Walks the whole tree through the file's cache; the file must be in a bracket-able state.
// Fatal errors met on the way (a damaged page) propagate as usual.
TreeCheckReport checkTree(PageFile& file);

}  // namespace vellum
