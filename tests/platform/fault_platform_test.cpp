// The fault-injecting wrapper that every failure test relies on (the support
// tests show single failures and short transfers).
#include "platform/fault_platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "common/test_env.h"

namespace {

TEST(FaultPlatform, PersistentPlansFailedClosesAndFreeSpace) {
    TempDir temp;
    const std::string path = temp.File("sample.rez");
    FaultPlatform fault;
    const FileHandle file = PlatformFileOpen(path.c_str(), kGenericReadWrite, kCreateNew);
    fault.FailNth(PlatformOp::Write, 2, true);
    for (uint8_t call = 1; call <= 3; ++call) {
        EXPECT_EQ(fault.Fired(), call > 2);
        EXPECT_EQ(PlatformFileWrite(file, &call, 1, nullptr), call == 1) << int{call};
    }
    // A failed open touches nothing; 0 cancels a plan.
    fault.FailNth(PlatformOp::Open, fault.Calls(PlatformOp::Open) + 1);
    EXPECT_EQ(PlatformFileOpen(path.c_str(), kGenericReadWrite, kCreateAlways), kInvalidFile);
    fault.FailNth(PlatformOp::Write, 0);
    EXPECT_TRUE(PlatformFileWrite(file, "\x04", 1, nullptr));
    EXPECT_EQ(ReadWholeFile(path), (Bytes{1, 4}));

    // A failed close still closes the real file.
    auto descriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    const auto before = descriptors();
    fault.FailNth(PlatformOp::Close, 1);
    EXPECT_FALSE(PlatformFileClose(file));
    EXPECT_EQ(descriptors(), before - 1) << "the faked failure leaked the file";

    // The free space can be set, even for a path the backend would refuse.
    uint64_t freeBytes = 0;
    fault.SetFreeSpace(12345);
    EXPECT_TRUE(PlatformDiskFreeBytes("/no-such-folder/x", &freeBytes));
    EXPECT_EQ(freeBytes, 12345u);
    fault.Reset();
    EXPECT_FALSE(PlatformDiskFreeBytes("/no-such-folder/x", &freeBytes));
}

}  // namespace
