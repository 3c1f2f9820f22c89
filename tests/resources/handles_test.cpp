#include "resources/handles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "common/test_env.h"
#include "support/memory_pool.h"
#include "support/report_error.h"

namespace {

std::string Contents(const void *block, size_t size) {
    return std::string(static_cast<const char *>(block), size);
}
std::string Contents(Handle h) {
    return Contents(*h, GetHandleSize(h));
}
Handle Filled(const std::string &text) {
    Handle h = NewHandle(static_cast<int32_t>(text.size()));
    std::memcpy(*h, text.data(), text.size());
    return h;
}

class HandlesTest : public PoolTest {
  protected:
    void SetUp() override {
        PoolTest::SetUp();
        ClearReportedErrors();
    }
};

TEST_F(HandlesTest, PointersAndHandles) {
    auto *block = static_cast<uint8_t *>(NewPointer(32));
    EXPECT_EQ(Contents(block, 32), std::string(32, '\0'));
    EXPECT_EQ(MemoryError(), kNoError);
    DisposePointer(nullptr);
    EXPECT_EQ(MemoryError(), kMemoryNilFree);
    DisposePointer(block);
    EXPECT_EQ(MemoryError(), kNoError);

    // Handles of no size hold no block; numbers are nonzero, and a disposed
    // Handle's number names nothing.
    Handle empty = NewHandle(0), negative = NewHandle(-7), data = NewHandle(6);
    EXPECT_EQ(*empty, nullptr);
    EXPECT_EQ(*negative, nullptr);
    EXPECT_EQ(GetHandleSize(negative), 0);
    EXPECT_EQ(Contents(data), std::string(6, '\0'));
    const uint32_t number = HandleNumber(data);
    DisposeHandle(data);
    EXPECT_EQ(HandleFromNumber(number), nullptr);
    Handle next = NewHandle(1);
    EXPECT_EQ((std::set{HandleNumber(empty), HandleNumber(negative), HandleNumber(next)}.size()),
              3u);
    for (Handle h : {empty, negative, next}) {
        EXPECT_NE(HandleNumber(h), 0u);
        EXPECT_EQ(HandleFromNumber(HandleNumber(h)), h);
    }
    EXPECT_EQ(RegisteredHandleCount(), 3u);
    EXPECT_EQ(HandleFromNumber(0), nullptr);
    MemoryPoolFailNth(1);
    EXPECT_EQ(NewPointer(8), nullptr);
    EXPECT_EQ(MemoryError(), kMemoryFull);
    for (Handle h : {empty, negative, next}) {
        DisposeHandle(h);
        EXPECT_EQ(MemoryError(), kNoError);
    }
    EXPECT_EQ(ReportedErrorCount(), 0u);
}

// Fails each allocation of NewHandle in turn until the plan no longer fires.
TEST_F(HandlesTest, NewHandleUnderEveryAllocationFailure) {
    for (uint32_t n = 1;; ++n) {
        ClearReportedErrors();
        MemoryPoolFailNth(n);
        Handle h = NewHandle(24);
        const bool fired = MemoryPoolFailureFired();
        MemoryPoolFailNth(0);
        if (!fired) {
            EXPECT_EQ(GetHandleSize(h), 24);
            DisposeHandle(h);
            EXPECT_EQ(n, 4u) << "the master pointer, the data block, the registry record";
            break;
        }
        EXPECT_EQ(RegisteredHandleCount(), 0u);
        if (n <= 2) {
            EXPECT_EQ(h, nullptr) << n;
            EXPECT_EQ(MemoryError(), kMemoryFull);
        } else {
            // Without its registry record the Handle serves, unregistered: looking
            // it up reports 14, disposing it 14 and 13, and frees it all the same.
            ASSERT_NE(h, nullptr);
            EXPECT_EQ(LastReportedError(), kErrorHandleRecord);
            EXPECT_EQ(MemoryError(), kNoError);
            EXPECT_EQ(HandleNumber(h), 0u);
            EXPECT_EQ(GetHandleSize(h), 0);
            EXPECT_EQ(LastReportedError(), kErrorLookupUnknown);
            (*h)[23] = 1;
            ClearReportedErrors();
            DisposeHandle(h);
            EXPECT_EQ(ReportedErrorCount(), 2u);
            EXPECT_EQ(LastReportedError(), kErrorRemoveUnknown);
        }
        EXPECT_EQ(MemoryPoolBlockCount(), baselineBlocks_) << n;
    }
}

TEST_F(HandlesTest, AppendHandleJoinsDataUnderTheSameNumber) {
    Handle destination = Filled("xy"), source = Filled("abc");
    const uint32_t number = HandleNumber(destination);
    uint8_t *oldData = *destination;
    const uint32_t blocks = MemoryPoolBlockCount();
    // Without memory for the joined block (1) or the new record (2) nothing changes.
    for (uint32_t n : {1u, 2u}) {
        MemoryPoolFailNth(n);
        EXPECT_EQ(AppendHandle(source, destination), kMemoryFull) << n;
        MemoryPoolFailNth(0);
        EXPECT_EQ(MemoryError(), kMemoryFull);
        EXPECT_EQ(*destination, oldData);
        EXPECT_EQ(Contents(destination), "xy");
        EXPECT_EQ(MemoryPoolBlockCount(), blocks);
    }
    ASSERT_EQ(AppendHandle(source, destination), 0);
    EXPECT_EQ(MemoryError(), kNoError);
    EXPECT_EQ(Contents(destination), "xyabc");
    EXPECT_EQ(HandleFromNumber(number), destination);
    EXPECT_EQ(MemoryPoolBlockCount(), blocks) << "the old data block went back";
    ASSERT_EQ(AppendHandle(source, source), 0);
    EXPECT_EQ(Contents(source), "abcabc");

    // Empty and unregistered Handles are refused either way.
    Handle empty = NewHandle(0);
    MemoryPoolFailNth(3);
    Handle unregistered = NewHandle(2);
    MemoryPoolFailNth(0);
    for (auto [from, to] :
         {std::pair{source, empty}, std::pair{empty, source}, std::pair{source, unregistered},
          std::pair{unregistered, source}, std::pair{static_cast<Handle>(nullptr), source}})
        EXPECT_EQ(AppendHandle(from, to), kAppendEmpty);
    EXPECT_EQ(Contents(source), "abcabc");
    for (Handle h : {empty, unregistered, source, destination})
        DisposeHandle(h);
}

TEST_F(HandlesTest, InsertAndCutBytes) {
    void *block = nullptr;  // growing nothing into something
    ASSERT_NE(InsertBytes(&block, "abcd", 0, 0, 4), nullptr);
    ASSERT_NE(InsertBytes(&block, "XY", 4, 2, 2), nullptr);
    ASSERT_NE(InsertBytes(&block, "<", 6, 0, 1), nullptr);
    ASSERT_NE(InsertBytes(&block, ">>", 7, 7, 2), nullptr);  // at the old size: appended
    ASSERT_NE(InsertBytes(&block, nullptr, 9, 8, 1), nullptr);
    EXPECT_EQ(Contents(block, 10), std::string("<abXYcd>\0>", 10));
    ASSERT_NE(CutBytes(&block, 3, 10, 2), nullptr);
    ASSERT_NE(CutBytes(&block, 0, 8, 1), nullptr);
    ASSERT_NE(CutBytes(&block, 4, 7, 3), nullptr);
    EXPECT_EQ(Contents(block, 4), "abcd");

    // Without memory, or past the end, the block stays as it was.
    void *const before = block;
    MemoryPoolFailNth(1);
    EXPECT_EQ(InsertBytes(&block, "XY", 4, 2, 2), nullptr);
    EXPECT_EQ(MemoryError(), kMemoryFull);
    MemoryPoolFailNth(1);
    EXPECT_EQ(CutBytes(&block, 1, 4, 2), nullptr);
    EXPECT_EQ(LastReportedError(), kErrorCutBytes);
    MemoryPoolFailNth(0);
    EXPECT_EQ(InsertBytes(&block, "XY", 4, 5, 2), nullptr);
    EXPECT_EQ(CutBytes(&block, 3, 4, 2), nullptr);
    EXPECT_EQ(CutBytes(&block, 0, 4, 5), nullptr);
    EXPECT_EQ(block, before);
    EXPECT_EQ(Contents(block, 4), "abcd");
    ASSERT_NE(CutBytes(&block, 0, 4, 4), nullptr);
    DisposePointer(block);
    void *none = nullptr;  // a null block of a size
    EXPECT_EQ(CutBytes(&none, 0, 1, 0), nullptr);
    EXPECT_EQ(InsertBytes(&none, "x", 1, 0, 1), nullptr);
}

TEST_F(HandlesTest, RegistryStartsEmptyWithEveryNewPool) {
    const uint32_t number = HandleNumber(NewHandle(4));
    NewHandle(0);
    EXPECT_EQ(RegisteredHandleCount(), 2u);
    // The pool takes every block with it, the registry's records included.
    MemoryPoolDestroy();
    EXPECT_EQ(RegisteredHandleCount(), 0u);
    EXPECT_EQ(NewHandle(4), nullptr);
    EXPECT_EQ(MemoryError(), kMemoryFull);
    ASSERT_TRUE(MemoryPoolCreate(32768));
    EXPECT_EQ(HandleFromNumber(number), nullptr);
    Handle c = NewHandle(3);
    EXPECT_EQ(HandleFromNumber(HandleNumber(c)), c);
    EXPECT_EQ(RegisteredHandleCount(), 1u);
    DisposeHandle(c);
}

}  // namespace