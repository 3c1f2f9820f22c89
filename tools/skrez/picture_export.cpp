// Reading stored picture images and writing them as BMP and PNG files.
#include "skrez/picture_export.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "rezkit/rezkit.h"

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kInfoHeaderSize = 40;
constexpr uint32_t kLargestHeader = 0x10000;
constexpr int32_t kLargestSide = 32767;
constexpr uint32_t kNoCompression = 0;
constexpr uint32_t kRunLength8 = 1;
constexpr uint32_t kBitFields = 3;

constexpr uint32_t kPictureTypes[] = {
    FourCC("ACDP"), FourCC("ACPC"), FourCC("BADP"), FourCC("BAPC"), FourCC("DRDP"), FourCC("EGDP"),
    FourCC("EGPC"), FourCC("EGPP"), FourCC("EvDP"), FourCC("FADP"), FourCC("FAPC"), FourCC("FBDP"),
    FourCC("FBPC"), FourCC("FDDP"), FourCC("FDPC"), FourCC("PICT"), FourCC("PLDP"), FourCC("PLPC"),
};

uint64_t RowBytes(uint64_t width, uint16_t bitCount) {
    return ((bitCount * width + 31) / 32) * 4;
}

bool Refuse(std::string *why, const std::string &reason) {
    *why = reason;
    return false;
}

// The bytes [at, at + count) of data, with the bytes past its end read as 0;
// adds their number to *missing.
std::vector<uint8_t> Take(const std::vector<uint8_t> &data, uint64_t at, uint64_t count,
                          uint64_t *missing) {
    std::vector<uint8_t> part(count, 0);
    for (uint64_t i = 0; i < count && at + i < data.size(); ++i)
        part[i] = data[at + i];
    if (at + count > data.size()) *missing += at + count - std::max<uint64_t>(at, data.size());
    return part;
}

// Decodes 8-bit run-length data into rows of rowBytes, in stored order. Pixels
// that the data never reaches stay 0; data that would write past the picture
// ends the decoding.
std::vector<uint8_t> DecodeRunLength8(const std::vector<uint8_t> &data, uint64_t at, uint64_t width,
                                      uint64_t rows, uint64_t rowBytes) {
    std::vector<uint8_t> out(rowBytes * rows, 0);
    uint64_t x = 0;
    uint64_t y = 0;
    auto put = [&](uint8_t value) {
        if (x < width && y < rows) out[y * rowBytes + x] = value;
        ++x;
    };
    while (at + 1 < data.size() && y < rows) {
        const uint8_t first = data[at];
        const uint8_t second = data[at + 1];
        at += 2;
        if (first > 0) {
            for (int i = 0; i < first; ++i)
                put(second);
        } else if (second == 0) {  // end of line
            x = 0;
            ++y;
        } else if (second == 1) {  // end of bitmap
            break;
        } else if (second == 2) {  // move right and up
            if (at + 1 >= data.size()) break;
            x += data[at];
            y += data[at + 1];
            at += 2;
        } else {  // second literal bytes, padded to an even count
            for (int i = 0; i < second && at < data.size(); ++i)
                put(data[at++]);
            at += second & 1;
        }
    }
    return out;
}

// One mask's value scaled to 8 bits.
uint8_t Channel(uint32_t pixel, uint32_t mask) {
    if (mask == 0) return 0;
    int shift = 0;
    while (((mask >> shift) & 1) == 0)
        ++shift;
    const uint64_t top = mask >> shift;
    return static_cast<uint8_t>((((pixel & mask) >> shift) * 255 + top / 2) / top);
}

}  // namespace

bool IsPictureType(uint32_t type) {
    for (uint32_t picture : kPictureTypes) {
        if (picture == type) return true;
    }
    return false;
}

bool ReadStoredPicture(const std::vector<uint8_t> &data, StoredPicture *picture, std::string *why) {
    if (data.size() < kFileHeaderSize + kInfoHeaderSize) {
        return Refuse(why, "picture data of " + std::to_string(data.size()) +
                               " bytes, too short for a bitmap image");
    }
    if (data[0] != 'B' || data[1] != 'M') return Refuse(why, "picture data does not start with BM");
    const uint32_t headerSize = GetU32(data, kFileHeaderSize);
    const int32_t width = GetI32(data, kFileHeaderSize + 4);
    const int32_t height = GetI32(data, kFileHeaderSize + 8);
    const uint16_t bitCount = GetU16(data, kFileHeaderSize + 14);
    const uint32_t compression = GetU32(data, kFileHeaderSize + 16);
    if (headerSize < kInfoHeaderSize || headerSize > kLargestHeader) {
        return Refuse(why, "information header of " + std::to_string(headerSize) + " bytes");
    }
    if (width == 0 || height == 0 || width < -kLargestSide || width > kLargestSide ||
        height < -kLargestSide || height > kLargestSide) {
        return Refuse(why, "picture of " + std::to_string(width) + " x " + std::to_string(height) +
                               " pixels");
    }
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
        bitCount != 32) {
        return Refuse(why, std::to_string(bitCount) + " bits per pixel");
    }
    const bool runLength = compression == kRunLength8 && bitCount == 8;
    const bool bitFields = compression == kBitFields && (bitCount == 16 || bitCount == 32);
    if (compression != kNoCompression && !runLength && !bitFields) {
        return Refuse(why, "compression " + std::to_string(compression) + " at " +
                               std::to_string(bitCount) + " bits per pixel");
    }

    StoredPicture p;
    p.infoHeader.assign(data.begin() + kFileHeaderSize,
                        data.begin() + kFileHeaderSize + kInfoHeaderSize);
    p.width = width < 0 ? -width : width;
    p.height = height;
    p.bitCount = bitCount;
    p.bitFields = bitFields;
    uint64_t at = kFileHeaderSize + uint64_t{headerSize};
    if (bitFields) {
        const std::vector<uint8_t> masks = Take(data, at, 12, &p.missingBytes);
        for (size_t i = 0; i < 3; ++i)
            p.masks[i] = GetU32(masks, 4 * i);
        at += 12;
    } else if (bitCount <= 8) {
        p.colourTable = Take(data, at, uint64_t{4} << bitCount, &p.missingBytes);
        at += p.colourTable.size();
    } else if (bitCount == 16) {
        p.masks[0] = 0x7C00;
        p.masks[1] = 0x03E0;
        p.masks[2] = 0x001F;
    } else {
        p.masks[0] = 0xFF0000;
        p.masks[1] = 0x00FF00;
        p.masks[2] = 0x0000FF;
    }
    const uint64_t rows = static_cast<uint64_t>(height < 0 ? -int64_t{height} : height);
    const uint64_t rowBytes = RowBytes(static_cast<uint64_t>(p.width), bitCount);
    if (runLength) {
        p.rows = DecodeRunLength8(data, at, static_cast<uint64_t>(p.width), rows, rowBytes);
    } else {
        p.rows = Take(data, at, rowBytes * rows, &p.missingBytes);
    }
    *picture = std::move(p);
    return true;
}

