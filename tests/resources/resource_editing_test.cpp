// Edits that are refused, the free space each edit needs, and the dead bytes a
// removal counts; what edits make of a map is in write_resource_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <tuple>

#include "common/resource_test.h"
#include "resources/map_block.h"
#include "resources/open_files.h"
#include "support/memory_pool.h"

namespace {

// Room that adding or marking needs beyond the resource's own bytes.
constexpr uint64_t kMargin = 280;

class ResourceEditingTest : public ResourceFileTest {
  protected:
    // FsTI 128 "alpha" (20 bytes), FsTI 129 (3 bytes), PICT 1 (a picture), and
    // a dead-bytes counter of -7.
    void SetUp() override {
        ResourceFileTest::SetUp();
        FixtureFile file =
            Described({{kFsTI, {Res(128, "alpha", Pattern(20)), Res(129, {}, {1, 2, 3})}},
                       {kPICT, {Res(1, std::nullopt, Bitmap(4, 2, 8))}}});
        file.deadBytes = -7;
        ref_ = Open(path_ = Write("content.rez", file));
    }
    Handle Filled(size_t size) { return Own(HandleWith(Pattern(size)), kSkFs); }
    // Whether h is marked changed in its map.
    static bool Marked(Handle h) {
        HandleLocation where;
        return FindHandle(h, &where) && RefAttributes(where.file->map, where.ref) == 0x02;
    }

    std::string path_;
    uint16_t ref_ = 0;
};

// A platform whose current folder cannot be had: there is none, or it is too
// long for the buffer (then "." stands in the buffer, and its length is given).
class FolderPlatform : public FaultPlatform {
  public:
    explicit FolderPlatform(bool tooLong) : tooLong_(tooLong) {}
    uint32_t CurrentFolder(char *out, uint32_t capacity) override {
        if (tooLong_) std::strcpy(out, ".");
        return tooLong_ ? capacity : 0;
    }

