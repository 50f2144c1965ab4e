// TransactionSet: the files enlisted in the transaction of this process, committed together
// through transaction control files, and the check that recovery makes of a pending commit.
//
// A control file is a table file holding one entry per transaction in progress: key the
// transaction number's four bytes, least significant first, no data. Each data file changed by
// a transaction of several files holds the marker entry: key the single byte 0xFF, data the
// number's four bytes (least significant first), then the control file's name and a zero byte.
// The name "C:\velLuM.TCF" stands for the default control file next to the data file: the
// file "vellum.tcf" in the data file's directory. It is the name used when every file of the
// transaction lies in one folder; files of several folders name the control file of the first
// file's folder by its full path, and an explicit control file is named by its full path too.
//
// The number is registered in every control file before the first stage of any data file and
// removed once every file has finished its first stage; its removal from the control file the
// markers name is the commit point. A recovery that finds the number still registered there
// abandons the file's pending log area.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "os/path_location.h"

namespace vellum {

class PageFile;

// Fatal number for a transaction that would need more than kMaxControlPaths control files.
constexpr int kTooManyControlFilesFatal = 2183;

class TransactionSet {
public:
    static constexpr size_t kMaxControlPaths = 100;
    // The marker's name for the default control file, kept byte for byte as files carry it.
    static constexpr const char* kDefaultMarkerName = "C:\\velLuM.TCF";
    static constexpr const char* kDefaultControlName = "vellum.tcf";
    static constexpr uint8_t kMarkerKey = 0xFF;

    // Names one control file for every transaction from now on; an empty name goes back to the
    // default control files next to the data files.
    void setExplicitName(const std::string& name);
    // The control-file name set explicitly; empty when none is set.
    const std::string& explicitName() const { return explicitName_; }

    // Adds a file to the transaction once; its commits wait until the transaction ends.
    void enlist(PageFile* file);
    // Takes a file that goes away out of the transaction without touching it.
    void forget(PageFile* file);
    // Commits every enlisted file as one; 0 or the first error. The list is empty afterwards.
    int commitAll();
    // Discards the uncommitted changes of every enlisted file; the list is empty afterwards.
    void rollbackAll();

    // True when the pending commit of file, whose refresh reads it through its log area, must
    // be abandoned: its marker names a transaction still registered in its control file, or a
    // control file that cannot be opened.
    static bool recoveryCheck(PageFile& file);
    // The default control file of a data file: its directory and "vellum.tcf".
    static std::string defaultControlPath(const std::string& dataFile);

    size_t pathCount() const { return paths_.size(); }
    size_t enlistedCount() const { return enlisted_.size(); }

private:
    struct ControlPath {
        std::string path;
        os::PathLocation location;
    };

    std::vector<std::string> controlFileNames() const;
    int markerName(std::string* name) const;
    static std::vector<uint8_t> markerData(uint32_t number, const std::string& name);
    void finish();

    std::string explicitName_;
    std::vector<ControlPath> paths_;
    std::vector<PageFile*> enlisted_;  // most recently enlisted first
};

// The transaction set of this process.
TransactionSet& transactionSet();

}  // namespace vellum
