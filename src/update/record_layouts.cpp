#include "update/record_layouts.h"

#include "support/byte_order.h"

namespace {

constexpr uint16_t kShort = 33;  // a short string field: length byte 0 to 32 and characters
constexpr uint16_t kLong = 256;  // a long string field (a Str255)

constexpr FieldCopy Bytes(uint16_t oldOffset, uint16_t newOffset, uint16_t size) {
    return {FieldKind::kBytes, oldOffset, size, newOffset, size};
}
constexpr FieldCopy String(uint16_t oldOffset, uint16_t newOffset, uint16_t size) {
    return {FieldKind::kString, oldOffset, size, newOffset, size};
}
constexpr FieldCopy Text(uint16_t oldOffset, uint16_t oldSize, uint16_t newOffset,
                         uint16_t newSize) {
    return {FieldKind::kText, oldOffset, oldSize, newOffset, newSize};
}
constexpr FieldCopy TextWithoutFirst(uint16_t oldOffset, uint16_t oldSize, uint16_t newOffset) {
    return {FieldKind::kTextWithoutFirst, oldOffset, oldSize, newOffset, 512};
}

// A name and a text that ends the old record; the text moves behind a zero byte.
constexpr FieldCopy kNameAndLongText[] = {String(0, 0, kShort), Text(33, kToRecordEnd, 34, 512)};
constexpr FieldCopy kNameAndText[] = {String(0, 0, kShort), Text(33, kToRecordEnd, 34, 256)};

// A name, a text of 512 and a long string, all moved one byte on; the padding
// at 801 goes, the 16-bit value stays at 802.
constexpr FieldCopy kNameTextAndString[] = {String(0, 0, kShort), Text(33, 512, 34, 512),
                                            String(545, 546, kLong), Bytes(802, 802, 2)};

// A head (name, two long strings) and two entries (short string, long string,
// 32-bit value); each long string run moves one byte on and loses the padding
// behind it.
constexpr FieldCopy kHeadAndTwoEntries[] = {
    String(0, 0, kShort),     String(33, 34, kLong),   String(289, 290, kLong),
    String(546, 546, kShort), String(579, 580, kLong), Bytes(836, 836, 4),
    String(840, 840, kShort), String(873, 874, kLong), Bytes(1130, 1130, 4)};

// The old text from 33 to 545, in front of a 16-bit value at 546; the new text
// loses its first character.
constexpr FieldCopy kNameAndShortenedText[] = {String(0, 0, kShort), TextWithoutFirst(33, 513, 34),
                                               Bytes(546, 546, 2)};
constexpr FieldCopy kNameAndShortenedLastText[] = {String(0, 0, kShort),
                                                   TextWithoutFirst(33, kToRecordEnd, 34)};

// Unchanged layouts; runs of numbers and blocks stand as one copy each.
constexpr FieldCopy kEggIFields[] = {
    String(0, 0, kLong), Bytes(256, 256, 42),       // 16-, 32-, 32-bit values, two blocks of 16
    String(298, 298, kShort), Bytes(332, 332, 10),  // 32-, 32-, 16-bit values behind a padding byte
};
constexpr FieldCopy kFshIFields[] = {
    String(0, 0, kLong),      Bytes(256, 256, 5),  // 32- and 8-bit values
    Bytes(262, 262, 66),  // values and blocks from 262 to 327, behind a padding byte
    String(328, 328, kShort), Bytes(362, 362, 26),  // values from 362 to 387, behind a padding byte
};
constexpr FieldCopy kSicIFields[] = {Bytes(0, 0, 1), Bytes(2, 2, 6)};

// Heads of records with entries: the last four bytes are a 16-bit value and the
// entry count.
constexpr FieldCopy kShortHead[] = {String(0, 0, kShort), String(33, 33, kShort), Bytes(66, 66, 4)};
constexpr FieldCopy kFsTHHead[] = {String(0, 0, kShort), String(33, 33, kShort),
                                   Text(66, 256, 66, 256), Text(322, 256, 322, 256),
                                   Bytes(578, 578, 4)};
// An entry: a short string and a text of 512 moved behind a zero byte.
constexpr FieldCopy kEntry[] = {String(0, 0, kShort), Text(33, 512, 34, 512)};

constexpr RecordLayout Plain(const char (&code)[5], std::span<const FieldCopy> fields,
                             uint16_t newSize) {
    return {ResTypeOf(code), fields, newSize, 0, {}, 0, 0};
}
constexpr RecordLayout WithEntries(const char (&code)[5], std::span<const FieldCopy> head,
                                   uint16_t headSize) {
    return {ResTypeOf(code), head, headSize, static_cast<uint16_t>(headSize - 2), kEntry, 545, 546};
}

constexpr RecordLayout kLayouts[] = {
    Plain("AccH", kNameAndLongText, 546),
    Plain("FltH", kNameAndLongText, 546),
    Plain("HtrH", kNameAndLongText, 546),
    Plain("PlPH", kNameAndText, 290),
    Plain("DrgH", kNameTextAndString, 804),
    Plain("EggH", kHeadAndTwoEntries, 1134),
    Plain("FshH", kHeadAndTwoEntries, 1134),
    Plain("EggI", kEggIFields, 342),
    Plain("FshI", kFshIFields, 388),
    Plain("Fd_H", kNameAndShortenedText, 548),
    Plain("FdHd", kNameAndShortenedLastText, 546),
    Plain("SicI", kSicIFields, 8),
    WithEntries("SicH", kShortHead, 70),
    WithEntries("PlTH", kShortHead, 70),
    WithEntries("FsTH", kFsTHHead, 582),
};

}  // namespace

std::span<const RecordLayout> RecordLayouts() {
    return kLayouts;
}
