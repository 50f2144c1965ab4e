// Handles: the decimal numbers under which the file layer hands out objects that applications
// name back as text (the driver descriptor, lists of table names, saved states, BLOBs). A text
// that names no registered handle of the expected kind resolves to nothing, so no text can make
// the engine touch memory it did not hand out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vellum/file_layer_services.h"

namespace vellum {

using HandleKind = FileLayerServices::HandleKind;

// The handle of an object, registering it under a new number when it has none.
std::string handleOf(const void* object, HandleKind kind);
// The object a text names, or nullptr: the text must be a decimal number, nothing else.
void* objectOf(std::string_view text, HandleKind kind);
void dropHandle(const void* object);

// A list of texts an application hands to the engine by handle (the table names of a file).
struct TextList {
    std::vector<std::string> items;
};

}  // namespace vellum
