#include "support/file_io.h"

#include <algorithm>

#include "support/memory_pool.h"
#include "support/report_error.h"

namespace {

bool IsNullFile(FileHandle file) {
    return file == kNullFile || file == kInvalidFile;
}

// Reports code and gives the failure result.
int Fail(int32_t code, uint32_t detail) {
    ReportError(code, static_cast<int32_t>(detail));
    return 0;
}

}  // namespace

FileHandle OpenFileForAccess(const char *path, uint32_t disposition, uint32_t access) {
    if (path == nullptr) return kInvalidFile;
    return PlatformFileOpen(path, access, disposition);
}

void CloseFileHandle(FileHandle file) {
    if (IsNullFile(file)) return;
    PlatformFileClose(file);
}

int ReadExactly(FileHandle file, void *buffer, uint32_t count) {
    if (IsNullFile(file) || buffer == nullptr || count == 0) return Fail(kErrorBadArgument, count);
    uint32_t done = 0;
    if (!PlatformFileRead(file, buffer, count, &done) || done != count) {
        return Fail(kErrorRead, count);
    }
    return 1;
}

int WriteExactly(FileHandle file, const void *buffer, uint32_t count) {
    if (IsNullFile(file) || buffer == nullptr || count == 0) return Fail(kErrorBadArgument, count);
    uint32_t done = 0;
    if (!PlatformFileWrite(file, buffer, count, &done) || done != count) {
        return Fail(kErrorWrite, count);
    }
    return 1;
}

int SeekFile(FileHandle file, uint32_t offset) {
    if (IsNullFile(file)) return Fail(kErrorBadArgument, offset);
    if (PlatformFileSeek(file, offset) == kPlatformFailure) return Fail(kErrorSeek, offset);
    return 1;
}

FileHandle OpenFileStamped(const char *path, uint32_t disposition, uint32_t access,
                           FileStamp *stamp, bool *stamped) {
    *stamped = false;
    if (path == nullptr) return kInvalidFile;
    return PlatformFileOpenStamped(path, access, disposition, stamp, stamped);
}

namespace {

// The result of a transfer at an offset, reported as a seek and then a read or
// write would be.
int TransferResult(TransferAt result, uint32_t offset, uint32_t count, uint32_t done,
                   int32_t failure) {
    if (result == TransferAt::SeekFailed) return Fail(kErrorSeek, offset);
    if (result != TransferAt::Done || done != count) return Fail(failure, count);
    return 1;
}

}  // namespace

int ReadAt(FileHandle file, void *buffer, uint32_t offset, uint32_t count) {
    if (IsNullFile(file)) return Fail(kErrorBadArgument, offset);
    if (buffer == nullptr || count == 0) return Fail(kErrorBadArgument, count);
    uint32_t done = 0;
    TransferAt result = PlatformFileReadAt(file, offset, buffer, count, &done);
    return TransferResult(result, offset, count, done, kErrorRead);
}

int WriteAt(FileHandle file, const void *buffer, uint32_t offset, uint32_t count) {
    if (IsNullFile(file)) return Fail(kErrorBadArgument, offset);
    if (buffer == nullptr || count == 0) return Fail(kErrorBadArgument, count);
    uint32_t done = 0;
    TransferAt result = PlatformFileWriteAt(file, offset, buffer, count, &done);
    return TransferResult(result, offset, count, done, kErrorWrite);
}

int CopyBetweenFiles(FileHandle source, uint32_t sourceOffset, FileHandle destination,
                     uint32_t destinationOffset, uint32_t count) {
    if (IsNullFile(source) || IsNullFile(destination) || count == 0) {
        return Fail(kErrorBadArgument, count);
    }
    uint32_t remaining = count;
    // One buffer serves every chunk, so a copy of any size needs at most
    // kCopyChunk bytes; without it nothing is copied.
    void *buffer = MemoryPoolAllocate(std::min(count, kCopyChunk));
    if (buffer != nullptr) {
        while (remaining > 0) {
            const uint32_t chunk = std::min(remaining, kCopyChunk);
            if (!ReadAt(source, buffer, sourceOffset, chunk)) break;
            if (!WriteAt(destination, buffer, destinationOffset, chunk)) break;
            sourceOffset += chunk;
            destinationOffset += chunk;
            remaining -= chunk;
        }
        MemoryPoolFree(buffer);
    }
    if (remaining > 0) return Fail(kErrorCopy, remaining);
    return 1;
}
