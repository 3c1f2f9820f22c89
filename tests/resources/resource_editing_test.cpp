// Adding, marking and removing resources of an open file: edits that are
// refused, the free space each edit needs, and the dead bytes a removal counts.
// What the map and the file hold after long runs of edits is checked by the
// session test of write_resource_test.cpp.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "common/fault_platform.h"
#include "common/resource_test.h"
#include "resources/map_block.h"
#include "resources/open_files.h"
#include "support/memory_pool.h"

namespace {

// Room that adding or marking needs beyond the resource's own bytes.
constexpr uint64_t kMargin = 280;

// A 4 x 2 picture of 8 bits per pixel with a full colour table: its image takes
// 14 + 40 + 1024 + 8 bytes.
Bytes Picture() {
    return Bitmap(4, 2, 8);
}

// FsTI 128 "alpha" (20 bytes), FsTI 129 "beta" (3 bytes), PICT 1 (a picture).
FixtureFile Content(int32_t deadBytes = 5) {
    FixtureFile file =
        Described({{kFsTI, {Res(128, "alpha", Pattern(20, 1)), Res(129, "beta", Pattern(3, 50))}},
                   {kPICT, {Res(1, std::nullopt, Picture())}}});
    file.kind = kSkFs;
    file.deadBytes = deadBytes;
    return file;
}

class ResourceEditingTest : public ResourceFileTest {
  protected:
    uint16_t OpenContent(int32_t deadBytes = 5) {
        const uint16_t ref = Open(Write("content.rez", Content(deadBytes)));
        EXPECT_NE(ref, kNoFile);
        return ref;
    }
    Handle Filled(size_t size, uint8_t first) {
        return Own(HandleWith(Pattern(size, first)), kSkFs);
    }

