// Version resources: one signed 16-bit number at the start of a resource's
// data (little-endian), per item or per file. 150 stands for version 1.5, the
// version the update brings content to; anything lower is old content.
#pragma once

#include <cstdint>

// The version that the update stamps.
constexpr int16_t kCurrentVersion = 150;

// 130 when (versionType, id) is found, in the current file or a file opened
// before it, holding 150 or more; 0 otherwise. Ids below 128 count as missing.
int16_t CheckVersion(uint32_t versionType, int16_t id);
// 1 when the first item (the first resource of infoType in the current file)
// needs the update: it has no current version, or there is none. 0 otherwise.
int ItemNeedsUpdate(uint32_t infoType, uint32_t versionType);
// Writes value as the version of (versionType, id) in the current file, making a
// 2-byte unnamed resource when it has none. A status code; ids below 128 are
// refused with 24.
int16_t StampVersion(uint32_t versionType, int16_t id, int16_t value);
