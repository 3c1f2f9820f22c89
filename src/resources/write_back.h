// Pieces of writing files back that single-resource writes share.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "resources/file_undo.h"
#include "resources/handles.h"

// The largest data offset a reference entry can hold (24 bits, read as signed).
constexpr uint32_t kLargestDataOffset = 0x7FFFFF;

// The resource's data in the form it is stored in: a picture's bitmap file image
// (a new block the caller frees with DisposePointer, *owned true) or a plain
// Handle's bytes (*owned false). False when a picture has no usable bitmap or
// there is no memory. A Handle with no data gives a null block of size 0.
bool StoredForm(Handle h, uint32_t type, const uint8_t **data, uint32_t *size, bool *owned);

// Writes a data block (the byte count, then the data) at offset of file.
bool WriteDataBlock(FileHandle file, uint32_t offset, const uint8_t *data, uint32_t size);
// The same through an undo record.
bool UndoableWriteDataBlock(FileUndo *undo, uint32_t offset, const uint8_t *data, uint32_t size);

// Where to cut a file whose map was rewritten: at the new end of the map when
// the file ended where its old map ended, so that a shorter map leaves nothing
// behind it; 0 (no cut) when the file held bytes beyond its old map, which are
// kept as they were.
uint32_t CutPointAfterMap(const FileUndo &undo, uint32_t oldMapEnd, const uint8_t *map);

// Writes map (slots as 0) at its map offset and then its header copy at offset 0,
// through an undo record.
bool UndoableWriteHeaderAndMap(FileUndo *undo, const uint8_t *map);
// The same for a map block whose handle slots are 0 already, written as it is.
bool UndoableWriteMapImage(FileUndo *undo, const uint8_t *image);
