// A stored picture of any content: loaded into a picture Handle, mapped onto
// the picture palette and drawn into a memory device context.
#include "fuzz_support.h"
#include "picture/palette_mapping.h"
#include "picture/picture_drawing.h"
#include "picture/picture_palette.h"
#include "resources/picture_image.h"
#include "skupdater.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool palette = (LoadPicturePalette(), true);
    (void)palette;
    BeginResourceSession();
    if (Handle picture = PictureFromImage(data, static_cast<uint32_t>(size))) {
        void *dc = CreateMemoryDC(64, 48, 0);
        DrawPicture(dc, picture);  // maps it onto the palette, then stretches it
        DrawPicture(dc, picture);  // a mapped picture again
        DeleteMemoryDC(dc);
        uint32_t stored = 0;
        if (PictureImageSize(picture, &stored)) DisposePointer(ImageFromPicture(picture, &stored));
        DisposePictureHandle(picture);
    }
    EndResourceSession();
    return 0;
}
