// The driver entry: the one function the file layer calls for every operation on a Vellum
// table. It serialises engine work, attaches the engine's table object to the control block,
// checks the operation against the state rules, runs it, turns fatal errors into error 90 on a
// poisoned table, keeps the state word and the bookkeeping of the last operations, and posts
// the error to the calling thread's error state.
#pragma once

#include <cstdint>

#include "vellum/control_blocks.h"

namespace vellum {

int32_t driverEntry(int32_t operation, FileControlBlock* block, ArgumentSlot* slots);

// The platform changed the declaration of a block: the next operation rebuilds the table
// object's descriptors.
void markDeclarationChanged(FileControlBlock* block);

// Lets the user choose the table of a closed block through the table chooser (the registration
// object's service for development tools): 0, 37 for an open table, or the chooser's error,
// which is also posted with the block as the error file.
int chooseTableFor(FileControlBlock* block);

}  // namespace vellum
