#include "simulator/MeterModel.h"

#include "protocol/KavrenCommand.h"
#include "protocol/QZ2Commands.h"
#include "protocol/QZ2Layout.h"
#include "protocol/QZ2Models.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qz {

namespace {

constexpr double kPi = 3.14159265358979323846;
double Rad(double deg) {
    return deg * kPi / 180.0;
}
double Deg(const TPhasor& p) {
    return std::arg(p) * 180.0 / kPi;
}

// Relative level of voltage harmonic n, a typical low-voltage network.
double VoltageLevel(int n) {
    switch (n) {
    case 2:
        return 0.003;
    case 3:
        return 0.012;
    case 4:
        return 0.0015;
    case 5:
        return 0.025;
    case 7:
        return 0.015;
    case 9:
        return 0.004;
    case 11:
        return 0.009;
    case 13:
        return 0.006;
    default:
        return (n % 2 ? 0.0012 : 0.0006) * 10.0 / n;
    }
}

// Relative level of current harmonic n, a load with rectifiers.
double CurrentLevel(int n) {
    switch (n) {
    case 2:
        return 0.01;
    case 3:
        return 0.08;
    case 5:
        return 0.12;
    case 7:
        return 0.06;
    case 9:
        return 0.02;
    case 11:
        return 0.04;
    case 13:
        return 0.03;
    default:
        return (n % 2 ? 0.004 : 0.002) * 15.0 / n;
    }
}

// Normal limit of harmonic n in hundredths of a percent.
int16_t HarmonicNormalLimit(int n) {
    switch (n) {
    case 2:
        return 200;
    case 3:
        return 500;
    case 4:
        return 100;
    case 5:
        return 600;
    case 7:
        return 500;
    case 9:
        return 150;
    case 11:
        return 350;
    case 13:
        return 300;
    case 15:
        return 30;
    case 17:
        return 200;
    case 19:
        return 150;
    case 21:
        return 20;
    case 23:
        return 150;
    case 25:
        return 150;
    default:
        if (n % 2 == 0) return n <= 10 ? 50 : 20;
        if (n % 3 == 0) return 20;
        return static_cast<int16_t>(std::lround(20 + 130.0 * 25 / n));
    }
}

void PutF(std::vector<uint8_t>& d, size_t off, double v) {
    const float f = static_cast<float>(v);
    std::memcpy(d.data() + off, &f, 4);
}
void PutI16(std::vector<uint8_t>& d, size_t off, long v) {
    v = std::clamp<long>(v, -32768, 32767);
    PutU16(d.data() + off, static_cast<uint16_t>(static_cast<int16_t>(v)));
}
void PutU16v(std::vector<uint8_t>& d, size_t off, double v) {
    const long r = std::clamp<long>(std::lround(v), 0, 65535);
    PutU16(d.data() + off, static_cast<uint16_t>(r));
}
// Angle in hundredths of a degree within (-180, 180].
void PutAngle(std::vector<uint8_t>& d, size_t off, const TPhasor& p) {
    double a = Deg(p);
    if (a <= -180.0) a += 360.0;
    PutI16(d, off, std::lround(a * 100.0));
}
void PutGroup(std::vector<uint8_t>& d, size_t off, const TPhasor& fund, double second) {
    PutF(d, off, std::abs(fund));
    PutF(d, off + qz2::kGroupRms, second);
    PutAngle(d, off + qz2::kGroupAngle, fund);
}
void PutHarmonics(std::vector<uint8_t>& d, qz2::THarmTable t, const TChannelPhasors& c,
                  double unit) {
    for (int n = qz2::kFirstHarmonic; n <= qz2::kLastHarmonic; ++n) {
        const size_t off = qz2::Harmonic(t, n);
        PutI16(d, off, std::lround(c.H[n].real() / unit));
        PutI16(d, off + 2, std::lround(c.H[n].imag() / unit));
    }
}

TChannelPhasors Difference(const TChannelPhasors& a, const TChannelPhasors& b) {
    TChannelPhasors r;
    for (int n = 1; n <= 40; ++n)
        r.H[n] = a.H[n] - b.H[n];
    return r;
}

// Zero, positive and negative sequence components of three phasors.
std::array<TPhasor, 3> Sequences(const TPhasor& a, const TPhasor& b, const TPhasor& c) {
    const TPhasor op = std::polar(1.0, Rad(120.0));
    return {(a + b + c) / 3.0, (a + op * b + op * op * c) / 3.0, (a + op * op * b + op * c) / 3.0};
}

double ActivePower(const TChannelPhasors& u, const TChannelPhasors& i, int upTo) {
    double p = 0;
    for (int n = 1; n <= upTo; ++n)
        p += (u.H[n] * std::conj(i.H[n])).real();
    return p;
}

} // namespace

