// The seven functions a host calls, each a thin shell around the update state
// and its dispatcher, and the library's entry point.
#include "skupdater.h"

#include <cstring>

#include "interface/single_instance.h"
#include "interface/update_source.h"
#include "interface/update_state.h"
#include "picture/picture_drawing.h"
#include "picture/picture_palette.h"
#include "platform/platform.h"
#include "resources/resource_manager.h"
#include "support/memory_pool.h"
#include "support/message_texts.h"
#include "support/strings.h"

namespace {

constexpr uint32_t kPoolParameter = 32768;
constexpr uint32_t kOkBox = 0;
constexpr uint32_t kStopBox = 16;

// True from a successful Register to UnRegister. Without the update source open
// as the first file, a content file would take its place and the update would
// work on the wrong files, so Open and Update refuse until then.
bool g_registered = false;

// A path as a Str255. False for a path of more than 255 characters, which
// cut short would name another file.
bool PathToStr255(const char *path, uint8_t *str255) {
    if (std::strlen(path) > 255) return false;
    CToStr255(path, str255);
    return true;
}

uint16_t OpenByPath(const char *path) {
    uint8_t name[256];
    return PathToStr255(path, name) ? OpenResourceFile(name) : kNoFile;
}

// True when the file exists and can be opened for writing.
bool CanWrite(const char *path) {
    if (path == nullptr) return false;
    const FileHandle file = PlatformFileOpen(path, kGenericReadWrite, kOpenExisting);
    if (file == kInvalidFile) return false;
    PlatformFileClose(file);
    return true;
}

int32_t FillWindowGrey(DeviceContext dc) {
    const WindowHandle window = PlatformDeviceWindow(dc);
    PlatformRect rect;
    if (window == nullptr || !PlatformWindowClientRect(window, &rect)) return 0;
    return PlatformGreyRectFill(dc, rect) ? 1 : 0;
}

}  // namespace

int32_t LibraryEntry(void *module, uint32_t, void *) {
    updateState.moduleInstance = module;
    PlatformSetModule(module);
    return 1;
}

extern "C" {

SK_EXPORT int32_t SK_CALL Register(void *ownerWindow) {
    if (ClaimSingleInstance() == 1) return 0;
    char path[kPathSize];
    if (LocateUpdateSource(ownerWindow, path) == 0) return 0;
    MemoryPoolCreate(kPoolParameter);
    LoadPicturePalette();
    DoCommand(kCommandPath, kStoreSourcePath, 0, path, nullptr);
    StartResourceManager();
    if (OpenByPath(path) == kNoFile) {
        PlatformMessageBox(nullptr, "", kInsertCdCaption, kOkBox);
        PlatformMessageBox(nullptr, kSourceUnopenableText, kUpdaterCaption, kStopBox);
        return 0;
    }
    DoCommand(kCommandPath, kStoreSourcePath, 0, path, nullptr);
    DoCommand(kCommandReset, 0, 0, nullptr, nullptr);
    g_registered = true;
    return 1;
}

SK_EXPORT int32_t SK_CALL UnRegister(void) {
    g_registered = false;
    StopResourceManager();
    MemoryPoolDestroy();
    ReleaseSingleInstance();
    return 1;
}

SK_EXPORT int32_t SK_CALL Open(const char *path) {
    if (!g_registered) return 0;
    // A content file the host left open is closed as Close would: it would keep
    // the content file's number, and the new file would be judged and updated
    // through it. This also resets the state for the new file.
    Close();
    if (!CanWrite(path)) {
        PlatformMessageBox(nullptr, kWriteProtectedText, kUpdaterCaption, kStopBox);
        return 0;
    }
    if (OpenByPath(path) == kNoFile) {
        PlatformMessageBox(nullptr, kNotResourceFileText, kUpdaterCaption, kStopBox);
        return 0;
    }
    return DoCommand(kCommandEvaluate, 0, 0, const_cast<char *>(path), nullptr);
}

SK_EXPORT int32_t SK_CALL Close(void) {
    // What the library loaded from the file belongs to no one once it is closed.
    CloseResourceFileDisposing(kContentFile);
    DoCommand(kCommandReset, 0, 0, nullptr, nullptr);
    return 1;
}

SK_EXPORT int32_t SK_CALL List(int32_t code, int32_t, char *buffer) {
    if (code != kListVerdict && code != kListPicture && code != kListNeedsUpdate) return code;
    return DoCommand(kCommandList, code, 0, buffer, nullptr);
}

SK_EXPORT int32_t SK_CALL ListPicture(int32_t code, int32_t, void *deviceContext) {
    if (code != kListPicture) return 0;
    Handle picture = nullptr;
    DoCommand(kCommandPicture, kListPicture, 0, nullptr, &picture);
    if (picture != nullptr) return DrawPicture(deviceContext, picture);
    return FillWindowGrey(deviceContext);
}

SK_EXPORT int32_t SK_CALL Update(void) {
    if (!g_registered) return 0;
    return DoCommand(kCommandUpdate, 0, 0, nullptr, nullptr);
}

}  // extern "C"
