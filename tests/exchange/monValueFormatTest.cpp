// The numbers and colours of measured values: unit prefixes, rounding, the deviation from the
// nominal and the colours against the meter's own limits.
#include "exchange/monValueFormat.h"

#include <gtest/gtest.h>

#include <cmath>

namespace qz {
namespace {

TEST(FormatWithPrefix, VoltageExamples) {
    EXPECT_EQ(FormatVoltage(230.94f, '.'), "230.94 В");
    EXPECT_EQ(FormatVoltage(57.735f, '.'), "57.735 В");
    EXPECT_EQ(FormatVoltage(0.5f, '.'), "0.5000 В");
    EXPECT_EQ(FormatVoltage(10392.3f, '.'), "10.392 кВ");
    EXPECT_EQ(FormatVoltage(3464.1f, '.'), "3.4641 кВ");
    EXPECT_EQ(FormatVoltage(-12.5f, '.'), "-12.50 В"); // the minus counts as a digit
    // Between -1 and 0 the integer part is a plain 0: the digits stay those of 0.5.
    EXPECT_EQ(FormatVoltage(-0.5f, '.'), "-0.5000 В");
    EXPECT_EQ(FormatCurrent(-0.0001f, ','), "-0,0001 А");
    EXPECT_EQ(FormatVoltage(-1.5f, '.'), "-1.500 В");
    EXPECT_EQ(FormatVoltage(-0.5f * 1000.0f * 1000.0f, '.'), "-500.0 кВ");
    EXPECT_EQ(FormatVoltage(2e9f, '.'), "2.0000 ГВ");
    EXPECT_EQ(FormatVoltage(1e12f, '.'), "1000.0 ГВ"); // no prefix beyond giga
    EXPECT_EQ(FormatVoltage(2.5e6f, '.'), "2.5000 МВ");
}

TEST(FormatWithPrefix, CurrentUnitAndSeparator) {
    EXPECT_EQ(FormatCurrent(5.0f, ','), "5,0000 А");
    EXPECT_EQ(FormatCurrent(1500.0f, ','), "1,5000 кА");
    EXPECT_EQ(FormatWithPrefix(7, "Hz", 12.25f, '.'), "12.25000 Hz");
    // A narrower width still keeps one decimal.
    EXPECT_EQ(FormatWithPrefix(2, "В", 999.0f, '.'), "999.0 В");
}

TEST(FormatFixed, RoundsAndDropsMinusOfZero) {
    EXPECT_EQ(FormatFixed(1.005, 0, '.'), "1");
    EXPECT_EQ(FormatFixed(-0.001, 2, '.'), "0.00");
    EXPECT_EQ(FormatFixed(-0.006, 2, ','), "-0,01");
    EXPECT_EQ(FormatFixed(1234.5678, 3, ','), "1234,568");
    EXPECT_EQ(FormatFixed(std::nan(""), 2, '.'), "NAN");
}

TEST(Deviation, RoundsToWholePercentBeforeTheColour) {
    TmonDeviation d = DeviationPercent(100.0f, 105.6f);
    EXPECT_TRUE(d.Valid);
    EXPECT_EQ(d.Percent, 6.0f);
    EXPECT_EQ(DeviationPercent(100.0f, 104.6f).Percent, 5.0f);
    EXPECT_EQ(DeviationPercent(100.0f, 102.5f).Percent, 2.0f); // half to even
    EXPECT_EQ(DeviationPercent(100.0f, 103.5f).Percent, 4.0f);
    EXPECT_FALSE(DeviationPercent(0.0f, 50.0f).Valid);
    EXPECT_FALSE(DeviationPercent(0.00005f, 50.0f).Valid);

    TmonSettings s;
    s.NominalPhaseVoltage = 100;
    s.PhaseVoltageLimits[0] = 10; // upper maximum
    s.PhaseVoltageLimits[1] = 5;  // upper normal
    s.PhaseVoltageLimits[2] = -10;
    s.PhaseVoltageLimits[3] = -5;
    EXPECT_EQ(PhaseVoltageColor(s, 105.6f), mclBlue);
    EXPECT_EQ(PhaseVoltageColor(s, 104.6f), mclBlack);
    EXPECT_EQ(PhaseVoltageColor(s, 111.0f), mclRed);
    EXPECT_EQ(PhaseVoltageColor(s, 94.0f), mclBlue);
    EXPECT_EQ(PhaseVoltageColor(s, 89.0f), mclRed);
    s.NominalPhaseVoltage = 0; // no settings read yet: black whatever the value
    EXPECT_EQ(PhaseVoltageColor(s, 1000.0f), mclBlack);
}

TEST(Colours, LimitOrderAndTheirOwnLimits) {
    // The later tests win, so a value above both upper limits is red.
    EXPECT_EQ(LimitColor(true, 20, -10, -5, 5, 10), mclRed);
    EXPECT_EQ(LimitColor(true, 7, -10, -5, 5, 10), mclBlue);
    EXPECT_EQ(LimitColor(true, 0, -10, -5, 5, 10), mclBlack);
    EXPECT_EQ(LimitColor(false, 20, -10, -5, 5, 10), mclBlack);
    EXPECT_EQ(UpperLimitColor(-1000, 5, 10), mclBlack); // only the upper limits act

    TmonSettings s;
    s.NominalLineVoltage = 100;
    s.LineVoltageLimits[0] = 10;
    s.LineVoltageLimits[1] = 5;
    s.LineVoltageLimits[2] = -10;
    s.LineVoltageLimits[3] = -5;
    EXPECT_EQ(LineVoltageColor(s, 107.0f), mclBlue);
    // Frequency limits: [2] lower normal, [3] lower maximum; no rounding.
    s.NominalFrequency = 50;
    s.FrequencyLimits[0] = 0.4f;
    s.FrequencyLimits[1] = 0.2f;
    s.FrequencyLimits[2] = -0.2f;
    s.FrequencyLimits[3] = -0.4f;
    EXPECT_EQ(FrequencyColor(s, 50.1f), mclBlack);
    EXPECT_EQ(FrequencyColor(s, 49.7f), mclBlue);
    EXPECT_EQ(FrequencyColor(s, 49.5f), mclRed);
    EXPECT_EQ(FrequencyColor(s, 50.3f), mclBlue);
    s.KULimits[0] = 8;
    s.KULimits[1] = 12;
    EXPECT_EQ(DistortionColor(s, 9), mclBlue);
    EXPECT_EQ(DistortionColor(s, 13), mclRed);
    s.KULimits[5] = 6;
    s.KULimits[44] = 9;
    EXPECT_EQ(HarmonicColor(s, 5, 7), mclBlue);
    EXPECT_EQ(HarmonicColor(s, 5, 9.5f), mclRed);
    EXPECT_EQ(HarmonicColor(s, 41, 100), mclBlack);
    const float k0[2] = {4, 2};
    EXPECT_EQ(UnbalanceColor(1.5f, k0), mclBlack);
    EXPECT_EQ(UnbalanceColor(3, k0), mclBlue);
    EXPECT_EQ(UnbalanceColor(5, k0), mclRed);
}

} // namespace
} // namespace qz
