#include "platform/posix/software_stretch.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

#include "platform/stretch_bounds.h"
#include "support/byte_order.h"

namespace {

constexpr int32_t kLargestSide = 32767;
// Run-length encoded bitmaps are decoded whole; beyond this many pixels they
// are refused.
constexpr uint64_t kLargestDecode = uint64_t{1} << 26;
constexpr uint32_t kRunLength8 = 1;

struct Rgb {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
};

// A source bitmap whose every byte that ColourAt reads has been checked.
struct Source {
    int32_t width = 0;
    int32_t height = 0;  // rows, always positive
    bool bottomUp = true;
    uint16_t bitCount = 0;
    uint64_t rowBytes = 0;
    const uint8_t *rows = nullptr;
    std::array<Rgb, 256> table{};  // black beyond the bitmap's own colours: any index fits
    std::vector<uint8_t> decoded;  // run-length bitmaps: one index a pixel
};

uint8_t FiveBits(uint32_t value) {
    value &= 31;
    return static_cast<uint8_t>((value << 3) | (value >> 2));
}

// The colour of the pixel in column x of row y, rows counted from the top.
Rgb ColourAt(const Source &source, int32_t x, int32_t y) {
    const uint64_t row = source.bottomUp ? uint64_t(source.height - 1 - y) : uint64_t(y);
    if (!source.decoded.empty()) {
        return source.table[source.decoded[row * uint64_t(source.width) + uint64_t(x)]];
    }
    const uint8_t *p = source.rows + row * source.rowBytes;
    const uint32_t bit = static_cast<uint32_t>(x) * source.bitCount;
    switch (source.bitCount) {
        case 1:
        case 4: {
            // The leftmost pixel sits in the most significant bits of its byte.
            const uint32_t shift = 8 - source.bitCount - bit % 8;
            const uint32_t mask = (1u << source.bitCount) - 1;
            return source.table[(p[bit / 8] >> shift) & mask];
        }
        case 8:
            return source.table[p[x]];
        case 16: {
            const uint32_t v = LoadU16(p + bit / 8);
            return Rgb{FiveBits(v >> 10), FiveBits(v >> 5), FiveBits(v)};
        }
        default:  // 24 and 32: blue, green, red
            p += bit / 8;
            return Rgb{p[2], p[1], p[0]};
    }
}

// Decodes 8-bit run-length data of size bytes into one index a pixel, stored
// rows first; pixels that the data skips keep index 0.
void DecodeRunLength(const uint8_t *data, uint64_t size, Source *source) {
    const uint64_t width = uint64_t(source->width);
    const uint64_t height = uint64_t(source->height);
    source->decoded.assign(width * height, 0);
    uint64_t x = 0;
    uint64_t y = 0;
    auto put = [&](uint8_t value) {
        if (x < width && y < height) source->decoded[y * width + x] = value;
        ++x;
    };
    for (uint64_t i = 0; i + 1 < size && y < height;) {
        const uint8_t count = data[i];
        const uint8_t value = data[i + 1];
        i += 2;
        if (count > 0) {
            for (uint32_t k = 0; k < count; ++k)
                put(value);
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (i + 2 > size) break;
            x += data[i];
            y += data[i + 1];
            i += 2;
        } else {
            for (uint32_t k = 0; k < value && i + k < size; ++k)
                put(data[i + k]);
            i += value + (value & 1u);
        }
    }
}

// Reads the headers, colour table and pixels of a request whose every promised
// byte lies inside its blocks; false for a bitmap that is not drawn: sides
// beyond 32767, compression other than none or 8-bit run-length encoding, bit
// fields, or more pixels to decode than the limit.
bool ReadSource(const StretchRequest &request, Source *source) {
    if (!StretchRequestReadable(request)) return false;
    const uint8_t *info = request.info;
    const uint32_t headerSize = LoadU32(info);
    const int32_t width = LoadI32(info + 4);
    const int64_t height = LoadI32(info + 8);
    const uint32_t compression = LoadU32(info + 16);
    source->bitCount = LoadU16(info + 14);
    source->width = width;
    source->height = static_cast<int32_t>(std::abs(height));
    source->bottomUp = height > 0;
    if (width > kLargestSide || source->height > kLargestSide ||
        (compression != 0 && compression != kRunLength8)) {
        return false;
    }
    uint64_t colours = source->bitCount <= 8 ? LoadU32(info + 32) : 0;
    if (colours == 0 && source->bitCount <= 8) colours = uint64_t{1} << source->bitCount;
    for (uint64_t i = 0; i < colours; ++i) {
        const uint8_t *entry = info + headerSize + 4 * i;
        source->table[i] = Rgb{entry[2], entry[1], entry[0]};
    }
    if (compression == kRunLength8) {
        if (uint64_t(width) * uint64_t(source->height) > kLargestDecode) return false;
        DecodeRunLength(request.bits, LoadU32(info + 20), source);
        return true;
    }
    source->rowBytes = ((uint64_t{source->bitCount} * uint64_t(width) + 31) & ~31ull) / 8;
    source->rows = request.bits;
    return true;
}

bool SourceRectInside(const StretchRequest &r, const Source &source) {
    return r.sourceX >= 0 && r.sourceY >= 0 && r.sourceWidth > 0 && r.sourceHeight > 0 &&
           r.sourceWidth <= source.width - r.sourceX && r.sourceHeight <= source.height - r.sourceY;
}

void Draw(const Canvas &canvas, const StretchRequest &r, const Source &source) {
    const int64_t firstX = std::max<int64_t>(0, -int64_t{r.x});
    const int64_t endX = std::min<int64_t>(r.width, int64_t{canvas.width} - r.x);
    const int64_t firstY = std::max<int64_t>(0, -int64_t{r.y});
    const int64_t endY = std::min<int64_t>(r.height, int64_t{canvas.height} - r.y);
    // A destination wholly off the canvas leaves one of the ranges empty.
    for (int64_t dy = firstY; dy < endY; ++dy) {
        const auto sy = static_cast<int32_t>(r.sourceY + dy * r.sourceHeight / r.height);
        for (int64_t dx = firstX; dx < endX; ++dx) {
            const auto sx = static_cast<int32_t>(r.sourceX + dx * r.sourceWidth / r.width);
            const Rgb colour = ColourAt(source, sx, sy);
            uint8_t *out = canvas.pixels + ((r.y + dy) * int64_t{canvas.width} + r.x + dx) * 3;
            out[0] = colour.red;
            out[1] = colour.green;
            out[2] = colour.blue;
        }
    }
}

}  // namespace

int32_t StretchOntoCanvas(const Canvas &canvas, const StretchRequest &request) {
    if (request.rasterOperation != kSourceCopy || request.usage != kRgbColours) {
        return kStretchFailed;
    }
    Source source;
    if (!ReadSource(request, &source) || !SourceRectInside(request, source)) return kStretchFailed;
    if (request.width <= 0 || request.height <= 0) return 0;
    Draw(canvas, request, source);
    return request.sourceHeight;
}
