// Locating a labelled field of a table's record buffer through the table's field list.
#include "view/view_field.h"

namespace vellum {

std::string ViewField::text() const {
    return std::string(reinterpret_cast<const char*>(bytes()), size);
}

uint32_t fieldSize(const FieldDeclaration& field) {
    uint32_t size = field.elementSize;
    for (uint8_t d = 0; d < field.dimensionCount; ++d) size *= field.dimensions[d];
    return size;
}

bool findField(Table& table, const std::string& label, ViewField* out) {
    uint32_t number = table.fieldNumber(label);
    if (number == 0) return false;
    // Entry 0 of the field list is the record itself; field n is entry n.
    const FieldDeclaration& declaration = table.block()->fields[number];
    uint32_t size = fieldSize(declaration);
    if (uint64_t{declaration.offset} + size > table.recordLength()) return false;
    *out = {&table, &declaration, size};
    return true;
}

}  // namespace vellum
