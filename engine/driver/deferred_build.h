// The BUILD operations in the driver. BUILDfile, PACK, BUILDkey, BUILDdyn and BUILDdynfilter run
// at once, or, while a build-progress request is pending (state bit 0x8000), are held back as the
// table's pending build and announced to the current window with message 0xB020 (wParam 0,
// lParam the file control block). BUILDevent then runs the pending build with state bit 0x4000
// set: at the table store's progress steps the engine lock is given up for event 0xA241, whose
// non-zero answer cancels the build (93); event 0xA242 with parameter 1 ends it. The builds reach
// the sorter of build_sort.h through the table store's BuildServices. The build-progress request
// itself is set through property 29446 (properties.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vellum {

class TableObject;
struct KeyDescriptor;
struct FileControlBlock;

constexpr uint32_t kDeferredBuildMessage = 0xB020;
constexpr uint32_t kBuildProgressEvent = 0xA241;
constexpr uint32_t kBuildFinishedEvent = 0xA242;

// Runs a build operation, or defers it when the build-progress request is pending (returning 0).
// components is the text of BUILDdyn and BUILDdynfilter, filter the filter of BUILDdynfilter.
int runBuildOperation(FileControlBlock& block, TableObject& table, int operation,
                      KeyDescriptor* key, const std::optional<std::string>& components,
                      const std::optional<std::string>& filter);

// BUILDevent: sets state bit 0x4000 and runs the pending build, if there is one, ending it with
// the finished event. The build's events may have destroyed the table object: the caller reads it
// from the block again and clears the bit there.
int runBuildEvent(FileControlBlock& block, TableObject& table);

// The end of a build with progress events: posts its error, if any, and sends event 0xA242.
void endEventBuild(FileControlBlock& block, int error);

}  // namespace vellum
