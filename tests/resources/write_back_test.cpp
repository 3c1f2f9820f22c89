// Writing whole files back: the choice between writing in place and compacting,
// the bytes of a compacted file, and what a failure at any step leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/fault_platform.h"
#include "common/resource_test.h"
#include "support/memory_pool.h"

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
    file.types = {
        {kFsTI,
         {Res(128, "alpha", Pattern(80, 1)), Res(129, std::nullopt, Pattern(33, 2), 0x20),
          Res(-5, "", {})}},
        {kSTR, {Res(1, "s", Pattern(7, 3))}},
        {kData, {Res(300, "big", Pattern(150000, 4), 0x01)}},
    };
    file.runOrder = {2, 0, 1};
    return file;
}

// Sample after ChangeSample, as a compaction stores it: the map as it stands in
// memory, the data blocks without gaps.
FixtureFile SampleAfterChanges() {
    FixtureFile expected = Sample();
    expected.types[0].resources[0].data[0] ^= 0xFF;
    expected.types.erase(expected.types.begin() + 1);
    expected.types.push_back({kWnew, {Res(7, "new", Pattern(20, 7)), Res(3, "empty")}});
    expected.deadBytes = 0;
    expected.deadData.clear();
    expected.runOrder = {1, 0, 2};  // the map keeps its runs; the new one goes last
    return expected;
}

// Checks that the data blocks stand from 256 on without gaps, in the order of
// the types and, within a type, of its reference entries, and that the
// counter is 0.
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
    EXPECT_TRUE(parsed.deadData.empty());
    EXPECT_EQ(parsed.deadBytes, 0);
}

class WriteBackTest : public ResourceFileTest {
  protected:
    std::string Put(const FixtureFile &file, const TempDir &dir) {
        const std::string path = dir.File(kFileName);
        WriteWholeFile(path, BuildResourceFile(file));
        return path;
    }

