// The measurement storage that the exchange threads fill and the main window reads, and the
// decoding of the meter's settings, scale-coefficient and 3-second answers into it.
//
// Field order and widths are those the window and the CSV export rely on: singles are
// `float`, everything else in the 3-second record `double`. The records are plain (not
// packed): they never leave the program, and plain fields can be handed around by
// reference.
#pragma once

#include "common/DateTime.h"

#include <cstddef>
#include <cstdint>

namespace qz {

// Indices of the per-channel arrays: phases A, B, C and the fourth channel N.
enum TmonPhase { phA = 0, phB = 1, phC = 2, phN = 3 };
// Indices of the power arrays: phases, their total, then N (which is not part of the total).
enum TmonPowerIndex { pwA = 0, pwB = 1, pwC = 2, pwSum = 3, pwN = 4 };
// Line quantities AB, BC, CA and the sequence components zero, positive, negative.
enum TmonLine { lnAB = 0, lnBC = 1, lnCA = 2 };
enum TmonSeq { sq0 = 0, sq1 = 1, sq2 = 2 };

constexpr int kmonHarmCount = 39; // harmonics n = 2..40, element n - 2
using TmonHarmTable = double[kmonHarmCount];

struct TmonSettings {
    float NominalPhaseVoltage = 0; // V
    float NominalLineVoltage = 0;  // V
    float VoltageRatio = 0;        // 0 until the first settings read
    float NominalCurrent = 0;      // A
    uint8_t InputConfig = 0;
    float NominalFrequency = 0; // Hz, 50 after decoding
    float PhaseVoltageLimits[4] = {};
    float LineVoltageLimits[4] = {};
    float FrequencyLimits[4] = {};
    float K0Limits[2] = {};
    float K2Limits[2] = {};
    // 0: normal limit of the distortion coefficient, 1: its maximum limit, n = 2..40: normal
    // limit of harmonic n, n + 39: maximum limit of harmonic n.
    float KULimits[80] = {};
    // Set by the window for the models with the fourth channel; decoding leaves it alone.
    uint8_t HasNeutral = 0;
};

struct TmonData3sec {
    TDateTime Time = 0;
    double F = 0;
    double dF = 0;
    double U1[4] = {};    // [A, B, C, N]
    double I1[4] = {};    // [A, B, C, N]
    double PhiUI[4] = {}; // [A, B, C, N], degrees
    double U[4] = {};
    double I[4] = {};
    double dU1[4] = {};
    double U1Line[3] = {};   // [AB, BC, CA]
    double USeq[3] = {};     // [0, 1, 2]
    double ISeq[3] = {};     // [0, 1, 2]
    double PhiUISeq[3] = {}; // [0, 1, 2]
    double ULine[3] = {};
    double dU1Line[3] = {};
    double K0 = 0;
    double K2 = 0;
    double P[5] = {}; // [A, B, C, total, N]
    double Q[5] = {};
    double S[5] = {};
    double CosPhi[5] = {};
    double P1[5] = {};
    double Q1[5] = {};
    double S1[5] = {};
    double CosPhi1[5] = {};
    double KU[4] = {};
    double KI_A = 0;
    float KI_B = 0;
    double KI_C = 0;
    double KI_N = 0;
    double KU_AB = 0;
    float KU_BC = 0;
    double KU_CA = 0;

    TmonHarmTable KUn_A = {}, KUn_B = {}, KUn_C = {}, KUn_N = {};
    TmonHarmTable KIn_A = {}, KIn_B = {}, KIn_C = {}, KIn_N = {};
    TmonHarmTable KUn_AB = {}, KUn_BC = {}, KUn_CA = {};
    TmonHarmTable Un_A = {}, Un_B = {}, Un_C = {}, Un_N = {};
    TmonHarmTable In_A = {}, In_B = {}, In_C = {}, In_N = {};
    TmonHarmTable Un_AB = {}, Un_BC = {}, Un_CA = {};
    TmonHarmTable PhiUn_A = {}, PhiUn_B = {}, PhiUn_C = {}, PhiUn_N = {};
    TmonHarmTable PhiIn_A = {}, PhiIn_B = {}, PhiIn_C = {}, PhiIn_N = {};
    TmonHarmTable PhiUIn_A = {}, PhiUIn_B = {}, PhiUIn_C = {}, PhiUIn_N = {};
    TmonHarmTable Pn_A = {}, Pn_B = {}, Pn_C = {}, Pn_N = {};

