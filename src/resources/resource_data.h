// Reading one resource's data from its file into a Handle.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "resources/handles.h"

// Finds the data block of the reference entry ref of map, read from the open
// file: *at receives the file offset of its data (behind the byte count) and
// *count the byte count. False when the offset is negative, the block does not
// lie inside the data area, or the count cannot be read.
bool LocateDataBlock(FileHandle file, const uint8_t *map, uint32_t ref, uint32_t *at,
                     uint32_t *count);

// Loads the data of the reference entry ref (of the given type) of map, a map
// block read from the open file. The data block lies at the file's data offset
// plus the entry's data offset: a 32-bit byte count and that many bytes, all
// inside the data area. Picture types give a PictureRecord Handle. Null when the
// offset is negative, the block runs past the data area, the count is 0, a read
// fails, a picture is not a bitmap image, or there is no memory (also when the
// Handle cannot be registered, since only registered Handles go into slots).
//
// A block whose data runs to the next entry's block, as blocks laid down one
// behind the other do, is read with its byte count in one read when it is small
// enough that copying it costs less than a second read; any other block takes
// two, as does one that proves longer than that.
Handle LoadResourceData(FileHandle file, const uint8_t *map, uint32_t type, uint32_t ref);
