#include "picture/picture_palette.h"

#include <set>

#include "common/fault_platform.h"
#include "common/picture_test.h"
#include "support/byte_order.h"

namespace {

std::vector<FixtureColour> EntriesOf(PaletteHandle palette) {
    std::vector<PaletteEntry> entries(PlatformPaletteEntryCount(palette));
    PlatformPaletteEntries(palette, 0, uint32_t(entries.size()), entries.data());
    std::vector<FixtureColour> colours;
    for (const PaletteEntry &entry : entries) {
        EXPECT_EQ(entry.flags, 0);
        colours.push_back({entry.red, entry.green, entry.blue});
    }
    return colours;
}

// The palette and the bitmap it comes from hold the described colours in order.
TEST(PicturePalette, HoldsTheDescribedColoursInOrder) {
    LoadPicturePalette();
    const std::vector<FixtureColour> colours = EntriesOf(PicturePalette());
    ASSERT_EQ(colours.size(), 256u);
    EXPECT_EQ(colours, PictureColours());
    EXPECT_EQ(colours[0], (FixtureColour{0, 0, 0}));
    EXPECT_EQ(colours[2], (FixtureColour{0x22, 0, 0}));
    EXPECT_EQ(colours[255], (FixtureColour{0xFF, 0xFF, 0xFF}));
    std::set<uint32_t> distinct;
    for (FixtureColour c : colours)
        distinct.insert(uint32_t(c.red) << 16 | c.green << 8 | c.blue);
    EXPECT_EQ(distinct.size(), 256u);

    const uint8_t *data = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(PlatformModuleBitmapFind("PICTPAL", &data, &size));
    ASSERT_EQ(size, 1284u);
    Bytes header(40, 0);
    for (auto [at, value] : {std::pair{0, 40}, {4, 20}, {8, 11}, {12, 1}, {14, 8}, {20, 220}})
        header[at] = uint8_t(value);
    EXPECT_EQ(Bytes(data, data + 40), header);
    for (int i = 0; i < 256; ++i) {
        const FixtureColour c = colours[i];
        EXPECT_EQ(Bytes(data + 40 + 4 * i, data + 44 + 4 * i), (Bytes{c.blue, c.green, c.red, 0}));
    }
    EXPECT_EQ(Bytes(data + 1064, data + size), Bytes(220, 0));
    EXPECT_FALSE(PlatformModuleBitmapFind("PICTPAX", &data, &size));
}

// The table is found at the header's own size and 256 entries are read.
TEST(PicturePalette, TableFollowsTheHeaderSize) {
    Bytes bitmap(60 + 1024, 0);
    StoreU32(bitmap.data(), 60);
    bitmap[60 + 4 * 255 + 2] = 0x7F;  // red of the last entry
    const PaletteHandle palette = PaletteFromBitmap(bitmap.data(), uint32_t(bitmap.size()));
    EXPECT_EQ(EntriesOf(palette).back(), (FixtureColour{0x7F, 0, 0}));
    PlatformPaletteDelete(palette);
    EXPECT_EQ(PaletteFromBitmap(bitmap.data(), uint32_t(bitmap.size() - 1)), kNoPalette);
    EXPECT_EQ(PaletteFromBitmap(nullptr, 2000), kNoPalette);
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
    PlatformPaletteDelete(palette);
    EXPECT_EQ(PlatformPaletteNearestIndex(palette, 0, 0, 0), kPlatformFailure);
}

}  // namespace
