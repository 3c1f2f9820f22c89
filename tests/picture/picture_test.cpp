// The picture palette, mapping pictures onto it and drawing them into memory device contexts.
#include <png.h>

#include <algorithm>
#include <cstring>

#include "common/resource_test.h"
#include "picture/palette_mapping.h"
#include "picture/picture_drawing.h"
#include "picture/picture_palette.h"
#include "platform/fault_platform.h"
#include "resources/picture_image.h"
#include "skupdater.h"
#include "support/byte_order.h"
#include "support/memory_pool.h"

namespace {

using Colours = std::vector<FixtureColour>;  // pictures: top row first

// The picture palette in order: twenty colours of its own, ramps in steps of
// 0x11, then multiples of 0x33, red slowest; no colour twice.
const Colours &PictureColours() {
    static const Colours colours = [] {
        std::vector<uint32_t> rgb;
        auto add = [&rgb](uint32_t c) {
            if (std::find(rgb.begin(), rgb.end(), c) == rgb.end()) rgb.push_back(c);
        };
        for (uint32_t c : {0x000000, 0x333333, 0x220000, 0x663333, 0x666633, 0x996633, 0x993333,
                           0xFFFF33, 0xCC9933, 0xCC0033, 0x990033, 0xCC6633, 0xFF6633, 0xFF9933,
                           0xFFCC33, 0xCC3333, 0xFF3333, 0xFF0033, 0x99FF33, 0x00FF33})
            add(c);
        for (uint32_t step : {0x010101u, 0x000001u, 0x000100u, 0x010000u})
            for (uint32_t level : {0x11, 0x22, 0x44, 0x55, 0x77, 0x88, 0xAA, 0xBB, 0xDD, 0xEE})
                add(level * step);
        for (uint32_t i = 0; i < 216; ++i)
            add(i / 36 * 0x330000 + i / 6 % 6 * 0x3300 + i % 6 * 0x33);
        Colours out;
        for (uint32_t c : rgb)
            out.push_back({uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
        return out;
    }();
    return colours;
}

// The index of the colour of table nearest to c; the lowest index wins a tie.
uint8_t NearestIn(const Colours &table, FixtureColour c) {
    auto distance = [c](FixtureColour t) {
        return (t.red - c.red) * (t.red - c.red) + (t.green - c.green) * (t.green - c.green) +
               (t.blue - c.blue) * (t.blue - c.blue);
    };
    return uint8_t(std::min_element(table.begin(), table.end(),
                                    [&](auto a, auto b) { return distance(a) < distance(b); }) -
                   table.begin());
}

FixtureColour Mapped(FixtureColour colour) {
    return PictureColours()[NearestIn(PictureColours(), colour)];
}

// count colours spread over the colour cube, none of them on a palette step.
Colours OddColours(size_t count) {
    Colours colours;
    for (size_t i = 0; i < count; ++i)
        colours.push_back({uint8_t(i * 37 + 5), uint8_t(i * 91 + 17), uint8_t(i * 53 + 101)});
    return colours;
}

// width x |height| colour indices below colours, top row first, neighbours differing.
std::vector<uint32_t> IndexPattern(int32_t width, int32_t height, uint32_t colours) {
    std::vector<uint32_t> indices;
    for (int32_t i = 0; i < width * std::abs(height); ++i)
        indices.push_back(static_cast<uint32_t>(i * 7 + i / width) % colours);
    return indices;
}

// A bitmap file image of 8 bits per pixel whose pixels are the run-length data.
Bytes RunLengthImage(int32_t width, int32_t height, const Colours &table, const Bytes &data) {
    Bytes image = BuildBitmapImage(width, height, 8, table, IndexPattern(width, height, 1));
    image.resize(14 + 40 + 4 * table.size());
    image.insert(image.end(), data.begin(), data.end());
    PutU32(image, 14 + 16, 1);  // compression: run-length encoded, 8 bits
    PutU32(image, 14 + 20, uint32_t(data.size()));
    return image;
}

// A block from NewPointer of at least size bytes holding the image behind its 14-byte file header.
uint8_t *BlockOf(const Bytes &image, uint32_t size = 0) {
    const auto bytes = static_cast<uint32_t>(image.size() - 14);
    auto *block = static_cast<uint8_t *>(NewPointer(std::max(size, bytes)));
    std::memcpy(block, image.data() + 14, bytes);
    return block;
}

// A picture Handle whose record holds block, its pixels pixelOffset bytes in.
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

// Pixels of a width x height device context that differ from the picture
// (pw x ph) stretched over it by the colour-on-colour rule.
int Mismatches(const void *dc, int32_t width, int32_t height, const Colours &picture, int32_t pw,
               int32_t ph) {
    const uint8_t *p = MemoryDCPixels(dc);
    int wrong = 0;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x, p += 3)
            wrong += !(FixtureColour{p[0], p[1], p[2]} ==
                       picture[y * ph / height * pw + x * pw / width]);
    return wrong;
}

// Draws the block (pixels behind its table) into a 16 x 16 device context,
// then disposes of it; for checks that nothing outside the block is touched.
void DrawAndDispose(uint8_t *block) {
    Handle picture = PictureHandleOf(block, 40);
    void *dc = CreateMemoryDC(16, 16, 0);
    DrawPicture(dc, picture);
    DeleteMemoryDC(dc);
    DisposePictureHandle(picture);
}

Colours EntriesOf(PaletteHandle palette) {
    std::vector<PaletteEntry> entries(PlatformPaletteEntryCount(palette));
    PlatformPaletteEntries(palette, 0, uint32_t(entries.size()), entries.data());
    Colours colours;
    for (const PaletteEntry &entry : entries) {
        EXPECT_EQ(entry.flags, 0);
        colours.push_back({entry.red, entry.green, entry.blue});
    }
    return colours;
}

// The palette holds those 256 colours; its bitmap is a 20 x 11 picture of
// zero pixels with that table.
TEST(PicturePalette, HoldsTheDescribedColoursInOrder) {
    LoadPicturePalette();
    const Colours colours = EntriesOf(PicturePalette());
    ASSERT_EQ(colours.size(), 256u);
    EXPECT_EQ(colours, PictureColours());
    EXPECT_EQ((Colours{colours[0], colours[2], colours[255]}),
              (Colours{{0, 0, 0}, {0x22, 0, 0}, {0xFF, 0xFF, 0xFF}}));

    const uint8_t *data = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(PlatformModuleBitmapFind("PICTPAL", &data, &size));
    Bytes image = BuildBitmapImage(20, 11, 8, PictureColours(), std::vector<uint32_t>(220));
    PutU32(image, 14 + 32, 0);  // colours used: as many as 8 bits hold
    EXPECT_EQ(Bytes(data, data + size), Bytes(image.begin() + 14, image.end()));
    EXPECT_FALSE(PlatformModuleBitmapFind("PICTPAX", &data, &size));
}

// The table is found at the header's own size and 256 entries are read; here
// it lies right behind the size field, in the smallest bitmap that holds both.
TEST(PicturePalette, TableFollowsTheHeaderSize) {
    Bytes bitmap(4 + 1024, 0);
    StoreU32(bitmap.data(), 4);
    bitmap[4 + 4 * 255 + 2] = 0x7F;  // red of the last entry
    const PaletteHandle palette = PaletteFromBitmap(bitmap.data(), uint32_t(bitmap.size()));
    EXPECT_EQ(EntriesOf(palette).back(), (FixtureColour{0x7F, 0, 0}));
    PlatformPaletteDelete(palette);
    EXPECT_EQ(PaletteFromBitmap(bitmap.data(), uint32_t(bitmap.size() - 1)), kNoPalette);
    EXPECT_EQ(PaletteFromBitmap(nullptr, 2000), kNoPalette);
}

// The Windows DLL carries "PICTPAL" as a bitmap file compiled in as a resource:
// the built-in bitmap behind a 14-byte file header of its size and pixel offset.
TEST(PicturePalette, TheWindowsResourceFileHoldsTheBuiltInBitmap) {
    uint32_t count = 0;
    const BuiltInBitmap *bitmap = BuiltInBitmaps(&count);
    ASSERT_EQ(count, 1u);
    const Bytes file = ReadWholeFile(SK_PICTURE_PALETTE_FILE);
    ASSERT_EQ(file.size(), 14 + bitmap->size);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 14),
              (Bytes{'B', 'M', 0x12, 0x05, 0, 0, 0, 0, 0, 0, 0x36, 0x04, 0, 0}));
    EXPECT_EQ(Bytes(file.begin() + 14, file.end()),
              Bytes(bitmap->data, bitmap->data + bitmap->size));
}

