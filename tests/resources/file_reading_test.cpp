// Reading resource files: the worked example, layout recognition, files that
// must be refused at open or at load time, a flipped-byte sweep, allocation
// failures over a whole session, and the loading of pictures into PictureRecords.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "common/resource_test.h"
#include "resources/map_block.h"
#include "resources/open_files.h"
#include "resources/picture_image.h"
#include "resources/resource_format.h"
#include "support/file_io.h"
#include "support/memory_pool.h"

namespace {

using ResourceReading = ResourceFileTest;

// The worked example, as a plain type and as PICT: the type is found by its
// stored bytes (last character first), never by the bytes in file order.
TEST_F(ResourceReading, WorkedExampleReadsBack) {
    for (uint32_t type : {kFsTI, kPICT}) {
        const Bytes bytes =
            BuildResourceFile(Described({{type, {Res(128, "ab", {0xA1, 0xB2, 0xC3})}}}));
        ASSERT_EQ(bytes.size(), 316u);
        const size_t at = 263 + 30;  // the type entry
        const uint32_t fileOrder = uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 |
                                   uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
        const std::string path = Write("example.rsrc", bytes);
        const uint16_t ref = Open(path);
        ASSERT_NE(ref, kNoFile);
        EXPECT_EQ(ResourceError(), kResourceOk);
        EXPECT_EQ(CountResources(type), 1);
        EXPECT_EQ(CountResources(fileOrder), 0) << TypeName(fileOrder);
        EXPECT_EQ(CountOneResources(fileOrder), 0u);
        if (type == kPICT) {
            // The 3 data bytes are no bitmap image, so the picture cannot be loaded.
            EXPECT_TRUE(NotFound(GetResource(type, 128)));
        } else {
            Handle h = GetResource(type, 128);
            EXPECT_EQ(BytesOf(h), (Bytes{0xA1, 0xB2, 0xC3}));
            EXPECT_EQ(InfoOf(h), std::tuple(128, kFsTI, Str255Of("ab")));
            // By name the same Handle; letter case matters. The name is the last
            // thing in the map block: a longer one must not be compared past it.
            EXPECT_EQ(GetNamedResource(kFsTI, Str255Of("ab").data()), h);
            for (const std::string &other :
                 {std::string("AB"), std::string("a"), std::string(200, 'a')})
                EXPECT_TRUE(NotFound(GetNamedResource(kFsTI, Str255Of(other).data())));
            ReleaseResource(h);
        }
        CloseResourceFile(ref);
        EXPECT_EQ(ResourceError(), kResourceOk);
        EXPECT_EQ(ReadWholeFile(path), bytes);
    }
}

// The handle slots of a file mean nothing: reading the map ignores them, and a
// write-back stores them as 0.
TEST_F(ResourceReading, StoredHandleSlotsAreIgnored) {
    Handle stray = Own(NewHandle(3), kFsTI);
    FixtureFile file = Described({{kFsTI,
                                   {Res(128, "a", Text("abc"), 0, HandleNumber(stray)),
                                    Res(129, std::nullopt, Text("d"), 0, 0xDEADBEEF)}}});
    const std::string path = Write("slots.rsrc", file);
    ASSERT_NE(Open(path), kNoFile);
    EXPECT_EQ(HomeResourceFile(stray), -1);
    ReleaseResource(stray);
    EXPECT_EQ(GetHandleSize(stray), 3) << "a Handle in no map is left alone";
    Handle h = GetResource(kFsTI, 128);
    EXPECT_NE(h, stray);
    EXPECT_EQ(BytesOf(h), Text("abc"));
    ReleaseResource(h);
    CloseAll();
    for (FixtureResource &resource : file.types[0].resources)
        resource.handleSlot = 0;
    EXPECT_EQ(ReadWholeFile(path), BuildResourceFile(file));
}

// Refused at open: failure result, chain, current file and file all untouched.
TEST_F(ResourceReading, DamagedFilesAreRefusedAndLeftAlone) {
    const Bytes good = BuildResourceFile(
        Described({{kFsTI, {Res(128, "alpha", Text("abc")), Res(129, std::nullopt, Text("wxyz"))}},
                   {kSTR, {Res(1, "s", Text("\x05hello"))}}}));
    const size_t map = MapOffsetOf(good);
    const uint32_t mapLength = MapLengthOf(good);
    const size_t type0 = TypeEntryOffset(good, 0);
    const size_t type1 = TypeEntryOffset(good, 1);
    const size_t ref0 = ReferenceEntryOffset(good, 0, 0);
    const size_t strRef = ReferenceEntryOffset(good, 1, 0);
    const size_t names = NameListOffset(good);
    const std::vector<Damage> damages = {
        {"shorter than 16 bytes", [](Bytes &b) { b.resize(12); }},
        {"cut inside the info block", [](Bytes &b) { b.resize(100); }},
        {"data offset other than 256", [](Bytes &b) { PutHeaderField(b, 0, 0x200); }},
        {"whole layout shifted by 16",
         [map](Bytes &b) {
             b.insert(b.begin() + 256, 16, 0);
             for (size_t at : {size_t{0}, map + 16}) {
                 PutU32(b, at, 272);
                 PutU32(b, at + 4, static_cast<uint32_t>(map + 16));
             }
         }},
        {"header copy differs", [&](Bytes &b) { b[map + 12] ^= 0x40; }},
        {"map offset past the end",
         [](Bytes &b) { PutU32(b, 4, static_cast<uint32_t>(b.size())); }},
        {"map length past the end", [&](Bytes &b) { PutHeaderField(b, 12, mapLength + 1); }},
        {"file cut inside the map", [](Bytes &b) { b.pop_back(); }},
        {"map length below 30", [](Bytes &b) { PutHeaderField(b, 12, 29); }},
        {"data area running into the map",
         [](Bytes &b) { PutHeaderField(b, 8, DataLengthOf(b) + 1); }},
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
        {"runs overlapping by one entry",
         [&](Bytes &b) { PutI16(b, type1 + 6, static_cast<int16_t>(GetI16(b, type0 + 6) + 12)); }},
        {"name offset just past the map",
         [&](Bytes &b) { PutI16(b, ref0 + 2, static_cast<int16_t>(map + mapLength - names)); }},
        {"name offset negative", [&](Bytes &b) { PutI16(b, ref0 + 2, -2); }},
        {"name running past the map", [](Bytes &b) { b[b.size() - 2] = 200; }},
        {"names overlapping",
         [&](Bytes &b) {
             b[names + 1] = 2;  // a name of length 2 inside "alpha"
             PutI16(b, strRef + 2, 1);
         }},
        {"two entries sharing a name", [&](Bytes &b) { PutI16(b, strRef + 2, 0); }},
    };

    const uint16_t goodRef = Open(Write("good.rsrc", good));
    ASSERT_NE(goodRef, kNoFile);
    for (const auto &[what, damage] : damages) {
        SCOPED_TRACE(what);
        Bytes bytes = good;
        damage(bytes);
        const std::string path = Write("damaged.rsrc", bytes);
        EXPECT_EQ(Open(path), kNoFile);
        EXPECT_EQ(ResourceError(), kFileNotUsable);
        EXPECT_EQ(ResourceError(), kResourceOk);
        EXPECT_EQ(CurrentResourceFile(), goodRef);
        EXPECT_EQ(ChainNumbers(), std::vector<uint16_t>{goodRef});
        EXPECT_EQ(ReadWholeFile(path), bytes);
        EXPECT_EQ(ListFolder(temp_.path()),
                  (std::vector<std::string>{"damaged.rsrc", "good.rsrc"}));
    }
    // The good file is still served, and the next open takes the next number.
    EXPECT_EQ(CountResources(kFsTI), 2);
    EXPECT_EQ(Open(Write("other.rsrc", good)), goodRef + 1);
}

// Entries whose data cannot be loaded fail the Get, but not the file.
TEST_F(ResourceReading, UnloadableDataFailsOnlyThatGet) {
    FixtureFile file = Described({{kFsTI,
                                   {Res(128, "good", Text("abc")), Res(129, {}), Res(132, {}),
                                    Res(131, {}), Res(133, {}), Res(130, {}, Text("12345"))}}});
    for (size_t r : {1, 3, 4})
        file.types[0].resources[r].dataOffset = 0;  // no block of their own
    const uint32_t dataLength = DataLengthOf(BuildResourceFile(file));
    file.types[0].resources[1].dataOffset = 0x800000;        // bit 23 set
    file.types[0].resources[3].dataOffset = dataLength;      // no room for the byte count
    file.types[0].resources[4].dataOffset = dataLength - 2;  // byte count half outside
    Bytes bytes = BuildResourceFile(file);
    ASSERT_EQ(DataLengthOf(bytes), dataLength);
    // The last block's byte count claims one byte more than the data area holds.
    PutU32(bytes, DataBlockOffset(bytes, 0, 5), 6);
    const std::string path = Write("loads.rsrc", bytes);

    const uint16_t ref = Open(path);
    ASSERT_NE(ref, kNoFile);
    EXPECT_EQ(CountResources(kFsTI), 6);
    const uint32_t handles = RegisteredHandleCount();
    // The slot stays empty, so the next Get tries again and fails again.
    for (int16_t id : {129, 130, 131, 132, 133, 129, 130, 131, 132, 133})
        EXPECT_TRUE(NotFound(GetResource(kFsTI, id))) << id;
    EXPECT_TRUE(NotFound(GetIndexedResource(kFsTI, 2)));
    EXPECT_EQ(RegisteredHandleCount(), handles);
    Handle h = GetResource(kFsTI, 128);
    EXPECT_EQ(BytesOf(h), Text("abc"));
    EXPECT_EQ(GetIndexedResource(kFsTI, 1), h);
    ReleaseResource(h);
    CloseResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), bytes);
}

