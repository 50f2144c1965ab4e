// Showing a page of rows in the columns of a format string.
#include "browse_lists/browse_model.h"

#include "charset/charset.h"

namespace vellum::viewer {

namespace {

QString shown(const std::string& field, size_t pictureLength) {
    std::string text = field.substr(0, pictureLength);
    text.erase(text.find_last_not_of(' ') + 1);
    return QString::fromStdString(ansiToUtf8(text));
}

Qt::Alignment alignment(ListColumn::Alignment alignment) {
    switch (alignment) {
        case ListColumn::Alignment::right:
            return Qt::AlignRight | Qt::AlignVCenter;
        case ListColumn::Alignment::centre:
            return Qt::AlignHCenter | Qt::AlignVCenter;
        case ListColumn::Alignment::left:
            break;
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
}

}  // namespace

BrowseModel::BrowseModel(std::vector<ListColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), columns_(std::move(columns)), marks_(columns_.size()) {}

void BrowseModel::setRows(std::vector<ViewRow> rows) {
    const int before = static_cast<int>(rows_.size());
    const int after = static_cast<int>(rows.size());
    if (after > before) {
        beginInsertRows({}, before, after - 1);
        rows_ = std::move(rows);
        endInsertRows();
    } else if (after < before) {
        beginRemoveRows({}, after, before - 1);
        rows_ = std::move(rows);
        endRemoveRows();
    } else {
        rows_ = std::move(rows);
    }
    if (after > 0) emit dataChanged(index(0, 0), index(after - 1, columnCount() - 1));
}

void BrowseModel::setSortMarks(std::vector<SortMark> marks) {
    marks_ = std::move(marks);
    marks_.resize(columns_.size());
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

int BrowseModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int BrowseModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant BrowseModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const auto row = static_cast<size_t>(index.row());
    const auto column = static_cast<size_t>(index.column());
    if (row >= rows_.size() || column >= columns_.size()) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        const std::vector<std::string>& fields = rows_[row].fields;
        if (column >= fields.size()) return QString();
        return shown(fields[column], columns_[column].pictureLength);
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(alignment(columns_[column].alignment));
    }
    return {};
}

QVariant BrowseModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
    const auto column = static_cast<size_t>(section);
    if (role == Qt::DisplayRole) {
        QString text = QString::fromStdString(ansiToUtf8(columns_[column].header));
        switch (marks_[column]) {
            case SortMark::ascending:
                return text + QStringLiteral(" \u25B2");
            case SortMark::descending:
                return text + QStringLiteral(" \u25BC");
            case SortMark::none:
                break;
        }
        return text;
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(alignment(columns_[column].alignment));
    }
    return {};
}

Qt::ItemFlags BrowseModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

}  // namespace vellum::viewer
