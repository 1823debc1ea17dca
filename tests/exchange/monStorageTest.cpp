#include "exchange/monStorage.h"

#include "RecordBuilder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace qz;
using qz::test::TRecordBuilder;

namespace {

constexpr double kEps = 1e-9;
const double kNaN = std::numeric_limits<float>::quiet_NaN();
const double kInf = std::numeric_limits<float>::infinity();

// --- settings answers ---

TRecordBuilder SettingsAnswer(uint8_t selector, uint8_t voltageCode, uint8_t currentCode) {
    TRecordBuilder b(232);
    b.U8(4, selector).U8(5, voltageCode).U8(231, currentCode).U8(230, 3);
    b.F32(6, 57.735f).F32(30, 100.0f);
    for (int i = 0; i < 4; ++i) {
        b.I16(18 + 2 * i, int16_t(1000 + i)); // 10.00 %, 10.01 % ...
        b.I16(42 + 2 * i, int16_t(-500 - i)); // -5.00 % ...
        b.I16(54 + 2 * i, int16_t(20 + i));   // 0.20 Hz ...
    }
    b.I16(62, 200).I16(64, 400).I16(66, 201).I16(68, 401);
    b.I16(70, 800).I16(150, 1200);
    for (int n = 2; n <= 40; ++n) {
        b.I16(72 + 2 * (n - 2), int16_t(n * 10));   // n * 0.1 %
        b.I16(152 + 2 * (n - 2), int16_t(n * 100)); // n %
    }
    return b;
}

TEST(SettingsDecoding, EveryFieldFromItsOffset) {
    TmonSettings s;
    s.HasNeutral = 1;
    auto b = SettingsAnswer(0, 7, 1);
    ASSERT_TRUE(DecodeSettings(b.data(), b.size(), s));
    EXPECT_FLOAT_EQ(s.NominalPhaseVoltage, 57.735f);
    EXPECT_FLOAT_EQ(s.NominalLineVoltage, 100.0f);
    EXPECT_FLOAT_EQ(s.VoltageRatio, 3.81051f); // selector 0 ignores the code
    EXPECT_FLOAT_EQ(s.NominalCurrent, 5.0f);
    EXPECT_EQ(s.InputConfig, 3);
    EXPECT_FLOAT_EQ(s.NominalFrequency, 50.0f);
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(s.PhaseVoltageLimits[i], 10.0f + 0.01f * i);
        EXPECT_FLOAT_EQ(s.LineVoltageLimits[i], -5.0f - 0.01f * i);
        EXPECT_FLOAT_EQ(s.FrequencyLimits[i], 0.2f + 0.01f * i);
    }
    EXPECT_FLOAT_EQ(s.K0Limits[0], 2.0f);
    EXPECT_FLOAT_EQ(s.K0Limits[1], 4.0f);
    EXPECT_FLOAT_EQ(s.K2Limits[0], 2.01f);
    EXPECT_FLOAT_EQ(s.K2Limits[1], 4.01f);
    EXPECT_FLOAT_EQ(s.KULimits[0], 8.0f);
    EXPECT_FLOAT_EQ(s.KULimits[1], 12.0f);
    for (int n = 2; n <= 40; ++n) {
        EXPECT_FLOAT_EQ(s.KULimits[n], n * 0.1f) << n;
        EXPECT_FLOAT_EQ(s.KULimits[n + 39], float(n)) << n;
    }
    EXPECT_EQ(s.HasNeutral, 1) << "decoding must leave HasNeutral alone";
}

