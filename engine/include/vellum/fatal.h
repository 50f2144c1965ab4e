// The fatal-error routine. Inconsistencies that a sound file cannot produce abandon the current
// operation: fatal(n) throws FatalError carrying the internal number n and the message, and only
// the driver entry catches it (it then poisons the table). Outside an armed trap a fatal error
// ends the program with the message and the number, as a runtime error report would.
#pragma once

#include <exception>
#include <string>

namespace vellum {

class FatalError : public std::exception {
public:
    FatalError(int number, std::string message);
    int number() const { return number_; }
    // "Possible data corruption in file" when a file was current, else empty.
    const std::string& message() const { return message_; }
    const char* what() const noexcept override { return what_.c_str(); }

private:
    int number_;
    std::string message_;
    std::string what_;
};

[[noreturn]] void fatal(int number);

// Arms the fatal trap of this thread for one operation and names the file the operation works
// on; the previous state comes back when the trap goes out of scope, so nested calls keep the
// outer call's state.
class FatalTrap {
public:
    explicit FatalTrap(std::string currentFile = {});
    ~FatalTrap();
    FatalTrap(const FatalTrap&) = delete;
    FatalTrap& operator=(const FatalTrap&) = delete;

private:
    bool savedArmed_;
    std::string savedFile_;
};

}  // namespace vellum
