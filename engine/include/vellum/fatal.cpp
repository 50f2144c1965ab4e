// The per-thread fatal trap and the fatal-error routine.
#include "vellum/fatal.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace vellum {

namespace {
struct TrapState {
    bool armed = false;
    std::string currentFile;
};
thread_local TrapState trap;
}  // namespace

FatalError::FatalError(int number, std::string message)
    : number_(number), message_(std::move(message)) {
    what_ = (message_.empty() ? std::string("Vellum File Driver Error") : message_) + " (" +
            std::to_string(number_) + ")";
}

void fatal(int number) {
    std::string message = trap.currentFile.empty() ? std::string()
                                                   : std::string("Possible data corruption in file");
    if (trap.armed) throw FatalError(number, std::move(message));
    std::fprintf(stderr, "%s (%d)\n", message.c_str(), number);
    std::abort();
}

FatalTrap::FatalTrap(std::string currentFile)
    : savedArmed_(trap.armed), savedFile_(std::move(trap.currentFile)) {
    trap.armed = true;
    trap.currentFile = std::move(currentFile);
}

FatalTrap::~FatalTrap() {
    trap.armed = savedArmed_;
    trap.currentFile = std::move(savedFile_);
}

}  // namespace vellum
