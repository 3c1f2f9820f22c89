#include "support/memory_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/test_env.h"

namespace {

TEST(MemoryPoolLifecycle, CreateDestroyAndGeneration) {
    ASSERT_FALSE(MemoryPoolExists());
    EXPECT_EQ(MemoryPoolAllocate(8), nullptr);
    MemoryPoolDestroy();  // harmless without a pool
    const uint32_t generation = MemoryPoolGeneration();
    // A plan made before the pool exists holds.
    MemoryPoolFailNth(5);
    ASSERT_TRUE(MemoryPoolCreate(32768));
    EXPECT_EQ(MemoryPoolGeneration(), generation + 1);
    EXPECT_FALSE(MemoryPoolCreate(32768));
    EXPECT_EQ(MemoryPoolGeneration(), generation + 1);
    // Destroying the pool gives back blocks that were never freed (the leak
    // checker of the sanitizer build sees it if not).
    for (uint32_t size : {0u, 1u, 100u, 70000u})
        EXPECT_NE(MemoryPoolAllocate(size), nullptr);
    EXPECT_EQ(MemoryPoolAllocate(4), nullptr);
    MemoryPoolFailNth(0);
    EXPECT_EQ(MemoryPoolBlockCount(), 4u);
    EXPECT_EQ(MemoryPoolAllocationCount(), 5u) << "failed allocations count too";
    MemoryPoolDestroy();
    EXPECT_EQ(MemoryPoolBlockCount(), 0u);
    ASSERT_TRUE(MemoryPoolCreate(32768));
    EXPECT_EQ(MemoryPoolGeneration(), generation + 2);
    EXPECT_EQ(MemoryPoolAllocationCount(), 0u);
    MemoryPoolDestroy();
}

class MemoryPoolTest : public PoolTest {};

TEST_F(MemoryPoolTest, BlocksAreZeroFilledAlignedAndCounted) {
    std::vector<void *> blocks;
    for (uint32_t size : {0u, 1u, 3u, 16u, 17u, 4096u, 100000u}) {
        auto *block = static_cast<uint8_t *>(MemoryPoolAllocate(size));
        ASSERT_NE(block, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignof(std::max_align_t), 0u);
        EXPECT_EQ(std::vector<uint8_t>(block, block + size), std::vector<uint8_t>(size, 0));
        std::fill(block, block + size, 0xA5);
        blocks.push_back(block);
    }
    EXPECT_EQ(MemoryPoolBlockCount(), baselineBlocks_ + blocks.size());
    // Freed out of order, a size comes back zero-filled again.
    MemoryPoolFree(blocks[3]);
    MemoryPoolFree(nullptr);
    auto *again = static_cast<uint8_t *>(MemoryPoolAllocate(16));
    EXPECT_EQ(std::vector<uint8_t>(again, again + 16), std::vector<uint8_t>(16, 0));
    blocks[3] = again;
    for (void *block : blocks)
        MemoryPoolFree(block);
    EXPECT_EQ(MemoryPoolAllocate(MemoryPoolMaxBlock + 1), nullptr);
    EXPECT_EQ(MemoryPoolAllocate(0xFFFFFFFFu), nullptr);
}

TEST_F(MemoryPoolTest, TheNthAllocationFailsOnceOrFromThenOn) {
    for (bool persistent : {false, true}) {
        MemoryPoolFailNth(3, persistent);
        std::vector<void *> got;
        for (int i = 1; i <= 5; ++i) {
            EXPECT_EQ(MemoryPoolFailureFired(), i > 3);
            got.push_back(MemoryPoolAllocate(4));
            EXPECT_EQ(got.back() == nullptr, i == 3 || (persistent && i > 3)) << i;
        }
        // A new plan forgets that the old one fired; 0 cancels the plan.
        MemoryPoolFailNth(0);
        EXPECT_FALSE(MemoryPoolFailureFired());
        got.push_back(MemoryPoolAllocate(4));
        EXPECT_NE(got.back(), nullptr);
        for (void *block : got)
            MemoryPoolFree(block);
    }
}

}  // namespace
