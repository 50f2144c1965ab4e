// TransactionSet: enlisting files, the commit of several files through transaction control
// files, rollback, and the transaction check of recovery. Layouts: see transaction_set.h.
#include "pagestore/transaction_set.h"

#include <algorithm>
#include <array>
#include <memory>

#include "os/file_system.h"
#include "pagestore/page_file.h"
#include "vellum/byte_order.h"
#include "vellum/error_codes.h"
#include "vellum/fatal.h"

namespace vellum {

namespace {

// Control files: created when missing, read and write, deny none; recovery only reads them
// and needs them to exist.
constexpr int kControlFileMode = 0x142;
constexpr int kRecoveryMode = 0x40;

using ControlFiles = std::vector<std::unique_ptr<PageFile>>;

std::array<uint8_t, 4> numberKey(uint32_t number) {
    std::array<uint8_t, 4> key{};
    store32le(key.data(), number);
    return key;
}

// Removes the number from every control file, the first one first; 0 or the error of the
// first one. The markers name the first control file, so its removal is the commit point; a
// number left behind in another is never looked up again.
int unregisterNumber(ControlFiles& controls, uint32_t number) {
    int result = 0;
    for (size_t i = 0; i < controls.size(); ++i) {
        PageFile& control = *controls[i];
        control.beginWrite();
        control.removeEntry(control.findEntry(numberKey(number)));
        int committed = control.commit();
        control.endWrite();
        if (i == 0) result = committed;
    }
    return result;
}

void closeAll(ControlFiles& controls) {
    for (auto& control : controls) control->close();
    controls.clear();
}

// Registers the number in every control file, raising it while any of them has it already.
// The control files stay open in controls, each out of its write bracket, so that transactions
// of other processes can take turns on them. Returns 0 or the first error; controls then holds
// the files opened, where the number is to be removed again.
int registerNumber(const std::vector<std::string>& names, uint32_t* number,
                   ControlFiles* controls) {
    for (;;) {
        bool taken = false;
        for (const std::string& name : names) {
            auto control = std::make_unique<PageFile>();
            if (int result = control->open(name, kControlFileMode, ""); result != 0) return result;
            control->beginWrite();
            std::array<uint8_t, 4> key = numberKey(*number);
            if (control->findEntry(key) != nullptr) {
                control->close();
                taken = true;
                break;
            }
            control->insertEntry(newEntry(key));
            int result = control->commit();
            control->endWrite();
            controls->push_back(std::move(control));
            if (result != 0) return result;
        }
        if (!taken) return 0;
        // Another transaction of the same second holds the number: the files registered so
        // far give it back, and the next number is tried in all of them.
        unregisterNumber(*controls, *number);
        closeAll(*controls);
        ++*number;
    }
}

void writeMarker(PageFile& file, const std::vector<uint8_t>& data) {
    const std::array<uint8_t, 1> key{TransactionSet::kMarkerKey};
    file.removeEntry(file.findEntry(key));
    file.insertEntry(newEntry(key, data));
}

}  // namespace

void TransactionSet::setExplicitName(const std::string& name) { explicitName_ = name; }

void TransactionSet::enlist(PageFile* file) {
    if (file->isEnlisted()) return;
    file->setEnlisted(true);
    enlisted_.insert(enlisted_.begin(), file);
    if (!explicitName_.empty()) return;
    std::string path = defaultControlPath(file->diskFile().name());
    os::PathLocation location;
    if (os::resolveLocation(path, &location) != 0) return;
    for (const ControlPath& held : paths_) {
        if (held.location == location) return;
    }
    if (paths_.size() == kMaxControlPaths) fatal(kTooManyControlFilesFatal);
    paths_.push_back({path, location});
}

void TransactionSet::forget(PageFile* file) {
    enlisted_.erase(std::remove(enlisted_.begin(), enlisted_.end(), file), enlisted_.end());
}

int TransactionSet::commitAll() {
    try {
        std::vector<PageFile*> dirty;
        for (PageFile* file : enlisted_) {
            file->setEnlisted(false);
            if (file->isDirty()) dirty.push_back(file);
        }
        int result = 0;
        if (dirty.size() == 1) {
            result = dirty.front()->commit();
        } else if (dirty.size() > 1) {
            std::string name;
            result = markerName(&name);
            uint32_t number = os::localTimeSeconds();
            ControlFiles controls;
            if (result == 0) result = registerNumber(controlFileNames(), &number, &controls);
            if (result == 0) {
                std::vector<uint8_t> marker = markerData(number, name);
                for (size_t i = 0; i < dirty.size() && result == 0; ++i) {
                    writeMarker(*dirty[i], marker);
                    result = dirty[i]->commitStageOne();
                    // The files before it have their pending log areas abandoned; the failed
                    // one discarded its changes itself.
                    if (result != 0) {
                        for (size_t j = 0; j < i; ++j) dirty[j]->resetLog();
                    }
                }
            }
            // The commit point: once the number is gone from the first control file, recovery
            // replays every file.
            int removed = unregisterNumber(controls, number);
            if (result == 0) result = removed;
            closeAll(controls);
            if (result == 0) {
                for (PageFile* file : dirty) file->commitStageTwo();
            }
        }
        finish();
        return result;
    } catch (const FatalError&) {
        finish();
        throw;
    }
}

void TransactionSet::rollbackAll() { finish(); }

// Ends the transaction: every enlisted file forgets what is still uncommitted (after a
// successful commit that only lets readers in again).
void TransactionSet::finish() {
    std::vector<PageFile*> files;
    files.swap(enlisted_);
    paths_.clear();
    for (PageFile* file : files) file->setEnlisted(false);
    for (PageFile* file : files) {
        try {
            file->discard();
        } catch (const FatalError&) {
        }
    }
}

std::vector<std::string> TransactionSet::controlFileNames() const {
    if (!explicitName_.empty()) return {explicitName_};
    std::vector<std::string> names;
    for (const ControlPath& held : paths_) names.push_back(held.path);
    return names;
}

int TransactionSet::markerName(std::string* name) const {
    // An explicit name is kept by its full path, so that a recovery run from another working
    // directory asks the same control file.
    if (!explicitName_.empty()) return os::fullPath(explicitName_, name);
    if (paths_.size() <= 1) {
        *name = kDefaultMarkerName;
        return 0;
    }
    // Files of several folders all ask the control file of the first one, by its full path:
    // were each to ask the one of its own folder, a stop between the removals from two control
    // files would replay the files of one folder and abandon those of the other.
    return os::fullPath(paths_.front().path, name);
}

std::vector<uint8_t> TransactionSet::markerData(uint32_t number, const std::string& name) {
    std::vector<uint8_t> data(4 + name.size() + 1, 0);
    store32le(data.data(), number);
    std::copy(name.begin(), name.end(), data.begin() + 4);
    return data;
}

std::string TransactionSet::defaultControlPath(const std::string& dataFile) {
    size_t separator = dataFile.find_last_of("/\\");
    if (separator == std::string::npos) return kDefaultControlName;
    return dataFile.substr(0, separator + 1) + kDefaultControlName;
}

bool TransactionSet::recoveryCheck(PageFile& file) {
    const std::array<uint8_t, 1> key{kMarkerKey};
    Entry* marker = file.findEntry(key);
    if (marker == nullptr || marker->data().size() < 4) return false;
    std::span<const uint8_t> data = marker->data();
    uint32_t number = load32le(data.data());
    std::string name(data.begin() + 4, data.end());
    name.resize(std::min(name.size(), name.find('\0')));
    std::string path = name == kDefaultMarkerName ? defaultControlPath(file.diskFile().name()) : name;

    PageFile control;
    int result;
    while ((result = control.open(path, kRecoveryMode, "")) == kAccessDenied) {
        os::sleepMilliseconds(1);
    }
    if (result != 0) return true;
    // A control file never committed holds no number (and has no tree to search).
    bool registered = control.header().changeCounter() != 0 &&
                      control.findEntry(numberKey(number)) != nullptr;
    control.close();
    return registered;
}

TransactionSet& transactionSet() {
    static TransactionSet set;
    return set;
}

}  // namespace vellum
