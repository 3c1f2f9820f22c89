#include "resources/map_block.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "resources/handles.h"
#include "support/file_io.h"

namespace {

// A set of byte positions inside a window of a map, used to prove that no two
// reference runs, or no two names, share a byte. A claim tests and sets whole
// words of the set at once, so checking a map costs one step per entry and per
// 64 bytes. It lives in a pool block rather than on the stack. The window is at
// most 64 KiB for runs (they lie below the 16-bit name-list offset) and 32 KiB +
// 256 for names (their offsets are signed 16-bit).
class ByteClaims {
  public:
    static constexpr uint32_t kWindow = 0x10000 + 0x8000 + 0x100;

    explicit ByteClaims(uint32_t base) : base_(base) { std::memset(bits_, 0, sizeof bits_); }

    // Claims [start, start + length); false when a byte is claimed already or lies
    // outside the window.
    bool Claim(uint32_t start, uint32_t length) {
        if (start < base_ || start - base_ > kWindow || length > kWindow - (start - base_)) {
            return false;
        }
        uint32_t from = start - base_;
        uint32_t end = from + length;
        // First every word is tested, then set, so that a refused claim adds nothing.
        for (const bool set : {false, true}) {
            for (uint32_t i = from; i < end;) {
                uint32_t bit = i & 63;
                uint32_t take = end - i < 64 - bit ? end - i : 64 - bit;
                uint64_t mask = (take == 64 ? ~uint64_t{0} : ((uint64_t{1} << take) - 1)) << bit;
                if (!set && (bits_[i >> 6] & mask) != 0) return false;
                if (set) bits_[i >> 6] |= mask;
                i += take;
            }
        }
        return true;
    }

  private:
    uint32_t base_;
    uint64_t bits_[kWindow / 64 + 1];
};

bool ValidateTypeList(const uint8_t *map, uint32_t size) {
    if (LoadU16(map + kMapTypeListField) != kTypeListOffset) return false;
    // A count field below -1 gives a count near 2^32, whose type list cannot end
    // before the name list.
    uint64_t typesEnd = kTypeListOffset + uint64_t{kTypeEntrySize} * MapTypeCount(map);
    uint32_t nameList = MapNameListOffset(map);
    return typesEnd <= nameList && nameList <= size;
}

bool ValidateReferenceRuns(const uint8_t *map) {
    uint32_t types = MapTypeCount(map);
    uint32_t typesEnd = kTypeListOffset + kTypeEntrySize * types;
    uint32_t nameList = MapNameListOffset(map);
    ByteClaims *claims = static_cast<ByteClaims *>(NewPointer(sizeof(ByteClaims)));
    if (claims == nullptr) return false;
    new (claims) ByteClaims(typesEnd);
    bool ok = true;
    for (uint32_t t = 0; t < types && ok; ++t) {
        uint32_t typeEntry = TypeEntryAt(t);
        int16_t countMinusOne = LoadI16(map + typeEntry + 4);
        if (countMinusOne < -1) {
            ok = false;
        } else if (countMinusOne >= 0) {
            int32_t offset = TypeRefListOffset(map, typeEntry);
            uint64_t start = uint64_t{kTypeListOffset} + static_cast<uint64_t>(std::max(offset, 0));
            uint64_t length = uint64_t{kRefEntrySize} * TypeRefCount(map, typeEntry);
            // A negative offset is taken as 0, which lies inside the type list.
            ok = start >= typesEnd && start + length <= nameList &&
                 claims->Claim(static_cast<uint32_t>(start), static_cast<uint32_t>(length));
        }
    }
    DisposePointer(claims);
    return ok;
}

bool ValidateNames(const uint8_t *map, uint32_t size) {
    uint32_t nameList = MapNameListOffset(map);
    ByteClaims *claims = static_cast<ByteClaims *>(NewPointer(sizeof(ByteClaims)));
    if (claims == nullptr) return false;
    new (claims) ByteClaims(nameList);
    bool ok = ForEachReference(map, [&](uint32_t, uint32_t ref) {
        int16_t offset = RefNameOffset(map, ref);
        if (offset == kNoName) return true;
        if (offset < 0) return false;
        uint64_t at = uint64_t{nameList} + static_cast<uint32_t>(offset);
        if (at >= size) return false;
        uint32_t length = 1u + map[at];
        return at + length <= size && claims->Claim(static_cast<uint32_t>(at), length);
    });
    DisposePointer(claims);
    return ok;
}

}  // namespace

