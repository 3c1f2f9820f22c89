#include "resources/old_layouts.h"

#include <cstring>

#include "resources/file_undo.h"
#include "resources/handles.h"
#include "resources/map_block.h"
#include "resources/open_files.h"
#include "resources/resource_format.h"
#include "resources/resource_manager.h"
#include "resources/temporary_files.h"
#include "resources/version2_map.h"
#include "support/byte_order.h"
#include "support/file_io.h"

namespace {

const char kConversionFileName[] = "~RES0000.tmp";

// The value a converted file carries as the fourth of its info values.
constexpr uint16_t kConvertedMarker = 65535;

struct TypeFlagEntry {
    uint32_t type;
    uint32_t flag;
};

constexpr TypeFlagEntry kTypeFlags[] = {
    {ResTypeOf("BAPC"), 0x00001}, {ResTypeOf("BADP"), 0x00002}, {ResTypeOf("DRDP"), 0x00004},
    {ResTypeOf("FDPC"), 0x00008}, {ResTypeOf("FDDP"), 0x00010}, {ResTypeOf("ACPC"), 0x00020},
    {ResTypeOf("ACDP"), 0x00040}, {ResTypeOf("PLPC"), 0x00080}, {ResTypeOf("PLDP"), 0x00100},
    {ResTypeOf("EGPP"), 0x00200}, {ResTypeOf("EGPC"), 0x00400}, {ResTypeOf("EGDP"), 0x00800},
    {ResTypeOf("FBPC"), 0x01000}, {ResTypeOf("FAPC"), 0x02000}, {ResTypeOf("FBDP"), 0x04000},
    {ResTypeOf("FADP"), 0x08000}, {ResTypeOf("PICT"), 0x10000}, {ResTypeOf("Watr"), 0x20000},
    {ResTypeOf("EvDP"), 0x40000},
};

constexpr uint32_t kFlagEvDP = 0x40000;
constexpr uint32_t kFlagWatr = 0x20000;
constexpr uint32_t kFishPictures = 0x01000 | 0x02000 | 0x04000 | 0x08000;

// Kinds recognised by their exact set of picture types.
constexpr TypeFlagEntry kExactKinds[] = {
    {ResTypeOf("SkPl"), 0x180}, {ResTypeOf("SkAc"), 0x60}, {ResTypeOf("SkFd"), 0x18},
    {ResTypeOf("SkDr"), 0x4},   {ResTypeOf("SkGr"), 0x3},
};

// A layout-1100 map read from a file, checked: the type list and every type's
// reference run lie inside it, and every data offset fits layout 1500.
struct Version2Map {
    uint8_t *bytes;
    uint32_t length;
    uint32_t types;
    uint32_t typeList;
};

uint32_t V2TypeEntry(const Version2Map &map, uint32_t index) {
    return map.typeList + kV2TypeEntrySize * index;
}
uint32_t V2RefCount(const Version2Map &map, uint32_t typeEntry) {
    return static_cast<uint32_t>(LoadI16(map.bytes + typeEntry + 4) + 1);
}
uint32_t V2RefEntry(const Version2Map &map, uint32_t typeEntry, uint32_t index) {
    return map.typeList + LoadU32(map.bytes + typeEntry + 6) + kV2RefEntrySize * index;
}
uint8_t V2NameLength(const Version2Map &map, uint32_t ref) {
    uint8_t length = map.bytes[ref + kOldRefName];
    return length > kOldNameLimit ? kOldNameLimit : length;
}

bool CheckVersion2Run(const Version2Map &map, uint32_t typeEntry) {
    int16_t countMinusOne = LoadI16(map.bytes + typeEntry + 4);
    if (countMinusOne < -1) return false;
    uint64_t start = uint64_t{map.typeList} + LoadU32(map.bytes + typeEntry + 6);
    uint64_t run = uint64_t{kV2RefEntrySize} * V2RefCount(map, typeEntry);
    if (countMinusOne >= 0 && !RangeInside(start, run, map.length)) return false;
    for (uint32_t i = 0; i < V2RefCount(map, typeEntry); ++i) {
        if (LoadU32(map.bytes + V2RefEntry(map, typeEntry, i) + kOldRefDataOffset) > 0x7FFFFF) {
            return false;
        }
    }
    return true;
}

bool CheckVersion2Map(Version2Map *map) {
    if (map->length < kV2MapHeaderSize) return false;
    int16_t countMinusOne = LoadI16(map->bytes + kV2TypeCountField);
    map->typeList = LoadU32(map->bytes + kV2TypeListField);
    if (countMinusOne < 0 || map->typeList >= map->length) return false;
    map->types = static_cast<uint32_t>(countMinusOne + 1);
    if (!RangeInside(map->typeList, uint64_t{kV2TypeEntrySize} * map->types, map->length)) {
        return false;
    }
    for (uint32_t t = 0; t < map->types; ++t) {
        if (!CheckVersion2Run(*map, V2TypeEntry(*map, t))) return false;
    }
    return true;
}

// Reads and checks the layout-1100 map of the open file; *header receives the
// file header.
bool ReadVersion2Map(FileHandle file, FileHeader *header, Version2Map *map) {
    map->bytes = ReadRawMap(file, kV2MapHeaderSize, header);
    if (map->bytes == nullptr) return false;
    map->length = header->mapLength;
    if (!CheckVersion2Map(map)) {
        DisposePointer(map->bytes);
        map->bytes = nullptr;
        return false;
    }
    return true;
}

uint32_t KindOfVersion2Map(const Version2Map &map) {
    uint32_t flags = 0;
    for (uint32_t t = 0; t < map.types; ++t) {
        flags |= TypeFlag(LoadU32(map.bytes + V2TypeEntry(map, t)));
    }
    return KindOfTypeFlags(flags);
}

// Sizes of the layout-1500 map that a layout-1100 map becomes.
struct CurrentMapSizes {
    uint32_t references;
    uint32_t names;
    uint32_t nameList;
    uint32_t length;
};

// False when the converted map would not fit the 16-bit fields of layout 1500.
bool SizeCurrentMap(const Version2Map &map, CurrentMapSizes *sizes) {
    uint64_t references = 0;
    uint64_t names = 0;
    uint64_t lastNameOffset = 0;
    uint64_t lastRunOffset = 0;
    for (uint32_t t = 0; t < map.types; ++t) {
        uint32_t typeEntry = V2TypeEntry(map, t);
        lastRunOffset = kTypeEntrySize * uint64_t{map.types} + kRefEntrySize * references;
        for (uint32_t i = 0; i < V2RefCount(map, typeEntry); ++i) {
            uint8_t length = V2NameLength(map, V2RefEntry(map, typeEntry, i));
            if (length != 0) {
                lastNameOffset = names;
                names += length + 1u;
            }
        }
        references += V2RefCount(map, typeEntry);
    }
    uint64_t nameList =
        kMapHeaderSize + kTypeEntrySize * uint64_t{map.types} + kRefEntrySize * references;
    if (nameList > 0xFFFF || lastRunOffset > 0x7FFF || lastNameOffset > 0x7FFF) return false;
    sizes->references = static_cast<uint32_t>(references);
    sizes->names = static_cast<uint32_t>(names);
    sizes->nameList = static_cast<uint32_t>(nameList);
    sizes->length = static_cast<uint32_t>(nameList + names);
    return true;
}

// True when a layout-1100 map built in memory can go on to layout 1500. A
// layout-1000 file that could never reach layout 1500 (no types, a data offset
// out of reach, a map too large) is refused as it stands instead of being left
// behind in layout 1100.
bool CanBecomeCurrent(uint8_t *block) {
    Version2Map map = {block, LoadU32(block + 12), 0, 0};
    CurrentMapSizes sizes;
    return CheckVersion2Map(&map) && SizeCurrentMap(map, &sizes);
}

void WriteCurrentEntries(const Version2Map &map, const CurrentMapSizes &sizes, uint8_t *out) {
    uint32_t runOffset = kTypeEntrySize * map.types;
    uint32_t refAt = kTypeListOffset + runOffset;
    uint32_t nameOffset = 0;
    for (uint32_t t = 0; t < map.types; ++t) {
        uint32_t typeEntry = V2TypeEntry(map, t);
        uint32_t count = V2RefCount(map, typeEntry);
        uint8_t *type = out + TypeEntryAt(t);
        StoreU32(type, LoadU32(map.bytes + typeEntry));
        StoreI16(type + 4, static_cast<int16_t>(count - 1));
        StoreI16(type + 6, static_cast<int16_t>(runOffset));
        runOffset += kRefEntrySize * count;
        for (uint32_t i = 0; i < count; ++i, refAt += kRefEntrySize) {
            const uint8_t *old = map.bytes + V2RefEntry(map, typeEntry, i);
            uint8_t length = V2NameLength(map, V2RefEntry(map, typeEntry, i));
            StoreI16(out + refAt, LoadI16(old));
            StoreI16(out + refAt + 2, length ? static_cast<int16_t>(nameOffset) : kNoName);
            StoreU32(out + refAt + 4, (LoadU32(old + kOldRefDataOffset) & 0x00FFFFFFu) |
                                          (uint32_t{old[kOldRefAttributes]} << 24));
            StoreU32(out + refAt + 8, LoadU32(old + kOldRefSlot));
            if (length != 0) {
                uint8_t *name = out + sizes.nameList + nameOffset;
                name[0] = length;
                std::memcpy(name + 1, old + kOldRefName + 1, length);
                nameOffset += length + 1u;
            }
        }
    }
}

// The layout-1500 map of the converted file, placed directly behind its data.
uint8_t *BuildCurrentMap(const Version2Map &map, const FileHeader &old) {
    CurrentMapSizes sizes;
    if (!SizeCurrentMap(map, &sizes)) return nullptr;
    auto *out = static_cast<uint8_t *>(NewPointer(sizes.length));
    if (out == nullptr) return nullptr;
    FileHeader header = {kDataAreaOffset, kDataAreaOffset + old.dataLength, old.dataLength,
                         sizes.length};
    EncodeFileHeader(header, out);
    std::memcpy(out + 16, map.bytes + 16, 8);  // reserved fields
    StoreU16(out + kMapTypeListField, kTypeListOffset);
    SetMapNameListOffset(out, static_cast<uint16_t>(sizes.nameList));
    SetMapTypeCount(out, map.types);
    WriteCurrentEntries(map, sizes, out);
    return out;
}

// Writes the whole converted file into the temporary file.
bool WriteConvertedFile(FileHandle source, FileHandle destination, const uint8_t *map,
                        uint32_t kind) {
    uint8_t info[kInfoBlockSize];
    BuildInfoBlock(kind, kConvertedMarker, info);
    info[kInfoConversionPending] = 1;
    uint32_t dataLength = MapDataLength(map);
    return WriteInfoBlock(destination, info) &&
           (dataLength == 0 ||
            CopyBetweenFiles(source, kDataAreaOffset, destination, kDataAreaOffset, dataLength)) &&
           WriteAt(destination, map, MapFileMapOffset(map), MapLength(map)) &&
           WriteAt(destination, map, 0, kFileHeaderSize);
}

// False when the drive is known to have less room than a second copy needs.
bool RoomForCopy(const char *path, FileHandle file) {
    uint64_t freeBytes = 0;
    uint32_t size = 0;
    if (!GetFreeDiskSpace(path, &freeBytes) || !GetOpenFileSize(file, &size)) return true;
    return freeBytes >= size;
}

// Reads, checks and converts the map of the open layout-1100 file.
uint8_t *ConvertedMap(FileHandle source, uint32_t *kind) {
    FileHeader header;
    Version2Map map;
    if (!ReadVersion2Map(source, &header, &map)) return nullptr;
    *kind = KindOfVersion2Map(map);
    uint8_t *converted = BuildCurrentMap(map, header);
    DisposePointer(map.bytes);
    return converted;
}

bool WriteTemporaryCopy(const char *path, const char *temporary) {
    FileHandle source = OpenFileForAccess(path, kOpenExisting, kGenericRead);
    if (source == kInvalidFile) return false;
    uint32_t kind = 0;
    uint8_t *map = RoomForCopy(path, source) ? ConvertedMap(source, &kind) : nullptr;
    FileHandle destination =
        map ? OpenFileForAccess(temporary, kCreateAlways, kGenericReadWrite) : kInvalidFile;
    bool ok = destination != kInvalidFile && WriteConvertedFile(source, destination, map, kind);
    if (map) DisposePointer(map);
    CloseFileHandle(source);
    CloseFileHandle(destination);
    if (!ok && destination != kInvalidFile) PlatformFileDelete(temporary);
    return ok;
}

}  // namespace

