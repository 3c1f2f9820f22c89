// rezkit: an independent writer and strict reader of resource files.
//
// The kit shares no code with the library's Resource Manager (it includes
// nothing from src/) and knows the format only from doc/format.md, with its own
// little-endian helpers. The tests describe files here and BuildResourceFile
// lays them down byte by byte, in layout 1500, 1100 or 1000; files that the
// library writes are checked with ParseResourceFile. A mistake in the library's
// reading or writing therefore shows up as a disagreement instead of cancelling
// itself out. The demo data and the inspector are built on the kit as well.
//
// Misusing the builder (a name longer than 255 characters, an offset that does
// not fit its field, a run order that is not a permutation, ...) is a fault of
// the caller, not of a file: the builder says so on standard error and aborts,
// so that nothing runs on a file other than the one it described.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A four-character resource type as its 32-bit value, the first character in the
// most significant byte: FourCC("PICT") is 0x50494354. In a file the value is
// stored little-endian, so "PICT" appears as the bytes 54 43 49 50.
constexpr uint32_t FourCC(const char (&code)[5]) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(code[0])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 8) |
           static_cast<uint32_t>(static_cast<uint8_t>(code[3]));
}

// "PICT" for 0x50494354; a type with characters outside printable ASCII is shown
// as 0x%08X.
std::string TypeName(uint32_t type);

// One resource of a described file.
struct FixtureResource {
    int16_t id = 0;
    // No name when unset. In layout 1500 an empty string is stored as a real name
    // of length 0 with its own place in the name list; in layouts 1100 and 1000 a
    // length byte of 0 means "no name", so "" and no name are the same there.
    std::optional<std::string> name{};
    std::vector<uint8_t> data{};
    // Attribute bits: 0x02 changed, 0x04 preload; others are carried as given.
    uint8_t attributes = 0;
    // The reference entry's handle slot. Files the library writes hold 0 here.
    uint32_t handleSlot = 0;
    // Where the resource's block starts, counted from the start of the data area.
    // When unset the builder writes the block (byte count and data) into the data
    // area and points the entry at it. When set, the builder writes no block for
    // this resource and stores the offset as it is (in layout 1500 it must fit
    // the 24-bit field; bit 23 may be set), so that entries can share a block or point anywhere at
    // all; `data` is then ignored. The parser always fills it in.
    std::optional<uint32_t> dataOffset{};
};

// One type of a described file, with its resources in the order of its
// reference run. A type without resources gets the count field -1.
struct FixtureType {
    uint32_t type = 0;
    std::vector<FixtureResource> resources{};
};

// Builders for files written by hand: a resource, and a type of resources.
inline FixtureResource Res(int16_t id, std::optional<std::string> name,
                           std::vector<uint8_t> data = {}, uint8_t attributes = 0,
                           uint32_t handleSlot = 0) {
    return {id, std::move(name), std::move(data), attributes, handleSlot};
}
inline FixtureType Type(const char (&code)[5], std::vector<FixtureResource> resources) {
    return {FourCC(code), std::move(resources)};
}

// A whole resource file. Fields that a layout does not store are ignored when
// building it and left at their defaults when parsing it.
struct FixtureFile {
    // 1500, 1100 or 1000.
    int layout = 1500;

    // Info block of layout 1500: the kind code, the four 16-bit values behind the
    // format version, the dead-bytes counter and the conversion-pending flag. The
    // defaults are those of a file created empty.
    uint32_t kind = FourCC("XXXX");
    std::array<uint16_t, 4> infoValues = {1, 2, 1, 0};
    int32_t deadBytes = 0;
    uint8_t conversionPending = 0;

    // The reserved fields at map offsets 16, 20 and 22 (all layouts).
    uint32_t mapReserved32 = 0;
    uint16_t mapReserved16a = 0;
    uint16_t mapReserved16b = 0;

    // Bytes placed at the start of the data area that no entry uses: dead bytes
    // left behind by removals and rewrites. The parser returns here every byte of
    // the data area that no entry's block covers, in file order.
    std::vector<uint8_t> deadData{};

