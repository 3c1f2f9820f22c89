// Writing whole files back: the choice between writing in place and compacting,
// the bytes of a compacted file, and what a failure at any step leaves behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/resource_test.h"
#include "resources/open_files.h"

namespace {

const char kTemporaryName[] = "~SM12345.tmp";
const char kFileName[] = "content.rez";
const std::vector<std::string> kOnlyTheFile = {kFileName};

// Runs out of type-list order, dead bytes in front of the blocks, a resource
// without data, an empty name, attributes, a block bigger than one buffer.
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
    file.types = {{kFsTI,
                   {Res(128, "alpha", Pattern(80, 1)), Res(129, std::nullopt, Pattern(33, 2), 0x20),
                    Res(-5, "", {})}},
                  {kSTR, {Res(1, "s", Pattern(7, 3))}},
                  {kData, {Res(300, "big", Pattern(150000, 4), 0x01)}}};
    file.runOrder = {2, 0, 1};
    return file;
}

// Sample after ChangeSample as a compaction stores it: the runs kept, the new
// one last, the blocks without gaps.
FixtureFile SampleAfterChanges() {
    FixtureFile expected = Sample();
    expected.types[0].resources[0].data[0] ^= 0xFF;
    expected.types.erase(expected.types.begin() + 1);
    expected.types.push_back({kWnew, {Res(7, "new", Pattern(20, 7)), Res(3, "empty")}});
    expected.deadBytes = 0;
    expected.deadData.clear();
    expected.runOrder = {1, 0, 2};
    return expected;
}

// Blocks without gaps in the order of the types and their entries (the data
// length is the sum of count + 4), and no dead bytes.
void ExpectCompacted(const Bytes &bytes) {
    const FixtureFile parsed = Parse(bytes);
    uint32_t position = 0;
    for (const FixtureType &type : parsed.types) {
        for (const FixtureResource &resource : type.resources) {
            EXPECT_EQ(resource.dataOffset, position) << TypeName(type.type) << " " << resource.id;
            position += 4 + static_cast<uint32_t>(resource.data.size());
        }
    }
    EXPECT_EQ(DataLengthOf(bytes), position);
    EXPECT_EQ(parsed.deadBytes, 0);
}

class WriteBackTest : public ResourceFileTest {
  protected:
    std::string Put(const FixtureFile &file, const TempDir &dir) {
        const std::string path = dir.File(kFileName);
        WriteWholeFile(path, BuildResourceFile(file));
        return path;
    }
    // FsTI 128 changed in memory, Wnew 7 and an empty Wnew 3 added, STR 1 removed.
    void ChangeSample() {
        Handle changed = Get(kFsTI, 128);
        (*changed)[0] ^= 0xFF;
        MarkResourceChanged(changed);
        Add(Pattern(20, 7), kWnew, 7, "new");
        Add(Bytes{}, kWnew, 3, "empty");
        RemoveResource(Get(kSTR, 1));
        ASSERT_EQ(ResourceError(), kResourceOk);
    }
    void ExpectGets(const std::vector<FlatResource> &expected) {
        for (const FlatResource &resource : expected) {
            if (resource.data.empty()) continue;
            EXPECT_EQ(BytesOf(Get(resource.type, resource.id)), resource.data) << resource;
        }
    }
};

