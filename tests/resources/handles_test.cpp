// Handles and their numbers, joining Handles, and inserting into and cutting
// from blocks, with the memory running out at each allocation.
#include "resources/handles.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "common/test_env.h"
#include "support/memory_pool.h"
#include "support/report_error.h"

namespace {

std::string Contents(const void *block, int32_t size) {
    return std::string(static_cast<const char *>(block), static_cast<size_t>(size));
}

using HandlesTest = PoolTest;

// Numbers name live Handles only. Without the master pointer or the data block
// NewHandle gives null; without the record an unregistered Handle.
TEST_F(HandlesTest, NumbersNameLiveHandlesOnly) {
    DisposePointer(nullptr);
    EXPECT_EQ(MemoryError(), kMemoryNilFree);
    // The codes callers see: 0, -108 and -111.
    EXPECT_EQ(std::tuple(kNoError, kMemoryFull, kMemoryNilFree), std::tuple(0, -108, -111));
    Handle empty = NewHandle(-7), data = NewHandle(6);
    EXPECT_EQ(*empty, nullptr);
    EXPECT_EQ(Contents(*data, GetHandleSize(data)), std::string(6, '\0'));
    const uint32_t number = HandleNumber(data);
    DisposePointer(nullptr);
    DisposeHandle(data);
    EXPECT_EQ(MemoryError(), kNoError) << "a good disposal clears the code";
    Handle next = NewHandle(1);
    EXPECT_EQ((std::set{number, HandleNumber(empty), HandleNumber(next), 0u}.size()), 4u);
    EXPECT_FALSE(HandleFromNumber(number) || HandleFromNumber(0));
    EXPECT_EQ(HandleFromNumber(HandleNumber(next)), next);
    for (uint32_t n = 1; n <= 4; ++n) {
        ClearReportedErrors();
        DisposePointer(NewPointer(1));  // MemoryError 0
        MemoryPoolFailNth(n);
        Handle h = NewHandle(24);
        MemoryPoolFailNth(0);
        EXPECT_EQ(h == nullptr, n <= 2) << n;
        EXPECT_EQ(MemoryError(), n <= 2 ? kMemoryFull : kNoError) << n;
        EXPECT_EQ(GetHandleSize(h), n == 4 ? 24 : 0);
        EXPECT_EQ(LastReportedError(), n == 3 ? 14 : 0);  // the lookup's code
        DisposeHandle(h);
        EXPECT_EQ(LastReportedError(), n == 3 ? 13 : 0);  // the removal's
        EXPECT_EQ(ReportedErrorCount(), n == 3 ? 4u : 0u) << "the record, lookup and removal";
        EXPECT_EQ(RegisteredHandleCount(), 2u);
    }
    // A new pool starts an empty registry, even when nothing asked for it in between.
    MemoryPoolDestroy();
    ASSERT_TRUE(MemoryPoolCreate(32768));
    EXPECT_EQ(RegisteredHandleCount(), 0u);
}

// A random life of many Handles: every live one keeps its number and size, a
// disposed one's number names nothing, through growth and removals of the index.
TEST_F(HandlesTest, RandomLivesKeepTheRegistryConsistent) {
    std::mt19937 random(7);
    std::vector<std::pair<Handle, uint32_t>> live;
    std::vector<uint32_t> gone;
    // First a few at a time, so that the smallest index wraps round often.
    for (int step = 0; step < 30000; ++step) {
        const size_t most = step < 24000 ? 24 : 4000;
        if (live.empty() || (live.size() < most && random() % 5 < 3)) {
            Handle h = NewHandle(int32_t(random() % 9));
            live.push_back({h, HandleNumber(h)});
        } else {
            const size_t at = random() % live.size();
            DisposeHandle(live[at].first);
            gone.push_back(live[at].second);
            live.erase(live.begin() + std::ptrdiff_t(at));
        }
        for (const auto &[h, number] : live)
            ASSERT_EQ(HandleNumber(h), number) << step;
    }
    for (const auto &[h, number] : live)
        ASSERT_TRUE(number != 0 && HandleNumber(h) == number && HandleFromNumber(number) == h);
    for (uint32_t number : gone)
        ASSERT_EQ(HandleFromNumber(number), nullptr);
    EXPECT_EQ(RegisteredHandleCount(), live.size());
    for (const auto &entry : live)
        DisposeHandle(entry.first);
}

// The joined data keeps the destination's number; without memory for the joined block (1) or the
// new record (2) nothing changes. Empty and unregistered Handles are refused either way.
TEST_F(HandlesTest, AppendHandleJoinsDataUnderTheSameNumber) {
    Handle to = NewHandle(1), from = NewHandle(1), empty = NewHandle(0);
    **from = 'a';
    const uint32_t number = HandleNumber(to), blocks = MemoryPoolBlockCount();
    for (uint32_t n : {2u, 1u, 0u}) {
        MemoryPoolFailNth(n);
        EXPECT_EQ(AppendHandle(from, to), n != 0 ? kMemoryFull : 0) << n;
        EXPECT_EQ(MemoryError(), n != 0 ? kMemoryFull : kNoError);
        EXPECT_EQ(MemoryPoolBlockCount(), blocks) << n;
    }
    EXPECT_EQ(Contents(*to, GetHandleSize(to)), std::string("\0a", 2));
    EXPECT_EQ(HandleFromNumber(number), to);
    MemoryPoolFailNth(3);
    Handle unregistered = NewHandle(2);
    MemoryPoolFailNth(0);
    for (auto [a, b] : {std::pair{from, empty},
                        {empty, from},
                        {from, unregistered},
                        {unregistered, from},
                        {Handle(nullptr), from}})
        EXPECT_EQ(AppendHandle(a, b), kAppendEmpty);
    for (Handle h : {empty, unregistered, from, to})
        DisposeHandle(h);
}

// Bytes go in and out at the start, the middle and the end, from and to an
// empty block; without memory, or past the end, the block stays as it was.
TEST_F(HandlesTest, InsertAndCutBytes) {
    void *block = nullptr;
    ASSERT_TRUE(InsertBytes(&block, "abcd", 0, 0, 4) && InsertBytes(&block, "XY", 4, 2, 2) &&
                InsertBytes(&block, "<", 6, 0, 1) && InsertBytes(&block, ">>", 7, 7, 2) &&
                InsertBytes(&block, nullptr, 9, 8, 1));
    EXPECT_EQ(Contents(block, 10), std::string("<abXYcd>\0>", 10));
    ASSERT_TRUE(CutBytes(&block, 3, 10, 2) && CutBytes(&block, 0, 8, 1) &&
                CutBytes(&block, 4, 7, 3));
    void *const before = block;
    MemoryPoolFailNth(1);
    EXPECT_EQ(InsertBytes(&block, "XY", 4, 2, 2), nullptr);
    MemoryPoolFailNth(1);
    EXPECT_EQ(CutBytes(&block, 1, 4, 2), nullptr);
    EXPECT_EQ(LastReportedError(), 10);
    MemoryPoolFailNth(0);
    EXPECT_FALSE(InsertBytes(&block, "XY", 4, 5, 2) || CutBytes(&block, 3, 4, 2) ||
                 CutBytes(&block, 0, 4, 5));
    EXPECT_EQ(block, before);
    EXPECT_EQ(Contents(block, 4), "abcd");
    ASSERT_NE(CutBytes(&block, 0, 4, 4), nullptr);
    DisposePointer(block);
    void *none = nullptr;  // a null block: refused when it claims a size
    EXPECT_FALSE(CutBytes(&none, 0, 1, 0) || InsertBytes(&none, "x", 1, 0, 1));
    ASSERT_NE(CutBytes(&none, 0, 0, 0), nullptr);
    DisposePointer(none);
}

}  // namespace
