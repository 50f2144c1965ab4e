// The driver descriptor and its support lists.
#include "driver/driver_descriptor.h"

#include "driver/driver_entry.h"
#include "driver/registration.h"

namespace vellum {

namespace {

// 73 supported operation codes in their stored order, then 17 supported type codes.
constexpr uint8_t kSupportLists[] = {
    73, 1, 4, 2, 5, 3, 6, 52, 14, 7, 8, 9, 10, 11, 12, 57, 13, 29, 15, 16, 17, 72, 86, 18, 19,
    20, 21, 22, 23, 24, 65, 25, 26, 27, 28, 61, 62, 31, 30, 54, 32, 33, 66, 67, 36, 37, 38, 63,
    64, 40, 60, 41, 42, 43, 44, 47, 45, 46, 71, 85, 48, 49, 56, 50, 58, 34, 75, 76, 77, 78, 79,
    98, 99, 102,
    17, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 18, 19, 20, 21, 27, 22, 24,
};
static_assert(sizeof kSupportLists == 1 + 73 + 1 + 17);

const DriverDescriptor kDescriptor = {
    "VELLUM",
    "VLMDRV.LIB",
    "Vellum table files",
    "Vellum (VLM)",
    &driverEntry,
    0x01BDEFBF,
    {},
    kSupportLists,
    "VLMDRV.DLL",
    &makeRegistrationObject,
};

}  // namespace

const DriverDescriptor& driverDescriptor() { return kDescriptor; }

}  // namespace vellum
