// The dictionary's file managers: the lazy open and its sequence (files created when missing, a
// stored definition that differs, the read-only fallback after a denied open, a failed create),
// the relation managers opening and closing the keywords with their terms, and the validation of
// a keyword's term number.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dictionary/dictionary.h"
#include "dictionary/field_validation.h"
#include "dictionary/recording_error_manager.h"
#include "dictionary/thesaurus_tables.h"
#include "filelayer/table.h"
#include "support/child_process.h"
#include "support/faulty_file_system.h"
#include "support/temp_dir.h"

namespace vellum::viewer {

void PrintTo(const ShownMessage& m, std::ostream* out) {
    *out << m.number << " \"" << m.title << "\" \"" << m.text << "\" in \"" << m.procedure << "\"";
}

namespace {

namespace fs = std::filesystem;
using enum ThesaurusTable;

// The dictionary of a fresh data directory, started up, with every manager opened.
class FileManagerTest : public ::testing::Test {
  protected:
    FileManagerTest() : dictionary_(dir_.path(), errors_) {
        dictionary_.startUp();
        for (ThesaurusTable which : kStartUpOrder) dictionary_.fileManager(which).open();
    }
    ~FileManagerTest() override { dictionary_.shutDown(); }

    FileManager& manager(ThesaurusTable which) { return dictionary_.fileManager(which); }

