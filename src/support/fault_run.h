// One run of an operation with a single planned fault, for the fault tests and
// the fault campaign: the n-th platform call of one kind fails, or the n-th
// allocation of the memory pool.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/fault_platform.h"

// Fault kinds: each PlatformOp by its value, then the memory pool's allocations.
constexpr int kAllocationFault = static_cast<int>(PlatformOp::Count);

const char *FaultKindName(int kind);

// Runs attempt with the n-th call of kind failing; true when the fault fired.
bool RunWithNthFault(int kind, uint32_t n, const std::function<void()> &attempt);
