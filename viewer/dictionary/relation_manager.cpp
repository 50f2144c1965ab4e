// Opening and closing a table together with its related tables.
#include "dictionary/relation_manager.h"

namespace vellum::viewer {

void RelationManager::open(bool withRelated) {
    file_.open();
    if (!withRelated) return;
    for (RelationManager* other : related_) {
        other->file().open();
        openedWith_.push_back(other);
    }
}

void RelationManager::close() {
    file_.close();
    for (RelationManager* other : openedWith_) other->file().close();
    openedWith_.clear();
}

}  // namespace vellum::viewer