bool ValidateMapBlock(const uint8_t *map, uint32_t size) {
    return ValidateTypeList(map, size) && ValidateReferenceRuns(map) && ValidateNames(map, size);
}

const uint8_t *RefName(const uint8_t *map, uint32_t ref) {
    int16_t offset = RefNameOffset(map, ref);
    if (offset < 0) return nullptr;
    return map + MapNameListOffset(map) + static_cast<uint32_t>(offset);
}

uint8_t *ReadMapBlock(FileHandle file) {
    FileHeader header;
    uint8_t *map = ReadRawMap(file, kMapHeaderSize, &header);
    if (map != nullptr && !AdoptMapBlock(map)) {
        DisposePointer(map);
        return nullptr;
    }
    return map;
}

bool AdoptMapBlock(uint8_t *map, bool *cleared) {
    if (!ValidateMapBlock(map, MapLength(map))) return false;
    bool any = false;
    ForEachReference(map, [&](uint32_t, uint32_t ref) {
        any = any || RefSlot(map, ref) != 0;
        SetRefSlot(map, ref, 0);
        return true;
    });
    if (cleared != nullptr) *cleared = any;
    return true;
}

void DisposeMapBlock(uint8_t *map) {
    if (map != nullptr) DisposePointer(map);
}

uint8_t *CopyMapBlock(const uint8_t *map) {
    auto *copy = static_cast<uint8_t *>(NewPointer(MapLength(map)));
    if (copy != nullptr) std::memcpy(copy, map, MapLength(map));
    return copy;
}

uint8_t *MapImageForDisk(const uint8_t *map) {
    uint8_t *copy = CopyMapBlock(map);
    if (copy != nullptr) ClearHandleSlots(copy);
    return copy;
}

void ClearHandleSlots(uint8_t *map) {
    ForEachReference(map, [&](uint32_t, uint32_t ref) {
        SetRefSlot(map, ref, 0);
        return true;
    });
}

bool WriteHeaderAndMap(FileHandle file, const uint8_t *map) {
    uint8_t *copy = MapImageForDisk(map);
    if (copy == nullptr) return false;
    bool ok = WriteAt(file, copy, 0, kFileHeaderSize) &&
              WriteAt(file, copy, MapFileMapOffset(copy), MapLength(copy));
    DisposePointer(copy);
    return ok;
}

uint32_t FindType(const uint8_t *map, uint32_t type) {
    if (MapLength(map) <= kTypeListOffset) return 0;
    uint32_t types = MapTypeCount(map);
    for (uint32_t t = 0; t < types; ++t) {
        if (TypeOf(map, TypeEntryAt(t)) == type) return TypeEntryAt(t);
    }
    return 0;
}

uint32_t FindReferenceById(const uint8_t *map, uint32_t typeEntry, int16_t id) {
    uint32_t count = TypeRefCount(map, typeEntry);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t ref = RefEntryAt(map, typeEntry, i);
        if (RefId(map, ref) == id) return ref;
    }
    return 0;
}

uint32_t FindReferenceByName(const uint8_t *map, uint32_t typeEntry, const uint8_t *name) {
    uint32_t count = TypeRefCount(map, typeEntry);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t ref = RefEntryAt(map, typeEntry, i);
        const uint8_t *own = RefName(map, ref);
        // The length bytes first: an entry's name may end the block, so no more of
        // it than its own length may be read.
        if (own != nullptr && own[0] == name[0] && std::memcmp(own + 1, name + 1, name[0]) == 0) {
            return ref;
        }
    }
    return 0;
}

uint32_t FindReferenceBySlot(const uint8_t *map, uint32_t slot, uint32_t *typeEntry) {
    if (slot == 0) return 0;
    uint32_t found = 0;
    ForEachReference(map, [&](uint32_t type, uint32_t ref) {
        if (RefSlot(map, ref) != slot) return true;
        found = ref;
        if (typeEntry != nullptr) *typeEntry = type;
        return false;
    });
    return found;
}

