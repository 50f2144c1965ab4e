// The thread's tables and the life of their managers.
#include "dictionary/dictionary.h"

#include "dictionary/thesaurus_tables.h"

namespace vellum::viewer {

const char* tableLabel(ThesaurusTable which) {
    switch (which) {
        case ThesaurusTable::thes:
            return "QLMThes";
        case ThesaurusTable::keyword:
            return "QLMKeyword";
        case ThesaurusTable::related:
            return "QLMRelated";
        case ThesaurusTable::thesAlias:
            return "QLMThesAlias";
    }
    return "";
}

Dictionary::Dictionary(const std::string& dataDirectory, ErrorManager& errors) : errors_(errors) {
    tables_[index(ThesaurusTable::thes)] =
        std::make_unique<Table>(thesaurus::thesDeclaration(dataDirectory));
    tables_[index(ThesaurusTable::keyword)] =
        std::make_unique<Table>(thesaurus::keywordDeclaration(dataDirectory));
    tables_[index(ThesaurusTable::related)] =
        std::make_unique<Table>(thesaurus::relatedDeclaration(dataDirectory));
    tables_[index(ThesaurusTable::thesAlias)] =
        std::make_unique<Table>(thesaurus::thesAliasDeclaration(dataDirectory));
}

void Dictionary::startUp() {
    for (ThesaurusTable which : kStartUpOrder) {
        files_[index(which)] =
            std::make_unique<FileManager>(tableLabel(which), table(which), errors_);
        relations_[index(which)] = std::make_unique<RelationManager>(fileManager(which));
    }
}

void Dictionary::shutDown() {
    for (ThesaurusTable which : kStartUpOrder) {
        if (!files_[index(which)]) continue;
        files_[index(which)]->kill();
        files_[index(which)].reset();
        relations_[index(which)].reset();
    }
}

void Dictionary::openRelations(ThesaurusTable which, bool withRelated) {
    RelationManager& relations = relationManager(which);
    if (withRelated && which == ThesaurusTable::keyword && !relations.hasRelations()) {
        // Many keywords to one term, under both declarations of the terms.
        relations.addRelated(relationManager(ThesaurusTable::thesAlias));
        relations.addRelated(relationManager(ThesaurusTable::thes));
    }
    relations.open(withRelated);
}

}  // namespace vellum::viewer
