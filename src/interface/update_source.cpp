#include "interface/update_source.h"

#include <cstring>
#include <string>

#include "interface/update_state.h"
#include "platform/platform.h"
#include "support/message_texts.h"

namespace {

constexpr char kRegistryKey[] = "SOFTWARE\\Vellcor\\SKELMORA\\1.5\\UPDATER";
constexpr char kHardDiskValue[] = "HDPathForRez";
constexpr char kCdValue[] = "PathForRez";
constexpr uint32_t kValueSize = 2600;
constexpr char kSourceName[] = "\\Updater.rez";
constexpr char kSourceOnCd[] = "Utility\\Updater\\Updater.rez";

constexpr uint32_t kOkBox = 0;
constexpr uint32_t kOkCancelBox = 1;
constexpr int32_t kAnswerOk = 1;

// True when the file can be opened for reading.
bool IsFileThere(const std::string &path) {
    const FileHandle file = PlatformFileOpen(path.c_str(), kGenericRead, kOpenExisting);
    if (file == kInvalidFile) return false;
    PlatformFileClose(file);
    return true;
}

// Copies a found path into the caller's buffer; false when it is not found or
// does not fit.
bool TakeIfThere(const std::string &candidate, char *path) {
    if (candidate.size() >= kPathSize || !IsFileThere(candidate)) return false;
    std::strcpy(path, candidate.c_str());
    return true;
}

// A registry value; empty when it cannot be read.
std::string ReadValue(const char *name) {
    char buffer[kValueSize];
    return PlatformRegistryString(kRegistryKey, name, buffer, sizeof buffer) ? buffer : "";
}

// The hard-disk folders of the registry, in order, each with the source name.
bool FindOnHardDisk(char *path) {
    const std::string folders = ReadValue(kHardDiskValue);
    if (folders.empty()) return false;
    size_t start = 0;
    for (;;) {
        const size_t end = folders.find(';', start);
        const std::string folder = folders.substr(start, end - start);
        if (TakeIfThere(folder + kSourceName, path)) return true;
        if (end == std::string::npos) return false;
        start = end + 1;
    }
}

// The root of the CD drive: the drive of the registry's CD path when it is a
// CD-ROM drive, else the first CD-ROM drive. Empty when there is none.
std::string FindCdRoot() {
    const std::string value = ReadValue(kCdValue);
    const size_t colon = value.find(':');
    if (colon != std::string::npos) {
        const std::string root = value.substr(0, colon + 1) + "\\";
        if (PlatformDriveType(root.c_str()) == kDriveCdrom) return root;
    }
    char root[4];
    return FindCdDrive(root) == 1 ? std::string(root) : std::string();
}

// Asks for the disc until the source is on it (1) or the user cancels (0).
int32_t AskForDisc(void *owner, const std::string &root, char *path) {
    for (;;) {
        const int32_t answer =
            PlatformMessageBox(owner, kInsertDiscText, kUpdaterCaption, kOkCancelBox);
        const bool disc = IsDiscInDrive(root.c_str()) == 1;
        if (answer != kAnswerOk) return 0;
        if (!disc) continue;
        if (TakeIfThere(root + kSourceOnCd, path)) return 1;
        PlatformMessageBox(owner, kWrongDiscText, kUpdaterCaption, kOkBox);
    }
}

}  // namespace

int32_t LocateUpdateSource(void *owner, char *path) {
    if (FindOnHardDisk(path)) return 1;
    const std::string root = FindCdRoot();
    if (root.empty()) return 0;
    if (TakeIfThere(root + kSourceOnCd, path)) return 1;
    return AskForDisc(owner, root, path);
}

int32_t FindCdDrive(char *root) {
    const uint32_t drives = PlatformLogicalDrives();
    char candidate[] = "?:\\";
    for (int letter = 0; letter < 26; ++letter) {
        if ((drives & (1u << letter)) == 0) continue;
        candidate[0] = static_cast<char>('a' + letter);
        if (PlatformDriveType(candidate) != kDriveCdrom) continue;
        std::memcpy(root, candidate, sizeof candidate);
        return 1;
    }
    return 0;
}

int32_t IsDiscInDrive(const char *root) {
    PlatformErrorModeSet(kFailCriticalErrors);
    const uint32_t attributes = PlatformPathAttributes((std::string(root) + ".").c_str());
    PlatformErrorModeSet(0);
    return attributes != kPlatformFailure ? 1 : 0;
}
