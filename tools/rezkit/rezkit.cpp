// The format kit: writer and strict reader of resource files. This file knows the format
// only from doc/format.md and includes nothing of the library.
#include "rezkit/rezkit.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <ostream>
#include <sstream>

namespace {

constexpr uint32_t kDataStart = 256;
constexpr size_t kHeaderSize = 16;
constexpr char kVersion2Text[] = "Version 2.0 Resource File";
constexpr size_t kVersion2TextLength = sizeof(kVersion2Text) - 1;  // 25

// Sizes of the map parts in each layout.
constexpr size_t kMapHeader1500 = 30;
constexpr size_t kTypeEntry1500 = 8;
constexpr size_t kRefEntry1500 = 12;
constexpr size_t kMapHeader1100 = 34;
constexpr size_t kTypeEntry1100 = 10;
constexpr size_t kMapHeader1000 = 30;
constexpr size_t kTypeEntry1000 = 8;
constexpr size_t kRefEntryOld = 78;
constexpr size_t kOldNameField = 64;
constexpr size_t kOldNameRoom = 63;

[[noreturn]] void Misuse(const std::string &what) {
    std::fprintf(stderr, "resource fixture misused: %s\n", what.c_str());
    std::abort();
}

// Appending little-endian fields.
void AppendU8(std::vector<uint8_t> &out, uint8_t value) {
    out.push_back(value);
}
void AppendU16(std::vector<uint8_t> &out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
void AppendU32(std::vector<uint8_t> &out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}
void AppendI16(std::vector<uint8_t> &out, int16_t value) {
    AppendU16(out, static_cast<uint16_t>(value));
}
void AppendI32(std::vector<uint8_t> &out, int32_t value) {
    AppendU32(out, static_cast<uint32_t>(value));
}
void AppendBytes(std::vector<uint8_t> &out, const void *data, size_t count) {
    const uint8_t *p = static_cast<const uint8_t *>(data);
    out.insert(out.end(), p, p + count);
}
void AppendZeros(std::vector<uint8_t> &out, size_t count) {
    out.insert(out.end(), count, 0);
}

// A count field: the count minus one in 16 signed bits.
int16_t CountField(size_t count, const std::string &what) {
    if (count > 32768) Misuse(what + ": more than 32768 entries");
    return static_cast<int16_t>(static_cast<int32_t>(count) - 1);
}

size_t ResourceCount(const FixtureFile &file) {
    size_t total = 0;
    for (const FixtureType &type : file.types)
        total += type.resources.size();
    return total;
}

// The order of the reference runs: the given permutation, or type-list order.
std::vector<size_t> RunOrder(const FixtureFile &file) {
    std::vector<size_t> order = file.runOrder;
    if (order.empty()) {
        order.resize(file.types.size());
        std::iota(order.begin(), order.end(), size_t{0});
        return order;
    }
    std::vector<bool> seen(file.types.size(), false);
    if (order.size() != file.types.size()) Misuse("run order does not name every type once");
    for (size_t index : order) {
        if (index >= file.types.size() || seen[index]) {
            Misuse("run order does not name every type once");
        }
        seen[index] = true;
    }
    return order;
}

// Offsets of the runs from the start of the type list: runs begin behind the
// type list (typeListSize bytes) and follow each other in run order.
std::vector<size_t> RunOffsets(const FixtureFile &file, size_t typeListSize, size_t refSize) {
    std::vector<size_t> offsets(file.types.size(), 0);
    size_t running = typeListSize;
    for (size_t index : RunOrder(file)) {
        offsets[index] = running;
        running += refSize * file.types[index].resources.size();
    }
    return offsets;
}

// The 16-byte file header, also the start of every map.
std::vector<uint8_t> FileHeader(uint32_t dataLength, uint32_t mapLength) {
    std::vector<uint8_t> header;
    AppendU32(header, kDataStart);
    AppendU32(header, kDataStart + dataLength);
    AppendU32(header, dataLength);
    AppendU32(header, mapLength);
    return header;
}

// Bytes 16 to 255 of the file.
std::vector<uint8_t> InfoArea(const FixtureFile &file) {
    std::vector<uint8_t> info;
    if (file.layout == 1500) {
        AppendU32(info, file.kind);
        AppendU32(info, 1500);
        for (uint16_t value : file.infoValues)
            AppendU16(info, value);
        AppendI32(info, file.deadBytes);
        AppendU8(info, file.conversionPending);
    } else if (file.layout == 1100) {
        AppendBytes(info, kVersion2Text, kVersion2TextLength);
    }
    AppendZeros(info, kDataStart - kHeaderSize - info.size());
    return info;
}

// The reserved fields at map offsets 16 to 23.
void AppendMapReserved(std::vector<uint8_t> &map, const FixtureFile &file) {
    AppendU32(map, file.mapReserved32);
    AppendU16(map, file.mapReserved16a);
    AppendU16(map, file.mapReserved16b);
}

// The map of layout 1500; blockOffsets[t][r] is where resource r of type t
// points. The first 16 bytes are left for the header copy.
std::vector<uint8_t> Map1500(const FixtureFile &file,
                             const std::vector<std::vector<uint32_t>> &blockOffsets) {
    const size_t typeCount = file.types.size();
    const size_t refCount = ResourceCount(file);
    const size_t nameListOffset =
        kMapHeader1500 + kTypeEntry1500 * typeCount + kRefEntry1500 * refCount;
    if (nameListOffset > 0xFFFF) Misuse("name-list offset does not fit 16 bits");
    const std::vector<size_t> runOffsets =
        RunOffsets(file, kTypeEntry1500 * typeCount, kRefEntry1500);

    std::vector<uint8_t> map(kHeaderSize, 0);
    AppendMapReserved(map, file);
    AppendU16(map, kMapHeader1500);
    AppendU16(map, static_cast<uint16_t>(nameListOffset));
    AppendI16(map, CountField(typeCount, "type list"));

    for (size_t t = 0; t < typeCount; ++t) {
        const FixtureType &type = file.types[t];
        if (runOffsets[t] > 0x7FFF)
            Misuse("reference offset of " + TypeName(type.type) + " over 32767");
        AppendU32(map, type.type);
        AppendI16(map, CountField(type.resources.size(), TypeName(type.type)));
        AppendU16(map, static_cast<uint16_t>(runOffsets[t]));
    }

    std::vector<uint8_t> names;
    for (size_t t : RunOrder(file)) {
        const FixtureType &type = file.types[t];
        for (size_t r = 0; r < type.resources.size(); ++r) {
            const FixtureResource &resource = type.resources[r];
            int16_t nameOffset = -1;
            if (resource.name) {
                if (resource.name->size() > 255) Misuse("name longer than 255 characters");
                if (names.size() > 0x7FFF) Misuse("name offset over 32767");
                nameOffset = static_cast<int16_t>(names.size());
                AppendU8(names, static_cast<uint8_t>(resource.name->size()));
                AppendBytes(names, resource.name->data(), resource.name->size());
            }
            const uint32_t dataOffset = blockOffsets[t][r];
            if (dataOffset > 0xFFFFFF) Misuse("data offset does not fit 24 bits");
            AppendI16(map, resource.id);
            AppendI16(map, nameOffset);
            AppendU32(map, dataOffset | (static_cast<uint32_t>(resource.attributes) << 24));
            AppendU32(map, resource.handleSlot);
        }
    }
    AppendBytes(map, names.data(), names.size());
    return map;
}

// A 78-byte reference entry of layouts 1100 and 1000.
void AppendOldReference(std::vector<uint8_t> &map, const FixtureFile &file,
                        const FixtureResource &resource, uint32_t dataOffset) {
    AppendI16(map, resource.id);
    AppendI16(map, -1);
    std::vector<uint8_t> field(kOldNameField, 0);
    if (resource.name) {
        const std::string &name = *resource.name;
        if (name.size() > 255) Misuse("name longer than 255 characters");
        const size_t stored = std::min(name.size(), kOldNameRoom);
        field[0] = static_cast<uint8_t>(file.longNameLengths ? name.size() : stored);
        std::memcpy(field.data() + 1, name.data(), stored);
    }
    AppendBytes(map, field.data(), field.size());
    AppendU8(map, resource.attributes);
    AppendU8(map, 0);
    AppendU32(map, dataOffset);
    AppendU32(map, resource.handleSlot);
}

std::vector<uint8_t> Map1100(const FixtureFile &file,
                             const std::vector<std::vector<uint32_t>> &blockOffsets) {
    const size_t typeCount = file.types.size();
    const size_t endOfRefs =
        kMapHeader1100 + kTypeEntry1100 * typeCount + kRefEntryOld * ResourceCount(file);
    const std::vector<size_t> runOffsets =
        RunOffsets(file, kTypeEntry1100 * typeCount, kRefEntryOld);

    std::vector<uint8_t> map(kHeaderSize, 0);
    AppendMapReserved(map, file);
    AppendU32(map, kMapHeader1100);
    AppendU32(map, static_cast<uint32_t>(endOfRefs));
    AppendI16(map, CountField(typeCount, "type list"));
    for (size_t t = 0; t < typeCount; ++t) {
        AppendU32(map, file.types[t].type);
        AppendI16(map, CountField(file.types[t].resources.size(), TypeName(file.types[t].type)));
        AppendU32(map, static_cast<uint32_t>(runOffsets[t]));
    }
    for (size_t t : RunOrder(file)) {
        for (size_t r = 0; r < file.types[t].resources.size(); ++r) {
            AppendOldReference(map, file, file.types[t].resources[r], blockOffsets[t][r]);
        }
    }
    return map;
}

std::vector<uint8_t> Map1000(const FixtureFile &file,
                             const std::vector<std::vector<uint32_t>> &blockOffsets) {
    const size_t typeCount = file.types.size();
    const std::vector<size_t> runOffsets =
        RunOffsets(file, kTypeEntry1000 * typeCount, kRefEntryOld);

    std::vector<uint8_t> map(kHeaderSize, 0);
    AppendMapReserved(map, file);
    AppendU16(map, kMapHeader1000);
    AppendU16(map, 0);
    AppendI16(map, CountField(typeCount, "type list"));
    for (size_t t = 0; t < typeCount; ++t) {
        if (runOffsets[t] > 0xFFFF) Misuse("reference offset does not fit 16 bits");
        AppendU32(map, file.types[t].type);
        AppendI16(map, CountField(file.types[t].resources.size(), TypeName(file.types[t].type)));
        AppendU16(map, static_cast<uint16_t>(runOffsets[t]));
    }
    for (size_t t : RunOrder(file)) {
        for (size_t r = 0; r < file.types[t].resources.size(); ++r) {
            AppendOldReference(map, file, file.types[t].resources[r], blockOffsets[t][r]);
        }
    }
    return map;
}

// Bounds-checked little-endian reads for the parser; every read of a field
// goes through here, and a field out of range is reported, never read.
class Reader {
  public:
    explicit Reader(const std::vector<uint8_t> &bytes) : bytes_(bytes) {}
    bool Has(uint64_t offset, uint64_t count) const {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }
    uint8_t U8(size_t offset) const { return bytes_[offset]; }
    uint16_t U16(size_t offset) const {
        return static_cast<uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
    }
    uint32_t U32(size_t offset) const {
        return static_cast<uint32_t>(bytes_[offset]) |
               (static_cast<uint32_t>(bytes_[offset + 1]) << 8) |
               (static_cast<uint32_t>(bytes_[offset + 2]) << 16) |
               (static_cast<uint32_t>(bytes_[offset + 3]) << 24);
    }
    int16_t I16(size_t offset) const { return static_cast<int16_t>(U16(offset)); }
    int32_t I32(size_t offset) const { return static_cast<int32_t>(U32(offset)); }
    const uint8_t *At(size_t offset) const { return bytes_.data() + offset; }

  private:
    const std::vector<uint8_t> &bytes_;
};

using Found = std::vector<Violation>;

void Note(Found &found, uint64_t offset, std::string what) {
    found.push_back({offset, std::move(what), true});
}

// A rule that readers do not rely on but that a file in good order keeps.
void NoteHousekeeping(Found &found, uint64_t offset, std::string what) {
    found.push_back({offset, std::move(what), false});
}

std::string Num(uint64_t value) {
    return std::to_string(value);
}

std::string Signed(int64_t value) {
    return std::to_string(value);
}

// One reference run, as found through a type's offset field: [start, end) in
// map offsets; entry is the file offset of the type's entry.
struct Run {
    size_t type;
    int64_t start;
    int64_t end;
    uint64_t entry;
};

// The fixed sizes of a map in one layout.
struct MapShape {
    size_t header;
    size_t typeEntry;
    size_t refEntry;
    size_t typeCountField;  // map offset of the type count
};

MapShape ShapeOf(int layout) {
    if (layout == 1500) return {kMapHeader1500, kTypeEntry1500, kRefEntry1500, 28};
    if (layout == 1100) return {kMapHeader1100, kTypeEntry1100, kRefEntryOld, 32};
    return {kMapHeader1000, kTypeEntry1000, kRefEntryOld, 28};
}

// What the walk over a map found: where the reference entries lie (map
// offsets), the runs that lie inside them, and for every entry read the file
// offset of its data-offset field.
struct MapWalk {
    uint64_t refStart = 0;
    uint64_t refEnd = 0;
    std::vector<Run> runs;
    struct Entry {
        FixtureResource *resource;
        uint32_t type;
        uint64_t dataField;
        bool usable;  // its data offset can be followed
    };
    std::vector<Entry> entries;
};

std::string TypeLabel(size_t index, uint32_t type) {
    return "type " + Num(index) + " (" + TypeName(type) + ")";
}

std::string ResourceName(uint32_t type, int16_t id) {
    return TypeName(type) + " " + Signed(id);
}

std::string ResourceLabel(uint32_t type, int16_t id) {
    return ResourceName(type, id) + ": ";
}

// Notes the runs that leave [areaStart, areaEnd) and keeps the others in
// walk->runs; checks that those cover the area exactly, one behind the other,
// and fills file->runOrder.
void CheckRuns(const std::vector<Run> &runs, int64_t areaStart, int64_t areaEnd, size_t mapOffset,
               FixtureFile *file, Found &found, MapWalk *walk) {
    const size_t before = found.size();
    std::vector<Run> inside;
    for (const Run &run : runs) {
        if (run.start < areaStart || run.end > areaEnd) {
            Note(found, run.entry + 6,
                 TypeLabel(run.type, file->types[run.type].type) +
                     ": reference run at map offset " + Signed(run.start) + ".." + Signed(run.end) +
                     " leaves the reference area " + Signed(areaStart) + ".." + Signed(areaEnd));
        } else {
            inside.push_back(run);
        }
    }
    std::stable_sort(inside.begin(), inside.end(),
                     [](const Run &a, const Run &b) { return a.start < b.start; });
    int64_t expected = areaStart;
    for (const Run &run : inside) {
        if (run.start != expected) {
            Note(found, run.entry + 6,
                 TypeLabel(run.type, file->types[run.type].type) +
                     ": reference run at map offset " + Signed(run.start) + " where " +
                     Signed(expected) + " was expected (runs overlap or leave a gap)");
        }
        expected = run.end;
    }
    if (found.size() == before && expected != areaEnd) {
        Note(found, mapOffset + static_cast<uint64_t>(expected),
             "reference runs end at map offset " + Signed(expected) + ", the reference area at " +
                 Signed(areaEnd));
    }
    bool inListOrder = true;
    for (size_t i = 1; i < inside.size(); ++i) {
        if (inside[i].type < inside[i - 1].type) inListOrder = false;
    }
    file->runOrder.clear();
    if (!inListOrder) {
        std::vector<bool> listed(file->types.size(), false);
        for (const Run &run : inside) {
            file->runOrder.push_back(run.type);
            listed[run.type] = true;
        }
        for (size_t t = 0; t < file->types.size(); ++t) {
            if (!listed[t]) file->runOrder.push_back(t);
        }
    }
    walk->runs = std::move(inside);
}

// Reads the map header and the type list of any layout and finds the runs.
// False when the reference entries cannot be told from the map.
bool WalkMapFrame(const Reader &in, int layout, size_t map, size_t mapLength, FixtureFile *file,
                  Found &found, MapWalk *walk) {
    const MapShape shape = ShapeOf(layout);
    if (mapLength < shape.header) {
        Note(found, 12,
             "map of " + Num(mapLength) + " bytes, shorter than its " + Num(shape.header) +
                 "-byte header");
        return false;
    }
    file->mapReserved32 = in.U32(map + 16);
    file->mapReserved16a = in.U16(map + 20);
    file->mapReserved16b = in.U16(map + 22);
    const uint32_t typeListOffset = layout == 1100 ? in.U32(map + 24) : in.U16(map + 24);
    if (typeListOffset != shape.header) {
        Note(found, map + 24,
             "type-list offset " + Num(typeListOffset) + ", not " + Num(shape.header));
    }
    const int16_t typeCountField = in.I16(map + shape.typeCountField);
    if (typeCountField < -1) {
        Note(found, map + shape.typeCountField, "type count field " + Signed(typeCountField));
        return false;
    }
    const size_t typeCount = static_cast<size_t>(typeCountField + 1);
    walk->refStart = shape.header + shape.typeEntry * typeCount;
    if (walk->refStart > mapLength) {
        Note(found, map + shape.typeCountField,
             Num(typeCount) + " type entries run past the end of the map");
        return false;
    }
    uint64_t refCount = 0;
    uint64_t overflow = 0;  // the type entry whose count first runs past the map
    std::vector<Run> runs;
    for (size_t t = 0; t < typeCount; ++t) {
        const size_t entry = map + shape.header + shape.typeEntry * t;
        FixtureType type;
        type.type = in.U32(entry);
        const int16_t countField = in.I16(entry + 4);
        if (countField < -1) {
            Note(found, entry + 4, TypeLabel(t, type.type) + ": count field " + Signed(countField));
        } else {
            type.resources.resize(static_cast<size_t>(countField + 1));
        }
        const int64_t runOffset = layout == 1500   ? int64_t{in.I16(entry + 6)}
                                  : layout == 1100 ? int64_t{in.U32(entry + 6)}
                                                   : int64_t{in.U16(entry + 6)};
        const uint64_t n = type.resources.size();
        if (n > 0) {
            const int64_t start = static_cast<int64_t>(shape.header) + runOffset;
            runs.push_back({t, start, start + static_cast<int64_t>(shape.refEntry * n), entry});
        }
        refCount += n;
        if (overflow == 0 && walk->refStart + shape.refEntry * refCount > mapLength) {
            overflow = entry + 4;
        }
        file->types.push_back(std::move(type));
    }
    walk->refEnd = walk->refStart + shape.refEntry * refCount;
    if (overflow != 0) {
        Note(found, overflow,
             Num(refCount) + " reference entries of " + Num(shape.refEntry) +
                 " bytes run past the end of the map");
        return false;
    }
    CheckRuns(runs, static_cast<int64_t>(walk->refStart), static_cast<int64_t>(walk->refEnd), map,
              file, found, walk);
    return true;
}

// The reference entries and name list of layout 1500.
void WalkEntries1500(const Reader &in, size_t map, size_t mapLength, FixtureFile *file,
                     Found &found, MapWalk *walk) {
    const uint16_t nameListOffset = in.U16(map + 26);
    const uint64_t namesStart = walk->refEnd;
    const size_t typeCount = file->types.size();
    const uint64_t refCount = (walk->refEnd - walk->refStart) / kRefEntry1500;
    if (nameListOffset != namesStart) {
        Note(found, map + 26,
             "name-list offset " + Num(nameListOffset) + ", not 30 + 8 x " + Num(typeCount) +
                 " + 12 x " + Num(refCount) + " = " + Num(namesStart));
    }
    // Named entries by name offset, to check that the names tile the name list.
    struct Named {
        int64_t offset;
        uint64_t size;
        uint64_t entry;
    };
    std::vector<Named> named;
    const size_t before = found.size();
    for (const Run &run : walk->runs) {
        FixtureType &type = file->types[run.type];
        for (size_t r = 0; r < type.resources.size(); ++r) {
            const size_t entry = map + static_cast<size_t>(run.start) + kRefEntry1500 * r;
            FixtureResource &resource = type.resources[r];
            resource.id = in.I16(entry);
            const int16_t nameOffset = in.I16(entry + 2);
            const uint32_t word = in.U32(entry + 4);
            resource.attributes = static_cast<uint8_t>(word >> 24);
            resource.dataOffset = word & 0xFFFFFF;
            resource.handleSlot = in.U32(entry + 8);
            const std::string where = ResourceLabel(type.type, resource.id);
            const bool negative = (word & 0x800000) != 0;
            if (negative) {
                Note(found, entry + 4,
                     where + "data offset " + Num(word & 0xFFFFFF) + " has bit 23 set (negative)");
            }
            walk->entries.push_back({&resource, type.type, entry + 4, !negative});
            if (nameOffset == -1) continue;
            if (nameOffset < -1) {
                Note(found, entry + 2, where + "name offset " + Signed(nameOffset));
                continue;
            }
            const uint64_t at = namesStart + static_cast<uint64_t>(nameOffset);
            if (at >= mapLength) {
                Note(found, entry + 2,
                     where + "name offset " + Signed(nameOffset) + " outside the name list");
                continue;
            }
            const uint8_t length = in.U8(map + at);
            if (at + 1 + length > mapLength) {
                Note(found, map + at,
                     where + "name of " + Num(length) + " characters runs past the map");
                continue;
            }
            resource.name =
                std::string(reinterpret_cast<const char *>(in.At(map + at + 1)), length);
            named.push_back({nameOffset, uint64_t{length} + 1, entry + 2});
        }
    }
    std::stable_sort(named.begin(), named.end(),
                     [](const Named &a, const Named &b) { return a.offset < b.offset; });
    uint64_t expected = 0;
    bool namesTile = found.size() == before;
    for (const Named &name : named) {
        if (static_cast<uint64_t>(name.offset) != expected) {
            Note(found, name.entry,
                 "name at name-list offset " + Signed(name.offset) + " where " + Num(expected) +
                     " was expected (names shared, overlapping or with gaps)");
            namesTile = false;
        }
        expected = static_cast<uint64_t>(name.offset) + name.size;
    }
    if (namesTile && namesStart + expected != mapLength) {
        Note(found, 12,
             "map length " + Num(mapLength) + ", not 30 + 8 x " + Num(typeCount) + " + 12 x " +
                 Num(refCount) + " + " + Num(expected) +
                 " bytes of names = " + Num(namesStart + expected));
    }
}

// Reference entries of layouts 1100 and 1000, 78 bytes each, with the name in
// the entry.
void WalkOldEntries(const Reader &in, int layout, size_t map, size_t mapLength, FixtureFile *file,
                    Found &found, MapWalk *walk) {
    const size_t typeCount = file->types.size();
    const uint64_t refCount = (walk->refEnd - walk->refStart) / kRefEntryOld;
    const std::string formula = layout == 1100 ? "34 + 10 x " : "30 + 8 x ";
    if (layout == 1100 && in.U32(map + 28) != walk->refEnd) {
        Note(found, map + 28,
             "end of references " + Num(in.U32(map + 28)) + ", not " + formula + Num(typeCount) +
                 " + 78 x " + Num(refCount) + " = " + Num(walk->refEnd));
    }
    if (walk->refEnd != mapLength) {
        Note(found, 12,
             "map length " + Num(mapLength) + ", not " + formula + Num(typeCount) + " + 78 x " +
                 Num(refCount) + " = " + Num(walk->refEnd));
    }
    for (const Run &run : walk->runs) {
        FixtureType &type = file->types[run.type];
        for (size_t r = 0; r < type.resources.size(); ++r) {
            const size_t entry = map + static_cast<size_t>(run.start) + kRefEntryOld * r;
            FixtureResource &resource = type.resources[r];
            resource.id = in.I16(entry);
            const std::string where = ResourceLabel(type.type, resource.id);
            if (layout == 1100 && in.I16(entry + 2) != -1) {
                Note(found, entry + 2,
                     where + "name offset " + Signed(in.I16(entry + 2)) + ", not -1");
            }
            const uint8_t length = in.U8(entry + 4);
            if (length > kOldNameRoom) {
                Note(found, entry + 4, where + "name length byte " + Num(length) + " over 63");
            } else if (length > 0) {
                resource.name =
                    std::string(reinterpret_cast<const char *>(in.At(entry + 5)), length);
            }
            resource.attributes = in.U8(entry + 68);
            resource.dataOffset = in.U32(entry + 70);
            resource.handleSlot = in.U32(entry + 74);
            walk->entries.push_back({&resource, type.type, entry + 70, true});
        }
    }
}

// Reads every entry's block and checks that it lies inside the data area and
// overlaps no other block. Blocks may be shared: an entry added in memory whose
// map reached the disk before its data points at some other block, and carries
// the changed attribute. Two entries without it on one block are noted.
void WalkBlocks(const Reader &in, uint32_t dataLength, FixtureFile *file, Found &found,
                const MapWalk &walk) {
    struct Block {
        uint64_t start;
        uint64_t end;
        const MapWalk::Entry *entry;
    };
    std::vector<Block> blocks;
    std::vector<bool> covered(dataLength, false);
    for (const MapWalk::Entry &entry : walk.entries) {
        if (!entry.usable) continue;
        FixtureResource &resource = *entry.resource;
        const uint64_t at = *resource.dataOffset;
        const std::string where = ResourceLabel(entry.type, resource.id);
        if (at + 4 > dataLength) {
            Note(found, entry.dataField,
                 where + "data offset " + Num(at) + " outside the " + Num(dataLength) +
                     "-byte data area");
            continue;
        }
        const uint32_t count = in.U32(kDataStart + at);
        if (at + 4 + count > dataLength) {
            Note(found, kDataStart + at,
                 where + "block of " + Num(count) + " bytes at " + Num(at) + " runs past the " +
                     Num(dataLength) + "-byte data area");
            continue;
        }
        const uint8_t *p = in.At(kDataStart + at + 4);
        resource.data.assign(p, p + count);
        std::fill(covered.begin() + static_cast<std::ptrdiff_t>(at),
                  covered.begin() + static_cast<std::ptrdiff_t>(at + 4 + count), true);
        blocks.push_back({at, at + 4 + count, &entry});
    }
    std::stable_sort(blocks.begin(), blocks.end(),
                     [](const Block &a, const Block &b) { return a.start < b.start; });
    // The block that reaches furthest so far, and whether an entry without the
    // changed attribute already owns the block at the current start.
    const Block *reach = nullptr;
    bool owned = false;
    for (const Block &block : blocks) {
        const bool changed = (block.entry->resource->attributes & 0x02) != 0;
        const std::string where = ResourceLabel(block.entry->type, block.entry->resource->id);
        if (reach != nullptr && block.start == reach->start && block.end == reach->end) {
            if (owned && !changed) {
                NoteHousekeeping(found, block.entry->dataField,
                                 where + "shares the block at " + Num(block.start) + " with " +
                                     ResourceName(reach->entry->type, reach->entry->resource->id) +
                                     ", and neither is marked changed");
            }
            owned = owned || !changed;
            continue;
        }
        if (reach != nullptr && block.start < reach->end) {
            Note(found, kDataStart + block.start,
                 where + "block at " + Num(block.start) + ".." + Num(block.end) +
                     " overlaps the block at " + Num(reach->start) + ".." + Num(reach->end) +
                     " of " + ResourceName(reach->entry->type, reach->entry->resource->id));
            if (block.end <= reach->end) continue;
        }
        reach = &block;
        owned = !changed;
    }
    file->deadData.clear();
    for (size_t i = 0; i < dataLength; ++i) {
        if (!covered[i]) file->deadData.push_back(in.U8(kDataStart + i));
    }
}

// FNV-1a over a byte block, to tell data apart in descriptions.
uint32_t Checksum(const std::vector<uint8_t> &bytes) {
    uint32_t hash = 2166136261u;
    for (uint8_t byte : bytes) {
        hash ^= byte;
        hash *= 16777619u;
    }
    return hash;
}

std::string Hex(uint64_t value, int digits) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%0*llX", digits,
                  static_cast<unsigned long long>(value));
    return buffer;
}

