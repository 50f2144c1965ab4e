// The registration object and the installed window object of the options window.
#include "driver/registration.h"

#include <mutex>

#include "driver/driver_entry.h"

namespace vellum {

namespace {

std::mutex installedMutex;
OptionsWindowObject* installedWindow = nullptr;

}  // namespace

void installOptionsWindow(OptionsWindowObject* window) {
    if (window != nullptr) window->addReference();
    OptionsWindowObject* previous;
    {
        std::lock_guard<std::mutex> hold(installedMutex);
        previous = installedWindow;
        installedWindow = window;
    }
    if (previous != nullptr) previous->release();
}

RegistrationObject::RegistrationObject() {
    std::lock_guard<std::mutex> hold(installedMutex);
    window_ = installedWindow;
    if (window_ != nullptr) window_->addReference();
}

RegistrationObject::~RegistrationObject() {
    if (window_ != nullptr) window_->release();
}

bool RegistrationObject::offers(int capability) const {
    return capability == kRegistrationCapability ||
           (capability == kOptionsWindowCapability && window_ != nullptr);
}

int RegistrationObject::editOptions(char* options, size_t length) {
    return window_ != nullptr ? window_->edit(options, length) : 0;
}

int RegistrationObject::chooseTable(FileControlBlock* block) { return chooseTableFor(block); }

void* makeRegistrationObject() { return new RegistrationObject(); }

}  // namespace vellum
