// The POSIX backend: the stand-ins for the Windows calls, over plain POSIX files.
// Paths go through the drive table first (posix/drive_table.h). A handle is the
// file descriptor plus one, so that kNullFile (0) never names an open file. A
// failure shows in the result only, as the seam promises; errno means nothing
// to the callers.
#include "platform/platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/drive_table.h"
#include "platform/posix/move_file.h"
#include "platform/posix/software_graphics.h"
#include "platform/posix/system_stand_ins.h"

namespace {

constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeDirectory = 0x10;

// The most that one read or write system call is asked to move, well below
// SSIZE_MAX everywhere.
constexpr uint32_t kLargestTransfer = 0x40000000u;

// Calls f again for as long as a signal interrupts it.
template <typename Call>
auto Retrying(Call f) {
    decltype(f()) result;
    do {
        result = f();
    } while (result == -1 && errno == EINTR);
    return result;
}

// The descriptor of a handle, or -1 for kNullFile, kInvalidFile and anything
// else that is no descriptor plus one.
int DescriptorOf(FileHandle file) {
    const int fd = static_cast<int>(file - 1);
    return file >= 1 && fd == file - 1 ? fd : -1;
}

FileHandle HandleOf(int fd) {
    return static_cast<FileHandle>(fd) + 1;
}

// Translates path through the drive table; false for a path that names no file.
bool NativePath(const char *path, std::string *out) {
    return TranslatePath(path, out) && !out->empty();
}

// Where a transfer at the file position has no offset of its own.
constexpr int64_t kFilePosition = -1;

// Moves count bytes between the file, at offset (or at the file position), and
// bytes, looping over partial transfers and interruptions. A read stops early
// at the end of the file and succeeds; a write that makes no progress fails
// (the disk is full or the file cannot grow). *done (when given) receives the
// bytes moved.
bool Transfer(FileHandle file, uint8_t *bytes, uint32_t count, uint32_t *done, bool reading,
              int64_t offset = kFilePosition) {
    uint32_t ignored;
    uint32_t *moved = done != nullptr ? done : &ignored;
    *moved = 0;
    const int fd = DescriptorOf(file);  // -1, which the system refuses, for no file
    if (count > 0 && bytes == nullptr) return false;
    while (*moved < count) {
        const size_t piece = std::min(count - *moved, kLargestTransfer);
        const ssize_t n = Retrying([&]() -> ssize_t {
            uint8_t *at = bytes + *moved;
            if (offset == kFilePosition)
                return reading ? read(fd, at, piece) : write(fd, at, piece);
            const off_t where = static_cast<off_t>(offset + *moved);
            return reading ? pread(fd, at, piece, where) : pwrite(fd, at, piece, where);
        });
        if (n < 0 || (n == 0 && !reading)) return false;
        if (n == 0) break;  // the end of the file
        *moved += static_cast<uint32_t>(n);
    }
    return true;
}

// Whether a change time lies so far behind now that a later change cannot get
// the same time. The kernel stamps changes from its coarse clock, cut to the
// file system's granularity, which is not told: it is taken as the largest
// power of ten of nanoseconds that divides the time (a whole second counts as
// two, as some file systems keep even seconds only).
bool ChangeTimeSettled(const struct timespec &changed) {
    struct timespec now;
#ifdef CLOCK_REALTIME_COARSE
    if (clock_gettime(CLOCK_REALTIME_COARSE, &now) != 0) return false;
    int64_t margin = 0;
#else
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
    int64_t margin = 20000000;  // the clock that stamps changes may lag the fine one
#endif
    int64_t granularity = 1;
    while (granularity < 1000000000 && changed.tv_nsec % (granularity * 10) == 0)
        granularity *= 10;
    if (granularity == 1000000000) granularity *= 2;
    const int64_t changedAt = int64_t{changed.tv_sec} * 1000000000 + changed.tv_nsec;
    const int64_t nowAt = int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
    return nowAt - changedAt >= granularity + margin;
}

// A positioned transfer that failed: the failure of a seek when the descriptor
// cannot be positioned at all, else of the transfer.
TransferAt FailedAt(FileHandle file) {
    const int fd = DescriptorOf(file);
    return fd < 0 || lseek(fd, 0, SEEK_CUR) < 0 ? TransferAt::SeekFailed : TransferAt::Failed;
}

void StampFrom(const struct stat &status, FileStamp *stamp) {
    stamp->device = static_cast<uint64_t>(status.st_dev);
    stamp->file = static_cast<uint64_t>(status.st_ino);
    stamp->size = static_cast<uint64_t>(status.st_size);
    stamp->changeSeconds = static_cast<int64_t>(status.st_ctim.tv_sec);
    stamp->changeNanoseconds = static_cast<uint32_t>(status.st_ctim.tv_nsec);
    // The clock is read after the file's state, so that a change made after
    // the query is stamped no earlier than the time compared here.
    stamp->settled = ChangeTimeSettled(status.st_ctim);
}

}  // namespace

