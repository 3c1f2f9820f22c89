// Little-endian fields in byte blocks. Every number in a resource file is
// little-endian whatever the host; all readers and writers go through these.
//
// Two tiers: the Load/Store functions are unchecked and serve blocks whose
// bounds are already validated; ByteCursor checks every read against what is
// left and advances only on success.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// On a little-endian host a field is its bytes as they stand, moved in one
// piece; elsewhere it is put together byte by byte.
constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;

inline uint16_t LoadU16(const uint8_t *p) {
    if constexpr (kLittleEndianHost) {
        uint16_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LoadU32(const uint8_t *p) {
    if constexpr (kLittleEndianHost) {
        uint32_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline int16_t LoadI16(const uint8_t *p) {
    return static_cast<int16_t>(LoadU16(p));
}
inline int32_t LoadI32(const uint8_t *p) {
    return static_cast<int32_t>(LoadU32(p));
}

inline void StoreU16(uint8_t *p, uint16_t v) {
    if constexpr (kLittleEndianHost) {
        std::memcpy(p, &v, sizeof v);
        return;
    }
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreU32(uint8_t *p, uint32_t v) {
    if constexpr (kLittleEndianHost) {
        std::memcpy(p, &v, sizeof v);
        return;
    }
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
inline void StoreI16(uint8_t *p, int16_t v) {
    StoreU16(p, static_cast<uint16_t>(v));
}
inline void StoreI32(uint8_t *p, int32_t v) {
    StoreU32(p, static_cast<uint32_t>(v));
}

// A four-character resource type as its 32-bit value: the first character is the
// most significant byte, so ResTypeOf("PICT") is 0x50494354.
constexpr uint32_t ResTypeOf(const char (&code)[5]) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(code[0])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 8) |
           static_cast<uint32_t>(static_cast<uint8_t>(code[3]));
}

// Reads fields from a block of known size. A read that would pass the end fails
// and leaves the position where it was.
class ByteCursor {
  public:
    ByteCursor(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    size_t remaining() const { return size_ - pos_; }

    bool Skip(size_t count) {
        if (count > remaining()) return false;
        pos_ += count;
        return true;
    }
    bool ReadU8(uint8_t *out) {
        if (remaining() < 1) return false;
        *out = data_[pos_++];
        return true;
    }
    bool ReadU16(uint16_t *out) {
        if (remaining() < 2) return false;
        *out = LoadU16(data_ + pos_);
        pos_ += 2;
        return true;
    }
    bool ReadI16(int16_t *out) {
        uint16_t v;
        if (!ReadU16(&v)) return false;
        *out = static_cast<int16_t>(v);
        return true;
    }
    bool ReadBytes(void *out, size_t count) {
        if (count > remaining()) return false;
        if (count > 0) std::memcpy(out, data_ + pos_, count);
        pos_ += count;
        return true;
    }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// True when [offset, offset + length) lies inside a block of size bytes, computed
// without wrap-round.
inline bool RangeInside(uint64_t offset, uint64_t length, uint64_t size) {
    return offset <= size && length <= size - offset;
}
