// Pins the fixture writer against hand-written bytes, and the fixture reader
// against the writer and against damaged files. Every later test trusts these
// two, so their bytes are checked here without their own help.
#include "common/fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Writes literal bytes into a block at an offset.
void Patch(Bytes &bytes, size_t offset, const Bytes &with) {
    ASSERT_LE(offset + with.size(), bytes.size());
    std::copy(with.begin(), with.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

Bytes Text(const std::string &text) {
    return Bytes(text.begin(), text.end());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A 1500 info block with kind XXXX, values 1, 2, 1, 0 and everything else zero:
// bytes 16 to 255.
Bytes EmptyInfoBlock() {
    Bytes info(240, 0);
    Patch(info, 0, {'X', 'X', 'X', 'X', 0xDC, 0x05, 0, 0, 1, 0, 2, 0, 1, 0, 0, 0});
    return info;
}

TEST(FixtureBuild, WorkedExampleIsByteExact) {
    FixtureFile file;
    file.types = {{FourCC("PICT"), {{128, "ab", {0xA1, 0xB2, 0xC3}}}}};

    const Bytes header = {0x00, 0x01, 0, 0, 0x07, 0x01, 0, 0, 0x07, 0, 0, 0, 0x35, 0, 0, 0};
    const Bytes expected = Concat({
        header,
        EmptyInfoBlock(),
        {0x03, 0, 0, 0, 0xA1, 0xB2, 0xC3},                 // data area at 256
        header,                                            // map at 263: header copy
        {0, 0, 0, 0, 0, 0, 0, 0},                          // reserved
        {0x1E, 0x00, 0x32, 0x00, 0x00, 0x00},              // type list 30, names 50, 1 type
        {0x54, 0x43, 0x49, 0x50, 0x00, 0x00, 0x08, 0x00},  // PICT, 1 resource, refs at 8
        {0x80, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0},  // 128, name 0, data 0, slot
        {0x02, 'a', 'b'},                                  // name list at map + 50
    });
    ASSERT_EQ(expected.size(), 316u);
    EXPECT_EQ(BuildResourceFile(file), expected);
}

TEST(FixtureBuild, EmptyFileIsByteExact) {
    const Bytes header = {0x00, 0x01, 0, 0, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0x1E, 0, 0, 0};
    const Bytes expected = Concat({
        header,
        EmptyInfoBlock(),
        header,
        {0, 0, 0, 0, 0, 0, 0, 0},
        {0x1E, 0x00, 0x1E, 0x00, 0xFF, 0xFF},
    });
    ASSERT_EQ(expected.size(), 286u);
    EXPECT_EQ(BuildResourceFile(FixtureFile{}), expected);
}

TEST(FixtureBuild, InfoBlockAndReservedFieldsAreLittleEndian) {
    FixtureFile file;
    file.kind = FourCC("SkFs");
    file.infoValues = {1, 2, 1, 65535};
    file.deadBytes = 1234;
    file.conversionPending = 1;
    file.mapReserved32 = 0x11223344;
    file.mapReserved16a = 0x5566;
    file.mapReserved16b = 0x7788;
    const Bytes bytes = BuildResourceFile(file);

    EXPECT_EQ(Bytes(bytes.begin() + 16, bytes.begin() + 37),
              Bytes({'s', 'F', 'k', 'S',  0xDC, 0x05, 0,    0, 1, 0,   2,
                     0,   1,   0,   0xFF, 0xFF, 0xD2, 0x04, 0, 0, 0x01}));
    EXPECT_EQ(Bytes(bytes.begin() + 256 + 16, bytes.begin() + 256 + 24),
              Bytes({0x44, 0x33, 0x22, 0x11, 0x66, 0x55, 0x88, 0x77}));
}

TEST(FixtureBuild, Layout1100WithTwoTypesIsByteExact) {
    FixtureFile file;
    file.layout = 1100;
    file.kind = FourCC("SkPl");  // Not stored in this layout.
    file.types = {{FourCC("PLPC"), {{128, "ab", {0x01, 0x02}}}},
                  {FourCC("PLDP"), {{129, std::nullopt, {}, 0x04, 0x0BADF00D}}}};
    const Bytes bytes = BuildResourceFile(file);

    Bytes expected(256 + 10 + 210, 0);
    const Bytes header = {0x00, 0x01, 0, 0, 0x0A, 0x01, 0, 0, 0x0A, 0, 0, 0, 0xD2, 0, 0, 0};
    Patch(expected, 0, header);
    Patch(expected, 16, Text("Version 2.0 Resource File"));
    Patch(expected, 256, {0x02, 0, 0, 0, 0x01, 0x02, 0, 0, 0, 0});
    const size_t map = 266;
    Patch(expected, map, header);
    Patch(expected, map + 24, {0x22, 0, 0, 0, 0xD2, 0, 0, 0, 0x01, 0x00});
    Patch(expected, map + 34, {'C', 'P', 'L', 'P', 0x00, 0x00, 0x14, 0, 0, 0});  // run at 20
    Patch(expected, map + 44, {'P', 'D', 'L', 'P', 0x00, 0x00, 0x62, 0, 0, 0});  // run at 98
    Patch(expected, map + 54, {0x80, 0x00, 0xFF, 0xFF, 0x02, 'a', 'b'});
    Patch(expected, map + 132, {0x81, 0x00, 0xFF, 0xFF, 0x00});
    Patch(expected, map + 132 + 68, {0x04, 0x00, 0x06, 0, 0, 0, 0x0D, 0xF0, 0xAD, 0x0B});
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(LayoutOf(bytes), 1100);
}

TEST(FixtureBuild, Layout1000StoresLongNamesCutOrWithTheirTrueLength) {
    const std::string name70(70, 'n');
    FixtureFile file;
    file.layout = 1000;
    file.types = {{FourCC("FADP"), {{-2, name70, {0x07}, 0x06}}}};

    for (bool longLengths : {false, true}) {
        SCOPED_TRACE(longLengths ? "true length" : "cut");
        file.longNameLengths = longLengths;
        const Bytes bytes = BuildResourceFile(file);
        ASSERT_EQ(bytes.size(), 256u + 5 + 116);
        EXPECT_EQ(Bytes(bytes.begin() + 16, bytes.begin() + 256), Bytes(240, 0));
        const size_t map = 261;
        EXPECT_EQ(
            Bytes(bytes.begin() + map + 16, bytes.begin() + map + 38),
            Bytes({0,   0,   0,   0,   0, 0, 0,    0,   0x1E, 0, 0, 0, 0, 0,  // header, 1 type
                   'P', 'D', 'A', 'F', 0, 0, 0x08, 0x00}));
        const size_t ref = map + 38;
        EXPECT_EQ(ReferenceEntryOffset(bytes, 0, 0), ref);
        EXPECT_EQ(Bytes(bytes.begin() + ref, bytes.begin() + ref + 5),
                  Bytes({0xFE, 0xFF, 0xFF, 0xFF, static_cast<uint8_t>(longLengths ? 70 : 63)}));
        EXPECT_EQ(std::string(bytes.begin() + ref + 5, bytes.begin() + ref + 68),
                  std::string(63, 'n'));
        EXPECT_EQ(Bytes(bytes.begin() + ref + 68, bytes.end()),
                  Bytes({0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(LayoutOf(bytes), 1000);

        FixtureFile parsed;
        std::string why;
        EXPECT_EQ(ParseResourceFile(bytes, &parsed, &why), !longLengths) << why;
        if (!longLengths) {
            EXPECT_EQ(parsed.types[0].resources[0].name, std::string(63, 'n'));
        }
    }
}

// Runs in a chosen order: the empty type's offset field names the place where
// its run would begin, and the helpers find entries through the offset fields.
TEST(FixtureBuild, RunOrderPlacesRunsAndHelpersFollowOffsets) {
    FixtureFile file;
    file.types = {{FourCC("AAAA"), {{1, "x", {0x11}}, {2, std::nullopt, {0x22}}}},
                  {FourCC("BBBB"), {}},
                  {FourCC("CCCC"), {{3, "yz", {0x33}}}}};
    file.runOrder = {2, 1, 0};
    const Bytes bytes = BuildResourceFile(file);
    const size_t map = MapOffsetOf(bytes);

    EXPECT_EQ(TypeEntryOffset(bytes, 1), map + 38);
    EXPECT_EQ(GetI16(bytes, map + 30 + 4), 1);   // AAAA: 2 resources
    EXPECT_EQ(GetU16(bytes, map + 30 + 6), 36);  // behind CCCC's run
    EXPECT_EQ(GetI16(bytes, map + 38 + 4), -1);  // BBBB: none
    EXPECT_EQ(GetU16(bytes, map + 38 + 6), 36);
    EXPECT_EQ(GetU16(bytes, map + 46 + 6), 24);  // CCCC first, behind the type list
    EXPECT_EQ(ReferenceEntryOffset(bytes, 0, 1), map + 30 + 36 + 12);
    EXPECT_EQ(GetI16(bytes, ReferenceEntryOffset(bytes, 2, 0)), 3);

    // Names follow the entries' order in the map; blocks follow the type list.
    EXPECT_EQ(NameListOffset(bytes), map + 30 + 24 + 36);
    EXPECT_EQ(GetI16(bytes, ReferenceEntryOffset(bytes, 2, 0) + 2), 0);
    EXPECT_EQ(GetI16(bytes, ReferenceEntryOffset(bytes, 0, 0) + 2), 3);
    EXPECT_EQ(DataBlockOffset(bytes, 0, 1), 256u + 5);
    EXPECT_EQ(DataBlockOffset(bytes, 2, 0), 256u + 10);

    FixtureFile parsed;
    std::string why;
    ASSERT_TRUE(ParseResourceFile(bytes, &parsed, &why)) << why;
    EXPECT_EQ(DescribeFile(parsed), DescribeFile(file));
    EXPECT_EQ(parsed.runOrder, std::vector<size_t>({2, 0, 1}));
}

// A description that uses every feature of the format.
FixtureFile RichFile(int layout) {
    FixtureFile file;
    file.layout = layout;
    file.kind = FourCC("SkAc");
    file.infoValues = {1, 2, 1, 65535};
    file.deadBytes = 3;
    file.conversionPending = 1;
    file.mapReserved32 = 7;
    file.mapReserved16b = 9;
    file.deadData = {0xEE, 0xEE, 0xEE};
    Bytes big(300);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>(i * 7);
    file.types = {
        {FourCC("PICT"), {{128, "ab", {1, 2, 3}, 0x04}, {-129, std::nullopt, {}, 0x02}}},
        {FourCC("STR#"), {}},
        {FourCC("FiVe"), {{150, "", {0x96, 0x00}}, {151, "second", big, 0x80, 7}}},
    };
    return file;
}

TEST(FixtureParse, RoundTripsEveryLayout) {
    for (int layout : {1500, 1100, 1000}) {
        SCOPED_TRACE(layout);
        const FixtureFile file = RichFile(layout);
        FixtureFile parsed;
        std::string why;
        ASSERT_TRUE(ParseResourceFile(BuildResourceFile(file), &parsed, &why)) << why;
        EXPECT_EQ(parsed.layout, layout);
        EXPECT_EQ(DescribeFile(parsed), DescribeFile(file));
        EXPECT_EQ(FlatResources(parsed), FlatResources(file));
        EXPECT_EQ(parsed.types[0].resources[1].dataOffset, 3u + 7);
    }
}

TEST(FixtureParse, AcceptsSharedBlocksAndReturnsUncoveredBytes) {
    FixtureFile file;
    file.deadData = {0x01, 0x00, 0x00, 0x00, 0xAA, 0xBB};
    file.types = {
        {FourCC("DATA"), {{1, std::nullopt, {}, 0, 0, 0}, {2, std::nullopt, {}, 0, 0, 0}}}};
    FixtureFile parsed;
    std::string why;
    ASSERT_TRUE(ParseResourceFile(BuildResourceFile(file), &parsed, &why)) << why;
    EXPECT_EQ(parsed.types[0].resources[0].data, Bytes({0xAA}));
    EXPECT_EQ(parsed.types[0].resources[1].data, Bytes({0xAA}));
    EXPECT_EQ(parsed.deadData, Bytes({0xBB}));
}

struct Damage {
    const char *what;
    std::function<void(Bytes &)> apply;
};

// Writes a header field and its copy in the map.
void PutHeader(Bytes &bytes, size_t field, uint32_t value) {
    const size_t map = MapOffsetOf(bytes);
    PutU32(bytes, field, value);
    PutU32(bytes, map + field, value);
}

TEST(FixtureParse, RefusesDamagedLayout1500Files) {
    const Bytes good = BuildResourceFile(RichFile(1500));
    ASSERT_TRUE(ParseResourceFile(good, nullptr, nullptr));
    const size_t map = MapOffsetOf(good);
    const size_t pict = TypeEntryOffset(good, 0);
    const size_t five = TypeEntryOffset(good, 2);

    const std::vector<Damage> damages = {
        {"data offset 257", [](Bytes &b) { PutHeader(b, 0, 257); }},
        {"header copy differs", [map](Bytes &b) { PutU32(b, map + 12, 1); }},
        {"map length past the end", [](Bytes &b) { PutHeader(b, 12, MapLengthOf(b) + 1); }},
        {"map offset past the end", [](Bytes &b) { PutU32(b, 4, 100000); }},
        {"file one byte short", [](Bytes &b) { b.pop_back(); }},
        {"info block not zero", [](Bytes &b) { b[200] = 1; }},
        {"type-list offset 31", [map](Bytes &b) { PutU16(b, map + 24, 31); }},
        {"name-list offset off by one",
         [map](Bytes &b) { PutU16(b, map + 26, GetU16(b, map + 26) + 1); }},
        {"types run past the map", [map](Bytes &b) { PutI16(b, map + 28, 300); }},
        {"type count -2", [map](Bytes &b) { PutI16(b, map + 28, -2); }},
        {"references run past the map", [pict](Bytes &b) { PutI16(b, pict + 4, 40); }},
        {"resource count -2", [pict](Bytes &b) { PutI16(b, pict + 4, -2); }},
        {"runs overlap", [pict, five](Bytes &b) { PutU16(b, five + 6, GetU16(b, pict + 6)); }},
        {"run before the area", [pict](Bytes &b) { PutI16(b, pict + 6, -30); }},
        {"run off the entry grid", [pict](Bytes &b) { PutI16(b, pict + 6, 25); }},
        {"name offset past the list",
         [](Bytes &b) { PutI16(b, ReferenceEntryOffset(b, 0, 0) + 2, 500); }},
        {"name offset -2", [](Bytes &b) { PutI16(b, ReferenceEntryOffset(b, 0, 0) + 2, -2); }},
        {"two entries share a name",
         [](Bytes &b) {
             PutI16(b, ReferenceEntryOffset(b, 2, 1) + 2,
                    GetI16(b, ReferenceEntryOffset(b, 2, 0) + 2));
         }},
        {"name runs past the map",
         [](Bytes &b) {
             b[NameListOffset(b) + GetU16(b, ReferenceEntryOffset(b, 2, 1) + 2)] = 200;
         }},
        {"data offset with bit 23", [](Bytes &b) { b[ReferenceEntryOffset(b, 0, 0) + 6] |= 0x80; }},
        {"data offset past the area",
         [](Bytes &b) { PutU16(b, ReferenceEntryOffset(b, 0, 0) + 4, 400); }},
        {"block past the area", [](Bytes &b) { PutU32(b, DataBlockOffset(b, 2, 1), 301); }},
    };
    for (const Damage &damage : damages) {
        Bytes bytes = good;
        damage.apply(bytes);
        std::string why;
        EXPECT_FALSE(ParseResourceFile(bytes, nullptr, &why)) << damage.what;
        EXPECT_FALSE(why.empty()) << damage.what;
    }
}

TEST(FixtureParse, RefusesDamagedOldLayoutFiles) {
    for (int layout : {1100, 1000}) {
        const Bytes good = BuildResourceFile(RichFile(layout));
        ASSERT_TRUE(ParseResourceFile(good, nullptr, nullptr)) << layout;
        const size_t map = MapOffsetOf(good);
        std::vector<Damage> damages = {
            {"name length 64", [](Bytes &b) { b[ReferenceEntryOffset(b, 0, 0) + 4] = 64; }},
            {"runs overlap",
             [](Bytes &b) {
                 PutU16(b, TypeEntryOffset(b, 2) + 6, GetU16(b, TypeEntryOffset(b, 0) + 6));
             }},
            {"type-list offset", [map](Bytes &b) { b[map + 24] += 1; }},
            {"block past the area",
             [](Bytes &b) { PutU32(b, ReferenceEntryOffset(b, 0, 0) + 70, DataLengthOf(b) - 3); }},
        };
        if (layout == 1100) {
            damages.push_back({"name offset 0",
                               [](Bytes &b) { PutI16(b, ReferenceEntryOffset(b, 0, 0) + 2, 0); }});
            damages.push_back({"end of references", [map](Bytes &b) { PutU32(b, map + 28, 34); }});
            damages.push_back({"text not followed by zeros", [](Bytes &b) { b[41] = ' '; }});
        }
        for (const Damage &damage : damages) {
            Bytes bytes = good;
            damage.apply(bytes);
            EXPECT_FALSE(ParseResourceFile(bytes, nullptr, nullptr))
                << layout << ": " << damage.what;
        }
    }
}

// The version number at offset 20 decides before the text does.
TEST(FixtureParse, RecognisesTheLayoutInTheLibrarysOrder) {
    Bytes bytes = BuildResourceFile(RichFile(1100));
    PutU32(bytes, 20, 1500);
    EXPECT_EQ(LayoutOf(bytes), 1500);
    EXPECT_EQ(LayoutOf(BuildResourceFile(RichFile(1000))), 1000);
}

TEST(FixtureBitmap, EightBitImageIsByteExact) {
    const Bytes image =
        BuildBitmapImage(3, 2, 8, {{1, 2, 3}, {0xFF, 0x80, 0x00}}, {0, 1, 0, 1, 1, 0});
    const Bytes expected = {
        'B', 'M', 70, 0, 0,    0,    0,    0, 0, 0, 62, 0, 0, 0,  // file header
        40,  0,   0,  0, 3,    0,    0,    0, 2, 0, 0,  0, 1, 0,
        8,   0,  // size, width, height, planes, depth
        0,   0,   0,  0, 8,    0,    0,    0, 0, 0, 0,  0, 0, 0,
        0,   0,                                // no compression, image size 8
        2,   0,   0,  0, 0,    0,    0,    0,  // 2 colours
        3,   2,   1,  0, 0x00, 0x80, 0xFF, 0,  // blue, green, red, 0
        1,   1,   0,  0,                       // bottom row first, padded
        0,   1,   0,  0,
    };
    EXPECT_EQ(image, expected);
}

TEST(FixtureBitmap, RoundTripsEveryDepthBothWaysUp) {
    for (uint16_t depth : {1, 4, 8, 16, 24, 32}) {
        for (int32_t height : {3, -3}) {
            SCOPED_TRACE(std::to_string(depth) + " bits, height " + std::to_string(height));
            std::vector<FixtureColour> palette;
            if (depth <= 8) {
                for (uint32_t i = 0; i < (1u << depth); ++i) {
                    palette.push_back({static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), 7});
                }
            }
            const uint64_t limit = depth >= 32 ? 0x100000000ull : (1ull << depth);
            std::vector<uint32_t> pixels;
            for (uint32_t i = 0; i < 5 * 3; ++i) {
                pixels.push_back(static_cast<uint32_t>((i * 2654435761ull) % limit));
            }
            FixtureBitmap back;
            std::string why;
            ASSERT_TRUE(
                ParseBitmapImage(BuildBitmapImage(5, height, depth, palette, pixels), &back, &why))
                << why;
            EXPECT_EQ(back.width, 5);
            EXPECT_EQ(back.height, height);
            EXPECT_EQ(back.bitsPerPixel, depth);
            EXPECT_EQ(back.palette, palette);
            EXPECT_EQ(back.pixels, pixels);
        }
    }
}

// The library stores the pixel offset 1078 for every picture and may leave the
// colours-used field 0; the reader follows the colour table, not those fields.
TEST(FixtureBitmap, ReadsPixelsBehindTheTableWhateverThePixelOffsetSays) {
    std::vector<FixtureColour> palette;
    for (uint8_t i = 0; i < 16; ++i)
        palette.push_back({i, i, i});
    Bytes image = BuildBitmapImage(2, 2, 4, palette, {1, 2, 3, 15});
    PutU32(image, 10, 1078);
    PutU32(image, 46, 0);
    FixtureBitmap back;
    std::string why;
    ASSERT_TRUE(ParseBitmapImage(image, &back, &why)) << why;
    EXPECT_EQ(back.pixelOffsetField, 1078u);
    EXPECT_EQ(back.palette, palette);
    EXPECT_EQ(back.pixels, std::vector<uint32_t>({1, 2, 3, 15}));
}

TEST(FixtureBitmap, RefusesWhatIsNotAnUncompressedBitmap) {
    const Bytes good =
        BuildBitmapImage(4, 4, 8, std::vector<FixtureColour>(256), std::vector<uint32_t>(16, 9));
    ASSERT_TRUE(ParseBitmapImage(good, nullptr, nullptr));
    Bytes notBm = good;
    notBm[1] = 'N';
    Bytes compressed = good;
    PutU32(compressed, 30, 1);
    Bytes shortImage = good;
    shortImage.pop_back();
    for (const Bytes &bad :
         {notBm, compressed, shortImage, Bytes(good.begin(), good.begin() + 40)}) {
        std::string why;
        EXPECT_FALSE(ParseBitmapImage(bad, nullptr, &why));
        EXPECT_FALSE(why.empty());
    }
}

}  // namespace
