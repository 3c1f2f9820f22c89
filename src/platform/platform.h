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

// What tells one state of a file from another: the file's identity (its device
// and its number there), its size and the time of its last change. settled says
// that the change time lies far enough in the past, by the clock the file system
// stamps changes with and at the granularity it keeps, that any later change of
// the file must give it another change time. Only then does an equal stamp
// prove that a file has not changed.
struct FileStamp {
    uint64_t device;
    uint64_t file;
    uint64_t size;
    int64_t changeSeconds;
    uint32_t changeNanoseconds;
    bool settled;
};

inline bool SameFileStamp(const FileStamp &a, const FileStamp &b) {
    return a.device == b.device && a.file == b.file && a.size == b.size &&
           a.changeSeconds == b.changeSeconds && a.changeNanoseconds == b.changeNanoseconds;
}

// How a read or write at an offset ended: done (perhaps short, as *done says),
// failed to reach the offset, or failed in the transfer itself.
enum class TransferAt { Done, SeekFailed, Failed };

// Graphics. A device context and a window are the backend's own objects, passed
// through untouched; a palette is a number that the backend hands out, and
// kNoPalette is "no palette".
using DeviceContext = void *;
using WindowHandle = void *;
using PaletteHandle = std::intptr_t;
constexpr PaletteHandle kNoPalette = 0;

// One palette entry, as the Windows graphics calls lay it out.
struct PaletteEntry {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
    uint8_t flags;
};
// The flag that keeps an entry from being matched to an existing colour.
constexpr uint8_t kPaletteNoCollapse = 4;

struct PlatformRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// The device capability index of the raster capabilities, and its bit that says
// the device can transfer bit blocks.
constexpr int32_t kRasterCapabilities = 38;
constexpr int32_t kRasterCanBitBlt = 1;
// Stretch mode: eliminated rows and columns are dropped, without blending.
constexpr int32_t kStretchColourOnColour = 3;
// Raster operation: copy the source.
constexpr uint32_t kSourceCopy = 0xCC0020u;
// Colour table use: entries are red-green-blue colours.
constexpr uint32_t kRgbColours = 0;
// What a failed stretch returns.
constexpr int32_t kStretchFailed = -1;

// A stretch of a device-independent bitmap onto a destination rectangle. info
// holds the bitmap information header and the colour table, bits the pixel rows;
// the sizes say how many bytes may be read at each, and a bitmap that needs more
// is refused.
struct StretchRequest {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
    int32_t sourceX;
    int32_t sourceY;
    int32_t sourceWidth;
    int32_t sourceHeight;
    const uint8_t *bits;
    uint32_t bitsSize;
    const uint8_t *info;
    uint32_t infoSize;
    uint32_t usage;
    uint32_t rasterOperation;
};

// Drive types, as the Windows API numbers them.
constexpr uint32_t kDriveNoRootDir = 1;  // no such drive
constexpr uint32_t kDriveRemovable = 2;
constexpr uint32_t kDriveFixed = 3;
constexpr uint32_t kDriveRemote = 4;
constexpr uint32_t kDriveCdrom = 5;
constexpr uint32_t kDriveRamdisk = 6;

// The critical-error mode that keeps the system from asking for a disk itself.
constexpr uint32_t kFailCriticalErrors = 1;

// System cursors.
constexpr int32_t kArrowCursor = 32512;
constexpr int32_t kWaitCursor = 32514;

// A named mutex; kNoMutex is "none".
using MutexHandle = std::intptr_t;
constexpr MutexHandle kNoMutex = 0;

