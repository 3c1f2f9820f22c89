#include "picture/palette_mapping.h"

#include "common/picture_test.h"
#include "common/resource_test.h"
#include "picture/picture_palette.h"
#include "resources/picture_image.h"
#include "support/byte_order.h"
#include "support/memory_pool.h"

namespace {

using PaletteMapping = PictureTest;

// Maps an 8-bit 7 x 5 picture of `colours` table entries (the header saying 0
// for 256 when zero) onto a palette of the target colours: the table becomes the
// palette's, every pixel (behind it) the index of its colour's nearest match, a
// pixel beyond the table 0, and mapping again changes nothing.
void CheckMapping(uint32_t colours, PaletteHandle palette, const std::vector<FixtureColour> &target,
                  bool zero = false) {
    const std::vector<FixtureColour> table = OddColours(colours);
    std::vector<uint32_t> indices = IndexPattern(7, 5, colours);
    indices.back() = colours & 0xFF;  // beyond a table of fewer than 256 colours
    Bytes image = BuildBitmapImage(7, 5, 8, table, indices);
    if (zero) PutU32(image, 14 + kBitmapColoursUsed, 0);
    uint8_t *block = BlockOf(image, 40 + 1024 + 8 * 5);
    MapPictureToPalette(block, palette);
    const auto n = uint32_t(target.size());
    EXPECT_EQ(LoadU32(block + kBitmapColoursUsed), n);
    for (uint32_t i = 0; i < n; ++i) {
        const FixtureColour c = target[i];
        EXPECT_EQ(Bytes(block + 40 + 4 * i, block + 44 + 4 * i),
                  (Bytes{c.blue, c.green, c.red, 0}));
    }
    for (int i = 0; i < 35; ++i) {  // rows of 8 bytes, bottom row first
        const uint8_t want = indices[i] < colours ? NearestIn(target, table[indices[i]]) : 0;
        EXPECT_EQ(block[40 + 4 * n + (4 - i / 7) * 8 + i % 7], want) << i;
    }
    const Bytes once(block, block + MemoryPoolBlockSize(block));
    MapPictureToPalette(block, palette);
    EXPECT_EQ(Bytes(block, block + once.size()), once) << "mapping twice";
    DisposePointer(block);
}

// 16 colours: the pixels move 960 bytes on; 256: nothing moves; a palette
// smaller than the table: the pixels move back.
TEST_F(PaletteMapping, TableAndPixelsBecomeThePalettes) {
    CheckMapping(16, PicturePalette(), PictureColours());
    CheckMapping(256, PicturePalette(), PictureColours());
    CheckMapping(256, PicturePalette(), PictureColours(), true);
    const std::vector<FixtureColour> small = {{0, 0, 0}, {250, 9, 9}, {9, 250, 9}, {200, 200, 200}};
    std::vector<PaletteEntry> entries;
    for (FixtureColour c : small)
        entries.push_back({c.red, c.green, c.blue, 0});
    const PaletteHandle palette = PlatformPaletteCreate(entries.data(), 4);
    CheckMapping(16, palette, small);
    PlatformPaletteDelete(palette);
}

// 1- and 4-bit pictures are widened to 8 bits per pixel before they are mapped.
TEST_F(PaletteMapping, NarrowPicturesAreWidened) {
    for (uint16_t bits : {1, 4}) {
        const std::vector<FixtureColour> table = OddColours(1u << bits);
        const std::vector<uint32_t> indices = IndexPattern(9, -3, 1u << bits);
        uint8_t *block = BlockOf(BuildBitmapImage(9, -3, bits, table, indices), 1064 + 12 * 3);
        MapPictureToPalette(block, PicturePalette());
        EXPECT_EQ(LoadU16(block + kBitmapBitCount), 8);
        EXPECT_EQ(LoadU32(block + kBitmapImageSize), 12u * 3);
        for (int i = 0; i < 27; ++i) {
            EXPECT_EQ(block[1064 + i / 9 * 12 + i % 9],
                      NearestIn(PictureColours(), table[indices[i]]))
                << bits << " bits, pixel " << i;
        }
        // Row padding is widened as zero, then mapped like every pixel byte.
        EXPECT_EQ(Bytes(block + 1064 + 9, block + 1064 + 12),
                  Bytes(3, NearestIn(PictureColours(), table[0])));
        DisposePointer(block);
    }
}

// Run values and literal bytes are mapped; escapes, move offsets, padding and
// all behind the end of the bitmap are not. The walk, and the drawing, stop at
// the end of the data, also inside a literal run, a move or a pair.
Bytes operator+(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(PaletteMapping, RunLengthDataKeepsItsEscapes) {
    const std::vector<FixtureColour> table = OddColours(256);
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
        EXPECT_EQ(Bytes(block + 1064, block + 1064 + data.size() + 1), want + Bytes{0});
        DrawAndDispose(block);
    }
}

// Damaged blocks are left as they are. The blocks are exactly as large as the
// picture, so that the sanitizer build sees any access outside them, also when
// they are drawn.
TEST_F(PaletteMapping, DamagedBlocksStayAsTheyAre) {
    const std::vector<Damage> damages = {
        {"colours used 257",
         [](Bytes &b) {
             PutU32(b, 14 + 32, 257);
             b.resize(b.size() + 4);
         }},
        {"table past the block", [](Bytes &b) { PutU32(b, 14, uint32_t(b.size() - 14 - 16)); }},
        {"header size past the block", [](Bytes &b) { PutU32(b, 14, uint32_t(b.size())); }},
        {"header size 39", [](Bytes &b) { PutU32(b, 14, 39); }},
        {"width -8", [](Bytes &b) { PutI32(b, 18, -8); }},
        {"width 40000", [](Bytes &b) { PutI32(b, 18, 40000); }},
        {"height 0", [](Bytes &b) { PutI32(b, 22, 0); }},
        {"height -2^31", [](Bytes &b) { PutI32(b, 22, INT32_MIN); }},
        {"image size past the block", [](Bytes &b) { PutU32(b, 14 + 20, 33); }},
        {"depth 7", [](Bytes &b) { PutU16(b, 28, 7); }},
        {"16 colours in a block too small for 256",
         [](Bytes &b) {
             PutU32(b, 14 + 32, 16);
             b.erase(b.begin() + 14 + 40 + 64, b.begin() + 14 + 40 + 1024);
         }},
    };
    for (const auto &[what, damage] : damages) {
        Bytes image = BuildBitmapImage(8, 4, 8, OddColours(256), IndexPattern(8, 4, 256));
        damage(image);
        uint8_t *block = BlockOf(image);
        MapPictureToPalette(block, PicturePalette());
        EXPECT_EQ(Bytes(block, block + image.size() - 14), Bytes(image.begin() + 14, image.end()))
            << what;
        DrawAndDispose(block);
    }
}

}  // namespace