// Length, checksum and the first 16 bytes of a block.
std::string DescribeBytes(const std::vector<uint8_t> &bytes) {
    std::string text = Num(bytes.size()) + " bytes";
    if (bytes.empty()) return text;
    text += " fnv " + Hex(Checksum(bytes), 8) + ":";
    const size_t shown = std::min<size_t>(bytes.size(), 16);
    for (size_t i = 0; i < shown; ++i) {
        char buffer[4];
        std::snprintf(buffer, sizeof buffer, " %02X", bytes[i]);
        text += buffer;
    }
    if (shown < bytes.size()) text += " ...";
    return text;
}

std::string DescribeName(const std::optional<std::string> &name) {
    if (!name) return "no name";
    std::string text = "\"";
    for (char c : *name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F && c != '"' && c != '\\') {
            text += c;
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", u);
            text += buffer;
        }
    }
    return text + "\"";
}

// The name as a layout stores it: layouts 1100 and 1000 know no empty name and
// keep at most 63 characters.
std::optional<std::string> StoredName(const FixtureFile &file, const FixtureResource &resource) {
    if (file.layout == 1500 || !resource.name) return resource.name;
    if (resource.name->empty()) return std::nullopt;
    return resource.name->substr(0, kOldNameRoom);
}

// The depths that the bitmap helpers handle.
bool DepthAccepted(uint16_t bitsPerPixel) {
    return bitsPerPixel == 1 || bitsPerPixel == 4 || bitsPerPixel == 8 || bitsPerPixel == 16 ||
           bitsPerPixel == 24 || bitsPerPixel == 32;
}

