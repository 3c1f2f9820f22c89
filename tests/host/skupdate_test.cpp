// skupdate run as a person runs it: a child process with its own temporary
// folder, update source and message log, on the demo set.
#include <png.h>
#include <sys/file.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "common/test_env.h"
#include "rezkit/rezkit.h"
#include "skupdate/change_report.h"
#include "skupdate/demo_set.h"

namespace {

namespace fs = std::filesystem;
using Snapshot = std::map<std::string, Bytes>;

// The distinct colours of a PNG file of width x height; empty when it does not decode as one.
std::set<uint32_t> PngColours(const std::string &path, uint32_t width, uint32_t height) {
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    std::set<uint32_t> colours;
    if (png_image_begin_read_from_file(&image, path.c_str()) && image.width == width &&
        image.height == height) {
        image.format = PNG_FORMAT_RGB;
        Bytes pixels(PNG_IMAGE_SIZE(image));
        if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
            for (size_t i = 0; i + 2 < pixels.size(); i += 3)
                colours.insert(uint32_t(pixels[i]) << 16 | pixels[i + 1] << 8 | pixels[i + 2]);
        }
    }
    png_image_free(&image);
    return colours;
}

// The indented lines behind the line that starts with head: the changes that
// a dry run tells for one file.
std::vector<std::string> ChangesTold(const std::string &out, const std::string &head) {
    std::istringstream in(out.substr(std::min(out.size(), out.find(head))));
    std::vector<std::string> lines;
    std::string line;
    std::getline(in, line);
    EXPECT_NE(line.find("-> would be updated"), std::string::npos) << line;
    while (std::getline(in, line) && line.rfind("    ", 0) == 0)
        lines.push_back(line.substr(4));
    return lines;
}

class SkupdateTest : public ::testing::Test {
  protected:
    ProgramRun Skupdate(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), SK_HOST_PROGRAM);
        return RunProgram(arguments, temp_.path());
    }
    // A fresh demo set in folder "set", not yet updated: the content files' paths.
    std::vector<std::string> WriteSet() {
        std::string error;
        EXPECT_EQ(WriteDemoSet(set_, &error), 9) << error;
        std::vector<std::string> files;
        for (const DemoFile &file : DemoSet())
            if (file.name != kDemoSourceName) files.push_back(set_ + "/" + file.name);
        return files;
    }
    static Snapshot Files(const std::string &folder) {
        Snapshot files;
        for (const auto &entry : fs::directory_iterator(folder))
            if (entry.is_regular_file())
                files[entry.path().filename()] = ReadWholeFile(entry.path());
        return files;
    }

    TempDir temp_;
    std::string set_ = temp_.File("set");
    ScopedEnvironment environment_[5] = {{"TMPDIR", temp_.path().c_str()},
                                         {"HDPathForRez", set_.c_str()},
                                         {"SKELMORA_MESSAGE_LOG", temp_.File("log").c_str()},
                                         {"PathForRez", nullptr},
                                         {"SKELMORA_DRIVES", nullptr}};
};

// The demo updates every file into a sound current one with a real preview; a
// second run changes no byte; the source is never written.
TEST_F(SkupdateTest, DemoUpdatesEveryFileAndASecondRunFindsThemCurrent) {
    const std::string previews = set_ + "/previews";
    ProgramRun run = Skupdate({"demo", set_});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("8 files: 8 updated, 0 already current, 0 failed"), std::string::npos);
    const Snapshot updated = Files(set_);
    EXPECT_EQ(updated.at(kDemoSourceName), DemoSet()[0].bytes);
    for (const auto &[name, bytes] : updated) {
        FixtureFile file;
        std::string why;
        EXPECT_TRUE(ParseResourceFile(bytes, &file, &why)) << name << ": " << why;
        EXPECT_EQ(file.layout, 1500) << name;
        EXPECT_EQ(file.conversionPending, 0) << name;
        if (name == kDemoSourceName) continue;
        EXPECT_GE(
            PngColours(previews + "/" + fs::path(name).stem().string() + ".png", 160, 120).size(),
            4u)
            << name;
    }
    run = Skupdate({"demo", set_});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("0 files written, 9 already there"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("8 files: 0 updated, 8 already current, 0 failed"), std::string::npos);
    EXPECT_EQ(Files(set_), updated);
    for (const std::string &name : ListFolder(temp_.path()))
        EXPECT_EQ(name.rfind("skupdate-", 0), std::string::npos) << "a private copy left behind";
}

