// Plain blocks, Handles and the handle registry. All memory of the Resource
// Manager and the update code comes from the memory pool through these calls.
//
// A Handle is a pointer to a master pointer, a small block holding the address
// of the data block (null for an empty Handle). The registry remembers the size
// of every Handle made by NewHandle and gives each a 32-bit number; map blocks
// hold those numbers in their handle slots, never addresses.
#pragma once

#include <cstdint>

#include "support/lists.h"

using Handle = uint8_t **;

// MemoryError codes.
constexpr int32_t kNoError = 0;
constexpr int32_t kMemoryFull = -108;     // no memory
constexpr int32_t kMemoryNilFree = -111;  // an attempt to free nothing
// AppendHandle's result when either Handle has size 0 or is unregistered.
constexpr int16_t kAppendEmpty = -114;

// A zero-filled block of size bytes; MemoryError 0, or -108 and null.
void *NewPointer(uint32_t size);
// Returns the block to the pool (MemoryError 0); null sets -111 and frees nothing.
void DisposePointer(void *block);
// The result of the last memory operation.
int32_t MemoryError();

// A Handle with a data block of size bytes (an empty Handle for size <= 0), or
// null with MemoryError -108. When its registry record cannot be made the Handle
// is still returned, unregistered (its size reads 0 and it has no number).
Handle NewHandle(int32_t size);
// Unregisters h and frees its data block and master pointer. Null frees nothing.
void DisposeHandle(Handle h);
// Frees a picture Handle's bitmap block, then the Handle.
void DisposePictureHandle(Handle h);
// The size recorded in the registry; 0 for null or an unregistered Handle.
int32_t GetHandleSize(Handle h);
// Appends source's data to destination's: 0, -114 (a size of 0) or -108.
int16_t AppendHandle(Handle source, Handle destination);
// Callers bracket direct use of a Handle's data with these; they do nothing.
void LockHandle(Handle h);
void UnlockHandle(Handle h);

// Replaces *block (oldSize bytes) by a block count bytes longer with bytes
// inserted at offset. Returns the new block, or null leaving *block as it was.
void *InsertBytes(void **block, const void *bytes, uint32_t oldSize, uint32_t offset,
                  uint32_t count);
// Replaces *block by a block count bytes shorter, without the count bytes at
// offset. Returns the new block, or null (ReportError 10) leaving *block as it was.
void *CutBytes(void **block, uint32_t offset, uint32_t oldSize, uint32_t count);

// The registry. Records are plain blocks from the pool.
struct HandleRecord {
    ListNode link;
    Handle handle;
    int32_t size;
    uint32_t number;  // nonzero, unique while the record lives
    bool inSlot;      // the number was ever put in a handle slot (SlotNumber)
};

// Sets up the registry if it is not set up yet (an empty list).
void StartHandleRegistry();
// The number of a registered Handle; 0 for null or an unregistered Handle.
uint32_t HandleNumber(Handle h);
// The registered Handle with that number; null when there is none.
Handle HandleFromNumber(uint32_t number);
// The number to put in a handle slot for h (as HandleNumber); the registry
// remembers that h may now sit in a slot.
uint32_t SlotNumber(Handle h);
// False when h is null, unregistered, or its number never went into a slot
// through SlotNumber, so that no map can hold it; true otherwise.
bool MayBeInSlot(Handle h);
// Registered Handles, for tests of ownership.
uint32_t RegisteredHandleCount();

// The data of a picture resource's Handle: a rectangle and a device-independent
// bitmap block (information header, colour table, pixel rows).
struct PictureRecord {
    int16_t top;
    int16_t left;
    int16_t bottom;   // the bitmap's height
    int16_t right;    // the bitmap's width
    uint8_t *bitmap;  // block from NewPointer
    uint8_t *bits;    // first pixel byte inside bitmap
};