uint64_t RowBytes(uint64_t width, uint16_t bitsPerPixel) {
    return ((bitsPerPixel * width + 31) / 32) * 4;
}

void CheckRange(const std::vector<uint8_t> &bytes, size_t offset, size_t width) {
    if (offset > bytes.size() || width > bytes.size() - offset) {
        Misuse("field at offset " + Num(offset) + " of " + Num(width) + " bytes lies past the " +
               Num(bytes.size()) + "-byte block");
    }
}

}  // namespace

std::string TypeName(uint32_t type) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>(type >> shift);
        if (c < 0x20 || c > 0x7E) return Hex(type, 8);
        text += c;
    }
    return text;
}

std::vector<uint8_t> BuildResourceFile(const FixtureFile &file) {
    if (file.layout != 1500 && file.layout != 1100 && file.layout != 1000) {
        Misuse("layout " + std::to_string(file.layout));
    }
    // The data area: the dead bytes, then every block in type-list order.
    std::vector<uint8_t> data = file.deadData;
    std::vector<std::vector<uint32_t>> blockOffsets(file.types.size());
    for (size_t t = 0; t < file.types.size(); ++t) {
        for (const FixtureResource &resource : file.types[t].resources) {
            if (resource.dataOffset) {
                blockOffsets[t].push_back(*resource.dataOffset);
                continue;
            }
            if (data.size() > 0xFFFFFFFFu - 4 - resource.data.size()) {
                Misuse("data area over 4 GiB");
            }
            blockOffsets[t].push_back(static_cast<uint32_t>(data.size()));
            AppendU32(data, static_cast<uint32_t>(resource.data.size()));
            AppendBytes(data, resource.data.data(), resource.data.size());
        }
    }
    if (data.size() > 0xFFFFFFFFu - kDataStart) Misuse("data area over 4 GiB");

    std::vector<uint8_t> map;
    if (file.layout == 1500) {
        map = Map1500(file, blockOffsets);
    } else if (file.layout == 1100) {
        map = Map1100(file, blockOffsets);
    } else {
        map = Map1000(file, blockOffsets);
    }
    const std::vector<uint8_t> header =
        FileHeader(static_cast<uint32_t>(data.size()), static_cast<uint32_t>(map.size()));
    std::copy(header.begin(), header.end(), map.begin());

    std::vector<uint8_t> bytes = header;
    const std::vector<uint8_t> info = InfoArea(file);
    AppendBytes(bytes, info.data(), info.size());
    AppendBytes(bytes, data.data(), data.size());
    AppendBytes(bytes, map.data(), map.size());
    return bytes;
}

