// info and tables: the header page as stored at offset 0, the pages of each size class, and the
// tables of the file with their record counts.
#include "pagestore/header_page.h"
#include "tablestore/count_records.h"
#include "tools/vellum/commands.h"
#include "vellum/byte_order.h"

namespace vellum::filetool {

int showInfo(ReadOnlyFile& file, std::ostream& out) {
    out << "file: " << file.path() << "\n";
    out << "file size: " << file.pages().size() << " bytes\n";
    HeaderPage header;
    if (file.pages().diskFile().read(0, header.bytes(), kHeaderSize) == 0) {
        out << "empty table file: never committed, no header yet\n";
        return kSuccess;
    }
    out << "magic: vElM, header size " << load16le(header.bytes() + 4) << "\n";
    out << "change counter: " << header.changeCounter() << "\n";
    out << "record counter: " << load32be(header.recordCounter()) << "\n";
    out << "root page: " << header.rootPage() << "\n";
    out << "end of pages: " << header.endOfPages() << "\n";
    bool pending = header.logStart() != header.logEnd();
    out << "log area: " << header.logStart() << " to " << header.logEnd()
        << (pending ? " (a commit is pending)" : " (no commit pending)") << "\n";
    out << "size class\tpages\tbytes\n";
    uint64_t pages = 0;
    uint64_t bytes = 0;
    for (unsigned k = 1; k <= kMaxSizeClass; ++k) {
        uint32_t start = header.rangeStart(k);
        uint32_t end = header.rangeEnd(k);
        if (end <= start) continue;
        uint64_t count = (end - start) / k;
        out << k << "\t" << count << "\t" << count * k * 256 << "\n";
        pages += count;
        bytes += count * k * 256;
    }
    out << "all\t" << pages << "\t" << bytes << "\n";
    return kSuccess;
}

int listTables(ReadOnlyFile& file, std::ostream& out) {
    out << "table\tnumber\trecords\n";
    for (const TableName& table : file.tables()) {
        CountValues counts;
        bool counted = readCounts(file.pages(), table.number, kRecordTypeData, &counts);
        out << displayName(table.name) << "\t" << numberOf(table.number) << "\t"
            << (counted ? std::to_string(counts.count) : "no count record") << "\n";
    }
    return kSuccess;
}

}  // namespace vellum::filetool
