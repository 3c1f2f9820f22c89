// Reading resource files: the worked example, layout recognition, files that
// must be refused at open or at load time, a flipped-byte sweep, allocation
// failures over a whole session, and the loading of pictures into PictureRecords.
// Every file is built by the test fixture, never by the library's own writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/fixture.h"
#include "common/test_env.h"
#include "resources/handles.h"
#include "resources/map_block.h"
#include "resources/open_files.h"
#include "resources/picture_image.h"
#include "resources/resource_format.h"
#include "resources/resource_manager.h"
#include "support/file_io.h"
#include "support/memory_pool.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kPICT = FourCC("PICT");
constexpr uint32_t kFsTI = FourCC("FsTI");
constexpr uint32_t kFADP = FourCC("FADP");
constexpr uint32_t kSTR = FourCC("STR ");
constexpr uint32_t kSTRList = FourCC("STR#");

// A Str255 holding text.
Bytes Str(const std::string &text) {
    Bytes out(1, static_cast<uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

Bytes Text(const std::string &text) {
    return Bytes(text.begin(), text.end());
}

FixtureResource Res(int16_t id, std::optional<std::string> name, Bytes data,
                    uint8_t attributes = 0) {
    FixtureResource resource;
    resource.id = id;
    resource.name = std::move(name);
    resource.data = std::move(data);
    resource.attributes = attributes;
    return resource;
}

FixtureFile Described(std::vector<FixtureType> types) {
    FixtureFile file;
    file.types = std::move(types);
    return file;
}

// The contents of a plain Handle.
Bytes Contents(Handle h) {
    if (h == nullptr || *h == nullptr) return {};
    return Bytes(*h, *h + GetHandleSize(h));
}

// A palette of 2^bits grey steps.
std::vector<FixtureColour> GreyPalette(uint16_t bits) {
    std::vector<FixtureColour> palette;
    uint32_t colours = 1u << bits;
    for (uint32_t i = 0; i < colours; ++i) {
        auto level = static_cast<uint8_t>(i * 255 / (colours - 1));
        palette.push_back({level, level, level});
    }
    return palette;
}

// A bitmap whose pixels are distinct small values: (x + 3y) modulo the depth's range.
Bytes Bitmap(int32_t width, int32_t height, uint16_t bits) {
    uint32_t rows = static_cast<uint32_t>(height < 0 ? -height : height);
    std::vector<uint32_t> pixels;
    uint32_t range = bits >= 24 ? 0xFFFFFF : (bits == 16 ? 0xFFFF : (1u << bits));
    for (uint32_t y = 0; y < rows; ++y) {
        for (uint32_t x = 0; x < static_cast<uint32_t>(width); ++x) {
            pixels.push_back((x + 3 * y + 1) * 0x010203u % range);
        }
    }
    return BuildBitmapImage(width, height, bits,
                            bits <= 8 ? GreyPalette(bits) : std::vector<FixtureColour>{}, pixels);
}

// Where the pixel rows of a fixture-built image start (14 + header + table).
size_t PixelStart(const Bytes &image) {
    return GetU32(image, 10);
}

// Chain inspection through the Resource Manager's own state.
size_t ChainLength() {
    size_t count = 0;
    for (ResourceFileRecord *file = FirstFile(OpenFilesChain()); file; file = NextFile(file))
        ++count;
    return count;
}

class ReadingTest : public PoolTest {
  protected:
    void SetUp() override {
        PoolTest::SetUp();
        ASSERT_EQ(StartResourceManager(), 0);
        ResourceError();
    }
    void TearDown() override {
        CloseEverything();
        StopResourceManager();
        PoolTest::TearDown();
    }
    static void CloseEverything() {
        while (LastFile(OpenFilesChain()) != nullptr) {
            CloseResourceFile(LastFile(OpenFilesChain())->refNum);
        }
    }
    std::string Write(const std::string &name, const Bytes &bytes) {
        std::string path = temp_.File(name);
        WriteWholeFile(path, bytes);
        return path;
    }
    static uint16_t Open(const std::string &path) { return OpenResourceFile(Str(path).data()); }
};

// ---------------------------------------------------------------------------
// The worked example.

using ResourceReadingExample = ReadingTest;

FixtureFile WorkedExample(uint32_t type) {
    return Described({{type, {Res(128, "ab", {0xA1, 0xB2, 0xC3})}}});
}

TEST_F(ResourceReadingExample, PictTypeIsFoundByItsStoredBytes) {
    Bytes bytes = BuildResourceFile(WorkedExample(kPICT));
    ASSERT_EQ(bytes.size(), 316u);
    // The type entry at map offset 30 holds PICT last character first.
    ASSERT_EQ(Bytes(bytes.begin() + 263 + 30, bytes.begin() + 263 + 34),
              (Bytes{0x54, 0x43, 0x49, 0x50}));
    std::string path = Write("example.rsrc", bytes);

    uint16_t ref = Open(path);
    ASSERT_NE(ref, kNoFile);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(CurrentResourceFile(), ref);
    EXPECT_EQ(CountResources(kPICT), 1);
    EXPECT_EQ(CountOneResources(kPICT), 1u);
    // A reader taking the four bytes in file order would look for "TCIP".
    EXPECT_EQ(CountResources(FourCC("TCIP")), 0);
    EXPECT_EQ(CountOneResources(FourCC("TCIP")), 0u);
    // The 3 data bytes are no bitmap image, so the picture cannot be loaded.
    EXPECT_EQ(GetResource(kPICT, 128), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);

    CloseResourceFile(ref);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(ReadWholeFile(path), bytes);
}

TEST_F(ResourceReadingExample, PlainTypeReadsBackIdNameAndData) {
    Bytes bytes = BuildResourceFile(WorkedExample(kFsTI));
    ASSERT_EQ(bytes.size(), 316u);
    std::string path = Write("example.rsrc", bytes);
    uint16_t ref = Open(path);
    ASSERT_NE(ref, kNoFile);

    Handle h = GetResource(kFsTI, 128);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(Contents(h), (Bytes{0xA1, 0xB2, 0xC3}));

    int16_t id = 0;
    uint32_t type = 0;
    uint8_t name[256];
    std::memset(name, 0xEE, sizeof name);
    GetResourceInfo(h, &id, &type, name);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(id, 128);
    EXPECT_EQ(type, kFsTI);
    EXPECT_EQ(Bytes(name, name + 3), Str("ab"));

    // By name: the same entry, so the same Handle; letter case matters.
    EXPECT_EQ(GetNamedResource(kFsTI, Str("ab").data()), h);
    EXPECT_EQ(GetNamedResource(kFsTI, Str("AB").data()), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    // The entry's name is the last thing in the map block: comparing a longer
    // name against it must not read past the block.
    EXPECT_EQ(GetNamedResource(kFsTI, Str(std::string(200, 'a')).data()), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(GetNamedResource(kFsTI, Str("a").data()), nullptr);

    ReleaseResource(h);
    EXPECT_EQ(ResourceError(), kResourceOk);
    CloseResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), bytes);
}

// The handle slots of a file mean nothing: reading the map clears them, and a
// write-back stores them as 0.
TEST_F(ResourceReadingExample, StoredHandleSlotsAreIgnored) {
    Handle stray = NewHandle(3);
    ASSERT_NE(stray, nullptr);
    const uint32_t strayNumber = HandleNumber(stray);
    ASSERT_NE(strayNumber, 0u);
    FixtureFile file =
        Described({{kFsTI, {Res(128, "a", Text("abc")), Res(129, std::nullopt, Text("d"))}}});
    file.types[0].resources[0].handleSlot = strayNumber;
    file.types[0].resources[1].handleSlot = 0xDEADBEEF;
    std::string path = Write("slots.rsrc", BuildResourceFile(file));

    uint16_t ref = Open(path);
    ASSERT_NE(ref, kNoFile);
    EXPECT_EQ(HomeResourceFile(stray), -1);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    Handle h = GetResource(kFsTI, 128);
    ASSERT_NE(h, nullptr);
    EXPECT_NE(h, stray);
    EXPECT_EQ(Contents(h), Text("abc"));
    Handle other = GetResource(kFsTI, 129);
    EXPECT_EQ(Contents(other), Text("d"));
    ReleaseResource(stray);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(GetHandleSize(stray), 3) << "a Handle in no map is left alone";
    ReleaseResource(h);
    ReleaseResource(other);
    CloseResourceFile(ref);

    FixtureFile parsed;
    std::string why;
    ASSERT_TRUE(ParseResourceFile(ReadWholeFile(path), &parsed, &why)) << why;
    EXPECT_EQ(parsed.types[0].resources[0].handleSlot, 0u);
    EXPECT_EQ(parsed.types[0].resources[1].handleSlot, 0u);
    for (FixtureResource &resource : file.types[0].resources)
        resource.handleSlot = 0;
    EXPECT_EQ(ReadWholeFile(path), BuildResourceFile(file));
    DisposeHandle(stray);
}

// ---------------------------------------------------------------------------
// Layout recognition and the header check, on open files.

using ResourceReadingLayout = ReadingTest;

FixtureFile ThreeResources(int layout) {
    FixtureFile file =
        Described({{kFsTI, {Res(128, "alpha", Text("abc")), Res(129, std::nullopt, Text("wxyz"))}},
                   {kSTR, {Res(1, "s", Text("\x05hello"))}}});
    file.layout = layout;
    return file;
}

TEST_F(ResourceReadingLayout, ReadFormatVersionNamesEachLayout) {
    for (int layout : {1500, 1100, 1000}) {
        SCOPED_TRACE(layout);
        std::string path = Write("layout.rsrc", BuildResourceFile(ThreeResources(layout)));
        FileHandle file = OpenFileForAccess(path.c_str(), kOpenExisting, kGenericRead);
        ASSERT_NE(file, kInvalidFile);
        int32_t version = 0;
        EXPECT_TRUE(ReadFormatVersion(file, &version));
        EXPECT_EQ(version, layout);
        EXPECT_TRUE(CheckFileHeader(file));
        CloseFileHandle(file);
    }
}

TEST_F(ResourceReadingLayout, RecognitionNeedsTheWholeInfoArea) {
    Bytes bytes = BuildResourceFile(ThreeResources(1500));
    bytes.resize(255);  // one byte short of the info area
    std::string path = Write("short.rsrc", bytes);
    FileHandle file = OpenFileForAccess(path.c_str(), kOpenExisting, kGenericRead);
    ASSERT_NE(file, kInvalidFile);
    int32_t version = 77;
    EXPECT_FALSE(ReadFormatVersion(file, &version));
    CloseFileHandle(file);
}

TEST_F(ResourceReadingLayout, CheckFileHeaderRefusesBadHeaders) {
    const Bytes good = BuildResourceFile(ThreeResources(1500));
    const size_t map = MapOffsetOf(good);
    std::vector<std::pair<std::string, std::function<void(Bytes &)>>> cases = {
        {"shorter than the header", [](Bytes &b) { b.resize(15); }},
        {"data offset 257",
         [&](Bytes &b) {
             PutU32(b, 0, 257);
             PutU32(b, map, 257);
         }},
        {"copy differs", [&](Bytes &b) { b[map + 8] ^= 1; }},
        {"map offset past the end",
         [&](Bytes &b) { PutU32(b, 4, static_cast<uint32_t>(b.size()) - 8); }},
        {"map copy cut short", [&](Bytes &b) { b.resize(map + 15); }},
    };
    for (auto &[what, damage] : cases) {
        SCOPED_TRACE(what);
        Bytes bytes = good;
        damage(bytes);
        std::string path = Write("bad.rsrc", bytes);
        FileHandle file = OpenFileForAccess(path.c_str(), kOpenExisting, kGenericRead);
        ASSERT_NE(file, kInvalidFile);
        EXPECT_FALSE(CheckFileHeader(file));
        CloseFileHandle(file);
    }
}

// ---------------------------------------------------------------------------
// Files refused at open: failure result, chain, current file and file untouched.

using ResourceReadingDamage = ReadingTest;

TEST_F(ResourceReadingDamage, DamagedFilesAreRefusedAndLeftAlone) {
    const Bytes good = BuildResourceFile(ThreeResources(1500));
    ASSERT_TRUE(ParseResourceFile(good, nullptr, nullptr));
    const size_t map = MapOffsetOf(good);
    const uint32_t mapLength = MapLengthOf(good);
    const size_t type0 = TypeEntryOffset(good, 0);
    const size_t type1 = TypeEntryOffset(good, 1);
    const size_t ref0 = ReferenceEntryOffset(good, 0, 0);
    const size_t strRef = ReferenceEntryOffset(good, 1, 0);
    const size_t names = NameListOffset(good);
    // Sets a field of the header and its copy in the map together.
    auto header = [map](Bytes &b, size_t field, uint32_t value) {
        PutU32(b, field, value);
        PutU32(b, map + field, value);
    };

    std::vector<std::pair<std::string, std::function<void(Bytes &)>>> cases = {
        {"shorter than 16 bytes", [](Bytes &b) { b.resize(12); }},
        {"cut inside the info block", [](Bytes &b) { b.resize(100); }},
        {"data offset other than 256", [&](Bytes &b) { header(b, 0, 0x200); }},
        {"header copy differs", [&](Bytes &b) { b[map + 12] ^= 0x40; }},
        {"map offset past the end",
         [&](Bytes &b) { PutU32(b, 4, static_cast<uint32_t>(b.size())); }},
        {"map length past the end", [&](Bytes &b) { header(b, 12, mapLength + 1); }},
        {"file cut inside the map", [&](Bytes &b) { b.resize(b.size() - 1); }},
        {"map length below 30", [&](Bytes &b) { header(b, 12, 29); }},
        {"data area running into the map", [&](Bytes &b) { header(b, 8, DataLengthOf(b) + 1); }},
        {"type-list offset outside the map", [&](Bytes &b) { PutU16(b, map + 24, 0xFFF0); }},
        {"type-list offset at the map end",
         [&](Bytes &b) { PutU16(b, map + 24, static_cast<uint16_t>(mapLength)); }},
        {"name list past the map",
         [&](Bytes &b) { PutU16(b, map + 26, static_cast<uint16_t>(mapLength + 1)); }},
        {"name list inside the references", [&](Bytes &b) { PutU16(b, map + 26, 30 + 16 + 12); }},
        {"name list inside the type list", [&](Bytes &b) { PutU16(b, map + 26, 34); }},
        {"type count past the map", [&](Bytes &b) { PutI16(b, map + 28, 200); }},
        {"type count below -1", [&](Bytes &b) { PutI16(b, map + 28, -2); }},
        {"reference count past the map", [&](Bytes &b) { PutI16(b, type0 + 4, 50); }},
        {"reference count into the name list", [&](Bytes &b) { PutI16(b, type1 + 4, 1); }},
        {"reference count below -1", [&](Bytes &b) { PutI16(b, type0 + 4, -3); }},
        {"reference offset negative", [&](Bytes &b) { PutI16(b, type0 + 6, -8); }},
        {"reference offset into the type list", [&](Bytes &b) { PutI16(b, type1 + 6, 0); }},
        {"reference offset past the map", [&](Bytes &b) { PutI16(b, type1 + 6, 0x7000); }},
        {"runs overlapping", [&](Bytes &b) { PutI16(b, type1 + 6, GetI16(b, type0 + 6)); }},
        {"runs overlapping by one entry",
         [&](Bytes &b) { PutI16(b, type1 + 6, static_cast<int16_t>(GetI16(b, type0 + 6) + 12)); }},
        {"name offset outside the name list", [&](Bytes &b) { PutI16(b, ref0 + 2, 0x4000); }},
        {"name offset just past the map",
         [&](Bytes &b) { PutI16(b, ref0 + 2, static_cast<int16_t>(map + mapLength - names)); }},
        {"name offset negative", [&](Bytes &b) { PutI16(b, ref0 + 2, -2); }},
        {"name running past the map", [&](Bytes &b) { b[b.size() - 2] = 200; }},
        {"names overlapping",
         [&](Bytes &b) {
             b[names + 1] = 2;  // a name of length 2 inside "alpha"
             PutI16(b, strRef + 2, 1);
         }},
        {"two entries sharing a name", [&](Bytes &b) { PutI16(b, strRef + 2, 0); }},
    };

    const std::string goodPath = Write("good.rsrc", good);
    const uint16_t goodRef = Open(goodPath);
    ASSERT_NE(goodRef, kNoFile);
    for (auto &[what, damage] : cases) {
        SCOPED_TRACE(what);
        Bytes bytes = good;
        damage(bytes);
        ASSERT_NE(bytes, good);
        std::string path = Write("damaged.rsrc", bytes);

        EXPECT_EQ(Open(path), kNoFile);
        EXPECT_EQ(ResourceError(), kFileNotUsable);
        EXPECT_EQ(ResourceError(), kResourceOk);
        EXPECT_EQ(CurrentResourceFile(), goodRef);
        EXPECT_EQ(ChainLength(), 1u);
        EXPECT_EQ(LastFile(OpenFilesChain())->refNum, goodRef);
        EXPECT_EQ(ReadWholeFile(path), bytes);
        EXPECT_EQ(ListFolder(temp_.path()),
                  (std::vector<std::string>{"damaged.rsrc", "good.rsrc"}));
    }
    // The good file is still served, and the next open takes the next number.
    EXPECT_EQ(CountResources(kFsTI), 2);
    uint16_t next = Open(Write("other.rsrc", good));
    EXPECT_EQ(next, goodRef + 1);
}

TEST_F(ResourceReadingDamage, DataOffsetOtherThan256IsRefusedWhateverTheMapHolds) {
    // A file whose whole layout is shifted consistently by 16 bytes is still refused.
    Bytes good = BuildResourceFile(ThreeResources(1500));
    Bytes shifted(good.begin(), good.begin() + 256);
    shifted.insert(shifted.end(), 16, 0);
    shifted.insert(shifted.end(), good.begin() + 256, good.end());
    uint32_t map = MapOffsetOf(good) + 16;
    for (size_t at : {size_t{0}, size_t{map}}) {
        PutU32(shifted, at, 272);
        PutU32(shifted, at + 4, map);
    }
    std::string path = Write("shifted.rsrc", shifted);
    EXPECT_EQ(Open(path), kNoFile);
    EXPECT_EQ(ResourceError(), kFileNotUsable);
    EXPECT_EQ(ReadWholeFile(path), shifted);
}

// Entries whose data cannot be loaded fail the Get, but not the file.
TEST_F(ResourceReadingDamage, UnloadableDataFailsOnlyThatGet) {
    FixtureResource bit23 = Res(129, std::nullopt, {});
    bit23.dataOffset = 0x800000;
    FixtureResource atEnd = Res(131, std::nullopt, {});
    atEnd.dataOffset = 0;  // set below, once the data length is known
    FixtureResource straddling = Res(133, std::nullopt, {});
    straddling.dataOffset = 0;
    FixtureFile file =
        Described({{kFsTI,
                    {Res(128, "good", Text("abc")), bit23, Res(132, std::nullopt, {}), atEnd,
                     straddling, Res(130, std::nullopt, Text("12345"))}}});
    const uint32_t dataLength = DataLengthOf(BuildResourceFile(file));
    file.types[0].resources[3].dataOffset = dataLength;      // no room for the byte count
    file.types[0].resources[4].dataOffset = dataLength - 2;  // byte count half outside
    Bytes bytes = BuildResourceFile(file);
    ASSERT_EQ(DataLengthOf(bytes), dataLength);
    // The last block's byte count claims one byte more than the data area holds.
    const size_t lastBlock = DataBlockOffset(bytes, 0, 5);
    ASSERT_EQ(lastBlock + 4 + 5, 256 + dataLength);
    PutU32(bytes, lastBlock, 6);
    std::string path = Write("loads.rsrc", bytes);

    uint16_t ref = Open(path);
    ASSERT_NE(ref, kNoFile);
    EXPECT_EQ(CountResources(kFsTI), 6);
    uint32_t handles = RegisteredHandleCount();
    for (int16_t id : {129, 130, 131, 132, 133}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(GetResource(kFsTI, id), nullptr);
        EXPECT_EQ(ResourceError(), kResourceNotFound);
        // The slot stays empty, so the next Get tries again and fails again.
        EXPECT_EQ(GetResource(kFsTI, id), nullptr);
        EXPECT_EQ(ResourceError(), kResourceNotFound);
    }
    EXPECT_EQ(GetIndexedResource(kFsTI, 2), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(RegisteredHandleCount(), handles);

    Handle h = GetResource(kFsTI, 128);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Contents(h), Text("abc"));
    EXPECT_EQ(GetIndexedResource(kFsTI, 1), h);
    ReleaseResource(h);
    CloseResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), bytes);
}

