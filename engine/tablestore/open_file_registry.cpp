// The process list and the per-thread lists of open physical files.
#include "tablestore/open_file_registry.h"

#include "pagestore/open_mode.h"

namespace vellum {

namespace {

OpenFile* processList = nullptr;

// Closes the files of a thread's list when the thread ends.
struct ThreadList {
    OpenFile* head = nullptr;
    ~ThreadList() { closeAll(); }
    void closeAll() {
        while (head != nullptr) {
            OpenFile* file = head;
            head = file->next;
            file->file->close();
            delete file;
        }
    }
};
thread_local ThreadList threadList;

OpenFile*& headOf(bool thread) { return thread ? threadList.head : processList; }

}  // namespace

OpenFile* findOpenFile(const std::string& name, bool thread) {
    for (OpenFile* file = headOf(thread); file != nullptr; file = file->next) {
        if (file->name == name) return file;
    }
    return nullptr;
}

int registerFile(const std::string& name, int mode, const std::string& owner, bool thread,
                 OpenFile** out) {
    if (OpenFile* file = findOpenFile(name, thread)) {
        if (file->file->mode() != normaliseMode(mode)) file->file->changeMode(mode);
        ++file->references;
        *out = file;
        return 0;
    }
    auto entry = std::make_unique<OpenFile>();
    entry->name = name;
    entry->file = std::make_unique<PageFile>();
    entry->threadList = thread;
    int result = entry->file->open(name, mode, owner);
    if (result != 0) return result;
    entry->references = 1;
    entry->next = headOf(thread);
    headOf(thread) = entry.get();
    *out = entry.release();
    return 0;
}

void releaseFile(OpenFile* file) {
    if (--file->references > 0) {
        file->file->endWrite();
        return;
    }
    OpenFile** link = &headOf(file->threadList);
    while (*link != file) link = &(*link)->next;
    *link = file->next;
    file->file->close();
    delete file;
}

void releaseThreadFiles() { threadList.closeAll(); }

}  // namespace vellum
