// The POSIX backend: the stand-ins for the Windows calls, over plain POSIX files.
// Paths go through the drive table first (posix/drive_table.h). A handle is the
// file descriptor plus one, so that kNullFile (0) never names an open file.
#include "platform/platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/posix/drive_table.h"
#include "platform/posix/software_graphics.h"

namespace {

constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeDirectory = 0x10;

// The most that one read or write system call is asked to move, well below
// SSIZE_MAX everywhere.
constexpr uint32_t kLargestTransfer = 0x40000000u;

// The descriptor of a handle, or -1 for kNullFile, kInvalidFile and anything
// that cannot be one.
int DescriptorOf(FileHandle file) {
    if (file <= 0 || file - 1 > INT_MAX) return -1;
    return static_cast<int>(file - 1);
}

// Translates path through the drive table; a path that names no file fails
// with ENOENT.
bool NativePath(const char *path, std::string *out) {
    if (!TranslatePath(path, out) || out->empty()) {
        errno = ENOENT;
        return false;
    }
    return true;
}

int CloseKeepingErrno(int fd) {
    const int saved = errno;
    const int result = close(fd);
    errno = saved;
    return result;
}

// Writes all of count bytes; false on an error or a write that makes no progress.
bool WriteAll(int fd, const uint8_t *bytes, size_t count) {
    while (count > 0) {
        const size_t piece = count < kLargestTransfer ? count : kLargestTransfer;
        const ssize_t n = write(fd, bytes, piece);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

// Moves a regular file to another file system, as MoveFileA does: copies it to a
// new file (which must not exist yet), then removes the source. On failure the
// partial copy is removed and the source stays.
bool CopyAcrossFileSystems(const std::string &from, const std::string &to, mode_t mode) {
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 07777);
    if (out < 0) {
        CloseKeepingErrno(in);
        return false;
    }
    bool ok = true;
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (n == 0) break;
        if (!WriteAll(out, buffer, static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    if (close(out) != 0) ok = false;
    CloseKeepingErrno(in);
    if (ok && unlink(from.c_str()) != 0) ok = false;
    if (!ok) {
        const int saved = errno;
        unlink(to.c_str());
        errno = saved;
    }
    return ok;
}

// Renames from to to, failing with EEXIST when to exists. Uses the kernel's
// no-replace rename where the file system has it, then a hard link (which cannot
// replace either), and only where neither works a check before the rename.
bool MoveNoReplace(const std::string &from, const std::string &to) {
#if defined(__GLIBC__) && defined(RENAME_NOREPLACE)
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    // EINVAL and ENOSYS: the kernel or the file system lacks the flag.
    if (errno != EINVAL && errno != ENOSYS && errno != EXDEV) return false;
#endif
    struct stat source;
    if (lstat(from.c_str(), &source) != 0) return false;
    if (S_ISREG(source.st_mode)) {
        if (link(from.c_str(), to.c_str()) == 0) {
            if (unlink(from.c_str()) == 0) return true;
            // Keep the file under one name only: the old one.
            const int saved = errno;
            unlink(to.c_str());
            errno = saved;
            return false;
        }
        if (errno == EXDEV) return CopyAcrossFileSystems(from, to, source.st_mode);
        // Other errors mean that the file system has no hard links (or that they
        // are not allowed here); fall through to the check.
        if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != ENOSYS &&
            errno != EMLINK) {
            return false;
        }
    }
    struct stat target;
    if (lstat(to.c_str(), &target) == 0) {
        errno = EEXIST;
        return false;
    }
    if (errno != ENOENT) return false;
    if (rename(from.c_str(), to.c_str()) == 0) return true;
    if (errno == EXDEV && S_ISREG(source.st_mode)) {
        return CopyAcrossFileSystems(from, to, source.st_mode);
    }
    return false;
}

// Moves count bytes between the file position and bytes, looping over partial
// transfers and interruptions. A read stops early at the end of the file and
// succeeds; a write that makes no progress fails (the disk is full or the file
// cannot grow). *done (when given) receives the bytes moved.
bool Transfer(FileHandle file, uint8_t *bytes, uint32_t count, uint32_t *done, bool reading) {
    uint32_t ignored = 0;
    uint32_t *moved = done != nullptr ? done : &ignored;
    *moved = 0;
    const int fd = DescriptorOf(file);
    if (fd < 0) {
        errno = EBADF;
        return false;
    }
    if (count > 0 && bytes == nullptr) {
        errno = EFAULT;
        return false;
    }
    while (*moved < count) {
        const uint32_t left = count - *moved;
        const size_t piece = left < kLargestTransfer ? left : kLargestTransfer;
        const ssize_t n =
            reading ? read(fd, bytes + *moved, piece) : write(fd, bytes + *moved, piece);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0 && reading) break;  // the end of the file
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        *moved += static_cast<uint32_t>(n);
    }
    return true;
}

class PosixPlatform : public SoftwareGraphics {
  public:
    FileHandle FileOpen(const char *path, uint32_t access, uint32_t disposition) override {
        std::string native;
        if (!NativePath(path, &native)) return kInvalidFile;

        int flags = O_CLOEXEC;
        const bool reads = (access & kGenericRead) != 0;
        const bool writes = (access & kGenericWrite) != 0;
        if (reads && writes) {
            flags |= O_RDWR;
        } else if (writes) {
            flags |= O_WRONLY;
        } else {
            flags |= O_RDONLY;
        }
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
                errno = EINVAL;
                return kInvalidFile;
        }

        int fd;
        do {
            fd = open(native.c_str(), flags, 0644);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) return kInvalidFile;

        // A folder opens for reading on POSIX, but is no file to the system.
        struct stat status;
        if (fstat(fd, &status) != 0) {
            CloseKeepingErrno(fd);
            return kInvalidFile;
        }
        if (S_ISDIR(status.st_mode)) {
            close(fd);
            errno = EISDIR;
            return kInvalidFile;
        }
        return static_cast<FileHandle>(fd) + 1;
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
        if (fd < 0) {
            errno = EBADF;
            return kPlatformFailure;
        }
        const off_t position = lseek(fd, static_cast<off_t>(offset), SEEK_SET);
        if (position < 0 || static_cast<uint64_t>(position) > kPlatformFailure) {
            return kPlatformFailure;
        }
        return static_cast<uint32_t>(position);
    }

    uint32_t FileSize(FileHandle file) override {
        const int fd = DescriptorOf(file);
        if (fd < 0) {
            errno = EBADF;
            return kPlatformFailure;
        }
        struct stat status;
        if (fstat(fd, &status) != 0) return kPlatformFailure;
        if (status.st_size < 0 || static_cast<uint64_t>(status.st_size) >= kPlatformFailure) {
            errno = EOVERFLOW;
            return kPlatformFailure;
        }
        return static_cast<uint32_t>(status.st_size);
    }

    bool FileTruncate(FileHandle file, uint32_t size) override {
        const int fd = DescriptorOf(file);
        if (fd < 0) {
            errno = EBADF;
            return false;
        }
        int result;
        do {
            result = ftruncate(fd, static_cast<off_t>(size));
        } while (result != 0 && errno == EINTR);
        return result == 0;
    }

    bool FileClose(FileHandle file) override {
        const int fd = DescriptorOf(file);
        if (fd < 0) {
            errno = EBADF;
            return false;
        }
        // Not retried on EINTR: Linux has released the descriptor by then.
        return close(fd) == 0;
    }

    bool FileDelete(const char *path) override {
        std::string native;
        if (!NativePath(path, &native)) return false;
        return unlink(native.c_str()) == 0;
    }

    bool FileMove(const char *from, const char *to) override {
        std::string source, target;
        if (!NativePath(from, &source) || !NativePath(to, &target)) return false;
        return MoveNoReplace(source, target);
    }

    bool DiskFreeBytes(const char *path, uint64_t *freeBytes) override {
        if (freeBytes == nullptr) return false;
        std::string native;
        if (!NativePath(path, &native)) return false;
        // A folder answers for itself; anything else (a file, or a name not made
        // yet) for the folder that holds it.
        std::string folder = native;
        struct stat status;
        if (stat(native.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
            const size_t separator = native.find_last_of('/');
            if (separator == std::string::npos) {
                folder = ".";
            } else if (separator == 0) {
                folder = "/";
            } else {
                folder = native.substr(0, separator);
            }
        }
        struct statvfs volume;
        int result;
        do {
            result = statvfs(folder.c_str(), &volume);
        } while (result != 0 && errno == EINTR);
        if (result != 0) return false;
        *freeBytes =
            static_cast<uint64_t>(volume.f_bavail) * static_cast<uint64_t>(volume.f_frsize);
        return true;
    }

    uint32_t CurrentFolder(char *buffer, uint32_t size) override {
        std::string folder(256, '\0');
        while (getcwd(folder.data(), folder.size()) == nullptr) {
            if (errno != ERANGE || folder.size() >= (1u << 20)) return 0;
            folder.resize(folder.size() * 2);
        }
        const size_t length = std::strlen(folder.c_str());
        if (length >= kPlatformFailure) return 0;
        if (buffer == nullptr || size <= length) return static_cast<uint32_t>(length + 1);
        std::memcpy(buffer, folder.c_str(), length + 1);
        return static_cast<uint32_t>(length);
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
};

}  // namespace

Platform *DefaultPlatform() {
    static PosixPlatform platform;
    return &platform;
}
