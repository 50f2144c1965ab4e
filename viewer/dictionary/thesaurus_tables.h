// The thesaurus dictionary: the declarations of the four tables the viewer reads, in three
// table files. QLMThes and QLMThesAlias declare the same table of terms under two prefixes;
// QLMRelated holds pairs of related terms and QLMKeyword the keywords of the terms. All four may
// be created when missing and have one instance per thread.
#pragma once

#include <string>

#include "filelayer/table.h"

namespace vellum::thesaurus {

// The files as declared; the last two get ".VLM" from the engine.
inline constexpr const char* kTermsFile = "QLMThes.vlm";
inline constexpr const char* kRelatedFile = "QLMRELAT";
inline constexpr const char* kKeywordFile = "QLMKEYWO";

// CREATE and THREAD.
inline constexpr uint8_t kTableAttributes = kAttributeCreate | kAttributeThread;

// The declaration of each table, its file in directory (directory + "/" + file name); an empty
// directory leaves the file name as declared, relative to the current directory.
TableDeclaration thesDeclaration(const std::string& directory);
TableDeclaration thesAliasDeclaration(const std::string& directory);
TableDeclaration relatedDeclaration(const std::string& directory);
TableDeclaration keywordDeclaration(const std::string& directory);

// The file of a table in directory, by the same rule.
std::string fileIn(const std::string& directory, const std::string& fileName);

}  // namespace vellum::thesaurus
