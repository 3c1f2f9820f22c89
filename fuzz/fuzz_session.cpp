// A whole session through the exports on a content file of any content, with a
// fixed update source: Open, List, ListPicture, Update, Close. A sound file
// that the update reports done is a sound file still.
#include <cstdlib>

#include "fuzz_support.h"
#include "rezkit/rezkit.h"
#include "skupdater.h"

namespace {

std::vector<uint8_t> Picture(uint8_t seed) {
    std::vector<FixtureColour> table(256);
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = {uint8_t(i * seed), uint8_t(i * 3), uint8_t(255 - i)};
    std::vector<uint32_t> pixels(48);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint32_t(i * seed) & 0xFF;
    return BuildBitmapImage(8, 6, 8, table, pixels);
}

uint32_t Code(const char *t) {
    return uint32_t(uint8_t(t[0])) << 24 | uint32_t(uint8_t(t[1])) << 16 |
           uint32_t(uint8_t(t[2])) << 8 | uint8_t(t[3]);
}

FixtureResource Res(int16_t id, std::vector<uint8_t> data) {
    return {id, "new", std::move(data)};
}

// New content for fish 128 and 10200, the other kinds' pictures and the
// default picture.
std::vector<uint8_t> UpdateSource() {
    FixtureFile file;
    const std::vector<uint8_t> record(388, 0x41);
    for (const char *type : {"ELRA", "ELRB"})
        file.types.push_back({Code(type), {Res(128, {1, 2}), Res(10200, {3, 4})}});
    for (const char *type : {"FADP", "PLDP", "ACDP", "FDDP", "DRDP"})
        file.types.push_back({Code(type), {Res(128, Picture(3)), Res(10200, Picture(5))}});
    for (const char *type : {"FsTI", "FsTH", "PrF#"})
        file.types.push_back({Code(type), {Res(128, record), Res(10200, record)}});
    file.types.push_back({Code("LigH"), {Res(400, std::vector<uint8_t>(12, 7))}});
    file.types.push_back({Code("PICT"), {Res(264, Picture(7))}});
    return BuildResourceFile(file);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const std::vector<uint8_t> source = UpdateSource();
    WriteFuzzFile("Updater.rez", source.data(), source.size());
    setenv("HDPathForRez", FuzzFolder().c_str(), 1);
    setenv("TMPDIR", FuzzFolder().c_str(), 1);
    for (const char *name : {"PathForRez", "SKELMORA_DRIVES", "SKELMORA_MESSAGE_LOG"})
        unsetenv(name);
    Require(Register(nullptr) == 1, "the update source cannot be registered");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string path = WriteFuzzFile("content.rez", data, size);
    char text[256];
    if (Open(path.c_str()) == 1) {
        for (int32_t code : {100, 200, 300})
            List(code, 0, text);
        void *dc = CreateMemoryDC(32, 24, 0);
        ListPicture(200, 0, dc);
        DeleteMemoryDC(dc);
        const int32_t updated = Update();
        Close();
        FixtureFile file;
        std::string why;
        if (updated == 1 && ParseResourceFile(WithoutInfoRest({data, data + size}), &file, &why)) {
            const bool sound = ParseResourceFile(WithoutInfoRest(ReadFuzzFile(path)), &file, &why);
            Require(sound, ("an updated file is not sound: " + why).c_str());
        }
    } else {
        Close();
    }
    return 0;
}
