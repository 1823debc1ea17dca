// The quantities of the power-quality protocol: which are assessed against limits and which
// are only shown, their keys (the names scripts read in the JSON), units and titles, their
// 3-second values and the limits the meter's settings give them.
#pragma once

#include "exchange/monStorage.h"

#include <limits>
#include <string>

namespace qz {

// Assessed quantities, in the order of the protocol's tables.
enum TrpQuantity : int {
    rqDF = 0,      // frequency deviation, Hz, assessed per 3-second record
    rqDUPhase = 1, // + phA..phC: deviation of the phase voltage, %
    rqDULine = 4,  // + lnAB..lnCA: deviation of the line voltage, %
    rqK2U = 7,     // negative-sequence unbalance, %
    rqK0U = 8,     // zero-sequence unbalance, %
    rqKUPhase = 9, // + phA..phC: voltage distortion coefficient of a phase, %
    rqKULine = 12, // + lnAB..lnCA: of a line, %
    rqKUHarm = 15, // + ph * 39 + (n - 2): harmonic n of a phase voltage, %
};
constexpr int krpAssessedCount = rqKUHarm + 3 * kmonHarmCount;
// The quantities before the harmonics: the main ones, charted one by one.
constexpr int krpMainCount = rqKUHarm;
constexpr int RpHarmQuantity(int ph, int n) {
    return rqKUHarm + ph * kmonHarmCount + (n - 2);
}

// Quantities shown as min / mean / max without an assessment.
enum TrpShown : int {
    rsKI = 0, // + phA..phC: current distortion coefficient, %
    rsI = 3,  // + phA..phC: true RMS current, A
    rsP = 6,  // total active power, W
    rsQ = 7,  // total reactive power, var
    rsS = 8,  // total apparent power, V*A
};
constexpr int krpShownCount = 9;

// A range of a quantity; NaN is a bound that is not set.
struct TrpRange {
    double Low;
    double High;
};

// The limits of one quantity: the normal and the maximum range. One-sided quantities have
// no low bounds.
struct TrpLimits {
    TrpRange Normal;
    TrpRange Max;
};

struct TrpQuantityInfo {
    std::string Key;    // "dU_A", "KU_B_5"
    const char* Unit;   // "%", "Гц"
    std::string Title;  // the protocol's chart title
    bool TwoSided;      // δU and Δf: judged below the low limits too
    std::string Symbol; // the protocol's table row: "δU A", "KU(5) B"
};

const TrpQuantityInfo& RpQuantityInfo(int q);
const TrpQuantityInfo& RpShownInfo(int s);

// The quantity's value in one 3-second record before the interval's mean is formed: the
// true RMS voltage for δU, the coefficient itself for the others, F for Δf. NaN for a value
// the record does not hold.
double RpRecordValue(int q, const TmonData3sec& d);
double RpShownValue(int s, const TmonData3sec& d);
// Whether a shown quantity is averaged arithmetically (the signed powers) rather than as a
// quadratic mean.
bool RpShownIsArithmetic(int s);

// The interval's (or record's) value from the mean of its record values: δU against the
// nominal of `settings`, Δf against 50 Hz, the others as they are. NaN without a nominal.
double RpValueOfMean(int q, double mean, const TmonSettings& settings);

// The limits `settings` give a quantity; a limit of 0 is not set.
TrpLimits RpLimitsOf(int q, const TmonSettings& settings);

// The nominal frequency the deviation is taken against.
constexpr double krpNominalFrequency = 50.0;
// A value not measured or not assessed.
constexpr double krpNaN = std::numeric_limits<double>::quiet_NaN();

} // namespace qz
