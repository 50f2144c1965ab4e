// The error manager: shows the messages of data-access errors, each with its number, title and
// text, after putting the values of the failing call into the text's placeholders (%File,
// %ErrorText, %Field, %Message). It carries the name of the running procedure, which the main
// window sets while it runs. The viewer shows message boxes; tests install a recording stand-in.
#pragma once

#include <string>
#include <string_view>

namespace vellum::viewer {

struct MessageText {
    int number;
    std::string_view title;
    std::string_view text;
};

// The messages the dictionary's file managers and field validation show.
inline constexpr MessageText kAccessDeniedMessage{
    2, "Access Denied", "Could not get write access to %File so trying read-only."};
inline constexpr MessageText kFileCreationMessage{12, "File Creation Error",
                                                  "Error: (%ErrorText) creating %File."};
inline constexpr MessageText kFieldContentsMessage{
    16, "Field contents error", "The value of %Field must be found in the %Message file."};
inline constexpr MessageText kFileAccessMessage{
    26, "File Access Error", "File %File could not be opened.  Error: %ErrorText."};
inline constexpr MessageText kKeyNotBuiltMessage{29, "Key was not built",
                                                 "Error: (%ErrorText) repairing key for %File."};
inline constexpr MessageText kInvalidKeyMessage{30, "Invalid Key",
                                                "%File key file is invalid. Key must be rebuilt."};

// What the placeholders stand for.
struct MessageValues {
    std::string file;       // %File: the name the file manager uses in messages
    std::string errorText;  // %ErrorText: errorDescription of the failing call
    std::string field;      // %Field: a field's label
    std::string message;    // %Message: the rule's text, for validation the table it looks in
};

// text with each placeholder replaced by its value; the values themselves are not scanned.
std::string substituteMessage(std::string_view text, const MessageValues& values);

// An engine error as messages show it: "Access Denied (5)", followed by " - " and the
// driver's message when the call left one; "Error 123" for a number without a text.
std::string errorDescription(int code, std::string_view fileError);

class ErrorManager {
  public:
    virtual ~ErrorManager() = default;

    // Fills in the placeholders of the message and shows it.
    void report(const MessageText& message, const MessageValues& values);

    const std::string& procedureName() const { return procedureName_; }
    void setProcedureName(std::string name) { procedureName_ = std::move(name); }

  protected:
    virtual void show(int messageNumber, const std::string& title, const std::string& text) = 0;

  private:
    std::string procedureName_;
};

}  // namespace vellum::viewer
