#include "interface/update_state.h"

#include <cstring>

#include "interface/kept_copy.h"
#include "resources/resource_manager.h"
#include "support/byte_order.h"
#include "support/message_texts.h"
#include "support/strings.h"
#include "update/status_message.h"
#include "update/update_driver.h"
#include "update/version_resources.h"

UpdateState updateState;

namespace {

constexpr uint32_t kDefaultPictureType = ResTypeOf("PICT");
constexpr int16_t kDefaultPictureId = 264;
constexpr uint32_t kMessageOk = 0;

// Copies text into a buffer of size bytes, cut to fit.
void CopyText(char *to, const char *text, size_t size) {
    const size_t length = strnlen(text, size - 1);
    std::memcpy(to, text, length);
    to[length] = '\0';
}

void ResetState() {
    UpdateState &s = updateState;
    s.contentFilePath[0] = '\0';
    s.verdictText[0] = '\0';
    s.kindIndex = -1;
    s.itemId = 0;
    s.pictureFound = 0;
    s.noUpdateNeeded = 0;
    s.itemPicture = nullptr;
    UseResourceFile(kSourceFile);
    s.defaultPicture = GetOneResource(kDefaultPictureType, kDefaultPictureId);
}

// The row whose version resources say the file's first item is current, or -1.
int32_t CurrentRow() {
    for (int32_t row = 0; row < kKindRows; ++row) {
        const KindRow &k = kKindTable[row];
        if (CountOneResources(k.versionType) > 0 && ItemNeedsUpdate(k.infoType, k.versionType) == 0)
            return row;
    }
    return -1;
}

int32_t RowOfKind(uint32_t kind) {
    for (int32_t row = 0; row < kKindRows; ++row)
        if (kKindTable[row].kind == kind) return row;
    return -1;
}

// Finds the picture of the content file's first item, when its kind has one.
void FindItemPicture() {
    UpdateState &s = updateState;
    s.pictureFound = 0;
    s.itemPicture = nullptr;
    const KindRow &row = kKindTable[s.kindIndex];
    if (row.pictureType == 0) return;
    UseResourceFile(kContentFile);
    Handle info = GetOneIndexedResource(row.infoType, 1);
    uint32_t type = 0;
    uint8_t name[256];
    if (info != nullptr) GetResourceInfo(info, &s.itemId, &type, name);
    Handle picture = GetOneResource(row.pictureType, s.itemId);
    if (picture == nullptr) return;
    s.itemPicture = picture;
    s.pictureFound = 1;
}

int32_t Evaluate(const char *path) {
    UpdateState &s = updateState;
    CopyText(s.contentFilePath, path, sizeof s.contentFilePath);
    UseResourceFile(kContentFile);
    s.noUpdateNeeded = 0;
    const int32_t current = CurrentRow();
    if (current >= 0) {
        s.kindIndex = current;
        s.noUpdateNeeded = 1;
        CopyText(s.verdictText, kNoUpdateNeededText, sizeof s.verdictText);
    } else {
        CopyText(s.verdictText, kUpdateNeededText, sizeof s.verdictText);
        const uint32_t kind = ResourceFileKind(path);
        if (kind == 0) return 0;
        s.kindIndex = RowOfKind(kind);
        if (s.kindIndex < 0) return 0;
    }
    FindItemPicture();
    return 1;
}

// The update removes and replaces resources, pictures among them, so the
// Handles found before it may be gone: they are looked up again.
void FindPicturesAgain() {
    const uint16_t current = CurrentResourceFile();
    UseResourceFile(kSourceFile);
    updateState.defaultPicture = GetOneResource(kDefaultPictureType, kDefaultPictureId);
    FindItemPicture();
    UseResourceFile(current);
}

// Puts the file as it was before the update back, open and judged again.
void PutBackFileBeforeUpdate(const char *copyPath) {
    char path[kPathSize];
    CopyText(path, updateState.contentFilePath, sizeof path);
    // What the failed update loaded from the file goes with the file's content.
    DisposeLoadedResources(kContentFile);
    CloseResourceFile(kContentFile);
    ResetState();
    if (!RestoreKeptCopy(path, copyPath)) return;
    uint8_t name[256];
    if (OpenResourceFile(CToStr255(path, name)) == kContentFile) Evaluate(path);
}

int32_t RunUpdate() {
    UpdateState &s = updateState;
    if (s.noUpdateNeeded != 0 || s.kindIndex < 0) return 0;
    PlatformCursorSet(kWaitCursor);
    char copyPath[kPathSize + sizeof kKeptCopyName];
    int result = 0;
    if (KeepCopy(s.contentFilePath, copyPath, sizeof copyPath)) {
        result = UpdateContentFile(kKindTable[s.kindIndex].kind, s.contentFilePath);
        if (result == 1) {
            PlatformFileDelete(copyPath);
            FindPicturesAgain();
        } else {
            PutBackFileBeforeUpdate(copyPath);
        }
    }
    if (result == 1) {
        PlatformMessageBox(nullptr, kUpdateFinishedText, kUpdaterCaption, kMessageOk);
        PlatformCursorSet(kArrowCursor);
        return 1;
    }
    PlatformCursorSet(kArrowCursor);
    ShowErrorMessage(kStatusConversionFailed);
    return 0;
}

int32_t PathCommand(int32_t subCode, char *text) {
    if (subCode == kStoreSourcePath) {
        CopyText(updateState.sourcePath, text, sizeof updateState.sourcePath);
        return 1;
    }
    if (subCode == kCopySourcePath) {
        std::strcpy(text, updateState.sourcePath);
        return 1;
    }
    return 0;
}

int32_t ListCommand(int32_t subCode, char *text) {
    const UpdateState &s = updateState;
    if (subCode == kListVerdict) {
        std::strcpy(text, s.verdictText);
        return 1;
    }
    if (subCode == kListPicture) return s.pictureFound;
    if (subCode == kListNeedsUpdate) {
        std::strcpy(text, s.noUpdateNeeded != 0 ? kNoText : kYesText);
        return 1;
    }
    return 0;
}

}  // namespace

int32_t DoCommand(int32_t command, int32_t subCode, int32_t, char *text, Handle *picture) {
    switch (command) {
        case kCommandPath:
            return PathCommand(subCode, text);
        case kCommandReset:
            ResetState();
            return 1;
        case kCommandEvaluate:
            return Evaluate(text);
        case kCommandList:
            return ListCommand(subCode, text);
        case kCommandPicture:
            if (subCode != kListPicture) return 0;
            *picture = updateState.pictureFound == 1 ? updateState.itemPicture
                                                     : updateState.defaultPicture;
            return 1;
        case kCommandUpdate:
            return RunUpdate();
        default:
            return 0;
    }
}
