#include "interface/single_instance.h"

#include "interface/update_state.h"
#include "platform/platform.h"

namespace {

constexpr char kMutexName[] = "SKELMORA UPDATER APPLICATION";

}  // namespace

int32_t ClaimSingleInstance() {
    bool existed = false;
    const MutexHandle mutex = PlatformMutexCreate(kMutexName, &existed);
    if (existed) {
        // Keeping this second handle in place of the first would lose the
        // first, and the lock could then never be given back.
        PlatformMutexClose(mutex);
        return 1;
    }
    updateState.instanceMutex = mutex;
    return 0;
}

void ReleaseSingleInstance() {
    PlatformMutexClose(updateState.instanceMutex);
    updateState.instanceMutex = kNoMutex;
}
