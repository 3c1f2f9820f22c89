#include "fuzz_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "resources/resource_manager.h"
#include "support/memory_pool.h"

namespace {

uint32_t U32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

constexpr size_t kMostTypes = 64;
constexpr int16_t kMostPerType = 256;

}  // namespace

const std::string &FuzzFolder() {
    static const std::string folder = [] {
        std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        pattern += "/skfuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern;
    }();
    return folder;
}

std::string WriteFuzzFile(const std::string &name, const uint8_t *data, size_t size) {
    const std::string path = FuzzFolder() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    return path;
}

std::vector<uint8_t> ReadFuzzFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void BeginResourceSession() {
    MemoryPoolCreate(32768);
    StartResourceManager();
}

void EndResourceSession() {
    StopResourceManager();
    MemoryPoolDestroy();
}

std::vector<uint32_t> ListedTypes(const uint8_t *data, size_t size) {
    std::vector<uint32_t> types;
    if (size < 16) return types;
    const uint64_t map = U32(data + 4);
    if (map + 30 > size) return types;
    const int32_t count = int16_t(data[map + 28] | data[map + 29] << 8) + 1;
    for (int32_t i = 0; i < count && types.size() < kMostTypes; ++i) {
        const uint64_t entry = map + 30 + 8 * uint64_t(i);
        if (entry + 4 > size) break;
        types.push_back(U32(data + entry));
    }
    return types;
}

void WalkResources(const std::vector<uint32_t> &types) {
    for (uint32_t type : types) {
        const int16_t count = std::min<int16_t>(int16_t(CountOneResources(type)), kMostPerType);
        for (int16_t index = 1; index <= count; ++index) {
            Handle h = GetOneIndexedResource(type, index);
            if (h == nullptr) continue;
            int16_t id = 0;
            uint32_t infoType = 0;
            uint8_t name[256] = {};
            GetResourceInfo(h, &id, &infoType, name);
            Require(infoType == type, "a resource reports another type than it was found by");
            GetOneResource(type, id);
            if (name[0] != 0) GetNamedResource(type, name);
            ReleaseResource(h);
        }
    }
}

std::vector<uint8_t> WithoutInfoRest(std::vector<uint8_t> image) {
    // Only layout 1500 has the info block; older layouts keep their own text there.
    const bool current = image.size() >= 256 && U32(image.data() + 20) == 1500;
    for (size_t i = 37; current && i < 256; ++i)
        image[i] = 0;
    return image;
}

void Require(bool condition, const char *message) {
    if (condition) return;
    std::fprintf(stderr, "property broken: %s\n", message);
    std::abort();
}
