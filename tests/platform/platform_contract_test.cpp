// The contract of platform.h, run over every backend: the built-in one, and the
// fault-injecting wrapper with nothing planned (which must not change a thing).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/fault_platform.h"
#include "common/test_env.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

// Sets SKELMORA_DRIVES for the life of the object, then puts back what was there.
class DrivesEnvironment {
public:
    explicit DrivesEnvironment(const std::string &value) {
        if (const char *old = std::getenv("SKELMORA_DRIVES")) old_ = old;
        setenv("SKELMORA_DRIVES", value.c_str(), 1);
    }
    ~DrivesEnvironment() {
        if (old_) {
            setenv("SKELMORA_DRIVES", old_->c_str(), 1);
        } else {
            unsetenv("SKELMORA_DRIVES");
        }
    }

private:
    std::optional<std::string> old_;
};

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return bytes;
}

std::string Backslashed(std::string path) {
    for (char &c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

enum class Backend { Default, Fault };

void PrintTo(Backend backend, std::ostream *out) {
    *out << (backend == Backend::Default ? "the default backend" : "a FaultPlatform with no plans");
}

class PlatformContract : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        if (GetParam() == Backend::Fault) {
            fault_ = std::make_unique<FaultPlatform>();
            platform_ = fault_.get();
        } else {
            platform_ = DefaultPlatform();
        }
    }
    void TearDown() override {
        if (fault_) {
            EXPECT_FALSE(fault_->Fired());
        }
        fault_.reset();
    }

    FileHandle Open(const std::string &path, uint32_t access, uint32_t disposition) {
        return platform_->FileOpen(path.c_str(), access, disposition);
    }
    // Reads count bytes at the file position; the vector holds what was read.
    std::vector<uint8_t> Read(FileHandle file, uint32_t count) {
        std::vector<uint8_t> bytes(count);
        uint32_t done = 0xDEADBEEF;
        EXPECT_TRUE(platform_->FileRead(file, bytes.data(), count, &done));
        EXPECT_LE(done, count);
        bytes.resize(done <= count ? done : 0);
        return bytes;
    }
    void Write(FileHandle file, const std::vector<uint8_t> &bytes) {
        uint32_t done = 0xDEADBEEF;
        EXPECT_TRUE(
            platform_->FileWrite(file, bytes.data(), static_cast<uint32_t>(bytes.size()), &done));
        EXPECT_EQ(done, bytes.size());
    }

    std::unique_ptr<FaultPlatform> fault_;
    Platform *platform_ = nullptr;
    TempDir temp_;
};

TEST_P(PlatformContract, OpenExistingFailsOnAMissingFileAndCreatesNothing) {
    const std::string path = temp_.File("missing.rez");
    EXPECT_EQ(Open(path, kGenericRead, kOpenExisting), kInvalidFile);
    EXPECT_EQ(Open(path, kGenericReadWrite, kOpenExisting), kInvalidFile);
    EXPECT_EQ(Open(path, kGenericWrite, kOpenExisting), kInvalidFile);
    EXPECT_FALSE(FileExists(path));
}

TEST_P(PlatformContract, OpenExistingKeepsTheContents) {
    const std::string path = temp_.File("kept.rez");
    WriteWholeFile(path, {1, 2, 3, 4, 5});
    const FileHandle file = Open(path, kGenericReadWrite, kOpenExisting);
    ASSERT_NE(file, kInvalidFile);
    ASSERT_NE(file, kNullFile);
    EXPECT_EQ(platform_->FileSize(file), 5u);
    Write(file, {9, 9});
    EXPECT_TRUE(platform_->FileClose(file));
    EXPECT_EQ(ReadWholeFile(path), (std::vector<uint8_t>{9, 9, 3, 4, 5}));
}