// The system palette is reset through a black palette that is selected into the
// screen, realized, put back and deleted; a failure leaves no picture palette.
TEST(PicturePalette, FailuresLeaveNoPalette) {
    FaultPlatform fault;
    LoadPicturePalette();
    EXPECT_EQ(fault.GraphicsCalls(GraphicsOp::Palette), 2u);
    EXPECT_EQ(PlatformPaletteEntryCount(PicturePalette() - 1), 0u);  // the black one is gone
    EXPECT_EQ(PlatformPaletteSelect(PlatformScreenDeviceGet(), kNoPalette, false), kNoPalette);
    for (GraphicsOp op : {GraphicsOp::Bitmap, GraphicsOp::Palette}) {
        LoadPicturePalette();
        fault.FailGraphics(op);
        LoadPicturePalette();
        EXPECT_EQ(PicturePalette(), kNoPalette);
        fault.FailGraphics(op, false);
    }
}

// Least squared distance; the lowest index wins a tie.
TEST(PicturePalette, NearestIndexPrefersTheLowestOfEqualDistances) {
    const PaletteEntry entries[] = {{0, 0, 0, 0}, {10, 0, 0, 0}, {20, 0, 0, 0}, {10, 0, 0, 0}};
    const PaletteHandle palette = PlatformPaletteCreate(entries, 4);
    for (auto [red, index] : {std::pair{4, 0}, {5, 0}, {6, 1}, {10, 1}, {15, 1}, {16, 2}})
        EXPECT_EQ(PlatformPaletteNearestIndex(palette, uint8_t(red), 0, 0), uint32_t(index)) << red;
    EXPECT_EQ(PlatformPaletteNearestIndex(palette, 0, 0, 10), 0u);
    PaletteEntry last[3] = {};  // entries from 2 on: there are two
    EXPECT_EQ(PlatformPaletteEntries(palette, 2, 3, last), 2u);
    EXPECT_EQ(PlatformPaletteEntries(palette, 4, 1, last), 0u);
    EXPECT_EQ(last[0].red + last[1].red + last[2].red, 30);
    PlatformPaletteDelete(palette);
    EXPECT_EQ(PlatformPaletteNearestIndex(palette, 0, 0, 0), kPlatformFailure);
    for (uint32_t count : {0u, 257u})
        EXPECT_EQ(PlatformPaletteCreate(std::vector<PaletteEntry>(257).data(), count), kNoPalette);
}