uint32_t TypeFlag(uint32_t type) {
    for (const TypeFlagEntry &entry : kTypeFlags) {
        if (entry.type == type) return entry.flag;
    }
    return 0;
}

uint32_t KindOfTypeFlags(uint32_t flags) {
    if (flags & kFlagEvDP) return ResTypeOf("SkMr");
    if (flags & kFlagWatr) return ResTypeOf("Skel");
    if ((flags & kFishPictures) == kFishPictures) return ResTypeOf("SkFs");
    for (const TypeFlagEntry &kind : kExactKinds) {
        if (flags == kind.flag) return kind.type;
    }
    return kKindUnclassified;
}

int UpgradeOldestLayout(const char *path) {
    FileHandle file = OpenFileForAccess(path, kOpenExisting, kGenericReadWrite);
    if (file == kInvalidFile) return 0;
    uint8_t *map = BuildVersion2Map(file);
    FileUndo undo;
    bool ok = map != nullptr && CanBecomeCurrent(map) && UndoBegin(&undo, file);
    if (ok) {
        uint8_t front[kDataAreaOffset] = {};
        std::memcpy(front, map, kFileHeaderSize);
        std::memcpy(front + kInfoBlockOffset, kVersion2Signature, kVersion2SignatureLength);
        uint32_t mapOffset = LoadU32(map + 4);
        uint32_t mapLength = LoadU32(map + 12);
        // The new map goes first: until the header names it, the old header still
        // describes the file, and a failure puts the old map back.
        ok = UndoableWrite(&undo, map, mapOffset, mapLength) &&
             UndoableWrite(&undo, front, 0, kDataAreaOffset) &&
             UndoCommit(&undo, mapOffset + mapLength);
        if (!ok) UndoRollback(&undo);
    }
    if (map) DisposePointer(map);
    CloseFileHandle(file);
    return ok ? 1 : 0;
}

int UpgradeVersion2Layout(const char *path) {
    char temporary[kPathCapacity + sizeof kConversionFileName];
    if (!TemporaryPathFor(path, kConversionFileName, temporary, sizeof temporary)) return 0;
    if (!WriteTemporaryCopy(path, temporary)) return 0;
    if (!PlatformFileDelete(path)) {
        PlatformFileDelete(temporary);
        return 0;
    }
    return PlatformFileMove(temporary, path) ? 1 : 0;
}

int PrepareResourceFile(const char *path) {
    FileHandle file = OpenFileForAccess(path, kOpenExisting, kGenericRead);
    if (file == kInvalidFile) return 0;
    int32_t version = 0;
    bool recognised = CheckFileHeader(file) && ReadFormatVersion(file, &version);
    // A layout-1000 file is not touched at all when the second step is known to
    // lack the room for its copy.
    bool room = recognised && version != kLayoutCurrent && RoomForCopy(path, file);
    CloseFileHandle(file);
    if (!recognised) return 0;
    if (version == kLayoutCurrent) return 1;
    if (version == kLayoutOldest && (!room || !UpgradeOldestLayout(path))) return 0;
    return UpgradeVersion2Layout(path);
}
