// A waveform block of the meter decoded into the channels of an experiment, without a window:
// the channel table, the per-channel factors, the refill of the samples and the scale factors
// that turn stored samples into volts and amperes. The waveform window draws what this fills;
// the journal's COMTRADE export reads the same channels back.
#pragma once

#include "sigcalc/sigcalc.h"

#include <cstdint>

namespace qz {

struct TmonStorage;

// x with its fraction dropped (toward zero), and x rounded to the nearest integer with a half
// going to the even neighbour.
int msTrunc(double x);
int msRnd(double x);

// Samples of a sample-count code: 32, 64, 128, 256, 512 for 1..5, 0 for any other code.
int SampleCountOfCode(int code);

// Volts and amperes per sample unit. A value within 0.0001 of zero takes the default
// (3.8105099 for the voltage ratio, 5 A for the current).
double UCoefOf(double voltage);
double ICoefOf(double current, bool hasNeutral);

// Channel items of the experiment: 11 with neutral, 9 without.
int ChannelItemCount(bool hasNeutral);
// First line-voltage item (" Uаb"): 8 with neutral, 6 without.
int FirstLineItem(bool hasNeutral);

// One channel of the experiment: its name (UTF-8, with the leading space), number and colour
// (0x00BBGGRR).
struct TmonSignalChannelDef {
    const char* Name;
    int32_t Number;
    uint32_t Colour;
};

// Channels in item order: 11 with the neutral channels, 9 without (no " Un" and " In").
int SignalChannelCount(bool hasNeutral);
const TmonSignalChannelDef& SignalChannel(bool hasNeutral, int item);

// Per-channel factors of one block, by mask bit.
struct TmonRefillFactors {
    double Coef[8] = {1, 1, 1, 1, 1, 1, 1, 1};
};

// The factors of a block: the voltage factor for the voltage bits; with neutral, the current
// bits 4..7 get 1/4^g from the gain byte (2 bits per channel, " Iа" lowest), doubled for the
// input configurations 3 and 4; without neutral the currents keep 1.
TmonRefillFactors RefillFactorsOf(bool hasNeutral, double voltageFactor, uint8_t gainByte,
                                  uint8_t inputConfig);

// Refills the experiment's channels from a waveform block: every channel cleared, then for
// each sample the requested channels in mask-bit order, and the ticked line voltages
// (`lineChecked[0..2]`: " Uаb", " Ubc", " Uca") from their phases. Reads never go past
// `size` bytes: a short block fills what it holds. A code outside 1..5 only clears.
void RefillExperiment(TSigExperiment* exp, bool hasNeutral, const uint8_t* data, int32_t size,
                      uint8_t mask, uint8_t code, const TmonRefillFactors& factors,
                      const bool lineChecked[3]);

// The experiment of the waveform display with its channels (mask 255 or 63, code 2), owned.
class TmonSignalExperiment {
public:
    explicit TmonSignalExperiment(bool hasNeutral);
    ~TmonSignalExperiment();
    TmonSignalExperiment(const TmonSignalExperiment&) = delete;
    TmonSignalExperiment& operator=(const TmonSignalExperiment&) = delete;

    TSigExperiment* Get() const { return FExp; }
    bool HasNeutral() const { return FHasNeutral; }

    // Refills the channels from the block in `storage` (its gain byte and input configuration
    // give the current factors); `modelIsA` selects the voltage factor of the "(A)" models.
    void Refill(const TmonStorage& storage, uint8_t mask, uint8_t code, bool modelIsA,
                const bool lineChecked[3]);

private:
    TSigExperiment* FExp = nullptr;
    bool FHasNeutral;
};

} // namespace qz
