// The graphics calls of the POSIX stand-ins, done in software over the memory
// device contexts (posix/memory_dc.h). Palettes live in a table of this backend
// and are named by their place in it; a deleted palette's name is never given
// out again. The POSIX backend inherits these calls.
#pragma once

#include "platform/platform.h"

class SoftwareGraphics : public Platform {
  public:
    int32_t DeviceCapability(DeviceContext dc, int32_t index) override;
    PaletteHandle PaletteCreate(const PaletteEntry *entries, uint32_t count) override;
    bool PaletteDelete(PaletteHandle palette) override;
    uint32_t PaletteEntryCount(PaletteHandle palette) override;
    // Least squared distance in red, green and blue; the lowest index wins a tie.
    uint32_t PaletteNearestIndex(PaletteHandle palette, uint8_t red, uint8_t green,
                                 uint8_t blue) override;
    uint32_t PaletteEntries(PaletteHandle palette, uint32_t first, uint32_t count,
                            PaletteEntry *entries) override;
    // kNoPalette takes the palette out of the device context.
    PaletteHandle PaletteSelect(DeviceContext dc, PaletteHandle palette, bool background) override;
    uint32_t PaletteRealize(DeviceContext dc) override;
    int32_t StretchModeSet(DeviceContext dc, int32_t mode) override;
    // A memory device context is its own window, unless made without one.
    WindowHandle DeviceWindow(DeviceContext dc) override;
    bool WindowClientRect(WindowHandle window, PlatformRect *rect) override;
    int32_t BitmapStretch(DeviceContext dc, const StretchRequest &request) override;
    bool GreyRectFill(DeviceContext dc, const PlatformRect &rect) override;
    DeviceContext ScreenDeviceGet() override;
    void ScreenDeviceRelease(DeviceContext dc) override;
    // Searches the bitmaps compiled into the library (BuiltInBitmaps).
    bool ModuleBitmapFind(const char *name, const uint8_t **data, uint32_t *size) override;
};
