// The browse list's paging, selection, locator, scroll bar, header order and clipboard copy.
#include "browse_lists/browse_list.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTableView>
#include <QWheelEvent>
#include <algorithm>

#include "browse_lists/dialog_units.h"
#include "charset/charset.h"

namespace vellum::viewer {

namespace {

constexpr int kThumbEnd = ScrollSteps::kCount - 1;
constexpr int kThumbPage = 10;
// Rows a step of the mouse wheel scrolls.
constexpr int kWheelRows = 3;
constexpr int kWheelStep = 120;

// The index of the row with position in rows, or fallback.
int rowAt(const std::vector<ViewRow>& rows, const std::string& position, int fallback) {
    auto found = std::find_if(rows.begin(), rows.end(),
                              [&](const ViewRow& row) { return row.position == position; });
    return found == rows.end() ? fallback : static_cast<int>(found - rows.begin());
}

std::string orderText(const std::vector<SortColumnChoice>& order,
                      const std::vector<std::string>& fields) {
    std::string text;
    for (const SortColumnChoice& choice : order) {
        if (!text.empty()) text += ',';
        text += choice.descending ? '-' : '+';
        text += fields[static_cast<size_t>(choice.column)];
    }
    return text;
}

}  // namespace

BrowseList::BrowseList(BrowseDefinition definition, QWidget* parent)
    : QWidget(parent), definition_(std::move(definition)), view_(*definition_.primary) {
    for (const BrowseJoin& join : definition_.joins) {
        if (setupError_ == 0) setupError_ = view_.addJoin(*join.table, join.key, join.links);
    }
    for (const std::string& field : definition_.fields) {
        if (setupError_ == 0) setupError_ = view_.addField(field);
    }
    if (setupError_ == 0) setupError_ = view_.setOrder(definition_.key);

    model_ = new BrowseModel(
        parseListFormat(definition_.format).value_or(std::vector<ListColumn>{}), this);
    table_ = new QTableView(this);
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setTabKeyNavigation(false);
    table_->setWordWrap(false);
    table_->setCornerButtonEnabled(false);
    table_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    table_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->horizontalHeader()->setHighlightSections(false);
    applyFont();

    scrollBar_ = new QScrollBar(Qt::Vertical, this);
    scrollBar_->setRange(0, kThumbEnd);
    scrollBar_->setPageStep(kThumbPage);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(table_);
    layout->addWidget(scrollBar_);
    setFocusProxy(table_);

    header_ = new SortableHeader(table_->horizontalHeader(), this);
    locator_.bind(definition_.keyField, false);

    table_->installEventFilter(this);
    table_->viewport()->installEventFilter(this);
    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (selecting_ || !current.isValid()) return;
                updateThumb();
                loadRecords(current.row());
            });
    connect(table_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) copyCurrent();
    });
    connect(scrollBar_, &QAbstractSlider::actionTriggered, this, &BrowseList::scrollAction);
    connect(scrollBar_, &QAbstractSlider::sliderReleased, this, &BrowseList::updateThumb);
    connect(header_, &SortableHeader::orderChosen, this, &BrowseList::orderChosen);
}

// Set-up ---------------------------------------------------------------------------------------

void BrowseList::start() {
    if (setupError_ != 0) return;
    for (FileManager* file : definition_.files) {
        if (file->use() != 0) return;
    }
    started_ = true;
    pageSize_ = visibleRows();
    if (definition_.scrollSteps) resetSteps();
    showFirst();
}

void BrowseList::finish() {
    started_ = false;
    header_->setOrder({});
    appliedOrder_.clear();
    model_->setSortMarks({});
    view_.setOrder(definition_.key);
}

// Rows are as high as the font needs, with a little room around the text.
void BrowseList::applyFont() {
    table_->verticalHeader()->setMinimumSectionSize(1);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    DialogUnits units(font());
    QHeaderView* header = table_->horizontalHeader();
    const std::vector<ListColumn>& columns = model_->columns();
    for (size_t i = 0; i < columns.size(); ++i) {
        const int section = static_cast<int>(i);
        header->setSectionResizeMode(
            section, columns[i].resizable ? QHeaderView::Interactive : QHeaderView::Fixed);
        header->resizeSection(section, units.x(columns[i].width));
    }
}

void BrowseList::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        applyFont();
        fitPage();
    }
    QWidget::changeEvent(event);
}

