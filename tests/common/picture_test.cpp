#include "common/picture_test.h"

#include <cstring>
#include <sstream>
#include <string>

#include "picture/picture_drawing.h"
#include "picture/picture_palette.h"
#include "skupdater.h"

namespace {

// The picture palette as the product's description gives it.
const char kPaletteColours[] =
    "000000 333333 220000 663333 666633 996633 993333 FFFF33 CC9933 CC0033 990033 CC6633 "
    "FF6633 FF9933 FFCC33 CC3333 FF3333 FF0033 99FF33 00FF33 111111 222222 444444 555555 "
    "777777 888888 AAAAAA BBBBBB DDDDDD EEEEEE 000011 000022 000044 000055 000077 000088 "
    "0000AA 0000BB 0000DD 0000EE 001100 002200 004400 005500 007700 008800 00AA00 00BB00 "
    "00DD00 00EE00 110000 440000 550000 770000 880000 AA0000 BB0000 DD0000 EE0000 000033 "
    "000066 000099 0000CC 0000FF 003300 003333 003366 003399 0033CC 0033FF 006600 006633 "
    "006666 006699 0066CC 0066FF 009900 009933 009966 009999 0099CC 0099FF 00CC00 00CC33 "
    "00CC66 00CC99 00CCCC 00CCFF 00FF00 00FF66 00FF99 00FFCC 00FFFF 330000 330033 330066 "
    "330099 3300CC 3300FF 333300 333366 333399 3333CC 3333FF 336600 336633 336666 336699 "
    "3366CC 3366FF 339900 339933 339966 339999 3399CC 3399FF 33CC00 33CC33 33CC66 33CC99 "
    "33CCCC 33CCFF 33FF00 33FF33 33FF66 33FF99 33FFCC 33FFFF 660000 660033 660066 660099 "
    "6600CC 6600FF 663300 663366 663399 6633CC 6633FF 666600 666666 666699 6666CC 6666FF "
    "669900 669933 669966 669999 6699CC 6699FF 66CC00 66CC33 66CC66 66CC99 66CCCC 66CCFF "
    "66FF00 66FF33 66FF66 66FF99 66FFCC 66FFFF 990000 990066 990099 9900CC 9900FF 993300 "
    "993366 993399 9933CC 9933FF 996600 996666 996699 9966CC 9966FF 999900 999933 999966 "
    "999999 9999CC 9999FF 99CC00 99CC33 99CC66 99CC99 99CCCC 99CCFF 99FF00 99FF66 99FF99 "
    "99FFCC 99FFFF CC0000 CC0066 CC0099 CC00CC CC00FF CC3300 CC3366 CC3399 CC33CC CC33FF "
    "CC6600 CC6666 CC6699 CC66CC CC66FF CC9900 CC9966 CC9999 CC99CC CC99FF CCCC00 CCCC33 "
    "CCCC66 CCCC99 CCCCCC CCCCFF CCFF00 CCFF33 CCFF66 CCFF99 CCFFCC CCFFFF FF0000 FF0066 "
    "FF0099 FF00CC FF00FF FF3300 FF3366 FF3399 FF33CC FF33FF FF6600 FF6666 FF6699 FF66CC "
    "FF66FF FF9900 FF9966 FF9999 FF99CC FF99FF FFCC00 FFCC66 FFCC99 FFCCCC FFCCFF FFFF00 "
    "FFFF66 FFFF99 FFFFCC FFFFFF";

}  // namespace

const std::vector<FixtureColour> &PictureColours() {
    static const std::vector<FixtureColour> colours = [] {
        std::vector<FixtureColour> out;
        std::istringstream words(kPaletteColours);
        std::string word;
        while (words >> word) {
            const auto rgb = static_cast<uint32_t>(std::stoul(word, nullptr, 16));
            out.push_back({uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)});
        }
        return out;
    }();
    return colours;
}

uint8_t NearestIn(const std::vector<FixtureColour> &table, FixtureColour colour) {
    size_t best = 0;
    int bestDistance = 1 << 30;
    for (size_t i = 0; i < table.size(); ++i) {
        const int r = table[i].red - colour.red;
        const int g = table[i].green - colour.green;
        const int b = table[i].blue - colour.blue;
        if (r * r + g * g + b * b < bestDistance) {
            bestDistance = r * r + g * g + b * b;
            best = i;
        }
    }
    return static_cast<uint8_t>(best);
}

std::vector<FixtureColour> OddColours(size_t count) {
    std::vector<FixtureColour> colours;
    for (size_t i = 0; i < count; ++i)
        colours.push_back({uint8_t(i * 37 + 5), uint8_t(i * 91 + 17), uint8_t(i * 53 + 101)});
    return colours;
}

std::vector<uint32_t> IndexPattern(int32_t width, int32_t height, uint32_t colours) {
    std::vector<uint32_t> indices;
    for (int32_t i = 0; i < width * std::abs(height); ++i)
        indices.push_back(static_cast<uint32_t>(i * 7 + i / width) % colours);
    return indices;
}

FixtureColour MappedColour(const std::vector<FixtureColour> &table, uint32_t index) {
    return PictureColours()[NearestIn(PictureColours(), table[index])];
}

Bytes RunLengthImage(int32_t width, int32_t height, const std::vector<FixtureColour> &table,
                     const Bytes &data) {
    Bytes image =
        BuildBitmapImage(width, height, 8, table, std::vector<uint32_t>(size_t(width * height)));
    image.resize(14 + 40 + 4 * table.size());
    image.insert(image.end(), data.begin(), data.end());
    PutU32(image, 14 + 16, 1);  // compression: run-length encoded, 8 bits
    PutU32(image, 14 + 20, uint32_t(data.size()));
    return image;
}

uint8_t *BlockOf(const Bytes &image, uint32_t size) {
    const auto bytes = static_cast<uint32_t>(image.size() - 14);
    auto *block = static_cast<uint8_t *>(NewPointer(size > bytes ? size : bytes));
    if (block != nullptr) std::memcpy(block, image.data() + 14, bytes);
    return block;
}

Handle PictureHandleOf(uint8_t *block, uint32_t pixelOffset) {
    Handle h = NewHandle(sizeof(PictureRecord));
    const PictureRecord record{0, 0, 0, 0, block, block + pixelOffset};
    std::memcpy(*h, &record, sizeof record);
    return h;
}

PictureRecord RecordOf(Handle picture) {
    PictureRecord record;
    std::memcpy(&record, *picture, sizeof record);
    return record;
}

void DrawAndDispose(uint8_t *block) {
    Handle picture = PictureHandleOf(block, 40);
    void *dc = CreateMemoryDC(16, 16, 0);
    DrawPicture(dc, picture);
    DeleteMemoryDC(dc);
    DisposePictureHandle(picture);
}

FixtureColour PixelAt(const void *dc, int32_t width, int32_t x, int32_t y) {
    const uint8_t *p = MemoryDCPixels(dc) + (size_t(y) * size_t(width) + size_t(x)) * 3;
    return {p[0], p[1], p[2]};
}

void PictureTest::SetUp() {
    PoolTest::SetUp();
    LoadPicturePalette();
    ASSERT_NE(PicturePalette(), kNoPalette);
}
