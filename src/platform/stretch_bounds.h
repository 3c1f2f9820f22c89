// Whether a stretch request can be handed to a system that reads the bitmap by
// its own headers, trusting them. The software stretch of the POSIX stand-ins
// checks as it reads; the Windows graphics calls do not, so the Win32 backend
// asks this first and refuses what would make the system read past the blocks.
#pragma once

#include "platform/platform.h"

// True when the request's information block holds a bitmap information header
// of at least 40 bytes (and no more than the block), a width from 1 up, a
// height other than 0, a depth of 1, 4, 8, 16, 24 or 32 bits, a compression
// that fits the depth (none; run-length encoding at 8 or 4 bits, bottom-up
// only; bit fields at 16 or 32 bits), and the colour table (and the three masks
// of bit fields) that the header promises inside the block; and when the pixel
// block holds every row of an uncompressed bitmap, or the stored image size of
// a run-length encoded one, which must not be 0.
bool StretchRequestReadable(const StretchRequest &request);
