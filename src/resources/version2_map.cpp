#include "resources/version2_map.h"

#include <algorithm>
#include <cstring>

#include "resources/handles.h"
#include "resources/resource_format.h"
#include "support/byte_order.h"
#include "support/memory_pool.h"

namespace {

// Layout-1000 map: a 30-byte header with a 16-bit type-list offset at 24 and
// the type count minus one at 28; 8-byte type entries with a 16-bit reference
// offset; 78-byte reference entries.
constexpr uint32_t kOldMapHeaderSize = 30;
constexpr uint32_t kOldTypeListField = 24;
constexpr uint32_t kOldTypeCountField = 28;
constexpr uint32_t kOldTypeEntrySize = 8;

uint32_t Length(const uint8_t *map) {
    return LoadU32(map + 12);
}
uint32_t TypeCount(const uint8_t *map) {
    return static_cast<uint32_t>(LoadI16(map + kV2TypeCountField) + 1);
}
uint32_t RefCount(const uint8_t *map, uint32_t typeEntry) {
    return static_cast<uint32_t>(LoadI16(map + typeEntry + 4) + 1);
}
uint32_t RefOffset(const uint8_t *map, uint32_t typeEntry) {
    return LoadU32(map + typeEntry + 6);
}
uint32_t RefsEnd(const uint8_t *map) {
    return LoadU32(map + kV2RefsEndField);
}

// Grows the block by count bytes inserted at offset and raises the map length
// and the end of the references by count. The block is allocated with room to
// spare, twice what it holds, so that a map built one entry at a time is moved
// to a bigger block only a logarithmic number of times.
bool Grow(uint8_t **map, const uint8_t *bytes, uint32_t offset, uint32_t count) {
    uint32_t length = Length(*map);
    if (offset > length || uint64_t{length} + count > MemoryPoolMaxBlock) return false;
    uint32_t needed = length + count;
    if (needed > MemoryPoolBlockSize(*map)) {
        uint32_t room = needed <= MemoryPoolMaxBlock / 2 ? 2 * needed : needed;
        auto *bigger = static_cast<uint8_t *>(NewPointer(room));
        if (bigger == nullptr) return false;
        std::memcpy(bigger, *map, length);
        DisposePointer(*map);
        *map = bigger;
    }
    std::memmove(*map + offset + count, *map + offset, length - offset);
    std::memcpy(*map + offset, bytes, count);
    StoreU32(*map + 12, length + count);
    StoreU32(*map + kV2RefsEndField, RefsEnd(*map) + count);
    return true;
}

uint8_t *NewEmptyMap(const uint8_t *oldMap) {
    auto *map = static_cast<uint8_t *>(NewPointer(kV2MapHeaderSize));
    if (map == nullptr) return nullptr;
    std::memcpy(map, oldMap, 12);           // data offset, map offset, data length
    StoreU32(map + 12, kV2MapHeaderSize);   // map length
    std::memcpy(map + 16, oldMap + 16, 8);  // reserved fields
    StoreU32(map + kV2TypeListField, kV2TypeListOffset);
    StoreU32(map + kV2RefsEndField, kV2MapHeaderSize);
    StoreI16(map + kV2TypeCountField, -1);
    return map;
}

// The old map's type count, or -1 when its type list or any reference run does
// not lie inside it. The offset of a type without references is never used.
int32_t CheckOldMap(const uint8_t *old, uint32_t length, uint32_t *refs) {
    if (length < kOldMapHeaderSize) return -1;
    int16_t countMinusOne = LoadI16(old + kOldTypeCountField);
    if (countMinusOne < -1) return -1;
    uint32_t types = static_cast<uint32_t>(countMinusOne + 1);
    uint32_t typeList = LoadU16(old + kOldTypeListField);
    if (!RangeInside(typeList, uint64_t{kOldTypeEntrySize} * types, length)) return -1;
    for (uint32_t t = 0; t < types; ++t) {
        const uint8_t *entry = old + typeList + kOldTypeEntrySize * t;
        int16_t refsMinusOne = LoadI16(entry + 4);
        if (refsMinusOne < -1) return -1;
        if (refsMinusOne == -1) continue;
        *refs += static_cast<uint32_t>(refsMinusOne + 1);
        uint64_t run = uint64_t{kV2RefEntrySize} * static_cast<uint32_t>(refsMinusOne + 1);
        if (!RangeInside(uint64_t{typeList} + LoadU16(entry + 6), run, length)) return -1;
    }
    return static_cast<int32_t>(types);
}

// For every reference entry of the old map, in the order of the build, whether
// an earlier entry had the same type and id (so that the new map holds it
// already). A block of one byte per entry from NewPointer, or null when there
// is no memory.
uint8_t *RepeatedEntries(const uint8_t *old, uint32_t types, uint32_t typeList, uint32_t refs) {
    struct Key {
        uint32_t type;
        int32_t id;
        uint32_t sequence;
    };
    auto *keys = static_cast<Key *>(NewPointer(refs * uint32_t{sizeof(Key)}));
    auto *repeated = static_cast<uint8_t *>(NewPointer(refs));
    if (keys == nullptr || repeated == nullptr) {
        if (keys != nullptr) DisposePointer(keys);
        if (repeated != nullptr) DisposePointer(repeated);
        return nullptr;
    }
    uint32_t sequence = 0;
    for (uint32_t t = 0; t < types; ++t) {
        const uint8_t *typeEntry = old + typeList + kOldTypeEntrySize * t;
        uint32_t count = static_cast<uint32_t>(LoadI16(typeEntry + 4) + 1);
        const uint8_t *run = old + typeList + LoadU16(typeEntry + 6);
        for (uint32_t i = 0; i < count; ++i, ++sequence)
            keys[sequence] = {LoadU32(typeEntry), LoadI16(run + kV2RefEntrySize * i), sequence};
    }
    std::sort(keys, keys + refs, [](const Key &a, const Key &b) {
        if (a.type != b.type) return a.type < b.type;
        return a.id != b.id ? a.id < b.id : a.sequence < b.sequence;
    });
    for (uint32_t i = 1; i < refs; ++i) {
        repeated[keys[i].sequence] =
            keys[i].type == keys[i - 1].type && keys[i].id == keys[i - 1].id;
    }
    DisposePointer(keys);
    return repeated;
}

// Copies the old entries of one type into the new map. repeated (or null: look
// every id up) tells, from *sequence on, which entries repeat an earlier type
// and id; the others are appended without a search.
bool CopyOldType(uint8_t **map, const uint8_t *old, const uint8_t *typeEntry, uint32_t typeList,
                 const uint8_t *repeated, uint32_t *sequence) {
    uint32_t newType = AddVersion2Type(map, LoadU32(typeEntry));
    if (newType == 0) return false;
    uint32_t count = static_cast<uint32_t>(LoadI16(typeEntry + 4) + 1);
    const uint8_t *run = old + typeList + LoadU16(typeEntry + 6);
    for (uint32_t i = 0; i < count; ++i, ++*sequence) {
        const uint8_t *entry = run + kV2RefEntrySize * i;
        bool search = repeated == nullptr || repeated[*sequence] != 0;
        uint32_t ref =
            AddVersion2ReferenceOf(map, &newType, LoadI16(entry), LoadU32(entry + kOldRefSlot),
                                   entry + kOldRefName, search);
        if (ref == 0) return false;
        // The attributes word and the data offset stand side by side.
        static_assert(kOldRefDataOffset == kOldRefAttributes + 2);
        std::memcpy(*map + ref + kOldRefAttributes, entry + kOldRefAttributes, 6);
    }
    return true;
}

}  // namespace

