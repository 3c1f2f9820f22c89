// Runs the built skrez on files of every layout, sound and damaged, as a user
// would, and checks that no command changes the file it reads.
#include <png.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/test_env.h"
#include "rezkit/rezkit.h"

namespace {

class Skrez : public ::testing::Test {
  protected:
    // Runs skrez with args (file names given as names in the temporary folder
    // after '@'); every file it names is the same afterwards.
    ProgramRun Run(const std::vector<std::string> &args) {
        std::vector<std::string> words = {SKREZ_PATH};
        std::vector<std::pair<std::string, Bytes>> inputs;
        for (size_t i = 0; i < args.size(); ++i) {
            const std::string &arg = args[i];
            words.push_back(arg[0] == '@' ? temp_.File(arg.substr(1)) : arg);
            const bool output = i > 0 && args[i - 1] == "-o";
            if (arg[0] == '@' && !output)
                inputs.push_back({words.back(), ReadWholeFile(words.back())});
        }
        const ProgramRun run = RunProgram(words, temp_.path());
        for (const auto &[path, bytes] : inputs)
            EXPECT_EQ(ReadWholeFile(path), bytes) << path << " changed by " << args[0];
        return run;
    }
    std::string Put(const std::string &name, const Bytes &bytes) {
        WriteWholeFile(temp_.File(name), bytes);
        return "@" + name;
    }
    TempDir temp_;
};

// A 3 x 2 picture as the library stores it: pixel offset 1078 and sizes 0.
const std::vector<FixtureColour> kPalette = {{10, 20, 30}, {200, 100, 0}, {0, 0, 255}};
Bytes StoredPicture(int32_t height, uint16_t bits, const std::vector<uint32_t> &pixels) {
    std::vector<FixtureColour> palette;
    if (bits == 4) palette = kPalette, palette.resize(16);
    Bytes image = BuildBitmapImage(3, height, bits, palette, pixels);
    PutU32(image, 10, 1078);
    PutU32(image, 34, 0);
    PutU32(image, 46, 0);
    return image;
}

FixtureFile Sample(int layout) {
    return {
        .layout = layout,
        .kind = FourCC("SkFs"),
        .deadBytes = 2,
        .conversionPending = 1,
        .deadData = {0xEE, 0xEE},
        .types = {{FourCC("FAPC"),
                   {{128, "\x83\x74\x83\x42\x83\x62\x83\x56\x83\x85",
                     StoredPicture(2, 4, {0, 1, 2, 2, 1, 0})},
                    {129, "top", StoredPicture(-2, 24, {0xFF0000, 0x00FF00, 0x0000FF, 1, 2, 3})}}},
                  {FourCC("STR#"), {}},
                  {FourCC("FiVe"), {{-5, {}, {2, 0, 0, 0, 9, 9}, 0x04}, {7, "b", {1}}}}}};
}

TEST_F(Skrez, ListsEveryLayoutAndFindsEachPlantedFault) {
    for (int layout : {1500, 1100, 1000}) {
        const Bytes good = BuildResourceFile(Sample(layout));
        const std::string file = Put("sample.rsrc", good);
        const std::string json = Run({"list", "--json", file}).out;
        const std::string resources =
            "\"types\":[{\"type\":\"FAPC\",\"resources\":[{\"id\":128,\"name\":\"フィッシュ\","
            "\"size\":126,\"attributes\":0,\"dataOffset\":2},{\"id\":129,\"name\":\"top\","
            "\"size\":78,\"attributes\":0,\"dataOffset\":132}]},{\"type\":\"STR#\","
            "\"resources\":[]},{\"type\":\"FiVe\",\"resources\":[{\"id\":-5,\"name\":null,"
            "\"size\":6,\"attributes\":4,\"dataOffset\":214},{\"id\":7,\"name\":\"b\",\"size\":1,"
            "\"attributes\":0,\"dataOffset\":224}]}],\"totals\":{\"types\":3,\"resources\":4,"
            "\"dataBytes\":211}}";
        EXPECT_NE(json.find(resources), std::string::npos) << json;
        EXPECT_NE(
            json.find(layout == 1500 ? "\"kind\":\"SkFs\",\"format\":1500,\"values\":[1,2,1,0],"
                                       "\"conversionPending\":1,\"deadBytes\":2"
                                     : "\"kind\":null,\"format\":null"),
            std::string::npos)
            << json;
        EXPECT_NE(Run({"list", file}).out.find("FiVe            7          1  0x00      224  b\n"),
                  std::string::npos);
        const ProgramRun sound = Run({"verify", file});
        EXPECT_EQ(sound.status, 0);
        EXPECT_NE(sound.out.find(layout == 1500 ? "sound" : "older layout"), std::string::npos);

        const size_t map = MapOffsetOf(good);
        const size_t five = DataBlockOffset(good, 2, 0);
        const std::pair<std::function<void(Bytes &)>, size_t> faults[] = {
            {[](Bytes &b) { b.resize(200); }, 200},
            {[&](Bytes &b) { PutU32(b, map + 12, 9); }, map + 12},
            {[&](Bytes &b) { PutU16(b, map + 28, 200); }, map + 28},
            {[&](Bytes &b) { PutI16(b, TypeEntryOffset(b, 2) + 4, -3); },
             TypeEntryOffset(good, 2) + 4},
            {[&](Bytes &b) { PutU16(b, TypeEntryOffset(b, 0) + 6, 0x0300); },
             TypeEntryOffset(good, 0) + 6},
            {[&](Bytes &b) { PutU32(b, DataBlockOffset(b, 0, 1), 500); },
             DataBlockOffset(good, 0, 1)},
            {[&](Bytes &b) {  // the second block starts inside the first
                 PutU32(b, ReferenceEntryOffset(b, 2, 1) + (layout == 1500 ? 4 : 70),
                        static_cast<uint32_t>(five + 4 - 256));
             },
             five + 4},
            {[&](Bytes &b) {  // two unchanged entries on one block
                 PutU32(b, ReferenceEntryOffset(b, 2, 1) + (layout == 1500 ? 4 : 70),
                        static_cast<uint32_t>(five - 256));
             },
             ReferenceEntryOffset(good, 2, 1) + (layout == 1500 ? 4 : 70)},
            {[&](Bytes &b) {
                 if (layout == 1500) PutI16(b, ReferenceEntryOffset(b, 0, 0) + 2, 300);
                 if (layout != 1500) b[ReferenceEntryOffset(b, 0, 0) + 4] = 64;
             },
             ReferenceEntryOffset(good, 0, 0) + (layout == 1500 ? 2 : 4)},
            {[&](Bytes &b) { PutU32(b, layout == 1500 ? map + 26 : map + 24, 31); },
             layout == 1500 ? map + 26 : map + 24},
            {[&](Bytes &b) {
                 if (layout != 1000) b[250] = 1;
                 if (layout == 1000)
                     b.resize(b.size() + 78), PutU32(b, 12, 444), PutU32(b, map + 12, 444);
             },
             layout == 1000 ? 12 : 250},
            {[&](Bytes &b) { PutI32(b, layout == 1500 ? 32 : map + 8, -1); },
             layout == 1500 ? 32 : map + 8},
        };
        for (const auto &[plant, offset] : faults) {
            Bytes bad = good;
            plant(bad);
            const ProgramRun damaged = Run({"verify", Put("bad.rsrc", bad)});
            EXPECT_EQ(damaged.status, 1) << layout << " at " << offset << "\n" << damaged.out;
            EXPECT_NE(("\n" + damaged.out).find("\nat " + std::to_string(offset) + ": "),
                      std::string::npos)
                << layout << " at " << offset << "\n"
                << damaged.out;
        }
    }
}

// RGB pixels of a BMP file as a viewer reads it: through the pixel offset.
std::vector<uint32_t> ViewBmp(const Bytes &bmp) {
    const int32_t width = GetI32(bmp, 18), height = GetI32(bmp, 22);
    const uint16_t bits = GetU16(bmp, 28);
    const size_t rowBytes = ((bits * width + 31) / 32) * 4, rows = height < 0 ? -height : height;
    std::vector<uint32_t> rgb;
    for (size_t y = 0; y < rows; ++y) {
        const size_t row = GetU32(bmp, 10) + (height > 0 ? rows - 1 - y : y) * rowBytes;
        for (int32_t x = 0; x < width; ++x) {
            size_t at = row + x * 3;  // 24 bits: blue, green, red
            if (bits == 4) at = 54 + 4 * ((bmp.at(row + x / 2) >> (x % 2 ? 0 : 4)) & 15);
            rgb.push_back(bmp.at(at + 2) << 16 | bmp.at(at + 1) << 8 | bmp.at(at));
        }
    }
    return rgb;
}

std::vector<uint32_t> ViewPng(const std::string &path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    image.format = PNG_FORMAT_RGB;
    Bytes pixels(PNG_IMAGE_SIZE(image));
    png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr);
    std::vector<uint32_t> rgb;
    for (size_t i = 0; i + 2 < pixels.size(); i += 3)
        rgb.push_back(pixels[i] << 16 | pixels[i + 1] << 8 | pixels[i + 2]);
    return rgb;
}

