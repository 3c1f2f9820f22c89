#include "platform/platform.h"

// DefaultPlatform() is defined by the backend that the build links in
// (posix/posix_platform.cpp or win32/).

namespace {

// The backend set with SetPlatform; null means the default one.
Platform *g_current = nullptr;

}  // namespace

int32_t Platform::ShowMessageBox(void *owner, const char *text, const char *caption,
                                 uint32_t type) {
    return BackendMessageBox(owner, text, caption, type);
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
    return CurrentPlatform()->FileOpen(path, access, disposition);
}

bool PlatformFileRead(FileHandle file, void *buffer, uint32_t count, uint32_t *done) {
    return CurrentPlatform()->FileRead(file, buffer, count, done);
}

bool PlatformFileWrite(FileHandle file, const void *buffer, uint32_t count, uint32_t *done) {
    return CurrentPlatform()->FileWrite(file, buffer, count, done);
}

uint32_t PlatformFileSeek(FileHandle file, uint32_t offset) {
    return CurrentPlatform()->FileSeek(file, offset);
}

uint32_t PlatformFileSize(FileHandle file) {
    return CurrentPlatform()->FileSize(file);
}

bool PlatformFileTruncate(FileHandle file, uint32_t size) {
    return CurrentPlatform()->FileTruncate(file, size);
}

bool PlatformFileClose(FileHandle file) {
    return CurrentPlatform()->FileClose(file);
}

bool PlatformFileDelete(const char *path) {
    return CurrentPlatform()->FileDelete(path);
}

bool PlatformFileMove(const char *from, const char *to) {
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

int32_t PlatformMessageBox(void *owner, const char *text, const char *caption, uint32_t type) {
    return CurrentPlatform()->ShowMessageBox(owner, text, caption, type);
}