    // The attribute byte of the entry that holds h.
    static uint8_t Attributes(Handle h) {
        HandleLocation where;
        EXPECT_TRUE(FindHandle(h, &where));
        return RefAttributes(where.file->map, where.ref);
    }
    Bytes OnDisk() { return ReadWholeFile(temp_.File("content.rez")); }
    int32_t DeadBytesOnDisk() { return GetI32(OnDisk(), kDeadBytesField); }
};

TEST_F(ResourceEditingTest, AddRefusesHandlesItCannotTake) {
    const uint16_t ref = OpenContent();
    AddResource(nullptr, kSkFs, 1, nullptr);
    EXPECT_EQ(ResourceError(), kCannotAdd);
    // A Handle that a map already holds, whether loaded or added.
    AddResource(Get(kFsTI, 128), kSkFs, 1, nullptr);
    EXPECT_EQ(ResourceError(), kCannotAdd);
    Handle added = Filled(4, 0);
    AddResource(added, kSkFs, 1, nullptr);
    ASSERT_EQ(ResourceError(), kResourceOk);
    AddResource(added, kSkFs, 2, nullptr);
    EXPECT_EQ(ResourceError(), kCannotAdd);
    // Adding an id again replaces its entry in place; the replaced Handle is out
    // of the map but still the caller's.
    Handle fish = Filled(10, 0x40);
    AddResource(fish, kSkFs, 1, Str255Of("fish").data());
    EXPECT_EQ(HomeResourceFile(added), -1);
    EXPECT_EQ(BytesOf(added), Pattern(4, 0));
    EXPECT_EQ(InfoOf(fish), std::tuple(1, kSkFs, Str255Of("fish")));
    // A Handle the registry does not know has no number to store.
    MemoryPoolFailNth(3);
    Handle unknown = NewHandle(8);
    MemoryPoolFailNth(0);
    ASSERT_EQ(HandleNumber(unknown), 0u);
    AddResource(unknown, kSkFs, 3, nullptr);
    EXPECT_EQ(ResourceError(), kCannotAdd);
    DisposeHandle(unknown);
    // No file is current.
    UseResourceFile(42);
    AddResource(Filled(4, 0), kSkFs, 4, nullptr);
    EXPECT_EQ(ResourceError(), kCannotAdd);
    UseResourceFile(ref);
    EXPECT_EQ(CountOneResources(kSkFs), 1);

    // Without memory for the edit, the map stays as it was.
    Handle h = Filled(4, 0);
    for (uint32_t n = 1;; ++n) {
        ASSERT_LT(n, 50u);
        MemoryPoolFailNth(n);
        AddResource(h, kSkFs, 7, Str255Of("seven").data());
        const bool fired = MemoryPoolFailureFired();
        MemoryPoolFailNth(0);
        if (!fired) break;
        EXPECT_EQ(ResourceError(), kCannotAdd);
        EXPECT_EQ(CountOneResources(kSkFs), 1);
        EXPECT_EQ(HomeResourceFile(h), -1);
    }
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(GetResource(kSkFs, 7), h);
}

// A platform whose current folder cannot be had.
class NoFolderPlatform : public FaultPlatform {
  public:
    uint32_t CurrentFolder(char *, uint32_t) override { return 0; }
};

// Adding needs more free space than the data and a margin (else -34); marking
// changed needs the same for the resource's stored size (else -194), which for
// a picture is its bitmap image. A failed query counts as no room.
TEST_F(ResourceEditingTest, EditsNeedFreeSpaceForTheirData) {
    FaultPlatform fault;
    OpenContent();
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

    for (const auto &[type, id, size] :
         {std::tuple{kFsTI, 128, uint64_t{20}}, std::tuple{kPICT, 1, uint64_t{Picture().size()}}}) {
        Handle resource = Get(type, static_cast<int16_t>(id));
        fault.SetFreeSpace(size + kMargin);
        MarkResourceChanged(resource);
        EXPECT_EQ(ResourceError(), kCannotAdd);
        EXPECT_EQ(Attributes(resource), 0);
        fault.SetFreeSpace(size + kMargin + 1);
        MarkResourceChanged(resource);
        EXPECT_EQ(ResourceError(), kResourceOk);
        EXPECT_EQ(Attributes(resource), 0x02);
    }

    for (Handle none : {Filled(4, 0), static_cast<Handle>(nullptr)}) {
        MarkResourceChanged(none);
        EXPECT_EQ(ResourceError(), kResourceNotFound);
    }

    // Without a current file the free space of the current folder is asked;
    // when the current folder cannot be had there is no room.
    Handle beta = Get(kFsTI, 129);
    UseResourceFile(42);
    const uint32_t queries = fault.Calls(PlatformOp::FreeSpace);
    fault.SetFreeSpace(3 + kMargin + 1);
    MarkResourceChanged(beta);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(fault.Calls(PlatformOp::FreeSpace), queries + 1);
    NoFolderPlatform noFolder;
    MarkResourceChanged(beta);
    EXPECT_EQ(ResourceError(), kCannotAdd);
    EXPECT_EQ(noFolder.Calls(PlatformOp::FreeSpace), 0u);
}

TEST_F(ResourceEditingTest, RemovalDropsTheEntryAndCountsItsBytesAsDeadOrIsRefused) {
    FaultPlatform fault;
    OpenContent(5);
    const Bytes before = OnDisk();
    Handle h = Get(kFsTI, 128);
    RemoveResource(h);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(CountOneResources(kFsTI), 1);
    EXPECT_TRUE(NotFound(GetResource(kFsTI, 128)));
    // Only the counter changed on disk.
    Bytes after = OnDisk();
    EXPECT_EQ(GetI32(after, kDeadBytesField), 25);
    PutI32(after, kDeadBytesField, 5);
    EXPECT_EQ(after, before);
    // The Handle is the caller's now, untouched.
    ReleaseResource(h);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(BytesOf(h), Pattern(20, 1));
    EXPECT_EQ(InfoOf(Get(kFsTI, 129)), std::tuple(129, kFsTI, Str255Of("beta")));

    // A removed Handle can be added again, last in its run now; removed again,
    // it counts its Handle's size. A picture counts its stored image.
    AddResource(h, kFsTI, 128, Str255Of("alpha").data());
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(GetResource(kFsTI, 128), h);
    EXPECT_EQ(GetOneIndexedResource(kFsTI, 2), h);
    RemoveResource(h);
    EXPECT_EQ(DeadBytesOnDisk(), 45);
    RemoveResource(Get(kPICT, 1));
    EXPECT_EQ(DeadBytesOnDisk(), static_cast<int32_t>(45 + Picture().size()));
    CloseAll();
    const std::vector<FlatResource> flat = FlatResources(Parse(OnDisk()), false);
    ASSERT_EQ(flat.size(), 1u);
    EXPECT_EQ(flat[0], (FlatResource{kFsTI, 129, "beta", Pattern(3, 50), 0}));

    // A negative counter is replaced, not added to.
    const uint16_t ref = OpenContent(-7);
    RemoveResource(Get(kFsTI, 129));
    EXPECT_EQ(DeadBytesOnDisk(), 3);
    // Refused: a Handle in no map, and an edit without memory (nothing changes,
    // in memory or on disk). A file that cannot be opened keeps its counter
    // while the removal stands.
    for (Handle none : {Filled(4, 0), static_cast<Handle>(nullptr)}) {
        RemoveResource(none);
        EXPECT_EQ(ResourceError(), kCannotRemove);
    }
    Handle alpha = Get(kFsTI, 128);
    MemoryPoolFailNth(1);
    RemoveResource(alpha);
    MemoryPoolFailNth(0);
    EXPECT_EQ(ResourceError(), kCannotRemove);
    EXPECT_EQ(HomeResourceFile(alpha), ref);
    EXPECT_EQ(DeadBytesOnDisk(), 3);
    EXPECT_EQ(fault.Calls(PlatformOp::Close), fault.Calls(PlatformOp::Open)) << "every file closed";
    fault.FailNth(PlatformOp::Open, fault.Calls(PlatformOp::Open) + 1);
    RemoveResource(alpha);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(CountOneResources(kFsTI), 0);
    EXPECT_EQ(DeadBytesOnDisk(), 3);
}

}  // namespace
