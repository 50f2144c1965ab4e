// The thesaurus dictionary of one thread: the thread's instances of the four tables, made from
// their declarations for a data directory when the thread starts, and between start-up and
// shutdown one file manager and one relation manager per table. The keywords are related to
// their terms, read through QLMThesAlias and QLMThes; the relation is registered when first
// needed, the first time the keywords are opened with their related tables.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "dictionary/error_manager.h"
#include "dictionary/file_manager.h"
#include "dictionary/relation_manager.h"
#include "filelayer/table.h"

namespace vellum::viewer {

// The tables, in the order start-up creates their managers.
enum class ThesaurusTable { thes, keyword, related, thesAlias };
inline constexpr std::array<ThesaurusTable, 4> kStartUpOrder = {
    ThesaurusTable::thes, ThesaurusTable::keyword, ThesaurusTable::related,
    ThesaurusTable::thesAlias};

// The table label, which is also the name its file manager uses in messages.
const char* tableLabel(ThesaurusTable which);

class Dictionary {
  public:
    Dictionary(const std::string& dataDirectory, ErrorManager& errors);

    ErrorManager& errors() { return errors_; }
    // The thread's instance of a table; not to be used after destroyTable.
    Table& table(ThesaurusTable which) { return *tables_[index(which)]; }
    // The managers, between startUp and shutDown.
    FileManager& fileManager(ThesaurusTable which) { return *files_[index(which)]; }
    RelationManager& relationManager(ThesaurusTable which) { return *relations_[index(which)]; }

    // Creates the file and relation managers in the start-up order.
    void startUp();
    // Kills the managers in the same order: each file manager closes its file and goes, then
    // its relation manager goes.
    void shutDown();

    // Opens a relation manager, with withRelated the managers of the related tables too.
    void openRelations(ThesaurusTable which, bool withRelated);
    // Hands the thread's instance of a table to the engine's DESTROY.
    void destroyTable(ThesaurusTable which) { tables_[index(which)].reset(); }

  private:
    static size_t index(ThesaurusTable which) { return static_cast<size_t>(which); }

    ErrorManager& errors_;
    std::array<std::unique_ptr<Table>, 4> tables_;
    std::array<std::unique_ptr<FileManager>, 4> files_;
    std::array<std::unique_ptr<RelationManager>, 4> relations_;
};

}  // namespace vellum::viewer
