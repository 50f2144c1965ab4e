// What the GUI tests of the viewer share: thesaurus files written into a temporary data
// directory, a run of the program body's parts around QuickWindow (a dictionary started up, the
// window opened, then closed and the thread ended), and helpers that read and drive a list the
// way a user does.
#pragma once

#include <gtest/gtest.h>

#include <QPoint>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "app/settings_manager.h"
#include "browse_lists/browse_list.h"
#include "dictionary/dictionary.h"
#include "dictionary/recording_error_manager.h"
#include "main_window/quick_window.h"
#include "support/temp_dir.h"

namespace vellum::viewer::test {

// Texts are Windows-1252 bytes, as the records hold them.
struct Term {
    int id;
    std::string term;
    std::string status;
    std::string notes;
};
struct Keyword {
    int id;
    std::string word;
    int termId;
};
struct RelatedPair {
    int id;
    std::string term;
    std::string relatedTerm;
    std::string relationship;
};

void writeTerms(const std::string& directory, const std::vector<Term>& terms);
void writeKeywords(const std::string& directory, const std::vector<Keyword>& keywords);
void writeRelated(const std::string& directory, const std::vector<RelatedPair>& pairs);

// The labels of the lists and the tab each is on.
inline constexpr const char* kTermsList = "?BROWSE:1";
inline constexpr const char* kKeywordsList = "?LIST";
inline constexpr const char* kRelatedList = "?LIST:2";

class ViewerTest : public ::testing::Test {
  protected:
    ~ViewerTest() override;

    // One run: a fresh dictionary over the data directory, the window opened and shown.
    void openWindow();
    void openWindow(const std::string& settingsPath);
    // Closes the window and ends the run as the program does.
    void closeWindow();

    QuickWindow& window() { return *window_; }
    // The list, its tab brought to the front.
    BrowseList& list(const char* label);

    ::vellum::test::TempDir data_;
    ::vellum::test::TempDir config_;
    RecordingErrorManager errors_;
    std::unique_ptr<Dictionary> dictionary_;
    std::unique_ptr<SettingsManager> settings_;
    std::unique_ptr<QuickWindow> window_;
};

// The shown text of a cell of the page, and of one column over the page.
std::string cell(const BrowseList& list, int row, int column);
std::vector<std::string> column(const BrowseList& list, int column);
std::string header(const BrowseList& list, int column);
int currentRow(const BrowseList& list);
std::string current(const BrowseList& list, int column = 0);

// User actions.
void typeKey(BrowseList& list, int key, const QString& text = {});
void clickRow(BrowseList& list, int row);
void doubleClickRow(BrowseList& list, int row);
void clickHeader(BrowseList& list, int column, Qt::KeyboardModifiers modifiers = {});
// Selects the row whose first column shows text, walking down from the first row with the
// arrow key; false when no row does.
bool selectRow(BrowseList& list, const std::string& text);

std::string clipboardText();

}  // namespace vellum::viewer::test
