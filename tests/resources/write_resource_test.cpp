// Writing single resources into their file, and a randomised comparison of
// whole editing sessions against a plain model of the file's resources.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/fault_platform.h"
#include "common/fixture.h"
#include "common/test_env.h"
#include "resources/handles.h"
#include "resources/picture_image.h"
#include "resources/resource_manager.h"
#include "support/memory_pool.h"
#include "support/strings.h"

namespace {

constexpr uint32_t kFsTI = FourCC("FsTI");
constexpr uint32_t kStr = FourCC("STR ");
constexpr uint32_t kWnew = FourCC("Wnew");
constexpr uint32_t kPict = FourCC("PICT");
constexpr uint32_t kFadp = FourCC("FADP");

constexpr size_t kCounterOffset = 32;  // the dead-bytes counter in the file

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 8));
    return bytes;
}

FixtureResource Res(int16_t id, std::optional<std::string> name, std::vector<uint8_t> data,
                    uint8_t attributes = 0) {
    FixtureResource resource;
    resource.id = id;
    resource.name = std::move(name);
    resource.data = std::move(data);
    resource.attributes = attributes;
    return resource;
}

struct Str {
    explicit Str(const std::string &text) { CToStr255(text.c_str(), bytes); }
    uint8_t bytes[256];
};

Handle HandleWith(const std::vector<uint8_t> &data) {
    Handle h = NewHandle(static_cast<int32_t>(data.size()));
    if (h != nullptr && !data.empty()) std::memcpy(*h, data.data(), data.size());
    return h;
}

std::vector<uint8_t> BytesOf(Handle h) {
    if (h == nullptr || *h == nullptr) return {};
    return std::vector<uint8_t>(*h, *h + GetHandleSize(h));
}

