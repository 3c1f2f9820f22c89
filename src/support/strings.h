// Conversions between zero-terminated strings and Str255 (a length byte followed
// by up to 255 characters, no terminator), and comparisons. Buffers given to the
// conversions hold at least 256 bytes.
#pragma once

#include <cstdint>

// Turns the C string in s into a Str255 in place: at most 255 characters are kept.
uint8_t *CToStr255InPlace(char *s);
// Copies the C string source into destination as a Str255.
uint8_t *CToStr255(const char *source, uint8_t *destination);
// Turns the Str255 in s into a C string in place. Returns null (and leaves the
// length byte, an empty C string) for length 0.
char *Str255ToCInPlace(uint8_t *s);
// Copies the Str255 source into destination as a C string; null for length 0, when
// destination holds an empty string.
char *Str255ToC(const uint8_t *source, char *destination);
// Copies the length byte and that many characters. Returns 0.
int CopyStr255(const uint8_t *source, uint8_t *destination);
// 0 when a and b hold the same length and characters (letter case matters), else -1.
int CompareStr255(const uint8_t *a, const uint8_t *b);
// Compares two C strings without regard to the case of ASCII letters: 0 when equal.
int CompareNoCase(const char *a, const char *b);
