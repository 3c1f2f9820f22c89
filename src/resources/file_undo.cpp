#include "resources/file_undo.h"

#include <cstring>

#include "resources/handles.h"
#include "support/file_io.h"

struct UndoEntry {
    UndoEntry *previous;
    uint32_t offset;
    uint32_t count;
    const uint8_t *saved;  // behind the entry, or bytes the caller holds
};

namespace {

// The saved bytes of [offset, offset + count) of the old file: from bytes the
// caller holds when they cover the range, else read behind the entry.
UndoEntry *SaveBytes(const FileUndo &undo, uint32_t offset, uint32_t count) {
    const uint8_t *held = nullptr;
    for (uint32_t i = 0; i < undo.knownCount && held == nullptr; ++i) {
        const UndoKnownBytes &known = undo.known[i];
        if (offset >= known.offset &&
            uint64_t{offset} + count <= uint64_t{known.offset} + known.count)
            held = known.bytes + (offset - known.offset);
    }
    uint32_t own = held != nullptr ? 0 : count;
    auto *entry = static_cast<UndoEntry *>(NewPointer(sizeof(UndoEntry) + own));
    if (entry == nullptr) return nullptr;
    entry->offset = offset;
    entry->count = count;
    entry->saved = held != nullptr ? held : reinterpret_cast<uint8_t *>(entry + 1);
    if (own > 0 && !ReadAt(undo.file, entry + 1, offset, own)) {
        DisposePointer(entry);
        return nullptr;
    }
    return entry;
}

void FreeEntries(FileUndo *undo) {
    while (undo->last != nullptr) {
        UndoEntry *previous = undo->last->previous;
        DisposePointer(undo->last);
        undo->last = previous;
    }
}

}  // namespace

bool UndoBegin(FileUndo *undo, FileHandle file, uint32_t fileSize) {
    undo->file = file;
    undo->last = nullptr;
    undo->knownCount = 0;
    undo->oldSize = fileSize != kPlatformFailure ? fileSize : PlatformFileSize(file);
    undo->size = undo->oldSize;
    return undo->oldSize != kPlatformFailure;
}

void UndoKnowBytes(FileUndo *undo, const uint8_t *bytes, uint32_t offset, uint32_t count) {
    constexpr uint32_t kRanges = sizeof undo->known / sizeof undo->known[0];
    if (undo->knownCount < kRanges) undo->known[undo->knownCount++] = {bytes, offset, count};
}

bool UndoableWrite(FileUndo *undo, const void *buffer, uint32_t offset, uint32_t count) {
    uint32_t saved = 0;
    if (offset < undo->oldSize) {
        saved = undo->oldSize - offset < count ? undo->oldSize - offset : count;
    }
    UndoEntry *entry = SaveBytes(*undo, offset, saved);
    if (entry == nullptr) return false;
    entry->previous = undo->last;
    undo->last = entry;
    if (WriteAt(undo->file, buffer, offset, count) != 1) return false;
    if (uint64_t{offset} + count > undo->size) undo->size = offset + count;
    return true;
}

void UndoRollback(FileUndo *undo) {
    for (UndoEntry *entry = undo->last; entry != nullptr; entry = entry->previous) {
        if (entry->count > 0) WriteAt(undo->file, entry->saved, entry->offset, entry->count);
    }
    FreeEntries(undo);
    // Writes never shrink the file, so when its size cannot be had it is cut
    // all the same: whatever lies beyond the old size was written since.
    uint32_t size = PlatformFileSize(undo->file);
    if (size == kPlatformFailure || size > undo->oldSize)
        PlatformFileTruncate(undo->file, undo->oldSize);
}

bool UndoCommit(FileUndo *undo, uint32_t cutTo) {
    if (cutTo != 0) {
        if (undo->size > cutTo && !PlatformFileTruncate(undo->file, cutTo)) {
            UndoRollback(undo);
            return false;
        }
    }
    FreeEntries(undo);
    return true;
}
