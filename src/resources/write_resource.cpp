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
    uint8_t *image;                      // M as it goes into the file
    const uint8_t *stored;               // F
    const ResourceLookup *storedLookup;  // of F
    const ResourceLookup *lookup;        // of M, laid out as the image is; may be null
    uint32_t type;
    uint32_t ref;  // the entry in M and in the image
    const uint8_t *data;
    uint32_t size;
    uint32_t deadBytes;
    bool appended;           // the data went behind the data area of F
    uint32_t oldDataLength;  // of F: the appended block's data offset
    uint8_t *old;            // the old block as far as the data covers it
    bool imageIsMap;         // the image is M as the write leaves it, slots and all
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
//
// The result tells whether every entry of the block had its counterpart in the
// same place (so each took the file's offset and none kept its Handle but those
// marked changed) and none of them is marked changed.
bool TakeStoredOffsets(uint8_t *work, const uint8_t *stored, const ResourceLookup *lookup) {
    std::memcpy(work, stored, 12);  // data offset, map offset, data length
    bool pairs = lookup != nullptr && lookup->Unique();
    uint32_t ownTypes = MapTypeCount(work);
    uint32_t types = MapTypeCount(stored);
    bool inPlace = pairs && ownTypes == types;
    uint32_t marked = 0;
    for (uint32_t t = 0; t < types; ++t) {
        uint32_t typeEntry = TypeEntryAt(t);
        uint32_t type = TypeOf(stored, typeEntry);
        uint32_t count = TypeRefCount(stored, typeEntry);
        bool paired = pairs && t < ownTypes && TypeOf(work, typeEntry) == type;
        uint32_t ownCount = paired ? TypeRefCount(work, typeEntry) : 0;
        inPlace = inPlace && paired && ownCount == count;
        if (count == 0) continue;
        const uint8_t *entry = stored + RefEntryAt(stored, typeEntry, 0);
        uint8_t *ownRun = ownCount > 0 ? work + RefEntryAt(work, typeEntry, 0) : nullptr;
        for (uint32_t i = 0; i < count; ++i, entry += kRefEntrySize) {
            int16_t id = LoadI16(entry);
            uint8_t *own = i < ownCount ? ownRun + kRefEntrySize * i : nullptr;
            if (own == nullptr || LoadI16(own) != id) {
                inPlace = false;
                uint32_t ref = lookup != nullptr ? lookup->Find(type, id)
                                                 : FindResource(work, type, id, nullptr);
                // A resource removed in memory is gone from the map that is
                // written; its old block is already counted as dead.
                if (ref == 0) continue;
                own = work + ref;
            }
            // Kept: everything of a changed entry but its data offset; of any
            // other, nothing.
            uint32_t word = LoadU32(own + 4);
            uint32_t kept = 0u - ((word >> 24) & kAttrChanged) / kAttrChanged;
            StoreU32(own + 4, (word & 0xFF000000u & kept) | (LoadU32(entry + 4) & 0x00FFFFFFu));
            StoreU32(own + 8, LoadU32(own + 8) & kept);
            marked |= kept;
        }
    }
    return inPlace && marked == 0;
}

// Reads the stored block of storedRef as far as the new data would cover it, in
// one read: its byte count and up to size bytes behind it, inside the data area,
// into w->old. *length receives the byte count, 0 when the block does not lie
// inside the data area or cannot be read. False when there is no memory.
bool ReadOldBlock(ResourceWrite *w, FileHandle file, uint32_t storedRef, uint32_t *length) {
    *length = 0;
    int32_t offset = RefDataOffset(w->stored, storedRef);
    uint32_t dataLength = MapDataLength(w->stored);
    if (offset < 0 || !RangeInside(static_cast<uint32_t>(offset), 4, dataLength)) return true;
    uint32_t behind = dataLength - static_cast<uint32_t>(offset) - 4;
    uint32_t span = 4 + (w->size < behind ? w->size : behind);
    w->old = static_cast<uint8_t *>(NewPointer(span));
    if (w->old == nullptr) return false;
    uint32_t at = MapDataOffset(w->stored) + static_cast<uint32_t>(offset);
    if (!ReadAt(file, w->old, at, span)) return true;
    uint32_t count = LoadU32(w->old);
    if (RangeInside(uint64_t{static_cast<uint32_t>(offset)} + 4, count, dataLength))
        *length = count;
    return true;
}

