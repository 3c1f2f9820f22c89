#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/fault_platform.h"
#include "common/fixture.h"
#include "common/test_env.h"
#include "resources/handles.h"
#include "resources/map_block.h"
#include "resources/open_files.h"
#include "resources/resource_manager.h"
#include "support/memory_pool.h"

namespace {

constexpr uint32_t kFsTI = FourCC("FsTI");
constexpr uint32_t kSkFs = FourCC("SkFs");
constexpr uint32_t kPict = FourCC("PICT");
constexpr size_t kDeadBytesAt = 32;

// Room that adding or marking needs beyond the resource's own bytes.
constexpr uint64_t kMargin = 280;

std::vector<uint8_t> Str(const std::string &text) {
    std::vector<uint8_t> str(1, static_cast<uint8_t>(text.size()));
    str.insert(str.end(), text.begin(), text.end());
    return str;
}

FixtureResource Res(int16_t id, std::optional<std::string> name, std::vector<uint8_t> data) {
    FixtureResource resource;
    resource.id = id;
    resource.name = std::move(name);
    resource.data = std::move(data);
    return resource;
}

std::vector<uint8_t> Bytes(size_t count, uint8_t first) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

// A 4 x 2 picture of 8 bits per pixel with a full colour table: its image takes
// 14 + 40 + 1024 + 8 bytes.
std::vector<uint8_t> PictureImage() {
    std::vector<FixtureColour> palette(256);
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = {static_cast<uint8_t>(i), 0, 0};
    return BuildBitmapImage(4, 2, 8, palette, {1, 2, 3, 4, 5, 6, 7, 8});
}

// FsTI 128 "alpha" (20 bytes), FsTI 129 "beta" (3 bytes), PICT 1 (a picture).
FixtureFile Content(int32_t deadBytes = 5) {
    FixtureFile file;
    file.kind = kSkFs;
    file.deadBytes = deadBytes;
    file.types = {{kFsTI, {Res(128, "alpha", Bytes(20, 1)), Res(129, "beta", Bytes(3, 50))}},
                  {kPict, {Res(1, std::nullopt, PictureImage())}}};
    return file;
}

class ResourceEditingTest : public PoolTest {
  protected:
    void SetUp() override {
        PoolTest::SetUp();
        ASSERT_EQ(StartResourceManager(), 0);
    }

    void TearDown() override {
        CloseAll();
        for (auto [h, picture] : kept_) {
            if (picture) {
                DisposePictureHandle(h);
            } else {
                DisposeHandle(h);
            }
        }
        StopResourceManager();
        PoolTest::TearDown();
    }

    uint16_t Open(const FixtureFile &file) {
        path_ = temp_.File("content.rez");
        WriteWholeFile(path_, BuildResourceFile(file));
        uint16_t refNum = OpenResourceFile(Str(path_).data());
        EXPECT_NE(refNum, kNoFile);
        opened_.push_back(refNum);
        return refNum;
    }

    void CloseAll() {
        for (uint16_t refNum : opened_)
            CloseResourceFile(refNum);
        opened_.clear();
    }

    // Remembers a Handle to dispose when the test is over.
    Handle Keep(Handle h, bool picture = false) {
        EXPECT_NE(h, nullptr);
        if (h != nullptr) kept_.push_back({h, picture});
        return h;
    }

    Handle Filled(size_t size, uint8_t first) {
        Handle h = Keep(NewHandle(static_cast<int32_t>(size)));
        std::vector<uint8_t> bytes = Bytes(size, first);
        if (h != nullptr) std::memcpy(*h, bytes.data(), size);
        return h;
    }

    // The attribute byte of the entry that holds h.
    static uint8_t Attributes(Handle h) {
        HandleLocation where;
        EXPECT_TRUE(FindHandle(h, &where));
        return RefAttributes(where.file->map, where.ref);
    }

    int32_t DeadBytesOnDisk() const { return GetI32(ReadWholeFile(path_), kDeadBytesAt); }

