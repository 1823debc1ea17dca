// The simulated meter's data must hang together the way a real meter's do: these tests
// decode its answers with the monitor's command classes and check the physics.
#include "simulator/MeterModel.h"

#include "protocol/QZ2Commands.h"
#include "protocol/QZ2Models.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

namespace qz {
namespace {

constexpr double kPi = 3.14159265358979323846;

TDateTime At(int h, int m, int s) {
    TDateTime t = 0;
    TryEncodeDateTime({2026, 3, 14, h, m, s, 0}, t);
    return t;
}

// Wraps answer data into a command of the monitor, so that decoding goes the monitor's way.
template <class Cmd> void Feed(Cmd& cmd, const std::vector<uint8_t>& data) {
    TKavrenHeader h;
    h.Cmd = cmd.Request().Cmd;
    h.Cmd1 = cmd.Request().Cmd1;
    auto f = BuildKavrenFrame(h, data.data(), data.size());
    cmd.SetAnswer(f.data(), f.size());
}

std::complex<double> Phasor(double mag, int16_t angle) {
    return std::polar(mag, angle * 0.01 * kPi / 180.0);
}

class RecordPhysics : public ::testing::TestWithParam<int> {};

TEST_P(RecordPhysics, PowersSequencesLinesAndDistortionAgree) {
    const int model = GetParam();
    TMeterModel m(model);
    TQZ2M_Archive3secCmd ext(4, 1);
    TQZ2_Archive3secCmd basic(4, 1);
    TQZ2_Archive3secCmd& cmd = m.HasNeutral() ? ext : basic;
    Feed(cmd, m.RecordData(At(10, 0, 3)));
    ASSERT_TRUE(cmd.CheckAnswer()) << "record size of the model";
    const TQZ2Record3sec r = cmd.Record();
    const double uScale = TQZ2_ScaleKoeffsCmd::HarmonicScale(m.Nominals().VoltageKoeff);
    const double iScale = TQZ2_ScaleKoeffsCmd::HarmonicScale(m.Nominals().CurrentKoeff) *
                          (m.HasNeutral() ? 2.0 : 1.0);

    EXPECT_NEAR(r.FrequencyRaw() * 0.01, 50.0, 0.1);
    std::complex<double> u[4], i[4];
    const int channels = m.HasNeutral() ? 4 : 3;
    for (int ph = 0; ph < channels; ++ph) {
        SCOPED_TRACE(ph);
        u[ph] = Phasor(r.PhaseU1(ph), r.PhaseUAngle(ph));
        i[ph] = Phasor(r.PhaseI1(ph), r.PhaseIAngle(ph));
        // Fundamental active power = U1 I1 cos(phi).
        const double phi = (r.PhaseUAngle(ph) - r.PhaseIAngle(ph)) * 0.01 * kPi / 180.0;
        EXPECT_NEAR(r.PowerFund(ph), r.PhaseU1(ph) * r.PhaseI1(ph) * std::cos(phi),
                    1e-3 * r.PhaseU1(ph) * r.PhaseI1(ph) + 1e-3);
        // The whole-signal power never exceeds U I and lies near the fundamental one.
        EXPECT_LE(std::fabs(r.PowerTotal(ph)), r.PhaseU(ph) * r.PhaseI(ph) * 1.0001);
        if (ph < 3) {
            EXPECT_NEAR(r.PowerTotal(ph), r.PowerFund(ph), 0.05 * r.PhaseU(ph) * r.PhaseI(ph));
        }
        // True RMS^2 = fundamental^2 + sum of harmonics^2, and the distortion coefficient is
        // their ratio.
        double hu = 0, hi = 0;
        for (int n = 2; n <= 40; ++n) {
            const TRawHarmonic a = r.Harmonic(qz2::PhaseUTable(ph), n);
            const TRawHarmonic b = r.Harmonic(qz2::PhaseITable(ph), n);
            hu += (double(a.Re) * a.Re + double(a.Im) * a.Im) * uScale * uScale;
            hi += (double(b.Re) * b.Re + double(b.Im) * b.Im) * iScale * iScale;
        }
        EXPECT_NEAR(r.PhaseU(ph), std::sqrt(r.PhaseU1(ph) * r.PhaseU1(ph) + hu),
                    1e-3 * r.PhaseU(ph) + 0.01);
        EXPECT_NEAR(r.PhaseI(ph), std::sqrt(r.PhaseI1(ph) * r.PhaseI1(ph) + hi),
                    2e-3 * r.PhaseI(ph) + 1e-3);
        if (r.PhaseU1(ph) > 10) {
            EXPECT_NEAR(r.KURaw(ph) * 0.01, std::sqrt(hu) / r.PhaseU1(ph) * 100, 0.05);
        }
        if (r.PhaseI1(ph) > 0.1) {
            EXPECT_NEAR(r.KIRaw(ph) * 0.01, std::sqrt(hi) / r.PhaseI1(ph) * 100, 0.1);
        }
    }
    // Phase voltages near nominal, a symmetrical system A -> B -> C.
    for (int ph = 0; ph < 3; ++ph)
        EXPECT_NEAR(r.PhaseU1(ph), 220.0, 220.0 * 0.05);
    EXPECT_NEAR(std::arg(u[1] / u[0]) * 180 / kPi, -120.0, 2.0);
    EXPECT_NEAR(std::arg(u[2] / u[0]) * 180 / kPi, 120.0, 2.0);

    // Line voltages are the differences of the phase phasors.
    for (int ln = 0; ln < 3; ++ln)
        EXPECT_NEAR(r.LineU1(ln), std::abs(u[ln] - u[(ln + 1) % 3]), 0.05) << ln;

    // Sequence components from the phase phasors.
    const std::complex<double> a = std::polar(1.0, 2 * kPi / 3);
    const std::complex<double> us[3] = {(u[0] + u[1] + u[2]) / 3.0,
                                        (u[0] + a * u[1] + a * a * u[2]) / 3.0,
                                        (u[0] + a * a * u[1] + a * u[2]) / 3.0};
    const std::complex<double> is[3] = {(i[0] + i[1] + i[2]) / 3.0,
                                        (i[0] + a * i[1] + a * a * i[2]) / 3.0,
                                        (i[0] + a * a * i[1] + a * i[2]) / 3.0};
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(r.USeq(k), std::abs(us[k]), 0.05) << k;
        EXPECT_NEAR(r.ISeq(k), std::abs(is[k]), 0.002) << k;
    }
    EXPECT_NEAR(r.USeqAngle(1) * 0.01, std::arg(us[1]) * 180 / kPi, 0.05);
    EXPECT_NEAR(r.K2Raw() * 0.01, r.USeq(2) / r.USeq(1) * 100, 0.02);
    EXPECT_NEAR(r.K0Raw() * 0.01, r.USeq(0) / r.USeq(1) * 100, 0.02);
    EXPECT_GT(r.USeq(1), 200.0);