// ---------------------------------------------------------------------------
// Flipped bytes: every offset of a small file, several patterns.

using ResourceReadingSweep = ReadingTest;

FixtureFile SweepFile() {
    Bytes strings = {2, 0, 1, 'a', 2, 'b', 'c'};
    return Described({{kFsTI, {Res(128, "ab", Text("xyz")), Res(129, std::nullopt, {1, 2})}},
                      {kPICT, {Res(5, "p", Bitmap(2, 2, 1))}},
                      {kSTRList, {Res(1, std::nullopt, strings)}}});
}

// Gets everything the open file offers by every route, lets go of it again, and
// closes the file. Handles that the library keeps (a resource marked changed is
// not released) become the caller's at the close and are disposed here.
void ExerciseAndClose(uint16_t ref) {
    std::vector<std::pair<Handle, uint32_t>> kept;
    auto take = [&](Handle h, uint32_t type) {
        if (h == nullptr) return;
        ReleaseResource(h);
        if (HomeResourceFile(h) != -1) kept.emplace_back(h, type);
    };
    for (uint32_t type : {kFsTI, kPICT, kSTRList, kSTR}) {
        int16_t count = CountResources(type);
        for (int16_t i = 0; i <= count + 1; ++i)
            take(GetIndexedResource(type, i), type);
        for (int16_t id : {128, 129, 5, 1})
            take(GetResource(type, id), type);
        for (const char *name : {"ab", "p", "", "abcdefghijklmnopqrstuvwxyz"}) {
            take(GetNamedResource(type, Str(name).data()), type);
        }
    }
    uint8_t buffer[257];
    for (int16_t index = -1; index < 4; ++index)
        GetIndexedString(buffer, 1, index);
    // Whatever is still in a slot (preloaded entries of types not asked for).
    ResourceFileRecord *record = FindFileRecord(ref);
    if (record != nullptr) {
        std::vector<std::pair<Handle, uint32_t>> loaded;
        ForEachReference(record->map, [&](uint32_t typeEntry, uint32_t entry) {
            Handle h = SlotHandle(record->map, entry);
            if (h != nullptr) loaded.emplace_back(h, TypeOf(record->map, typeEntry));
            return true;
        });
        for (auto &[h, type] : loaded)
            take(h, type);
    }
    CloseResourceFile(ref);
    std::set<Handle> disposed;
    for (auto &[h, type] : kept) {
        if (!disposed.insert(h).second) continue;
        DisposeResourceHandle(h, type);
    }
}

