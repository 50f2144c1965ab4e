// The view engine over small tables: paging both ways across page boundaries in key and header
// orders, located pages in a NOCASE DUP key and in header orders, the outer join over the
// thesaurus declarations with a second view over the alias declaration, header orders that
// come and go with their sort files, and rows read again from their positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dictionary/thesaurus_tables.h"
#include "filelayer/table.h"
#include "support/temp_dir.h"
#include "vellum/error_codes.h"
#include "view/view.h"

namespace vellum {
namespace {

// Items: LONG Id (unique KEY), STRING(10) Name (DUP NOCASE KEY), STRING(8) Status.
TableDeclaration items(const std::string& file) {
    TableDeclaration declaration("Item");
    declaration.name(file)
        .attributes(kAttributeCreate)
        .longField("I:Id")
        .string("I:Name", 10)
        .string("I:Status", 8)
        .key("I:IdKey", 0, {1})
        .key("I:NameKey", kKeyDup | kKeyNoCase, {2});
    return declaration;
}

enum ItemField : uint32_t { kId = 1, kName, kStatus };

struct Item {
    int32_t id;
    std::string name;
    std::string status;
};

std::string trimmed(const std::string& bytes) {
    size_t end = bytes.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : bytes.substr(0, end + 1);
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The first field of each row, trailing blanks cut.
std::vector<std::string> firstFields(const std::vector<ViewRow>& rows) {
    std::vector<std::string> names;
    for (const ViewRow& row : rows) names.push_back(trimmed(row.fields.at(0)));
    return names;
}

// Every row, page by page from the start.
std::vector<ViewRow> readForward(View& view, size_t pageSize) {
    std::vector<ViewRow> all;
    std::vector<ViewRow> page;
    EXPECT_EQ(view.firstPage(pageSize, &page), 0);
    while (!page.empty()) {
        EXPECT_LE(page.size(), pageSize);
        all.insert(all.end(), page.begin(), page.end());
        std::string last = page.back().position;
        EXPECT_EQ(view.pageAfter(last, pageSize, &page), 0);
    }
    return all;
}

// Every row, page by page from the end.
std::vector<ViewRow> readBackward(View& view, size_t pageSize) {
    std::vector<ViewRow> all;
    std::vector<ViewRow> page;
    EXPECT_EQ(view.lastPage(pageSize, &page), 0);
    while (!page.empty()) {
        EXPECT_LE(page.size(), pageSize);
        all.insert(all.begin(), page.begin(), page.end());
        std::string first = page.front().position;
        EXPECT_EQ(view.pageBefore(first, pageSize, &page), 0);
    }
    return all;
}

// Sets TMPDIR for the life of the object, so that a test sees the sort files a view makes.
class TemporaryDirectoryOverride {
public:
    explicit TemporaryDirectoryOverride(const std::string& path) {
        if (const char* old = std::getenv("TMPDIR")) old_ = old;
        setenv("TMPDIR", path.c_str(), 1);
    }
    ~TemporaryDirectoryOverride() {
        if (old_) {
            setenv("TMPDIR", old_->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }

private:
    std::optional<std::string> old_;
};

class ViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        table_ = std::make_unique<Table>(items(dir_.file("items.vlm")));
        ASSERT_EQ(table_->create(), 0);
        ASSERT_EQ(table_->open(0x42), 0);
    }

    void add(const std::vector<Item>& rows) {
        for (const Item& item : rows) {
            table_->clear();
            table_->setLong(kId, item.id);
            table_->setText(kName, item.name);
            table_->setText(kStatus, item.status);
            ASSERT_EQ(table_->add(), 0) << item.name;
        }
    }

    // A view of Name and Status in the name key's order.
    std::unique_ptr<View> nameView() {
        auto view = std::make_unique<View>(*table_);
        EXPECT_EQ(view->addField("I:Name"), 0);
        EXPECT_EQ(view->addField("i:status"), 0);
        EXPECT_EQ(view->setOrder(table_->key("I:NameKey")), 0);
        return view;
    }

    test::TempDir dir_;
    std::unique_ptr<Table> table_;
};

// Paging ---------------------------------------------------------------------------------------

TEST_F(ViewTest, PagingBothWaysReturnsEveryRowOnceInOrder) {
    // 23 items added out of name order; statuses tie without regard to case.
    const char* statuses[] = {"Open", "closed", "New", "open"};
    std::vector<Item> rows;
    for (int32_t i = 0; i < 23; ++i) {
        int32_t n = (i * 7) % 23;
        rows.push_back({100 - n, "N" + std::to_string(10 + n), statuses[i % 4]});
    }
    add(rows);
    std::vector<Item> byName = rows;
    std::sort(byName.begin(), byName.end(),
              [](const Item& a, const Item& b) { return a.name < b.name; });

    using Less = bool (*)(const Item&, const Item&);
    struct Case {
        const char* order;
        Less less;  // ties keep the name order
    };
    const Case cases[] = {
        {"", [](const Item&, const Item&) { return false; }},
        {"+I:Status",
         [](const Item& a, const Item& b) { return lower(a.status) < lower(b.status); }},
        {" -I:Status ",
         [](const Item& a, const Item& b) { return lower(a.status) > lower(b.status); }},
        {"-I:Status,+I:Id",
         [](const Item& a, const Item& b) {
             if (lower(a.status) != lower(b.status)) return lower(a.status) > lower(b.status);
             return a.id < b.id;
         }},
    };
    auto view = nameView();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.order);
        ASSERT_EQ(view->setOrderText(c.order), 0);
        std::vector<Item> expectedItems = byName;
        std::stable_sort(expectedItems.begin(), expectedItems.end(), c.less);
        std::vector<std::string> expected;
        for (const Item& item : expectedItems) expected.push_back(item.name);
        for (size_t pageSize : {1u, 5u, 23u, 40u}) {
            SCOPED_TRACE(pageSize);
            std::vector<ViewRow> forward = readForward(*view, pageSize);
            EXPECT_EQ(firstFields(forward), expected);
            EXPECT_EQ(firstFields(readBackward(*view, pageSize)), expected);
            // Each row's position reads its record again.
            for (const ViewRow& row : forward) {
                table_->clear();
                ASSERT_EQ(view->reget(row.position), 0);
                EXPECT_EQ(table_->text(kName), trimmed(row.fields[0]));
                EXPECT_LE(row.position.size(), 1024u);
            }
        }
    }
}

TEST_F(ViewTest, LocatedPagesStartAtTheFirstRowAtOrAfterTheValue) {
    add({{1, "apple", "open"},
         {2, "b", "New"},
         {3, "Banana", "closed"},
         {4, "B", "new"},
         {5, "bar", "Open"},
         {6, "Bz", "new"},
         {7, "cherry", "closed"}});
    struct Case {
        const char* order;
        uint32_t locator;  // the field the value goes into
        const char* value;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        // Key order apple, b, B, Banana, bar, Bz, cherry: equal names in record-number order.
        {"", kName, "B", {"b", "B", "Banana"}},
        {"", kName, "b", {"b", "B", "Banana"}},
        {"", kName, "BAR", {"bar", "Bz", "cherry"}},
        {"", kName, "Bb", {"Bz", "cherry"}},
        {"", kName, "", {"apple", "b", "B"}},
        {"", kName, "Z", {}},
        // cherry, Banana | Bz, b, B | bar, apple: the first "new" row is not the first added.
        {"+I:Status,-I:Name", kStatus, "NEW", {"Bz", "b", "B"}},
        {"+I:Status,-I:Name", kStatus, "o", {"bar", "apple"}},
        {"+I:Status,-I:Name", kStatus, "a", {"cherry", "Banana", "Bz"}},
        {"+I:Status,-I:Name", kStatus, "p", {}},
        // apple, bar | b, B, Bz | Banana, cherry: "at or after" runs downwards.
        {"-I:Status,+I:Name", kStatus, "New", {"b", "B", "Bz"}},
        {"-I:Status,+I:Name", kStatus, "z", {"apple", "bar", "b"}},
        {"-I:Status,+I:Name", kStatus, "a", {}},
        {"-I:Status", kStatus, "NEW", {"b", "B", "Bz"}},
    };
    auto view = nameView();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.order) + " at " + c.value);
        ASSERT_EQ(view->setOrderText(c.order), 0);
        table_->clear();
        table_->setText(c.locator, c.value);
        std::vector<ViewRow> page;
        ASSERT_EQ(view->locatedPage(3, &page), 0);
        EXPECT_EQ(firstFields(page), c.expected);
    }
}

