// The numbers and colours of measured values, as every window shows them: fixed-point numbers
// with the user's decimal separator and unit prefixes, the deviation from a nominal, and the
// colours of values judged against the meter's own limits.
#pragma once

#include "exchange/monStorage.h"

#include <cstdint>
#include <string>

namespace qz {

// Colours in the 0x00BBGGRR layout the meter's limits are shown in.
enum TmonColor : uint32_t { mclBlack = 0x000000, mclBlue = 0xFF0000, mclRed = 0x0000FF };

// FormatFloat with a fixed number of decimals ("0", "0.00", "0.000"): rounded, the user's
// decimal separator, and no minus sign on a value that rounds to zero.
std::string FormatFixed(double x, int decimals, char decimalSeparator);

// A fixed-point number whose decimals fill `width` characters together with its integer part,
// a blank, a unit prefix ("к", "М", "Г") and the unit: 230.94 В, 10.392 кВ, 0.5000 В.
std::string FormatWithPrefix(int width, const std::string& unit, float x, char decimalSeparator);
std::string FormatVoltage(float x, char decimalSeparator);
std::string FormatCurrent(float x, char decimalSeparator);

struct TmonDeviation {
    bool Valid = false; // the nominal is not zero
    float Percent = 0;  // whole percent, halves rounded to even
};
TmonDeviation DeviationPercent(float nominal, float value);

// Black inside the normal range, blue outside it, red outside the maximum range.
TmonColor LimitColor(bool valid, float v, float lowerMax, float lowerNormal, float upperNormal,
                     float upperMax);
TmonColor UpperLimitColor(float v, float normal, float maximum);
TmonColor PhaseVoltageColor(const TmonSettings& s, float u);
TmonColor LineVoltageColor(const TmonSettings& s, float u);
TmonColor FrequencyColor(const TmonSettings& s, float f);
TmonColor DistortionColor(const TmonSettings& s, float k);
// n = 2..40
TmonColor HarmonicColor(const TmonSettings& s, int n, float k);
// K0 and K2: [0] maximum, [1] normal.
TmonColor UnbalanceColor(float k, const float limits[2]);

} // namespace qz
