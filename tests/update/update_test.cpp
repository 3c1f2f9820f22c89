// The update of a content file of every kind from one update source: the
// resources after the update, byte for byte, and the status messages.
#include "update/update_driver.h"

#include <gtest/gtest.h>

#include "common/resource_test.h"
#include "platform/platform.h"
#include "update/kind_updaters.h"
#include "update/status_message.h"

namespace {

const auto V = [](int16_t v) { return Bytes{uint8_t(v & 0xFF), uint8_t((v >> 8) & 0xFF)}; };
const auto Pic = [](int32_t width) { return Bitmap(width, 1, 8); };
// The record with name written over its start: the length byte and characters.
Bytes Over(Bytes record, const std::string &name) {
    const Bytes s = Str255Of(name);
    std::copy(s.begin(), s.end(), record.begin());
    return record;
}
const auto Named = [](const std::string &name, size_t size, uint8_t seed = 0) {
    return Over(Pattern(size, seed), name);
};
// What the update appends to every fish and egg record.
Bytes Extended(Bytes record) {
    Bytes extension(76);
    for (size_t at : {0, 38})
        std::copy_n("\4none", 5, extension.begin() + static_cast<std::ptrdiff_t>(at));
    record.insert(record.end(), extension.begin(), extension.end());
    return record;
}
FixtureType T(const char (&type)[5], std::vector<FixtureResource> resources) {
    return {FourCC(type), std::move(resources)};
}

FixtureFile Source() {
    return Described({
        T("ELRA", {Res(10200, "a0", Pattern(6, 1)), Res(10203, "a3", Pattern(6, 2)),
                   Res(10204, "a4", Pattern(6, 3))}),
        T("ELRB", {Res(10202, std::nullopt, Pattern(6, 4))}),
        T("FADP", {Res(10200, "newfa", Pic(2))}),
        T("FsTI", {Res(10200, "srcfish", Pattern(40, 5)), Res(10000, "zsrc", Pattern(40, 6))}),
        T("FsTH", {Res(10200, "srchead", Pattern(50, 7))}),
        T("PrF#", {Res(10200, "prf", Pattern(8, 8))}),
        T("PLDP", {Res(128, "pl", Pic(4))}),
        T("FDDP", {Res(128, "fd", Pic(5))}),
        T("DRDP", {Res(128, "dr", Pic(6))}),
        T("ACDP", {Res(128, "Shell", Pic(7)), Res(130, "jp", Pic(8))}),
        T("LigH", {Res(400, "light", Pattern(12, 9))}),
        T("SmVe", {Res(128, std::nullopt, V(150))}),
    });
}

struct Row {
    const char *what;
    const char *kind;
    FixtureFile content;
    std::optional<FixtureFile> expected;  // none: the file stays byte for byte as it was
    int result = 1;
    bool compacted = true;  // written back compacted by the update itself
};

std::vector<Row> Rows() {
    const Bytes longName = Named("Somebody Else Entirely", 388, 1), shortName = Named("x", 388, 2);
    const auto fish = [&](bool after) {
        std::vector<FixtureType> t = {
            T("FsTI",
              {after ? Res(10200, "DoduroDoruvi", Pattern(40, 5)) : Res(10200, "fish", Pattern(4)),
               Res(10300, "second", Pattern(4))}),
            T("FiVe", {Res(10200, std::nullopt, V(after ? 150 : -1))}),
            T("FBDP", {Res(10200, "fb", Pic(3))}),
            T("FAPC", {Res(10500, "kept", Pic(1))}),
            T("ELRA", {Res(10201, "e", Pattern(10))}),
            T("FshI",
              {Res(128, "first", after ? Extended(Over(longName, "DoduroDoruvi")) : longName),
               Res(129, std::nullopt,
                   after ? Extended(Over(shortName, "DoduroDoruvi")) : shortName)}),
            T("EggI", {Res(128, "egg", after ? Extended(Pattern(342)) : Pattern(342))}),
            T("FsTH", {Res(10200, after ? "DoduroDoruvi" : "head",
                           after ? Pattern(50, 7) : Pattern(600))})};
        if (!after) {
            t.push_back(T("FADP", {Res(10200, "fa", Pic(1))}));
            t.push_back(T("FBPC", {Res(10250, "gone", Pic(1))}));
            t[3].resources.push_back(Res(10200, "gone", Pic(1)));
            t[3].resources.push_back(Res(10399, "gone", Pic(1)));
            return Described(t);
        }
        t.push_back(T("FiVe", {Res(10300, std::nullopt, V(150))}));
        t.push_back(T("ELRA", {Res(10200, "a0", Pattern(6, 1)), Res(10203, "a3", Pattern(6, 2))}));
        t.push_back(T("ELRB", {Res(10202, std::nullopt, Pattern(6, 4))}));
        t.push_back(T("FADP", {Res(10200, "newfa", Pic(2))}));
        t.push_back(T("PrF#", {Res(10200, "prf", Pattern(8, 8))}));
        return Described(t);
    };
    const auto items = [](const char(&info)[5], const char(&picture)[5], const char(&version)[5],
                          const char *sourceName, int32_t sourceWidth) {
        FixtureFile before = Described({T(info, {Res(128, "i", {1}), Res(129, "j", {2})}),
                                        T(picture, {Res(128, "mine", Pic(1))})});
        FixtureFile after = before;
        after.types[1].resources[0] = Res(128, sourceName, Pic(sourceWidth));
        after.types.push_back(T(version, {Res(128, {}, V(150)), Res(129, {}, V(150))}));
        return Row{info, info == std::string("PlTI") ? "SkPl" : (info[0] == 'F' ? "SkFd" : "SkDr"),
                   before, after};
    };
    const auto aquarium = [&](bool withHead, bool after) {
        const Bytes zidiruvo = Named("zidiruvo", 388, 3), other = Named("Other", 388, 4);
        std::vector<FixtureType> t = {
            T("FsTI", {after ? Res(10000, withHead ? "ZidiRuvo" : "zsrc", Pattern(40, 6))
                             : Res(10000, "z", {3})}),
            T("FshI", {Res(128, "a", after ? Extended(Over(zidiruvo, "ZidiRuvo")) : zidiruvo),
                       Res(129, "b", after ? Extended(other) : other)}),
            T("PlTI", {Res(128, "p", {4})}),
            T("PLDP",
              {Res(128, after && withHead ? "pl" : "mine", Pic(after && withHead ? 4 : 1))}),
            T("Ligt", {Res(400, "l", Pattern(8))})};
        if (withHead) t.push_back(T("FsTH", {Res(10000, after ? "ZidiRuvo" : "zh", Pattern(20))}));
        if (!after) return Described(t);
        t.push_back(T("FiVe", {Res(10000, {}, V(150))}));
        if (!withHead) return Described(t);
        t[4].resources[0].data.resize(24);
        t.push_back(T("LigH", {Res(400, "light", Pattern(12, 9))}));
        t.push_back(T("SkVe", {Res(128, {}, V(150))}));
        return Described(t);
    };
    const auto accessories = [](bool after) {
        const Bytes shell = Named("Shell", 546), japanese = Named("Japanese Name Only", 546);
        FixtureFile file = Described({T("AccH", {Res(128, "s", shell), Res(129, "j", japanese),
                                                 Res(130, "n", Named("Nowhere", 546))}),
                                      T("ACDP", {Res(129, "o2", Pic(1)), Res(130, "o3", Pic(1))})});
        if (!after) return file;
        file.types[1].resources = {Res(128, "Shell", Pic(7)),
                                   Res(129, "Japanese Name Only", Pic(8)), Res(130, "o3", Pic(1))};
        file.types.push_back(
            T("AcVe", {Res(128, {}, V(150)), Res(129, {}, V(150)), Res(130, {}, V(150))}));
        return file;
    };
    FixtureFile deadBytes = Described({T("DATA", {Res(5, "keep", Pattern(9))})});
    deadBytes.deadData = Pattern(10);
    deadBytes.deadBytes = 10;
    // A special fish with one record, in a file of an older layout.
    FixtureFile old =
        Described({T("FsTI", {Res(10000, "f", {5})}), T("FshI", {Res(128, "f", Bytes(388))}),
                   T("FsTH", {Res(10000, "h", Bytes(582))})});
    old.layout = 1100;
    old.types[1].resources[0].data[261] = 0xEE;  // padding, which the conversion clears
    const FixtureFile converted = Described(
        {T("FsTI", {Res(10000, "ZidiRuvo", Pattern(40, 6))}),
         T("FshI", {Res(128, "f", Extended(Over(Bytes(388), "ZidiRuvo")))}),
         T("FsTH", {Res(10000, "ZidiRuvo", Bytes(582))}), T("FiVe", {Res(10000, {}, V(150))})});
    // A file version too short for its number is replaced.
    const FixtureFile light =
        Described({T("Ligt", {Res(400, "l", Pattern(8))}), T("SmVe", {Res(128, {}, {7})})});
    FixtureFile lit = light;
    lit.types[0].resources[0].data.resize(24);
    lit.types[1].resources[0].data = V(150);
    lit.types.push_back(T("LigH", {Res(400, "light", Pattern(12, 9))}));
    const FixtureFile dark = Described({light.types[1]}), darkAfter = Described({lit.types[1]});
    FixtureFile lowIds =
        Described({T("PlTI", {Res(100, "p", {6})}), T("PlVe", {Res(100, {}, V(150))})});
    lowIds.deadData = Pattern(4);
    lowIds.deadBytes = 4;
    return {
        {"fish", "SkFs", fish(false), fish(true)},
        {"old layout", "SkFs", old, converted},
        items("PlTI", "PLDP", "PlVe", "pl", 4),
        items("Fd_I", "FDDP", "FdVe", "fd", 5),
        items("DrgI", "DRDP", "DrVe", "dr", 6),
        {"ids below 128 have no version", "SkPl", lowIds, lowIds},
        {"accessories", "SkAc", accessories(false), accessories(true)},
        {"no accessories", "SkAc", deadBytes, Described({T("DATA", {Res(5, "keep", Pattern(9))})})},
        {"light", "SkMr", light, lit, 1, false},
        {"no light", "SkMr", dark, darkAfter, 1, false},
        {"version found in the source", "SkMr", Described({T("Ligt", {Res(400, "l", {7})})}),
         std::nullopt},
        {"aquarium", "Skel", aquarium(true, false), aquarium(true, true), 1, false},
        {"aquarium without the fish head", "Skel", aquarium(false, false), aquarium(false, true), 0,
         false},
        {"aquarium current", "Skel", Described({T("SkVe", {Res(128, {}, V(151))})}), std::nullopt},
        {"no updater", "SkGr", deadBytes, std::nullopt},
    };
}

class UpdateTest : public ResourceFileTest {
  public:
    // Opens the source and the content file as 0 and 1 and updates the content
    // file times times; its path.
    std::string Update(const Row &row, int times = 1) {
        Open(Write("Updater.rez", Source()));
        const std::string path = Write("content.rez", row.content);
        EXPECT_EQ(Open(path), 1);
        for (int i = 0; i < times; ++i) {
            EXPECT_EQ(UpdateContentFile(TypeCodes(row.kind)[0], path.c_str()), row.result)
                << row.what;
            EXPECT_EQ(CurrentResourceFile(), 1) << row.what;
        }
        return path;
    }
};

TEST_F(UpdateTest, BringsEveryKindToTheCurrentVersion) {
    for (const Row &row : Rows()) {
        const std::string path = Update(row);
        CloseAll();
        const Bytes bytes = ReadWholeFile(path);
        if (!row.expected) {
            EXPECT_EQ(bytes, BuildResourceFile(row.content)) << row.what;
            continue;
        }
        const FixtureFile file = Parse(bytes);
        EXPECT_EQ(FlatResources(file), FlatResources(*row.expected)) << row.what;
        EXPECT_EQ(file.conversionPending, 0) << row.what;
        EXPECT_TRUE(!row.compacted || (file.deadData.empty() && file.deadBytes == 0)) << row.what;
    }
}

// The version of the first fish keeps a second update from extending the records
// again; the fish pass itself does not look.
TEST_F(UpdateTest, ExtendsTheRecordsOnceThroughTheVersion) {
    const std::string path = Update(Rows()[0], 2);
    EXPECT_EQ(UpdateFish(1), 0);
    CloseAll();
    const FixtureFile file = Parse(ReadWholeFile(path));
    EXPECT_EQ(Find(file, FourCC("EggI"), 128)->data, Extended(Extended(Pattern(342))));
}

TEST(StatusMessageTest, ShowsCompletedAndUnnecessaryOnly) {
    TempDir temp;
    const std::string log = temp.File("messages.jsonl");
    ScopedEnvironment logTo("SKELMORA_MESSAGE_LOG", log.c_str());
    ScopedEnvironment answers("SKELMORA_MESSAGE_ANSWERS", "2");
    testing::internal::CaptureStderr();
    for (int16_t status : {128, 130, 131, 0})
        ShowStatusMessage(status);
    // "更新" in code page 932, a quote, a byte it lacks and a tab; no answers left: Cancel.
    EXPECT_EQ(PlatformMessageBox(&temp, "\x8D\x58\x90\x56\"\xFF\t", "SM Updater", 17), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Updater: Conversion completed\nUpdater: Conversion unnecessary\n"
              "SM Updater: 更新\"\uFFFD\t\n");
    const Bytes lines = ReadWholeFile(log);
    EXPECT_EQ(std::string(lines.begin(), lines.end()),
              "{\"event\":\"message\",\"caption\":\"Updater\",\"text\":\"Conversion completed\","
              "\"type\":64,\"owned\":false,\"answer\":2}\n"
              "{\"event\":\"message\",\"caption\":\"Updater\",\"text\":\"Conversion unnecessary\","
              "\"type\":64,\"owned\":false,\"answer\":1}\n"
              "{\"event\":\"message\",\"caption\":\"SM Updater\","
              "\"text\":\"更新\\\"\uFFFD\\u0009\",\"type\":17,\"owned\":true,\"answer\":2}\n");
}

}  // namespace
