#include "resources/block_copier.h"

#include <algorithm>

#include "resources/handles.h"
#include "support/byte_order.h"
#include "support/file_io.h"

BlockCopier::BlockCopier(FileHandle source, FileHandle destination, uint32_t areaStart,
                         uint32_t areaEnd)
    : source_(source),
      destination_(destination),
      areaStart_(areaStart),
      areaEnd_(std::max(areaStart, areaEnd)),
      capacity_(std::min(areaEnd_ - areaStart_, kCopyChunk)) {
    buffer_ = capacity_ > 0 ? static_cast<uint8_t *>(NewPointer(capacity_)) : nullptr;
}

BlockCopier::~BlockCopier() {
    if (buffer_ != nullptr) DisposePointer(buffer_);
}

bool BlockCopier::Flush() {
    if (used_ > written_ &&
        !WriteAt(destination_, buffer_ + written_, to_ + written_, used_ - written_)) {
        return false;
    }
    written_ = used_;
    return true;
}

bool BlockCopier::Refill(uint32_t from, uint32_t to, uint64_t need, uint64_t want) {
    uint64_t reach = std::min<uint64_t>(uint64_t{from} + capacity_, areaEnd_);
    uint64_t end = std::min(std::max(need, want), reach);
    start_ = from;
    to_ = to;
    filled_ = written_ = used_ = 0;
    if (end < need || end <= from) return false;
    if (!ReadAt(source_, buffer_, from, static_cast<uint32_t>(end - from))) return false;
    filled_ = static_cast<uint32_t>(end - from);
    return true;
}

bool BlockCopier::Copy(int32_t offset, uint32_t to, uint32_t ahead, uint32_t *count) {
    if (buffer_ == nullptr || offset < 0) return false;
    uint64_t at = uint64_t{areaStart_} + static_cast<uint32_t>(offset);
    if (at + 4 > areaEnd_) return false;
    uint64_t wanted = std::max(at + 4, uint64_t{areaStart_} + ahead);
    // A block that starts where the last one ended, in both files, joins the
    // bytes held; any other starts afresh.
    bool follows = at == uint64_t{start_} + used_ && uint64_t{to} == uint64_t{to_} + used_;
    if (!follows) {
        if (!Flush()) return false;
        start_ = static_cast<uint32_t>(at);
        to_ = to;
        filled_ = written_ = used_ = 0;
    }
    if (at + 4 > uint64_t{start_} + filled_) {
        if (!Flush() || !Refill(static_cast<uint32_t>(at), to, at + 4, wanted)) return false;
    }
    uint32_t bytes = LoadU32(buffer_ + (at - start_));
    uint64_t end = at + 4 + bytes;
    if (uint64_t{to} + 4 + bytes > 0xFFFFFFFFu) return false;
    // The rest of a block longer than the bytes held comes in pieces as large as
    // the buffer; as nothing is read beyond the data area, a block that runs past
    // it fails there.
    while (end > uint64_t{start_} + filled_) {
        used_ = filled_;
        uint32_t from = start_ + filled_;
        uint32_t next = to_ + filled_;
        if (!Flush() ||
            !Refill(from, next, std::min(end, uint64_t{from} + capacity_), std::max(end, wanted))) {
            return false;
        }
    }
    used_ = static_cast<uint32_t>(end - start_);
    *count = bytes;
    return true;
}

bool BlockCopier::Finish() {
    return Flush();
}