class PictureTest : public PoolTest {
  protected:
    void SetUp() override {
        PoolTest::SetUp();
        LoadPicturePalette();
    }
};

// A mapped picture has 8 bits per pixel, the palette's table, and each pixel the index of its
// colour's nearest match (0 beyond the table and for padding), pixels moving with the table's size,
// 1 and 4 bits widened first. Mapping again changes nothing.
TEST_F(PictureTest, MappingMakesTableAndPixelsThePalettes) {
    const PaletteEntry four[] = {{0, 0, 0, 0}, {250, 9, 9, 0}, {9, 250, 9, 0}, {200, 200, 200, 0}};
    const PaletteHandle small = PlatformPaletteCreate(four, 4);
    const std::vector<std::tuple<uint16_t, uint32_t, bool, PaletteHandle>> cases = {
        {8, 16, false, PicturePalette()}, {8, 256, false, PicturePalette()},
        {8, 256, true, PicturePalette()}, {8, 16, false, small},
        {4, 16, false, PicturePalette()}, {1, 2, true, PicturePalette()}};
    for (const auto &[bits, colours, zero, palette] : cases) {
        SCOPED_TRACE(testing::Message() << bits << " bits, " << colours << " colours");
        const Colours table = OddColours(colours);
        std::vector<uint32_t> indices = IndexPattern(9, 5, colours);
        if (bits == 8) indices.back() = colours & 0xFF;  // beyond a table of fewer than 256
        Bytes image = BuildBitmapImage(9, 5, bits, table, indices);
        if (zero) PutU32(image, 14 + kBitmapColoursUsed, 0);
        const uint32_t rowBytes = (9 * bits + 31) / 32 * 4;
        for (uint32_t y = 0; y < 5 && bits < 8; ++y)
            for (uint32_t bit = 9 * bits; bit < 8 * rowBytes; ++bit)
                image[54 + 4 * colours + y * rowBytes + bit / 8] |= uint8_t(0x80 >> bit % 8);
        uint8_t *block = BlockOf(image, 40 + 1024 + 12 * 5);
        MapPictureToPalette(block, palette);
        const Colours target = EntriesOf(palette);
        const auto n = uint32_t(target.size());
        EXPECT_EQ(LoadU16(block + kBitmapBitCount), 8);
        EXPECT_EQ(LoadU32(block + kBitmapImageSize), 12u * 5);
        EXPECT_EQ(LoadU32(block + kBitmapColoursUsed), n);
        const Bytes kit = BuildBitmapImage(1, 1, 8, target, {0});  // its table is the palette's
        EXPECT_EQ(Bytes(block + 40, block + 40 + 4 * n), Bytes(kit.begin() + 54, kit.end() - 4));
        for (int i = 0; i < 60; ++i) {  // rows of 12 bytes, bottom row first
            const uint32_t index = i % 12 < 9 ? indices[(4 - i / 12) * 9 + i % 12] : 0;
            const uint8_t want = index < colours ? NearestIn(target, table[index]) : 0;
            EXPECT_EQ(block[40 + 4 * n + i], want) << i;
        }
        const Bytes once(block, block + MemoryPoolBlockSize(block));
        MapPictureToPalette(block, palette);
        EXPECT_EQ(Bytes(block, block + once.size()), once) << "mapping twice";
        DisposePointer(block);
    }
    PlatformPaletteDelete(small);
}

