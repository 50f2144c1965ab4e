// The sortable header of a list: a left click on a column header sorts the list by that column,
// and a click on the one sorted column again turns its direction. A click with Shift or Ctrl on
// a column outside the order adds it as a further column; on a column inside it, Shift turns its
// direction and Ctrl takes it out. The order is handed to the list as columns with directions;
// an empty order sends the list back to its key order. The order lives only as long as the
// header: nothing is stored, so each run starts in key order.
#pragma once

#include <QHeaderView>
#include <QObject>
#include <vector>

#include "browse_lists/browse_model.h"

namespace vellum::viewer {

struct SortColumnChoice {
    int column = 0;
    bool descending = false;

    bool operator==(const SortColumnChoice&) const = default;
};

class SortableHeader : public QObject {
    Q_OBJECT

  public:
    SortableHeader(QHeaderView* header, QObject* parent);

    const std::vector<SortColumnChoice>& order() const { return order_; }
    // The marks of the order, one per column of count.
    std::vector<SortMark> marks(int count) const;
    // Sets the order without announcing it (to keep the order a list could not take).
    void setOrder(std::vector<SortColumnChoice> order) { order_ = std::move(order); }

  signals:
    void orderChosen();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void clicked(int column);

    QHeaderView* header_;
    QWidget* viewport_;  // compared only: it may be going while the header object still is
    Qt::KeyboardModifiers modifiers_;  // of the click being handled
    std::vector<SortColumnChoice> order_;
};

}  // namespace vellum::viewer
