// The contract of platform.h, run over every backend: the built-in one, and the
// fault-injecting wrapper with nothing planned (which must not change a thing).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/fault_platform.h"
#include "common/test_env.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

std::string Backslashed(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

class PlatformContract : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (GetParam()) fault_ = std::make_unique<FaultPlatform>();
        platform_ = GetParam() ? fault_.get() : DefaultPlatform();
    }
    void TearDown() override { EXPECT_FALSE(fault_ && fault_->Fired()); }

    FileHandle Open(const std::string &path, uint32_t access, uint32_t disposition) {
        return platform_->FileOpen(path.c_str(), access, disposition);
    }
    // Reads count bytes at the file position; the vector holds what was read.
    Bytes Read(FileHandle file, uint32_t count) {
        Bytes bytes(count);
        uint32_t done = 0xDEADBEEF;
        EXPECT_TRUE(platform_->FileRead(file, bytes.data(), count, &done));
        bytes.resize(done <= count ? done : 0);
        return bytes;
    }
    void Write(FileHandle file, const Bytes &bytes) {
        uint32_t done = 0xDEADBEEF;
        EXPECT_TRUE(
            platform_->FileWrite(file, bytes.data(), static_cast<uint32_t>(bytes.size()), &done));
        EXPECT_EQ(done, bytes.size());
    }

    std::unique_ptr<FaultPlatform> fault_;
    Platform *platform_ = nullptr;
    TempDir temp_;
};

TEST_P(PlatformContract, DispositionsCreateKeepOrTruncate) {
    const std::string path = temp_.File("x.rez");
    for (uint32_t access : {kGenericRead, kGenericWrite, kGenericReadWrite})
        EXPECT_EQ(Open(path, access, kOpenExisting), kInvalidFile);
    EXPECT_FALSE(FileExists(path)) << "a failed open creates nothing";

    FileHandle file = Open(path, kGenericReadWrite, kCreateNew);
    ASSERT_NE(file, kInvalidFile);
    EXPECT_EQ(platform_->FileSize(file), 0u);
    Write(file, {1, 2, 3, 4, 5});
    EXPECT_TRUE(platform_->FileClose(file));
    EXPECT_EQ(Open(path, kGenericReadWrite, kCreateNew), kInvalidFile);
    for (uint32_t disposition : {0u, 99u})
        EXPECT_EQ(Open(path, kGenericRead, disposition), kInvalidFile);

    file = Open(path, kGenericReadWrite, kOpenExisting);
    EXPECT_EQ(platform_->FileSize(file), 5u);
    Write(file, {9, 9});
    EXPECT_TRUE(platform_->FileClose(file));
    EXPECT_EQ(ReadWholeFile(path), (Bytes{9, 9, 3, 4, 5}));

    for (const std::string &name : {path, temp_.File("fresh.rez")}) {
        file = Open(name, kGenericReadWrite, kCreateAlways);
        EXPECT_EQ(platform_->FileSize(file), 0u);
        EXPECT_TRUE(platform_->FileClose(file));
        EXPECT_TRUE(FileExists(name));
        EXPECT_TRUE(ReadWholeFile(name).empty());
    }
    // A folder does not open as a file.
    for (uint32_t disposition : {kOpenExisting, kCreateAlways})
        EXPECT_EQ(Open(temp_.path(), kGenericReadWrite, disposition), kInvalidFile);
    EXPECT_TRUE(fs::is_directory(temp_.path()));
}

TEST_P(PlatformContract, AHandleIsNeverTheNullFile) {
    // With descriptor 0 free the kernel hands it out next; the handle must still
    // differ from kNullFile.
    const std::string path = temp_.File("zero.rez");
    WriteWholeFile(path, {42});
    const int savedInput = dup(0);
    ASSERT_GE(savedInput, 0);
    close(0);
    const FileHandle file = Open(path, kGenericRead, kOpenExisting);
    Bytes bytes;
    if (file != kInvalidFile) {
        bytes = Read(file, 4);
        EXPECT_TRUE(platform_->FileClose(file));
    }
    dup2(savedInput, 0);
    close(savedInput);
    EXPECT_NE(file, kInvalidFile);
    EXPECT_NE(file, kNullFile);
    EXPECT_EQ(bytes, (Bytes{42}));
}