FixtureFile Parse(const std::vector<uint8_t> &bytes) {
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

// FsTI 128 of 80 bytes, two more resources, and 7 dead bytes in front.
FixtureFile Base() {
    FixtureFile file;
    file.deadBytes = 7;
    file.deadData = Pattern(7, 1);
    file.types = {
        {kFsTI, {Res(128, "fish", Pattern(80, 2), 0x20), Res(129, std::nullopt, Pattern(30, 3))}},
        {kStr, {Res(1, "s", Pattern(12, 4))}},
    };
    return file;
}

// A picture Handle made by hand from a bitmap file image: its PictureRecord
// and a bitmap block holding everything behind the 14-byte file header, with
// the image-size and colours-used fields cleared.
Handle PictureHandle(const std::vector<uint8_t> &image, uint32_t colours) {
    Handle h = NewHandle(sizeof(PictureRecord));
    if (h == nullptr) return nullptr;
    uint32_t size = static_cast<uint32_t>(image.size() - 14);
    auto *bitmap = static_cast<uint8_t *>(NewPointer(size));
    std::memcpy(bitmap, image.data() + 14, size);
    std::memset(bitmap + 20, 0, 4);
    std::memset(bitmap + 32, 0, 4);
    PictureRecord record = {};
    record.bottom = static_cast<int16_t>(GetI32(image, 22));
    record.right = static_cast<int16_t>(GetI32(image, 18));
    record.bitmap = bitmap;
    record.bits = bitmap + 40 + 4 * colours;
    std::memcpy(*h, &record, sizeof record);
    return h;
}

// The bitmap file image of a picture Handle, rebuilt by hand from its record.
std::vector<uint8_t> ImageOfPicture(Handle h) {
    PictureRecord record;
    std::memcpy(&record, *h, sizeof record);
    const uint8_t *bitmap = record.bitmap;
    uint32_t headerSize, coloursUsed, imageSize;
    std::memcpy(&headerSize, bitmap, 4);
    std::memcpy(&imageSize, bitmap + 20, 4);
    std::memcpy(&coloursUsed, bitmap + 32, 4);
    std::vector<uint8_t> image(14, 0);
    image[0] = 'B';
    image[1] = 'M';
    image.insert(image.end(), bitmap, bitmap + headerSize + 4 * coloursUsed + imageSize);
    PutU32(image, 2, static_cast<uint32_t>(image.size()));
    PutU32(image, 10, 14 + headerSize + 4 * coloursUsed);
    return image;
}

std::vector<FixtureColour> Palette(size_t count) {
    std::vector<FixtureColour> palette(count);
    for (size_t i = 0; i < count; ++i) {
        palette[i] = {static_cast<uint8_t>(i * 3), static_cast<uint8_t>(255 - i),
                      static_cast<uint8_t>(i * 7 + 1)};
    }
    return palette;
}

class WriteResourceTest : public PoolTest {
  protected:
    void SetUp() override {
        PoolTest::SetUp();
        ASSERT_EQ(StartResourceManager(), 0);
    }

    void TearDown() override {
        CloseAll();
        StopResourceManager();
        PoolTest::TearDown();
    }

  public:
    std::string Put(const FixtureFile &file, const TempDir &dir) {
        std::string path = dir.File("content.rez");
        WriteWholeFile(path, BuildResourceFile(file));
        return path;
    }

    uint16_t Open(const std::string &path) {
        uint16_t ref = OpenResourceFile(Str(path).bytes);
        EXPECT_NE(ref, kNoFile) << path;
        if (ref != kNoFile) open_.push_back(ref);
        return ref;
    }

    void Close(uint16_t ref) {
        CloseResourceFile(ref);
        open_.erase(std::remove(open_.begin(), open_.end(), ref), open_.end());
    }

    // Closes every file, then gives back every Handle the test has seen that
    // still lives: the library does not dispose Handles left in slots.
    void CloseAll() {
        while (!open_.empty())
            Close(open_.back());
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

    Handle Own(Handle h, uint32_t type) {
        if (h != nullptr) owned_[h] = type;
        return h;
    }

    Handle Get(uint32_t type, int16_t id) { return Own(GetResource(type, id), type); }

    Handle Add(Handle h, uint32_t type, int16_t id, const std::string &name) {
        Own(h, type);
        AddResource(h, type, id, Str(name).bytes);
        EXPECT_EQ(ResourceError(), 0);
        return h;
    }

    Handle Add(const std::vector<uint8_t> &data, uint32_t type, int16_t id,
               const std::string &name) {
        return Add(HandleWith(data), type, id, name);
    }

    // FsTI 128 grown from 80 to 100 bytes in memory and marked changed.
    Handle GrowFish() {
        Handle h = Get(kFsTI, 128);
        Handle extra = HandleWith(Pattern(20, 50));
        EXPECT_EQ(AppendHandle(extra, h), 0);
        DisposeHandle(extra);
        MarkResourceChanged(h);
        EXPECT_EQ(ResourceError(), 0);
        return h;
    }

    // FsTI 128 replaced by a resource of 60 bytes under the same id and name.
    Handle ShrinkFish() {
        Handle old = Get(kFsTI, 128);
        RemoveResource(old);
        EXPECT_EQ(ResourceError(), 0);
        return Add(Pattern(60, 60), kFsTI, 128, "fish");
    }

    Handle AddNew() { return Add(Pattern(50, 5), kWnew, 5, "added"); }

  protected:
    std::vector<uint16_t> open_;
    std::map<Handle, uint32_t> owned_;
};

using ResourceModelTest = WriteResourceTest;

// ---------------------------------------------------------------------------
// Where the data goes

TEST_F(WriteResourceTest, GrownDataGoesBehindTheDataArea) {
    std::string path = Put(Base(), temp_);
    std::vector<uint8_t> before = ReadWholeFile(path);
    uint16_t ref = Open(path);
    Handle h = GrowFish();
    std::vector<uint8_t> grown = BytesOf(h);
    ASSERT_EQ(grown.size(), 100u);
    WriteResource(h);
    EXPECT_EQ(ResourceError(), 0);

    std::vector<uint8_t> after = ReadWholeFile(path);
    EXPECT_EQ(MapOffsetOf(after), MapOffsetOf(before) + 104);
    EXPECT_EQ(DataLengthOf(after), DataLengthOf(before) + 104);
    EXPECT_EQ(after.size(), before.size() + 104);
    // Nothing before the old map moved, apart from the header and the counter.
    EXPECT_TRUE(std::equal(before.begin() + 16, before.begin() + 32, after.begin() + 16));
    EXPECT_TRUE(
        std::equal(before.begin() + 36, before.begin() + MapOffsetOf(before), after.begin() + 36));
    FixtureFile parsed = Parse(after);
    EXPECT_EQ(parsed.deadBytes, 7 + 100);
    const FixtureResource *fish = Find(parsed, kFsTI, 128);
    ASSERT_NE(fish, nullptr);
    EXPECT_EQ(fish->dataOffset, DataLengthOf(before));
    EXPECT_EQ(fish->data, grown);
    EXPECT_EQ(fish->attributes, 0x20);
    FixtureFile expected = Base();
    expected.types[0].resources[0].data = grown;
    EXPECT_EQ(FlatResources(parsed), FlatResources(expected));

    // The Handle stays with its resource, no longer marked: releasing it works,
    // and the data comes back from the file.
    ReleaseResource(h);
    EXPECT_EQ(ResourceError(), 0);
    EXPECT_EQ(BytesOf(Get(kFsTI, 128)), grown);
    Close(ref);
}

TEST_F(WriteResourceTest, SmallerDataGoesOverTheOldBlock) {
    FixtureFile file = Base();
    file.types[0].resources[1].attributes = 0x10;
    std::string path = Put(file, temp_);
    uint16_t ref = Open(path);
    Handle loaded = Get(kFsTI, 129);
    Handle pending = Get(kStr, 1);
    (*pending)[0] ^= 0xFF;
    MarkResourceChanged(pending);
    Handle h = ShrinkFish();
    std::vector<uint8_t> before = ReadWholeFile(path);
    FixtureFile parsedBefore = Parse(before);
    int32_t counter = GetI32(before, kCounterOffset);
    EXPECT_EQ(counter, 7 + 80);

    WriteResource(h);
    EXPECT_EQ(ResourceError(), 0);
    std::vector<uint8_t> after = ReadWholeFile(path);
    EXPECT_EQ(MapOffsetOf(after), MapOffsetOf(before));
    EXPECT_EQ(GetI32(after, kCounterOffset), counter + 20);
    FixtureFile parsed = Parse(after);
    const FixtureResource *fish = Find(parsed, kFsTI, 128);
    ASSERT_NE(fish, nullptr);
    EXPECT_EQ(fish->dataOffset, Find(parsedBefore, kFsTI, 128)->dataOffset);
    EXPECT_EQ(fish->data, Pattern(60, 60));
    // Behind the new data the rest of the old block is left as it was.
    size_t block = 256 + fish->dataOffset.value_or(0);
    EXPECT_TRUE(std::equal(before.begin() + block + 64, before.begin() + block + 84,
                           after.begin() + block + 64));
    // Every resource that had no change waiting lost its attributes.
    EXPECT_EQ(fish->attributes, 0);
    EXPECT_EQ(Find(parsed, kFsTI, 129)->attributes, 0);
    // The change still waiting in memory is marked in the map on disk too.
    EXPECT_EQ(Find(parsed, kStr, 1)->attributes, 0x02);

    // Its Handle and the other unchanged one were let go; the changed one was not.
    ReleaseResource(h);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(BytesOf(h), Pattern(60, 60));
    ReleaseResource(loaded);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    Handle again = Get(kFsTI, 128);
    EXPECT_NE(again, h);
    EXPECT_EQ(BytesOf(again), Pattern(60, 60));
    ReleaseResource(pending);
    EXPECT_EQ(ResourceError(), 0);
    EXPECT_EQ(Get(kStr, 1), pending);

    // The change still waiting reaches the file at the next write-back.
    UpdateResourceFile(ref);
    FixtureFile expected = Base();
    expected.types[0].resources.erase(expected.types[0].resources.begin());
    expected.types[0].resources.push_back(Res(128, "fish", Pattern(60, 60)));
    expected.types[1].resources[0].data[0] ^= 0xFF;
    EXPECT_EQ(FlatResources(Parse(ReadWholeFile(path))), FlatResources(expected));
}

TEST_F(WriteResourceTest, AddedResourceIsAppendedWithoutDeadBytes) {
    std::string path = Put(Base(), temp_);
    std::vector<uint8_t> before = ReadWholeFile(path);
    uint16_t ref = Open(path);
    Handle h = Add(Pattern(50, 5), kWnew, 5, "added");
    WriteResource(h);
    EXPECT_EQ(ResourceError(), 0);
    std::vector<uint8_t> after = ReadWholeFile(path);
    EXPECT_EQ(DataLengthOf(after), DataLengthOf(before) + 54);
    EXPECT_EQ(MapLengthOf(after), MapLengthOf(before) + 8 + 12 + 6);
    EXPECT_EQ(GetI32(after, kCounterOffset), 7);
    FixtureFile parsed = Parse(after);
    const FixtureResource *added = Find(parsed, kWnew, 5);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->dataOffset, DataLengthOf(before));
    EXPECT_EQ(added->name, "added");
    EXPECT_EQ(added->attributes, 0);
    EXPECT_EQ(added->data, Pattern(50, 5));
    ReleaseResource(h);
    EXPECT_EQ(ResourceError(), 0);
    Close(ref);
}

TEST_F(WriteResourceTest, AddedResourcesWrittenInTurnKeepOtherData) {
    // Without dead bytes, the first block of the data area is FsTI 128's.
    FixtureFile file = Base();
    file.deadData.clear();
    file.deadBytes = 0;
    std::string path = Put(file, temp_);
    uint16_t ref = Open(path);
    Handle first = Add(Pattern(10, 1), kWnew, 1, "");
    Handle second = Add(Pattern(12, 2), kWnew, 2, "");
    WriteResource(second);
    EXPECT_EQ(ResourceError(), 0);
    WriteResource(first);
    EXPECT_EQ(ResourceError(), 0);
    file.types.push_back(
        {kWnew, {Res(1, std::nullopt, Pattern(10, 1)), Res(2, std::nullopt, Pattern(12, 2))}});
    EXPECT_EQ(FlatResources(Parse(ReadWholeFile(path))), FlatResources(file));
    Close(ref);
    EXPECT_EQ(FlatResources(Parse(ReadWholeFile(path))), FlatResources(file));
}

TEST_F(WriteResourceTest, NothingIsWrittenForUnchangedOrUnknownHandles) {
    std::string path = Put(Base(), temp_);
    std::vector<uint8_t> before = ReadWholeFile(path);
    uint16_t ref = Open(path);
    Handle h = Get(kFsTI, 129);
    FaultPlatform platform;
    WriteResource(h);
    EXPECT_EQ(ResourceError(), 0);
    Handle stranger = Own(HandleWith(Pattern(4, 4)), kWnew);
    WriteResource(stranger);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    WriteResource(nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(platform.Calls(PlatformOp::Open), 0u);
    EXPECT_EQ(ReadWholeFile(path), before);
    Close(ref);
}

TEST_F(WriteResourceTest, NegativeCounterIsReplaced) {
    FixtureFile file = Base();
    file.deadBytes = -50;
    std::string path = Put(file, temp_);
    uint16_t ref = Open(path);
    WriteResource(GrowFish());
    EXPECT_EQ(ResourceError(), 0);
    EXPECT_EQ(GetI32(ReadWholeFile(path), kCounterOffset), 100);
    Close(ref);
}

TEST_F(WriteResourceTest, ResourceWithoutDataIsRefusedAndStaysChanged) {
    std::string path = Put(Base(), temp_);
    std::vector<uint8_t> before = ReadWholeFile(path);
    uint16_t ref = Open(path);
    Handle empty = Add(NewHandle(0), kWnew, 3, "empty");
    {
        FaultPlatform platform;
        WriteResource(empty);
        EXPECT_EQ(ResourceError(), kDiskFull);
        EXPECT_EQ(platform.Calls(PlatformOp::Open), 0u);
    }
    EXPECT_EQ(ReadWholeFile(path), before);
    // The file still lacks it, so the write-back of the file stores it.
    Close(ref);
    FixtureFile expected = Base();
    expected.types.push_back({kWnew, {Res(3, "empty", {})}});
    EXPECT_EQ(FlatResources(Parse(ReadWholeFile(path))), FlatResources(expected));
}

TEST_F(WriteResourceTest, PictureIsStoredAsBitmapImageAndReadBack) {
    // 5 x 3 at 8 bits: rows of 5 bytes padded to 8.
    std::vector<uint32_t> pixels(15);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint32_t>(i * 17 % 256);
    std::vector<FixtureColour> palette = Palette(256);
    std::vector<uint8_t> image = BuildBitmapImage(5, 3, 8, palette, pixels);
    FixtureFile file = Base();
    file.types.push_back({kPict, {Res(200, "pic", image)}});
    std::string path = Put(file, temp_);
    uint16_t ref = Open(path);

    Handle h = Get(kPict, 200);
    ASSERT_NE(h, nullptr);
    MarkResourceChanged(h);
    WriteResource(h);
    ASSERT_EQ(ResourceError(), 0);
    FixtureFile parsed = Parse(ReadWholeFile(path));
    const FixtureResource *stored = Find(parsed, kPict, 200);
    ASSERT_NE(stored, nullptr);
    ASSERT_GE(stored->data.size(), 14u);
    EXPECT_EQ(stored->data[0], 'B');
    EXPECT_EQ(stored->data[1], 'M');
    FixtureBitmap bitmap;
    std::string why;
    ASSERT_TRUE(ParseBitmapImage(stored->data, &bitmap, &why)) << why;
    EXPECT_EQ(bitmap.width, 5);
    EXPECT_EQ(bitmap.height, 3);
    EXPECT_EQ(bitmap.bitsPerPixel, 8);
    EXPECT_EQ(bitmap.palette, palette);
    EXPECT_EQ(bitmap.pixels, pixels);
    EXPECT_EQ(bitmap.pixelOffsetField, 1078u);
    EXPECT_EQ(bitmap.fileSizeField, stored->data.size());

    // The write let go of the Handle; a Get loads the picture again.
    ReleaseResource(h);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    Handle again = Get(kPict, 200);
    ASSERT_NE(again, nullptr);
    PictureRecord record;
    std::memcpy(&record, *again, sizeof record);
    EXPECT_EQ(record.right, 5);
    EXPECT_EQ(record.bottom, 3);
    FixtureBitmap reread;
    ASSERT_TRUE(ParseBitmapImage(ImageOfPicture(again), &reread, &why)) << why;
    EXPECT_EQ(reread.palette, palette);
    EXPECT_EQ(reread.pixels, pixels);
    Close(ref);
}

TEST_F(WriteResourceTest, AddedPictureGetsRecomputedFieldsAndFixedPixelOffset) {
    // 7 x 2 at 4 bits: 16 colours, rows of 4 bytes.
    std::vector<uint32_t> pixels = {0, 1, 2, 3, 4, 5, 6, 15, 14, 13, 12, 11, 10, 9};
    std::vector<FixtureColour> palette = Palette(16);
    std::vector<uint8_t> image = BuildBitmapImage(7, 2, 4, palette, pixels);
    std::string path = Put(Base(), temp_);
    std::vector<uint8_t> before = ReadWholeFile(path);
    uint16_t ref = Open(path);
    Handle h = Add(PictureHandle(image, 16), kFadp, 9, "");
    WriteResource(h);
    ASSERT_EQ(ResourceError(), 0);

    FixtureFile parsed = Parse(ReadWholeFile(path));
    const FixtureResource *stored = Find(parsed, kFadp, 9);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->dataOffset, DataLengthOf(before));
    EXPECT_EQ(stored->data.size(), 14u + 40 + 64 + 8);
    FixtureBitmap bitmap;
    std::string why;
    ASSERT_TRUE(ParseBitmapImage(stored->data, &bitmap, &why)) << why;
    EXPECT_EQ(bitmap.width, 7);
    EXPECT_EQ(bitmap.height, 2);
    EXPECT_EQ(bitmap.palette, palette);
    EXPECT_EQ(bitmap.pixels, pixels);
    EXPECT_EQ(bitmap.pixelOffsetField, 1078u);
    EXPECT_EQ(bitmap.imageSizeField, 8u);
    EXPECT_EQ(bitmap.coloursUsedField, 16u);

    // The next write-back stores the same image again.
    SetResourceCompaction(3);
    Close(ref);
    FixtureFile rewritten = Parse(ReadWholeFile(path));
    ASSERT_NE(Find(rewritten, kFadp, 9), nullptr);
    EXPECT_EQ(Find(rewritten, kFadp, 9)->data, stored->data);
}

// ---------------------------------------------------------------------------
// Failures

const char *OpName(PlatformOp op) {
    static const char *const names[] = {"open",   "read", "write",      "seek", "close",
                                        "delete", "move", "free space", "size", "truncate"};
    return names[static_cast<int>(op)];
}

struct WriteCase {
    const char *name;
    Handle (WriteResourceTest::*prepare)();
    std::vector<FlatResource> expected;
};

class WriteResourceFaults : public WriteResourceTest {
  protected:
    std::vector<WriteCase> Cases() {
        FixtureFile grown = Base();
        grown.types[0].resources[0].data = Pattern(80, 2);
        std::vector<uint8_t> extra = Pattern(20, 50);
        grown.types[0].resources[0].data.insert(grown.types[0].resources[0].data.end(),
                                                extra.begin(), extra.end());
        FixtureFile shrunk = Base();
        shrunk.types[0].resources[0] = Res(128, "fish", Pattern(60, 60));
        FixtureFile added = Base();
        added.types.push_back({kWnew, {Res(5, "added", Pattern(50, 5))}});
        return {{"append", &WriteResourceTest::GrowFish, FlatResources(grown)},
                {"in place", &WriteResourceTest::ShrinkFish, FlatResources(shrunk)},
                {"new", &WriteResourceTest::AddNew, FlatResources(added)}};
    }

    // A fresh file with one resource waiting to be written; the Handle.
    Handle Prepare(const WriteCase &c, const TempDir &dir, std::string *path) {
        *path = Put(Base(), dir);
        Open(*path);
        return (this->*c.prepare)();
    }

    // After a write that failed or not, the file's map in memory still fits
    // the file: every resource that waits in no Handle is read right, and the
    // write-back at closing stores every resource as it should be.
    void ExpectConsistent(const WriteCase &c, const std::string &path) {
        for (const FlatResource &resource : c.expected) {
            Handle h = Get(resource.type, resource.id);
            EXPECT_EQ(BytesOf(h), resource.data) << resource;
        }
        CloseAll();
        EXPECT_EQ(FlatResources(Parse(ReadWholeFile(path))), c.expected);
    }
};

TEST_F(WriteResourceFaults, FailedWriteLeavesTheFileAsItWas) {
    const PlatformOp ops[] = {PlatformOp::Open, PlatformOp::Read, PlatformOp::Write,
                              PlatformOp::Seek, PlatformOp::Size, PlatformOp::Truncate};
    for (const WriteCase &c : Cases()) {
        std::vector<uint8_t> fresh;
        {
            TempDir dir;
            std::string path;
            WriteResource(Prepare(c, dir, &path));
            ASSERT_EQ(ResourceError(), 0) << c.name;
            fresh = ReadWholeFile(path);
            CloseAll();
        }
        for (PlatformOp op : ops) {
            bool fired = true;
            for (uint32_t n = 1; fired && n < 200; ++n) {
                SCOPED_TRACE(testing::Message() << c.name << ", " << OpName(op) << " " << n);
                TempDir dir;
                std::string path;
                Handle h = Prepare(c, dir, &path);
                std::vector<uint8_t> old = ReadWholeFile(path);
                int16_t error;
                {
                    FaultPlatform platform;
                    platform.FailNth(op, n);
                    WriteResource(h);
                    error = ResourceError();
                    fired = platform.Fired();
                }
                std::vector<uint8_t> now = ReadWholeFile(path);
                if (!fired) {
                    EXPECT_EQ(error, 0);
                    EXPECT_EQ(now, fresh);
                } else if (error == kDiskFull) {
                    EXPECT_EQ(now, old);
                } else {
                    // A failed read of the old length makes the write append
                    // instead; a write that did not get through never succeeds.
                    EXPECT_EQ(error, 0);
                    EXPECT_TRUE(op != PlatformOp::Write && op != PlatformOp::Truncate);
                    EXPECT_EQ(FlatResources(Parse(now)), c.expected);
                }
                ExpectConsistent(c, path);
            }
        }
    }
}

TEST_F(WriteResourceFaults, SizeUnknownFromSomeCallOnStillRestoresTheFile) {
    for (const WriteCase &c : Cases()) {
        bool fired = true;
        for (uint32_t n = 1; fired && n < 50; ++n) {
            SCOPED_TRACE(testing::Message() << c.name << ", size calls from " << n);
            TempDir dir;
            std::string path;
            Handle h = Prepare(c, dir, &path);
            std::vector<uint8_t> old = ReadWholeFile(path);
            {
                FaultPlatform platform;
                platform.FailNth(PlatformOp::Size, n, true);
                WriteResource(h);
                fired = platform.Fired();
            }
            if (fired) {
                EXPECT_EQ(ResourceError(), kDiskFull);
                EXPECT_EQ(ReadWholeFile(path), old);
            }
            ExpectConsistent(c, path);
        }
    }
}

TEST_F(WriteResourceFaults, NoMemoryLeavesTheFileAsItWas) {
    for (const WriteCase &c : Cases()) {
        bool fired = true;
        for (uint32_t n = 1; fired && n < 200; ++n) {
            SCOPED_TRACE(testing::Message() << c.name << ", allocation " << n);
            TempDir dir;
            std::string path;
            Handle h = Prepare(c, dir, &path);
            std::vector<uint8_t> old = ReadWholeFile(path);
            MemoryPoolFailNth(n);
            WriteResource(h);
            fired = MemoryPoolFailureFired();
            MemoryPoolFailNth(0);
            int16_t error = ResourceError();
            if (error != 0) {
                EXPECT_EQ(error, kDiskFull);
                EXPECT_EQ(ReadWholeFile(path), old);
            }
            ExpectConsistent(c, path);
        }
    }
}

// ---------------------------------------------------------------------------
// Random editing sessions against a model

using Key = std::pair<uint32_t, int16_t>;

struct ModelResource {
    std::optional<std::string> name;
    std::vector<uint8_t> data;
    bool marked = false;  // changed in memory, not yet in the file
};

// What the map stored in the file says of a resource.
struct StoredEntry {
    bool marked = false;  // the map on disk carries the changed attribute
    uint32_t length = 0;  // the byte count of its block
};

class Session {
  public:
    Session(WriteResourceTest *test, uint32_t seed) : test_(test), random_(seed) {}

    void Run(int steps);

  private:
    static constexpr uint32_t kTypes[] = {FourCC("DATA"), FourCC("FsTI"), FourCC("STR "),
                                          FourCC("Wxyz")};

    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(random_() % n); }
    std::vector<uint8_t> RandomData() {
        std::vector<uint8_t> data(1 + Below(300));
        for (uint8_t &byte : data)
            byte = static_cast<uint8_t>(random_());
        return data;
    }
    std::string RandomName() {
        std::string name(Below(4) == 0 ? 0 : Below(20), ' ');
        for (char &c : name)
            c = static_cast<char>('a' + Below(26));
        return name;
    }
    Key RandomKey() {
        auto it = model_.begin();
        std::advance(it, Below(static_cast<uint32_t>(model_.size())));
        return it->first;
    }
    bool AnyMarked() const {
        return std::any_of(model_.begin(), model_.end(),
                           [](const auto &entry) { return entry.second.marked; });
    }
    // The map on disk is now the map in memory.
    void StoreMap() {
        stored_.clear();
        for (const auto &[key, resource] : model_) {
            stored_[key] = {resource.marked, static_cast<uint32_t>(resource.data.size())};
        }
    }

    FixtureFile Start();
    void Add();
    void Remove();
    void Change();
    void Replace();
    void Write();
    void WriteBack(bool closing);
    void ExpectFileMatches(bool complete);

    WriteResourceTest *test_;
    std::mt19937 random_;
    std::string path_;
    uint16_t ref_ = 0;
    std::map<Key, ModelResource> model_;
    std::map<Key, StoredEntry> stored_;
    int64_t dead_ = 0;
    bool forced_ = false;
};

