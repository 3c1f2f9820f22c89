#include "resources/open_files.h"

#include <cstring>

#include "resources/map_block.h"
#include "resources/picture_image.h"
#include "resources/resource_data.h"
#include "resources/resource_format.h"
#include "resources/resource_manager.h"
#include "support/file_io.h"
#include "support/memory_pool.h"
#include "support/strings.h"

namespace {

struct ManagerState {
    ListHeader *chain = nullptr;
    uint32_t chainGeneration = 0;  // the pool that holds the chain header
    uint16_t current = 0;
    int16_t error = kResourceOk;
    int32_t compactionMode = 0;
};

ManagerState gState;

// The highest number a file can get: the next would be 65535, which callers take
// for failure.
constexpr uint16_t kLastRefNum = 65534;

bool SamePath(const char *a, const char *b) {
    return CompareNoCase(a, b) == 0;
}

void ForgetStoredMap(ResourceFileRecord *record) {
    DisposeResourceLookup(record->storedLookup);
    DisposeMapBlock(record->storedMap);
    record->storedLookup = nullptr;
    record->storedMap = nullptr;
}

void FreeRecord(ResourceFileRecord *record) {
    ForgetStoredMap(record);
    ForgetMapLookup(record);
    DisposeMapBlock(record->map);
    DisposePointer(record);
}

// Whether the file exists and can be opened for reading.
bool CanOpenForReading(const char *path) {
    FileHandle file = OpenFileForAccess(path, kOpenExisting, kGenericRead);
    if (file == kInvalidFile) return false;
    CloseFileHandle(file);
    return true;
}

ResourceFileRecord *NewFileRecord(const char *path) {
    ListHeader *chain = OpenFilesChain();
    if (chain == nullptr) return nullptr;
    ResourceFileRecord *last = LastFile(chain);
    if (last != nullptr && last->refNum >= kLastRefNum) return nullptr;
    auto *record = static_cast<ResourceFileRecord *>(NewPointer(sizeof(ResourceFileRecord)));
    if (record == nullptr) return nullptr;
    record->refNum = last == nullptr ? 0 : static_cast<uint16_t>(last->refNum + 1);
    std::strncpy(record->path, path, kPathCapacity - 1);
    record->map = nullptr;
    record->mapLookup = nullptr;
    record->storedMap = nullptr;
    record->storedLookup = nullptr;
    return record;
}

// Loads the data of every preload entry of a freshly read map. The data is that
// of the resource's type and id in the map, as every load finds it: of two
// entries with the same type and id, both get the first one's block.
void Preload(FileHandle file, uint8_t *map) {
    bool none = ForEachReference(
        map, [&](uint32_t, uint32_t ref) { return (RefAttributes(map, ref) & kAttrPreload) == 0; });
    if (none) return;
    ResourceLookup lookup(map);
    ForEachReference(map, [&](uint32_t typeEntry, uint32_t ref) {
        if (RefAttributes(map, ref) & kAttrPreload) {
            uint32_t type = TypeOf(map, typeEntry);
            uint32_t stored = lookup.Find(type, RefId(map, ref));
            Handle h = stored ? LoadResourceData(file, map, type, stored) : nullptr;
            if (h != nullptr) SetRefSlot(map, ref, SlotNumber(h));
        }
        return true;
    });
}

// Opens path with the given access, reads the info block into info and, when
// write is set, writes it back after change(info). The file is closed on every path.
template <typename Change>
bool WithInfoBlock(const char *path, uint32_t access, Change change) {
    FileHandle file = OpenFileForAccess(path, kOpenExisting, access);
    if (file == kInvalidFile) return false;
    uint8_t info[kInfoBlockSize];
    bool ok = ReadInfoBlock(file, info) && change(file, info);
    CloseFileHandle(file);
    return ok;
}

}  // namespace

ListHeader *OpenFilesChain() {
    if (gState.chain != nullptr && gState.chainGeneration != MemoryPoolGeneration()) {
        gState.chain = nullptr;  // the pool that held the chain is gone
    }
    return gState.chain;
}

