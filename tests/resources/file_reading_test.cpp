// Reading resource files: the worked example, damaged files refused at open or at load time, a
// flipped-byte sweep, allocation failures over a session, and pictures loaded into PictureRecords.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/resource_test.h"
#include "resources/map_block.h"
#include "resources/open_files.h"
#include "resources/picture_image.h"
#include "resources/resource_format.h"
#include "support/file_io.h"
#include "support/memory_pool.h"

namespace {

class ResourceReading : public ResourceFileTest {
  protected:
    // Gets everything the open file offers by every route, lets go of it and
    // closes the file (Handles kept marked changed are then disposed).
    void ExerciseAndClose() {
        uint8_t buffer[257];
        for (int16_t index = -1; index < 4; ++index)
            GetIndexedString(buffer, 1, index);
        for (uint32_t type : {kFsTI, kPICT, kSTRList, kSTR}) {
            auto take = [&](Handle h) { ReleaseResource(Own(h, type)); };
            for (int16_t i = 0; i <= CountResources(type) + 1; ++i)
                take(GetIndexedResource(type, i));
            for (int16_t id : {128, 129, 5, 1})
                take(GetResource(type, id));
            for (const char *name : {"ab", "p", "", "abcdefghijklmnopqrstuvwxyz"})
                take(GetNamedResource(type, Str255Of(name).data()));
        }
        CloseAll();
    }
    const FixtureFile sweep_ =
        Described({{kFsTI, {Res(128, "ab", Text("xyz")), Res(129, std::nullopt, {1, 2})}},
                   {kPICT, {Res(5, "p", Bitmap(2, 2, 1))}},
                   {kSTRList, {Res(1, std::nullopt, {2, 0, 1, 'a', 2, 'b', 'c'})}}});
};

// The type is found by its stored bytes (last character first), never by the
// bytes in file order; the stored handle slots mean nothing.
TEST_F(ResourceReading, WorkedExampleReadsBack) {
    Handle stray = Own(NewHandle(3), kFsTI);
    for (uint32_t type : {kFsTI, kPICT}) {
        FixtureFile example = Described({{type, {Res(128, "ab", {0xA1, 0xB2, 0xC3})}}});
        const Bytes bytes = BuildResourceFile(example);
        ASSERT_EQ(bytes.size(), 316u);
        example.types[0].resources[0].handleSlot = HandleNumber(stray);  // stored as 0
        uint32_t fileOrder = 0;  // the type entry's bytes read in file order
        for (size_t at = 263 + 30; at < 263 + 34; ++at)
            fileOrder = fileOrder << 8 | bytes[at];
        const std::string path = Write("example.rsrc", example);
        const uint16_t ref = Open(path);
        ASSERT_NE(ref, kNoFile);
        EXPECT_EQ(CountResources(type), 1);
        EXPECT_EQ(CountResources(fileOrder), 0) << TypeName(fileOrder);
        EXPECT_EQ(HomeResourceFile(stray), -1);
        if (type == kPICT) {
            EXPECT_TRUE(NotFound(GetResource(type, 128))) << "no bitmap image";
        } else {
            Handle h = GetResource(type, 128);
            EXPECT_EQ(BytesOf(h), (Bytes{0xA1, 0xB2, 0xC3}));
            EXPECT_EQ(InfoOf(h), std::tuple(128, kFsTI, Str255Of("ab")));
            // The name is the last thing in the map: a longer one must not be compared past it.
            EXPECT_EQ(GetNamedResource(kFsTI, Str255Of("ab").data()), h);
            for (const std::string &other :
                 {std::string("AB"), std::string("a"), std::string(200, 'a')})
                EXPECT_TRUE(NotFound(GetNamedResource(kFsTI, Str255Of(other).data())));
            ReleaseResource(h);
        }
        CloseResourceFile(ref);
        EXPECT_EQ(ReadWholeFile(path), bytes);
    }
}

// Refused at open: -193, and chain, current file and file untouched.
TEST_F(ResourceReading, DamagedFilesAreRefusedAndLeftAlone) {
    const Bytes good = BuildResourceFile(Described(
        {{kFsTI, {Res(128, std::string(70, 'a'), Text("abc")), Res(129, std::string(60, 'w'), {})}},
         {kSTR, {Res(1, "s", Text("\x05hello"))}}}));
    const int64_t map = MapOffsetOf(good), mapLength = MapLengthOf(good);
    const int64_t type0 = TypeEntryOffset(good, 0), type1 = TypeEntryOffset(good, 1);
    const int64_t ref0 = ReferenceEntryOffset(good, 0, 0), names = NameListOffset(good);
    const int64_t strRef = ReferenceEntryOffset(good, 1, 0);
    std::vector<Damage> damages = {
        {"shorter than 16 bytes", [](Bytes &b) { b.resize(12); }},
        {"cut inside the info block", [](Bytes &b) { b.resize(100); }},
        {"data offset other than 256", [](Bytes &b) { PutHeaderField(b, 0, 0xF0); }},
        {"whole layout shifted by 16",
         [map](Bytes &b) {
             b.insert(b.begin() + 256, 16, 0);
             for (int64_t at : {int64_t{0}, map + 16}) {
                 PutU32(b, at, 272);
                 PutU32(b, at + 4, static_cast<uint32_t>(map + 16));
             }
         }},
        {"header copy differs", [&](Bytes &b) { b[map + 12] ^= 0x40; }},
        {"map past the end", [](Bytes &b) { PutU32(b, 4, static_cast<uint32_t>(b.size())); }},
        {"map length past the end", [&](Bytes &b) { PutHeaderField(b, 12, mapLength + 1); }},
        {"file cut inside the map", [](Bytes &b) { b.pop_back(); }},
        {"map length below 30", [](Bytes &b) { PutHeaderField(b, 12, 29); }},
        {"data into the map", [](Bytes &b) { PutHeaderField(b, 8, DataLengthOf(b) + 1); }},
        {"name running past the map", [](Bytes &b) { b[b.size() - 2] = 200; }},
    };
    // A name of length 2 inside the first, which fills the first 64 bytes of the
    // list, and inside the end of the next, which crosses the next 64.
    for (int64_t into : {1, 128}) {
        damages.push_back({"names overlapping", [=](Bytes &b) {
                               b[names + into] = 2;
                               PutI16(b, strRef + 2, int16_t(into));
                           }});
    }
    // 16-bit fields: list offsets, the type count, reference counts, run and
    // name offsets, each just out of its place.
    const int64_t overlap = GetI16(good, type0 + 6) + 12, past = map + mapLength - names;
    const int64_t fields[][2] = {{map + 24, mapLength}, {map + 26, mapLength + 1},
                                 {map + 26, 58},        {map + 26, 34},
                                 {map + 28, 200},       {map + 28, -2},
                                 {type0 + 4, 50},       {type1 + 4, 1},
                                 {type0 + 4, -3},       {type0 + 6, -8},
                                 {type1 + 6, 0},        {type1 + 6, overlap},
                                 {ref0 + 2, past},      {ref0 + 2, -2},
                                 {strRef + 2, 0}};
    for (auto [at, value] : fields) {
        damages.push_back({"a 16-bit field",
                           [at, value](Bytes &b) { PutU16(b, at, static_cast<uint16_t>(value)); }});
    }
    const uint16_t goodRef = Open(Write("good.rsrc", good));
    for (size_t i = 0; i < damages.size(); ++i) {
        SCOPED_TRACE(testing::Message() << i << ": " << damages[i].first);
        Bytes bytes = good;
        damages[i].second(bytes);
        const std::string path = Write("damaged.rsrc", bytes);
        EXPECT_EQ(Open(path), kNoFile);
        EXPECT_EQ(ResourceError(), kFileNotUsable);
        EXPECT_EQ(CurrentResourceFile(), goodRef);
        EXPECT_EQ(ChainNumbers(), std::vector<uint16_t>{goodRef});
        EXPECT_EQ(ReadWholeFile(path), bytes);
        EXPECT_EQ(ListFolder(temp_.path()).size(), 2u);
    }
    EXPECT_EQ(CountResources(kFsTI), 2);
    EXPECT_EQ(Open(Write("other.rsrc", good)), goodRef + 1);
}

// Entries whose data cannot be loaded fail the Get, every time, but not the file.
TEST_F(ResourceReading, UnloadableDataFailsOnlyThatGet) {
    FixtureFile file = Described({{kFsTI,
                                   {Res(128, "good", Text("abc")), Res(129, {}), Res(132, {}),
                                    Res(131, {}), Res(133, {}), Res(130, {}, Text("12345"))}}});
    for (size_t r : {1, 3, 4})
        file.types[0].resources[r].dataOffset = 0;
    const uint32_t dataLength = DataLengthOf(BuildResourceFile(file));
    file.types[0].resources[1].dataOffset = 0x800000;        // bit 23 set
    file.types[0].resources[3].dataOffset = dataLength;      // no room for the byte count
    file.types[0].resources[4].dataOffset = dataLength - 2;  // byte count half outside
    Bytes bytes = BuildResourceFile(file);
    PutU32(bytes, DataBlockOffset(bytes, 0, 5), 6);  // one byte past the data area
    const std::string path = Write("loads.rsrc", bytes);
    const uint16_t ref = Open(path);
    ASSERT_NE(ref, kNoFile);
    const uint32_t handles = RegisteredHandleCount();
    for (int16_t id : {129, 130, 131, 132, 133, 129, 130, 131, 132, 133})
        EXPECT_TRUE(NotFound(GetResource(kFsTI, id))) << id;
    EXPECT_TRUE(NotFound(GetIndexedResource(kFsTI, 2)));
    EXPECT_EQ(RegisteredHandleCount(), handles);
    Handle h = GetResource(kFsTI, 128);
    EXPECT_EQ(GetIndexedResource(kFsTI, 1), h);
    ReleaseResource(h);
    CloseResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), bytes);
}