// Flipped bytes: every offset of a small file, several patterns.

FixtureFile SweepFile() {
    return Described({{kFsTI, {Res(128, "ab", Text("xyz")), Res(129, std::nullopt, {1, 2})}},
                      {kPICT, {Res(5, "p", Bitmap(2, 2, 1))}},
                      {kSTRList, {Res(1, std::nullopt, {2, 0, 1, 'a', 2, 'b', 'c'})}}});
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
    uint8_t buffer[257];
    for (int16_t index = -1; index < 4; ++index)
        GetIndexedString(buffer, 1, index);  // loads the list into its slot
    for (uint32_t type : {kFsTI, kPICT, kSTRList, kSTR}) {
        const int16_t count = CountResources(type);
        for (int16_t i = 0; i <= count + 1; ++i)
            take(GetIndexedResource(type, i), type);
        for (int16_t id : {128, 129, 5, 1})
            take(GetResource(type, id), type);
        for (const char *name : {"ab", "p", "", "abcdefghijklmnopqrstuvwxyz"})
            take(GetNamedResource(type, Str255Of(name).data()), type);
    }
    CloseResourceFile(ref);
    std::set<Handle> disposed;
    for (auto &[h, type] : kept) {
        if (disposed.insert(h).second) DisposeResourceHandle(h, type);
    }
}

