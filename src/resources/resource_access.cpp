#include <cstring>

#include "resources/map_block.h"
#include "resources/open_files.h"
#include "resources/resource_data.h"
#include "resources/resource_manager.h"

namespace {

constexpr uint32_t kStringType = ResTypeOf("STR ");
constexpr uint32_t kStringListType = ResTypeOf("STR#");
constexpr int16_t kFirstUniqueId = 1280;

// The Handle in the entry's slot, loading the data from the file when the slot is
// empty. Null when the data cannot be loaded; the slot then stays empty.
Handle LoadIntoSlot(ResourceFileRecord *file, uint32_t typeEntry, uint32_t ref) {
    Handle h = SlotHandle(file->map, ref);
    if (h != nullptr) return h;
    h = LoadStoredResource(file, TypeOf(file->map, typeEntry), RefId(file->map, ref));
    SetRefSlot(file->map, ref, SlotNumber(h));  // 0, an empty slot, for no Handle
    if (h != nullptr) NoteHandlePlace({file, typeEntry, ref});
    return h;
}

Handle Found(Handle h) {
    if (h == nullptr) SetResourceErrorCode(kResourceNotFound);
    return h;
}

// Walks from the current file toward the earliest; the first file in which find
// gives an entry is loaded from.
template <typename Find>
Handle GetFromCurrentDown(uint32_t type, bool currentOnly, Find find) {
    SetResourceErrorCode(kResourceOk);
    for (ResourceFileRecord *file = CurrentFileRecord(); file; file = PreviousFile(file)) {
        uint32_t typeEntry = FindType(file->map, type);
        uint32_t ref = typeEntry ? find(file->map, typeEntry) : 0;
        if (ref != 0) return Found(LoadIntoSlot(file, typeEntry, ref));
        if (currentOnly) break;
    }
    return Found(nullptr);
}

uint32_t CountIn(const ResourceFileRecord *file, uint32_t type) {
    uint32_t typeEntry = FindType(file->map, type);
    return typeEntry ? TypeRefCount(file->map, typeEntry) : 0;
}

Handle GetIndexedIn(ResourceFileRecord *file, uint32_t type, uint32_t index) {
    uint32_t typeEntry = FindType(file->map, type);
    return Found(LoadIntoSlot(file, typeEntry, RefEntryAt(file->map, typeEntry, index - 1)));
}

bool AnyFileHolds(uint32_t type, int16_t id) {
    for (ResourceFileRecord *file = LastFile(OpenFilesChain()); file; file = PreviousFile(file)) {
        if (FindResource(file->map, type, id, nullptr) != 0) return true;
    }
    return false;
}

}  // namespace

Handle GetResource(uint32_t type, int16_t id) {
    return GetFromCurrentDown(type, false, [id](const uint8_t *map, uint32_t typeEntry) {
        return FindReferenceById(map, typeEntry, id);
    });
}

Handle GetOneResource(uint32_t type, int16_t id) {
    return GetFromCurrentDown(type, true, [id](const uint8_t *map, uint32_t typeEntry) {
        return FindReferenceById(map, typeEntry, id);
    });
}

Handle GetNamedResource(uint32_t type, const uint8_t *name) {
    return GetFromCurrentDown(type, false, [name](const uint8_t *map, uint32_t typeEntry) {
        return name ? FindReferenceByName(map, typeEntry, name) : 0;
    });
}

int16_t CountResources(uint32_t type) {
    SetResourceErrorCode(kResourceOk);
    uint32_t total = 0;
    for (ResourceFileRecord *file = LastFile(OpenFilesChain()); file; file = PreviousFile(file)) {
        total += CountIn(file, type);
    }
    return static_cast<int16_t>(total > 0x7FFF ? 0x7FFF : total);
}

uint16_t CountOneResources(uint32_t type) {
    SetResourceErrorCode(kResourceOk);
    ResourceFileRecord *file = CurrentFileRecord();
    return static_cast<uint16_t>(file ? CountIn(file, type) : 0);
}

Handle GetIndexedResource(uint32_t type, int16_t index) {
    SetResourceErrorCode(kResourceOk);
    if (index < 1) return nullptr;
    if (CountResources(type) < index) return Found(nullptr);
    uint32_t remaining = static_cast<uint32_t>(index);
    for (ResourceFileRecord *file = LastFile(OpenFilesChain()); file; file = PreviousFile(file)) {
        uint32_t count = CountIn(file, type);
        if (count >= remaining) return GetIndexedIn(file, type, remaining);
        remaining -= count;
    }
    return Found(nullptr);
}

Handle GetOneIndexedResource(uint32_t type, int16_t index) {
    SetResourceErrorCode(kResourceOk);
    if (index < 1) return nullptr;
    ResourceFileRecord *file = CurrentFileRecord();
    if (file == nullptr || CountIn(file, type) < static_cast<uint32_t>(index)) {
        return Found(nullptr);
    }
    return GetIndexedIn(file, type, static_cast<uint32_t>(index));
}

