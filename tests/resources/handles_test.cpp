#include "resources/handles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "common/test_env.h"
#include "support/memory_pool.h"
#include "support/report_error.h"

namespace {

class HandlesTest : public PoolTest {
  protected:
    void SetUp() override {
        PoolTest::SetUp();
        ClearReportedErrors();
    }
    // A registered Handle holding text's bytes.
    Handle Filled(const char *text) {
        size_t size = std::strlen(text);
        Handle h = NewHandle(static_cast<int32_t>(size));
        EXPECT_NE(h, nullptr);
        if (h != nullptr) std::memcpy(*h, text, size);
        return h;
    }
    static std::vector<uint8_t> Contents(Handle h) {
        return std::vector<uint8_t>(*h, *h + GetHandleSize(h));
    }
    static std::vector<uint8_t> Bytes(const char *text) {
        return std::vector<uint8_t>(text, text + std::strlen(text));
    }
};

TEST_F(HandlesTest, PointersAndMemoryError) {
    uint8_t *block = static_cast<uint8_t *>(NewPointer(32));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(MemoryError(), kNoError);
    for (int i = 0; i < 32; ++i)
        ASSERT_EQ(block[i], 0);

    DisposePointer(nullptr);
    EXPECT_EQ(MemoryError(), kMemoryNilFree);
    void *other = NewPointer(1);
    EXPECT_EQ(MemoryError(), kNoError);

    MemoryPoolFailNth(1);
    EXPECT_EQ(NewPointer(8), nullptr);
    EXPECT_EQ(MemoryError(), kMemoryFull);
    DisposePointer(block);
    EXPECT_EQ(MemoryError(), kNoError);
    DisposePointer(other);
}

TEST_F(HandlesTest, NewHandleRegistersSizeAndNumber) {
    uint32_t registered = RegisteredHandleCount();
    Handle empty = NewHandle(0);
    Handle negative = NewHandle(-7);
    Handle data = NewHandle(6);
    ASSERT_NE(empty, nullptr);
    ASSERT_NE(negative, nullptr);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(*empty, nullptr);
    EXPECT_EQ(*negative, nullptr);
    EXPECT_EQ(GetHandleSize(empty), 0);
    EXPECT_EQ(GetHandleSize(negative), 0);
    EXPECT_EQ(GetHandleSize(data), 6);
    ASSERT_NE(*data, nullptr);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ((*data)[i], 0);
    EXPECT_EQ(RegisteredHandleCount(), registered + 3);

    std::set<uint32_t> numbers;
    for (Handle h : {empty, negative, data}) {
        uint32_t number = HandleNumber(h);
        EXPECT_NE(number, 0u);
        EXPECT_EQ(HandleFromNumber(number), h);
        numbers.insert(number);
    }
    EXPECT_EQ(numbers.size(), 3u);
    EXPECT_EQ(HandleNumber(nullptr), 0u);
    EXPECT_EQ(HandleFromNumber(0), nullptr);
    EXPECT_EQ(GetHandleSize(nullptr), 0);

    uint32_t number = HandleNumber(data);
    DisposeHandle(data);
    EXPECT_EQ(HandleFromNumber(number), nullptr);
    // A new Handle never takes a number that is still in use.
    Handle next = NewHandle(1);
    EXPECT_NE(HandleNumber(next), HandleNumber(empty));
    EXPECT_NE(HandleNumber(next), HandleNumber(negative));
    for (Handle h : {empty, negative, next})
        DisposeHandle(h);
    EXPECT_EQ(RegisteredHandleCount(), registered);
    EXPECT_EQ(MemoryError(), kNoError);
    EXPECT_EQ(ReportedErrorCount(), 0u);
}

// Fails each allocation of NewHandle in turn until the plan no longer fires.
TEST_F(HandlesTest, NewHandleUnderEveryAllocationFailure) {
    for (uint32_t n = 1;; ++n) {
        ClearReportedErrors();
        uint32_t registered = RegisteredHandleCount();
        MemoryPoolFailNth(n);
        Handle h = NewHandle(24);
        bool fired = MemoryPoolFailureFired();
        MemoryPoolFailNth(0);
        if (!fired) {
            ASSERT_NE(h, nullptr);
            EXPECT_EQ(GetHandleSize(h), 24);
            DisposeHandle(h);
            EXPECT_EQ(n, 4u) << "NewHandle makes three allocations";
            break;
        }
        if (n <= 2) {
            // The master pointer or the data block: nothing is returned, nothing kept.
            EXPECT_EQ(h, nullptr) << n;
            EXPECT_EQ(MemoryError(), kMemoryFull);
            EXPECT_EQ(MemoryPoolBlockCount(), baselineBlocks_) << n;
            EXPECT_EQ(RegisteredHandleCount(), registered);
        } else {
            // The registry record: the Handle serves, unregistered.
            ASSERT_NE(h, nullptr);
            EXPECT_EQ(LastReportedError(), kErrorHandleRecord);
            EXPECT_EQ(MemoryError(), kNoError);
            EXPECT_EQ(RegisteredHandleCount(), registered);
            EXPECT_EQ(HandleNumber(h), 0u);
            EXPECT_EQ(GetHandleSize(h), 0);
            (*h)[23] = 1;
            DisposeHandle(h);
            EXPECT_EQ(MemoryPoolBlockCount(), baselineBlocks_);
        }
    }
}

TEST_F(HandlesTest, DisposingAnUnregisteredHandleReportsAndFrees) {
    MemoryPoolFailNth(3);
    Handle h = NewHandle(8);
    MemoryPoolFailNth(0);
    ASSERT_NE(h, nullptr);
    ClearReportedErrors();

    EXPECT_EQ(GetHandleSize(h), 0);
    EXPECT_EQ(LastReportedError(), kErrorLookupUnknown);
    ClearReportedErrors();
    DisposeHandle(h);
    EXPECT_EQ(ReportedErrorCount(), 2u);  // the lookup's 14, then the removal's 13
    EXPECT_EQ(LastReportedError(), kErrorRemoveUnknown);
    EXPECT_EQ(MemoryError(), kNoError);
    EXPECT_EQ(MemoryPoolBlockCount(), baselineBlocks_);
}

TEST_F(HandlesTest, AppendHandleJoinsDataUnderTheSameNumber) {
    Handle destination = Filled("xy");
    Handle source = Filled("abc");
    uint32_t number = HandleNumber(destination);
    uint8_t *oldData = *destination;
    uint32_t blocks = MemoryPoolBlockCount();
    uint32_t registered = RegisteredHandleCount();

    ASSERT_EQ(AppendHandle(source, destination), 0);
    EXPECT_NE(*destination, oldData);
    EXPECT_EQ(GetHandleSize(destination), 5);
    EXPECT_EQ(Contents(destination), Bytes("xyabc"));
    EXPECT_EQ(HandleNumber(destination), number);
    EXPECT_EQ(HandleFromNumber(number), destination);
    EXPECT_EQ(Contents(source), Bytes("abc"));
    EXPECT_EQ(RegisteredHandleCount(), registered);
    EXPECT_EQ(MemoryPoolBlockCount(), blocks);  // the old data block went back
    EXPECT_EQ(MemoryError(), kNoError);

    // A Handle appended onto itself doubles.
    ASSERT_EQ(AppendHandle(source, source), 0);
    EXPECT_EQ(Contents(source), Bytes("abcabc"));

    DisposeHandle(source);
    DisposeHandle(destination);
}

TEST_F(HandlesTest, AppendHandleRefusesEmptyAndUnregisteredHandles) {
    Handle empty = NewHandle(0);
    Handle full = Filled("abc");
    MemoryPoolFailNth(3);
    Handle unregistered = NewHandle(2);
    MemoryPoolFailNth(0);
    ASSERT_EQ(HandleNumber(unregistered), 0u);
    uint32_t blocks = MemoryPoolBlockCount();

    EXPECT_EQ(AppendHandle(full, empty), kAppendEmpty);
    EXPECT_EQ(*empty, nullptr);
    EXPECT_EQ(GetHandleSize(empty), 0);
    EXPECT_EQ(AppendHandle(empty, full), kAppendEmpty);
    EXPECT_EQ(AppendHandle(full, unregistered), kAppendEmpty);
    EXPECT_EQ(AppendHandle(unregistered, full), kAppendEmpty);
    EXPECT_EQ(AppendHandle(nullptr, full), kAppendEmpty);
    EXPECT_EQ(Contents(full), Bytes("abc"));
    EXPECT_EQ(MemoryPoolBlockCount(), blocks);

    for (Handle h : {empty, full, unregistered})
        DisposeHandle(h);
}

TEST_F(HandlesTest, AppendHandleWithoutMemoryChangesNothing) {
    Handle destination = Filled("xy");
    Handle source = Filled("abc");
    uint32_t number = HandleNumber(destination);
    uint8_t *oldData = *destination;
    uint32_t blocks = MemoryPoolBlockCount();

    // The first allocation is the joined block, the second the new record.
    for (uint32_t n : {1u, 2u}) {
        MemoryPoolFailNth(n);
        EXPECT_EQ(AppendHandle(source, destination), kMemoryFull) << n;
        EXPECT_TRUE(MemoryPoolFailureFired());
        MemoryPoolFailNth(0);
        EXPECT_EQ(MemoryError(), kMemoryFull);
        EXPECT_EQ(*destination, oldData);
        EXPECT_EQ(GetHandleSize(destination), 2);
        EXPECT_EQ(Contents(destination), Bytes("xy"));
        EXPECT_EQ(HandleFromNumber(number), destination);
        EXPECT_EQ(MemoryPoolBlockCount(), blocks);
    }
    DisposeHandle(source);
    DisposeHandle(destination);
}

TEST_F(HandlesTest, InsertBytesAtStartMiddleAndEnd) {
    void *block = NewPointer(4);
    std::memcpy(block, "abcd", 4);
    auto text = [&](uint32_t size) {
        return std::vector<uint8_t>(static_cast<uint8_t *>(block),
                                    static_cast<uint8_t *>(block) + size);
    };

    ASSERT_NE(InsertBytes(&block, "XY", 4, 2, 2), nullptr);
    EXPECT_EQ(text(6), Bytes("abXYcd"));
    ASSERT_NE(InsertBytes(&block, "<", 6, 0, 1), nullptr);
    EXPECT_EQ(text(7), Bytes("<abXYcd"));
    // At the old size the bytes are appended.
    void *grown = InsertBytes(&block, ">>", 7, 7, 2);
    ASSERT_EQ(grown, block);
    EXPECT_EQ(text(9), Bytes("<abXYcd>>"));
    DisposePointer(block);

    // Growing nothing into something.
    void *none = nullptr;
    ASSERT_NE(InsertBytes(&none, "new", 0, 0, 3), nullptr);
    EXPECT_EQ(0, std::memcmp(none, "new", 3));
    DisposePointer(none);
}

TEST_F(HandlesTest, InsertBytesFailureKeepsTheBlock) {
    void *block = NewPointer(4);
    std::memcpy(block, "abcd", 4);
    void *before = block;
    MemoryPoolFailNth(1);
    EXPECT_EQ(InsertBytes(&block, "XY", 4, 2, 2), nullptr);
    MemoryPoolFailNth(0);
    EXPECT_EQ(MemoryError(), kMemoryFull);
    EXPECT_EQ(block, before);
    EXPECT_EQ(0, std::memcmp(block, "abcd", 4));
    // An offset past the end is refused.
    EXPECT_EQ(InsertBytes(&block, "XY", 4, 5, 2), nullptr);
    EXPECT_EQ(block, before);
    DisposePointer(block);
}

TEST_F(HandlesTest, CutBytesAtStartMiddleAndEnd) {
    void *block = NewPointer(8);
    std::memcpy(block, "abcdefgh", 8);
    auto text = [&](uint32_t size) {
        return std::vector<uint8_t>(static_cast<uint8_t *>(block),
                                    static_cast<uint8_t *>(block) + size);
    };

    ASSERT_NE(CutBytes(&block, 2, 8, 3), nullptr);
    EXPECT_EQ(text(5), Bytes("abfgh"));
    ASSERT_NE(CutBytes(&block, 0, 5, 1), nullptr);
    EXPECT_EQ(text(4), Bytes("bfgh"));
    ASSERT_NE(CutBytes(&block, 2, 4, 2), nullptr);
    EXPECT_EQ(text(2), Bytes("bf"));
    ASSERT_NE(CutBytes(&block, 0, 2, 2), nullptr);
    // A stretch that passes the end is refused.
    EXPECT_EQ(CutBytes(&block, 0, 0, 1), nullptr);
    DisposePointer(block);
}

TEST_F(HandlesTest, CutBytesFailureReportsAndKeepsTheBlock) {
    void *block = NewPointer(8);
    std::memcpy(block, "abcdefgh", 8);
    void *before = block;
    MemoryPoolFailNth(1);
    EXPECT_EQ(CutBytes(&block, 2, 8, 3), nullptr);
    MemoryPoolFailNth(0);
    EXPECT_EQ(LastReportedError(), kErrorCutBytes);
    EXPECT_EQ(block, before);
    EXPECT_EQ(0, std::memcmp(block, "abcdefgh", 8));
    DisposePointer(block);
}

TEST_F(HandlesTest, DisposePictureHandleFreesTheBitmap) {
    Handle picture = NewHandle(sizeof(PictureRecord));
    ASSERT_NE(picture, nullptr);
    PictureRecord *record = reinterpret_cast<PictureRecord *>(*picture);
    record->bitmap = static_cast<uint8_t *>(NewPointer(1064));
    record->bits = record->bitmap + 1064 - 16;
    DisposePictureHandle(picture);
    EXPECT_EQ(MemoryPoolBlockCount(), baselineBlocks_);

    // Without a bitmap, empty, or null: only what is there goes.
    DisposePictureHandle(NewHandle(sizeof(PictureRecord)));
    DisposePictureHandle(NewHandle(0));
    DisposePictureHandle(nullptr);
    DisposeHandle(nullptr);
    EXPECT_EQ(MemoryPoolBlockCount(), baselineBlocks_);
    EXPECT_EQ(ReportedErrorCount(), 0u);
    EXPECT_EQ(RegisteredHandleCount(), 0u);
}

TEST_F(HandlesTest, RegistryStartsEmptyWithEveryNewPool) {
    StartHandleRegistry();
    Handle a = NewHandle(4);
    Handle b = NewHandle(0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    uint32_t number = HandleNumber(a);
    EXPECT_EQ(RegisteredHandleCount(), 2u);

    // The pool takes every block with it, the registry's records included.
    MemoryPoolDestroy();
    EXPECT_EQ(RegisteredHandleCount(), 0u);
    EXPECT_EQ(NewHandle(4), nullptr);
    EXPECT_EQ(MemoryError(), kMemoryFull);

    ASSERT_TRUE(MemoryPoolCreate(32768));
    StartHandleRegistry();
    EXPECT_EQ(RegisteredHandleCount(), 0u);
    EXPECT_EQ(HandleFromNumber(number), nullptr);
    Handle c = NewHandle(3);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(GetHandleSize(c), 3);
    EXPECT_EQ(HandleFromNumber(HandleNumber(c)), c);
    EXPECT_EQ(RegisteredHandleCount(), 1u);
    DisposeHandle(c);
    EXPECT_EQ(RegisteredHandleCount(), 0u);
}

}  // namespace
