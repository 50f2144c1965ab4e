// The driver options string: its switches applied at OPEN and SHARE, SEND reading and setting
// one switch, the options window's switch list parsing a string into its controls (with its
// messages) and building it back, and the registration object that reaches the window and the
// table chooser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/driver_descriptor.h"
#include "driver/registration.h"
#include "filelayer/file_layer.h"
#include "filelayer/options_window.h"
#include "filelayer/table.h"
#include "pagestore/transaction_set.h"
#include "support/temp_dir.h"

namespace vellum {
namespace {

// The file layer with its message box and file dialog scripted.
class ScriptedWindowServices : public PlatformFileLayer {
public:
    void messageBox(std::string_view text, std::string_view caption, Icon) override {
        EXPECT_EQ(caption, OptionsWindow::kTitle);
        messages.emplace_back(text);
    }
    int selectFile(FileSelection& request) override {
        requests.push_back(request);
        request.fileName = fileAnswer;
        return 0;
    }

    std::vector<std::string> messages;
    std::vector<FileSelection> requests;
    std::string fileAnswer;
};

class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        installPlatformFileLayer();
        previous_ = installFileLayer(&services_);
        Table table(declaration(""));
        ASSERT_EQ(table.create(), 0);
    }
    void TearDown() override {
        transactionSet().setExplicitName("");
        installFileLayer(previous_);
    }

    TableDeclaration declaration(const std::string& options) {
        TableDeclaration table("Opts");
        table.name(dir_.file("opts.vlm")).attributes(kAttributeCreate).longField("OP:Number");
        if (!options.empty()) table.options(options);
        return table;
    }

    test::TempDir dir_;
    ScriptedWindowServices services_;
    FileLayerServices* previous_ = nullptr;
};

