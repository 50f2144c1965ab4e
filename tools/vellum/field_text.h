// Fields of a record image as text: type names, and values decoded by type (text from
// Windows-1252 to UTF-8, numbers little-endian, DECIMAL packed with its sign in the first
// half-byte).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "tablestore/table_definition.h"

namespace vellum::filetool {

// Whether a field has a column of its own in a dump: a stored field, not a GROUP (its members
// are shown) and not over another field.
bool isShownField(const FieldDescriptor& field);

// The value of one element of a field in an ANSI record image; bytes beyond the image read as
// zero.
std::string elementText(const FieldDescriptor& field, uint32_t element,
                        std::span<const uint8_t> image);
// All elements of a field, separated by "; " when it has more than one.
std::string fieldText(const FieldDescriptor& field, std::span<const uint8_t> image);

}  // namespace vellum::filetool
