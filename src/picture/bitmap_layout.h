// Where the parts of a picture's bitmap block lie: the information header, the
// colour table and the pixel rows, read from the header and checked against the
// block, which must come from NewPointer (the pool knows its size).
#pragma once

#include <cstdint>

struct BitmapLayout {
    uint32_t blockSize;
    uint32_t headerSize;
    uint32_t width;
    uint32_t height;  // rows, whichever way they are stored
    uint16_t bitCount;
    uint32_t compression;
    uint32_t tableCount;   // colour table entries: the colours used, or 2^bits for 0
    uint32_t pixelOffset;  // behind the table, or behind three colour masks
    uint64_t imageSize;    // the header's image size, or rows x row bytes for 0
};

constexpr uint32_t kNoCompression = 0;
constexpr uint32_t kRunLength8Compression = 1;

// The bytes of one pixel row of width pixels: a multiple of 4.
uint64_t RowBytes(uint64_t width, uint32_t bitCount);

// False for a null block (its size is 0) and when the block is damaged: a header smaller than 40
// bytes or larger than the block, a width that is not 1 to 32767, a height of 0 or beyond 32767
// rows, a bit count other than 1, 4, 8, 16, 24 or 32, more than 256 colours, or
// a colour table or pixel rows that do not lie inside the block.
bool ReadBitmapLayout(const uint8_t *bitmap, BitmapLayout *layout);
