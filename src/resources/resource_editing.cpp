// Adding a Handle as a resource of the current file, removing a resource and
// marking one changed. The edits are made in the file's map block and reach the
// disk when the resource or the file is written.

#include "resources/map_block.h"
#include "resources/map_edit.h"
#include "resources/open_files.h"
#include "resources/picture_image.h"
#include "resources/resource_format.h"
#include "resources/resource_manager.h"
#include "support/file_io.h"

namespace {

// Room kept on the disk beyond the resource's own bytes, for the entry, the
// name and the rewritten map around them.
constexpr uint64_t kRoomMargin = 280;

// The bytes a resource of this type takes in a file: a picture's bitmap file
// image, else the Handle's size. False when a picture Handle holds no bitmap.
bool StoredSize(Handle h, uint32_t type, uint32_t *size) {
    if (IsPictureType(type)) return PictureImageSize(h, size);
    *size = static_cast<uint32_t>(GetHandleSize(h));
    return true;
}

// Whether the disk of the current file (or of the current folder, when no file
// is current) has room for the resource h of the given type.
bool DiskHasRoom(Handle h, uint32_t type) {
    char folder[kPathCapacity];
    const char *path = folder;
    ResourceFileRecord *current = CurrentFileRecord();
    if (current != nullptr) {
        path = current->path;
    } else {
        uint32_t length = PlatformCurrentFolder(folder, sizeof folder);
        if (length == 0 || length >= sizeof folder) return false;
    }
    uint64_t freeBytes = 0;
    if (GetFreeDiskSpace(path, &freeBytes) != 1) return false;
    uint32_t size = 0;
    if (!StoredSize(h, type, &size)) return false;
    return size + kRoomMargin < freeBytes;
}

// Adds count bytes to the dead-bytes counter of the file at path; a file that
// cannot be opened is left alone.
void CountDeadBytes(const char *path, uint32_t count) {
    FileHandle file = OpenFileForAccess(path, kOpenExisting, kGenericReadWrite);
    if (file == kInvalidFile) return;
    AddDeadBytes(file, count);
    CloseFileHandle(file);
}

}  // namespace

void AddResource(Handle h, uint32_t type, int16_t id, const uint8_t *name) {
    SetResourceErrorCode(kResourceOk);
    HandleLocation where;
    uint32_t number = HandleNumber(h);
    ResourceFileRecord *current = CurrentFileRecord();
    if (number == 0 || FindHandle(h, &where) || current == nullptr) {
        SetResourceErrorCode(kCannotAdd);
        return;
    }
    if (!DiskHasRoom(h, type)) {
        SetResourceErrorCode(kDiskFull);
        return;
    }
    ForgetMapLookup(current);
    if (!AddMapEntry(&current->map, type, id, SlotNumber(h), name))
        SetResourceErrorCode(kCannotAdd);
}

void MarkResourceChanged(Handle h) {
    HandleLocation where;
    if (!LocateHandle(h, &where, kResourceNotFound)) return;
    uint8_t *map = where.file->map;
    if (!DiskHasRoom(h, TypeOf(map, where.typeEntry))) {
        SetResourceErrorCode(kCannotAdd);
        return;
    }
    SetRefAttributes(map, where.ref, RefAttributes(map, where.ref) | kAttrChanged);
}

void RemoveResource(Handle h) {
    HandleLocation where;
    if (!LocateHandle(h, &where, kCannotRemove)) return;
    // A picture without a usable bitmap leaves no size to count.
    uint32_t size = 0;
    if (!StoredSize(h, TypeOf(where.file->map, where.typeEntry), &size)) size = 0;
    ForgetMapLookup(where.file);
    if (!RemoveMapEntry(&where.file->map, where.typeEntry, where.ref)) {
        SetResourceErrorCode(kCannotRemove);
        return;
    }
    CountDeadBytes(where.file->path, size);
}
