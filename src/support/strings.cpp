#include "support/strings.h"

#include <cstddef>
#include <cstring>

namespace {

// The length of s, counting no further than limit characters.
size_t BoundedLength(const char *s, size_t limit) {
    size_t length = 0;
    while (length < limit && s[length] != '\0')
        ++length;
    return length;
}

unsigned char FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

}  // namespace

uint8_t *CToStr255InPlace(char *s) {
    // Characters past the 255th stay where they are; at most 256 bytes are written.
    size_t length = BoundedLength(s, 255);
    std::memmove(s + 1, s, length);
    uint8_t *result = reinterpret_cast<uint8_t *>(s);
    result[0] = static_cast<uint8_t>(length);
    return result;
}

uint8_t *CToStr255(const char *source, uint8_t *destination) {
    size_t length = BoundedLength(source, 255);
    std::memmove(destination + 1, source, length);
    destination[0] = static_cast<uint8_t>(length);
    return destination;
}

char *Str255ToCInPlace(uint8_t *s) {
    size_t length = s[0];
    if (length == 0) return nullptr;
    std::memmove(s, s + 1, length);
    s[length] = 0;
    return reinterpret_cast<char *>(s);
}

char *Str255ToC(const uint8_t *source, char *destination) {
    size_t length = source[0];
    std::memmove(destination, source + 1, length);
    destination[length] = '\0';
    return length == 0 ? nullptr : destination;
}

int CopyStr255(const uint8_t *source, uint8_t *destination) {
    std::memmove(destination, source, static_cast<size_t>(source[0]) + 1);
    return 0;
}

int CompareStr255(const uint8_t *a, const uint8_t *b) {
    if (a[0] != b[0]) return -1;
    return std::memcmp(a + 1, b + 1, a[0]) == 0 ? 0 : -1;
}

int CompareNoCase(const char *a, const char *b) {
    if (a == b) return 0;
    if (a == nullptr) return -1;
    if (b == nullptr) return 1;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(a);
    const unsigned char *q = reinterpret_cast<const unsigned char *>(b);
    for (;; ++p, ++q) {
        unsigned char x = FoldAscii(*p);
        unsigned char y = FoldAscii(*q);
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}
