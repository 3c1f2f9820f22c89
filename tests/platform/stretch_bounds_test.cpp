// What the Win32 backend may hand to the system's stretch: every byte that the
// headers promise must lie inside the blocks, checked at the exact bounds.
#include "platform/stretch_bounds.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "support/byte_order.h"

namespace {

using Block = std::vector<uint8_t>;

// A 5 x 3 bitmap of 8 bits without compression: rows of 8 bytes, colours used 0
// (a table of 256), blocks exactly as large as it needs.
struct Case {
    const char *what;
    std::function<void(Block &info, uint32_t &bitsSize)> change;
    bool readable;
};

TEST(StretchBounds, EveryPromisedByteLiesInsideTheBlocks) {
    const Case cases[] = {
        {"exact blocks", [](Block &, uint32_t &) {}, true},
        {"one pixel byte short", [](Block &, uint32_t &bits) { --bits; }, false},
        {"table one byte short", [](Block &info, uint32_t &) { info.pop_back(); }, false},
        {"16 colours used",
         [](Block &info, uint32_t &) { StoreU32(&info[32], 16), info.resize(104); }, true},
        {"top-down rows", [](Block &info, uint32_t &) { StoreI32(&info[8], -3); }, true},
        {"height 0", [](Block &info, uint32_t &) { StoreI32(&info[8], 0); }, false},
        {"width 0", [](Block &info, uint32_t &) { StoreI32(&info[4], 0); }, false},
        {"header of 39", [](Block &info, uint32_t &) { StoreU32(&info[0], 39); }, false},
        {"header past the block", [](Block &info, uint32_t &) { StoreU32(&info[0], 1065); }, false},
        {"depth 2", [](Block &info, uint32_t &) { StoreU16(&info[14], 2); }, false},
        {"300 colours used", [](Block &info, uint32_t &) { StoreU32(&info[32], 300); }, false},
        {"24 bits, no table",
         [](Block &info, uint32_t &bits) { StoreU16(&info[14], 24), info.resize(40), bits = 48; },
         true},
        {"24 bits, one row short",
         [](Block &info, uint32_t &bits) { StoreU16(&info[14], 24), info.resize(40), bits = 47; },
         false},
        {"bit fields without masks",
         [](Block &info, uint32_t &bits) {
             StoreU16(&info[14], 32), StoreU32(&info[16], 3), info.resize(51), bits = 60;
         },
         false},
        {"bit fields with masks",
         [](Block &info, uint32_t &bits) {
             StoreU16(&info[14], 32), StoreU32(&info[16], 3), info.resize(52), bits = 60;
         },
         true},
        {"run-length, stored size inside",
         [](Block &info, uint32_t &) { StoreU32(&info[16], 1), StoreU32(&info[20], 24); }, true},
        {"run-length, stored size past",
         [](Block &info, uint32_t &) { StoreU32(&info[16], 1), StoreU32(&info[20], 25); }, false},
        {"run-length, no stored size", [](Block &info, uint32_t &) { StoreU32(&info[16], 1); },
         false},
        {"run-length, top-down",
         [](Block &info, uint32_t &) {
             StoreU32(&info[16], 1), StoreU32(&info[20], 8), StoreI32(&info[8], -3);
         },
         false},
        {"run-length 4 at 8 bits",
         [](Block &info, uint32_t &) { StoreU32(&info[16], 2), StoreU32(&info[20], 8); }, false},
    };
    for (const Case &c : cases) {
        Block info(40 + 1024, 0);
        StoreU32(&info[0], 40);
        StoreI32(&info[4], 5);
        StoreI32(&info[8], 3);
        StoreU16(&info[12], 1);
        StoreU16(&info[14], 8);
        uint32_t bitsSize = 24;
        c.change(info, bitsSize);
        const Block bits(bitsSize);
        StretchRequest request{};
        request.info = info.data();
        request.infoSize = static_cast<uint32_t>(info.size());
        request.bits = bits.data();
        request.bitsSize = bitsSize;
        EXPECT_EQ(StretchRequestReadable(request), c.readable) << c.what;
    }
}

}  // namespace
