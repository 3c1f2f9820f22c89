#include "resources/map_edit.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "resources/handles.h"
#include "resources/map_block.h"
#include "support/memory_pool.h"

namespace {

// The largest values the 16-bit offset fields can take. A name offset is any
// signed 16-bit value; a run offset is 8 x types + 12 x entries, so a multiple
// of 4; the unsigned name-list offset is 30 more than that, so even. The
// name-list offset also bounds the counts: 65534 bytes hold far fewer than the
// 32768 types or entries of a type that a count-minus-one field can hold.
constexpr int32_t kMaxNameOffset = 0x7FFF;
constexpr int32_t kMaxRunOffset = 0x7FFC;
constexpr int32_t kMaxNameListOffset = 0xFFFE;

// From this size on a map grows in place, in a block with room to spare, rather
// than through a copy: an addition then costs the bytes behind its place, not
// the whole map, and a map built one entry at a time moves to a bigger block
// only a logarithmic number of times. A smaller map is copied whole.
constexpr uint32_t kGrowInPlaceFrom = 4096;
// The most an addition adds: a type entry, a reference entry and a name.
constexpr uint32_t kLargestAddition = kTypeEntrySize + kRefEntrySize + 256;

// A map block under edit: a copy, or with inPlace the block itself, which then
// has room for kLargestAddition more bytes. size always equals the block's map
// length field; a copy's block changes with every insertion or cut.
struct MapCopy {
    uint8_t *block;
    uint32_t size;
    bool inPlace = false;
};

bool StartCopy(const uint8_t *map, MapCopy *copy) {
    copy->size = MapLength(map);
    copy->block = CopyMapBlock(map);
    return copy->block != nullptr;
}

// Puts the finished copy in place of the original block.
void FinishCopy(MapCopy *copy, uint8_t **map) {
    DisposePointer(*map);
    *map = copy->block;
}

bool AbandonCopy(MapCopy *copy) {
    // An addition in place was proven to fit before it began, so it is never
    // abandoned.
    if (!copy->inPlace) DisposePointer(copy->block);
    return false;
}

bool Insert(MapCopy *copy, uint32_t offset, const void *bytes, uint32_t count) {
    if (copy->inPlace) {
        uint8_t *at = copy->block + offset;
        std::memmove(at + count, at, copy->size - offset);
        if (bytes != nullptr) {
            std::memcpy(at, bytes, count);
        } else {
            std::memset(at, 0, count);
        }
        copy->size += count;
        SetMapLength(copy->block, copy->size);
        return true;
    }
    void *block = copy->block;
    if (InsertBytes(&block, bytes, copy->size, offset, count) == nullptr) return false;
    copy->block = static_cast<uint8_t *>(block);
    copy->size += count;
    SetMapLength(copy->block, copy->size);
    return true;
}

bool Cut(MapCopy *copy, uint32_t offset, uint32_t count) {
    if (copy->inPlace) {
        uint8_t *at = copy->block + offset;
        std::memmove(at, at + count, copy->size - offset - count);
        copy->size -= count;
        SetMapLength(copy->block, copy->size);
        return true;
    }
    void *block = copy->block;
    if (CutBytes(&block, offset, copy->size, count) == nullptr) return false;
    copy->block = static_cast<uint8_t *>(block);
    copy->size -= count;
    SetMapLength(copy->block, copy->size);
    return true;
}

// Moves the name list by delta bytes; false when it would pass the field's
// limit. A removal moves it back by the size of what went, so it stays behind
// the type list.
bool MoveNameList(uint8_t *map, int32_t delta) {
    int32_t moved = static_cast<int32_t>(MapNameListOffset(map)) + delta;
    if (moved > kMaxNameListOffset) return false;
    SetMapNameListOffset(map, static_cast<uint16_t>(moved));
    return true;
}

// Adds delta to the reference-list offset of every type entry whose offset is at
// least from. False when a type that has entries would get a run beyond the
// reach of its signed field.
bool ShiftRuns(uint8_t *map, int32_t from, int32_t delta) {
    bool fits = true;
    uint32_t types = MapTypeCount(map);
    for (uint32_t t = 0; t < types; ++t) {
        uint32_t typeEntry = TypeEntryAt(t);
        int32_t offset = TypeRefListOffset(map, typeEntry);
        if (offset < from) continue;
        int32_t shifted = offset + delta;
        if (TypeRefCount(map, typeEntry) > 0 && shifted > kMaxRunOffset) fits = false;
        SetTypeRefListOffset(map, typeEntry, static_cast<int16_t>(shifted));
    }
    return fits;
}

// Cuts the name of ref out of the name list and closes the gap in the name
// offsets of every entry behind it.
bool RemoveName(MapCopy *copy, uint32_t ref) {
    int16_t at = RefNameOffset(copy->block, ref);
    uint32_t start = MapNameListOffset(copy->block) + static_cast<uint32_t>(at);
    uint32_t length = 1u + copy->block[start];
    if (!Cut(copy, start, length)) return false;
    uint8_t *map = copy->block;
    ForEachReference(map, [&](uint32_t, uint32_t other) {
        int16_t offset = RefNameOffset(map, other);
        if (offset > at) SetRefNameOffset(map, other, static_cast<int16_t>(offset - length));
        return true;
    });
    return true;
}

// Appends name at the end of the name list and gives its offset in the list.
bool AppendName(MapCopy *copy, const uint8_t *name, int16_t *offset) {
    uint32_t length = 1u + name[0];
    int32_t at = static_cast<int32_t>(copy->size - MapNameListOffset(copy->block));
    if (at > kMaxNameOffset || !Insert(copy, copy->size, name, length)) return false;
    *offset = static_cast<int16_t>(at);
    return true;
}

// Gives the entry about to hold the new name (ref, or 0 for a new entry) its
// name: an unchanged name keeps its place, a different one replaces the old name
// at the end of the list, an empty one leaves the entry without a name.
bool SetName(MapCopy *copy, uint32_t ref, const uint8_t *name, int16_t *offset) {
    const uint8_t *own = ref != 0 ? RefName(copy->block, ref) : nullptr;
    bool empty = name[0] == 0;
    if (own != nullptr) {
        if (!empty && own[0] == name[0] && std::memcmp(own + 1, name + 1, name[0]) == 0) {
            *offset = RefNameOffset(copy->block, ref);
            return true;
        }
        if (!RemoveName(copy, ref)) return false;
    }
    if (empty) {
        *offset = kNoName;
        return true;
    }
    return AppendName(copy, name, offset);
}

// Appends an empty type entry for type to the type list.
bool AddTypeEntry(MapCopy *copy, uint32_t type, uint32_t *typeEntry) {
    uint32_t types = MapTypeCount(copy->block);
    uint32_t at = TypeEntryAt(types);
    uint8_t entry[kTypeEntrySize];
    StoreU32(entry, type);
    StoreI16(entry + 4, -1);
    StoreI16(entry + 6, 0);
    if (!Insert(copy, at, entry, kTypeEntrySize)) return false;
    SetMapTypeCount(copy->block, types + 1);
    if (!MoveNameList(copy->block, kTypeEntrySize)) return false;
    if (!ShiftRuns(copy->block, INT32_MIN, kTypeEntrySize)) return false;
    *typeEntry = at;
    return true;
}

// Starts the run of a type without entries at the start of the name list, so
// that it lies behind every other run.
bool AddFirstReference(MapCopy *copy, uint32_t typeEntry, const uint8_t *name, uint32_t *ref,
                       int16_t *nameOffset) {
    if (!SetName(copy, 0, name, nameOffset)) return false;
    uint32_t nameList = MapNameListOffset(copy->block);
    int32_t runOffset = static_cast<int32_t>(nameList - kTypeListOffset);
    if (runOffset > kMaxRunOffset) return false;
    SetTypeRefListOffset(copy->block, typeEntry, static_cast<int16_t>(runOffset));
    if (!Insert(copy, nameList, nullptr, kRefEntrySize)) return false;
    SetTypeRefCount(copy->block, typeEntry, 1);
    // The name list starts at most 30 + 32764 bytes in, so this move stays in range.
    MoveNameList(copy->block, kRefEntrySize);
    *ref = nameList;
    return true;
}

// Finds the entry of id in the type's run, or puts a new one at the run's end
// and moves the runs behind it.
bool AddLaterReference(MapCopy *copy, uint32_t typeEntry, int16_t id, const uint8_t *name,
                       uint32_t *ref, int16_t *nameOffset) {
    uint32_t existing = FindReferenceById(copy->block, typeEntry, id);
    if (!SetName(copy, existing, name, nameOffset)) return false;
    if (existing != 0) {
        *ref = existing;
        return true;
    }
    uint32_t count = TypeRefCount(copy->block, typeEntry);
    int32_t end =
        TypeRefListOffset(copy->block, typeEntry) + static_cast<int32_t>(kRefEntrySize * count);
    uint32_t at = kTypeListOffset + static_cast<uint32_t>(end);
    if (!Insert(copy, at, nullptr, kRefEntrySize)) return false;
    SetTypeRefCount(copy->block, typeEntry, count + 1);
    if (!ShiftRuns(copy->block, end, kRefEntrySize)) return false;
    if (!MoveNameList(copy->block, kRefEntrySize)) return false;
    *ref = at;
    return true;
}

void FillReference(uint8_t *map, uint32_t ref, int16_t id, int16_t nameOffset, uint32_t slot) {
    StoreI16(map + ref, id);
    SetRefNameOffset(map, ref, nameOffset);
    StoreU32(map + ref + 4, static_cast<uint32_t>(kAttrChanged) << 24);
    SetRefSlot(map, ref, slot);
}

// Whether an addition to map can make no step pass the limits of the 16-bit
// fields, whatever it turns out to be: the name list moves by at most a type
// and a reference entry, every run by as much, and a new name begins no later
// than the names end now.
bool AdditionFits(const uint8_t *map) {
    int32_t nameList = MapNameListOffset(map);
    int32_t names = static_cast<int32_t>(MapLength(map)) - nameList;
    int32_t growth = static_cast<int32_t>(kTypeEntrySize + kRefEntrySize);
    int32_t lastRun = nameList + static_cast<int32_t>(kTypeEntrySize - kTypeListOffset);
    uint32_t types = MapTypeCount(map);
    for (uint32_t t = 0; t < types; ++t) {
        uint32_t typeEntry = TypeEntryAt(t);
        if (TypeRefCount(map, typeEntry) > 0) {
            lastRun = std::max<int32_t>(lastRun, TypeRefListOffset(map, typeEntry) + growth);
        }
    }
    return nameList + growth <= kMaxNameListOffset && names <= kMaxNameOffset &&
           lastRun <= kMaxRunOffset;
}

// Starts an addition on a large map in place. False, with *map untouched, when
// the map is small, an addition might not fit, or there is no memory for a
// bigger block; *noMemory tells the last.
bool StartInPlace(uint8_t **map, MapCopy *copy, bool *noMemory) {
    *noMemory = false;
    uint32_t size = MapLength(*map);
    if (size < kGrowInPlaceFrom || !AdditionFits(*map)) return false;
    if (MemoryPoolBlockSize(*map) < size + kLargestAddition) {
        auto *bigger = static_cast<uint8_t *>(NewPointer(2 * size + kLargestAddition));
        if (bigger == nullptr) {
            *noMemory = true;
            return false;
        }
        std::memcpy(bigger, *map, size);
        DisposePointer(*map);
        *map = bigger;
    }
    *copy = {*map, size, true};
    return true;
}

}  // namespace

