// Writing whole files back: the choice between writing in place and compacting,
// the bytes of a compacted file, and what a failure at any step leaves behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
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

constexpr uint32_t kData = FourCC("DATA");
constexpr uint32_t kFsTI = FourCC("FsTI");
constexpr uint32_t kStr = FourCC("STR ");
constexpr uint32_t kWnew = FourCC("Wnew");
constexpr uint32_t kSkFs = FourCC("SkFs");

const char kTemporaryName[] = "~SM12345.tmp";
const char kFileName[] = "content.rez";

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
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

// A Str255 made from text.
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

// Three types whose reference runs are not in type-list order; dead bytes in
// front of the blocks; a resource without data, an empty name, attribute bits
// that must be carried, and a block bigger than one piece of a copy.
FixtureFile Sample() {
    FixtureFile file;
    file.kind = kSkFs;
    file.infoValues = {1, 2, 1, 65535};
    file.deadBytes = 40;
    file.conversionPending = 1;
    file.mapReserved32 = 0x01020304;
    file.mapReserved16a = 0x0506;
    file.mapReserved16b = 0x0708;
    file.deadData = Pattern(40, 9);
    file.types = {
        {kFsTI,
         {Res(128, "alpha", Pattern(80, 1)), Res(129, std::nullopt, Pattern(33, 2), 0x20),
          Res(-5, "", {})}},
        {kStr, {Res(1, "s", Pattern(7, 3))}},
        {kData, {Res(300, "big", Pattern(150000, 4), 0x01)}},
    };
    file.runOrder = {2, 0, 1};
    return file;
}

// The resources of Sample after ChangeSample, as a compaction stores them.
std::vector<FlatResource> SampleAfterChanges() {
    FixtureFile expected = Sample();
    expected.types[0].resources[0].data[0] ^= 0xFF;
    expected.types.erase(expected.types.begin() + 1);
    expected.types.push_back({kWnew, {Res(7, "new", Pattern(20, 7))}});
    expected.runOrder.clear();
    return FlatResources(expected);
}

// Checks that the data blocks stand from 256 on without gaps, in the order of
// the types and, within a type, of its reference entries.
void ExpectBlocksInWalkOrder(const FixtureFile &parsed, const std::vector<uint8_t> &bytes) {
    uint32_t position = 0;
    for (const FixtureType &type : parsed.types) {
        for (const FixtureResource &resource : type.resources) {
            EXPECT_EQ(resource.dataOffset, position) << TypeName(type.type) << " " << resource.id;
            position += 4 + static_cast<uint32_t>(resource.data.size());
        }
    }
    EXPECT_EQ(DataLengthOf(bytes), position);
    EXPECT_EQ(MapOffsetOf(bytes), 256 + position);
    EXPECT_TRUE(parsed.deadData.empty());
    EXPECT_EQ(parsed.deadBytes, 0);
}

class WriteBackTest : public PoolTest {
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