    // The harmonic tables of one channel (phA..phN) or line (lnAB..lnCA).
    double* KUn(int ph);
    double* KIn(int ph);
    double* Un(int ph);
    double* In(int ph);
    double* PhiUn(int ph);
    double* PhiIn(int ph);
    double* PhiUIn(int ph);
    double* Pn(int ph);
    double* KUnLine(int ln);
    double* UnLine(int ln);
    const double* KUn(int ph) const { return const_cast<TmonData3sec*>(this)->KUn(ph); }
    const double* KIn(int ph) const { return const_cast<TmonData3sec*>(this)->KIn(ph); }
    const double* PhiUIn(int ph) const { return const_cast<TmonData3sec*>(this)->PhiUIn(ph); }
    const double* KUnLine(int ln) const { return const_cast<TmonData3sec*>(this)->KUnLine(ln); }
    // KI of one phase (A..N), KU of one line, whatever width the field has.
    double KI(int ph) const;
    double KULine(int ln) const;
};

// The record through which the exchange threads hand measurements to the window. The window
// owns it; the polling thread writes Settings and Data3sec, the waveform thread SignalData
// and SignalSize (the data field of its last waveform answer, valid until that thread's
// protocol runs its next command).
struct TmonStorage {
    TmonSettings Settings;
    TmonData3sec Data3sec;
    const uint8_t* SignalData = nullptr;
    int32_t SignalSize = 0;

    // Back to the state before any exchange (done on every change of connection).
    void Clear() { *this = TmonStorage(); }
};

// --- the arithmetic of the decoding ---

// x - 360 k, k the integer nearest to x / 360 (a half goes to the even one): [-180, 180].
double Norm360(double x);
// Deviation from a nominal in %; 0 for a nominal of 0 (within 1e-12).
double Pct(double x, double nominal);
// A coefficient in 0.01 %; raw values above 10000 read as 100 %.
double Pct100(uint16_t raw);
// Reactive power from active and apparent power, with the sign of the angle.
double QfromSP(double p, double s, double phi);
// cos(atan2(q, p)); 0 for p = 0.
double PowerFactor(double p, double q);
// Magnitude and angle (degrees, [-180, 180]) of a raw harmonic vector.
double HarmMag(int16_t re, int16_t im);
double HarmAngle(int16_t re, int16_t im);
// A harmonic in % of the fundamental, or of the nominal when the fundamental is below the
// fraction f of it; capped at 100.
double RelHarm(double nominal, double f, double x1, double xn);

// --- answers into the storage ---

// The voltage ratio of a voltage code (1 for an unknown code) and the nominal current of a
// current code (1 for an unknown code).
float VoltageRatioOfCode(uint8_t code);
float NominalCurrentOfCode(uint8_t code);

// Decodes a settings answer's data field into every field of `settings` but HasNeutral.
// An answer too short to hold the last field (the current code) is refused: false, and
// `settings` is left as it was rather than half filled. A nominal voltage that is not a
// finite number reads as 0 (no nominal).
bool DecodeSettings(const uint8_t* data, size_t size, TmonSettings& settings);

// The harmonic scale of a scale coefficient k: k / (8 sqrt 2), 0 staying 0.
double HarmScaleOfKoeff(float k);
// Decodes the 12-byte scale-coefficient answer into the voltage and current harmonic
// scales. False (scales untouched) when it is short or a coefficient is not a finite number.
bool DecodeScaleKoeffs(const uint8_t* data, size_t size, double& voltageScale,
                       double& currentScale);

enum class TmonDecodeResult {
    Complete, // every field decoded
    Stopped,  // an arithmetic fault stopped the decoding; the fields after it stay 0
    TooShort, // the record is shorter than its layout: nothing was touched
};

// Decodes a 3-second record (basic, or extended with the fourth channel N) into `data`.
// The record is zero-filled first; a value that comes out as not a finite number (a raw
// float that is not a number, an overflow) ends the decoding there and is itself not
// stored — the record still counts as read (Complete and Stopped both mean read). A record
// shorter than its layout (1602 or 1946 bytes) is refused without touching `data`; longer
// records are decoded as far as the layout goes. `Time` is the caller's to set.
//
// A reader of many records that needs no harmonic angles (the power-quality assessment of a
// week) may leave out the angle tables and the harmonic powers, which cost most of the time:
// with NoHarmonicAngles they stay 0 and everything else is decoded as always.
enum class TmonDecodeDepth { Full, NoHarmonicAngles };
TmonDecodeResult Decode3sec(const uint8_t* record, size_t size, bool extended,
                            const TmonSettings& settings, double voltageScale, double currentScale,
                            TmonData3sec& data, TmonDecodeDepth depth = TmonDecodeDepth::Full);

} // namespace qz