std::vector<Violation> CheckResourceFile(const std::vector<uint8_t> &bytes, FixtureFile *out) {
    const Reader in(bytes);
    Found found;
    FixtureFile file;
    file.layout = 0;
    if (!in.Has(0, kDataStart)) {
        Note(found, bytes.size(),
             "file of " + Num(bytes.size()) + " bytes, shorter than its 256-byte header and info");
        if (out != nullptr) *out = std::move(file);
        return found;
    }
    const uint32_t dataOffset = in.U32(0);
    const uint32_t mapOffset = in.U32(4);
    const uint32_t dataLength = in.U32(8);
    const uint32_t mapLength = in.U32(12);
    const uint64_t dataEnd = uint64_t{kDataStart} + dataLength;
    const uint64_t mapEnd = uint64_t{mapOffset} + mapLength;
    if (dataOffset != kDataStart) Note(found, 0, "data offset " + Num(dataOffset) + ", not 256");
    if (mapOffset != dataEnd) {
        Note(found, 4,
             "map offset " + Num(mapOffset) + ", not 256 + data length " + Num(dataLength));
    }
    if (dataEnd > bytes.size()) {
        Note(found, 8,
             "data area of " + Num(dataLength) + " bytes runs past the end of the " +
                 Num(bytes.size()) + "-byte file");
    }
    if (mapEnd > bytes.size()) {
        Note(found, 12,
             "map at " + Num(mapOffset) + " of " + Num(mapLength) +
                 " bytes runs past the end of the " + Num(bytes.size()) + "-byte file");
    } else if (mapEnd < bytes.size()) {
        Note(found, mapEnd, Num(bytes.size() - mapEnd) + " bytes behind the end of the map");
    }
    if (mapEnd <= bytes.size() && mapLength >= kHeaderSize) {
        for (size_t i = 0; i < kHeaderSize; ++i) {
            if (in.U8(i) != in.U8(mapOffset + i)) {
                Note(found, mapOffset + i, "the map's header copy differs from the file header");
                break;
            }
        }
    }

    // Recognise the layout as the library does, then check the info area.
    if (in.U32(20) == 1500) {
        file.layout = 1500;
        file.kind = in.U32(16);
        for (size_t i = 0; i < 4; ++i)
            file.infoValues[i] = in.U16(24 + 2 * i);
        file.deadBytes = in.I32(32);
        file.conversionPending = in.U8(36);
        if (file.deadBytes < 0 || static_cast<uint32_t>(file.deadBytes) > dataLength) {
            NoteHousekeeping(found, 32,
                             "dead-bytes counter " + Signed(file.deadBytes) + " outside 0.." +
                                 Num(dataLength) + ", the size of the data area");
        }
        if (file.conversionPending > 1) {
            NoteHousekeeping(
                found, 36,
                "conversion-pending flag " + Num(file.conversionPending) + ", not 0 or 1");
        }
    } else if (std::memcmp(in.At(16), kVersion2Text, kVersion2TextLength) == 0) {
        file.layout = 1100;
    } else {
        file.layout = 1000;
    }
    const size_t zerosFrom = file.layout == 1500 ? 37 : 16 + kVersion2TextLength;
    for (size_t i = zerosFrom; file.layout != 1000 && i < kDataStart; ++i) {
        if (in.U8(i) != 0) {
            Note(found, i, "byte " + Num(i) + " of the info area not zero");
            break;
        }
    }

    // The map and the blocks, as far as they lie inside the file.
    MapWalk walk;
    if (mapEnd <= bytes.size() &&
        WalkMapFrame(in, file.layout, mapOffset, mapLength, &file, found, &walk)) {
        if (file.layout == 1500) {
            WalkEntries1500(in, mapOffset, mapLength, &file, found, &walk);
        } else {
            WalkOldEntries(in, file.layout, mapOffset, mapLength, &file, found, &walk);
        }
        if (dataEnd <= bytes.size()) WalkBlocks(in, dataLength, &file, found, walk);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Violation &a, const Violation &b) { return a.offset < b.offset; });
    if (out != nullptr) *out = std::move(file);
    return found;
}