    std::string Put(const FixtureFile &file, const TempDir &dir) {
        std::string path = dir.File(kFileName);
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

    Handle Add(const std::vector<uint8_t> &data, uint32_t type, int16_t id,
               const std::string &name) {
        Handle h = Own(HandleWith(data), type);
        AddResource(h, type, id, Str(name).bytes);
        EXPECT_EQ(ResourceError(), 0);
        return h;
    }

    // Changes Sample in the open file: FsTI 128 changed in memory, Wnew 7 added,
    // STR 1 removed.
    void ChangeSample() {
        Handle changed = Get(kFsTI, 128);
        ASSERT_NE(changed, nullptr);
        (*changed)[0] ^= 0xFF;
        MarkResourceChanged(changed);
        ASSERT_EQ(ResourceError(), 0);
        Add(Pattern(20, 7), kWnew, 7, "new");
        Handle removed = Get(kStr, 1);
        ASSERT_NE(removed, nullptr);
        RemoveResource(removed);
        ASSERT_EQ(ResourceError(), 0);
    }

    // Gets every resource with data and compares it with what is expected.
    void ExpectGets(const std::vector<FlatResource> &expected) {
        for (const FlatResource &resource : expected) {
            if (resource.data.empty()) continue;
            Handle h = Get(resource.type, resource.id);
            EXPECT_EQ(ResourceError(), 0) << resource;
            EXPECT_EQ(BytesOf(h), resource.data) << resource;
        }
    }

    std::vector<uint16_t> open_;
    std::map<Handle, uint32_t> owned_;
};

using CompactionTest = WriteBackTest;

// ---------------------------------------------------------------------------
// Choosing the way

// A file with one resource DATA 1, exactly total bytes long, whose data area
// starts with deadData unused bytes and whose counter says dead.
FixtureFile FileOfSize(uint32_t total, int32_t dead, uint32_t deadData) {
    FixtureFile file;
    file.deadBytes = dead;
    file.deadData = Pattern(deadData, 5);
    uint32_t mapLength = 30 + 8 + 12;
    file.types = {
        {kData, {Res(1, std::nullopt, Pattern(total - 256 - deadData - 4 - mapLength, 6))}}};
    return file;
}

TEST_F(WriteBackTest, UnchangedFileWithoutDeadBytesIsWrittenInPlaceWhateverItsSize) {
    // Dead bytes lie in the data area, but the counter does not know of them.
    FixtureFile file = FileOfSize(3000000, 0, 2500000);
    std::string path = Put(file, temp_);
    std::vector<uint8_t> before = ReadWholeFile(path);
    uint16_t ref = Open(path);
    FaultPlatform platform;
    UpdateResourceFile(ref);
    EXPECT_EQ(ResourceError(), 0);
    EXPECT_EQ(ReadWholeFile(path), before);
    EXPECT_EQ(platform.Calls(PlatformOp::Delete), 0u);
    EXPECT_EQ(platform.Calls(PlatformOp::Move), 0u);
    // Only the header and the map are written.
    for (uint32_t size : platform.WriteSizes())
        EXPECT_LE(size, MapLengthOf(before));
    EXPECT_EQ(ListFolder(temp_.path()), std::vector<std::string>{kFileName});
}

TEST_F(WriteBackTest, DeadBytesDecideBetweenInPlaceAndCompaction) {
    struct Case {
        uint32_t total;
        int32_t dead;
        bool compacts;
    };
    const Case cases[] = {
        {1000000, 200000, false},  // a fifth exactly
        {1000000, 200001, true},   // more than a fifth
        {2000000, 350000, false},  // under the limit and under a fifth
        {2000000, 350001, true},   // over the limit, under a fifth
        {1000000, 1, false},
        {1000000, -1, true},  // a negative counter divides as a huge number
        {100000, -400000, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.total << " bytes, " << c.dead << " dead");
        TempDir dir;
        uint32_t deadData = c.dead > 0 ? static_cast<uint32_t>(c.dead) : 0;
        FixtureFile file = FileOfSize(c.total, c.dead, deadData);
        std::string path = Put(file, dir);
        std::vector<uint8_t> before = ReadWholeFile(path);
        ASSERT_EQ(before.size(), c.total);
        uint16_t ref = Open(path);
        {
            FaultPlatform platform;
            UpdateResourceFile(ref);
            EXPECT_EQ(platform.Calls(PlatformOp::Move), c.compacts ? 1u : 0u);
        }
        std::vector<uint8_t> after = ReadWholeFile(path);
        if (c.compacts) {
            FixtureFile parsed = Parse(after);
            ExpectBlocksInWalkOrder(parsed, after);
            EXPECT_EQ(FlatResources(parsed), FlatResources(file));
            EXPECT_EQ(after.size(), c.total - deadData);
        } else {
            EXPECT_EQ(after, before);
        }
        EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{kFileName});
        Close(ref);
    }
}

// A file whose data area holds 100 unused bytes that the counter does not know
// of, so that only a forced compaction drops them.
FixtureFile FileWithUncountedDeadData() {
    FixtureFile file;
    file.deadData = Pattern(100, 3);
    file.types = {{kData, {Res(1, "one", Pattern(50, 1)), Res(2, std::nullopt, Pattern(60, 2))}}};
    return file;
}

