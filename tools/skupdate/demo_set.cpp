#include "skupdate/demo_set.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "rezkit/rezkit.h"
#include "skupdate/demo_pictures.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A record being laid out: fields at fixed offsets of a zeroed block.
class Record {
  public:
    explicit Record(size_t size) : bytes_(size) {}
    // A length byte and the characters: a short string (33-byte field, up to
    // 32 characters) or a long one (256-byte field).
    Record &Str(size_t at, const std::string &text) {
        bytes_[at] = static_cast<uint8_t>(text.size());
        std::memcpy(bytes_.data() + at + 1, text.data(), text.size());
        return *this;
    }
    // The characters and a terminating zero.
    Record &Text(size_t at, const std::string &text) {
        std::memcpy(bytes_.data() + at, text.c_str(), text.size() + 1);
        return *this;
    }
    Record &U16(size_t at, uint16_t value) {
        PutU16(bytes_, at, value);
        return *this;
    }
    Record &U32(size_t at, uint32_t value) {
        PutU32(bytes_, at, value);
        return *this;
    }
    operator Bytes() const { return bytes_; }

  private:
    Bytes bytes_;
};

FixtureFile File(int layout, const char (&kind)[5], std::vector<FixtureType> types) {
    FixtureFile file;
    file.layout = layout;
    file.kind = FourCC(kind);
    file.types = std::move(types);
    return file;
}
Bytes Version(int16_t value) {
    return {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>((value >> 8) & 0xFF)};
}

constexpr FixtureColour kGold = {236, 170, 40}, kBlue = {60, 120, 230}, kRed = {220, 50, 60},
                        kGreen = {50, 170, 70}, kStone = {150, 150, 140}, kWood = {140, 90, 50},
                        kAmber = {230, 140, 30}, kViolet = {150, 80, 210}, kTeal = {40, 190, 180};

// An item's short information record: its name and a few numbers.
Bytes ItemInfo(const std::string &name, uint16_t number) {
    return Record(40).Str(0, name).U16(34, number).U32(36, 0x00010000u + number);
}

// Fish information (388 bytes, the same in old and new files).
Bytes FishInfo(const std::string &name, uint32_t size) {
    return Record(388).Str(0, name).U32(256, size).U32(262, 3).U32(266, 40).U16(270, 12).Str(
        328, "tropical");
}
// Egg information (342 bytes, the same in old and new files).
Bytes EggInfo(const std::string &name) {
    return Record(342).Str(0, name).U16(256, 7).U32(258, 14).Str(298, "gravel").U16(340, 1);
}

// A fish's description: a 582-byte head and its entries, each a title and a
// text; old entries take 545 bytes with the text straight behind the title, new
// ones 546 with a zero byte between.
Bytes FishHead(bool old, const std::string &name, const std::vector<std::string> &notes) {
    const size_t entry = old ? 545 : 546, textAt = old ? 33 : 34;
    Record r(582 + entry * notes.size());
    r.Str(0, name).Str(33, "Skelmora stock").Text(66, "Lives in the warm shallows of the reef.");
    r.Text(322, "Feeds twice a day.").U16(578, 2).U16(580, static_cast<uint16_t>(notes.size()));
    for (size_t i = 0; i < notes.size(); ++i)
        r.Str(582 + entry * i, "Note " + std::to_string(i + 1))
            .Text(582 + entry * i + textAt, notes[i]);
    return r;
}