    if (m.HasNeutral()) {
        // The neutral carries what the phase currents do not cancel.
        EXPECT_NEAR(r.PhaseI1(3), std::abs(i[0] + i[1] + i[2]), 0.005);
        EXPECT_GT(r.PhaseU(3), 0.0f);
        EXPECT_LT(r.PhaseU(3), 5.0f);
    } else {
        EXPECT_EQ(r.PhaseU1(3), 0.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(AllModels, RecordPhysics, ::testing::Range(0, kQZ2ModelCount));

TEST(MeterModel, ValuesVarySlowly) {
    TMeterModel m(1);
    TQZ2M_Archive3secCmd a(4, 1), b(4, 1), c(4, 1);
    Feed(a, m.RecordData(At(10, 0, 0)));
    Feed(b, m.RecordData(At(10, 0, 3)));
    Feed(c, m.RecordData(At(10, 0, 30)));
    const float u0 = a.Record().PhaseU1(0), u1 = b.Record().PhaseU1(0), u2 = c.Record().PhaseU1(0);
    EXPECT_LT(std::fabs(u1 - u0), 0.01 * u0) << "3 s apart: nearly the same";
    EXPECT_NE(u0, u2) << "30 s apart: moved";
    EXPECT_NE(a.Record().PhaseI1(1), c.Record().PhaseI1(1));
}

TEST(MeterModel, SettingsDecodeToPlausibleNominalsAndLimits) {
    TMeterModel m(0);
    TQZ2_SettingsCmd s(4, 1);
    Feed(s, m.SettingsData());
    ASSERT_TRUE(s.Complete());
    EXPECT_EQ(s.VoltageSelector(), 0) << "the fixed ratio 3.81051";
    EXPECT_FLOAT_EQ(s.NominalPhaseVoltage(), 220.0f);
    EXPECT_FLOAT_EQ(s.NominalLineVoltage(), 380.0f);
    EXPECT_EQ(s.CurrentCode(), 1) << "5 A";
    // Voltage: upper maximum > upper normal > 0 > lower normal > lower maximum.
    EXPECT_GT(s.PhaseVoltageLimit(0), s.PhaseVoltageLimit(1));
    EXPECT_GT(s.PhaseVoltageLimit(1), 0);
    EXPECT_LT(s.PhaseVoltageLimit(3), 0);
    EXPECT_GT(s.PhaseVoltageLimit(3), s.PhaseVoltageLimit(2));
    // Frequency: upper maximum, upper normal, lower normal, lower maximum.
    EXPECT_GT(s.FrequencyLimit(0), s.FrequencyLimit(1));
    EXPECT_GT(s.FrequencyLimit(2), s.FrequencyLimit(3));
    EXPECT_GT(s.K0Limit(0), s.K0Limit(1));
    EXPECT_GT(s.KUMax(), s.KUNormal());
    for (int n = 2; n <= 40; ++n) {
        EXPECT_GT(s.HarmNormal(n), 0) << n;
        EXPECT_GT(s.HarmMax(n), s.HarmNormal(n)) << n;
    }
    TQZ2_ScaleKoeffsCmd k(4, 1);
    Feed(k, m.ScaleData());
    EXPECT_TRUE(k.CheckAnswer());
    EXPECT_NEAR(TQZ2_ScaleKoeffsCmd::HarmonicScale(k.VoltageKoeff()), 0.01, 1e-6);
}

TEST(MeterModel, WaveformMaskAndSizeCode) {
    TMeterModel basic(0), ext(1);
    EXPECT_TRUE(basic.WaveformData(0x3F, 0, 0).empty());
    EXPECT_TRUE(basic.WaveformData(0x3F, 6, 0).empty());
    EXPECT_EQ(basic.WaveformData(0x01, 5, 0).size(), 512u * 2);
    EXPECT_TRUE(basic.WaveformData(0x00, 1, 0).empty()) << "no channel: no waveform";
    EXPECT_TRUE(ext.WaveformData(0x00, 1, 0).empty()) << "the same for the models with N";
    EXPECT_EQ(ext.WaveformData(0x81, 3, 0).size(), 128u * 2 * 2 + 1);
    // Mask bits outside a basic model's six channels are sent as zero samples.
    TQZ2_SignalTrendCmd w(4, 1, 0xC1, 1);
    Feed(w, basic.WaveformData(0xC1, 1, 1000.0));
    int nonZeroA = 0;
    for (int k = 0; k < 32; ++k) {
        EXPECT_EQ(w.Sample(k, 1), 0);
        EXPECT_EQ(w.Sample(k, 2), 0);
        nonZeroA += w.Sample(k, 0) != 0;
    }
    EXPECT_GT(nonZeroA, 20);
}

} // namespace
} // namespace qz
