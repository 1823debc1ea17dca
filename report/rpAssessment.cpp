#include "report/rpAssessment.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace qz {
namespace {

constexpr int64_t kRecordMs = 3000;

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

int64_t MsOf(TDateTime t) {
    return std::llround(t * kMSecsPerDay);
}

bool SameLimits(const TrpLimits& a, const TrpLimits& b) {
    auto same = [](double x, double y) { return (std::isnan(x) && std::isnan(y)) || x == y; };
    return same(a.Normal.Low, b.Normal.Low) && same(a.Normal.High, b.Normal.High) &&
           same(a.Max.Low, b.Max.Low) && same(a.Max.High, b.Max.High);
}

bool RangeSet(const TrpRange& r) {
    return !std::isnan(r.Low) || !std::isnan(r.High);
}

// The statistics of values, each with the settings it is judged by.
TrpStats StatsOf(int q, std::vector<double>& values, const std::vector<int32_t>& settingsOf,
                 const std::vector<TmonSettings>& settings) {
    TrpStats st;
    st.Min = st.Max = st.Upper95 = st.Lower95 = st.T1 = st.T2 = krpNaN;
    st.Limits = TrpLimits{{krpNaN, krpNaN}, {krpNaN, krpNaN}};
    st.N = int64_t(values.size());
    if (values.empty()) {
        if (!settings.empty()) st.Limits = RpLimitsOf(q, settings.back());
        return st;
    }
    // The limits of each settings once; values are judged by their own.
    std::vector<TrpLimits> limits(settings.size());
    for (size_t i = 0; i < settings.size(); ++i)
        limits[i] = RpLimitsOf(q, settings[i]);
    const TrpLimits none{{krpNaN, krpNaN}, {krpNaN, krpNaN}};
    int64_t normalN = 0, maxN = 0, outNormal = 0, outMax = 0;
    int32_t previous = -2;
    for (size_t i = 0; i < values.size(); ++i) {
        const int32_t s = settingsOf[i];
        const TrpLimits& l = s >= 0 ? limits[size_t(s)] : none;
        if (previous != -2 && s != previous &&
            !SameLimits(l, previous >= 0 ? limits[size_t(previous)] : none))
            st.LimitsChanged = true;
        previous = s;
        if (RangeSet(l.Normal)) {
            ++normalN;
            outNormal += RpOutside(values[i], l.Normal);
        }
        if (RangeSet(l.Max)) {
            ++maxN;
            outMax += RpOutside(values[i], l.Max);
        }
        st.Limits = l;
    }
    if (normalN) st.T1 = 100.0 * double(outNormal) / double(normalN);
    if (maxN) st.T2 = 100.0 * double(outMax) / double(maxN);
    std::sort(values.begin(), values.end());
    st.Min = values.front();
    st.Max = values.back();
    st.Upper95 = RpNearestRank(values, 95);
    if (RpQuantityInfo(q).TwoSided) st.Lower95 = RpNearestRank(values, 5);
    if (normalN || maxN)
        st.Verdict =
            ((std::isnan(st.T1) || st.T1 <= 5.0) && (std::isnan(st.T2) || outMax == 0)) ? 1 : 0;
    return st;
}

} // namespace

int RpExpectedPerInterval(int intervalSeconds) {
    return intervalSeconds / 3;
}

int RpValidThreshold(int intervalSeconds) {
    const int expected = RpExpectedPerInterval(intervalSeconds);
    return (expected * 9 + 9) / 10;
}

double RpNearestRank(const std::vector<double>& sorted, int percent) {
    if (sorted.empty()) return krpNaN;
    const int64_t n = int64_t(sorted.size());
    int64_t rank = (n * percent + 99) / 100; // ceil(p / 100 * N) in integers
    rank = std::clamp<int64_t>(rank, 1, n);
    return sorted[size_t(rank - 1)];
}

bool RpOutside(double v, const TrpRange& r) {
    auto tolerance = [](double bound) { return 1e-9 * std::max(1.0, std::fabs(bound)); };
    if (!std::isnan(r.High) && v > r.High + tolerance(r.High)) return true;
    if (!std::isnan(r.Low) && v < r.Low - tolerance(r.Low)) return true;
    return false;
}

TrpAggregator::TrpAggregator(int intervalSeconds)
    : FLength(int64_t(intervalSeconds) * 1000), FSum(krpAssessedCount), FCount(krpAssessedCount),
      FShownSum(krpShownCount), FShownCount(krpShownCount) {
    FOut.IntervalSeconds = intervalSeconds;
}

int TrpAggregator::SettingsIndex(const TmonSettings& s) {
    std::vector<TmonSettings>& all = FOut.Settings;
    if (all.empty() || std::memcmp(&all.back(), &s, sizeof s) != 0) all.push_back(s);
    return int(all.size() - 1);
}

