#include "resources/picture_image.h"

#include <cstdlib>
#include <cstring>

#include "support/byte_order.h"
#include "support/memory_pool.h"

namespace {

constexpr uint32_t kPictureTypes[] = {
    ResTypeOf("ACDP"), ResTypeOf("ACPC"), ResTypeOf("BADP"), ResTypeOf("BAPC"), ResTypeOf("DRDP"),
    ResTypeOf("EGDP"), ResTypeOf("EGPC"), ResTypeOf("EGPP"), ResTypeOf("EvDP"), ResTypeOf("FADP"),
    ResTypeOf("FAPC"), ResTypeOf("FBDP"), ResTypeOf("FBPC"), ResTypeOf("FDDP"), ResTypeOf("FDPC"),
    ResTypeOf("PICT"), ResTypeOf("PLDP"), ResTypeOf("PLPC"),
};

constexpr int32_t kLargestSide = 32767;

// The pixel offset written into every stored image, whatever its colour count;
// readers do not use it.
constexpr uint32_t kStoredPixelOffset = 1078;

// The picture held as 8 bits per pixel with a 40-byte header and 256 colours:
// the form that drawing turns every picture into, in place.
uint64_t EightBitFormSize(uint32_t width, uint32_t height) {
    return 1064 + uint64_t{(width + 3) & ~3u} * height;
}

}  // namespace

bool IsPictureType(uint32_t type) {
    for (uint32_t picture : kPictureTypes) {
        if (picture == type) return true;
    }
    return false;
}

bool ComputeBitmapSizes(const uint8_t *infoHeader, BitmapSizes *sizes) {
    uint32_t headerSize = LoadU32(infoHeader + kBitmapHeaderSize);
    int32_t width = LoadI32(infoHeader + kBitmapWidth);
    int32_t height = LoadI32(infoHeader + kBitmapHeight);
    uint16_t bits = LoadU16(infoHeader + kBitmapBitCount);
    if (headerSize < kBitmapInfoHeaderSize || headerSize > 0x10000) return false;
    if (width == 0 || height == 0 || width < -kLargestSide || width > kLargestSide ||
        height < -kLargestSide || height > kLargestSide) {
        return false;
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        return false;
    }
    uint64_t w = static_cast<uint64_t>(std::abs(width));
    uint64_t h = static_cast<uint64_t>(std::abs(height));
    sizes->imageSize = (((bits * w + 31) & ~uint64_t{31}) / 8) * h;
    sizes->coloursUsed = bits <= 8 ? (1u << bits) : 0;
    sizes->total = headerSize + uint64_t{sizes->coloursUsed} * 4 + sizes->imageSize;
    return true;
}

Handle PictureFromImage(const uint8_t *image, uint32_t size) {
    if (size < kBitmapFileHeaderSize + kBitmapInfoHeaderSize) return nullptr;
    if (image[0] != 'B' || image[1] != 'M') return nullptr;
    const uint8_t *info = image + kBitmapFileHeaderSize;
    uint32_t available = size - kBitmapFileHeaderSize;
    BitmapSizes sizes;
    if (!ComputeBitmapSizes(info, &sizes)) return nullptr;
    uint32_t headerSize = LoadU32(info);  // the header's first field is its size
    if (headerSize > available) return nullptr;
    uint32_t width = static_cast<uint32_t>(std::abs(LoadI32(info + kBitmapWidth)));
    uint32_t height = static_cast<uint32_t>(std::abs(LoadI32(info + kBitmapHeight)));
    bool bitFields = LoadU32(info + kBitmapCompression) == kBitFieldsCompression;

    uint64_t blockSize = EightBitFormSize(width, height);
    uint64_t needed = sizes.total + (bitFields ? 12 : 0);
    if (needed > blockSize) blockSize = needed;
    if (blockSize > 0x7FFFFFFF) return nullptr;

    Handle h = NewHandle(static_cast<int32_t>(sizeof(PictureRecord)));
    if (h == nullptr) return nullptr;
    uint8_t *bitmap = static_cast<uint8_t *>(NewPointer(static_cast<uint32_t>(blockSize)));
    if (bitmap == nullptr) {
        DisposeHandle(h);
        return nullptr;
    }
    // With bit fields the pixels start 12 bytes later, so 12 more bytes belong
    // to the picture.
    uint64_t copy = needed < available ? needed : available;
    std::memcpy(bitmap, info, static_cast<size_t>(copy));
    StoreU32(bitmap + kBitmapImageSize, static_cast<uint32_t>(sizes.imageSize));
    StoreU32(bitmap + kBitmapColoursUsed, sizes.coloursUsed);

    PictureRecord record;
    record.top = 0;
    record.left = 0;
    record.bottom = static_cast<int16_t>(height);
    record.right = static_cast<int16_t>(width);
    record.bitmap = bitmap;
    record.bits = bitmap + headerSize + (bitFields ? 12 : sizes.coloursUsed * 4);
    std::memcpy(*h, &record, sizeof record);
    return h;
}

bool ReadPictureRecord(Handle h, PictureRecord *record) {
    if (h == nullptr || *h == nullptr) return false;
    if (GetHandleSize(h) < static_cast<int32_t>(sizeof(PictureRecord))) return false;
    std::memcpy(record, *h, sizeof *record);
    return true;
}

bool PictureImageSize(Handle h, uint32_t *size) {
    PictureRecord record;
    BitmapSizes sizes;
    if (!ReadPictureRecord(h, &record) || record.bitmap == nullptr ||
        !ComputeBitmapSizes(record.bitmap, &sizes)) {
        return false;
    }
    // Bit-field masks between the header and the pixels are part of the picture.
    bool bitFields = LoadU32(record.bitmap + kBitmapCompression) == kBitFieldsCompression;
    uint64_t total = sizes.total + (bitFields ? 12 : 0);
    if (total > MemoryPoolBlockSize(record.bitmap)) return false;
    *size = kBitmapFileHeaderSize + static_cast<uint32_t>(total);
    return true;
}

uint8_t *ImageFromPicture(Handle h, uint32_t *size) {
    PictureRecord record;
    uint32_t imageSize = 0;
    if (!PictureImageSize(h, &imageSize) || !ReadPictureRecord(h, &record)) return nullptr;
    BitmapSizes sizes;
    ComputeBitmapSizes(record.bitmap, &sizes);
    StoreU32(record.bitmap + kBitmapImageSize, static_cast<uint32_t>(sizes.imageSize));
    StoreU32(record.bitmap + kBitmapColoursUsed, sizes.coloursUsed);
    uint8_t *image = static_cast<uint8_t *>(NewPointer(imageSize));
    if (image == nullptr) return nullptr;
    // The block comes zero-filled, so the reserved field at 6 is already 0.
    image[0] = 'B';
    image[1] = 'M';
    StoreU32(image + 2, imageSize);
    StoreU32(image + 10, kStoredPixelOffset);
    std::memcpy(image + kBitmapFileHeaderSize, record.bitmap, imageSize - kBitmapFileHeaderSize);
    *size = imageSize;
    return image;
}