    test::TempDir dir_;
    RecordingErrorManager errors_;
    Dictionary dictionary_;
};

TEST_F(FileManagerTest, MissingFilesAreCreatedOnFirstUseUnderTheirNames) {
    EXPECT_FALSE(fs::exists(dir_.file("QLMThes.vlm"))) << "opening the manager opens no file";
    for (ThesaurusTable which : kStartUpOrder) {
        SCOPED_TRACE(tableLabel(which));
        EXPECT_EQ(manager(which).use(), 0);
        EXPECT_TRUE(manager(which).isFileOpen());
        EXPECT_EQ(manager(which).openMode(), 0x42);
    }
    EXPECT_TRUE(fs::exists(dir_.file("QLMThes.vlm")));
    EXPECT_TRUE(fs::exists(dir_.file("QLMRELAT.VLM")));
    EXPECT_TRUE(fs::exists(dir_.file("QLMKEYWO.VLM")));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 3);
    EXPECT_TRUE(errors_.shown().empty());
}

// Refuses to create or replace files, as a directory without write access would.
class NoCreateFileSystem : public test::FaultyFileSystem {
  public:
    int open(const std::string& path, const os::OpenRequest& request, os::Handle* handle) override {
        if (request.disposition != os::Disposition::openExisting) return 5;
        return FaultyFileSystem::open(path, request, handle);
    }
};

TEST_F(FileManagerTest, OpenFailuresAreReportedUnderTheTableLabel) {
    const std::string dir = dir_.path();
    auto createTerms = [dir] {
        Table create(thesaurus::thesDeclaration(dir));
        ASSERT_EQ(create.create(), 0);
    };
    struct Case {
        const char* what;
        ThesaurusTable table;
        std::function<void()> prepare;
        int heldElsewhere;  // the mode another process holds the terms' file open with, or 0
        bool refuseCreate;
        int result;
        int modeAfter;
        std::vector<ShownMessage> messages;
    };
    const std::vector<Case> cases = {
        {"stored definition differs",
         related,
         [dir] {
             // The related terms' file created with the layout of the keywords.
             TableDeclaration wrong = thesaurus::keywordDeclaration(dir);
             wrong.name(*thesaurus::relatedDeclaration(dir).fileName());
             Table create(wrong);
             ASSERT_EQ(create.create(), 0);
         },
         0,
         false,
         47,
         0x42,
         {{26, "File Access Error",
           "File QLMRelated could not be opened.  Error: Invalid Record Declaration (47) - "
           "FILE : 0 : FIELDS : D00001.",
           ""}}},
        {"others deny writing: read-only",
         thes,
         createTerms,
         0x22,
         false,
         0,
         0x40,
         {{2, "Access Denied", "Could not get write access to QLMThes so trying read-only.", ""}}},
        {"others deny everything",
         thesAlias,
         createTerms,
         0x12,
         false,
         5,
         0x40,
         {{2, "Access Denied", "Could not get write access to QLMThesAlias so trying read-only.",
           ""},
          {26, "File Access Error",
           "File QLMThesAlias could not be opened.  Error: Access Denied (5).", ""}}},
        {"create refused",
         keyword,
         [] {},
         0,
         true,
         5,
         0x42,
         {{12, "File Creation Error", "Error: (Access Denied (5)) creating QLMKeyword.", ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.prepare();
        std::optional<test::ChildProcess> holder;
        if (c.heldElsewhere != 0) {
            holder.emplace([&](test::ChildProcess& self) {
                Table terms(thesaurus::thesDeclaration(dir));
                if (terms.open(c.heldElsewhere) != 0) return 1;
                self.signalParent();
                self.waitForParent();
                return 0;
            });
            ASSERT_TRUE(holder->waitForChild());
        }
        NoCreateFileSystem noCreate;
        std::optional<test::ScopedFileSystem> installed;
        if (c.refuseCreate) installed.emplace(noCreate);

        FileManager& file = manager(c.table);
        EXPECT_EQ(file.use(), c.result);
        EXPECT_EQ(file.isFileOpen(), c.result == 0);
        EXPECT_EQ(file.openMode(), c.modeAfter);
        EXPECT_EQ(errors_.shown(), c.messages);
        errors_.forget();
        file.kill();
        if (holder) {
            holder->signalChild();
            EXPECT_EQ(holder->join(), 0);
        }
    }
}

TEST_F(FileManagerTest, AReadOnlyFileIsOpenedReadOnly) {
    {
        Table create(thesaurus::keywordDeclaration(dir_.path()));
        ASSERT_EQ(create.create(), 0);
    }
    const std::string path = dir_.file("QLMKEYWO.VLM");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    if (::access(path.c_str(), W_OK) == 0) {
        GTEST_SKIP() << "the file stays writable after chmod 0444 (running as root), so the "
                        "engine is never denied write access";
    }
    EXPECT_EQ(manager(keyword).use(), 0);
    EXPECT_EQ(manager(keyword).openMode(), 0x40);
    EXPECT_EQ(errors_.shown(),
              (std::vector<ShownMessage>{{2, "Access Denied",
                                          "Could not get write access to QLMKeyword so trying "
                                          "read-only.",
                                          ""}}));
}

TEST_F(FileManagerTest, UseBeforeOpenAndAfterTheLastCloseOpensNothing) {
    manager(related).close();
    EXPECT_EQ(manager(related).use(), 37);
    manager(thes).open();  // a second user
    ASSERT_EQ(manager(thes).use(), 0);
    manager(thes).close();
    EXPECT_TRUE(manager(thes).isFileOpen()) << "one user is left";
    manager(thes).close();
    EXPECT_FALSE(manager(thes).isFileOpen());
    EXPECT_EQ(manager(thes).use(), 37);
    EXPECT_FALSE(fs::exists(dir_.file("QLMRELAT.VLM")));
    EXPECT_TRUE(errors_.shown().empty());
}

TEST(Dictionary, TheKeywordsOpenAndCloseWithTheirTerms) {
    test::TempDir dir;
    RecordingErrorManager errors;
    Dictionary dictionary(dir.path(), errors);
    dictionary.startUp();
    // As the main window does: the keywords with their related tables, then the related terms.
    dictionary.openRelations(keyword, true);
    dictionary.openRelations(related, false);
    for (ThesaurusTable which : kStartUpOrder) {
        SCOPED_TRACE(tableLabel(which));
        EXPECT_EQ(dictionary.fileManager(which).use(), 0);
        EXPECT_TRUE(dictionary.fileManager(which).isFileOpen());
    }
    dictionary.relationManager(keyword).close();
    for (ThesaurusTable which : {keyword, thesAlias, thes}) {
        EXPECT_FALSE(dictionary.fileManager(which).isFileOpen()) << tableLabel(which);
    }
    EXPECT_TRUE(dictionary.fileManager(related).isFileOpen());
    // Opening again registers the relations only once.
    dictionary.openRelations(keyword, true);
    EXPECT_EQ(dictionary.fileManager(thes).use(), 0);
    dictionary.relationManager(keyword).close();
    EXPECT_FALSE(dictionary.fileManager(thes).isFileOpen());

    dictionary.shutDown();
    // Nothing holds the files any more: each opens exclusively.
    for (auto declare : {thesaurus::thesDeclaration, thesaurus::relatedDeclaration,
                         thesaurus::keywordDeclaration}) {
        TableDeclaration declaration = declare(dir.path());
        Table exclusive(declaration);
        EXPECT_EQ(exclusive.open(0x12), 0) << declaration.label();
    }
    EXPECT_TRUE(errors.shown().empty());
}

TEST(Dictionary, AKeywordsTermMustBeInTheTerms) {
    test::TempDir dir;
    RecordingErrorManager errors;
    errors.setProcedureName("Update");
    Dictionary dictionary(dir.path(), errors);
    dictionary.startUp();
    dictionary.openRelations(keyword, true);
    Table& terms = dictionary.table(thes);
    ASSERT_EQ(dictionary.fileManager(thes).use(), 0);
    for (int64_t id : {7, 9}) {
        terms.clear();
        terms.setDecimal(terms.fieldNumber("QLM:TermID"), id);
        terms.setText(terms.fieldNumber("QLM:Term"), "term " + std::to_string(id));
        ASSERT_EQ(terms.add(), 0);
    }
    // The current record of the terms, which the validation leaves in place.
    ASSERT_EQ(terms.set(terms.key("QLM:KeyTermID")), 0);
    ASSERT_EQ(terms.next(), 0);
    ASSERT_EQ(terms.text(terms.fieldNumber("QLM:Term")), "term 7");

    Table& keywords = dictionary.table(keyword);
    const uint32_t termId = keywords.fieldNumber("QLK:TermID");
    const ShownMessage notFound{16, "Field contents error",
                                "The value of QLK:TermID must be found in the QLMThes file.",
                                "Update"};
    struct Case {
        int64_t termId;
        bool report;
        int result;
        std::vector<ShownMessage> messages;
    };
    const Case cases[] = {
        {9, true, 0, {}},
        {8, true, 35, {notFound}},
        {8, false, 35, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.termId << (c.report ? " reported" : " silent"));
        keywords.setDecimal(termId, c.termId);
        EXPECT_EQ(validateKeywordTermId(dictionary, c.report), c.result);
        EXPECT_EQ(errors.shown(), c.messages);
        errors.forget();
        EXPECT_EQ(terms.text(terms.fieldNumber("QLM:Term")), "term 7");
    }
    ASSERT_EQ(terms.next(), 0);
    EXPECT_EQ(terms.text(terms.fieldNumber("QLM:Term")), "term 9") << "the sequence goes on";
    dictionary.shutDown();
}

}  // namespace
}  // namespace vellum::viewer
