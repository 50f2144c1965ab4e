// The declarations of QLMThes, QLMThesAlias, QLMRelated and QLMKeyword: fields in record order
// (their offsets follow from the sizes), keys with their attribute bits and components.
#include "dictionary/thesaurus_tables.h"

namespace vellum::thesaurus {

namespace {

constexpr uint32_t kIdKeyAttributes = kKeyNoCase | kKeyOpt;                  // 0x0006
constexpr uint32_t kPrimaryIdKeyAttributes = kKeyPrimary | kIdKeyAttributes;  // 0x0016
constexpr uint32_t kTextKeyAttributes = kKeyDup | kKeyNoCase;                // 0x0005

// The terms table under a prefix: 1103 bytes, keys on the number and on the term.
TableDeclaration termsDeclaration(const std::string& label, const std::string& prefix,
                                  const std::string& directory) {
    TableDeclaration table(label);
    table.name(fileIn(directory, kTermsFile))
        .attributes(kTableAttributes)
        .decimal(prefix + ":TermID", 5, 0)
        .string(prefix + ":Term", 50)
        .string(prefix + ":Status", 50)
        .string(prefix + ":Notes", 1000)
        .key(prefix + ":KeyTermID", kPrimaryIdKeyAttributes, {1})
        .key(prefix + ":KeyTerm", kTextKeyAttributes, {2});
    return table;
}

}  // namespace

std::string fileIn(const std::string& directory, const std::string& fileName) {
    if (directory.empty()) return fileName;
    if (directory.back() == '/') return directory + fileName;
    return directory + "/" + fileName;
}

TableDeclaration thesDeclaration(const std::string& directory) {
    return termsDeclaration("QLMThes", "QLM", directory);
}

TableDeclaration thesAliasDeclaration(const std::string& directory) {
    return termsDeclaration("QLMThesAlias", "QLA", directory);
}

TableDeclaration relatedDeclaration(const std::string& directory) {
    TableDeclaration table("QLMRelated");
    table.name(fileIn(directory, kRelatedFile))
        .attributes(kTableAttributes)
        .longField("QLR:RelatedID")
        .string("QLR:Term", 50)
        .string("QLR:RelatedTerm", 50)
        .string("QLR:Relationship", 50)
        .key("QLR:KeyRelatedID", kIdKeyAttributes, {1})
        .key("QLR:KeyTerm", kTextKeyAttributes, {2})
        .key("QLR:KeyRelatedTerm", kTextKeyAttributes, {3});
    return table;
}

TableDeclaration keywordDeclaration(const std::string& directory) {
    TableDeclaration table("QLMKeyword");
    table.name(fileIn(directory, kKeywordFile))
        .attributes(kTableAttributes)
        .longField("QLK:KeywordID")
        .string("QLK:Word", 50)
        .decimal("QLK:TermID", 5, 0)
        .key("QLK:KeyKeywordID", kIdKeyAttributes, {1})
        .key("QLK:KeyWord", kTextKeyAttributes, {2})
        .key("QLK:KeyTermID", kTextKeyAttributes, {3});
    return table;
}

}  // namespace vellum::thesaurus