int BrowseList::currentRow() const {
    return table_->currentIndex().isValid() ? table_->currentIndex().row() : -1;
}

size_t BrowseList::fieldIndex(const std::string& label) const {
    const std::vector<std::string>& fields = definition_.fields;
    return static_cast<size_t>(std::find(fields.begin(), fields.end(), label) - fields.begin());
}

Table* BrowseList::tableOf(const std::string& label) const {
    if (definition_.primary->fieldNumber(label) != 0) return definition_.primary;
    for (const BrowseJoin& join : definition_.joins) {
        if (join.table->fieldNumber(label) != 0) return join.table;
    }
    return nullptr;
}

size_t BrowseList::visibleRows() const {
    const int rowHeight = std::max(1, table_->verticalHeader()->defaultSectionSize());
    return static_cast<size_t>(std::max(1, table_->viewport()->height() / rowHeight));
}

void BrowseList::fitPage() {
    if (!started_ || visibleRows() == pageSize_) return;
    pageSize_ = visibleRows();
    if (rows().empty()) {
        showFirst();
    } else {
        showFrom(rows().front().position,
                 rows()[static_cast<size_t>(std::max(currentRow(), 0))].position);
    }
}

// Rows and selection ---------------------------------------------------------------------------

void BrowseList::show(std::vector<ViewRow> rows, int current) {
    selecting_ = true;
    model_->setRows(std::move(rows));
    selecting_ = false;
    if (this->rows().empty()) {
        updateThumb();
        return;
    }
    select(std::clamp(current, 0, static_cast<int>(this->rows().size()) - 1));
}

