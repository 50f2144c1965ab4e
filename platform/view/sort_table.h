// The sort table of a header order. The thesaurus tables' declarations are fixed and carry no
// dynamic index, and a declared table must match its stored definition, so a re-sort over any
// columns cannot index the viewed table itself. Instead the view makes a private table in a new
// directory under $TMPDIR: one field per sort column (the column's own type and size), the
// primary record's number, and an INDEX "Order" over the columns with their directions (DUP,
// NOCASE). A scan of the primary table in record order fills it under STREAM, where ADD leaves
// the INDEX for later, and one BUILDfile sorts it with the engine's sorter; the view's key fields
// come last among the columns, so that rows whose chosen columns tie keep the key order. The view then pages through "Order" and reads each primary record by
// its number, so nothing is held in memory but the page. The table lives as long as its order:
// the directory goes when the order changes or the view closes.
//
// Locating a value of the first column uses a second INDEX "Locate" over that column alone (the
// "Order" index itself for a one-column order): its first row at or after the value gives that
// column's key bytes, and a RESETkey on "Order" with those bytes, the later columns' bytes zero
// and record number 0 stands before the first row of that value in the whole order.
//
// Rows reflect the primary table as of the sort; a primary record deleted since is passed over.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "filelayer/table.h"
#include "view/view_field.h"

namespace vellum {

struct SortColumn {
    ViewField source;  // the field of the view's tables the column copies
    bool descending = false;
};

class SortTable {
public:
    explicit SortTable(std::vector<SortColumn> columns);
    ~SortTable();
    SortTable(const SortTable&) = delete;
    SortTable& operator=(const SortTable&) = delete;

    // Filling: open() creates the table and starts the fill, add() takes one row from the
    // columns' record buffers, build() ends the fill and sorts.
    int open();
    int add(uint32_t primaryRecord);
    int build();

    // Reading in the order. Each place is followed by read(); after resetAt() the first read
    // gives the row of the position itself.
    int setStart();
    int locate();  // at the value the first column's source field holds; 33 when none follows
    int resetAt(const std::string& position);
    int read(bool forward, uint32_t* primaryRecord);
    std::string position();  // of the row last read: POSITIONfile, 4 bytes

private:
    KeyControlBlock* orderKey() { return table_->key(1u); }
    KeyControlBlock* locateKey() { return columns_.size() > 1 ? table_->key(2u) : orderKey(); }

    uint32_t recordField() const { return static_cast<uint32_t>(columns_.size() + 1); }

    std::vector<SortColumn> columns_;
    std::string directory_;  // empty when it could not be made
    std::unique_ptr<Table> table_;
    std::vector<ViewField> targets_;  // the columns in the sort record
};

}  // namespace vellum
