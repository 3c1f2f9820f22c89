#include "resources/file_undo.h"

#include <cstring>

#include "resources/handles.h"
#include "support/file_io.h"

struct UndoEntry {
    UndoEntry *previous;
    uint32_t offset;
    uint32_t count;  // the saved bytes follow the entry
};

namespace {

uint8_t *SavedBytes(UndoEntry *entry) {
    return reinterpret_cast<uint8_t *>(entry + 1);
}

UndoEntry *SaveBytes(FileHandle file, uint32_t offset, uint32_t count) {
    auto *entry = static_cast<UndoEntry *>(NewPointer(sizeof(UndoEntry) + count));
    if (entry == nullptr) return nullptr;
    entry->offset = offset;
    entry->count = count;
    if (count > 0 && !ReadAt(file, SavedBytes(entry), offset, count)) {
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
    undo->oldSize = fileSize != kPlatformFailure ? fileSize : PlatformFileSize(file);
    return undo->oldSize != kPlatformFailure;
}

bool UndoableWrite(FileUndo *undo, const void *buffer, uint32_t offset, uint32_t count) {
    uint32_t saved = 0;
    if (offset < undo->oldSize) {
        saved = undo->oldSize - offset < count ? undo->oldSize - offset : count;
    }
    UndoEntry *entry = SaveBytes(undo->file, offset, saved);
    if (entry == nullptr) return false;
    entry->previous = undo->last;
    undo->last = entry;
    return WriteAt(undo->file, buffer, offset, count) == 1;
}

void UndoRollback(FileUndo *undo) {
    for (UndoEntry *entry = undo->last; entry != nullptr; entry = entry->previous) {
        if (entry->count > 0) WriteAt(undo->file, SavedBytes(entry), entry->offset, entry->count);
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
        uint32_t size = PlatformFileSize(undo->file);
        if (size == kPlatformFailure ||
            (size > cutTo && !PlatformFileTruncate(undo->file, cutTo))) {
            UndoRollback(undo);
            return false;
        }
    }
    FreeEntries(undo);
    return true;
}