TEST_F(ResourceReadingSweep, FlippedBytesNeverCrashOrDamageTheFile) {
    const FixtureFile described = SweepFile();
    const Bytes good = BuildResourceFile(described);
    ASSERT_LT(good.size(), 600u);
    // Bytes that a close may legitimately rewrite in an opened file: the handle
    // slots (written as 0), the attribute bytes (a changed bit makes the close
    // rewrite the file) and the dead-bytes counter (which can ask for a rewrite).
    std::set<size_t> rewritable = {32, 33, 34, 35};
    for (size_t t = 0; t < described.types.size(); ++t) {
        for (size_t r = 0; r < described.types[t].resources.size(); ++r) {
            size_t entry = ReferenceEntryOffset(good, t, r);
            for (size_t i = 7; i < 12; ++i)
                rewritable.insert(entry + i);
        }
    }
    const std::string path = temp_.File("sweep.rsrc");
    const uint32_t blocks = MemoryPoolBlockCount();
    int failures = 0;
    int opened = 0;
    for (uint8_t pattern : {0x01, 0x02, 0x04, 0x80, 0xFF}) {
        for (size_t offset = 0; offset < good.size() && failures < 5; ++offset) {
            Bytes bytes = good;
            bytes[offset] ^= pattern;
            WriteWholeFile(path, bytes);
            uint16_t ref = Open(path);
            int16_t error = ResourceError();
            if (ref == kNoFile) {
                if (error != kFileNotUsable || ReadWholeFile(path) != bytes) {
                    ADD_FAILURE() << "offset " << offset << " pattern " << int{pattern}
                                  << ": refused with " << error << " or changed";
                    ++failures;
                }
            } else {
                ++opened;
                ExerciseAndClose(ref);
                Bytes after = ReadWholeFile(path);
                bool mayChange = rewritable.count(offset) != 0 || LayoutOf(bytes) != 1500;
                std::string why;
                FixtureFile parsed;
                if (after != bytes && !mayChange) {
                    ADD_FAILURE() << "offset " << offset << " pattern " << int{pattern}
                                  << ": an unchanged file was rewritten";
                    ++failures;
                } else if (after != bytes && !ParseResourceFile(after, &parsed, &why)) {
                    ADD_FAILURE() << "offset " << offset << " pattern " << int{pattern}
                                  << ": the library wrote a bad file: " << why;
                    ++failures;
                }
            }
            if (ChainLength() != 0 || MemoryPoolBlockCount() != blocks) {
                ADD_FAILURE() << "offset " << offset << " pattern " << int{pattern}
                              << ": files or blocks left behind";
                ++failures;
                CloseEverything();
            }
        }
    }
    // Flips of names, data, ids and reserved fields leave a usable file.
    EXPECT_GT(opened, static_cast<int>(good.size()));
}

