// The platform seam. Every call the library makes to the operating system goes
// through the free functions at the bottom of this header, which forward to the
// backend that is current: the POSIX stand-ins, the Win32 calls, or a test
// wrapper that injects faults before forwarding.
#pragma once

#include <cstdint>

// An open file. kNullFile is "no file"; kInvalidFile (all bits set) is what a
// failed open returns, as on Windows.
using FileHandle = std::intptr_t;
constexpr FileHandle kNullFile = 0;
constexpr FileHandle kInvalidFile = -1;

// Dispositions, as the Windows file API numbers them.
constexpr uint32_t kCreateNew = 1;     // fails when the file exists
constexpr uint32_t kCreateAlways = 2;  // truncates an existing file
constexpr uint32_t kOpenExisting = 3;  // fails when the file is missing

// Access modes.
constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kGenericReadWrite = kGenericRead | kGenericWrite;

constexpr uint32_t kShareRead = 1;
constexpr uint32_t kAttributeNormal = 0x80;

// What a failed seek, size or attribute query returns.
constexpr uint32_t kPlatformFailure = 0xFFFFFFFFu;

// Kinds of call that a test wrapper can make fail.
enum class PlatformOp {
    Open,
    Read,
    Write,
    Seek,
    Close,
    Delete,
    Move,
    FreeSpace,
    Size,
    Truncate,
    Count
};

// A backend. Paths use '\' or '/' as separators; a path that starts with a drive
// letter and a colon names a file through the backend's drive table.
class Platform {
  public:
    virtual ~Platform() = default;

    // Opens or creates a file. Returns kInvalidFile on failure.
    virtual FileHandle FileOpen(const char *path, uint32_t access, uint32_t disposition) = 0;
    // Reads up to count bytes at the file position; *done receives the number read
    // (0 at the end of the file). False when the call itself failed.
    virtual bool FileRead(FileHandle file, void *buffer, uint32_t count, uint32_t *done) = 0;
    // Writes up to count bytes at the file position; *done receives the number written.
    virtual bool FileWrite(FileHandle file, const void *buffer, uint32_t count, uint32_t *done) = 0;
    // Moves the file position to offset from the start. Returns the new position,
    // or kPlatformFailure.
    virtual uint32_t FileSeek(FileHandle file, uint32_t offset) = 0;
    // The file's size in bytes, or kPlatformFailure (also for files of 4 GiB or more).
    virtual uint32_t FileSize(FileHandle file) = 0;
    // Cuts the file to size bytes (size is at most the file's size). The file
    // position is left undefined.
    virtual bool FileTruncate(FileHandle file, uint32_t size) = 0;
    // Closes the file. The handle is gone afterwards, whatever the result.
    virtual bool FileClose(FileHandle file) = 0;
    virtual bool FileDelete(const char *path) = 0;
    // Renames from to to; fails when to exists.
    virtual bool FileMove(const char *from, const char *to) = 0;
    // Free bytes of the drive that path names: a drive root such as "E:\" or, for a
    // plain POSIX path, the file system that holds it.
    virtual bool DiskFreeBytes(const char *path, uint64_t *freeBytes) = 0;
    // Copies the current folder with a terminating zero into buffer; returns its
    // length, or the size needed when buffer is too small, or 0 on failure.
    virtual uint32_t CurrentFolder(char *buffer, uint32_t size) = 0;
    // The attribute bits of a file or folder (0x10 for a folder), or kPlatformFailure
    // when there is none.
    virtual uint32_t PathAttributes(const char *path) = 0;
    // Shows a message box: text and caption are code page 932 strings, type the
    // Windows box type (buttons and icon), owner the owning window or null. The
    // answer: 1 for OK, 2 for Cancel. By default the backend's own box
    // (BackendMessageBox).
    virtual int32_t ShowMessageBox(void *owner, const char *text, const char *caption,
                                   uint32_t type);
};

// Forwards every call to a target backend; a test overrides what it needs.
class PlatformWrapper : public Platform {
  public:
    explicit PlatformWrapper(Platform *target) : target_(target) {}
    Platform *target() const { return target_; }

    FileHandle FileOpen(const char *path, uint32_t access, uint32_t disposition) override {
        return target_->FileOpen(path, access, disposition);
    }
    bool FileRead(FileHandle file, void *buffer, uint32_t count, uint32_t *done) override {
        return target_->FileRead(file, buffer, count, done);
    }
    bool FileWrite(FileHandle file, const void *buffer, uint32_t count, uint32_t *done) override {
        return target_->FileWrite(file, buffer, count, done);
    }
    uint32_t FileSeek(FileHandle file, uint32_t offset) override {
        return target_->FileSeek(file, offset);
    }
    uint32_t FileSize(FileHandle file) override { return target_->FileSize(file); }
    bool FileTruncate(FileHandle file, uint32_t size) override {
        return target_->FileTruncate(file, size);
    }
    bool FileClose(FileHandle file) override { return target_->FileClose(file); }
    bool FileDelete(const char *path) override { return target_->FileDelete(path); }
    bool FileMove(const char *from, const char *to) override { return target_->FileMove(from, to); }
    bool DiskFreeBytes(const char *path, uint64_t *freeBytes) override {
        return target_->DiskFreeBytes(path, freeBytes);
    }
    uint32_t CurrentFolder(char *buffer, uint32_t size) override {
        return target_->CurrentFolder(buffer, size);
    }
    uint32_t PathAttributes(const char *path) override { return target_->PathAttributes(path); }
    int32_t ShowMessageBox(void *owner, const char *text, const char *caption,
                           uint32_t type) override {
        return target_->ShowMessageBox(owner, text, caption, type);
    }

  private:
    Platform *target_;
};

// The message box of the backend built into this library.
int32_t BackendMessageBox(void *owner, const char *text, const char *caption, uint32_t type);

// The backend built into this library (POSIX stand-ins or Win32).
Platform *DefaultPlatform();
// The backend in use. Starts as DefaultPlatform().
Platform *CurrentPlatform();
// Makes platform the backend in use (null restores the default); returns the previous one.
Platform *SetPlatform(Platform *platform);

// The choke points that the rest of the library calls.
FileHandle PlatformFileOpen(const char *path, uint32_t access, uint32_t disposition);
bool PlatformFileRead(FileHandle file, void *buffer, uint32_t count, uint32_t *done);
bool PlatformFileWrite(FileHandle file, const void *buffer, uint32_t count, uint32_t *done);
uint32_t PlatformFileSeek(FileHandle file, uint32_t offset);
uint32_t PlatformFileSize(FileHandle file);
bool PlatformFileTruncate(FileHandle file, uint32_t size);
bool PlatformFileClose(FileHandle file);
bool PlatformFileDelete(const char *path);
bool PlatformFileMove(const char *from, const char *to);
bool PlatformDiskFreeBytes(const char *path, uint64_t *freeBytes);
uint32_t PlatformCurrentFolder(char *buffer, uint32_t size);
uint32_t PlatformPathAttributes(const char *path);
int32_t PlatformMessageBox(void *owner, const char *text, const char *caption, uint32_t type);