    // Changes Sample in the open file: FsTI 128 changed in memory, Wnew 7 and
    // an empty Wnew 3 added, STR 1 removed.
    void ChangeSample() {
        Handle changed = Get(kFsTI, 128);
        ASSERT_NE(changed, nullptr);
        (*changed)[0] ^= 0xFF;
        MarkResourceChanged(changed);
        ASSERT_EQ(ResourceError(), kResourceOk);
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

// A file with one resource DATA 1, exactly total bytes long, whose data area
// starts with deadData unused bytes and whose counter says dead.
FixtureFile FileOfSize(uint32_t total, int32_t dead, uint32_t deadData) {
    FixtureFile file;
    file.deadBytes = dead;
    file.deadData = Pattern(deadData, 5);
    const uint32_t mapLength = 30 + 8 + 12;
    file.types = {{kData, {Res(1, {}, Pattern(total - 256 - deadData - 4 - mapLength, 6))}}};
    return file;
}

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
        const FixtureFile file = FileOfSize(c.total, c.dead, c.deadData);
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

// A file whose data area holds 100 unused bytes that the counter does not know
// of, so that only a forced compaction drops them.
FixtureFile FileWithUncountedDeadData() {
    FixtureFile file;
    file.deadData = Pattern(100, 3);
    file.types = {{kData, {Res(1, "one", Pattern(50, 1)), Res(2, std::nullopt, Pattern(60, 2))}}};
    return file;
}

TEST_F(WriteBackTest, ForcedCompactionHappensOnceAndOnlyForModeThree) {
    TempDir other;
    const std::string path = Put(FileWithUncountedDeadData(), temp_);
    const Bytes before = ReadWholeFile(path);
    const uint16_t ref = Open(path);
    const uint16_t second = Open(Put(FileWithUncountedDeadData(), other));
    FaultPlatform platform;
    auto moves = [&] { return platform.Calls(PlatformOp::Move); };
    for (int32_t mode : {0, 1, 8, -3}) {
        SetResourceCompaction(mode);
        UpdateResourceFile(ref);
        EXPECT_EQ(ReadWholeFile(path), before) << "mode " << mode;
    }
    // A mode 3 undone by another mode forces nothing.
    SetResourceCompaction(3);
    SetResourceCompaction(2);
    UpdateResourceFile(ref);
    EXPECT_EQ(moves(), 0u);

    // Closing a file takes the mode back, even when the file compacts for a
    // changed resource.
    SetResourceCompaction(3);
    MarkResourceChanged(Get(kData, 2));
    UpdateResourceFile(second);
    EXPECT_EQ(moves(), 1u);
    CloseResourceFile(second);
    EXPECT_EQ(moves(), 2u) << "the mode outlives a compaction for changed resources";
    UpdateResourceFile(ref);
    EXPECT_EQ(moves(), 2u);
    EXPECT_EQ(ReadWholeFile(path), before);

    SetResourceCompaction(3);
    UpdateResourceFile(ref);
    EXPECT_EQ(moves(), 3u);
    ExpectCompacted(ReadWholeFile(path));
    EXPECT_EQ(ReadWholeFile(path).size(), before.size() - 100);
    UpdateResourceFile(ref);
    EXPECT_EQ(moves(), 3u) << "the mode was used up";
}

TEST_F(WriteBackTest, FileChangedBehindTheMapIsNotOverwrittenInPlace) {
    const std::string path = Put(FileWithUncountedDeadData(), temp_);
    const uint16_t ref = Open(path);
    RemoveResource(Get(kData, 2));
    FixtureFile replacement = FileWithUncountedDeadData();
    replacement.deadData.push_back(0);
    const Bytes theirs = BuildResourceFile(replacement);
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
    // Every resource and the info block and the map's reserved fields are
    // carried over; the types keep their list order, the new type listed last;
    // every handle slot is 0.
    const Bytes compacted = ReadWholeFile(path);
    ExpectCompacted(compacted);
    EXPECT_EQ(DescribeFile(Parse(compacted)), DescribeFile(SampleAfterChanges()));
    EXPECT_EQ(ListFolder(temp_.path()), kOnlyTheFile);

    // Every block moved; resources not loaded are read from their new places.
    ExpectGets(FlatResources(SampleAfterChanges()));
    // The changed resource is no longer marked: it can be released.
    ReleaseResource(Get(kFsTI, 128));
    EXPECT_EQ(ResourceError(), kResourceOk);
    Bytes changed = Pattern(80, 1);
    changed[0] ^= 0xFF;
    EXPECT_EQ(BytesOf(Get(kFsTI, 128)), changed);

    // An in-place write-back now writes a map that fits the new data area.
    RemoveResource(Get(kFsTI, 129));
    UpdateResourceFile(ref);
    const Bytes bytes = ReadWholeFile(path);
    std::vector<FlatResource> expected = FlatResources(SampleAfterChanges());
    std::erase_if(expected, [](const FlatResource &r) { return r.type == kFsTI && r.id == 129; });
    EXPECT_EQ(FlatResources(Parse(bytes)), expected);
    EXPECT_TRUE(std::equal(compacted.begin() + 256, compacted.begin() + MapOffsetOf(compacted),
                           bytes.begin() + 256));
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

TEST_F(WriteBackTest, DataBeyondTheLargestOffsetIsNotCompacted) {
    // The first block takes the data area up to 0x7FFFFF, the largest offset
    // that a reference entry holds.
    FixtureFile file;
    file.types = {{kData, {Res(1, std::nullopt, Pattern(0x7FFFFF - 4, 1))}}};
    const std::string path = Put(file, temp_);
    // A block at 0x7FFFFF still fits.
    const uint16_t ref = Open(path);
    Add(Pattern(20, 2), kWnew, 1, "");
    UpdateResourceFile(ref);
    const Bytes bytes = ReadWholeFile(path);
    const FixtureFile parsed = Parse(bytes);
    ASSERT_EQ(parsed.types.size(), 2u);
    EXPECT_EQ(parsed.types[1].resources[0].dataOffset, 0x7FFFFFu);
    // One behind it does not: the file stays as it is.
    Add(Pattern(20, 3), kWnew, 2, "");
    UpdateResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), bytes);
    CloseResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), bytes);
    EXPECT_EQ(ListFolder(temp_.path()), kOnlyTheFile);
}

class WriteBackFaultTest : public WriteBackTest {
  protected:
    // The file that prepare and a write-back without faults give.
    Bytes Unfaulted(const FixtureFile &file, const std::function<void()> &prepare) {
        TempDir dir;
        const std::string path = Put(file, dir);
        const uint16_t ref = Open(path);
        prepare();
        UpdateResourceFile(ref);
        CloseAll();
        return ReadWholeFile(path);
    }

