#include <cstring>

#include "resources/map_block.h"
#include "resources/open_files.h"
#include "resources/resource_data.h"
#include "resources/resource_format.h"
#include "resources/resource_manager.h"
#include "resources/write_back.h"
#include "support/file_io.h"

namespace {

// One single-resource write: the map block M of the open file, the map F stored
// in the file, and the data. The map that goes into the file is an image of M
// (handle slots 0) that takes the write's changes first; M takes them once the
// file has them, and the image is kept as the file's stored map.
struct ResourceWrite {
    uint8_t *image;                // M as it goes into the file
    const uint8_t *stored;         // F
    const ResourceLookup *lookup;  // of M, laid out as the image is; may be null
    uint32_t type;
    uint32_t ref;  // the entry in M and in the image
    const uint8_t *data;
    uint32_t size;
    uint32_t deadBytes;
    bool appended;           // the data went behind the data area of F
    uint32_t oldDataLength;  // of F: the appended block's data offset
};

// Puts the data behind the file's data area (where its map lies now); the map
// moves behind it.
bool Append(FileUndo *undo, ResourceWrite *w) {
    uint32_t oldDataLength = MapDataLength(w->stored);
    uint32_t place = MapDataOffset(w->stored) + oldDataLength;
    uint64_t grown = uint64_t{w->size} + 4;
    // The map block must describe the same data area as the file it goes into.
    if (std::memcmp(w->image, w->stored, 12) != 0 || oldDataLength > kLargestDataOffset ||
        uint64_t{MapFileMapOffset(w->image)} + grown + MapLength(w->image) > 0xFFFFFFFFu) {
        return false;
    }
    if (!UndoableWriteDataBlock(undo, place, w->data, w->size)) return false;
    w->appended = true;
    w->oldDataLength = oldDataLength;
    return true;
}

// After data was written over its old place, the map block takes the file's
// offsets: every entry the file holds points where the file says, and entries
// that carry no change of their own are unmarked and let go of their Handles (a
// later Get loads them again). Entries marked changed keep their Handles, so
// that no change waiting to be written is lost.
//
// Each stored entry is matched with the entry of the same type and id in the
// map block, the first one a lookup finds. The block mostly holds the same
// entries in the same places as the file's map, so the entry in the same place
// is tried first: when it has the same type and id and the block holds no
// twins, it is the one. Only the others are looked up (lookup describes the
// block that work copies; without it the block is walked).
void TakeStoredOffsets(uint8_t *work, const uint8_t *stored, const ResourceLookup *lookup) {
    std::memcpy(work, stored, 12);  // data offset, map offset, data length
    bool pairs = lookup != nullptr && lookup->Unique();
    uint32_t ownTypes = MapTypeCount(work);
    uint32_t types = MapTypeCount(stored);
    for (uint32_t t = 0; t < types; ++t) {
        uint32_t typeEntry = TypeEntryAt(t);
        uint32_t type = TypeOf(stored, typeEntry);
        uint32_t count = TypeRefCount(stored, typeEntry);
        uint32_t ownEntry =
            pairs && t < ownTypes && TypeOf(work, TypeEntryAt(t)) == type ? TypeEntryAt(t) : 0;
        uint32_t ownCount = ownEntry != 0 ? TypeRefCount(work, ownEntry) : 0;
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t ref = RefEntryAt(stored, typeEntry, i);
            int16_t id = RefId(stored, ref);
            uint32_t own = i < ownCount ? RefEntryAt(work, ownEntry, i) : 0;
            if (own == 0 || RefId(work, own) != id) {
                own = lookup != nullptr ? lookup->Find(type, id)
                                        : FindResource(work, type, id, nullptr);
            }
            // A resource removed in memory is gone from the map that is written;
            // its old block is already counted as dead.
            if (own == 0) continue;
            SetRefDataOffset(work, own, static_cast<uint32_t>(RefDataOffset(stored, ref)));
            if ((RefAttributes(work, own) & kAttrChanged) == 0) {
                SetRefAttributes(work, own, 0);
                SetRefSlot(work, own, 0);
            }
        }
    }
}

bool WriteOverOldPlace(FileUndo *undo, ResourceWrite *w, uint32_t storedRef) {
    uint32_t at =
        MapDataOffset(w->stored) + static_cast<uint32_t>(RefDataOffset(w->stored, storedRef));
    return UndoableWriteDataBlock(undo, at, w->data, w->size);
}

// Brings a map block laid out as M into line with the file after the data was
// placed: an appended block moves the map and gives the entry its place; data
// written over its old place makes the block take the file's offsets.
void Reshape(uint8_t *map, const ResourceWrite &w) {
    if (w.appended) {
        uint32_t grown = w.size + 4;
        SetMapDataLength(map, MapDataLength(map) + grown);
        SetMapFileMapOffset(map, MapFileMapOffset(map) + grown);
        SetRefDataOffset(map, w.ref, w.oldDataLength);
    } else {
        TakeStoredOffsets(map, w.stored, w.lookup);
    }
}