FixtureFile Session::Start() {
    FixtureFile file;
    for (int i = 0; i < 3; ++i) {
        uint32_t type = kTypes[Below(4)];
        int16_t id = static_cast<int16_t>(Below(12)) - 3;
        if (model_.count({type, id})) continue;
        std::string name = RandomName();
        std::optional<std::string> stored =
            name.empty() ? std::nullopt : std::optional<std::string>(name);
        std::vector<uint8_t> data = RandomData();
        auto t = std::find_if(file.types.begin(), file.types.end(),
                              [&](const FixtureType &ft) { return ft.type == type; });
        if (t == file.types.end()) {
            file.types.push_back({type, {}});
            t = file.types.end() - 1;
        }
        t->resources.push_back(Res(id, stored, data));
        model_[{type, id}] = {stored, data, false};
    }
    StoreMap();
    return file;
}

void Session::Add() {
    Key key = {kTypes[Below(4)], static_cast<int16_t>(static_cast<int>(Below(12)) - 3)};
    std::string name = RandomName();
    std::vector<uint8_t> data = RandomData();
    test_->Add(data, key.first, key.second, name);
    model_[key] = {name.empty() ? std::nullopt : std::optional<std::string>(name), data, true};
}

void Session::Remove() {
    if (model_.empty()) return;
    Key key = RandomKey();
    Handle h = test_->Get(key.first, key.second);
    ASSERT_NE(h, nullptr);
    RemoveResource(h);
    ASSERT_EQ(ResourceError(), 0);
    dead_ += static_cast<int64_t>(model_[key].data.size());
    model_.erase(key);
}

