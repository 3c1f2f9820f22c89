// Edits of a map block in memory: adding and removing reference entries with
// their names and type entries. The block keeps its order through every edit:
// the type entries, then the reference runs (each type's entries together), then
// the names. New types go to the end of the type list, a type's first entry
// starts a run behind all other runs, a new entry goes to the end of its type's
// run and a new name to the end of the name list; removal closes the gap and
// keeps the order of the rest. The map length field always equals the block's
// size.
//
// Both edits are all or nothing: they work on a copy of the block and put it in
// *map only when every step succeeded. When they return false, *map is the same
// block with the same bytes as before.
#pragma once

#include <cstdint>

// Adds an entry of (type, id) holding slot and the name (a Str255; length 0 or
// null for none), with the changed attribute and data offset 0. When the type
// already has an entry with that id, that entry is overwritten in place (the
// count stays; its old name goes, the new one is appended). *map may be replaced
// by a bigger block. False when there is no memory, or when the edit would pass
// the limits of the 16-bit fields: a name-list offset beyond 65534 (it is
// always even), a reference run beginning beyond 32764 (run offsets are
// multiples of 4) or a name beginning beyond 32767.
bool AddMapEntry(uint8_t **map, uint32_t type, int16_t id, uint32_t slot, const uint8_t *name);

// Removes the reference entry ref of the type entry typeEntry (as a lookup
// gives them), its name, and the type entry when ref was its last. False when
// there is no memory.
bool RemoveMapEntry(uint8_t **map, uint32_t typeEntry, uint32_t ref);