// Graphics calls that a test wrapper can make fail.
enum class GraphicsOp { Bitmap, Palette, StretchMode, ClientRect, Stretch, Count };

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
    // Reads or writes as FileRead and FileWrite do, at offset from the start; the
    // file position is left undefined. By default a seek and then the transfer,
    // through the calls above; a backend that does both in one call overrides
    // them, a wrapper need not.
    virtual TransferAt FileReadAt(FileHandle file, uint32_t offset, void *buffer, uint32_t count,
                                  uint32_t *done);
    virtual TransferAt FileWriteAt(FileHandle file, uint32_t offset, const void *buffer,
                                   uint32_t count, uint32_t *done);
    // Opens a file as FileOpen does and gives its stamp with it; *stamped is false
    // when the stamp cannot be had (the file is open all the same). By default
    // FileOpen and then FileStampOf.
    virtual FileHandle FileOpenStamped(const char *path, uint32_t access, uint32_t disposition,
                                       FileStamp *stamp, bool *stamped);
    // The file's size in bytes, or kPlatformFailure (also for files of 4 GiB or more).
    virtual uint32_t FileSize(FileHandle file) = 0;
    // The stamp of an open file. False when the platform cannot tell.
    virtual bool FileStampOf(FileHandle file, FileStamp *stamp) = 0;
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

    // Graphics.
    // A device capability (kRasterCapabilities is the one used); 0 when unknown.
    virtual int32_t DeviceCapability(DeviceContext dc, int32_t index) = 0;
    // A logical palette of count entries (1 to 256); kNoPalette on failure.
    virtual PaletteHandle PaletteCreate(const PaletteEntry *entries, uint32_t count) = 0;
    virtual bool PaletteDelete(PaletteHandle palette) = 0;
    // The number of entries of a palette; 0 for one that does not exist.
    virtual uint32_t PaletteEntryCount(PaletteHandle palette) = 0;
    // The index of the entry nearest to a colour, or kPlatformFailure.
    virtual uint32_t PaletteNearestIndex(PaletteHandle palette, uint8_t red, uint8_t green,
                                         uint8_t blue) = 0;
    // Copies count entries from first on; returns the number copied (0 on failure).
    virtual uint32_t PaletteEntries(PaletteHandle palette, uint32_t first, uint32_t count,
                                    PaletteEntry *entries) = 0;
    // Selects a palette into a device context; the previous one, or kNoPalette.
    virtual PaletteHandle PaletteSelect(DeviceContext dc, PaletteHandle palette,
                                        bool background) = 0;
    // Realizes the selected palette; the number of entries mapped, or kPlatformFailure.
    virtual uint32_t PaletteRealize(DeviceContext dc) = 0;
    // Sets the stretch mode; the previous mode, or 0 on failure.
    virtual int32_t StretchModeSet(DeviceContext dc, int32_t mode) = 0;
    // The window that a device context draws into; null when there is none.
    virtual WindowHandle DeviceWindow(DeviceContext dc) = 0;
    virtual bool WindowClientRect(WindowHandle window, PlatformRect *rect) = 0;
    // Stretches a bitmap; the number of lines drawn, or kStretchFailed.
    virtual int32_t BitmapStretch(DeviceContext dc, const StretchRequest &request) = 0;
    // Fills a rectangle with the grey stock brush.
    virtual bool GreyRectFill(DeviceContext dc, const PlatformRect &rect) = 0;
    // The screen's device context (null on failure), and giving it back.
    virtual DeviceContext ScreenDeviceGet() = 0;
    virtual void ScreenDeviceRelease(DeviceContext dc) = 0;
    // A bitmap resource of the library's own module, without the file header: its
    // bytes stay valid for the life of the library. False when there is none.
    virtual bool ModuleBitmapFind(const char *name, const uint8_t **data, uint32_t *size) = 0;
    // Shows a message box: text and caption are code page 932 strings, type the
    // Windows box type (buttons and icon), owner the owning window or null. The
    // answer: 1 for OK, 2 for Cancel. By default the backend's own box
    // (BackendMessageBox).
    virtual int32_t ShowMessageBox(void *owner, const char *text, const char *caption,
                                   uint32_t type);

    // The system around the library.
    // Copies the string value name of key (under the local machine's root) into
    // buffer with a terminating zero. False when the key cannot be opened or the
    // value cannot be read, or it does not fit in size bytes.
    virtual bool RegistryString(const char *key, const char *name, char *buffer, uint32_t size) = 0;
    // Bit 0 for drive A, bit 1 for B, ... set for every drive that exists.
    virtual uint32_t LogicalDrives() = 0;
    // The type of the drive whose root ("e:\") is given; kDriveNoRootDir for none.
    virtual uint32_t DriveType(const char *root) = 0;
    // Sets the critical-error mode; returns the previous one.
    virtual uint32_t ErrorModeSet(uint32_t mode) = 0;
    // Shows a system cursor (kArrowCursor, kWaitCursor).
    virtual void CursorSet(int32_t id) = 0;
    // Creates the named mutex, owned by the caller, or opens it when it exists;
    // *existed tells which. kNoMutex when neither can be done.
    virtual MutexHandle MutexCreate(const char *name, bool *existed) = 0;
    // Closes a mutex handle (kNoMutex is ignored).
    virtual void MutexClose(MutexHandle mutex) = 0;
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
    bool FileStampOf(FileHandle file, FileStamp *stamp) override {
        return target_->FileStampOf(file, stamp);
    }
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
    bool RegistryString(const char *key, const char *name, char *buffer, uint32_t size) override {
        return target_->RegistryString(key, name, buffer, size);
    }
    uint32_t LogicalDrives() override { return target_->LogicalDrives(); }
    uint32_t DriveType(const char *root) override { return target_->DriveType(root); }
    uint32_t ErrorModeSet(uint32_t mode) override { return target_->ErrorModeSet(mode); }
    void CursorSet(int32_t id) override { target_->CursorSet(id); }
    MutexHandle MutexCreate(const char *name, bool *existed) override {
        return target_->MutexCreate(name, existed);
    }
    void MutexClose(MutexHandle mutex) override { target_->MutexClose(mutex); }

    int32_t DeviceCapability(DeviceContext dc, int32_t index) override {
        return target_->DeviceCapability(dc, index);
    }
    PaletteHandle PaletteCreate(const PaletteEntry *entries, uint32_t count) override {
        return target_->PaletteCreate(entries, count);
    }
    bool PaletteDelete(PaletteHandle palette) override { return target_->PaletteDelete(palette); }
    uint32_t PaletteEntryCount(PaletteHandle palette) override {
        return target_->PaletteEntryCount(palette);
    }
    uint32_t PaletteNearestIndex(PaletteHandle palette, uint8_t red, uint8_t green,
                                 uint8_t blue) override {
        return target_->PaletteNearestIndex(palette, red, green, blue);
    }
    uint32_t PaletteEntries(PaletteHandle palette, uint32_t first, uint32_t count,
                            PaletteEntry *entries) override {
        return target_->PaletteEntries(palette, first, count, entries);
    }
    PaletteHandle PaletteSelect(DeviceContext dc, PaletteHandle palette, bool background) override {
        return target_->PaletteSelect(dc, palette, background);
    }
    uint32_t PaletteRealize(DeviceContext dc) override { return target_->PaletteRealize(dc); }
    int32_t StretchModeSet(DeviceContext dc, int32_t mode) override {
        return target_->StretchModeSet(dc, mode);
    }
    WindowHandle DeviceWindow(DeviceContext dc) override { return target_->DeviceWindow(dc); }
    bool WindowClientRect(WindowHandle window, PlatformRect *rect) override {
        return target_->WindowClientRect(window, rect);
    }
    int32_t BitmapStretch(DeviceContext dc, const StretchRequest &request) override {
        return target_->BitmapStretch(dc, request);
    }
    bool GreyRectFill(DeviceContext dc, const PlatformRect &rect) override {
        return target_->GreyRectFill(dc, rect);
    }
    DeviceContext ScreenDeviceGet() override { return target_->ScreenDeviceGet(); }
    void ScreenDeviceRelease(DeviceContext dc) override { target_->ScreenDeviceRelease(dc); }
    bool ModuleBitmapFind(const char *name, const uint8_t **data, uint32_t *size) override {
        return target_->ModuleBitmapFind(name, data, size);
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
TransferAt PlatformFileReadAt(FileHandle file, uint32_t offset, void *buffer, uint32_t count,
                              uint32_t *done);
TransferAt PlatformFileWriteAt(FileHandle file, uint32_t offset, const void *buffer, uint32_t count,
                               uint32_t *done);
FileHandle PlatformFileOpenStamped(const char *path, uint32_t access, uint32_t disposition,
                                   FileStamp *stamp, bool *stamped);
uint32_t PlatformFileSize(FileHandle file);
bool PlatformFileStamp(FileHandle file, FileStamp *stamp);
// Counts every call through these choke points that may change a file: opens
// with write access, writes, truncations, deletions and moves. A file read while
// this count stays the same was not changed by this process in between.
uint64_t PlatformChangeCount();
bool PlatformFileTruncate(FileHandle file, uint32_t size);
bool PlatformFileClose(FileHandle file);
bool PlatformFileDelete(const char *path);
bool PlatformFileMove(const char *from, const char *to);
bool PlatformDiskFreeBytes(const char *path, uint64_t *freeBytes);
uint32_t PlatformCurrentFolder(char *buffer, uint32_t size);
uint32_t PlatformPathAttributes(const char *path);

int32_t PlatformDeviceCapability(DeviceContext dc, int32_t index);
PaletteHandle PlatformPaletteCreate(const PaletteEntry *entries, uint32_t count);
bool PlatformPaletteDelete(PaletteHandle palette);
uint32_t PlatformPaletteEntryCount(PaletteHandle palette);
uint32_t PlatformPaletteNearestIndex(PaletteHandle palette, uint8_t red, uint8_t green,
                                     uint8_t blue);
uint32_t PlatformPaletteEntries(PaletteHandle palette, uint32_t first, uint32_t count,
                                PaletteEntry *entries);
PaletteHandle PlatformPaletteSelect(DeviceContext dc, PaletteHandle palette, bool background);
uint32_t PlatformPaletteRealize(DeviceContext dc);
int32_t PlatformStretchModeSet(DeviceContext dc, int32_t mode);
WindowHandle PlatformDeviceWindow(DeviceContext dc);
bool PlatformWindowClientRect(WindowHandle window, PlatformRect *rect);
int32_t PlatformBitmapStretch(DeviceContext dc, const StretchRequest &request);
bool PlatformGreyRectFill(DeviceContext dc, const PlatformRect &rect);
DeviceContext PlatformScreenDeviceGet();
void PlatformScreenDeviceRelease(DeviceContext dc);
bool PlatformModuleBitmapFind(const char *name, const uint8_t **data, uint32_t *size);

// The bitmap resources compiled into the library, for backends whose modules
// carry no resources of their own. Defined where the bitmaps are kept.
struct BuiltInBitmap {
    const char *name;
    const uint8_t *data;
    uint32_t size;
};
const BuiltInBitmap *BuiltInBitmaps(uint32_t *count);
int32_t PlatformMessageBox(void *owner, const char *text, const char *caption, uint32_t type);
bool PlatformRegistryString(const char *key, const char *name, char *buffer, uint32_t size);
uint32_t PlatformLogicalDrives();
uint32_t PlatformDriveType(const char *root);
uint32_t PlatformErrorModeSet(uint32_t mode);
void PlatformCursorSet(int32_t id);
MutexHandle PlatformMutexCreate(const char *name, bool *existed);
void PlatformMutexClose(MutexHandle mutex);

// The library's own module, as the system handed it over when it loaded the
// library; backends find the module's resources through it. Null until then.
void PlatformSetModule(void *module);
void *PlatformModule();
