// Writes into a resource file that can be taken back. Before each write the bytes
// it will cover are saved; when a later step fails, the saved bytes are written
// back in reverse order and the file is cut to its old size, so a failed update
// leaves the file as it was.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct UndoEntry;

// Bytes of the old file that the caller holds in memory already.
struct UndoKnownBytes {
    const uint8_t *bytes;
    uint32_t offset;
    uint32_t count;
};

struct FileUndo {
    FileHandle file;
    uint32_t oldSize;
    uint32_t size;    // of the file with every write so far
    UndoEntry *last;  // the most recent write first
    UndoKnownBytes known[3];
    uint32_t knownCount;
};

// Starts recording writes to file, whose size is fileSize when the caller knows
// it (kPlatformFailure: ask the platform). False when the size cannot be had.
bool UndoBegin(FileUndo *undo, FileHandle file, uint32_t fileSize = kPlatformFailure);
// Tells the undo that the old file holds bytes at [offset, offset + count), so
// that a write over them saves them from there instead of reading them. The
// bytes must stay as they are until the undo is committed or rolled back. Only
// the first few ranges are taken; the rest are read as usual.
void UndoKnowBytes(FileUndo *undo, const uint8_t *bytes, uint32_t offset, uint32_t count);
// Saves the bytes that [offset, offset + count) covers inside the old file, then
// writes. False, with nothing written, when the bytes cannot be saved; false when
// the write fails (the saved bytes are kept for the rollback).
bool UndoableWrite(FileUndo *undo, const void *buffer, uint32_t offset, uint32_t count);
// Puts the saved bytes back and cuts the file to its old size, as far as the
// platform lets it: a failure here has no better way out, so there is no result.
void UndoRollback(FileUndo *undo);
// Keeps what was written and forgets the saved bytes. With cutTo not 0, the file
// is first cut to cutTo bytes when it is longer (its size follows from the old
// size and the writes); when that fails, everything is rolled back and the
// result is false.
bool UndoCommit(FileUndo *undo, uint32_t cutTo);
