#include "report/rpQuantity.h"

#include <cmath>
#include <limits>
#include <vector>

namespace qz {
namespace {

const char* const kPhase[] = {"A", "B", "C"};
const char* const kLine[] = {"AB", "BC", "CA"};

std::vector<TrpQuantityInfo> MakeAssessed() {
    std::vector<TrpQuantityInfo> v(krpAssessedCount);
    v[rqDF] = {"dF", "Гц", "Отклонение частоты Δf", true, "Δf"};
    for (int i = 0; i < 3; ++i) {
        v[rqDUPhase + i] = {std::string("dU_") + kPhase[i], "%",
                            std::string("Отклонение напряжения δU ") + kPhase[i], true,
                            std::string("δU ") + kPhase[i]};
        v[rqDULine + i] = {std::string("dU_") + kLine[i], "%",
                           std::string("Отклонение напряжения δU ") + kLine[i], true,
                           std::string("δU ") + kLine[i]};
        v[rqKUPhase + i] = {std::string("KU_") + kPhase[i], "%",
                            std::string("Коэффициент искажения KU ") + kPhase[i], false,
                            std::string("KU ") + kPhase[i]};
        v[rqKULine + i] = {std::string("KU_") + kLine[i], "%",
                           std::string("Коэффициент искажения KU ") + kLine[i], false,
                           std::string("KU ") + kLine[i]};
        for (int n = 2; n <= 40; ++n)
            v[RpHarmQuantity(i, n)] = {std::string("KU_") + kPhase[i] + "_" + std::to_string(n),
                                       "%", "KU(" + std::to_string(n) + ") " + kPhase[i], false,
                                       "KU(" + std::to_string(n) + ") " + kPhase[i]};
    }
    v[rqK2U] = {"K2U", "%", "Коэффициент несимметрии по обратной последовательности K2U", false,
                "K2U"};
    v[rqK0U] = {"K0U", "%", "Коэффициент несимметрии по нулевой последовательности K0U", false,
                "K0U"};
    return v;
}

std::vector<TrpQuantityInfo> MakeShown() {
    std::vector<TrpQuantityInfo> v(krpShownCount);
    for (int i = 0; i < 3; ++i) {
        v[rsKI + i] = {std::string("KI_") + kPhase[i], "%",
                       std::string("Коэффициент искажения тока KI ") + kPhase[i], false,
                       std::string("KI ") + kPhase[i]};
        v[rsI + i] = {std::string("I_") + kPhase[i], "А", std::string("Ток I ") + kPhase[i], false,
                      std::string("I ") + kPhase[i]};
    }
    v[rsP] = {"P", "Вт", "Активная мощность P Σ", false, "P Σ"};
    v[rsQ] = {"Q", "вар", "Реактивная мощность Q Σ", false, "Q Σ"};
    v[rsS] = {"S", "В·А", "Полная мощность S Σ", false, "S Σ"};
    return v;
}

// A limit as the meter keeps it (hundredths in a single), 0 being "not set".
double Limit(float raw) {
    if (!std::isfinite(raw) || raw == 0.0f) return krpNaN;
    return std::round(double(raw) * 100.0) / 100.0;
}

} // namespace

const TrpQuantityInfo& RpQuantityInfo(int q) {
    static const std::vector<TrpQuantityInfo> table = MakeAssessed();
    return table[size_t(q)];
}

const TrpQuantityInfo& RpShownInfo(int s) {
    static const std::vector<TrpQuantityInfo> table = MakeShown();
    return table[size_t(s)];
}

double RpRecordValue(int q, const TmonData3sec& d) {
    if (q == rqDF) return d.F;
    if (q < rqDULine) return d.U[q - rqDUPhase];
    if (q < rqK2U) return d.ULine[q - rqDULine];
    if (q == rqK2U) return d.K2;
    if (q == rqK0U) return d.K0;
    if (q < rqKULine) return d.KU[q - rqKUPhase];
    if (q < rqKUHarm) return d.KULine(q - rqKULine);
    const int h = q - rqKUHarm;
    return d.KUn(h / kmonHarmCount)[h % kmonHarmCount];
}

double RpShownValue(int s, const TmonData3sec& d) {
    if (s < rsI) return d.KI(s - rsKI);
    if (s < rsP) return d.I[s - rsI];
    if (s == rsP) return d.P[pwSum];
    if (s == rsQ) return d.Q[pwSum];
    return d.S[pwSum];
}

bool RpShownIsArithmetic(int s) {
    return s >= rsP;
}

double RpValueOfMean(int q, double mean, const TmonSettings& settings) {
    if (q == rqDF) return mean - krpNominalFrequency;
    if (q < rqK2U) {
        const double nominal =
            q < rqDULine ? settings.NominalPhaseVoltage : settings.NominalLineVoltage;
        if (!std::isfinite(nominal) || std::fabs(nominal) < 1e-6) return krpNaN;
        return (mean - nominal) / nominal * 100.0;
    }
    return mean;
}

TrpLimits RpLimitsOf(int q, const TmonSettings& s) {
    TrpLimits l{{krpNaN, krpNaN}, {krpNaN, krpNaN}};
    if (q == rqDF) {
        // Upper maximum, upper normal, lower normal, lower maximum.
        l.Max = {Limit(s.FrequencyLimits[3]), Limit(s.FrequencyLimits[0])};
        l.Normal = {Limit(s.FrequencyLimits[2]), Limit(s.FrequencyLimits[1])};
    } else if (q < rqK2U) {
        // Upper maximum, upper normal, lower maximum, lower normal.
        const float* v = q < rqDULine ? s.PhaseVoltageLimits : s.LineVoltageLimits;
        l.Max = {Limit(v[2]), Limit(v[0])};
        l.Normal = {Limit(v[3]), Limit(v[1])};
    } else if (q == rqK2U || q == rqK0U) {
        // Maximum, normal.
        const float* v = q == rqK2U ? s.K2Limits : s.K0Limits;
        l.Max.High = Limit(v[0]);
        l.Normal.High = Limit(v[1]);
    } else if (q < rqKUHarm) {
        l.Normal.High = Limit(s.KULimits[0]);
        l.Max.High = Limit(s.KULimits[1]);
    } else {
        const int n = (q - rqKUHarm) % kmonHarmCount + 2;
        l.Normal.High = Limit(s.KULimits[n]);
        l.Max.High = Limit(s.KULimits[n + 39]);
    }
    return l;
}

} // namespace qz