TEST_P(PlatformContract, CreateNewMakesAnEmptyFileButFailsWhenOneExists) {
    const std::string path = temp_.File("new.rez");
    const FileHandle file = Open(path, kGenericReadWrite, kCreateNew);
    ASSERT_NE(file, kInvalidFile);
    EXPECT_EQ(platform_->FileSize(file), 0u);
    Write(file, {7, 8, 9});
    EXPECT_TRUE(platform_->FileClose(file));

    EXPECT_EQ(Open(path, kGenericReadWrite, kCreateNew), kInvalidFile);
    EXPECT_EQ(ReadWholeFile(path), (std::vector<uint8_t>{7, 8, 9}));
}

TEST_P(PlatformContract, CreateAlwaysTruncatesOrCreates) {
    const std::string path = temp_.File("temp.rez");
    WriteWholeFile(path, Pattern(300, 1));
    FileHandle file = Open(path, kGenericReadWrite, kCreateAlways);
    ASSERT_NE(file, kInvalidFile);
    EXPECT_EQ(platform_->FileSize(file), 0u);
    EXPECT_TRUE(platform_->FileClose(file));
    EXPECT_TRUE(ReadWholeFile(path).empty());
    EXPECT_TRUE(fs::exists(path));

    const std::string fresh = temp_.File("fresh.rez");
    file = Open(fresh, kGenericReadWrite, kCreateAlways);
    ASSERT_NE(file, kInvalidFile);
    EXPECT_TRUE(platform_->FileClose(file));
    EXPECT_TRUE(fs::exists(fresh));
}

TEST_P(PlatformContract, AFolderDoesNotOpenAsAFile) {
    EXPECT_EQ(Open(temp_.path(), kGenericRead, kOpenExisting), kInvalidFile);
    EXPECT_EQ(Open(temp_.path(), kGenericReadWrite, kOpenExisting), kInvalidFile);
    EXPECT_EQ(Open(temp_.path(), kGenericReadWrite, kCreateAlways), kInvalidFile);
    EXPECT_TRUE(fs::is_directory(temp_.path()));
}

TEST_P(PlatformContract, AnUnknownDispositionFails) {
    const std::string path = temp_.File("x.rez");
    WriteWholeFile(path, {1});
    EXPECT_EQ(Open(path, kGenericRead, 0), kInvalidFile);
    EXPECT_EQ(Open(path, kGenericRead, 99), kInvalidFile);
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
    std::vector<uint8_t> bytes;
    if (file != kInvalidFile) {
        bytes = Read(file, 4);
        EXPECT_TRUE(platform_->FileClose(file));
    }
    dup2(savedInput, 0);
    close(savedInput);
    EXPECT_NE(file, kInvalidFile);
    EXPECT_NE(file, kNullFile);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{42}));
}

