// What the main window shows, computed without widgets: number formats with unit prefixes,
// the colours of values judged against the meter's own limits, the texts of every value
// label, the power group and the harmonics grid. The window only copies these into its
// controls, so everything here is tested without a display.
#pragma once

#include "common/DateTime.h"
#include "exchange/monStorage.h"

#include <cstdint>
#include <functional>
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

// The user's formats.
struct TmonFormatContext {
    char DecimalSeparator = ',';
    // Short date plus long time, the time left out at exactly midnight.
    std::function<std::string(TDateTime)> FormatDateTime;
};

// The window caption: the base caption alone while there is no data time.
std::string CaptionWithDataTime(const std::string& baseCaption, TDateTime time,
                                const TmonFormatContext& ctx);
// The nominal voltages under "Uном": "57.74/100.00 В", "3.46/6.0000 кВ".
std::string NominalVoltagesText(float phaseNominal, float lineNominal, char decimalSeparator);

// The text and colour of one value label; Set is false for a label left as it is.
struct TmonLabel {
    std::string Text;
    TmonColor Color = mclBlack;
    bool Set = false;
};

// P, Q, S (rows 0..2) and cos: the labels of A, B, C, the total and N (columns TmonPowerIndex).
struct TmonPowersView {
    std::string Header[3]; // "P, Вт" or "P, кВт", ...
    TmonLabel Value[3][5];
    TmonLabel Cos[5];
};
// The power group: the whole signal or the first harmonic.
TmonPowersView ShowPowers(const TmonData3sec& d, bool wholeSignal, bool hasNeutral,
                          char decimalSeparator);

// Display selections of the value labels.
struct TmonSelections {
    int VoltageItem = 0; // 0: U(1), 1: Uд, 2: deviation of U(1)
    int CurrentItem = 0; // 0: I(1), 1: Iд
    bool WholeSignal = true;
};

// Every value label of the window, indices as in the storage ([A, B, C, N], [AB, BC, CA],
// [0, 1, 2]); the N labels are Set only for a meter with the neutral channel.
struct TmonMeasurementsView {
    std::string Caption;
    std::string LUnom, LUnomMf, Label48, LInom;
    TmonLabel Freq, DeltaF;
    TmonLabel U[4], I[4], PhiUI[4];
    TmonLabel ULine[3];
    TmonLabel USeq[3], ISeq[3], PhiUISeq[3];
    TmonLabel K0, K2;
    TmonPowersView Powers;
    TmonLabel KU[4], KULine[3], KI[4];
};
TmonMeasurementsView ShowMeasurements(const TmonStorage& st, const TmonSelections& sel,
                                      const std::string& baseCaption, const TmonFormatContext& ctx);

// --- the harmonics grid ---

// Items of the grid selection: the six fixed ones, then "Фаза N" with a neutral, then
// "Мощность".
enum TmonGridItem {
    giKUPhase = 0,
    giKULine = 1,
    giKI = 2,
    giPhaseA = 3,
    giPhaseB = 4,
    giPhaseC = 5,
    giPhaseN = 6,
    giPower = 7
};
// The meaning of a position of the selection box.
TmonGridItem GridItemOfIndex(int index, bool hasNeutral);

constexpr int kmonGridRows = kmonHarmCount; // data rows: harmonic n in row n - 2
constexpr int kmonGridMaxColumns = 5;       // the fixed column and up to four value columns

struct TmonGridView {
    int ColumnCount = 4; // with the fixed column 0
    std::string Header[kmonGridMaxColumns];
    std::string Cell[kmonGridRows][kmonGridMaxColumns]; // column 0 holds "2".."40"
    TmonColor Marker[kmonGridRows][kmonGridMaxColumns] = {};
    bool AngleIcon = false; // the angle symbol in the header of column 3
};
TmonGridView FillHarmonicsGrid(const TmonStorage& st, int index, char decimalSeparator);

// --- the spectrum ---

constexpr int kmonSpectrumWidth = 446;
constexpr int kmonSpectrumHeight = 160;

struct TmonSpectrumScale {
    float PixelsPerUnit = 0;
    float Step = 0;         // value between grid lines
    int16_t Lines = 0;      // grid lines above the lowest
    int16_t Spacing = 0;    // pixels between grid lines
    float Base = 0;         // value of the lowest grid line drawn
    int16_t BaseHeight = 0; // its height above the image bottom
    int32_t Offset = 0;     // pixels the view is lifted: 300 - scroll position
};
// `level` is the full scale (1..299), `scrollPos` the scroll bar's position (0..300).
TmonSpectrumScale ComputeSpectrumScale(int imageHeight, int level, int scrollPos);
// Pixels between the bars of neighbouring harmonics: 11 for the 446-pixel image.
int SpectrumBarStep(int imageWidth);
// The x of the first (yellow) bar of harmonic n.
int SpectrumBarX(int barStep, int n);
// The bar height in pixels of a value (may be negative: nothing visible).
int SpectrumBarHeight(const TmonSpectrumScale& sc, double value);
// The label of grid line j.
std::string SpectrumGridLabel(const TmonSpectrumScale& sc, int j, char decimalSeparator);
// The harmonic under a click at x, or 0 when the click is beside the bars.
int HarmonicAtX(int64_t x, int barStep);

} // namespace qz