TEST_F(ResourceReading, FlippedBytesNeverCrashOrDamageTheFile) {
    const Bytes good = BuildResourceFile(sweep_);
    // A close may rewrite the dead-bytes counter and the attribute bytes and
    // handle slots of the reference entries.
    std::set<size_t> rewritable = {32, 33, 34, 35};
    for (size_t t = 0; t < sweep_.types.size(); ++t) {
        for (size_t r = 0; r < sweep_.types[t].resources.size(); ++r) {
            for (size_t i = 7; i < 12; ++i)
                rewritable.insert(ReferenceEntryOffset(good, t, r) + i);
        }
    }
    const std::string path = temp_.File("sweep.rsrc");
    const uint32_t blocks = MemoryPoolBlockCount();
    int opened = 0;
    for (uint8_t pattern : {0x01, 0x02, 0x04, 0x80, 0xFF}) {
        for (size_t offset = 0; offset < good.size() && !HasFailure(); ++offset) {
            SCOPED_TRACE(testing::Message() << "offset " << offset << " pattern " << int{pattern});
            Bytes bytes = good;
            bytes[offset] ^= pattern;
            WriteWholeFile(path, bytes);
            const uint16_t ref = Open(path);
            if (ref == kNoFile) {
                EXPECT_EQ(ResourceError(), kFileNotUsable);
                EXPECT_TRUE(ReadWholeFile(path) == bytes) << "a refused file was changed";
            } else {
                ++opened;
                ExerciseAndClose();
                const Bytes after = ReadWholeFile(path);
                std::string why;
                if (after != bytes) {
                    EXPECT_TRUE(rewritable.count(offset) != 0 || LayoutOf(bytes) != 1500);
                    EXPECT_TRUE(ParseResourceFile(after, nullptr, &why)) << why;
                }
            }
            EXPECT_TRUE(ChainNumbers().empty());
            EXPECT_EQ(MemoryPoolBlockCount(), blocks) << "blocks left behind";
        }
    }
    EXPECT_GT(opened, static_cast<int>(good.size()));
}