    // The types in type-list order. The data blocks follow in this order too: the
    // first type's resources in run order, then the next type's.
    std::vector<FixtureType> types{};

    // The order in which the types' reference runs stand in the reference area,
    // as indices into `types`; empty means type-list order. It must name every
    // type once. A type without resources takes no room; its offset field holds
    // the place where its run would begin. The parser leaves this empty when the
    // runs stand in type-list order, and otherwise lists the types with
    // resources by the place of their runs, followed by the types without.
    std::vector<size_t> runOrder{};

    // Layouts 1100 and 1000 hold a name in a 64-byte field: a length byte and
    // room for 63 characters. A longer name is normally cut to 63 characters with
    // the length byte 63, as the library itself would store it. With this set,
    // the length byte keeps the name's true length (up to 255) while only its
    // first 63 characters are written, which models an old file whose length
    // byte claims more than the field holds.
    bool longNameLengths = false;
};

// Lays the described file down byte by byte. The data area starts at 256 and the
// map follows it directly, so the map offset is 256 + data length and the map
// runs to the end of the file.
std::vector<uint8_t> BuildResourceFile(const FixtureFile &file);

// One broken rule of a file: the file offset of the field, entry, name or block
// that breaks it, and what is wrong there.
struct Violation {
    uint64_t offset = 0;
    std::string what;
    // True for the rules that every reader relies on and every file the system
    // writes keeps. False for the rules of good order that a file in use may
    // break for a while without harm to a reader: a dead-bytes counter outside
    // 0 to the size of the data area (the library replaces a negative one at its
    // next raise), a conversion-pending flag other than 0 or 1, and one block
    // used by two entries of which neither is marked changed.
    bool strict = true;
};

// Checks a file in whichever layout it is (recognised as the library does: the
// number 1500 at offset 20, else the text "Version 2.0 Resource File" at offset
// 16, else layout 1000) against every rule of its layout, and returns each
// violation found, ordered by offset; none for a sound file. The strict rules:
//  - the header: data offset 256, map offset = 256 + data length, data area and
//    map inside the file, the map ending at the end of the file, the map's
//    header copy equal to the header;
//  - layout 1500: bytes 37 to 255 of the info block zero; type-list offset 30;
//    name-list offset = 30 + 8 x types + 12 x references; map length = that +
//    the size of the names; counts not below -1; reference runs that lie in
//    the reference area and together tile it exactly; every name offset -1 or
//    inside the name list, each name used by exactly one entry and the names
//    tiling the name list; data offsets with bit 23 clear;
//  - layout 1100: the text followed by zeros up to 255; type-list offset 34; end
//    of references = map length = 34 + 10 x types + 78 x references; runs
//    tiling; name offsets -1; name lengths at most 63;
//  - layout 1000: type-list offset 30; map length = 30 + 8 x types + 78 x
//    references; runs tiling; name lengths at most 63;
//  - every entry's block (byte count and data) inside the data area, and no two
//    blocks overlapping unless they are the same block.
// The check goes on past a violation as far as the file can still be read:
// a broken header copy or name does not hide a block out of range. out (may be
// null) receives what could be read; layout 0 for a file too short to tell,
// and when strict rules are broken, parts may be missing (entries of runs out
// of range, names out of range, data of blocks out of range, data offsets of
// entries that could not be found).
std::vector<Violation> CheckResourceFile(const std::vector<uint8_t> &bytes, FixtureFile *out);

// CheckResourceFile for files that must be sound: true when no strict rule is
// broken, with the file in *out; false with the first violation and its offset
// in *why. Entries may share blocks, and blocks need not tile the data area.
// out and why may be null.
bool ParseResourceFile(const std::vector<uint8_t> &bytes, FixtureFile *out, std::string *why);

// One resource as a flat record, for comparing the content of two files without
// regard to the order of types or the place of blocks.
struct FlatResource {
    uint32_t type = 0;
    int16_t id = 0;
    std::optional<std::string> name;
    std::vector<uint8_t> data;
    uint8_t attributes = 0;
    bool operator==(const FlatResource &) const = default;
};
std::ostream &operator<<(std::ostream &out, const FlatResource &resource);

