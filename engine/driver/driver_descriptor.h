// The driver descriptor: a static record naming the driver and what it supports, whose handle
// SEND "REGISTER" gives out and whose fields some properties read.
#pragma once

#include <cstdint>

#include "vellum/control_blocks.h"

namespace vellum {

struct DriverDescriptor {
    char name[21];                 // "VELLUM"
    char libraryName[13];
    char unreadText[41];
    char description[31];          // "Vellum (VLM)"
    DriverEntryFunction entry;
    uint32_t capabilities;         // 0x01BDEFBF
    uint8_t limits[56];            // not consulted by the engine
    const uint8_t* supportLists;   // count and operation codes, then count and type codes
    char secondLibraryName[13];
    void* (*registration)();       // the registration object for development tools
};

const DriverDescriptor& driverDescriptor();

}  // namespace vellum
