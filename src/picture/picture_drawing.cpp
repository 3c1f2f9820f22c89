#include "picture/picture_drawing.h"

#include <cstring>

#include "picture/bitmap_layout.h"
#include "picture/palette_mapping.h"
#include "picture/picture_palette.h"
#include "resources/picture_image.h"

namespace {

// The stretch of the whole bitmap onto the whole client rectangle.
StretchRequest WholeStretch(const PictureRecord &record, const BitmapLayout &layout,
                            const PlatformRect &client, uint32_t rasterOperation) {
    StretchRequest request{};
    request.x = client.left;
    request.y = client.top;
    request.width = client.right;
    request.height = client.bottom;
    request.sourceWidth = static_cast<int32_t>(layout.width);
    request.sourceHeight = static_cast<int32_t>(layout.height);
    request.bits = record.bits;
    request.bitsSize = layout.blockSize - layout.pixelOffset;
    request.info = record.bitmap;
    request.infoSize = layout.pixelOffset;
    request.usage = kRgbColours;
    request.rasterOperation = rasterOperation;
    return request;
}

}  // namespace

int32_t DrawPicture(DeviceContext dc, Handle picture) {
    if ((PlatformDeviceCapability(dc, kRasterCapabilities) & kRasterCanBitBlt) == 0) return 0;
    return StretchPictureToWindow(dc, picture, kSourceCopy);
}

int32_t StretchPictureToWindow(DeviceContext dc, Handle picture, uint32_t rasterOperation) {
    PictureRecord record;
    if (!ReadPictureRecord(picture, &record)) return 0;
    const PaletteHandle palette = PicturePalette();
    MapPictureToPalette(record.bitmap, palette);
    // A record without a bitmap has no layout either.
    BitmapLayout layout;
    if (!ReadBitmapLayout(record.bitmap, &layout)) return 0;
    record.bits = record.bitmap + layout.pixelOffset;
    std::memcpy(*picture, &record, sizeof record);

    if (palette != kNoPalette) {
        PlatformPaletteSelect(dc, palette, false);
        PlatformPaletteRealize(dc);
    }
    if (PlatformStretchModeSet(dc, kStretchColourOnColour) == 0) return 0;
    const WindowHandle window = PlatformDeviceWindow(dc);
    PlatformRect client;
    if (window == nullptr || !PlatformWindowClientRect(window, &client)) return 0;
    const StretchRequest request = WholeStretch(record, layout, client, rasterOperation);
    return PlatformBitmapStretch(dc, request) == kStretchFailed ? 0 : 1;
}
