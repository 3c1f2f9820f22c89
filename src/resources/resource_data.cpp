#include "resources/resource_data.h"

#include <cstring>

#include "resources/map_block.h"
#include "resources/picture_image.h"
#include "support/file_io.h"

bool LocateDataBlock(FileHandle file, const uint8_t *map, uint32_t ref, uint32_t *fileOffset,
                     uint32_t *count) {
    int32_t offset = RefDataOffset(map, ref);
    uint32_t dataLength = MapDataLength(map);
    if (offset < 0 || !RangeInside(static_cast<uint32_t>(offset), 4, dataLength)) return false;
    uint8_t countBytes[4];
    uint32_t at = MapDataOffset(map) + static_cast<uint32_t>(offset);
    if (!ReadAt(file, countBytes, at, 4)) return false;
    *count = LoadU32(countBytes);
    *fileOffset = at + 4;
    return RangeInside(uint64_t{static_cast<uint32_t>(offset)} + 4, *count, dataLength);
}

namespace {

// The largest block that is read together with its byte count.
constexpr uint32_t kReadAhead = 32768;

// The bytes from the entry's byte count to the block of the entry behind it in
// the map, which in a file laid down in map order is where its data ends (only
// a byte count that fits them is taken from them); 0 when that is no small
// range of the data area.
uint32_t ReadAheadFor(const uint8_t *map, uint32_t ref) {
    int32_t offset = RefDataOffset(map, ref);
    uint32_t next = ref + kRefEntrySize;
    if (offset < 0 || next + kRefEntrySize > MapNameListOffset(map)) return 0;
    int32_t nextOffset = RefDataOffset(map, next);
    if (nextOffset <= offset || static_cast<uint32_t>(nextOffset) > MapDataLength(map)) return 0;
    uint32_t span = static_cast<uint32_t>(nextOffset - offset);
    return span > 4 && span <= kReadAhead + 4 ? span : 0;
}

Handle LoadPicture(FileHandle file, uint32_t at, uint32_t count) {
    uint8_t *image = static_cast<uint8_t *>(NewPointer(count));
    if (image == nullptr) return nullptr;
    Handle h = ReadAt(file, image, at, count) ? PictureFromImage(image, count) : nullptr;
    DisposePointer(image);
    return h;
}

Handle LoadPlain(FileHandle file, uint32_t at, uint32_t count) {
    if (count > 0x7FFFFFFFu) return nullptr;
    Handle h = NewHandle(static_cast<int32_t>(count));
    if (h == nullptr) return nullptr;
    if (!ReadAt(file, *h, at, count)) {
        DisposeHandle(h);
        return nullptr;
    }
    return h;
}

// Reads span bytes from the entry's byte count on and makes the resource from
// them. False, with nothing made, when the data does not lie inside them; else
// true, with *h null when there is no memory, the read fails or the data
// cannot be made into a resource.
bool LoadInOneRead(FileHandle file, const uint8_t *map, uint32_t type, uint32_t ref, uint32_t span,
                   Handle *h) {
    *h = nullptr;
    auto *bytes = static_cast<uint8_t *>(NewPointer(span));
    if (bytes == nullptr) return true;
    uint32_t at = MapDataOffset(map) + static_cast<uint32_t>(RefDataOffset(map, ref));
    if (ReadAt(file, bytes, at, span) != 1) {
        DisposePointer(bytes);
        return true;
    }
    uint32_t count = LoadU32(bytes);
    bool done = count <= span - 4;
    if (done && count > 0) {
        if (IsPictureType(type)) {
            *h = PictureFromImage(bytes + 4, count);
        } else if ((*h = NewHandle(static_cast<int32_t>(count))) != nullptr) {
            std::memcpy(**h, bytes + 4, count);
        }
    }
    DisposePointer(bytes);
    return done;
}

}  // namespace

Handle LoadResourceData(FileHandle file, const uint8_t *map, uint32_t type, uint32_t ref) {
    uint32_t at = 0;
    uint32_t count = 0;
    bool picture = IsPictureType(type);
    Handle h = nullptr;
    uint32_t span = ReadAheadFor(map, ref);
    if (span == 0 || !LoadInOneRead(file, map, type, ref, span, &h)) {
        if (!LocateDataBlock(file, map, ref, &at, &count) || count == 0) return nullptr;
        h = picture ? LoadPicture(file, at, count) : LoadPlain(file, at, count);
    }
    if (h != nullptr && HandleNumber(h) == 0) {
        if (picture) {
            DisposePictureHandle(h);
        } else {
            DisposeHandle(h);
        }
        return nullptr;
    }
    return h;
}
