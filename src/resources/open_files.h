// The Resource Manager's own state: the open files chain, the current file, the
// last result code and the compaction mode. Shared by the files of
// src/resources/ only.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "resources/handles.h"
#include "support/lists.h"

class ResourceLookup;

constexpr uint32_t kPathCapacity = 260;

struct ResourceFileRecord {
    ListNode link;  // next: opened later; prev: opened earlier
    uint16_t refNum;
    char path[kPathCapacity];
    uint8_t *map;  // the file's map block, owned by the record
    // The lookup of map by type and id, made when first asked for and kept until
    // an edit adds or removes an entry (ForgetMapLookup).
    const ResourceLookup *mapLookup;
    // The map as the file held it when it was last read or written, with its
    // lookup. A later load uses it instead of reading the map again only while
    // the file provably has not changed since: the file's stamp was settled
    // (storedProven) and is the same, and no call that may change a file was
    // made through the platform since (PlatformChangeCount). A map read again
    // with the same bytes keeps it, check and lookup included.
    uint8_t *storedMap;
    const ResourceLookup *storedLookup;
    bool storedExact;  // with storedMap: its bytes are the file's, handle slots too
    FileStamp storedStamp;
    uint64_t storedChanges;
    bool storedProven;
};

// The chain, first (earliest) to last (latest); null before StartResourceManager.
ListHeader *OpenFilesChain();
inline ResourceFileRecord *FirstFile(const ListHeader *chain) {
    return chain ? reinterpret_cast<ResourceFileRecord *>(chain->first) : nullptr;
}
inline ResourceFileRecord *LastFile(const ListHeader *chain) {
    return chain ? reinterpret_cast<ResourceFileRecord *>(chain->last) : nullptr;
}
inline ResourceFileRecord *NextFile(const ResourceFileRecord *file) {
    return reinterpret_cast<ResourceFileRecord *>(file->link.next);
}
inline ResourceFileRecord *PreviousFile(const ResourceFileRecord *file) {
    return reinterpret_cast<ResourceFileRecord *>(file->link.prev);
}

// The open file with that number (searched from the latest), or null.
ResourceFileRecord *FindFileRecord(uint16_t refNum);
// The current file, or null when the current number names no open file.
ResourceFileRecord *CurrentFileRecord();

void SetResourceErrorCode(int16_t code);

// The compaction mode: 8 asks the next write-back to compact; 0 leaves it to the
// dead-bytes rule.
constexpr int32_t kCompactionForced = 8;
int32_t CompactionMode();
void SetCompactionMode(int32_t mode);

// Where a Handle sits: the file whose map holds it in a slot, and its entries.
struct HandleLocation {
    ResourceFileRecord *file;
    uint32_t typeEntry;
    uint32_t ref;
};
// Searches every open file from the latest. False for null or a Handle in no slot.
bool FindHandle(Handle h, HandleLocation *where);
// Tells FindHandle where a Handle was just put into a slot, to look there first.
void NoteHandlePlace(const HandleLocation &where);

// Starts an operation on a Handle: clears ResourceError and finds h. When h is
// in no slot, ResourceError becomes failureCode and the result is false.
bool LocateHandle(Handle h, HandleLocation *where, int16_t failureCode);

// The lookup of the record's map block, kept with the record; null when there
// is no memory for it. It answers for the block as it stands as long as every
// edit that adds or removes entries calls ForgetMapLookup.
const ResourceLookup *MapLookupOf(ResourceFileRecord *record);
void ForgetMapLookup(ResourceFileRecord *record);

// The Handle in a slot; null when the slot is empty or its Handle is gone.
Handle SlotHandle(const uint8_t *map, uint32_t ref);

// Reads the map of the open file at path and loads the data of every entry
// marked preload into its slot. Null when the map cannot be read.
uint8_t *ReadOpenFileMap(const char *path);

// Reads the map of the record's file, open as file, into the record's stored
// map: bytes equal to those of the stored map keep it and its lookup, other
// bytes are checked as any map read from a file is and replace it. The stamp
// proves nothing afterwards. False, with no stored map kept, when the map
// cannot be read, is damaged, or there is no memory.
// fileSize is the file's size when known (else kPlatformFailure).
bool RefreshStoredMap(ResourceFileRecord *record, FileHandle file, uint32_t fileSize);
// The size a stamp gives, as PlatformFileSize would give it.
uint32_t StampedSize(const FileStamp &stamp);
// Keeps image, the map block that was just written into the record's file,
// handle slots 0, as its stored map (the record takes the block), with lookup,
// a lookup of a block laid out as image is; without lookup nothing is kept.
void KeepWrittenMap(ResourceFileRecord *record, uint8_t *image, const ResourceLookup *lookup);

// Loads the data of (type, id) from the file of the open file record as the
// file's own map places it. Null when the file or its map cannot be read, the
// map lacks the resource, or its data cannot be loaded.
Handle LoadStoredResource(ResourceFileRecord *record, uint32_t type, int16_t id);

// Frees a Handle of the given type the way its kind needs.
void DisposeResourceHandle(Handle h, uint32_t type);
