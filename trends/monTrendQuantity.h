// The quantities the trends window can plot: their names, units and colours, how each is taken
// from a decoded 3-second record, and the limit lines the meter's own settings give them.
//
// A trend keeps only these values of a record (a decoded record with all its harmonic tables
// is some twenty kilobytes; a week of them would not fit in memory), so a sample is small.
#pragma once

#include "common/DateTime.h"
#include "exchange/monStorage.h"
#include "exchange/monValueFormat.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qz {

// Every plotted quantity. The order is the order of the window's check list.
enum TmonTrendQuantity : int {
    tqF = 0,
    tqUA,
    tqUB,
    tqUC,
    tqUN,
    tqUAB,
    tqUBC,
    tqUCA,
    tqIA,
    tqIB,
    tqIC,
    tqIN,
    tqPSum,
    tqQSum,
    tqSSum,
    tqCosSum,
    tqK2,
    tqKUA,
    tqKUB,
    tqKUC,
    tqKUN,
    tqKIA,
    tqKIB,
    tqKIC,
    tqKIN,
    kmonTrendQuantityCount
};

// Colours of the quantities, 0x00RRGGBB, drawn over the spectrum's grey ground. The phases take
// the colours of the spectrum bars (A yellow, B green, C red, N blue); the line voltages the
// colour of their leading phase, paler, so that U_AB and U_A can be told apart on one axis.
constexpr uint32_t kmonTrendYellow = 0xFFFF00;
constexpr uint32_t kmonTrendGreen = 0x00FF00;
constexpr uint32_t kmonTrendRed = 0xFF0000;
constexpr uint32_t kmonTrendBlue = 0x0000FF;
constexpr uint32_t kmonTrendGround = 0x6A6A6A;

struct TmonTrendQuantityInfo {
    TmonTrendQuantity Id;
    const char* Name; // as in the check list and the readout
    const char* Unit; // the unit of its value axis; "" for a plain number (cos)
    uint32_t Rgb;     // 0x00RRGGBB
    bool NeutralOnly; // shown only for a meter with the fourth channel
};

// The table entry of a quantity (Id outside the table: the entry of F).
const TmonTrendQuantityInfo& TrendQuantityInfo(int id);
// The quantities a meter offers: the N channel ones only with the neutral.
std::vector<TmonTrendQuantity> TrendQuantitiesOf(bool hasNeutral);

// One point of every trend: the record's time and its values (float: the meter's resolution).
struct TTrendSample {
    TDateTime Time = 0;
    float Value[kmonTrendQuantityCount] = {};
};

// A stretch in which the meter was not read (a poll outage) as the recording kept it: this
// computer's times of the failure and of the next record stored, the meter time of the last
// record before it, and the error as the operator read it.
struct TTrendOutage {
    TDateTime Began = 0, Ended = 0; // local times; Ended 0: no end kept (the recording stopped)
    TDateTime LastMeterTime = 0;    // 0: no record before it
    std::string Text;
    bool operator==(const TTrendOutage& o) const {
        return Began == o.Began && Ended == o.Ended && LastMeterTime == o.LastMeterTime &&
               Text == o.Text;
    }
};

// The values of a decoded record: true RMS voltages and currents, the whole-signal powers and
// their total, the coefficients in %.
TTrendSample TrendSampleOf(const TmonData3sec& d);

// A horizontal line at a limit the meter reported, coloured as the main window colours a value
// beyond it: blue beyond the normal range, red beyond the maximum range.
struct TmonTrendLimit {
    double Value = 0;
    TmonColor Color = mclBlack;
};
// The limit lines of a quantity: the voltage deviation limits turned into volts about the
// nominal (none while the nominal is not known), the frequency limits about the nominal
// frequency, the normal and maximum distortion limits for KU, the unbalance limits for K2.
// Limits of zero (not reported) draw no line.
std::vector<TmonTrendLimit> TrendLimitsOf(int id, const TmonSettings& s);

} // namespace qz