// A reading session whose n-th allocation fails leaves nothing behind.
TEST_F(ResourceReading, EveryFailedAllocationFailsCleanly) {
    FixtureFile file = sweep_;
    file.types[0].resources[1].attributes = kAttrPreload;
    const std::string path = Write("a.rsrc", file);
    const Bytes bytes = ReadWholeFile(path);
    StopResourceManager();
    const uint32_t blocks = MemoryPoolBlockCount(), handles = RegisteredHandleCount();
    ForEachFault(
        {kAllocationFault}, [] {},
        [&] {
            const int16_t started = StartResourceManager();
            EXPECT_TRUE(started == 0 || started == kGenericFailure) << started;
            EXPECT_EQ(ResourceError(), Open(path) == kNoFile ? kFileNotUsable : kResourceOk);
            Handle h = GetResource(kFsTI, 128);
            EXPECT_EQ(ResourceError(), h == nullptr ? kResourceNotFound : kResourceOk);
            EXPECT_TRUE(h == nullptr || BytesOf(h) == Text("xyz"));
            ExerciseAndClose();
            StopResourceManager();
        },
        [&](int, bool) {
            EXPECT_EQ(MemoryPoolBlockCount(), blocks);
            EXPECT_EQ(RegisteredHandleCount(), handles);
            EXPECT_EQ(ReadWholeFile(path), bytes);
        });
    ASSERT_EQ(StartResourceManager(), 0);
}

