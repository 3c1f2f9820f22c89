#include "update/record_rebuild.h"

#include <algorithm>
#include <cstring>

#include "support/byte_order.h"

namespace {

struct OldRecord {
    const uint8_t *data;
    uint32_t size;
};

// The characters of a text in [from, from + length) up to its zero, without
// the first one when asked, cut to what fits a field of newSize with its zero.
bool CopyText(const uint8_t *from, uint32_t length, bool dropFirst, uint16_t newSize, uint8_t *to) {
    const void *zero = std::memchr(from, 0, length);
    if (zero == nullptr) return false;
    uint32_t count = static_cast<uint32_t>(static_cast<const uint8_t *>(zero) - from);
    uint32_t skip = dropFirst && count > 0 ? 1 : 0;
    std::memcpy(to, from + skip, std::min<uint32_t>(count - skip, newSize - 1u));
    return true;
}

// Copies one field of the record part that starts at oldBase into the new
// record part at to.
bool CopyField(const FieldCopy &field, const OldRecord &old, uint32_t oldBase, uint8_t *to) {
    uint64_t start = uint64_t{oldBase} + field.oldOffset;
    if (start > old.size) return false;
    uint64_t length = field.oldSize == kToRecordEnd ? old.size - start : field.oldSize;
    if (!RangeInside(start, length, old.size)) return false;
    const uint8_t *from = old.data + start;
    to += field.newOffset;
    if (field.kind == FieldKind::kBytes) {
        std::memcpy(to, from, field.newSize);
        return true;
    }
    if (field.kind == FieldKind::kString) {
        if (from[0] >= field.oldSize) return false;
        std::memcpy(to, from, 1u + from[0]);
        return true;
    }
    return CopyText(from, static_cast<uint32_t>(length), field.kind == FieldKind::kTextWithoutFirst,
                    field.newSize, to);
}

bool CopyFields(std::span<const FieldCopy> fields, const OldRecord &old, uint32_t oldBase,
                uint8_t *to) {
    return std::all_of(fields.begin(), fields.end(),
                       [&](const FieldCopy &field) { return CopyField(field, old, oldBase, to); });
}

// The number of entries of a record with entries (0 for one without), checked
// against the record before any size is computed from it; -1 when the record
// cannot hold them.
int32_t CountEntries(const RecordLayout &layout, const OldRecord &old) {
    if (layout.entryFields.empty()) return 0;
    if (!RangeInside(layout.countOffset, 2, old.size)) return -1;
    int16_t count = LoadI16(old.data + layout.countOffset);
    if (count < 0) return -1;
    uint64_t needed = layout.newSize + uint64_t{layout.oldEntrySize} * static_cast<uint32_t>(count);
    return needed > old.size ? -1 : count;
}

}  // namespace

Handle BuildNewRecord(const RecordLayout &layout, Handle old) {
    OldRecord record = {old != nullptr ? *old : nullptr, static_cast<uint32_t>(GetHandleSize(old))};
    int32_t entries = CountEntries(layout, record);
    if (entries < 0) return nullptr;
    // The entries lie in the old record, so this stays well inside 32 bits.
    uint32_t newSize = layout.newSize + layout.newEntrySize * static_cast<uint32_t>(entries);
    // A new Handle's data is zero-filled: every byte that no field writes stays 0.
    Handle fresh = NewHandle(static_cast<int32_t>(newSize));
    if (fresh == nullptr) return nullptr;
    bool ok = CopyFields(layout.fields, record, 0, *fresh);
    for (uint32_t i = 0; ok && i < static_cast<uint32_t>(entries); ++i) {
        ok = CopyFields(layout.entryFields, record, layout.newSize + layout.oldEntrySize * i,
                        *fresh + layout.newSize + layout.newEntrySize * i);
    }
    if (!ok) {
        DisposeHandle(fresh);
        return nullptr;
    }
    return fresh;
}