// The resources of a file, one record each. With sorted, ordered by type and id
// (entries of equal type and id keep their file order); else in the order in
// which the reference entries stand in the map. Names are given as the file's
// layout stores them. Resources given by dataOffset carry the data of the
// description, which the builder ignores, so compare those only from parsed
// files.
std::vector<FlatResource> FlatResources(const FixtureFile &file, bool sorted = true);

// A readable, line-by-line description of everything a file stores in its layout
// (data shown by length, checksum and first bytes; data offsets left out), so
// that EXPECT_EQ(DescribeFile(a), DescribeFile(b)) fails with a useful diff.
std::string DescribeFile(const FixtureFile &file);

// Little-endian fields of a byte vector, for reading and damaging files in
// tests. An access past the end of the vector aborts with a message.
uint16_t GetU16(const std::vector<uint8_t> &bytes, size_t offset);
uint32_t GetU32(const std::vector<uint8_t> &bytes, size_t offset);
int16_t GetI16(const std::vector<uint8_t> &bytes, size_t offset);
int32_t GetI32(const std::vector<uint8_t> &bytes, size_t offset);
void PutU16(std::vector<uint8_t> &bytes, size_t offset, uint16_t value);
void PutU32(std::vector<uint8_t> &bytes, size_t offset, uint32_t value);
void PutI16(std::vector<uint8_t> &bytes, size_t offset, int16_t value);
void PutI32(std::vector<uint8_t> &bytes, size_t offset, int32_t value);

// Fields of the file header (offsets 0, 4, 8, 12).
uint32_t MapOffsetOf(const std::vector<uint8_t> &bytes);
uint32_t DataLengthOf(const std::vector<uint8_t> &bytes);
uint32_t MapLengthOf(const std::vector<uint8_t> &bytes);

// The layout of a file as the library recognises it: 1500, 1100 or 1000.
int LayoutOf(const std::vector<uint8_t> &bytes);

// File offsets of map parts, read from the file's own fields (so they follow a
// file built with a run order, or one the library wrote), in the file's layout:
//  - TypeEntryOffset: the typeIndex-th type entry;
//  - ReferenceEntryOffset: the refIndex-th reference entry of that type's run;
//  - NameListOffset: the start of the name list (layout 1500 only);
//  - DataBlockOffset: the byte count of the block that the reference entry
//    points at.
// They read fields of a well-formed file and do not check counts.
size_t TypeEntryOffset(const std::vector<uint8_t> &bytes, size_t typeIndex);
size_t ReferenceEntryOffset(const std::vector<uint8_t> &bytes, size_t typeIndex, size_t refIndex);
size_t NameListOffset(const std::vector<uint8_t> &bytes);
size_t DataBlockOffset(const std::vector<uint8_t> &bytes, size_t typeIndex, size_t refIndex);

// Device-independent bitmap file images, the data of picture resources.
struct FixtureColour {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    bool operator==(const FixtureColour &) const = default;
};

// A bitmap file image: the 14-byte file header ('B', 'M', file size, 0, pixel
// offset 14 + 40 + 4 x colours), the 40-byte information header (width, height,
// 1 plane, the depth, no compression, image size, resolution 0, colours used =
// palette size, 0 important), the colour table (blue, green, red, 0 each) and the
// pixel rows, each padded to a multiple of 4 bytes, bottom row first (top row
// first when height is negative). pixels holds one value per pixel, top row
// first, left to right: a colour-table index at up to 8 bits per pixel, else the
// pixel's bytes as a little-endian number (0xRRGGBB at 24 bits); depths 1, 4, 8,
// 16, 24 and 32 are accepted. For the library to read back a picture of up to 8
// bits per pixel as it was meant, give 2 to the power of the depth colours.
std::vector<uint8_t> BuildBitmapImage(int32_t width, int32_t height, uint16_t bitsPerPixel,
                                      const std::vector<FixtureColour> &palette,
                                      const std::vector<uint32_t> &pixels);