    // The file as it stands on disk, read strictly: a map written in place over a
    // longer one must not leave the old map's tail behind it.
    FixtureFile FileOnDisk() const {
        std::vector<uint8_t> bytes = ReadWholeFile(path_);
        FixtureFile parsed;
        std::string why;
        EXPECT_TRUE(ParseResourceFile(bytes, &parsed, &why)) << why;
        return parsed;
    }

    std::string path_;
    std::vector<uint16_t> opened_;
    std::vector<std::pair<Handle, bool>> kept_;
};

TEST_F(ResourceEditingTest, AddedHandleBecomesAChangedResourceOfTheCurrentFile) {
    uint16_t refNum = Open(Content());
    Handle h = Filled(10, 0x40);
    AddResource(h, kSkFs, 128, Str("fish").data());
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(CountOneResources(kSkFs), 1);
    EXPECT_EQ(GetOneIndexedResource(kSkFs, 1), h);
    EXPECT_EQ(HomeResourceFile(h), refNum);
    EXPECT_EQ(Attributes(h), 0x02);
    int16_t id = 0;
    uint32_t type = 0;
    uint8_t name[256] = {};
    GetResourceInfo(h, &id, &type, name);
    EXPECT_EQ(id, 128);
    EXPECT_EQ(type, kSkFs);
    EXPECT_EQ(std::vector<uint8_t>(name, name + 5), Str("fish"));

    // The file gets it when it is written back.
    CloseAll();
    std::vector<FlatResource> flat = FlatResources(FileOnDisk(), false);
    ASSERT_EQ(flat.size(), 4u);
    EXPECT_EQ(flat[3], (FlatResource{kSkFs, 128, "fish", Bytes(10, 0x40), 0}));
}

TEST_F(ResourceEditingTest, AddingIdsKeepsTheirOrderAndAnExistingIdIsReplaced) {
    Open(Content());
    Handle five = Filled(4, 5);
    Handle three = Filled(4, 3);
    AddResource(five, kSkFs, 5, Str("").data());
    AddResource(three, kSkFs, 3, nullptr);
    EXPECT_EQ(GetOneIndexedResource(kSkFs, 1), five);
    EXPECT_EQ(GetOneIndexedResource(kSkFs, 2), three);

    Handle again = Filled(6, 9);
    AddResource(again, kSkFs, 5, Str("new").data());
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(CountOneResources(kSkFs), 2);
    EXPECT_EQ(GetOneIndexedResource(kSkFs, 1), again);
    // The replaced Handle is out of the map but still the caller's.
    EXPECT_EQ(HomeResourceFile(five), -1);
    EXPECT_EQ(GetHandleSize(five), 4);
    EXPECT_EQ((*five)[3], 8);
}

TEST_F(ResourceEditingTest, AddRefusesHandlesItCannotTake) {
    uint16_t refNum = Open(Content());
    AddResource(nullptr, kSkFs, 1, nullptr);
    EXPECT_EQ(ResourceError(), kCannotAdd);

    // A Handle that a map already holds, whether loaded or added.
    Handle loaded = Keep(GetResource(kFsTI, 128));
    AddResource(loaded, kSkFs, 1, nullptr);
    EXPECT_EQ(ResourceError(), kCannotAdd);
    Handle added = Filled(4, 0);
    AddResource(added, kSkFs, 1, nullptr);
    ASSERT_EQ(ResourceError(), kResourceOk);
    AddResource(added, kSkFs, 2, nullptr);
    EXPECT_EQ(ResourceError(), kCannotAdd);
    EXPECT_EQ(CountOneResources(kSkFs), 1);

    // A Handle the registry does not know has no number to store.
    MemoryPoolFailNth(3);
    Handle unknown = NewHandle(8);
    MemoryPoolFailNth(0);
    ASSERT_NE(unknown, nullptr);
    ASSERT_EQ(HandleNumber(unknown), 0u);
    AddResource(unknown, kSkFs, 3, nullptr);
    EXPECT_EQ(ResourceError(), kCannotAdd);
    DisposeHandle(unknown);

    UseResourceFile(42);
    Handle orphan = Filled(4, 0);
    AddResource(orphan, kSkFs, 4, nullptr);
    EXPECT_EQ(ResourceError(), kCannotAdd);
    UseResourceFile(refNum);
    EXPECT_EQ(CountOneResources(kSkFs), 1);
}

TEST_F(ResourceEditingTest, AddWithoutMemoryLeavesTheMapAsItWas) {
    Open(Content());
    Handle h = Filled(4, 0);
    for (uint32_t n = 1;; ++n) {
        ASSERT_LT(n, 50u);
        MemoryPoolFailNth(n);
        AddResource(h, kSkFs, 7, Str("seven").data());
        bool fired = MemoryPoolFailureFired();
        MemoryPoolFailNth(0);
        if (!fired) break;
        EXPECT_EQ(ResourceError(), kCannotAdd);
        EXPECT_EQ(CountOneResources(kSkFs), 0);
        EXPECT_EQ(HomeResourceFile(h), -1);
    }
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(GetResource(kSkFs, 7), h);
}

TEST_F(ResourceEditingTest, AddNeedsMoreFreeSpaceThanTheDataAndMargin) {
    FaultPlatform fault;
    Open(Content());
    Handle h = Filled(100, 0);
    fault.SetFreeSpace(100 + kMargin);
    AddResource(h, kSkFs, 1, nullptr);
    EXPECT_EQ(ResourceError(), kDiskFull);
    EXPECT_EQ(CountOneResources(kSkFs), 0);
    fault.FailNth(PlatformOp::FreeSpace, fault.Calls(PlatformOp::FreeSpace) + 1);
    fault.SetFreeSpace(1u << 30);
    AddResource(h, kSkFs, 1, nullptr);
    EXPECT_EQ(ResourceError(), kDiskFull);
    fault.SetFreeSpace(100 + kMargin + 1);
    AddResource(h, kSkFs, 1, nullptr);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(CountOneResources(kSkFs), 1);
}

TEST_F(ResourceEditingTest, MarkSetsTheChangedBitWhenTheDiskHasRoom) {
    FaultPlatform fault;
    Open(Content());
    MarkResourceChanged(nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    Handle stranger = Filled(4, 0);
    MarkResourceChanged(stranger);
    EXPECT_EQ(ResourceError(), kResourceNotFound);

    Handle h = Keep(GetResource(kFsTI, 128));
    fault.SetFreeSpace(20 + kMargin);
    MarkResourceChanged(h);
    EXPECT_EQ(ResourceError(), kCannotAdd);
    EXPECT_EQ(Attributes(h), 0);
    fault.SetFreeSpace(20 + kMargin + 1);
    MarkResourceChanged(h);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(Attributes(h), 0x02);
    // A changed resource stays attached through a release.
    ReleaseResource(h);
    EXPECT_EQ(GetResource(kFsTI, 128), h);
}

TEST_F(ResourceEditingTest, MarkingAPictureCountsItsStoredImage) {
    FaultPlatform fault;
    Open(Content());
    const uint64_t image = PictureImage().size();
    ASSERT_EQ(image, 14u + 40 + 1024 + 8);
    Handle picture = Keep(GetResource(kPict, 1), true);
    fault.SetFreeSpace(image + kMargin);
    MarkResourceChanged(picture);
    EXPECT_EQ(ResourceError(), kCannotAdd);
    fault.SetFreeSpace(image + kMargin + 1);
    MarkResourceChanged(picture);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(Attributes(picture), 0x02);
}

// A platform whose current folder cannot be had.
class NoFolderPlatform : public FaultPlatform {
  public:
    uint32_t CurrentFolder(char *, uint32_t) override { return 0; }
};

TEST_F(ResourceEditingTest, WithoutACurrentFileTheCurrentFolderIsAsked) {
    uint16_t refNum = Open(Content());
    Handle h = Keep(GetResource(kFsTI, 129));
    UseResourceFile(42);
    {
        FaultPlatform fault;
        fault.SetFreeSpace(3 + kMargin + 1);
        MarkResourceChanged(h);
        EXPECT_EQ(ResourceError(), kResourceOk);
        EXPECT_EQ(fault.Calls(PlatformOp::FreeSpace), 1u);
    }
    {
        NoFolderPlatform noFolder;
        noFolder.SetFreeSpace(1u << 30);
        MarkResourceChanged(h);
        EXPECT_EQ(ResourceError(), kCannotAdd);
        EXPECT_EQ(noFolder.Calls(PlatformOp::FreeSpace), 0u);
    }
    UseResourceFile(refNum);
}

TEST_F(ResourceEditingTest, RemovalDropsTheEntryAndCountsItsBytesAsDead) {
    Open(Content(5));
    std::vector<uint8_t> before = ReadWholeFile(path_);
    Handle h = Keep(GetResource(kFsTI, 128));
    RemoveResource(h);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(CountOneResources(kFsTI), 1);
    EXPECT_EQ(GetResource(kFsTI, 128), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);

    // Only the counter changed on disk.
    std::vector<uint8_t> after = ReadWholeFile(path_);
    EXPECT_EQ(GetI32(after, kDeadBytesAt), 25);
    PutI32(after, kDeadBytesAt, 5);
    EXPECT_EQ(after, before);

    // The Handle is the caller's now, untouched.
    ReleaseResource(h);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    ASSERT_EQ(GetHandleSize(h), 20);
    EXPECT_EQ(std::vector<uint8_t>(*h, *h + 20), Bytes(20, 1));

    Handle beta = Keep(GetResource(kFsTI, 129));
    uint8_t name[256] = {};
    GetResourceInfo(beta, nullptr, nullptr, name);
    EXPECT_EQ(std::vector<uint8_t>(name, name + 5), Str("beta"));

    CloseAll();
    std::vector<FlatResource> flat = FlatResources(FileOnDisk(), false);
    ASSERT_EQ(flat.size(), 2u);
    EXPECT_EQ(flat[0], (FlatResource{kFsTI, 129, "beta", Bytes(3, 50), 0}));
}

TEST_F(ResourceEditingTest, RemovingAPictureCountsItsImageAndReplacesANegativeCounter) {
    Open(Content(-7));
    Handle picture = Keep(GetResource(kPict, 1), true);
    RemoveResource(picture);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(CountOneResources(kPict), 0);
    EXPECT_EQ(DeadBytesOnDisk(), static_cast<int32_t>(PictureImage().size()));
}

TEST_F(ResourceEditingTest, RemovalFailures) {
    FaultPlatform fault;
    uint16_t refNum = Open(Content(5));
    RemoveResource(nullptr);
    EXPECT_EQ(ResourceError(), kCannotRemove);
    Handle stranger = Filled(4, 0);
    RemoveResource(stranger);
    EXPECT_EQ(ResourceError(), kCannotRemove);

    // No memory for the edit: nothing changes, in memory or on disk.
    Handle h = Keep(GetResource(kFsTI, 129));
    MemoryPoolFailNth(1);
    RemoveResource(h);
    MemoryPoolFailNth(0);
    EXPECT_EQ(ResourceError(), kCannotRemove);
    EXPECT_EQ(HomeResourceFile(h), refNum);
    EXPECT_EQ(CountOneResources(kFsTI), 2);
    EXPECT_EQ(DeadBytesOnDisk(), 5);

    // A file that cannot be opened keeps its counter; the removal stands.
    fault.FailNth(PlatformOp::Open, fault.Calls(PlatformOp::Open) + 1);
    RemoveResource(h);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(CountOneResources(kFsTI), 1);
    EXPECT_EQ(DeadBytesOnDisk(), 5);
}

TEST_F(ResourceEditingTest, ARemovedHandleCanBeAddedAgain) {
    Open(Content(0));
    Handle h = Keep(GetResource(kFsTI, 128));
    RemoveResource(h);
    AddResource(h, kFsTI, 128, Str("alpha").data());
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(GetResource(kFsTI, 128), h);
    // Last in its run now, behind 129.
    EXPECT_EQ(GetOneIndexedResource(kFsTI, 2), h);
    // An added resource that is removed again counts its Handle's size.
    RemoveResource(h);
    EXPECT_EQ(DeadBytesOnDisk(), 40);
}

}  // namespace