TEST_P(PlatformContract, ReadWriteSeekAndTruncate) {
    const std::string path = temp_.File("data.rez");
    const Bytes bytes = Pattern(1 << 20);
    const FileHandle file = Open(path, kGenericReadWrite, kCreateNew);
    ASSERT_NE(file, kInvalidFile);
    Write(file, bytes);
    EXPECT_EQ(platform_->FileSize(file), bytes.size());
    EXPECT_EQ(platform_->FileSeek(file, 0), 0u);
    EXPECT_EQ(Read(file, static_cast<uint32_t>(bytes.size())), bytes);
    // Zero-byte transfers succeed; reading at or beyond the end gives nothing.
    uint8_t byte = 0;
    uint32_t done = 5;
    EXPECT_TRUE(platform_->FileWrite(file, &byte, 0, &done));
    EXPECT_EQ(done, 0u);
    EXPECT_TRUE(Read(file, 0).empty());
    EXPECT_TRUE(Read(file, 10).empty());
    EXPECT_EQ(platform_->FileSeek(file, 40), 40u);
    EXPECT_EQ(Read(file, 10), Bytes(bytes.begin() + 40, bytes.begin() + 50));

    // Cutting keeps what is before the cut; a read past the end is short.
    EXPECT_TRUE(platform_->FileTruncate(file, 100));
    EXPECT_EQ(platform_->FileSize(file), 100u);
    EXPECT_EQ(platform_->FileSeek(file, 95), 95u);
    EXPECT_EQ(Read(file, 10), Bytes(bytes.begin() + 95, bytes.begin() + 100));
    // Writing beyond the end grows the file and fills the gap with zeros.
    EXPECT_EQ(platform_->FileSeek(file, 200), 200u);
    EXPECT_EQ(platform_->FileSize(file), 100u);
    EXPECT_TRUE(Read(file, 10).empty());
    Write(file, {0xAB});
    EXPECT_EQ(platform_->FileSize(file), 201u);
    EXPECT_TRUE(platform_->FileClose(file));
    Bytes expected(bytes.begin(), bytes.begin() + 100);
    expected.resize(200);
    expected.push_back(0xAB);
    EXPECT_EQ(ReadWholeFile(path), expected);

    // A handle open for reading neither writes nor truncates.
    const FileHandle reading = Open(path, kGenericRead, kOpenExisting);
    done = 77;
    EXPECT_FALSE(platform_->FileWrite(reading, bytes.data(), 2, &done));
    EXPECT_EQ(done, 0u);
    EXPECT_FALSE(platform_->FileTruncate(reading, 1));
    EXPECT_TRUE(platform_->FileClose(reading));
    EXPECT_EQ(ReadWholeFile(path), expected);
}

TEST_P(PlatformContract, NoFileHandlesFailEveryCall) {
    for (const FileHandle file : {kNullFile, kInvalidFile}) {
        uint8_t byte = 0;
        uint32_t read = 77, written = 77;
        EXPECT_FALSE(platform_->FileRead(file, &byte, 1, &read));
        EXPECT_FALSE(platform_->FileWrite(file, &byte, 1, &written));
        EXPECT_EQ(read + written, 0u);
        EXPECT_EQ(platform_->FileSeek(file, 0), kPlatformFailure);
        EXPECT_EQ(platform_->FileSize(file), kPlatformFailure);
        EXPECT_FALSE(platform_->FileTruncate(file, 0));
        EXPECT_FALSE(platform_->FileClose(file));
    }
}