// Run values and literals are mapped, escapes, offsets, padding and all behind
// the end are not; mapping and drawing stop at the end of the data.
TEST_F(PictureTest, RunLengthMappingKeepsTheEscapes) {
    const Colours table = OddColours(256);
    auto m = [&](uint8_t i) { return NearestIn(PictureColours(), table[i]); };
    const std::vector<std::pair<Bytes, Bytes>> cases = {
        {{3, 9, 0, 0, 0, 2, 5, 7, 0, 3, 10, 11, 12, 99, 0, 4, 20, 21, 22, 23, 1, 30, 0, 1, 40, 41},
         {3,  m(9), 0, 0,     0,     2,     5,     7, 0,     3, m(10), m(11), m(12),
          99, 0,    4, m(20), m(21), m(22), m(23), 1, m(30), 0, 1,     40,    41}},
        {{0, 200, 1, 2}, {0, 200, m(1), m(2)}},
        {{0, 0, 5}, {0, 0, 5}},
        {{0, 2, 1}, {0, 2, 1}},
    };
    for (const auto &[data, want] : cases) {
        // One spare zero byte behind the data shows a walk past its end.
        uint8_t *block = BlockOf(RunLengthImage(8, 4, table, data), 1064 + data.size() + 1);
        MapPictureToPalette(block, PicturePalette());
        EXPECT_EQ(Bytes(block + 1064, block + 1064 + data.size()), want);
        EXPECT_EQ(block[1064 + data.size()], 0);
        DrawAndDispose(block);
    }
}

// Damaged blocks are neither mapped nor drawn; they are exactly as large as
// the picture, so that the sanitizer build sees any access outside them.
TEST_F(PictureTest, DamagedBlocksStayAsTheyAre) {
    const uint32_t size = 40 + 1024 + 32;
    const std::vector<std::tuple<const char *, size_t, uint32_t, int>> damages = {
        {"colours used 257", 32, 257, 4},
        {"table past the block", 0, size - 16, 0},
        {"header size past the block", 0, size + 1, 0},
        {"header size 39", 0, 39, 0},
        {"width -8", 4, uint32_t(-8), 0},
        {"width 40000", 4, 40000, 0},
        {"height 0", 8, 0, 0},
        {"height -2^31", 8, 0x80000000u, 0},
        {"image size past the block", 20, 33, 0},
        {"depth 7", 14, 7, 0},
        {"16 colours in a block too small for 256", 32, 16, -960}};
    for (const auto &[what, at, value, grow] : damages) {
        Bytes image = BuildBitmapImage(8, 4, 8, OddColours(256), IndexPattern(8, 4, 256));
        PutU32(image, 14 + at, value);
        image.resize(image.size() + grow);
        uint8_t *block = BlockOf(image);
        MapPictureToPalette(block, PicturePalette());
        EXPECT_EQ(Bytes(block, block + image.size() - 14), Bytes(image.begin() + 14, image.end()))
            << what;
        DrawAndDispose(block);
    }
}

