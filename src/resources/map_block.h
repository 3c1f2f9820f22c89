// The resource map of a layout-1500 file held in memory as one block with the
// on-disk layout (little-endian). Entries are named by their byte offset inside
// the block, since edits move the block; offset 0 (the header) means "none".
//
// Every block handed out by ReadMapBlock has passed ValidateMapBlock, so the
// walks below may use the unchecked field helpers.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "resources/resource_format.h"
#include "support/byte_order.h"

constexpr uint32_t kMapHeaderSize = 30;
constexpr uint32_t kTypeEntrySize = 8;
constexpr uint32_t kRefEntrySize = 12;
constexpr uint32_t kTypeListOffset = 30;  // where every map's type list starts

// Map header fields, counted from the start of the map.
constexpr uint32_t kMapTypeListField = 24;
constexpr uint32_t kMapNameListField = 26;
constexpr uint32_t kMapTypeCountField = 28;

// Reference entry attribute bits.
constexpr uint8_t kAttrChanged = 0x02;
constexpr uint8_t kAttrPreload = 0x04;

constexpr int16_t kNoName = -1;

// Header copy fields.
inline uint32_t MapDataOffset(const uint8_t *map) {
    return LoadU32(map);
}
inline uint32_t MapFileMapOffset(const uint8_t *map) {
    return LoadU32(map + 4);
}
inline uint32_t MapDataLength(const uint8_t *map) {
    return LoadU32(map + 8);
}
inline uint32_t MapLength(const uint8_t *map) {
    return LoadU32(map + 12);
}
inline void SetMapFileMapOffset(uint8_t *map, uint32_t v) {
    StoreU32(map + 4, v);
}
inline void SetMapDataLength(uint8_t *map, uint32_t v) {
    StoreU32(map + 8, v);
}
inline void SetMapLength(uint8_t *map, uint32_t v) {
    StoreU32(map + 12, v);
}

inline uint16_t MapNameListOffset(const uint8_t *map) {
    return LoadU16(map + kMapNameListField);
}
inline void SetMapNameListOffset(uint8_t *map, uint16_t v) {
    StoreU16(map + kMapNameListField, v);
}
// The number of types (0 when the stored count minus one is -1).
inline uint32_t MapTypeCount(const uint8_t *map) {
    return static_cast<uint32_t>(LoadI16(map + kMapTypeCountField) + 1);
}
inline void SetMapTypeCount(uint8_t *map, uint32_t count) {
    StoreI16(map + kMapTypeCountField, static_cast<int16_t>(count - 1));
}

// Type entry fields (typeEntry is the entry's offset in the map).
inline uint32_t TypeOf(const uint8_t *map, uint32_t typeEntry) {
    return LoadU32(map + typeEntry);
}
inline uint32_t TypeRefCount(const uint8_t *map, uint32_t typeEntry) {
    return static_cast<uint32_t>(LoadI16(map + typeEntry + 4) + 1);
}
inline void SetTypeRefCount(uint8_t *map, uint32_t typeEntry, uint32_t count) {
    StoreI16(map + typeEntry + 4, static_cast<int16_t>(count - 1));
}
inline int16_t TypeRefListOffset(const uint8_t *map, uint32_t typeEntry) {
    return LoadI16(map + typeEntry + 6);
}
inline void SetTypeRefListOffset(uint8_t *map, uint32_t typeEntry, int16_t v) {
    StoreI16(map + typeEntry + 6, v);
}
inline uint32_t TypeEntryAt(uint32_t index) {
    return kTypeListOffset + kTypeEntrySize * index;
}

// Reference entry fields (ref is the entry's offset in the map).
inline int16_t RefId(const uint8_t *map, uint32_t ref) {
    return LoadI16(map + ref);
}
inline int16_t RefNameOffset(const uint8_t *map, uint32_t ref) {
    return LoadI16(map + ref + 2);
}
inline void SetRefNameOffset(uint8_t *map, uint32_t ref, int16_t v) {
    StoreI16(map + ref + 2, v);
}
inline uint8_t RefAttributes(const uint8_t *map, uint32_t ref) {
    return map[ref + 7];
}
inline void SetRefAttributes(uint8_t *map, uint32_t ref, uint8_t v) {
    map[ref + 7] = v;
}
// The data offset, read as a signed 24-bit number.
inline int32_t RefDataOffset(const uint8_t *map, uint32_t ref) {
    uint32_t raw = LoadU32(map + ref + 4) & 0x00FFFFFFu;
    return (raw & 0x00800000u) ? static_cast<int32_t>(raw) - 0x01000000 : static_cast<int32_t>(raw);
}
// Sets the data offset, keeping the attribute byte.
inline void SetRefDataOffset(uint8_t *map, uint32_t ref, uint32_t offset) {
    uint32_t word = LoadU32(map + ref + 4);
    StoreU32(map + ref + 4, (word & 0xFF000000u) | (offset & 0x00FFFFFFu));
}
inline uint32_t RefSlot(const uint8_t *map, uint32_t ref) {
    return LoadU32(map + ref + 8);
}
inline void SetRefSlot(uint8_t *map, uint32_t ref, uint32_t v) {
    StoreU32(map + ref + 8, v);
}

