// Byte layouts of the QZ2 meters' answer data fields: the settings block, the scale
// coefficients, the time parameters and the 3-second record (basic and extended).
//
// Channel index `ph` is 0..2 for phases A, B, C and 3 for the fourth channel N, which only
// the extended record carries. Line index `ln` is 0..2 for AB, BC, CA; sequence index `k` is
// 0..2 for the zero, positive and negative sequence component.
#pragma once

#include <cstddef>

namespace qz {
namespace qz2 {

// --- settings answer ---
constexpr size_t kSetVoltageSelector = 4;     // u8: 0 = the fixed ratio 3.81051
constexpr size_t kSetVoltageCode = 5;         // u8
constexpr size_t kSetNominalPhaseVoltage = 6; // float, V
constexpr size_t SetPhaseVoltageLimit(int i) {
    return 18 + 2 * i;
} // i16 0.01 %, i = 0..3
constexpr size_t kSetNominalLineVoltage = 30; // float, V
constexpr size_t SetLineVoltageLimit(int i) {
    return 42 + 2 * i;
} // i16 0.01 %
constexpr size_t SetFrequencyLimit(int i) {
    return 54 + 2 * i;
} // i16 0.01 Hz
constexpr size_t SetK0Limit(int i) {
    return 62 + 2 * i;
} // i16 0.01 %, i = 0..1
constexpr size_t SetK2Limit(int i) {
    return 66 + 2 * i;
} // i16 0.01 %
constexpr size_t kSetKUNormal = 70; // i16 0.01 %
constexpr size_t SetHarmNormal(int n) {
    return 72 + 2 * (n - 2);
} // n = 2..40
constexpr size_t kSetKUMax = 150;
constexpr size_t SetHarmMax(int n) {
    return 152 + 2 * (n - 2);
}
constexpr size_t kSetInputConfig = 230; // u8
constexpr size_t kSetCurrentCode = 231; // u8
// Data bytes a settings answer must have for every field above to be present.
constexpr size_t kSettingsMinSize = 232;

// --- scale coefficients answer (12 bytes) ---
constexpr size_t kScaleAnswerSize = 12;
constexpr size_t kScaleVoltage = 4; // float
constexpr size_t kScaleCurrent = 8; // float

// --- time parameters answer (44 bytes) ---
constexpr size_t kTimeAnswerSize = 44;
constexpr size_t kTimeDevice = 0;     // 6 BCD bytes: day, month, year - 2000, hour, min, sec
constexpr size_t kTimeChangeFlag = 6; // u8, non-zero = settings changed
constexpr size_t kTimeChangeTime = 8; // 6 BCD bytes as above

// --- 3-second record ---
constexpr size_t kRecordBasicSize = 1602;
constexpr size_t kRecordExtendedSize = 1946;
constexpr int kFirstHarmonic = 2;
constexpr int kLastHarmonic = 40;
constexpr int kHarmonicCount = 39;

// A group is {float fundamental, float true RMS (or unused), i16 angle in 0.01 degree}.
constexpr size_t kGroupRms = 4;
constexpr size_t kGroupAngle = 8;
constexpr size_t PhaseUGroup(int ph) {
    return ph < 3 ? 10 * ph : 1602;
}
constexpr size_t LineUGroup(int ln) {
    return 30 + 10 * ln;
}
constexpr size_t USeqGroup(int k) {
    return 60 + 10 * k;
}
constexpr size_t PhaseIGroup(int ph) {
    return ph < 3 ? 90 + 10 * ph : 1612;
}
constexpr size_t ISeqGroup(int k) {
    return 120 + 10 * k;
}

constexpr size_t kFrequency = 150; // u16 0.01 Hz
constexpr size_t kK0 = 152;        // u16 0.01 %
constexpr size_t kK2 = 154;        // u16 0.01 %
constexpr size_t KUPhase(int ph) {
    return ph < 3 ? 156 + 2 * ph : 1622;
} // u16 0.01 %
constexpr size_t KULine(int ln) {
    return 162 + 2 * ln;
}
constexpr size_t KIPhase(int ph) {
    return ph < 3 ? 1104 + 2 * ph : 1780;
}

// Harmonic tables: 39 x {i16 real, i16 imaginary} for n = 2..40.
enum THarmTable { htUA, htUB, htUC, htUAB, htUBC, htUCA, htIA, htIB, htIC, htUN, htIN };
constexpr int kHarmTableCount = 11;
constexpr size_t HarmTable(THarmTable t) {
    constexpr size_t base[kHarmTableCount] = {168,  324,  480,  636,  792, 948,
                                              1110, 1266, 1422, 1624, 1782};
    return base[t];
}
constexpr size_t Harmonic(THarmTable t, int n) {
    return HarmTable(t) + 4 * (n - 2);
}
constexpr THarmTable PhaseUTable(int ph) {
    return ph < 3 ? THarmTable(htUA + ph) : htUN;
}
constexpr THarmTable PhaseITable(int ph) {
    return ph < 3 ? THarmTable(htIA + ph) : htIN;
}
constexpr THarmTable LineUTable(int ln) {
    return THarmTable(htUAB + ln);
}

constexpr size_t PowerFund(int ph) {
    return ph < 3 ? 1578 + 4 * ph : 1938;
} // float, W
constexpr size_t PowerTotal(int ph) {
    return ph < 3 ? 1590 + 4 * ph : 1942;
} // float, W

// --- waveform answer ---
// Samples per channel for a sample-count code 1..5; 0 for any other code.
constexpr int SamplesOfSizeCode(int code) {
    return code >= 1 && code <= 5 ? 16 << code : 0;
}

} // namespace qz2
} // namespace qz
