// The view engine the browse lists read through: a primary table, outer joins to further tables,
// projected fields, and an order (a key of the primary table, or a header order over any of the
// view's fields). It reads one page of rows at a time, from the start, the end, a located value
// or either side of a row, and reads a row's records again from its view position. Nothing is
// held but the page the caller asks for.
//
//   View view(keywords);
//   view.addJoin(alias, alias.key("QLA:KeyTermID"), {{"QLK:TermID", "QLA:TermID"}});
//   view.addField("QLK:Word"); view.addField("QLA:Term");
//   view.setOrder(keywords.key("QLK:KeyWord"));
//   std::vector<ViewRow> page;
//   view.firstPage(20, &page);  view.pageAfter(page.back().position, 20, &page);
//
// Each call returns 0 or an error code: the engine's, 47 for a field, key or link the view cannot
// use, 76 for an order text naming a field the view does not have, 35 for a position that is
// not one of this view's.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "filelayer/table.h"
#include "view/view_field.h"

namespace vellum {

class SortTable;

struct ViewRow {
    std::vector<std::string> fields;  // the projected fields' record bytes, in the order added
    std::string position;             // the view position, at most 1024 bytes
};

// A link of an outer join: a field of the primary table and the joined field it must equal.
using ViewLink = std::pair<std::string, std::string>;

class View {
public:
    // The view over primary, in file order until setOrder.
    explicit View(Table& primary);
    ~View();
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    // An outer join: for each primary row the links' values fill the key's components in the
    // joined record buffer and GETfilekey reads the record; when none matches, the joined record
    // is blank (STRING fields spaces, all others zero). The tables stay the caller's, open.
    int addJoin(Table& joined, KeyControlBlock* key, const std::vector<ViewLink>& links);
    // A projected field, by label, of the primary table or of a table joined before.
    int addField(const std::string& label);

    // The order of a key of the primary table; it ends any header order.
    int setOrder(KeyControlBlock* key);
    // A header order, "+Label,-Label" over the view's fields, text matched without regard to case;
    // an empty text goes back to the key order. On error the view keeps its order.
    int setOrderText(const std::string& text);

    // Pages of up to count rows, in the view's order; a page ends early at the end of the order.
    int firstPage(size_t count, std::vector<ViewRow>* rows);
    int lastPage(size_t count, std::vector<ViewRow>* rows);
    // From the first row at or after the value the locator field holds in its record buffer: in
    // the key order the key's fields of the primary record buffer, in a header order the first
    // field of the order.
    int locatedPage(size_t count, std::vector<ViewRow>* rows);
    // The rows after or before the row of a view position, not including it.
    int pageAfter(const std::string& position, size_t count, std::vector<ViewRow>* rows);
    int pageBefore(const std::string& position, size_t count, std::vector<ViewRow>* rows);

    // Reads the records of a row again into the record buffers of the primary and joined tables.
    int reget(const std::string& position);

    int isEmpty(bool* empty);

private:
    struct Join {
        Table* table = nullptr;
        KeyControlBlock* key = nullptr;
        std::vector<std::pair<ViewField, ViewField>> links;  // primary field, joined field
    };
    enum class Start { first, last, located, after, before };

    bool findViewField(const std::string& label, ViewField* out);
    bool positionFits(KeyControlBlock* key, size_t joins) const;
    int fillSortTable(SortTable& sort);
    int readPage(Start start, const std::string& position, size_t count,
                 std::vector<ViewRow>* rows);
    int place(Start start, const std::string& order);
    int readRecord(bool forward);
    std::string orderPosition();
    int readJoins(std::vector<std::string>* positions);
    int makeRow(const std::string& order, ViewRow* row);

    Table& primary_;
    KeyControlBlock* key_ = nullptr;
    std::vector<Join> joins_;
    std::vector<ViewField> fields_;
    std::unique_ptr<SortTable> sort_;  // the header order, when one is set
};

}  // namespace vellum
