// Whole transfers over the platform seam, their error codes, and the copy
// between files with its one buffer.
#include "support/file_io.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "common/test_env.h"
#include "platform/fault_platform.h"
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
    // Opens name, holding contents, for the rest of the test.
    FileHandle Open(const std::string &name, const Bytes &contents) {
        WriteWholeFile(temp_.File(name), contents);
        open_.push_back(
            OpenFileForAccess(temp_.File(name).c_str(), kOpenExisting, kGenericReadWrite));
        EXPECT_NE(open_.back(), kInvalidFile) << name;
        return open_.back();
    }
    // Expects result to be a failure that reported code (and, for a bad argument,
    // 6, called no platform function), then forgets the errors, plans and counts.
    void ExpectError(int result, int32_t code) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(LastReportedError(), code);
        if (code == 6) {
            for (PlatformOp op :
                 {PlatformOp::Read, PlatformOp::Write, PlatformOp::Seek, PlatformOp::Close})
                EXPECT_EQ(fault_.Calls(op), 0u) << PlatformOpName(op);
        }
        EXPECT_EQ(ReportError(code, 0), 4001);
        ClearReportedErrors();
        EXPECT_EQ(LastReportedError() + ReportedErrorCount(), 0u);
        fault_.Reset();
    }

    FaultPlatform fault_;
    std::vector<FileHandle> open_;
};

TEST_F(FileIoTest, TransfersAndTheirFailures) {
    EXPECT_EQ(OpenFileForAccess(temp_.File("missing").c_str(), kOpenExisting, kGenericRead),
              kInvalidFile);
    EXPECT_EQ(OpenFileForAccess(nullptr, kCreateAlways, kGenericRead), kInvalidFile);
    const FileHandle file = Open("file", Bytes(12, 0));
    // No file, no buffer or a count of 0: code 6 without a call of the platform.
    uint8_t buffer[16];
    for (FileHandle none : {kNullFile, kInvalidFile, file}) {
        const bool bad = none != file;
        CloseFileHandle(bad ? none : kNullFile);
        ExpectError(ReadExactly(none, buffer, bad ? 4 : 0), 6);
        ExpectError(ReadExactly(none, bad ? buffer : nullptr, 4), 6);
        ExpectError(WriteExactly(none, buffer, bad ? 4 : 0), 6);
        ExpectError(WriteExactly(none, nullptr, 4), 6);
        ExpectError(CopyBetweenFiles(none, 0, file, 0, bad ? 4 : 0), 6);
        ExpectError(CopyBetweenFiles(file, 0, none, 0, bad ? 4 : 0), 6);
        if (bad) ExpectError(WriteAt(none, buffer, 0, 4), 6);
    }

    // Whole transfers at offsets.
    ASSERT_EQ(WriteAt(file, "head", 0, 4) + WriteAt(file, "tail", 8, 4), 2);
    ASSERT_EQ(WriteAt(file, "ID", 2, 2), 1);
    char text[4] = {};
    ASSERT_EQ(ReadAt(file, text, 8, 4), 1);
    EXPECT_EQ(std::string(text, 4), "tail");
    EXPECT_EQ(ReportedErrorCount(), 0u);
    const Bytes expected = {'h', 'e', 'I', 'D', 0, 0, 0, 0, 't', 'a', 'i', 'l'};
    EXPECT_EQ(ReadWholeFile(temp_.File("file")), expected);
    // Short or failed reads report 7, writes 3, seeks 2 (a cut of -1 fails the call).
    const std::tuple<PlatformOp, int, std::function<int()>, int32_t> faults[] = {
        {PlatformOp::Count, 0, [&] { return ReadAt(file, buffer, 8, 8); }, 7},
        {PlatformOp::Read, 3, [&] { return ReadAt(file, buffer, 0, 8); }, 7},
        {PlatformOp::Read, -1, [&] { return ReadAt(file, buffer, 0, 8); }, 7},
        {PlatformOp::Write, 0, [&] { return WriteAt(file, "abcd", 0, 4); }, 3},
        {PlatformOp::Write, -1, [&] { return WriteExactly(file, "abcd", 4); }, 3},
        {PlatformOp::Write, 2, [&] { return WriteExactly(file, "heID", 4); }, 3},
        {PlatformOp::Seek, -1, [&] { return ReadAt(file, buffer, 0, 4); }, 2},
        {PlatformOp::Seek, -1, [&] { return WriteAt(file, buffer, 0, 4); }, 2},
    };
    for (const auto &[op, cut, call, code] : faults) {
        if (cut < 0) fault_.FailNth(op, 1);
        if (cut >= 0) fault_.ShortNth(op, 1, static_cast<uint32_t>(cut));
        ExpectError(call(), code);
    }
    EXPECT_EQ(ReadWholeFile(temp_.File("file")), expected);
}

TEST_F(FileIoTest, CopyMovesLargeCountsInChunksThroughOneBufferAndStopsAtAFailure) {
    const Bytes source = Pattern(260000);
    const Bytes filler(100, 0xAB);
    const FileHandle from = Open("source", source);
    FileHandle to = Open("destination", filler);
    const uint64_t allocations = MemoryPoolAllocationCount();
    ASSERT_EQ(CopyBetweenFiles(from, 5000, to, 100, 250000), 1);
    ASSERT_EQ(CopyBetweenFiles(from, 60, to, 0, 4), 1);
    EXPECT_EQ(fault_.ReadSizes(), (std::vector<uint32_t>{100000, 100000, 50000, 4}));
    EXPECT_EQ(fault_.WriteSizes(), fault_.ReadSizes());
    EXPECT_EQ(MemoryPoolAllocationCount() - allocations, 2u);
    EXPECT_EQ(ReportedErrorCount(), 0u);
    Bytes expected = filler;
    expected.insert(expected.end(), source.begin() + 5000, source.begin() + 255000);
    std::copy(source.begin() + 60, source.begin() + 64, expected.begin());
    EXPECT_EQ(ReadWholeFile(temp_.File("destination")), expected);

    // A copy stops at a failed write, at the end of the source, and without a buffer.
    to = Open("second", {});
    fault_.Reset();
    fault_.FailNth(PlatformOp::Write, 2);
    ExpectError(CopyBetweenFiles(from, 0, to, 0, 150000), 4);
    EXPECT_EQ(ReadWholeFile(temp_.File("second")), Bytes(source.begin(), source.begin() + 100000));
    const int result = CopyBetweenFiles(from, 160000, to, 0, 100001);  // 1 byte too many
    EXPECT_EQ(fault_.WriteSizes(), (std::vector<uint32_t>{100000}));
    ExpectError(result, 4);
    MemoryPoolFailNth(1);
    ExpectError(CopyBetweenFiles(from, 0, to, 0, 100), 4);
    EXPECT_EQ(fault_.Calls(PlatformOp::Read) + fault_.Calls(PlatformOp::Write), 0u);
}

}  // namespace