// More than a fifth of the file dead, or more than 350,000 bytes, compacts;
// a compaction copies in pieces of at most one buffer.
TEST_F(WriteBackTest, DeadBytesDecideBetweenInPlaceAndCompaction) {
    const std::tuple<uint32_t, int32_t, uint32_t, bool> cases[] = {
        {3000000, 0, 2500000, false},    {1000000, 200000, 200000, false},
        {1000000, 200001, 200001, true}, {2000000, 350000, 350000, false},
        {2000000, 350001, 350001, true}, {1000000, 1, 1, false},
        {1000000, -1, 0, true},          {100000, -400000, 0, true}};
    for (const auto &[total, dead, deadData, compacts] : cases) {
        SCOPED_TRACE(testing::Message() << total << " bytes, " << dead << " dead");
        TempDir dir;
        FixtureFile file;
        file.deadBytes = dead;
        file.deadData = Pattern(deadData, 5);
        file.types = {{kData, {Res(1, {}, Pattern(total - 256 - deadData - 4 - 50, 6))}}};
        const std::string path = Put(file, dir);
        const Bytes before = ReadWholeFile(path);
        const uint16_t ref = Open(path);
        {
            FaultPlatform platform;
            UpdateResourceFile(ref);
            EXPECT_EQ(platform.Calls(PlatformOp::Move), compacts ? 1u : 0u);
            EXPECT_EQ(platform.Calls(PlatformOp::Close), platform.Calls(PlatformOp::Open));
            for (uint32_t size : platform.WriteSizes())
                EXPECT_LE(size, compacts ? 100004u : MapLengthOf(before));
            for (uint32_t size : platform.ReadSizes())
                EXPECT_LE(size, 100004u);
        }
        const Bytes after = ReadWholeFile(path);
        if (compacts) {
            ExpectCompacted(after);
            EXPECT_EQ(FlatResources(Parse(after)), FlatResources(file));
            EXPECT_EQ(after.size(), total - deadData);
        } else {
            EXPECT_EQ(after, before);
        }
        EXPECT_EQ(ListFolder(dir.path()), kOnlyTheFile);
        CloseAll();
    }
}

// Unused bytes the counter does not know of go only by a forced compaction
// (mode 3), which is used up by one write-back or by closing any file.
TEST_F(WriteBackTest, ForcedCompactionHappensOnceAndOnlyForModeThree) {
    FixtureFile file;
    file.deadData = Pattern(100, 3);
    file.types = {{kData, {Res(1, "one", Pattern(50, 1)), Res(2, std::nullopt, Pattern(60, 2))}}};
    TempDir other;
    const std::string path = Put(file, temp_);
    const Bytes before = ReadWholeFile(path);
    const uint16_t ref = Open(path);
    const uint16_t second = Open(Put(file, other));
    FaultPlatform platform;
    for (int32_t mode : {0, 1, 8, -3}) {
        SetResourceCompaction(mode);
        UpdateResourceFile(ref);
    }
    SetResourceCompaction(3);
    SetResourceCompaction(2);
    UpdateResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), before);
    SetResourceCompaction(3);
    EXPECT_EQ(CompactionMode(), 8);
    MarkResourceChanged(Get(kData, 2));
    UpdateResourceFile(second);
    CloseResourceFile(second);
    EXPECT_EQ(platform.Calls(PlatformOp::Move), 2u);
    UpdateResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), before);
    SetResourceCompaction(3);
    UpdateResourceFile(ref);
    UpdateResourceFile(ref);
    EXPECT_EQ(platform.Calls(PlatformOp::Move), 3u) << "the mode is used up";
    ExpectCompacted(ReadWholeFile(path));
    EXPECT_EQ(ReadWholeFile(path).size(), before.size() - 100);
    // A file changed behind the map is not overwritten in place.
    RemoveResource(Get(kData, 2));
    WriteWholeFile(path, Pattern(500, 1));
    UpdateResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), Pattern(500, 1));
}

