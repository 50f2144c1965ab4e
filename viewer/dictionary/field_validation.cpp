// The lookup of a keyword's term in QLMThes.
#include "dictionary/field_validation.h"

#include "vellum/operation_codes.h"

namespace vellum::viewer {

int validateKeywordTermId(Dictionary& dictionary, bool reportErrors) {
    if (int error = dictionary.fileManager(ThesaurusTable::thes).use(); error != 0) return error;
    Table& keyword = dictionary.table(ThesaurusTable::keyword);
    Table& thes = dictionary.table(ThesaurusTable::thes);

    // The saved state brings back the record buffer and the place of the sequence.
    auto saved = static_cast<ArgumentSlot>(thes.call(kGETSTATE, {0}));
    thes.setDecimal(thes.fieldNumber("QLM:TermID"),
                    keyword.decimalValue(keyword.fieldNumber("QLK:TermID")));
    int error = thes.get(thes.key("QLM:KeyTermID"));
    thes.call(kRESTORESTATE, {saved, 1});
    thes.call(kFREESTATE, {saved});

    if (error != 0 && reportErrors) {
        dictionary.errors().report(
            kFieldContentsMessage,
            {.file = {}, .errorText = {}, .field = "QLK:TermID", .message = "QLMThes"});
    }
    return error;
}

}  // namespace vellum::viewer
