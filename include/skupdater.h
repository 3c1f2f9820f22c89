/* The public C interface of the Skelmora Updater library.
 *
 * A host calls Register once, then for each content file Open, any number of
 * List and ListPicture, at most one Update, and Close; at the end UnRegister.
 * All results are 32-bit integers; on 32-bit Windows the functions use the
 * __stdcall convention and are exported by their plain names (Register, not
 * _Register@4). The DLL's export table lists exactly these seven names; a
 * Windows host finds them with GetProcAddress.
 *
 * On POSIX the library also exports a memory device context: a host draws a
 * picture into one (through the library's picture drawing), reads its pixels and
 * can save them as a PNG file. */
#ifndef SKUPDATER_H
#define SKUPDATER_H

#include <stdint.h>

#if defined(_WIN32)
/* The DLL's module-definition file names the exports, so that they keep their
 * plain names on 32-bit Windows as well. */
#define SK_EXPORT
#else
#define SK_EXPORT __attribute__((visibility("default")))
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define SK_CALL __stdcall
#else
#define SK_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Claims the single-instance lock, finds and opens the update source
 * "Updater.rez" (asking for the CD, owned by ownerWindow, when it is needed) and
 * makes the library ready: 1. 0 when another registration holds the lock, no
 * source was found or it cannot be opened (the reason was shown). */
SK_EXPORT int32_t SK_CALL Register(void *ownerWindow);
/* Closes every file, frees the library's memory and gives the lock back: 1. */
SK_EXPORT int32_t SK_CALL UnRegister(void);
/* Opens the content file at path (shorter than 256 characters) and judges
 * whether it needs the update: 1. 0 when it cannot be written or is not a
 * resource file (a message says which), or its kind is unknown; Close it all
 * the same. */
SK_EXPORT int32_t SK_CALL Open(const char *path);
/* Writes the content file back and closes it: 1. */
SK_EXPORT int32_t SK_CALL Close(void);
/* code 100: copies the verdict text (code page 932, at most 22 bytes and the
 * terminator) into buffer, 1. code 200: 1 when the item has its own picture,
 * else 0. code 300: copies "YES" (an update is needed) or "NO", 1. Any other
 * code returns itself. buffer holds at least 23 bytes; unused is not read. */
SK_EXPORT int32_t SK_CALL List(int32_t code, int32_t unused, char *buffer);
/* code 200: draws the item's picture, or the update source's default picture,
 * over the client area of deviceContext's window (grey when there is neither):
 * 1 drawn, 0 failed. Any other code draws nothing and returns 0. */
SK_EXPORT int32_t SK_CALL ListPicture(int32_t code, int32_t unused, void *deviceContext);
/* Brings the open content file to version 1.5: 1 updated (a message says so),
 * 0 when it needed nothing (no message) or the update failed (a message). */
SK_EXPORT int32_t SK_CALL Update(void);

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
