// Benchmarks of the Resource Manager beside the floors of the I/O they must do,
// measured in the same run: reading a file whole, copying it, and the reads and
// writes that single-resource writes cannot avoid. Test files are laid down by
// the format kit, independently of the library's own writer.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "resources/handles.h"
#include "resources/resource_manager.h"
#include "rezkit/rezkit.h"
#include "support/memory_pool.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kType = FourCC("FsTI");

std::string Folder() {
    static std::string folder = [] {
        char name[] = "/tmp/skbenchXXXXXX";
        return std::string(mkdtemp(name));
    }();
    return folder;
}

// A file of `count` resources of one type holding `megabytes` of data, each
// with a short name, in the given layout. Every block begins within the reach
// of a 24-bit data offset: beyond 8 MB the last resource takes the rest.
const Bytes &Image(int64_t count, int64_t megabytes, int layout = 1500) {
    static std::map<std::tuple<int64_t, int64_t, int>, Bytes> images;
    Bytes &image = images[{count, megabytes, layout}];
    if (image.empty()) {
        FixtureFile file;
        file.layout = layout;
        FixtureType type{kType, {}};
        const size_t total = static_cast<size_t>(megabytes << 20);
        const size_t size = std::min<size_t>(total, 8 << 20) / static_cast<size_t>(count) - 4;
        for (int64_t i = 0; i < count; ++i) {
            FixtureResource resource;
            resource.id = static_cast<int16_t>(i + 1);
            resource.name = "r" + std::to_string(i);
            const size_t last = total - static_cast<size_t>(count - 1) * (size + 4) - 4;
            resource.data.assign(i + 1 == count ? last : size, static_cast<uint8_t>(i));
            type.resources.push_back(std::move(resource));
        }
        file.types.push_back(std::move(type));
        image = BuildResourceFile(file);
    }
    return image;
}

void Put(const std::string &path, const Bytes &bytes) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        abort();
    }
    close(fd);
}

Bytes Str255(const std::string &text) {
    Bytes out(1 + text.size());
    out[0] = static_cast<uint8_t>(text.size());
    std::memcpy(out.data() + 1, text.data(), text.size());
    return out;
}

// A Resource Manager on a fresh pool for one benchmark.
struct Session {
    Session() {
        MemoryPoolCreate(32768);
        StartResourceManager();
    }
    ~Session() {
        StopResourceManager();
        MemoryPoolDestroy();
    }
};

uint16_t Open(const std::string &path) {
    return OpenResourceFile(Str255(path).data());
}

// Puts a fresh copy of image at path, outside the measured time.
void Fresh(benchmark::State &state, const std::string &path, const Bytes &image) {
    state.PauseTiming();
    Put(path, image);
    state.ResumeTiming();
}

void Label(benchmark::State &state, int64_t bytes) {
    state.counters["MB"] = static_cast<double>(bytes) / (1 << 20);
}

// Open, load every resource, close.
void LoadAll(benchmark::State &state) {
    Session session;
    const std::string path = Folder() + "/load.rez";
    Put(path, Image(state.range(0), state.range(1)));
    std::vector<Handle> loaded;
    for (auto _ : state) {
        uint16_t file = Open(path);
        for (int16_t i = 1; i <= state.range(0); ++i)
            loaded.push_back(GetIndexedResource(kType, i));
        CloseResourceFile(file);
        // The Handles are the caller's after the close.
        state.PauseTiming();
        for (Handle h : loaded)
            DisposeHandle(h);
        loaded.clear();
        state.ResumeTiming();
    }
    Label(state, static_cast<int64_t>(Image(state.range(0), state.range(1)).size()));
}

// Floor: reading the whole file.
void ReadFile(benchmark::State &state) {
    const std::string path = Folder() + "/read.rez";
    const Bytes &image = Image(state.range(0), state.range(1));
    Put(path, image);
    Bytes buffer(image.size());
    for (auto _ : state) {
        int fd = open(path.c_str(), O_RDONLY);
        benchmark::DoNotOptimize(read(fd, buffer.data(), buffer.size()));
        close(fd);
    }
}

