// A browse list: a list control over a view that holds only the rows of the visible page. It
// reads the page after or before as the selection or the scroll bar moves, jumps by its step
// locator when a character is typed, re-sorts by its sortable header, and copies one field of
// the current row to the clipboard on a double-click or the context-menu key. The selected row's
// records are read again into the tables' record buffers, so the buffers hold the current row.
//
// The vertical scroll bar is the list's own: with scroll steps (the terms list in its key order)
// the thumb stands for the 100 steps between the first and the last entry and dragging it
// positions the list at the step's value; otherwise the thumb is at the top on the first page,
// at the bottom on the last and in the middle in between, and dragging it to either end shows
// the first or the last page.
#pragma once

#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "browse_lists/browse_model.h"
#include "browse_lists/scroll_steps.h"
#include "browse_lists/sortable_header.h"
#include "browse_lists/step_locator.h"
#include "dictionary/file_manager.h"
#include "view/view.h"

class QScrollBar;
class QTableView;

namespace vellum::viewer {

// An outer join of a list's view.
struct BrowseJoin {
    Table* table = nullptr;
    KeyControlBlock* key = nullptr;
    std::vector<ViewLink> links;
};

// What a list reads and how it shows it.
struct BrowseDefinition {
    Table* primary = nullptr;
    std::vector<BrowseJoin> joins;
    // The managers of the tables the list reads; each file opens on the list's first read.
    std::vector<FileManager*> files;
    // The projected fields by label; the columns show the first ones in order.
    std::vector<std::string> fields;
    KeyControlBlock* key = nullptr;  // the list's one sort order
    std::string keyField;            // the key's field, where the locator looks in the key order
    std::string copyField;           // the field copied to the clipboard
    std::string format;              // the list control's format string
    bool scrollSteps = false;        // text steps over the key order
};

class BrowseList : public QWidget {
    Q_OBJECT

  public:
    BrowseList(BrowseDefinition definition, QWidget* parent);

    QTableView* table() const { return table_; }
    QScrollBar* scrollBar() const { return scrollBar_; }
    const BrowseModel& model() const { return *model_; }

    // Opens the files (a failure is reported by their managers and leaves the list empty) and
    // shows the first page in key order.
    void start();
    // Ends the header order and the reading. It reads nothing, so the tables may be closed.
    void finish();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    const std::vector<ViewRow>& rows() const { return model_->rows(); }
    int currentRow() const;
    size_t fieldIndex(const std::string& label) const;
    Table* tableOf(const std::string& label) const;
    size_t visibleRows() const;
    // Column widths and row height from the font.
    void applyFont();
    // Reads the page again from its top row when the rows that fit have changed.
    void fitPage();

    // Showing rows and moving the selection.
    void show(std::vector<ViewRow> rows, int current);
    void select(int row);
    void loadRecords(int row);
    void showFirst();
    void showLast();
    void showFrom(const std::string& topPosition, const std::string& selectedPosition);
    void stepDown();
    void stepUp();
    void pageDown();
    void pageUp();
    void scrollBy(int count);
    void locate(const std::string& value);

    bool keyPressed(int key, const QString& text, Qt::KeyboardModifiers modifiers);
    void typed(uint8_t c);
    void copyCurrent();
    void orderChosen();
    void resetSteps();
    bool stepsActive() const;
    int thumbValue();
    void updateThumb();
    void scrollAction(int action);

    BrowseDefinition definition_;
    View view_;
    int setupError_ = 0;
    BrowseModel* model_ = nullptr;
    QTableView* table_ = nullptr;
    QScrollBar* scrollBar_ = nullptr;
    SortableHeader* header_ = nullptr;
    std::vector<SortColumnChoice> appliedOrder_;
    StepLocator locator_;
    std::optional<ScrollSteps> steps_;
    size_t pageSize_ = 1;
    int thumb_ = 0;
    bool started_ = false;
    bool selecting_ = false;  // while the list itself moves the selection
};

}  // namespace vellum::viewer