// An 80 x 60 picture of 16 odd colours (2 at 1 bit); *shown gets the colours it should show.
Handle Picture(uint16_t bits, bool bottomUp, bool mapped, Colours *shown) {
    const uint32_t colours = bits == 1 ? 2 : 16;
    const Colours table = OddColours(colours);
    const std::vector<uint32_t> indices = IndexPattern(80, 60, colours);
    for (uint32_t i : indices)
        shown->push_back(mapped ? Mapped(table[i]) : table[i]);
    const Bytes image = BuildBitmapImage(80, bottomUp ? 60 : -60, bits, table, indices);
    return PictureHandleOf(BlockOf(image, 1064 + 80 * 60), 40 + 4 * colours);
}

// The device context saved as a PNG, decoded by libpng; nothing when either
// fails or the file does not end with the closing chunk.
Bytes SavedPng(const void *dc, int32_t width, const std::string &path) {
    if (SaveMemoryDC(dc, path.c_str()) != 1) return {};
    const Bytes file = ReadWholeFile(path);
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (file.size() < 12 || Bytes(file.end() - 8, file.end() - 4) != Text("IEND") ||
        !png_image_begin_read_from_file(&png, path.c_str()) || png.width != uint32_t(width)) {
        return {};
    }
    png.format = PNG_FORMAT_RGB;
    Bytes decoded(PNG_IMAGE_SIZE(png));
    png_image_finish_read(&png, nullptr, decoded.data(), 0, nullptr);
    return decoded;
}

// The whole client area is covered, the right way up; with the palette the
// record points at the mapped pixels, without it the picture keeps its own
// table and colours. The saved PNG holds the pixels.
TEST_F(PictureTest, PictureFillsTheClientArea) {
    const std::vector<std::tuple<int32_t, int32_t, uint16_t, bool, bool>> cases = {
        {320, 240, 8, true, true}, {320, 240, 8, false, true}, {320, 200, 8, true, true},
        {57, 31, 4, false, true},  {160, 120, 8, true, false}, {57, 31, 4, false, false},
        {80, 60, 1, true, false}};
    for (const auto &[width, height, bits, bottomUp, palette] : cases) {
        SCOPED_TRACE(testing::Message() << width << "x" << height << ", " << bits << " bits, "
                                        << bottomUp << ", palette " << palette);
        FaultPlatform fault;
        fault.FailGraphics(GraphicsOp::Bitmap, !palette);
        LoadPicturePalette();
        Colours shown;
        Handle picture = Picture(bits, bottomUp, palette, &shown);
        void *dc = CreateMemoryDC(width, height, 0);
        EXPECT_EQ(DrawPicture(dc, picture), 1);
        EXPECT_EQ(Mismatches(dc, width, height, shown, 80, 60), 0);
        EXPECT_EQ(PlatformPaletteSelect(dc, kNoPalette, false), PicturePalette());
        const PictureRecord record = RecordOf(picture);
        const uint32_t colours = palette ? 256 : bits == 1 ? 2 : 16;
        EXPECT_EQ(record.bits, record.bitmap + 40 + 4 * colours);
        EXPECT_EQ(LoadU32(record.bitmap + kBitmapColoursUsed), colours);
        const uint8_t *pixels = MemoryDCPixels(dc);
        EXPECT_EQ(SavedPng(dc, width, temp_.File("picture.png")),
                  Bytes(pixels, pixels + width * height * 3));
        DeleteMemoryDC(dc);
        DisposePictureHandle(picture);
    }
}

