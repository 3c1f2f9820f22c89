#include "picture/bitmap_layout.h"

#include <cstdlib>

#include "resources/picture_image.h"
#include "support/byte_order.h"
#include "support/memory_pool.h"

namespace {

constexpr int64_t kLargestSide = 32767;
constexpr uint32_t kLargestTable = 256;
// Compression 3: three 4-byte colour masks stand between header and pixels.
constexpr uint32_t kColourMasksSize = 12;

bool DepthKnown(uint16_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

uint64_t RowBytes(uint64_t width, uint32_t bitCount) {
    return ((bitCount * width + 31) & ~uint64_t{31}) / 8;
}

bool ReadBitmapLayout(const uint8_t *bitmap, BitmapLayout *layout) {
    const uint32_t blockSize = MemoryPoolBlockSize(bitmap);
    if (blockSize < kBitmapInfoHeaderSize) return false;
    const uint32_t headerSize = LoadU32(bitmap);  // the header starts with its size
    const int64_t width = LoadI32(bitmap + kBitmapWidth);
    const int64_t height = std::abs(int64_t{LoadI32(bitmap + kBitmapHeight)});
    const uint16_t bits = LoadU16(bitmap + kBitmapBitCount);
    const uint32_t colours = LoadU32(bitmap + kBitmapColoursUsed);
    if (headerSize < kBitmapInfoHeaderSize || headerSize > blockSize || width < 1 ||
        width > kLargestSide || height < 1 || height > kLargestSide || !DepthKnown(bits) ||
        colours > kLargestTable) {
        return false;
    }
    layout->blockSize = blockSize;
    layout->headerSize = headerSize;
    layout->width = static_cast<uint32_t>(width);
    layout->height = static_cast<uint32_t>(height);
    layout->bitCount = bits;
    layout->compression = LoadU32(bitmap + kBitmapCompression);
    layout->tableCount = colours == 0 && bits <= 8 ? 1u << bits : colours;
    const bool masks = layout->compression == kBitFieldsCompression;
    const uint64_t pixelOffset =
        headerSize + (masks ? kColourMasksSize : uint64_t{4} * layout->tableCount);
    layout->imageSize = LoadU32(bitmap + kBitmapImageSize);
    if (layout->imageSize == 0) layout->imageSize = RowBytes(layout->width, bits) * layout->height;
    // Pixel rows inside the block put the table (or the masks) inside it too.
    if (!RangeInside(pixelOffset, layout->imageSize, blockSize)) return false;
    layout->pixelOffset = static_cast<uint32_t>(pixelOffset);
    return true;
}