// A file rewritten on close because the flip set a changed attribute or the
// dead-bytes counter still holds every resource as it was.
TEST_F(ResourceReadingSweep, RewrittenFilesKeepTheirResources) {
    const FixtureFile described = SweepFile();
    const Bytes good = BuildResourceFile(described);
    const std::string path = temp_.File("rewrite.rsrc");
    std::vector<std::pair<size_t, uint8_t>> flips = {
        {ReferenceEntryOffset(good, 0, 1) + 7, kAttrChanged},  // FsTI 129 marked changed
        {33, 0x01},                                            // 256 dead bytes in 400
        {35, 0x80},                                            // a negative counter
    };
    for (auto [offset, pattern] : flips) {
        SCOPED_TRACE(offset);
        Bytes bytes = good;
        bytes[offset] ^= pattern;
        WriteWholeFile(path, bytes);
        uint16_t ref = Open(path);
        ASSERT_NE(ref, kNoFile);
        ExerciseAndClose(ref);
        Bytes after = ReadWholeFile(path);
        EXPECT_NE(after, bytes) << "expected a rewrite";
        FixtureFile parsed;
        std::string why;
        ASSERT_TRUE(ParseResourceFile(after, &parsed, &why)) << why;
        EXPECT_EQ(parsed.deadBytes, 0);
        EXPECT_EQ(FlatResources(parsed), FlatResources(described));
    }
}