TEST(SettingsDecoding, VoltageAndCurrentCodeTablesAndTheirEdges) {
    struct {
        uint8_t code;
        float ratio;
    } vt[] = {{1, 3.8f}, {6, 100}, {11, 157.5f}, {22, 7500}, {0, 1}, {23, 1}, {255, 1}};
    for (auto c : vt) {
        TmonSettings s;
        auto b = SettingsAnswer(1, c.code, 1);
        ASSERT_TRUE(DecodeSettings(b.data(), b.size(), s));
        EXPECT_FLOAT_EQ(s.VoltageRatio, c.ratio) << int(c.code);
    }
    struct {
        uint8_t code;
        float amps;
    } ct[] = {{1, 5}, {8, 75}, {19, 1000}, {34, 25000}, {39, 40000}, {0, 1}, {40, 1}, {255, 1}};
    for (auto c : ct) {
        TmonSettings s;
        auto b = SettingsAnswer(1, 1, c.code);
        ASSERT_TRUE(DecodeSettings(b.data(), b.size(), s));
        EXPECT_FLOAT_EQ(s.NominalCurrent, c.amps) << int(c.code);
    }
}

TEST(SettingsDecoding, ShortAnswerIsRefusedAndLeavesTheSettings) {
    TmonSettings s;
    s.VoltageRatio = 42;
    s.NominalCurrent = 7;
    auto b = SettingsAnswer(1, 2, 3);
    EXPECT_FALSE(DecodeSettings(b.data(), 231, s));
    EXPECT_FALSE(DecodeSettings(nullptr, 500, s));
    EXPECT_FLOAT_EQ(s.VoltageRatio, 42);
    EXPECT_FLOAT_EQ(s.NominalCurrent, 7);
    // A longer answer is fine.
    b.Bytes.resize(400, 0xEE);
    EXPECT_TRUE(DecodeSettings(b.data(), b.size(), s));
    EXPECT_FLOAT_EQ(s.VoltageRatio, 30);
}

TEST(SettingsDecoding, NominalThatIsNotANumberReadsAsNone) {
    TmonSettings s;
    auto b = SettingsAnswer(0, 0, 0);
    b.F32(6, float(kNaN)).F32(30, float(kInf));
    ASSERT_TRUE(DecodeSettings(b.data(), b.size(), s));
    EXPECT_EQ(s.NominalPhaseVoltage, 0.0f);
    EXPECT_EQ(s.NominalLineVoltage, 0.0f);
}

TEST(ScaleCoefficients, KOver8Root2AndZeroStaysZero) {
    TRecordBuilder b(12);
    b.F32(4, 8.0f * float(std::sqrt(2.0))).F32(8, 0.0f);
    double u = -1, i = -1;
    ASSERT_TRUE(DecodeScaleKoeffs(b.data(), b.size(), u, i));
    EXPECT_NEAR(u, 1.0, 1e-6);
    EXPECT_EQ(i, 0.0);
    EXPECT_FALSE(DecodeScaleKoeffs(b.data(), 11, u, i));
    b.F32(8, float(kNaN));
    u = i = 5;
    EXPECT_FALSE(DecodeScaleKoeffs(b.data(), b.size(), u, i));
    EXPECT_EQ(u, 5);
}

// --- the arithmetic, where the whole records below do not reach ---

TEST(DecodingArithmetic, EdgesNotCoveredByTheRecords) {
    // Half turns go to the even number of turns.
    EXPECT_EQ(Norm360(540), -180);
    EXPECT_EQ(Norm360(900), 180);
    EXPECT_EQ(Norm360(-180), -180);
    EXPECT_NEAR(Norm360(-725), -5, kEps);
    EXPECT_NEAR(HarmMag(-32768, -32768), 32768 * std::sqrt(2.0), 1e-6);
    EXPECT_EQ(HarmAngle(0, 0), 0);
    // A zero nominal voltage gives no deviation rather than a division by zero.
    EXPECT_EQ(Pct(57, 0), 0);
    EXPECT_EQ(Pct(57, 1e-13), 0);
    // A fundamental of exactly 10 % of the nominal is the base itself.
    EXPECT_NEAR(RelHarm(100, 0.1, 10, 2), 20, kEps);
    EXPECT_EQ(RelHarm(0, 0.1, 0, 3), 0);
}

// --- whole records ---

