// The single-instance lock: one registration at a time, in this process or
// any other.
#pragma once

#include <cstdint>

// Claims the lock and keeps it in the update state. 1 when someone holds it
// already (the earlier holder keeps it), 0 when it is ours now.
int32_t ClaimSingleInstance();
// Gives the kept lock back.
void ReleaseSingleInstance();
