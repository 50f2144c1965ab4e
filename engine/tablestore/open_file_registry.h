// The open-file registry: the physical files a process has open, so that every table object
// addressing one file shares one PageFile (cache, locks and header). One list serves the whole
// process; each thread has its own for THREAD tables, whose instances belong to one thread.
// Names are compared as the completed absolute paths the table addresses give.
#pragma once

#include <memory>
#include <string>

#include "pagestore/page_file.h"

namespace vellum {

struct OpenFile {
    std::string name;
    std::unique_ptr<PageFile> file;
    unsigned references = 0;
    bool threadList = false;
    OpenFile* next = nullptr;
};

// Registers a file: an entry already open gets the mode (when it differs) and one more
// reference; otherwise the file is opened with the mode and owner. Returns 0 or the page
// store's error, with *out set on success.
int registerFile(const std::string& name, int mode, const std::string& owner, bool thread,
                 OpenFile** out);

// Drops one reference; the last closes the file, others leave write mode.
void releaseFile(OpenFile* file);

// The entry of a name, or none, in the list that applies.
OpenFile* findOpenFile(const std::string& name, bool thread);

// Closes every file of the calling thread's list (at thread end).
void releaseThreadFiles();

}  // namespace vellum
