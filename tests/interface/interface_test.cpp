// The library as a host sees it: the seven exports, finding the update source, the messages and
// cursors they show (from the message log, in UTF-8), and the files they leave.
#include <iconv.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "common/resource_test.h"
#include "interface/update_source.h"
#include "interface/update_state.h"
#include "skupdater.h"
#include "support/memory_pool.h"

namespace {

// Colours that the picture palette holds exactly.
constexpr uint32_t kRed = 0xFF0033, kGreen = 0x00FF33, kBlue = 0x0000CC, kGrey = 0x808080;

Bytes Solid(uint32_t rgb) {
    std::vector<FixtureColour> table(256);
    table[0] = {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)};
    return BuildBitmapImage(4, 4, 8, table, std::vector<uint32_t>(16, 0));
}
Bytes Version(int16_t v) {
    return {uint8_t(v & 0xFF), uint8_t((v >> 8) & 0xFF)};
}

// A row of the kind table as the product describes it.
struct Kind {
    const char *kind, *version, *info, *picture;
};
constexpr Kind kKinds[] = {
    {"SkMr", "SmVe", "SmVe", nullptr}, {"Skel", "SkVe", "SkVe", nullptr},
    {"SkFs", "FiVe", "FsTI", "FADP"},  {"SkPl", "PlVe", "PlTI", "PLDP"},
    {"SkAc", "AcVe", "AccI", "ACDP"},  {"SkFd", "FdVe", "Fd_I", "FDDP"},
    {"SkDr", "DrVe", "DrgI", "DRDP"},
};
uint32_t Code(const char *text) {
    return FourCC(*reinterpret_cast<const char(*)[5]>(text));
}

// A content file of a kind whose first item (id 128) is at version; the item's picture is red.
FixtureFile Content(const Kind &k, int16_t version) {
    FixtureFile file;
    file.kind = Code(k.kind);
    file.types.push_back({Code(k.version), {Res(128, std::nullopt, Version(version))}});
    if (std::strcmp(k.info, k.version) != 0)
        file.types.push_back({Code(k.info), {Res(128, "item", Pattern(40))}});
    if (k.picture != nullptr)
        file.types.push_back({Code(k.picture), {Res(128, "pic", Solid(kRed))}});
    return file;
}

// The update source: the new fish picture is green, the default picture blue.
FixtureFile Source(bool withDefaultPicture = true) {
    FixtureFile file = Described({{kFADP, {Res(128, "new", Solid(kGreen))}}});
    if (withDefaultPicture) file.types.push_back({kPICT, {Res(264, "default", Solid(kBlue))}});
    return file;
}

std::string Utf8(const std::string &cp932) {
    iconv_t convert = iconv_open("UTF-8", "CP932");
    char out[256] = {};
    char *in = const_cast<char *>(cp932.data()), *to = out;
    size_t inLeft = cp932.size(), toLeft = sizeof out - 1;
    iconv(convert, &in, &inLeft, &to, &toLeft);
    iconv_close(convert);
    return out;
}

std::string Message(const std::string &caption, const std::string &text, int type,
                    bool owned = false, int answer = 1) {
    return "{\"event\":\"message\",\"caption\":\"" + caption + "\",\"text\":\"" + text +
           "\",\"type\":" + std::to_string(type) + ",\"owned\":" + (owned ? "true" : "false") +
           ",\"answer\":" + std::to_string(answer) + "}";
}
std::string Cursor(int id) {
    return "{\"event\":\"cursor\",\"id\":" + std::to_string(id) + "}";
}
const std::string kFinished = Message("SM Updater", "アップデートが終了しました", 0);
const std::string kInsert = Message("SM Updater", "SKELMORA1.5のCDを入れてください", 1, true);
const std::string kWrongCd = Message("SM Updater", "これは正しいCDではありません", 0, true);