TEST_F(OptionsTest, OpenAndShareReadEverySwitchAfterASlash) {
    struct Case {
        const char* options;
        bool share;
        int mode;
        int error;
        const char* fullBuild;
        const char* decimalCheck;
        const char* controlFile;
    };
    const Case cases[] = {
        {"/FULLBUILD=on", false, 0x42, 0, "ON", "ON", ""},
        {"/FULLBUILD=yes", true, 0x42, 0, "OFF", "ON", ""},
        {"/DecimalCheck=Off", false, 0x40, 0, "OFF", "OFF", ""},
        {"/DecimalCheck", true, 0x42, 0, "OFF", "ON", ""},
        // The name takes the whole rest of the text; the next slash is still read as a switch.
        {"/TCF=c:\\x.tcf /FULLBUILD=ON", true, 0x42, 0, "ON", "ON", "c:\\x.tcf /FULLBUILD=ON"},
        {"/TCF=/data/x.tcf", false, 0x42, 0, "OFF", "ON", "/data/x.tcf"},
        {"FULLBUILD=ON DecimalCheck=OFF TCF=x", false, 0x42, 0, "OFF", "ON", ""},
        {"junk /fullbuild = On/decimalcheck=off", true, 0x42, 0, "ON", "OFF", ""},
        {"/FULLBUILDX=ON /DECIMALCHECKS=OFF /TCFX=y", false, 0x42, 0, "OFF", "ON", ""},
        // Write-only access fails before any switch is read.
        {"/TCF=c:\\x.tcf /FULLBUILD=ON", false, 0x41, 5, "OFF", "ON", ""},
        {"/TCF=c:\\x.tcf /FULLBUILD=ON", true, 1, 5, "OFF", "ON", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        Table table(declaration(c.options));
        EXPECT_EQ(c.share ? table.share(c.mode) : table.open(c.mode), c.error);
        EXPECT_EQ(table.send("FULLBUILD"), c.fullBuild);
        EXPECT_EQ(table.send("DecimalCheck"), c.decimalCheck);
        EXPECT_EQ(transactionSet().explicitName(), c.controlFile);
        EXPECT_EQ(table.send("TCF="), c.controlFile);
        EXPECT_EQ(table.close(), c.error == 0 ? 0 : 37) << "a failed open leaves it closed";
    }
}

TEST_F(OptionsTest, SendReadsAndSetsOneSwitch) {
    // Each command answers the setting before it; FLAGS only while the table is open.
    struct Step {
        const char* command;
        const char* result;
    };
    Table table(declaration(""));
    const Step closed[] = {
        {"FLAGS", ""},          {"FLAGS=3", ""},
        {"TCF", ""},            {"TCF=c:\\one.tcf", ""},
        {"tcf = d:\\t wo.tcf", "c:\\one.tcf"},
        {"TCF", "d:\\t wo.tcf"}, {"TCF=", "d:\\t wo.tcf"},
        {"TCF", ""},            {"Recover=12", ""},
        {"/FULLBUILD=ON", ""},  {"FULLBUILD", "OFF"},
    };
    for (const Step& step : closed) {
        SCOPED_TRACE(step.command);
        EXPECT_EQ(table.send(step.command), step.result);
        EXPECT_EQ(table.errorCode(), 0);
    }
    ASSERT_EQ(table.open(), 0);
    const Step open[] = {
        {"FLAGS", "0"},      {"FLAGS=-7", "0"},  {"flags", "-7"},
        {"FLAGS = 12abc", "-7"}, {"FLAGS", "12"}, {"FLAGSHIP", "12"},
        {"TCF=c:\\x.tcf", ""}, {"TCF", "c:\\x.tcf"}, {"Recover=12", ""},
    };
    for (const Step& step : open) {
        SCOPED_TRACE(step.command);
        EXPECT_EQ(table.send(step.command), step.result);
        EXPECT_EQ(table.errorCode(), 0);
    }
    EXPECT_EQ(transactionSet().explicitName(), "c:\\x.tcf");
    EXPECT_EQ(table.close(), 0);
}

TEST_F(OptionsTest, WindowParsesIntoItsControlsWithMessages) {
    const std::string poorly = "Poorly formed driver string.  ";
    struct Case {
        std::string options;
        std::string controlFile;
        bool checkDecimalPlaces;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"", "", true, {}},
        {"/TCF=c:\\x.tcf /DecimalCheck=OFF ", "c:\\x.tcf", false, {}},
        {"  /decimalcheck = off/tcf\t'/tmp/my file''s.tcf' ", "/tmp/my file's.tcf", false, {}},
        {"/DecimalCheck=on /TCF=" + std::string(300, 'x'), std::string(255, 'x'), true, {}},
        {"/Bogus=1 /DecimalCheck=maybe /TCF= /TCF=y",
         "y",
         true,
         {poorly + "Bogus is not a valid switch",
          "DecimalCheck has an incorrect value of maybe.  Value ignored,",
          poorly + "TCF has no value"}},
        {"/DecimalCheck=OFF /DecimalCheck /FULLBUILD=ON",
         "",
         false,
         {poorly + "DecimalCheck has no value", poorly + "FULLBUILD is not a valid switch"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        services_.messages.clear();
        OptionsWindow window(c.options);
        EXPECT_EQ(window.controlFile, c.controlFile);
        EXPECT_EQ(window.checkDecimalPlaces, c.checkDecimalPlaces);
        EXPECT_EQ(services_.messages, c.messages);
    }
}

TEST_F(OptionsTest, WindowBuildsWhatItParsesBack) {
    struct Case {
        std::string controlFile;
        bool checkDecimalPlaces;
        std::string options;
    };
    const Case cases[] = {
        {"", true, ""},
        {"", false, "/DecimalCheck=OFF "},
        {"c:\\x.tcf", true, "/TCF=c:\\x.tcf "},
        {"/data/a b's.tcf", false, "/DecimalCheck=OFF /TCF='/data/a b''s.tcf' "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        OptionsWindow window("/TCF=old /DecimalCheck=OFF");
        window.controlFile = c.controlFile;
        window.checkDecimalPlaces = c.checkDecimalPlaces;
        EXPECT_EQ(window.options(), c.options);
        OptionsWindow reread(c.options);
        EXPECT_EQ(reread.controlFile, c.controlFile);
        EXPECT_EQ(reread.checkDecimalPlaces, c.checkDecimalPlaces);
    }
    EXPECT_TRUE(services_.messages.empty());
}

TEST_F(OptionsTest, WindowOkRewritesTheBufferAndCancelLeavesIt) {
    char buffer[32] = "/DecimalCheck=OFF";
    auto cancel = [](OptionsWindow& window) {
        window.checkDecimalPlaces = true;
        return false;
    };
    EXPECT_EQ(runOptionsWindow(buffer, sizeof buffer, cancel), 0);
    EXPECT_STREQ(buffer, "/DecimalCheck=OFF");

    // The "..." button puts the chosen file into the entry.
    services_.fileAnswer = "c:\\shared\\all.tcf";
    auto browseAndOk = [](OptionsWindow& window) {
        EXPECT_FALSE(window.checkDecimalPlaces);
        window.browse();
        window.checkDecimalPlaces = true;
        return true;
    };
    EXPECT_EQ(runOptionsWindow(buffer, sizeof buffer, browseAndOk), 1);
    EXPECT_STREQ(buffer, "/TCF=c:\\shared\\all.tcf ");
    ASSERT_EQ(services_.requests.size(), 1u);
    EXPECT_EQ(services_.requests[0].flags, 0x01u);
    EXPECT_EQ(services_.requests[0].title, "Select Transaction Control File");
    EXPECT_EQ(services_.requests[0].filter, "Transaction Control File (*.tcf)|*.tcf|All Files|*.*");

    // A string longer than the buffer is cut to fit; a dialog that chooses nothing keeps the entry.
    char small[10] = "";
    services_.fileAnswer.clear();
    auto longName = [](OptionsWindow& window) {
        window.controlFile = "c:\\long\\name.tcf";
        window.browse();
        return true;
    };
    EXPECT_EQ(runOptionsWindow(small, sizeof small, longName), 1);
    EXPECT_STREQ(small, "/TCF=c:\\l");
    EXPECT_TRUE(services_.messages.empty());
}

TEST_F(OptionsTest, RegistrationObjectOffersTheWindowAndTheChooser) {
    auto make = [] {
        return static_cast<RegistrationObject*>(driverDescriptor().registration());
    };
    char buffer[48] = "/TCF=c:\\x.tcf";
    RegistrationObject* bare = make();
    EXPECT_TRUE(bare->offers(1));
    EXPECT_FALSE(bare->offers(2)) << "no window object installed";
    EXPECT_FALSE(bare->offers(3));
    EXPECT_EQ(bare->editOptions(buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "/TCF=c:\\x.tcf");
    bare->release();

    auto* carrier = new OptionsWindowCarrier([](OptionsWindow& window) {
        window.checkDecimalPlaces = false;
        return true;
    });
    installOptionsWindow(carrier);
    carrier->release();
    RegistrationObject* registration = make();
    installOptionsWindow(nullptr);
    // The registration object keeps its own reference to the window object.
    EXPECT_TRUE(registration->offers(2));
    registration->addReference();
    registration->release();
    EXPECT_EQ(registration->editOptions(buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "/DecimalCheck=OFF /TCF=c:\\x.tcf ");

    // A table without a name is chosen through the file dialog and then opens by that name.
    TableDeclaration unnamed("Opts");
    unnamed.attributes(kAttributeCreate).longField("OP:Number");
    Table chosen(unnamed);
    services_.fileAnswer = dir_.file("opts.vlm");
    EXPECT_EQ(registration->chooseTable(chosen.block()), 0);
    EXPECT_EQ(services_.requests.size(), 1u);
    ASSERT_EQ(chosen.open(), 0);
    EXPECT_EQ(chosen.name(), dir_.file("opts.vlm"));
    // An open table is refused with 37, posted with its block as the error file.
    EXPECT_EQ(registration->chooseTable(chosen.block()), 37);
    EXPECT_EQ(errorCode(), 37);
    EXPECT_EQ(errorFile(), chosen.block());
    EXPECT_EQ(chosen.close(), 0);
    registration->release();
}

}  // namespace
}  // namespace vellum