// Joins and a second view ----------------------------------------------------------------------

TEST(ViewThesaurusTest, OuterJoinGivesBlankTermsAndEachViewKeepsItsOwnRecord) {
    test::TempDir dir;
    Table thes(thesaurus::thesDeclaration(dir.path()));
    Table keywords(thesaurus::keywordDeclaration(dir.path()));
    for (Table* table : {&thes, &keywords}) {
        ASSERT_EQ(table->create(), 0);
        ASSERT_EQ(table->open(0x42), 0);
    }
    const uint32_t termId = thes.fieldNumber("QLM:TermID");
    const uint32_t term = thes.fieldNumber("QLM:Term");
    for (auto [id, text] : {std::pair{1, "Axe"}, {2, "Bowl"}, {3, "Cup"}}) {
        thes.clear();
        thes.setDecimal(termId, id);
        thes.setText(term, text);
        ASSERT_EQ(thes.add(), 0);
    }
    const uint32_t word = keywords.fieldNumber("QLK:Word");
    int32_t keywordId = 0;
    for (auto [text, id] : {std::pair{"blade", 1}, {"lost", 99}, {"vessel", 2}, {"mug", 3}}) {
        keywords.clear();
        keywords.setLong(keywords.fieldNumber("QLK:KeywordID"), ++keywordId);
        keywords.setText(word, text);
        keywords.setDecimal(keywords.fieldNumber("QLK:TermID"), id);
        ASSERT_EQ(keywords.add(), 0);
    }
    Table alias(thesaurus::thesAliasDeclaration(dir.path()));
    ASSERT_EQ(alias.open(0x42), 0);
    const uint32_t aliasTerm = alias.fieldNumber("QLA:Term");

    View keywordView(keywords);
    ASSERT_EQ(
        keywordView.addJoin(alias, alias.key("QLA:KeyTermID"), {{"QLK:TermID", "QLA:TermID"}}), 0);
    for (const char* label : {"QLK:Word", "QLA:Term", "QLA:Notes", "QLA:TermID"}) {
        ASSERT_EQ(keywordView.addField(label), 0) << label;
    }
    ASSERT_EQ(keywordView.setOrder(keywords.key("QLK:KeyWord")), 0);
    View termView(thes);
    ASSERT_EQ(termView.addField("QLM:Term"), 0);
    ASSERT_EQ(termView.setOrder(thes.key("QLM:KeyTerm")), 0);

    std::vector<ViewRow> terms;
    ASSERT_EQ(termView.firstPage(10, &terms), 0);
    ASSERT_EQ(firstFields(terms), (std::vector<std::string>{"Axe", "Bowl", "Cup"}));
    ASSERT_EQ(termView.reget(terms[1].position), 0);

    struct Case {
        const char* order;
        std::vector<std::string> words;
        std::vector<std::string> terms;
    };
    const Case cases[] = {
        {"", {"blade", "lost", "mug", "vessel"}, {"Axe", "", "Cup", "Bowl"}},
        {"+QLA:Term", {"lost", "blade", "vessel", "mug"}, {"", "Axe", "Bowl", "Cup"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.order);
        ASSERT_EQ(keywordView.setOrderText(c.order), 0);
        std::vector<ViewRow> rows = readForward(keywordView, 3);
        ASSERT_EQ(firstFields(rows), c.words);
        for (size_t i = 0; i < rows.size(); ++i) {
            const ViewRow& row = rows[i];
            EXPECT_EQ(trimmed(row.fields[1]), c.terms[i]);
            // Reading the row's records again fills both buffers, a blank term included.
            alias.setText(aliasTerm, "stale");
            keywords.setText(word, "stale");
            ASSERT_EQ(keywordView.reget(row.position), 0);
            EXPECT_EQ(keywords.text(word), c.words[i]);
            EXPECT_EQ(alias.text(aliasTerm), c.terms[i]);
        }
        const ViewRow& lost = rows[c.order[0] == '\0' ? 1 : 0];
        EXPECT_EQ(lost.fields[1], std::string(50, ' '));
        EXPECT_EQ(lost.fields[2], std::string(1000, ' '));
        EXPECT_EQ(lost.fields[3], std::string(3, '\0'));
    }
    // The terms view's record is still the one it read, and reading it moves no alias record.
    EXPECT_EQ(thes.text(term), "Bowl");
    ASSERT_EQ(termView.reget(terms[2].position), 0);
    EXPECT_EQ(thes.text(term), "Cup");
    EXPECT_EQ(alias.text(aliasTerm), "Cup");
    EXPECT_EQ(keywordView.reget("not a position"), kRecordNotFound);
}

// Header orders --------------------------------------------------------------------------------

TEST_F(ViewTest, HeaderOrdersComeAndGoWithTheirSortFiles) {
    test::TempDir sortDir;
    TemporaryDirectoryOverride tmp(sortDir.path());
    auto sortFiles = [&] {
        auto entries = std::filesystem::directory_iterator(sortDir.path());
        return std::distance(std::filesystem::begin(entries), std::filesystem::end(entries));
    };
    auto view = nameView();
    bool empty = false;
    ASSERT_EQ(view->isEmpty(&empty), 0);
    EXPECT_TRUE(empty);
    ASSERT_EQ(view->setOrderText("+I:Status"), 0);
    EXPECT_TRUE(readForward(*view, 3).empty());
    ASSERT_EQ(view->setOrderText(""), 0);

    add({{1, "d", "b"}, {2, "a", "c"}, {3, "c", "a"}, {4, "b", "d"}});
    ASSERT_EQ(view->isEmpty(&empty), 0);
    EXPECT_FALSE(empty);

    struct Case {
        const char* order;
        int error;
        std::vector<std::string> names;  // the order after the call
        long sortFiles;
    };
    const Case cases[] = {
        {"+I:Status", 0, {"c", "d", "a", "b"}, 1},
        {"-I:Status", 0, {"b", "a", "d", "c"}, 1},
        {"+I:Nothing", kInvalidIndexString, {"b", "a", "d", "c"}, 1},
        {"+I:Status,,", kInvalidIndexString, {"b", "a", "d", "c"}, 1},
        {"", 0, {"a", "b", "c", "d"}, 0},
        {"+i:status", 0, {"c", "d", "a", "b"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.order);
        EXPECT_EQ(view->setOrderText(c.order), c.error);
        EXPECT_EQ(firstFields(readForward(*view, 3)), c.names);
        EXPECT_EQ(sortFiles(), c.sortFiles);
    }
    // A new key order ends the header order; closing the view removes its sort file.
    ASSERT_EQ(view->setOrderText("-I:Name"), 0);
    ASSERT_EQ(view->setOrder(table_->key("I:IdKey")), 0);
    EXPECT_EQ(sortFiles(), 0);
    EXPECT_EQ(firstFields(readForward(*view, 3)), (std::vector<std::string>{"d", "a", "c", "b"}));
    ASSERT_EQ(view->setOrderText("-I:Name"), 0);
    EXPECT_EQ(sortFiles(), 1);
    view.reset();
    EXPECT_EQ(sortFiles(), 0);
}

}  // namespace
}  // namespace vellum
