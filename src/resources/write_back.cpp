#include "resources/write_back.h"

#include <algorithm>
#include <cstring>

#include "resources/block_copier.h"
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

// Where the data of each entry of the new file comes from: its block in the old
// file (the data offset there), its Handle, nothing (a block of 0 bytes), or a
// block that cannot be (a negative data offset), which fails the copy.
constexpr int32_t kFromHandle = -1;
constexpr int32_t kEmptyBlock = -2;
constexpr int32_t kNoBlock = -3;

// Finds, in the order of the walk over map, where each entry's data comes from:
// an unchanged entry from the block of its type and id in the map stored in the
// file, and so does a changed entry whose Handle is gone, rather than lose the
// data the file holds for it. False when an unchanged entry is missing there.
bool FindSources(const uint8_t *map, const uint8_t *stored, const ResourceLookup &lookup,
                 int32_t *sources) {
    uint32_t i = 0;
    return ForEachReference(map, [&](uint32_t typeEntry, uint32_t ref) {
        int32_t &source = sources[i++];
        bool changed = (RefAttributes(map, ref) & kAttrChanged) != 0;
        if (changed && SlotHandle(map, ref) != nullptr) {
            source = kFromHandle;
            return true;
        }
        uint32_t found = lookup.Find(TypeOf(map, typeEntry), RefId(map, ref));
        source = found == 0 ? kEmptyBlock : std::max(RefDataOffset(stored, found), kNoBlock);
        return found != 0 || changed;
    });
}

// Writes a changed entry's data from its Handle.
bool WriteFromHandle(FileHandle destination, uint32_t type, Handle h, uint32_t *count) {
    const uint8_t *data = nullptr;
    bool owned = false;
    if (!StoredForm(h, type, &data, count, &owned)) return false;
    bool ok = WriteDataBlock(destination, gWritePosition, data, *count);
    if (owned) DisposePointer(const_cast<uint8_t *>(data));
    return ok;
}

// Writes every entry's data into the new file from 256 on, without gaps, and
// points the entries of map (a working copy) at their new places. Blocks copied
// from the old file go through one buffer, those that follow one another there
// together.
bool CopyAllData(FileHandle source, FileHandle destination, uint8_t *map) {
    gWritePosition = kDataAreaOffset;
    if (MapTypeCount(map) == 0) return true;
    uint8_t *stored = ReadMapBlock(source);
    if (stored == nullptr) return false;
    uint32_t entries = 0;
    ForEachReference(map, [&](uint32_t, uint32_t) { return ++entries != 0; });
    auto *sources = static_cast<int32_t *>(NewPointer(entries * uint32_t{sizeof(int32_t)}));
    bool ok = sources != nullptr || entries == 0;
    {
        ResourceLookup lookup(stored);
        ok = ok && FindSources(map, stored, lookup, sources);
    }
    BlockCopier copier(source, destination, MapDataOffset(stored),
                       MapDataOffset(stored) + MapDataLength(stored));
    // The blocks from the one at i up to the one at sources[chainEnd - 1] follow
    // one another in the old file, as far as the map tells and the buffer reaches.
    uint32_t i = 0;
    uint32_t chainEnd = 0;
    ok = ok && ForEachReference(map, [&](uint32_t typeEntry, uint32_t ref) {
             int32_t from = sources[i];
             SetRefAttributes(map, ref, RefAttributes(map, ref) & ~kAttrChanged);
             uint32_t count = 0;
             bool copied = false;
             if (from == kFromHandle) {
                 copied = WriteFromHandle(destination, TypeOf(map, typeEntry), SlotHandle(map, ref),
                                          &count);
             } else if (from == kEmptyBlock) {
                 copied = WriteDataBlock(destination, gWritePosition, nullptr, 0);
             } else if (from >= 0) {
                 if (i >= chainEnd) {
                     chainEnd = i + 1;
                     while (chainEnd < entries && sources[chainEnd] > sources[chainEnd - 1] &&
                            static_cast<uint32_t>(sources[chainEnd] - from) < kCopyChunk) {
                         ++chainEnd;
                     }
                 }
                 uint32_t ahead = static_cast<uint32_t>(sources[chainEnd - 1]);
                 copied = copier.Copy(from, gWritePosition, ahead, &count);
             }
             ++i;
             uint32_t offset = gWritePosition - kDataAreaOffset;
             if (!copied || offset > kLargestDataOffset ||
                 count > 0xFFFFFFFFu - 4 - gWritePosition) {
                 return false;
             }
             SetRefDataOffset(map, ref, offset);
             gWritePosition += count + 4;
             return true;
         });
    ok = ok && copier.Finish();
    if (sources != nullptr) DisposePointer(sources);
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
    // A small block goes in one write, its byte count in front.
    if (size > 0 && size <= kCopyChunk) {
        const uint32_t total = size + 4;
        auto *block = static_cast<uint8_t *>(NewPointer(total));
        if (block == nullptr) return false;
        StoreU32(block, size);
        std::memcpy(block + 4, data, size);
        bool ok = UndoableWrite(undo, block, offset, total);
        DisposePointer(block);
        return ok;
    }
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

bool RewriteNeeded(const char *path) {
    if (CompactionMode() == kCompactionForced) {
        SetCompactionMode(0);
        return true;
    }
    FileHandle file = OpenFileForAccess(path, kOpenExisting, kGenericRead);
    if (file == kInvalidFile) return false;
    uint8_t info[kInfoBlockSize];
    uint32_t size = 0;
    bool needed = false;
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
