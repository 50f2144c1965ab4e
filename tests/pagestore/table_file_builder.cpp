// Hand-built table files for tests.
#include "pagestore/table_file_builder.h"

#include <vector>

#include "pagestore/disk_file.h"
#include "pagestore/header_page.h"
#include "pagestore/open_mode.h"
#include "pagestore/page_codec.h"
#include "support/entry_text.h"
#include "vellum/entry.h"

namespace vellum::test {

std::string pageKey(int page) { return "page" + std::to_string(page); }

void writeLeafFile(const std::string& path, int pageCount, const std::string& owner) {
    DiskFile disk;
    disk.open(path, kModeOwnOpen | kModeCreateNew | 2 | kModeDenyAll, owner);
    Entry nilEntry;
    for (int page = 0; page < pageCount; ++page) {
        std::string key = pageKey(page);
        Entry* entry = makeEntry(key);
        entry->left = entry->right = &nilEntry;
        entry->subtreeSize = 1;
        std::vector<uint8_t> image = buildPageImage(
            entry, &nilEntry, 0, static_cast<uint16_t>(13 + entry->totalLength + 5));
        setImageOwnOffset(image.data(), static_cast<uint32_t>(pageOffset(page)));
        disk.write(pageOffset(page), image.data(), image.size());
        freeEntry(entry);
    }
    HeaderPage header;
    header.setMagic();
    header.setChangeCounter(1);
    header.setRootPage(0);
    for (unsigned k = 1; k <= kMaxSizeClass; ++k) {
        uint32_t end = static_cast<uint32_t>(pageCount);
        header.setRangeStart(k, k == 1 ? 0 : end);
        header.setRangeEnd(k, end);
    }
    header.setLogStart(static_cast<uint32_t>(header.endOfPages()));
    header.setLogEnd(header.logStart());
    disk.write(0, header.bytes(), kHeaderSize);
    disk.close();
}

}  // namespace vellum::test