// A stale temporary file is replaced; every block moves, and the map in memory
// follows the new file. A resource marked changed whose Handle was disposed
// keeps its stored data; an added one has none.
TEST_F(WriteBackTest, CompactedFileHoldsEveryResourceAndTheMapFollowsIt) {
    const std::string path = Put(Sample(), temp_);
    WriteWholeFile(temp_.File(kTemporaryName), Pattern(400000, 1));
    const uint16_t ref = Open(path);
    ChangeSample();
    UpdateResourceFile(ref);
    const Bytes compacted = ReadWholeFile(path);
    ExpectCompacted(compacted);
    EXPECT_EQ(DescribeFile(Parse(compacted)), DescribeFile(SampleAfterChanges()));
    EXPECT_EQ(ListFolder(temp_.path()), kOnlyTheFile);
    ExpectGets(FlatResources(SampleAfterChanges()));
    ReleaseResource(Get(kFsTI, 128));
    EXPECT_EQ(BytesOf(Get(kFsTI, 128)), SampleAfterChanges().types[0].resources[0].data);

    Handle h = GetResource(kFsTI, 129);
    MarkResourceChanged(h);
    DisposeHandle(h);
    Handle added = HandleWith(Pattern(9, 9));
    AddResource(added, kWnew, 4, Str255Of("").data());
    DisposeHandle(added);
    UpdateResourceFile(ref);  // in place, with a map that fits the new data area
    const Bytes bytes = ReadWholeFile(path);
    FixtureFile expected = SampleAfterChanges();
    expected.types[2].resources.push_back(Res(4, std::nullopt));
    EXPECT_EQ(FlatResources(Parse(bytes)), FlatResources(expected));
    EXPECT_EQ(Bytes(compacted.begin() + 256, compacted.begin() + MapOffsetOf(compacted)),
              Bytes(bytes.begin() + 256, bytes.begin() + MapOffsetOf(compacted)));
}

// A compaction whose move failed leaves the new file under the temporary name
// only; a later write-back finds no file and leaves that copy alone.
TEST_F(WriteBackTest, TheOnlyCopyUnderTheTemporaryNameIsKept) {
    const std::string path = Put(Sample(), temp_);
    const uint16_t ref = Open(path);
    ChangeSample();
    {
        FaultPlatform fault;
        fault.FailNth(PlatformOp::Move, 1);
        SetResourceCompaction(3);
        UpdateResourceFile(ref);
    }
    const Bytes kept = ReadWholeFile(temp_.File(kTemporaryName));
    EXPECT_EQ(DescribeFile(Parse(kept)), DescribeFile(SampleAfterChanges()));
    SetResourceCompaction(3);
    UpdateResourceFile(ref);
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(ReadWholeFile(temp_.File(kTemporaryName)), kept);
}

// Neighbouring blocks share the buffer (near-full, empty, longer than it, moved
// behind the rest) and compact to the same resources; a byte count past the
// data area refuses the compaction and leaves the file as it was.
TEST_F(WriteBackTest, BlocksTravelTogetherAndEveryCountIsChecked) {
    FixtureFile file;
    file.types = {{kData,
                   {Res(1, {}, Pattern(99994, 1)), Res(2, {}, Pattern(10, 2)), Res(3, {}, {}),
                    Res(4, {}, Pattern(150000, 3)), Res(5, {}, Pattern(3, 4))}}};
    for (const char *variant : {"in order", "moved", "damaged"}) {
        SCOPED_TRACE(variant);
        TempDir dir;
        FixtureFile expected = file;
        Bytes image = BuildResourceFile(file);
        if (variant[0] == 'd') PutU32(image, 256 + 100012, 0x00FFFFFF);  // Data 3's count
        const std::string path = dir.File(kFileName);
        WriteWholeFile(path, image);
        const uint16_t ref = Open(path);
        if (variant[0] == 'm') {
            Handle h = Get(kData, 2), more = HandleWith({9});
            ASSERT_EQ(AppendHandle(more, h), 0);
            DisposeHandle(more);
            MarkResourceChanged(h);
            WriteResource(h);
            ASSERT_EQ(ResourceError(), kResourceOk);
            expected.types[0].resources[1].data.push_back(9);
        }
        const Bytes before = ReadWholeFile(path);
        SetResourceCompaction(3);
        const ResourceFileRecord *record = FindFileRecord(ref);
        EXPECT_EQ(WriteBackResourceFile(record->map, record->path), variant[0] == 'd' ? 0 : 1);
        const Bytes after = ReadWholeFile(path);
        if (variant[0] == 'd') {
            EXPECT_EQ(after, before);
        } else {
            ExpectCompacted(after);
            EXPECT_EQ(FlatResources(Parse(after)), FlatResources(expected));
        }
        EXPECT_EQ(ListFolder(dir.path()), kOnlyTheFile);
        CloseAll();
    }
}

