#include "platform/fault_platform.h"

const char *PlatformOpName(PlatformOp op) {
    static const char *const names[] = {"open",   "read", "write",      "seek", "close",
                                        "delete", "move", "free space", "size", "truncate"};
    return op < PlatformOp::Count ? names[static_cast<int>(op)] : "allocation";
}

void FaultPlatform::FailNth(PlatformOp op, uint32_t n, bool persistent) {
    if (op >= PlatformOp::Count) return;
    plans_[Index(op)].failAt = n;
    plans_[Index(op)].persistent = persistent;
}

void FaultPlatform::ShortNth(PlatformOp op, uint32_t n, uint32_t bytes) {
    if (op != PlatformOp::Read && op != PlatformOp::Write) return;
    plans_[Index(op)].shortAt = n;
    plans_[Index(op)].shortBytes = bytes;
}

void FaultPlatform::Reset() {
    for (Plan &plan : plans_)
        plan = Plan();
    for (uint32_t &calls : calls_)
        calls = 0;
    fired_ = haveFreeSpace_ = failStamps_ = false;
    stampCalls_ = 0;
    for (int op = 0; op < static_cast<int>(GraphicsOp::Count); ++op) {
        graphicsFails_[op] = false;
        graphicsCalls_[op] = 0;
    }
    readSizes_.clear();
    writeSizes_.clear();
}

bool FaultPlatform::Count(PlatformOp op) {
    const uint32_t call = ++calls_[Index(op)];
    const Plan &plan = plans_[Index(op)];
    const bool fails =
        plan.failAt != 0 && (call == plan.failAt || (plan.persistent && call > plan.failAt));
    fired_ = fired_ || fails;
    return fails;
}

uint32_t FaultPlatform::Cut(PlatformOp op, uint32_t count) {
    const Plan &plan = plans_[Index(op)];
    if (plan.shortAt == 0 || calls_[Index(op)] != plan.shortAt || plan.shortBytes >= count) {
        return count;
    }
    fired_ = true;
    return plan.shortBytes;
}

// A faked failure of a read or write moves nothing.
bool FaultPlatform::FileRead(FileHandle file, void *buffer, uint32_t count, uint32_t *done) {
    readSizes_.push_back(count);
    if (!Count(PlatformOp::Read))
        return PlatformWrapper::FileRead(file, buffer, Cut(PlatformOp::Read, count), done);
    if (done != nullptr) *done = 0;
    return false;
}

bool FaultPlatform::FileWrite(FileHandle file, const void *buffer, uint32_t count, uint32_t *done) {
    writeSizes_.push_back(count);
    if (!Count(PlatformOp::Write))
        return PlatformWrapper::FileWrite(file, buffer, Cut(PlatformOp::Write, count), done);
    if (done != nullptr) *done = 0;
    return false;
}

bool FaultPlatform::DiskFreeBytes(const char *path, uint64_t *freeBytes) {
    if (Count(PlatformOp::FreeSpace)) return false;
    if (!haveFreeSpace_) return PlatformWrapper::DiskFreeBytes(path, freeBytes);
    if (freeBytes != nullptr) *freeBytes = freeSpace_;
    return freeBytes != nullptr;
}

bool FaultPlatform::ModuleBitmapFind(const char *name, const uint8_t **data, uint32_t *size) {
    return !CountGraphics(GraphicsOp::Bitmap) &&
           PlatformWrapper::ModuleBitmapFind(name, data, size);
}

PaletteHandle FaultPlatform::PaletteCreate(const PaletteEntry *entries, uint32_t count) {
    if (CountGraphics(GraphicsOp::Palette)) return kNoPalette;
    return PlatformWrapper::PaletteCreate(entries, count);
}

int32_t FaultPlatform::StretchModeSet(DeviceContext dc, int32_t mode) {
    return CountGraphics(GraphicsOp::StretchMode) ? 0 : PlatformWrapper::StretchModeSet(dc, mode);
}

bool FaultPlatform::WindowClientRect(WindowHandle window, PlatformRect *rect) {
    return !CountGraphics(GraphicsOp::ClientRect) &&
           PlatformWrapper::WindowClientRect(window, rect);
}

int32_t FaultPlatform::BitmapStretch(DeviceContext dc, const StretchRequest &request) {
    if (CountGraphics(GraphicsOp::Stretch)) return kStretchFailed;
    return PlatformWrapper::BitmapStretch(dc, request);
}
