#include "platform/platform.h"

// DefaultPlatform() is defined by the backend that the build links in
// (posix/posix_platform.cpp or win32/).

namespace {

// The backend set with SetPlatform; null means the default one.
Platform *g_current = nullptr;
void *g_module = nullptr;

uint64_t g_changes = 0;

}  // namespace

int32_t Platform::ShowMessageBox(void *owner, const char *text, const char *caption,
                                 uint32_t type) {
    return BackendMessageBox(owner, text, caption, type);
}

TransferAt Platform::FileReadAt(FileHandle file, uint32_t offset, void *buffer, uint32_t count,
                                uint32_t *done) {
    if (FileSeek(file, offset) == kPlatformFailure) return TransferAt::SeekFailed;
    return FileRead(file, buffer, count, done) ? TransferAt::Done : TransferAt::Failed;
}

TransferAt Platform::FileWriteAt(FileHandle file, uint32_t offset, const void *buffer,
                                 uint32_t count, uint32_t *done) {
    if (FileSeek(file, offset) == kPlatformFailure) return TransferAt::SeekFailed;
    return FileWrite(file, buffer, count, done) ? TransferAt::Done : TransferAt::Failed;
}

FileHandle Platform::FileOpenStamped(const char *path, uint32_t access, uint32_t disposition,
                                     FileStamp *stamp, bool *stamped) {
    FileHandle file = FileOpen(path, access, disposition);
    *stamped = file != kInvalidFile && FileStampOf(file, stamp);
    return file;
}

Platform *CurrentPlatform() {
    return g_current != nullptr ? g_current : DefaultPlatform();
}

Platform *SetPlatform(Platform *platform) {
    Platform *previous = CurrentPlatform();
    g_current = platform;
    return previous;
}

FileHandle PlatformFileOpen(const char *path, uint32_t access, uint32_t disposition) {
    if ((access & kGenericWrite) != 0 || disposition != kOpenExisting) ++g_changes;
    return CurrentPlatform()->FileOpen(path, access, disposition);
}

FileHandle PlatformFileOpenStamped(const char *path, uint32_t access, uint32_t disposition,
                                   FileStamp *stamp, bool *stamped) {
    if ((access & kGenericWrite) != 0 || disposition != kOpenExisting) ++g_changes;
    return CurrentPlatform()->FileOpenStamped(path, access, disposition, stamp, stamped);
}

bool PlatformFileRead(FileHandle file, void *buffer, uint32_t count, uint32_t *done) {
    return CurrentPlatform()->FileRead(file, buffer, count, done);
}

bool PlatformFileWrite(FileHandle file, const void *buffer, uint32_t count, uint32_t *done) {
    ++g_changes;
    return CurrentPlatform()->FileWrite(file, buffer, count, done);
}

uint32_t PlatformFileSeek(FileHandle file, uint32_t offset) {
    return CurrentPlatform()->FileSeek(file, offset);
}

TransferAt PlatformFileReadAt(FileHandle file, uint32_t offset, void *buffer, uint32_t count,
                              uint32_t *done) {
    return CurrentPlatform()->FileReadAt(file, offset, buffer, count, done);
}

TransferAt PlatformFileWriteAt(FileHandle file, uint32_t offset, const void *buffer, uint32_t count,
                               uint32_t *done) {
    ++g_changes;
    return CurrentPlatform()->FileWriteAt(file, offset, buffer, count, done);
}

uint32_t PlatformFileSize(FileHandle file) {
    return CurrentPlatform()->FileSize(file);
}

bool PlatformFileStamp(FileHandle file, FileStamp *stamp) {
    return CurrentPlatform()->FileStampOf(file, stamp);
}

uint64_t PlatformChangeCount() {
    return g_changes;
}

bool PlatformFileTruncate(FileHandle file, uint32_t size) {
    ++g_changes;
    return CurrentPlatform()->FileTruncate(file, size);
}

bool PlatformFileClose(FileHandle file) {
    return CurrentPlatform()->FileClose(file);
}

bool PlatformFileDelete(const char *path) {
    ++g_changes;
    return CurrentPlatform()->FileDelete(path);
}

bool PlatformFileMove(const char *from, const char *to) {
    ++g_changes;
    return CurrentPlatform()->FileMove(from, to);
}

