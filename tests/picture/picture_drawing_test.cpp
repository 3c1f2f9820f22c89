#include "picture/picture_drawing.h"

#include <png.h>

#include "common/fault_platform.h"
#include "common/picture_test.h"
#include "picture/picture_palette.h"
#include "resources/picture_image.h"
#include "skupdater.h"
#include "support/byte_order.h"

namespace {

using Grid = std::vector<FixtureColour>;  // top row first

class PictureDrawing : public PictureTest {
  protected:
    // An 80 x 60 picture of 16 odd colours, rows stored bottom first when
    // bottomUp; *shown gets the colours it should show, mapped or its own.
    static Handle Picture(bool bottomUp, bool mapped, Grid *shown) {
        const std::vector<FixtureColour> table = OddColours(16);
        const std::vector<uint32_t> indices = IndexPattern(80, 60, 16);
        for (uint32_t index : indices)
            shown->push_back(mapped ? MappedColour(table, index) : table[index]);
        const Bytes image = BuildBitmapImage(80, bottomUp ? 60 : -60, 8, table, indices);
        return PictureHandleOf(BlockOf(image, 1064 + 80 * 60), 40 + 64);
    }
    // Pixels of a width x height device context that differ from the picture
    // stretched by the colour-on-colour rule.
    static int Mismatches(void *dc, int32_t width, int32_t height, const Grid &picture, int32_t pw,
                          int32_t ph) {
        int wrong = 0;
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                wrong +=
                    !(PixelAt(dc, width, x, y) == picture[y * ph / height * pw + x * pw / width]);
        return wrong;
    }
};

// The whole client area is covered, the right way up whichever way the rows
// are stored; the 16-colour picture ends with the palette's table and its
// pixels 960 bytes later, where the record now points.
TEST_F(PictureDrawing, PictureFillsTheClientArea) {
    for (auto [width, height] : {std::pair{320, 240}, {320, 200}, {57, 31}}) {
        for (bool bottomUp : {true, false}) {
            SCOPED_TRACE(testing::Message() << width << "x" << height << " " << bottomUp);
            Grid shown;
            Handle picture = Picture(bottomUp, true, &shown);
            void *dc = CreateMemoryDC(width, height, 0);
            EXPECT_EQ(DrawPicture(dc, picture), 1);
            EXPECT_EQ(Mismatches(dc, width, height, shown, 80, 60), 0);
            const PictureRecord record = RecordOf(picture);
            EXPECT_EQ(record.bits, record.bitmap + 40 + 1024);
            EXPECT_EQ(LoadU32(record.bitmap + kBitmapColoursUsed), 256u);
            DeleteMemoryDC(dc);
            DisposePictureHandle(picture);
        }
    }
}

TEST_F(PictureDrawing, WithoutPaletteThePictureKeepsItsColours) {
    FaultPlatform fault;
    fault.FailGraphics(GraphicsOp::Bitmap);
    LoadPicturePalette();
    Grid shown;
    Handle picture = Picture(true, false, &shown);
    void *dc = CreateMemoryDC(160, 120, 0);
    EXPECT_EQ(DrawPicture(dc, picture), 1);
    EXPECT_EQ(Mismatches(dc, 160, 120, shown, 80, 60), 0);
    EXPECT_EQ(LoadU32(RecordOf(picture).bitmap + kBitmapColoursUsed), 16u);
    DeleteMemoryDC(dc);
    DisposePictureHandle(picture);
}

// Pictures of more than 8 bits per pixel are drawn with their own colours.
TEST_F(PictureDrawing, TrueColourPicturesKeepTheirColours) {
    const Grid shown = {{0x12, 0x34, 0x56}, {0xFF, 0, 0}, {0, 0xFF, 0}, {0, 0, 0x84}};
    const std::vector<uint32_t> wide = {0x123456, 0xFF0000, 0x00FF00, 0x000084};
    const std::vector<std::tuple<uint16_t, std::vector<uint32_t>, Grid>> cases = {
        {16, {0x048A, 0x7C00, 0x03E0, 0x10}, {{0x08, 0x21, 0x52}, shown[1], shown[2], shown[3]}},
        {24, wide, shown},
        {32, wide, shown}};
    for (const auto &[bits, pixels, colours] : cases) {
        const Bytes image = BuildBitmapImage(1, 4, bits, {}, pixels);
        Handle picture = PictureHandleOf(BlockOf(image, 1064 + 4 * 4), 40);
        void *dc = CreateMemoryDC(2, 4, 0);
        EXPECT_EQ(DrawPicture(dc, picture), 1) << bits;
        EXPECT_EQ(Mismatches(dc, 2, 4, colours, 1, 4), 0) << bits;
        DeleteMemoryDC(dc);
        DisposePictureHandle(picture);
    }
}

TEST_F(PictureDrawing, FailuresDrawNothing) {
    const std::vector<std::tuple<const char *, uint32_t, GraphicsOp>> cases = {
        {"no bit-block transfer", MEMORY_DC_NO_BITBLT, GraphicsOp::Count},
        {"no window", MEMORY_DC_NO_WINDOW, GraphicsOp::Count},
        {"stretch mode", 0, GraphicsOp::StretchMode},
        {"client rectangle", 0, GraphicsOp::ClientRect},
        {"stretch", 0, GraphicsOp::Stretch},
        {"damaged header", 0, GraphicsOp::Count}};
    for (const auto &[what, flags, op] : cases) {
        FaultPlatform fault;
        fault.FailGraphics(op);
        Grid shown;
        Handle picture = Picture(true, true, &shown);
        if (what[0] == 'd') StoreU32(RecordOf(picture).bitmap, 39);  // header size
        void *dc = CreateMemoryDC(40, 30, flags);
        EXPECT_EQ(DrawPicture(dc, picture), 0) << what;
        EXPECT_EQ(Bytes(MemoryDCPixels(dc), MemoryDCPixels(dc) + 3600), Bytes(3600, 0)) << what;
        EXPECT_EQ(DrawPicture(dc, nullptr), 0);
        DeleteMemoryDC(dc);
        DisposePictureHandle(picture);
    }
}

// A stored run-length image is shorter than the pixels it stands for: loading
// copies what is there and leaves the rest of the block zero; drawing decodes it.
TEST_F(PictureDrawing, RunLengthPictureLoadsAndDraws) {
    const Bytes data = {16, 5, 0, 0, 0, 3, 1, 2, 3, 0, 13, 4, 0, 0, 16, 6, 0, 0, 16, 7, 0, 1};
    const std::vector<FixtureColour> table = OddColours(256);
    const Bytes image = RunLengthImage(16, 4, table, data);
    Handle picture = PictureFromImage(image.data(), uint32_t(image.size()));
    ASSERT_NE(picture, nullptr);
    const uint8_t *bits = RecordOf(picture).bits;
    EXPECT_EQ(Bytes(bits, bits + data.size()), data);
    EXPECT_EQ(Bytes(bits + data.size(), bits + 64), Bytes(64 - data.size(), 0));

    std::vector<uint32_t> indices(16, 7);  // top row first
    indices.resize(32, 6);
    indices.insert(indices.end(), {1, 2, 3});
    indices.resize(48, 4);
    indices.resize(64, 5);
    Grid shown;
    for (uint32_t index : indices)
        shown.push_back(MappedColour(table, index));
    void *dc = CreateMemoryDC(32, 8, 0);
    EXPECT_EQ(DrawPicture(dc, picture), 1);
    EXPECT_EQ(Mismatches(dc, 32, 8, shown, 16, 4), 0);
    DeleteMemoryDC(dc);
    DisposePictureHandle(picture);
}

TEST_F(PictureDrawing, SavedPngDecodesToThePixels) {
    Grid shown;
    Handle picture = Picture(true, true, &shown);
    void *dc = CreateMemoryDC(37, 23, 0);
    ASSERT_EQ(DrawPicture(dc, picture), 1);
    const std::string path = temp_.File("picture.png");
    ASSERT_EQ(SaveMemoryDC(dc, path.c_str()), 1);
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&png, path.c_str()));
    png.format = PNG_FORMAT_RGB;
    ASSERT_EQ(png.width * png.height, 37u * 23);
    Bytes decoded(PNG_IMAGE_SIZE(png));
    ASSERT_TRUE(png_image_finish_read(&png, nullptr, decoded.data(), 0, nullptr));
    EXPECT_EQ(decoded, Bytes(MemoryDCPixels(dc), MemoryDCPixels(dc) + decoded.size()));
    EXPECT_EQ(SaveMemoryDC(dc, temp_.File("no/folder.png").c_str()), 0);
    EXPECT_EQ(SaveMemoryDC(nullptr, path.c_str()), 0);
    DeleteMemoryDC(dc);
    DisposePictureHandle(picture);
}

TEST(MemoryDC, GreyBrushFillsTheClippedRectangle) {
    void *dc = CreateMemoryDC(8, 6, 0);
    EXPECT_TRUE(PlatformGreyRectFill(dc, PlatformRect{-5, 2, 3, 100}));
    for (int32_t i = 0; i < 48; ++i) {
        const uint8_t level = i % 8 < 3 && i / 8 >= 2 ? 128 : 0;
        EXPECT_EQ(PixelAt(dc, 8, i % 8, i / 8), (FixtureColour{level, level, level})) << i;
    }
    DeleteMemoryDC(dc);
    EXPECT_EQ(MemoryDCPixels(dc), nullptr);
    EXPECT_EQ(CreateMemoryDC(0, 5, 0), nullptr);
}

}  // namespace
