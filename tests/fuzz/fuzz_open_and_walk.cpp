// libFuzzer entry: every input is opened as a table file and walked entry by entry.
#include <cstddef>
#include <cstdint>

#include "fuzz/open_and_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return vellum::fuzz::openAndWalk(data, size);
}