TEST_P(PlatformContract, DeleteAndMove) {
    const std::string from = temp_.File("from.rez");
    const std::string to = temp_.File("to.rez");
    WriteWholeFile(from, {1, 2, 3});
    EXPECT_TRUE(platform_->FileMove(from.c_str(), to.c_str()));
    EXPECT_EQ(ListFolder(temp_.path()), std::vector<std::string>{"to.rez"});
    EXPECT_EQ(ReadWholeFile(to), (Bytes{1, 2, 3}));
    EXPECT_FALSE(platform_->FileMove(from.c_str(), to.c_str())) << "a missing file";
    // Not onto an existing name, not even onto itself.
    WriteWholeFile(from, {4, 5});
    EXPECT_FALSE(platform_->FileMove(from.c_str(), to.c_str()));
    EXPECT_FALSE(platform_->FileMove(from.c_str(), from.c_str()));
    EXPECT_EQ(ReadWholeFile(from), (Bytes{4, 5}));
    EXPECT_EQ(ReadWholeFile(to), (Bytes{1, 2, 3}));

    EXPECT_TRUE(platform_->FileDelete(from.c_str()));
    EXPECT_FALSE(platform_->FileDelete(from.c_str()));
    EXPECT_FALSE(platform_->FileDelete(temp_.path().c_str())) << "a folder is no file to delete";
    EXPECT_EQ(ListFolder(temp_.path()), std::vector<std::string>{"to.rez"});
}

// '\\' separates like '/', and a drive letter names a file through the table.
TEST_P(PlatformContract, PathsTakeEitherSeparatorAndDriveLetters) {
    fs::create_directory(temp_.File("sub"));
    const std::string file = Backslashed(temp_.File("sub/x.rez"));
    const std::string moved = Backslashed(temp_.File("sub/y.rez"));
    const FileHandle handle = Open(file, kGenericReadWrite, kCreateNew);
    Write(handle, {1, 2});
    EXPECT_TRUE(platform_->FileClose(handle));
    EXPECT_EQ(ReadWholeFile(temp_.File("sub/x.rez")), (Bytes{1, 2}));
    EXPECT_EQ(platform_->PathAttributes(file.c_str()), kAttributeNormal);
    EXPECT_EQ(platform_->PathAttributes(Backslashed(temp_.File("sub")).c_str()), 0x10u);
    uint64_t freeBytes = 0;
    EXPECT_TRUE(platform_->DiskFreeBytes(file.c_str(), &freeBytes));
    EXPECT_TRUE(platform_->FileMove(file.c_str(), moved.c_str()));
    EXPECT_TRUE(platform_->FileDelete(moved.c_str()));
    EXPECT_TRUE(ListFolder(temp_.File("sub")).empty());

    TempDir other;
    const std::string table = "q=cdrom=" + temp_.path() + ";R=fixed=" + other.path() +
                              ";E=cdrom=" + temp_.File("no-disc");
    ScopedEnvironment drives("SKELMORA_DRIVES", table.c_str());
    fs::create_directory(temp_.File("Utility"));
    WriteWholeFile(temp_.File("Utility/x.rez"), {1, 2, 3});
    for (const char *path : {"Q:\\Utility\\x.rez", "q:\\Utility\\x.rez", "Q:/Utility/x.rez"}) {
        const FileHandle file = Open(path, kGenericRead, kOpenExisting);
        EXPECT_EQ(Read(file, 10), (Bytes{1, 2, 3})) << path;
        EXPECT_TRUE(platform_->FileClose(file));
        EXPECT_EQ(platform_->PathAttributes(path), kAttributeNormal) << path;
    }
    // Between drives, and deleting and creating through a drive.
    EXPECT_TRUE(platform_->FileMove("Q:\\Utility\\x.rez", "R:\\y.rez"));
    EXPECT_EQ(ReadWholeFile(other.File("y.rez")), (Bytes{1, 2, 3}));
    EXPECT_TRUE(platform_->FileDelete("r:\\y.rez"));
    EXPECT_TRUE(platform_->FileClose(Open("R:\\new.rez", kGenericReadWrite, kCreateNew)));
    EXPECT_EQ(ListFolder(other.path()), std::vector<std::string>{"new.rez"});

    // A letter not in the table names no file.
    EXPECT_EQ(Open("Z:\\x.rez", kGenericReadWrite, kCreateAlways), kInvalidFile);
    EXPECT_EQ(platform_->PathAttributes("Z:\\."), kPlatformFailure);
    EXPECT_FALSE(platform_->FileDelete("Z:\\new.rez"));
    EXPECT_FALSE(platform_->FileMove("R:\\new.rez", "Z:\\y.rez"));
    EXPECT_EQ(ListFolder(other.path()), std::vector<std::string>{"new.rez"});

    // Free space of plain paths and of drive roots; a drive whose folder is
    // missing has no disc in it until the folder is there.
    for (const std::string &path :
         {temp_.path(), temp_.File("not-yet.rez"), std::string("relative.rez"), std::string("Q:\\"),
          std::string("Q:"), std::string("Q:\\x.rez")}) {
        uint64_t freeBytes = 0;
        EXPECT_TRUE(platform_->DiskFreeBytes(path.c_str(), &freeBytes)) << path;
        EXPECT_GT(freeBytes, 0u) << path;
    }
    for (const std::string &path :
         {temp_.File("no-folder/x.rez"), std::string("Z:\\"), std::string("E:\\")})
        EXPECT_FALSE(platform_->DiskFreeBytes(path.c_str(), &freeBytes)) << path;
    EXPECT_EQ(platform_->PathAttributes("E:\\."), kPlatformFailure);
    fs::create_directory(temp_.File("no-disc"));
    EXPECT_TRUE(platform_->DiskFreeBytes("E:\\", &freeBytes));
    EXPECT_EQ(platform_->PathAttributes("E:\\."), 0x10u);

    // The table is read at every call.
    ScopedEnvironment more("SKELMORA_DRIVES", ("Z=fixed=" + other.path()).c_str());
    EXPECT_EQ(platform_->PathAttributes("Z:\\new.rez"), kAttributeNormal);
}

