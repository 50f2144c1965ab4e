// PageFile: opening, mode changes, closing, deleting and truncating the file.
#include "pagestore/page_file.h"

#include "pagestore/open_mode.h"
#include "pagestore/transaction_set.h"
#include "vellum/error_codes.h"
#include "vellum/fatal.h"

namespace vellum {

PageFile::PageFile() : disk_(std::make_unique<DiskFile>()), nil_(newEntry(0, 0)) {}

PageFile::~PageFile() {
    if (enlisted_) transactionSet().forget(this);
    dropCache();
}

void PageFile::resetDiskFile() { disk_ = std::make_unique<DiskFile>(); }

int PageFile::open(const std::string& name, int mode, std::string_view owner) {
    mode_ = normaliseMode(mode);
    readMode_ = true;
    shared_ = isSharedMode(mode_);
    denyWrite_ = isDenyWriteMode(mode_);
    int result = disk_->open(name, mode_, owner);
    if (result != 0) return result;
    result = refreshHeader(false);
    if (result == 1) result = kInvalidDataFile;
    if (result != 0) {
        disk_->close();
        resetDiskFile();
        bracketOpen_ = false;
    }
    opened_ = result == 0;
    return result;
}

void PageFile::changeMode(int mode) {
    mode_ = combineModes(mode_, mode);
    disk_->reopen(mode_);
}

void PageFile::close() {
    endBracket();
    commit();
    dropCache();
    disk_->close();
    resetDiskFile();
    header_ = HeaderPage();
    opened_ = false;
}

int PageFile::deleteFile() {
    dirty_ = false;
    return disk_->deleteFile();
}

uint32_t PageFile::size() const { return disk_ ? disk_->size() : 0; }

void PageFile::truncate() {
    if (enlisted_) return;
    if (refreshHeader(true) != 0) fatal(1143);
    // A pending commit this process reads through keeps its log area behind the pages until
    // it is replayed.
    if (!logAreaMap_.empty()) return;
    disk_->truncateAt(header_.endOfPages());
}

}  // namespace vellum