TEST_F(WriteBackTest, ForcedCompactionHappensOnceAndOnlyForModeThree) {
    std::string path = Put(FileWithUncountedDeadData(), temp_);
    std::vector<uint8_t> before = ReadWholeFile(path);
    uint16_t ref = Open(path);
    FaultPlatform platform;

    for (int32_t mode : {0, 1, 8, -3}) {
        SetResourceCompaction(mode);
        UpdateResourceFile(ref);
        EXPECT_EQ(ReadWholeFile(path), before) << "mode " << mode;
    }
    EXPECT_EQ(platform.Calls(PlatformOp::Move), 0u);

    SetResourceCompaction(3);
    UpdateResourceFile(ref);
    EXPECT_EQ(platform.Calls(PlatformOp::Move), 1u);
    std::vector<uint8_t> compacted = ReadWholeFile(path);
    FixtureFile parsed = Parse(compacted);
    ExpectBlocksInWalkOrder(parsed, compacted);
    EXPECT_EQ(compacted.size(), before.size() - 100);

    // The mode was used up: the next write-back is in place.
    UpdateResourceFile(ref);
    EXPECT_EQ(platform.Calls(PlatformOp::Move), 1u);
    EXPECT_EQ(ReadWholeFile(path), compacted);

    // A later mode 3 undone by another mode forces nothing.
    SetResourceCompaction(3);
    SetResourceCompaction(2);
    UpdateResourceFile(ref);
    EXPECT_EQ(platform.Calls(PlatformOp::Move), 1u);
}

TEST_F(WriteBackTest, ForcedModeOutlivesACompactionForChangedResources) {
    std::string path = Put(FileWithUncountedDeadData(), temp_);
    uint16_t ref = Open(path);
    FaultPlatform platform;
    SetResourceCompaction(3);
    Handle h = Get(kData, 1);
    ASSERT_NE(h, nullptr);
    MarkResourceChanged(h);
    UpdateResourceFile(ref);
    EXPECT_EQ(platform.Calls(PlatformOp::Move), 1u);

    // Nothing is changed now, and the file has no dead bytes: only the mode
    // still asks for a compaction, once.
    UpdateResourceFile(ref);
    EXPECT_EQ(platform.Calls(PlatformOp::Move), 2u);
    UpdateResourceFile(ref);
    EXPECT_EQ(platform.Calls(PlatformOp::Move), 2u);
}

TEST_F(WriteBackTest, ClosingAFileResetsTheForcedMode) {
    TempDir other;
    std::string first = Put(FileWithUncountedDeadData(), temp_);
    std::string second = Put(FileWithUncountedDeadData(), other);
    std::vector<uint8_t> before = ReadWholeFile(first);
    uint16_t ref = Open(first);
    uint16_t closing = Open(second);
    FaultPlatform platform;
    SetResourceCompaction(3);
    // The closed file compacts for its changed resource, which leaves the mode
    // set; the close itself takes it back.
    Handle h = Get(kData, 2);
    ASSERT_NE(h, nullptr);
    MarkResourceChanged(h);
    Close(closing);
    EXPECT_EQ(platform.Calls(PlatformOp::Move), 1u);
    UpdateResourceFile(ref);
    EXPECT_EQ(platform.Calls(PlatformOp::Move), 1u);
    EXPECT_EQ(ReadWholeFile(first), before);
}

TEST_F(WriteBackTest, InPlaceWriteBackShrinksTheMapAndCutsTheFile) {
    FixtureFile file = FileWithUncountedDeadData();
    file.types.push_back({kStr, {Res(9, "gone", Pattern(10, 9)), Res(10, "kept", Pattern(5, 4))}});
    std::string path = Put(file, temp_);
    std::vector<uint8_t> before = ReadWholeFile(path);
    uint16_t ref = Open(path);
    Handle h = Get(kStr, 9);
    ASSERT_NE(h, nullptr);
    RemoveResource(h);
    ASSERT_EQ(ResourceError(), 0);
    FaultPlatform platform;
    UpdateResourceFile(ref);
    EXPECT_EQ(platform.Calls(PlatformOp::Move), 0u);

    std::vector<uint8_t> after = ReadWholeFile(path);
    ASSERT_EQ(after.size(), before.size() - 12 - 5);
    EXPECT_EQ(MapOffsetOf(after), MapOffsetOf(before));
    // The data area is untouched: the removed block stays as dead data.
    EXPECT_TRUE(std::equal(before.begin() + 256, before.begin() + MapOffsetOf(before),
                           after.begin() + 256));
    FixtureFile parsed = Parse(after);
    EXPECT_EQ(parsed.deadBytes, 10);
    file.types[1].resources.erase(file.types[1].resources.begin());
    EXPECT_EQ(FlatResources(parsed), FlatResources(file));
}

