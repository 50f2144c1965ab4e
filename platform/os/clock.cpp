// The monotonic clock in hundredths of a second and a millisecond sleep.
#include <time.h>

#include <cerrno>
#include <chrono>

#include "os/file_system.h"

namespace vellum::os {

namespace {
// Captured during static initialisation, so the clock counts from (about) program start.
const std::chrono::steady_clock::time_point processStart = std::chrono::steady_clock::now();
}  // namespace

uint32_t clockHundredths() {
    auto elapsed = std::chrono::steady_clock::now() - processStart;
    auto hundredths = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() / 10;
    // The counter wraps after about 497 days, as a 32-bit tick count does.
    return static_cast<uint32_t>(hundredths);
}

void sleepMilliseconds(unsigned milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    // A signal cuts the sleep short; go on sleeping for whatever is left.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

}  // namespace vellum::os
