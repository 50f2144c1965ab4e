// Helpers for the commit and crash tests: a table's contents as a map, writing a set of changes
// into a PageFile, the header as it is on disk, a tree file laid out by hand, and the check
// that a file is settled and sound.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "pagestore/header_page.h"
#include "pagestore/page_codec.h"
#include "pagestore/page_file.h"
#include "pagestore/page_tree.h"
#include "pagestore/tree_check.h"
#include "support/entry_text.h"
#include "support/temp_dir.h"
#include "vellum/fatal.h"

namespace vellum::test {

using Contents = std::map<std::string, std::string>;

// Text that the page codec cannot pack (no runs), so that image sizes follow the data.
inline std::string unpackableText(size_t length, unsigned seed) {
    std::string text(length, ' ');
    uint32_t state = seed * 2654435761u + 12345u;
    for (char& c : text) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>('a' + (state >> 16) % 26);
    }
    for (size_t i = 1; i < text.size(); ++i) {
        if (text[i] == text[i - 1]) text[i] = text[i] == 'z' ? 'a' : static_cast<char>(text[i] + 1);
    }
    return text;
}

// Entries "k0000" and on, from up to before to, with unpackable data of the given length.
inline Contents numbered(int from, int to, size_t dataLength, unsigned seed) {
    Contents contents;
    for (int i = from; i < to; ++i) {
        char key[16];
        std::snprintf(key, sizeof key, "k%04d", i);
        contents[key] = unpackableText(dataLength, seed + static_cast<unsigned>(i));
    }
    return contents;
}

// Every entry of the file but the sentinel, in the current bracket. Each step searches from a
// private copy of the last key, so no cached entry is held across a page fetch.
inline Contents readContents(PageFile& file) {
    Contents contents;
    OwnedEntry position(makeEntry(""));
    while (Entry* next = file.findNextEntry(position.get())) {
        contents[keyOf(next)] = dataOf(next);
        position.reset(copyEntryKey(*next));
    }
    return contents;
}

// Turns the file's contents from `from` into `to` (write mode).
inline void applyChanges(PageFile& file, const Contents& from, const Contents& to) {
    for (const auto& [key, data] : from) {
        auto found = to.find(key);
        if (found == to.end() || found->second != data) file.removeEntry(file.findEntry(bytesOf(key)));
    }
    for (const auto& [key, data] : to) {
        auto found = from.find(key);
        if (found == from.end() || found->second != data) {
            file.insertEntry(makeEntry(key, data));
        }
    }
}

// Opens the file in a mode that writes and, when that succeeds, opens a write bracket and turns
// the contents from `from` into `to`. Returns the result of the open.
inline int openAndChange(PageFile& file, const std::string& path, const Contents& from,
                         const Contents& to, int mode = 0x42) {
    int result = file.open(path, mode, "");
    if (result != 0) return result;
    file.beginWrite();
    applyChanges(file, from, to);
    return 0;
}

// Opens a file read-only (deny none) and reads it. A file never committed has no root; its first
// read in read mode is fatal 1194 and it counts as empty.
inline Contents readTable(const std::string& path) {
    FatalTrap trap("test file");
    PageFile file;
    if (file.open(path, 0x40, "") != 0) {
        ADD_FAILURE() << "cannot open " << path;
        return {};
    }
    try {
        return readContents(file);
    } catch (const FatalError& error) {
        if (error.number() != 1194) throw;
        return {};
    }
}

// Writes contents into a new file with one commit per call of the engine.
inline void writeTable(const std::string& path, const Contents& contents) {
    writeFileBytes(path, "");
    PageFile file;
    ASSERT_EQ(file.open(path, 0x42, ""), 0);
    file.beginWrite();
    applyChanges(file, {}, contents);
    ASSERT_EQ(file.commit(), 0);
    file.close();
}

// The header as it is at offset 0 of the file (an unenciphered file).
inline HeaderPage diskHeader(const std::string& path) {
    HeaderPage header;
    std::string bytes = readFileBytes(path);
    if (bytes.size() >= kHeaderSize) std::copy_n(bytes.data(), kHeaderSize, header.bytes());
    return header;
}

