// The relation manager of one table: bound to the table's file manager, it opens and closes
// that manager and, when asked to, the managers of the tables related to it.
#pragma once

#include <vector>

#include "dictionary/file_manager.h"

namespace vellum::viewer {

class RelationManager {
  public:
    explicit RelationManager(FileManager& file) : file_(file) {}

    FileManager& file() { return file_; }
    bool hasRelations() const { return !related_.empty(); }
    // Registers a related table (for the keywords: their terms under both declarations).
    void addRelated(RelationManager& other) { related_.push_back(&other); }

    // Opens the file manager, then with withRelated those of the related tables in the order
    // they were registered.
    void open(bool withRelated);
    // Closes the file manager and those open() opened with it.
    void close();

  private:
    FileManager& file_;
    std::vector<RelationManager*> related_;
    std::vector<RelationManager*> openedWith_;
};

}  // namespace vellum::viewer
