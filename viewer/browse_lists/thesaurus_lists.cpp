// Views, columns, orders, locators and copied fields of the thesaurus lists.
#include "browse_lists/thesaurus_lists.h"

namespace vellum::viewer {

BrowseDefinition termsList(Dictionary& dictionary) {
    Table& terms = dictionary.table(ThesaurusTable::thes);
    return {.primary = &terms,
            .joins = {},
            .files = {&dictionary.fileManager(ThesaurusTable::thes)},
            .fields = {"QLM:Term", "QLM:Status", "QLM:Notes", "QLM:TermID"},
            .key = terms.key("QLM:KeyTerm"),
            .keyField = "QLM:Term",
            .copyField = "QLM:Term",
            .format = "100L(2)|M~Term~@s50@80L(2)|M~Status~@s50@1020L(2)|M~Notes~@s255@",
            .scrollSteps = true};
}

BrowseDefinition keywordsList(Dictionary& dictionary) {
    Table& keywords = dictionary.table(ThesaurusTable::keyword);
    Table& alias = dictionary.table(ThesaurusTable::thesAlias);
    return {.primary = &keywords,
            .joins = {{&alias, alias.key("QLA:KeyTermID"), {{"QLK:TermID", "QLA:TermID"}}}},
            .files = {&dictionary.fileManager(ThesaurusTable::keyword),
                      &dictionary.fileManager(ThesaurusTable::thesAlias)},
            .fields = {"QLK:Word", "QLA:Term", "QLA:Notes", "QLA:TermID"},
            .key = keywords.key("QLK:KeyWord"),
            .keyField = "QLK:Word",
            .copyField = "QLA:Term",
            .format = "100L(2)|M~Word~@s50@100L(2)|M~Term~@s50@1020L(2)|M~Notes~@s255@",
            .scrollSteps = false};
}

BrowseDefinition relatedTermsList(Dictionary& dictionary) {
    Table& related = dictionary.table(ThesaurusTable::related);
    return {.primary = &related,
            .joins = {},
            .files = {&dictionary.fileManager(ThesaurusTable::related)},
            .fields = {"QLR:Term", "QLR:RelatedTerm", "QLR:Relationship"},
            .key = related.key("QLR:KeyTerm"),
            .keyField = "QLR:Term",
            .copyField = "QLR:Term",
            .format =
                "150L(2)|M~Term~@s50@150L(2)|M~Related Term~@s50@"
                "200L(2)|M~Relationship~@s50@",
            .scrollSteps = false};
}

}  // namespace vellum::viewer
