// Writes the seed corpora of the fuzz targets, made by the format kit, into
// the folder given: one subfolder per target.
#include <filesystem>
#include <fstream>
#include <string>

#include "rezkit/rezkit.h"
#include "update/record_layouts.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

void Put(const fs::path &folder, const std::string &name, const Bytes &bytes) {
    fs::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes Picture(int32_t width, int32_t height, uint16_t bits) {
    const size_t colours = bits <= 8 ? size_t(1) << bits : 0;
    std::vector<FixtureColour> table(colours);
    for (size_t i = 0; i < colours; ++i)
        table[i] = {uint8_t(i * 7), uint8_t(i * 13), uint8_t(i * 29)};
    std::vector<uint32_t> pixels(size_t(width) * size_t(std::abs(height)));
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = bits <= 8 ? uint32_t(i % colours)
                              : uint32_t(i * 0x10203) & uint32_t((uint64_t(1) << bits) - 1);
    return BuildBitmapImage(width, height, bits, table, pixels);
}

// A run-length encoded 8-bit picture: two runs, an end of line, an end of bitmap.
Bytes RunLengthPicture() {
    Bytes image = Picture(4, 2, 8);
    image.resize(14 + 40 + 1024);
    for (uint8_t b : {4, 1, 0, 0, 2, 5, 2, 6, 0, 1})
        image.push_back(b);
    PutU32(image, 14 + 16, 1);
    PutU32(image, 14 + 20, 10);
    PutU32(image, 2, uint32_t(image.size()));
    return image;
}

FixtureFile Content(uint32_t kind, const char *version, const char *info, const char *picture) {
    FixtureFile file;
    file.kind = kind;
    const auto code = [](const char *t) {
        return uint32_t(uint8_t(t[0])) << 24 | uint32_t(uint8_t(t[1])) << 16 |
               uint32_t(uint8_t(t[2])) << 8 | uint8_t(t[3]);
    };
    file.types.push_back({code(version), {{128, std::nullopt, {100, 0}}}});
    file.types.push_back(
        {code(info), {{128, "item", Bytes(388, 0x41)}, {129, "second", Bytes(40)}}});
    if (picture != nullptr) file.types.push_back({code(picture), {{128, "pic", Picture(8, 6, 8)}}});
    file.types.push_back({FourCC("STR#"), {{128, std::nullopt, {2, 0, 1, 'a', 2, 'b', 'c'}}}});
    return file;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    const fs::path root = argv[1];
    const FixtureFile files[] = {
        Content(FourCC("SkFs"), "FiVe", "FsTI", "FADP"),
        Content(FourCC("SkAc"), "AcVe", "AccI", "ACDP"),
        Content(FourCC("SkMr"), "SmVe", "SmVe", nullptr),
        Content(FourCC("Skel"), "SkVe", "FsTI", "FADP"),
    };
    int n = 0;
    for (FixtureFile file : files) {
        const std::string name = std::to_string(n++) + ".rez";
        Put(root / "resource_file", name, BuildResourceFile(file));
        Put(root / "session", name, BuildResourceFile(file));
        for (int layout : {1100, 1000}) {
            file.layout = layout;
            Put(root / "old_layouts", std::to_string(layout) + "-" + name, BuildResourceFile(file));
        }
    }
    for (uint16_t bits : {1, 4, 8, 16, 24, 32})
        Put(root / "picture", std::to_string(bits) + ".bmp", Picture(5, bits == 8 ? -3 : 3, bits));
    Put(root / "picture", "rle.bmp", RunLengthPicture());
    const auto layouts = RecordLayouts();
    for (size_t i = 0; i < layouts.size(); ++i) {
        Bytes record(1, uint8_t(i));
        record.resize(1 + layouts[i].newSize + 4 * layouts[i].oldEntrySize, 0x20);
        Put(root / "records", std::to_string(i), record);
    }
    return 0;
}