// Get, mark and write every resource at its own size.
void SameSizeWrites(benchmark::State &state) {
    Session session;
    const std::string path = Folder() + "/write.rez";
    for (auto _ : state) {
        Fresh(state, path, Image(state.range(0), state.range(1)));
        uint16_t file = Open(path);
        for (int16_t i = 1; i <= state.range(0); ++i) {
            Handle h = GetIndexedResource(kType, i);
            **h ^= 1;
            MarkResourceChanged(h);
            WriteResource(h);
            DisposeHandle(h);  // a write in place lets go of every Handle
        }
        CloseResourceFile(file);
    }
}

// Floor: for each write, reading the stored map, then writing the data, the
// header and the map once.
void SameSizeWritesFloor(benchmark::State &state) {
    const std::string path = Folder() + "/floor.rez";
    const Bytes &image = Image(state.range(0), state.range(1));
    uint32_t dataLength, mapOffset, mapLength;
    std::memcpy(&mapOffset, &image[4], 4);
    std::memcpy(&dataLength, &image[8], 4);
    std::memcpy(&mapLength, &image[12], 4);
    const size_t block = dataLength / static_cast<size_t>(state.range(0));
    Bytes map(mapLength), data(block);
    for (auto _ : state) {
        Fresh(state, path, image);
        for (int64_t i = 0; i < state.range(0); ++i) {
            int fd = open(path.c_str(), O_RDWR);
            benchmark::DoNotOptimize(pread(fd, map.data(), mapLength, mapOffset));
            benchmark::DoNotOptimize(pwrite(fd, data.data(), block, 256 + i * block));
            benchmark::DoNotOptimize(pwrite(fd, map.data(), 16, 0));
            benchmark::DoNotOptimize(pwrite(fd, map.data(), mapLength, mapOffset));
            close(fd);
        }
    }
}

// Every resource grown by one byte and written: each goes behind the data area.
void GrowingWrites(benchmark::State &state) {
    Session session;
    const std::string path = Folder() + "/grow.rez";
    for (auto _ : state) {
        Fresh(state, path, Image(state.range(0), state.range(1)));
        uint16_t file = Open(path);
        for (int16_t i = 1; i <= state.range(0); ++i) {
            Handle h = GetIndexedResource(kType, i), more = NewHandle(1);
            AppendHandle(more, h);
            DisposeHandle(more);
            MarkResourceChanged(h);
            WriteResource(h);
        }
        CloseResourceFile(file);
    }
}

// AddResource of new 100-byte resources to an empty file, then the write-back.
void AddAll(benchmark::State &state) {
    Session session;
    const std::string path = Folder() + "/add.rez";
    for (auto _ : state) {
        Fresh(state, path, BuildResourceFile(FixtureFile{}));
        uint16_t file = Open(path);
        for (int16_t i = 1; i <= state.range(0); ++i) {
            Handle h = NewHandle(100);
            AddResource(h, kType, i, Str255("r" + std::to_string(i)).data());
        }
        CloseResourceFile(file);
    }
}

// RemoveResource of every resource, then the write-back.
void RemoveAll(benchmark::State &state) {
    Session session;
    const std::string path = Folder() + "/remove.rez";
    for (auto _ : state) {
        Fresh(state, path, Image(state.range(0), state.range(1)));
        uint16_t file = Open(path);
        for (int64_t i = 0; i < state.range(0); ++i) {
            Handle h = GetIndexedResource(kType, 1);
            RemoveResource(h);
            DisposeHandle(h);
        }
        CloseResourceFile(file);
    }
}

// A forced compaction of the whole file.
void Compaction(benchmark::State &state) {
    Session session;
    const std::string path = Folder() + "/compact.rez";
    for (auto _ : state) {
        Fresh(state, path, Image(state.range(0), state.range(1)));
        uint16_t file = Open(path);
        SetResourceCompaction(3);
        UpdateResourceFile(file);
        CloseResourceFile(file);
    }
}

// Opening (and so converting) a file of an older layout, and closing it.
void Conversion(benchmark::State &state) {
    Session session;
    const std::string path = Folder() + "/convert.rez";
    const Bytes &image = Image(state.range(0), state.range(1), static_cast<int>(state.range(2)));
    for (auto _ : state) {
        Fresh(state, path, image);
        CloseResourceFile(Open(path));
    }
}

