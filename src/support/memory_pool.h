// The memory pool under every allocation of the Resource Manager and the update
// code: one pool, zero-filled blocks, free. The pool remembers every block it has
// handed out, so destroying it frees whatever is left.
//
// Tests can make the n-th allocation fail and can count the blocks still held.
#pragma once

#include <cstdint>

// Creates the one pool. The parameter is the pool's growth size (the system uses
// 32768); it means nothing here, as every block is allocated by itself. False
// when a pool exists already.
bool MemoryPoolCreate(uint32_t parameter);
// Frees every block still held and the pool itself. Harmless without a pool.
void MemoryPoolDestroy();
bool MemoryPoolExists();
// Counts the pools created in this process; a registry built on the pool's blocks
// compares it to know that its blocks are gone.
uint32_t MemoryPoolGeneration();

// A zero-filled block of size bytes (0 is allowed), or null when there is no pool,
// the size is above MemoryPoolMaxBlock, the system has no memory, or a planned
// failure fires.
void *MemoryPoolAllocate(uint32_t size);
// The size a block was allocated with; 0 for null.
uint32_t MemoryPoolBlockSize(const void *block);
// Returns a block of the current pool to it. Null is ignored.
void MemoryPoolFree(void *block);

// The largest block the pool hands out (1 GiB); with its header it still fits
// the address space of a 32-bit host.
constexpr uint32_t MemoryPoolMaxBlock = 0x40000000u;

// Blocks allocated and not yet freed.
uint32_t MemoryPoolBlockCount();
// Allocations attempted since the pool was created (failed ones included).
uint64_t MemoryPoolAllocationCount();
// The n-th allocation from now (1 = the next) fails; with persistent, every one
// from the n-th on fails. n = 0 cancels.
void MemoryPoolFailNth(uint32_t n, bool persistent = false);
// True once a planned failure has fired since the last MemoryPoolFailNth.
bool MemoryPoolFailureFired();