bool AddMapEntry(uint8_t **map, uint32_t type, int16_t id, uint32_t slot, const uint8_t *name) {
    static const uint8_t kEmptyName[1] = {0};
    if (name == nullptr) name = kEmptyName;
    MapCopy copy;
    bool noMemory = false;
    if (!StartInPlace(map, &copy, &noMemory) && (noMemory || !StartCopy(*map, &copy))) {
        return false;
    }
    uint32_t typeEntry = FindType(copy.block, type);
    if (typeEntry == 0 && !AddTypeEntry(&copy, type, &typeEntry)) return AbandonCopy(&copy);
    uint32_t ref = 0;
    int16_t nameOffset = kNoName;
    bool added = TypeRefCount(copy.block, typeEntry) == 0
                     ? AddFirstReference(&copy, typeEntry, name, &ref, &nameOffset)
                     : AddLaterReference(&copy, typeEntry, id, name, &ref, &nameOffset);
    if (!added) return AbandonCopy(&copy);
    FillReference(copy.block, ref, id, nameOffset, slot);
    if (!copy.inPlace) FinishCopy(&copy, map);
    return true;
}

bool RemoveMapEntry(uint8_t **map, uint32_t typeEntry, uint32_t ref) {
    MapCopy copy;
    if (!StartCopy(*map, &copy)) return false;
    if (RefName(copy.block, ref) != nullptr && !RemoveName(&copy, ref)) {
        return AbandonCopy(&copy);
    }
    if (!Cut(&copy, ref, kRefEntrySize)) return AbandonCopy(&copy);
    ShiftRuns(copy.block, static_cast<int32_t>(ref - kTypeListOffset) + 1,
              -static_cast<int32_t>(kRefEntrySize));
    MoveNameList(copy.block, -static_cast<int32_t>(kRefEntrySize));
    uint32_t left = TypeRefCount(copy.block, typeEntry) - 1;
    SetTypeRefCount(copy.block, typeEntry, left);
    if (left == 0) {
        uint32_t types = MapTypeCount(copy.block);
        if (!Cut(&copy, typeEntry, kTypeEntrySize)) return AbandonCopy(&copy);
        MoveNameList(copy.block, -static_cast<int32_t>(kTypeEntrySize));
        SetMapTypeCount(copy.block, types - 1);
        ShiftRuns(copy.block, static_cast<int32_t>(typeEntry - kTypeListOffset) + 1,
                  -static_cast<int32_t>(kTypeEntrySize));
    }
    FinishCopy(&copy, map);
    return true;
}
