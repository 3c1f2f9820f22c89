// The preview pictures of the demo set: small 8-bit bitmap images of what an
// item shows (a fish, a plant, ...) over water and sand.
//
// Their colour tables are smooth ramps of colours that the product's picture
// palette mostly does not hold, so a drawn preview shows the mapping onto the
// palette: the ramps come out in bands of the nearest palette colours.
#pragma once

#include <cstdint>
#include <vector>

#include "rezkit/rezkit.h"

enum class Motif { kFish, kPlant, kOrnament, kFood, kMedicine, kLights, kTitle };

// A 64 x 48 picture of the motif in the hue, as a bitmap file image of 8 bits
// per pixel and 256 colours; with runLength its pixels are stored run-length
// encoded (compression 1), else as plain rows.
std::vector<uint8_t> DemoPicture(Motif motif, FixtureColour hue, bool runLength = false);

// 8-bit pixel rows (top row first, width bytes each, no padding) encoded as
// run-length data of a bottom-up bitmap: runs of up to 255 equal bytes, an
// end-of-line escape behind each row but the last and the end-of-bitmap escape.
std::vector<uint8_t> RunLengthEncode(const std::vector<uint8_t> &rows, uint32_t width);
