#include <cstring>

#include "resources/map_block.h"
#include "resources/open_files.h"
#include "resources/resource_data.h"
#include "resources/resource_format.h"
#include "resources/resource_manager.h"
#include "resources/write_back.h"
#include "support/file_io.h"

namespace {

// One single-resource write: the map block M of the open file (worked on as a
// copy until the file is written), the map F stored in the file, and the data.
struct ResourceWrite {
    uint8_t *work;    // copy of M
    uint8_t *stored;  // F
    uint32_t type;
    uint32_t ref;  // the entry in work
    const uint8_t *data;
    uint32_t size;
    uint32_t deadBytes;
};

// Puts the data behind the file's data area (where its map lies now) and moves
// the map behind it.
bool Append(FileUndo *undo, ResourceWrite *w) {
    uint32_t oldDataLength = MapDataLength(w->stored);
    uint32_t place = MapDataOffset(w->stored) + oldDataLength;
    uint64_t grown = uint64_t{w->size} + 4;
    // The map block must describe the same data area as the file it goes into.
    if (std::memcmp(w->work, w->stored, 12) != 0 || oldDataLength > kLargestDataOffset ||
        uint64_t{MapFileMapOffset(w->work)} + grown + MapLength(w->work) > 0xFFFFFFFFu) {
        return false;
    }
    if (!UndoableWriteDataBlock(undo, place, w->data, w->size)) return false;
    SetMapDataLength(w->work, MapDataLength(w->work) + static_cast<uint32_t>(grown));
    SetMapFileMapOffset(w->work, MapFileMapOffset(w->work) + static_cast<uint32_t>(grown));
    SetRefDataOffset(w->work, w->ref, oldDataLength);
    return true;
}

// After data was written over its old place, the map block takes the file's
// offsets: every entry the file holds points where the file says, and entries
// that carry no change of their own are unmarked and let go of their Handles (a
// later Get loads them again). Entries marked changed keep their Handles, so
// that no change waiting to be written is lost.
void TakeStoredOffsets(uint8_t *work, const uint8_t *stored) {
    std::memcpy(work, stored, 12);  // data offset, map offset, data length
    ResourceLookup lookup(work);
    ForEachReference(stored, [&](uint32_t typeEntry, uint32_t ref) {
        uint32_t own = lookup.Find(TypeOf(stored, typeEntry), RefId(stored, ref));
        // A resource removed in memory is gone from the map that is written; its
        // old block is already counted as dead.
        if (own == 0) return true;
        SetRefDataOffset(work, own, static_cast<uint32_t>(RefDataOffset(stored, ref)));
        if ((RefAttributes(work, own) & kAttrChanged) == 0) {
            SetRefAttributes(work, own, 0);
            SetRefSlot(work, own, 0);
        }
        return true;
    });
}

bool WriteOverOldPlace(FileUndo *undo, ResourceWrite *w, uint32_t storedRef) {
    uint32_t at =
        MapDataOffset(w->stored) + static_cast<uint32_t>(RefDataOffset(w->stored, storedRef));
    if (!UndoableWriteDataBlock(undo, at, w->data, w->size)) return false;
    TakeStoredOffsets(w->work, w->stored);
    return true;
}

// Writes the data where it belongs and the map after it.
bool PlaceData(FileUndo *undo, ResourceWrite *w) {
    int16_t id = RefId(w->work, w->ref);
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

bool WriteIntoFile(FileHandle file, ResourceWrite *w) {
    FileUndo undo;
    if (!UndoBegin(&undo, file)) return false;
    uint32_t oldMapEnd = MapFileMapOffset(w->stored) + MapLength(w->stored);
    bool ok = PlaceData(&undo, w) && UndoableWriteHeaderAndMap(&undo, w->work) &&
              CountDeadBytes(&undo, w->deadBytes) &&
              UndoCommit(&undo, CutPointAfterMap(undo, oldMapEnd, w->work));
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
    // A resource without data cannot be stored.
    FileHandle file = w.size > 0 ? OpenFileForAccess(record->path, kOpenExisting, kGenericReadWrite)
                                 : kInvalidFile;
    w.work = file != kInvalidFile ? CopyMapBlock(record->map) : nullptr;
    w.stored = w.work != nullptr ? ReadMapBlock(file) : nullptr;
    bool ok = w.stored != nullptr && WriteIntoFile(file, &w);
    if (ok) std::memcpy(record->map, w.work, MapLength(record->map));
    DisposeMapBlock(w.stored);
    DisposeMapBlock(w.work);
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
