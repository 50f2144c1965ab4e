// The options window's list of driver switches: each switch's name, kind and the variable it
// sets, kept sorted by name. The list reads an options string into the variables, with a
// message for each switch it cannot read, and builds the string back from the variables that no
// longer hold their defaults.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vellum {

class SwitchList {
public:
    static constexpr char kSeparator = '/';
    static constexpr size_t kMaxNameLength = 30;
    static constexpr size_t kMaxFlagTextLength = 6;

    // A flag: its ON text sets the variable, its OFF text clears it.
    void addFlag(std::string_view name, bool* variable, bool defaultValue, std::string_view onText,
                 std::string_view offText);
    // A text of at most room - 1 characters, as a zero-terminated buffer of room bytes holds;
    // its default is the empty text.
    void addText(std::string_view name, std::string* variable, size_t room);

    // Reads an options string into the variables; the messages, in order, for what it could not
    // read. Each message is followed by the next switch.
    std::vector<std::string> parse(std::string_view options) const;
    // The options string of the variables that differ from their defaults, in name order.
    std::string build() const;

private:
    enum class Kind { flag, text };
    struct Definition {
        std::string name;
        std::string upperName;
        Kind kind = Kind::flag;
        bool* flag = nullptr;
        bool flagDefault = false;
        std::string onText;
        std::string offText;
        std::string* text = nullptr;
        size_t room = 0;
    };

    void add(Definition definition);
    const Definition* find(std::string_view name) const;
    // Assigns a value read for a switch written as name; a message when it does not fit.
    std::string assign(const Definition& definition, const std::string& name,
                       const std::string& value) const;

    std::vector<Definition> definitions_;
};

}  // namespace vellum
