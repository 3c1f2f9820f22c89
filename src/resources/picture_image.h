// Pictures: resources of the picture types are stored as bitmap file images
// ('B','M', a 14-byte file header, the bitmap information header, the colour
// table and the pixel rows) and held in memory as a PictureRecord whose bitmap
// block holds everything behind the file header.
#pragma once

#include <cstdint>

#include "resources/handles.h"

// True for exactly the eighteen picture types.
bool IsPictureType(uint32_t type);

// Fields of the bitmap information header, counted from its start.
constexpr uint32_t kBitmapHeaderSize = 0;
constexpr uint32_t kBitmapWidth = 4;
constexpr uint32_t kBitmapHeight = 8;
constexpr uint32_t kBitmapBitCount = 14;
constexpr uint32_t kBitmapCompression = 16;
constexpr uint32_t kBitmapImageSize = 20;
constexpr uint32_t kBitmapColoursUsed = 32;
constexpr uint32_t kBitmapInfoHeaderSize = 40;
constexpr uint32_t kBitmapFileHeaderSize = 14;
constexpr uint32_t kBitFieldsCompression = 3;

// The sizes that follow from a bitmap information header: the pixel bytes of
// the uncompressed image, the colour count (2^bits for up to 8 bits per pixel,
// else 0) and the header, colour table and pixels together.
struct BitmapSizes {
    uint64_t imageSize;
    uint32_t coloursUsed;
    uint64_t total;
};
// False when the header is not one this system can hold: a header smaller than
// 40 bytes, a width or height of 0 or beyond 32767, or a bit count other than 1,
// 4, 8, 16, 24 or 32.
bool ComputeBitmapSizes(const uint8_t *infoHeader, BitmapSizes *sizes);

// Makes a picture Handle (its data a PictureRecord) from a stored bitmap file
// image of size bytes. Null when the image does not start with 'B','M', its
// header is damaged or there is no memory. Stored pixels that the image lacks
// read as zero.
Handle PictureFromImage(const uint8_t *image, uint32_t size);

// The size of the bitmap file image that a picture Handle is stored as: the
// 14-byte file header, the information header, the colour table and the pixels,
// as the record's bitmap header gives them. False when the Handle holds no
// usable bitmap.
bool PictureImageSize(Handle h, uint32_t *size);

// Makes the bitmap file image of a picture Handle: recomputes the image size and
// colour count in the bitmap block, then builds 'B','M', the file size, 4 zero
// bytes and the pixel offset 1078, followed by the bitmap block's header, colour
// table and pixels. The image is a block from NewPointer of *size bytes; null
// when the Handle holds no usable bitmap or there is no memory.
uint8_t *ImageFromPicture(Handle h, uint32_t *size);

// Reads the PictureRecord of a picture Handle; false for a null or empty Handle
// or one too small to hold a record.
bool ReadPictureRecord(Handle h, PictureRecord *record);
