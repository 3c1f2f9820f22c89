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

// A 300-character C string in a larger buffer; every character differs from its
// neighbours so that a shift by one place shows.
std::vector<char> LongCString(size_t bufferSize) {
    std::vector<char> buffer(bufferSize, '\x7F');
    for (size_t i = 0; i < 300; ++i)
        buffer[i] = static_cast<char>('!' + i % 90);
    buffer[300] = '\0';
    return buffer;
}

TEST(Str255Convert, LongCStringKeepsFirst255InPlace) {
    std::vector<char> buffer = LongCString(400);
    const std::vector<char> original = buffer;
    uint8_t *s = CToStr255InPlace(buffer.data());
    ASSERT_EQ(s, reinterpret_cast<uint8_t *>(buffer.data()));
    EXPECT_EQ(s[0], 255);
    EXPECT_EQ(0, std::memcmp(s + 1, original.data(), 255));
    // Nothing past the Str255's 256 bytes moves.
    for (size_t i = 256; i < original.size(); ++i)
        ASSERT_EQ(buffer[i], original[i]) << i;
}

TEST(Str255Convert, LongCStringCopyWritesAtMost256Bytes) {
    std::vector<char> source = LongCString(301);
    std::vector<uint8_t> destination(400, 0xEE);
    EXPECT_EQ(CToStr255(source.data(), destination.data()), destination.data());
    EXPECT_EQ(destination[0], 255);
    EXPECT_EQ(0, std::memcmp(destination.data() + 1, source.data(), 255));
    for (size_t i = 256; i < destination.size(); ++i)
        ASSERT_EQ(destination[i], 0xEE) << i;
}

TEST(Str255Convert, ShortAndEmptyCStrings) {
    char text[256] = "Updater.rez";
    uint8_t *s = CToStr255InPlace(text);
    EXPECT_EQ(s[0], 11);
    EXPECT_EQ(0, std::memcmp(s + 1, "Updater.rez", 11));

    uint8_t destination[256];
    std::memset(destination, 0xEE, sizeof destination);
    CToStr255("", destination);
    EXPECT_EQ(destination[0], 0);
    EXPECT_EQ(destination[1], 0xEE);
}

TEST(Str255Convert, Str255ToCInPlaceAndCopying) {
    std::vector<uint8_t> s = Str255("FshI");
    s[5] = 0xEE;
    char *c = Str255ToCInPlace(s.data());
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(c, "FshI");
    EXPECT_EQ(s[5], 0xEE);  // untouched beyond the terminator

    std::vector<uint8_t> source = Str255(std::string(255, 'z'));
    std::vector<char> destination(300, '\x55');
    ASSERT_EQ(Str255ToC(source.data(), destination.data()), destination.data());
    EXPECT_EQ(std::strlen(destination.data()), 255u);
    EXPECT_EQ(destination[256], '\x55');
}

TEST(Str255Convert, EmptyStr255GivesNullAndEmptyString) {
    std::vector<uint8_t> s = Str255("");
    s[1] = 'q';
    EXPECT_EQ(Str255ToCInPlace(s.data()), nullptr);
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(s[1], 'q');

    char destination[256];
    std::memset(destination, 'x', sizeof destination);
    EXPECT_EQ(Str255ToC(s.data(), destination), nullptr);
    EXPECT_EQ(destination[0], '\0');
}

TEST(Str255Compare, CopyAndCompare) {
    std::vector<uint8_t> source = Str255("abc");
    uint8_t destination[8];
    std::memset(destination, 0xEE, sizeof destination);
    EXPECT_EQ(CopyStr255(source.data(), destination), 0);
    EXPECT_EQ(0, std::memcmp(destination,
                             "\x03"
                             "abc",
                             4));
    EXPECT_EQ(destination[4], 0xEE);

    std::vector<uint8_t> abcd = Str255("abcd");
    std::vector<uint8_t> abd = Str255("abd");
    std::vector<uint8_t> upper = Str255("ABC");
    EXPECT_EQ(CompareStr255(source.data(), source.data()), 0);
    EXPECT_EQ(CompareStr255(source.data(), destination), 0);
    EXPECT_EQ(CompareStr255(source.data(), abcd.data()), -1);
    EXPECT_EQ(CompareStr255(abcd.data(), source.data()), -1);
    EXPECT_EQ(CompareStr255(source.data(), abd.data()), -1);
    EXPECT_EQ(CompareStr255(source.data(), upper.data()), -1);
}

TEST(Str255Compare, NoCaseFoldsOnlyAsciiLetters) {
    EXPECT_EQ(CompareNoCase("Updater.REZ", "updater.rez"), 0);
    EXPECT_EQ(CompareNoCase("", ""), 0);
    EXPECT_NE(CompareNoCase("abc", "abcd"), 0);
    EXPECT_NE(CompareNoCase("abcd", "abc"), 0);
    EXPECT_NE(CompareNoCase("abc", "abd"), 0);
    // Characters 0x20 apart that are not letters stay different.
    EXPECT_NE(CompareNoCase("[", "{"), 0);
    EXPECT_NE(CompareNoCase("@", "`"), 0);
    // Bytes above 0x7F (Shift-JIS) are compared as they are.
    EXPECT_NE(CompareNoCase("\xC0", "\xE0"), 0);
}

}  // namespace