// Chosen physical values; the expectations are worked out from them here.
struct BasicRecordFixture : ::testing::Test {
    TmonSettings set;
    TRecordBuilder rec{1946};
    const double uScale = 0.5, iScale = 0.25;

    void SetUp() override {
        set.NominalPhaseVoltage = 100;
        set.NominalLineVoltage = 200;
        set.NominalCurrent = 5;
        set.NominalFrequency = 50;
        //        U1     U      phiU     I1   I    phiI
        rec.Group(0, 100, 101, -3000).Group(90, 5, 5.5f, 1000);  // A: -40 deg
        rec.Group(10, 110, 110, -12000).Group(100, 4, 4, 17000); // B: -290 -> 70
        rec.Group(20, 90, 90, 12000).Group(110, 6, 6, -6000);    // C: exactly 180
        rec.Group(30, 200, 201, 1).Group(40, 220, 202, 2).Group(50, 0, 203, 3);
        rec.Group(60, 1, 77, 17950).Group(120, 0.125f, 77, -18000); // 359.5 -> -0.5
        rec.Group(70, 99, 77, 500).Group(130, 5, 77, -500);
        rec.Group(80, 2, 77, 0).Group(140, 0.25f, 77, 0);
        rec.U16(150, 5012).U16(152, 150).U16(154, 250);
        rec.U16(156, 300).U16(158, 10000).U16(160, 10001);
        rec.U16(162, 0).U16(164, 65535).U16(166, 123);
        rec.U16(1104, 450).U16(1106, 50).U16(1108, 9999);
        rec.F32(1578, 300).F32(1582, -200).F32(1586, 0);
        rec.F32(1590, 400).F32(1594, 500).F32(1598, -300);
        rec.Harm(168, 2, 5, -5).Harm(1110, 2, -3, 0);    // UA, IA harmonic 2
        rec.Harm(324, 3, 30000, 0).Harm(1266, 40, 0, 4); // UB 3, IB 40
        rec.Harm(480, 5, 0, -7);                         // UC 5
        rec.Harm(636, 2, 100, 0).Harm(948, 2, 10, 0);    // AB 2, CA 2
        // The extended part: values that a basic decoding must not pick up.
        rec.Group(1602, 9, 10, 0).Group(1612, 0.001f, 0.002f, 0);
        rec.U16(1622, 777).U16(1780, 10001).F32(1938, 0).F32(1942, 0.01f);
        rec.Harm(1624, 2, 20, 0).Harm(1782, 2, 1, 1);
    }
};

TEST_F(BasicRecordFixture, PhaseLineAndSequenceValues) {
    TmonData3sec d;
    ASSERT_EQ(Decode3sec(rec.data(), 1602, false, set, uScale, iScale, d),
              TmonDecodeResult::Complete);
    EXPECT_NEAR(d.F, 50.12, kEps);
    EXPECT_NEAR(d.dF, 0.12, 1e-9);
    EXPECT_EQ(d.Time, 0);
    const double u1[] = {100, 110, 90}, i1[] = {5, 4, 6}, u[] = {101, 110, 90}, i[] = {5.5, 4, 6},
                 phi[] = {-40, 70, 180}, du1[] = {0, 10, -10};
    for (int ph = 0; ph < 3; ++ph) {
        EXPECT_DOUBLE_EQ(d.U1[ph], u1[ph]);
        EXPECT_DOUBLE_EQ(d.I1[ph], i1[ph]);
        EXPECT_DOUBLE_EQ(d.U[ph], u[ph]);
        EXPECT_DOUBLE_EQ(d.I[ph], i[ph]);
        EXPECT_NEAR(d.PhiUI[ph], phi[ph], kEps) << ph;
        EXPECT_NEAR(d.dU1[ph], du1[ph], kEps) << ph;
    }
    const double u1l[] = {200, 220, 0}, ul[] = {201, 202, 203}, du1l[] = {0, 10, -100};
    for (int ln = 0; ln < 3; ++ln) {
        EXPECT_DOUBLE_EQ(d.U1Line[ln], u1l[ln]);
        EXPECT_DOUBLE_EQ(d.ULine[ln], ul[ln]);
        EXPECT_NEAR(d.dU1Line[ln], du1l[ln], kEps);
    }
    const double useq[] = {1, 99, 2}, iseq[] = {0.125, 5, 0.25}, phis[] = {-0.5, 10, 0};
    for (int k = 0; k < 3; ++k) {
        EXPECT_DOUBLE_EQ(d.USeq[k], useq[k]);
        EXPECT_DOUBLE_EQ(d.ISeq[k], iseq[k]);
        EXPECT_NEAR(d.PhiUISeq[k], phis[k], kEps) << k;
    }
    EXPECT_NEAR(d.K0, 1.5, kEps);
    EXPECT_NEAR(d.K2, 2.5, kEps);
    EXPECT_NEAR(d.KU[0], 3, kEps);
    EXPECT_EQ(d.KU[1], 100);
    EXPECT_EQ(d.KU[2], 100);
    EXPECT_EQ(d.KU_AB, 0);
    EXPECT_EQ(d.KU_BC, 100.0f);
    EXPECT_NEAR(d.KU_CA, 1.23, kEps);
    EXPECT_NEAR(d.KI_A, 4.5, kEps);
    EXPECT_FLOAT_EQ(d.KI_B, 0.5f);
    EXPECT_NEAR(d.KI_C, 99.99, kEps);
}

