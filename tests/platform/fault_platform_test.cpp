// The fault-injecting wrapper: plans fire on exactly the call they name, faked
// failures leave files alone (or, for a close, still release the real file), and
// the counts and sizes it records are the calls that were made.
#include "common/fault_platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/test_env.h"

namespace fs = std::filesystem;

namespace {

// Open descriptors of this process (the listing's own descriptor included, which
// is the same in every count).
size_t OpenDescriptors() {
    size_t count = 0;
    for (const auto &entry : fs::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}

class FaultPlatformTest : public ::testing::Test {
protected:
    // A file of 100 known bytes, open for reading and writing.
    FileHandle OpenSample() {
        WriteWholeFile(path_, Sample());
        return fault_.FileOpen(path_.c_str(), kGenericReadWrite, kOpenExisting);
    }
    static std::vector<uint8_t> Sample() {
        std::vector<uint8_t> bytes(100);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>(i);
        return bytes;
    }
    bool WriteBytes(FileHandle file, std::vector<uint8_t> bytes, uint32_t *done) {
        return fault_.FileWrite(file, bytes.data(), static_cast<uint32_t>(bytes.size()), done);
    }

    TempDir temp_;
    std::string path_ = temp_.File("sample.rez");
    FaultPlatform fault_;
};

TEST_F(FaultPlatformTest, InstallsItselfAndPutsBackThePreviousBackend) {
    EXPECT_EQ(CurrentPlatform(), &fault_);
    EXPECT_EQ(fault_.target(), DefaultPlatform());
    {
        FaultPlatform inner;
        EXPECT_EQ(CurrentPlatform(), &inner);
        EXPECT_EQ(inner.target(), &fault_);
        // The inner wrapper's calls reach the outer one.
        uint64_t freeBytes = 0;
        EXPECT_TRUE(PlatformDiskFreeBytes(temp_.path().c_str(), &freeBytes));
        EXPECT_EQ(inner.Calls(PlatformOp::FreeSpace), 1u);
        EXPECT_EQ(fault_.Calls(PlatformOp::FreeSpace), 1u);
    }
    EXPECT_EQ(CurrentPlatform(), &fault_);
}

TEST_F(FaultPlatformTest, TheDestructorRestoresTheDefaultBackend) {
    SetPlatform(nullptr);  // as if fault_ were the first wrapper again
    {
        FaultPlatform only;
        EXPECT_EQ(CurrentPlatform(), &only);
    }
    EXPECT_EQ(CurrentPlatform(), DefaultPlatform());
    SetPlatform(&fault_);
}

TEST_F(FaultPlatformTest, TheNthWriteFailsAndNoOther) {
    // Fail the n-th write for n = 1, 2, ... as writers are tested.
    for (uint32_t n = 1; n <= 4; ++n) {
        fault_.Reset();
        fault_.FailNth(PlatformOp::Write, n);
        const FileHandle file = fault_.FileOpen(path_.c_str(), kGenericReadWrite, kCreateAlways);
        ASSERT_NE(file, kInvalidFile);
        std::vector<uint8_t> expected;
        for (uint32_t call = 1; call <= 4; ++call) {
            EXPECT_EQ(fault_.Fired(), call > n) << "n=" << n << " call=" << call;
            uint32_t done = 99;
            const bool ok = WriteBytes(file, {static_cast<uint8_t>(call)}, &done);
            EXPECT_EQ(ok, call != n) << "n=" << n << " call=" << call;
            EXPECT_EQ(done, ok ? 1u : 0u);
            if (ok) expected.push_back(static_cast<uint8_t>(call));
        }
        EXPECT_TRUE(fault_.Fired());
        EXPECT_EQ(fault_.Calls(PlatformOp::Write), 4u);
        EXPECT_TRUE(fault_.FileClose(file));
        EXPECT_EQ(ReadWholeFile(path_), expected) << "n=" << n;
    }
}

TEST_F(FaultPlatformTest, APersistentPlanFailsEveryCallFromTheNthOn) {
    fault_.FailNth(PlatformOp::Open, 2, true);
    FileHandle file = fault_.FileOpen(path_.c_str(), kGenericReadWrite, kCreateNew);
    ASSERT_NE(file, kInvalidFile);
    EXPECT_TRUE(fault_.FileClose(file));
    for (int call = 2; call <= 5; ++call) {
        EXPECT_EQ(fault_.FileOpen(path_.c_str(), kGenericRead, kOpenExisting), kInvalidFile);
    }
    EXPECT_EQ(fault_.Calls(PlatformOp::Open), 5u);
    // n = 0 cancels the plan.
    fault_.FailNth(PlatformOp::Open, 0);
    file = fault_.FileOpen(path_.c_str(), kGenericRead, kOpenExisting);
    EXPECT_NE(file, kInvalidFile);
    EXPECT_TRUE(fault_.FileClose(file));
}

TEST_F(FaultPlatformTest, APlanForOneKindLeavesTheOthersAlone) {
    fault_.FailNth(PlatformOp::Seek, 1);
    const FileHandle file = OpenSample();
    ASSERT_NE(file, kInvalidFile);
    uint8_t byte = 0;
    uint32_t done = 0;
    EXPECT_TRUE(fault_.FileRead(file, &byte, 1, &done));
    EXPECT_EQ(fault_.FileSize(file), 100u);
    EXPECT_FALSE(fault_.Fired());
    EXPECT_EQ(fault_.FileSeek(file, 10), kPlatformFailure);
    EXPECT_TRUE(fault_.Fired());
    EXPECT_EQ(fault_.FileSeek(file, 10), 10u);
    EXPECT_TRUE(fault_.FileClose(file));
}

TEST_F(FaultPlatformTest, AFailedOpenCreatesNothing) {
    fault_.FailNth(PlatformOp::Open, 1);
    EXPECT_EQ(fault_.FileOpen(path_.c_str(), kGenericReadWrite, kCreateNew), kInvalidFile);
    EXPECT_FALSE(FileExists(path_));
    WriteWholeFile(path_, Sample());
    fault_.FailNth(PlatformOp::Open, 2);
    EXPECT_EQ(fault_.FileOpen(path_.c_str(), kGenericReadWrite, kCreateAlways), kInvalidFile);
    EXPECT_EQ(ReadWholeFile(path_), Sample()) << "a failed open truncates nothing";
}

TEST_F(FaultPlatformTest, AFailedReadMovesNothing) {
    const FileHandle file = OpenSample();
    ASSERT_NE(file, kInvalidFile);
    fault_.FailNth(PlatformOp::Read, 1);
    uint8_t bytes[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    uint32_t done = 99;
    EXPECT_FALSE(fault_.FileRead(file, bytes, 4, &done));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(bytes[0], 0xEE);
    // The file position did not move.
    EXPECT_TRUE(fault_.FileRead(file, bytes, 4, &done));
    EXPECT_EQ(done, 4u);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[3], 3);
    EXPECT_TRUE(fault_.FileClose(file));
}

TEST_F(FaultPlatformTest, AFailedWriteChangesNothing) {
    const FileHandle file = OpenSample();
    ASSERT_NE(file, kInvalidFile);
    fault_.FailNth(PlatformOp::Write, 1);
    uint32_t done = 99;
    EXPECT_FALSE(WriteBytes(file, {0xAA, 0xBB}, &done));
    EXPECT_EQ(done, 0u);
    EXPECT_TRUE(fault_.FileClose(file));
    EXPECT_EQ(ReadWholeFile(path_), Sample());
}

TEST_F(FaultPlatformTest, FailedSeekAndSizeReportThePlatformFailure) {
    const FileHandle file = OpenSample();
    ASSERT_NE(file, kInvalidFile);
    fault_.FailNth(PlatformOp::Seek, 1);
    fault_.FailNth(PlatformOp::Size, 1);
    EXPECT_EQ(fault_.FileSeek(file, 50), kPlatformFailure);
    EXPECT_EQ(fault_.FileSize(file), kPlatformFailure);
    uint8_t byte = 0xEE;
    uint32_t done = 0;
    EXPECT_TRUE(fault_.FileRead(file, &byte, 1, &done));
    EXPECT_EQ(byte, 0) << "the failed seek did not move the position";
    EXPECT_EQ(fault_.FileSize(file), 100u);
    EXPECT_TRUE(fault_.FileClose(file));
}

TEST_F(FaultPlatformTest, AFailedCloseStillClosesTheRealFile) {
    const size_t before = OpenDescriptors();
    const FileHandle file = OpenSample();
    ASSERT_NE(file, kInvalidFile);
    EXPECT_EQ(OpenDescriptors(), before + 1);
    fault_.FailNth(PlatformOp::Close, 1);
    EXPECT_FALSE(fault_.FileClose(file));
    EXPECT_TRUE(fault_.Fired());
    EXPECT_EQ(OpenDescriptors(), before) << "the faked failure leaked the file";
    // The handle is gone: the backend no longer knows it.
    EXPECT_FALSE(fault_.target()->FileClose(file));
}

TEST_F(FaultPlatformTest, FailedDeleteAndMoveLeaveTheFilesAlone) {
    WriteWholeFile(path_, Sample());
    const std::string other = temp_.File("other.rez");
    fault_.FailNth(PlatformOp::Delete, 1);
    fault_.FailNth(PlatformOp::Move, 1);
    EXPECT_FALSE(fault_.FileDelete(path_.c_str()));
    EXPECT_FALSE(fault_.FileMove(path_.c_str(), other.c_str()));
    EXPECT_EQ(ListFolder(temp_.path()), (std::vector<std::string>{"sample.rez"}));
    EXPECT_EQ(ReadWholeFile(path_), Sample());

    EXPECT_TRUE(fault_.FileMove(path_.c_str(), other.c_str()));
    EXPECT_TRUE(fault_.FileDelete(other.c_str()));
    EXPECT_TRUE(ListFolder(temp_.path()).empty());
}

TEST_F(FaultPlatformTest, AFailedFreeSpaceQueryFails) {
    fault_.FailNth(PlatformOp::FreeSpace, 2);
    uint64_t freeBytes = 0;
    EXPECT_TRUE(fault_.DiskFreeBytes(temp_.path().c_str(), &freeBytes));
    EXPECT_GT(freeBytes, 0u);
    EXPECT_FALSE(fault_.DiskFreeBytes(temp_.path().c_str(), &freeBytes));
    EXPECT_TRUE(fault_.DiskFreeBytes(temp_.path().c_str(), &freeBytes));
}

TEST_F(FaultPlatformTest, TheNthReadIsCutShort) {
    const FileHandle file = OpenSample();
    ASSERT_NE(file, kInvalidFile);
    fault_.ShortNth(PlatformOp::Read, 2, 7);
    uint8_t bytes[10] = {};
    uint32_t done = 0;
    EXPECT_TRUE(fault_.FileRead(file, bytes, 10, &done));
    EXPECT_EQ(done, 10u);
    EXPECT_FALSE(fault_.Fired());
    EXPECT_TRUE(fault_.FileRead(file, bytes, 10, &done));
    EXPECT_EQ(done, 7u);
    EXPECT_TRUE(fault_.Fired());
    EXPECT_EQ(bytes[0], 10);
    EXPECT_EQ(bytes[6], 16);
    // Only the short piece was taken from the file.
    EXPECT_TRUE(fault_.FileRead(file, bytes, 10, &done));
    EXPECT_EQ(done, 10u);
    EXPECT_EQ(bytes[0], 17);
    EXPECT_EQ(fault_.ReadSizes(), (std::vector<uint32_t>{10, 10, 10}));
    EXPECT_TRUE(fault_.FileClose(file));
}

TEST_F(FaultPlatformTest, TheNthWriteIsCutShort) {
    const FileHandle file = fault_.FileOpen(path_.c_str(), kGenericReadWrite, kCreateNew);
    ASSERT_NE(file, kInvalidFile);
    fault_.ShortNth(PlatformOp::Write, 1, 3);
    uint32_t done = 0;
    EXPECT_TRUE(WriteBytes(file, {1, 2, 3, 4, 5}, &done));
    EXPECT_EQ(done, 3u);
    EXPECT_TRUE(WriteBytes(file, {6, 7}, &done));
    EXPECT_EQ(done, 2u);
    EXPECT_TRUE(fault_.FileClose(file));
    EXPECT_EQ(ReadWholeFile(path_), (std::vector<uint8_t>{1, 2, 3, 6, 7}));
    EXPECT_EQ(fault_.WriteSizes(), (std::vector<uint32_t>{5, 2}));
}

TEST_F(FaultPlatformTest, AShortPlanNoSmallerThanTheCallChangesNothing) {
    const FileHandle file = OpenSample();
    ASSERT_NE(file, kInvalidFile);
    fault_.ShortNth(PlatformOp::Read, 1, 8);
    uint8_t bytes[8] = {};
    uint32_t done = 0;
    EXPECT_TRUE(fault_.FileRead(file, bytes, 8, &done));
    EXPECT_EQ(done, 8u);
    EXPECT_FALSE(fault_.Fired());
    EXPECT_TRUE(fault_.FileClose(file));
}

TEST_F(FaultPlatformTest, AFailureWinsOverAShortTransferOfTheSameCall) {
    const FileHandle file = OpenSample();
    ASSERT_NE(file, kInvalidFile);
    fault_.ShortNth(PlatformOp::Write, 1, 1);
    fault_.FailNth(PlatformOp::Write, 1);
    uint32_t done = 99;
    EXPECT_FALSE(WriteBytes(file, {0xAA, 0xBB}, &done));
    EXPECT_EQ(done, 0u);
    EXPECT_TRUE(fault_.FileClose(file));
    EXPECT_EQ(ReadWholeFile(path_), Sample());
}

TEST_F(FaultPlatformTest, TheFreeSpaceCanBeSet) {
    fault_.SetFreeSpace(12345);
    uint64_t freeBytes = 0;
    EXPECT_TRUE(fault_.DiskFreeBytes(temp_.path().c_str(), &freeBytes));
    EXPECT_EQ(freeBytes, 12345u);
    // Even for a path the backend would refuse: the backend is not asked.
    freeBytes = 0;
    EXPECT_TRUE(PlatformDiskFreeBytes(temp_.File("no-folder/x").c_str(), &freeBytes));
    EXPECT_EQ(freeBytes, 12345u);
    fault_.SetFreeSpace(0);
    EXPECT_TRUE(fault_.DiskFreeBytes(temp_.path().c_str(), &freeBytes));
    EXPECT_EQ(freeBytes, 0u);
    // A planned failure still fails.
    fault_.FailNth(PlatformOp::FreeSpace, fault_.Calls(PlatformOp::FreeSpace) + 1);
    EXPECT_FALSE(fault_.DiskFreeBytes(temp_.path().c_str(), &freeBytes));

    fault_.ClearFreeSpace();
    EXPECT_TRUE(fault_.DiskFreeBytes(temp_.path().c_str(), &freeBytes));
    EXPECT_GT(freeBytes, 0u);
    EXPECT_FALSE(fault_.DiskFreeBytes(temp_.File("no-folder/x").c_str(), &freeBytes));
}

TEST_F(FaultPlatformTest, CountsEveryCallByKindFailedOnesIncluded) {
    fault_.FailNth(PlatformOp::Read, 1);
    const FileHandle file = OpenSample();
    ASSERT_NE(file, kInvalidFile);
    uint8_t bytes[64];
    uint32_t done = 0;
    EXPECT_FALSE(fault_.FileRead(file, bytes, 64, &done));
    EXPECT_TRUE(fault_.FileRead(file, bytes, 3, &done));
    EXPECT_TRUE(fault_.FileRead(file, bytes, 0, &done));
    EXPECT_TRUE(WriteBytes(file, {1, 2}, &done));
    EXPECT_EQ(fault_.FileSize(file), 100u);
    EXPECT_TRUE(fault_.FileClose(file));

    EXPECT_EQ(fault_.Calls(PlatformOp::Open), 1u);
    EXPECT_EQ(fault_.Calls(PlatformOp::Read), 3u);
    EXPECT_EQ(fault_.Calls(PlatformOp::Write), 1u);
    EXPECT_EQ(fault_.Calls(PlatformOp::Size), 1u);
    EXPECT_EQ(fault_.Calls(PlatformOp::Close), 1u);
    EXPECT_EQ(fault_.Calls(PlatformOp::Seek), 0u);
    EXPECT_EQ(fault_.Calls(PlatformOp::Move), 0u);
    EXPECT_EQ(fault_.ReadSizes(), (std::vector<uint32_t>{64, 3, 0}));
    EXPECT_EQ(fault_.WriteSizes(), (std::vector<uint32_t>{2}));
}

TEST_F(FaultPlatformTest, ResetForgetsPlansCountsAndRecords) {
    fault_.FailNth(PlatformOp::Open, 1, true);
    fault_.SetFreeSpace(1);
    EXPECT_EQ(fault_.FileOpen(path_.c_str(), kGenericReadWrite, kCreateNew), kInvalidFile);
    uint8_t byte = 0;
    uint32_t done = 0;
    EXPECT_FALSE(fault_.FileRead(kNullFile, &byte, 1, &done));
    EXPECT_TRUE(fault_.Fired());

    fault_.Reset();
    EXPECT_FALSE(fault_.Fired());
    EXPECT_EQ(fault_.Calls(PlatformOp::Open), 0u);
    EXPECT_EQ(fault_.Calls(PlatformOp::Read), 0u);
    EXPECT_TRUE(fault_.ReadSizes().empty());
    const FileHandle file = fault_.FileOpen(path_.c_str(), kGenericReadWrite, kCreateNew);
    EXPECT_NE(file, kInvalidFile);
    EXPECT_TRUE(fault_.FileClose(file));
    uint64_t freeBytes = 0;
    EXPECT_TRUE(fault_.DiskFreeBytes(temp_.path().c_str(), &freeBytes));
    EXPECT_GT(freeBytes, 1u);
    EXPECT_FALSE(fault_.Fired());
}

TEST_F(FaultPlatformTest, CallsThroughTheFreeFunctionsAreCounted) {
    fault_.FailNth(PlatformOp::Open, 1);
    EXPECT_EQ(PlatformFileOpen(path_.c_str(), kGenericReadWrite, kCreateNew), kInvalidFile);
    EXPECT_EQ(fault_.Calls(PlatformOp::Open), 1u);
    EXPECT_TRUE(fault_.Fired());
    EXPECT_FALSE(FileExists(path_));
}

}  // namespace