// ---------------------------------------------------------------------------
// Allocation failures over a whole session.

using ResourceReadingMemory = ReadingTest;

TEST_F(ResourceReadingMemory, EveryFailedAllocationFailsCleanly) {
    const Bytes picture = Bitmap(3, 2, 8);
    FixtureFile fileA = Described(
        {{kFsTI,
          {Res(128, "plain", Text("abcd")), Res(129, std::nullopt, Text("pre"), kAttrPreload)}},
         {kFADP, {Res(200, "pic", picture)}}});
    FixtureFile fileB = Described({{kSTRList, {Res(1, std::nullopt, {1, 0, 2, 'h', 'i'})}}});
    const Bytes bytesA = BuildResourceFile(fileA);
    const Bytes bytesB = BuildResourceFile(fileB);
    const std::string pathA = Write("a.rsrc", bytesA);
    const std::string pathB = Write("b.rsrc", bytesB);

    StopResourceManager();
    const uint32_t blocks = MemoryPoolBlockCount();
    const uint32_t handles = RegisteredHandleCount();
    uint32_t n = 1;
    for (;; ++n) {
        SCOPED_TRACE(n);
        MemoryPoolFailNth(n);

        int16_t started = StartResourceManager();
        EXPECT_TRUE(started == 0 || started == kGenericFailure) << started;
        uint16_t refA = Open(pathA);
        EXPECT_EQ(ResourceError(), refA == kNoFile ? kFileNotUsable : kResourceOk);
        uint16_t refB = Open(pathB);
        EXPECT_EQ(ResourceError(), refB == kNoFile ? kFileNotUsable : kResourceOk);

        std::vector<std::pair<Handle, uint32_t>> got;
        auto get = [&](Handle h, uint32_t type, const std::function<void(Handle)> &check) {
            int16_t error = ResourceError();
            if (h == nullptr) {
                EXPECT_EQ(error, kResourceNotFound);
                return;
            }
            EXPECT_EQ(error, kResourceOk);
            check(h);
            got.emplace_back(h, type);
        };
        get(GetResource(kFsTI, 128), kFsTI, [](Handle h) { EXPECT_EQ(Contents(h), Text("abcd")); });
        get(GetResource(kFsTI, 129), kFsTI, [](Handle h) { EXPECT_EQ(Contents(h), Text("pre")); });
        get(GetResource(kFADP, 200), kFADP, [](Handle h) {
            PictureRecord record{};
            ASSERT_TRUE(ReadPictureRecord(h, &record));
            EXPECT_EQ(record.right, 3);
            EXPECT_EQ(record.bottom, 2);
            ASSERT_NE(record.bitmap, nullptr);
            EXPECT_EQ(record.bits, record.bitmap + 40 + 1024);
        });
        get(GetIndexedResource(kSTRList, 1), kSTRList, [](Handle h) {
            EXPECT_EQ(Contents(h), (Bytes{1, 0, 2, 'h', 'i'}));
        });
        for (auto &[h, type] : got) {
            ReleaseResource(h);
            EXPECT_EQ(ResourceError(), kResourceOk);
        }
        if (refB != kNoFile) CloseResourceFile(refB);
        if (refA != kNoFile) {
            // A preload that failed leaves the slot empty; one that worked but
            // whose Get failed later cannot happen, since the Get returns the slot.
            CloseResourceFile(refA);
        }
        StopResourceManager();

        bool fired = MemoryPoolFailureFired();
        MemoryPoolFailNth(0);
        EXPECT_EQ(MemoryPoolBlockCount(), blocks);
        EXPECT_EQ(RegisteredHandleCount(), handles);
        EXPECT_EQ(ReadWholeFile(pathA), bytesA);
        EXPECT_EQ(ReadWholeFile(pathB), bytesB);
        if (!fired || n > 2000 || HasFailure()) break;
    }
    EXPECT_GT(n, 10u) << "the session made too few allocations to be a test";
    ASSERT_EQ(StartResourceManager(), 0);
}

