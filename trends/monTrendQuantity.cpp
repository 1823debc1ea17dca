#include "trends/monTrendQuantity.h"

namespace qz {

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kCyan = 0x00FFFF;
constexpr uint32_t kMagenta = 0xFF00FF;
constexpr uint32_t kOrange = 0xFF9000;
constexpr uint32_t kPaleYellow = 0xFFFFA0;
constexpr uint32_t kPaleGreen = 0xA0FFA0;
constexpr uint32_t kPaleRed = 0xFFA0A0;

const TmonTrendQuantityInfo kTable[kmonTrendQuantityCount] = {
    {tqF, "F", "Гц", kWhite, false},
    {tqUA, "Ua", "В", kmonTrendYellow, false},
    {tqUB, "Ub", "В", kmonTrendGreen, false},
    {tqUC, "Uc", "В", kmonTrendRed, false},
    {tqUN, "UN", "В", kmonTrendBlue, true},
    {tqUAB, "Uab", "В", kPaleYellow, false},
    {tqUBC, "Ubc", "В", kPaleGreen, false},
    {tqUCA, "Uca", "В", kPaleRed, false},
    {tqIA, "Ia", "А", kmonTrendYellow, false},
    {tqIB, "Ib", "А", kmonTrendGreen, false},
    {tqIC, "Ic", "А", kmonTrendRed, false},
    {tqIN, "IN", "А", kmonTrendBlue, true},
    {tqPSum, "PΣ", "Вт", kWhite, false},
    {tqQSum, "QΣ", "вар", kCyan, false},
    {tqSSum, "SΣ", "ВА", kMagenta, false},
    {tqCosSum, "cosΣ", "", kWhite, false},
    {tqK2, "K2", "%", kOrange, false},
    {tqKUA, "KUa", "%", kmonTrendYellow, false},
    {tqKUB, "KUb", "%", kmonTrendGreen, false},
    {tqKUC, "KUc", "%", kmonTrendRed, false},
    {tqKUN, "KUN", "%", kmonTrendBlue, true},
    {tqKIA, "KIa", "%", kmonTrendYellow, false},
    {tqKIB, "KIb", "%", kmonTrendGreen, false},
    {tqKIC, "KIc", "%", kmonTrendRed, false},
    {tqKIN, "KIN", "%", kmonTrendBlue, true},
};

// A deviation limit in % of a nominal as a level in the nominal's unit.
void AddDeviation(std::vector<TmonTrendLimit>& out, float nominal, float pct, TmonColor c) {
    if (pct != 0) out.push_back({double(nominal) * (1.0 + double(pct) / 100.0), c});
}

void AddLevel(std::vector<TmonTrendLimit>& out, double level, bool reported, TmonColor c) {
    if (reported) out.push_back({level, c});
}

} // namespace

const TmonTrendQuantityInfo& TrendQuantityInfo(int id) {
    return id >= 0 && id < kmonTrendQuantityCount ? kTable[id] : kTable[0];
}

std::vector<TmonTrendQuantity> TrendQuantitiesOf(bool hasNeutral) {
    std::vector<TmonTrendQuantity> r;
    for (const auto& q : kTable)
        if (hasNeutral || !q.NeutralOnly) r.push_back(q.Id);
    return r;
}

TTrendSample TrendSampleOf(const TmonData3sec& d) {
    TTrendSample s;
    s.Time = d.Time;
    float* v = s.Value;
    v[tqF] = float(d.F);
    for (int ph = phA; ph <= phN; ++ph) {
        v[tqUA + ph] = float(d.U[ph]);
        v[tqIA + ph] = float(d.I[ph]);
        v[tqKUA + ph] = float(d.KU[ph]);
        v[tqKIA + ph] = float(d.KI(ph));
    }
    for (int ln = lnAB; ln <= lnCA; ++ln)
        v[tqUAB + ln] = float(d.ULine[ln]);
    v[tqPSum] = float(d.P[pwSum]);
    v[tqQSum] = float(d.Q[pwSum]);
    v[tqSSum] = float(d.S[pwSum]);
    v[tqCosSum] = float(d.CosPhi[pwSum]);
    v[tqK2] = float(d.K2);
    return s;
}

std::vector<TmonTrendLimit> TrendLimitsOf(int id, const TmonSettings& s) {
    std::vector<TmonTrendLimit> r;
    const auto deviations = [&r](float nominal, const float lim[4]) {
        // [0] upper maximum, [1] upper normal, [2] lower maximum, [3] lower normal; a nominal
        // of zero is a meter whose settings have not been read: no level can be drawn.
        if (!(nominal > 0.0001f)) return;
        AddDeviation(r, nominal, lim[0], mclRed);
        AddDeviation(r, nominal, lim[1], mclBlue);
        AddDeviation(r, nominal, lim[3], mclBlue);
        AddDeviation(r, nominal, lim[2], mclRed);
    };
    if (id >= tqUA && id <= tqUC) {
        deviations(s.NominalPhaseVoltage, s.PhaseVoltageLimits);
    } else if (id >= tqUAB && id <= tqUCA) {
        deviations(s.NominalLineVoltage, s.LineVoltageLimits);
    } else if (id == tqF) {
        // [0] upper maximum, [1] upper normal, [2] lower normal, [3] lower maximum, in Hz.
        if (s.NominalFrequency > 0) {
            const double f = s.NominalFrequency;
            const float* l = s.FrequencyLimits;
            AddLevel(r, f + l[0], l[0] != 0, mclRed);
            AddLevel(r, f + l[1], l[1] != 0, mclBlue);
            AddLevel(r, f + l[2], l[2] != 0, mclBlue);
            AddLevel(r, f + l[3], l[3] != 0, mclRed);
        }
    } else if (id >= tqKUA && id <= tqKUN) {
        AddLevel(r, s.KULimits[1], s.KULimits[1] > 0, mclRed);
        AddLevel(r, s.KULimits[0], s.KULimits[0] > 0, mclBlue);
    } else if (id == tqK2) {
        AddLevel(r, s.K2Limits[0], s.K2Limits[0] > 0, mclRed);
        AddLevel(r, s.K2Limits[1], s.K2Limits[1] > 0, mclBlue);
    }
    return r;
}

} // namespace qz
