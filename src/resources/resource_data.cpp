#include "resources/resource_data.h"

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

}  // namespace

Handle LoadResourceData(FileHandle file, const uint8_t *map, uint32_t type, uint32_t ref) {
    uint32_t at = 0;
    uint32_t count = 0;
    if (!LocateDataBlock(file, map, ref, &at, &count) || count == 0) return nullptr;
    bool picture = IsPictureType(type);
    Handle h = picture ? LoadPicture(file, at, count) : LoadPlain(file, at, count);
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