double SecondsOf(TDateTime t) {
    return t * 86400.0;
}

double TChannelPhasors::TrueRms() const {
    double s = 0;
    for (int n = 1; n <= 40; ++n)
        s += std::norm(H[n]);
    return std::sqrt(s);
}

double TChannelPhasors::Distortion() const {
    const double f = std::abs(H[1]);
    if (f <= 0) return 0;
    double s = 0;
    for (int n = 2; n <= 40; ++n)
        s += std::norm(H[n]);
    return std::sqrt(s) / f * 100.0;
}

TMeterModel::TMeterModel(int modelIndex, TMeterNominals nominals)
    : FModel(modelIndex), FNom(nominals) {
    QZ2Model(modelIndex); // validates the index
}

bool TMeterModel::HasNeutral() const {
    return ModelHasNeutral(FModel);
}
bool TMeterModel::IsA() const {
    return ModelIsA(FModel);
}

TMeterSnapshot TMeterModel::Snapshot(double t) const {
    auto w = [t](double period, double shift) { return std::sin(2 * kPi * t / period + shift); };
    // The network drifts over minutes, as a real one does between load changes: every RMS
    // value moves by well under 0.5 % per second, so a waveform block read a second or two
    // away from the middle of a 3-second interval still shows that interval's values.
    TMeterSnapshot s;
    s.Frequency = 50.0 + 0.04 * w(97, 0);
    const double base[3] = {0.0, -120.0, 120.0};
    const double unom = FNom.PhaseVoltage;
    for (int ph = 0; ph < 3; ++ph) {
        const double u1 = unom * (1 + 0.012 * w(241, 2.1 * ph) + 0.003 * w(67, ph));
        const double aU = base[ph] + 0.4 * w(347, ph);
        s.U[ph].H[1] = std::polar(u1, Rad(aU));
        const double i1 = 2.5 * (1 + 0.12 * w(901, 1.3 * ph) + 0.01 * w(211, ph));
        const double phi = 20.0 + 8.0 * w(1201, ph);
        const double aI = aU - phi;
        s.I[ph].H[1] = std::polar(i1, Rad(aI));
        for (int n = 2; n <= 40; ++n) {
            const double mu = VoltageLevel(n) * (1 + 0.15 * w(229 + n, ph + n)) * u1;
            s.U[ph].H[n] = std::polar(mu, Rad(n * aU + 30.0 * n + 10.0 * w(53, n)));
            const double mi = CurrentLevel(n) * (1 + 0.2 * w(1237 + 7 * n, ph + 0.5 * n)) * i1;
            s.I[ph].H[n] = std::polar(mi, Rad(n * aI + 45.0 * n + 15.0 * w(59, n)));
        }
    }
    if (HasNeutral()) {
        // A small voltage between neutral and earth, mostly of the third harmonic; the
        // neutral current is what the phases do not cancel.
        s.U[3].H[1] = std::polar(0.8 + 0.1 * w(307, 0), Rad(20.0 + 30.0 * w(67, 0)));
        s.U[3].H[3] = std::polar(0.25 + 0.03 * w(293, 1), Rad(75.0 + 20.0 * w(73, 0)));
        s.U[3].H[9] = std::polar(0.04, Rad(10.0));
        for (int n = 1; n <= 40; ++n)
            s.I[3].H[n] = s.I[0].H[n] + s.I[1].H[n] + s.I[2].H[n];
    }
    return s;
}