// Pictures of more than 8 bits per pixel are drawn with their own colours, at
// widths from one pixel up.
TEST_F(PictureTest, TrueColourPicturesKeepTheirColours) {
    const Colours shown = {{0x12, 0x34, 0x56}, {0xFF, 0, 0}, {0, 0xFF, 0}, {0, 0, 0x84}};
    const std::vector<uint32_t> wide = {0x123456, 0xFF0000, 0x00FF00, 0x000084};
    const std::vector<std::tuple<uint16_t, int32_t, std::vector<uint32_t>, Colours>> cases = {
        {16, 4, {0x048A, 0x7C00, 0x03E0, 0x10}, {{0x08, 0x21, 0x52}, shown[1], shown[2], shown[3]}},
        {24, 2, wide, shown},
        {32, 1, wide, shown}};
    for (const auto &[bits, width, pixels, colours] : cases) {
        const Bytes image = BuildBitmapImage(width, 4 / width, bits, {}, pixels);
        Handle picture = PictureHandleOf(BlockOf(image), 40);
        void *dc = CreateMemoryDC(8, 8, 0);
        EXPECT_EQ(DrawPicture(dc, picture), 1) << bits;
        EXPECT_EQ(Mismatches(dc, 8, 8, colours, width, 4 / width), 0) << bits;
        DeleteMemoryDC(dc);
        DisposePictureHandle(picture);
    }
}

// Drawing fails and draws nothing without bit-block transfer or a window, on a
// failed graphics call, a damaged header or more rows than the block holds.
TEST_F(PictureTest, FailedDrawingDrawsNothing) {
    const std::vector<std::tuple<const char *, uint32_t, GraphicsOp, size_t, uint32_t>> cases = {
        {"no bit-block transfer", MEMORY_DC_NO_BITBLT, GraphicsOp::Count, 0, 40},
        {"no window", MEMORY_DC_NO_WINDOW, GraphicsOp::Count, 0, 40},
        {"stretch mode", 0, GraphicsOp::StretchMode, 0, 40},
        {"client rectangle", 0, GraphicsOp::ClientRect, 0, 40},
        {"stretch", 0, GraphicsOp::Stretch, 0, 40},
        {"header size 39", 0, GraphicsOp::Count, 0, 39},
        {"rows past the block", 0, GraphicsOp::Count, 8, 61}};
    for (const auto &[what, flags, op, at, value] : cases) {
        FaultPlatform fault;
        fault.FailGraphics(op);
        Colours shown;
        Handle picture = Picture(8, true, true, &shown);
        StoreU32(RecordOf(picture).bitmap + at, value);
        void *dc = CreateMemoryDC(40, 30, flags);
        EXPECT_EQ(DrawPicture(dc, picture), 0) << what;
        EXPECT_EQ(Bytes(MemoryDCPixels(dc), MemoryDCPixels(dc) + 3600), Bytes(3600, 0)) << what;
        EXPECT_EQ(DrawPicture(dc, nullptr), 0);
        DeleteMemoryDC(dc);
        DisposePictureHandle(picture);
    }
}

// Loading a run-length image copies it and zeroes the rest of the block;
// drawing decodes runs, literals, an end of line and a move (skipped pixels
// black), and nothing behind the end of the bitmap or the image size.
TEST_F(PictureTest, RunLengthPictureLoadsAndDraws) {
    const Bytes data = {16, 5, 0, 0, 0, 3, 1, 2, 3, 0, 0, 2, 4, 1, 9, 6, 0, 0, 0, 1, 16, 7};
    Colours table = OddColours(256);
    table[0] = {0, 0, 0};
    const Bytes image = RunLengthImage(16, 4, table, data);
    Handle picture = PictureFromImage(image.data(), uint32_t(image.size()));
    ASSERT_NE(picture, nullptr);
    const uint8_t *bits = RecordOf(picture).bits;
    EXPECT_EQ(Bytes(bits, bits + data.size()), data);
    EXPECT_EQ(Bytes(bits + data.size(), bits + 64), Bytes(64 - data.size(), 0));

    std::vector<uint32_t> indices(16 + 7, 0);  // top row first
    indices.resize(32, 6);
    indices.insert(indices.end(), {1, 2, 3});
    indices.resize(48, 0);
    indices.resize(64, 5);
    Colours shown;
    for (uint32_t i : indices)
        shown.push_back(Mapped(table[i]));
    for (uint32_t size : {22u, 14u}) {
        StoreU32(RecordOf(picture).bitmap + kBitmapImageSize, size);
        if (size == 14) std::fill(shown.begin() + 23, shown.begin() + 32, table[0]);  // no (9, 6)
        void *dc = CreateMemoryDC(32, 8, 0);
        EXPECT_EQ(DrawPicture(dc, picture), 1);
        EXPECT_EQ(Mismatches(dc, 32, 8, shown, 16, 4), 0) << size;
        DeleteMemoryDC(dc);
    }
    DisposePictureHandle(picture);
}

