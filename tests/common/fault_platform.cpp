#include "common/fault_platform.h"

namespace {

int IndexOf(PlatformOp op) {
    return static_cast<int>(op);
}

}  // namespace

const char *PlatformOpName(PlatformOp op) {
    static const char *const names[] = {"open",  "read",     "write",     "seek",
                                        "close", "delete",   "move",      "free space",
                                        "size",  "truncate", "allocation"};
    return names[IndexOf(op)];
}

FaultPlatform::FaultPlatform() : PlatformWrapper(CurrentPlatform()), previous_(nullptr) {
    previous_ = SetPlatform(this);
}

FaultPlatform::~FaultPlatform() {
    SetPlatform(previous_);
}

void FaultPlatform::FailNth(PlatformOp op, uint32_t n, bool persistent) {
    if (op == PlatformOp::Count) return;
    Plan &plan = plans_[IndexOf(op)];
    plan.failAt = n;
    plan.persistent = n != 0 && persistent;
}

void FaultPlatform::ShortNth(PlatformOp op, uint32_t n, uint32_t bytes) {
    if (op != PlatformOp::Read && op != PlatformOp::Write) return;
    Plan &plan = plans_[IndexOf(op)];
    plan.shortAt = n;
    plan.shortBytes = n != 0 ? bytes : 0;
}

void FaultPlatform::SetFreeSpace(uint64_t bytes) {
    haveFreeSpace_ = true;
    freeSpace_ = bytes;
}

void FaultPlatform::ClearFreeSpace() {
    haveFreeSpace_ = false;
    freeSpace_ = 0;
}

void FaultPlatform::FailGraphics(GraphicsOp op, bool fail) {
    if (op != GraphicsOp::Count) graphicsFails_[static_cast<int>(op)] = fail;
}

uint32_t FaultPlatform::GraphicsCalls(GraphicsOp op) const {
    return op == GraphicsOp::Count ? 0 : graphicsCalls_[static_cast<int>(op)];
}

bool FaultPlatform::CountGraphics(GraphicsOp op) {
    ++graphicsCalls_[static_cast<int>(op)];
    return graphicsFails_[static_cast<int>(op)];
}

void FaultPlatform::Reset() {
    for (Plan &plan : plans_)
        plan = Plan();
    for (uint32_t &calls : calls_)
        calls = 0;
    fired_ = false;
    for (int op = 0; op < static_cast<int>(GraphicsOp::Count); ++op) {
        graphicsFails_[op] = false;
        graphicsCalls_[op] = 0;
    }
    ClearFreeSpace();
    readSizes_.clear();
    writeSizes_.clear();
}

uint32_t FaultPlatform::Calls(PlatformOp op) const {
    if (op == PlatformOp::Count) return 0;
    return calls_[IndexOf(op)];
}

bool FaultPlatform::Count(PlatformOp op) {
    const int index = IndexOf(op);
    const uint32_t call = ++calls_[index];
    const Plan &plan = plans_[index];
    if (plan.failAt == 0) return false;
    const bool fails = plan.persistent ? call >= plan.failAt : call == plan.failAt;
    if (fails) fired_ = true;
    return fails;
}

bool FaultPlatform::CutShort(PlatformOp op, uint32_t *count) const {
    const int index = IndexOf(op);
    const Plan &plan = plans_[index];
    if (plan.shortAt == 0 || calls_[index] != plan.shortAt || plan.shortBytes >= *count) {
        return false;
    }
    *count = plan.shortBytes;
    return true;
}

FileHandle FaultPlatform::FileOpen(const char *path, uint32_t access, uint32_t disposition) {
    if (Count(PlatformOp::Open)) return kInvalidFile;
    return PlatformWrapper::FileOpen(path, access, disposition);
}

bool FaultPlatform::FileRead(FileHandle file, void *buffer, uint32_t count, uint32_t *done) {
    readSizes_.push_back(count);
    if (Count(PlatformOp::Read)) {
        if (done != nullptr) *done = 0;
        return false;
    }
    if (CutShort(PlatformOp::Read, &count)) fired_ = true;
    return PlatformWrapper::FileRead(file, buffer, count, done);
}

bool FaultPlatform::FileWrite(FileHandle file, const void *buffer, uint32_t count, uint32_t *done) {
    writeSizes_.push_back(count);
    if (Count(PlatformOp::Write)) {
        if (done != nullptr) *done = 0;
        return false;
    }
    if (CutShort(PlatformOp::Write, &count)) fired_ = true;
    return PlatformWrapper::FileWrite(file, buffer, count, done);
}

uint32_t FaultPlatform::FileSeek(FileHandle file, uint32_t offset) {
    if (Count(PlatformOp::Seek)) return kPlatformFailure;
    return PlatformWrapper::FileSeek(file, offset);
}

uint32_t FaultPlatform::FileSize(FileHandle file) {
    if (Count(PlatformOp::Size)) return kPlatformFailure;
    return PlatformWrapper::FileSize(file);
}

bool FaultPlatform::FileTruncate(FileHandle file, uint32_t size) {
    if (Count(PlatformOp::Truncate)) return false;
    return PlatformWrapper::FileTruncate(file, size);
}

bool FaultPlatform::FileClose(FileHandle file) {
    if (Count(PlatformOp::Close)) {
        // The handle is gone whatever the result, so the real file is closed too.
        PlatformWrapper::FileClose(file);
        return false;
    }
    return PlatformWrapper::FileClose(file);
}

bool FaultPlatform::FileDelete(const char *path) {
    if (Count(PlatformOp::Delete)) return false;
    return PlatformWrapper::FileDelete(path);
}

bool FaultPlatform::FileMove(const char *from, const char *to) {
    if (Count(PlatformOp::Move)) return false;
    return PlatformWrapper::FileMove(from, to);
}

bool FaultPlatform::DiskFreeBytes(const char *path, uint64_t *freeBytes) {
    if (Count(PlatformOp::FreeSpace)) return false;
    if (haveFreeSpace_) {
        if (freeBytes == nullptr) return false;
        *freeBytes = freeSpace_;
        return true;
    }
    return PlatformWrapper::DiskFreeBytes(path, freeBytes);
}

bool FaultPlatform::ModuleBitmapFind(const char *name, const uint8_t **data, uint32_t *size) {
    if (CountGraphics(GraphicsOp::Bitmap)) return false;
    return PlatformWrapper::ModuleBitmapFind(name, data, size);
}

PaletteHandle FaultPlatform::PaletteCreate(const PaletteEntry *entries, uint32_t count) {
    if (CountGraphics(GraphicsOp::Palette)) return kNoPalette;
    return PlatformWrapper::PaletteCreate(entries, count);
}

int32_t FaultPlatform::StretchModeSet(DeviceContext dc, int32_t mode) {
    if (CountGraphics(GraphicsOp::StretchMode)) return 0;
    return PlatformWrapper::StretchModeSet(dc, mode);
}

bool FaultPlatform::WindowClientRect(WindowHandle window, PlatformRect *rect) {
    if (CountGraphics(GraphicsOp::ClientRect)) return false;
    return PlatformWrapper::WindowClientRect(window, rect);
}

int32_t FaultPlatform::BitmapStretch(DeviceContext dc, const StretchRequest &request) {
    if (CountGraphics(GraphicsOp::Stretch)) return kStretchFailed;
    return PlatformWrapper::BitmapStretch(dc, request);
}
