// The field validation rule of the dictionary: a keyword's QLK:TermID must name a term that
// QLMThes holds.
#pragma once

#include "dictionary/dictionary.h"

namespace vellum::viewer {

// Looks the keyword's term number up in QLMThes by QLM:KeyTermID, leaving the current record of
// QLMThes as it was. 0 when the term is there; otherwise the error of the read (or of opening
// QLMThes, already shown), and with reportErrors message 16 for a term that is not there.
int validateKeywordTermId(Dictionary& dictionary, bool reportErrors);

}  // namespace vellum::viewer
