// The picture palette: the one 256-colour palette that every preview picture is
// drawn through. Its colours come from the library's bitmap "PICTPAL".
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Builds the picture palette from "PICTPAL" and keeps it. Each call builds a
// new one; when the bitmap cannot be found or the palette cannot be made, there
// is no palette afterwards.
void LoadPicturePalette();
// The palette kept by LoadPicturePalette; kNoPalette before it, or when it failed.
PaletteHandle PicturePalette();

// Makes a palette of the 256 entries of a bitmap's colour table, found at the
// header size (the bitmap's first 32-bit field) from its start, whatever the
// bitmap says of its colour count. The system palette is reset first. kNoPalette
// when the table does not lie within the size bytes or the palette cannot be made.
PaletteHandle PaletteFromBitmap(const uint8_t *bitmap, uint32_t size);

// Realizes a palette of 256 black no-collapse entries in the screen's device
// context, so that the system palette holds no colours of earlier palettes.
void ResetSystemPalette();
