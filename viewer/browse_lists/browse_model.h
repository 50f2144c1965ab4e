// The row queue of a browse list as a Qt table model: the rows of the visible page only, as the
// view read them, shown through the columns of the list's format string. Each column shows the
// projected field of the same number, cut to the column's picture and without trailing blanks,
// converted from Windows-1252; the header texts carry the marks of a header sort.
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "browse_lists/list_format.h"
#include "view/view.h"

namespace vellum::viewer {

enum class SortMark { none, ascending, descending };

class BrowseModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    BrowseModel(std::vector<ListColumn> columns, QObject* parent);

    const std::vector<ListColumn>& columns() const { return columns_; }
    const std::vector<ViewRow>& rows() const { return rows_; }
    // Replaces the page. Rows are inserted or removed only where the count changes, so that the
    // table keeps its column widths.
    void setRows(std::vector<ViewRow> rows);
    // One mark per column.
    void setSortMarks(std::vector<SortMark> marks);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    std::vector<ListColumn> columns_;
    std::vector<ViewRow> rows_;
    std::vector<SortMark> marks_;
};

}  // namespace vellum::viewer
