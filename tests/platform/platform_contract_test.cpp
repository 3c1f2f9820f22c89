// The contract of platform.h, run over every backend: the built-in one, and the
// fault-injecting wrapper with nothing planned (which must not change a thing).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/test_env.h"
#include "platform/fault_platform.h"
#include "platform/platform.h"
#include "platform/posix/move_file.h"

namespace fs = std::filesystem;

namespace {

// A folder on another file system than the temporary folder, or "" when the
// machine has none (then the moves between file systems go untested).
std::string OtherFileSystem() {
    struct stat temp, shm;
    if (stat(fs::temp_directory_path().c_str(), &temp) != 0 || stat("/dev/shm", &shm) != 0 ||
        temp.st_dev == shm.st_dev || access("/dev/shm", W_OK) != 0) {
        return "";
    }
    return "/dev/shm";
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
    // Reads up to count bytes at the file position; what was read.
    Bytes Read(FileHandle file, uint32_t count) {
        Bytes bytes(count);
        uint32_t done = 0xDEADBEEF;
        EXPECT_TRUE(platform_->FileRead(file, bytes.data(), count, &done));
        bytes.resize(std::min(done, count));
        return bytes;
    }
    void Write(FileHandle file, const Bytes &bytes) {
        uint32_t done = 0xDEADBEEF;
        EXPECT_TRUE(
            platform_->FileWrite(file, bytes.data(), static_cast<uint32_t>(bytes.size()), &done));
        EXPECT_EQ(done, bytes.size());
    }
    bool Move(const std::string &from, const std::string &to) {
        return platform_->FileMove(from.c_str(), to.c_str());
    }

    std::unique_ptr<FaultPlatform> fault_;
    Platform *platform_ = nullptr;
    TempDir temp_;
};

TEST_P(PlatformContract, DispositionsAndAccessModes) {
    const std::string path = temp_.File("x.rez");
    for (uint32_t access : {kGenericRead, kGenericWrite, kGenericReadWrite})
        EXPECT_EQ(Open(path, access, kOpenExisting), kInvalidFile);
    EXPECT_FALSE(FileExists(path)) << "a failed open creates nothing";
    FileHandle file = Open(path, kGenericReadWrite, kCreateNew);
    Write(file, {1, 2, 3, 4, 5});
    EXPECT_TRUE(platform_->FileClose(file));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::owner_all,
              fs::perms::owner_read | fs::perms::owner_write);
    for (uint32_t disposition : {kCreateNew, 0u, 99u})
        EXPECT_EQ(Open(path, kGenericReadWrite, disposition), kInvalidFile) << disposition;

    // Open for writing only: writes in place, reads nothing.
    file = Open(path, kGenericWrite, kOpenExisting);
    Write(file, {9, 9});
    uint8_t bytes[4];
    uint32_t done = 77;
    EXPECT_FALSE(platform_->FileRead(file, bytes, 4, &done));
    EXPECT_EQ(done, 0u);
    EXPECT_TRUE(platform_->FileClose(file));
    // Open for reading only: neither writes nor truncates.
    file = Open(path, kGenericRead, kOpenExisting);
    EXPECT_FALSE(platform_->FileWrite(file, bytes, 2, &done));
    EXPECT_EQ(done, 0u);
    EXPECT_FALSE(platform_->FileTruncate(file, 1));
    EXPECT_EQ(Read(file, 10), (Bytes{9, 9, 3, 4, 5}));
    EXPECT_TRUE(platform_->FileClose(file));

    for (const std::string &name : {path, temp_.File("fresh.rez")}) {
        file = Open(name, kGenericReadWrite, kCreateAlways);
        EXPECT_EQ(platform_->FileSize(file), 0u);
        EXPECT_TRUE(platform_->FileClose(file));
        EXPECT_TRUE(FileExists(name));
    }
    const auto descriptors = std::distance(fs::directory_iterator("/proc/self/fd"), {});
    for (uint32_t disposition : {kOpenExisting, kCreateAlways})
        EXPECT_EQ(Open(temp_.path(), kGenericRead, disposition), kInvalidFile) << "a folder";
    EXPECT_EQ(std::distance(fs::directory_iterator("/proc/self/fd"), {}), descriptors);

