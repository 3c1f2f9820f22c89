// Writes the files on which the Windows DLL and the POSIX library are compared:
// an update source and content files of every kind, in the three layouts, with
// preview pictures whose colours lie off the picture palette (so the mapping
// onto it shows), one file already current and one that is no resource file.
//
//   sk_comparison_files FOLDER
// writes FOLDER/source/Updater.rez and FOLDER/content/*.rez, and prints the
// names of the content files, one a line.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "rezkit/rezkit.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Every picture is 8 x 6, so that a preview of 32 x 24 stretches it four times.
constexpr int32_t kPictureWidth = 8;
constexpr int32_t kPictureHeight = 6;

// A picture whose colour table steps through colours that the palette lacks,
// and whose pixels differ from their neighbours.
Bytes Picture(uint32_t seed, uint16_t bits = 8) {
    const uint32_t colours = 1u << bits;
    std::vector<FixtureColour> table(colours);
    for (uint32_t i = 0; i < colours; ++i) {
        table[i] = {uint8_t(i * 37 + seed * 11 + 7), uint8_t(i * 91 + seed * 5 + 3),
                    uint8_t(i * 53 + seed * 29 + 1)};
    }
    std::vector<uint32_t> pixels;
    for (int32_t y = 0; y < kPictureHeight; ++y) {
        for (int32_t x = 0; x < kPictureWidth; ++x)
            pixels.push_back(uint32_t(x * 3 + y * 5 + int32_t(seed)) % colours);
    }
    return BuildBitmapImage(kPictureWidth, kPictureHeight, bits, table, pixels);
}

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(seed + i * 7);
    return bytes;
}

Bytes Version(int16_t v) {
    return {uint8_t(v & 0xFF), uint8_t((v >> 8) & 0xFF)};
}

// A record of size bytes that starts with name as a length byte and characters.
Bytes Named(const std::string &name, size_t size, uint8_t seed) {
    Bytes record = Pattern(size, seed);
    record[0] = uint8_t(name.size());
    std::copy(name.begin(), name.end(), record.begin() + 1);
    return record;
}

FixtureFile File(const char (&kind)[5], std::vector<FixtureType> types, int layout = 1500) {
    FixtureFile file;
    file.kind = FourCC(kind);
    file.types = std::move(types);
    file.layout = layout;
    return file;
}

FixtureFile Source() {
    return File(
        "XXXX",
        {
            Type("ELRA", {Res(10200, "a0", Pattern(6, 1)), Res(10203, "a3", Pattern(6, 2))}),
            Type("ELRB", {Res(10202, std::nullopt, Pattern(6, 4))}),
            Type("FADP", {Res(10200, "new fish", Picture(1))}),
            Type("FsTI",
                 {Res(10200, "srcfish", Pattern(40, 5)), Res(10000, "zsrc", Pattern(40, 6))}),
            Type("FsTH",
                 {Res(10200, "srchead", Pattern(50, 7)), Res(10000, "zhead", Pattern(20, 8))}),
            Type("PrF#", {Res(10200, "prf", Pattern(8, 8))}),
            Type("PLDP", {Res(128, "new plant", Picture(2, 4))}),
            Type("FDDP", {Res(128, "new food", Picture(3))}),
            Type("DRDP", {Res(128, "new drug", Picture(4))}),
            Type("ACDP", {Res(128, "Shell", Picture(5)), Res(130, "other", Picture(6))}),
            Type("LigH", {Res(400, "light", Pattern(12, 9))}),
            Type("SmVe", {Res(128, std::nullopt, Version(150))}),
            Type("PICT", {Res(264, "default", Picture(7))}),
        });
}

FixtureFile Fish(int layout, int16_t version) {
    return File("SkFs",
                {Type("FsTI", {Res(10200, "fish", Pattern(40, 11)), Res(10300, "two", {4})}),
                 Type("FiVe", {Res(10200, std::nullopt, Version(version))}),
                 Type("FADP", {Res(10200, "old fish", Picture(8))}),
                 Type("FBPC", {Res(10250, "gone", Picture(9))}),
                 Type("FshI", {Res(128, "first", Named("Somebody", 388, 12))}),
                 Type("EggI", {Res(128, "egg", Pattern(342, 13))}),
                 Type("FsTH", {Res(10200, "head", Pattern(600, 14))})},
                layout);
}

FixtureFile Item(const char (&kind)[5], const char (&info)[5], const char (&picture)[5],
                 uint32_t seed, uint16_t bits) {
    return File(kind, {Type(info, {Res(128, "i", {1}), Res(129, "j", {2})}),
                       Type(picture, {Res(128, "mine", Picture(seed, bits))})});
}

std::vector<std::pair<std::string, Bytes>> ContentFiles() {
    Bytes damaged = Pattern(300, 99);
    return {
        {"fish.rez", BuildResourceFile(Fish(1500, -1))},
        {"fish-layout1100.rez", BuildResourceFile(Fish(1100, 100))},
        {"fish-layout1000.rez", BuildResourceFile(Fish(1000, 100))},
        {"fish-current.rez", BuildResourceFile(Fish(1500, 150))},
        {"plant.rez", BuildResourceFile(Item("SkPl", "PlTI", "PLDP", 20, 4))},
        {"food.rez", BuildResourceFile(Item("SkFd", "Fd_I", "FDDP", 21, 8))},
        {"drug.rez", BuildResourceFile(Item("SkDr", "DrgI", "DRDP", 22, 8))},
        {"accessory.rez",
         BuildResourceFile(File("SkAc", {Type("AccH", {Res(128, "s", Named("Shell", 546, 30)),
                                                       Res(130, "n", Named("Nowhere", 546, 31))}),
                                         Type("ACDP", {Res(130, "o3", Picture(23))})}))},
        {"light.rez", BuildResourceFile(File("SkMr", {Type("Ligt", {Res(400, "l", Pattern(8, 40))}),
                                                      Type("SmVe", {Res(128, {}, {7})})}))},
        {"aquarium.rez",
         BuildResourceFile(File("Skel", {Type("FsTI", {Res(10000, "z", {3})}),
                                         Type("FshI", {Res(128, "a", Named("zidiruvo", 388, 41))}),
                                         Type("PlTI", {Res(128, "p", {4})}),
                                         Type("PLDP", {Res(128, "mine", Picture(24))}),
                                         Type("Ligt", {Res(400, "l", Pattern(8, 42))}),
                                         Type("FsTH", {Res(10000, "zh", Pattern(20, 43))}),
                                         Type("SkVe", {Res(128, {}, Version(120))})}))},
        {"damaged.rez", damaged},
    };
}

bool Write(const std::filesystem::path &path, const Bytes &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out.flush());
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: sk_comparison_files FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code failed;
    std::filesystem::create_directories(folder / "source", failed);
    std::filesystem::create_directories(folder / "content", failed);
    if (!Write(folder / "source" / "Updater.rez", BuildResourceFile(Source()))) return 1;
    for (const auto &[name, bytes] : ContentFiles()) {
        if (!Write(folder / "content" / name, bytes)) return 1;
        std::printf("%s\n", name.c_str());
    }
    return 0;
}
