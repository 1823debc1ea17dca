#include "exchange/monStorage.h"

#include "protocol/QZ2Layout.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qz {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Little-endian reads from a data field whose size the caller has checked; an offset
// outside it (which the checks rule out) reads as 0 rather than past the buffer.
class TRawReader {
public:
    TRawReader(const uint8_t* data, size_t size) : FData(data), FSize(size) {}
    uint8_t U8(size_t off) const { return off < FSize ? FData[off] : 0; }
    uint16_t U16(size_t off) const {
        if (off + 2 > FSize) return 0;
        return static_cast<uint16_t>(FData[off] | (FData[off + 1] << 8));
    }
    int16_t I16(size_t off) const { return static_cast<int16_t>(U16(off)); }
    float F32(size_t off) const {
        if (off + 4 > FSize) return 0;
        uint32_t bits = uint32_t(FData[off]) | uint32_t(FData[off + 1]) << 8 |
                        uint32_t(FData[off + 2]) << 16 | uint32_t(FData[off + 3]) << 24;
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }

private:
    const uint8_t* FData;
    size_t FSize;
};

// Stores decoded values until the first one that is not a finite number: that one and all
// after it are dropped, which is how an arithmetic fault ends the decoding.
class TFaultGate {
public:
    bool Failed() const { return FFailed; }
    void Set(double& field, double v) {
        if (Accept(v)) field = v;
    }
    void Set(float& field, double v) {
        if (Accept(v) && Accept(static_cast<float>(v))) field = static_cast<float>(v);
    }

private:
    bool Accept(double v) {
        if (!FFailed && !std::isfinite(v)) FFailed = true;
        return !FFailed;
    }
    bool FFailed = false;
};

} // namespace

// --- harmonic table lookup ---

#define QZ_CHANNEL_TABLE(Fn, Name)                                                                 \
    double* TmonData3sec::Fn(int ph) {                                                             \
        switch (ph) {                                                                              \
        case phA:                                                                                  \
            return Name##_A;                                                                       \
        case phB:                                                                                  \
            return Name##_B;                                                                       \
        case phC:                                                                                  \
            return Name##_C;                                                                       \
        default:                                                                                   \
            return Name##_N;                                                                       \
        }                                                                                          \
    }
QZ_CHANNEL_TABLE(KUn, KUn)
QZ_CHANNEL_TABLE(KIn, KIn)
QZ_CHANNEL_TABLE(Un, Un)
QZ_CHANNEL_TABLE(In, In)
QZ_CHANNEL_TABLE(PhiUn, PhiUn)
QZ_CHANNEL_TABLE(PhiIn, PhiIn)
QZ_CHANNEL_TABLE(PhiUIn, PhiUIn)
QZ_CHANNEL_TABLE(Pn, Pn)
#undef QZ_CHANNEL_TABLE

double* TmonData3sec::KUnLine(int ln) {
    return ln == lnAB ? KUn_AB : ln == lnBC ? KUn_BC : KUn_CA;
}
double* TmonData3sec::UnLine(int ln) {
    return ln == lnAB ? Un_AB : ln == lnBC ? Un_BC : Un_CA;
}
double TmonData3sec::KI(int ph) const {
    return ph == phA ? KI_A : ph == phB ? double(KI_B) : ph == phC ? KI_C : KI_N;
}
double TmonData3sec::KULine(int ln) const {
    return ln == lnAB ? KU_AB : ln == lnBC ? double(KU_BC) : KU_CA;
}

// --- arithmetic ---

double Norm360(double x) {
    // rint rounds a half to the even integer in the default rounding mode.
    return x - 360.0 * std::rint(x / 360.0);
}

double Pct(double x, double nominal) {
    if (std::fabs(nominal) < 1e-12) return 0;
    return (x - nominal) / nominal * 100.0;
}

double Pct100(uint16_t raw) {
    return raw <= 10000 ? raw * 0.01 : 100.0;
}

double QfromSP(double p, double s, double phi) {
    if (std::fabs(p) > std::fabs(s)) return 0;
    double q = std::sqrt(s * s - p * p);
    return phi < 0 ? -q : q;
}