uint8_t *BuildVersion2Map(FileHandle file) {
    FileHeader header;
    uint8_t *old = ReadRawMap(file, kOldMapHeaderSize, &header);
    if (old == nullptr) return nullptr;
    uint32_t refs = 0;
    int32_t types = CheckOldMap(old, header.mapLength, &refs);
    uint8_t *map = types < 0 ? nullptr : NewEmptyMap(old);
    uint32_t typeList = LoadU16(old + kOldTypeListField);
    uint8_t *repeated = map != nullptr && refs > 0
                            ? RepeatedEntries(old, static_cast<uint32_t>(types), typeList, refs)
                            : nullptr;
    uint32_t sequence = 0;
    for (int32_t t = 0; map != nullptr && t < types; ++t) {
        const uint8_t *typeEntry = old + typeList + kOldTypeEntrySize * static_cast<uint32_t>(t);
        if (!CopyOldType(&map, old, typeEntry, typeList, repeated, &sequence)) {
            DisposePointer(map);
            map = nullptr;
        }
    }
    if (repeated != nullptr) DisposePointer(repeated);
    DisposePointer(old);
    return map;
}

uint32_t AddVersion2Type(uint8_t **map, uint32_t type) {
    uint32_t found = FindVersion2Type(*map, type);
    if (found != 0) return found;
    uint8_t entry[kV2TypeEntrySize] = {};
    StoreU32(entry, type);
    StoreI16(entry + 4, -1);
    uint32_t types = TypeCount(*map);
    uint32_t at = kV2TypeListOffset + kV2TypeEntrySize * types;
    if (!Grow(map, entry, at, kV2TypeEntrySize)) return 0;
    StoreI16(*map + kV2TypeCountField, static_cast<int16_t>(types));
    ShiftReferenceOffsets(*map, 0, kV2TypeEntrySize);
    return at;
}

