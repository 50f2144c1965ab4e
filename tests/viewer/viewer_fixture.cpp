// Writing thesaurus files, runs of the window, and user actions on the lists.
#include "viewer/viewer_fixture.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include "app/program_body.h"
#include "dictionary/thesaurus_tables.h"
#include "filelayer/table.h"

namespace vellum::viewer::test {

namespace {

// Adds the records that fill writes into the record buffer, one per item, to a new table.
template <typename Item, typename Fill>
void writeTable(const TableDeclaration& declaration, const std::vector<Item>& items, Fill fill) {
    Table table(declaration);
    ASSERT_EQ(table.create(), 0);
    ASSERT_EQ(table.open(0x42), 0);
    for (const Item& item : items) {
        table.clear();
        fill(table, item);
        ASSERT_EQ(table.add(), 0);
    }
    ASSERT_EQ(table.close(), 0);
}

}  // namespace

void writeTerms(const std::string& directory, const std::vector<Term>& terms) {
    writeTable(thesaurus::thesDeclaration(directory), terms, [](Table& table, const Term& term) {
        table.setDecimal(table.fieldNumber("QLM:TermID"), term.id);
        table.setText(table.fieldNumber("QLM:Term"), term.term);
        table.setText(table.fieldNumber("QLM:Status"), term.status);
        table.setText(table.fieldNumber("QLM:Notes"), term.notes);
    });
}

void writeKeywords(const std::string& directory, const std::vector<Keyword>& keywords) {
    writeTable(thesaurus::keywordDeclaration(directory), keywords,
               [](Table& table, const Keyword& keyword) {
                   table.setLong(table.fieldNumber("QLK:KeywordID"), keyword.id);
                   table.setText(table.fieldNumber("QLK:Word"), keyword.word);
                   table.setDecimal(table.fieldNumber("QLK:TermID"), keyword.termId);
               });
}

void writeRelated(const std::string& directory, const std::vector<RelatedPair>& pairs) {
    writeTable(thesaurus::relatedDeclaration(directory), pairs,
               [](Table& table, const RelatedPair& pair) {
                   table.setLong(table.fieldNumber("QLR:RelatedID"), pair.id);
                   table.setText(table.fieldNumber("QLR:Term"), pair.term);
                   table.setText(table.fieldNumber("QLR:RelatedTerm"), pair.relatedTerm);
                   table.setText(table.fieldNumber("QLR:Relationship"), pair.relationship);
               });
}

// Runs ---------------------------------------------------------------------------------------

ViewerTest::~ViewerTest() {
    if (window_) closeWindow();
}

void ViewerTest::openWindow() {
    openWindow(config_.file(kSettingsFileName));
}

void ViewerTest::openWindow(const std::string& settingsPath) {
    dictionary_ = std::make_unique<Dictionary>(data_.path(), errors_);
    dictionary_->startUp();
    settings_ = std::make_unique<SettingsManager>(settingsPath);
    settings_->init();
    window_ = std::make_unique<QuickWindow>(*dictionary_, *settings_);
    window_->open();
    if (!window_->isMinimized()) {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }
}

void ViewerTest::closeWindow() {
    window_->close();
    window_.reset();
    settings_->kill();
    endThread(*dictionary_);
    dictionary_.reset();
}

BrowseList& ViewerTest::list(const char* label) {
    auto* found = window_->findChild<BrowseList*>(label);
    auto* tabs = window_->findChild<QTabWidget*>("?CURRENTTAB");
    tabs->setCurrentWidget(found->parentWidget());
    QApplication::processEvents();
    return *found;
}

// Reading a list ------------------------------------------------------------------------------

std::string cell(const BrowseList& list, int row, int column) {
    const BrowseModel& model = list.model();
    return model.data(model.index(row, column), Qt::DisplayRole).toString().toStdString();
}

std::vector<std::string> column(const BrowseList& list, int column) {
    std::vector<std::string> texts;
    for (int row = 0; row < list.model().rowCount(); ++row)
        texts.push_back(cell(list, row, column));
    return texts;
}

std::string header(const BrowseList& list, int column) {
    return list.model()
        .headerData(column, Qt::Horizontal, Qt::DisplayRole)
        .toString()
        .toStdString();
}

int currentRow(const BrowseList& list) {
    return list.table()->currentIndex().isValid() ? list.table()->currentIndex().row() : -1;
}

std::string current(const BrowseList& list, int column) {
    const int row = currentRow(list);
    return row < 0 ? std::string("(none)") : cell(list, row, column);
}

// User actions ---------------------------------------------------------------------------------

void typeKey(BrowseList& list, int key, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(list.table(), &press);
}

void clickRow(BrowseList& list, int row) {
    QTableView* table = list.table();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      table->visualRect(list.model().index(row, 0)).center());
}

void doubleClickRow(BrowseList& list, int row) {
    QTableView* table = list.table();
    const QPoint at = table->visualRect(list.model().index(row, 0)).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, at);
}

void clickHeader(BrowseList& list, int column, Qt::KeyboardModifiers modifiers) {
    QHeaderView* header = list.table()->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + 4, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, modifiers, at);
}

bool selectRow(BrowseList& list, const std::string& text) {
    typeKey(list, Qt::Key_Home);
    for (int moves = 0; moves < 1000; ++moves) {
        if (current(list) == text) return true;
        const std::string before = current(list);
        const int row = currentRow(list);
        typeKey(list, Qt::Key_Down);
        if (current(list) == before && currentRow(list) == row) return false;
    }
    return false;
}

std::string clipboardText() {
    return QApplication::clipboard()->text().toStdString();
}

}  // namespace vellum::viewer::test
