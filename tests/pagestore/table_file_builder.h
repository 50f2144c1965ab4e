// Writes small table files by hand for tests: a header and pages of class 1, each page a leaf
// holding one entry whose key is "page<i>". The pages form no tree; they serve tests of the cache,
// of reading and of the brackets, which fetch pages by number.
#pragma once

#include <string>

namespace vellum::test {

// Page i of the file holds the single entry pageKey(i).
std::string pageKey(int page);

// Writes a file of pageCount pages with change counter 1 and root page 0, enciphered when
// owner is not empty.
void writeLeafFile(const std::string& path, int pageCount, const std::string& owner = {});

}  // namespace vellum::test