ResourceFileRecord *FindFileRecord(uint16_t refNum) {
    for (ResourceFileRecord *file = LastFile(OpenFilesChain()); file; file = PreviousFile(file)) {
        if (file->refNum == refNum) return file;
    }
    return nullptr;
}

ResourceFileRecord *CurrentFileRecord() {
    return FindFileRecord(gState.current);
}

void SetResourceErrorCode(int16_t code) {
    gState.error = code;
}

int32_t CompactionMode() {
    return gState.compactionMode;
}
void SetCompactionMode(int32_t mode) {
    gState.compactionMode = mode;
}

namespace {

// Where the last Handle was found: an operation on a Handle mostly follows one
// on the same Handle.
HandleLocation gLastFound = {};

// Whether the slot of a reference entry of a type entry of the open file holds
// number. The place is checked against the map as it is now.
bool FoundAt(const HandleLocation &at, uint32_t number) {
    ResourceFileRecord *file = LastFile(OpenFilesChain());
    while (file != nullptr && file != at.file)
        file = PreviousFile(file);
    if (file == nullptr) return false;
    const uint8_t *map = file->map;
    // An offset in front of the type list wraps round to an index past the count.
    uint32_t index = (at.typeEntry - kTypeListOffset) / kTypeEntrySize;
    if (index >= MapTypeCount(map) || TypeEntryAt(index) != at.typeEntry) return false;
    uint32_t first = RefEntryAt(map, at.typeEntry, 0);
    uint32_t count = TypeRefCount(map, at.typeEntry);
    return at.ref >= first && (at.ref - first) % kRefEntrySize == 0 &&
           (at.ref - first) / kRefEntrySize < count && RefSlot(map, at.ref) == number;
}

}  // namespace

bool FindHandle(Handle h, HandleLocation *where) {
    // A Handle whose number never went into a slot is in no map; a null or
    // unregistered Handle has number 0, which the slot lookup never finds.
    if (!MayBeInSlot(h)) return false;
    uint32_t number = HandleNumber(h);
    if (number == 0) return false;
    // A number is in one slot at most, so the place it was last found in, when
    // it still holds it, is where a walk would find it.
    if (FoundAt(gLastFound, number)) {
        *where = gLastFound;
        return true;
    }
    for (ResourceFileRecord *file = LastFile(OpenFilesChain()); file; file = PreviousFile(file)) {
        uint32_t typeEntry = 0;
        uint32_t ref = FindReferenceBySlot(file->map, number, &typeEntry);
        if (ref != 0) {
            *where = gLastFound = {file, typeEntry, ref};
            return true;
        }
    }
    return false;
}

void NoteHandlePlace(const HandleLocation &where) {
    gLastFound = where;
}

bool LocateHandle(Handle h, HandleLocation *where, int16_t failureCode) {
    gState.error = kResourceOk;
    if (FindHandle(h, where)) return true;
    gState.error = failureCode;
    return false;
}

const ResourceLookup *MapLookupOf(ResourceFileRecord *record) {
    // A lookup that does not fit the block (which an edit replaced or resized)
    // is made again.
    if (record->mapLookup != nullptr && !record->mapLookup->Built(record->map)) {
        ForgetMapLookup(record);
    }
    if (record->mapLookup == nullptr) record->mapLookup = NewResourceLookup(record->map);
    return record->mapLookup;
}

void ForgetMapLookup(ResourceFileRecord *record) {
    DisposeResourceLookup(record->mapLookup);
    record->mapLookup = nullptr;
}

Handle SlotHandle(const uint8_t *map, uint32_t ref) {
    uint32_t slot = RefSlot(map, ref);
    return slot == 0 ? nullptr : HandleFromNumber(slot);
}

uint8_t *ReadOpenFileMap(const char *path) {
    FileHandle file = OpenFileForAccess(path, kOpenExisting, kGenericRead);
    if (file == kInvalidFile) return nullptr;
    uint8_t *map = ReadMapBlock(file);
    if (map != nullptr) Preload(file, map);
    CloseFileHandle(file);
    return map;
}

