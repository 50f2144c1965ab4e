// The property operations of the driver entry: SET_PROPERTY and GET_PROPERTY (index 0 the table,
// n > 0 field n, -n memo n), BLOB_SET_PROP and BLOB_GET_PROP (memo n), and GETPROPERTYkey. The
// driver answers what concerns the declaration, the driver and the table object's state; a
// property it does not answer goes to the table store (full rebuild 29232, the BLOB properties
// Touched, Size and Handle), and one nobody answers reads as an empty text and sets nothing.
// Property numbers and numeric values are decimal texts (leading digits, optional sign).
// Control blocks, the record buffer and the field list are given out as handles of the file
// layer, never as addresses.
#pragma once

#include <cstdint>
#include <string>

namespace vellum {

class TableObject;
struct FileControlBlock;
struct KeyDescriptor;

int setProperty(TableObject& table, int32_t index, const std::string& property,
                const std::string& value);
// Whether SET_PROPERTY hands the control block to another driver (table property 29519). The
// driver entry answers it: 52 on an open table, else it destroys the table object and passes
// the block and the value's number to the file layer.
bool isDriverChange(int32_t index, const std::string& property);
int getProperty(FileControlBlock& block, TableObject& table, int32_t index,
                const std::string& property, std::string* result);
// memo counts from 1.
int setBlobProperty(TableObject& table, uint32_t memo, const std::string& property,
                    const std::string& value);
int getBlobProperty(FileControlBlock& block, TableObject& table, uint32_t memo,
                    const std::string& property, std::string* result);
// component counts from 1, 0 for none.
int getKeyProperty(FileControlBlock& block, const KeyDescriptor& key, int32_t component,
                   const std::string& property, std::string* result);

// Forgets the handles the properties gave out for a control block and its table object, before
// the table object goes or its descriptors are rebuilt.
void dropPropertyHandles(FileControlBlock& block);

}  // namespace vellum