// Opens the file for writing (in a mode that writes) and opens a write bracket, which replays
// or resets a pending log area, and closes; the file must then be settled on disk. Reopens it
// for reading, checks the tree and returns the contents.
inline Contents settleAndCheck(const std::string& path, int mode = 0x42) {
    FatalTrap trap("test file");
    {
        PageFile file;
        EXPECT_EQ(file.open(path, mode, ""), 0);
        file.beginWrite();
        file.rootPage();
        file.endWrite();
        file.close();
    }
    HeaderPage header = diskHeader(path);
    EXPECT_TRUE(header.hasMagic());
    EXPECT_EQ(header.logStart(), header.logEnd()) << "the file is not settled";
    EXPECT_EQ(header.logStart(), header.endOfPages());
    PageFile file;
    EXPECT_EQ(file.open(path, 0x40, ""), 0);
    TreeCheckReport report = checkTree(file);
    EXPECT_TRUE(report.ok()) << ::testing::PrintToString(report.problems);
    return readContents(file);
}

// A reader finds `expected` in the file, and so does settleAndCheck.
inline void expectStoredAs(const std::string& path, const Contents& expected) {
    EXPECT_EQ(readTable(path), expected);
    EXPECT_EQ(settleAndCheck(path), expected);
}

// A hand-made two-level tree: an index root over the given leaves. Pages are laid out class by
// class, packed, the root first in its class and leaves in key order within theirs; extraGap
// leaves that many free units below the range of each class listed (allowed below ranges of
// several pages). The first leaf gets the sentinel. Returns the page number of each leaf.
inline std::vector<int32_t> writeTreeFile(const std::string& path,
                                          const std::vector<Contents>& leaves,
                                          const std::map<unsigned, uint32_t>& extraGap = {}) {
    Entry nil;
    struct Page {
        std::vector<Entry*> entries;
        uint8_t level = 0;
        uint16_t estimate = 13;
        std::vector<uint8_t> image;
        int32_t number = 0;
        unsigned sizeClass = 0;
    };
    std::vector<Page> pages(leaves.size() + 1);  // pages[0] is the root
    auto buildImage = [&](Page& page) {
        Entry* tree = buildBalancedTree(page.entries.data(), page.entries.size(), &nil);
        page.image = buildPageImage(tree, &nil, page.level, page.estimate);
        if (page.level != 0) writeChildNumbers(page.image.data(), tree, &nil);
        page.sizeClass = imageSlotSize(page.image.data()) / kPageUnit;
    };
    for (size_t i = 0; i < leaves.size(); ++i) {
        Page& leaf = pages[i + 1];
        if (i == 0) leaf.entries.push_back(newEntry(0, 0));
        for (const auto& [key, data] : leaves[i]) {
            leaf.entries.push_back(makeEntry(key, data));
        }
        for (Entry* entry : leaf.entries) leaf.estimate += entry->totalLength + 5;
        buildImage(leaf);
    }
    // Slots: class by class; the root is class 1 as long as it has few children.
    HeaderPage header;
    pages[0].sizeClass = 1;
    uint32_t next = 0;
    for (unsigned k = 1; k <= kMaxSizeClass; ++k) {
        auto gap = extraGap.find(k);
        if (gap != extraGap.end()) next += gap->second;
        header.setRangeStart(k, next);
        for (Page& page : pages) {
            if (page.sizeClass != k) continue;
            page.number = static_cast<int32_t>(next);
            next += k;
        }
        header.setRangeEnd(k, next);
    }
    Page& root = pages[0];
    root.level = 1;
    for (size_t i = 1; i < pages.size(); ++i) {
        Entry* separator = copyEntryKey(*pages[i].entries.front());
        separator->child = pages[i].number;
        root.entries.push_back(separator);
        root.estimate = static_cast<uint16_t>(root.estimate + separator->totalLength + 9);
    }
    buildImage(root);
    EXPECT_EQ(root.sizeClass, 1u);

    std::string bytes(header.endOfPages(), '\0');
    for (Page& page : pages) {
        setImageOwnOffset(page.image.data(), static_cast<uint32_t>(pageOffset(page.number)));
        std::copy(page.image.begin(), page.image.end(),
                  bytes.begin() + static_cast<std::ptrdiff_t>(pageOffset(page.number)));
        for (Entry* entry : page.entries) freeEntry(entry);
    }
    header.setMagic();
    header.setChangeCounter(1);
    header.setRootPage(pages[0].number);
    header.setLogStart(static_cast<uint32_t>(header.endOfPages()));
    header.setLogEnd(header.logStart());
    std::copy_n(header.bytes(), kHeaderSize, bytes.begin());
    writeFileBytes(path, bytes);

    std::vector<int32_t> numbers;
    for (size_t i = 1; i < pages.size(); ++i) numbers.push_back(pages[i].number);
    return numbers;
}

}  // namespace vellum::test