void GetResourceInfo(Handle h, int16_t *id, uint32_t *type, uint8_t *name) {
    HandleLocation where;
    if (!LocateHandle(h, &where, kResourceNotFound)) return;
    const uint8_t *map = where.file->map;
    if (id) *id = RefId(map, where.ref);
    if (type) *type = TypeOf(map, where.typeEntry);
    if (name) {
        const uint8_t *own = RefName(map, where.ref);
        name[0] = 0;
        if (own) std::memcpy(name, own, 1u + own[0]);
    }
}

int32_t HomeResourceFile(Handle h) {
    HandleLocation where;
    if (!LocateHandle(h, &where, kResourceNotFound)) return -1;
    return where.file->refNum;
}

void ReleaseResource(Handle h) {
    HandleLocation where;
    if (!LocateHandle(h, &where, kResourceNotFound)) return;
    uint8_t *map = where.file->map;
    if (RefAttributes(map, where.ref) & kAttrChanged) return;
    SetRefSlot(map, where.ref, 0);
    DisposeResourceHandle(h, TypeOf(map, where.typeEntry));
}

void DetachResource(Handle h) {
    HandleLocation where;
    if (!LocateHandle(h, &where, kResourceNotFound)) return;
    uint8_t *map = where.file->map;
    if (RefAttributes(map, where.ref) & kAttrChanged) {
        SetResourceErrorCode(kChangedNotDetached);
        return;
    }
    SetRefSlot(map, where.ref, 0);
}

namespace {

struct HeldHandle {
    Handle h;
    uint32_t type;
};

// Calls visit(ref, type) for every entry of the file's map that holds a Handle,
// of a changed resource or not as changed asks.
template <typename Visit>
void ForEachLoaded(ResourceFileRecord *file, bool changed, Visit visit) {
    uint8_t *map = file->map;
    for (uint32_t t = 0; t < MapTypeCount(map); ++t) {
        const uint32_t typeEntry = TypeEntryAt(t);
        for (uint32_t i = 0; i < TypeRefCount(map, typeEntry); ++i) {
            const uint32_t ref = RefEntryAt(map, typeEntry, i);
            if (SlotHandle(map, ref) != nullptr &&
                ((RefAttributes(map, ref) & kAttrChanged) != 0) == changed) {
                visit(ref, TypeOf(map, typeEntry));
            }
        }
    }
}

void DisposeLoaded(ResourceFileRecord *file, bool changed) {
    ForEachLoaded(file, changed, [&](uint32_t ref, uint32_t type) {
        Handle h = SlotHandle(file->map, ref);
        SetRefSlot(file->map, ref, 0);
        DisposeResourceHandle(h, type);
    });
}

}  // namespace

void DisposeLoadedResources(uint16_t refNum) {
    ResourceFileRecord *file = FindFileRecord(refNum);
    if (file == nullptr) return;
    DisposeLoaded(file, false);
    DisposeLoaded(file, true);
}

void CloseResourceFileDisposing(uint16_t refNum) {
    ResourceFileRecord *file = FindFileRecord(refNum);
    if (file == nullptr) return CloseResourceFile(refNum);
    DisposeLoaded(file, false);
    // The closing write-back needs the Handles of changed resources, so they are
    // noted and disposed of once the file is closed. Without memory for the
    // note they stay allocated, as CloseResourceFile leaves them.
    uint32_t count = 0;
    ForEachLoaded(file, true, [&](uint32_t, uint32_t) { ++count; });
    auto *held = static_cast<HeldHandle *>(NewPointer(count * sizeof(HeldHandle)));
    uint32_t noted = 0;
    if (held != nullptr) {
        ForEachLoaded(file, true, [&](uint32_t ref, uint32_t type) {
            held[noted++] = {SlotHandle(file->map, ref), type};
        });
    }
    CloseResourceFile(refNum);
    for (uint32_t i = 0; i < noted; ++i)
        DisposeResourceHandle(held[i].h, held[i].type);
    DisposePointer(held);
}

int16_t UniqueResourceId(uint32_t type) {
    SetResourceErrorCode(kResourceOk);
    int16_t candidate = kFirstUniqueId;
    // Every id from 1280 up to 32767 taken would leave no candidate; the walk then
    // stops at the last one tried rather than wrap into negative ids.
    while (AnyFileHolds(type, candidate) && candidate < INT16_MAX)
        ++candidate;
    return candidate;
}

Handle GetStringResource(int16_t id) {
    return GetResource(kStringType, id);
}

uint8_t *GetIndexedString(uint8_t *buffer, int16_t id, int16_t index) {
    buffer[0] = 0;
    buffer[1] = 0;
    Handle h = GetResource(kStringListType, id);
    if (h == nullptr || *h == nullptr || index < 0) return buffer;
    // The list is a 16-bit count and length-prefixed strings; a count or a length
    // that runs past the data gives the empty string.
    ByteCursor list(*h, static_cast<uint32_t>(GetHandleSize(h)));
    int16_t count = 0;
    uint8_t length = 0;
    if (!list.ReadI16(&count) || count < index) return buffer;
    for (int16_t skip = 1; skip < index; ++skip) {
        if (!list.ReadU8(&length) || !list.Skip(length)) return buffer;
    }
    if (!list.ReadU8(&length) || !list.ReadBytes(buffer + 1, length)) return buffer;
    buffer[0] = length;
    buffer[1u + length] = 0;
    return buffer;
}