// Removes a resource and adds one of at most its size under the same type, id
// and name, as an update replaces a resource.
void Session::Replace() {
    if (model_.empty()) return;
    Key key = RandomKey();
    ModelResource &resource = model_[key];
    Handle h = test_->Get(key.first, key.second);
    ASSERT_NE(h, nullptr);
    RemoveResource(h);
    ASSERT_EQ(ResourceError(), 0);
    dead_ += static_cast<int64_t>(resource.data.size());
    std::vector<uint8_t> data = RandomData();
    data.resize(1 + Below(static_cast<uint32_t>(resource.data.size())));
    test_->Add(data, key.first, key.second, resource.name.value_or(""));
    resource.data = data;
    resource.marked = true;
}

void Session::Change() {
    if (model_.empty()) return;
    Key key = RandomKey();
    ModelResource &resource = model_[key];
    Handle h = test_->Get(key.first, key.second);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(BytesOf(h), resource.data);
    if (Below(2) == 0) {
        for (uint8_t &byte : resource.data)
            byte = static_cast<uint8_t>(byte + 1);
        std::memcpy(*h, resource.data.data(), resource.data.size());
    } else {
        std::vector<uint8_t> extra = RandomData();
        Handle more = HandleWith(extra);
        ASSERT_EQ(AppendHandle(more, h), 0);
        DisposeHandle(more);
        resource.data.insert(resource.data.end(), extra.begin(), extra.end());
    }
    MarkResourceChanged(h);
    ASSERT_EQ(ResourceError(), 0);
    resource.marked = true;
}

