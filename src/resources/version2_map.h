// Resource maps of layout 1100 built in memory: the map of a layout-1000 file is
// rewritten in this form before the file is brought to layout 1500. The block
// grows one entry at a time and keeps every offset in it consistent:
// map length = end of the reference entries = 34 + 10 x types + 78 x references.
//
// Entries are named by their byte offset inside the block (0 means none).
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr uint32_t kV2MapHeaderSize = 34;
constexpr uint32_t kV2TypeEntrySize = 10;
constexpr uint32_t kV2RefEntrySize = 78;
constexpr uint32_t kV2TypeListOffset = 34;

// Layout-1100 map header fields.
constexpr uint32_t kV2TypeListField = 24;   // u32
constexpr uint32_t kV2RefsEndField = 28;    // u32
constexpr uint32_t kV2TypeCountField = 32;  // i16, count minus one

// Reference entry fields (layouts 1100 and 1000 alike).
constexpr uint32_t kOldRefName = 4;  // length byte and up to 63 characters
constexpr uint32_t kOldRefAttributes = 68;
constexpr uint32_t kOldRefDataOffset = 70;
constexpr uint32_t kOldRefSlot = 74;
constexpr uint8_t kOldNameLimit = 63;

// Reads the layout-1000 map of the open file and rewrites it as a layout-1100
// map block (from NewPointer; the caller frees it). Null when the file cannot be
// read, its map is damaged, or there is no memory.
uint8_t *BuildVersion2Map(FileHandle file);

// The type entry of type, found or appended (with no references). 0 when the
// block cannot grow; *map is then as it was.
uint32_t AddVersion2Type(uint8_t **map, uint32_t type);
// Adds a reference of *typeEntry (found again after the block grew), or replaces
// the entry of the same id. The name is a Str255 cut to 63 characters; the
// attributes word holds the changed attribute and the data offset 0 until the
// caller sets them. 0 when the block cannot grow; *map is then as it was.
uint32_t AddVersion2Reference(uint8_t **map, uint32_t *typeEntry, int16_t id, uint32_t slot,
                              const uint8_t *name);
// The same, where search false tells that the type holds no entry of id yet,
// so that none is looked for.
uint32_t AddVersion2ReferenceOf(uint8_t **map, uint32_t *typeEntry, int16_t id, uint32_t slot,
                                const uint8_t *name, bool search);
// Adds amount to the reference offset of every type entry whose offset is at
// least position.
void ShiftReferenceOffsets(uint8_t *map, uint32_t position, uint32_t amount);
uint32_t FindVersion2Type(const uint8_t *map, uint32_t type);
uint32_t FindVersion2Reference(const uint8_t *map, uint32_t typeEntry, int16_t id);
