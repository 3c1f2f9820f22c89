// Whole-transfer file operations over the platform seam. Each returns 1 on
// success; on failure it calls ReportError with the code named and returns 0.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Opens path; kInvalidFile on failure (nothing is reported).
FileHandle OpenFileForAccess(const char *path, uint32_t disposition, uint32_t access);
// Opens path as OpenFileForAccess does and gives the file's stamp with it;
// *stamped is false when the stamp cannot be had.
FileHandle OpenFileStamped(const char *path, uint32_t disposition, uint32_t access,
                           FileStamp *stamp, bool *stamped);
// Closes file unless it is kNullFile or kInvalidFile.
void CloseFileHandle(FileHandle file);

// A "null file" below is kNullFile or kInvalidFile.

// Reads exactly count bytes at the file position. 6: null file, null buffer or
// count 0 (the platform is not called); 7: failed or short read.
int ReadExactly(FileHandle file, void *buffer, uint32_t count);
// Writes exactly count bytes. 6 as above; 3: failed or short write.
int WriteExactly(FileHandle file, const void *buffer, uint32_t count);
// Moves to offset from the start. 6: null file; 2: the platform failed.
int SeekFile(FileHandle file, uint32_t offset);
// Reads or writes exactly count bytes at offset, as a seek and then ReadExactly
// or WriteExactly would, with their codes; the file position is undefined after.
int ReadAt(FileHandle file, void *buffer, uint32_t offset, uint32_t count);
int WriteAt(FileHandle file, const void *buffer, uint32_t offset, uint32_t count);

// The largest piece a copy between files moves at once.
constexpr uint32_t kCopyChunk = 100000;
// Copies count bytes from source at sourceOffset to destination at
// destinationOffset through one pool buffer of min(count, kCopyChunk) bytes.
// 6: null file or count 0; 4: not every byte was copied.
int CopyBetweenFiles(FileHandle source, uint32_t sourceOffset, FileHandle destination,
                     uint32_t destinationOffset, uint32_t count);
