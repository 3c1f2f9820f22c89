// The memory device contexts of the POSIX stand-ins: an RGB canvas with the
// state that the graphics calls keep in a device context. The host makes and
// frees them through the exports of include/skupdater.h; the graphics calls
// take any pointer and use it only when it names a live one.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

struct MemoryDC {
    int32_t width = 0;
    int32_t height = 0;
    uint32_t flags = 0;
    std::vector<uint8_t> pixels;  // red, green, blue; top row first
    PaletteHandle palette = kNoPalette;
    int32_t stretchMode = 1;
};

// The memory device context that dc names, or null when it names none.
MemoryDC *FindMemoryDC(const void *dc);
// The device context of the screen: a live memory device context of no pixels.
MemoryDC *ScreenMemoryDC();
