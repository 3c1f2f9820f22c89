// The guarded Resource Manager calls: status codes, lookups, and copies from one
// open file into another, each leaving the current file as it was.
#include "update/resource_helpers.h"

#include <gtest/gtest.h>

#include "common/resource_test.h"
#include "platform/fault_platform.h"
#include "support/memory_pool.h"

namespace {

TEST(MapResourceErrorTest, TranslatesTheTableAndPassesTheRestThrough) {
    const std::vector<std::pair<int16_t, int16_t>> rows = {
        {-206, 70}, {-205, 69},   {-204, 53}, {-203, 73},   {-201, 72}, {-200, 71},
        {-194, 27}, {-193, 4},    {-192, 3},  {-108, 18},   {-61, 77},  {-58, 0},
        {-51, 55},  {-49, 57},    {-46, 76},  {-45, 75},    {-44, 74},  {-43, 51},
        {-42, 58},  {-38, 52},    {-37, 56},  {-36, 53},    {-35, 54},  {-34, 47},
        {0, 0},     {-202, -202}, {5, 5},     {-207, -207}, {-1, -1},   {-196, -196}};
    for (const auto &[error, status] : rows)
        EXPECT_EQ(MapResourceError(error), status) << error;
}

class ResourceHelpersTest : public ResourceFileTest {
  public:
    void SetUp() override {
        ResourceFileTest::SetUp();
        source_ =
            Open(Write("Updater.rez", Described({{kFsTI, {Res(10001, "one", Pattern(30))}}})));
        destinationPath_ =
            Write("content.rez", Described({{kFsTI, {Res(10002, "old", Pattern(20, 5))}}}));
        destination_ = Open(destinationPath_);
    }
    uint16_t source_ = 0, destination_ = 0;
    std::string destinationPath_;
};

TEST_F(ResourceHelpersTest, LookupsGiveStatuses) {
    Handle h = nullptr;
    EXPECT_EQ(GetOneResourceChecked(&h, kFsTI, 128), kStatusNotFound);
    EXPECT_EQ(GetOneResource(kFsTI, 128), nullptr);
    h = HandleWith({1});
    Handle loose = h;
    EXPECT_EQ(GetOneResourceChecked(&h, kFsTI, 127), kStatusLowId);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(GetResourceChecked(&h, kFsTI, 127), kStatusLowId);
    EXPECT_EQ(ResourceError(), -192);  // left by the bare lookup: none made since
    EXPECT_EQ(GetResourceChecked(&h, kFsTI, 128), kStatusNotFound);
    EXPECT_EQ(GetOneIndexedResourceChecked(&h, kFsTI, 0), kStatusNotFound);
    EXPECT_EQ(GetOneResourceChecked(&h, kFsTI, 10001), kStatusNotFound);
    EXPECT_EQ(GetResourceChecked(&h, kFsTI, 10001), kStatusOk);
    Own(h, kFsTI);
    {  // listed, but its data cannot be read: not missing
        FaultPlatform fault;
        fault.FailNth(PlatformOp::Open, 1, true);
        EXPECT_EQ(GetOneResourceChecked(&h, kFsTI, 10002), kStatusUnreadable);
        EXPECT_EQ(GetNamedResourceChecked(&h, kFsTI, Str255Of("old").data()), kStatusUnreadable);
    }
    EXPECT_EQ(GetNamedResourceChecked(&h, kFsTI, Str255Of("new").data()), kStatusNotFound);
    EXPECT_EQ(GetNamedResourceChecked(&h, kFsTI, Str255Of("old").data()), kStatusOk);
    int16_t id = 0;
    uint8_t name[256] = {};
    EXPECT_EQ(GetResourceIdChecked(&id, h), kStatusOk);
    EXPECT_EQ(GetResourceNameChecked(name, h), kStatusOk);
    EXPECT_EQ(id, 10002);
    EXPECT_EQ(Bytes(name, name + 4), Str255Of("old"));
    EXPECT_EQ(GetResourceIdChecked(&id, loose), kStatusNotFound);
    EXPECT_EQ(AddResourceChecked(h, kFsTI, 10003, name), 27);
    EXPECT_EQ(SaveResourceData(loose), kStatusNotFound);
    // A Handle in no file cannot be removed: it is kept and the raw error given.
    EXPECT_EQ(RemoveResourceChecked(loose), -196);
    EXPECT_NE(HandleNumber(loose), 0u);
    DisposeHandle(loose);
    MemoryPoolFailNth(1);  // the map cannot be edited: h is released instead
    EXPECT_EQ(RemoveResourceChecked(h), kCannotRemove);
    MemoryPoolFailNth(0);
    EXPECT_EQ(HandleNumber(h), 0u);
    EXPECT_EQ(GetOneResourceChecked(&h, kFsTI, 10002), kStatusOk);
    EXPECT_EQ(RemoveResourceChecked(h), kResourceOk);
    EXPECT_EQ(HandleNumber(h), 0u);
    EXPECT_EQ(CurrentResourceFile(), destination_);
}

TEST_F(ResourceHelpersTest, CopiesIntoTheDestinationAndRestoresTheCurrentFile) {
    UseResourceFile(destination_);
    EXPECT_EQ(CopyResourceRange(10000, 10003, kFsTI, source_, destination_), kStatusOk);
    EXPECT_EQ(CurrentResourceFile(), destination_);
    EXPECT_EQ(CopyOneResource(10001, kFsTI, source_, destination_), kStatusOk);
    EXPECT_EQ(CopyOneResource(10004, kFsTI, source_, destination_), kStatusNotFound);
    EXPECT_EQ(CopyResourceRange(100, 10001, kFsTI, source_, destination_), kStatusLowId);
    EXPECT_EQ(CopyResourceRange(10001, 10000, kFsTI, destination_, source_), kStatusOk);
    EXPECT_EQ(CurrentResourceFile(), destination_);
    EXPECT_EQ(SaveResourceData(Get(kFsTI, 10002)), kStatusOk);
    {
        FaultPlatform full;
        full.SetFreeSpace(0);
        Handle h = HandleWith(Pattern(8));
        EXPECT_EQ(MoveResourceInto(h, kFsTI, 10009, Str255Of("").data(), source_), 47);
        EXPECT_EQ(HandleNumber(h), 0u);
        EXPECT_EQ(CopyOneResource(10001, kFsTI, source_, destination_), 47);
        EXPECT_EQ(CopyResourceRange(10001, 10001, kFsTI, source_, destination_), 47);
    }
    EXPECT_EQ(CurrentResourceFile(), destination_);
    CloseAll();
    FixtureFile expected =
        Described({{kFsTI, {Res(10002, "old", Pattern(20, 5)), Res(10001, "one", Pattern(30))}}});
    EXPECT_EQ(FlatResources(Parse(ReadWholeFile(destinationPath_))), FlatResources(expected));
}

}  // namespace
