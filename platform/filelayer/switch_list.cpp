// Parsing and building the options string of the options window's switch list.
#include "filelayer/switch_list.h"

#include <algorithm>

#include "tablestore/table_address.h"

namespace vellum {

namespace {

constexpr std::string_view kPoorlyFormed = "Poorly formed driver string.  ";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string trimmed(std::string_view text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && isBlank(text[first])) ++first;
    while (last > first && isBlank(text[last - 1])) --last;
    return std::string(text.substr(first, last - first));
}

// A value up to the next separator or the end, without the blanks around it.
std::string plainValue(std::string_view options, size_t* at) {
    size_t end = std::min(options.find(SwitchList::kSeparator, *at), options.size());
    std::string value = trimmed(options.substr(*at, end - *at));
    *at = end;
    return value;
}

// A text value: one in apostrophes runs to its closing apostrophe, so that it may hold blanks
// and separators, and a doubled apostrophe inside stands for one; anything after it up to the
// next separator is passed over. Any other value is plain.
std::string textValue(std::string_view options, size_t* at) {
    while (*at < options.size() && isBlank(options[*at])) ++*at;
    if (*at >= options.size() || options[*at] != '\'') return plainValue(options, at);
    std::string value;
    size_t i = *at + 1;
    for (; i < options.size(); ++i) {
        if (options[i] != '\'') {
            value += options[i];
        } else if (i + 1 < options.size() && options[i + 1] == '\'') {
            value += '\'';
            ++i;
        } else {
            ++i;
            break;
        }
    }
    *at = i;
    plainValue(options, at);
    return value;
}

// A text as the builder writes it: in apostrophes, with inner ones doubled, when it holds
// blanks, apostrophes or separators.
std::string quotedWhenNeeded(const std::string& text) {
    if (text.find_first_of(" \t'/") == std::string::npos) return text;
    std::string quoted = "'";
    for (char c : text) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return quoted + "'";
}

}  // namespace

void SwitchList::addFlag(std::string_view name, bool* variable, bool defaultValue,
                         std::string_view onText, std::string_view offText) {
    Definition definition;
    definition.name = name;
    definition.kind = Kind::flag;
    definition.flag = variable;
    definition.flagDefault = defaultValue;
    definition.onText = std::string(onText.substr(0, kMaxFlagTextLength));
    definition.offText = std::string(offText.substr(0, kMaxFlagTextLength));
    add(std::move(definition));
}

void SwitchList::addText(std::string_view name, std::string* variable, size_t room) {
    Definition definition;
    definition.name = name;
    definition.kind = Kind::text;
    definition.text = variable;
    definition.room = room;
    add(std::move(definition));
}

void SwitchList::add(Definition definition) {
    definition.name.resize(std::min(definition.name.size(), kMaxNameLength));
    definition.upperName = upperCaseName(definition.name);
    auto at = std::lower_bound(
        definitions_.begin(), definitions_.end(), definition.upperName,
        [](const Definition& held, const std::string& upper) { return held.upperName < upper; });
    definitions_.insert(at, std::move(definition));
}

const SwitchList::Definition* SwitchList::find(std::string_view name) const {
    std::string upper = upperCaseName(std::string(name));
    for (const Definition& definition : definitions_) {
        if (definition.upperName == upper) return &definition;
    }
    return nullptr;
}

std::string SwitchList::assign(const Definition& definition, const std::string& name,
                               const std::string& value) const {
    if (value.empty()) return std::string(kPoorlyFormed) + name + " has no value";
    if (definition.kind == Kind::text) {
        *definition.text = value.substr(0, definition.room - 1);
        return {};
    }
    std::string upper = upperCaseName(value);
    if (upper == upperCaseName(definition.onText)) {
        *definition.flag = true;
    } else if (upper == upperCaseName(definition.offText)) {
        *definition.flag = false;
    } else {
        return name + " has an incorrect value of " + value + ".  Value ignored,";
    }
    return {};
}

std::vector<std::string> SwitchList::parse(std::string_view options) const {
    std::vector<std::string> messages;
    size_t at = 0;
    auto skipBlanks = [&] {
        while (at < options.size() && isBlank(options[at])) ++at;
    };
    for (;;) {
        skipBlanks();
        if (at < options.size() && options[at] == kSeparator) ++at;
        if (at >= options.size()) break;
        size_t nameStart = at;
        while (at < options.size() && !isBlank(options[at]) && options[at] != '=' &&
               options[at] != kSeparator) {
            ++at;
        }
        std::string name(options.substr(nameStart, at - nameStart));
        skipBlanks();
        if (at < options.size() && options[at] == '=') ++at;
        const Definition* definition = find(name);
        if (definition == nullptr) {
            plainValue(options, &at);
            messages.push_back(std::string(kPoorlyFormed) + name + " is not a valid switch");
            continue;
        }
        std::string value = definition->kind == Kind::text ? textValue(options, &at)
                                                           : plainValue(options, &at);
        if (std::string message = assign(*definition, name, value); !message.empty()) {
            messages.push_back(std::move(message));
        }
    }
    return messages;
}

std::string SwitchList::build() const {
    std::string options;
    for (const Definition& definition : definitions_) {
        std::string value;
        if (definition.kind == Kind::flag) {
            if (*definition.flag == definition.flagDefault) continue;
            value = *definition.flag ? definition.onText : definition.offText;
        } else {
            if (definition.text->empty()) continue;
            value = quotedWhenNeeded(*definition.text);
        }
        options += kSeparator + definition.name + "=" + value + " ";
    }
    return options;
}

}  // namespace vellum
