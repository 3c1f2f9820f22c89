#include "support/strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Str255(const std::string &text) {
    std::vector<uint8_t> s(256, 0);
    s[0] = static_cast<uint8_t>(text.size());
    std::memcpy(s.data() + 1, text.data(), text.size());
    return s;
}

// A 300-character C string keeps its first 255 characters, in place and when
// copied; nothing past the Str255's 256 bytes is written (every character
// differs from its neighbours, so that a shift by one place shows).
TEST(Str255Convert, ConversionsBothWays) {
    std::vector<char> buffer(400, '\x7F');
    for (size_t i = 0; i < 300; ++i)
        buffer[i] = static_cast<char>('!' + i % 90);
    buffer[300] = '\0';
    const std::vector<char> original = buffer;

    std::vector<uint8_t> copy(400, 0xEE);
    EXPECT_EQ(CToStr255(original.data(), copy.data()), copy.data());
    EXPECT_EQ(copy[0], 255);
    EXPECT_EQ(0, std::memcmp(copy.data() + 1, original.data(), 255));
    EXPECT_EQ(std::vector<uint8_t>(copy.begin() + 256, copy.end()),
              std::vector<uint8_t>(144, 0xEE));

    uint8_t *inPlace = CToStr255InPlace(buffer.data());
    ASSERT_EQ(inPlace, reinterpret_cast<uint8_t *>(buffer.data()));
    EXPECT_EQ(std::vector<uint8_t>(inPlace, inPlace + 256),
              std::vector<uint8_t>(copy.begin(), copy.begin() + 256));
    EXPECT_EQ(std::vector<char>(buffer.begin() + 256, buffer.end()),
              std::vector<char>(original.begin() + 256, original.end()));

    uint8_t empty[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    CToStr255("", empty);
    EXPECT_EQ(empty[0], 0);
    EXPECT_EQ(empty[1], 0xEE);

    // Back to C strings: in place, copied, and none for an empty Str255.
    std::vector<uint8_t> s = Str255("FshI");
    s[5] = 0xEE;
    char *c = Str255ToCInPlace(s.data());
    EXPECT_STREQ(c, "FshI");
    EXPECT_EQ(s[5], 0xEE) << "untouched beyond the terminator";

    std::vector<char> destination(300, '\x55');
    ASSERT_EQ(Str255ToC(Str255(std::string(255, 'z')).data(), destination.data()),
              destination.data());
    EXPECT_EQ(std::strlen(destination.data()), 255u);
    EXPECT_EQ(destination[256], '\x55');

    s = Str255("");
    s[1] = 'q';
    EXPECT_EQ(Str255ToCInPlace(s.data()), nullptr);
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(s[1], 'q');
    EXPECT_EQ(Str255ToC(s.data(), destination.data()), nullptr);
    EXPECT_EQ(destination[0], '\0');
}

TEST(Str255Compare, CopyCompareAndCompareNoCase) {
    const std::vector<uint8_t> abc = Str255("abc");
    uint8_t copy[8];
    std::memset(copy, 0xEE, sizeof copy);
    EXPECT_EQ(CopyStr255(abc.data(), copy), 0);
    EXPECT_EQ(std::vector<uint8_t>(copy, copy + 5), (std::vector<uint8_t>{3, 'a', 'b', 'c', 0xEE}));
    EXPECT_EQ(CompareStr255(abc.data(), copy), 0);
    for (const char *other : {"abcd", "abd", "ABC", "ab"})
        EXPECT_EQ(CompareStr255(abc.data(), Str255(other).data()), -1) << other;

    EXPECT_EQ(CompareNoCase("Updater.REZ", "updater.rez"), 0);
    EXPECT_EQ(CompareNoCase("", ""), 0);
    // Characters 0x20 apart that are not letters stay different, and bytes above
    // 0x7F (Shift-JIS) are compared as they are.
    for (auto [a, b] : {std::pair{"abc", "abcd"}, std::pair{"abcd", "abc"}, std::pair{"abc", "abd"},
                        std::pair{"[", "{"}, std::pair{"@", "`"}, std::pair{"\xC0", "\xE0"}})
        EXPECT_NE(CompareNoCase(a, b), 0) << a << " " << b;
}

}  // namespace