// --check and --dry-run change no byte, the dry run telling what the real run
// changes; --backup keeps the files and never replaces an earlier backup.
TEST_F(SkupdateTest, CheckAndDryRunChangeNothingAndTellWhatTheUpdateDoes) {
    const std::vector<std::string> files = WriteSet();
    const Snapshot before = Files(set_);
    auto with = [&](std::vector<std::string> options) {
        options.insert(options.end(), files.begin(), files.end());
        return options;
    };
    ProgramRun check = Skupdate(with({"--check", "--preview", temp_.File("p"), "--size", "7x5"}));
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_NE(check.out.find("8 files: 8 need the update, 0 current, 0 failed"), std::string::npos);
    EXPECT_EQ(PngColours(temp_.File("p/reef-aquarium.png"), 7, 5).empty(), false);
    ProgramRun dry = Skupdate(with({"--dry-run"}));
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(Files(set_), before);

    const std::string backups = temp_.File("backups");
    ProgramRun real = Skupdate(with({"--backup", backups}));
    EXPECT_EQ(real.status, 0) << real.err;
    const Snapshot after = Files(set_);
    for (const std::string &path : files) {
        const std::string name = fs::path(path).filename();
        EXPECT_EQ(ReadWholeFile(backups + "/" + name), before.at(name)) << name;
        std::vector<std::string> changes;
        std::string error;
        ASSERT_TRUE(DescribeChanges(before.at(name), after.at(name), &changes, &error)) << error;
        EXPECT_GE(changes.size(), 2u) << name;
        EXPECT_EQ(ChangesTold(dry.out, path + ": "), changes) << name;
    }
    ProgramRun again = Skupdate(with({"--backup", backups}));
    EXPECT_NE(again.out.find("0 updated, 8 already current"), std::string::npos);
    EXPECT_EQ(Files(set_), after);
    for (const auto &[name, bytes] : after)
        if (name != kDemoSourceName) {
            EXPECT_EQ(ReadWholeFile(backups + "/" + name + ".1"), bytes);
        }
}

// Usage errors give 2 and a missing or locked update source 3, and neither touches a file.
TEST_F(SkupdateTest, UsageErrorsAndNoSourceGiveTheirStatus) {
    const std::string file = WriteSet()[0], empty = temp_.File("empty");
    const Bytes before = ReadWholeFile(file);
    fs::create_directory(empty);
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string says;
    } rows[] = {
        {{}, 2, "no file to work on"},
        {{"--bogus", file}, 2, "unknown option --bogus"},
        {{"--size", "12x0", file}, 2, "--size takes WxH"},
        {{"--size", "16385x1", file}, 2, "--size takes WxH"},
        {{"--size", "4x", file}, 2, "--size takes WxH"},
        {{"--preview"}, 2, "--preview needs a value"},
        {{"--check", "--dry-run", file}, 2, "cannot go together"},
        {{"--backup", empty, "--check", file}, 2, "--backup has nothing to copy"},
        {{"demo", "a", "b"}, 2, "at most one folder"},
        {{"--help"}, 0, "Usage: skupdate [options] FILE..."},
        {{"--version"}, 0, "skupdate 1.5"},
        {{"--source", empty, file}, 3, "no update source: there is no " + empty + "/Updater.rez"},
    };
    for (const auto &row : rows) {
        const ProgramRun run = Skupdate(row.arguments);
        EXPECT_EQ(run.status, row.status) << row.says;
        EXPECT_NE((run.out + run.err).find(row.says), std::string::npos) << run.out << run.err;
    }
    {
        ScopedEnvironment elsewhere("HDPathForRez", empty.c_str());
        EXPECT_EQ(Skupdate({file}).err,
                  "skupdate: no update source: there is no Updater.rez in " + empty + "\n");
    }
    const int lock =
        open(temp_.File("SKELMORA UPDATER APPLICATION.lock").c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    const ProgramRun locked = Skupdate({file});
    close(lock);
    EXPECT_EQ(locked.status, 3);
    EXPECT_NE(locked.err.find("another update is running"), std::string::npos) << locked.err;
    EXPECT_EQ(ReadWholeFile(file), before);
}

