// PageNode: one cached page of a PageFile, its entries decoded into a balanced tree.
#pragma once

#include <cstdint>
#include <vector>

#include "vellum/entry.h"

namespace vellum {

class EntryCursor;
class PageFile;

struct PageNode {
    Entry* tree = nullptr;  // root of the page's entry tree; none before the page is decoded
    PageFile* file = nullptr;
    int32_t pageNumber = 0;  // negative while the page has never been placed
    std::vector<uint8_t> image;  // the raw image while it is being read or written
    PageNode* hashNext = nullptr;
    PageNode* listNext = nullptr;  // clean or dirty list
    PageNode* listPrev = nullptr;
    uint64_t lastUse = 0;  // use clock of the last touch
    uint64_t created = 0;  // use clock when the node was made
    uint16_t sizeEstimate = 13;
    bool dirty = false;
    uint8_t level = 0;  // 0 for a leaf
    EntryCursor* cursors = nullptr;  // the cursors attached to this page
};

// A circular list of nodes through their list links; head is the oldest.
struct PageList {
    PageNode* head = nullptr;
    unsigned count = 0;

    void append(PageNode* node);
    void remove(PageNode* node);
};

}  // namespace vellum
