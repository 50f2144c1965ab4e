// EntryCursor: a position in a file's entry tree that survives page changes. An attached cursor
// stands in a cached leaf (on one of its entries, or on none when its key has gone); a detached
// cursor holds a private copy of its key and finds its place again at the next fetch. Splits,
// removals and the eviction of its page detach a cursor.
#pragma once

#include "vellum/entry.h"

namespace vellum {

class PageFile;
struct PageNode;

class EntryCursor {
public:
    explicit EntryCursor(PageFile* file) : file_(file) {}
    ~EntryCursor() { clear(); }
    EntryCursor(const EntryCursor&) = delete;
    EntryCursor& operator=(const EntryCursor&) = delete;

    // Leaves the current position and holds entry (a loose entry the cursor takes over) as its
    // position. With insertFirst the entry goes into the tree and the cursor keeps a key copy.
    void set(Entry* entry, bool insertFirst);
    void clear() { set(nullptr, false); }
    // The entry at the cursor's position, or none (also for the sentinel).
    Entry* fetch();
    // Inserts a new entry next to the position (the tree takes it over); the cursor moves onto
    // it. The caller guarantees no existing entry lies between the position and the new key.
    void insertHere(Entry* entry);
    // Removes the entry the cursor stands on and leaves the cursor on the one before it.
    void removeAndStepBack();
    // The caller changed data bytes of the current entry in place.
    void markChanged();
    // Leaves the page, keeping a key copy of the entry as the position.
    void detach();

    bool isAttached() const { return page_ != nullptr; }
    PageFile* file() const { return file_; }

private:
    friend void releaseEntry(Entry* entry);

    void attach(PageNode* page, Entry* entry);
    void leavePage();
    void registerOn(Entry* entry);
    void unregister();

    PageFile* file_;
    PageNode* page_ = nullptr;
    Entry* entry_ = nullptr;  // attached: in the page's tree; detached: owned
    EntryCursor* pageNext_ = nullptr;
    EntryCursor* pagePrev_ = nullptr;
    EntryCursor* entryNext_ = nullptr;
    EntryCursor* entryPrev_ = nullptr;
};

// Clears every cursor still standing on an entry (as clear() does), before the entry is freed.
void releaseEntry(Entry* entry);

}  // namespace vellum