TEST_F(BasicRecordFixture, PowersAndTheirTotals) {
    TmonData3sec d;
    ASSERT_EQ(Decode3sec(rec.data(), 1602, false, set, uScale, iScale, d),
              TmonDecodeResult::Complete);
    // A: S = 101 * 5.5, P = 400, angle -40 (Q negative); S1 = 500, P1 = 300 -> Q1 = -400.
    const double qa = -std::sqrt(555.5 * 555.5 - 400.0 * 400.0);
    // B: P = 500 above S = 440 -> Q = 0; P1 = -200, S1 = 440, angle 70.
    const double q1b = std::sqrt(440.0 * 440 - 200.0 * 200);
    // C: angle exactly 180 counts as positive; P = -300, S = 540; P1 = 0.
    const double qc = std::sqrt(540.0 * 540 - 300.0 * 300);
    const double P[] = {400, 500, -300, 600, 0}, S[] = {555.5, 440, 540, 1535.5, 0},
                 Q[] = {qa, 0, qc, qa + qc, 0};
    const double P1[] = {300, -200, 0, 100, 0}, S1[] = {500, 440, 540, 1480, 0},
                 Q1[] = {-400, q1b, 540, 140 + q1b, 0};
    for (int k = 0; k < 5; ++k) {
        EXPECT_NEAR(d.P[k], P[k], 1e-9) << k;
        EXPECT_NEAR(d.S[k], S[k], 1e-9) << k;
        EXPECT_NEAR(d.Q[k], Q[k], 1e-9) << k;
        EXPECT_NEAR(d.P1[k], P1[k], 1e-9) << k;
        EXPECT_NEAR(d.S1[k], S1[k], 1e-9) << k;
        EXPECT_NEAR(d.Q1[k], Q1[k], 1e-9) << k;
    }
    // The power factor is P / sqrt(P^2 + Q^2); 0 where P is 0.
    EXPECT_NEAR(d.CosPhi[0], 400 / 555.5, 1e-12);
    EXPECT_NEAR(d.CosPhi[1], 1.0, 1e-12);
    EXPECT_NEAR(d.CosPhi[2], -300.0 / 540, 1e-12);
    EXPECT_NEAR(d.CosPhi[3], 600 / std::hypot(600.0, qa + qc), 1e-12);
    EXPECT_NEAR(d.CosPhi1[0], 0.6, 1e-12);
    EXPECT_NEAR(d.CosPhi1[1], -200.0 / 440, 1e-12);
    EXPECT_EQ(d.CosPhi1[2], 0);
    EXPECT_NEAR(d.CosPhi1[3], 100 / std::hypot(100.0, 140 + q1b), 1e-12);
    EXPECT_EQ(d.CosPhi[4], 0);
}