uint32_t AddVersion2Reference(uint8_t **map, uint32_t *typeEntry, int16_t id, uint32_t slot,
                              const uint8_t *name) {
    return AddVersion2ReferenceOf(map, typeEntry, id, slot, name, true);
}

uint32_t AddVersion2ReferenceOf(uint8_t **map, uint32_t *typeEntry, int16_t id, uint32_t slot,
                                const uint8_t *name, bool search) {
    uint8_t entry[kV2RefEntrySize] = {};
    StoreI16(entry, id);
    StoreI16(entry + 2, -1);
    uint8_t length = name[0] > kOldNameLimit ? kOldNameLimit : name[0];
    entry[kOldRefName] = length;
    std::memcpy(entry + kOldRefName + 1, name + 1, length);
    StoreU16(entry + kOldRefAttributes, 2);
    StoreU32(entry + kOldRefSlot, slot);

    uint32_t count = RefCount(*map, *typeEntry);
    if (count == 0) {
        uint32_t at = RefsEnd(*map);
        uint32_t offset = at - kV2TypeListOffset;
        if (!Grow(map, entry, at, kV2RefEntrySize)) return 0;
        StoreU32(*map + *typeEntry + 6, offset);
        StoreI16(*map + *typeEntry + 4, 0);
        return at;
    }
    uint32_t existing = search ? FindVersion2Reference(*map, *typeEntry, id) : 0;
    if (existing != 0) {
        std::memcpy(*map + existing, entry, kV2RefEntrySize);
        return existing;
    }
    uint32_t at = kV2TypeListOffset + RefOffset(*map, *typeEntry) + kV2RefEntrySize * count;
    if (!Grow(map, entry, at, kV2RefEntrySize)) return 0;
    StoreI16(*map + *typeEntry + 4, static_cast<int16_t>(count));
    // Runs that began at or behind the insertion point move with it; this type's
    // own run begins before it.
    ShiftReferenceOffsets(*map, at - kV2TypeListOffset, kV2RefEntrySize);
    return at;
}

void ShiftReferenceOffsets(uint8_t *map, uint32_t position, uint32_t amount) {
    uint32_t types = TypeCount(map);
    for (uint32_t t = 0; t < types; ++t) {
        uint32_t typeEntry = kV2TypeListOffset + kV2TypeEntrySize * t;
        uint32_t offset = RefOffset(map, typeEntry);
        if (offset >= position) StoreU32(map + typeEntry + 6, offset + amount);
    }
}

uint32_t FindVersion2Type(const uint8_t *map, uint32_t type) {
    uint32_t types = TypeCount(map);
    for (uint32_t t = 0; t < types; ++t) {
        uint32_t typeEntry = kV2TypeListOffset + kV2TypeEntrySize * t;
        if (LoadU32(map + typeEntry) == type) return typeEntry;
    }
    return 0;
}

uint32_t FindVersion2Reference(const uint8_t *map, uint32_t typeEntry, int16_t id) {
    uint32_t count = RefCount(map, typeEntry);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t ref = kV2TypeListOffset + RefOffset(map, typeEntry) + kV2RefEntrySize * i;
        if (LoadI16(map + ref) == id) return ref;
    }
    return 0;
}
