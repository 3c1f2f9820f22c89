#include "support/byte_order.h"

#include <gtest/gtest.h>

namespace {

TEST(ByteOrder, FieldsAreLittleEndian) {
    uint8_t bytes[6] = {};
    StoreU32(bytes, 0x04030201u);
    EXPECT_EQ(bytes[0], 0x01);
    EXPECT_EQ(bytes[1], 0x02);
    EXPECT_EQ(bytes[2], 0x03);
    EXPECT_EQ(bytes[3], 0x04);
    EXPECT_EQ(LoadU32(bytes), 0x04030201u);
    StoreI16(bytes + 4, -2);
    EXPECT_EQ(bytes[4], 0xFE);
    EXPECT_EQ(bytes[5], 0xFF);
    EXPECT_EQ(LoadI16(bytes + 4), -2);
    EXPECT_EQ(ResTypeOf("PICT"), 0x50494354u);
}

TEST(ByteOrder, CursorRefusesReadsPastTheEnd) {
    const uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
    ByteCursor cursor(bytes, sizeof bytes);
    uint32_t u32 = 0;
    uint16_t u16 = 0;
    ASSERT_TRUE(cursor.ReadU32(&u32));
    EXPECT_EQ(u32, 0x04030201u);
    EXPECT_FALSE(cursor.ReadU32(&u32));
    EXPECT_EQ(cursor.position(), 4u);
    EXPECT_EQ(u32, 0x04030201u);
    EXPECT_FALSE(cursor.Skip(3));
    uint8_t out[4] = {};
    EXPECT_FALSE(cursor.ReadBytes(out, 3));
    EXPECT_EQ(cursor.position(), 4u);
    ASSERT_TRUE(cursor.ReadU16(&u16));
    EXPECT_EQ(u16, 0x0605);
    EXPECT_EQ(cursor.remaining(), 0u);
    uint8_t u8 = 0;
    EXPECT_FALSE(cursor.ReadU8(&u8));
    EXPECT_FALSE(cursor.Seek(7));
    EXPECT_TRUE(cursor.Seek(6));

    EXPECT_TRUE(RangeInside(2, 4, 6));
    EXPECT_FALSE(RangeInside(3, 4, 6));
    EXPECT_FALSE(RangeInside(2, UINT64_MAX, 6));
}

}  // namespace