bool ParseResourceFile(const std::vector<uint8_t> &bytes, FixtureFile *out, std::string *why) {
    FixtureFile file;
    for (const Violation &violation : CheckResourceFile(bytes, &file)) {
        if (!violation.strict) continue;
        if (why != nullptr) *why = violation.what + " (at offset " + Num(violation.offset) + ")";
        return false;
    }
    if (out != nullptr) *out = std::move(file);
    if (why != nullptr) why->clear();
    return true;
}

std::ostream &operator<<(std::ostream &out, const FlatResource &resource) {
    return out << TypeName(resource.type) << " " << resource.id << " "
               << DescribeName(resource.name) << " attributes " << Hex(resource.attributes, 2)
               << " data " << DescribeBytes(resource.data);
}

std::vector<FlatResource> FlatResources(const FixtureFile &file, bool sorted) {
    std::vector<FlatResource> flat;
    auto add = [&](size_t t) {
        for (const FixtureResource &resource : file.types[t].resources) {
            flat.push_back({file.types[t].type, resource.id, StoredName(file, resource),
                            resource.data, resource.attributes});
        }
    };
    if (sorted) {
        for (size_t t = 0; t < file.types.size(); ++t)
            add(t);
        std::stable_sort(flat.begin(), flat.end(),
                         [](const FlatResource &a, const FlatResource &b) {
                             return a.type != b.type ? a.type < b.type : a.id < b.id;
                         });
    } else {
        for (size_t t : RunOrder(file))
            add(t);
    }
    return flat;
}