bool CopyAcrossFileSystems(const std::string &from, const std::string &to) {
    const int in = Retrying([&] { return open(from.c_str(), O_RDONLY | O_CLOEXEC); });
    struct stat source;
    if (in < 0) return false;
    if (fstat(in, &source) != 0 || !S_ISREG(source.st_mode)) {
        close(in);
        return false;
    }
    const int out = Retrying([&] {
        return open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, source.st_mode & 07777);
    });
    bool ok = out >= 0;
    uint8_t buffer[65536];
    // A read that fills less than the buffer has met the end of the file.
    for (uint32_t n = sizeof buffer; ok && n == sizeof buffer;) {
        ok = Transfer(HandleOf(in), buffer, sizeof buffer, &n, true) &&
             Transfer(HandleOf(out), buffer, n, nullptr, false);
    }
    if (out >= 0 && close(out) != 0) ok = false;
    close(in);
    if (ok && unlink(from.c_str()) == 0) return true;
    if (out >= 0) unlink(to.c_str());
    return false;
}

bool MoveNoReplace(const std::string &from, const std::string &to) {
#if defined(__GLIBC__) && defined(RENAME_NOREPLACE)
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno == EXDEV) return CopyAcrossFileSystems(from, to);
    // EINVAL and ENOSYS: the kernel or the file system lacks the flag.
    if (errno != EINVAL && errno != ENOSYS) return false;
#endif
    return MoveNoReplaceByLink(from, to);
}

bool MoveNoReplaceByLink(const std::string &from, const std::string &to) {
    struct stat target;
    if (lstat(to.c_str(), &target) == 0 || errno != ENOENT) return false;
    if (link(from.c_str(), to.c_str()) == 0) {
        if (unlink(from.c_str()) == 0) return true;
        unlink(to.c_str());  // keep the file under one name only: the old one
        return false;
    }
    // These mean that the file system has no hard links (or not for this file, a
    // folder); then the look above is all that keeps an existing file.
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != ENOSYS &&
        errno != EMLINK) {
        return false;
    }
    return rename(from.c_str(), to.c_str()) == 0;
}

namespace {

class PosixPlatform : public SoftwareGraphics {
  public:
    FileHandle FileOpen(const char *path, uint32_t access, uint32_t disposition) override {
        return OpenWithStatus(path, access, disposition, nullptr);
    }

    // The status that the open takes anyway to refuse a folder gives the stamp.
    FileHandle FileOpenStamped(const char *path, uint32_t access, uint32_t disposition,
                               FileStamp *stamp, bool *stamped) override {
        struct stat status;
        const FileHandle file = OpenWithStatus(path, access, disposition, &status);
        *stamped = file != kInvalidFile && stamp != nullptr;
        if (*stamped) StampFrom(status, stamp);
        return file;
    }

    TransferAt FileReadAt(FileHandle file, uint32_t offset, void *buffer, uint32_t count,
                          uint32_t *done) override {
        return Transfer(file, static_cast<uint8_t *>(buffer), count, done, true, offset)
                   ? TransferAt::Done
                   : FailedAt(file);
    }

    TransferAt FileWriteAt(FileHandle file, uint32_t offset, const void *buffer, uint32_t count,
                           uint32_t *done) override {
        auto *bytes = static_cast<uint8_t *>(const_cast<void *>(buffer));
        return Transfer(file, bytes, count, done, false, offset) ? TransferAt::Done
                                                                 : FailedAt(file);
    }

    // Opens path; *status (when asked for) receives the open file's status.
    static FileHandle OpenWithStatus(const char *path, uint32_t access, uint32_t disposition,
                                     struct stat *status) {
        std::string native;
        if (!NativePath(path, &native)) return kInvalidFile;

        // Access without the write flag opens for reading.
        const bool writes = (access & kGenericWrite) != 0;
        int flags = O_CLOEXEC | (!writes ? O_RDONLY : (access & kGenericRead) ? O_RDWR : O_WRONLY);
        switch (disposition) {
            case kCreateNew:
                flags |= O_CREAT | O_EXCL;
                break;
            case kCreateAlways:
                flags |= O_CREAT | O_TRUNC;
                break;
            case kOpenExisting:
                break;
            default:
                return kInvalidFile;
        }
        const int fd = Retrying([&] { return open(native.c_str(), flags, 0644); });
        if (fd < 0) return kInvalidFile;
        // A folder opens for reading on POSIX, but is no file to the system.
        struct stat own;
        if (status == nullptr) status = &own;
        if (fstat(fd, status) != 0 || S_ISDIR(status->st_mode)) {
            close(fd);
            return kInvalidFile;
        }
        return HandleOf(fd);
    }

    bool FileRead(FileHandle file, void *buffer, uint32_t count, uint32_t *done) override {
        return Transfer(file, static_cast<uint8_t *>(buffer), count, done, true);
    }

