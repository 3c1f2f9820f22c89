// Drawing a preview picture into a caller's device context: the picture is
// mapped onto the picture palette (and stays mapped), the palette is realized in
// the device context, and the picture is stretched over the whole client area of
// the device context's window.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "resources/handles.h"

// 1 when the picture was drawn; 0 when the device cannot transfer bit blocks or
// the drawing failed (see StretchPictureToWindow).
int32_t DrawPicture(DeviceContext dc, Handle picture);

// Maps the picture onto the picture palette, realizes that palette in the device
// context and stretches the picture over the client rectangle of its window with
// the given raster operation; without a picture palette the picture is drawn
// with its own colours. 0 when the Handle holds no picture, the bitmap is
// damaged, the stretch mode cannot be set, the device context has no window or
// its client rectangle cannot be had, or the stretch fails; the picture may be
// mapped all the same. The record's pointer to the pixels follows them when the
// mapping moves them.
int32_t StretchPictureToWindow(DeviceContext dc, Handle picture, uint32_t rasterOperation);