std::vector<uint8_t> TMeterModel::SettingsData() const {
    std::vector<uint8_t> d(240, 0);
    d[qz2::kSetVoltageSelector] = 0; // fixed ratio 3.81051
    d[qz2::kSetVoltageCode] = 0;
    PutF(d, qz2::kSetNominalPhaseVoltage, FNom.PhaseVoltage);
    PutF(d, qz2::kSetNominalLineVoltage, FNom.LineVoltage);
    // Upper maximum, upper normal, lower maximum, lower normal.
    const int16_t volt[4] = {1000, 500, -1000, -500};
    // Upper maximum, upper normal, lower normal, lower maximum.
    const int16_t freq[4] = {40, 20, -20, -40};
    for (int i = 0; i < 4; ++i) {
        PutI16(d, qz2::SetPhaseVoltageLimit(i), volt[i]);
        PutI16(d, qz2::SetLineVoltageLimit(i), volt[i]);
        PutI16(d, qz2::SetFrequencyLimit(i), freq[i]);
    }
    // Maximum, normal.
    PutI16(d, qz2::SetK0Limit(0), 400);
    PutI16(d, qz2::SetK0Limit(1), 200);
    PutI16(d, qz2::SetK2Limit(0), 400);
    PutI16(d, qz2::SetK2Limit(1), 200);
    PutI16(d, qz2::kSetKUNormal, 800);
    PutI16(d, qz2::kSetKUMax, 1200);
    for (int n = 2; n <= 40; ++n) {
        const int16_t normal = HarmonicNormalLimit(n);
        PutI16(d, qz2::SetHarmNormal(n), normal);
        PutI16(d, qz2::SetHarmMax(n), normal * 3 / 2);
    }
    d[qz2::kSetInputConfig] = FNom.InputConfig;
    d[qz2::kSetCurrentCode] = FNom.CurrentCode;
    return d;
}

std::vector<uint8_t> TMeterModel::ScaleData() const {
    std::vector<uint8_t> d(qz2::kScaleAnswerSize, 0);
    PutF(d, qz2::kScaleVoltage, FNom.VoltageKoeff);
    PutF(d, qz2::kScaleCurrent, FNom.CurrentKoeff);
    return d;
}

std::vector<uint8_t> TMeterModel::TimeData(TDateTime now, bool changeFlag,
                                           TDateTime changeTime) const {
    std::vector<uint8_t> d(qz2::kTimeAnswerSize, 0);
    EncodeQZ2Time(now, d.data() + qz2::kTimeDevice);
    d[qz2::kTimeChangeFlag] = changeFlag ? 1 : 0;
    EncodeQZ2Time(changeTime, d.data() + qz2::kTimeChangeTime);
    return d;
}

std::vector<uint8_t> TMeterModel::RecordData(TDateTime end) const {
    const bool ext = HasNeutral();
    std::vector<uint8_t> d(ext ? qz2::kRecordExtendedSize : qz2::kRecordBasicSize, 0);
    // The record averages the 3 seconds before `end`; its middle stands for it.
    const TMeterSnapshot s = Snapshot(SecondsOf(end) - 1.5);
    const double uUnit = TQZ2_ScaleKoeffsCmd::HarmonicScale(FNom.VoltageKoeff);
    // The extended record's current harmonics are sent at half scale.
    const double iUnit = TQZ2_ScaleKoeffsCmd::HarmonicScale(FNom.CurrentKoeff) * (ext ? 2.0 : 1.0);
    const int channels = ext ? 4 : 3;

    for (int ph = 0; ph < channels; ++ph) {
        PutGroup(d, qz2::PhaseUGroup(ph), s.U[ph].H[1], s.U[ph].TrueRms());
        PutGroup(d, qz2::PhaseIGroup(ph), s.I[ph].H[1], s.I[ph].TrueRms());
        PutU16v(d, qz2::KUPhase(ph), s.U[ph].Distortion() * 100.0);
        PutU16v(d, qz2::KIPhase(ph), s.I[ph].Distortion() * 100.0);
        PutHarmonics(d, qz2::PhaseUTable(ph), s.U[ph], uUnit);
        PutHarmonics(d, qz2::PhaseITable(ph), s.I[ph], iUnit);
        PutF(d, qz2::PowerFund(ph), ActivePower(s.U[ph], s.I[ph], 1));
        PutF(d, qz2::PowerTotal(ph), ActivePower(s.U[ph], s.I[ph], 40));
    }
    for (int ln = 0; ln < 3; ++ln) {
        const TChannelPhasors l = Difference(s.U[ln], s.U[(ln + 1) % 3]);
        PutGroup(d, qz2::LineUGroup(ln), l.H[1], l.TrueRms());
        PutU16v(d, qz2::KULine(ln), l.Distortion() * 100.0);
        PutHarmonics(d, qz2::LineUTable(ln), l, uUnit);
    }
    const auto us = Sequences(s.U[0].H[1], s.U[1].H[1], s.U[2].H[1]);
    const auto is = Sequences(s.I[0].H[1], s.I[1].H[1], s.I[2].H[1]);
    for (int k = 0; k < 3; ++k) {
        PutGroup(d, qz2::USeqGroup(k), us[k], std::abs(us[k]));
        PutGroup(d, qz2::ISeqGroup(k), is[k], std::abs(is[k]));
    }
    PutU16v(d, qz2::kFrequency, s.Frequency * 100.0);
    const double pos = std::abs(us[1]);
    PutU16v(d, qz2::kK0, pos > 0 ? std::abs(us[0]) / pos * 100.0 * 100.0 : 0);
    PutU16v(d, qz2::kK2, pos > 0 ? std::abs(us[2]) / pos * 100.0 * 100.0 : 0);
    return d;
}