    bool FileWrite(FileHandle file, const void *buffer, uint32_t count, uint32_t *done) override {
        // The bytes are only read from; Transfer takes one pointer type for both ways.
        auto *bytes = static_cast<uint8_t *>(const_cast<void *>(buffer));
        return Transfer(file, bytes, count, done, false);
    }

    uint32_t FileSeek(FileHandle file, uint32_t offset) override {
        const int fd = DescriptorOf(file);
        const off_t position = fd < 0 ? -1 : lseek(fd, static_cast<off_t>(offset), SEEK_SET);
        return position < 0 ? kPlatformFailure : static_cast<uint32_t>(position);
    }

    uint32_t FileSize(FileHandle file) override {
        const int fd = DescriptorOf(file);
        struct stat status;
        if (fd < 0 || fstat(fd, &status) != 0) return kPlatformFailure;
        // A size from kPlatformFailure up has no answer but the failure value.
        return static_cast<uint32_t>(std::min<uint64_t>(status.st_size, kPlatformFailure));
    }

    bool FileStampOf(FileHandle file, FileStamp *stamp) override {
        const int fd = DescriptorOf(file);
        struct stat status;
        if (fd < 0 || stamp == nullptr || fstat(fd, &status) != 0) return false;
        StampFrom(status, stamp);
        return true;
    }

    bool FileTruncate(FileHandle file, uint32_t size) override {
        const int fd = DescriptorOf(file);
        return fd >= 0 && Retrying([&] { return ftruncate(fd, static_cast<off_t>(size)); }) == 0;
    }

    bool FileClose(FileHandle file) override {
        const int fd = DescriptorOf(file);
        // Not retried on EINTR: Linux has released the descriptor by then.
        return fd >= 0 && close(fd) == 0;
    }

    bool FileDelete(const char *path) override {
        std::string native;
        return NativePath(path, &native) && unlink(native.c_str()) == 0;
    }

    bool FileMove(const char *from, const char *to) override {
        std::string source, target;
        return NativePath(from, &source) && NativePath(to, &target) &&
               MoveNoReplace(source, target);
    }

    bool DiskFreeBytes(const char *path, uint64_t *freeBytes) override {
        std::string native;
        if (freeBytes == nullptr || !NativePath(path, &native)) return false;
        // A folder answers for itself; anything else (a file, or a name not made
        // yet) for the folder that holds it.
        std::string folder = native;
        struct stat status;
        if (stat(native.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
            const size_t separator = native.find_last_of('/');
            if (separator == std::string::npos) {
                folder = ".";
            } else {
                folder = native.substr(0, separator == 0 ? 1 : separator);
            }
        }
        struct statvfs volume;
        if (Retrying([&] { return statvfs(folder.c_str(), &volume); }) != 0) return false;
        *freeBytes =
            static_cast<uint64_t>(volume.f_bavail) * static_cast<uint64_t>(volume.f_frsize);
        return true;
    }

    uint32_t CurrentFolder(char *buffer, uint32_t size) override {
        // With no buffer, getcwd allocates one as long as the path needs.
        char *folder = getcwd(nullptr, 0);
        if (folder == nullptr) return 0;
        const size_t length = std::strlen(folder);
        const bool fits = buffer != nullptr && size > length;
        if (fits) std::memcpy(buffer, folder, length + 1);
        std::free(folder);
        return static_cast<uint32_t>(fits ? length : length + 1);
    }

    uint32_t PathAttributes(const char *path) override {
        std::string native;
        if (!NativePath(path, &native)) return kPlatformFailure;
        struct stat status;
        if (stat(native.c_str(), &status) != 0) return kPlatformFailure;
        if (S_ISDIR(status.st_mode)) return kAttributeDirectory;
        uint32_t attributes = kAttributeNormal;
        // Read-only when we may not write it, or when nobody may (the mode bits
        // speak even for a user whom access() always lets write).
        if (access(native.c_str(), W_OK) != 0 ||
            (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            attributes |= kAttributeReadOnly;
        }
        return attributes;
    }

    bool RegistryString(const char *, const char *name, char *buffer, uint32_t size) override {
        return PosixRegistryString(name, buffer, size);
    }
    uint32_t LogicalDrives() override { return LogicalDriveMask(); }
    uint32_t DriveType(const char *root) override { return PosixDriveType(root); }
    // There are no system boxes asking for a disk; the mode is only remembered.
    uint32_t ErrorModeSet(uint32_t mode) override {
        const uint32_t previous = errorMode_;
        errorMode_ = mode;
        return previous;
    }
    void CursorSet(int32_t id) override { PosixCursorSet(id); }
    MutexHandle MutexCreate(const char *name, bool *existed) override {
        return PosixMutexCreate(name, existed);
    }
    void MutexClose(MutexHandle mutex) override { PosixMutexClose(mutex); }

  private:
    uint32_t errorMode_ = 0;
};

}  // namespace

Platform *DefaultPlatform() {
    static PosixPlatform platform;
    return &platform;
}