// Old layouts of the other records, which the update rebuilds in the new ones.
Bytes OldFishHistory(const std::string &name) {  // 1134 bytes: head and two entries
    return Record(1134)
        .Str(0, name)
        .Str(33, "Bred in the first season")
        .Str(289, "Calm")
        .Str(546, "Spawn")
        .Str(579, "In spring")
        .U32(836, 3)
        .Str(840, "Growth")
        .Str(873, "Slow")
        .U32(1130, 9);
}
Bytes OldNameAndText(const std::string &name, const std::string &text) {
    Record r(33 + text.size() + 1);
    return r.Str(0, name).Text(33, text);
}
Bytes OldListRecord(const std::string &first, const std::vector<std::string> &entries) {
    Record r(70 + 545 * entries.size());
    r.Str(0, first).Str(33, "Skelmora").U16(66, 5).U16(68, static_cast<uint16_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i)
        r.Str(70 + 545 * i, "Part " + std::to_string(i + 1)).Text(70 + 545 * i + 33, entries[i]);
    return r;
}
Bytes OldFoodHead(const std::string &name, const std::string &text) {  // 548 bytes
    return Record(548).Str(0, name).Text(33, text).U16(546, 25);
}
Bytes MedicineHead(bool old, const std::string &name) {  // 804 bytes
    const size_t shift = old ? 0 : 1;
    return Record(804)
        .Str(0, name)
        .Text(33 + shift, "Clears cloudy water in a day.")
        .Str(545 + shift, "One drop a week")
        .U16(802, 4);
}
Bytes NewNameAndText(const std::string &name, const std::string &text) {  // 546 bytes
    return Record(546).Str(0, name).Text(34, text);
}

FixtureFile UpdateSource() {
    const Bytes zidiruvo = DemoPicture(Motif::kFish, kGold);
    return File(
        1500, "XXXX",
        {
            Type("PICT", {Res(264, "Skelmora 1.5", DemoPicture(Motif::kTitle, kTeal))}),
            Type("FADP", {Res(10000, "ZidiRuvo", zidiruvo),
                          Res(12000, "Striped Darter", DemoPicture(Motif::kFish, kBlue)),
                          Res(13000, "Lantern Tetra", DemoPicture(Motif::kFish, kRed))}),
            Type("FBDP", {Res(10000, "ZidiRuvo", zidiruvo),
                          Res(12000, "Striped Darter", DemoPicture(Motif::kFish, kBlue))}),
            Type("EGDP", {Res(10000, "ZidiRuvo egg", DemoPicture(Motif::kFood, kGold))}),
            Type("FsTI", {Res(10000, "zidiruvo", ItemInfo("ZidiRuvo", 15)),
                          Res(12000, "Striped Darter", ItemInfo("Striped Darter", 15)),
                          Res(13000, "Lantern Tetra", ItemInfo("Lantern Tetra", 15))}),
            Type("FsTH", {Res(10000, "zidiruvo",
                              FishHead(false, "ZidiRuvo", {"Shy at first.", "Loves light."})),
                          Res(13000, "Lantern Tetra",
                              FishHead(false, "Lantern Tetra", {"Swims in shoals."}))}),
            Type("FsT2", {Res(10000, std::nullopt, Record(16).U16(0, 150))}),
            Type("SuS#", {Res(10000, "sounds", Record(24).U16(0, 2).U16(2, 129))}),
            Type("PrF#", {Res(10000, "preferences", Record(12).U16(0, 1).U16(2, 26))}),
            Type("ELRA", {Res(10000, "swim", Record(20).U16(0, 1)),
                          Res(10001, "turn", Record(20).U16(0, 2)),
                          Res(12000, "swim", Record(20).U16(0, 3))}),
            Type("ELRB", {Res(10000, "rest", Record(20).U16(0, 4))}),
            Type("PLDP", {Res(128, "Tall Kelp", DemoPicture(Motif::kPlant, kGreen))}),
            Type("FDDP", {Res(128, "Flakes", DemoPicture(Motif::kFood, kAmber))}),
            Type("DRDP", {Res(128, "Water Tonic", DemoPicture(Motif::kMedicine, kViolet))}),
            // Found through the ornament table, not by name.
            Type("ACDP", {Res(129, "ornament 129", DemoPicture(Motif::kOrnament, kWood)),
                          Res(131, "ornament 131", DemoPicture(Motif::kOrnament, kStone))}),
            Type("LigH", {Res(400, "daylight", Record(12).U16(0, 6500).U16(2, 80))}),
        });
}