uint32_t StampedSize(const FileStamp &stamp) {
    return stamp.size < kPlatformFailure ? static_cast<uint32_t>(stamp.size) : kPlatformFailure;
}

bool RefreshStoredMap(ResourceFileRecord *record, FileHandle file, uint32_t fileSize) {
    record->storedProven = false;
    FileHeader header;
    uint8_t *map = ReadRawMap(file, kMapHeaderSize, &header, fileSize);
    uint8_t *kept = record->storedMap;
    if (map != nullptr && kept != nullptr && MapLength(kept) == header.mapLength &&
        std::memcmp(map, kept, header.mapLength) == 0) {
        DisposeMapBlock(map);
        return true;
    }
    ForgetStoredMap(record);
    bool cleared = false;
    if (map == nullptr || !AdoptMapBlock(map, &cleared)) {
        DisposeMapBlock(map);
        return false;
    }
    record->storedMap = map;
    record->storedExact = !cleared;
    record->storedLookup = NewResourceLookup(map);
    if (record->storedLookup != nullptr) return true;
    ForgetStoredMap(record);
    return false;
}

void KeepWrittenMap(ResourceFileRecord *record, uint8_t *image, const ResourceLookup *lookup) {
    ForgetStoredMap(record);
    record->storedProven = false;
    if (lookup == nullptr) {
        DisposeMapBlock(image);
        return;
    }
    record->storedMap = image;
    record->storedLookup = ShareResourceLookup(lookup);
    record->storedExact = true;
}

Handle LoadStoredResource(ResourceFileRecord *record, uint32_t type, int16_t id) {
    FileStamp stamp = {};
    bool stamped = false;
    FileHandle file = OpenFileStamped(record->path, kOpenExisting, kGenericRead, &stamp, &stamped);
    if (file == kInvalidFile) return nullptr;
    uint64_t changes = PlatformChangeCount();
    bool unchanged = stamped && record->storedMap != nullptr && record->storedProven &&
                     SameFileStamp(stamp, record->storedStamp) && changes == record->storedChanges;
    Handle h = nullptr;
    if (unchanged ||
        RefreshStoredMap(record, file, stamped ? StampedSize(stamp) : kPlatformFailure)) {
        uint32_t ref = record->storedLookup->Find(type, id);
        if (ref != 0) h = LoadResourceData(file, record->storedMap, type, ref);
        if (!unchanged) {
            // A map read while the file's stamp was not settled may have been
            // read just before a change that keeps the stamp: the next load
            // reads the map again (into the same room).
            record->storedProven = stamped && stamp.settled;
            record->storedStamp = stamp;
            record->storedChanges = changes;
        }
    }
    CloseFileHandle(file);
    return h;
}

void DisposeResourceHandle(Handle h, uint32_t type) {
    if (IsPictureType(type)) {
        DisposePictureHandle(h);
    } else {
        DisposeHandle(h);
    }
}

int16_t StartResourceManager() {
    StartHandleRegistry();
    gState.error = kResourceOk;
    if (OpenFilesChain() == nullptr) {
        gState.chain = static_cast<ListHeader *>(NewPointer(sizeof(ListHeader)));
        if (gState.chain == nullptr) return kGenericFailure;
        gState.chainGeneration = MemoryPoolGeneration();  // the block comes zero-filled: empty
    }
    return 0;
}

void StopResourceManager() {
    if (OpenFilesChain() != nullptr) DisposePointer(gState.chain);
    gState.chain = nullptr;
}

