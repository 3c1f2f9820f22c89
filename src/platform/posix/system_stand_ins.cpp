#include "platform/posix/system_stand_ins.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/drive_table.h"
#include "platform/posix/event_log.h"

bool PosixRegistryString(const char *name, char *buffer, uint32_t size) {
    const char *value = std::getenv(name);
    if (value == nullptr || value[0] == '\0') return false;
    if (std::strlen(value) >= size) return false;
    std::strcpy(buffer, value);
    return true;
}

uint32_t PosixDriveType(const char *root) {
    if (!IsDrivePath(root)) return kDriveNoRootDir;
    return LookupDrive(root[0]).type;
}

void PosixCursorSet(int32_t id) {
    AppendEventLog("{\"event\":\"cursor\",\"id\":" + std::to_string(id) + "}");
}

MutexHandle PosixMutexCreate(const char *name, bool *existed) {
    *existed = false;
    const char *folder = std::getenv("TMPDIR");
    if (folder == nullptr || folder[0] == '\0') folder = "/tmp";
    const std::string path = std::string(folder) + "/" + name + ".lock";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return kNoMutex;
    int locked;
    do {
        locked = flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        if (errno != EWOULDBLOCK) {
            close(fd);
            return kNoMutex;
        }
        *existed = true;
    }
    return static_cast<MutexHandle>(fd) + 1;
}

void PosixMutexClose(MutexHandle mutex) {
    if (mutex != kNoMutex) close(static_cast<int>(mutex - 1));
}
