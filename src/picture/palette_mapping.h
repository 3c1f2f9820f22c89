// Mapping a picture onto a palette: the bitmap block is rewritten in place so
// that its colour table is the palette and its pixels are indices of it.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Rewrites the bitmap block (from NewPointer) in place: every colour of its
// table is matched to the nearest palette entry, the pixel rows move to just
// behind a table of the palette's size, every pixel becomes the index of its
// colour's match, and the table becomes the palette's colours. Because the
// palette's colours are distinct, a mapped picture maps onto itself.
//
// Pictures of 8 bits per pixel, uncompressed or run-length encoded, are mapped
// as they are; in run-length data only the run values and the literal bytes
// change, never the escapes, move offsets or padding. Uncompressed pictures of
// 1 or 4 bits per pixel are first widened to 8 bits per pixel in place (the
// header then says 8 bits and the new image size), since their pixels could
// not hold every palette index. Pictures of other formats hold colours rather
// than indices, or indices packed too tightly to rewrite, and stay as they
// are; so does any block that is damaged or cannot hold the mapped picture.
// Nothing happens without a palette or a block.
void MapPictureToPalette(uint8_t *bitmap, PaletteHandle palette);
