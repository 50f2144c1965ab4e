// Entry cursors: registration on entries and pages, and the operations at a position.
#include "pagestore/entry_cursor.h"

#include "pagestore/page_file.h"
#include "pagestore/page_tree.h"
#include "vellum/fatal.h"

namespace vellum {

void releaseEntry(Entry* entry) {
    while (entry->cursors != nullptr) entry->cursors->set(nullptr, false);
}

void EntryCursor::registerOn(Entry* entry) {
    entry_ = entry;
    if (entry == nullptr) return;
    entryPrev_ = nullptr;
    entryNext_ = entry->cursors;
    if (entryNext_ != nullptr) entryNext_->entryPrev_ = this;
    entry->cursors = this;
}

void EntryCursor::unregister() {
    if (entry_ == nullptr) return;
    if (entryPrev_ != nullptr) {
        entryPrev_->entryNext_ = entryNext_;
    } else {
        entry_->cursors = entryNext_;
    }
    if (entryNext_ != nullptr) entryNext_->entryPrev_ = entryPrev_;
    entryNext_ = entryPrev_ = nullptr;
}

void EntryCursor::attach(PageNode* page, Entry* entry) {
    page_ = page;
    pagePrev_ = nullptr;
    pageNext_ = page->cursors;
    if (pageNext_ != nullptr) pageNext_->pagePrev_ = this;
    page->cursors = this;
    registerOn(entry);
}

void EntryCursor::leavePage() {
    if (pagePrev_ != nullptr) {
        pagePrev_->pageNext_ = pageNext_;
    } else {
        page_->cursors = pageNext_;
    }
    if (pageNext_ != nullptr) pageNext_->pagePrev_ = pagePrev_;
    pageNext_ = pagePrev_ = nullptr;
    page_ = nullptr;
}

void EntryCursor::detach() {
    if (page_ == nullptr) return;
    Entry* entry = entry_;
    unregister();
    leavePage();
    registerOn(entry != nullptr ? copyEntryKey(*entry) : nullptr);
}

void EntryCursor::set(Entry* entry, bool insertFirst) {
    Entry* old = entry_;
    unregister();
    entry_ = nullptr;
    if (page_ != nullptr) {
        leavePage();
    } else if (old != nullptr) {
        releaseEntry(old);
        freeEntry(old);
    }
    if (entry != nullptr && insertFirst) {
        file_->insertEntry(entry);
        entry = copyEntryKey(*entry);
    }
    registerOn(entry);
}

Entry* EntryCursor::fetch() {
    if (file_->refreshHeader(true) != 0) fatal(256);
    if (page_ == nullptr) {
        if (entry_ == nullptr) return nullptr;
        // The key copy is freed also when the descent ends in a fatal error.
        OwnedEntry key(entry_);
        unregister();
        entry_ = nullptr;
        PageNode* leaf = file_->descendTo(key->key(), 0);
        attach(leaf, findInTree(leaf->tree, file_->nil(), key->key()));
    }
    if (entry_ != nullptr && entry_->keyLength == 0) {
        unregister();
        entry_ = nullptr;
    }
    return entry_;
}

void EntryCursor::insertHere(Entry* entry) {
    // The tree owns the entry from here on; one refused before it got into a page is freed, as
    // insertEntry does.
    auto refuse = [entry](int number) {
        freeEntry(entry);
        fatal(number);
    };
    if (file_->inReadMode()) refuse(231);
    if (file_->refreshHeader(true) != 0) refuse(232);
    Entry* first = page_ != nullptr ? firstEntry(page_->tree, file_->nil()) : nullptr;
    if (first != nullptr && compareKeys(*first, *entry) < 0) {
        PageNode* page = page_;
        if (findInTree(page->tree, file_->nil(), entry->key()) != nullptr) refuse(706);
        insertIntoTree(&page->tree, file_->nil(), entry);
        file_->markDirty(page);
        page->sizeEstimate = static_cast<uint16_t>(page->sizeEstimate + entry->totalLength + 5);
        if (!file_->needsSplit(page)) {
            unregister();
            registerOn(entry);
            return;
        }
        file_->splitIfNeeded(page);
    } else {
        file_->insertEntry(entry);
    }
    set(copyEntryKey(*entry), false);
    fetch();
}

void EntryCursor::removeAndStepBack() {
    if (page_ == nullptr || entry_ == nullptr) return;
    Entry* entry = entry_;
    if (Entry* previous = previousInTree(entry, file_->nil())) {
        if (file_->inReadMode()) fatal(337);
        PageNode* page = page_;
        unregister();
        registerOn(previous);
        removeFromTree(&page->tree, file_->nil(), entry);
        page->sizeEstimate = static_cast<uint16_t>(page->sizeEstimate - entry->totalLength - 5);
        markChanged();
        releaseEntry(entry);
        freeEntry(entry);
        return;
    }
    // The first entry of its page: step back through the tree, then remove the entry by key,
    // since the searches may have evicted the page it stood in.
    Entry* key = copyEntryKey(*entry);
    Entry* previous = file_->findPreviousEntry(key->key());
    set(previous != nullptr ? copyEntryKey(*previous) : newEntry(0, 0), false);
    file_->removeEntry(file_->findEntry(key->key()));
    freeEntry(key);
}

void EntryCursor::markChanged() {
    if (file_->inReadMode()) fatal(337);
    if (page_ != nullptr) file_->markDirty(page_);
}

}  // namespace vellum
