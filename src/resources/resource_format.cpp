#include "resources/resource_format.h"

#include <cstring>

#include "resources/handles.h"
#include "support/byte_order.h"
#include "support/file_io.h"

const char kVersion2Signature[] = "Version 2.0 Resource File";

void DecodeFileHeader(const uint8_t *bytes, FileHeader *header) {
    header->dataOffset = LoadU32(bytes);
    header->mapOffset = LoadU32(bytes + 4);
    header->dataLength = LoadU32(bytes + 8);
    header->mapLength = LoadU32(bytes + 12);
}

void EncodeFileHeader(const FileHeader &header, uint8_t *bytes) {
    StoreU32(bytes, header.dataOffset);
    StoreU32(bytes + 4, header.mapOffset);
    StoreU32(bytes + 8, header.dataLength);
    StoreU32(bytes + 12, header.mapLength);
}

bool ReadFileHeader(FileHandle file, FileHeader *header) {
    uint8_t bytes[kFileHeaderSize];
    if (!ReadAt(file, bytes, 0, kFileHeaderSize)) return false;
    DecodeFileHeader(bytes, header);
    return true;
}

bool CheckFileHeader(FileHandle file) {
    uint8_t header[kFileHeaderSize];
    uint8_t copy[kFileHeaderSize];
    if (!ReadAt(file, header, 0, kFileHeaderSize)) return false;
    if (LoadU32(header) != kDataAreaOffset) return false;
    if (!ReadAt(file, copy, LoadU32(header + 4), kFileHeaderSize)) return false;
    return std::memcmp(header, copy, kFileHeaderSize) == 0;
}

uint8_t *ReadRawMap(FileHandle file, uint32_t minLength, FileHeader *header, uint32_t fileSize) {
    uint8_t headerBytes[kFileHeaderSize];
    if (!ReadAt(file, headerBytes, 0, kFileHeaderSize)) return nullptr;
    DecodeFileHeader(headerBytes, header);
    if (fileSize == kPlatformFailure) fileSize = PlatformFileSize(file);
    if (fileSize == kPlatformFailure || header->dataOffset != kDataAreaOffset ||
        header->mapLength < minLength ||
        uint64_t{header->dataOffset} + header->dataLength > header->mapOffset ||
        !RangeInside(header->mapOffset, header->mapLength, fileSize)) {
        return nullptr;
    }
    auto *map = static_cast<uint8_t *>(NewPointer(header->mapLength));
    if (map == nullptr) return nullptr;
    if (!ReadAt(file, map, header->mapOffset, header->mapLength) ||
        std::memcmp(map, headerBytes, kFileHeaderSize) != 0) {
        DisposePointer(map);
        return nullptr;
    }
    return map;
}

int32_t FormatVersionOfInfo(const uint8_t *info) {
    if (LoadU32(info + kInfoVersion) == static_cast<uint32_t>(kLayoutCurrent)) {
        return kLayoutCurrent;
    }
    if (std::memcmp(info, kVersion2Signature, kVersion2SignatureLength) == 0) {
        return kLayoutVersion2;
    }
    return kLayoutOldest;
}

bool ReadFormatVersion(FileHandle file, int32_t *version) {
    uint8_t info[kInfoBlockSize];
    if (!ReadInfoBlock(file, info)) return false;
    *version = FormatVersionOfInfo(info);
    return true;
}

bool ReadInfoBlock(FileHandle file, uint8_t *info) {
    return ReadAt(file, info, kInfoBlockOffset, kInfoBlockSize) == 1;
}

bool WriteInfoBlock(FileHandle file, const uint8_t *info) {
    return WriteAt(file, info, kInfoBlockOffset, kInfoBlockSize) == 1;
}

void BuildInfoBlock(uint32_t kind, uint16_t fourthValue, uint8_t *info) {
    std::memset(info, 0, kInfoBlockSize);
    StoreU32(info, kind);  // the kind code opens the info block
    StoreU32(info + kInfoVersion, static_cast<uint32_t>(kLayoutCurrent));
    StoreU16(info + kInfoValues, 1);
    StoreU16(info + kInfoValues + 2, 2);
    StoreU16(info + kInfoValues + 4, 1);
    StoreU16(info + kInfoValues + 6, fourthValue);
}

bool AddDeadBytes(FileHandle file, uint32_t count) {
    uint8_t info[kInfoBlockSize];
    if (!ReadInfoBlock(file, info)) return false;
    AddToDeadBytes(info, count);
    return WriteInfoBlock(file, info);
}

void AddToDeadBytes(uint8_t *info, uint32_t count) {
    int32_t counter = LoadI32(info + kInfoDeadBytes);
    StoreU32(info + kInfoDeadBytes, counter < 0 ? count : static_cast<uint32_t>(counter) + count);
}
