#include "platform/posix/software_graphics.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/posix/memory_dc.h"
#include "platform/posix/software_stretch.h"
#include "skupdater.h"

namespace {

constexpr uint32_t kLargestPalette = 256;
constexpr int32_t kRasterStretchesBitmaps = 0x2000;
constexpr uint8_t kGreyBrush = 128;

using Palette = std::vector<PaletteEntry>;

std::vector<std::optional<Palette>> &Palettes() {
    static std::vector<std::optional<Palette>> palettes;
    return palettes;
}

// The palette that a handle names, or null.
Palette *FindPalette(PaletteHandle palette) {
    std::vector<std::optional<Palette>> &palettes = Palettes();
    if (palette < 1 || static_cast<size_t>(palette) > palettes.size()) return nullptr;
    std::optional<Palette> &slot = palettes[static_cast<size_t>(palette) - 1];
    return slot ? &*slot : nullptr;
}

uint32_t SquaredDistance(const PaletteEntry &entry, uint8_t red, uint8_t green, uint8_t blue) {
    const int32_t r = entry.red - red;
    const int32_t g = entry.green - green;
    const int32_t b = entry.blue - blue;
    return static_cast<uint32_t>(r * r + g * g + b * b);
}

}  // namespace

int32_t SoftwareGraphics::DeviceCapability(DeviceContext dc, int32_t index) {
    const MemoryDC *memory = FindMemoryDC(dc);
    if (memory == nullptr || index != kRasterCapabilities) return 0;
    const bool bitBlt = (memory->flags & MEMORY_DC_NO_BITBLT) == 0;
    return kRasterStretchesBitmaps | (bitBlt ? kRasterCanBitBlt : 0);
}

PaletteHandle SoftwareGraphics::PaletteCreate(const PaletteEntry *entries, uint32_t count) {
    if (entries == nullptr || count == 0 || count > kLargestPalette) return kNoPalette;
    Palettes().emplace_back(Palette(entries, entries + count));
    return static_cast<PaletteHandle>(Palettes().size());
}

bool SoftwareGraphics::PaletteDelete(PaletteHandle palette) {
    if (FindPalette(palette) == nullptr) return false;
    Palettes()[static_cast<size_t>(palette) - 1].reset();
    return true;
}

uint32_t SoftwareGraphics::PaletteEntryCount(PaletteHandle palette) {
    const Palette *found = FindPalette(palette);
    return found != nullptr ? static_cast<uint32_t>(found->size()) : 0;
}

uint32_t SoftwareGraphics::PaletteNearestIndex(PaletteHandle palette, uint8_t red, uint8_t green,
                                               uint8_t blue) {
    const Palette *found = FindPalette(palette);
    if (found == nullptr) return kPlatformFailure;
    uint32_t nearest = 0;
    uint32_t best = SquaredDistance((*found)[0], red, green, blue);
    for (uint32_t i = 1; i < found->size(); ++i) {
        const uint32_t distance = SquaredDistance((*found)[i], red, green, blue);
        if (distance < best) {
            best = distance;
            nearest = i;
        }
    }
    return nearest;
}

uint32_t SoftwareGraphics::PaletteEntries(PaletteHandle palette, uint32_t first, uint32_t count,
                                          PaletteEntry *entries) {
    const Palette *found = FindPalette(palette);
    if (found == nullptr || entries == nullptr || first >= found->size()) return 0;
    const uint32_t copied = std::min<uint32_t>(count, static_cast<uint32_t>(found->size()) - first);
    std::memcpy(entries, found->data() + first, copied * sizeof(PaletteEntry));
    return copied;
}

PaletteHandle SoftwareGraphics::PaletteSelect(DeviceContext dc, PaletteHandle palette, bool) {
    MemoryDC *memory = FindMemoryDC(dc);
    if (memory == nullptr || (palette != kNoPalette && FindPalette(palette) == nullptr)) {
        return kNoPalette;
    }
    const PaletteHandle previous = memory->palette;
    memory->palette = palette;
    return previous;
}

uint32_t SoftwareGraphics::PaletteRealize(DeviceContext dc) {
    const MemoryDC *memory = FindMemoryDC(dc);
    if (memory == nullptr) return kPlatformFailure;
    // The canvas holds red-green-blue pixels: realizing maps nothing.
    return PaletteEntryCount(memory->palette);
}

int32_t SoftwareGraphics::StretchModeSet(DeviceContext dc, int32_t mode) {
    MemoryDC *memory = FindMemoryDC(dc);
    if (memory == nullptr || mode < 1 || mode > 4) return 0;
    const int32_t previous = memory->stretchMode;
    memory->stretchMode = mode;
    return previous;
}

WindowHandle SoftwareGraphics::DeviceWindow(DeviceContext dc) {
    MemoryDC *memory = FindMemoryDC(dc);
    if (memory == nullptr || (memory->flags & MEMORY_DC_NO_WINDOW) != 0) return nullptr;
    return memory;
}

bool SoftwareGraphics::WindowClientRect(WindowHandle window, PlatformRect *rect) {
    const MemoryDC *memory = FindMemoryDC(window);
    if (memory == nullptr || rect == nullptr) return false;
    *rect = PlatformRect{0, 0, memory->width, memory->height};
    return true;
}

int32_t SoftwareGraphics::BitmapStretch(DeviceContext dc, const StretchRequest &request) {
    MemoryDC *memory = FindMemoryDC(dc);
    if (memory == nullptr) return kStretchFailed;
    return StretchOntoCanvas(Canvas{memory->pixels.data(), memory->width, memory->height}, request);
}

bool SoftwareGraphics::GreyRectFill(DeviceContext dc, const PlatformRect &rect) {
    MemoryDC *memory = FindMemoryDC(dc);
    if (memory == nullptr) return false;
    const int32_t left = std::max(rect.left, 0);
    const int32_t right = std::min(rect.right, memory->width);
    for (int32_t y = std::max(rect.top, 0); y < std::min(rect.bottom, memory->height); ++y) {
        for (int32_t x = left; x < right; ++x) {
            const size_t at = (static_cast<size_t>(y) * memory->width + x) * 3;
            std::memset(memory->pixels.data() + at, kGreyBrush, 3);
        }
    }
    return true;
}

DeviceContext SoftwareGraphics::ScreenDeviceGet() {
    return ScreenMemoryDC();
}

void SoftwareGraphics::ScreenDeviceRelease(DeviceContext) {}

bool SoftwareGraphics::ModuleBitmapFind(const char *name, const uint8_t **data, uint32_t *size) {
    uint32_t count = 0;
    const BuiltInBitmap *bitmaps = BuiltInBitmaps(&count);
    for (uint32_t i = 0; name != nullptr && i < count; ++i) {
        if (std::strcmp(bitmaps[i].name, name) == 0) {
            *data = bitmaps[i].data;
            *size = bitmaps[i].size;
            return true;
        }
    }
    return false;
}