  private:
    bool tooLong_;
};

// Refused, changing nothing: adding a null, mapped or unregistered Handle, or with no file current;
// marking or removing one in no map; an edit without memory. Adding needs free space for the data
// and a margin (else -34), marking the same for the stored size (else -194); a failed query is no
// room, and with no current file the current folder's disk is asked.
TEST_F(ResourceEditingTest, EditsAreRefusedWithoutChangeOrNeedFreeSpace) {
    FaultPlatform fault;
    Handle added = Filled(4), none = Filled(100), alpha = Get(kFsTI, 128), pict = Get(kPICT, 1);
    AddResource(added, kSkFs, 1, nullptr);
    MemoryPoolFailNth(3);
    Handle unknown = NewHandle(8);
    MemoryPoolFailNth(0);
    const Bytes before = ReadWholeFile(path_);
    const uint32_t picture = 14 + 40 + 1024 + 8;
    constexpr int kNoFolder = -2, kLongFolder = -3;
    const struct {
        char edit;  // add, mark or remove
        Handle h;
        int16_t error;
        uint64_t freeSpace = 1u << 30;
        int failing = -1;  // a platform call, the allocation, or the current folder
        bool noFile = false;
    } rows[] = {
        {'a', nullptr, -194},
        {'a', alpha, kCannotAdd},
        {'a', added, kCannotAdd},
        {'a', unknown, kCannotAdd},
        {'a', none, kCannotAdd, 1u << 30, -1, true},
        {'a', none, kCannotAdd, 1u << 30, kAllocationFault},
        {'a', none, kDiskFull, 100 + kMargin},
        {'a', none, kDiskFull, 1u << 30, Op(PlatformOp::FreeSpace)},
        {'m', none, kResourceNotFound},
        {'m', nullptr, kResourceNotFound},
        {'m', alpha, kCannotAdd, 20 + kMargin},
        {'m', pict, kCannotAdd, picture + kMargin},
        {'m', alpha, kCannotAdd, 1u << 30, kNoFolder, true},
        {'m', alpha, kCannotAdd, 1u << 30, kLongFolder, true},
        {'r', none, kCannotRemove},
        {'r', nullptr, kCannotRemove},
        {'r', alpha, kCannotRemove, 1u << 30, kAllocationFault},
    };
    for (const auto &row : rows) {
        fault.SetFreeSpace(row.freeSpace);
        if (row.failing >= 0 && row.failing < kAllocationFault)
            fault.FailNth(PlatformOp(row.failing), fault.Calls(PlatformOp(row.failing)) + 1);
        if (row.noFile) UseResourceFile(42);
        {
            std::optional<FolderPlatform> folder;
            if (row.failing <= kNoFolder) folder.emplace(row.failing == kLongFolder);
            MemoryPoolFailNth(row.failing == kAllocationFault ? 1 : 0);
            row.edit == 'a'   ? AddResource(row.h, kSkFs, 2, nullptr)
            : row.edit == 'm' ? MarkResourceChanged(row.h)
                              : RemoveResource(row.h);
            MemoryPoolFailNth(0);
        }
        UseResourceFile(ref_);
        EXPECT_EQ(ResourceError(), row.error) << &row - rows;
        EXPECT_FALSE(Marked(alpha) || Marked(pict));
        EXPECT_EQ(CountOneResources(kSkFs), 1);
        EXPECT_EQ(CountOneResources(kFsTI), 2);
    }
    DisposeHandle(unknown);
    EXPECT_EQ(ReadWholeFile(path_), before);
    // One byte more is enough; without a current file the free space asked is the current folder's.
    fault.SetFreeSpace(100 + kMargin + 1);
    AddResource(none, kSkFs, 1, nullptr);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(HomeResourceFile(added), -1) << "replaced, and the caller's again";
    EXPECT_EQ(InfoOf(none), std::tuple(1, kSkFs, Str255Of("")));
    for (auto [h, size] : {std::pair{alpha, 20u}, std::pair{pict, picture}}) {
        fault.SetFreeSpace(size + kMargin + 1);
        MarkResourceChanged(h);
        EXPECT_TRUE(Marked(h));
    }
    Handle three = Get(kFsTI, 129);
    UseResourceFile(42);
    fault.SetFreeSpace(3 + kMargin + 1);
    MarkResourceChanged(three);
    EXPECT_TRUE(Marked(three));
}

// A load whose read or allocation fails gives nothing and keeps nothing.
TEST_F(ResourceEditingTest, FailedLoadsKeepNothing) {
    Handle h = nullptr;
    ForEachFault(
        {Op(PlatformOp::Read), kAllocationFault}, [] {}, [&] { h = GetResource(kFsTI, 129); },
        [&](int, bool fired) {
            EXPECT_EQ(h == nullptr, fired);
            ReleaseResource(h);
        });
}

// A removal leaves the Handle to the caller and counts the resource's stored
// bytes as dead; a file that cannot be opened keeps its counter.
TEST_F(ResourceEditingTest, RemovalCountsItsBytesAsDead) {
    Handle alpha = Get(kFsTI, 128), three = Get(kFsTI, 129);
    FaultPlatform fault;
    RemoveResource(alpha);
    RemoveResource(Get(kPICT, 1));
    EXPECT_EQ(BytesOf(alpha), Pattern(20));
    EXPECT_EQ(GetI32(ReadWholeFile(path_), kDeadBytesField), 20 + 14 + 40 + 1024 + 8);
    EXPECT_EQ(fault.Calls(PlatformOp::Close), fault.Calls(PlatformOp::Open)) << "every file closed";
    fault.FailNth(PlatformOp::Open, fault.Calls(PlatformOp::Open) + 1);
    RemoveResource(three);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(CountOneResources(kFsTI), 0);
    EXPECT_EQ(GetI32(ReadWholeFile(path_), kDeadBytesField), 20 + 14 + 40 + 1024 + 8);
}

// A file named through a drive letter asks the free space of that drive's root.
TEST_F(ResourceEditingTest, DrivePathsAskTheirDriveForRoom) {
    ScopedEnvironment drives("SKELMORA_DRIVES", ("C=fixed=" + temp_.path()).c_str());
    Write("drive.rez", Described({}));
    ASSERT_NE(Open("C:\\drive.rez"), kNoFile);
    Add(Pattern(4), kWnew, 1, "");
    EXPECT_EQ(GetFreeDiskSpace((std::string(300, 'C') + ":\\x").c_str(), nullptr), 0);  // too long
}

}  // namespace