TEST_F(ResourceReading, FlippedBytesNeverCrashOrDamageTheFile) {
    const FixtureFile described = SweepFile();
    const Bytes good = BuildResourceFile(described);
    ASSERT_LT(good.size(), 600u);
    // Bytes that a close may legitimately rewrite in an opened file: the handle
    // slots (written as 0), the attribute bytes (a changed bit makes the close
    // rewrite the file) and the dead-bytes counter (which can ask for a rewrite).
    std::set<size_t> rewritable = {32, 33, 34, 35};
    for (size_t t = 0; t < described.types.size(); ++t) {
        for (size_t r = 0; r < described.types[t].resources.size(); ++r) {
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
                ExerciseAndClose(ref);
                const Bytes after = ReadWholeFile(path);
                std::string why;
                if (after != bytes) {
                    EXPECT_TRUE(rewritable.count(offset) != 0 || LayoutOf(bytes) != 1500)
                        << "an unchanged file was rewritten";
                    EXPECT_TRUE(ParseResourceFile(after, nullptr, &why)) << why;
                }
            }
            EXPECT_TRUE(ChainNumbers().empty());
            EXPECT_EQ(MemoryPoolBlockCount(), blocks) << "blocks left behind";
        }
    }
    // Flips of names, data, ids and reserved fields leave a usable file.
    EXPECT_GT(opened, static_cast<int>(good.size()));

    // A file rewritten on close because the flip set a changed attribute or the
    // dead-bytes counter still holds every resource as it was.
    for (auto [offset, pattern] : std::vector<std::pair<size_t, uint8_t>>{
             {ReferenceEntryOffset(good, 0, 1) + 7, kAttrChanged},  // FsTI 129 marked changed
             {33, 0x01},                                            // 256 dead bytes in 400
             {35, 0x80}}) {                                         // a negative counter
        Bytes bytes = good;
        bytes[offset] ^= pattern;
        WriteWholeFile(path, bytes);
        ExerciseAndClose(Open(path));
        const Bytes after = ReadWholeFile(path);
        EXPECT_NE(after, bytes) << offset;
        const FixtureFile parsed = Parse(after);
        EXPECT_EQ(parsed.deadBytes, 0);
        EXPECT_EQ(FlatResources(parsed), FlatResources(described)) << offset;
    }
}