std::vector<DemoFile> ContentFiles() {
    // A washed-out picture stands for the old content of each item.
    const auto faded = [](FixtureColour c) {
        return FixtureColour{uint8_t((c.red + 160) / 2), uint8_t((c.green + 160) / 2),
                             uint8_t((c.blue + 150) / 2)};
    };
    const Bytes oldFish = DemoPicture(Motif::kFish, faded(kBlue));
    return {
        // One of the two fish whose names the update sets exactly; its picture is
        // stored run-length encoded.
        {"zidiruvo-fish.rez",
         BuildResourceFile(File(
             1500, "SkFs",
             {Type("FsTI", {Res(10000, "zidiruvo", ItemInfo("zidiruvo", 10))}),
              Type("FiVe", {Res(10000, std::nullopt, Version(120))}),
              Type("FADP", {Res(10000, "zidiruvo", DemoPicture(Motif::kFish, kGold, true))}),
              Type("FBDP", {Res(10000, "zidiruvo", oldFish)}),
              Type("FAPC", {Res(10000, "old front", oldFish)}),
              Type("FBPC", {Res(10001, "old back", oldFish)}),
              Type("FshI", {Res(128, "adult", FishInfo("zidiruvo", 60)),
                            Res(129, "young", FishInfo("Zidiruvo fry", 20))}),
              Type("EggI", {Res(128, "egg", EggInfo("zidiruvo egg"))}),
              Type("FsTH", {Res(10000, "zidiruvo", FishHead(false, "zidiruvo", {"Shy."}))})}))},
        {"darter-fish-1100.rez",
         BuildResourceFile(File(
             1100, "SkFs",
             {Type("FsTI", {Res(12000, "Striped Darter", ItemInfo("Striped Darter", 11))}),
              Type("FiVe", {Res(12000, std::nullopt, Version(110))}),
              Type("FADP", {Res(12000, "Striped Darter", oldFish)}),
              Type("FBDP", {Res(12000, "Striped Darter", oldFish)}),
              Type("FAPC", {Res(12000, "old front", oldFish)}),
              Type("FBPC", {Res(12000, "old back", oldFish)}),
              Type("FshI", {Res(128, "adult", FishInfo("Striped Darter", 45))}),
              Type("EggI", {Res(128, "egg", EggInfo("Darter egg"))}),
              Type("FshH", {Res(128, "history", OldFishHistory("Striped Darter"))}),
              Type("FsTH", {Res(12000, "Striped Darter",
                                FishHead(true, "Striped Darter", {"Darts between stones."}))})}))},
        // An accessory whose name is in the ornament table.
        {"moai-accessory-1100.rez",
         BuildResourceFile(File(
             1100, "SkAc",
             {Type("AccI", {Res(128, "Moai Statue", ItemInfo("Moai Statue", 12))}),
              Type("AccH", {Res(128, "Moai Statue",
                                OldNameAndText("Moai Statue", "A stone head from a far island."))}),
              Type("ACDP", {Res(128, "Moai Statue", DemoPicture(Motif::kOrnament, faded(kStone)))}),
              Type("ACPC", {Res(128, "old", DemoPicture(Motif::kOrnament, faded(kStone)))})}))},
        {"kelp-plant-1000.rez",
         BuildResourceFile(File(
             1000, "SkPl",
             {Type("PlTI", {Res(128, "Tall Kelp", ItemInfo("Tall Kelp", 10))}),
              Type("PLDP", {Res(128, "Tall Kelp", DemoPicture(Motif::kPlant, faded(kGreen)))}),
              Type("PLPC", {Res(128, "old", DemoPicture(Motif::kPlant, faded(kGreen)))}),
              Type("PlTH", {Res(128, "Tall Kelp", OldListRecord("Tall Kelp", {"Grows fast."}))}),
              Type("PlPH",
                   {Res(128, "care", OldNameAndText("Tall Kelp", "Likes bright light."))})}))},
        {"flakes-food-1000.rez",
         BuildResourceFile(File(
             1000, "SkFd",
             {Type("Fd_I", {Res(128, "Flakes", ItemInfo("Flakes", 10))}),
              Type("FDDP", {Res(128, "Flakes", DemoPicture(Motif::kFood, faded(kAmber)))}),
              Type("FDPC", {Res(128, "old", DemoPicture(Motif::kFood, faded(kAmber)))}),
              Type("Fd_H", {Res(128, "Flakes", OldFoodHead("Flakes", "*Floats for a minute."))}),
              Type("FdHd", {Res(128, "feeding", OldNameAndText("Flakes", "*Twice a day."))})}))},
        {"tonic-medicine.rez",
         BuildResourceFile(
             File(1500, "SkDr",
                  {Type("DrgI", {Res(128, "Water Tonic", ItemInfo("Water Tonic", 10))}),
                   Type("DrVe", {Res(128, std::nullopt, Version(100))}),
                   Type("DRDP",
                        {Res(128, "Water Tonic", DemoPicture(Motif::kMedicine, faded(kViolet)))}),
                   Type("DrgH", {Res(128, "Water Tonic", MedicineHead(false, "Water Tonic"))})}))},
        {"night-lights-1100.rez",
         BuildResourceFile(File(
             1100, "SkMr",
             {Type("SmVe", {Res(128, std::nullopt, Version(100))}),
              Type("EvDP", {Res(128, "Night Lights", DemoPicture(Motif::kLights, kAmber))}),
              Type("Ligt", {Res(400, "lights", Record(8).U16(0, 3).U32(2, 4000))}),
              Type("SicI", {Res(128, "scene", Record(8).U16(0, 1).U16(2, 30).U16(4, 90))}),
              Type("SicH",
                   {Res(128, "scene", OldListRecord("Night", {"Moon rises.", "Lights dim."}))})}))},
        {"reef-aquarium.rez",
         BuildResourceFile(
             File(1500, "Skel",
                  {Type("SkVe", {Res(128, std::nullopt, Version(100))}),
                   Type("Watr", {Res(128, "reef water", Record(16).U16(0, 26).U16(2, 80))}),
                   Type("FsTI", {Res(13000, "Lantern Tetra", ItemInfo("Lantern Tetra", 10))}),
                   Type("FiVe", {Res(13000, std::nullopt, Version(100))}),
                   Type("FshI", {Res(128, "tetra", FishInfo("Lantern Tetra", 30))}),
                   Type("PlTI", {Res(128, "Tall Kelp", ItemInfo("Tall Kelp", 10))}),
                   Type("PLDP", {Res(128, "Tall Kelp", DemoPicture(Motif::kPlant, faded(kGreen)))}),
                   Type("AccI", {Res(128, "Bogwood", ItemInfo("Bogwood", 10))}),
                   Type("AccH", {Res(128, "Bogwood", NewNameAndText("Bogwood", "An old root."))}),
                   Type("ACDP", {Res(128, "Bogwood", DemoPicture(Motif::kOrnament, faded(kWood)))}),
                   Type("Ligt", {Res(400, "lights", Record(8).U16(0, 2).U32(2, 6000))})}))},
    };
}

}  // namespace

std::vector<DemoFile> DemoSet() {
    std::vector<DemoFile> set = {{kDemoSourceName, BuildResourceFile(UpdateSource())}};
    for (DemoFile &file : ContentFiles())
        set.push_back(std::move(file));
    return set;
}

int WriteDemoSet(const std::string &folder, std::string *error) {
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (code) {
        *error = "cannot make " + folder + ": " + code.message();
        return -1;
    }
    int written = 0;
    for (const DemoFile &file : DemoSet()) {
        const std::filesystem::path path = std::filesystem::path(folder) / file.name;
        if (std::filesystem::exists(path, code)) continue;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char *>(file.bytes.data()),
                  static_cast<std::streamsize>(file.bytes.size()));
        out.close();
        if (!out) {
            *error = "cannot write " + path.string() + ": " + std::strerror(errno);
            std::filesystem::remove(path, code);
            return -1;
        }
        ++written;
    }
    return written;
}
