// The fixed parts of a resource file: the 16-byte file header, the 240-byte info
// block and the recognition of the three layouts. doc/format.md describes the
// bytes.
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr uint32_t kFileHeaderSize = 16;
constexpr uint32_t kDataAreaOffset = 256;  // the only data offset a file may have
constexpr uint32_t kInfoBlockOffset = 16;
constexpr uint32_t kInfoBlockSize = 240;

// Fields of the info block, counted from its start (file offset 16).
constexpr uint32_t kInfoKind = 0;
constexpr uint32_t kInfoVersion = 4;
constexpr uint32_t kInfoValues = 8;  // four 16-bit values: 1, 2, 1, 0 or 65535
constexpr uint32_t kInfoDeadBytes = 16;
constexpr uint32_t kInfoConversionPending = 20;

// Format versions that recognition reports.
constexpr int32_t kLayoutOldest = 1000;
constexpr int32_t kLayoutVersion2 = 1100;
constexpr int32_t kLayoutCurrent = 1500;

// The text at the start of the info area of a layout-1100 file (25 characters).
extern const char kVersion2Signature[];
constexpr uint32_t kVersion2SignatureLength = 25;

// The kind code of a file created empty or not classified.
constexpr uint32_t kKindUnclassified = 0x58585858;  // XXXX

struct FileHeader {
    uint32_t dataOffset;
    uint32_t mapOffset;
    uint32_t dataLength;
    uint32_t mapLength;
};

void DecodeFileHeader(const uint8_t *bytes, FileHeader *header);
void EncodeFileHeader(const FileHeader &header, uint8_t *bytes);

// Reads the 16 bytes at offset 0.
bool ReadFileHeader(FileHandle file, FileHeader *header);
// True when the file header can be read, its data offset is 256, and the 16 bytes
// at its map offset can be read and equal it.
bool CheckFileHeader(FileHandle file);
// Recognises the layout from the info area: 1500 when the version field says so,
// 1100 when the layout-1100 text is there, else 1000. False when the 240 bytes at
// offset 16 cannot be read.
bool ReadFormatVersion(FileHandle file, int32_t *version);
// The layout that an info area of 240 bytes names.
int32_t FormatVersionOfInfo(const uint8_t *info);

// Reads the map of an open file of any layout, as raw bytes, into a new block
// from NewPointer; *header receives the file header. Null unless the header
// names data at 256, a map of at least minLength bytes that begins behind the
// data area and ends inside the file, and the map's first 16 bytes repeat the
// header; null also when there is no memory. fileSize is the file's size when
// the caller knows it (kPlatformFailure: ask the platform).
uint8_t *ReadRawMap(FileHandle file, uint32_t minLength, FileHeader *header,
                    uint32_t fileSize = kPlatformFailure);

bool ReadInfoBlock(FileHandle file, uint8_t *info);
bool WriteInfoBlock(FileHandle file, const uint8_t *info);
// Adds count bytes to the dead-bytes counter of an info block; a negative
// counter is replaced by count.
void AddToDeadBytes(uint8_t *info, uint32_t count);
// Adds count bytes to the dead-bytes counter of the open file. False when the info block cannot be
// read or written; nothing changes then.
bool AddDeadBytes(FileHandle file, uint32_t count);

// Fills info with the info block of a layout-1500 file of the given kind; the
// fourth value is 0 for a file created empty and 65535 for a converted one.
void BuildInfoBlock(uint32_t kind, uint16_t fourthValue, uint8_t *info);
