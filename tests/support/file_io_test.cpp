#include "support/file_io.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/fault_platform.h"
#include "common/test_env.h"
#include "support/memory_pool.h"
#include "support/report_error.h"

namespace {

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    return bytes;
}

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
    // Opens a file that the test closes at its end.
    FileHandle Open(const std::string &name, uint32_t disposition, uint32_t access) {
        FileHandle file = OpenFileForAccess(temp_.File(name).c_str(), disposition, access);
        EXPECT_NE(file, kInvalidFile) << name;
        if (file != kInvalidFile) open_.push_back(file);
        return file;
    }
    FileHandle WithContents(const std::string &name, const std::vector<uint8_t> &bytes) {
        WriteWholeFile(temp_.File(name), bytes);
        return Open(name, kOpenExisting, kGenericReadWrite);
    }

    FaultPlatform fault_;
    std::vector<FileHandle> open_;
};

TEST_F(FileIoTest, WritesAndReadsAtOffsets) {
    FileHandle file = Open("data", kCreateAlways, kGenericReadWrite);
    ASSERT_EQ(WriteAt(file, "head", 0, 4), 1);
    ASSERT_EQ(WriteAt(file, "tail", 8, 4), 1);
    ASSERT_EQ(WriteAt(file, "ID", 2, 2), 1);
    EXPECT_EQ(ReadWholeFile(temp_.File("data")),
              (std::vector<uint8_t>{'h', 'e', 'I', 'D', 0, 0, 0, 0, 't', 'a', 'i', 'l'}));

    char buffer[4] = {};
    ASSERT_EQ(ReadAt(file, buffer, 8, 4), 1);
    EXPECT_EQ(std::string(buffer, 4), "tail");
    EXPECT_EQ(ReportedErrorCount(), 0u);
}

TEST_F(FileIoTest, OpenAndCloseOfNoFile) {
    EXPECT_EQ(OpenFileForAccess(temp_.File("missing").c_str(), kOpenExisting, kGenericRead),
              kInvalidFile);
    EXPECT_EQ(ReportedErrorCount(), 0u);
    CloseFileHandle(kNullFile);
    CloseFileHandle(kInvalidFile);
    EXPECT_EQ(fault_.Calls(PlatformOp::Close), 0u);
}

