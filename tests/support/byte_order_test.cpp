#include "support/byte_order.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(ByteOrder, FieldsAreLittleEndian) {
    uint8_t bytes[6] = {};
    StoreU32(bytes, 0x04030201u);
    StoreI16(bytes + 4, -2);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 6),
              (std::vector<uint8_t>{0x01, 0x02, 0x03, 0x04, 0xFE, 0xFF}));
    EXPECT_EQ(LoadU32(bytes), 0x04030201u);
    EXPECT_EQ(LoadI16(bytes + 4), -2);
    EXPECT_EQ(ResTypeOf("PICT"), 0x50494354u);
}

// A checked read past the end fails and leaves the cursor where it was.
TEST(ByteOrder, CursorRefusesReadsPastTheEnd) {
    const uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
    ByteCursor cursor(bytes, sizeof bytes);
    uint32_t u32 = 0;
    uint16_t u16 = 0;
    uint8_t out[4] = {};
    ASSERT_TRUE(cursor.ReadU32(&u32));
    EXPECT_FALSE(cursor.ReadU32(&u32));
    EXPECT_FALSE(cursor.Skip(3));
    EXPECT_FALSE(cursor.ReadBytes(out, 3));
    EXPECT_EQ(u32, 0x04030201u);
    EXPECT_EQ(cursor.position(), 4u);
    ASSERT_TRUE(cursor.ReadU16(&u16));
    EXPECT_EQ(u16, 0x0605);
    EXPECT_EQ(cursor.remaining(), 0u);
    EXPECT_FALSE(cursor.ReadU8(out));
    EXPECT_FALSE(cursor.Seek(7));
    EXPECT_TRUE(cursor.Seek(6));
    EXPECT_TRUE(RangeInside(2, 4, 6));
    EXPECT_FALSE(RangeInside(3, 4, 6));
    EXPECT_FALSE(RangeInside(2, UINT64_MAX, 6));
}

}  // namespace
