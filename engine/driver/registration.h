// The registration object that development tools get from the driver's registration function
// (the last field of the driver descriptor), and the window object that carries the options
// window; the application itself never calls them. Both are reference-counted: made with one
// reference, freed when the last one is released.
#pragma once

#include <atomic>
#include <cstddef>

#include "vellum/control_blocks.h"

namespace vellum {

class CountedObject {
public:
    void addReference() { ++references_; }
    void release() {
        if (--references_ == 0) delete this;
    }

protected:
    virtual ~CountedObject() = default;

private:
    std::atomic<int> references_{1};
};

// Carries the options window; the platform provides it.
class OptionsWindowObject : public CountedObject {
public:
    // Edits a zero-terminated options string in a buffer of length bytes: 1 when the user
    // confirmed and the buffer holds the rebuilt string, 0 when it is unchanged.
    virtual int edit(char* options, size_t length) = 0;
};

// Makes window (nullptr: none) the window object that registration objects made from now on
// offer, with a reference of its own; the one installed before is released.
void installOptionsWindow(OptionsWindowObject* window);

class RegistrationObject : public CountedObject {
public:
    static constexpr int kRegistrationCapability = 1;
    static constexpr int kOptionsWindowCapability = 2;

    RegistrationObject();

    // Whether a numbered capability is offered: 1 always, 2 when a window object carries the
    // options window.
    bool offers(int capability) const;
    // The options window over an options buffer; 0 without a window object.
    int editOptions(char* options, size_t length);
    // The table chooser for a control block (chooseTableFor of the driver entry).
    int chooseTable(FileControlBlock* block);

private:
    ~RegistrationObject() override;

    OptionsWindowObject* window_;
};

// The registration function of the driver descriptor: a new registration object.
void* makeRegistrationObject();

}  // namespace vellum
