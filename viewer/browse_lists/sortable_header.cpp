// Header clicks turned into a sort order.
#include "browse_lists/sortable_header.h"

#include <QMouseEvent>
#include <algorithm>

namespace vellum::viewer {

SortableHeader::SortableHeader(QHeaderView* header, QObject* parent)
    : QObject(parent), header_(header), viewport_(header->viewport()) {
    header_->setSectionsClickable(true);
    // The header reports a click when the button is released over the section it was pressed
    // on, and not after a drag that widened a column; the release itself carries the modifiers.
    viewport_->installEventFilter(this);
    connect(header_, &QHeaderView::sectionClicked, this, &SortableHeader::clicked);
}

bool SortableHeader::eventFilter(QObject* watched, QEvent* event) {
    if (watched == viewport_ && event->type() == QEvent::MouseButtonRelease) {
        modifiers_ = static_cast<QMouseEvent*>(event)->modifiers();
    }
    return QObject::eventFilter(watched, event);
}

std::vector<SortMark> SortableHeader::marks(int count) const {
    std::vector<SortMark> marks(static_cast<size_t>(std::max(count, 0)), SortMark::none);
    for (const SortColumnChoice& choice : order_) {
        if (choice.column >= 0 && choice.column < count) {
            marks[static_cast<size_t>(choice.column)] =
                choice.descending ? SortMark::descending : SortMark::ascending;
        }
    }
    return marks;
}

void SortableHeader::clicked(int column) {
    auto found = std::find_if(order_.begin(), order_.end(),
                              [column](const SortColumnChoice& c) { return c.column == column; });
    const bool control = modifiers_.testFlag(Qt::ControlModifier);
    const bool shift = modifiers_.testFlag(Qt::ShiftModifier);
    if (control && found != order_.end()) {
        order_.erase(found);
    } else if (control || shift) {
        if (found == order_.end()) {
            order_.push_back({column, false});
        } else {
            found->descending = !found->descending;
        }
    } else if (order_.size() == 1 && found != order_.end()) {
        found->descending = !found->descending;
    } else {
        order_ = {{column, false}};
    }
    modifiers_ = {};
    emit orderChosen();
}

}  // namespace vellum::viewer