TEST_F(BasicRecordFixture, HarmonicTables) {
    TmonData3sec d;
    ASSERT_EQ(Decode3sec(rec.data(), 1602, false, set, uScale, iScale, d),
              TmonDecodeResult::Complete);
    // A, n = 2: U (5, -5) * 0.5, relative to U1 = 100; I (-3, 0) * 0.25, relative to 5 A.
    const double un = std::sqrt(50.0) * 0.5;
    EXPECT_NEAR(d.Un_A[0], un, kEps);
    EXPECT_NEAR(d.KUn_A[0], un, kEps);
    EXPECT_NEAR(d.In_A[0], 0.75, kEps);
    EXPECT_NEAR(d.KIn_A[0], 15, kEps);
    EXPECT_NEAR(d.PhiUn_A[0], -45, kEps);
    EXPECT_EQ(d.PhiIn_A[0], 180);
    EXPECT_NEAR(d.PhiUIn_A[0], 135, kEps); // -45 - 180 = -225
    EXPECT_NEAR(d.Pn_A[0], -std::sqrt(0.5) * 100 * un * 5 * 15 * 1e-4, 1e-12);
    // B, n = 3: 15000 V of a 110 V fundamental is capped at 100 %.
    EXPECT_NEAR(d.Un_B[1], 15000, kEps);
    EXPECT_EQ(d.KUn_B[1], 100);
    // B, n = 40: a current harmonic without a voltage one has no angle and no power.
    EXPECT_NEAR(d.In_B[38], 1, kEps);
    EXPECT_NEAR(d.KIn_B[38], 25, kEps);
    EXPECT_EQ(d.PhiIn_B[38], 90);
    EXPECT_EQ(d.PhiUIn_B[38], 0);
    EXPECT_EQ(d.Pn_B[38], 0);
    // C, n = 5: relative to its own 90 V fundamental.
    EXPECT_NEAR(d.KUn_C[3], 3.5 / 90 * 100, kEps);
    EXPECT_EQ(d.PhiUn_C[3], -90);
    // Lines: AB relative to its fundamental; CA has none (below 10 %), so to the nominal.
    EXPECT_NEAR(d.Un_AB[0], 50, kEps);
    EXPECT_NEAR(d.KUn_AB[0], 25, kEps);
    EXPECT_NEAR(d.Un_CA[0], 5, kEps);
    EXPECT_NEAR(d.KUn_CA[0], 2.5, kEps);
    EXPECT_EQ(d.KUn_BC[0], 0);
    // An empty harmonic stays 0 everywhere.
    EXPECT_EQ(d.KUn_A[10], 0);
    EXPECT_EQ(d.PhiUIn_A[10], 0);
}

TEST_F(BasicRecordFixture, WithoutHarmonicAnglesOnlyTheAnglesAndHarmonicPowersStayZero) {
    TmonData3sec full, lean;
    ASSERT_EQ(Decode3sec(rec.data(), rec.size(), true, set, uScale, iScale, full),
              TmonDecodeResult::Complete);
    ASSERT_EQ(Decode3sec(rec.data(), rec.size(), true, set, uScale, iScale, lean,
                         TmonDecodeDepth::NoHarmonicAngles),
              TmonDecodeResult::Complete);
    for (int ph = phA; ph <= phN; ++ph)
        for (int e = 0; e < kmonHarmCount; ++e) {
            EXPECT_EQ(lean.PhiUn(ph)[e], 0);
            EXPECT_EQ(lean.PhiIn(ph)[e], 0);
            EXPECT_EQ(lean.PhiUIn(ph)[e], 0);
            EXPECT_EQ(lean.Pn(ph)[e], 0);
            EXPECT_EQ(lean.KUn(ph)[e], full.KUn(ph)[e]);
            EXPECT_EQ(lean.KIn(ph)[e], full.KIn(ph)[e]);
            EXPECT_EQ(lean.Un(ph)[e], full.Un(ph)[e]);
            EXPECT_EQ(lean.In(ph)[e], full.In(ph)[e]);
            if (ph < 3) {
                EXPECT_EQ(lean.KUnLine(ph)[e], full.KUnLine(ph)[e]);
            }
        }
    ASSERT_NE(full.KUn_A[0], 0);
    ASSERT_NE(full.PhiUn_A[0], 0);
    for (int ph = phA; ph <= phN; ++ph) {
        EXPECT_EQ(lean.U[ph], full.U[ph]);
        EXPECT_EQ(lean.KU[ph], full.KU[ph]);
        EXPECT_EQ(lean.KI(ph), full.KI(ph));
    }
    EXPECT_EQ(lean.P[pwSum], full.P[pwSum]);
    EXPECT_EQ(lean.Q[pwSum], full.Q[pwSum]);
    EXPECT_EQ(lean.K2, full.K2);
}