TEST_P(PlatformContract, CurrentFolderAndAttributes) {
    const std::string expected = fs::current_path().string();
    const uint32_t length = static_cast<uint32_t>(expected.size());
    EXPECT_EQ(platform_->CurrentFolder(nullptr, 0), length + 1);
    std::vector<char> buffer(length + 8, 'X');
    EXPECT_EQ(platform_->CurrentFolder(buffer.data(), length), length + 1);
    EXPECT_EQ(buffer[0], 'X') << "a buffer that is too small stays as it was";
    EXPECT_EQ(platform_->CurrentFolder(buffer.data(), length + 1), length);
    EXPECT_EQ(std::string(buffer.data()), expected);
    EXPECT_EQ(buffer[length + 1], 'X');

    const std::string file = temp_.File("x.rez");
    WriteWholeFile(file, {1});
    EXPECT_EQ(platform_->PathAttributes(temp_.path().c_str()), 0x10u);
    EXPECT_EQ(platform_->PathAttributes((temp_.path() + "/.").c_str()), 0x10u);
    EXPECT_EQ(platform_->PathAttributes(file.c_str()), kAttributeNormal);
    EXPECT_EQ(platform_->PathAttributes(temp_.File("missing").c_str()), kPlatformFailure);
    EXPECT_EQ(platform_->PathAttributes(""), kPlatformFailure);
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    EXPECT_EQ(platform_->PathAttributes(file.c_str()), kAttributeNormal | 0x01u);
}

INSTANTIATE_TEST_SUITE_P(Platform, PlatformContract, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return std::string(info.param ? "Fault" : "Default");
                         });

// SetPlatform swaps the backend that the free functions reach; a FaultPlatform
// installs itself and puts back the one it wrapped. (Every fault test of the
// library relies on the free functions reaching the current backend.)
TEST(PlatformSeam, SetPlatformSwapsTheBackend) {
    EXPECT_EQ(CurrentPlatform(), DefaultPlatform());
    {
        FaultPlatform fault;
        EXPECT_EQ(CurrentPlatform(), &fault);
        EXPECT_EQ(fault.target(), DefaultPlatform());
        EXPECT_EQ(PlatformPathAttributes("/"), 0x10u);
        char folder[4096];
        EXPECT_GT(PlatformCurrentFolder(folder, sizeof folder), 0u);
    }
    PlatformWrapper wrapper(DefaultPlatform());
    EXPECT_EQ(SetPlatform(&wrapper), DefaultPlatform());
    EXPECT_EQ(CurrentPlatform(), &wrapper);
    EXPECT_EQ(SetPlatform(nullptr), &wrapper);
    EXPECT_EQ(CurrentPlatform(), DefaultPlatform());
}

}  // namespace
