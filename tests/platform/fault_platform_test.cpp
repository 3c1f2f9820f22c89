// The fault-injecting wrapper that every failure test relies on: plans fire on
// exactly the call they name, faked failures leave files alone (a close still
// releases the real file), and the free space it reports can be set.
#include "common/fault_platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "common/test_env.h"

namespace {

TEST(FaultPlatform, PlansFireOnTheNthCallOnceOrFromThenOn) {
    TempDir temp;
    const std::string path = temp.File("sample.rez");
    FaultPlatform fault;
    for (bool persistent : {false, true}) {
        fault.Reset();
        fault.FailNth(PlatformOp::Write, 2, persistent);
        const FileHandle file = PlatformFileOpen(path.c_str(), kGenericReadWrite, kCreateAlways);
        for (uint8_t call = 1; call <= 3; ++call) {
            EXPECT_EQ(fault.Fired(), call > 2);
            uint32_t done = 99;
            const bool ok = PlatformFileWrite(file, &call, 1, &done);
            EXPECT_EQ(ok, call == 1 || (call == 3 && !persistent)) << int{call};
            EXPECT_EQ(done, ok ? 1u : 0u);
        }
        EXPECT_TRUE(PlatformFileClose(file));
        EXPECT_EQ(ReadWholeFile(path), persistent ? Bytes{1} : (Bytes{1, 3}));
    }
    fault.Reset();
    // A failed open touches nothing; 0 cancels a plan.
    fault.FailNth(PlatformOp::Open, fault.Calls(PlatformOp::Open) + 1, true);
    EXPECT_EQ(PlatformFileOpen(path.c_str(), kGenericReadWrite, kCreateAlways), kInvalidFile);
    EXPECT_EQ(ReadWholeFile(path), Bytes{1});
    fault.FailNth(PlatformOp::Open, 0);
    const FileHandle file = PlatformFileOpen(path.c_str(), kGenericReadWrite, kOpenExisting);

    // The n-th read or write moves only the bytes given.
    fault.ShortNth(PlatformOp::Write, fault.Calls(PlatformOp::Write) + 1, 1);
    fault.ShortNth(PlatformOp::Read, fault.Calls(PlatformOp::Read) + 2, 1);
    uint8_t bytes[2] = {};
    uint32_t done = 0;
    EXPECT_TRUE(PlatformFileWrite(file, "\xAA\xBB", 2, &done) && done == 1);
    EXPECT_TRUE(PlatformFileWrite(file, "\xCC", 1, &done) && done == 1);
    for (uint32_t expected : {2u, 1u}) {
        EXPECT_TRUE(PlatformFileSeek(file, 0) == 0 && PlatformFileRead(file, bytes, 2, &done));
        EXPECT_EQ(done, expected);
    }
    EXPECT_EQ(fault.ReadSizes(), (std::vector<uint32_t>{2, 2}));
    EXPECT_EQ(fault.WriteSizes(), (std::vector<uint32_t>{2, 1}));
    EXPECT_EQ(ReadWholeFile(path), (Bytes{0xAA, 0xCC}));

    // A failed close still closes the real file.
    auto descriptors = [] {
        const auto entries = std::filesystem::directory_iterator("/proc/self/fd");
        return std::distance(begin(entries), end(entries));
    };
    const auto before = descriptors();
    fault.FailNth(PlatformOp::Close, fault.Calls(PlatformOp::Close) + 1);
    EXPECT_FALSE(PlatformFileClose(file));
    EXPECT_EQ(descriptors(), before - 1) << "the faked failure leaked the file";

    // The free space can be set, even for a path the backend would refuse.
    uint64_t freeBytes = 0;
    fault.SetFreeSpace(12345);
    EXPECT_TRUE(PlatformDiskFreeBytes("/no-such-folder/x", &freeBytes));
    EXPECT_EQ(freeBytes, 12345u);
    fault.FailNth(PlatformOp::FreeSpace, fault.Calls(PlatformOp::FreeSpace) + 1);
    EXPECT_FALSE(PlatformDiskFreeBytes(temp.path().c_str(), &freeBytes));
}

}  // namespace