// Writes the data over the old block, whose bytes it covers are in w->old.
bool WriteOverOldPlace(FileUndo *undo, ResourceWrite *w, uint32_t storedRef) {
    uint32_t at =
        MapDataOffset(w->stored) + static_cast<uint32_t>(RefDataOffset(w->stored, storedRef));
    UndoKnowBytes(undo, w->old, at, 4 + w->size);
    return UndoableWriteDataBlock(undo, at, w->data, w->size);
}

// Brings a map block laid out as M into line with the file after the data was
// placed: an appended block moves the map and gives the entry its place; data
// written over its old place makes the block take the file's offsets.
// True when every entry took the file's offset and let go of its Handle.
bool Reshape(uint8_t *map, const ResourceWrite &w) {
    if (!w.appended) return TakeStoredOffsets(map, w.stored, w.lookup);
    uint32_t grown = w.size + 4;
    SetMapDataLength(map, MapDataLength(map) + grown);
    SetMapFileMapOffset(map, MapFileMapOffset(map) + grown);
    SetRefDataOffset(map, w.ref, w.oldDataLength);
    return false;
}

// Writes the data where it belongs and the map after it.
bool PlaceData(FileUndo *undo, ResourceWrite *w) {
    int16_t id = RefId(w->image, w->ref);
    uint32_t storedRef = w->storedLookup->Find(w->type, id);
    // A resource new to the file goes behind its data; the map written after it
    // is the map block, which holds the new entry.
    if (storedRef == 0) return Append(undo, w);
    // An added entry reaches the disk with the rest of a map while its data
    // still waits in memory: marked changed, it points at 0, the block of some
    // other resource, so its data is appended, never written there. Any other
    // stored entry names its own block, marked or not.
    bool ownBlock = (RefAttributes(w->stored, storedRef) & kAttrChanged) == 0 ||
                    RefDataOffset(w->stored, storedRef) != 0;
    // A block that cannot be located counts as length 0; the data is never empty.
    uint32_t oldLength = 0;
    if (!ReadOldBlock(w, undo->file, storedRef, &oldLength)) return false;
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

bool WriteIntoFile(FileHandle file, uint32_t fileSize, bool exact, ResourceWrite *w) {
    FileUndo undo;
    if (!UndoBegin(&undo, file, fileSize)) return false;
    uint32_t oldMapEnd = MapFileMapOffset(w->stored) + MapLength(w->stored);
    // The file's header and, when it is the file's byte for byte, its map are in
    // memory already.
    UndoKnowBytes(&undo, w->stored, 0, kFileHeaderSize);
    if (exact) UndoKnowBytes(&undo, w->stored, MapFileMapOffset(w->stored), MapLength(w->stored));
    bool ok = PlaceData(&undo, w);
    // The image is M as the file takes it; when every entry let go of its Handle
    // it is M itself as the write leaves it, else its slots still need clearing.
    w->imageIsMap = ok && Reshape(w->image, *w);
    if (ok && !w->imageIsMap) ClearHandleSlots(w->image);
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
    w.image = file != kInvalidFile ? CopyMapBlock(record->map) : nullptr;
    bool ok = w.image != nullptr && RefreshStoredMap(record, file, fileSize);
    w.stored = record->storedMap;
    w.storedLookup = record->storedLookup;
    ok = ok && WriteIntoFile(file, fileSize, record->storedExact, &w);
    if (ok) {
        if (w.imageIsMap) {
            std::memcpy(record->map, w.image, MapLength(w.image));
        } else {
            Reshape(record->map, w);
        }
        KeepWrittenMap(record, w.image, w.lookup);
        w.image = nullptr;
    }
    DisposeMapBlock(w.image);
    if (w.old != nullptr) DisposePointer(w.old);
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
