// QuickWindow, the viewer's one window: a heading, two lines of instructions, the three lists on
// the tabs "QLM Terms", "QLM Keywords" and "QLM Related Terms", credit lines and a Close button,
// laid out in dialog units of the window font at a fixed size of 420 by 269. Each control
// carries its label from the window definition as its object name ("?BROWSE:1", "?LIST",
// "?LIST:2", "?CURRENTTAB", "?CLOSE", "?HELP", "?STRING1" to "?STRING8").
//
// Opening names the running procedure "Main" for the error manager, opens the relation managers
// of the keywords (with their terms) and of the related terms, restores the window's place from
// the settings file's section "Main", shows the window and fills the lists, each of which opens
// its files on its first read. Closing closes the relation managers, ends the lists' header
// orders, stores the window's place and gives the error manager back its procedure name.
#pragma once

#include <QWidget>
#include <array>
#include <string>

#include "app/settings_manager.h"
#include "browse_lists/browse_list.h"
#include "dictionary/dictionary.h"

class QLabel;
class QTabWidget;

namespace vellum::viewer {

inline constexpr const char* kMainProcedure = "Main";

class QuickWindow : public QWidget {
    Q_OBJECT

  public:
    QuickWindow(Dictionary& dictionary, SettingsManager& settings);

    // Between the dictionary's start-up and shutdown.
    void open();

  signals:
    // The window has closed and stored its place.
    void closed();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QLabel* addText(const char* label, const QString& text, int x, int y, bool bold);
    BrowseList* addList(const char* tabLabel, const QString& tabText, const char* label,
                        BrowseDefinition definition, const QString& statusText);
    void placeLists();
    WindowPlace place() const;
    void restorePlace();

    Dictionary& dictionary_;
    SettingsManager& settings_;
    std::string previousProcedure_;
    QTabWidget* tabs_;
    std::array<BrowseList*, 3> lists_{};
    bool tablesOpened_ = false;
    bool windowOpened_ = false;
};

}  // namespace vellum::viewer