// The grey brush fills what of each rectangle lies on the canvas; saving needs
// a folder and no folder in the way; palettes go only into known contexts.
TEST(MemoryDC, GreyBrushFillsTheClippedRectangle) {
    void *dc = CreateMemoryDC(8, 6, 0);
    EXPECT_TRUE(PlatformGreyRectFill(dc, PlatformRect{-5, 2, 3, 5}));
    EXPECT_TRUE(PlatformGreyRectFill(dc, PlatformRect{6, -1, 100, 1}));
    Colours grey(48);
    for (int32_t i = 0; i < 48; ++i)
        if ((i % 8 < 3 && i / 8 >= 2 && i / 8 < 5) || (i % 8 >= 6 && i / 8 == 0))
            grey[i] = {128, 128, 128};
    EXPECT_EQ(Mismatches(dc, 8, 6, grey, 8, 6), 0);
    EXPECT_EQ(PlatformPaletteSelect(dc, 9999, false), kNoPalette);
    EXPECT_EQ(PlatformPaletteSelect(dc, kNoPalette, false), kNoPalette);
    EXPECT_EQ(PlatformPaletteSelect(nullptr, kNoPalette, false), kNoPalette);
    // Stretch modes are 1 to 4; setting one gives the one before.
    EXPECT_NE(PlatformStretchModeSet(dc, 4), 0);
    EXPECT_EQ(PlatformStretchModeSet(dc, 5) + PlatformStretchModeSet(nullptr, 2), 0);
    EXPECT_EQ(PlatformStretchModeSet(dc, 1), 4);
    EXPECT_EQ(SaveMemoryDC(dc, "/no/such/folder.png"), 0);
    EXPECT_EQ(SaveMemoryDC(nullptr, "/no/such/folder.png"), 0);
    // A save that cannot take the name leaves what was there and nothing else.
    TempDir temp;
    WriteWholeFile(temp.File("a"), {1});
    EXPECT_EQ(SaveMemoryDC(dc, temp.path().c_str()), 0);
    EXPECT_EQ(ListFolder(temp.path()), std::vector<std::string>{"a"});
    EXPECT_FALSE(FileExists(temp.path() + ".part"));
    DeleteMemoryDC(dc);
    EXPECT_EQ(MemoryDCPixels(dc), nullptr);
    EXPECT_EQ(CreateMemoryDC(0, 5, 0), nullptr);
}

// Makes the information header say width x height, run-length encoded (a few
// bytes of data stand for any number of pixels), and the request take it all.
void Rle(StretchRequest &r, Bytes &info, int32_t width, int32_t height) {
    PutI32(info, 4, width), PutI32(info, 8, height), PutU32(info, 16, 1);
    r.sourceX = 0, r.sourceY = 0, r.sourceWidth = width, r.sourceHeight = std::abs(height);
}

// The stretch itself: a source rectangle onto a destination partly off the canvas, a pixel beyond
// the colour table black; the largest sides; then requests it refuses without drawing beyond those
// whose bytes lie outside their blocks: other operations, sizes, compressions, source rectangles.

