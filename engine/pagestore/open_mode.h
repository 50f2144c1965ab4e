// Open modes of table files: the number passed to open.
//
//   0x003  access: 0 read only, 1 write only, 2 read and write
//   0x070  sharing: 0x10 deny all, 0x20 deny write, 0x30 deny read, 0x40 deny none
//   0x100  open or create through the page store's own open (transaction control files)
//   0x200  with 0x100: always create a new, empty file
//
// A mode below 16 carries no sharing bits and stands for that mode plus 0x40 (deny none).
#pragma once

#include "os/file_system.h"

namespace vellum {

constexpr int kModeAccessMask = 0x03;
constexpr int kModeSharingMask = 0x70;
constexpr int kModeDenyAll = 0x10;
constexpr int kModeDenyWrite = 0x20;
constexpr int kModeDenyRead = 0x30;
constexpr int kModeDenyNone = 0x40;
constexpr int kModeOwnOpen = 0x100;
constexpr int kModeCreateNew = 0x200;

// Adds deny none to a mode below 16.
int normaliseMode(int mode);
// Deny none: other processes may write, so every access is bracketed by a lock.
inline bool isSharedMode(int mode) { return (mode & 0x30) == 0; }
// Deny write: other processes may only read.
inline bool isDenyWriteMode(int mode) { return (mode & 0x30) == kModeDenyWrite; }

// The mode a reopen uses when an open file is asked for a new mode.
int combineModes(int stored, int requested);

// How the operating system is asked to open a file in a mode: through the platform's open of
// an existing file, or (bit 0x100) through the page store's own open that may create it.
os::OpenRequest openRequestFor(int mode);

}  // namespace vellum