TEST_P(PlatformContract, AReadPastTheEndIsShortAndThenEmpty) {
    const std::string path = temp_.File("short.rez");
    WriteWholeFile(path, {1, 2, 3, 4, 5});
    const FileHandle file = Open(path, kGenericRead, kOpenExisting);
    ASSERT_NE(file, kInvalidFile);
    EXPECT_EQ(Read(file, 3), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(Read(file, 10), (std::vector<uint8_t>{4, 5}));
    EXPECT_TRUE(Read(file, 10).empty());
    // Reading from beyond the end is no error either.
    EXPECT_EQ(platform_->FileSeek(file, 100), 100u);
    EXPECT_TRUE(Read(file, 10).empty());
    EXPECT_TRUE(platform_->FileClose(file));
}

TEST_P(PlatformContract, WhatIsWrittenReadsBack) {
    const std::string path = temp_.File("round.rez");
    const std::vector<uint8_t> bytes = Pattern(1 << 20, 3);
    const FileHandle file = Open(path, kGenericReadWrite, kCreateNew);
    ASSERT_NE(file, kInvalidFile);
    Write(file, bytes);
    EXPECT_EQ(platform_->FileSize(file), bytes.size());
    EXPECT_EQ(platform_->FileSeek(file, 0), 0u);
    EXPECT_EQ(Read(file, static_cast<uint32_t>(bytes.size())), bytes);
    EXPECT_TRUE(platform_->FileClose(file));
    EXPECT_EQ(ReadWholeFile(path), bytes);
}

TEST_P(PlatformContract, ZeroByteTransfersSucceed) {
    const std::string path = temp_.File("zero.rez");
    const FileHandle file = Open(path, kGenericReadWrite, kCreateNew);
    ASSERT_NE(file, kInvalidFile);
    uint8_t byte = 0;
    uint32_t done = 5;
    EXPECT_TRUE(platform_->FileWrite(file, &byte, 0, &done));
    EXPECT_EQ(done, 0u);
    done = 5;
    EXPECT_TRUE(platform_->FileRead(file, &byte, 0, &done));
    EXPECT_EQ(done, 0u);
    EXPECT_TRUE(platform_->FileClose(file));
}

TEST_P(PlatformContract, SeekMovesThePositionAndWritingBeyondTheEndGrowsTheFile) {
    const std::string path = temp_.File("seek.rez");
    const std::vector<uint8_t> bytes = Pattern(100, 5);
    WriteWholeFile(path, bytes);
    const FileHandle file = Open(path, kGenericReadWrite, kOpenExisting);
    ASSERT_NE(file, kInvalidFile);
    EXPECT_EQ(platform_->FileSize(file), 100u);
    EXPECT_EQ(platform_->FileSeek(file, 40), 40u);
    EXPECT_EQ(Read(file, 10), std::vector<uint8_t>(bytes.begin() + 40, bytes.begin() + 50));
    EXPECT_EQ(platform_->FileSeek(file, 0), 0u);
    EXPECT_EQ(Read(file, 2), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 2));

    EXPECT_EQ(platform_->FileSeek(file, 200), 200u);
    EXPECT_EQ(platform_->FileSize(file), 100u);
    Write(file, {0xAB});
    EXPECT_EQ(platform_->FileSize(file), 201u);
    EXPECT_TRUE(platform_->FileClose(file));

    const std::vector<uint8_t> grown = ReadWholeFile(path);
    ASSERT_EQ(grown.size(), 201u);
    EXPECT_EQ(grown[150], 0);
    EXPECT_EQ(grown[200], 0xAB);
}

TEST_P(PlatformContract, TruncateCutsTheFileAndKeepsWhatIsBeforeTheCut) {
    const std::string path = temp_.File("cut.rez");
    const std::vector<uint8_t> bytes = Pattern(100, 11);
    WriteWholeFile(path, bytes);
    const FileHandle file = Open(path, kGenericReadWrite, kOpenExisting);
    ASSERT_NE(file, kInvalidFile);
    EXPECT_TRUE(platform_->FileTruncate(file, 100));
    EXPECT_EQ(platform_->FileSize(file), 100u);
    EXPECT_TRUE(platform_->FileTruncate(file, 30));
    EXPECT_EQ(platform_->FileSize(file), 30u);
    // Writing goes on wherever the caller seeks.
    EXPECT_EQ(platform_->FileSeek(file, 30), 30u);
    Write(file, {0xEE});
    EXPECT_TRUE(platform_->FileTruncate(file, 0));
    EXPECT_EQ(platform_->FileSize(file), 0u);
    EXPECT_TRUE(platform_->FileClose(file));
    EXPECT_TRUE(ReadWholeFile(path).empty());

    WriteWholeFile(path, bytes);
    const FileHandle again = Open(path, kGenericReadWrite, kOpenExisting);
    ASSERT_NE(again, kInvalidFile);
    EXPECT_TRUE(platform_->FileTruncate(again, 42));
    EXPECT_TRUE(platform_->FileClose(again));
    EXPECT_EQ(ReadWholeFile(path), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 42));
}

