// Saved states of a table. GETSTATE takes a snapshot of a table object's state (record buffer,
// memo buffers and, when asked, BLOB contents, open state and mode, the driver entry's state word and bookkeeping, and the
// position strings of where the sequence stood), handed out as a handle of the file layer.
// RESTORESTATE brings a snapshot back by issuing the file layer's statements on the control
// block, which come back into the driver entry; FREESTATE discards it. The resync step that a
// restored sequence leaves for the next NEXT, PREVIOUS or SKIP issues statements the same way.
#pragma once

#include <cstdint>

namespace vellum {

class TableObject;
struct FileControlBlock;
struct KeyControlBlock;
struct KeyDescriptor;

// GETSTATE: a new snapshot of the table's state, with a copy of every BLOB's content when
// withBlobs is set; its handle.
uint32_t saveState(TableObject& table, bool withBlobs);

// RESTORESTATE: re-establishes the state of the snapshot with the handle. With snapshotBuffers
// the record buffer and memos come back from the snapshot, otherwise they keep their current
// content. 47 for a handle that names no snapshot of this control block; else the result of
// reading the saved record again (35 when the saved record is no longer where it was).
int restoreState(FileControlBlock& block, uint32_t handle, bool snapshotBuffers);

// FREESTATE: discards the snapshot with the handle; a handle that names none is ignored.
void freeState(uint32_t handle);

// The resync step of NEXT, PREVIOUS and SKIP while a resync position is pending: RESET to the
// position, read there (NEXT for NEXT, else PREVIOUS), and when another record was read, RESET
// to that one. 0 or the error that ends the call.
int resyncSequence(FileControlBlock& block, int operation);

// The key control block of a key descriptor in the block's key list; none for none.
KeyControlBlock* keyControlBlockOf(const FileControlBlock& block, const KeyDescriptor* key);

}  // namespace vellum