uint32_t FindResource(const uint8_t *map, uint32_t type, int16_t id, uint32_t *typeEntry) {
    uint32_t entry = FindType(map, type);
    if (entry == 0) return 0;
    if (typeEntry != nullptr) *typeEntry = entry;
    return FindReferenceById(map, entry, id);
}

namespace {

struct TypePlace {
    uint32_t type;
    uint32_t typeEntry;
};

bool ItemBefore(const ResourceLookup::Item &a, const ResourceLookup::Item &b) {
    if (a.type != b.type) return a.type < b.type;
    if (a.id != b.id) return a.id < b.id;
    return a.sequence < b.sequence;
}

}  // namespace

ResourceLookup::ResourceLookup(const uint8_t *map) : map_(map), length_(MapLength(map)) {
    uint32_t types = MapLength(map) <= kTypeListOffset ? 0 : MapTypeCount(map);
    uint32_t refs = 0;
    for (uint32_t t = 0; t < types; ++t)
        refs += TypeRefCount(map, TypeEntryAt(t));
    if (refs == 0) return;
    // Only the first type entry of each type is ever found; the runs of later
    // entries of the same type are left out.
    auto *places = static_cast<TypePlace *>(NewPointer(types * uint32_t{sizeof(TypePlace)}));
    items_ = static_cast<Item *>(NewPointer(refs * uint32_t{sizeof(Item)}));
    if (places == nullptr || items_ == nullptr) {
        if (places != nullptr) DisposePointer(places);
        if (items_ != nullptr) DisposePointer(items_);
        items_ = nullptr;
        indexed_ = false;
        unique_ = false;
        return;
    }
    for (uint32_t t = 0; t < types; ++t)
        places[t] = {TypeOf(map, TypeEntryAt(t)), TypeEntryAt(t)};
    std::sort(places, places + types, [](const TypePlace &a, const TypePlace &b) {
        return a.type != b.type ? a.type < b.type : a.typeEntry < b.typeEntry;
    });
    uint32_t sequence = 0;
    for (uint32_t t = 0; t < types; ++t) {
        uint32_t typeEntry = TypeEntryAt(t);
        uint32_t type = TypeOf(map, typeEntry);
        const TypePlace *first =
            std::lower_bound(places, places + types, type,
                             [](const TypePlace &p, uint32_t value) { return p.type < value; });
        if (first->typeEntry != typeEntry) {
            unique_ = false;
            continue;
        }
        uint32_t count = TypeRefCount(map, typeEntry);
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t ref = RefEntryAt(map, typeEntry, i);
            items_[count_++] = {type, RefId(map, ref), sequence++, ref};
        }
    }
    DisposePointer(places);
    std::sort(items_, items_ + count_, ItemBefore);
    for (uint32_t i = 1; i < count_ && unique_; ++i) {
        unique_ = items_[i].type != items_[i - 1].type || items_[i].id != items_[i - 1].id;
    }
}

ResourceLookup::~ResourceLookup() {
    if (items_ != nullptr) DisposePointer(items_);
}

uint32_t ResourceLookup::Find(uint32_t type, int16_t id) const {
    if (!indexed_) return FindResource(map_, type, id, nullptr);
    Item key = {type, id, 0, 0};
    const Item *at = std::lower_bound(items_, items_ + count_, key, ItemBefore);
    return at != items_ + count_ && at->type == type && at->id == id ? at->ref : 0;
}

const ResourceLookup *NewResourceLookup(const uint8_t *map) {
    void *place = NewPointer(sizeof(ResourceLookup));
    if (place == nullptr) return nullptr;
    auto *lookup = new (place) ResourceLookup(map);
    if (lookup->Indexed()) return lookup;
    DisposeResourceLookup(lookup);
    return nullptr;
}

const ResourceLookup *ShareResourceLookup(const ResourceLookup *lookup) {
    if (lookup != nullptr) ++lookup->holders_;
    return lookup;
}

void DisposeResourceLookup(const ResourceLookup *lookup) {
    if (lookup == nullptr || --lookup->holders_ > 0) return;
    lookup->~ResourceLookup();
    DisposePointer(const_cast<ResourceLookup *>(lookup));
}
