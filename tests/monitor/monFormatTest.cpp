// The window's plain presentation rules: the value labels, the power group, the harmonics grid
// and the spectrum scale.
#include "monitor/monFormat.h"

#include <gtest/gtest.h>

namespace qz {
namespace {

TEST(NominalsAndCaption, Examples) {
    EXPECT_EQ(NominalVoltagesText(57.735f, 100.0f, '.'), "57.74/100.00 В");
    EXPECT_EQ(NominalVoltagesText(3464.1f, 6000.0f, '.'), "3.46/6.0000 кВ");
    EXPECT_EQ(NominalVoltagesText(0.0f, 0.0f, ','), "0,00/0,0000 В");

    TmonFormatContext ctx;
    ctx.FormatDateTime = [](TDateTime t) { return t == 46000.5 ? "X" : "?"; };
    EXPECT_EQ(CaptionWithDataTime("Base", 0, ctx), "Base");
    EXPECT_EQ(CaptionWithDataTime("Base", 46000.5, ctx), "Base    (Время данных: X)");
}

TEST(Powers, KilowattsSwitchTheWholeGroup) {
    TmonData3sec d;
    d.P[pwA] = 1000;
    d.P[pwB] = 250;
    d.Q[pwSum] = -1500;
    d.S[pwA] = 999.9;
    d.CosPhi[pwC] = 0.8766;
    d.P1[pwA] = 10;
    TmonPowersView v = ShowPowers(d, true, false, '.');
    EXPECT_EQ(v.Header[0], "P, кВт");
    EXPECT_EQ(v.Value[0][pwA].Text, "1.000");
    EXPECT_EQ(v.Value[0][pwB].Text, "0.250");
    EXPECT_EQ(v.Header[1], "Q, квар");
    EXPECT_EQ(v.Value[1][pwSum].Text, "-1.500");
    EXPECT_EQ(v.Header[2], "S, В*А");
    EXPECT_EQ(v.Value[2][pwA].Text, "999.900");
    EXPECT_EQ(v.Cos[pwC].Text, "0.877");
    EXPECT_FALSE(v.Value[0][pwN].Set); // no neutral: N labels untouched
    EXPECT_FALSE(v.Cos[pwN].Set);

    // The first harmonic group is its own; N counts only with a neutral.
    d.P1[pwN] = 2000;
    TmonPowersView first = ShowPowers(d, false, false, '.');
    EXPECT_EQ(first.Header[0], "P, Вт");
    EXPECT_EQ(first.Value[0][pwA].Text, "10.000");
    TmonPowersView firstN = ShowPowers(d, false, true, '.');
    EXPECT_EQ(firstN.Header[0], "P, кВт");
    EXPECT_EQ(firstN.Value[0][pwN].Text, "2.000");
    EXPECT_EQ(firstN.Value[0][pwA].Text, "0.010");
}

TmonStorage SampleStorage(bool neutral) {
    TmonStorage st;
    st.Settings.HasNeutral = neutral;
    st.Settings.NominalPhaseVoltage = 57.735f;
    st.Settings.NominalLineVoltage = 100;
    st.Settings.NominalCurrent = 5;
    st.Settings.PhaseVoltageLimits[0] = 10;
    st.Settings.PhaseVoltageLimits[1] = 5;
    st.Settings.PhaseVoltageLimits[2] = -10;
    st.Settings.PhaseVoltageLimits[3] = -5;
    st.Data3sec.U1[phA] = 57.7;
    st.Data3sec.U1[phB] = 63.0; // +9 %: blue
    st.Data3sec.U[phB] = 58.0;
    st.Data3sec.dU1[phB] = 9.12;
    st.Data3sec.U1[phN] = 1.5;
    st.Data3sec.I1[phA] = 4.5;
    st.Data3sec.I[phA] = 4.75;
    st.Data3sec.F = 49.987;
    st.Data3sec.PhiUISeq[1] = 12.5;
    st.Data3sec.KI_B = 3.25f;
    st.Data3sec.KU_BC = 1.5f;
    return st;
}

TEST(Measurements, SelectionsPickTheShownQuantity) {
    TmonStorage st = SampleStorage(false);
    TmonFormatContext ctx;
    ctx.DecimalSeparator = '.';
    TmonSelections sel;
    TmonMeasurementsView v = ShowMeasurements(st, sel, "T", ctx);
    EXPECT_EQ(v.Caption, "T");
    EXPECT_EQ(v.Label48, "57.74/100.00 В");
    EXPECT_EQ(v.LInom, "5.0000 А");
    EXPECT_EQ(v.Freq.Text, "49.99 Гц");
    EXPECT_EQ(v.U[phA].Text, "57.700 В");
    EXPECT_EQ(v.U[phB].Color, mclBlue);
    EXPECT_EQ(v.I[phA].Text, "4.5000 А");
    EXPECT_EQ(v.PhiUISeq[1].Text, "12.50°");
    EXPECT_EQ(v.PhiUI[phA].Text, "0.00 °");
    EXPECT_EQ(v.KI[phB].Text, "3.25 %");
    EXPECT_EQ(v.KULine[lnBC].Text, "1.50 %");
    EXPECT_FALSE(v.U[phN].Set);
    EXPECT_FALSE(v.KU[phN].Set);

    sel.VoltageItem = 1; // true RMS: text and colour from U
    sel.CurrentItem = 1;
    v = ShowMeasurements(st, sel, "T", ctx);
    EXPECT_EQ(v.U[phB].Text, "58.000 В");
    EXPECT_EQ(v.U[phB].Color, mclBlack);
    EXPECT_EQ(v.I[phA].Text, "4.7500 А");
    sel.VoltageItem = 2; // deviation text, colour still from U(1)
    v = ShowMeasurements(st, sel, "T", ctx);
    EXPECT_EQ(v.U[phB].Text, "9.12 %");
    EXPECT_EQ(v.U[phB].Color, mclBlue);

    st.Settings.HasNeutral = 1;
    v = ShowMeasurements(st, TmonSelections(), "T", ctx);
    ASSERT_TRUE(v.U[phN].Set);
    EXPECT_EQ(v.U[phN].Text, "1.5000 В");
    EXPECT_EQ(v.U[phN].Color, mclRed); // -97 %
}

TEST(HarmonicsGrid, HeadersColumnsAndMarkers) {
    TmonStorage st = SampleStorage(true);
    st.Settings.KULimits[5] = 3;
    st.Settings.KULimits[44] = 5;
    st.Data3sec.KUn_A[5 - 2] = 6.0; // above the maximum of harmonic 5
    st.Data3sec.KUn_B[5 - 2] = 4.0; // above the normal only
    st.Data3sec.KIn_A[5 - 2] = 50.0;

    TmonGridView g = FillHarmonicsGrid(st, 0, '.');
    EXPECT_EQ(g.ColumnCount, 5);
    EXPECT_EQ(g.Header[1], "KUa, %");
    EXPECT_EQ(g.Header[2], "KUв, %");
    EXPECT_EQ(g.Header[4], "KUn, %");
    EXPECT_EQ(g.Cell[0][0], "2");
    EXPECT_EQ(g.Cell[38][0], "40");
    EXPECT_EQ(g.Cell[3][1], "6.00");
    EXPECT_EQ(g.Marker[3][1], mclRed); // row of harmonic 5
    EXPECT_EQ(g.Marker[3][2], mclBlue);
    EXPECT_EQ(g.Marker[2][1], mclBlack);
    EXPECT_FALSE(g.AngleIcon);

    g = FillHarmonicsGrid(st, 3, '.'); // "Фаза А": marker on KU only
    EXPECT_EQ(g.ColumnCount, 4);
    EXPECT_EQ(g.Header[3], "     UIa, °");
    EXPECT_TRUE(g.AngleIcon);
    EXPECT_EQ(g.Marker[3][1], mclRed);
    EXPECT_EQ(g.Marker[3][2], mclBlack);

    g = FillHarmonicsGrid(st, 2, '.'); // KI: never marked
    EXPECT_EQ(g.Header[1], "KIa, %");
    EXPECT_EQ(g.Cell[3][1], "50.00");
    EXPECT_EQ(g.Marker[3][1], mclBlack);

    g = FillHarmonicsGrid(st, 1, '.');
    EXPECT_EQ(g.ColumnCount, 4);
    EXPECT_EQ(g.Header[1], "KU aв, %");
    EXPECT_EQ(g.Header[2], "KUвc, %");

    g = FillHarmonicsGrid(st, 6, '.'); // with a neutral: "Фаза N"
    EXPECT_EQ(g.Header[3], "     UIn, °");
    EXPECT_TRUE(g.AngleIcon);
    st.Settings.HasNeutral = 0;
    g = FillHarmonicsGrid(st, 6, '.'); // without: "Мощность"
    EXPECT_EQ(g.Header[1], "Pa, Вт");
    EXPECT_FALSE(g.AngleIcon);
    g = FillHarmonicsGrid(st, 0, '.');
    EXPECT_EQ(g.ColumnCount, 4);
}

TEST(HarmonicsGrid, EachPowerColumnSwitchesToKilowattsAlone) {
    TmonStorage st = SampleStorage(false);
    st.Data3sec.Pn_B[3 - 2] = 1000.0;
    st.Data3sec.Pn_A[3 - 2] = 999.0;
    st.Data3sec.Pn_C[10 - 2] = -1500.0;
    TmonGridView g = FillHarmonicsGrid(st, 6, ',');
    EXPECT_EQ(g.Header[1], "Pa, Вт");
    EXPECT_EQ(g.Header[2], "Pв, кВт");
    EXPECT_EQ(g.Header[3], "Pc, кВт");
    EXPECT_EQ(g.Cell[1][1], "999,00");
    EXPECT_EQ(g.Cell[1][2], "1,00");
    EXPECT_EQ(g.Cell[8][3], "-1,50");
    EXPECT_EQ(GridItemOfIndex(7, true), giPower);
    EXPECT_EQ(GridItemOfIndex(6, true), giPhaseN);
}

struct ScaleCase {
    int Level, Pos;
    float Step;
    int Lines, Spacing;
    float Base;
    int BaseHeight;
};

TEST(SpectrumScale, Examples) {
    const ScaleCase cases[] = {
        {10, 300, 1, 10, 16, 1, 16},     {15, 300, 1, 15, 11, 1, 10},
        {16, 300, 10, 1, 100, 10, 100},  {100, 300, 10, 10, 16, 10, 16},
        {299, 300, 100, 2, 54, 100, 53}, {100, 250, 10, 10, 16, 40, 14},
    };
    for (const ScaleCase& c : cases) {
        SCOPED_TRACE(c.Level);
        TmonSpectrumScale sc = ComputeSpectrumScale(160, c.Level, c.Pos);
        EXPECT_FLOAT_EQ(sc.Step, c.Step);
        EXPECT_EQ(sc.Lines, c.Lines);
        EXPECT_EQ(sc.Spacing, c.Spacing);
        EXPECT_FLOAT_EQ(sc.Base, c.Base);
        EXPECT_EQ(sc.BaseHeight, c.BaseHeight);
    }
}

TEST(SpectrumScale, LevelOneHasTenLinesWithOneDecimal) {
    TmonSpectrumScale sc = ComputeSpectrumScale(160, 1, 300);
    EXPECT_EQ(sc.Lines, 9); // the single nearest 0.1 makes 1 / step just below 10
    EXPECT_EQ(sc.Spacing, 16);
    EXPECT_EQ(sc.BaseHeight, 16);
    EXPECT_EQ(SpectrumGridLabel(sc, 0, '.'), "0.1");
    EXPECT_EQ(SpectrumGridLabel(sc, 9, '.'), "1.0");
    TmonSpectrumScale big = ComputeSpectrumScale(160, 299, 300);
    EXPECT_EQ(SpectrumGridLabel(big, 0, ','), "100,0");
    EXPECT_EQ(SpectrumGridLabel(big, 1, ','), "200");
    EXPECT_EQ(SpectrumGridLabel(big, 2, ','), "300");
}

TEST(SpectrumScale, ScrollingUpLiftsTheBars) {
    TmonSpectrumScale sc = ComputeSpectrumScale(160, 100, 0); // offset 300 px
    EXPECT_EQ(sc.Offset, 300);
    // 1.6 px per unit: bars below 300 / 1.6 = 187.5 % vanish.
    EXPECT_LE(SpectrumBarHeight(sc, 187.0), 0);
    EXPECT_GT(SpectrumBarHeight(sc, 190.0), 0);
    EXPECT_EQ(SpectrumBarHeight(ComputeSpectrumScale(160, 100, 300), 50.0), 80);
}

TEST(Spectrum, BarsAndClicks) {
    const int step = SpectrumBarStep(kmonSpectrumWidth);
    EXPECT_EQ(step, 11);
    EXPECT_EQ(SpectrumBarX(step, 2), 16);
    EXPECT_EQ(SpectrumBarX(step, 40), 434);
    // A click on a harmonic's bars selects it; beside the bars nothing.
    EXPECT_EQ(HarmonicAtX(SpectrumBarX(step, 2), step), 2);
    EXPECT_EQ(HarmonicAtX(SpectrumBarX(step, 17) + 6, step), 17);
    EXPECT_EQ(HarmonicAtX(SpectrumBarX(step, 40) + 6, step), 40);
    EXPECT_EQ(HarmonicAtX(0, step), 0);
    EXPECT_EQ(HarmonicAtX(445, step), 0); // n = 41
    EXPECT_EQ(HarmonicAtX(-1000000000000LL, step), 0);
    EXPECT_EQ(HarmonicAtX(1000000000000LL, step), 0);
}

} // namespace
} // namespace qz