void Session::Write() {
    if (model_.empty()) return;
    Key key = RandomKey();
    ModelResource &resource = model_[key];
    Handle h = test_->Get(key.first, key.second);
    ASSERT_NE(h, nullptr);
    WriteResource(h);
    int16_t error = ResourceError();
    if (!resource.marked) {
        EXPECT_EQ(error, 0);
        return;
    }
    uint32_t size = static_cast<uint32_t>(resource.data.size());
    auto found = stored_.find(key);
    bool held = found != stored_.end();
    bool overOldBlock = held && !found->second.marked && size <= found->second.length;
    ASSERT_EQ(error, 0);
    if (overOldBlock) {
        dead_ += found->second.length - size;
    } else if (held) {
        dead_ += size;
    }
    resource.marked = false;
    StoreMap();
    ExpectFileMatches(false);
}

void Session::WriteBack(bool closing) {
    std::vector<uint8_t> before = ReadWholeFile(path_);
    int32_t counter = GetI32(before, kCounterOffset);
    bool compacts = AnyMarked() || forced_;
    if (!compacts && counter != 0) {
        compacts = counter > 350000 || before.size() / static_cast<uint32_t>(counter) < 5;
    }
    if (!AnyMarked()) forced_ = false;
    if (closing) {
        test_->Close(ref_);
        forced_ = false;
    } else {
        UpdateResourceFile(ref_);
        EXPECT_EQ(ResourceError(), 0);
    }
    std::vector<uint8_t> after = ReadWholeFile(path_);
    if (compacts) {
        dead_ = 0;
    } else {
        EXPECT_TRUE(std::equal(before.begin() + 256, before.begin() + MapOffsetOf(before),
                               after.begin() + 256, after.begin() + MapOffsetOf(after)));
    }
    for (auto &entry : model_)
        entry.second.marked = false;
    StoreMap();
    ExpectFileMatches(true);
    if (compacts) {
        EXPECT_TRUE(Parse(after).deadData.empty());
    }
    if (closing) ref_ = test_->Open(path_);
}

