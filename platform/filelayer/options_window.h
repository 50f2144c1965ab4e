// The options window without its GUI: the dialog with which a developer edits a declaration's
// driver options string. It holds the state of its controls (the transaction control file entry
// and the "Check Decimal Places" box), parses an options string into them through its switch
// list, showing each parse message in a message box, and rebuilds the string from them. Whatever
// shows the window reads its texts from here and drives the controls.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "driver/registration.h"
#include "filelayer/switch_list.h"

namespace vellum {

class OptionsWindow {
public:
    static constexpr std::string_view kTitle = "Vellum Driver String Builder";
    static constexpr std::string_view kFont = "MS Sans Serif";
    static constexpr int kFontPoints = 8;
    static constexpr std::string_view kHelpContext = "~DrvStrVlm";

    static constexpr std::string_view kControlFilePrompt = "&Transaction Control File:";
    static constexpr size_t kControlFileRoom = 256;  // the entry holds up to 255 characters
    static constexpr std::string_view kControlFileTip =
        "The transaction control file replaces the default \\VELLUM.TCF. It serves recovery after "
        "a failure during a transaction and applies to all Vellum files of the program, so it "
        "should be one file that every machine can reach.";
    static constexpr std::string_view kBrowseButton = "...";
    static constexpr std::string_view kBrowseTitle = "Select Transaction Control File";
    static constexpr std::string_view kBrowseFilter =
        "Transaction Control File (*.tcf)|*.tcf|All Files|*.*";

    static constexpr std::string_view kDecimalCheckBox = "&Check Decimal Places";
    static constexpr std::string_view kDecimalCheckTip =
        "Some older writers of the file format stored the places of DECIMAL fields wrongly, so "
        "that opening their files reports \"Invalid Record Declaration\". Clear this box to "
        "avoid the error.";

    static constexpr std::string_view kOkButton = "&OK";
    static constexpr std::string_view kCancelButton = "Cancel";
    static constexpr std::string_view kHelpButton = "&Help";

    // The controls as an options string sets them; each parse message goes to a message box.
    explicit OptionsWindow(std::string_view options);
    OptionsWindow(const OptionsWindow&) = delete;
    OptionsWindow& operator=(const OptionsWindow&) = delete;

    // The "..." button: the file chosen through the file-selection service goes into the entry.
    void browse();
    // The options string the controls give.
    std::string options() const { return switches_.build(); }

    std::string controlFile;         // the TCF switch
    bool checkDecimalPlaces = true;  // the DecimalCheck switch

private:
    SwitchList switches_;
};

// Shows the options window over a zero-terminated options buffer of length bytes; dialog stands
// for the user, who works the controls and answers OK (true) or Cancel (false). OK writes the
// rebuilt string into the buffer, cut to fit, and returns 1; Cancel leaves it and returns 0.
int runOptionsWindow(char* buffer, size_t length,
                     const std::function<bool(OptionsWindow&)>& dialog);

// The window object of the registration interface: it runs the options window with its dialog.
class OptionsWindowCarrier : public OptionsWindowObject {
public:
    explicit OptionsWindowCarrier(std::function<bool(OptionsWindow&)> dialog)
        : dialog_(std::move(dialog)) {}
    int edit(char* options, size_t length) override {
        return runOptionsWindow(options, length, dialog_);
    }

private:
    std::function<bool(OptionsWindow&)> dialog_;
};

}  // namespace vellum