TEST_F(BasicRecordFixture, BasicRecordLeavesEveryNFieldZero) {
    TmonData3sec d;
    // First an extended decoding fills the N fields, then a basic one must clear them, even
    // though the buffer goes on with N values behind the basic layout.
    ASSERT_EQ(Decode3sec(rec.data(), rec.size(), true, set, uScale, iScale, d),
              TmonDecodeResult::Complete);
    ASSERT_NE(d.U1[phN], 0);
    ASSERT_NE(d.KUn_N[0], 0);
    d.Time = 45000;
    ASSERT_EQ(Decode3sec(rec.data(), rec.size(), false, set, uScale, iScale, d),
              TmonDecodeResult::Complete);
    EXPECT_EQ(d.Time, 0);
    for (double v : {d.U1[phN], d.I1[phN], d.PhiUI[phN], d.U[phN], d.I[phN], d.dU1[phN], d.KU[phN],
                     d.KI_N, d.P[pwN], d.Q[pwN], d.S[pwN], d.CosPhi[pwN], d.P1[pwN], d.Q1[pwN],
                     d.S1[pwN], d.CosPhi1[pwN]})
        EXPECT_EQ(v, 0);
    for (int e = 0; e < kmonHarmCount; ++e)
        for (int ph = phN; ph <= phN; ++ph) {
            EXPECT_EQ(d.KUn(ph)[e], 0);
            EXPECT_EQ(d.KIn(ph)[e], 0);
            EXPECT_EQ(d.Un(ph)[e], 0);
            EXPECT_EQ(d.In(ph)[e], 0);
            EXPECT_EQ(d.PhiUn(ph)[e], 0);
            EXPECT_EQ(d.PhiIn(ph)[e], 0);
            EXPECT_EQ(d.PhiUIn(ph)[e], 0);
            EXPECT_EQ(d.Pn(ph)[e], 0);
        }
}