std::vector<uint8_t> BmpFromPicture(const StoredPicture &picture) {
    const uint64_t tableBytes = picture.bitFields ? 12 : picture.colourTable.size();
    const uint64_t pixelOffset = kFileHeaderSize + kInfoHeaderSize + tableBytes;
    std::vector<uint8_t> bmp(pixelOffset, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    PutU32(bmp, 2, static_cast<uint32_t>(pixelOffset + picture.rows.size()));
    PutU32(bmp, 10, static_cast<uint32_t>(pixelOffset));
    std::copy(picture.infoHeader.begin(), picture.infoHeader.end(), bmp.begin() + kFileHeaderSize);
    const size_t info = kFileHeaderSize;
    PutU32(bmp, info, kInfoHeaderSize);
    PutI32(bmp, info + 4, picture.width);
    PutI32(bmp, info + 8, picture.height);
    PutU16(bmp, info + 12, 1);
    PutU32(bmp, info + 16, picture.bitFields ? kBitFields : kNoCompression);
    PutU32(bmp, info + 20, static_cast<uint32_t>(picture.rows.size()));
    PutU32(bmp, info + 32, static_cast<uint32_t>(picture.colourTable.size() / 4));
    PutU32(bmp, info + 36, 0);
    const size_t table = kFileHeaderSize + kInfoHeaderSize;
    if (picture.bitFields) {
        for (size_t i = 0; i < 3; ++i)
            PutU32(bmp, table + 4 * i, picture.masks[i]);
    } else {
        std::copy(picture.colourTable.begin(), picture.colourTable.end(), bmp.begin() + table);
    }
    bmp.insert(bmp.end(), picture.rows.begin(), picture.rows.end());
    return bmp;
}

std::vector<uint8_t> RgbFromPicture(const StoredPicture &picture) {
    const uint64_t width = static_cast<uint64_t>(picture.width);
    const uint64_t rows =
        static_cast<uint64_t>(picture.height < 0 ? -int64_t{picture.height} : picture.height);
    const uint64_t rowBytes = RowBytes(width, picture.bitCount);
    std::vector<uint8_t> rgb(width * rows * 3, 0);
    for (uint64_t y = 0; y < rows; ++y) {
        // Rows of a picture of positive height are stored bottom row first.
        const uint64_t stored = picture.height > 0 ? rows - 1 - y : y;
        const uint8_t *row = picture.rows.data() + stored * rowBytes;
        for (uint64_t x = 0; x < width; ++x) {
            uint8_t *out = rgb.data() + (y * width + x) * 3;
            if (picture.bitCount <= 8) {
                // The leftmost pixel sits in the most significant bits of its byte.
                const uint64_t bit = x * picture.bitCount;
                const unsigned shift = 8 - picture.bitCount - static_cast<unsigned>(bit % 8);
                const unsigned index = (row[bit / 8] >> shift) & ((1u << picture.bitCount) - 1);
                const uint8_t *colour = picture.colourTable.data() + 4 * index;
                out[0] = colour[2];
                out[1] = colour[1];
                out[2] = colour[0];
                continue;
            }
            const uint64_t perPixel = picture.bitCount / 8;
            uint32_t value = 0;
            for (uint64_t i = 0; i < perPixel; ++i)
                value |= static_cast<uint32_t>(row[x * perPixel + i]) << (8 * i);
            for (size_t c = 0; c < 3; ++c)
                out[c] = Channel(value, picture.masks[c]);
        }
    }
    return rgb;
}

bool WritePng(const std::string &path, uint32_t width, uint32_t height,
              const std::vector<uint8_t> &rgb, std::string *why) {
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return Refuse(why, "cannot create " + path);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return Refuse(why, "cannot write " + path + " as PNG");
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; ++y)
        png_write_row(png, rgb.data() + size_t{y} * width * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(file) != 0) return Refuse(why, "cannot write " + path);
    return true;
}