// The offset of a type's index-th reference entry (from 0).
inline uint32_t RefEntryAt(const uint8_t *map, uint32_t typeEntry, uint32_t index) {
    return kTypeListOffset + static_cast<uint32_t>(TypeRefListOffset(map, typeEntry)) +
           kRefEntrySize * index;
}
// The name of a reference entry as a Str255 inside the map, or null when it has none.
const uint8_t *RefName(const uint8_t *map, uint32_t ref);

// Checks every count and offset of a map of size bytes against the block: the
// type-list offset is 30 and the type list lies before the name list, which lies
// inside the map; every type's reference run lies between the type list and the
// name list and no two runs overlap; every name lies inside the map and no two
// names overlap. Data offsets are checked when a resource is loaded. The block
// must hold at least the map header, with size in its map-length field, as the
// raw map reader makes sure.
bool ValidateMapBlock(const uint8_t *map, uint32_t size);

// Reads the map of an open file into a new block, checks it, and clears every
// handle slot. Null when the header or map cannot be read, the map is damaged or
// there is no memory.
uint8_t *ReadMapBlock(FileHandle file);
// Checks a map read from a file (with its length in its map-length field) as
// ReadMapBlock does and clears its handle slots; *cleared (when given) tells
// whether a slot held anything. False when it is damaged.
bool AdoptMapBlock(uint8_t *map, bool *cleared = nullptr);
// Frees a map block (null is ignored).
void DisposeMapBlock(uint8_t *map);

// A copy of the map block (from NewPointer), or null when there is no memory.
uint8_t *CopyMapBlock(const uint8_t *map);

// A copy of the map block as it goes to disk: every handle slot 0. Null when
// there is no memory.
uint8_t *MapImageForDisk(const uint8_t *map);
// Sets every handle slot of a map block to 0.
void ClearHandleSlots(uint8_t *map);

// Writes the map block's header copy at offset 0 and the whole block at the map
// offset the header copy names. Handle slots are written as 0.
bool WriteHeaderAndMap(FileHandle file, const uint8_t *map);

// Lookups, linear and first-match. Each returns an entry offset, or 0 for none.
uint32_t FindType(const uint8_t *map, uint32_t type);
uint32_t FindReferenceById(const uint8_t *map, uint32_t typeEntry, int16_t id);
uint32_t FindReferenceByName(const uint8_t *map, uint32_t typeEntry, const uint8_t *name);
uint32_t FindReferenceBySlot(const uint8_t *map, uint32_t slot, uint32_t *typeEntry);
// The type and reference entry of (type, id), or 0.
uint32_t FindResource(const uint8_t *map, uint32_t type, int16_t id, uint32_t *typeEntry);

// A lookup of a map block by type and id in logarithmic time: for every (type,
// id) it gives the entry that FindResource gives (the first type entry of the
// type, and in its run the first entry of the id). Built from a map that must
// not change its types, ids or entry places while the lookup is used; data
// offsets, attributes and slots may change, and so may the block's place when
// only Indexed lookups are asked. Without memory for its table the lookup still
// answers, by FindResource.
class ResourceLookup {
  public:
    explicit ResourceLookup(const uint8_t *map);
    ~ResourceLookup();
    ResourceLookup(const ResourceLookup &) = delete;
    ResourceLookup &operator=(const ResourceLookup &) = delete;

    // The reference entry of (type, id), or 0.
    uint32_t Find(uint32_t type, int16_t id) const;
    // False when the table could not be had and Find walks the map.
    bool Indexed() const { return indexed_; }
    // True when every entry of the map is the one its own type and id find: no
    // type has two type entries and no run holds an id twice.
    bool Unique() const { return unique_; }
    // Whether the lookup was built from this block, as long as it is now.
    bool Built(const uint8_t *map) const { return map_ == map && length_ == MapLength(map); }

    struct Item {
        uint32_t type;
        int32_t id;
        uint32_t sequence;  // the entry's place in the walk over the map
        uint32_t ref;
    };

  private:
    const uint8_t *map_;
    uint32_t length_;
    Item *items_ = nullptr;
    uint32_t count_ = 0;
    bool indexed_ = true;
    bool unique_ = true;
    mutable uint32_t holders_ = 1;

    friend const ResourceLookup *ShareResourceLookup(const ResourceLookup *lookup);
    friend void DisposeResourceLookup(const ResourceLookup *lookup);
};

// A lookup of map in a pool block, for keeping beside the map; null when there
// is no memory for it or its table. It serves every block laid out as map is.
// ShareResourceLookup gives it one more holder; each holder lets go of it with
// DisposeResourceLookup, which frees it when the last one does (null is
// ignored by both).
const ResourceLookup *NewResourceLookup(const uint8_t *map);
const ResourceLookup *ShareResourceLookup(const ResourceLookup *lookup);
void DisposeResourceLookup(const ResourceLookup *lookup);

// Calls visit(typeEntry, ref) for every reference entry of every type with
// entries, types in list order, each type's entries in order. Stops early when
// visit returns false; returns false then.
template <typename Visit>
bool ForEachReference(const uint8_t *map, Visit visit) {
    uint32_t types = MapTypeCount(map);
    for (uint32_t t = 0; t < types; ++t) {
        uint32_t typeEntry = TypeEntryAt(t);
        uint32_t count = TypeRefCount(map, typeEntry);
        for (uint32_t i = 0; i < count; ++i) {
            if (!visit(typeEntry, RefEntryAt(map, typeEntry, i))) return false;
        }
    }
    return true;
}
