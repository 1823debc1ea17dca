// The assessment of a recording: 3-second records gathered into intervals aligned to the
// meter's clock, each interval's value the quadratic mean of its records, intervals with
// fewer than 90 % of their records left out, and the statistics of each quantity against
// the limits in force.
#pragma once

#include "common/DateTime.h"
#include "exchange/monStorage.h"
#include "report/rpQuantity.h"

#include <cstdint>
#include <vector>

namespace qz {

// One interval that holds records.
struct TrpInterval {
    int64_t Index = 0;     // its start is Index intervals after 30.12.1899 00:00
    TDateTime Start = 0;   // by the meter's clock
    int32_t Records = 0;   // 3-second records in it
    bool Valid = false;    // at least 90 % of the records it should hold
    int32_t Settings = -1; // the settings in force for its last record (TrpAssessment::Settings)
    std::vector<double> Values; // krpAssessedCount; Δf is F's mean less 50 Hz; NaN: none
    std::vector<double> Shown;  // krpShownCount
};

// Records missing between two that are more than one record apart.
struct TrpOutage {
    TDateTime After = 0;  // the last record before the gap
    TDateTime Before = 0; // the first record after it
    int64_t Missing = 0;  // 3-second records that should lie between
};

// The statistics of an assessed quantity. NaN is "none" (null in the JSON).
struct TrpStats {
    int64_t N = 0;
    double Min, Max, Upper95, Lower95; // Lower95 only for the two-sided quantities
    TrpLimits Limits;                  // the limits in force for the last value
    bool LimitsChanged = false;        // the limits were not the same for every value
    double T1, T2;                     // % of the values outside the normal and the maximum range
    int Verdict = -1;                  // 1 complies, 0 does not, -1 not judged
};

struct TrpShownStats {
    int64_t N = 0;
    double Min, Mean, Max;
};

struct TrpAssessment {
    int IntervalSeconds = 600;
    int64_t Records = 0;    // records assessed
    int64_t OutOfOrder = 0; // records not later than the one before them: left out
    TDateTime First = 0, Last = 0;
    int64_t ExpectedRecords = 0; // one per 3 s from the first record to the last, both in
    int64_t Intervals = 0;       // from the first record's interval to the last's, empty ones too
    int64_t ValidIntervals = 0;
    std::vector<TmonSettings> Settings; // the settings in force, each change once, in order
    std::vector<TrpInterval> IntervalList;
    std::vector<TrpOutage> Outages;
    std::vector<TrpStats> Stats;      // krpAssessedCount
    std::vector<TrpShownStats> Shown; // krpShownCount
    int Verdict = -1;                 // every judged quantity complies: 1
};

// Records per interval a meter gives, and the fewest that make an interval valid (90 %).
int RpExpectedPerInterval(int intervalSeconds);
int RpValidThreshold(int intervalSeconds);

// Nearest rank: the ceil(p / 100 * N)-th smallest of sorted values (at least the first).
double RpNearestRank(const std::vector<double>& sorted, int percent);
// Strictly outside a range; a bound that is not set does not act. Values that only differ
// from a bound by the rounding of its hundredths count as on it.
bool RpOutside(double v, const TrpRange& r);

class TrpAggregator {
public:
    explicit TrpAggregator(int intervalSeconds = 600);

    // Records in the meter's time order; a record not later than the one before is left out.
    // `settings` are those in force for it (the meter's, or with a file's limits applied).
    void Add(TDateTime t, const TmonData3sec& d, const TmonSettings& settings);
    // Closes the last interval and works out the statistics.
    TrpAssessment Finish();

private:
    void CloseInterval();
    int SettingsIndex(const TmonSettings& s);

    TrpAssessment FOut;
    int64_t FLength; // ms
    bool FOpen = false, FHaveLast = false;
    TDateTime FLastTime = 0;
    int64_t FLastMs = 0;
    int64_t FFirstIndex = 0;
    TrpInterval FCurrent;
    std::vector<double> FSum, FCount, FShownSum, FShownCount;
    std::vector<double> FDf;          // every record's Δf
    std::vector<int32_t> FDfSettings; // and its settings
};

} // namespace qz
