#include "picture/palette_mapping.h"

#include <algorithm>
#include <cstring>

#include "picture/bitmap_layout.h"
#include "resources/picture_image.h"
#include "support/byte_order.h"

namespace {

constexpr uint32_t kLargestPalette = 256;

// Escapes of run-length data: a first byte 0 followed by one of these, or by a
// count of literal bytes. An end of line (0) maps like a literal run of none.
constexpr uint8_t kEndOfBitmap = 1;
constexpr uint8_t kMove = 2;

bool Mappable(const BitmapLayout &layout) {
    if (layout.bitCount == 8) {
        return layout.compression == kNoCompression || layout.compression == kRunLength8Compression;
    }
    return (layout.bitCount == 1 || layout.bitCount == 4) && layout.compression == kNoCompression;
}

// The palette index nearest to each colour of the picture's table; entries
// beyond the table stay 0.
void MatchColourTable(const uint8_t *bitmap, const BitmapLayout &layout, PaletteHandle palette,
                      uint8_t *map) {
    std::memset(map, 0, kLargestPalette);
    for (uint32_t i = 0; i < layout.tableCount; ++i) {
        const uint8_t *colour = bitmap + layout.headerSize + 4 * i;  // blue, green, red, 0
        const uint32_t index =
            PlatformPaletteNearestIndex(palette, colour[2], colour[1], colour[0]);
        map[i] = static_cast<uint8_t>(index < kLargestPalette ? index : 0);
    }
}

// Rewrites rows of 1 or 4 bits per pixel as rows of 8 bits per pixel starting
// at the same byte. The last row is done first and each row from its right end,
// so every byte is read before it is overwritten.
void WidenRows(uint8_t *pixels, const BitmapLayout &layout) {
    const uint64_t oldRow = RowBytes(layout.width, layout.bitCount);
    const uint64_t newRow = RowBytes(layout.width, 8);
    const uint32_t bits = layout.bitCount;
    const uint32_t mask = (1u << bits) - 1;
    for (uint64_t y = layout.height; y-- > 0;) {
        for (uint64_t x = newRow; x-- > 0;) {
            uint8_t value = 0;
            if (x < layout.width) {
                // The leftmost pixel sits in the most significant bits of its byte.
                const uint64_t bit = x * bits;
                const uint32_t shift = 8 - bits - static_cast<uint32_t>(bit % 8);
                value = static_cast<uint8_t>((pixels[y * oldRow + bit / 8] >> shift) & mask);
            }
            pixels[y * newRow + x] = value;
        }
    }
}

// Rewrites the run values and literal bytes of 8-bit run-length data; the walk
// ends at the end-of-bitmap escape or at the end of the size bytes.
void MapRunLengthData(uint8_t *data, uint64_t size, const uint8_t *map) {
    uint64_t i = 0;
    while (i + 1 < size) {
        const uint8_t count = data[i];
        const uint8_t value = data[i + 1];
        if (count > 0) {
            data[i + 1] = map[value];
            i += 2;
        } else if (value == kEndOfBitmap) {
            return;
        } else if (value == kMove) {
            i += 4;  // the escape and the two offset bytes
        } else {
            const uint64_t end = std::min<uint64_t>(size, i + 2 + value);
            for (uint64_t k = i + 2; k < end; ++k)
                data[k] = map[data[k]];
            i += 2 + value + (value & 1u);  // an odd literal run is padded to a word
        }
    }
}

void MapPixels(uint8_t *pixels, const BitmapLayout &layout, const uint8_t *map) {
    if (layout.compression == kRunLength8Compression) {
        MapRunLengthData(pixels, layout.imageSize, map);
        return;
    }
    for (uint64_t i = 0; i < layout.imageSize; ++i)
        pixels[i] = map[pixels[i]];
}

void WriteColourTable(uint8_t *bitmap, uint32_t headerSize, PaletteHandle palette, uint32_t count) {
    PaletteEntry entries[kLargestPalette] = {};
    PlatformPaletteEntries(palette, 0, count, entries);
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t *colour = bitmap + headerSize + 4 * i;
        colour[0] = entries[i].blue;
        colour[1] = entries[i].green;
        colour[2] = entries[i].red;
        colour[3] = 0;
    }
}

}  // namespace

void MapPictureToPalette(uint8_t *bitmap, PaletteHandle palette) {
    // No block has no layout, and no palette has no entries.
    BitmapLayout layout;
    if (!ReadBitmapLayout(bitmap, &layout) || !Mappable(layout)) return;
    const uint32_t count = PlatformPaletteEntryCount(palette);
    if (count == 0 || count > kLargestPalette) return;
    const bool widen = layout.bitCount < 8;
    const uint64_t pixelBytes =
        widen ? RowBytes(layout.width, 8) * layout.height : layout.imageSize;
    const uint32_t newOffset = layout.headerSize + 4 * count;
    // The block stays where it is: the picture must fit it before and after the move.
    if (!RangeInside(layout.pixelOffset, pixelBytes, layout.blockSize) ||
        !RangeInside(newOffset, pixelBytes, layout.blockSize)) {
        return;
    }
    uint8_t map[kLargestPalette];
    MatchColourTable(bitmap, layout, palette, map);
    if (widen) {
        WidenRows(bitmap + layout.pixelOffset, layout);
        layout.imageSize = pixelBytes;
        StoreU16(bitmap + kBitmapBitCount, 8);
        StoreU32(bitmap + kBitmapImageSize, static_cast<uint32_t>(pixelBytes));
    }
    if (newOffset != layout.pixelOffset) {
        std::memmove(bitmap + newOffset, bitmap + layout.pixelOffset, pixelBytes);
    }
    StoreU32(bitmap + kBitmapColoursUsed, count);
    MapPixels(bitmap + newOffset, layout, map);
    WriteColourTable(bitmap, layout.headerSize, palette, count);
}
