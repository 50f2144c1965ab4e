// A field of one of a view's tables, located in that table's record buffer, so that the view can
// copy its bytes into rows, link values and sort records.
#pragma once

#include <cstdint>
#include <string>

#include "filelayer/table.h"

namespace vellum {

struct ViewField {
    Table* table = nullptr;
    const FieldDeclaration* declaration = nullptr;  // its layout, as the table laid it out
    uint32_t size = 0;                              // bytes, over all its elements

    const uint8_t* bytes() const { return table->record() + declaration->offset; }
    uint8_t* bytes() { return table->record() + declaration->offset; }
    std::string text() const;  // its bytes as a string
};

// The field of table labelled label (any letter case); false when there is none.
bool findField(Table& table, const std::string& label, ViewField* out);

// The bytes a declared field takes: its element size times its element count.
uint32_t fieldSize(const FieldDeclaration& field);

}  // namespace vellum