double PowerFactor(double p, double q) {
    if (p == 0) return 0;
    return std::cos(std::atan2(q, p));
}

double HarmMag(int16_t re, int16_t im) {
    return std::sqrt(double(re) * re + double(im) * im);
}

double HarmAngle(int16_t re, int16_t im) {
    if (re == 0 && im == 0) return 0;
    return Norm360(std::atan2(double(im), double(re)) * 180.0 / kPi);
}

double RelHarm(double nominal, double f, double x1, double xn) {
    double base = nominal * f > x1 ? nominal : x1;
    if (base == 0) return 0;
    return std::min(xn / base * 100.0, 100.0);
}

// --- settings ---

float VoltageRatioOfCode(uint8_t code) {
    static const float kRatio[22] = {3.8f, 30,  60,  63,  66,  100,  105,  110,  138,  150,  157.5f,
                                     180,  200, 240, 270, 350, 1100, 1500, 2200, 3300, 5000, 7500};
    return code >= 1 && code <= 22 ? kRatio[code - 1] : 1.0f;
}

float NominalCurrentOfCode(uint8_t code) {
    static const float kCurrent[39] = {
        5,    10,    15,    20,    30,    40,    50,    75,    80,    100,   150,   200,   300,
        400,  500,   600,   750,   800,   1000,  1200,  1500,  2000,  3000,  4000,  5000,  6000,
        8000, 10000, 12000, 14000, 16000, 18000, 20000, 25000, 28000, 30000, 32000, 35000, 40000};
    return code >= 1 && code <= 39 ? kCurrent[code - 1] : 1.0f;
}

bool DecodeSettings(const uint8_t* data, size_t size, TmonSettings& s) {
    using namespace qz2;
    if (!data || size < kSettingsMinSize) return false;
    TRawReader r(data, size);
    auto finiteOr0 = [](float v) { return std::isfinite(v) ? v : 0.0f; };
    auto hundredth = [&](size_t off) { return static_cast<float>(r.I16(off) * 0.01); };

    s.NominalPhaseVoltage = finiteOr0(r.F32(kSetNominalPhaseVoltage));
    s.NominalLineVoltage = finiteOr0(r.F32(kSetNominalLineVoltage));
    s.VoltageRatio =
        r.U8(kSetVoltageSelector) == 0 ? 3.81051f : VoltageRatioOfCode(r.U8(kSetVoltageCode));
    s.NominalCurrent = NominalCurrentOfCode(r.U8(kSetCurrentCode));
    s.InputConfig = r.U8(kSetInputConfig);
    s.NominalFrequency = 50.0f;
    for (int i = 0; i < 4; ++i) {
        s.PhaseVoltageLimits[i] = hundredth(SetPhaseVoltageLimit(i));
        s.LineVoltageLimits[i] = hundredth(SetLineVoltageLimit(i));
        s.FrequencyLimits[i] = hundredth(SetFrequencyLimit(i));
    }
    for (int i = 0; i < 2; ++i) {
        s.K0Limits[i] = hundredth(SetK0Limit(i));
        s.K2Limits[i] = hundredth(SetK2Limit(i));
    }
    s.KULimits[0] = hundredth(kSetKUNormal);
    s.KULimits[1] = hundredth(kSetKUMax);
    for (int n = kFirstHarmonic; n <= kLastHarmonic; ++n) {
        s.KULimits[n] = hundredth(SetHarmNormal(n));
        s.KULimits[n + 39] = hundredth(SetHarmMax(n));
    }
    return true;
}

double HarmScaleOfKoeff(float k) {
    if (k == 0) return 0;
    return k / (8.0 * std::sqrt(2.0));
}

bool DecodeScaleKoeffs(const uint8_t* data, size_t size, double& voltageScale,
                       double& currentScale) {
    if (!data || size < qz2::kScaleAnswerSize) return false;
    TRawReader r(data, size);
    float ku = r.F32(qz2::kScaleVoltage), ki = r.F32(qz2::kScaleCurrent);
    if (!std::isfinite(ku) || !std::isfinite(ki)) return false;
    voltageScale = HarmScaleOfKoeff(ku);
    currentScale = HarmScaleOfKoeff(ki);
    return true;
}

// --- 3-second record ---

