#include "platform/stretch_bounds.h"

#include "support/byte_order.h"

namespace {

constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kNoCompression = 0;
constexpr uint32_t kRunLength8 = 1;
constexpr uint32_t kRunLength4 = 2;
constexpr uint32_t kBitFields = 3;
constexpr uint64_t kBitFieldMasks = 12;
constexpr uint64_t kLargestTable = 256;

bool DepthKnown(uint16_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

bool CompressionFits(uint32_t compression, uint16_t bits, int32_t height) {
    switch (compression) {
        case kNoCompression:
            return true;
        case kRunLength8:
            return bits == 8 && height > 0;
        case kRunLength4:
            return bits == 4 && height > 0;
        case kBitFields:
            return bits == 16 || bits == 32;
        default:
            return false;
    }
}

}  // namespace

bool StretchRequestReadable(const StretchRequest &request) {
    if (request.info == nullptr || request.bits == nullptr || request.infoSize < kInfoHeaderSize) {
        return false;
    }
    const uint8_t *info = request.info;
    const uint64_t headerSize = LoadU32(info);
    const int32_t width = LoadI32(info + 4);
    const int32_t height = LoadI32(info + 8);
    const uint16_t bits = LoadU16(info + 14);
    const uint32_t compression = LoadU32(info + 16);
    const uint64_t imageSize = LoadU32(info + 20);
    const uint64_t coloursUsed = LoadU32(info + 32);
    if (headerSize < kInfoHeaderSize || headerSize > request.infoSize || width < 1 || height == 0 ||
        height == INT32_MIN || !DepthKnown(bits) || !CompressionFits(compression, bits, height)) {
        return false;
    }
    // A bitmap of up to 8 bits has a table of its own size unless the header
    // says how many entries it uses; deeper ones have one only when it says so.
    const uint64_t depthTable = bits <= 8 ? uint64_t{1} << bits : 0;
    const uint64_t tableEntries = coloursUsed != 0 ? coloursUsed : depthTable;
    if (tableEntries > kLargestTable) return false;
    const uint64_t masks =
        compression == kBitFields && headerSize == kInfoHeaderSize ? kBitFieldMasks : 0;
    if (headerSize + masks + 4 * tableEntries > request.infoSize) return false;

    if (compression == kRunLength8 || compression == kRunLength4) {
        return imageSize != 0 && imageSize <= request.bitsSize;
    }
    const uint64_t rows = height > 0 ? uint64_t(height) : uint64_t(-int64_t{height});
    const uint64_t rowBytes = ((uint64_t{bits} * uint64_t(width) + 31) & ~uint64_t{31}) / 8;
    return rowBytes * rows <= request.bitsSize;
}
