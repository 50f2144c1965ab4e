// The main window's controls, its opening and its closing.
#include "main_window/quick_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>

#include "browse_lists/dialog_units.h"
#include "browse_lists/thesaurus_lists.h"

namespace vellum::viewer {

namespace {

// The window definition's font: the system's sans-serif stands for the original font.
QFont windowFont() {
    QFont font(QStringLiteral("Sans Serif"), 8, QFont::Normal);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

constexpr Qt::WindowFlags kFrame = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                   Qt::WindowCloseButtonHint;

// Where each list lies in the window, in dialog units.
constexpr int kListX = 8;
constexpr int kListY = 41;
constexpr int kListWidth = 402;
constexpr int kListHeight = 167;

}  // namespace

QuickWindow::QuickWindow(Dictionary& dictionary, SettingsManager& settings)
    : QWidget(nullptr, kFrame), dictionary_(dictionary), settings_(settings) {
    setFont(windowFont());
    const DialogUnits units(font());
    setWindowTitle(QStringLiteral("Vellum project - example.org"));
    setFixedSize(units.size(420, 269));

    addText("?STRING1", QStringLiteral("Thesaurus provided by the Museum of Everyday Things"), 9,
            233, true);
    addText("?STRING2", QStringLiteral("(www.example.org) with thanks to the cataloguing team"), 9,
            245, true);
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("?CURRENTTAB"));
    tabs_->setGeometry(units.rect(4, 21, 411, 193));
    lists_[0] = addList("?TAB:2", QStringLiteral("QLM Terms"), "?BROWSE:1", termsList(dictionary_),
                        QStringLiteral("Browsing the QLMThes file"));
    lists_[1] = addList("?TAB2", QStringLiteral("QLM Keywords"), "?LIST", keywordsList(dictionary_),
                        QStringLiteral("Browsing Records"));
    lists_[2] = addList("?TAB3", QStringLiteral("QLM Related Terms"), "?LIST:2",
                        relatedTermsList(dictionary_), QStringLiteral("Browsing Records"));
    // The pages lie where the tab sheet's style puts them; the lists keep their window places.
    tabs_->widget(0)->parentWidget()->installEventFilter(this);
    addText("?STRING4",
            QStringLiteral("Click on the Header to sort by column. Jump to an entry by typing a "
                           "fragment. Double-click"),
            133, 1, false);
    addText("?STRING6", QStringLiteral("Everyday Things Pick List"), 5, 1, true);
    addText("?STRING5",
            QStringLiteral("on the wanted entry, then place the cursor on the entry field in the "
                           "form and paste (Ctrl-v)"),
            133, 12, false);

    auto* close = new QPushButton(QStringLiteral("&Close"), this);
    close->setObjectName(QStringLiteral("?CLOSE"));
    close->setGeometry(units.rect(365, 251, 49, 14));
    close->setToolTip(QStringLiteral("Close Window"));
    close->setStatusTip(QStringLiteral("Close Window"));
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    // The program names no help file, so the Help button is never shown.
    auto* help = new QPushButton(QStringLiteral("&Help"), this);
    help->setObjectName(QStringLiteral("?HELP"));
    help->setGeometry(units.rect(328, 251, 11, 14));
    help->setToolTip(QStringLiteral("See Help Window"));
    help->setStatusTip(QStringLiteral("See Help Window"));
    help->setEnabled(false);
    help->hide();

    QLabel* notice =
        addText("?STRING7", QStringLiteral("QLMviewer by the Vellum project, 2026"), 9, 218, false);
    notice->setGeometry(units.rect(9, 218, 149, 10));
    QLabel* invitation =
        addText("?STRING8", QStringLiteral("Visit example.org for free museum collection software"),
                218, 218, false);
    invitation->setGeometry(units.rect(218, 218, 202, 10));
    addText("?STRING3",
            QStringLiteral("Thanks to the collections office for making this program possible"), 9,
            257, true);
}

// A text at its place, in the size its text needs.
QLabel* QuickWindow::addText(const char* label, const QString& text, int x, int y, bool bold) {
    auto* control = new QLabel(text, this);
    control->setObjectName(QString::fromLatin1(label));
    if (bold) {
        QFont boldFont = font();
        boldFont.setBold(true);
        control->setFont(boldFont);
    }
    control->move(DialogUnits(font()).point(x, y));
    control->adjustSize();
    return control;
}

BrowseList* QuickWindow::addList(const char* tabLabel, const QString& tabText, const char* label,
                                 BrowseDefinition definition, const QString& statusText) {
    auto* page = new QWidget(tabs_);
    page->setObjectName(QString::fromLatin1(tabLabel));
    tabs_->addTab(page, tabText);
    auto* list = new BrowseList(std::move(definition), page);
    list->setObjectName(QString::fromLatin1(label));
    list->setStatusTip(statusText);
    return list;
}

void QuickWindow::placeLists() {
    const DialogUnits units(font());
    for (BrowseList* list : lists_) {
        QWidget* page = list->parentWidget();
        list->setGeometry(QRect(page->mapFrom(this, units.point(kListX, kListY)),
                                units.size(kListWidth, kListHeight)));
    }
}

bool QuickWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Move || event->type() == QEvent::Resize) placeLists();
    return QWidget::eventFilter(watched, event);
}

// Opening and closing ---------------------------------------------------------------------------

void QuickWindow::open() {
    ErrorManager& errors = dictionary_.errors();
    previousProcedure_ = errors.procedureName();
    errors.setProcedureName(kMainProcedure);
    dictionary_.openRelations(ThesaurusTable::keyword, true);
    dictionary_.openRelations(ThesaurusTable::related, false);
    tablesOpened_ = true;
    placeLists();
    restorePlace();
    show();
    windowOpened_ = true;
    for (BrowseList* list : lists_) list->start();
}

void QuickWindow::closeEvent(QCloseEvent* event) {
    if (tablesOpened_) {
        dictionary_.relationManager(ThesaurusTable::keyword).close();
        dictionary_.relationManager(ThesaurusTable::related).close();
        for (BrowseList* list : lists_) list->finish();
        tablesOpened_ = false;
    }
    if (windowOpened_) {
        settings_.storeWindowPlace(kMainProcedure, place());
        windowOpened_ = false;
        dictionary_.errors().setProcedureName(previousProcedure_);
    }
    event->accept();
    emit closed();
}

WindowPlace QuickWindow::place() const {
    return {.maximized = isMaximized(),
            .minimized = isMinimized(),
            .x = pos().x(),
            .y = pos().y(),
            .width = width(),
            .height = height(),
            .resizable = false};
}

// The stored place is taken before the window is first shown, so that it appears there.
void QuickWindow::restorePlace() {
    for (const WindowStep& step : settings_.restoreWindowPlace(kMainProcedure, place())) {
        switch (step.kind) {
            case WindowStep::unmaximize:
                setWindowState(windowState() & ~Qt::WindowMaximized);
                break;
            case WindowStep::move:
                move(step.first, step.second);
                break;
            case WindowStep::resize:  // not given for a window of fixed size
                break;
            case WindowStep::maximize:
                setWindowState(windowState() | Qt::WindowMaximized);
                break;
            case WindowStep::minimize:
                setWindowState(windowState() | Qt::WindowMinimized);
                break;
        }
    }
}

}  // namespace vellum::viewer
