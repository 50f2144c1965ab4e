// The driver switches a table object reads from its options string at OPEN and from SEND:
// "DecimalCheck", "FULLBUILD", "FLAGS", "PNM", "PNMQ" and "TCF". A switch is its name (any
// letter case, compared over the name's length only), optional blanks, and optionally "=",
// blanks and a value that runs to the end of the text. DecimalCheck, FULLBUILD, FLAGS and TCF
// answer their setting before the change; the reader never fails.
#include <cctype>
#include <cstdlib>
#include <strings.h>

#include "pagestore/open_mode.h"
#include "pagestore/transaction_set.h"
#include "tablestore/count_records.h"
#include "tablestore/table_address.h"
#include "tablestore/table_object.h"
#include "vellum/file_layer_services.h"

namespace vellum {

namespace {

bool startsWithName(const std::string& text, const char* name) {
    size_t length = std::char_traits<char>::length(name);
    return text.size() >= length && strncasecmp(text.c_str(), name, length) == 0;
}

// The value after the name: present when an "=" follows the name and its blanks.
std::optional<std::string> valueAfter(const std::string& text, size_t nameLength) {
    size_t at = text.find_first_not_of(' ', nameLength);
    if (at == std::string::npos || text[at] != '=') return std::nullopt;
    at = text.find_first_not_of(' ', at + 1);
    return at == std::string::npos ? std::string() : text.substr(at);
}

}  // namespace

std::string TableObject::readSwitch(const std::string& text) {
    if (text.empty()) return {};
    switch (std::toupper(static_cast<unsigned char>(text[0]))) {
        case 'D': {
            if (!startsWithName(text, "DecimalCheck")) return {};
            std::string current = decimalCheck ? "ON" : "OFF";
            if (auto value = valueAfter(text, 12)) decimalCheck = !startsWithName(*value, "OFF");
            return current;
        }
        case 'F': {
            if (startsWithName(text, "FULLBUILD")) {
                std::string current = fullBuild ? "ON" : "OFF";
                if (auto value = valueAfter(text, 9)) fullBuild = startsWithName(*value, "ON");
                return current;
            }
            // The table's FLAGS word, kept for the application in its data count record.
            if (!startsWithName(text, "FLAGS") || !isOpen()) return {};
            PageFile& file = *pageFile();
            CountValues values;
            readCounts(file, tableNumber, kRecordTypeData, &values);
            if (auto value = valueAfter(text, 5)) {
                file.beginWrite();
                setSecondValue(file, tableNumber, kRecordTypeData,
                               static_cast<uint32_t>(
                                   static_cast<int32_t>(std::strtol(value->c_str(), nullptr, 10))));
            }
            return std::to_string(static_cast<int32_t>(values.second));
        }
        case 'P': {
            if (startsWithName(text, "PNMQ")) {
                auto value = valueAfter(text, 4);
                if (!value || value->empty()) return {};
                std::vector<std::string> names;
                if (isOpen()) {
                    names = tableNamesIn(*pageFile());
                } else {
                    TableAddress split;
                    OpenFile* inspected = nullptr;
                    if (splitTableAddress(address, &split) != 0 ||
                        registerFile(split.fileName, 0x40, owner, isThreadInstance(),
                                     &inspected) != 0) {
                        return {};
                    }
                    names = tableNamesIn(*inspected->file);
                    releaseFile(inspected);
                }
                for (const std::string& name : names) {
                    if (!fileLayer().appendToList(*value, name)) break;
                }
                return {};
            }
            if (!startsWithName(text, "PNM") || !isOpen()) return {};
            auto value = valueAfter(text, 3);
            if (!value) return {};
            return nextTableName(upperCaseName(*value)).value_or(std::string());
        }
        case 'T': {
            // The process's transaction control file: the whole value text names it.
            if (!startsWithName(text, "TCF")) return {};
            std::string current = transactionSet().explicitName();
            if (auto value = valueAfter(text, 3)) transactionSet().setExplicitName(*value);
            return current;
        }
        default:
            return {};
    }
}

}  // namespace vellum
