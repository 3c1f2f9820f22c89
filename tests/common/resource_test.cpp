#include "common/resource_test.h"

#include <algorithm>
#include <cstring>

#include "resources/open_files.h"
#include "resources/picture_image.h"
#include "support/fault_run.h"
#include "support/memory_pool.h"

Bytes Str255Of(const std::string &text) {
    const size_t length = std::min<size_t>(text.size(), 255);
    Bytes out(1, static_cast<uint8_t>(length));
    out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
    return out;
}

std::vector<uint32_t> TypeCodes(const std::string &codes) {
    std::vector<uint32_t> types;
    for (size_t at = 0; at + 4 <= codes.size(); at += 5) {
        const char code[5] = {codes[at], codes[at + 1], codes[at + 2], codes[at + 3], 0};
        types.push_back(FourCC(code));
    }
    return types;
}

FixtureFile Parse(const Bytes &bytes) {
    FixtureFile parsed;
    std::string why;
    EXPECT_TRUE(ParseResourceFile(bytes, &parsed, &why)) << why;
    return parsed;
}

const FixtureResource *Find(const FixtureFile &file, uint32_t type, int16_t id) {
    for (const FixtureType &t : file.types) {
        if (t.type != type) continue;
        for (const FixtureResource &resource : t.resources) {
            if (resource.id == id) return &resource;
        }
    }
    return nullptr;
}

void PutHeaderField(Bytes &bytes, size_t field, uint32_t value) {
    const size_t map = MapOffsetOf(bytes);
    PutU32(bytes, field, value);
    PutU32(bytes, map + field, value);
}

testing::AssertionResult NotFound(Handle h) {
    const int16_t error = ResourceError();
    if (h == nullptr && error == kResourceNotFound) return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "Handle " << static_cast<const void *>(h) << ", error " << error;
}

std::tuple<int, uint32_t, Bytes> InfoOf(Handle h) {
    int16_t id = 0;
    uint32_t type = 0;
    uint8_t name[256] = {};
    GetResourceInfo(h, &id, &type, name);
    return {id, type, Bytes(name, name + 1 + name[0])};
}

Handle HandleWith(const Bytes &data) {
    Handle h = NewHandle(static_cast<int32_t>(data.size()));
    if (h != nullptr && !data.empty()) std::memcpy(*h, data.data(), data.size());
    return h;
}

Bytes Bitmap(int32_t width, int32_t height, uint16_t bits) {
    const uint32_t rows = static_cast<uint32_t>(height < 0 ? -height : height);
    const uint32_t range = bits >= 24 ? 0xFFFFFF : (bits == 16 ? 0xFFFF : (1u << bits));
    std::vector<uint32_t> pixels;
    for (uint32_t i = 0; i < rows * static_cast<uint32_t>(width); ++i)
        pixels.push_back((i + 1) * 0x010203u % range);
    std::vector<FixtureColour> palette;
    for (uint32_t i = 0; bits <= 8 && i < (1u << bits); ++i) {
        const auto level = static_cast<uint8_t>(i * 255 / ((1u << bits) - 1));
        palette.push_back({level, level, level});
    }
    return BuildBitmapImage(width, height, bits, palette, pixels);
}

std::vector<uint16_t> ChainNumbers() {
    std::vector<uint16_t> numbers;
    for (ResourceFileRecord *file = FirstFile(OpenFilesChain()); file; file = NextFile(file))
        numbers.push_back(file->refNum);
    return numbers;
}

std::vector<int> AllFaultKinds() {
    std::vector<int> kinds;
    for (int kind = 0; kind <= kAllocationFault; ++kind)
        kinds.push_back(kind);
    return kinds;
}

void ForEachFault(const std::vector<int> &kinds, const std::function<void()> &prepare,
                  const std::function<void()> &attempt,
                  const std::function<void(int kind, bool fired)> &check) {
    for (int kind : kinds) {
        bool fired = true;
        for (uint32_t n = 1; fired && n < 1000 && !testing::Test::HasFailure(); ++n) {
            SCOPED_TRACE(testing::Message() << "failing " << FaultKindName(kind) << " " << n);
            prepare();
            fired = RunWithNthFault(kind, n, attempt);
            check(kind, fired);
        }
        EXPECT_FALSE(fired) << FaultKindName(kind) << ": the fault fires at every call";
    }
}

void ResourceFileTest::SetUp() {
    PoolTest::SetUp();
    ASSERT_EQ(StartResourceManager(), 0);
    ResourceError();
}

void ResourceFileTest::TearDown() {
    CloseAll();
    StopResourceManager();
    PoolTest::TearDown();
}

std::string ResourceFileTest::Write(const std::string &name, const Bytes &bytes) {
    std::string path = temp_.File(name);
    WriteWholeFile(path, bytes);
    return path;
}

void ResourceFileTest::CloseAll() {
    while (ResourceFileRecord *last = LastFile(OpenFilesChain()))
        CloseResourceFileDisposing(last->refNum);
    for (const auto &[h, type] : owned_) {
        if (HandleNumber(h) == 0) continue;
        if (IsPictureType(type)) {
            DisposePictureHandle(h);
        } else {
            DisposeHandle(h);
        }
    }
    owned_.clear();
}

Handle ResourceFileTest::Own(Handle h, uint32_t type) {
    if (h != nullptr) owned_[h] = type;
    return h;
}

Handle ResourceFileTest::Add(Handle h, uint32_t type, int16_t id, const std::string &name) {
    Own(h, type);
    AddResource(h, type, id, Str255Of(name).data());
    EXPECT_EQ(ResourceError(), kResourceOk);
    return h;
}