std::string DescribeFile(const FixtureFile &file) {
    std::ostringstream text;
    text << "layout " << file.layout << "\n";
    if (file.layout == 1500) {
        text << "kind " << TypeName(file.kind) << ", values " << file.infoValues[0] << ","
             << file.infoValues[1] << "," << file.infoValues[2] << "," << file.infoValues[3]
             << ", dead bytes " << file.deadBytes << ", conversion pending "
             << int{file.conversionPending} << "\n";
    }
    text << "map reserved " << file.mapReserved32 << "," << file.mapReserved16a << ","
         << file.mapReserved16b << "\n";
    text << "dead data " << DescribeBytes(file.deadData) << "\n";
    for (const FixtureType &type : file.types) {
        text << "type " << TypeName(type.type) << ", " << type.resources.size() << " resources\n";
        for (const FixtureResource &resource : type.resources) {
            text << "  " << resource.id << " " << DescribeName(StoredName(file, resource))
                 << " attributes " << Hex(resource.attributes, 2) << " slot " << resource.handleSlot
                 << " data " << DescribeBytes(resource.data) << "\n";
        }
    }
    // The order of the runs of the types that have resources.
    bool inListOrder = true;
    std::vector<size_t> runs;
    for (size_t t : RunOrder(file)) {
        if (file.types[t].resources.empty()) continue;
        if (!runs.empty() && t < runs.back()) inListOrder = false;
        runs.push_back(t);
    }
    if (!inListOrder) {
        text << "runs in the order";
        for (size_t t : runs)
            text << " " << t;
        text << "\n";
    }
    return text.str();
}

