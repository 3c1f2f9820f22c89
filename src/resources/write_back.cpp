#include "resources/write_back.h"

#include <cstring>

#include "resources/map_block.h"
#include "resources/open_files.h"
#include "resources/picture_image.h"
#include "resources/resource_data.h"
#include "resources/resource_format.h"
#include "resources/resource_manager.h"
#include "resources/temporary_files.h"
#include "support/file_io.h"

namespace {

const char kCompactionFileName[] = "~SM12345.tmp";

// Dead bytes beyond which a file is always compacted, and the share of the file
// (one part in kDeadShare) beyond which it is compacted too.
constexpr int32_t kDeadBytesLimit = 350000;
constexpr uint32_t kDeadShare = 5;

// The offset in the new file at which the next data block goes.
uint32_t gWritePosition = 0;

bool AnyMarkedChanged(const uint8_t *map) {
    return !ForEachReference(
        map, [&](uint32_t, uint32_t ref) { return (RefAttributes(map, ref) & kAttrChanged) == 0; });
}

// The on-disk header must name the map and data area that the map block
// describes; otherwise writing the block over it would not match its data.
bool HeaderMatches(FileHandle file, const uint8_t *map, uint32_t *oldMapEnd) {
    FileHeader header;
    if (!ReadFileHeader(file, &header)) return false;
    *oldMapEnd = header.mapOffset + header.mapLength;
    return header.dataOffset == MapDataOffset(map) && header.mapOffset == MapFileMapOffset(map) &&
           header.dataLength == MapDataLength(map);
}

int WriteInPlace(const uint8_t *map, const char *path) {
    FileHandle file = OpenFileForAccess(path, kOpenExisting, kGenericReadWrite);
    if (file == kInvalidFile) return 0;
    FileUndo undo;
    uint32_t oldMapEnd = 0;
    bool ok = HeaderMatches(file, map, &oldMapEnd) && UndoBegin(&undo, file);
    if (ok) {
        ok = UndoableWriteHeaderAndMap(&undo, map) &&
             UndoCommit(&undo, CutPointAfterMap(undo, oldMapEnd, map));
        if (!ok) UndoRollback(&undo);
    }
    CloseFileHandle(file);
    return ok ? 1 : 0;
}

// Copies an entry's data block from the old file to the new one.
bool CopyStoredEntry(FileHandle source, FileHandle destination, const uint8_t *stored,
                     const ResourceLookup &lookup, uint32_t type, int16_t id, uint32_t *count) {
    uint32_t ref = lookup.Find(type, id);
    uint32_t at = 0;
    if (ref == 0 || !LocateDataBlock(source, stored, ref, &at, count)) return false;
    if (*count == 0) return WriteDataBlock(destination, gWritePosition, nullptr, 0);
    return CopyBetweenFiles(source, at - 4, destination, gWritePosition, *count + 4) == 1;
}

// Writes a changed entry's data from its Handle. A changed entry whose Handle is
// gone keeps the data the file holds for it, if any, rather than lose it.
bool CopyChangedEntry(FileHandle source, FileHandle destination, const uint8_t *stored,
                      const ResourceLookup &lookup, uint32_t type, Handle h, int16_t id,
                      uint32_t *count) {
    if (h == nullptr) {
        if (lookup.Find(type, id) != 0) {
            return CopyStoredEntry(source, destination, stored, lookup, type, id, count);
        }
        *count = 0;
        return WriteDataBlock(destination, gWritePosition, nullptr, 0);
    }
    const uint8_t *data = nullptr;
    bool owned = false;
    if (!StoredForm(h, type, &data, count, &owned)) return false;
    bool ok = WriteDataBlock(destination, gWritePosition, data, *count);
    if (owned) DisposePointer(const_cast<uint8_t *>(data));
    return ok;
}

// Writes every entry's data into the new file from 256 on, without gaps, and
// points the entries of map (a working copy) at their new places.
bool CopyAllData(FileHandle source, FileHandle destination, uint8_t *map) {
    gWritePosition = kDataAreaOffset;
    if (MapTypeCount(map) == 0) return true;
    uint8_t *stored = ReadMapBlock(source);
    if (stored == nullptr) return false;
    ResourceLookup lookup(stored);
    bool ok = ForEachReference(map, [&](uint32_t typeEntry, uint32_t ref) {
        uint32_t type = TypeOf(map, typeEntry);
        int16_t id = RefId(map, ref);
        uint32_t count = 0;
        bool copied;
        if (RefAttributes(map, ref) & kAttrChanged) {
            SetRefAttributes(map, ref, RefAttributes(map, ref) & ~kAttrChanged);
            copied = CopyChangedEntry(source, destination, stored, lookup, type,
                                      SlotHandle(map, ref), id, &count);
        } else {
            copied = CopyStoredEntry(source, destination, stored, lookup, type, id, &count);
        }
        uint32_t offset = gWritePosition - kDataAreaOffset;
        if (!copied || offset > kLargestDataOffset || count > 0xFFFFFFFFu - 4 - gWritePosition) {
            return false;
        }
        SetRefDataOffset(map, ref, offset);
        gWritePosition += count + 4;
        return true;
    });
    DisposeMapBlock(stored);
    return ok;
}

// Writes the header, the map and the old info block (with no dead bytes) into
// the new file.
bool WriteNewFileFrame(FileHandle source, FileHandle destination, uint8_t *map) {
    FileHeader header = {kDataAreaOffset, gWritePosition, gWritePosition - kDataAreaOffset,
                         MapLength(map)};
    EncodeFileHeader(header, map);
    uint8_t info[kInfoBlockSize];
    if (!WriteHeaderAndMap(destination, map) || !ReadInfoBlock(source, info)) return false;
    StoreI32(info + kInfoDeadBytes, 0);
    return WriteInfoBlock(destination, info);
}

// Writes the complete new file into the temporary file beside path.
bool WriteCompactedCopy(const char *path, const char *temporary, uint8_t *work) {
    FileHandle source = OpenFileForAccess(path, kOpenExisting, kGenericRead);
    // Without the file, the temporary file beside it may be the only copy of its
    // content (an earlier replacement whose move failed), so it stays.
    if (source == kInvalidFile) return false;
    PlatformFileDelete(temporary);
    FileHandle destination = OpenFileForAccess(temporary, kCreateAlways, kGenericReadWrite);
    bool ok = destination != kInvalidFile && CopyAllData(source, destination, work) &&
              WriteNewFileFrame(source, destination, work);
    CloseFileHandle(source);
    CloseFileHandle(destination);
    if (!ok) PlatformFileDelete(temporary);
    return ok;
}

// Rewrites the file completely through the temporary file. The map block is
// changed only once the old file is gone, so that it always describes the file
// whose content exists.
int Compact(uint8_t *map, const char *path) {
    char temporary[kPathCapacity + sizeof kCompactionFileName];
    if (!TemporaryPathFor(path, kCompactionFileName, temporary, sizeof temporary)) return 0;
    uint8_t *work = CopyMapBlock(map);
    if (work == nullptr) return 0;
    bool written = WriteCompactedCopy(path, temporary, work);
    bool replaced = written && PlatformFileDelete(path);
    if (replaced) std::memcpy(map, work, MapLength(map));
    DisposePointer(work);
    return replaced && PlatformFileMove(temporary, path) ? 1 : 0;
}

}  // namespace

