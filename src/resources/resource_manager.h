// The Resource Manager: resource files open at once in a chain, each named by a
// 16-bit reference number, one of them current; finding, loading, adding,
// removing and writing resources; writing files back.
//
// An open file holds no operating-system file: opening reads the file's map into
// a map block and closes the file, and every later operation that needs the disk
// opens the file by its path again and closes it before returning.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "resources/handles.h"

// ResourceError codes.
constexpr int16_t kResourceOk = 0;
constexpr int16_t kDiskFull = -34;           // no room on the disk, or a write failed
constexpr int16_t kCannotCreate = -48;       // the file cannot be created
constexpr int16_t kResourceNotFound = -192;  // missing, or its data cannot be loaded
constexpr int16_t kFileNotUsable = -193;     // not found, not open, not a resource file
constexpr int16_t kCannotAdd = -194;         // cannot add, or no room to mark changed
constexpr int16_t kCannotRemove = -196;
constexpr int16_t kChangedNotDetached = -198;

// What OpenResourceFile returns on failure; never a valid reference number.
constexpr uint16_t kNoFile = 65535;
// What CreateResourceFile and StartResourceManager return on failure.
constexpr int16_t kGenericFailure = 4001;

// Life of the Resource Manager.
int16_t StartResourceManager();
void StopResourceManager();

// Open files. Paths are Str255 values.
uint16_t OpenResourceFile(const uint8_t *path);
int16_t CreateResourceFile(const uint8_t *path);
void CloseResourceFile(uint16_t refNum);
uint16_t CurrentResourceFile();
void UseResourceFile(uint16_t refNum);
// The code of the last operation; reading it resets it to 0.
int16_t ResourceError();
void SetResourceLoad(int32_t flag);

// The info block of a file on disk, by zero-terminated path.
int SetConversionPending(const char *path, int32_t on);
int ConversionPending(const char *path);
// The flag as ConversionPending reads it, but false when the info block cannot
// be read, which ConversionPending reports as a flag that is not set.
bool ReadConversionPending(const char *path, bool *pending);
uint32_t ResourceFileKind(const char *path);

// Brings a file to layout 1500 (converting older layouts); 1 when it is usable.
int PrepareResourceFile(const char *path);

// Access.
Handle GetResource(uint32_t type, int16_t id);
Handle GetOneResource(uint32_t type, int16_t id);
Handle GetNamedResource(uint32_t type, const uint8_t *name);
Handle GetIndexedResource(uint32_t type, int16_t index);
Handle GetOneIndexedResource(uint32_t type, int16_t index);
int16_t CountResources(uint32_t type);
uint16_t CountOneResources(uint32_t type);
void GetResourceInfo(Handle h, int16_t *id, uint32_t *type, uint8_t *name);
int32_t HomeResourceFile(Handle h);
void ReleaseResource(Handle h);
void DetachResource(Handle h);
// Disposes of the Handles that the file's map holds, changes not yet written
// included, for a caller that let go of everything it loaded from the file (no
// one else may hold them). Nothing for an unknown file.
void DisposeLoadedResources(uint16_t refNum);
// Closes the file as CloseResourceFile does (its changes written back first),
// then disposes of the Handles its map held: for a caller that holds none of
// them, as nobody can store or find them once the file is closed.
void CloseResourceFileDisposing(uint16_t refNum);
int16_t UniqueResourceId(uint32_t type);
Handle GetStringResource(int16_t id);
// Copies the index-th string (from 1; 0 also gives the first) of the 'STR#'
// resource id into buffer as a length byte, the characters and a zero; an empty
// string when there is none. buffer holds at least 257 bytes.
uint8_t *GetIndexedString(uint8_t *buffer, int16_t id, int16_t index);

// Editing.
void AddResource(Handle h, uint32_t type, int16_t id, const uint8_t *name);
void RemoveResource(Handle h);
void MarkResourceChanged(Handle h);

// Writing.
void WriteResource(Handle h);
void UpdateResourceFile(uint16_t refNum);
void SetResourceCompaction(int32_t mode);

// Write-back of a whole file: 1 when the file on disk matches the map block.
// map is the map block of a file in the open files chain and path its path.
int WriteBackResourceFile(uint8_t *map, const char *path);
bool RewriteNeeded(const char *path);
int GetFreeDiskSpace(const char *path, uint64_t *freeBytes);
int GetOpenFileSize(FileHandle file, uint32_t *size);
