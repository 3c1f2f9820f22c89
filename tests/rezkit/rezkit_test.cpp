// Pins the kit's writer against hand-written bytes and its reader against the
// writer: every other test trusts these two.
#include "rezkit/rezkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/test_env.h"

namespace {

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The header of layout 1500 (data offset 256) and its info block with kind
// XXXX, values 1, 2, 1, 0 and everything else zero: bytes 0 to 255.
Bytes HeaderAndEmptyInfoBlock(const Bytes &header) {
    Bytes info(240, 0);
    const Bytes start = {'X', 'X', 'X', 'X', 0xDC, 0x05, 0, 0, 1, 0, 2, 0, 1, 0};
    std::copy(start.begin(), start.end(), info.begin());
    return Concat({header, info});
}

TEST(FixtureBuild, WorkedExampleAndEmptyFileAreByteExact) {
    const Bytes header = {0x00, 0x01, 0, 0, 0x07, 0x01, 0, 0, 0x07, 0, 0, 0, 0x35, 0, 0, 0};
    const Bytes example = Concat({
        HeaderAndEmptyInfoBlock(header),
        {0x03, 0, 0, 0, 0xA1, 0xB2, 0xC3},                 // data area at 256
        header,                                            // map at 263: header copy
        {0, 0, 0, 0, 0, 0, 0, 0},                          // reserved
        {0x1E, 0x00, 0x32, 0x00, 0x00, 0x00},              // type list 30, names 50, 1 type
        {0x54, 0x43, 0x49, 0x50, 0x00, 0x00, 0x08, 0x00},  // PICT, 1 resource, refs at 8
        {0x80, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0},  // 128, name 0, data 0, slot
        {0x02, 'a', 'b'},                                  // name list at map + 50
    });
    ASSERT_EQ(example.size(), 316u);
    EXPECT_EQ(BuildResourceFile({.types = {{FourCC("PICT"), {{128, "ab", {0xA1, 0xB2, 0xC3}}}}}}),
              example);

    const Bytes emptyHeader = {0x00, 0x01, 0, 0, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0x1E, 0, 0, 0};
    const Bytes empty = Concat({HeaderAndEmptyInfoBlock(emptyHeader),
                                emptyHeader,
                                {0, 0, 0, 0, 0, 0, 0, 0, 0x1E, 0x00, 0x1E, 0x00, 0xFF, 0xFF}});
    ASSERT_EQ(empty.size(), 286u);
    EXPECT_EQ(BuildResourceFile(FixtureFile{}), empty);
}

TEST(FixtureBuild, Layout1100WithTwoTypesIsByteExact) {
    const FixtureFile file = {.layout = 1100,
                              .kind = FourCC("SkPl"),  // not stored in this layout
                              .types = {{FourCC("PLPC"), {{128, "ab", {0x01, 0x02}}}},
                                        {FourCC("PLDP"), {{129, {}, {}, 0x04, 0x0BADF00D}}}}};
    const Bytes header = {0x00, 0x01, 0, 0, 0x0A, 0x01, 0, 0, 0x0A, 0, 0, 0, 0xD2, 0, 0, 0};
    const std::string text = "Version 2.0 Resource File";
    Bytes expected = Concat({header, Bytes(text.begin(), text.end())});
    expected.resize(256);
    const size_t map = 266;
    expected = Concat({expected, {0x02, 0, 0, 0, 0x01, 0x02, 0, 0, 0, 0}, header});
    expected.resize(map + 210);
    auto patch = [&](size_t at, const Bytes &with) {
        std::copy(with.begin(), with.end(), expected.begin() + static_cast<std::ptrdiff_t>(at));
    };
    patch(map + 24, {0x22, 0, 0, 0, 0xD2, 0, 0, 0, 0x01, 0x00});       // types at 34, end 210
    patch(map + 34, {'C', 'P', 'L', 'P', 0x00, 0x00, 0x14, 0, 0, 0});  // run at 20
    patch(map + 44, {'P', 'D', 'L', 'P', 0x00, 0x00, 0x62, 0, 0, 0});  // run at 98
    patch(map + 54, {0x80, 0x00, 0xFF, 0xFF, 0x02, 'a', 'b'});
    patch(map + 132, {0x81, 0x00, 0xFF, 0xFF, 0x00});
    patch(map + 132 + 68, {0x04, 0x00, 0x06, 0, 0, 0, 0x0D, 0xF0, 0xAD, 0x0B});
    EXPECT_EQ(BuildResourceFile(file), expected);
}

// A description that uses every feature of the format.
FixtureFile RichFile(int layout) {
    return {.layout = layout,
            .kind = FourCC("SkAc"),
            .infoValues = {1, 2, 1, 65535},
            .deadBytes = 3,
            .conversionPending = 1,
            .mapReserved32 = 7,
            .mapReserved16b = 9,
            .deadData = {0xEE, 0xEE, 0xEE},
            .types = {{FourCC("PICT"), {{128, "ab", {1, 2, 3}, 0x04}, {-129, {}, {}, 0x02}}},
                      {FourCC("STR#"), {}},
                      {FourCC("FiVe"),
                       {{150, "", {0x96, 0x00}}, {151, "second", Pattern(300, 7), 0x80, 7}}}},
            .runOrder = {2, 0, 1}};
}

// Every layout reads back as it was described (skrez's tests plant faults that
// the reader must find).
TEST(FixtureParse, EveryLayoutRoundTrips) {
    for (int layout : {1500, 1100, 1000}) {
        const FixtureFile file = RichFile(layout);
        const Bytes good = BuildResourceFile(file);
        EXPECT_EQ(LayoutOf(good), layout);
        FixtureFile parsed;
        ASSERT_TRUE(ParseResourceFile(good, &parsed, nullptr)) << layout;
        EXPECT_EQ(DescribeFile(parsed), DescribeFile(file)) << layout;
        EXPECT_EQ(FlatResources(parsed), FlatResources(file)) << layout;
    }
}

}  // namespace
