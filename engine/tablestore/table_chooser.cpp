// Choosing a table for a table object that is not open: the file-selection service proposes a
// file when the table has none (or when opening it fails as if it were missing or not a table
// file), a file of several tables offers them in the list dialog, and a trial open read-only
// decides. Development tools reach it through the driver's registration object.
#include "pagestore/open_mode.h"
#include "tablestore/table_address.h"
#include "tablestore/table_object.h"
#include "vellum/error_codes.h"
#include "vellum/file_layer_services.h"

namespace vellum {

namespace {

std::string joined(const std::vector<std::string>& names) {
    std::string items;
    for (const std::string& name : names) items += (items.empty() ? "" : "|") + name;
    return items;
}

}  // namespace

int TableObject::chooseTable() {
    std::string candidate = address;
    std::optional<std::string> password;
    bool dialogShown = false;
    int result = 0;

    // Shows the file dialog; false when it ended the choice, with its result in result.
    auto askForFile = [&]() {
        dialogShown = true;
        FileLayerServices::FileSelection request;
        request.flags = 0x04;
        request.title = "Open Vellum File";
        request.filter = "Vellum Files (*.vlm)|*.VLM|All Files (*.*)|*.*";
        request.defaultExtension = "VLM";
        request.fileName = candidate;
        request.fileNameRoom = 260;
        request.passwordRoom = 255;
        result = fileLayer().selectFile(request);
        if (result != 0 || isBlankName(request.fileName)) return false;
        candidate = request.fileName;
        password = isBlankName(request.password) ? std::string() : request.password;
        return true;
    };

    if (isBlankName(candidate) && !askForFile()) return result;
    for (;;) {
        if (candidate.find("\\!") == std::string::npos) {
            TableAddress split;
            OpenFile* inspected = nullptr;
            if (splitTableAddress(candidate, &split) == 0 &&
                registerFile(split.fileName, kModeDenyNone, password.value_or(owner),
                             isThreadInstance(), &inspected) == 0) {
                std::vector<std::string> names = tableNamesIn(*inspected->file);
                releaseFile(inspected);
                std::optional<std::string> chosen;
                if (names.size() == 1) {
                    chosen = names.front();
                } else if (names.size() > 1) {
                    chosen = fileLayer().chooseFromList("Select Vellum Table", "Table &Name",
                                                        joined(names));
                    if (!chosen) return 0;
                }
                if (chosen && *chosen != kUnnamedTable) candidate += "\\!" + *chosen;
            }
        }
        std::string previousAddress = address;
        std::string previousOwner = owner;
        address = candidate;
        if (password) owner = *password;
        result = open(kModeDenyNone);
        if (result == 0) result = close();
        if (result == 0) {
            nameOverridden = true;
            if (password) ownerOverridden = true;
            return 0;
        }
        address = previousAddress;
        owner = previousOwner;
        bool missing = result == kFileNotFound || result == kPathNotFound ||
                       result == kAccessDenied || result == kInvalidDataFile;
        if (!missing || dialogShown || !askForFile()) return result;
    }
}

}  // namespace vellum