bool PlatformDiskFreeBytes(const char *path, uint64_t *freeBytes) {
    return CurrentPlatform()->DiskFreeBytes(path, freeBytes);
}

uint32_t PlatformCurrentFolder(char *buffer, uint32_t size) {
    return CurrentPlatform()->CurrentFolder(buffer, size);
}

uint32_t PlatformPathAttributes(const char *path) {
    return CurrentPlatform()->PathAttributes(path);
}

int32_t PlatformDeviceCapability(DeviceContext dc, int32_t index) {
    return CurrentPlatform()->DeviceCapability(dc, index);
}

PaletteHandle PlatformPaletteCreate(const PaletteEntry *entries, uint32_t count) {
    return CurrentPlatform()->PaletteCreate(entries, count);
}

bool PlatformPaletteDelete(PaletteHandle palette) {
    return CurrentPlatform()->PaletteDelete(palette);
}

uint32_t PlatformPaletteEntryCount(PaletteHandle palette) {
    return CurrentPlatform()->PaletteEntryCount(palette);
}

uint32_t PlatformPaletteNearestIndex(PaletteHandle palette, uint8_t red, uint8_t green,
                                     uint8_t blue) {
    return CurrentPlatform()->PaletteNearestIndex(palette, red, green, blue);
}

uint32_t PlatformPaletteEntries(PaletteHandle palette, uint32_t first, uint32_t count,
                                PaletteEntry *entries) {
    return CurrentPlatform()->PaletteEntries(palette, first, count, entries);
}

PaletteHandle PlatformPaletteSelect(DeviceContext dc, PaletteHandle palette, bool background) {
    return CurrentPlatform()->PaletteSelect(dc, palette, background);
}

uint32_t PlatformPaletteRealize(DeviceContext dc) {
    return CurrentPlatform()->PaletteRealize(dc);
}

int32_t PlatformStretchModeSet(DeviceContext dc, int32_t mode) {
    return CurrentPlatform()->StretchModeSet(dc, mode);
}

WindowHandle PlatformDeviceWindow(DeviceContext dc) {
    return CurrentPlatform()->DeviceWindow(dc);
}

bool PlatformWindowClientRect(WindowHandle window, PlatformRect *rect) {
    return CurrentPlatform()->WindowClientRect(window, rect);
}

int32_t PlatformBitmapStretch(DeviceContext dc, const StretchRequest &request) {
    return CurrentPlatform()->BitmapStretch(dc, request);
}

bool PlatformGreyRectFill(DeviceContext dc, const PlatformRect &rect) {
    return CurrentPlatform()->GreyRectFill(dc, rect);
}

DeviceContext PlatformScreenDeviceGet() {
    return CurrentPlatform()->ScreenDeviceGet();
}

void PlatformScreenDeviceRelease(DeviceContext dc) {
    CurrentPlatform()->ScreenDeviceRelease(dc);
}

bool PlatformModuleBitmapFind(const char *name, const uint8_t **data, uint32_t *size) {
    return CurrentPlatform()->ModuleBitmapFind(name, data, size);
}

int32_t PlatformMessageBox(void *owner, const char *text, const char *caption, uint32_t type) {
    return CurrentPlatform()->ShowMessageBox(owner, text, caption, type);
}

bool PlatformRegistryString(const char *key, const char *name, char *buffer, uint32_t size) {
    return CurrentPlatform()->RegistryString(key, name, buffer, size);
}

uint32_t PlatformLogicalDrives() {
    return CurrentPlatform()->LogicalDrives();
}

uint32_t PlatformDriveType(const char *root) {
    return CurrentPlatform()->DriveType(root);
}

uint32_t PlatformErrorModeSet(uint32_t mode) {
    return CurrentPlatform()->ErrorModeSet(mode);
}

void PlatformCursorSet(int32_t id) {
    CurrentPlatform()->CursorSet(id);
}

MutexHandle PlatformMutexCreate(const char *name, bool *existed) {
    return CurrentPlatform()->MutexCreate(name, existed);
}

void PlatformMutexClose(MutexHandle mutex) {
    CurrentPlatform()->MutexClose(mutex);
}

void PlatformSetModule(void *module) {
    g_module = module;
}

void *PlatformModule() {
    return g_module;
}
