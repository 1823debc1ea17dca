#include "exchange/monValueFormat.h"

#include <cmath>
#include <cstdio>

namespace qz {

std::string FormatFixed(double x, int decimals, char decimalSeparator) {
    if (!std::isfinite(x)) return std::isnan(x) ? "NAN" : (x < 0 ? "-INF" : "INF");
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, x);
    std::string s(buf);
    // "-0.00" reads as a negative value that is not there.
    if (!s.empty() && s[0] == '-' && s.find_first_of("123456789") == std::string::npos)
        s.erase(0, 1);
    for (char& c : s)
        if (c == '.') c = decimalSeparator;
    return s;
}

std::string FormatWithPrefix(int width, const std::string& unit, float x, char decimalSeparator) {
    static const char* const kPrefixes[] = {"к", "М", "Г"};
    std::string prefix;
    float v = x;
    double n = std::isfinite(v) ? std::trunc(double(v)) : 0.0;
    for (int step = 0; std::fabs(n) >= 1000;) {
        if (++step > 3) break; // the integer part keeps growing beyond giga
        prefix = kPrefixes[step - 1];
        v = v / 1000.0f;
        n = std::trunc(double(v));
    }
    // The digits of the integer part, a minus sign counting as one. Between -1 and 0 the
    // integer part is 0 (truncation gives -0.0, which prints as "-0"): one digit, so -0.5 V
    // keeps its four decimals like 0.5 V.
    if (n == 0) n = 0.0;
    char digitsBuf[64];
    int digits = std::snprintf(digitsBuf, sizeof digitsBuf, "%.0f", n);
    int decimals = width - digits;
    if (decimals < 1) decimals = 1;
    std::string number = FormatFixed(v, decimals, decimalSeparator);
    if (int(number.size()) < width) number.insert(0, size_t(width) - number.size(), ' ');
    return number + " " + prefix + unit;
}

std::string FormatVoltage(float x, char decimalSeparator) {
    return FormatWithPrefix(5, "В", x, decimalSeparator);
}

std::string FormatCurrent(float x, char decimalSeparator) {
    return FormatWithPrefix(5, "А", x, decimalSeparator);
}

TmonDeviation DeviationPercent(float nominal, float value) {
    TmonDeviation d;
    d.Valid = std::fabs(nominal) > 0.0001f;
    if (d.Valid) {
        // nearbyint rounds halves to even in the default rounding mode
        double pct = (double(value) - double(nominal)) / double(nominal) * 100.0;
        d.Percent = float(std::nearbyint(pct));
    }
    return d;
}

TmonColor LimitColor(bool valid, float v, float lowerMax, float lowerNormal, float upperNormal,
                     float upperMax) {
    if (!valid) return mclBlack;
    TmonColor c = mclBlack;
    // The later tests win: above the upper maximum is red even though it is also above the
    // upper normal.
    if (v < lowerNormal) c = mclBlue;
    if (v < lowerMax) c = mclRed;
    if (v > upperNormal) c = mclBlue;
    if (v > upperMax) c = mclRed;
    return c;
}

TmonColor UpperLimitColor(float v, float normal, float maximum) {
    return LimitColor(true, v, v - 1, v - 1, normal, maximum);
}

TmonColor PhaseVoltageColor(const TmonSettings& s, float u) {
    TmonDeviation d = DeviationPercent(s.NominalPhaseVoltage, u);
    return LimitColor(d.Valid, d.Percent, s.PhaseVoltageLimits[2], s.PhaseVoltageLimits[3],
                      s.PhaseVoltageLimits[1], s.PhaseVoltageLimits[0]);
}

TmonColor LineVoltageColor(const TmonSettings& s, float u) {
    TmonDeviation d = DeviationPercent(s.NominalLineVoltage, u);
    return LimitColor(d.Valid, d.Percent, s.LineVoltageLimits[2], s.LineVoltageLimits[3],
                      s.LineVoltageLimits[1], s.LineVoltageLimits[0]);
}

TmonColor FrequencyColor(const TmonSettings& s, float f) {
    // The frequency limits keep the lower normal before the lower maximum.
    return LimitColor(true, f - s.NominalFrequency, s.FrequencyLimits[3], s.FrequencyLimits[2],
                      s.FrequencyLimits[1], s.FrequencyLimits[0]);
}

TmonColor DistortionColor(const TmonSettings& s, float k) {
    return UpperLimitColor(k, s.KULimits[0], s.KULimits[1]);
}

TmonColor HarmonicColor(const TmonSettings& s, int n, float k) {
    if (n < 2 || n > 40) return mclBlack;
    return UpperLimitColor(k, s.KULimits[n], s.KULimits[n + 39]);
}

TmonColor UnbalanceColor(float k, const float limits[2]) {
    TmonColor c = mclBlack;
    if (k > limits[1]) c = mclBlue;
    if (k > limits[0]) c = mclRed;
    return c;
}

} // namespace qz
