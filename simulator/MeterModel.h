// What the simulated meter measures: a slowly varying three-phase network (and the fourth
// channel N on the models that have it), and the answer data fields a meter builds from it.
//
// Everything is derived from one set of phasors per channel, so the answers agree with each
// other the way a real meter's do: true RMS values include the harmonics, line voltages and
// sequence components are computed from the phase phasors, the neutral current is the sum of
// the phase currents, and powers follow from voltage, current and their angle.
#pragma once

#include "common/DateTime.h"

#include <array>
#include <complex>
#include <cstdint>
#include <vector>

namespace qz {

using TPhasor = std::complex<double>;

// RMS phasors of one channel: H[1] the fundamental, H[n] harmonic n (2..40); angles refer to
// the fundamental of phase A at the moment of measurement.
struct TChannelPhasors {
    std::array<TPhasor, 41> H{};
    double TrueRms() const;
    // Distortion coefficient: RMS of the harmonics over the fundamental, %.
    double Distortion() const;
};

struct TMeterSnapshot {
    double Frequency = 50.0;
    TChannelPhasors U[4]; // A, B, C, N
    TChannelPhasors I[4];
};

// Fixed characteristics of the simulated meter that its settings answer reports.
struct TMeterNominals {
    float PhaseVoltage = 220.0f;
    float LineVoltage = 380.0f;
    float CurrentNominal = 5.0f; // current code 1
    uint8_t CurrentCode = 1;
    uint8_t InputConfig = 1;
    // The voltage ratio the settings announce (selector 0: the fixed 3.81051).
    double VoltageRatio = 3.81051;
    // Harmonic scale coefficients sent in the scale answer; one harmonic unit is
    // k / (8 * sqrt 2) volts or amperes.
    float VoltageKoeff = 0.11313708f;   // 0.01 V per unit
    float CurrentKoeff = 0.0011313708f; // 0.0001 A per unit
};

class TMeterModel {
public:
    // `modelIndex` 0..5 of the QZ2 model table.
    explicit TMeterModel(int modelIndex, TMeterNominals nominals = {});

    int ModelIndex() const { return FModel; }
    bool HasNeutral() const;
    bool IsA() const;
    const TMeterNominals& Nominals() const { return FNom; }

    // The network at `seconds` (any time base; the values vary over tens of seconds).
    TMeterSnapshot Snapshot(double seconds) const;

    // Answer data fields.
    std::vector<uint8_t> SettingsData() const;
    std::vector<uint8_t> ScaleData() const;
    std::vector<uint8_t> TimeData(TDateTime now, bool changeFlag, TDateTime changeTime) const;
    // The 3-second record of the interval ending at `end` (basic or extended by model).
    std::vector<uint8_t> RecordData(TDateTime end) const;
    // A waveform block of the network at `seconds`, which the monitor reads back as these
    // voltages and currents; empty when the mask is 0 or the size code is outside 1..5.
    std::vector<uint8_t> WaveformData(uint8_t mask, uint8_t sizeCode, double seconds) const;

    // Volts or amperes that one unit of a sent sample reads as in the monitor (before the gain
    // factor of a current). Negative: the monitor counts the samples downwards.
    double VoltageSampleUnit() const;
    double CurrentSampleUnit() const;
    // Samples per period of the fundamental in waveform blocks.
    static constexpr int kSamplesPerPeriod = 64;

private:
    int FModel;
    TMeterNominals FNom;
};

// Seconds since 30.12.1899 of a date-time (the time base of Snapshot).
double SecondsOf(TDateTime t);

} // namespace qz
