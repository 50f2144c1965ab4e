// The three lists of the main window: the step locator moving one row or jumping, the field
// each list copies on a double-click or the context-menu key, the rows each list shows in its
// key order (case variants together, a keyword without its term, every related pair, notes cut
// at 255 characters), the header sort with its marks and its end with the run, and the thumb
// of the terms list over its 100 steps.
#include <QApplication>
#include <QClipboard>
#include <QScrollBar>

#include "browse_lists/scroll_steps.h"
#include "viewer/viewer_fixture.h"

namespace vellum::viewer::test {
namespace {

// Twelve named terms around thirty "Fan nn" fillers, more than one page.
std::vector<Term> manyTerms() {
    std::vector<Term> terms;
    int id = 0;
    for (const char* text : {"Armchair", "Ashtray", "Basket", "bench", "Bowl", "Cabinet", "Candle",
                             "Cup", "Dish", "Drum", "Easel", "Zither"}) {
        terms.push_back({++id, text, "Preferred", ""});
    }
    for (int n = 1; n <= 30; ++n) {
        char text[8];
        std::snprintf(text, sizeof text, "Fan %02d", n);
        terms.push_back({++id, text, "Preferred", ""});
    }
    return terms;
}

TEST_F(ViewerTest, TypedLetterStepsOneRowOrJumpsToTheFirstEntry) {
    writeTerms(data_.path(), manyTerms());
    openWindow();
    BrowseList& terms = list(kTermsList);
    const int pageRows = terms.model().rowCount();
    ASSERT_GE(pageRows, 5);
    ASSERT_LT(pageRows, 42) << "the list holds only its page";

    struct Case {
        const char* selected;
        char typed;
        const char* expected;
    };
    const Case cases[] = {
        {"Ashtray", 'b', "Basket"},  // the next row begins with B: one row down
        {"Basket", 'B', "bench"},    // with b, whatever the case typed
        {"bench", 'b', "Bowl"},
        {"Bowl", 'b', "Basket"},  // the next row begins with C: jump to the first B
        {"Armchair", 'b', "Basket"},
        {"Fan 20", 'b', "Basket"},  // from a later page
        {"Dish", 'z', "Zither"},    // over the fillers, to a later page
        {"Zither", 'q', "Zither"},  // no row follows and none begins with Q: the next in order
        {"Easel", 'f', "Fan 01"},
        {"Fan 01", 'f', "Fan 02"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.selected) + " + " + c.typed);
        ASSERT_TRUE(selectRow(terms, c.selected));
        typeKey(terms, c.typed, QString(QChar(c.typed)));
        EXPECT_EQ(current(terms), c.expected);
        EXPECT_EQ(terms.model().rowCount(), pageRows);
    }
    // A jump shows the entry found at the top of the page.
    ASSERT_TRUE(selectRow(terms, "Fan 20"));
    typeKey(terms, 'c', QStringLiteral("c"));
    EXPECT_EQ(currentRow(terms), 0);
    EXPECT_EQ(current(terms), "Cabinet");
    EXPECT_TRUE(errors_.shown().empty());
}

TEST_F(ViewerTest, DoubleClickCopiesTheListsOwnFieldWithoutTrailingBlanks) {
    writeTerms(data_.path(), {{1, "Armchair", "Preferred", "Chair with arms."},
                              {2, "Caf\xE9 table", "Preferred", ""},
                              {3, "", "Blank", "A record without a term."},
                              {4, "Teapot", "Preferred", ""}});
    writeKeywords(data_.path(), {{1, "seat", 1}, {2, "tea", 4}, {3, "lost", 99}});
    writeRelated(data_.path(), {{1, "Teapot", "Cup", "Related term"},
                                {2, "Armchair", "Side chair", "Related term"}});
    openWindow();

    struct Case {
        const char* list;
        const char* row;  // the row's first column
        bool byMenuKey;
        const char* copied;
    };
    const Case cases[] = {
        {kTermsList, "Armchair", false, "Armchair"},
        {kTermsList, "Caf\u00e9 table", false, "Caf\u00e9 table"},
        {kTermsList, "", false, ""},  // an empty term empties the clipboard
        {kTermsList, "Teapot", true, "Teapot"},
        {kKeywordsList, "seat", false, "Armchair"},  // the term, not the keyword
        {kKeywordsList, "tea", true, "Teapot"},
        {kKeywordsList, "lost", false, ""},         // a keyword without its term
        {kRelatedList, "Teapot", false, "Teapot"},  // the Term column, not the related term
        {kRelatedList, "Armchair", true, "Armchair"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.list) + " " + c.row);
        BrowseList& shown = list(c.list);
        const std::vector<std::string> rows = column(shown, 0);
        const auto row = std::find(rows.begin(), rows.end(), c.row);
        ASSERT_NE(row, rows.end());
        QApplication::clipboard()->setText(QStringLiteral("before"));
        if (c.byMenuKey) {
            clickRow(shown, static_cast<int>(row - rows.begin()));
            typeKey(shown, Qt::Key_Menu);
        } else {
            doubleClickRow(shown, static_cast<int>(row - rows.begin()));
        }
        EXPECT_EQ(clipboardText(), c.copied);
    }
}

