#include "common/Cp1251.h"

#include <gtest/gtest.h>

using namespace qz;

TEST(Cp1251, EveryByteSurvivesARoundTrip) {
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, char(b));
        const std::string utf8 = Cp1251ToUtf8(one);
        EXPECT_EQ(Utf8ToCp1251(utf8), one) << "byte " << b;
    }
}

TEST(Cp1251, KnownLettersBothWays) {
    // "Привет" and a few letters of the upper half whose places are easy to get wrong.
    const std::string cp = "\xCF\xF0\xE8\xE2\xE5\xF2";
    EXPECT_EQ(Cp1251ToUtf8(cp), "Привет");
    EXPECT_EQ(Utf8ToCp1251("Привет"), cp);
    EXPECT_EQ(Utf8ToCp1251("Ёё№–—€«»"), "\xA8\xB8\xB9\x96\x97\x88\xAB\xBB");
    EXPECT_EQ(Utf8ToCp1251("АЯая"), "\xC0\xDF\xE0\xFF");
    EXPECT_EQ(Cp1251ToUtf8(std::string("\xA0", 1)), "\xC2\xA0"); // no-break space
    EXPECT_EQ(Cp1251ToUnicode(0x98), char32_t(0x98));
}

TEST(Cp1251, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    EXPECT_EQ(Utf8ToCp1251("a中b"), "a?b");
    EXPECT_EQ(Utf8ToCp1251("\xF0\x9F\x98\x80"), "?"); // an emoji: one character, one mark
    EXPECT_EQ(Utf8ToCp1251("é"), "?");
}

TEST(Cp1251, MalformedUtf8NeverReadsPastTheEnd) {
    EXPECT_EQ(Utf8ToCp1251("\xD0"), "?");           // cut after the lead byte
    EXPECT_EQ(Utf8ToCp1251("\xE2\x80"), "??");      // cut three-byte form
    EXPECT_EQ(Utf8ToCp1251("\xC0\xAF"), "??");      // overlong '/'
    EXPECT_EQ(Utf8ToCp1251("\xED\xA0\x80"), "???"); // surrogate half
    EXPECT_EQ(Utf8ToCp1251("\x80z"), "?z");         // stray continuation byte
    EXPECT_EQ(Utf8ToCp1251(std::string("a\0b", 3)), std::string("a\0b", 3));
}
