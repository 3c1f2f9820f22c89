// Byte fields, lists, Str255 conversions and the memory pool.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/test_env.h"
#include "support/byte_order.h"
#include "support/lists.h"
#include "support/memory_pool.h"
#include "support/strings.h"

namespace {

TEST(ByteOrder, LittleEndianFieldsAndACursorThatStopsAtTheEnd) {
    uint8_t bytes[7] = {};
    StoreU32(bytes, 0x04030201u);
    StoreI16(bytes + 4, -2);
    bytes[6] = 7;
    EXPECT_EQ(Bytes(bytes, bytes + 7), (Bytes{1, 2, 3, 4, 0xFE, 0xFF, 7}));
    EXPECT_EQ(LoadI32(bytes), 0x04030201);
    EXPECT_EQ(ResTypeOf("PICT"), 0x50494354u);

    // A read that would pass the end fails and leaves the position alone.
    uint16_t u16 = 0;
    EXPECT_TRUE(ByteCursor(bytes, 2).ReadU16(&u16) && ByteCursor(bytes, 2).Skip(2) &&
                ByteCursor(bytes, 2).ReadBytes(&u16, 2));
    ByteCursor cursor(bytes + 4, 3);
    int16_t i16 = 0;
    uint8_t u8 = 0;
    ASSERT_TRUE(cursor.ReadI16(&i16));
    EXPECT_EQ(i16, -2);
    EXPECT_FALSE(cursor.ReadU16(&u16) || cursor.Skip(2) || cursor.ReadBytes(&u16, 2));
    EXPECT_EQ(cursor.remaining(), 1u);
    ASSERT_TRUE(cursor.ReadU8(&u8));
    EXPECT_EQ(u8, 7);
    EXPECT_FALSE(cursor.ReadU8(&u8));
    EXPECT_TRUE(RangeInside(2, 4, 6));
    EXPECT_FALSE(RangeInside(3, 4, 6) || RangeInside(7, 0, 6) || RangeInside(2, UINT64_MAX, 6));
}

struct Item {
    ListNode link;
    int id;
};

// The ids both ways, so that a broken prev or next link shows.
void ExpectOrder(const ListHeader &list, const std::vector<int> &ids) {
    std::vector<int> forward, backward;
    for (ListNode *node = list.first; node != nullptr; node = node->next)
        forward.push_back(reinterpret_cast<Item *>(node)->id);
    for (ListNode *node = list.last; node != nullptr; node = node->prev)
        backward.insert(backward.begin(), reinterpret_cast<Item *>(node)->id);
    EXPECT_EQ(forward, ids);
    EXPECT_EQ(backward, ids);
}

TEST(Lists, InsertAndRemoveAtEitherEndAndInTheMiddle) {
    // Links left over from elsewhere lead to a stray item, so that a link the
    // list fails to set shows.
    Item stray = {{nullptr, nullptr}, 99}, items[5];
    for (int i = 0; i < 5; ++i)
        items[i] = {{&stray.link, &stray.link}, i};
    ListHeader list = {nullptr, nullptr};
    auto node = [&](int i) { return &items[i].link; };
    ListInsert(&list, node(0), node(3));  // into an empty list the position is ignored
    ListInsert(&list, node(1), list.last);
    ListInsert(&list, node(2), nullptr);
    ListInsert(&list, node(3), node(2));
    ListInsert(&list, node(4), node(0));
    ExpectOrder(list, {2, 3, 0, 4, 1});
    const std::pair<int, std::vector<int>> removals[] = {
        {0, {2, 3, 4, 1}}, {2, {3, 4, 1}}, {1, {3, 4}}, {4, {3}}, {3, {}}};
    for (const auto &[id, left] : removals) {
        ListRemove(&list, node(id));
        ExpectOrder(list, left);
    }
    EXPECT_EQ(list.last, nullptr);
    ListInsert(&list, node(4), nullptr);  // an emptied list takes new members again
    ExpectOrder(list, {4});
}

// A 300-character C string keeps its first 255 characters, in place and
// copied, and nothing past the Str255's 256 bytes is written (neighbouring
// characters differ, so that a shift by one place shows).
TEST(Strings, ConversionsBothWaysAndComparisons) {
    std::vector<char> text(400, '\x7F');
    for (size_t i = 0; i < 300; ++i)
        text[i] = static_cast<char>('!' + i % 90);
    text[300] = '\0';
    Bytes copy(400, 0xEE);
    std::vector<char> inPlace = text;
    EXPECT_EQ(CToStr255(text.data(), copy.data()), copy.data());
    EXPECT_EQ(CToStr255InPlace(inPlace.data()), reinterpret_cast<uint8_t *>(inPlace.data()));
    EXPECT_EQ(Bytes(inPlace.begin(), inPlace.begin() + 256),
              Bytes(copy.begin(), copy.begin() + 256));
    EXPECT_EQ(copy[0], 255);
    EXPECT_EQ(0, std::memcmp(copy.data() + 1, text.data(), 255));
    EXPECT_EQ(inPlace[256], text[256]);
    EXPECT_EQ(copy[256], 0xEE);

    // Back to C strings; an empty Str255 gives null and an empty C string.
    char out[300];
    EXPECT_EQ(Str255ToC(copy.data(), out), out);
    EXPECT_EQ(Str255ToCInPlace(copy.data()), reinterpret_cast<char *>(copy.data()));
    EXPECT_EQ(std::string(out), std::string(text.data(), 255));
    EXPECT_EQ(std::string(reinterpret_cast<char *>(copy.data())), out);
    EXPECT_EQ(copy[256], 0xEE);
    uint8_t empty[2] = {0, 'q'};
    EXPECT_EQ(Str255ToC(empty, out), nullptr);
    EXPECT_EQ(Str255ToCInPlace(empty), nullptr);
    EXPECT_EQ(out[0] + empty[1], 'q');

    const uint8_t abc[] = {3, 'a', 'b', 'c'};
    uint8_t pascal[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(CopyStr255(abc, pascal), 0);
    EXPECT_EQ(Bytes(pascal, pascal + 5), (Bytes{3, 'a', 'b', 'c', 0xEE}));
    EXPECT_EQ(CompareStr255(abc, pascal), 0);
    for (const char *other : {"abcd", "abd", "ABC", "ab"})
        EXPECT_EQ(CompareStr255(abc, CToStr255(other, pascal)), -1) << other;

    // Only ASCII letters fold: '@' and '`', '[' and '{', 0xC0 and 0xE0 differ.
    const std::tuple<const char *, const char *, int> compared[] = {
        {"AZaz.rez", "azAZ.REZ", 0}, {"", "", 0},      {"abc", "abcd", -1},
        {"abd", "ABC", 1},           {"@", "`", -1},   {"[", "{", -1},
        {"\xC0", "\xE0", -1},        {nullptr, "", -1}};
    for (const auto &[a, b, sign] : compared) {
        EXPECT_EQ(CompareNoCase(a, b), sign) << b;
        EXPECT_EQ(CompareNoCase(b, a), -sign) << b;
    }
}

TEST(MemoryPool, LifecycleZeroFillLimitsAndPlannedFailures) {
    ASSERT_FALSE(MemoryPoolExists());
    EXPECT_EQ(MemoryPoolAllocate(8), nullptr);
    const uint32_t generation = MemoryPoolGeneration();
    MemoryPoolFailNth(6);  // a plan made before the pool exists holds
    ASSERT_TRUE(MemoryPoolCreate(32768));
    EXPECT_FALSE(MemoryPoolCreate(32768));
    EXPECT_EQ(MemoryPoolGeneration(), generation + 1);
    std::vector<uint8_t *> blocks;
    for (uint32_t size : {0u, 1u, 17u, 100000u, MemoryPoolMaxBlock}) {
        blocks.push_back(static_cast<uint8_t *>(MemoryPoolAllocate(size)));
        ASSERT_NE(blocks.back(), nullptr) << size;
        EXPECT_EQ(MemoryPoolBlockSize(blocks.back()), size);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(blocks.back()) % 16, 0u) << "aligned as malloc's";
        const uint32_t probe = size < 100 ? size : 100;
        EXPECT_EQ(Bytes(blocks.back(), blocks.back() + probe), Bytes(probe, 0)) << size;
        std::memset(blocks.back(), 0xA5, probe);
    }
    EXPECT_EQ(MemoryPoolAllocate(4), nullptr);  // the sixth
    EXPECT_TRUE(MemoryPoolFailureFired());
    EXPECT_EQ(MemoryPoolAllocate(MemoryPoolMaxBlock + 1), nullptr);
    EXPECT_EQ(MemoryPoolAllocationCount(), 7u) << "failed allocations count too";
    // Freed out of order (first, middle, last of the pool's list), a size comes back zero-filled
    // again; the rest goes with the pool (the sanitizer build sees a leak if not).
    for (size_t index : {4u, 2u, 0u})
        MemoryPoolFree(blocks[index]);
    MemoryPoolFree(nullptr);
    EXPECT_EQ(MemoryPoolBlockCount(), 2u);
    auto *again = static_cast<uint8_t *>(MemoryPoolAllocate(17));
    EXPECT_EQ(Bytes(again, again + 17), Bytes(17, 0));
    EXPECT_EQ(MemoryPoolBlockSize(nullptr), 0u);
    MemoryPoolDestroy();
    EXPECT_EQ(MemoryPoolBlockCount(), 0u);

    // The n-th allocation fails once, or from then on; a new plan forgets that
    // the old one fired, and 0 cancels.
    ASSERT_TRUE(MemoryPoolCreate(32768));
    EXPECT_EQ(MemoryPoolAllocationCount(), 0u);
    for (bool persistent : {false, true}) {
        MemoryPoolFailNth(3, persistent);
        for (int i = 1; i <= 5; ++i) {
            EXPECT_EQ(MemoryPoolFailureFired(), i > 3);
            EXPECT_EQ(MemoryPoolAllocate(4) == nullptr, i == 3 || (persistent && i > 3)) << i;
        }
        MemoryPoolFailNth(0);
        EXPECT_FALSE(MemoryPoolFailureFired());
        EXPECT_NE(MemoryPoolAllocate(4), nullptr);
    }
    MemoryPoolDestroy();
}

}  // namespace
