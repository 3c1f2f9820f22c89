// Benchmarks of the whole road through the library's exports, each beside its
// floor measured in the same run: judging a content file beside one read of the
// file; updating a fish file beside one sequential copy of the file for every
// compaction the update makes; converting a layout-1100 file beside one copy;
// drawing a picture beside filling the device context's pixels once.
//
// sk_road_bench --memory prints the peak resident size of an update of the
// largest fish file instead.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "rezkit/rezkit.h"
#include "skupdater.h"

namespace {

using Bytes = std::vector<uint8_t>;

const std::string &Folder() {
    static const std::string folder = [] {
        char name[] = "/tmp/skroadXXXXXX";
        return std::string(mkdtemp(name));
    }();
    return folder;
}

void Put(const std::string &path, const Bytes &bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) std::abort();
    close(fd);
}

// An 8-bit picture of width x height whose colours run through the table.
Bytes Picture(int32_t width, int32_t height) {
    std::vector<FixtureColour> table(256);
    for (size_t i = 0; i < 256; ++i)
        table[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)};
    std::vector<uint32_t> pixels(size_t(width) * size_t(height));
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint32_t(i % 251);
    return BuildBitmapImage(width, height, 8, table, pixels);
}

constexpr int16_t kFirstFish = 128;

// The update source: new content for fish 128 on, and the default picture.
Bytes Source(int fish) {
    FixtureFile file;
    std::vector<FixtureResource> items, heads, pictures;
    for (int i = 0; i < fish; ++i) {
        const int16_t id = int16_t(kFirstFish + i);
        items.push_back({id, "new fish", Bytes(388, 0x41)});
        heads.push_back({id, "new head", Bytes(200, 0x42)});
        pictures.push_back({id, "new picture", Picture(64, 48)});
    }
    file.types = {{FourCC("FsTI"), items}, {FourCC("FsTH"), heads}, {FourCC("FADP"), pictures}};
    file.types.push_back({FourCC("PICT"), {{264, "default", Picture(64, 48)}}});
    return BuildResourceFile(file);
}

// A fish file of `fish` fish at version 1.4, each with its old and new
// pictures, padded with filler data to at least `bytes`.
Bytes FishFile(int fish, size_t bytes, int layout = 1500) {
    FixtureFile file;
    file.layout = layout;
    file.kind = FourCC("SkFs");
    std::vector<FixtureResource> items, versions, pictures, old;
    for (int i = 0; i < fish; ++i) {
        const int16_t id = int16_t(kFirstFish + i);
        items.push_back({id, "fish", Bytes(388, 0x30)});
        versions.push_back({id, std::nullopt, {140, 0}});
        pictures.push_back({id, "picture", Picture(64, 48)});
        old.push_back({id, "old picture", Picture(32, 24)});
    }
    file.types = {{FourCC("FsTI"), items},
                  {FourCC("FiVe"), versions},
                  {FourCC("FADP"), pictures},
                  {FourCC("FAPC"), old}};
    const size_t built = BuildResourceFile(file).size();
    if (built < bytes)
        file.types.push_back({FourCC("DATA"), {{1, "filler", Bytes(bytes - built)}}});
    return BuildResourceFile(file);
}

// Registers once with a source for up to 256 fish; every export after it runs
// on files of Folder().
void RegisterOnce() {
    static const bool registered = [] {
        const std::string source = Folder() + "/source";
        mkdir(source.c_str(), 0755);
        Put(source + "/Updater.rez", Source(256));
        setenv("HDPathForRez", source.c_str(), 1);
        setenv("TMPDIR", Folder().c_str(), 1);
        unsetenv("SKELMORA_MESSAGE_LOG");
        return Register(nullptr) == 1;
    }();
    if (!registered) std::abort();
}

// Counts the moves of finished files into place: one for every compaction.
class MoveCounter : public PlatformWrapper {
  public:
    MoveCounter() : PlatformWrapper(CurrentPlatform()), previous_(SetPlatform(this)) {}
    ~MoveCounter() override { SetPlatform(previous_); }
    bool FileMove(const char *from, const char *to) override {
        ++moves;
        return PlatformWrapper::FileMove(from, to);
    }
    int64_t moves = 0;

  private:
    Platform *previous_;
};

void Judge(benchmark::State &state) {
    RegisterOnce();
    const std::string path = Folder() + "/judge.rez";
    const Bytes image = FishFile(1, size_t(state.range(0)) << 10);
    Put(path, image);
    char verdict[64];
    for (auto _ : state) {
        Open(path.c_str());
        List(100, 0, verdict);
        Close();
    }
    state.counters["KiB"] = double(image.size()) / 1024;
}

// Floor of a judgement: reading the file once.
void ReadOnce(benchmark::State &state) {
    const std::string path = Folder() + "/read.rez";
    const Bytes image = FishFile(1, size_t(state.range(0)) << 10);
    Put(path, image);
    Bytes buffer(image.size());
    for (auto _ : state) {
        const int fd = open(path.c_str(), O_RDONLY);
        benchmark::DoNotOptimize(read(fd, buffer.data(), buffer.size()));
        close(fd);
    }
}