// Each test has its own folder, lock, message log and registry values; it ends unregistered.
class InterfaceTest : public ::testing::Test {
  protected:
    void TearDown() override { UnRegister(); }

    std::string Write(const std::string &name, const FixtureFile &file) {
        const std::string path = temp_.File(name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        WriteWholeFile(path, BuildResourceFile(file));
        return path;
    }
    // The log's lines since the last call.
    std::vector<std::string> Events() {
        std::vector<std::string> lines;
        std::ifstream in(log_);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        std::filesystem::remove(log_);
        return lines;
    }
    std::string ListText(int32_t code, int32_t expected = 1) {
        char buffer[64] = "untouched";
        EXPECT_EQ(List(code, 0, buffer), expected) << code;
        return buffer;
    }
    // ListPicture into an 8 x 8 device context: the result and the colour drawn.
    std::pair<int32_t, uint32_t> Picture(int32_t code = 200, uint32_t flags = 0) {
        void *dc = CreateMemoryDC(8, 8, flags);
        const int32_t result = ListPicture(code, 0, dc);
        const uint8_t *p = MemoryDCPixels(dc);
        const uint32_t colour = uint32_t(p[189]) << 16 | uint32_t(p[190]) << 8 | p[191];
        DeleteMemoryDC(dc);
        return {result, colour};
    }

    TempDir temp_;
    std::string log_ = temp_.File("messages.log");
    ScopedEnvironment environment_[6] = {
        {"TMPDIR", temp_.path().c_str()},       {"SKELMORA_MESSAGE_LOG", log_.c_str()},
        {"HDPathForRez", temp_.path().c_str()}, {"PathForRez", nullptr},
        {"SKELMORA_DRIVES", nullptr},           {"SKELMORA_MESSAGE_ANSWERS", nullptr}};
};

TEST_F(InterfaceTest, EveryKindIsJudgedByItsVersionAndShowsItsPicture) {
    Write("Updater.rez", Source());
    ASSERT_EQ(Register(nullptr), 1);
    for (const Kind &k : kKinds) {
        for (int16_t version : {149, 150}) {
            SCOPED_TRACE(std::string(k.kind) + " at " + std::to_string(version));
            const bool current = version == 150;
            ASSERT_EQ(Open(Write(std::string(k.kind) + ".rez", Content(k, version)).c_str()), 1);
            EXPECT_EQ(Utf8(ListText(100)),
                      current ? "アップデートの必要なし" : "アップデートの必要あり");
            EXPECT_EQ(ListText(300), current ? "NO" : "YES");
            EXPECT_EQ(ListText(200, k.picture != nullptr), "untouched");
            EXPECT_EQ(Picture(), std::make_pair(1, k.picture != nullptr ? kRed : kBlue));
            if (current) {
                EXPECT_EQ(Update(), 0);
            }
            EXPECT_EQ(Close(), 1);
            EXPECT_EQ(ListText(100), "");
        }
    }
    EXPECT_EQ(Events(), std::vector<std::string>());
}

TEST_F(InterfaceTest, OpenRefusesWhatItCannotJudge) {
    Write("Updater.rez", Source(false));
    ASSERT_EQ(Register(nullptr), 1);
    EXPECT_EQ(ListText(100), "");
    EXPECT_EQ(ListText(300), "YES");
    EXPECT_EQ(ListText(7, 7), "untouched");
    EXPECT_EQ(Picture(), std::make_pair(1, kGrey));
    EXPECT_EQ(Picture(100), std::make_pair(0, 0u));
    EXPECT_EQ(Picture(200, MEMORY_DC_NO_WINDOW).first, 0);

    FixtureFile unknown = Content(kKinds[2], 100);
    unknown.kind = Code("XXXX");
    WriteWholeFile(temp_.File("text.rez"), Text("not a resource file"));
    // An aquarium whose own version is old but whose first fish is current: an
    // aquarium update that stopped half way is judged by the fish.
    FixtureFile halfway = Content(kKinds[1], 100);
    for (const FixtureType &t : Content(kKinds[2], 150).types)
        halfway.types.push_back(t);
    // Paths of 255 characters and of 256, which no length byte can hold.
    const auto padded = [&](size_t length) {
        return std::string(length - temp_.path().size() - 5, 'n') + ".rez";
    };
    const struct {
        std::string path;
        int32_t result;
        std::string verdict, needs, message;
    } rows[] = {
        {Write(padded(255), Content(kKinds[0], 150)), 1, "アップデートの必要なし", "NO", ""},
        {Write(padded(256), Content(kKinds[0], 150)), 0, "", "YES",
         Message("SM Updater", "ﾘｿｰｽﾌｧｲﾙが開けません。そのﾌｧｲﾙはﾘｿｰｽとして認識できませんでした。",
                 16)},
        {temp_.File("missing.rez"), 0, "", "YES",
         Message("SM Updater",
                 "このファイルは書き込み禁止に設定されています。ファイルを更新できませんでした。",
                 16)},
        {temp_.File("text.rez"), 0, "", "YES",
         Message("SM Updater", "ﾘｿｰｽﾌｧｲﾙが開けません。そのﾌｧｲﾙはﾘｿｰｽとして認識できませんでした。",
                 16)},
        {Write("unknown.rez", unknown), 0, "アップデートの必要あり", "YES", ""},
        {Write("halfway.rez", halfway), 1, "アップデートの必要なし", "NO", ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(Open(row.path.c_str()), row.result);
        EXPECT_EQ(Utf8(ListText(100)), row.verdict);
        EXPECT_EQ(ListText(300), row.needs);
        EXPECT_EQ(Update(), 0);
        EXPECT_EQ(Events(), row.message.empty() ? std::vector<std::string>()
                                                : std::vector<std::string>{row.message});
    }
    EXPECT_EQ(Close(), 1);
    EXPECT_EQ(ChainNumbers(), std::vector<uint16_t>{0});
}

TEST_F(InterfaceTest, UpdateShowsItsProgressAndPicturesStayLive) {
    Write("Updater.rez", Source());
    const std::string fish = Write("fish.rez", Content(kKinds[2], 100));
    const std::string second = Write("second.rez", Content(kKinds[2], 100));
    const Bytes secondBefore = ReadWholeFile(second);
    EXPECT_EQ(Open(fish.c_str()), 0);  // not registered yet
    ASSERT_EQ(Register(nullptr), 1);
    ASSERT_EQ(Open(second.c_str()), 1);  // left open: the next Open closes it
    ASSERT_EQ(Open(fish.c_str()), 1);
    EXPECT_EQ(Picture(), std::make_pair(1, kRed));
    EXPECT_EQ(Update(), 1);
    EXPECT_EQ(Picture(), std::make_pair(1, kGreen));  // the update replaced Open's picture
    EXPECT_EQ(Update(), 1);
    EXPECT_EQ(Events(), (std::vector<std::string>{Cursor(32514), kFinished, Cursor(32512),
                                                  Cursor(32514), kFinished, Cursor(32512)}));
    EXPECT_EQ(Close(), 1);
    const FixtureFile after = Parse(ReadWholeFile(fish));
    EXPECT_EQ(Find(after, Code("FiVe"), 128)->data, Version(150));
    EXPECT_EQ(Find(after, kFADP, 128)->data, Solid(kGreen));

    EXPECT_EQ(ReadWholeFile(second), secondBefore);
    // A finished update leaves nothing loaded once closed (the source's map stays).
    const uint32_t before = MemoryPoolBlockCount();
    ASSERT_EQ(Open(Write("third.rez", Content(kKinds[2], 100)).c_str()), 1);
    EXPECT_EQ(Update(), 1);
    EXPECT_EQ(Close(), 1);
    EXPECT_EQ(MemoryPoolBlockCount(), before);
    EXPECT_EQ(Events().size(), 3u);  // as for the fish above

    // A failed update says so and puts the file back (failing at once it keeps
    // no copy and does not start); what it loaded goes when the file is closed.
    for (uint32_t n : {1, 12}) {
        const uint32_t blocks = MemoryPoolBlockCount();
        ASSERT_EQ(Open(second.c_str()), 1);
        MemoryPoolFailNth(n, true);
        EXPECT_EQ(Update(), 0);
        MemoryPoolFailNth(0);
        EXPECT_EQ(Events(), (std::vector<std::string>{
                                Cursor(32514), Cursor(32512),
                                Message("SM Updater", "コンバートできませんでした。", 16)}));
        EXPECT_EQ(Picture().first, 1);
        EXPECT_EQ(Close(), 1);
        EXPECT_LE(MemoryPoolBlockCount(), blocks) << n;
        EXPECT_EQ(ReadWholeFile(second), secondBefore) << n;
        EXPECT_EQ(ListFolder(temp_.path()).size(), 5u) << "no copy left beside the file";
    }
}

TEST_F(InterfaceTest, RegistrationIsOneAtATime) {
    EXPECT_EQ(Register(nullptr), 0);  // no source anywhere: nothing shown
    Write("Updater.rez", Source());
    EXPECT_EQ(Register(nullptr), 0);  // the failed registration holds the lock
    UnRegister();
    EXPECT_EQ(Register(nullptr), 1);
    EXPECT_EQ(Register(nullptr), 0);
    char text[kPathSize] = "";
    EXPECT_EQ(DoCommand(kCommandPath, kCopySourcePath, 0, text, nullptr), 1);
    EXPECT_EQ(std::string(text), temp_.path() + "\\Updater.rez");
    std::string longest(kPathSize, 'x');  // kept cut to the buffer, its zero included
    DoCommand(kCommandPath, kStoreSourcePath, 0, longest.data(), nullptr);
    DoCommand(kCommandPath, kCopySourcePath, 0, text, nullptr);
    EXPECT_EQ(std::string(text), longest.substr(1));
    Handle picture = nullptr;
    for (auto [command, subCode] : {std::pair{0, 5}, {3, 7}, {4, 100}, {6, 0}})
        EXPECT_EQ(DoCommand(command, subCode, 0, text, &picture), 0) << command << subCode;
    EXPECT_EQ(picture, nullptr);
    UnRegister();
    // The lock is given back once: a second UnRegister closes nothing of others.
    const FileHandle other =
        PlatformFileOpen(temp_.File("Updater.rez").c_str(), kGenericRead, kOpenExisting);
    UnRegister();
    EXPECT_NE(PlatformFileSize(other), kPlatformFailure);
    PlatformFileClose(other);
    WriteWholeFile(temp_.File("Updater.rez"), Text("damaged"));
    EXPECT_EQ(Register(nullptr), 0);
    EXPECT_EQ(
        Events(),
        (std::vector<std::string>{
            Message("Please insert CD then click OK", "", 0),
            Message("SM Updater",
                    "「Updater.rez」ファイルを開けませんでした。アプリケーションを終了します。",
                    16)}));
}

// Makes the files that a step names appear before the n-th message box, as a
// user putting a disc in the drive would; can hide drives from the drive mask.
class DiscChanger : public FaultPlatform {
  public:
    int32_t ShowMessageBox(void *owner, const char *text, const char *caption,
                           uint32_t type) override {
        if (boxes_ < steps.size() && steps[boxes_]) steps[boxes_]();
        ++boxes_;
        return FaultPlatform::ShowMessageBox(owner, text, caption, type);
    }
    uint32_t LogicalDrives() override { return FaultPlatform::LogicalDrives() & ~hidden; }
    std::vector<std::function<void()>> steps;
    uint32_t hidden = 0;

  private:
    size_t boxes_ = 0;
};

std::ptrdiff_t OpenDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

TEST_F(InterfaceTest, TheSourceIsFoundOnDiskOrOnTheCd) {
    const std::string t = temp_.path();
    const auto place = [&](const std::string &folder) { Write(folder + "/Updater.rez", Source()); };
    const auto onCd = [&](const std::string &drive) { place(drive + "/Utility/Updater"); };
    const std::string drives = "e=cdrom=" + t + "/e;d=fixed=" + t + "/d;G=cdrom=" + t + "/g";
    const std::string onE = "e:\\Utility\\Updater\\Updater.rez";
    const std::string cancel = Message("SM Updater", "SKELMORA1.5のCDを入れてください", 1, true, 2);
    const std::string a = t + "/a", noDrives = "d=fixed=" + t + "/d";
    const struct {
        const char *what;
        std::string hardDisk, cd, drives, answers;
        std::vector<std::string> folders;  // "x/": a folder without the source
        int32_t result;
        std::string path;
        std::vector<std::string> events;
        std::vector<std::function<void()>> steps = {};
        uint32_t hidden = 0;
    } rows[] = {
        // clang-format off
        {"second folder", a + ";" + t + "/b", "", "", "", {"b"}, 1, t + "/b\\Updater.rez", {}},
        {"disk before cd", a, "e:\\x", drives, "", {"a", "e/Utility/Updater"}, 1, a + "\\Updater.rez", {}},
        {"cd of the value", "", "G:\\Skelmora\\x", drives, "", {"e/Utility/Updater", "g/Utility/Updater"}, 1,
         "G:\\Utility\\Updater\\Updater.rez", {}},
        {"value on no cd", a, "d:\\x", drives, "", {"g/Utility/Updater", "e/Utility/Updater", "d/Utility/Updater"},
         1, onE, {}},
        {"cd hidden from the mask", "", "", drives, "", {"e/Utility/Updater", "g/Utility/Updater"}, 1,
         "g:\\Utility\\Updater\\Updater.rez", {}, {}, 1u << 4},
        {"value without drive", "", "x", drives, "", {"e/Utility/Updater"}, 1, onE, {}},
        {"nothing anywhere", a, "", noDrives, "", {"d/Utility/Updater"}, 0, "", {}},
        {"cancelled", "", "", drives, "", {"g/Utility/Updater"}, 0, "", {cancel}},
        {"no disc, then cancel", "", "", drives, "1,2", {}, 0, "", {kInsert, cancel}},
        {"wrong disc, then the right one", "", "", drives, "1,1,1", {"e/"}, 1, onE, {kInsert, kWrongCd, kInsert},
         {nullptr, nullptr, [&] { onCd("e"); }}},
        // clang-format on
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        std::filesystem::remove_all(a);
        for (const char *folder : {"b", "d", "e", "f", "g"})
            std::filesystem::remove_all(t + "/" + folder);
        for (const std::string &folder : row.folders) {
            if (folder.back() == '/')  // a folder without the source
                std::filesystem::create_directories(t + "/" + folder);
            else
                place(folder);
        }
        ScopedEnvironment values[] = {{"HDPathForRez", row.hardDisk.c_str()},
                                      {"PathForRez", row.cd.c_str()},
                                      {"SKELMORA_DRIVES", row.drives.c_str()},
                                      {"SKELMORA_MESSAGE_ANSWERS", row.answers.c_str()}};
        DiscChanger changer;
        changer.steps = row.steps;
        changer.hidden = row.hidden;
        char path[kPathSize] = "";
        const auto descriptors = OpenDescriptors();
        EXPECT_EQ(LocateUpdateSource(reinterpret_cast<void *>(1), path), row.result);
        EXPECT_EQ(std::string(path), row.path);
        EXPECT_EQ(Events(), row.events);
        EXPECT_EQ(OpenDescriptors(), descriptors) << "every file found was closed again";
    }
}

}  // namespace