TEST_F(WriteBackTest, FileChangedBehindTheMapIsNotOverwrittenInPlace) {
    std::string path = Put(FileWithUncountedDeadData(), temp_);
    uint16_t ref = Open(path);
    Handle h = Get(kData, 2);
    ASSERT_NE(h, nullptr);
    RemoveResource(h);
    // Somebody else writes another file under the name.
    FixtureFile replacement = FileWithUncountedDeadData();
    replacement.deadData.push_back(0);
    WriteWholeFile(path, BuildResourceFile(replacement));
    std::vector<uint8_t> before = ReadWholeFile(path);
    UpdateResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), before);
}

TEST_F(WriteBackTest, UnknownReferenceNumberIsReported) {
    UpdateResourceFile(77);
    EXPECT_EQ(ResourceError(), kFileNotUsable);
    CloseResourceFile(77);
    EXPECT_EQ(ResourceError(), kFileNotUsable);
}

TEST_F(WriteBackTest, FreeDiskSpaceOfPlainPathsAndDrives) {
    uint64_t free = 0;
    EXPECT_EQ(GetFreeDiskSpace(temp_.File("not-made-yet").c_str(), &free), 1);
    EXPECT_GT(free, 0u);

    const char *saved = std::getenv("SKELMORA_DRIVES");
    std::string previous = saved ? saved : "";
    std::string table = "E=fixed=" + temp_.path();
    setenv("SKELMORA_DRIVES", table.c_str(), 1);
    free = 0;
    EXPECT_EQ(GetFreeDiskSpace("E:\\Folder\\content.rez", &free), 1);
    EXPECT_GT(free, 0u);
    EXPECT_EQ(GetFreeDiskSpace("e:", &free), 1);
    EXPECT_EQ(GetFreeDiskSpace("Q:\\content.rez", &free), 0);
    if (saved) {
        setenv("SKELMORA_DRIVES", previous.c_str(), 1);
    } else {
        unsetenv("SKELMORA_DRIVES");
    }
}

// ---------------------------------------------------------------------------
// The compacted file

TEST_F(CompactionTest, NewFileHoldsEveryResourceWithoutGaps) {
    FixtureFile file = Sample();
    std::string path = Put(file, temp_);
    uint16_t ref = Open(path);
    ChangeSample();
    Close(ref);

    std::vector<uint8_t> bytes = ReadWholeFile(path);
    FixtureFile parsed = Parse(bytes);
    ExpectBlocksInWalkOrder(parsed, bytes);
    EXPECT_EQ(FlatResources(parsed), SampleAfterChanges());
    // The info block and the map's reserved fields are carried over.
    EXPECT_EQ(parsed.kind, kSkFs);
    EXPECT_EQ(parsed.infoValues, file.infoValues);
    EXPECT_EQ(parsed.conversionPending, 1);
    EXPECT_EQ(parsed.mapReserved32, file.mapReserved32);
    EXPECT_EQ(parsed.mapReserved16a, file.mapReserved16a);
    EXPECT_EQ(parsed.mapReserved16b, file.mapReserved16b);
    // Types keep their list order; the new type is listed last.
    ASSERT_EQ(parsed.types.size(), 3u);
    EXPECT_EQ(parsed.types[0].type, kFsTI);
    EXPECT_EQ(parsed.types[1].type, kData);
    EXPECT_EQ(parsed.types[2].type, kWnew);
    for (const FixtureType &type : parsed.types) {
        for (const FixtureResource &resource : type.resources)
            EXPECT_EQ(resource.handleSlot, 0u);
    }
    EXPECT_EQ(ListFolder(temp_.path()), std::vector<std::string>{kFileName});
}

