#include "support/memory_pool.h"

#include <cstddef>
#include <cstdlib>

namespace {

// Every block carries this header in front of the caller's bytes. It links the
// block into the pool's list of live blocks, so that destroying the pool can free
// whatever is left. The caller's bytes start kHeaderSize bytes in, a multiple of
// 16, so they keep the alignment that the system allocator gives.
struct BlockHeader {
    BlockHeader *next;
    BlockHeader *prev;
    uint32_t size;
};
constexpr size_t kHeaderSize = (sizeof(BlockHeader) + 15) & ~static_cast<size_t>(15);

struct Pool {
    bool exists = false;
    BlockHeader *first = nullptr;
    uint32_t blocks = 0;
    uint64_t allocations = 0;
};

Pool pool;
uint32_t generation;  // zero before the first pool, as every static is

// The planned failure. It counts allocation attempts from the moment it is set,
// independently of the pool, so a plan made before the pool exists still holds.
struct FailPlan {
    uint32_t countdown = 0;  // attempts left until the failing one; 0 = none planned
    bool persistent = false;
    bool failingForever = false;
    bool fired = false;
};

FailPlan plan;

// Counts one attempt against the plan; true when this attempt must fail.
bool PlannedFailure() {
    if (plan.failingForever) return true;  // fired already, at the first failure
    if (plan.countdown == 0) return false;
    if (--plan.countdown != 0) return false;
    plan.fired = true;
    if (plan.persistent) plan.failingForever = true;
    return true;
}

BlockHeader *HeaderOf(void *block) {
    return reinterpret_cast<BlockHeader *>(static_cast<unsigned char *>(block) - kHeaderSize);
}

const BlockHeader *HeaderOf(const void *block) {
    return reinterpret_cast<const BlockHeader *>(static_cast<const unsigned char *>(block) -
                                                 kHeaderSize);
}

}  // namespace

bool MemoryPoolCreate(uint32_t) {
    if (pool.exists) return false;
    pool = Pool{};
    pool.exists = true;
    ++generation;
    return true;
}

void MemoryPoolDestroy() {
    if (!pool.exists) return;
    BlockHeader *header = pool.first;
    while (header != nullptr) {
        BlockHeader *next = header->next;
        std::free(header);
        header = next;
    }
    pool = Pool{};
}

bool MemoryPoolExists() {
    return pool.exists;
}

uint32_t MemoryPoolGeneration() {
    return generation;
}

void *MemoryPoolAllocate(uint32_t size) {
    if (!pool.exists) return nullptr;
    ++pool.allocations;
    if (PlannedFailure()) return nullptr;
    if (size > MemoryPoolMaxBlock) return nullptr;

    void *raw = std::calloc(1, kHeaderSize + static_cast<size_t>(size));
    if (raw == nullptr) return nullptr;
    BlockHeader *header = static_cast<BlockHeader *>(raw);
    header->size = size;  // prev stays null: calloc gave zeros
    header->next = pool.first;
    if (pool.first != nullptr) pool.first->prev = header;
    pool.first = header;
    ++pool.blocks;
    return static_cast<unsigned char *>(raw) + kHeaderSize;
}

void MemoryPoolFree(void *block) {
    // Without a pool every block it handed out is already gone.
    if (block == nullptr || !pool.exists) return;
    BlockHeader *header = HeaderOf(block);
    if (header->prev != nullptr) {
        header->prev->next = header->next;
    } else {
        pool.first = header->next;
    }
    if (header->next != nullptr) header->next->prev = header->prev;
    --pool.blocks;
    std::free(header);
}

uint32_t MemoryPoolBlockCount() {
    return pool.blocks;
}

uint64_t MemoryPoolAllocationCount() {
    return pool.allocations;
}

void MemoryPoolFailNth(uint32_t n, bool persistent) {
    plan = FailPlan{};
    plan.countdown = n;
    plan.persistent = persistent;
}

bool MemoryPoolFailureFired() {
    return plan.fired;
}

uint32_t MemoryPoolBlockSize(const void *block) {
    return block == nullptr ? 0 : HeaderOf(block)->size;
}