// ---------------------------------------------------------------------------
// Pictures.

class PictureLoading : public ReadingTest {
  protected:
    // Opens a file holding the image as FADP 1 and gets it.
    Handle Load(const Bytes &image) {
        std::string path =
            Write("picture" + std::to_string(files_++) + ".rsrc",
                  BuildResourceFile(Described({{kFADP, {Res(1, std::nullopt, image)}}})));
        if (Open(path) == kNoFile) {
            ADD_FAILURE() << "cannot open the picture file";
            return nullptr;
        }
        return GetResource(kFADP, 1);
    }
    static PictureRecord RecordOf(Handle h) {
        PictureRecord record{};
        EXPECT_TRUE(ReadPictureRecord(h, &record));
        return record;
    }
    int files_ = 0;
};

struct Shape {
    int32_t width;
    int32_t height;
    uint16_t bits;
};

TEST_F(PictureLoading, RecordAndBitmapBlockFollowTheHeader) {
    for (Shape shape : {Shape{3, 2, 8}, Shape{10, 3, 1}, Shape{5, 4, 4}, Shape{5, 2, 24},
                        Shape{7, 3, 16}, Shape{40, 40, 24}, Shape{2, 3, 32}, Shape{6, -3, 8}}) {
        SCOPED_TRACE(std::to_string(shape.width) + "x" + std::to_string(shape.height) + "x" +
                     std::to_string(shape.bits));
        Bytes image = Bitmap(shape.width, shape.height, shape.bits);
        const uint32_t colours = shape.bits <= 8 ? 1u << shape.bits : 0;
        const uint32_t rows = static_cast<uint32_t>(std::abs(shape.height));
        const uint32_t rowBytes =
            ((shape.bits * static_cast<uint32_t>(shape.width) + 31) & ~31u) / 8;
        // Wrong stored values that loading must recompute.
        PutU32(image, 14 + kBitmapImageSize, 12345);
        PutU32(image, 14 + kBitmapColoursUsed, 3);

        Handle h = Load(image);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(GetHandleSize(h), static_cast<int32_t>(sizeof(PictureRecord)));
        PictureRecord record = RecordOf(h);
        EXPECT_EQ(record.top, 0);
        EXPECT_EQ(record.left, 0);
        EXPECT_EQ(record.bottom, static_cast<int16_t>(rows));
        EXPECT_EQ(record.right, shape.width);
        ASSERT_NE(record.bitmap, nullptr);
        const uint32_t block = MemoryPoolBlockSize(record.bitmap);
        EXPECT_GE(block, 1064 + ((static_cast<uint32_t>(shape.width) + 3) & ~3u) * rows);
        EXPECT_GE(block, 40 + 4 * colours + rowBytes * rows);
        EXPECT_EQ(record.bits, record.bitmap + 40 + 4 * colours);
        EXPECT_EQ(LoadU32(record.bitmap + kBitmapImageSize), rowBytes * rows);
        EXPECT_EQ(LoadU32(record.bitmap + kBitmapColoursUsed), colours);
        // The header apart from those two fields, the colour table and every pixel row.
        EXPECT_EQ(Bytes(record.bitmap, record.bitmap + 20),
                  Bytes(image.begin() + 14, image.begin() + 34));
        EXPECT_EQ(Bytes(record.bitmap + 40, record.bits),
                  Bytes(image.begin() + 54, image.begin() + PixelStart(image)));
        EXPECT_EQ(Bytes(record.bits, record.bits + rowBytes * rows),
                  Bytes(image.begin() + PixelStart(image), image.end()));
        CloseEverything();
        DisposePictureHandle(h);
    }
}