TEST_F(CompactionTest, MapInMemoryFollowsTheNewFile) {
    std::string path = Put(Sample(), temp_);
    uint16_t ref = Open(path);
    ChangeSample();
    UpdateResourceFile(ref);
    std::vector<uint8_t> compacted = ReadWholeFile(path);

    // Every block moved; resources not loaded are read from their new places.
    ExpectGets(SampleAfterChanges());
    // The changed resource is no longer marked: it can be released.
    Handle h = Get(kFsTI, 128);
    ReleaseResource(h);
    EXPECT_EQ(ResourceError(), 0);
    h = Get(kFsTI, 128);
    std::vector<uint8_t> changed = Pattern(80, 1);
    changed[0] ^= 0xFF;
    EXPECT_EQ(BytesOf(h), changed);

    // An in-place write-back now writes a map that fits the new data area.
    Handle removed = Get(kFsTI, 129);
    RemoveResource(removed);
    UpdateResourceFile(ref);
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    FixtureFile parsed = Parse(bytes);
    std::vector<FlatResource> expected = SampleAfterChanges();
    expected.erase(std::find_if(expected.begin(), expected.end(), [](const FlatResource &r) {
        return r.type == kFsTI && r.id == 129;
    }));
    EXPECT_EQ(FlatResources(parsed), expected);
    EXPECT_TRUE(std::equal(compacted.begin() + 256, compacted.begin() + MapOffsetOf(compacted),
                           bytes.begin() + 256));
}

TEST_F(CompactionTest, StaleTemporaryFileIsReplaced) {
    std::string path = Put(Sample(), temp_);
    WriteWholeFile(temp_.File(kTemporaryName), Pattern(400000, 1));
    uint16_t ref = Open(path);
    ChangeSample();
    Close(ref);
    EXPECT_EQ(ListFolder(temp_.path()), std::vector<std::string>{kFileName});
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    FixtureFile parsed = Parse(bytes);
    ExpectBlocksInWalkOrder(parsed, bytes);
    EXPECT_EQ(FlatResources(parsed), SampleAfterChanges());
}

TEST_F(CompactionTest, ChangedResourceWithoutDataGetsAnEmptyBlock) {
    std::string path = Put(Sample(), temp_);
    uint16_t ref = Open(path);
    Handle empty = Own(NewHandle(0), kWnew);
    AddResource(empty, kWnew, 3, Str("empty").bytes);
    ASSERT_EQ(ResourceError(), 0);
    Close(ref);

    std::vector<uint8_t> bytes = ReadWholeFile(path);
    FixtureFile parsed = Parse(bytes);
    ExpectBlocksInWalkOrder(parsed, bytes);
    ASSERT_EQ(parsed.types.size(), 4u);
    ASSERT_EQ(parsed.types[3].resources.size(), 1u);
    EXPECT_EQ(parsed.types[3].resources[0].name, "empty");
    EXPECT_TRUE(parsed.types[3].resources[0].data.empty());
}

TEST_F(CompactionTest, ChangedResourceWhoseHandleIsGoneKeepsItsStoredData) {
    std::string path = Put(Sample(), temp_);
    uint16_t ref = Open(path);
    Handle h = Get(kFsTI, 129);
    ASSERT_NE(h, nullptr);
    MarkResourceChanged(h);
    DisposeHandle(h);
    Handle added = Add(Pattern(9, 9), kWnew, 4, "");
    MarkResourceChanged(added);
    DisposeHandle(added);
    Close(ref);

    FixtureFile parsed = Parse(ReadWholeFile(path));
    FixtureFile expected = Sample();
    expected.types.push_back({kWnew, {Res(4, std::nullopt, {})}});
    EXPECT_EQ(FlatResources(parsed), FlatResources(expected));
}

TEST_F(CompactionTest, ChangedBitStoredInTheFileIsCleared) {
    FixtureFile file = Sample();
    file.deadBytes = 0;
    file.types[1].resources[0].attributes = 0x02 | 0x40;
    std::string path = Put(file, temp_);
    uint16_t ref = Open(path);
    FaultPlatform platform;
    UpdateResourceFile(ref);
    EXPECT_EQ(platform.Calls(PlatformOp::Move), 1u);
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    FixtureFile parsed = Parse(bytes);
    ExpectBlocksInWalkOrder(parsed, bytes);
    file.types[1].resources[0].attributes = 0x40;
    EXPECT_EQ(FlatResources(parsed), FlatResources(file));
}

