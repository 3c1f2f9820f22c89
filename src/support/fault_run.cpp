#include "support/fault_run.h"

#include "support/memory_pool.h"

const char *FaultKindName(int kind) {
    return kind == kAllocationFault ? "allocation" : PlatformOpName(static_cast<PlatformOp>(kind));
}

bool RunWithNthFault(int kind, uint32_t n, const std::function<void()> &attempt) {
    FaultPlatform platform;
    if (kind == kAllocationFault) {
        MemoryPoolFailNth(n);
    } else {
        platform.FailNth(static_cast<PlatformOp>(kind), n);
    }
    attempt();
    const bool fired = kind == kAllocationFault ? MemoryPoolFailureFired() : platform.Fired();
    MemoryPoolFailNth(0);
    return fired;
}