TEST_F(BasicRecordFixture, ExtendedRecordAddsNAndDoublesCurrentHarmonics) {
    TmonData3sec d;
    ASSERT_EQ(Decode3sec(rec.data(), rec.size(), true, set, uScale, iScale, d),
              TmonDecodeResult::Complete);
    EXPECT_DOUBLE_EQ(d.U1[phN], 9);
    EXPECT_FLOAT_EQ(float(d.I1[phN]), 0.001f);
    EXPECT_NEAR(d.dU1[phN], -91, 1e-9);
    EXPECT_NEAR(d.KU[phN], 7.77, kEps);
    EXPECT_EQ(d.KI_N, 100);
    // N powers; they stay out of the totals.
    const double s = 10.0 * double(0.002f);
    EXPECT_NEAR(d.S[pwN], s, 1e-12);
    EXPECT_NEAR(d.Q[pwN], std::sqrt(s * s - double(0.01f) * double(0.01f)), 1e-12);
    EXPECT_EQ(d.P1[pwN], 0);
    EXPECT_EQ(d.CosPhi1[pwN], 0);
    EXPECT_NEAR(d.Q1[pwN], 9.0 * double(0.001f), 1e-12);
    EXPECT_NEAR(d.P[pwSum], 600, 1e-9);
    // N harmonic 2: fundamentals below 10 % and 0.1 % of the nominals, so relative to those.
    EXPECT_NEAR(d.Un_N[0], 10, kEps);
    EXPECT_NEAR(d.KUn_N[0], 10, kEps);
    EXPECT_NEAR(d.In_N[0], std::sqrt(2.0) * 0.25 * 2, kEps);
    EXPECT_NEAR(d.KIn_N[0], std::sqrt(2.0) * 0.5 / 5 * 100, kEps);
    EXPECT_NEAR(d.PhiIn_N[0], 45, kEps);
    EXPECT_NEAR(d.PhiUIn_N[0], -45, kEps);
    EXPECT_NEAR(d.Pn_N[0], std::sqrt(0.5) * 9 * 10 * double(0.001f) * d.KIn_N[0] * 1e-4, 1e-15);
    // The phase current harmonics are doubled as well.
    EXPECT_NEAR(d.In_A[0], 1.5, kEps);
    EXPECT_NEAR(d.KIn_A[0], 30, kEps);
}

TEST_F(BasicRecordFixture, ShortRecordIsRefusedWithoutTouchingTheData) {
    TmonData3sec d;
    d.F = 49.9;
    d.KUn_A[5] = 3;
    EXPECT_EQ(Decode3sec(rec.data(), 1601, false, set, uScale, iScale, d),
              TmonDecodeResult::TooShort);
    EXPECT_EQ(Decode3sec(rec.data(), 1945, true, set, uScale, iScale, d),
              TmonDecodeResult::TooShort);
    EXPECT_EQ(Decode3sec(nullptr, 1946, true, set, uScale, iScale, d), TmonDecodeResult::TooShort);
    EXPECT_EQ(d.F, 49.9);
    EXPECT_EQ(d.KUn_A[5], 3);
}

TEST_F(BasicRecordFixture, ValueThatIsNotANumberStopsTheDecodingThere) {
    rec.F32(14, float(kNaN)); // true RMS voltage of B
    TmonData3sec d;
    d.K0 = 7; // from an earlier record: must not survive
    ASSERT_EQ(Decode3sec(rec.data(), 1602, false, set, uScale, iScale, d),
              TmonDecodeResult::Stopped);
    // Decoded before the fault:
    EXPECT_NEAR(d.F, 50.12, kEps);
    EXPECT_DOUBLE_EQ(d.U[phA], 101);
    EXPECT_NEAR(d.PhiUI[phA], -40, kEps);
    EXPECT_DOUBLE_EQ(d.U1[phB], 110);
    EXPECT_NEAR(d.PhiUI[phB], 70, kEps);
    // The faulty field and everything after it keep 0.
    EXPECT_EQ(d.U[phB], 0);
    EXPECT_EQ(d.I[phB], 0);
    EXPECT_EQ(d.U1[phC], 0);
    EXPECT_EQ(d.K0, 0);
    EXPECT_EQ(d.P[pwA], 0);
    EXPECT_EQ(d.KUn_A[0], 0);
}

TEST_F(BasicRecordFixture, InfinityInTheExtendedPartStopsOnlyTheRest) {
    rec.F32(1942, float(kInf)); // active power of N
    TmonData3sec d;
    ASSERT_EQ(Decode3sec(rec.data(), rec.size(), true, set, uScale, iScale, d),
              TmonDecodeResult::Stopped);
    EXPECT_NEAR(d.KUn_A[0], std::sqrt(50.0) * 0.5, kEps); // phases complete
    EXPECT_DOUBLE_EQ(d.U1[phN], 9);
    EXPECT_EQ(d.P[pwN], 0);
    EXPECT_EQ(d.S[pwN], 0);
    EXPECT_EQ(d.KUn_N[0], 0);
}

} // namespace
