// The old and new byte layouts of the fifteen kinds of content records, as
// tables of field copies. Files that arrived in an older resource file format
// hold their records in the old layout; each table says where every field stands
// in the old record, where it goes in the new one and how it is copied.
//
// The general change: a long string or a text that follows a short string
// begins one byte later in the new layout, at an even offset behind a zero byte,
// and the padding byte that used to bring the next number to an even offset
// goes. Three kinds keep their layout and are only rebuilt field by field, so
// that padding and the rest of each string field behind its characters become
// zero.
#pragma once

#include <cstdint>
#include <span>

enum class FieldKind : uint8_t {
    kBytes,             // numbers and blocks, copied unchanged
    kString,            // a length byte and that many characters, in a field of fixed size
    kText,              // characters up to a zero
    kTextWithoutFirst,  // a text that loses its first character
};

// A text whose old field runs to its zero, wherever that lies in the record.
constexpr uint16_t kToRecordEnd = 0xFFFF;

// One field: oldSize bytes at oldOffset of the old record become newSize bytes
// at newOffset of the new one. Bytes and strings keep their size.
struct FieldCopy {
    FieldKind kind;
    uint16_t oldOffset;
    uint16_t oldSize;
    uint16_t newOffset;
    uint16_t newSize;
};

struct RecordLayout {
    uint32_t type;
    std::span<const FieldCopy> fields;
    // The size of the new record; for a record with entries, the size of its
    // head, which is the same in both layouts.
    uint16_t newSize;
    // Records with a list of entries: the head ends with a signed 16-bit entry
    // count at countOffset, and the entries follow it, each laid out by
    // entryFields relative to its own start. entryFields is empty otherwise.
    uint16_t countOffset;
    std::span<const FieldCopy> entryFields;
    uint16_t oldEntrySize;
    uint16_t newEntrySize;
};

// The fifteen layouts, in the order in which a file's records are converted.
std::span<const RecordLayout> RecordLayouts();
