#include "support/file_io.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/fault_platform.h"
#include "common/test_env.h"
#include "support/memory_pool.h"
#include "support/report_error.h"

namespace {

class FileIoTest : public PoolTest {
  protected:
    void SetUp() override {
        PoolTest::SetUp();
        ClearReportedErrors();
    }
    void TearDown() override {
        for (FileHandle file : open_)
            CloseFileHandle(file);
        PoolTest::TearDown();
    }
    // Opens name, with these contents when given, for the rest of the test.
    FileHandle Open(const std::string &name, const Bytes *contents = nullptr) {
        if (contents != nullptr) WriteWholeFile(temp_.File(name), *contents);
        FileHandle file = OpenFileForAccess(
            temp_.File(name).c_str(), contents ? kOpenExisting : kCreateAlways, kGenericReadWrite);
        EXPECT_NE(file, kInvalidFile) << name;
        open_.push_back(file);
        return file;
    }

    FaultPlatform fault_;
    std::vector<FileHandle> open_;
};

// Bad arguments (no file, no buffer, a count of 0) fail with 6 without a call
// of the platform.
TEST_F(FileIoTest, TransfersAndTheirFailures) {
    EXPECT_EQ(OpenFileForAccess(temp_.File("missing").c_str(), kOpenExisting, kGenericRead),
              kInvalidFile);
    EXPECT_EQ(ReportedErrorCount(), 0u);
    CloseFileHandle(kNullFile);
    CloseFileHandle(kInvalidFile);
    const Bytes contents = Pattern(16);
    FileHandle file = Open("given", &contents);
    uint8_t buffer[16];
    EXPECT_EQ(ReadExactly(file, buffer, 0), 0);
    EXPECT_EQ(LastReportedError(), kErrorBadArgument);
    EXPECT_EQ(ReadExactly(file, nullptr, 4), 0);
    EXPECT_EQ(WriteExactly(file, buffer, 0), 0);
    EXPECT_EQ(WriteExactly(file, nullptr, 4), 0);
    for (FileHandle none : {kNullFile, kInvalidFile}) {
        EXPECT_EQ(ReadExactly(none, buffer, 4), 0);
        EXPECT_EQ(WriteExactly(none, buffer, 4), 0);
        EXPECT_EQ(SeekFile(none, 0), 0);
        EXPECT_EQ(ReadAt(none, buffer, 0, 4), 0);
        EXPECT_EQ(CopyBetweenFiles(none, 0, file, 0, 4), 0);
        EXPECT_EQ(CopyBetweenFiles(file, 0, none, 0, 4), 0);
    }
    EXPECT_EQ(CopyBetweenFiles(file, 0, file, 0, 0), 0);
    EXPECT_EQ(LastReportedError(), kErrorBadArgument);
    EXPECT_EQ(ReportedErrorCount(), 17u);
    for (PlatformOp op : {PlatformOp::Read, PlatformOp::Write, PlatformOp::Seek, PlatformOp::Close})
        EXPECT_EQ(fault_.Calls(op), 0u);

    // Whole transfers at offsets; short or failed reads report 7, writes 3,
    // seeks 2, and a failed seek moves nothing.
    ClearReportedErrors();
    file = Open("written");
    ASSERT_EQ(WriteAt(file, "head", 0, 4), 1);
    ASSERT_EQ(WriteAt(file, "tail", 8, 4), 1);
    ASSERT_EQ(WriteAt(file, "ID", 2, 2), 1);
    char text[4] = {};
    ASSERT_EQ(ReadAt(file, text, 8, 4), 1);
    EXPECT_EQ(std::string(text, 4), "tail");
    EXPECT_EQ(ReportedErrorCount(), 0u);
    const Bytes expected = {'h', 'e', 'I', 'D', 0, 0, 0, 0, 't', 'a', 'i', 'l'};
    EXPECT_EQ(ReadWholeFile(temp_.File("written")), expected);
    auto expectError = [&](int result, int32_t code) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(LastReportedError(), code);
        EXPECT_EQ(ReportedErrorCount(), 1u);
        ClearReportedErrors();
        fault_.Reset();
    };
    expectError(ReadAt(file, buffer, 8, 8), kErrorRead);  // past the end of the file
    fault_.ShortNth(PlatformOp::Read, 1, 3);
    expectError(ReadAt(file, buffer, 0, 8), kErrorRead);
    fault_.FailNth(PlatformOp::Read, 1);
    expectError(ReadAt(file, buffer, 0, 8), kErrorRead);
    fault_.ShortNth(PlatformOp::Write, 1, 0);
    expectError(WriteAt(file, "abcd", 0, 4), kErrorWrite);
    fault_.FailNth(PlatformOp::Write, 1);
    expectError(WriteExactly(file, "abcd", 4), kErrorWrite);
    fault_.FailNth(PlatformOp::Seek, 1, true);
    EXPECT_EQ(ReadAt(file, buffer, 0, 4), 0);
    EXPECT_EQ(WriteAt(file, buffer, 0, 4), 0);
    EXPECT_EQ(fault_.Calls(PlatformOp::Read) + fault_.Calls(PlatformOp::Write), 0u);
    EXPECT_EQ(LastReportedError(), kErrorSeek);
    EXPECT_EQ(ReadWholeFile(temp_.File("written")), expected);
}