    // With descriptor 0 free the kernel hands it out next; the handle must still
    // differ from kNullFile.
    const int savedInput = dup(0);
    close(0);
    file = Open(path, kGenericRead, kOpenExisting);
    EXPECT_NE(file, kNullFile);
    EXPECT_TRUE(Read(file, 10).empty());  // made empty above, and read all the same
    EXPECT_TRUE(platform_->FileClose(file));
    dup2(savedInput, 0);
    close(savedInput);
}

TEST_P(PlatformContract, ReadWriteSeekSizeAndTruncate) {
    const std::string path = temp_.File("data.rez");
    const Bytes bytes = Pattern(1 << 20);
    const FileHandle file = Open(path, kGenericReadWrite, kCreateNew);
    Write(file, bytes);
    EXPECT_EQ(platform_->FileSize(file), bytes.size());
    EXPECT_EQ(platform_->FileSeek(file, 0), 0u);
    errno = EINTR;  // left over from elsewhere: no reason to call again
    EXPECT_EQ(Read(file, static_cast<uint32_t>(bytes.size())), bytes);
    // Zero-byte transfers succeed; reading at or beyond the end gives nothing.
    Write(file, {});
    EXPECT_TRUE(Read(file, 0).empty() && Read(file, 10).empty());
    EXPECT_EQ(platform_->FileSeek(file, 40), 40u);
    EXPECT_EQ(Read(file, 10), Bytes(bytes.begin() + 40, bytes.begin() + 50));
    // Cutting keeps what is before the cut; a read across the end is short.
    EXPECT_TRUE(platform_->FileTruncate(file, 100));
    EXPECT_EQ(platform_->FileSize(file), 100u);
    EXPECT_EQ(platform_->FileSeek(file, 95), 95u);
    EXPECT_EQ(Read(file, 10), Bytes(bytes.begin() + 95, bytes.begin() + 100));
    // Writing beyond the end grows the file and fills the gap with zeros.
    EXPECT_EQ(platform_->FileSeek(file, 200), 200u);
    Write(file, {0xAB});
    Bytes expected(bytes.begin(), bytes.begin() + 100);
    expected.resize(200);
    expected.push_back(0xAB);
    EXPECT_EQ(ReadWholeFile(path), expected);
    // Sizes from 4 GiB - 1 (the failure value) up have no answer.
    fs::resize_file(path, 0xFFFFFFFEu);
    EXPECT_EQ(platform_->FileSize(file), 0xFFFFFFFEu);
    fs::resize_file(path, 0x100000001u);
    EXPECT_EQ(platform_->FileSize(file), kPlatformFailure);
    EXPECT_TRUE(platform_->FileClose(file));

    for (const FileHandle none : {kNullFile, kInvalidFile}) {
        uint8_t byte = 0;
        uint32_t read = 77, written = 77;
        EXPECT_FALSE(platform_->FileRead(none, &byte, 1, &read) ||
                     platform_->FileWrite(none, &byte, 1, &written));
        EXPECT_EQ(read + written, 0u);
        EXPECT_EQ(platform_->FileSeek(none, 0), kPlatformFailure);
        EXPECT_EQ(platform_->FileSize(none), kPlatformFailure);
        EXPECT_FALSE(platform_->FileTruncate(none, 0) || platform_->FileClose(none));
    }
}