// The thumb is placed before the row's records are read again, since finding the thumb's place
// reads the rows around the page.
void BrowseList::select(int row) {
    selecting_ = true;
    const int column = std::max(table_->currentIndex().column(), 0);
    table_->selectionModel()->setCurrentIndex(
        model_->index(row, column),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    selecting_ = false;
    updateThumb();
    loadRecords(row);
}

void BrowseList::loadRecords(int row) {
    if (row >= 0 && static_cast<size_t>(row) < rows().size()) {
        view_.reget(rows()[static_cast<size_t>(row)].position);
    }
}

void BrowseList::showFirst() {
    std::vector<ViewRow> page;
    view_.firstPage(pageSize_, &page);
    show(std::move(page), 0);
}

void BrowseList::showLast() {
    std::vector<ViewRow> page;
    view_.lastPage(pageSize_, &page);
    const int last = static_cast<int>(page.size()) - 1;
    show(std::move(page), last);
}

// The page that starts at the row of topPosition, selecting the row of selectedPosition.
void BrowseList::showFrom(const std::string& topPosition, const std::string& selectedPosition) {
    std::vector<ViewRow> before;
    std::vector<ViewRow> page;
    view_.pageBefore(topPosition, 1, &before);
    if (before.empty()) {
        view_.firstPage(pageSize_, &page);
    } else {
        view_.pageAfter(before.front().position, pageSize_, &page);
    }
    const int current = rowAt(page, selectedPosition, 0);
    show(std::move(page), current);
}

void BrowseList::stepDown() {
    const int row = currentRow();
    if (row + 1 < static_cast<int>(rows().size())) {
        select(row + 1);
        return;
    }
    std::vector<ViewRow> next;
    if (rows().empty() || view_.pageAfter(rows().back().position, 1, &next) != 0 || next.empty()) {
        return;
    }
    std::vector<ViewRow> page(rows().begin() + 1, rows().end());
    page.push_back(std::move(next.front()));
    const int last = static_cast<int>(page.size()) - 1;
    show(std::move(page), last);
}

void BrowseList::stepUp() {
    const int row = currentRow();
    if (row > 0 || (row < 0 && !rows().empty())) {
        select(std::max(row - 1, 0));
        return;
    }
    std::vector<ViewRow> before;
    if (rows().empty() || view_.pageBefore(rows().front().position, 1, &before) != 0 ||
        before.empty()) {
        return;
    }
    std::vector<ViewRow> page(rows().begin(), rows().end() - 1);
    page.insert(page.begin(), std::move(before.front()));
    show(std::move(page), 0);
}

void BrowseList::pageDown() {
    if (rows().empty()) return;
    std::vector<ViewRow> page;
    view_.pageAfter(rows().back().position, pageSize_, &page);
    if (page.empty()) {
        select(static_cast<int>(rows().size()) - 1);
        return;
    }
    if (page.size() < pageSize_) {
        std::vector<ViewRow> before;
        view_.pageBefore(page.front().position, pageSize_ - page.size(), &before);
        page.insert(page.begin(), before.begin(), before.end());
    }
    show(std::move(page), currentRow());
}

void BrowseList::pageUp() {
    if (rows().empty()) return;
    std::vector<ViewRow> page;
    view_.pageBefore(rows().front().position, pageSize_, &page);
    if (page.empty()) {
        select(0);
        return;
    }
    if (page.size() < pageSize_) {
        std::vector<ViewRow> after;
        view_.pageAfter(page.back().position, pageSize_ - page.size(), &after);
        page.insert(page.end(), after.begin(), after.end());
    }
    show(std::move(page), currentRow());
}

// Moves the page by count rows (down when positive); the selected record stays selected while
// it is on the page, otherwise the row at the edge it left by is selected.
void BrowseList::scrollBy(int count) {
    if (rows().empty()) return;
    std::vector<ViewRow> page = rows();
    const std::string selected = page[static_cast<size_t>(std::max(currentRow(), 0))].position;
    const int edge = count > 0 ? 0 : static_cast<int>(page.size()) - 1;
    for (; count > 0; --count) {
        std::vector<ViewRow> next;
        if (view_.pageAfter(page.back().position, 1, &next) != 0 || next.empty()) break;
        page.erase(page.begin());
        page.push_back(std::move(next.front()));
    }
    for (; count < 0; ++count) {
        std::vector<ViewRow> before;
        if (view_.pageBefore(page.front().position, 1, &before) != 0 || before.empty()) break;
        page.pop_back();
        page.insert(page.begin(), std::move(before.front()));
    }
    const int current = rowAt(page, selected, edge);
    show(std::move(page), current);
}

// Positions the list at the first entry at or after value in the locator field, that entry
// selected at the top of the page; when no entry follows, at the last entry.
void BrowseList::locate(const std::string& value) {
    Table* table = tableOf(locator_.label());
    table->setText(table->fieldNumber(locator_.label()), value);
    std::vector<ViewRow> page;
    if (view_.locatedPage(pageSize_, &page) != 0 || page.empty()) {
        showLast();
        return;
    }
    int current = 0;
    if (page.size() < pageSize_) {
        std::vector<ViewRow> before;
        view_.pageBefore(page.front().position, pageSize_ - page.size(), &before);
        current = static_cast<int>(before.size());
        page.insert(page.begin(), before.begin(), before.end());
    }
    show(std::move(page), current);
}

// Events ---------------------------------------------------------------------------------------

bool BrowseList::eventFilter(QObject* watched, QEvent* event) {
    if (started_ && watched == table_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (keyPressed(key->key(), key->text(), key->modifiers())) return true;
    }
    if (started_ && watched == table_->viewport()) {
        if (event->type() == QEvent::Resize) {
            fitPage();
        } else if (event->type() == QEvent::Wheel) {
            const int steps = static_cast<QWheelEvent*>(event)->angleDelta().y() / kWheelStep;
            scrollBy(-steps * kWheelRows);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool BrowseList::keyPressed(int key, const QString& text, Qt::KeyboardModifiers modifiers) {
    switch (key) {
        case Qt::Key_Down:
            stepDown();
            return true;
        case Qt::Key_Up:
            stepUp();
            return true;
        case Qt::Key_PageDown:
            pageDown();
            return true;
        case Qt::Key_PageUp:
            pageUp();
            return true;
        case Qt::Key_Home:
            showFirst();
            return true;
        case Qt::Key_End:
            showLast();
            return true;
        case Qt::Key_Menu:
            copyCurrent();
            return true;
        default:
            break;
    }
    if (modifiers.testAnyFlags(Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        return false;
    }
    const std::string ansi = utf8ToAnsi(text.toStdString());
    if (ansi.size() != 1) return false;
    const auto c = static_cast<uint8_t>(ansi.front());
    if (c < 0x20 || c == 0x7F) return false;
    typed(c);
    return true;
}

void BrowseList::typed(uint8_t c) {
    if (rows().empty()) return;
    stepDown();
    const int row = currentRow();
    const ViewRow& current = rows()[static_cast<size_t>(std::max(row, 0))];
    if (locator_.matches(current.fields[fieldIndex(locator_.label())], c)) return;
    locate(locator_.value(c));
}

// Places the copied field of the current row, without trailing blanks, on the clipboard as
// plain text; an empty field leaves the clipboard empty.
void BrowseList::copyCurrent() {
    const int row = currentRow();
    if (row < 0 || view_.reget(rows()[static_cast<size_t>(row)].position) != 0) return;
    Table* table = tableOf(definition_.copyField);
    const std::string text = table->text(table->fieldNumber(definition_.copyField));
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (text.empty()) {
        clipboard->clear();
    } else {
        clipboard->setText(QString::fromStdString(ansiToUtf8(text)));
    }
}

// Header order ---------------------------------------------------------------------------------

// The order the header chose, or the key order for none. One ascending column on the key's
// field is the key order itself, read through the key. An order the view cannot take (its sort
// file cannot be made) leaves the list as it was.
void BrowseList::orderChosen() {
    const std::vector<SortColumnChoice>& order = header_->order();
    const bool keyOrder =
        order.empty() ||
        (order.size() == 1 && !order.front().descending &&
         definition_.fields[static_cast<size_t>(order.front().column)] == definition_.keyField);
    const int error = keyOrder ? view_.setOrder(definition_.key)
                               : view_.setOrderText(orderText(order, definition_.fields));
    if (error != 0) {
        header_->setOrder(appliedOrder_);
        return;
    }
    appliedOrder_ = order;
    if (order.empty()) {
        locator_.bind(definition_.keyField, false);
    } else {
        locator_.bind(definition_.fields[static_cast<size_t>(order.front().column)],
                      order.front().descending);
    }
    if (order.empty() && definition_.scrollSteps) {
        resetSteps();
    } else {
        steps_.reset();
    }
    model_->setSortMarks(header_->marks(model_->columnCount()));
    if (started_) showFirst();
}

// Scroll bar -----------------------------------------------------------------------------------

void BrowseList::resetSteps() {
    steps_.reset();
    std::vector<ViewRow> first;
    std::vector<ViewRow> last;
    if (view_.firstPage(1, &first) != 0 || first.empty() || view_.lastPage(1, &last) != 0 ||
        last.empty()) {
        return;
    }
    const size_t field = fieldIndex(definition_.keyField);
    steps_.emplace(first.front().fields[field], last.front().fields[field]);
}

int BrowseList::thumbValue() {
    if (rows().empty()) return 0;
    if (steps_) {
        const ViewRow& current = rows()[static_cast<size_t>(std::max(currentRow(), 0))];
        return steps_->stepOf(current.fields[fieldIndex(definition_.keyField)]);
    }
    std::vector<ViewRow> beyond;
    view_.pageBefore(rows().front().position, 1, &beyond);
    if (beyond.empty()) return 0;
    view_.pageAfter(rows().back().position, 1, &beyond);
    return beyond.empty() ? kThumbEnd : kThumbEnd / 2;
}

void BrowseList::updateThumb() {
    thumb_ = thumbValue();
    if (!scrollBar_->isSliderDown()) scrollBar_->setValue(thumb_);
}

// A scroll bar action moves the list; the thumb then shows where the list is, except while it
// is being dragged.
void BrowseList::scrollAction(int action) {
    if (!started_) {
        scrollBar_->setSliderPosition(thumb_);
        return;
    }
    switch (action) {
        case QAbstractSlider::SliderSingleStepAdd:
            scrollBy(1);
            break;
        case QAbstractSlider::SliderSingleStepSub:
            scrollBy(-1);
            break;
        case QAbstractSlider::SliderPageStepAdd:
            pageDown();
            break;
        case QAbstractSlider::SliderPageStepSub:
            pageUp();
            break;
        case QAbstractSlider::SliderToMinimum:
            showFirst();
            break;
        case QAbstractSlider::SliderToMaximum:
            showLast();
            break;
        case QAbstractSlider::SliderMove: {
            const int position = scrollBar_->sliderPosition();
            if (steps_) {
                locate(steps_->value(position));
            } else if (position == scrollBar_->minimum()) {
                showFirst();
            } else if (position == scrollBar_->maximum()) {
                showLast();
            }
            return;
        }
        default:
            break;
    }
    scrollBar_->setSliderPosition(thumb_);
}

}  // namespace vellum::viewer
