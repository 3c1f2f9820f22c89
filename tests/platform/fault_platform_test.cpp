// The fault-injecting wrapper: plans fire on exactly the call they name, faked
// failures leave files alone (or, for a close, still release the real file),
// and the free space it reports can be set.
#include "common/fault_platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/test_env.h"

namespace {

class FaultPlatformTest : public ::testing::Test {
  protected:
    bool Write(FileHandle file, std::vector<uint8_t> bytes, uint32_t *done) {
        return fault_.FileWrite(file, bytes.data(), static_cast<uint32_t>(bytes.size()), done);
    }

    TempDir temp_;
    std::string path_ = temp_.File("sample.rez");
    FaultPlatform fault_;
};

TEST_F(FaultPlatformTest, TheNthCallFailsOnceOrFromThenOn) {
    EXPECT_EQ(CurrentPlatform(), &fault_);
    // Fail the n-th write for n = 1, 2, ... as writers are tested.
    for (uint32_t n = 1; n <= 3; ++n) {
        fault_.Reset();
        fault_.FailNth(PlatformOp::Write, n);
        const FileHandle file = PlatformFileOpen(path_.c_str(), kGenericReadWrite, kCreateAlways);
        std::vector<uint8_t> expected;
        for (uint8_t call = 1; call <= 3; ++call) {
            EXPECT_EQ(fault_.Fired(), call > n);
            uint32_t done = 99;
            const bool ok = Write(file, {call}, &done);
            EXPECT_EQ(ok, call != n) << "n=" << n << " call=" << int{call};
            EXPECT_EQ(done, ok ? 1u : 0u);
            if (ok) expected.push_back(call);
        }
        EXPECT_EQ(fault_.Calls(PlatformOp::Write), 3u);
        EXPECT_TRUE(fault_.FileClose(file));
        EXPECT_EQ(ReadWholeFile(path_), expected) << "n=" << n;
    }
    // A persistent plan fails every call from the n-th on (one open so far),
    // and a failed open touches nothing; n = 0 cancels the plan.
    fault_.FailNth(PlatformOp::Open, 3, true);
    EXPECT_TRUE(fault_.FileClose(fault_.FileOpen(path_.c_str(), kGenericRead, kOpenExisting)));
    for (uint32_t disposition : {kCreateAlways, kOpenExisting, kCreateAlways})
        EXPECT_EQ(fault_.FileOpen(path_.c_str(), kGenericReadWrite, disposition), kInvalidFile);
    EXPECT_EQ(ReadWholeFile(path_), (std::vector<uint8_t>{1, 2}));
    fault_.FailNth(PlatformOp::Open, 0);
    EXPECT_TRUE(fault_.FileClose(fault_.FileOpen(path_.c_str(), kGenericRead, kOpenExisting)));
}

TEST_F(FaultPlatformTest, TheNthTransferIsCutShort) {
    WriteWholeFile(path_, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    const FileHandle file = fault_.FileOpen(path_.c_str(), kGenericReadWrite, kOpenExisting);
    fault_.ShortNth(PlatformOp::Read, 2, 3);
    fault_.ShortNth(PlatformOp::Write, 1, 1);
    uint8_t bytes[4] = {};
    uint32_t done = 0;
    EXPECT_TRUE(fault_.FileRead(file, bytes, 4, &done));
    EXPECT_EQ(done, 4u);
    EXPECT_FALSE(fault_.Fired());
    EXPECT_TRUE(fault_.FileRead(file, bytes, 4, &done));
    EXPECT_EQ(done, 3u);
    EXPECT_TRUE(fault_.Fired());
    EXPECT_EQ(bytes[0], 4);
    EXPECT_EQ(bytes[2], 6);
    // Only the short piece was moved.
    EXPECT_TRUE(Write(file, {0xAA, 0xBB}, &done));
    EXPECT_EQ(done, 1u);
    EXPECT_TRUE(fault_.FileClose(file));
    EXPECT_EQ(ReadWholeFile(path_), (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 0xAA, 8, 9}));
    EXPECT_EQ(fault_.ReadSizes(), (std::vector<uint32_t>{4, 4}));
    EXPECT_EQ(fault_.WriteSizes(), (std::vector<uint32_t>{2}));
}

TEST_F(FaultPlatformTest, AFailedCloseStillClosesTheFileAndTheFreeSpaceCanBeSet) {
    auto descriptors = [] {
        size_t count = 0;
        for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            (void)entry;
            ++count;
        }
        return count;
    };
    const size_t before = descriptors();
    const FileHandle file = fault_.FileOpen(path_.c_str(), kGenericReadWrite, kCreateNew);
    EXPECT_EQ(descriptors(), before + 1);
    fault_.FailNth(PlatformOp::Close, 1);
    EXPECT_FALSE(fault_.FileClose(file));
    EXPECT_EQ(descriptors(), before) << "the faked failure leaked the file";
    EXPECT_FALSE(fault_.target()->FileClose(file)) << "the backend no longer knows the handle";

    const std::string missing = temp_.File("no-folder/x");
    uint64_t freeBytes = 0;
    fault_.SetFreeSpace(12345);
    // Even for a path the backend would refuse: the backend is not asked.
    EXPECT_TRUE(PlatformDiskFreeBytes(missing.c_str(), &freeBytes));
    EXPECT_EQ(freeBytes, 12345u);
    // A planned failure still fails.
    fault_.FailNth(PlatformOp::FreeSpace, fault_.Calls(PlatformOp::FreeSpace) + 1);
    EXPECT_FALSE(fault_.DiskFreeBytes(temp_.path().c_str(), &freeBytes));
    fault_.ClearFreeSpace();
    EXPECT_TRUE(fault_.DiskFreeBytes(temp_.path().c_str(), &freeBytes));
    EXPECT_NE(freeBytes, 12345u);
    EXPECT_FALSE(fault_.DiskFreeBytes(missing.c_str(), &freeBytes));
}

}  // namespace