// A whole reading session with its n-th allocation failing: each Get gives the
// data (a picture: its record) or fails with -192, and nothing is left behind.
TEST_F(ResourceReading, EveryFailedAllocationFailsCleanly) {
    const Bytes images[] = {
        BuildResourceFile(Described(
            {{kFsTI, {Res(128, "plain", Text("abcd")), Res(129, {}, Text("pre"), kAttrPreload)}},
             {kFADP, {Res(200, "pic", Bitmap(3, 2, 8))}}})),
        BuildResourceFile(Described({{kSTRList, {Res(1, std::nullopt, {1, 0, 2, 'h', 'i'})}}}))};
    const std::string paths[] = {Write("a.rsrc", images[0]), Write("b.rsrc", images[1])};
    StopResourceManager();
    const uint32_t blocks = MemoryPoolBlockCount();
    const uint32_t handles = RegisteredHandleCount();
    auto check = [](Handle h, const Bytes &expected) {
        EXPECT_EQ(ResourceError(), h == nullptr ? kResourceNotFound : kResourceOk);
        EXPECT_TRUE(h == nullptr || expected.empty() || BytesOf(h) == expected);
        ReleaseResource(h);
    };
    ForEachFault(
        {kAllocationFault}, [] {},
        [&] {
            const int16_t started = StartResourceManager();
            EXPECT_TRUE(started == 0 || started == kGenericFailure) << started;
            for (const std::string &path : paths)
                EXPECT_EQ(ResourceError(), Open(path) == kNoFile ? kFileNotUsable : kResourceOk);
            check(GetResource(kFsTI, 128), Text("abcd"));
            check(GetResource(kFsTI, 129), Text("pre"));
            check(GetResource(kFADP, 200), {});
            check(GetIndexedResource(kSTRList, 1), {1, 0, 2, 'h', 'i'});
            CloseAll();
            StopResourceManager();
        },
        [&](int, bool) {
            EXPECT_EQ(MemoryPoolBlockCount(), blocks);
            EXPECT_EQ(RegisteredHandleCount(), handles);
            EXPECT_EQ(ReadWholeFile(paths[0]), images[0]);
            EXPECT_EQ(ReadWholeFile(paths[1]), images[1]);
        });
    ASSERT_EQ(StartResourceManager(), 0);
}

// Pictures.

