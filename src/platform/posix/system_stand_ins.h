// The POSIX stand-ins for the parts of Windows around the library: the
// registry, the drives, the cursor and the named mutex.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The registry value name is the environment variable of that name, whatever
// the key; an unset or empty variable is a value that cannot be read.
bool PosixRegistryString(const char *name, char *buffer, uint32_t size);
// The type of a drive letter in the drive table; a root that does not start
// with a letter and a colon names no drive.
uint32_t PosixDriveType(const char *root);
// Logs {"event":"cursor","id":N}.
void PosixCursorSet(int32_t id);
// An exclusive lock on the file "NAME.lock" in ${TMPDIR:-/tmp}. The mutex
// existed when the lock is held already, by another process or by an earlier
// claim in this one; the handle is then open but holds no lock.
MutexHandle PosixMutexCreate(const char *name, bool *existed);
void PosixMutexClose(MutexHandle mutex);
