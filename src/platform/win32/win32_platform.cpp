// The Win32 backend: each call of the seam is one call (or a short loop of
// calls) to the Windows API, with the seam's types turned into the system's.
// A file handle is the system's file handle; a palette handle, a device context
// and a window are the system's graphics objects, passed through as numbers or
// pointers. Failures show in the results only, as the seam promises.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "platform/stretch_bounds.h"

namespace {

// The rights of the registry key: reading its values (KEY_READ).
constexpr REGSAM kRegistryReadAccess = 0x20019;
// The most one ReadFile or WriteFile is asked to move.
constexpr uint32_t kLargestTransfer = 0x40000000u;
constexpr uint32_t kLargestPalette = 256;

static_assert(sizeof(PaletteEntry) == sizeof(PALETTEENTRY), "palette entries differ");
static_assert(sizeof(PlatformRect) == sizeof(RECT), "rectangles differ");

HANDLE SystemHandle(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

// kNullFile and kInvalidFile name no file; the system would take the latter for
// the pseudo-handle of the process itself.
bool NamesFile(FileHandle file) {
    return file != kNullFile && file != kInvalidFile;
}

HDC SystemDC(DeviceContext dc) {
    return static_cast<HDC>(dc);
}

HPALETTE SystemPalette(PaletteHandle palette) {
    return reinterpret_cast<HPALETTE>(palette);
}

// Moves count bytes between the file position and bytes, looping over partial
// transfers. A read stops early at the end of the file and succeeds; a write
// that makes no progress fails. *done (when given) receives the bytes moved.
bool Transfer(FileHandle file, uint8_t *bytes, uint32_t count, uint32_t *done, bool reading) {
    uint32_t ignored;
    uint32_t *moved = done != nullptr ? done : &ignored;
    *moved = 0;
    if (!NamesFile(file) || (count > 0 && bytes == nullptr)) return false;
    while (*moved < count) {
        const DWORD piece = std::min(count - *moved, kLargestTransfer);
        DWORD n = 0;
        const BOOL ok = reading ? ReadFile(SystemHandle(file), bytes + *moved, piece, &n, nullptr)
                                : WriteFile(SystemHandle(file), bytes + *moved, piece, &n, nullptr);
        if (!ok || (n == 0 && !reading)) return false;
        if (n == 0) break;  // the end of the file
        *moved += n;
    }
    return true;
}

// File times count 100-nanosecond ticks.
constexpr int64_t kTicksPerSecond = 10000000;
// The system clock that stamps changes advances in steps of about 16 ms.
constexpr int64_t kClockStepTicks = 200000;

// Whether a change time (in ticks) lies so far behind now that a later change
// cannot get the same time. The file system's granularity is not told: it is
// taken as the largest power of ten of ticks that divides the time (a whole
// second counts as two, as FAT keeps even seconds only).
bool ChangeTimeSettled(int64_t changed) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const int64_t nowTicks = int64_t((uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime);
    int64_t granularity = 1;
    while (granularity < kTicksPerSecond && changed % (granularity * 10) == 0)
        granularity *= 10;
    if (granularity == kTicksPerSecond) granularity *= 2;
    return nowTicks - changed >= granularity + kClockStepTicks;
}

class Win32Platform : public Platform {
  public:
    FileHandle FileOpen(const char *path, uint32_t access, uint32_t disposition) override {
        if (path == nullptr || (disposition != kCreateNew && disposition != kCreateAlways &&
                                disposition != kOpenExisting)) {
            return kInvalidFile;
        }
        const HANDLE file = CreateFileA(path, access, FILE_SHARE_READ, nullptr, disposition,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        return reinterpret_cast<FileHandle>(file);  // INVALID_HANDLE_VALUE is kInvalidFile
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
        LARGE_INTEGER distance, position;
        distance.QuadPart = offset;
        if (!NamesFile(file) ||
            !SetFilePointerEx(SystemHandle(file), distance, &position, FILE_BEGIN)) {
            return kPlatformFailure;
        }
        return static_cast<uint32_t>(position.QuadPart);
    }

    uint32_t FileSize(FileHandle file) override {
        LARGE_INTEGER size;
        if (!NamesFile(file) || !GetFileSizeEx(SystemHandle(file), &size)) return kPlatformFailure;
        // A size from kPlatformFailure up has no answer but the failure value.
        return static_cast<uint32_t>(std::min<LONGLONG>(size.QuadPart, kPlatformFailure));
    }

    // The volume's serial number and the file's index on it, its size, and the
    // time of its last change (of its data or its attributes; the last write
    // where the file system keeps no change time).
    bool FileStampOf(FileHandle file, FileStamp *stamp) override {
        BY_HANDLE_FILE_INFORMATION info;
        FILE_BASIC_INFO basic;
        if (!NamesFile(file) || stamp == nullptr ||
            !GetFileInformationByHandle(SystemHandle(file), &info) ||
            !GetFileInformationByHandleEx(SystemHandle(file), FileBasicInfo, &basic,
                                          sizeof basic)) {
            return false;
        }
        const int64_t changed = basic.ChangeTime.QuadPart != 0 ? basic.ChangeTime.QuadPart
                                                               : basic.LastWriteTime.QuadPart;
        stamp->device = info.dwVolumeSerialNumber;
        stamp->file = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
        stamp->size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
        stamp->changeSeconds = changed / kTicksPerSecond;
        stamp->changeNanoseconds = static_cast<uint32_t>(changed % kTicksPerSecond) * 100;
        // The clock is read after the file's state, so that a change made after
        // this call is stamped no earlier than the time compared here.
        stamp->settled = changed > 0 && ChangeTimeSettled(changed);
        return true;
    }

    bool FileTruncate(FileHandle file, uint32_t size) override {
        LARGE_INTEGER distance;
        distance.QuadPart = size;
        return NamesFile(file) &&
               SetFilePointerEx(SystemHandle(file), distance, nullptr, FILE_BEGIN) &&
               SetEndOfFile(SystemHandle(file));
    }

    bool FileClose(FileHandle file) override {
        return NamesFile(file) && CloseHandle(SystemHandle(file));
    }

    bool FileDelete(const char *path) override { return path != nullptr && DeleteFileA(path); }

    // MoveFileA never replaces a file that is there.
    bool FileMove(const char *from, const char *to) override {
        return from != nullptr && to != nullptr && MoveFileA(from, to);
    }

    bool DiskFreeBytes(const char *path, uint64_t *freeBytes) override {
        DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
        if (freeBytes == nullptr || path == nullptr ||
            !GetDiskFreeSpaceA(path, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                               &clusters)) {
            return false;
        }
        *freeBytes = uint64_t{freeClusters} * sectorsPerCluster * bytesPerSector;
        return true;
    }

    uint32_t CurrentFolder(char *buffer, uint32_t size) override {
        return GetCurrentDirectoryA(buffer != nullptr ? size : 0, buffer);
    }

    uint32_t PathAttributes(const char *path) override {
        // INVALID_FILE_ATTRIBUTES is kPlatformFailure.
        return path != nullptr ? GetFileAttributesA(path) : kPlatformFailure;
    }

    int32_t DeviceCapability(DeviceContext dc, int32_t index) override {
        return GetDeviceCaps(SystemDC(dc), index);
    }

    PaletteHandle PaletteCreate(const PaletteEntry *entries, uint32_t count) override {
        if (entries == nullptr || count == 0 || count > kLargestPalette) return kNoPalette;
        // A LOGPALETTE with room for the largest palette.
        struct {
            WORD version;
            WORD count;
            PALETTEENTRY entries[kLargestPalette];
        } logical{};
        logical.version = 0x300;
        logical.count = static_cast<WORD>(count);
        std::memcpy(logical.entries, entries, count * sizeof(PALETTEENTRY));
        return reinterpret_cast<PaletteHandle>(
            CreatePalette(reinterpret_cast<const LOGPALETTE *>(&logical)));
    }

    bool PaletteDelete(PaletteHandle palette) override {
        return palette != kNoPalette && DeleteObject(SystemPalette(palette));
    }

    uint32_t PaletteEntryCount(PaletteHandle palette) override {
        // The system writes the count as a 16-bit number into the zeroed buffer.
        uint32_t count = 0;
        if (palette == kNoPalette ||
            GetObjectA(SystemPalette(palette), sizeof count, &count) == 0) {
            return 0;
        }
        return count;
    }

    uint32_t PaletteNearestIndex(PaletteHandle palette, uint8_t red, uint8_t green,
                                 uint8_t blue) override {
        // CLR_INVALID is kPlatformFailure.
        return GetNearestPaletteIndex(SystemPalette(palette), RGB(red, green, blue));
    }

    uint32_t PaletteEntries(PaletteHandle palette, uint32_t first, uint32_t count,
                            PaletteEntry *entries) override {
        if (entries == nullptr) return 0;
        return GetPaletteEntries(SystemPalette(palette), first, count,
                                 reinterpret_cast<PALETTEENTRY *>(entries));
    }

    PaletteHandle PaletteSelect(DeviceContext dc, PaletteHandle palette, bool background) override {
        return reinterpret_cast<PaletteHandle>(
            SelectPalette(SystemDC(dc), SystemPalette(palette), background ? TRUE : FALSE));
    }

    uint32_t PaletteRealize(DeviceContext dc) override {
        // GDI_ERROR is kPlatformFailure.
        return RealizePalette(SystemDC(dc));
    }

    int32_t StretchModeSet(DeviceContext dc, int32_t mode) override {
        return SetStretchBltMode(SystemDC(dc), mode);
    }

    WindowHandle DeviceWindow(DeviceContext dc) override { return WindowFromDC(SystemDC(dc)); }

    bool WindowClientRect(WindowHandle window, PlatformRect *rect) override {
        RECT client;
        if (rect == nullptr || !GetClientRect(static_cast<HWND>(window), &client)) return false;
        *rect = PlatformRect{client.left, client.top, client.right, client.bottom};
        return true;
    }

    int32_t BitmapStretch(DeviceContext dc, const StretchRequest &r) override {
        // The system reads the bitmap as its headers say; refuse one that would
        // take it past the blocks it was given.
        if (!StretchRequestReadable(r)) return kStretchFailed;
        const int lines =
            StretchDIBits(SystemDC(dc), r.x, r.y, r.width, r.height, r.sourceX, r.sourceY,
                          r.sourceWidth, r.sourceHeight, r.bits,
                          reinterpret_cast<const BITMAPINFO *>(r.info), r.usage, r.rasterOperation);
        // GDI_ERROR (-1) is kStretchFailed; 0 lines is no failure.
        return lines == static_cast<int>(GDI_ERROR) ? kStretchFailed : lines;
    }

    bool GreyRectFill(DeviceContext dc, const PlatformRect &rect) override {
        const RECT area{rect.left, rect.top, rect.right, rect.bottom};
        return FillRect(SystemDC(dc), &area, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH))) != 0;
    }

    DeviceContext ScreenDeviceGet() override { return GetDC(nullptr); }

    void ScreenDeviceRelease(DeviceContext dc) override {
        if (dc != nullptr) ReleaseDC(nullptr, SystemDC(dc));
    }

    // A resource of type BITMAP in the library's own module (the program's, for
    // code linked into a program, whose module the system never handed over).
    bool ModuleBitmapFind(const char *name, const uint8_t **data, uint32_t *size) override {
        if (name == nullptr || data == nullptr || size == nullptr) return false;
        const HMODULE module = static_cast<HMODULE>(PlatformModule());
        const HRSRC found = FindResourceA(module, name, MAKEINTRESOURCEA(2));  // RT_BITMAP
        const HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
        const void *bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
        if (bytes == nullptr) return false;
        *data = static_cast<const uint8_t *>(bytes);
        *size = SizeofResource(module, found);
        return true;
    }

    bool RegistryString(const char *key, const char *name, char *buffer, uint32_t size) override {
        HKEY opened;
        if (buffer == nullptr || size == 0 ||
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, kRegistryReadAccess, &opened) !=
                ERROR_SUCCESS) {
            return false;
        }
        DWORD type = 0;
        DWORD bytes = size;
        const LONG result = RegQueryValueExA(opened, name, nullptr, &type,
                                             reinterpret_cast<BYTE *>(buffer), &bytes);
        RegCloseKey(opened);
        if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
        // A string stored without its terminator gets one, when there is room.
        if (bytes > 0 && buffer[bytes - 1] == '\0') return true;
        if (bytes >= size) return false;
        buffer[bytes] = '\0';
        return true;
    }

    uint32_t LogicalDrives() override { return GetLogicalDrives(); }

    uint32_t DriveType(const char *root) override {
        return root != nullptr ? GetDriveTypeA(root) : kDriveNoRootDir;
    }

    uint32_t ErrorModeSet(uint32_t mode) override { return SetErrorMode(mode); }

    void CursorSet(int32_t id) override {
        SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(static_cast<WORD>(id))));
    }

    MutexHandle MutexCreate(const char *name, bool *existed) override {
        const HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
        // The system says ERROR_ALREADY_EXISTS (183) when it opened a mutex that was there.
        const bool there = mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
        if (existed != nullptr) *existed = there;
        return reinterpret_cast<MutexHandle>(mutex);
    }

    void MutexClose(MutexHandle mutex) override {
        if (mutex != kNoMutex) CloseHandle(reinterpret_cast<HANDLE>(mutex));
    }
};

}  // namespace

Platform *DefaultPlatform() {
    static Win32Platform platform;
    return &platform;
}
