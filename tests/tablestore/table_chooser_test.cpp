// Choosing a table: the file dialog, the list dialog and the trial open, with dialogs scripted.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filelayer/file_layer.h"
#include "filelayer/table.h"
#include "support/temp_dir.h"
#include "tablestore/table_object.h"

namespace vellum {
namespace {

class ScriptedDialogs : public PlatformFileLayer {
public:
    int selectFile(FileSelection& request) override {
        fileRequests.push_back(request);
        request.fileName = fileAnswer;
        request.password = passwordAnswer;
        return 0;
    }
    std::optional<std::string> chooseFromList(std::string_view title, std::string_view prompt,
                                              std::string_view items) override {
        listRequests.push_back(std::string(title) + "/" + std::string(prompt) + "/" +
                               std::string(items));
        return listAnswer;
    }

    std::string fileAnswer;
    std::string passwordAnswer;
    std::optional<std::string> listAnswer;
    std::vector<FileSelection> fileRequests;
    std::vector<std::string> listRequests;
};

TableDeclaration declaration(const std::string& name) {
    TableDeclaration table("Chosen");
    table.name(name).attributes(kAttributeCreate).longField("CH:Number").string("CH:Text", 20);
    return table;
}

class TableChooserTest : public ::testing::Test {
protected:
    void SetUp() override {
        installPlatformFileLayer();
        previous_ = installFileLayer(&dialogs_);
        for (const char* name : {"one.vlm\\!FIRST", "two.vlm\\!ALPHA", "two.vlm\\!BETA"}) {
            Table table(declaration(dir_.file(name)));
            ASSERT_EQ(table.create(), 0) << name;
        }
    }
    void TearDown() override { installFileLayer(previous_); }

    // A table object of the declaration, as the driver entry would attach it.
    int choose(const std::string& address, std::string* chosen) {
        Table declared(declaration(address));
        TableObject table(declared.block());
        EXPECT_EQ(table.buildDescriptors(), 0);
        table.address = address;
        int result = table.chooseTable();
        *chosen = table.address;
        EXPECT_FALSE(table.isOpen());
        return result;
    }

    test::TempDir dir_;
    ScriptedDialogs dialogs_;
    FileLayerServices* previous_ = nullptr;
};

TEST_F(TableChooserTest, AFileOfOneTableIsTakenWithoutAsking) {
    std::string chosen;
    EXPECT_EQ(choose(dir_.file("one.vlm"), &chosen), 0);
    EXPECT_EQ(chosen, dir_.file("one.vlm") + "\\!FIRST");
    EXPECT_TRUE(dialogs_.fileRequests.empty());
    EXPECT_TRUE(dialogs_.listRequests.empty());
}

TEST_F(TableChooserTest, SeveralTablesAreOfferedInTheListDialog) {
    dialogs_.listAnswer = "BETA";
    std::string chosen;
    EXPECT_EQ(choose(dir_.file("two.vlm"), &chosen), 0);
    EXPECT_EQ(chosen, dir_.file("two.vlm") + "\\!BETA");
    EXPECT_EQ(dialogs_.listRequests,
              std::vector<std::string>{"Select Vellum Table/Table &Name/ALPHA|BETA"});

    dialogs_.listAnswer.reset();
    EXPECT_EQ(choose(dir_.file("two.vlm"), &chosen), 0);
    EXPECT_EQ(chosen, dir_.file("two.vlm")) << "a cancelled choice changes nothing";
}

TEST_F(TableChooserTest, WithoutAFileNameTheFileDialogAsks) {
    dialogs_.fileAnswer = dir_.file("one.vlm");
    dialogs_.passwordAnswer = "   ";
    std::string chosen;
    EXPECT_EQ(choose("", &chosen), 0);
    EXPECT_EQ(chosen, dir_.file("one.vlm") + "\\!FIRST");
    ASSERT_EQ(dialogs_.fileRequests.size(), 1u);
    const auto& request = dialogs_.fileRequests.front();
    EXPECT_EQ(request.title, "Open Vellum File");
    EXPECT_EQ(request.filter, "Vellum Files (*.vlm)|*.VLM|All Files (*.*)|*.*");
    EXPECT_EQ(request.defaultExtension, "VLM");
    EXPECT_EQ(request.fileNameRoom, 260u);
    EXPECT_EQ(request.passwordRoom, 255u);
}

TEST_F(TableChooserTest, AMissingFileShowsTheDialogOnce) {
    dialogs_.fileAnswer = dir_.file("one.vlm\\!FIRST");
    std::string chosen;
    EXPECT_EQ(choose(dir_.file("missing.vlm\\!X"), &chosen), 0);
    EXPECT_EQ(chosen, dir_.file("one.vlm\\!FIRST"));
    EXPECT_EQ(dialogs_.fileRequests.size(), 1u);

    dialogs_.fileRequests.clear();
    dialogs_.fileAnswer = dir_.file("also-missing.vlm\\!X");
    EXPECT_EQ(choose(dir_.file("missing.vlm\\!X"), &chosen), 2);
    EXPECT_EQ(dialogs_.fileRequests.size(), 1u) << "the dialog is not shown twice";
    EXPECT_EQ(chosen, dir_.file("missing.vlm\\!X"));
}

TEST_F(TableChooserTest, TheProgramsOwnServiceChoosesNothing) {
    installFileLayer(previous_);
    std::string chosen;
    EXPECT_EQ(choose("", &chosen), 0);
    EXPECT_EQ(chosen, "");
    EXPECT_EQ(choose(dir_.file("two.vlm"), &chosen), 0);
    EXPECT_EQ(chosen, dir_.file("two.vlm"));
    installFileLayer(&dialogs_);
}

}  // namespace
}  // namespace vellum
