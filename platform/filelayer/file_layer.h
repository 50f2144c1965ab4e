// The file layer of our application platform: the per-thread error state that applications
// read as ERRORCODE, FILEERRORCODE and FILEERROR, the string stack that carries text arguments
// into the driver entry and result texts out of it, status records, and the declaration-error
// report. It implements the services the driver entry asks for and installs them.
#pragma once

#include <string>
#include <string_view>

#include "vellum/control_blocks.h"
#include "vellum/file_layer_services.h"

namespace vellum {

struct StatusRecord {
    int accessMode = 0;
};

// The error state of the calling thread.
int errorCode();                    // ERRORCODE: 0 when the last call succeeded
const std::string& fileErrorCode(); // FILEERRORCODE: the driver's own code, as text
const std::string& fileError();     // FILEERROR: the driver's own message
FileControlBlock* errorFile();      // the control block of the last error
void clearErrorState();

// The string stack of the calling thread: texts pushed before a call, and the result text the
// call left (empty when it left none).
void pushText(std::string_view text);
const std::string& resultText();

// Calls the driver entry of a control block: the file layer's single way into a driver. Texts
// must have been pushed; the result text is copied at once.
int32_t callDriver(int32_t operation, FileControlBlock* block, ArgumentSlot* slots);

// Installs the file layer as the engine's platform services (done once, by callDriver too).
void installPlatformFileLayer();

}  // namespace vellum
