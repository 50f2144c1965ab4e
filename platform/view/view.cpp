// Reading a view: placing in the key order (the primary table's own statements) or in a header
// order (the sort table), reading each row's primary record and then its joined records, and
// making the row's fields and view position from the record buffers.
#include "view/view.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "vellum/error_codes.h"
#include "vellum/operation_codes.h"
#include "view/order_text.h"
#include "view/sort_table.h"
#include "view/view_position.h"

namespace vellum {

View::View(Table& primary) : primary_(primary) {}

View::~View() = default;

// Setting up -----------------------------------------------------------------------------------

int View::addJoin(Table& joined, KeyControlBlock* key, const std::vector<ViewLink>& links) {
    if (&joined == &primary_ || key == nullptr || key->file != joined.block() || links.empty() ||
        !positionFits(key_, joins_.size() + 1)) {
        return kInvalidRecordDeclaration;
    }
    Join join{&joined, key, {}};
    for (const ViewLink& link : links) {
        ViewField from;
        ViewField to;
        if (!findField(primary_, link.first, &from) || !findField(joined, link.second, &to) ||
            from.declaration->type != to.declaration->type || from.size != to.size) {
            return kInvalidRecordDeclaration;
        }
        join.links.emplace_back(from, to);
    }
    joins_.push_back(std::move(join));
    return 0;
}

int View::addField(const std::string& label) {
    ViewField field;
    if (!findViewField(label, &field)) return kInvalidRecordDeclaration;
    fields_.push_back(field);
    return 0;
}

int View::setOrder(KeyControlBlock* key) {
    if ((key != nullptr && key->file != primary_.block()) || !positionFits(key, joins_.size())) {
        return kInvalidRecordDeclaration;
    }
    key_ = key;
    sort_.reset();
    return 0;
}

int View::setOrderText(const std::string& text) {
    if (text.empty()) {
        sort_.reset();
        return 0;
    }
    std::vector<OrderItem> items;
    if (!parseOrderText(text, &items)) return kInvalidIndexString;
    std::vector<SortColumn> columns;
    for (const OrderItem& item : items) {
        SortColumn column;
        if (!findViewField(item.label, &column.source)) return kInvalidIndexString;
        column.descending = item.descending;
        columns.push_back(column);
    }
    // The fields of the view's key follow as the last columns, so that rows whose chosen columns
    // tie keep the key order although the table is read in record order.
    if (key_ != nullptr) {
        const FieldDeclaration* fields = primary_.block()->fields;
        for (uint8_t c = 0; c < key_->componentCount; ++c) {
            auto field = static_cast<uint32_t>(std::abs(key_->components[c]));
            SortColumn column;
            column.source = {&primary_, &fields[field], fieldSize(fields[field])};
            column.descending = key_->components[c] < 0;
            columns.push_back(column);
        }
    }
    auto sort = std::make_unique<SortTable>(std::move(columns));
    if (int error = fillSortTable(*sort); error != 0) return error;
    sort_ = std::move(sort);
    return 0;
}

bool View::findViewField(const std::string& label, ViewField* out) {
    if (findField(primary_, label, out)) return true;
    return std::any_of(joins_.begin(), joins_.end(),
                       [&](const Join& join) { return findField(*join.table, label, out); });
}

// Whether the view positions of the order of key (file order for none) with joins joins fit.
bool View::positionFits(KeyControlBlock* key, size_t joins) const {
    size_t order = 4;  // the record number of POSITIONfile or POSITIONkey
    if (key != nullptr) {
        const FieldDeclaration* fields = primary_.block()->fields;
        for (uint8_t c = 0; c < key->componentCount; ++c) {
            auto field = static_cast<uint32_t>(std::abs(key->components[c]));
            if (field < 1 || field > fields[0].memberCount) return false;
            order += fieldSize(fields[field]);
        }
    }
    return viewPositionLength(order, joins) <= kMaxViewPosition;
}

// One scan of the primary table in record order, each row with its joins, then the sort. Record
// order reads each page of records once; the key order would fetch every record from anywhere.
int View::fillSortTable(SortTable& sort) {
    int error = sort.open();
    if (error == 0) error = primary_.set(nullptr);
    if (error != 0) return error;
    while ((error = primary_.next()) == 0) {
        if ((error = readJoins(nullptr)) != 0) return error;
        auto record = static_cast<uint32_t>(primary_.call(kPOINTERfile));
        if ((error = sort.add(record)) != 0) return error;
    }
    return error == kRecordNotAvailable ? sort.build() : error;
}

// Pages ----------------------------------------------------------------------------------------

int View::firstPage(size_t count, std::vector<ViewRow>* rows) {
    return readPage(Start::first, {}, count, rows);
}

int View::lastPage(size_t count, std::vector<ViewRow>* rows) {
    return readPage(Start::last, {}, count, rows);
}

int View::locatedPage(size_t count, std::vector<ViewRow>* rows) {
    return readPage(Start::located, {}, count, rows);
}

int View::pageAfter(const std::string& position, size_t count, std::vector<ViewRow>* rows) {
    return readPage(Start::after, position, count, rows);
}

int View::pageBefore(const std::string& position, size_t count, std::vector<ViewRow>* rows) {
    return readPage(Start::before, position, count, rows);
}

int View::readPage(Start start, const std::string& position, size_t count,
                   std::vector<ViewRow>* rows) {
    rows->clear();
    bool fromRow = start == Start::after || start == Start::before;
    ViewPosition from;
    if (fromRow && !decodeViewPosition(position, joins_.size(), &from)) return kRecordNotFound;
    if (count == 0) return 0;
    bool forward = start != Start::last && start != Start::before;
    // Placed at a row, the first read gives the row itself, or the one that took its place
    // when its record has gone or moved since.
    bool skipRow = fromRow;
    int error = place(start, from.order);
    while (error == 0 && rows->size() < count) {
        if ((error = readRecord(forward)) != 0) break;
        std::string order = orderPosition();
        if (skipRow) {
            skipRow = false;
            if (order == from.order) continue;
        }
        ViewRow row;
        if ((error = makeRow(order, &row)) == 0) rows->push_back(std::move(row));
    }
    if (error != 0 && error != kRecordNotAvailable) {
        rows->clear();
        return error;
    }
    if (!forward) std::reverse(rows->begin(), rows->end());
    return 0;
}

int View::place(Start start, const std::string& order) {
    switch (start) {
        case Start::first:
        case Start::last:
            return sort_ ? sort_->setStart() : primary_.set(key_);
        case Start::located:
            return sort_ ? sort_->locate() : primary_.setFromBuffer(key_);
        case Start::after:
        case Start::before:
            return sort_ ? sort_->resetAt(order) : primary_.reset(key_, order);
    }
    return kUnsupportedFunction;
}

// The next or previous row's primary record. In a header order a primary record deleted since
// the sort is passed over.
int View::readRecord(bool forward) {
    if (!sort_) return forward ? primary_.next() : primary_.previous();
    for (;;) {
        uint32_t record = 0;
        if (int error = sort_->read(forward, &record); error != 0) return error;
        primary_.call(kGETfileptr, {record});
        if (int error = primary_.errorCode(); error != kRecordNotFound) return error;
    }
}

std::string View::orderPosition() {
    return sort_ ? sort_->position() : primary_.position(key_);
}

// Reads each join's record for the primary record in the buffer; positions, when given, receive
// their POSITIONfile strings, empty for a join that found nothing.
int View::readJoins(std::vector<std::string>* positions) {
    for (Join& join : joins_) {
        Table& joined = *join.table;
        if (int error = joined.clear(); error != 0) return error;
        for (auto& [from, to] : join.links) std::memcpy(to.bytes(), from.bytes(), to.size);
        std::string position;
        int error = joined.get(join.key);
        if (error == 0) {
            position = joined.position(nullptr);
        } else if (error == kRecordNotFound) {
            if ((error = joined.clear()) != 0) return error;
        } else {
            return error;
        }
        if (positions != nullptr) positions->push_back(std::move(position));
    }
    return 0;
}

int View::makeRow(const std::string& order, ViewRow* row) {
    ViewPosition position{order, primary_.position(nullptr), {}};
    if (int error = readJoins(&position.joined); error != 0) return error;
    for (const ViewField& field : fields_) row->fields.push_back(field.text());
    row->position = encodeViewPosition(position);
    return 0;
}

// Records of a row ----------------------------------------------------------------------------

int View::reget(const std::string& position) {
    ViewPosition at;
    if (!decodeViewPosition(position, joins_.size(), &at)) return kRecordNotFound;
    primary_.call(kREGETfile, {}, {at.primary});
    int error = primary_.errorCode();
    for (size_t j = 0; j < joins_.size() && error == 0; ++j) {
        Table& joined = *joins_[j].table;
        if (at.joined[j].empty()) {
            error = joined.clear();
            continue;
        }
        joined.call(kREGETfile, {}, {at.joined[j]});
        error = joined.errorCode();
    }
    return error;
}

int View::isEmpty(bool* empty) {
    uint32_t count = 0;
    int error = primary_.records(&count);
    if (error == 0) *empty = count == 0;
    return error;
}

}  // namespace vellum
