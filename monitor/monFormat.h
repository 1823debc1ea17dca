// What the main window shows, computed without widgets: the texts and colours of every value
// label, the power group, the harmonics grid and the spectrum's scale. The window only copies
// these into its controls, so everything here is tested without a display. The number formats
// and the limit colours underneath are shared with the trends (exchange/monValueFormat.h).
#pragma once

#include "common/DateTime.h"
#include "exchange/monStorage.h"
#include "exchange/monValueFormat.h"

#include <cstdint>
#include <functional>
#include <string>

namespace qz {

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
