// The properties of the items of a table (properties.h): fields, memos and BLOBs, keys. A reader
// gives none and a setter gives none when it does not answer the property, so that the caller
// passes it on; otherwise a reader gives the result text and a setter the error code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "vellum/file_layer_services.h"

namespace vellum {

class TableObject;
struct FileControlBlock;
struct KeyDescriptor;

// The platform's decimal conversion: leading digits with an optional sign; 0 without digits.
int32_t decimalNumber(const std::string& text);
// The handle of an object as decimal text, "0" for none.
std::string handleText(const void* object, FileLayerServices::HandleKind kind);

// field counts from 1.
std::optional<std::string> fieldProperty(const TableObject& table, uint32_t field,
                                         int32_t property);
std::optional<int> setFieldProperty(TableObject& table, uint32_t field, int32_t property,
                                    const std::string& value);

// memo counts from 1.
std::optional<std::string> memoProperty(FileControlBlock& block, TableObject& table, uint32_t memo,
                                        int32_t property);
std::optional<int> setMemoProperty(TableObject& table, uint32_t memo, int32_t property,
                                   const std::string& value);

// component counts from 1, 0 for none.
std::optional<std::string> keyProperty(FileControlBlock& block, const KeyDescriptor& key,
                                       int32_t component, int32_t property);

}  // namespace vellum
