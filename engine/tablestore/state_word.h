// The bits of a table object's state word, which the driver entry keeps by the operation state
// rules and the table store reads where an operation depends on them:
//   0x0001 open                      0x0100 (in masks only) the key must be built
//   0x0002 current record            0x0200 WATCH armed
//   0x0004 LOGOUT active             0x0400 current record read under WATCH
//   0x0008 STREAM active             0x0800 HOLD armed
//   0x0010 locked by LOCK            0x1000 current record held
//   0x0020 sequence set              0x2000 sequence set and undisturbed
//   0x0040 write access              0x4000 a build with progress events runs
//   0x0080 exclusive access          0x8000 build-progress request pending
#pragma once

#include <cstdint>

namespace vellum {

enum StateBit : uint32_t {
    kStateOpen = 0x0001,
    kStateCurrentRecord = 0x0002,
    kStateLogout = 0x0004,
    kStateStream = 0x0008,
    kStateLocked = 0x0010,
    kStateSequenceSet = 0x0020,
    kStateWriteAccess = 0x0040,
    kStateExclusive = 0x0080,
    kStateKeyBuilt = 0x0100,
    kStateWatchArmed = 0x0200,
    kStateWatched = 0x0400,
    kStateHoldArmed = 0x0800,
    kStateHeld = 0x1000,
    kStateSequenceUndisturbed = 0x2000,
    kStateEventBuild = 0x4000,
    kStateBuildRequest = 0x8000,
};

}  // namespace vellum