TEST_P(PlatformContract, TruncateNeedsAHandleOpenForWriting) {
    const std::string path = temp_.File("keep.rez");
    WriteWholeFile(path, {1, 2, 3});
    const FileHandle file = Open(path, kGenericRead, kOpenExisting);
    ASSERT_NE(file, kInvalidFile);
    EXPECT_FALSE(platform_->FileTruncate(file, 1));
    EXPECT_TRUE(platform_->FileClose(file));
    EXPECT_EQ(ReadWholeFile(path), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(platform_->FileTruncate(kNullFile, 0));
    EXPECT_FALSE(platform_->FileTruncate(kInvalidFile, 0));
}

TEST_P(PlatformContract, AHandleOpenedForReadingCannotWrite) {
    const std::string path = temp_.File("ro.rez");
    WriteWholeFile(path, {1, 2, 3});
    const FileHandle file = Open(path, kGenericRead, kOpenExisting);
    ASSERT_NE(file, kInvalidFile);
    const uint8_t bytes[2] = {8, 8};
    uint32_t done = 77;
    EXPECT_FALSE(platform_->FileWrite(file, bytes, 2, &done));
    EXPECT_EQ(done, 0u);
    EXPECT_TRUE(platform_->FileClose(file));
    EXPECT_EQ(ReadWholeFile(path), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_P(PlatformContract, NoFileHandlesFailEveryCall) {
    for (const FileHandle file : {kNullFile, kInvalidFile}) {
        uint8_t byte = 0;
        uint32_t done = 77;
        EXPECT_FALSE(platform_->FileRead(file, &byte, 1, &done));
        EXPECT_EQ(done, 0u);
        done = 77;
        EXPECT_FALSE(platform_->FileWrite(file, &byte, 1, &done));
        EXPECT_EQ(done, 0u);
        EXPECT_EQ(platform_->FileSeek(file, 0), kPlatformFailure);
        EXPECT_EQ(platform_->FileSize(file), kPlatformFailure);
        EXPECT_FALSE(platform_->FileClose(file));
    }
}

TEST_P(PlatformContract, DeleteRemovesAFileAndFailsOnAMissingOne) {
    const std::string path = temp_.File("gone.rez");
    WriteWholeFile(path, {1});
    EXPECT_TRUE(platform_->FileDelete(path.c_str()));
    EXPECT_FALSE(FileExists(path));
    EXPECT_FALSE(platform_->FileDelete(path.c_str()));
    // A folder is no file to delete.
    EXPECT_FALSE(platform_->FileDelete(temp_.path().c_str()));
    EXPECT_TRUE(fs::is_directory(temp_.path()));
}

TEST_P(PlatformContract, MoveRenamesAFile) {
    const std::string from = temp_.File("from.rez");
    const std::string to = temp_.File("to.rez");
    WriteWholeFile(from, {1, 2, 3});
    EXPECT_TRUE(platform_->FileMove(from.c_str(), to.c_str()));
    EXPECT_FALSE(FileExists(from));
    EXPECT_EQ(ReadWholeFile(to), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(ListFolder(temp_.path()), (std::vector<std::string>{"to.rez"}));
}

TEST_P(PlatformContract, MoveOntoAnExistingNameFailsAndKeepsBothFiles) {
    const std::string from = temp_.File("from.rez");
    const std::string to = temp_.File("to.rez");
    WriteWholeFile(from, {1, 2, 3});
    WriteWholeFile(to, {4, 5});
    EXPECT_FALSE(platform_->FileMove(from.c_str(), to.c_str()));
    EXPECT_EQ(ReadWholeFile(from), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(ReadWholeFile(to), (std::vector<uint8_t>{4, 5}));
    // Not even onto itself.
    EXPECT_FALSE(platform_->FileMove(from.c_str(), from.c_str()));
    EXPECT_EQ(ReadWholeFile(from), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_P(PlatformContract, MoveOfAMissingFileFails) {
    const std::string from = temp_.File("none.rez");
    const std::string to = temp_.File("to.rez");
    EXPECT_FALSE(platform_->FileMove(from.c_str(), to.c_str()));
    EXPECT_FALSE(FileExists(to));
}

TEST_P(PlatformContract, MoveCrossesFileSystems) {
    // Another file system than the temporary folder's, when the machine has one.
    char pattern[] = "/dev/shm/skplatform-XXXXXX";
    struct stat here, there;
    if (stat(temp_.path().c_str(), &here) != 0 || mkdtemp(pattern) == nullptr) {
        GTEST_SKIP() << "no second file system";
    }
    const std::string other = pattern;
    if (stat(other.c_str(), &there) != 0 || there.st_dev == here.st_dev) {
        fs::remove_all(other);
        GTEST_SKIP() << "no second file system";
    }
    const std::string from = temp_.File("from.rez");
    const std::string to = other + "/to.rez";
    const std::vector<uint8_t> bytes = Pattern(200000, 9);
    WriteWholeFile(from, bytes);
    WriteWholeFile(to, {1});
    EXPECT_FALSE(platform_->FileMove(from.c_str(), to.c_str()));
    EXPECT_EQ(ReadWholeFile(from), bytes);
    EXPECT_EQ(ReadWholeFile(to), (std::vector<uint8_t>{1}));

    fs::remove(to);
    EXPECT_TRUE(platform_->FileMove(from.c_str(), to.c_str()));
    EXPECT_FALSE(FileExists(from));
    EXPECT_EQ(ReadWholeFile(to), bytes);
    fs::remove_all(other);
}

TEST_P(PlatformContract, BackslashesSeparateLikeSlashes) {
    fs::create_directory(temp_.File("sub"));
    const std::string file = Backslashed(temp_.File("sub/x.rez"));
    const std::string moved = Backslashed(temp_.File("sub/y.rez"));

    const FileHandle handle = Open(file, kGenericReadWrite, kCreateNew);
    ASSERT_NE(handle, kInvalidFile);
    Write(handle, {1, 2});
    EXPECT_TRUE(platform_->FileClose(handle));
    EXPECT_EQ(ReadWholeFile(temp_.File("sub/x.rez")), (std::vector<uint8_t>{1, 2}));

    EXPECT_EQ(platform_->PathAttributes(file.c_str()), kAttributeNormal);
    EXPECT_EQ(platform_->PathAttributes(Backslashed(temp_.File("sub")).c_str()), 0x10u);
    uint64_t freeBytes = 0;
    EXPECT_TRUE(platform_->DiskFreeBytes(file.c_str(), &freeBytes));
    EXPECT_GT(freeBytes, 0u);
    EXPECT_TRUE(platform_->FileMove(file.c_str(), moved.c_str()));
    EXPECT_TRUE(FileExists(temp_.File("sub/y.rez")));
    EXPECT_TRUE(platform_->FileDelete(moved.c_str()));
    EXPECT_TRUE(ListFolder(temp_.File("sub")).empty());
}

TEST_P(PlatformContract, DrivePathsGoThroughTheDriveTable) {
    TempDir other;
    DrivesEnvironment drives("q=cdrom=" + temp_.path() + ";R=fixed=" + other.path());
    fs::create_directory(temp_.File("Utility"));
    WriteWholeFile(temp_.File("Utility/x.rez"), {1, 2, 3});

    for (const char *path : {"Q:\\Utility\\x.rez", "q:\\Utility\\x.rez", "Q:/Utility/x.rez"}) {
        const FileHandle file = Open(path, kGenericRead, kOpenExisting);
        ASSERT_NE(file, kInvalidFile) << path;
        EXPECT_EQ(Read(file, 10), (std::vector<uint8_t>{1, 2, 3})) << path;
        EXPECT_TRUE(platform_->FileClose(file));
        EXPECT_EQ(platform_->PathAttributes(path), kAttributeNormal) << path;
    }

    // Between drives, and deleting through a drive.
    EXPECT_TRUE(platform_->FileMove("Q:\\Utility\\x.rez", "R:\\y.rez"));
    EXPECT_EQ(ReadWholeFile(other.File("y.rez")), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(FileExists(temp_.File("Utility/x.rez")));
    EXPECT_TRUE(platform_->FileDelete("r:\\y.rez"));
    EXPECT_FALSE(FileExists(other.File("y.rez")));

    const FileHandle created = Open("R:\\new.rez", kGenericReadWrite, kCreateNew);
    ASSERT_NE(created, kInvalidFile);
    EXPECT_TRUE(platform_->FileClose(created));
    EXPECT_TRUE(FileExists(other.File("new.rez")));
}

TEST_P(PlatformContract, ADriveLetterNotInTheTableNamesNoFile) {
    DrivesEnvironment drives("Q=fixed=" + temp_.path());
    WriteWholeFile(temp_.File("x.rez"), {1});
    EXPECT_EQ(Open("Z:\\x.rez", kGenericRead, kOpenExisting), kInvalidFile);
    EXPECT_EQ(Open("Z:\\made.rez", kGenericReadWrite, kCreateAlways), kInvalidFile);
    EXPECT_EQ(platform_->PathAttributes("Z:\\x.rez"), kPlatformFailure);
    EXPECT_EQ(platform_->PathAttributes("Z:\\."), kPlatformFailure);
    EXPECT_FALSE(platform_->FileDelete("Z:\\x.rez"));
    EXPECT_FALSE(platform_->FileMove("Z:\\x.rez", "Q:\\y.rez"));
    EXPECT_FALSE(platform_->FileMove("Q:\\x.rez", "Z:\\y.rez"));
    uint64_t freeBytes = 0;
    EXPECT_FALSE(platform_->DiskFreeBytes("Z:\\", &freeBytes));
    EXPECT_EQ(ListFolder(temp_.path()), (std::vector<std::string>{"x.rez"}));

    // The table is read at every call.
    DrivesEnvironment more("Q=fixed=" + temp_.path() + ";Z=fixed=" + temp_.path());
    EXPECT_EQ(platform_->PathAttributes("Z:\\x.rez"), kAttributeNormal);
}

TEST_P(PlatformContract, FreeSpaceOfPlainPathsAndDriveRoots) {
    const std::string file = temp_.File("x.rez");
    WriteWholeFile(file, {1});
    const std::vector<std::string> paths = {
        temp_.path(), temp_.path() + "/", file, temp_.File("not-yet.rez"), "relative.rez", "Q:\\",
        "Q:",         "Q:\\x.rez"};
    DrivesEnvironment drives("Q=fixed=" + temp_.path());
    for (const std::string &path : paths) {
        uint64_t freeBytes = 0;
        EXPECT_TRUE(platform_->DiskFreeBytes(path.c_str(), &freeBytes)) << path;
        EXPECT_GT(freeBytes, 0u) << path;
    }
    uint64_t freeBytes = 0;
    EXPECT_FALSE(platform_->DiskFreeBytes(temp_.File("no-folder/x.rez").c_str(), &freeBytes));
}

TEST_P(PlatformContract, FreeSpaceOfADriveWhoseFolderIsMissingFails) {
    DrivesEnvironment drives("E=cdrom=" + temp_.File("no-disc"));
    uint64_t freeBytes = 0;
    EXPECT_FALSE(platform_->DiskFreeBytes("E:\\", &freeBytes));
    EXPECT_EQ(platform_->PathAttributes("E:\\."), kPlatformFailure);
    fs::create_directory(temp_.File("no-disc"));
    EXPECT_TRUE(platform_->DiskFreeBytes("E:\\", &freeBytes));
    EXPECT_EQ(platform_->PathAttributes("E:\\."), 0x10u);
}

TEST_P(PlatformContract, CurrentFolderReportsTheSizeNeededWhenTheBufferIsSmall) {
    const std::string expected = fs::current_path().string();
    const uint32_t length = static_cast<uint32_t>(expected.size());

    EXPECT_EQ(platform_->CurrentFolder(nullptr, 0), length + 1);
    std::vector<char> buffer(length + 8, 'X');
    EXPECT_EQ(platform_->CurrentFolder(buffer.data(), length), length + 1);
    EXPECT_EQ(buffer[0], 'X') << "a buffer that is too small stays as it was";

    EXPECT_EQ(platform_->CurrentFolder(buffer.data(), length + 1), length);
    EXPECT_EQ(std::string(buffer.data()), expected);
    EXPECT_EQ(buffer[length + 1], 'X');
}

TEST_P(PlatformContract, AttributesOfAFolderAFileAndNothing) {
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

INSTANTIATE_TEST_SUITE_P(Platform, PlatformContract,
                         ::testing::Values(Backend::Default, Backend::Fault),
                         [](const ::testing::TestParamInfo<Backend> &info) {
                             return info.param == Backend::Default ? std::string("Default")
                                                                   : std::string("Fault");
                         });

// The free functions reach whatever backend is current.
TEST(PlatformSeam, StartsWithTheDefaultBackendAndSetPlatformSwapsIt) {
    EXPECT_EQ(CurrentPlatform(), DefaultPlatform());
    PlatformWrapper wrapper(DefaultPlatform());
    EXPECT_EQ(SetPlatform(&wrapper), DefaultPlatform());
    EXPECT_EQ(CurrentPlatform(), &wrapper);
    EXPECT_EQ(SetPlatform(nullptr), &wrapper);
    EXPECT_EQ(CurrentPlatform(), DefaultPlatform());
}

TEST(PlatformSeam, FreeFunctionsForwardToTheCurrentBackend) {
    TempDir temp;
    FaultPlatform fault;
    const std::string path = temp.File("x.rez");
    const std::string moved = temp.File("y.rez");
    const FileHandle file = PlatformFileOpen(path.c_str(), kGenericReadWrite, kCreateNew);
    ASSERT_NE(file, kInvalidFile);
    const uint8_t bytes[3] = {1, 2, 3};
    uint8_t back[3] = {};
    uint32_t done = 0;
    EXPECT_TRUE(PlatformFileWrite(file, bytes, 3, &done));
    EXPECT_EQ(PlatformFileSeek(file, 1), 1u);
    EXPECT_TRUE(PlatformFileRead(file, back, 3, &done));
    EXPECT_EQ(done, 2u);
    EXPECT_EQ(back[0], 2);
    EXPECT_EQ(PlatformFileSize(file), 3u);
    EXPECT_TRUE(PlatformFileTruncate(file, 2));
    EXPECT_EQ(PlatformFileSize(file), 2u);
    EXPECT_TRUE(PlatformFileClose(file));
    EXPECT_TRUE(PlatformFileMove(path.c_str(), moved.c_str()));
    uint64_t freeBytes = 0;
    EXPECT_TRUE(PlatformDiskFreeBytes(moved.c_str(), &freeBytes));
    EXPECT_EQ(PlatformPathAttributes(moved.c_str()), kAttributeNormal);
    char folder[4096];
    EXPECT_GT(PlatformCurrentFolder(folder, sizeof folder), 0u);
    EXPECT_TRUE(PlatformFileDelete(moved.c_str()));

    for (PlatformOp op : {PlatformOp::Open, PlatformOp::Read, PlatformOp::Write, PlatformOp::Seek,
                          PlatformOp::Close, PlatformOp::Delete, PlatformOp::Move,
                          PlatformOp::FreeSpace, PlatformOp::Size}) {
        EXPECT_EQ(fault.Calls(op), op == PlatformOp::Size ? 2u : 1u) << static_cast<int>(op);
    }
}

}  // namespace
