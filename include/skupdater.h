/* The public C interface of the Skelmora Updater library.
 *
 * On POSIX the library also exports a memory device context: a host draws a
 * picture into one (through the library's picture drawing), reads its pixels and
 * can save them as a PNG file. */
#ifndef SKUPDATER_H
#define SKUPDATER_H

#include <stdint.h>

#if defined(_WIN32)
#define SK_EXPORT __declspec(dllexport)
#else
#define SK_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#if !defined(_WIN32)

/* Flags of CreateMemoryDC. */
#define MEMORY_DC_NO_WINDOW 1u /* the device context belongs to no window */
#define MEMORY_DC_NO_BITBLT 2u /* its raster capabilities lack bit-block transfer */

/* A device context of width x height pixels (each 1 to 16384), all black, whose
 * window's client rectangle is (0, 0, width, height). Null when the size is out
 * of range or there is no memory. */
SK_EXPORT void *CreateMemoryDC(int32_t width, int32_t height, uint32_t flags);
/* Its pixels: width * height * 3 bytes, red, green, blue, top row first. Null for
 * anything that is not a live memory device context. */
SK_EXPORT const uint8_t *MemoryDCPixels(const void *dc);
/* Writes its pixels as an 8-bit RGB PNG file: 1 saved, 0 failed. The file is
 * written beside the name and takes it only when complete, so on failure a file
 * that was there stays as it was and nothing new is left. */
SK_EXPORT int32_t SaveMemoryDC(const void *dc, const char *pngPath);
/* Frees it; null and unknown pointers are ignored. */
SK_EXPORT void DeleteMemoryDC(void *dc);

#endif

#ifdef __cplusplus
}
#endif

#endif /* SKUPDATER_H */
