#include "picture/picture_drawing.h"

#include <png.h>

#include <optional>

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
    // An 80 x 60 picture of 16 odd colours; rows stored bottom first when
    // bottomUp. The colours it should show, top row first, go to *shown.
    Handle Picture(bool bottomUp, bool mapped, Grid *shown) {
        const std::vector<FixtureColour> table = OddColours(16);
        const std::vector<uint32_t> indices = IndexPattern(80, 60, 16);
        uint8_t *block = BlockOf(BuildBitmapImage(80, bottomUp ? 60 : -60, 8, table, indices),
                                 1064 + 80 * 60);
        shown->clear();
        for (uint32_t index : indices) {
            const FixtureColour own = table[index];
            shown->push_back(mapped ? PictureColours()[NearestIn(PictureColours(), own)] : own);
        }
        return PictureHandleOf(block, 40 + 64);
    }
    // Pixels of a width x height device context that differ from the picture
    // stretched by the colour-on-colour rule.
    static int Mismatches(void *dc, int32_t width, int32_t height, const Grid &picture,
                          int32_t pictureWidth, int32_t pictureHeight) {
        int wrong = 0;
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                const int32_t sx = x * pictureWidth / width;
                const int32_t sy = y * pictureHeight / height;
                wrong += !(PixelAt(dc, width, x, y) == picture[sy * pictureWidth + sx]);
            }
        }
        return wrong;
    }
};

// The whole client area is covered, rows the right way up, whether the
// picture's rows are stored bottom first or top first; the 16-colour picture
// ends with the palette's table and its pixels 960 bytes later.
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

TEST_F(PictureDrawing, FailuresDrawNothing) {
    struct Case {
        const char *what;
        uint32_t flags;
        std::optional<GraphicsOp> fault;
    };
    for (const Case &c : {Case{"no bit-block transfer", MEMORY_DC_NO_BITBLT, {}},
                          Case{"no window", MEMORY_DC_NO_WINDOW, {}},
                          Case{"stretch mode", 0, GraphicsOp::StretchMode},
                          Case{"client rectangle", 0, GraphicsOp::ClientRect},
                          Case{"stretch", 0, GraphicsOp::Stretch}}) {
        FaultPlatform fault;
        if (c.fault) fault.FailGraphics(*c.fault);
        Grid shown;
        Handle picture = Picture(true, true, &shown);
        void *dc = CreateMemoryDC(40, 30, c.flags);
        EXPECT_EQ(DrawPicture(dc, picture), 0) << c.what;
        EXPECT_EQ(Bytes(MemoryDCPixels(dc), MemoryDCPixels(dc) + 40 * 30 * 3), Bytes(3600, 0))
            << c.what;
        DeleteMemoryDC(dc);
        DisposePictureHandle(picture);
    }
    void *dc = CreateMemoryDC(40, 30, 0);
    EXPECT_EQ(DrawPicture(dc, nullptr), 0);
    Grid shown;
    Handle damaged = Picture(true, true, &shown);
    StoreU32(RecordOf(damaged).bitmap, 39);  // header size
    EXPECT_EQ(DrawPicture(dc, damaged), 0);
    DisposePictureHandle(damaged);
    DeleteMemoryDC(dc);
}

// A stored run-length image is shorter than the pixels it stands for: loading
// copies what is there and leaves the rest of the block zero; drawing decodes it.
TEST_F(PictureDrawing, RunLengthPictureLoadsAndDraws) {
    const Bytes data = {16, 5, 0, 0, 0, 3, 1, 2, 3, 0, 13, 4, 0, 0, 16, 6, 0, 0, 16, 7, 0, 1};
    const std::vector<FixtureColour> table = OddColours(256);
    Bytes image = BuildBitmapImage(16, 4, 8, table, std::vector<uint32_t>(64, 0));
    image.resize(image.size() - 64);
    image.insert(image.end(), data.begin(), data.end());
    PutU32(image, 14 + kBitmapCompression, 1);
    PutU32(image, 14 + kBitmapImageSize, uint32_t(data.size()));
    Handle picture = PictureFromImage(image.data(), uint32_t(image.size()));
    ASSERT_NE(picture, nullptr);
    const uint8_t *bits = RecordOf(picture).bits;
    EXPECT_EQ(Bytes(bits, bits + data.size()), data);
    EXPECT_EQ(Bytes(bits + data.size(), bits + 64), Bytes(64 - data.size(), 0));

    const std::vector<std::vector<uint8_t>> rows = {
        std::vector<uint8_t>(16, 7), std::vector<uint8_t>(16, 6),
        {1, 2, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4}, std::vector<uint8_t>(16, 5)};
    Grid shown;
    for (const auto &row : rows)
        for (uint8_t index : row)
            shown.push_back(PictureColours()[NearestIn(PictureColours(), table[index])]);
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

    EXPECT_EQ(SaveMemoryDC(dc, temp_.File("no/such/folder.png").c_str()), 0);
    EXPECT_EQ(SaveMemoryDC(nullptr, path.c_str()), 0);
    DeleteMemoryDC(dc);
    DisposePictureHandle(picture);
}

TEST(MemoryDC, GreyBrushFillsTheClippedRectangle) {
    void *dc = CreateMemoryDC(8, 6, 0);
    EXPECT_TRUE(PlatformGreyRectFill(dc, PlatformRect{-5, 2, 3, 100}));
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 8; ++x) {
            const uint8_t level = x < 3 && y >= 2 ? 128 : 0;
            EXPECT_EQ(PixelAt(dc, 8, x, y), (FixtureColour{level, level, level})) << x << "," << y;
        }
    DeleteMemoryDC(dc);
    EXPECT_EQ(CreateMemoryDC(0, 5, 0), nullptr);
    EXPECT_EQ(MemoryDCPixels(dc), nullptr);
}

}  // namespace