// Of two entries of one type and id, the second takes the first one's block
// however it is loaded: preloaded, got once the first was removed, or copied
// by a compaction while marked changed without data.
TEST_F(ResourceReading, TwinEntriesShareTheFirstBlock) {
    const struct {
        uint8_t attributes;
        std::function<Bytes()> second;
    } rows[] = {
        {0x04, [this] { return BytesOf(Own(GetIndexedResource(kFsTI, 2), kFsTI)); }},
        {0,
         [this] {
             RemoveResource(Own(GetResource(kFsTI, 5), kFsTI));
             return BytesOf(Get(kFsTI, 5));
         }},
        {0x02,
         [this] {
             const std::string path = CurrentFileRecord()->path;
             CloseAll();
             return Parse(ReadWholeFile(path)).types[0].resources[1].data;
         }},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(int{row.attributes});
        const std::string path =
            Write("twins.rez", Described({{kFsTI,
                                           {Res(5, "a", Text("first")),
                                            Res(5, "b", Text("second"), row.attributes)}}}));
        ASSERT_NE(Open(path), kNoFile);
        EXPECT_EQ(row.second(), Text("first"));
        CloseAll();
    }
}

// Once a file's stamp has settled, a load reads only the data through the kept map; the map is read
// again when the size or change time differ, or the stamp cannot be had.
TEST_F(ResourceReading, KeptMapServesOnlyAnUnchangedFile) {
    auto file = [](const char *data, size_t dead) {
        FixtureFile described = Described({{kFsTI, {Res(128, "f", Text(data))}}});
        described.deadData = Bytes(dead, 0);
        return BuildResourceFile(described);
    };
    const std::string path = Write("kept.rez", file("abc", 0));
    ASSERT_NE(Open(path), kNoFile);
    FaultPlatform fault;
    auto load = [&] {
        const uint32_t reads = fault.Calls(PlatformOp::Read);
        Handle h = GetResource(kFsTI, 128);
        const Bytes data = BytesOf(h);
        ReleaseResource(h);
        return std::pair(data, fault.Calls(PlatformOp::Read) - reads);
    };
    uint32_t nanoseconds = 0;
    auto settle = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        FileHandle open = OpenFileForAccess(path.c_str(), kOpenExisting, kGenericRead);
        FileStamp stamp = {};
        const bool settled = PlatformFileStamp(open, &stamp) && stamp.settled;
        nanoseconds = stamp.changeNanoseconds;
        CloseFileHandle(open);
        return settled;
    };
    // Change times kept in steps of 10 ms or more may not settle within the wait.
    if (!settle() && nanoseconds % 10000000 == 0) GTEST_SKIP() << "change times too coarse";
    load();
    EXPECT_EQ(load(), std::pair(Text("abc"), 2u)) << "the byte count and the data";
    Bytes moved = file("abc", 1);  // refused at its header
    PutHeaderField(moved, 0, 0xF0);
    const std::tuple<const char *, std::function<void()>, Bytes> changes[] = {
        {"data offset 240", [&] { WriteWholeFile(path, moved); }, Bytes()},
        {"longer", [&] { WriteWholeFile(path, file("abc", 1)); }, Text("abc")},
        {"same size, later", [&] { WriteWholeFile(path, file("xyz", 1)); }, Text("xyz")},
        {"no stamp", [&] { fault.FailStamps(); }, Text("xyz")},
    };
    for (const auto &[what, change, expected] : changes) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(settle());
        change();
        const auto [data, reads] = load();
        EXPECT_EQ(reads, expected.empty() ? 1u : 4u) << "the header and the map as well";
        EXPECT_EQ(data, expected);
    }
}

