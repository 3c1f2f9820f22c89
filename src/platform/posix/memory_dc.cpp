#include "platform/posix/memory_dc.h"

#include <png.h>

#include <cstdio>
#include <new>
#include <string>
#include <unordered_set>

#include "skupdater.h"

namespace {

constexpr int32_t kLargestSide = 16384;

std::unordered_set<const void *> &LiveContexts() {
    static std::unordered_set<const void *> live;
    return live;
}

// Writes the canvas as an 8-bit RGB PNG; false on any libpng error.
bool WritePng(std::FILE *file, const MemoryDC &dc) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(dc.width), static_cast<png_uint_32>(dc.height),
                 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const size_t rowBytes = static_cast<size_t>(dc.width) * 3;
    for (int32_t y = 0; y < dc.height; ++y) {
        png_write_row(png, dc.pixels.data() + static_cast<size_t>(y) * rowBytes);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

MemoryDC *FindMemoryDC(const void *dc) {
    if (dc == nullptr || LiveContexts().count(dc) == 0) return nullptr;
    return static_cast<MemoryDC *>(const_cast<void *>(dc));
}

MemoryDC *ScreenMemoryDC() {
    static MemoryDC *screen = [] {
        static MemoryDC context;
        LiveContexts().insert(&context);
        return &context;
    }();
    return screen;
}

extern "C" {

void *CreateMemoryDC(int32_t width, int32_t height, uint32_t flags) {
    if (width < 1 || width > kLargestSide || height < 1 || height > kLargestSide) return nullptr;
    MemoryDC *dc = new (std::nothrow) MemoryDC;
    if (dc == nullptr) return nullptr;
    dc->width = width;
    dc->height = height;
    dc->flags = flags;
    dc->pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 3, 0);
    LiveContexts().insert(dc);
    return dc;
}

const uint8_t *MemoryDCPixels(const void *dc) {
    const MemoryDC *memory = FindMemoryDC(dc);
    return memory != nullptr ? memory->pixels.data() : nullptr;
}

int32_t SaveMemoryDC(const void *dc, const char *pngPath) {
    const MemoryDC *memory = FindMemoryDC(dc);
    if (memory == nullptr || memory->width == 0 || pngPath == nullptr) return 0;
    // The picture is written beside the target and takes its name only when it
    // is complete, so a failed save never harms a file that was there.
    const std::string partial = std::string(pngPath) + ".part";
    std::FILE *file = std::fopen(partial.c_str(), "wb");
    if (file == nullptr) return 0;
    bool saved = WritePng(file, *memory);
    if (std::fclose(file) != 0) saved = false;
    if (saved && std::rename(partial.c_str(), pngPath) == 0) return 1;
    std::remove(partial.c_str());
    return 0;
}

void DeleteMemoryDC(void *dc) {
    MemoryDC *memory = FindMemoryDC(dc);
    if (memory == nullptr || memory == ScreenMemoryDC()) return;
    LiveContexts().erase(memory);
    delete memory;
}

}  // extern "C"