// Bad files are reported and left as they were, and the files behind them are
// still done; a backup that cannot be made stops the run before its file.
TEST_F(SkupdateTest, BadFilesAreReportedAndTheOthersStillDone) {
    const std::vector<std::string> files = WriteSet();
    Bytes damaged = ReadWholeFile(files[1]);
    damaged.resize(300);  // cut inside the data area: the map is gone
    WriteWholeFile(temp_.File("damaged.rez"), damaged);
    WriteWholeFile(temp_.File("text.rez"), Bytes(600, 'x'));
    fs::create_directory(temp_.File("folder.rez"));
    // A fish whose name the update sets, without the description it renames.
    FixtureFile fish;
    fish.kind = FourCC("SkFs");
    fish.types = {{FourCC("FsTI"), {{10200, "fish", Bytes(40, 1)}}},
                  {FourCC("FshI"), {{128, "a", Bytes(388, 2)}}}};
    WriteWholeFile(temp_.File("fish.rez"), BuildResourceFile(fish));
    const std::vector<std::string> bad = {temp_.File("missing.rez"), temp_.File("folder.rez"),
                                          temp_.File("damaged.rez"), temp_.File("text.rez")};
    const struct {
        const char *mode;
        std::string summary;
    } rows[] = {
        {"--check", "6 files: 2 need the update, 0 current, 4 failed"},
        {"--dry-run", "6 files: 1 would be updated, 0 already current, 5 failed"},
        {"--preview", "6 files: 1 updated, 0 already current, 5 failed"},
    };
    for (const auto &row : rows) {
        std::vector<std::string> arguments = {row.mode};
        if (row.mode == std::string("--preview")) arguments.push_back(temp_.File("p"));
        arguments.insert(arguments.end(), bad.begin(), bad.end());
        arguments.insert(arguments.end(), {temp_.File("fish.rez"), files[0]});
        const ProgramRun run = Skupdate(arguments);
        EXPECT_EQ(run.status, 1) << row.mode;
        for (const std::string &file : bad)
            EXPECT_NE(run.out.find(file + ": failed: "), std::string::npos) << file << run.out;
        EXPECT_NE(run.out.find(row.summary), std::string::npos) << run.out;
    }
    EXPECT_NE(Skupdate({files[0]}).out.find("already current"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(temp_.File("damaged.rez")), damaged);
    EXPECT_EQ(ReadWholeFile(temp_.File("text.rez")), Bytes(600, 'x'));

    const Bytes untouched = ReadWholeFile(files[2]);
    const ProgramRun stopped = Skupdate({"--backup", temp_.File("b"), bad[0], files[2]});
    EXPECT_EQ(stopped.status, 1);
    EXPECT_NE(stopped.out.find("the run stops here"), std::string::npos) << stopped.out;
    EXPECT_NE(stopped.out.find("2 files: 0 updated, 0 already current, 1 failed, 1 not done"),
              std::string::npos)
        << stopped.out;
    EXPECT_EQ(ReadWholeFile(files[2]), untouched);
}

}  // namespace
