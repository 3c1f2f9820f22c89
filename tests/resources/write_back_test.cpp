// Writing whole files back: the choice between writing in place and compacting,
// the bytes of a compacted file, and what a failure at any step leaves behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/resource_test.h"

namespace {

const char kTemporaryName[] = "~SM12345.tmp";
const char kFileName[] = "content.rez";
const std::vector<std::string> kOnlyTheFile = {kFileName};

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
    file.types = {{kFsTI,
                   {Res(128, "alpha", Pattern(80, 1)), Res(129, std::nullopt, Pattern(33, 2), 0x20),
                    Res(-5, "", {})}},
                  {kSTR, {Res(1, "s", Pattern(7, 3))}},
                  {kData, {Res(300, "big", Pattern(150000, 4), 0x01)}}};
    file.runOrder = {2, 0, 1};
    return file;
}

// Sample after ChangeSample, as a compaction stores it: the map as it stands in
// memory (the runs kept, the new one last), the data blocks without gaps.
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

// The data blocks stand from 256 on without gaps, in the order of the types
// and their reference entries, and the counter is 0.
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
        ASSERT_NE(changed, nullptr);
        (*changed)[0] ^= 0xFF;
        MarkResourceChanged(changed);
        Add(Pattern(20, 7), kWnew, 7, "new");
        Add(Bytes{}, kWnew, 3, "empty");
        RemoveResource(Get(kSTR, 1));
        ASSERT_EQ(ResourceError(), kResourceOk);
    }
    // Gets every resource with data and compares it with what is expected.
    void ExpectGets(const std::vector<FlatResource> &expected) {
        for (const FlatResource &resource : expected) {
            if (resource.data.empty()) continue;
            EXPECT_EQ(BytesOf(Get(resource.type, resource.id)), resource.data) << resource;
        }
    }
};

TEST_F(WriteBackTest, DeadBytesDecideBetweenInPlaceAndCompaction) {
    struct Case {
        uint32_t total;
        int32_t dead;
        uint32_t deadData;
        bool compacts;
    };
    const Case cases[] = {
        {3000000, 0, 2500000, false},      // dead data the counter does not know of
        {1000000, 200000, 200000, false},  // a fifth exactly
        {1000000, 200001, 200001, true},   // more than a fifth
        {2000000, 350000, 350000, false},  // under the limit and under a fifth
        {2000000, 350001, 350001, true},   // over the limit, under a fifth
        {1000000, 1, 1, false},
        {1000000, -1, 0, true},  // a negative counter divides as a huge number
        {100000, -400000, 0, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.total << " bytes, " << c.dead << " dead");
        TempDir dir;
        FixtureFile file;
        file.deadBytes = c.dead;
        file.deadData = Pattern(c.deadData, 5);
        file.types = {{kData, {Res(1, {}, Pattern(c.total - 256 - c.deadData - 4 - 50, 6))}}};
        const std::string path = Put(file, dir);
        const Bytes before = ReadWholeFile(path);
        ASSERT_EQ(before.size(), c.total);
        const uint16_t ref = Open(path);
        {
            FaultPlatform platform;
            UpdateResourceFile(ref);
            EXPECT_EQ(ResourceError(), kResourceOk);
            EXPECT_EQ(platform.Calls(PlatformOp::Move), c.compacts ? 1u : 0u);
            // In place, only the header and the map are written; a compaction
            // copies in pieces of at most one buffer, whatever the block's size.
            for (uint32_t size : platform.WriteSizes())
                EXPECT_LE(size, c.compacts ? 100004u : MapLengthOf(before));
            for (uint32_t size : platform.ReadSizes())
                EXPECT_LE(size, 100004u);
        }
        const Bytes after = ReadWholeFile(path);
        if (c.compacts) {
            ExpectCompacted(after);
            EXPECT_EQ(FlatResources(Parse(after)), FlatResources(file));
            EXPECT_EQ(after.size(), c.total - c.deadData);
        } else {
            EXPECT_EQ(after, before);
        }
        EXPECT_EQ(ListFolder(dir.path()), kOnlyTheFile);
        CloseAll();
    }
}

// 100 unused bytes that the counter does not know of: only a forced compaction
// drops them. Closing a file takes a forcing mode back, even when that file
// compacted for a changed resource.
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
    const Bytes theirs = Pattern(500, 1);
    WriteWholeFile(path, theirs);
    UpdateResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), theirs);
}

