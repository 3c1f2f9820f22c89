#include "picture/picture_palette.h"

#include "support/byte_order.h"

namespace {

constexpr uint32_t kPaletteSize = 256;

PaletteHandle g_picturePalette = kNoPalette;

}  // namespace

void ResetSystemPalette() {
    PaletteEntry black[kPaletteSize];
    for (PaletteEntry &entry : black)
        entry = PaletteEntry{0, 0, 0, kPaletteNoCollapse};
    DeviceContext screen = PlatformScreenDeviceGet();
    const PaletteHandle palette = PlatformPaletteCreate(black, kPaletteSize);
    if (palette != kNoPalette) {
        const PaletteHandle previous = PlatformPaletteSelect(screen, palette, false);
        PlatformPaletteRealize(screen);
        PlatformPaletteSelect(screen, previous, false);
        PlatformPaletteDelete(palette);
    }
    PlatformScreenDeviceRelease(screen);
}

PaletteHandle PaletteFromBitmap(const uint8_t *bitmap, uint32_t size) {
    // At least the header size field and a table behind it.
    if (bitmap == nullptr || size < 4 + 4 * kPaletteSize) return kNoPalette;
    const uint32_t table = LoadU32(bitmap);
    if (!RangeInside(table, 4 * kPaletteSize, size)) return kNoPalette;
    PaletteEntry entries[kPaletteSize];
    const uint8_t *colour = bitmap + table;  // blue, green, red, reserved
    for (PaletteEntry &entry : entries) {
        entry = PaletteEntry{colour[2], colour[1], colour[0], 0};
        colour += 4;
    }
    ResetSystemPalette();
    return PlatformPaletteCreate(entries, kPaletteSize);
}

void LoadPicturePalette() {
    g_picturePalette = kNoPalette;
    const uint8_t *bitmap = nullptr;
    uint32_t size = 0;
    if (!PlatformModuleBitmapFind("PICTPAL", &bitmap, &size)) return;
    g_picturePalette = PaletteFromBitmap(bitmap, size);
}

PaletteHandle PicturePalette() {
    return g_picturePalette;
}