uint16_t OpenResourceFile(const uint8_t *pathName) {
    char path[256];
    if (Str255ToC(pathName, path) == nullptr) path[0] = '\0';
    for (ResourceFileRecord *file = FirstFile(OpenFilesChain()); file; file = NextFile(file)) {
        if (SamePath(file->path, path)) {
            gState.error = kResourceOk;
            return file->refNum;
        }
    }
    ResourceFileRecord *record = nullptr;
    if (path[0] == '\0' || !CanOpenForReading(path) || (record = NewFileRecord(path)) == nullptr) {
        gState.error = kFileNotUsable;
        return kNoFile;
    }
    ListHeader *chain = OpenFilesChain();
    ListInsert(chain, &record->link, chain->last);
    if (!PrepareResourceFile(path) || (record->map = ReadOpenFileMap(path)) == nullptr) {
        ListRemove(chain, &record->link);
        FreeRecord(record);
        gState.error = kFileNotUsable;
        return kNoFile;
    }
    gState.current = record->refNum;
    gState.error = kResourceOk;
    return record->refNum;
}

int16_t CreateResourceFile(const uint8_t *pathName) {
    gState.error = kResourceOk;
    char path[256];
    if (Str255ToC(pathName, path) == nullptr) path[0] = '\0';
    uint8_t image[kDataAreaOffset + kMapHeaderSize] = {};
    FileHeader header = {kDataAreaOffset, kDataAreaOffset, 0, kMapHeaderSize};
    EncodeFileHeader(header, image);
    BuildInfoBlock(kKindUnclassified, 0, image + kInfoBlockOffset);
    uint8_t *map = image + kDataAreaOffset;
    EncodeFileHeader(header, map);
    StoreU16(map + kMapTypeListField, kTypeListOffset);
    SetMapNameListOffset(map, kMapHeaderSize);
    SetMapTypeCount(map, 0);

    FileHandle file =
        path[0] ? OpenFileForAccess(path, kCreateNew, kGenericReadWrite) : kInvalidFile;
    if (file == kInvalidFile) {
        gState.error = kCannotCreate;
        return kGenericFailure;
    }
    bool written = WriteAt(file, image, 0, sizeof image);
    CloseFileHandle(file);
    if (!written) {
        // A half-made file is of no use to anybody: take it away again.
        PlatformFileDelete(path);
        gState.error = kCannotCreate;
        return kGenericFailure;
    }
    return 1;
}

void CloseResourceFile(uint16_t refNum) {
    ResourceFileRecord *record = FirstFile(OpenFilesChain());
    while (record != nullptr && record->refNum != refNum)
        record = NextFile(record);
    if (record == nullptr) {
        gState.error = kFileNotUsable;
        return;
    }
    UpdateResourceFile(refNum);
    gState.compactionMode = 0;
    ListHeader *chain = OpenFilesChain();
    ListRemove(chain, &record->link);
    FreeRecord(record);
    if (refNum == gState.current && chain->last != nullptr) {
        gState.current = LastFile(chain)->refNum;
    }
    gState.error = kResourceOk;
}

uint16_t CurrentResourceFile() {
    return gState.current;
}

void UseResourceFile(uint16_t refNum) {
    gState.current = refNum;
}

int16_t ResourceError() {
    int16_t code = gState.error;
    gState.error = kResourceOk;
    return code;
}

// Resources are always loaded when they are got: the flag is taken and has no effect.
void SetResourceLoad(int32_t) {}

int SetConversionPending(const char *path, int32_t on) {
    return WithInfoBlock(path, kGenericReadWrite, [&](FileHandle file, uint8_t *info) {
        info[kInfoConversionPending] = on == 1 ? 1 : 0;
        return WriteInfoBlock(file, info);
    });
}

bool ReadConversionPending(const char *path, bool *pending) {
    *pending = false;
    return WithInfoBlock(path, kGenericReadWrite, [&](FileHandle, uint8_t *info) {
        *pending = info[kInfoConversionPending] != 0;
        return true;
    });
}

int ConversionPending(const char *path) {
    bool pending = false;
    return ReadConversionPending(path, &pending) && pending ? 1 : 0;
}

uint32_t ResourceFileKind(const char *path) {
    uint32_t kind = 0;
    WithInfoBlock(path, kGenericRead, [&](FileHandle, uint8_t *info) {
        kind = LoadU32(info + kInfoKind);
        return true;
    });
    return kind;
}
