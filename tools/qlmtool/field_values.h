// CSV values in the fields of a record buffer. STRING fields hold the text in Windows-1252 and
// show it as UTF-8; LONG and DECIMAL fields (without decimal places) hold whole numbers, an
// empty value storing 0.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "filelayer/table.h"

namespace vellum::qlmtool {

// Stores a UTF-8 value in field (a number from 1) of table's record buffer; an empty string
// on success, else what keeps the value out: a character without a Windows-1252 counterpart, a
// text longer than the field (trailing blanks not counted), a number that is none or does not
// fit.
std::string storeValue(Table& table, uint32_t field, const FieldSpec& declared,
                       std::string_view utf8);

// The field as a CSV value: text in UTF-8 without trailing blanks, or the number in decimal.
std::string fieldValue(const Table& table, uint32_t field, const FieldSpec& declared);

}  // namespace vellum::qlmtool