TEST_F(Skrez, ExtractsDumpsAndCompares) {
    const FixtureFile sample = Sample(1500);
    const std::string file = Put("sample.rsrc", BuildResourceFile(sample));
    const std::vector<uint32_t> expected[] = {
        {0x0A141E, 0xC86400, 0x0000FF, 0x0000FF, 0xC86400, 0x0A141E},
        {0xFF0000, 0x00FF00, 0x0000FF, 1, 2, 3}};
    for (int id : {128, 129}) {
        EXPECT_EQ(Run({"extract", file, "FAPC", std::to_string(id), "-o", "@p.bmp"}).status, 0);
        const Bytes bmp = ReadWholeFile(temp_.File("p.bmp"));
        EXPECT_EQ(GetU32(bmp, 2), bmp.size());
        EXPECT_EQ(ViewBmp(bmp), expected[id - 128]) << id;
        EXPECT_EQ(Run({"extract", file, "FAPC", std::to_string(id), "-o", "@p.png"}).status, 0);
        EXPECT_EQ(ViewPng(temp_.File("p.png")), expected[id - 128]) << id;
    }
    EXPECT_EQ(Run({"extract", file, "FiVe", "-5", "-o", "@five"}).status, 0);
    EXPECT_EQ(ReadWholeFile(temp_.File("five")), Bytes({2, 0, 0, 0, 9, 9}));
    EXPECT_EQ(Run({"extract", file, "FiVe", "-5", "-o", file}).status, 2);
    EXPECT_EQ(Run({"dump", "--raw", file, "FiVe", "7"}).out, "\x01");
    EXPECT_EQ(Run({"dump", file, "FiVe", "-5"}).out,
              "00000000  02 00 00 00 09 09                                 |......|\n");
    EXPECT_EQ(Run({"dump", file, "FiVe", "8"}).status, 2);
    EXPECT_EQ(Run({"list", Put("short.rsrc", Bytes(300, 0))}).status, 2);

    FixtureFile newer = sample;
    newer.types[2].resources[0].data = {1, 2};
    newer.types[2].resources[1].name = "c";
    newer.types[0].resources[0].attributes = 0x02;
    newer.types[0].resources.pop_back();
    newer.types[1].resources.push_back({1, {}, {}});
    const ProgramRun diff = Run({"diff", file, Put("newer.rsrc", BuildResourceFile(newer))});
    EXPECT_EQ(diff.status, 1);
    EXPECT_EQ(diff.out,
              "changed FAPC 128 \"フィッシュ\": attributes 0x00 -> 0x02; data the same\n"
              "removed FAPC 129 \"top\": 78 bytes, attributes 0x00\n"
              "changed FiVe -5 (no name): data 6 -> 2 bytes\n"
              "changed FiVe 7 \"b\": name \"b\" -> \"c\"; data the same\n"
              "added   STR# 1 (no name): 0 bytes, attributes 0x00\n"
              "1 added, 1 removed, 3 changed\n");
    FixtureFile old = sample;
    old.layout = 1000;
    EXPECT_EQ(Run({"diff", Put("old.rsrc", BuildResourceFile(old)), file}).out,
              "the files hold the same resources\n");
}

}  // namespace