uint16_t GetU16(const std::vector<uint8_t> &bytes, size_t offset) {
    CheckRange(bytes, offset, 2);
    return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

uint32_t GetU32(const std::vector<uint8_t> &bytes, size_t offset) {
    CheckRange(bytes, offset, 4);
    return static_cast<uint32_t>(bytes[offset]) | (static_cast<uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<uint32_t>(bytes[offset + 2]) << 16) |
           (static_cast<uint32_t>(bytes[offset + 3]) << 24);
}

int16_t GetI16(const std::vector<uint8_t> &bytes, size_t offset) {
    return static_cast<int16_t>(GetU16(bytes, offset));
}

int32_t GetI32(const std::vector<uint8_t> &bytes, size_t offset) {
    return static_cast<int32_t>(GetU32(bytes, offset));
}

void PutU16(std::vector<uint8_t> &bytes, size_t offset, uint16_t value) {
    CheckRange(bytes, offset, 2);
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void PutU32(std::vector<uint8_t> &bytes, size_t offset, uint32_t value) {
    CheckRange(bytes, offset, 4);
    for (size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutI16(std::vector<uint8_t> &bytes, size_t offset, int16_t value) {
    PutU16(bytes, offset, static_cast<uint16_t>(value));
}

void PutI32(std::vector<uint8_t> &bytes, size_t offset, int32_t value) {
    PutU32(bytes, offset, static_cast<uint32_t>(value));
}

uint32_t MapOffsetOf(const std::vector<uint8_t> &bytes) {
    return GetU32(bytes, 4);
}
uint32_t DataLengthOf(const std::vector<uint8_t> &bytes) {
    return GetU32(bytes, 8);
}
uint32_t MapLengthOf(const std::vector<uint8_t> &bytes) {
    return GetU32(bytes, 12);
}

int LayoutOf(const std::vector<uint8_t> &bytes) {
    CheckRange(bytes, 16, kVersion2TextLength);
    if (GetU32(bytes, 20) == 1500) return 1500;
    if (std::memcmp(bytes.data() + 16, kVersion2Text, kVersion2TextLength) == 0) return 1100;
    return 1000;
}

size_t TypeEntryOffset(const std::vector<uint8_t> &bytes, size_t typeIndex) {
    const size_t map = MapOffsetOf(bytes);
    switch (LayoutOf(bytes)) {
        case 1500:
            return map + GetU16(bytes, map + 24) + kTypeEntry1500 * typeIndex;
        case 1100:
            return map + GetU32(bytes, map + 24) + kTypeEntry1100 * typeIndex;
        default:
            return map + GetU16(bytes, map + 24) + kTypeEntry1000 * typeIndex;
    }
}

size_t ReferenceEntryOffset(const std::vector<uint8_t> &bytes, size_t typeIndex, size_t refIndex) {
    const size_t map = MapOffsetOf(bytes);
    const size_t entry = TypeEntryOffset(bytes, typeIndex);
    switch (LayoutOf(bytes)) {
        case 1500: {
            const int64_t run = int64_t{GetU16(bytes, map + 24)} + GetI16(bytes, entry + 6);
            return static_cast<size_t>(static_cast<int64_t>(map) + run) + kRefEntry1500 * refIndex;
        }
        case 1100:
            return map + GetU32(bytes, map + 24) + GetU32(bytes, entry + 6) +
                   kRefEntryOld * refIndex;
        default:
            return map + GetU16(bytes, map + 24) + GetU16(bytes, entry + 6) +
                   kRefEntryOld * refIndex;
    }
}

size_t NameListOffset(const std::vector<uint8_t> &bytes) {
    if (LayoutOf(bytes) != 1500) Misuse("only layout 1500 has a name list");
    const size_t map = MapOffsetOf(bytes);
    return map + GetU16(bytes, map + 26);
}

size_t DataBlockOffset(const std::vector<uint8_t> &bytes, size_t typeIndex, size_t refIndex) {
    const size_t entry = ReferenceEntryOffset(bytes, typeIndex, refIndex);
    const uint32_t dataStart = GetU32(bytes, 0);
    if (LayoutOf(bytes) == 1500) return dataStart + (GetU32(bytes, entry + 4) & 0xFFFFFF);
    return dataStart + GetU32(bytes, entry + 70);
}

std::vector<uint8_t> BuildBitmapImage(int32_t width, int32_t height, uint16_t bitsPerPixel,
                                      const std::vector<FixtureColour> &palette,
                                      const std::vector<uint32_t> &pixels) {
    if (width <= 0 || height == 0 || height == INT32_MIN) Misuse("bitmap of no pixels");
    if (!DepthAccepted(bitsPerPixel)) Misuse("bitmap depth " + Num(bitsPerPixel));
    const uint64_t rows = static_cast<uint64_t>(height < 0 ? -int64_t{height} : height);
    if (pixels.size() != static_cast<uint64_t>(width) * rows) {
        Misuse("bitmap of " + Num(pixels.size()) + " pixels, not width x height");
    }
    const uint64_t rowBytes = RowBytes(static_cast<uint64_t>(width), bitsPerPixel);
    const uint64_t imageSize = rowBytes * rows;
    const uint64_t tableSize = 4 * uint64_t{palette.size()};
    const uint64_t fileSize = 14 + 40 + tableSize + imageSize;
    if (fileSize > 0xFFFFFFFFu) Misuse("bitmap over 4 GiB");

    std::vector<uint8_t> image;
    AppendU8(image, 'B');
    AppendU8(image, 'M');
    AppendU32(image, static_cast<uint32_t>(fileSize));
    AppendU32(image, 0);
    AppendU32(image, static_cast<uint32_t>(14 + 40 + tableSize));
    AppendU32(image, 40);
    AppendI32(image, width);
    AppendI32(image, height);
    AppendU16(image, 1);
    AppendU16(image, bitsPerPixel);
    AppendU32(image, 0);
    AppendU32(image, static_cast<uint32_t>(imageSize));
    AppendI32(image, 0);
    AppendI32(image, 0);
    AppendU32(image, static_cast<uint32_t>(palette.size()));
    AppendU32(image, 0);
    for (const FixtureColour &colour : palette) {
        AppendU8(image, colour.blue);
        AppendU8(image, colour.green);
        AppendU8(image, colour.red);
        AppendU8(image, 0);
    }
    for (uint64_t stored = 0; stored < rows; ++stored) {
        // Bottom-up images store the bottom row first.
        const uint64_t row = height > 0 ? rows - 1 - stored : stored;
        std::vector<uint8_t> bytes(rowBytes, 0);
        for (uint64_t x = 0; x < static_cast<uint64_t>(width); ++x) {
            const uint32_t value = pixels[row * static_cast<uint64_t>(width) + x];
            if (bitsPerPixel < 8) {
                if (value >= (1u << bitsPerPixel)) Misuse("pixel value over the bitmap's depth");
                // The leftmost pixel sits in the most significant bits of its byte.
                const uint64_t bit = x * bitsPerPixel;
                const int shift = 8 - bitsPerPixel - static_cast<int>(bit % 8);
                bytes[bit / 8] |= static_cast<uint8_t>(value << shift);
            } else {
                const uint64_t perPixel = bitsPerPixel / 8;
                if (perPixel < 4 && value >> (8 * perPixel) != 0) {
                    Misuse("pixel value over the bitmap's depth");
                }
                for (uint64_t i = 0; i < perPixel; ++i) {
                    bytes[x * perPixel + i] = static_cast<uint8_t>(value >> (8 * i));
                }
            }
        }
        AppendBytes(image, bytes.data(), bytes.size());
    }
    return image;
}