// The monitor turns a stored sample s into (32768 - s) * 2 * k volts, s being the sent sample
// times the block's factor plus 32768: one sent unit reads as -2 * factor * k.
double TMeterModel::VoltageSampleUnit() const {
    return -2.0 * FNom.VoltageRatio * 1.224744871391589 * 100.0 / 32768.0 * (IsA() ? 1.575 : 1.0);
}

double TMeterModel::CurrentSampleUnit() const {
    if (!HasNeutral()) return -2.0 * FNom.CurrentNominal * 2.1213203435596424 / 32768.0;
    const bool doubled = FNom.InputConfig == 3 || FNom.InputConfig == 4;
    return -2.0 * FNom.CurrentNominal * 5.0 / 32768.0 * (doubled ? 2.0 : 1.0);
}

std::vector<uint8_t> TMeterModel::WaveformData(uint8_t mask, uint8_t sizeCode,
                                               double seconds) const {
    const int samples = qz2::SamplesOfSizeCode(sizeCode);
    // No channel asked for is no waveform: every model answers it as an unknown size code.
    if (samples == 0 || mask == 0) return {};
    const TMeterSnapshot s = Snapshot(seconds);
    const bool ext = HasNeutral();

    // Channel of each mask bit: voltage or current, and which of A, B, C, N.
    struct TBitChannel {
        const TChannelPhasors* Ch;
        bool Current;
        int Gain; // exponent k of the factor 1/4^k the monitor applies
    };
    TBitChannel bits[8] = {};
    if (ext) {
        bits[0] = {&s.U[3], false, 0};
        for (int ph = 0; ph < 3; ++ph) {
            bits[1 + ph] = {&s.U[ph], false, 0};
            bits[4 + ph] = {&s.I[ph], true, 0};
        }
        bits[7] = {&s.I[3], true, 0};
    } else {
        for (int ph = 0; ph < 3; ++ph) {
            bits[ph] = {&s.U[ph], false, 0};
            bits[3 + ph] = {&s.I[ph], true, 0};
        }
    }
    const double uUnit = VoltageSampleUnit();
    const double iUnit = CurrentSampleUnit();
    uint8_t gainByte = 0;
    if (ext) {
        // Small currents are sent amplified so that they use the sample range.
        for (int k = 0; k < 4; ++k) {
            TBitChannel& b = bits[4 + k];
            double peak = 0;
            for (int n = 1; n <= 40; ++n)
                peak += std::abs(b.Ch->H[n]);
            peak *= std::sqrt(2.0);
            int g = 0;
            while (g < 3 && peak * std::pow(4.0, g + 1) / std::fabs(iUnit) <= 30000.0)
                ++g;
            b.Gain = g;
            gainByte |= static_cast<uint8_t>(g << (2 * k));
        }
    }

    const double w = 2 * kPi * s.Frequency;
    const double dt = 1.0 / (kSamplesPerPeriod * s.Frequency);
    std::vector<uint8_t> d;
    d.reserve(static_cast<size_t>(samples) * 16 + 1);
    for (int i = 0; i < samples; ++i) {
        const double t = i * dt;
        for (int bit = 0; bit < 8; ++bit) {
            if (!(mask & (1u << bit))) continue;
            const TBitChannel& b = bits[bit];
            long v = 0;
            if (b.Ch) {
                double x = 0;
                for (int n = 1; n <= 40; ++n) {
                    const TPhasor& h = b.Ch->H[n];
                    if (h == TPhasor()) continue;
                    x += std::sqrt(2.0) * std::abs(h) * std::cos(w * n * t + std::arg(h));
                }
                v = std::lround(b.Current ? x * std::pow(4.0, b.Gain) / iUnit : x / uUnit);
            }
            v = std::clamp<long>(v, -32768, 32767);
            const uint16_t raw = static_cast<uint16_t>(static_cast<int16_t>(v));
            d.push_back(static_cast<uint8_t>(raw));
            d.push_back(static_cast<uint8_t>(raw >> 8));
        }
    }
    if (ext) d.push_back(gainByte);
    return d;
}

} // namespace qz
