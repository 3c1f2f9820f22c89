// Pictures out of resource files: the data of a picture resource is a
// device-independent bitmap file image whose file header the system does not
// keep up to date (its pixel offset is a fixed number, its sizes may be 0).
// These functions read such an image the way the library does and write it as
// a standard BMP file or as a PNG file that any viewer opens.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// True for the ResTypes whose data is a bitmap file image.
bool IsPictureType(uint32_t type);

// A picture as the library takes it from a stored image.
struct StoredPicture {
    std::vector<uint8_t> infoHeader;  // the 40-byte information header, as stored
    int32_t width = 0;                // columns (the stored width taken as positive)
    int32_t height = 0;               // as stored: positive for bottom row first
    uint16_t bitCount = 0;
    bool bitFields = false;            // three colour masks before the pixels
    uint32_t masks[3] = {0, 0, 0};     // red, green, blue, with bit fields
    std::vector<uint8_t> colourTable;  // blue, green, red, 0 per entry
    std::vector<uint8_t> rows;         // uncompressed rows in stored order
    uint64_t missingBytes = 0;         // bytes the data lacked; read as 0, as the library does
};

// Reads an image as the library does: 'B' 'M'; an information header of 40 to
// 65536 bytes at offset 14; width and height 1 to 32767 either way; 1, 4, 8,
// 16, 24 or 32 bits per pixel; a colour table of 2 to the power of the depth
// entries for up to 8 bits (the colours-used field is not trusted), three
// masks instead for compression 3, then the rows. Run-length encoded 8-bit
// pixels (compression 1) are decoded here. False with a reason for anything
// else.
bool ReadStoredPicture(const std::vector<uint8_t> &data, StoredPicture *picture, std::string *why);

// The picture as a standard BMP file: a 14-byte file header whose size and
// pixel offset are right, a 40-byte information header with the true image size
// and colour count, the colour table or masks, and uncompressed rows.
std::vector<uint8_t> BmpFromPicture(const StoredPicture &picture);

// The picture's pixels as red, green, blue bytes, top row first.
std::vector<uint8_t> RgbFromPicture(const StoredPicture &picture);

// Writes width x height RGB pixels (top row first) as an 8-bit RGB PNG file.
bool WritePng(const std::string &path, uint32_t width, uint32_t height,
              const std::vector<uint8_t> &rgb, std::string *why);