TEST_F(CompactionTest, CopiesInPiecesOfAtMostOneBuffer) {
    FixtureFile file;
    file.deadBytes = 1;
    file.types = {{kData, {Res(1, std::nullopt, Pattern(250000, 1)), Res(2, "b", Pattern(3, 2))}}};
    std::string path = Put(file, temp_);
    uint16_t ref = Open(path);
    FaultPlatform platform;
    SetResourceCompaction(3);
    UpdateResourceFile(ref);
    EXPECT_EQ(platform.Calls(PlatformOp::Move), 1u);
    uint32_t largest = 0;
    for (uint32_t size : platform.ReadSizes())
        largest = std::max(largest, size);
    for (uint32_t size : platform.WriteSizes())
        largest = std::max(largest, size);
    EXPECT_LE(largest, 100004u);
    EXPECT_GE(largest, 50000u);
    FixtureFile parsed = Parse(ReadWholeFile(path));
    file.deadBytes = 0;
    EXPECT_EQ(FlatResources(parsed), FlatResources(file));
}

TEST_F(CompactionTest, DataBeyondTheLargestOffsetIsNotCompacted) {
    // The first block takes the data area up to 0x7FFFFF, the largest offset
    // that a reference entry holds.
    FixtureFile file;
    file.types = {{kData, {Res(1, std::nullopt, Pattern(0x7FFFFF - 4, 1))}}};
    std::string path = Put(file, temp_);
    std::vector<uint8_t> before = ReadWholeFile(path);

    // A block at 0x7FFFFF still fits.
    uint16_t ref = Open(path);
    Add(Pattern(20, 2), kWnew, 1, "");
    UpdateResourceFile(ref);
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    FixtureFile parsed = Parse(bytes);
    ASSERT_EQ(parsed.types.size(), 2u);
    EXPECT_EQ(parsed.types[1].resources[0].dataOffset, 0x7FFFFFu);

    // One behind it does not: the file stays as it is.
    Add(Pattern(20, 3), kWnew, 2, "");
    UpdateResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), bytes);
    EXPECT_EQ(ListFolder(temp_.path()), std::vector<std::string>{kFileName});
    Close(ref);
    EXPECT_EQ(ReadWholeFile(path), bytes);
    EXPECT_NE(bytes, before);
}

// ---------------------------------------------------------------------------
// Failures

const PlatformOp kFileOps[] = {PlatformOp::Open,  PlatformOp::Read,   PlatformOp::Write,
                               PlatformOp::Seek,  PlatformOp::Size,   PlatformOp::Truncate,
                               PlatformOp::Close, PlatformOp::Delete, PlatformOp::Move};

const char *OpName(PlatformOp op) {
    static const char *const names[] = {"open",   "read", "write",      "seek", "close",
                                        "delete", "move", "free space", "size", "truncate"};
    return names[static_cast<int>(op)];
}

class WriteBackFaultTest : public WriteBackTest {
  protected:
    // Runs prepare on a fresh copy of file and writes it back without faults;
    // the bytes it gives.
    template <typename Prepare>
    std::vector<uint8_t> Unfaulted(const FixtureFile &file, Prepare prepare) {
        TempDir dir;
        std::string path = Put(file, dir);
        uint16_t ref = Open(path);
        prepare();
        UpdateResourceFile(ref);
        std::vector<uint8_t> bytes = ReadWholeFile(path);
        CloseAll();
        return bytes;
    }

    // For every kind of call and every n until the fault no longer fires: a
    // fresh copy of file, prepare, then a write-back (by UpdateResourceFile, or
    // by closing) whose n-th call of that kind fails. Afterwards the file is the
    // old one or the new one, or, when only the rename failed, the new one
    // lies under the temporary name; nothing else is left in the folder; and
    // the file's map in memory fits whatever file is there.
    template <typename Prepare>
    void RunFaults(const FixtureFile &file, Prepare prepare,
                   const std::vector<FlatResource> &expected, bool inPlace) {
        std::vector<uint8_t> fresh = Unfaulted(file, prepare);
        ASSERT_EQ(FlatResources(Parse(fresh)), expected);
        for (bool closing : {false, true}) {
            for (PlatformOp op : kFileOps) {
                bool fired = true;
                for (uint32_t n = 1; fired; ++n) {
                    SCOPED_TRACE(testing::Message() << (closing ? "close" : "update") << ", "
                                                    << OpName(op) << " " << n);
                    RunOneFault(file, prepare, expected, fresh, closing, op, n, inPlace, &fired);
                    if (HasFatalFailure() || n > 200) return;
                }
            }
        }
    }