void UpdateFish(benchmark::State &state) {
    RegisterOnce();
    const std::string path = Folder() + "/fish.rez";
    const Bytes image = FishFile(int(state.range(0)), 0);
    int64_t compactions = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Put(path, image);
        state.ResumeTiming();
        MoveCounter counter;
        Open(path.c_str());
        if (Update() != 1) state.SkipWithError("the update failed");
        Close();
        compactions = counter.moves;
    }
    state.counters["KiB"] = double(image.size()) / 1024;
    state.counters["compactions"] = double(compactions);
}

// Floor of an update: one sequential copy of the file (times the compactions
// that UpdateFish reports).
void CopyOnce(benchmark::State &state) {
    const std::string from = Folder() + "/copy.rez", to = Folder() + "/copied.rez";
    const Bytes image = FishFile(int(state.range(0)), 0);
    Put(from, image);
    Bytes buffer(image.size());
    for (auto _ : state) {
        const int in = open(from.c_str(), O_RDONLY);
        const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        benchmark::DoNotOptimize(read(in, buffer.data(), buffer.size()));
        benchmark::DoNotOptimize(write(out, buffer.data(), buffer.size()));
        close(in);
        close(out);
    }
}

void ConvertLayout1100(benchmark::State &state) {
    RegisterOnce();
    const std::string path = Folder() + "/old.rez";
    const Bytes image = FishFile(int(state.range(0)), 0, 1100);
    for (auto _ : state) {
        state.PauseTiming();
        Put(path, image);
        state.ResumeTiming();
        Open(path.c_str());
        Close();
    }
    state.counters["KiB"] = double(image.size()) / 1024;
}

void DrawPicture(benchmark::State &state) {
    RegisterOnce();
    const std::string path = Folder() + "/picture.rez";
    FixtureFile file;
    file.kind = FourCC("SkFs");
    file.types = {{FourCC("FsTI"), {{128, "fish", Bytes(388)}}},
                  {FourCC("FiVe"), {{128, std::nullopt, {150, 0}}}},
                  {FourCC("FADP"), {{128, "big", Picture(640, 480)}}}};
    Put(path, BuildResourceFile(file));
    Open(path.c_str());
    void *dc = CreateMemoryDC(1280, 960, 0);
    for (auto _ : state)
        ListPicture(200, 0, dc);
    DeleteMemoryDC(dc);
    Close();
}

// Floor of drawing: writing every pixel of the device context once.
void FillPixels(benchmark::State &state) {
    std::vector<uint8_t> pixels(1280 * 960 * 3);
    for (auto _ : state) {
        std::memset(pixels.data(), int(state.iterations() & 0xFF), pixels.size());
        benchmark::DoNotOptimize(pixels.data());
    }
}

// The peak resident size of this process, in KiB.
long PeakKiB() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Runs in a fresh process (the file and the source already on disk), so that
// nothing else of the benchmark weighs in: registers, and with update set,
// updates the file. Prints the peak resident size.
int MeasureRun(const std::string &path, bool update) {
    const std::string folder = path.substr(0, path.rfind('/'));
    setenv("HDPathForRez", (folder + "/source").c_str(), 1);
    setenv("TMPDIR", folder.c_str(), 1);
    unsetenv("SKELMORA_MESSAGE_LOG");
    if (Register(nullptr) != 1) return 1;
    if (update) {
        Open(path.c_str());
        if (Update() != 1) return 1;
        Close();
    }
    UnRegister();
    std::printf("%ld\n", PeakKiB());
    return 0;
}

// The peak resident size of an update of the largest fish file beside that of
// registering alone, each in a process of its own.
int PeakMemory(const char *self) {
    RegisterOnce();
    UnRegister();
    const std::string path = Folder() + "/largest.rez";
    const Bytes image = FishFile(256, size_t(8) << 20);
    Put(path, image);
    const auto child = [&](const char *mode) {
        const std::string command = std::string(self) + " " + mode + " " + path;
        FILE *out = popen(command.c_str(), "r");
        long kib = -1;
        if (out == nullptr || std::fscanf(out, "%ld", &kib) != 1) kib = -1;
        if (out != nullptr) pclose(out);
        return kib;
    };
    const long registered = child("--register-only"), updated = child("--update");
    std::printf(
        "update of a %zu KiB fish file (256 fish): peak resident %ld KiB, registering "
        "alone %ld KiB: the update adds %ld KiB\n",
        image.size() >> 10, updated, registered, updated - registered);
    return updated < 0 || registered < 0 ? 1 : 0;
}

}  // namespace

BENCHMARK(Judge)->Arg(16)->Arg(1024)->Arg(8000)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadOnce)->Arg(16)->Arg(1024)->Arg(8000)->Unit(benchmark::kMillisecond);
BENCHMARK(UpdateFish)->Arg(1)->Arg(16)->Arg(64)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK(CopyOnce)->Arg(1)->Arg(16)->Arg(64)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK(ConvertLayout1100)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK(DrawPicture)->Unit(benchmark::kMillisecond);
BENCHMARK(FillPixels)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
    if (argc > 1 && std::strcmp(argv[1], "--memory") == 0) return PeakMemory(argv[0]);
    if (argc > 2 && std::strcmp(argv[1], "--register-only") == 0) return MeasureRun(argv[2], false);
    if (argc > 2 && std::strcmp(argv[1], "--update") == 0) return MeasureRun(argv[2], true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    UnRegister();
    return 0;
}
