#include "common/DateTime.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace qz;

TEST(DateTime, EncodesKnownDays) {
    TDateTime d = -1;
    ASSERT_TRUE(TryEncodeDate(1899, 12, 30, d));
    EXPECT_EQ(d, 0);
    ASSERT_TRUE(TryEncodeDate(1900, 1, 1, d));
    EXPECT_EQ(d, 2);
    ASSERT_TRUE(TryEncodeDate(2000, 1, 1, d));
    EXPECT_EQ(d, 36526);
    ASSERT_TRUE(TryEncodeDate(1, 1, 1, d));
    EXPECT_EQ(d, -693593);
    ASSERT_TRUE(TryEncodeDate(2024, 2, 29, d));
    EXPECT_FALSE(TryEncodeDate(2023, 2, 29, d));
    EXPECT_FALSE(TryEncodeDate(1900, 2, 29, d));
    EXPECT_FALSE(TryEncodeDate(2024, 13, 1, d));
    EXPECT_FALSE(TryEncodeDate(0, 1, 1, d));
    EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, d));
    EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0, d));
}

TEST(DateTime, DecodesTimeAndNegativeValues) {
    const TDateTimeParts p = DecodeDateTime(36526.75);
    EXPECT_EQ(p.Year, 2000);
    EXPECT_EQ(p.Month, 1);
    EXPECT_EQ(p.Day, 1);
    EXPECT_EQ(p.Hour, 18);
    EXPECT_EQ(p.Minute, 0);
    // Before 30.12.1899 the fraction still counts forward from midnight.
    const TDateTimeParts n = DecodeDateTime(-1.25);
    EXPECT_EQ(n.Day, 29);
    EXPECT_EQ(n.Month, 12);
    EXPECT_EQ(n.Year, 1899);
    EXPECT_EQ(n.Hour, 6);
}

TEST(DateTime, RoundingToMidnightCarriesIntoTheNextDay) {
    const TDateTimeParts p = DecodeDateTime(36526.0 + 0.9999999999);
    EXPECT_EQ(p.Day, 2);
    EXPECT_EQ(p.Hour, 0);
    EXPECT_EQ(p.MSec, 0);
}

TEST(DateTime, EncodeAndDecodeAgreeOverFourCenturies) {
    for (long day = -10000; day < 150000; day += 7) {
        const TDateParts p = DecodeDate(double(day));
        TDateTime back = 0;
        ASSERT_TRUE(TryEncodeDate(p.Year, p.Month, p.Day, back)) << day;
        ASSERT_EQ(back, double(day));
    }
    TDateTime dt = 0;
    ASSERT_TRUE(TryEncodeDateTime({2026, 12, 31, 23, 59, 57, 123}, dt));
    const TDateTimeParts q = DecodeDateTime(dt);
    EXPECT_EQ(q.Year, 2026);
    EXPECT_EQ(q.Second, 57);
    EXPECT_EQ(q.MSec, 123);
    EXPECT_EQ(TimeOfDayMs(dt), ((23 * 60 + 59) * 60 + 57) * 1000 + 123);
}

TEST(DateTime, BcdHelpers) {
    EXPECT_EQ(BcdToInt(0x59), 59);
    EXPECT_EQ(IntToBcd(59), 0x59);
    EXPECT_EQ(IntToBcd(7), 0x07);
    EXPECT_TRUE(IsValidBcd(0x99));
    EXPECT_FALSE(IsValidBcd(0x5A));
    EXPECT_FALSE(IsValidBcd(0xA0));
    for (int v = 0; v < 100; ++v)
        EXPECT_EQ(BcdToInt(IntToBcd(v)), v);
}

TEST(DateTime, ValuesBeyondTheCalendarDecodeLikeNonNumbers) {
    // A time read from a damaged file may be any double.
    for (double v : {6.2e185, -6.2e185, 3.1e6, std::nan("")}) {
        const TDateTimeParts p = DecodeDateTime(v);
        EXPECT_EQ(p.Year, 1899) << v;
        EXPECT_EQ(p.Month, 12) << v;
        EXPECT_EQ(p.Day, 30) << v;
    }
    EXPECT_EQ(DecodeDateTime(2958465.0).Year, 9999); // 31.12.9999 still decodes
}