TEST(SoftwareStretch, ClipsAndRefuses) {
    const Colours table = OddColours(4);
    const Bytes image = BuildBitmapImage(4, 2, 8, table, {0, 1, 2, 3, 1, 4, 3, 0});
    Bytes info(image.begin() + 14, image.end());
    const StretchRequest whole{
        -1, 1, 4, 4, 1, 0, 2, 2, info.data() + 56, 8, info.data(), 56, kRgbColours, kSourceCopy};
    const FixtureColour o{}, a = table[1], b = table[2], c = table[3];
    for (const auto &[x, y, height, want] :
         {std::tuple{-1, 1, 4, Colours{o, o, o, o, a, b, b, o, a, b, b, o, o, c, c, o}},
          {-1, -1, 6, Colours{a, b, b, o, a, b, b, o, o, c, c, o, o, c, c, o}}}) {
        StretchRequest request = whole;
        request.x = x, request.y = y, request.height = height;
        void *dc = CreateMemoryDC(4, 4, 0);
        EXPECT_EQ(PlatformBitmapStretch(dc, request), 2);
        EXPECT_EQ(Mismatches(dc, 4, 4, want, 4, 4), 0) << y;
        DeleteMemoryDC(dc);
    }
    // Run-length data, bottom row first (a run of one, a padded literal of three,
    // an end of line, a delta, a run of two, the end); a colours-used field 0.
    const Bytes runs = {1, 2, 0, 3, 3, 1, 2, 0, 0, 0, 0, 2, 1, 0, 2, 3, 0, 1};
    const Colours full = OddColours(256);
    Bytes rle(info.begin(), info.begin() + 56), ofAll = BuildBitmapImage(2, 1, 8, full, {200, 255});
    PutU32(rle, 16, 1), PutU32(rle, 20, uint32_t(runs.size())), PutU32(ofAll, 14 + 32, 0);
    for (const auto &[head, bits, w, h, want] :
         {std::tuple{rle, runs, 4, 2, Colours{table[0], c, c, table[0], b, c, a, b}},
          {Bytes(&ofAll[14], &ofAll[1078]), Bytes(&ofAll[1078], &ofAll[1082]), 2, 1,
           Colours{full[200], full[255]}}}) {
        void *dc = CreateMemoryDC(w, h, 0);
        EXPECT_EQ(PlatformBitmapStretch(
                      dc, {0, 0, w, h, 0, 0, w, h, bits.data(), uint32_t(bits.size()), head.data(),
                           uint32_t(head.size()), kRgbColours, kSourceCopy}),
                  h);
        EXPECT_EQ(Mismatches(dc, w, h, want, w, h), 0) << w;
        DeleteMemoryDC(dc);
    }
    using Edit = void (*)(StretchRequest &, Bytes &);
    const std::vector<std::tuple<const char *, int32_t, Edit>> cases = {
        {"1 x 32767", 32767, [](auto &r, auto &b) { Rle(r, b, 1, 32767); }},
        {"32767 x 1", 1, [](auto &r, auto &b) { Rle(r, b, 32767, 1); }},
        {"no destination", 0, [](auto &r, auto &) { r.width = 0; }},
        {"raster operation", -1, [](auto &r, auto &) { r.rasterOperation = 0; }},
        {"usage", -1, [](auto &r, auto &) { r.usage = 1; }},
        {"width 32768", -1, [](auto &r, auto &b) { Rle(r, b, 32768, 2); }},
        {"height 32768", -1, [](auto &r, auto &b) { Rle(r, b, 4, 32768); }},
        {"1 bit, 0 colours: 2", 2,
         [](auto &r, auto &b) { PutU16(b, 14, 1), PutU32(b, 32, 0), r.infoSize = 48; }},
        {"bit fields", -1,
         [](auto &r, auto &b) {
             PutU16(b, 14, 16), PutU32(b, 16, 3), PutU32(b, 32, 0), PutI32(b, 8, 1);
             r.sourceHeight = 1;
         }},
        {"run length of 2^26 pixels", 8192, [](auto &r, auto &b) { Rle(r, b, 8192, 8192); }},
        {"run length of more pixels", -1, [](auto &r, auto &b) { Rle(r, b, 8193, 8192); }},
        {"source x -1", -1, [](auto &r, auto &) { r.sourceX = -1; }},
        {"source right of the bitmap", -1, [](auto &r, auto &) { r.sourceX = 3; }},
        {"source below the bitmap", -1, [](auto &r, auto &) { r.sourceY = 1; }},
    };
    for (const auto &[what, lines, edit] : cases) {
        Bytes edited = info;
        StretchRequest request = whole;
        request.info = edited.data();
        edit(request, edited);
        void *dc = CreateMemoryDC(4, 4, 0);
        EXPECT_EQ(PlatformBitmapStretch(dc, request), lines) << what;
        EXPECT_EQ(Bytes(MemoryDCPixels(dc), MemoryDCPixels(dc) + 48) == Bytes(48, 0), lines <= 0);
        DeleteMemoryDC(dc);
    }
}

}  // namespace
