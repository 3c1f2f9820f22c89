// The fault-injecting backend: a platform wrapper that counts every call by
// kind and makes chosen calls fail, either the n-th call of a kind (once) or
// every call from the n-th on. Reads and writes can also be cut short, and the
// free disk space can be set. The tests and the fault campaign (tools/skfaults)
// install it over the backend in use.
// A faked failure of an open, delete or move does not touch the real file; a
// faked failure of a close still closes the real file, so nothing leaks.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

// "open", "read", ...: the kind of call, for messages; PlatformOp::Count is
// "allocation", as fault loops that also fail the memory pool use it.
const char *PlatformOpName(PlatformOp op);

class FaultPlatform : public PlatformWrapper {
  public:
    // Wraps the backend that is current and installs itself; the destructor
    // restores the previous backend.
    FaultPlatform() : PlatformWrapper(CurrentPlatform()), previous_(SetPlatform(this)) {}
    ~FaultPlatform() override { SetPlatform(previous_); }
    FaultPlatform(const FaultPlatform &) = delete;
    FaultPlatform &operator=(const FaultPlatform &) = delete;

    // The n-th call of kind op, counted since construction or the last Reset, fails
    // (so FailNth(op, Calls(op) + 1) fails the next one). With persistent, every
    // call from the n-th on fails. n = 0 cancels the plan for op.
    void FailNth(PlatformOp op, uint32_t n, bool persistent = false);
    // The n-th read or write moves only `bytes` bytes (fewer than asked) and succeeds.
    void ShortNth(PlatformOp op, uint32_t n, uint32_t bytes);
    // DiskFreeBytes reports this many free bytes instead of asking the backend.
    void SetFreeSpace(uint64_t bytes) {
        haveFreeSpace_ = true;
        freeSpace_ = bytes;
    }
    // Forgets all plans, counts and the free space set.
    void Reset();
    // Every graphics call of kind op fails from now on (or, with fail false, no longer).
    void FailGraphics(GraphicsOp op, bool fail = true) {
        if (op != GraphicsOp::Count) graphicsFails_[static_cast<int>(op)] = fail;
    }
    // Graphics calls of kind op made so far (failed ones included).
    uint32_t GraphicsCalls(GraphicsOp op) const {
        return op == GraphicsOp::Count ? 0 : graphicsCalls_[static_cast<int>(op)];
    }

    // Calls of kind op made so far (failed ones included).
    uint32_t Calls(PlatformOp op) const { return op < PlatformOp::Count ? calls_[Index(op)] : 0; }
    // True once a planned fault has fired since the last Reset.
    bool Fired() const { return fired_; }
    // Byte counts asked of every read and every write, in order.
    const std::vector<uint32_t> &ReadSizes() const { return readSizes_; }
    const std::vector<uint32_t> &WriteSizes() const { return writeSizes_; }

    FileHandle FileOpen(const char *path, uint32_t access, uint32_t disposition) override {
        return Count(PlatformOp::Open) ? kInvalidFile
                                       : PlatformWrapper::FileOpen(path, access, disposition);
    }
    bool FileRead(FileHandle file, void *buffer, uint32_t count, uint32_t *done) override;
    bool FileWrite(FileHandle file, const void *buffer, uint32_t count, uint32_t *done) override;
    uint32_t FileSeek(FileHandle file, uint32_t offset) override {
        return Count(PlatformOp::Seek) ? kPlatformFailure : PlatformWrapper::FileSeek(file, offset);
    }
    // Stamp queries fail from now on (or, with fail false, no longer); counted.
    void FailStamps(bool fail = true) { failStamps_ = fail; }
    uint32_t StampCalls() const { return stampCalls_; }
    bool FileStampOf(FileHandle file, FileStamp *stamp) override {
        ++stampCalls_;
        return !failStamps_ && PlatformWrapper::FileStampOf(file, stamp);
    }
    uint32_t FileSize(FileHandle file) override {
        return Count(PlatformOp::Size) ? kPlatformFailure : PlatformWrapper::FileSize(file);
    }
    bool FileTruncate(FileHandle file, uint32_t size) override {
        return !Count(PlatformOp::Truncate) && PlatformWrapper::FileTruncate(file, size);
    }
    bool FileClose(FileHandle file) override {
        const bool fails = Count(PlatformOp::Close);  // the real file is closed all the same
        return PlatformWrapper::FileClose(file) && !fails;
    }
    bool FileDelete(const char *path) override {
        return !Count(PlatformOp::Delete) && PlatformWrapper::FileDelete(path);
    }
    bool FileMove(const char *from, const char *to) override {
        return !Count(PlatformOp::Move) && PlatformWrapper::FileMove(from, to);
    }
    bool DiskFreeBytes(const char *path, uint64_t *freeBytes) override;
    bool ModuleBitmapFind(const char *name, const uint8_t **data, uint32_t *size) override;
    PaletteHandle PaletteCreate(const PaletteEntry *entries, uint32_t count) override;
    int32_t StretchModeSet(DeviceContext dc, int32_t mode) override;
    bool WindowClientRect(WindowHandle window, PlatformRect *rect) override;
    int32_t BitmapStretch(DeviceContext dc, const StretchRequest &request) override;

  private:
    struct Plan {
        uint32_t failAt = 0;
        bool persistent = false;
        uint32_t shortAt = 0;
        uint32_t shortBytes = 0;
    };
    static int Index(PlatformOp op) { return static_cast<int>(op); }
    // Counts a call of kind op; true when this call must fail.
    bool Count(PlatformOp op);
    // Counts a graphics call of kind op; true when it must fail.
    bool CountGraphics(GraphicsOp op) {
        ++graphicsCalls_[static_cast<int>(op)];
        return graphicsFails_[static_cast<int>(op)];
    }
    // The bytes that this read or write may move: count, or fewer when planned.
    uint32_t Cut(PlatformOp op, uint32_t count);

    Platform *previous_;
    Plan plans_[static_cast<int>(PlatformOp::Count)];
    uint32_t calls_[static_cast<int>(PlatformOp::Count)] = {};
    bool fired_ = false;
    bool graphicsFails_[static_cast<int>(GraphicsOp::Count)] = {};
    uint32_t graphicsCalls_[static_cast<int>(GraphicsOp::Count)] = {};
    bool failStamps_ = false;
    uint32_t stampCalls_ = 0;
    bool haveFreeSpace_ = false;
    uint64_t freeSpace_ = 0;
    std::vector<uint32_t> readSizes_;
    std::vector<uint32_t> writeSizes_;
};
