// The software stretch of the POSIX stand-ins: a device-independent bitmap
// drawn onto an RGB canvas with the colour-on-colour rule. Each destination
// pixel takes the source pixel at floor(x * source width / destination width),
// likewise for rows; source rows are counted from the top of the picture
// whichever way the bitmap stores them.
//
// Bitmaps of 1, 4, 8, 16, 24 and 32 bits per pixel without compression and
// run-length encoded bitmaps of 8 bits per pixel are drawn; the others, and
// any bitmap that needs more bytes than the request gives, are refused.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct Canvas {
    uint8_t *pixels;  // red, green, blue; top row first
    int32_t width;
    int32_t height;
};

// Draws the request onto the canvas, clipped to it. The number of source rows
// drawn, or kStretchFailed when the request is refused (a raster operation other
// than copying the source, colours other than red-green-blue, a source
// rectangle outside the bitmap, or a bitmap that cannot be read).
int32_t StretchOntoCanvas(const Canvas &canvas, const StretchRequest &request);
