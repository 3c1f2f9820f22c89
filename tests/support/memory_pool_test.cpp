#include "support/memory_pool.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/test_env.h"

namespace {

TEST(MemoryPoolLifecycle, CreateDestroyAndGeneration) {
    ASSERT_FALSE(MemoryPoolExists());
    EXPECT_EQ(MemoryPoolAllocate(8), nullptr);
    MemoryPoolDestroy();  // harmless without a pool

    uint32_t generation = MemoryPoolGeneration();
    ASSERT_TRUE(MemoryPoolCreate(32768));
    EXPECT_TRUE(MemoryPoolExists());
    EXPECT_EQ(MemoryPoolGeneration(), generation + 1);
    EXPECT_FALSE(MemoryPoolCreate(32768));
    EXPECT_EQ(MemoryPoolGeneration(), generation + 1);

    // Destroying the pool gives back blocks that were never freed (the leak
    // checker of the sanitizer build sees it if not).
    for (uint32_t size : {0u, 1u, 100u, 70000u})
        ASSERT_NE(MemoryPoolAllocate(size), nullptr);
    EXPECT_EQ(MemoryPoolBlockCount(), 4u);
    EXPECT_EQ(MemoryPoolAllocationCount(), 4u);
    MemoryPoolDestroy();
    EXPECT_FALSE(MemoryPoolExists());
    EXPECT_EQ(MemoryPoolBlockCount(), 0u);

    ASSERT_TRUE(MemoryPoolCreate(32768));
    EXPECT_EQ(MemoryPoolGeneration(), generation + 2);
    EXPECT_EQ(MemoryPoolBlockCount(), 0u);
    EXPECT_EQ(MemoryPoolAllocationCount(), 0u);
    MemoryPoolDestroy();
}

class MemoryPoolTest : public PoolTest {};

TEST_F(MemoryPoolTest, BlocksAreZeroFilledAlignedAndCounted) {
    std::vector<void *> blocks;
    for (uint32_t size : {0u, 1u, 3u, 16u, 17u, 4096u, 100000u}) {
        uint8_t *block = static_cast<uint8_t *>(MemoryPoolAllocate(size));
        ASSERT_NE(block, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignof(std::max_align_t), 0u);
        for (uint32_t i = 0; i < size; ++i)
            ASSERT_EQ(block[i], 0) << size << " at " << i;
        for (uint32_t i = 0; i < size; ++i)
            block[i] = 0xA5;
        blocks.push_back(block);
    }
    EXPECT_EQ(MemoryPoolBlockCount(), baselineBlocks_ + blocks.size());

    // Free out of order, then a freed size comes back zero-filled again.
    MemoryPoolFree(blocks[3]);
    MemoryPoolFree(blocks[0]);
    MemoryPoolFree(blocks.back());
    MemoryPoolFree(nullptr);
    EXPECT_EQ(MemoryPoolBlockCount(), baselineBlocks_ + blocks.size() - 3);
    uint8_t *again = static_cast<uint8_t *>(MemoryPoolAllocate(16));
    ASSERT_NE(again, nullptr);
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(again[i], 0);
    MemoryPoolFree(again);
    for (size_t i : {1u, 2u, 4u, 5u})
        MemoryPoolFree(blocks[i]);
}

TEST_F(MemoryPoolTest, OversizedRequestsFailButCount) {
    uint64_t before = MemoryPoolAllocationCount();
    EXPECT_EQ(MemoryPoolAllocate(MemoryPoolMaxBlock + 1), nullptr);
    EXPECT_EQ(MemoryPoolAllocate(0xFFFFFFFFu), nullptr);
    EXPECT_EQ(MemoryPoolAllocationCount(), before + 2);
    EXPECT_EQ(MemoryPoolBlockCount(), baselineBlocks_);
}

TEST_F(MemoryPoolTest, FailNthOnce) {
    MemoryPoolFailNth(3);
    void *first = MemoryPoolAllocate(4);
    void *second = MemoryPoolAllocate(4);
    EXPECT_FALSE(MemoryPoolFailureFired());
    EXPECT_EQ(MemoryPoolAllocate(4), nullptr);
    EXPECT_TRUE(MemoryPoolFailureFired());
    void *fourth = MemoryPoolAllocate(4);
    EXPECT_NE(first, nullptr);
    EXPECT_NE(second, nullptr);
    EXPECT_NE(fourth, nullptr);
    EXPECT_EQ(MemoryPoolBlockCount(), baselineBlocks_ + 3);

    // A new plan forgets that the old one fired.
    MemoryPoolFailNth(2);
    EXPECT_FALSE(MemoryPoolFailureFired());
    MemoryPoolFailNth(0);
    for (int i = 0; i < 4; ++i) {
        void *block = MemoryPoolAllocate(1);
        EXPECT_NE(block, nullptr);
        MemoryPoolFree(block);
    }
    EXPECT_FALSE(MemoryPoolFailureFired());
    for (void *block : {first, second, fourth})
        MemoryPoolFree(block);
}

TEST_F(MemoryPoolTest, FailNthPersistentUntilCancelled) {
    MemoryPoolFailNth(2, true);
    void *first = MemoryPoolAllocate(4);
    ASSERT_NE(first, nullptr);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(MemoryPoolAllocate(4), nullptr);
    EXPECT_TRUE(MemoryPoolFailureFired());
    MemoryPoolFailNth(0);
    void *after = MemoryPoolAllocate(4);
    EXPECT_NE(after, nullptr);
    MemoryPoolFree(after);
    MemoryPoolFree(first);
}

TEST(MemoryPoolLifecycle, PlanMadeBeforeThePoolExistsHolds) {
    MemoryPoolFailNth(2);
    ASSERT_TRUE(MemoryPoolCreate(32768));
    void *first = MemoryPoolAllocate(4);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(MemoryPoolAllocate(4), nullptr);
    MemoryPoolFailNth(0);
    MemoryPoolDestroy();
}

}  // namespace
