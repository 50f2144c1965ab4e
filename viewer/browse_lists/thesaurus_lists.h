// The three lists of the main window over the thesaurus dictionary: the terms in QLMThes, the
// keywords in QLMKeyword with the term each belongs to (read through QLMThesAlias, an outer join
// on QLA:KeyTermID), and the pairs of related terms in QLMRelated.
#pragma once

#include "browse_lists/browse_list.h"
#include "dictionary/dictionary.h"

namespace vellum::viewer {

// Between the dictionary's start-up and shutdown.
BrowseDefinition termsList(Dictionary& dictionary);
BrowseDefinition keywordsList(Dictionary& dictionary);
BrowseDefinition relatedTermsList(Dictionary& dictionary);

}  // namespace vellum::viewer