// Floor: copying the file into a new one. With a third argument of 1 the
// original, written just before like the file a compaction starts from, is
// deleted after the copy, as a compaction deletes the file it replaces.
void CopyFile(benchmark::State &state) {
    const std::string from = Folder() + "/copy.rez", to = Folder() + "/copied.rez";
    const Bytes &image = Image(state.range(0), state.range(1));
    const bool deleting = state.range(2) != 0;
    Put(from, image);
    Bytes buffer(image.size());
    for (auto _ : state) {
        state.PauseTiming();
        unlink(to.c_str());
        if (deleting) Put(from, image);
        state.ResumeTiming();
        int in = open(from.c_str(), O_RDONLY), out = open(to.c_str(), O_WRONLY | O_CREAT, 0644);
        benchmark::DoNotOptimize(read(in, buffer.data(), buffer.size()));
        benchmark::DoNotOptimize(write(out, buffer.data(), buffer.size()));
        close(in);
        close(out);
        if (deleting) unlink(from.c_str());
    }
}

void Sizes(benchmark::internal::Benchmark *b) {
    for (auto [count, megabytes] : {std::pair{100, 1},
                                    {100, 8},
                                    {500, 8},
                                    {1000, 8},
                                    {2000, 8},
                                    {5000, 8},
                                    {1000, 15},
                                    {5000, 15}})
        b->Args({count, megabytes});
}

void WriteSizes(benchmark::internal::Benchmark *b) {
    for (int count : {500, 1000, 2000, 5000})
        b->Args({count, 8});
}

}  // namespace

BENCHMARK(LoadAll)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadFile)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(SameSizeWrites)->Apply(WriteSizes)->Unit(benchmark::kMillisecond);
BENCHMARK(SameSizeWritesFloor)->Apply(WriteSizes)->Unit(benchmark::kMillisecond);
BENCHMARK(GrowingWrites)->Args({1000, 8})->Args({5000, 8})->Unit(benchmark::kMillisecond);
BENCHMARK(AddAll)->Arg(500)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);
BENCHMARK(RemoveAll)->Args({1000, 8})->Args({5000, 8})->Unit(benchmark::kMillisecond);
BENCHMARK(Compaction)->Args({5000, 15})->Unit(benchmark::kMillisecond);
BENCHMARK(Conversion)
    ->Args({5000, 15, 1000})
    ->Args({5000, 15, 1100})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(CopyFile)->Args({5000, 15, 0})->Args({5000, 15, 1})->Unit(benchmark::kMillisecond);

namespace {

// The growth of the peak resident size over work, in KiB: freed memory goes
// back to the system and the peak is reset to the resident size first, so that
// work cannot hide in memory the process held already.
long ResidentKiB(const char *field) {
    FILE *status = std::fopen("/proc/self/status", "r");
    char line[256];
    long value = -1;
    while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, field, std::strlen(field)) == 0)
            value = std::strtol(line + std::strlen(field), nullptr, 10);
    }
    if (status != nullptr) std::fclose(status);
    return value;
}

template <typename Work>
long PeakGrowth(Work work) {
    malloc_trim(0);
    FILE *reset = std::fopen("/proc/self/clear_refs", "w");
    if (reset != nullptr) {
        std::fputs("5", reset);
        std::fclose(reset);
    }
    const long before = ResidentKiB("VmRSS:");
    work();
    return ResidentKiB("VmHWM:") - before;
}

// sk_bench --memory (bench/run --memory): what a forced compaction and loading every resource of
// the file of 5,000 resources and 15 MB add to the peak resident size.
int PeakMemory() {
    Session session;
    const std::string path = Folder() + "/memory.rez";
    const Bytes &image = Image(5000, 15);
    Put(path, image);
    const long compaction = PeakGrowth([&] {
        uint16_t file = Open(path);
        SetResourceCompaction(3);
        UpdateResourceFile(file);
        CloseResourceFile(file);
    });
    std::vector<Handle> loaded;
    const long loading = PeakGrowth([&] {
        uint16_t file = Open(path);
        for (int16_t i = 1; i <= 5000; ++i)
            loaded.push_back(GetIndexedResource(kType, i));
        CloseResourceFile(file);
    });
    for (Handle h : loaded)
        DisposeHandle(h);
    std::printf(
        "file of %zu KiB: forced compaction adds %ld KiB to the peak resident size, "
        "loading every resource %ld KiB (%.2f times the file)\n",
        image.size() >> 10, compaction, loading,
        static_cast<double>(loading) / static_cast<double>(image.size() >> 10));
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--memory") == 0) return PeakMemory();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
