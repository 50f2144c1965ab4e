// The built-in character tables as a collation record.
#include "tablestore/collation.h"

#include <algorithm>

#include "vellum/character_tables.h"

namespace vellum {

std::vector<uint8_t> builtInCollationRecord(bool oem) {
    const CharacterTables& tables = kBuiltInCharacterTables;
    std::vector<uint8_t> record(kCollationRecordSize, 0);
    record[kCollationOemFlag] = oem ? 1 : 0;
    std::copy(tables.weights.begin(), tables.weights.end(),
              record.begin() + kCollationAnsiWeights);
    // The platform has no OEM collating sequence of its own: OEM bytes weigh their value.
    std::copy(tables.weights.begin(), tables.weights.end(),
              record.begin() + kCollationOemWeights);
    std::copy(tables.caseMap.begin(), tables.caseMap.end(), record.begin() + kCollationCaseMap);
    std::copy(tables.classes.begin(), tables.classes.end(), record.begin() + kCollationClasses);
    return record;
}

}  // namespace vellum