TEST_F(ViewerTest, ListsShowEveryRowInKeyOrder) {
    const std::string longNotes = std::string(250, 'n') + "0123456789";
    writeTerms(data_.path(), {{1, "bench", "Preferred", "Long bench."},
                              {2, "Bowl", "Preferred", longNotes},
                              {3, "BENCH", "Non-preferred", ""},
                              {4, "basket", "Preferred", ""},
                              {5, "Bench", "Preferred", ""}});
    writeKeywords(data_.path(), {{1, "vessel", 2}, {2, "lost", 99}, {3, "seat", 1}});
    writeRelated(data_.path(), {{1, "Bowl", "Dish", "Related term"},
                                {2, "Armchair", "Side chair", "Related term"},
                                {3, "Bowl", "Basin", "Related term"},
                                {4, "Cup", "Saucer", "Used with"}});
    openWindow();

    using Rows = std::vector<std::vector<std::string>>;
    struct Case {
        const char* list;
        Rows rows;  // every column of every row
    };
    const std::string cutNotes = std::string(250, 'n') + "01234";
    const Case cases[] = {
        {kTermsList,
         {{"basket", "Preferred", ""},
          {"bench", "Preferred", "Long bench."},  // case variants together, in record order
          {"BENCH", "Non-preferred", ""},
          {"Bench", "Preferred", ""},
          {"Bowl", "Preferred", cutNotes}}},
        {kKeywordsList,
         {{"lost", "", ""}, {"seat", "bench", "Long bench."}, {"vessel", "Bowl", cutNotes}}},
        {kRelatedList,
         {{"Armchair", "Side chair", "Related term"},
          {"Bowl", "Dish", "Related term"},
          {"Bowl", "Basin", "Related term"},
          {"Cup", "Saucer", "Used with"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        BrowseList& shown = list(c.list);
        Rows rows;
        for (int row = 0; row < shown.model().rowCount(); ++row) {
            rows.push_back({cell(shown, row, 0), cell(shown, row, 1), cell(shown, row, 2)});
        }
        EXPECT_EQ(rows, c.rows);
    }
    EXPECT_EQ(header(list(kRelatedList), 1), "Related Term");
}

TEST_F(ViewerTest, HeaderClickSortsAndTheNextRunStartsInKeyOrder) {
    writeTerms(data_.path(), {{1, "Cup", "Preferred", ""},
                              {2, "Armchair", "Non-preferred", ""},
                              {3, "Bowl", "Preferred", ""},
                              {4, "Basin", "Non-preferred", ""},
                              {5, "Dish", "Candidate", ""}});
    openWindow();

    struct Case {
        int column;
        Qt::KeyboardModifiers modifiers;
        std::vector<std::string> headers;
        std::vector<std::string> terms;
    };
    const Case cases[] = {
        // Rows of one status keep the key order among them.
        {1, {}, {"Term", "Status \u25B2", "Notes"}, {"Dish", "Armchair", "Basin", "Bowl", "Cup"}},
        {1, {}, {"Term", "Status \u25BC", "Notes"}, {"Bowl", "Cup", "Armchair", "Basin", "Dish"}},
        {0,
         Qt::ShiftModifier,
         {"Term \u25B2", "Status \u25BC", "Notes"},
         {"Bowl", "Cup", "Armchair", "Basin", "Dish"}},
        {1,
         Qt::ControlModifier,  // Status taken out: Term alone, the key order
         {"Term \u25B2", "Status", "Notes"},
         {"Armchair", "Basin", "Bowl", "Cup", "Dish"}},
        {0, {}, {"Term \u25BC", "Status", "Notes"}, {"Dish", "Cup", "Bowl", "Basin", "Armchair"}},
    };
    BrowseList& terms = list(kTermsList);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.headers[0] + " " + c.headers[1]);
        clickHeader(terms, c.column, c.modifiers);
        EXPECT_EQ((std::vector<std::string>{header(terms, 0), header(terms, 1), header(terms, 2)}),
                  c.headers);
        EXPECT_EQ(column(terms, 0), c.terms);
        EXPECT_EQ(currentRow(terms), 0);
    }
    // Descending by Term, the locator stops at the last entry beginning with the letter.
    typeKey(terms, 'b', QStringLiteral("b"));
    EXPECT_EQ(current(terms), "Bowl");
    typeKey(terms, 'b', QStringLiteral("b"));
    EXPECT_EQ(current(terms), "Basin");
    typeKey(terms, 'a', QStringLiteral("a"));
    EXPECT_EQ(current(terms), "Armchair");

    closeWindow();
    openWindow();
    BrowseList& again = list(kTermsList);
    EXPECT_EQ(column(again, 0),
              (std::vector<std::string>{"Armchair", "Basin", "Bowl", "Cup", "Dish"}));
    EXPECT_EQ(header(again, 0), "Term");
    EXPECT_TRUE(errors_.shown().empty());
}

TEST_F(ViewerTest, TermsThumbStandsForOneHundredStepsBetweenFirstAndLastTerm) {
    const std::vector<Term> terms = manyTerms();
    writeTerms(data_.path(), terms);
    openWindow();
    BrowseList& list = this->list(kTermsList);
    QScrollBar* thumb = list.scrollBar();
    const ScrollSteps steps("Armchair", "Zither");
    EXPECT_EQ(steps.value(0), "ARMC");
    EXPECT_EQ(steps.value(ScrollSteps::kCount - 1), "ZITH");

    struct Case {
        int step;
        const char* term;  // the first term at or after the step's value
    };
    const Case cases[] = {
        {0, "Armchair"}, {3, "Bowl"}, {10, "Dish"}, {50, "Zither"}, {99, "Zither"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        thumb->setSliderDown(true);
        thumb->setSliderPosition(c.step == 0 ? 1 : 0);
        thumb->setSliderPosition(c.step);
        thumb->setSliderDown(false);
        EXPECT_EQ(current(list), c.term);
        EXPECT_EQ(thumb->value(), steps.stepOf(c.term));
    }
    typeKey(list, 'd', QStringLiteral("d"));
    EXPECT_EQ(current(list), "Dish");
    EXPECT_EQ(thumb->value(), steps.stepOf("Dish"));
}

}  // namespace
}  // namespace vellum::viewer::test
