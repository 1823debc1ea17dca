#include "settings/HexText.h"

#include <gtest/gtest.h>

namespace {

using qz::BytesToHex;
using qz::HexToBytes;

TEST(HexText, UpperCaseDigitsHighNibbleFirst) {
    EXPECT_EQ(BytesToHex({0x00, 0x0F, 0xA5, 0xFF, 0x10}), "000FA5FF10");
    EXPECT_EQ(BytesToHex(std::vector<uint8_t>{}), "");
}

TEST(HexText, EveryByteRoundTrips) {
    std::vector<uint8_t> all;
    for (int i = 0; i < 256; ++i)
        all.push_back(uint8_t(i));
    std::vector<uint8_t> back;
    ASSERT_TRUE(HexToBytes(BytesToHex(all), back));
    EXPECT_EQ(back, all);
    ASSERT_TRUE(HexToBytes("a5ff", back)); // lower case, as a hand edit may leave it
    EXPECT_EQ(back, (std::vector<uint8_t>{0xA5, 0xFF}));
}

TEST(HexText, OddTrailingDigitIsIgnored) {
    std::vector<uint8_t> out;
    ASSERT_TRUE(HexToBytes("0A1B2", out));
    EXPECT_EQ(out, (std::vector<uint8_t>{0x0A, 0x1B}));
    ASSERT_TRUE(HexToBytes("F", out));
    EXPECT_TRUE(out.empty());
    ASSERT_TRUE(HexToBytes("", out));
    EXPECT_TRUE(out.empty());
}

TEST(HexText, DamagedTextGivesNothing) {
    std::vector<uint8_t> out{1, 2, 3};
    for (const char* bad : {"0G", "0A 1B", "0A1BZ", "0x12", "12-4", "\xCF\xCF"}) {
        out = {1, 2, 3};
        EXPECT_FALSE(HexToBytes(bad, out)) << bad;
        EXPECT_TRUE(out.empty()) << bad;
    }
    EXPECT_FALSE(HexToBytes(std::string("00\0\0", 4), out));
}

} // namespace