TEST_F(PictureLoading, LargerHeaderMovesTheColourTableAndPixels) {
    Bytes image = Bitmap(4, 2, 4);
    // A 108-byte header: 68 more bytes behind the 40.
    image.insert(image.begin() + 54, 68, 0x5A);
    PutU32(image, 14, 108);
    Handle h = Load(image);
    ASSERT_NE(h, nullptr);
    PictureRecord record = RecordOf(h);
    EXPECT_EQ(record.bits, record.bitmap + 108 + 64);
    EXPECT_EQ(Bytes(record.bits, record.bits + 8), Bytes(image.end() - 8, image.end()));
    ReleaseResource(h);
}

// Compression 3: three 4-byte colour masks follow the header, and the pixels follow them.
TEST_F(PictureLoading, BitFieldMasksComeBeforeThePixels) {
    for (uint16_t bits : {16, 32}) {
        SCOPED_TRACE(bits);
        Bytes image = Bitmap(3, 5, bits);
        const Bytes masks = bits == 32 ? Bytes{0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0}
                                       : Bytes{0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
        image.insert(image.begin() + 54, masks.begin(), masks.end());
        PutU32(image, 14 + kBitmapCompression, kBitFieldsCompression);
        PutU32(image, 10, 14 + 40 + 12);
        const size_t pixels = bits == 32 ? 3 * 4 * 5 : 8 * 5;

        Handle h = Load(image);
        ASSERT_NE(h, nullptr);
        PictureRecord record = RecordOf(h);
        EXPECT_EQ(record.bits, record.bitmap + 40 + 12);
        EXPECT_GE(MemoryPoolBlockSize(record.bitmap), 40 + 12 + pixels);
        EXPECT_EQ(LoadU32(record.bitmap + kBitmapColoursUsed), 0u);
        EXPECT_EQ(Bytes(record.bitmap + 40, record.bits), masks);
        // Every pixel row, the last bytes included.
        EXPECT_EQ(Bytes(record.bits, record.bits + pixels),
                  Bytes(image.end() - static_cast<long>(pixels), image.end()));

        // The stored form made from the record gives back the same masks and pixels.
        uint32_t size = 0;
        uint8_t *stored = ImageFromPicture(h, &size);
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(size, image.size());
        if (size == image.size()) {
            EXPECT_EQ(Bytes(stored + 54, stored + size), Bytes(image.begin() + 54, image.end()));
        }
        DisposePointer(stored);
        CloseEverything();
        DisposePictureHandle(h);
    }
}

TEST_F(PictureLoading, DataThatIsNoBitmapCannotBeGot) {
    Bytes image = Bitmap(2, 2, 1);
    image[1] = 'N';
    Handle h = Load(image);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    const uint32_t blocks = MemoryPoolBlockCount();
    const uint32_t handles = RegisteredHandleCount();
    // The slot stayed empty: the next Get tries again, fails the same way and
    // leaves nothing behind.
    EXPECT_EQ(GetResource(kFADP, 1), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(GetIndexedResource(kFADP, 1), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(MemoryPoolBlockCount(), blocks);
    EXPECT_EQ(RegisteredHandleCount(), handles);
}

TEST_F(PictureLoading, DamagedHeadersAreRefused) {
    const Bytes good = Bitmap(4, 4, 8);
    std::vector<std::pair<std::string, std::function<void(Bytes &)>>> cases = {
        {"first byte", [](Bytes &b) { b[0] = 'b'; }},
        {"header size 39", [](Bytes &b) { PutU32(b, 14, 39); }},
        {"header size past the data",
         [](Bytes &b) { PutU32(b, 14, static_cast<uint32_t>(b.size())); }},
        {"header size huge", [](Bytes &b) { PutU32(b, 14, 0xFFFFFFF0u); }},
        {"width 0", [](Bytes &b) { PutI32(b, 18, 0); }},
        {"height 0", [](Bytes &b) { PutI32(b, 22, 0); }},
        {"width past 32767", [](Bytes &b) { PutI32(b, 18, 32768); }},
        {"height below -32767", [](Bytes &b) { PutI32(b, 22, -40000); }},
        {"depth 7", [](Bytes &b) { PutU16(b, 28, 7); }},
        {"depth 0", [](Bytes &b) { PutU16(b, 28, 0); }},
        {"cut inside the header", [](Bytes &b) { b.resize(14 + 30); }},
        {"only the file header", [](Bytes &b) { b.resize(14); }},
    };
    for (auto &[what, damage] : cases) {
        SCOPED_TRACE(what);
        Bytes image = good;
        damage(image);
        EXPECT_EQ(Load(image), nullptr);
        EXPECT_EQ(ResourceError(), kResourceNotFound);
        CloseEverything();
    }
}

// An image with fewer bytes than its header promises loads what is there and
// zero-fills the rest; nothing is read outside the stored data.
TEST_F(PictureLoading, ShortImagesAreZeroFilled) {
    const Bytes full = Bitmap(4, 4, 8);
    const size_t pixels = PixelStart(full);
    {
        SCOPED_TRACE("cut inside the pixels");
        Bytes image(full.begin(), full.begin() + static_cast<long>(pixels) + 6);
        Handle h = Load(image);
        ASSERT_NE(h, nullptr);
        PictureRecord record = RecordOf(h);
        EXPECT_EQ(Bytes(record.bits, record.bits + 6),
                  Bytes(full.begin() + static_cast<long>(pixels),
                        full.begin() + static_cast<long>(pixels) + 6));
        EXPECT_EQ(Bytes(record.bits + 6, record.bits + 16), Bytes(10, 0));
        ReleaseResource(h);
    }
    {
        SCOPED_TRACE("cut inside the colour table");
        Bytes image(full.begin(), full.begin() + 54 + 10);
        Handle h = Load(image);
        ASSERT_NE(h, nullptr);
        PictureRecord record = RecordOf(h);
        EXPECT_EQ(Bytes(record.bitmap + 40, record.bitmap + 50),
                  Bytes(full.begin() + 54, full.begin() + 64));
        EXPECT_EQ(Bytes(record.bitmap + 50, record.bits + 16), Bytes(1024 - 10 + 16, 0));
        ReleaseResource(h);
    }
    {
        SCOPED_TRACE("height claiming 1000 rows");
        Bytes image = full;
        PutI32(image, 22, 1000);
        Handle h = Load(image);
        ASSERT_NE(h, nullptr);
        PictureRecord record = RecordOf(h);
        EXPECT_EQ(record.bottom, 1000);
        EXPECT_GE(MemoryPoolBlockSize(record.bitmap), 1064u + 4 * 1000);
        EXPECT_EQ(LoadU32(record.bitmap + kBitmapImageSize), 4000u);
        EXPECT_EQ(Bytes(record.bits, record.bits + 16),
                  Bytes(full.begin() + static_cast<long>(pixels), full.end()));
        EXPECT_EQ(Bytes(record.bits + 16, record.bits + 4000), Bytes(4000 - 16, 0));
        ReleaseResource(h);
    }
}

TEST_F(PictureLoading, ReleaseFreesTheBitmapBlock) {
    std::string path =
        Write("pictures.rsrc",
              BuildResourceFile(Described({{kFADP, {Res(1, std::nullopt, Bitmap(9, 9, 8))}}})));
    ASSERT_NE(Open(path), kNoFile);
    const uint32_t blocks = MemoryPoolBlockCount();
    Handle h = GetResource(kFADP, 1);
    ASSERT_NE(h, nullptr);
    EXPECT_GT(MemoryPoolBlockCount(), blocks);
    ReleaseResource(h);
    EXPECT_EQ(MemoryPoolBlockCount(), blocks);
}

TEST_F(PictureLoading, ExactlyTheEighteenPictureTypes) {
    const char *pictures[] = {"ACDP", "ACPC", "BADP", "BAPC", "DRDP", "EGDP",
                              "EGPC", "EGPP", "EvDP", "FADP", "FAPC", "FBDP",
                              "FBPC", "FDDP", "FDPC", "PICT", "PLDP", "PLPC"};
    for (const char *code : pictures) {
        uint32_t type = (uint32_t{static_cast<uint8_t>(code[0])} << 24) |
                        (uint32_t{static_cast<uint8_t>(code[1])} << 16) |
                        (uint32_t{static_cast<uint8_t>(code[2])} << 8) |
                        static_cast<uint8_t>(code[3]);
        EXPECT_TRUE(IsPictureType(type)) << code;
    }
    for (uint32_t type :
         {FourCC("TCIP"), FourCC("pict"), FourCC("EVDP"), FourCC("FsTI"), FourCC("STR#"), 0u}) {
        EXPECT_FALSE(IsPictureType(type)) << TypeName(type);
    }
}

}  // namespace