    // For every kind of call and every n until the fault no longer fires: a
    // fresh copy of file, prepare, then a write-back (by UpdateResourceFile, or
    // by closing) whose n-th call of that kind fails. Afterwards the file is the
    // old one or the new one, or, when only the rename failed, the new one
    // lies under the temporary name; nothing else is left in the folder; and
    // the file's map in memory fits whatever file is there.
    void RunFaults(const FixtureFile &file, const std::function<void()> &prepare,
                   const std::vector<FlatResource> &expected, bool inPlace) {
        const Bytes fresh = Unfaulted(file, prepare);
        ASSERT_EQ(FlatResources(Parse(fresh)), expected);
        for (bool closing : {false, true}) {
            for (PlatformOp op : {PlatformOp::Open, PlatformOp::Read, PlatformOp::Write,
                                  PlatformOp::Seek, PlatformOp::Size, PlatformOp::Truncate,
                                  PlatformOp::Close, PlatformOp::Delete, PlatformOp::Move}) {
                bool fired = true;
                for (uint32_t n = 1; fired && n <= 200 && !HasFatalFailure(); ++n) {
                    SCOPED_TRACE(testing::Message() << (closing ? "close" : "update") << ", "
                                                    << PlatformOpName(op) << " " << n);
                    fired = RunOneFault(file, prepare, expected, fresh, closing, op, n, inPlace);
                }
            }
        }
    }

    bool RunOneFault(const FixtureFile &file, const std::function<void()> &prepare,
                     const std::vector<FlatResource> &expected, const Bytes &fresh, bool closing,
                     PlatformOp op, uint32_t n, bool inPlace) {
        TempDir dir;
        const std::string path = Put(file, dir);
        const std::string temporary = dir.File(kTemporaryName);
        const uint16_t ref = Open(path);
        prepare();
        const Bytes old = ReadWholeFile(path);
        bool fired;
        {
            FaultPlatform platform;
            platform.FailNth(op, n);
            closing ? CloseResourceFile(ref) : UpdateResourceFile(ref);
            fired = platform.Fired();
        }
        const bool here = FileExists(path);
        const bool temporaryLeft = FileExists(temporary);
        const Bytes now = here ? ReadWholeFile(path) : Bytes{};
        EXPECT_TRUE(!here || now == old || now == fresh)
            << "a file that is neither the old nor the new";
        if (temporaryLeft) {
            EXPECT_EQ(ReadWholeFile(temporary), fresh);
            // Left only when the old file could not be deleted, or the new
            // one could not take its name.
            EXPECT_TRUE((here && now == old && op == PlatformOp::Delete) ||
                        (!here && op == PlatformOp::Move));
        } else {
            EXPECT_TRUE(here);
        }
        if (inPlace && (op == PlatformOp::Write || op == PlatformOp::Truncate) && fired) {
            EXPECT_EQ(now, old);
        }
        EXPECT_EQ(ListFolder(dir.path()).size(), (here ? 1u : 0u) + (temporaryLeft ? 1u : 0u));
        if (!closing) {
            // The map in memory describes the file there, or the copy under the
            // temporary name.
            if (!here && temporaryLeft) std::filesystem::rename(temporary, path);
            ExpectGets(expected);
            UpdateResourceFile(ref);
            EXPECT_EQ(ReadWholeFile(path), fresh);
            EXPECT_EQ(ListFolder(dir.path()), kOnlyTheFile);
        }
        CloseAll();
        return fired;
    }
};

TEST_F(WriteBackFaultTest, FailedCompactionLeavesOldOrNewFile) {
    RunFaults(
        Sample(), [this] { ChangeSample(); }, FlatResources(SampleAfterChanges()), false);
}

TEST_F(WriteBackFaultTest, FailedInPlaceWriteLeavesOldOrNewFile) {
    FixtureFile file = Sample();
    file.deadBytes = 0;
    FixtureFile expected = file;
    expected.types.erase(expected.types.begin() + 1);
    RunFaults(
        file, [this] { RemoveResource(Get(kSTR, 1)); }, FlatResources(expected), true);
}

TEST_F(WriteBackFaultTest, NoMemoryLeavesOldOrNewFile) {
    const Bytes fresh = Unfaulted(Sample(), [this] { ChangeSample(); });
    bool fired = true;
    for (uint32_t n = 1; fired && n < 500; ++n) {
        SCOPED_TRACE(testing::Message() << "allocation " << n);
        TempDir dir;
        const std::string path = Put(Sample(), dir);
        const uint16_t ref = Open(path);
        ChangeSample();
        const Bytes old = ReadWholeFile(path);
        MemoryPoolFailNth(n);
        UpdateResourceFile(ref);
        fired = MemoryPoolFailureFired();
        MemoryPoolFailNth(0);
        const Bytes now = ReadWholeFile(path);
        EXPECT_TRUE(now == old || now == fresh);
        EXPECT_EQ(ListFolder(dir.path()), kOnlyTheFile);
        UpdateResourceFile(ref);
        EXPECT_EQ(ReadWholeFile(path), fresh);
        CloseAll();
    }
    EXPECT_FALSE(fired);
}

}  // namespace