namespace {

class T3secDecoder {
public:
    T3secDecoder(const TRawReader& r, const TmonSettings& s, double uScale, double iScale,
                 TmonData3sec& d)
        : R(r), S(s), UScale(uScale), IScale(iScale), D(d) {}

    bool Failed() const { return G.Failed(); }

    void Common() {
        using namespace qz2;
        G.Set(D.F, R.U16(kFrequency) * 0.01);
        G.Set(D.dF, D.F - S.NominalFrequency);
        for (int ph = phA; ph <= phC; ++ph)
            Phase(ph);
        for (int ln = lnAB; ln <= lnCA; ++ln) {
            G.Set(D.U1Line[ln], R.F32(LineUGroup(ln)));
            G.Set(D.ULine[ln], R.F32(LineUGroup(ln) + kGroupRms));
            G.Set(D.dU1Line[ln], Pct(D.U1Line[ln], S.NominalLineVoltage));
        }
        for (int k = sq0; k <= sq2; ++k) {
            G.Set(D.USeq[k], R.F32(USeqGroup(k)));
            G.Set(D.ISeq[k], R.F32(ISeqGroup(k)));
            G.Set(D.PhiUISeq[k], Norm360(R.I16(USeqGroup(k) + kGroupAngle) * 0.01 -
                                         R.I16(ISeqGroup(k) + kGroupAngle) * 0.01));
        }
        G.Set(D.K0, R.U16(kK0) * 0.01);
        G.Set(D.K2, R.U16(kK2) * 0.01);
        for (int ph = phA; ph <= phC; ++ph)
            Powers(ph, ph);
        Sums();
        for (int ph = phA; ph <= phC; ++ph)
            G.Set(D.KU[ph], Pct100(R.U16(KUPhase(ph))));
        G.Set(D.KI_A, Pct100(R.U16(KIPhase(phA))));
        G.Set(D.KI_B, Pct100(R.U16(KIPhase(phB))));
        G.Set(D.KI_C, Pct100(R.U16(KIPhase(phC))));
        G.Set(D.KU_AB, Pct100(R.U16(KULine(lnAB))));
        G.Set(D.KU_BC, Pct100(R.U16(KULine(lnBC))));
        G.Set(D.KU_CA, Pct100(R.U16(KULine(lnCA))));
        for (int n = kFirstHarmonic; n <= kLastHarmonic; ++n) {
            for (int ph = phA; ph <= phC; ++ph)
                PhaseHarmonic(ph, n);
            for (int ln = lnAB; ln <= lnCA; ++ln)
                LineHarmonic(ln, n);
        }
    }

    void Neutral() {
        using namespace qz2;
        Phase(phN);
        Powers(phN, pwN);
        G.Set(D.KU[phN], Pct100(R.U16(KUPhase(phN))));
        G.Set(D.KI_N, Pct100(R.U16(KIPhase(phN))));
        for (int n = kFirstHarmonic; n <= kLastHarmonic; ++n)
            PhaseHarmonic(phN, n);
    }

    double CurrentHarmFactor = 1.0;
    bool Angles = true; // the harmonic angles and powers too

private:
    void Phase(int ph) {
        using namespace qz2;
        size_t u = PhaseUGroup(ph), i = PhaseIGroup(ph);
        G.Set(D.U1[ph], R.F32(u));
        G.Set(D.I1[ph], R.F32(i));
        G.Set(D.PhiUI[ph], Norm360(R.I16(u + kGroupAngle) * 0.01 - R.I16(i + kGroupAngle) * 0.01));
        G.Set(D.U[ph], R.F32(u + kGroupRms));
        G.Set(D.I[ph], R.F32(i + kGroupRms));
        G.Set(D.dU1[ph], Pct(D.U1[ph], S.NominalPhaseVoltage));
    }