// The file parses strictly. After a write-back it holds exactly the model's
// resources; otherwise every resource not waiting in memory is stored as the
// model says.
void Session::ExpectFileMatches(bool complete) {
    std::vector<uint8_t> bytes = ReadWholeFile(path_);
    FixtureFile parsed = Parse(bytes);
    EXPECT_EQ(parsed.deadBytes, dead_);
    std::vector<FlatResource> expected;
    for (const auto &[key, resource] : model_) {
        if (complete || !resource.marked) {
            expected.push_back({key.first, key.second, resource.name, resource.data, 0});
        }
    }
    std::vector<FlatResource> actual = FlatResources(parsed);
    if (!complete) {
        std::erase_if(actual, [&](const FlatResource &r) {
            auto it = model_.find({r.type, r.id});
            return it == model_.end() || it->second.marked;
        });
    }
    EXPECT_EQ(actual, expected);
}

void Session::Run(int steps) {
    TempDir dir;
    path_ = test_->Put(Start(), dir);
    ref_ = test_->Open(path_);
    for (int step = 0; step < steps && !::testing::Test::HasFatalFailure(); ++step) {
        SCOPED_TRACE(testing::Message() << "step " << step);
        switch (Below(16)) {
            case 0:
            case 1:
            case 2:
                Add();
                break;
            case 3:
                Remove();
                break;
            case 4:
            case 5:
                Change();
                break;
            case 6:
            case 7:
                Replace();
                break;
            case 8:
            case 9:
            case 10:
            case 11:
                Write();
                break;
            case 12:
                WriteBack(false);
                break;
            case 13:
                SetResourceCompaction(3);
                forced_ = true;
                break;
            default:
                WriteBack(true);
                break;
        }
    }
    WriteBack(true);
    test_->CloseAll();
}

TEST_F(ResourceModelTest, RandomSessionsMatchTheModel) {
    for (uint32_t seed = 1; seed <= 60 && !HasFatalFailure(); ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        Session(this, seed).Run(80);
    }
}

}  // namespace
