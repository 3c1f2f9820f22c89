// Copying data blocks (a 32-bit byte count and that many bytes) from the data
// area of one file into another through one buffer of at most kCopyChunk bytes.
// Blocks that follow one another in the old file and go one behind the other
// into the new one travel together, in reads and writes as large as the buffer.
#pragma once

#include <cstdint>

#include "platform/platform.h"

class BlockCopier {
  public:
    // Copies from the data area [areaStart, areaEnd) of source (file offsets)
    // into destination. The buffer comes from the pool, the smaller of
    // kCopyChunk and the area.
    BlockCopier(FileHandle source, FileHandle destination, uint32_t areaStart, uint32_t areaEnd);
    ~BlockCopier();
    BlockCopier(const BlockCopier &) = delete;
    BlockCopier &operator=(const BlockCopier &) = delete;

    // False when there was no memory for the buffer.
    bool Ready() const { return buffer_ != nullptr; }

    // Copies the block whose byte count lies at offset (from the start of the
    // data area) to destination offset to; *count receives its byte count. The
    // block must lie inside the data area. ahead is an offset in the data area up
    // to which the blocks that come next are expected to follow this one: bytes
    // up to it may be read with it. Bytes may stay in the buffer until the next
    // call or Finish. False when the block does not lie inside the area or a read
    // or write fails.
    bool Copy(int32_t offset, uint32_t to, uint32_t ahead, uint32_t *count);
    // Writes the bytes still held. False when that fails.
    bool Finish();

  private:
    // Writes the buffer's bytes up to the end of the last block copied.
    bool Flush();
    // Drops the bytes of the buffer and reads from the file offset from on, at
    // least up to need and at most up to want (both within the buffer's reach
    // and the area); the bytes go to destination offset to.
    bool Refill(uint32_t from, uint32_t to, uint64_t need, uint64_t want);

    FileHandle source_;
    FileHandle destination_;
    uint32_t areaStart_;
    uint32_t areaEnd_;
    uint8_t *buffer_;
    uint32_t capacity_;
    uint32_t start_ = 0;    // the file offset of the buffer's first byte
    uint32_t to_ = 0;       // where the buffer's first byte goes in destination
    uint32_t filled_ = 0;   // bytes read into the buffer
    uint32_t written_ = 0;  // bytes of the buffer written to destination
    uint32_t used_ = 0;     // bytes of the buffer that belong to blocks copied
};