TEST_F(WriteBackTest, CompactedFileHoldsEveryResourceAndTheMapFollowsIt) {
    const std::string path = Put(Sample(), temp_);
    WriteWholeFile(temp_.File(kTemporaryName), Pattern(400000, 1));  // a stale one
    const uint16_t ref = Open(path);
    ChangeSample();
    UpdateResourceFile(ref);
    // The info block, the map's reserved fields and every resource are carried
    // over; every handle slot is 0.
    const Bytes compacted = ReadWholeFile(path);
    ExpectCompacted(compacted);
    EXPECT_EQ(DescribeFile(Parse(compacted)), DescribeFile(SampleAfterChanges()));
    EXPECT_EQ(ListFolder(temp_.path()), kOnlyTheFile);
    // Every block moved; resources not loaded are read from their new places,
    // and the changed resource is no longer marked.
    ExpectGets(FlatResources(SampleAfterChanges()));
    ReleaseResource(Get(kFsTI, 128));
    EXPECT_EQ(BytesOf(Get(kFsTI, 128)), SampleAfterChanges().types[0].resources[0].data);

    // An in-place write-back now writes a map that fits the new data area.
    RemoveResource(Get(kFsTI, 129));
    UpdateResourceFile(ref);
    const Bytes bytes = ReadWholeFile(path);
    std::vector<FlatResource> expected = FlatResources(SampleAfterChanges());
    std::erase_if(expected, [](const FlatResource &r) { return r.type == kFsTI && r.id == 129; });
    EXPECT_EQ(FlatResources(Parse(bytes)), expected);
    EXPECT_EQ(Bytes(compacted.begin() + 256, compacted.begin() + MapOffsetOf(compacted)),
              Bytes(bytes.begin() + 256, bytes.begin() + MapOffsetOf(compacted)));
}

// A resource marked changed whose Handle was disposed keeps the data stored
// for it; one that was added has none.
TEST_F(WriteBackTest, ChangedResourceWhoseHandleIsGoneKeepsItsStoredData) {
    const std::string path = Put(Sample(), temp_);
    const uint16_t ref = Open(path);
    Handle h = GetResource(kFsTI, 129);
    MarkResourceChanged(h);
    DisposeHandle(h);
    Handle added = HandleWith(Pattern(9, 9));
    AddResource(added, kWnew, 4, Str255Of("").data());
    DisposeHandle(added);
    CloseResourceFile(ref);
    FixtureFile expected = Sample();
    expected.types.push_back({kWnew, {Res(4, std::nullopt)}});
    EXPECT_EQ(FlatResources(Parse(ReadWholeFile(path))), FlatResources(expected));
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
    UpdateResourceFile(ref);
    CloseResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), bytes);
    EXPECT_EQ(ListFolder(temp_.path()), kOnlyTheFile);
}

// A write-back (by UpdateResourceFile or by closing) whose n-th call of any kind
// fails leaves the old file or the new one, or, when the old file could not be
// deleted or the new one could not take its name, the new one under the
// temporary name; nothing else is in the folder; and the map in memory fits
// whatever file is there, so that the next write-back gives the new file.
TEST_F(WriteBackTest, FailureAtEveryCallLeavesOldOrNewFile) {
    struct Case {
        const char *what;
        FixtureFile file;
        std::function<void()> change;
        bool inPlace;
    };
    FixtureFile clean = Sample();
    clean.deadBytes = 0;
    const Case cases[] = {
        {"compaction", Sample(), [this] { ChangeSample(); }, false},
        {"in place", clean, [this] { RemoveResource(Get(kSTR, 1)); }, true},
    };
    for (const Case &c : cases) {
        for (bool closing : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.what << (closing ? ", closing" : ", updating"));
            TempDir fresh;
            const std::string freshPath = Put(c.file, fresh);
            const uint16_t freshRef = Open(freshPath);
            c.change();
            UpdateResourceFile(freshRef);
            CloseAll();
            const Bytes now = ReadWholeFile(freshPath);
            const std::vector<FlatResource> expected = FlatResources(Parse(now));

            std::unique_ptr<TempDir> dir;
            std::string path;
            uint16_t ref = kNoFile;
            Bytes old;
            ForEachFault(
                AllFaultKinds(),
                [&] {
                    dir = std::make_unique<TempDir>();
                    path = Put(c.file, *dir);
                    ref = Open(path);
                    c.change();
                    old = ReadWholeFile(path);
                },
                [&] { closing ? CloseResourceFile(ref) : UpdateResourceFile(ref); },
                [&](int kind, bool fired) {
                    const std::string temporary = dir->File(kTemporaryName);
                    const bool here = FileExists(path), left = FileExists(temporary);
                    const Bytes after = here ? ReadWholeFile(path) : Bytes{};
                    EXPECT_TRUE(!here || after == old || after == now);
                    EXPECT_TRUE(here || left);
                    EXPECT_TRUE(!left || ReadWholeFile(temporary) == now);
                    if (left) {
                        EXPECT_TRUE(here ? after == old && kind == Op(PlatformOp::Delete)
                                         : kind == Op(PlatformOp::Move));
                    }
                    const bool torn =
                        kind == Op(PlatformOp::Write) || kind == Op(PlatformOp::Truncate);
                    EXPECT_TRUE(!(c.inPlace && fired && torn) || after == old);
                    EXPECT_EQ(ListFolder(dir->path()).size(), size_t{here} + size_t{left});
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