TEST_F(FileIoTest, CopyMovesLargeCountsInChunksAndStopsAtAFailure) {
    const Bytes source = Pattern(260000);
    const Bytes filler(100, 0xAB);
    FileHandle from = Open("source", &source);
    FileHandle to = Open("destination", &filler);
    const uint64_t allocations = MemoryPoolAllocationCount();
    ASSERT_EQ(CopyBetweenFiles(from, 5000, to, 100, 250000), 1);
    EXPECT_EQ(fault_.ReadSizes(), (std::vector<uint32_t>{100000, 100000, 50000}));
    EXPECT_EQ(fault_.WriteSizes(), (std::vector<uint32_t>{100000, 100000, 50000}));
    EXPECT_EQ(MemoryPoolAllocationCount() - allocations, 1u);
    EXPECT_EQ(ReportedErrorCount(), 0u);
    Bytes expected = filler;
    expected.insert(expected.end(), source.begin() + 5000, source.begin() + 255000);
    EXPECT_EQ(ReadWholeFile(temp_.File("destination")), expected);

    fault_.Reset();
    ASSERT_EQ(CopyBetweenFiles(from, 60, to, 0, 4), 1);
    EXPECT_EQ(fault_.ReadSizes(), (std::vector<uint32_t>{4}));

    // A copy stops at a failed write, at a short read, and without a buffer.
    fault_.Reset();
    to = Open("second");
    fault_.FailNth(PlatformOp::Write, 2);
    EXPECT_EQ(CopyBetweenFiles(from, 0, to, 0, 150000), 0);
    EXPECT_EQ(LastReportedError(), kErrorCopy);
    EXPECT_EQ(fault_.ReadSizes(), (std::vector<uint32_t>{100000, 50000}));
    EXPECT_EQ(fault_.Calls(PlatformOp::Write), 2u);
    EXPECT_EQ(ReadWholeFile(temp_.File("second")), Bytes(source.begin(), source.begin() + 100000));

    fault_.Reset();
    ClearReportedErrors();
    EXPECT_EQ(CopyBetweenFiles(from, 0, to, 0, 310000), 0);  // 50000 bytes fewer than asked for
    EXPECT_EQ(LastReportedError(), kErrorCopy);
    EXPECT_EQ(fault_.WriteSizes(), (std::vector<uint32_t>{100000, 100000}));

    fault_.Reset();
    ClearReportedErrors();
    MemoryPoolFailNth(1);
    EXPECT_EQ(CopyBetweenFiles(from, 0, to, 0, 100), 0);
    EXPECT_TRUE(MemoryPoolFailureFired());
    EXPECT_EQ(LastReportedError(), kErrorCopy);
    EXPECT_EQ(fault_.Calls(PlatformOp::Read) + fault_.Calls(PlatformOp::Write), 0u);
}

}  // namespace
