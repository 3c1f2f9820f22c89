#include "interface/kept_copy.h"

#include "platform/platform.h"
#include "resources/temporary_files.h"
#include "support/file_io.h"

bool KeepCopy(const char *path, char *copyPath, uint32_t capacity) {
    if (!TemporaryPathFor(path, kKeptCopyName, copyPath, capacity)) return false;
    const FileHandle source = OpenFileForAccess(path, kOpenExisting, kGenericRead);
    if (source == kInvalidFile) return false;
    const uint32_t size = PlatformFileSize(source);
    const FileHandle copy = size == kPlatformFailure
                                ? kInvalidFile
                                : OpenFileForAccess(copyPath, kCreateNew, kGenericReadWrite);
    const bool ok = copy != kInvalidFile && CopyBetweenFiles(source, 0, copy, 0, size) == 1;
    CloseFileHandle(source);
    CloseFileHandle(copy);
    if (!ok && copy != kInvalidFile) PlatformFileDelete(copyPath);
    return ok;
}

bool RestoreKeptCopy(const char *path, const char *copyPath) {
    return PlatformFileDelete(path) && PlatformFileMove(copyPath, path);
}