    // Powers of channel `ph` into element `pw` of the power arrays.
    void Powers(int ph, int pw) {
        using namespace qz2;
        G.Set(D.P[pw], R.F32(PowerTotal(ph)));
        G.Set(D.S[pw], D.U[ph] * D.I[ph]);
        G.Set(D.Q[pw], QfromSP(D.P[pw], D.S[pw], D.PhiUI[ph]));
        G.Set(D.CosPhi[pw], PowerFactor(D.P[pw], D.Q[pw]));
        G.Set(D.P1[pw], R.F32(PowerFund(ph)));
        G.Set(D.S1[pw], D.U1[ph] * D.I1[ph]);
        G.Set(D.Q1[pw], QfromSP(D.P1[pw], D.S1[pw], D.PhiUI[ph]));
        G.Set(D.CosPhi1[pw], PowerFactor(D.P1[pw], D.Q1[pw]));
    }

    void Sums() {
        auto sum = [](const double* a) { return a[pwA] + a[pwB] + a[pwC]; };
        for (double* a : {D.P, D.Q, D.S, D.P1, D.Q1, D.S1})
            G.Set(a[pwSum], sum(a));
        G.Set(D.CosPhi[pwSum], PowerFactor(D.P[pwSum], D.Q[pwSum]));
        G.Set(D.CosPhi1[pwSum], PowerFactor(D.P1[pwSum], D.Q1[pwSum]));
    }

    void PhaseHarmonic(int ph, int n) {
        using namespace qz2;
        const int e = n - kFirstHarmonic;
        size_t uo = Harmonic(PhaseUTable(ph), n), io = Harmonic(PhaseITable(ph), n);
        int16_t ure = R.I16(uo), uim = R.I16(uo + 2), ire = R.I16(io), iim = R.I16(io + 2);
        G.Set(D.Un(ph)[e], HarmMag(ure, uim) * UScale);
        G.Set(D.In(ph)[e], HarmMag(ire, iim) * IScale * CurrentHarmFactor);
        G.Set(D.KUn(ph)[e], RelHarm(S.NominalPhaseVoltage, 0.1, D.U1[ph], D.Un(ph)[e]));
        G.Set(D.KIn(ph)[e], RelHarm(S.NominalCurrent, 0.001, D.I1[ph], D.In(ph)[e]));
        if (!Angles) return;
        G.Set(D.PhiUn(ph)[e], HarmAngle(ure, uim));
        G.Set(D.PhiIn(ph)[e], HarmAngle(ire, iim));
        double ku = D.KUn(ph)[e], ki = D.KIn(ph)[e];
        G.Set(D.PhiUIn(ph)[e],
              ku < 0.1 || ki < 0.001 ? 0.0 : Norm360(D.PhiUn(ph)[e] - D.PhiIn(ph)[e]));
        G.Set(D.Pn(ph)[e],
              std::cos(D.PhiUIn(ph)[e] * kPi / 180.0) * D.U1[ph] * ku * D.I1[ph] * ki * 0.0001);
    }

    void LineHarmonic(int ln, int n) {
        using namespace qz2;
        const int e = n - kFirstHarmonic;
        size_t o = Harmonic(LineUTable(ln), n);
        G.Set(D.UnLine(ln)[e], HarmMag(R.I16(o), R.I16(o + 2)) * UScale);
        G.Set(D.KUnLine(ln)[e], RelHarm(S.NominalLineVoltage, 0.1, D.U1Line[ln], D.UnLine(ln)[e]));
    }

    const TRawReader& R;
    const TmonSettings& S;
    double UScale, IScale;
    TmonData3sec& D;
    TFaultGate G;
};

} // namespace

TmonDecodeResult Decode3sec(const uint8_t* record, size_t size, bool extended,
                            const TmonSettings& settings, double voltageScale, double currentScale,
                            TmonData3sec& data, TmonDecodeDepth depth) {
    const size_t need = extended ? qz2::kRecordExtendedSize : qz2::kRecordBasicSize;
    if (!record || size < need) return TmonDecodeResult::TooShort;
    data = TmonData3sec();
    TRawReader r(record, need);
    T3secDecoder d(r, settings, voltageScale, currentScale, data);
    // The models with the fourth channel give their current harmonics in half units.
    d.CurrentHarmFactor = extended ? 2.0 : 1.0;
    d.Angles = depth == TmonDecodeDepth::Full;
    d.Common();
    if (extended) d.Neutral();
    return d.Failed() ? TmonDecodeResult::Stopped : TmonDecodeResult::Complete;
}

} // namespace qz