    template <typename Prepare>
    void RunOneFault(const FixtureFile &file, Prepare prepare,
                     const std::vector<FlatResource> &expected, const std::vector<uint8_t> &fresh,
                     bool closing, PlatformOp op, uint32_t n, bool inPlace, bool *fired) {
        TempDir dir;
        std::string path = Put(file, dir);
        std::string temporary = dir.File(kTemporaryName);
        uint16_t ref = Open(path);
        prepare();
        std::vector<uint8_t> old = ReadWholeFile(path);
        {
            FaultPlatform platform;
            platform.FailNth(op, n);
            if (closing) {
                Close(ref);
            } else {
                UpdateResourceFile(ref);
            }
            *fired = platform.Fired();
        }
        bool here = FileExists(path);
        bool temporaryLeft = FileExists(temporary);
        std::vector<uint8_t> now = here ? ReadWholeFile(path) : std::vector<uint8_t>{};
        if (here) {
            EXPECT_TRUE(now == old || now == fresh) << "a file that is neither the old nor the new";
        }
        if (temporaryLeft) {
            EXPECT_EQ(ReadWholeFile(temporary), fresh);
            // Left only when the old file could not be deleted, or the new
            // one could not take its name.
            EXPECT_TRUE((here && now == old && op == PlatformOp::Delete) ||
                        (!here && op == PlatformOp::Move));
        } else {
            EXPECT_TRUE(here);
        }
        if (inPlace && (op == PlatformOp::Write || op == PlatformOp::Truncate) && *fired) {
            EXPECT_EQ(now, old);
        }
        size_t files = (here ? 1u : 0u) + (temporaryLeft ? 1u : 0u);
        EXPECT_EQ(ListFolder(dir.path()).size(), files);

        if (!closing) {
            if (!here && temporaryLeft) {
                // The map in memory describes the copy under the temporary name.
                std::filesystem::rename(temporary, path);
                ExpectGets(expected);
                UpdateResourceFile(ref);
                EXPECT_EQ(ReadWholeFile(path), fresh);
            } else if (here) {
                ExpectGets(expected);
                UpdateResourceFile(ref);
                EXPECT_EQ(ReadWholeFile(path), fresh);
            }
            EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{kFileName});
        }
        CloseAll();
    }
};

TEST_F(WriteBackFaultTest, FailedCompactionLeavesOldOrNewFile) {
    RunFaults(
        Sample(), [this] { ChangeSample(); }, SampleAfterChanges(), false);
}

TEST_F(WriteBackFaultTest, FailedInPlaceWriteLeavesOldOrNewFile) {
    FixtureFile file = Sample();
    file.deadBytes = 0;
    FixtureFile expected = file;
    expected.types.erase(expected.types.begin() + 1);
    RunFaults(
        file,
        [this] {
            Handle removed = Get(kStr, 1);
            ASSERT_NE(removed, nullptr);
            RemoveResource(removed);
            ASSERT_EQ(ResourceError(), 0);
        },
        FlatResources(expected), true);
}

TEST_F(WriteBackFaultTest, NoMemoryLeavesOldOrNewFile) {
    const FixtureFile file = Sample();
    std::vector<uint8_t> fresh = Unfaulted(file, [this] { ChangeSample(); });
    bool fired = true;
    for (uint32_t n = 1; fired && n < 500; ++n) {
        SCOPED_TRACE(testing::Message() << "allocation " << n);
        TempDir dir;
        std::string path = Put(file, dir);
        uint16_t ref = Open(path);
        ChangeSample();
        std::vector<uint8_t> old = ReadWholeFile(path);
        MemoryPoolFailNth(n);
        UpdateResourceFile(ref);
        fired = MemoryPoolFailureFired();
        MemoryPoolFailNth(0);
        std::vector<uint8_t> now = ReadWholeFile(path);
        EXPECT_TRUE(now == old || now == fresh);
        EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{kFileName});
        UpdateResourceFile(ref);
        EXPECT_EQ(ReadWholeFile(path), fresh);
        CloseAll();
    }
    EXPECT_FALSE(fired);
}

}  // namespace
