// The built-in character tables as a collation record.
#include "tablestore/collation.h"

namespace vellum {

std::vector<uint8_t> builtInCollationRecord(bool oem) {
    std::vector<uint8_t> record(kCollationRecordSize, 0);
    record[0] = oem ? 1 : 0;
    uint8_t* ansiWeights = record.data() + 1;
    uint8_t* oemWeights = ansiWeights + 256;
    uint8_t* caseMap = oemWeights + 256;
    uint8_t* classes = caseMap + 256;
    for (unsigned c = 0; c < 256; ++c) {
        ansiWeights[c] = oemWeights[c] = caseMap[c] = static_cast<uint8_t>(c);
        if (c >= 'A' && c <= 'Z') {
            caseMap[c] = static_cast<uint8_t>(c - 'A' + 'a');
            classes[c] = 0x01;
        } else if (c >= 'a' && c <= 'z') {
            caseMap[c] = static_cast<uint8_t>(c - 'a' + 'A');
            classes[c] = 0x02;
        } else if (c >= '0' && c <= '9') {
            classes[c] = 0x04;
        }
    }
    return record;
}

}  // namespace vellum