uint32_t CutPointAfterMap(const FileUndo &undo, uint32_t oldMapEnd, const uint8_t *map) {
    return undo.oldSize == oldMapEnd ? MapFileMapOffset(map) + MapLength(map) : 0;
}

bool StoredForm(Handle h, uint32_t type, const uint8_t **data, uint32_t *size, bool *owned) {
    *owned = false;
    if (IsPictureType(type)) {
        uint8_t *image = ImageFromPicture(h, size);
        if (image == nullptr) return false;
        *data = image;
        *owned = true;
        return true;
    }
    *data = h != nullptr ? *h : nullptr;
    *size = *data != nullptr ? static_cast<uint32_t>(GetHandleSize(h)) : 0;
    return true;
}

bool WriteDataBlock(FileHandle file, uint32_t offset, const uint8_t *data, uint32_t size) {
    uint8_t count[4];
    StoreU32(count, size);
    if (!WriteAt(file, count, offset, 4)) return false;
    return size == 0 || WriteAt(file, data, offset + 4, size);
}

bool UndoableWriteDataBlock(FileUndo *undo, uint32_t offset, const uint8_t *data, uint32_t size) {
    uint8_t count[4];
    StoreU32(count, size);
    if (!UndoableWrite(undo, count, offset, 4)) return false;
    return size == 0 || UndoableWrite(undo, data, offset + 4, size);
}