// A block may start at 0x7FFFFF, the largest offset an entry holds; a file
// whose compaction would need more stays as it is.
TEST_F(WriteBackTest, DataBeyondTheLargestOffsetIsNotCompacted) {
    FixtureFile file;
    file.types = {{kData, {Res(1, std::nullopt, Pattern(0x7FFFFF - 4, 1))}}};
    const std::string path = Put(file, temp_);
    const uint16_t ref = Open(path);
    Add(Pattern(20, 2), kWnew, 1, "");
    UpdateResourceFile(ref);
    const Bytes bytes = ReadWholeFile(path);
    EXPECT_EQ(Parse(bytes).types.at(1).resources.at(0).dataOffset, 0x7FFFFFu);
    Add(Pattern(20, 3), kWnew, 2, "");
    CloseResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), bytes);
    EXPECT_EQ(ListFolder(temp_.path()), kOnlyTheFile);
}

// A write-back failed at any call leaves the old file or the new one (under the
// temporary name when the old could not go), and a map in memory that fits it,
// so the next write-back gives the new one.
TEST_F(WriteBackTest, FailureAtEveryCallLeavesOldOrNewFile) {
    FixtureFile clean = Sample();
    clean.deadBytes = 0;
    const std::tuple<FixtureFile, std::function<void()>, bool> cases[] = {
        {Sample(), [this] { ChangeSample(); }, false},
        {clean, [this] { RemoveResource(Get(kSTR, 1)); }, true},
    };
    for (const auto &[file, change, inPlace] : cases) {
        for (bool closing : {false, true}) {
            SCOPED_TRACE(testing::Message() << inPlace << closing);
            TempDir fresh;
            const std::string freshPath = Put(file, fresh);
            const uint16_t freshRef = Open(freshPath);
            change();
            UpdateResourceFile(freshRef);
            CloseAll();
            const Bytes now = ReadWholeFile(freshPath);
            const std::vector<FlatResource> expected = FlatResources(Parse(now));
            std::unique_ptr<TempDir> dir;
            std::string path;
            uint16_t ref = kNoFile;
            int result = 0;
            Bytes old;
            ForEachFault(
                AllFaultKinds(),
                [&] {
                    dir = std::make_unique<TempDir>();
                    path = Put(file, *dir);
                    ref = Open(path);
                    change();
                    old = ReadWholeFile(path);
                },
                [&] {
                    if (closing) return CloseResourceFile(ref);
                    result = WriteBackResourceFile(FindFileRecord(ref)->map, path.c_str());
                },
                [&](int kind, bool fired) {
                    const std::string temporary = dir->File(kTemporaryName);
                    const bool here = FileExists(path), left = FileExists(temporary);
                    const Bytes after = here ? ReadWholeFile(path) : Bytes{};
                    EXPECT_TRUE(!here || after == old || after == now);
                    EXPECT_TRUE(closing || result == 0 || after == now) << "a success";
                    EXPECT_TRUE(!left || ReadWholeFile(temporary) == now);
                    if (left) {
                        EXPECT_TRUE(here ? after == old && kind == Op(PlatformOp::Delete)
                                         : kind == Op(PlatformOp::Move));
                    }
                    const bool torn =
                        kind == Op(PlatformOp::Write) || kind == Op(PlatformOp::Truncate);
                    EXPECT_TRUE(!(inPlace && fired && torn) || after == old);
                    EXPECT_EQ(ListFolder(dir->path()).size(), size_t{here} + size_t{left});
                    EXPECT_TRUE(here || left);
                    if (!closing) {
                        if (!here && left) std::filesystem::rename(temporary, path);
                        ExpectGets(expected);
                        UpdateResourceFile(ref);
                        EXPECT_EQ(ReadWholeFile(path), now);
                        EXPECT_EQ(ListFolder(dir->path()), kOnlyTheFile);
                    }
                    CloseAll();
                });
        }
    }
}

}  // namespace