TEST_F(FileIoTest, BadArgumentsFailWithoutCallingThePlatform) {
    FileHandle file = WithContents("data", Pattern(16));
    uint8_t buffer[16];
    const FileHandle noFiles[] = {kNullFile, kInvalidFile};

    EXPECT_EQ(ReadExactly(file, buffer, 0), 0);
    EXPECT_EQ(LastReportedError(), kErrorBadArgument);
    EXPECT_EQ(ReadExactly(file, nullptr, 4), 0);
    EXPECT_EQ(WriteExactly(file, buffer, 0), 0);
    EXPECT_EQ(WriteExactly(file, nullptr, 4), 0);
    for (FileHandle none : noFiles) {
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
    EXPECT_EQ(fault_.Calls(PlatformOp::Read), 0u);
    EXPECT_EQ(fault_.Calls(PlatformOp::Write), 0u);
    EXPECT_EQ(fault_.Calls(PlatformOp::Seek), 0u);
}

TEST_F(FileIoTest, ShortOrFailedReadsReport7) {
    FileHandle file = WithContents("data", Pattern(10));
    uint8_t buffer[20];

    // Past the end of the file.
    EXPECT_EQ(ReadAt(file, buffer, 4, 8), 0);
    EXPECT_EQ(LastReportedError(), kErrorRead);

    ClearReportedErrors();
    fault_.Reset();
    fault_.ShortNth(PlatformOp::Read, 1, 3);
    EXPECT_EQ(ReadAt(file, buffer, 0, 8), 0);
    EXPECT_EQ(LastReportedError(), kErrorRead);
    EXPECT_TRUE(fault_.Fired());

    fault_.Reset();
    ClearReportedErrors();
    fault_.FailNth(PlatformOp::Read, 1);
    EXPECT_EQ(ReadAt(file, buffer, 0, 8), 0);
    EXPECT_EQ(LastReportedError(), kErrorRead);
    EXPECT_EQ(ReportedErrorCount(), 1u);
}

TEST_F(FileIoTest, ShortOrFailedWritesReport3) {
    FileHandle file = Open("data", kCreateAlways, kGenericReadWrite);
    fault_.ShortNth(PlatformOp::Write, 1, 2);
    EXPECT_EQ(WriteAt(file, "abcd", 0, 4), 0);
    EXPECT_EQ(LastReportedError(), kErrorWrite);

    ClearReportedErrors();
    fault_.Reset();
    fault_.FailNth(PlatformOp::Write, 1);
    EXPECT_EQ(WriteExactly(file, "abcd", 4), 0);
    EXPECT_EQ(LastReportedError(), kErrorWrite);
}

TEST_F(FileIoTest, FailedSeekReports2AndTransfersNothing) {
    FileHandle file = WithContents("data", Pattern(10));
    uint8_t buffer[4];
    fault_.FailNth(PlatformOp::Seek, 1, true);
    EXPECT_EQ(SeekFile(file, 2), 0);
    EXPECT_EQ(LastReportedError(), kErrorSeek);
    EXPECT_EQ(ReadAt(file, buffer, 0, 4), 0);
    EXPECT_EQ(WriteAt(file, buffer, 0, 4), 0);
    EXPECT_EQ(LastReportedError(), kErrorSeek);
    EXPECT_EQ(fault_.Calls(PlatformOp::Read), 0u);
    EXPECT_EQ(fault_.Calls(PlatformOp::Write), 0u);
    EXPECT_EQ(ReadWholeFile(temp_.File("data")), Pattern(10));
}

TEST_F(FileIoTest, CopyMovesLargeCountsInChunks) {
    const std::vector<uint8_t> source = Pattern(260000);
    FileHandle from = WithContents("source", source);
    FileHandle to = WithContents("destination", std::vector<uint8_t>(100, 0xAB));
    uint64_t allocations = MemoryPoolAllocationCount();

    ASSERT_EQ(CopyBetweenFiles(from, 5000, to, 100, 250000), 1);
    EXPECT_EQ(fault_.ReadSizes(), (std::vector<uint32_t>{100000, 100000, 50000}));
    EXPECT_EQ(fault_.WriteSizes(), (std::vector<uint32_t>{100000, 100000, 50000}));
    EXPECT_EQ(MemoryPoolAllocationCount() - allocations, 1u);
    EXPECT_EQ(ReportedErrorCount(), 0u);

    std::vector<uint8_t> expected(100, 0xAB);
    expected.insert(expected.end(), source.begin() + 5000, source.begin() + 255000);
    EXPECT_EQ(ReadWholeFile(temp_.File("destination")), expected);
}

TEST_F(FileIoTest, CopySmallerThanOneChunk) {
    const std::vector<uint8_t> source = Pattern(64);
    FileHandle from = WithContents("source", source);
    FileHandle to = Open("destination", kCreateAlways, kGenericReadWrite);
    ASSERT_EQ(CopyBetweenFiles(from, 60, to, 0, 4), 1);
    EXPECT_EQ(fault_.ReadSizes(), (std::vector<uint32_t>{4}));
    EXPECT_EQ(ReadWholeFile(temp_.File("destination")),
              std::vector<uint8_t>(source.begin() + 60, source.end()));
}

TEST_F(FileIoTest, CopyStopsAtAFailedWrite) {
    const std::vector<uint8_t> source = Pattern(250000);
    FileHandle from = WithContents("source", source);
    FileHandle to = Open("destination", kCreateAlways, kGenericReadWrite);
    fault_.FailNth(PlatformOp::Write, 2);

    EXPECT_EQ(CopyBetweenFiles(from, 0, to, 0, 250000), 0);
    EXPECT_EQ(LastReportedError(), kErrorCopy);
    EXPECT_EQ(fault_.ReadSizes(), (std::vector<uint32_t>{100000, 100000}));
    EXPECT_EQ(fault_.Calls(PlatformOp::Write), 2u);
    EXPECT_EQ(ReadWholeFile(temp_.File("destination")),
              std::vector<uint8_t>(source.begin(), source.begin() + 100000));
}

TEST_F(FileIoTest, CopyStopsAtAShortRead) {
    FileHandle from = WithContents("source", Pattern(150000));
    FileHandle to = Open("destination", kCreateAlways, kGenericReadWrite);
    // The source holds 50000 bytes fewer than asked for.
    EXPECT_EQ(CopyBetweenFiles(from, 0, to, 0, 200000), 0);
    EXPECT_EQ(LastReportedError(), kErrorCopy);
    EXPECT_EQ(fault_.WriteSizes(), (std::vector<uint32_t>{100000}));
}

TEST_F(FileIoTest, CopyWithoutABufferCopiesNothing) {
    FileHandle from = WithContents("source", Pattern(100));
    FileHandle to = Open("destination", kCreateAlways, kGenericReadWrite);
    MemoryPoolFailNth(1);
    EXPECT_EQ(CopyBetweenFiles(from, 0, to, 0, 100), 0);
    EXPECT_TRUE(MemoryPoolFailureFired());
    EXPECT_EQ(LastReportedError(), kErrorCopy);
    EXPECT_EQ(fault_.Calls(PlatformOp::Read), 0u);
    EXPECT_EQ(fault_.Calls(PlatformOp::Write), 0u);
}

}  // namespace