bool UndoableWriteHeaderAndMap(FileUndo *undo, const uint8_t *map) {
    uint8_t *image = MapImageForDisk(map);
    if (image == nullptr) return false;
    bool ok = UndoableWriteMapImage(undo, image);
    DisposePointer(image);
    return ok;
}

bool UndoableWriteMapImage(FileUndo *undo, const uint8_t *image) {
    return UndoableWrite(undo, image, MapFileMapOffset(image), MapLength(image)) &&
           UndoableWrite(undo, image, 0, kFileHeaderSize);
}

int RewriteNeeded(const char *path) {
    if (CompactionMode() == kCompactionForced) {
        SetCompactionMode(0);
        return 1;
    }
    FileHandle file = OpenFileForAccess(path, kOpenExisting, kGenericRead);
    if (file == kInvalidFile) return 0;
    uint8_t info[kInfoBlockSize];
    uint32_t size = 0;
    int needed = 0;
    if (ReadInfoBlock(file, info)) {
        int32_t dead = LoadI32(info + kInfoDeadBytes);
        if (dead != 0 && GetOpenFileSize(file, &size)) {
            needed = dead > kDeadBytesLimit || size / static_cast<uint32_t>(dead) < kDeadShare;
        }
    }
    CloseFileHandle(file);
    return needed;
}

int WriteBackResourceFile(uint8_t *map, const char *path) {
    if (AnyMarkedChanged(map) || RewriteNeeded(path)) return Compact(map, path);
    return WriteInPlace(map, path);
}

int GetFreeDiskSpace(const char *path, uint64_t *freeBytes) {
    char root[kPathCapacity + 2];
    const char *colon = std::strrchr(path, ':');
    if (colon != nullptr) {
        size_t length = static_cast<size_t>(colon - path) + 1;
        if (length + 2 > sizeof root) return 0;
        std::memcpy(root, path, length);
        root[length] = '\\';
        root[length + 1] = '\0';
        path = root;
    }
    // A path without a drive letter asks for the file system that holds it; the
    // Windows backend refuses such a path.
    return PlatformDiskFreeBytes(path, freeBytes) ? 1 : 0;
}

int GetOpenFileSize(FileHandle file, uint32_t *size) {
    uint32_t value = PlatformFileSize(file);
    if (value == kPlatformFailure) return 0;
    *size = value;
    return 1;
}

void UpdateResourceFile(uint16_t refNum) {
    SetResourceErrorCode(kResourceOk);
    ResourceFileRecord *file = FindFileRecord(refNum);
    if (file == nullptr) {
        SetResourceErrorCode(kFileNotUsable);
        return;
    }
    WriteBackResourceFile(file->map, file->path);
}

void SetResourceCompaction(int32_t mode) {
    SetCompactionMode(mode == 3 ? kCompactionForced : 0);
}