class PictureLoading : public ResourceFileTest {
  protected:
    // Opens a file holding the image as FADP 1 and gets it.
    Handle Load(const Bytes &image) {
        const std::string name = "picture" + std::to_string(files_++) + ".rsrc";
        if (Open(Write(name, Described({{kFADP, {Res(1, std::nullopt, image)}}}))) == kNoFile) {
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

TEST_F(PictureLoading, RecordAndBitmapBlockFollowTheHeader) {
    struct Shape {
        int32_t width;
        int32_t height;
        uint16_t bits;
    };
    for (Shape shape : {Shape{3, 2, 8}, Shape{10, 3, 1}, Shape{5, 4, 4}, Shape{5, 2, 24},
                        Shape{7, 3, 16}, Shape{40, 40, 24}, Shape{2, 3, 32}, Shape{6, -3, 8}}) {
        SCOPED_TRACE(std::to_string(shape.width) + "x" + std::to_string(shape.height) + "x" +
                     std::to_string(shape.bits));
        Bytes image = Bitmap(shape.width, shape.height, shape.bits);
        const uint32_t pixelStart = GetU32(image, 10);
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
        const PictureRecord record = RecordOf(h);
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
                  Bytes(image.begin() + 54, image.begin() + pixelStart));
        EXPECT_EQ(Bytes(record.bits, record.bits + rowBytes * rows),
                  Bytes(image.begin() + pixelStart, image.end()));
        ReleaseResource(h);
    }
}

// The colour table and the pixels follow the header whatever its size, and
// with compression 3 three 4-byte colour masks stand between header and pixels.
TEST_F(PictureLoading, LargerHeadersAndBitFieldMasksMoveThePixels) {
    Bytes image = Bitmap(4, 2, 4);
    image.insert(image.begin() + 54, 68, 0x5A);  // a 108-byte header
    PutU32(image, 14, 108);
    Handle h = Load(image);
    ASSERT_NE(h, nullptr);
    PictureRecord record = RecordOf(h);
    EXPECT_EQ(record.bits, record.bitmap + 108 + 64);
    EXPECT_EQ(Bytes(record.bits, record.bits + 8), Bytes(image.end() - 8, image.end()));
    ReleaseResource(h);

    for (uint16_t bits : {16, 32}) {
        SCOPED_TRACE(bits);
        image = Bitmap(3, 5, bits);
        const Bytes masks = bits == 32 ? Bytes{0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0}
                                       : Bytes{0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
        image.insert(image.begin() + 54, masks.begin(), masks.end());
        PutU32(image, 14 + kBitmapCompression, kBitFieldsCompression);
        PutU32(image, 10, 14 + 40 + 12);
        const uint32_t pixels = bits == 32 ? 3 * 4 * 5 : 8 * 5;
        h = Load(image);
        ASSERT_NE(h, nullptr);
        record = RecordOf(h);
        EXPECT_EQ(record.bits, record.bitmap + 40 + 12);
        EXPECT_GE(MemoryPoolBlockSize(record.bitmap), 40u + 12 + pixels);
        EXPECT_EQ(LoadU32(record.bitmap + kBitmapColoursUsed), 0u);
        EXPECT_EQ(Bytes(record.bitmap + 40, record.bits), masks);
        EXPECT_EQ(Bytes(record.bits, record.bits + pixels),
                  Bytes(image.end() - pixels, image.end()));
        // The stored form made from the record gives back the same masks and pixels.
        uint32_t size = 0;
        uint8_t *stored = ImageFromPicture(h, &size);
        ASSERT_EQ(size, image.size());
        EXPECT_EQ(Bytes(stored + 54, stored + size), Bytes(image.begin() + 54, image.end()));
        DisposePointer(stored);
        ReleaseResource(h);
    }
}

TEST_F(PictureLoading, DataThatIsNoBitmapIsRefusedAndTriedAgain) {
    Bytes notBm = Bitmap(2, 2, 1);
    notBm[1] = 'N';
    EXPECT_TRUE(NotFound(Load(notBm)));
    const uint32_t blocks = MemoryPoolBlockCount();
    const uint32_t handles = RegisteredHandleCount();
    // The slot stayed empty: the next Get tries again, fails the same way and
    // leaves nothing behind.
    EXPECT_TRUE(NotFound(GetResource(kFADP, 1)));
    EXPECT_TRUE(NotFound(GetIndexedResource(kFADP, 1)));
    EXPECT_EQ(MemoryPoolBlockCount(), blocks);
    EXPECT_EQ(RegisteredHandleCount(), handles);

    const std::vector<Damage> damages = {
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
    for (const auto &[what, damage] : damages) {
        Bytes image = Bitmap(4, 4, 8);
        damage(image);
        EXPECT_TRUE(NotFound(Load(image))) << what;
    }
}

// An image with fewer bytes than its header promises (here a height of 1000
// rows) loads what is there and zero-fills the rest; nothing is read outside
// the stored data.
TEST_F(PictureLoading, ShortImagesAreZeroFilled) {
    const Bytes full = Bitmap(4, 4, 8);
    const uint32_t pixels = GetU32(full, 10);
    Bytes tall = full;
    PutI32(tall, 22, 1000);  // a height claiming 1000 rows
    Handle h = Load(tall);
    ASSERT_NE(h, nullptr);
    const PictureRecord record = RecordOf(h);
    EXPECT_EQ(record.bottom, 1000);
    EXPECT_GE(MemoryPoolBlockSize(record.bitmap), 1064u + 4 * 1000);
    EXPECT_EQ(LoadU32(record.bitmap + kBitmapImageSize), 4000u);
    EXPECT_EQ(Bytes(record.bits, record.bits + 16), Bytes(full.begin() + pixels, full.end()));
    EXPECT_EQ(Bytes(record.bits + 16, record.bits + 4000), Bytes(4000 - 16, 0));
    ReleaseResource(h);
}

}  // namespace