void TrpAggregator::Add(TDateTime t, const TmonData3sec& d, const TmonSettings& settings) {
    const int64_t ms = MsOf(t);
    if (FHaveLast && ms <= FLastMs) {
        ++FOut.OutOfOrder;
        return;
    }
    if (FHaveLast && ms - FLastMs > kRecordMs * 3 / 2) {
        const int64_t missing = (ms - FLastMs + kRecordMs / 2) / kRecordMs - 1;
        if (missing > 0) FOut.Outages.push_back({FLastTime, t, missing});
    }
    const int64_t index = FloorDiv(ms, FLength);
    if (FOpen && index != FCurrent.Index) CloseInterval();
    if (!FOpen) {
        if (!FHaveLast) {
            FFirstIndex = index;
            FOut.First = t;
        }
        FCurrent = TrpInterval();
        FCurrent.Index = index;
        FCurrent.Start = double(index) * double(FLength) / kMSecsPerDay;
        std::fill(FSum.begin(), FSum.end(), 0.0);
        std::fill(FCount.begin(), FCount.end(), 0.0);
        std::fill(FShownSum.begin(), FShownSum.end(), 0.0);
        std::fill(FShownCount.begin(), FShownCount.end(), 0.0);
        FOpen = true;
    }
    FHaveLast = true;
    FLastMs = ms;
    FLastTime = t;
    FOut.Last = t;
    ++FOut.Records;
    ++FCurrent.Records;
    FCurrent.Settings = SettingsIndex(settings);

    for (int q = 0; q < krpAssessedCount; ++q) {
        const double v = RpRecordValue(q, d);
        if (!std::isfinite(v)) continue;
        FSum[size_t(q)] += v * v;
        FCount[size_t(q)] += 1;
    }
    for (int s = 0; s < krpShownCount; ++s) {
        const double v = RpShownValue(s, d);
        if (!std::isfinite(v)) continue;
        FShownSum[size_t(s)] += RpShownIsArithmetic(s) ? v : v * v;
        FShownCount[size_t(s)] += 1;
    }
    // Frequency is judged record by record against the limits in force for each record.
    if (std::isfinite(d.F)) {
        // F comes in hundredths of a hertz: rounding the difference to a nanohertz only takes
        // away the binary remainder of the subtraction (49.96 - 50 = -0.0399999999999991).
        FDf.push_back(std::round((d.F - krpNominalFrequency) * 1e9) / 1e9);
        FDfSettings.push_back(FCurrent.Settings);
    }
}

void TrpAggregator::CloseInterval() {
    TrpInterval& c = FCurrent;
    c.Valid = c.Records >= RpValidThreshold(FOut.IntervalSeconds);
    const TmonSettings& s = FOut.Settings[size_t(c.Settings)];
    c.Values.assign(krpAssessedCount, krpNaN);
    for (int q = 0; q < krpAssessedCount; ++q)
        if (FCount[size_t(q)] > 0)
            c.Values[size_t(q)] =
                RpValueOfMean(q, std::sqrt(FSum[size_t(q)] / FCount[size_t(q)]), s);
    c.Shown.assign(krpShownCount, krpNaN);
    for (int k = 0; k < krpShownCount; ++k) {
        const double n = FShownCount[size_t(k)];
        if (n > 0)
            c.Shown[size_t(k)] = RpShownIsArithmetic(k) ? FShownSum[size_t(k)] / n
                                                        : std::sqrt(FShownSum[size_t(k)] / n);
    }
    FOut.ValidIntervals += c.Valid;
    FOut.IntervalList.push_back(std::move(c));
    FOpen = false;
}

TrpAssessment TrpAggregator::Finish() {
    if (FOpen) CloseInterval();
    TrpAssessment& a = FOut;
    if (a.Records > 0) {
        a.ExpectedRecords = (MsOf(a.Last) - MsOf(a.First) + kRecordMs / 2) / kRecordMs + 1;
        a.Intervals = a.IntervalList.back().Index - FFirstIndex + 1;
    }
    a.Stats.resize(krpAssessedCount);
    std::vector<double> values;
    std::vector<int32_t> settingsOf;
    a.Stats[rqDF] = StatsOf(rqDF, FDf, FDfSettings, a.Settings);
    for (int q = 1; q < krpAssessedCount; ++q) {
        values.clear();
        settingsOf.clear();
        for (const TrpInterval& i : a.IntervalList) {
            if (!i.Valid || !std::isfinite(i.Values[size_t(q)])) continue;
            values.push_back(i.Values[size_t(q)]);
            settingsOf.push_back(i.Settings);
        }
        a.Stats[size_t(q)] = StatsOf(q, values, settingsOf, a.Settings);
    }
    a.Shown.resize(krpShownCount);
    for (int k = 0; k < krpShownCount; ++k) {
        TrpShownStats& st = a.Shown[size_t(k)];
        st.Min = st.Mean = st.Max = krpNaN;
        double sum = 0;
        for (const TrpInterval& i : a.IntervalList) {
            const double v = i.Shown[size_t(k)];
            if (!i.Valid || !std::isfinite(v)) continue;
            st.Min = st.N ? std::min(st.Min, v) : v;
            st.Max = st.N ? std::max(st.Max, v) : v;
            sum += v;
            ++st.N;
        }
        if (st.N) st.Mean = sum / double(st.N);
    }
    a.Verdict = -1;
    for (const TrpStats& st : a.Stats) {
        if (st.Verdict == 0) {
            a.Verdict = 0;
            break;
        }
        if (st.Verdict == 1) a.Verdict = 1;
    }
    FDf.clear();
    FDf.shrink_to_fit();
    FDfSettings.clear();
    FDfSettings.shrink_to_fit();
    return std::move(FOut);
}

} // namespace qz