// A write beyond the end grows the file with zeros; a read across the end is
// short; a stamped open gives the stamp that asking gives.
TEST_P(PlatformContract, TransfersAtAnOffsetAndStampedOpens) {
    const std::string path = temp_.File("at.rez");
    const FileHandle file = Open(path, kGenericReadWrite, kCreateNew);
    const Bytes pattern = Pattern(100);
    Write(file, pattern);
    uint8_t buffer[8] = {};
    uint32_t done = 0;
    EXPECT_EQ(platform_->FileWriteAt(file, 120, "abc", 3, &done), TransferAt::Done);
    EXPECT_EQ(platform_->FileReadAt(file, 118, buffer, 8, &done), TransferAt::Done);
    EXPECT_EQ(Bytes(buffer, buffer + done), (Bytes{0, 0, 'a', 'b', 'c'}));
    EXPECT_EQ(platform_->FileReadAt(file, 10, buffer, 2, &done), TransferAt::Done);
    EXPECT_EQ(Bytes(buffer, buffer + done), Bytes(pattern.begin() + 10, pattern.begin() + 12));
    EXPECT_EQ(platform_->FileReadAt(kNullFile, 0, buffer, 1, &done), TransferAt::SeekFailed);
    EXPECT_EQ(platform_->FileWriteAt(kInvalidFile, 0, buffer, 1, &done), TransferAt::SeekFailed);
    FileStamp asked = {}, given = {};
    bool stamped = false;
    ASSERT_TRUE(platform_->FileStampOf(file, &asked));
    const FileHandle again =
        platform_->FileOpenStamped(path.c_str(), kGenericRead, kOpenExisting, &given, &stamped);
    struct stat status = {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_TRUE(stamped && SameFileStamp(asked, given) && given.size == 123 &&
                given.device == status.st_dev && given.file == status.st_ino &&
                given.changeSeconds == status.st_ctim.tv_sec &&
                given.changeNanoseconds == status.st_ctim.tv_nsec);
    EXPECT_TRUE(platform_->FileClose(again) && platform_->FileClose(file));
    EXPECT_EQ(platform_->FileOpenStamped(temp_.File("none").c_str(), kGenericRead, kOpenExisting,
                                         &given, &stamped),
              kInvalidFile);
    EXPECT_FALSE(stamped);
}

// A move never replaces a file, on one file system and between two (where the
// file is copied); a failed move leaves both names as they were.
TEST_P(PlatformContract, DeleteAndMove) {
    const std::string from = temp_.File("from.rez"), to = temp_.File("to.rez");
    WriteWholeFile(from, {1, 2, 3});
    EXPECT_TRUE(Move(from, to));
    EXPECT_EQ(ListFolder(temp_.path()), std::vector<std::string>{"to.rez"});
    EXPECT_EQ(ReadWholeFile(to), (Bytes{1, 2, 3}));
    EXPECT_FALSE(Move(from, temp_.File("other.rez"))) << "a missing file";
    WriteWholeFile(from, {4, 5});
    EXPECT_FALSE(Move(from, to) || Move(from, from));
    EXPECT_EQ(ReadWholeFile(to), (Bytes{1, 2, 3}));
    EXPECT_TRUE(platform_->FileDelete(from.c_str()));
    EXPECT_FALSE(platform_->FileDelete(from.c_str()));
    EXPECT_FALSE(platform_->FileDelete(temp_.path().c_str())) << "a folder is no file to delete";
    EXPECT_EQ(ListFolder(temp_.path()), std::vector<std::string>{"to.rez"});

    const std::string other = OtherFileSystem();
    if (other.empty()) GTEST_SKIP() << "no second file system";
    TempDir away(other);
    const Bytes large = Pattern(200000);
    WriteWholeFile(from, large);
    WriteWholeFile(away.File("taken.rez"), {7});
    fs::create_directory(temp_.File("folder"));
    EXPECT_FALSE(Move(from, away.File("taken.rez")) ||
                 Move(temp_.File("missing.rez"), away.File("missing.rez")));
    EXPECT_FALSE(Move(temp_.File("folder"), away.File("folder")));
    EXPECT_EQ(ListFolder(away.path()), std::vector<std::string>{"taken.rez"});
    fs::permissions(from, fs::perms::owner_read | fs::perms::owner_exec);
    const auto descriptors = std::distance(fs::directory_iterator("/proc/self/fd"), {});
    EXPECT_TRUE(Move(from, away.File("moved.rez")));
    EXPECT_EQ(std::distance(fs::directory_iterator("/proc/self/fd"), {}), descriptors);
    EXPECT_EQ(ReadWholeFile(away.File("moved.rez")), large);
    EXPECT_EQ(fs::status(away.File("moved.rez")).permissions(),
              fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(ListFolder(temp_.path()), (std::vector<std::string>{"folder", "to.rez"}));
}

// '\\' separates like '/', and a drive letter names a file through the table.
TEST_P(PlatformContract, PathsTakeEitherSeparatorAndDriveLetters) {
    fs::create_directory(temp_.File("sub"));
    TempDir other;
    const std::string table = "q=cdrom=" + temp_.path() + ";R=fixed=" + other.path() +
                              ";E=cdrom=" + temp_.File("no-disc");
    ScopedEnvironment drives("SKELMORA_DRIVES", table.c_str());
    WriteWholeFile(temp_.File("sub/x.rez"), {1, 2, 3});
    for (const char *path : {"Q:\\sub\\x.rez", "q:/sub/x.rez"}) {
        const FileHandle handle = Open(path, kGenericRead, kOpenExisting);
        EXPECT_EQ(Read(handle, 10), (Bytes{1, 2, 3})) << path;
        EXPECT_TRUE(platform_->FileClose(handle));
    }
    EXPECT_TRUE(Move("Q:\\sub\\x.rez", "R:\\y.rez"));
    EXPECT_TRUE(platform_->FileDelete("r:\\y.rez"));
    EXPECT_TRUE(platform_->FileClose(Open("R:\\new.rez", kGenericReadWrite, kCreateNew)));
    EXPECT_EQ(ListFolder(other.path()), std::vector<std::string>{"new.rez"});
    // A letter not in the table names no file.
    EXPECT_EQ(Open("Z:\\x.rez", kGenericReadWrite, kCreateAlways), kInvalidFile);
    EXPECT_EQ(platform_->PathAttributes("Z:\\."), kPlatformFailure);
    EXPECT_FALSE(platform_->FileDelete("Z:\\new.rez") || Move("R:\\new.rez", "Z:\\y.rez"));
    EXPECT_EQ(ListFolder(other.path()), std::vector<std::string>{"new.rez"});

    // Free space of plain paths (a folder, a name not made yet, a relative name,
    // a name at the root) and of drive roots; a drive whose folder is missing has
    // no disc in it until the folder is there.
    uint64_t freeBytes = 0;
    for (const std::string &path :
         {temp_.path(), temp_.File("sub/not-yet.rez"), std::string("relative.rez"),
          std::string("/not-yet.rez"), std::string("Q:\\"), std::string("Q:\\x.rez")}) {
        freeBytes = 0;
        EXPECT_TRUE(platform_->DiskFreeBytes(path.c_str(), &freeBytes)) << path;
        EXPECT_GT(freeBytes, 0u) << path;
    }
    for (const std::string &path :
         {temp_.File("no-folder/x.rez"), std::string("Z:\\"), std::string("E:\\")})
        EXPECT_FALSE(platform_->DiskFreeBytes(path.c_str(), &freeBytes)) << path;
    EXPECT_FALSE(platform_->DiskFreeBytes(temp_.path().c_str(), nullptr));
    EXPECT_EQ(platform_->PathAttributes("E:\\."), kPlatformFailure);
    fs::create_directory(temp_.File("no-disc"));
    EXPECT_TRUE(platform_->DiskFreeBytes("E:\\", &freeBytes));
    // The table is read at every call.
    ScopedEnvironment more("SKELMORA_DRIVES", ("Z=fixed=" + other.path()).c_str());
    EXPECT_EQ(platform_->PathAttributes("Z:\\new.rez"), kAttributeNormal);
}

TEST_P(PlatformContract, CurrentFolderAndAttributes) {
    const std::string expected = fs::current_path().string();
    const uint32_t length = static_cast<uint32_t>(expected.size());
    std::vector<char> buffer(length + 2, 'X');
    // Too small a buffer (or none) stays as it was and the size needed comes back.
    EXPECT_EQ(
        platform_->CurrentFolder(nullptr, 0) + platform_->CurrentFolder(buffer.data(), length),
        2 * length + 2);
    EXPECT_EQ(buffer[0], 'X');
    EXPECT_EQ(platform_->CurrentFolder(buffer.data(), length + 1), length);
    EXPECT_EQ(std::string(buffer.data()) + buffer[length + 1], expected + 'X');

    const std::string file = temp_.File("x.rez");
    WriteWholeFile(file, {1});
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

// The move for file systems without a no-replace rename: a hard link for a
// file, a look and a rename for a folder.
TEST(PosixMove, WithoutTheKernelsNoReplaceRename) {
    TempDir temp;
    WriteWholeFile(temp.File("a"), {1});
    WriteWholeFile(temp.File("b"), {2});
    fs::create_directory(temp.File("folder"));
    EXPECT_FALSE(MoveNoReplaceByLink(temp.File("a"), temp.File("b")));
    EXPECT_FALSE(MoveNoReplaceByLink(temp.File("folder"), temp.File("b")));
    EXPECT_FALSE(MoveNoReplaceByLink(temp.File("missing"), temp.File("c")));
    EXPECT_TRUE(MoveNoReplaceByLink(temp.File("a"), temp.File("c")));
    EXPECT_TRUE(MoveNoReplaceByLink(temp.File("folder"), temp.File("d")));
    EXPECT_EQ(ListFolder(temp.path()), (std::vector<std::string>{"b", "c", "d"}));
    EXPECT_EQ(ReadWholeFile(temp.File("b")), Bytes{2});
    EXPECT_EQ(ReadWholeFile(temp.File("c")), Bytes{1});
}

// A read that gets part of what it asked for asks again for the rest, into the
// rest of the buffer: a pipe whose writer pauses between its two pieces.
TEST(PosixTransfer, APartialReadContinuesWhereItStopped) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::thread writer([&] {
        EXPECT_EQ(write(ends[1], "abcde", 5), 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(write(ends[1], "fghijklmno", 10), 10);
    });
    char buffer[16] = {};
    uint32_t done = 0;
    // A handle is the descriptor plus one.
    EXPECT_TRUE(DefaultPlatform()->FileRead(ends[0] + 1, buffer, 10, &done));
    writer.join();
    EXPECT_EQ(done, 10u);
    EXPECT_STREQ(buffer, "abcdefghij");
    close(ends[0]);
    close(ends[1]);
}

// SetPlatform swaps the backend that the free functions reach; a FaultPlatform
// installs itself and puts back the one it wrapped.
TEST(PlatformSeam, SetPlatformSwapsTheBackend) {
    PlatformWrapper wrapper(DefaultPlatform());
    EXPECT_EQ(SetPlatform(&wrapper), DefaultPlatform());
    {
        FaultPlatform fault;
        EXPECT_EQ(fault.target(), &wrapper);
        EXPECT_EQ(PlatformFileOpen("", kGenericRead, kOpenExisting), kInvalidFile);
        EXPECT_EQ(fault.Calls(PlatformOp::Open), 1u);
    }
    EXPECT_EQ(SetPlatform(nullptr), &wrapper);
    EXPECT_EQ(CurrentPlatform(), DefaultPlatform());
}

}  // namespace
