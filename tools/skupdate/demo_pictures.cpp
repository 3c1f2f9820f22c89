#include "skupdate/demo_pictures.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int32_t kWidth = 64;
constexpr int32_t kHeight = 48;

// Colour table: water from the top down, sand, then the item's own ramp from
// dark to light.
constexpr uint32_t kWaterFirst = 0, kWaterCount = 96;
constexpr uint32_t kSandFirst = 96, kSandCount = 32;
constexpr uint32_t kItemFirst = 128, kItemCount = 128;

uint8_t Mix(uint8_t from, uint8_t to, double t) {
    return static_cast<uint8_t>(std::lround(from + (to - from) * t));
}
FixtureColour Blend(FixtureColour a, FixtureColour b, double t) {
    return {Mix(a.red, b.red, t), Mix(a.green, b.green, t), Mix(a.blue, b.blue, t)};
}

std::vector<FixtureColour> ColourTable(FixtureColour hue) {
    std::vector<FixtureColour> table(256);
    for (uint32_t i = 0; i < kWaterCount; ++i)
        table[kWaterFirst + i] = Blend({18, 74, 142}, {4, 20, 46}, i / double(kWaterCount - 1));
    for (uint32_t i = 0; i < kSandCount; ++i)
        table[kSandFirst + i] = Blend({214, 190, 130}, {150, 118, 70}, i / double(kSandCount - 1));
    const FixtureColour dark = Blend({0, 0, 0}, hue, 0.35),
                        light = Blend(hue, {255, 255, 255}, 0.55);
    for (uint32_t i = 0; i < kItemCount; ++i)
        table[kItemFirst + i] = Blend(dark, light, i / double(kItemCount - 1));
    return table;
}

double Square(double v) {
    return v * v;
}
bool InEllipse(int x, int y, double cx, double cy, double rx, double ry) {
    return Square((x - cx) / rx) + Square((y - cy) / ry) <= 1.0;
}
bool InRect(int x, int y, int left, int top, int right, int bottom) {
    return x >= left && x < right && y >= top && y < bottom;
}

// Whether (x, y) belongs to the item; *dark marks its details (eyes, marks),
// drawn in the darkest shade.
bool ItemAt(Motif motif, int x, int y, bool *dark) {
    *dark = false;
    switch (motif) {
        case Motif::kFish:
            *dark = InEllipse(x, y, 17, 21, 2, 2) || (x % 9 == 4 && InEllipse(x, y, 28, 24, 16, 8));
            return InEllipse(x, y, 28, 24, 18, 10) ||
                   (x >= 44 && x < 58 && std::abs(y - 24) * 10 < (x - 42) * 7);
        case Motif::kPlant:
            for (int stalk = 0; stalk < 3; ++stalk) {
                const double centre = 16 + 16 * stalk + 3 * std::sin((y + 7 * stalk) / 5.0);
                if (y >= 6 + 6 * stalk && std::abs(x - centre) < 2.5) return true;
                if (y >= 10 + 6 * stalk && y % 8 == stalk * 2 && std::abs(x - centre - 4) < 4)
                    return true;
            }
            return false;
        case Motif::kOrnament:
            *dark = InRect(x, y, 26, 16, 30, 19) || InRect(x, y, 34, 16, 38, 19) ||
                    InRect(x, y, 31, 20, 33, 30) || InRect(x, y, 27, 33, 37, 35);
            return InRect(x, y, 22, 6, 42, 44) || InRect(x, y, 20, 12, 44, 16);
        case Motif::kFood:
            for (int flake = 0; flake < 9; ++flake) {
                if (InEllipse(x, y, 8 + (flake * 23) % 50, 6 + (flake * 17) % 34, 3, 2))
                    return true;
            }
            return false;
        case Motif::kMedicine:
            *dark = InRect(x, y, 24, 26, 40, 34);
            return InRect(x, y, 24, 16, 40, 44) || InRect(x, y, 29, 8, 35, 16);
        case Motif::kLights:
            *dark = InEllipse(x, y, 32, 12, 4, 4);
            return InEllipse(x, y, 32, 12, 9, 9) ||
                   (y > 12 && y < 40 && std::abs(x - 32) * 3 < (y - 12) * ((y / 4) % 2 + 1));
        case Motif::kTitle:
            *dark = y % 6 == 0;
            return y > 10 + 5 * std::sin(x / 6.0) && y < 30 + 4 * std::cos(x / 5.0);
    }
    return false;
}

// The colour index of a pixel. Every shade depends on the row alone, so the
// rows hold long runs of equal bytes.
uint8_t PixelAt(Motif motif, int x, int y) {
    bool dark = false;
    if (ItemAt(motif, x, y, &dark)) {
        if (dark) return kItemFirst;
        return static_cast<uint8_t>(kItemFirst + kItemCount - 1 -
                                    (kItemCount - 1) * y / (kHeight - 1));
    }
    const int sandTop = 42 + static_cast<int>(std::lround(2 * std::sin(x / 7.0)));
    if (y >= sandTop) return static_cast<uint8_t>(kSandFirst + (kSandCount - 1) * (y - 40) / 8);
    return static_cast<uint8_t>(kWaterFirst + (kWaterCount - 1) * y / (kHeight - 1));
}

}  // namespace

std::vector<uint8_t> RunLengthEncode(const std::vector<uint8_t> &rows, uint32_t width) {
    std::vector<uint8_t> data;
    const size_t height = width == 0 ? 0 : rows.size() / width;
    for (size_t row = height; row-- > 0;) {
        const uint8_t *pixels = rows.data() + row * width;
        for (uint32_t x = 0; x < width;) {
            uint32_t run = 1;
            while (x + run < width && run < 255 && pixels[x + run] == pixels[x])
                ++run;
            data.push_back(static_cast<uint8_t>(run));
            data.push_back(pixels[x]);
            x += run;
        }
        data.push_back(0);
        data.push_back(row == 0 ? 1 : 0);  // end of bitmap after the top row, else end of line
    }
    return data;
}

std::vector<uint8_t> DemoPicture(Motif motif, FixtureColour hue, bool runLength) {
    std::vector<uint8_t> rows;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x)
            rows.push_back(PixelAt(motif, x, y));
    }
    const std::vector<FixtureColour> table = ColourTable(hue);
    std::vector<uint8_t> image = BuildBitmapImage(kWidth, kHeight, 8, table,
                                                  std::vector<uint32_t>(rows.begin(), rows.end()));
    if (!runLength) return image;
    const std::vector<uint8_t> data = RunLengthEncode(rows, kWidth);
    constexpr size_t kPixelOffset = 14 + 40 + 4 * 256;
    image.resize(kPixelOffset);
    image.insert(image.end(), data.begin(), data.end());
    PutU32(image, 2, static_cast<uint32_t>(image.size()));       // file size
    PutU32(image, 14 + 16, 1);                                   // compression: run-length, 8 bits
    PutU32(image, 14 + 20, static_cast<uint32_t>(data.size()));  // image size
    return image;
}