class PictureLoading : public ResourceFileTest {
  protected:
    // Opens a file holding the image as FADP 1 and gets it.
    Handle Load(const Bytes &image) {
        const std::string name = "picture" + std::to_string(files_++) + ".rsrc";
        if (Open(Write(name, Described({{kFADP, {Res(1, std::nullopt, image)}}}))) == kNoFile)
            return nullptr;
        return GetResource(kFADP, 1);
    }
    int files_ = 0;
};

// The record gives the bounds; its bitmap block holds the header (image size
// and colours used recomputed), then the colour table or bit-field masks, then
// the pixel rows, zero-filled where the stored image is short.
TEST_F(PictureLoading, RecordAndBitmapBlockFollowTheHeader) {
    std::vector<Bytes> images;
    const int shapes[][3] = {{3, 2, 8},  {10, 3, 1},   {5, 4, 4},  {5, 2, 24},
                             {7, 3, 16}, {40, 40, 24}, {2, 3, 32}, {6, -3, 8}};
    for (auto [w, h, bits] : shapes) {
        images.push_back(Bitmap(w, h, static_cast<uint16_t>(bits)));
        PutU32(images.back(), 14 + kBitmapImageSize, 12345);
        PutU32(images.back(), 14 + kBitmapColoursUsed, 3);
    }
    images.push_back(Bitmap(4, 2, 4));  // a 108-byte header
    images.back().insert(images.back().begin() + 54, 68, 0x5A);
    PutU32(images.back(), 14, 108);
    for (uint16_t bits : {16, 32}) {  // three colour masks behind the header
        images.push_back(Bitmap(3, 5, bits));
        const Bytes masks = bits == 32 ? Bytes{0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0}
                                       : Bytes{0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
        images.back().insert(images.back().begin() + 54, masks.begin(), masks.end());
        PutU32(images.back(), 14 + kBitmapCompression, kBitFieldsCompression);
        PutU32(images.back(), 10, 14 + 40 + 12);
    }
    images.push_back(Bitmap(4, 4, 8));
    PutI32(images.back(), 22, 1000);  // 1000 rows claimed, 4 stored
    images.push_back(Bitmap(2, 2, 24));
    images.back().resize(54);  // the headers alone
    for (const Bytes &image : images) {
        const int32_t width = GetI32(image, 18);
        const uint32_t rows = static_cast<uint32_t>(std::abs(GetI32(image, 22)));
        const uint16_t bits = GetU16(image, 28);
        SCOPED_TRACE(testing::Message() << width << "x" << rows << "x" << bits);
        const uint32_t header = GetU32(image, 14), colours = bits <= 8 ? 1u << bits : 0;
        const bool masks = GetU32(image, 14 + kBitmapCompression) == kBitFieldsCompression;
        const uint32_t pixelStart = 14 + header + 4 * colours + (masks ? 12 : 0);
        const uint32_t rowBytes = ((bits * static_cast<uint32_t>(width) + 31) & ~31u) / 8;
        const uint32_t stored = static_cast<uint32_t>(image.size()) - pixelStart;
        Handle h = Load(image);
        ASSERT_NE(h, nullptr);
        PictureRecord record{};
        ASSERT_TRUE(ReadPictureRecord(h, &record));
        EXPECT_EQ(std::tuple(record.top, record.left, record.bottom, record.right),
                  std::tuple(0, 0, static_cast<int16_t>(rows), static_cast<int16_t>(width)));
        const uint32_t block = MemoryPoolBlockSize(record.bitmap);
        EXPECT_GE(block, 1064 + ((static_cast<uint32_t>(width) + 3) & ~3u) * rows);
        EXPECT_GE(block, pixelStart - 14 + rowBytes * rows);
        EXPECT_EQ(record.bits, record.bitmap + (pixelStart - 14));
        EXPECT_EQ(LoadU32(record.bitmap + kBitmapImageSize), rowBytes * rows);
        EXPECT_EQ(LoadU32(record.bitmap + kBitmapColoursUsed), colours);
        EXPECT_EQ(Bytes(record.bitmap, record.bitmap + 20),
                  Bytes(image.begin() + 14, image.begin() + 34));
        EXPECT_EQ(Bytes(record.bitmap + header, record.bits),
                  Bytes(image.begin() + 14 + header, image.begin() + pixelStart));
        EXPECT_EQ(Bytes(record.bits, record.bits + stored),
                  Bytes(image.begin() + pixelStart, image.end()));
        EXPECT_EQ(Bytes(record.bits + stored, record.bits + rowBytes * rows),
                  Bytes(rowBytes * rows - stored, 0));
        uint32_t size = 0;  // the stored form: headers, colours, masks, every row
        EXPECT_TRUE(PictureImageSize(h, &size));
        EXPECT_EQ(size, 14 + header + 4 * colours + (masks ? 12 : 0) + rowBytes * rows);
        ReleaseResource(h);
    }
}

// Not "BM"; header sizes 39, past the data, huge; widths 0 and 32768; heights
// 0 and -40000; depths 7 and 0; cut inside the header or after the file header.
TEST_F(PictureLoading, DataThatIsNoBitmapIsRefusedAndTriedAgain) {
    const Bytes good = Bitmap(4, 4, 8);
    const std::tuple<size_t, int, int64_t> damages[] = {
        {1, 1, 'N'},     {0, 1, 'b'}, {14, 4, 39}, {14, 4, int64_t(good.size())},
        {14, 4, -16},    {18, 4, 0},  {22, 4, 0},  {18, 4, 32768},
        {22, 4, -40000}, {28, 2, 7},  {28, 2, 0},  {44, 0, 0},
        {14, 0, 0}};
    for (auto [at, width, value] : damages) {
        SCOPED_TRACE(testing::Message() << at << " " << value);
        Bytes image = good;
        if (width == 0) image.resize(at);
        if (width == 1) image[at] = static_cast<uint8_t>(value);
        if (width == 2) PutU16(image, at, static_cast<uint16_t>(value));
        if (width == 4) PutU32(image, at, static_cast<uint32_t>(value));
        EXPECT_TRUE(NotFound(Load(image)));
        // The slot stays empty: the next Get fails the same way, leaving nothing.
        const uint32_t blocks = MemoryPoolBlockCount(), handles = RegisteredHandleCount();
        EXPECT_TRUE(NotFound(GetIndexedResource(kFADP, 1)));
        EXPECT_EQ(MemoryPoolBlockCount(), blocks);
        EXPECT_EQ(RegisteredHandleCount(), handles);
    }
}

}  // namespace