// Writes the data where it belongs and the map after it.
bool PlaceData(FileUndo *undo, ResourceWrite *w) {
    int16_t id = RefId(w->image, w->ref);
    uint32_t storedRef = FindResource(w->stored, w->type, id, nullptr);
    // A resource new to the file goes behind its data; the map written after it
    // is the map block, which holds the new entry.
    if (storedRef == 0) return Append(undo, w);
    // An added entry reaches the disk with the rest of a map while its data
    // still waits in memory: marked changed, it points at 0, the block of some
    // other resource, so its data is appended, never written there. Any other
    // stored entry names its own block, marked or not.
    bool ownBlock = (RefAttributes(w->stored, storedRef) & kAttrChanged) == 0 ||
                    RefDataOffset(w->stored, storedRef) != 0;
    uint32_t at = 0;
    uint32_t oldLength = 0;
    if (!LocateDataBlock(undo->file, w->stored, storedRef, &at, &oldLength)) oldLength = 0;
    // A block that cannot be located counts as length 0; the data is never empty.
    if (!ownBlock || w->size > oldLength) {
        w->deadBytes = w->size;
        return Append(undo, w);
    }
    w->deadBytes = oldLength - w->size;
    return WriteOverOldPlace(undo, w, storedRef);
}

// Adds the write's dead bytes to the file's counter (a negative counter is
// replaced) as part of the write, so that a later failure takes it back too. An
// info block that cannot be read is left as it is.
bool CountDeadBytes(FileUndo *undo, uint32_t count) {
    uint8_t info[kInfoBlockSize];
    if (count == 0 || !ReadInfoBlock(undo->file, info)) return true;
    AddToDeadBytes(info, count);
    return UndoableWrite(undo, info, kInfoBlockOffset, kInfoBlockSize);
}

bool WriteIntoFile(FileHandle file, uint32_t fileSize, ResourceWrite *w) {
    FileUndo undo;
    if (!UndoBegin(&undo, file, fileSize)) return false;
    uint32_t oldMapEnd = MapFileMapOffset(w->stored) + MapLength(w->stored);
    bool ok = PlaceData(&undo, w);
    if (ok) Reshape(w->image, *w);
    ok = ok && UndoableWriteMapImage(&undo, w->image) && CountDeadBytes(&undo, w->deadBytes) &&
         UndoCommit(&undo, CutPointAfterMap(undo, oldMapEnd, w->image));
    if (!ok) UndoRollback(&undo);
    return ok;
}

// Writes the resource of entry ref of the open file into the file. The map block
// changes only when the file was written.
bool WriteOneResource(ResourceFileRecord *record, uint32_t typeEntry, uint32_t ref, Handle h) {
    ResourceWrite w = {};
    w.type = TypeOf(record->map, typeEntry);
    bool owned = false;
    if (!StoredForm(h, w.type, &w.data, &w.size, &owned)) return false;
    w.ref = ref;
    w.lookup = MapLookupOf(record);
    // A resource without data cannot be stored.
    FileStamp stamp = {};
    bool stamped = false;
    FileHandle file = w.size > 0 ? OpenFileStamped(record->path, kOpenExisting, kGenericReadWrite,
                                                   &stamp, &stamped)
                                 : kInvalidFile;
    uint32_t fileSize = stamped ? StampedSize(stamp) : kPlatformFailure;
    w.image = file != kInvalidFile ? MapImageForDisk(record->map) : nullptr;
    bool ok = w.image != nullptr && RefreshStoredMap(record, file, fileSize);
    w.stored = record->storedMap;
    ok = ok && WriteIntoFile(file, fileSize, &w);
    if (ok) {
        Reshape(record->map, w);
        KeepWrittenMap(record, w.image, w.lookup);
        w.image = nullptr;
    }
    DisposeMapBlock(w.image);
    CloseFileHandle(file);
    if (owned) DisposePointer(const_cast<uint8_t *>(w.data));
    return ok;
}

}  // namespace

void WriteResource(Handle h) {
    SetResourceErrorCode(kResourceOk);
    HandleLocation where;
    if (!FindHandle(h, &where)) {
        SetResourceErrorCode(kResourceNotFound);
        return;
    }
    uint8_t *map = where.file->map;
    if ((RefAttributes(map, where.ref) & kAttrChanged) == 0) return;
    SetRefAttributes(map, where.ref, RefAttributes(map, where.ref) & ~kAttrChanged);
    if (!WriteOneResource(where.file, where.typeEntry, where.ref, h)) {
        // The file does not have the data, and the map block is as it was: the
        // entry stays marked so that the next write-back stores it.
        SetRefAttributes(map, where.ref, RefAttributes(map, where.ref) | kAttrChanged);
        SetResourceErrorCode(kDiskFull);
    }
}
