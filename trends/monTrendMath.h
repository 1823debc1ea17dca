// The arithmetic of the trends window: the time axis and its labels, the value axes, the
// mapping of times and values to pixels, the min/max reduction of many samples to one column
// of pixels, zoom and pan of the time axis, and the readout under the pointer.
//
// No Qt here: the window builds a plot model with these functions and only paints it, so
// every rule is checked without a display.
#pragma once

#include "trends/monTrendQuantity.h"

#include <cstddef>
#include <string>
#include <vector>

namespace qz {

constexpr double kmonSecondsPerDay = 86400.0;
// The meters record every 3 seconds.
constexpr double kmonTrendRecordDays = 3.0 / kmonSecondsPerDay;
// Two records further apart than two intervals (more than one record missing) are not joined
// by a line: the meter was not read between them. Half an interval more absorbs the clocks'
// rounding.
constexpr double kmonTrendDefaultGapDays = 2.5 * kmonTrendRecordDays;
// The shortest span the time axis zooms to.
constexpr double kmonTrendMinSpanDays = 10.0 / kmonSecondsPerDay;

// --- time axis ---

// The user's date and time formats in the pattern language of the desktop's locale
// (d dd M MM yy yyyy H HH h hh m mm s ss z zzz AP ap, text in single quotes).
struct TTrendTimeFormat {
    std::string Date = "dd.MM.yyyy";
    std::string LongTime = "HH:mm:ss";
    std::string ShortTime = "HH:mm";
    // Month names for MMM and MMMM (January first) and day names for ddd and dddd (Monday
    // first), short and long; without them the pattern writes numbers.
    std::vector<std::string> ShortMonths, LongMonths, ShortDays, LongDays;
};
// A date-time written with such a pattern. Time zones (t) are left out: the meter's clock has
// no zone.
std::string FormatDateTimePattern(TDateTime t, const std::string& pattern,
                                  const TTrendTimeFormat* names = nullptr);

// The tick step in seconds for a span shown on `widthPx` pixels, labels at least `minLabelPx`
// apart: 1, 2, 5, 10, 15, 30 s, 1, 2, 5, 10, 15, 30 min, 1, 2, 3, 6, 12 h, 1, 2, 7, 14, 28
// days, then whole multiples of 28 days (1, 2, 5 times a power of ten).
double TimeTickStep(double spanSeconds, int widthPx, int minLabelPx);

struct TTrendTimeRange {
    TDateTime From = 0;
    TDateTime To = 0;
    double Span() const { return To - From; }
};

struct TTrendTimeTick {
    TDateTime Time = 0;
    std::string Label;     // time of day, or the date for steps of a day and more
    std::string DateLabel; // the date under the first tick and where the date changes
};
// Ticks at whole multiples of the step (local time: a day step falls on midnight).
std::vector<TTrendTimeTick> TimeTicks(const TTrendTimeRange& r, int widthPx, int minLabelPx,
                                      const TTrendTimeFormat& f);

// --- value axes ---

struct TTrendValueAxis {
    double Lo = 0, Hi = 1; // the axis ends, whole multiples of Step
    double Step = 0.5;
    double Scale = 1;   // labels show value * Scale
    std::string Prefix; // "", "к", "М": the unit's prefix for Scale
    int Decimals = 1;   // decimals of a label
};
// Nice ticks (1, 2, 5 times a power of ten) over lo..hi for a pane `heightPx` high with ticks
// at least `minTickPx` apart. A flat or empty range is opened around its value; a range that
// is not finite reads as 0..1.
TTrendValueAxis NiceValueAxis(double lo, double hi, int heightPx, int minTickPx);
std::vector<double> ValueTicks(const TTrendValueAxis& a);
std::string ValueLabel(double v, const TTrendValueAxis& a, char decimalSeparator);

// --- mapping ---

double TimeToX(TDateTime t, const TTrendTimeRange& r, int left, int width);
TDateTime XToTime(double x, const TTrendTimeRange& r, int left, int width);
// The row of a value on a pane (larger values higher up); far outside values are clamped a
// pane's height beyond its edges, so that lines to them keep their direction.
int ValueToY(double v, double lo, double hi, int top, int height);

// --- gaps ---

// An outage placed on the time axis of the records (meter times): from the last record before
// it to the first record after it. Index names the outage in the list it was placed from.
struct TTrendBand {
    TDateTime From = 0, To = 0;
    size_t Index = 0;
};
// The bands of `outages` among `samples` (in time order), sorted by From. An outage with a
// record before it runs to the first record after it; without one after, for as long as the
// computer's clock saw it, or (no end kept) to the end of any view. One before the first record
// ends at the first record and lasts as long as the computer's clock saw it. Outages that cannot
// be placed (no records at all) are left out.
std::vector<TTrendBand> OutageBands(const std::vector<TTrendOutage>& outages,
                                    const TTrendSample* samples, size_t n);
// The band a time lies strictly inside; null when none.
const TTrendBand* BandAt(const std::vector<TTrendBand>& bands, TDateTime t);

// What breaks a trend's line between two neighbouring records: a step longer than MaxStep, or
// an outage band between them.
struct TTrendGaps {
    double MaxStep = kmonTrendDefaultGapDays;
    std::vector<TTrendBand> Bands; // sorted by From
    TTrendGaps(double maxStep = kmonTrendDefaultGapDays) : MaxStep(maxStep) {}
    bool Breaks(TDateTime a, TDateTime b) const;
};

// "Перерыв опроса с 08.12.2026 10:00:05 по 10:00:17 (время компьютера): Нет ответа от
// устройства.": what the readout says inside an outage.
std::string OutageReadout(const TTrendOutage& o, const TTrendTimeFormat& f);

// --- decimation ---

// One pixel column of one quantity: the extremes of its samples, the first and the last of
// them (to join the neighbouring columns), and whether the first joins the previous sample.
struct TTrendColumn {
    bool Has = false;
    bool Joined = false;
    float Min = 0, Max = 0, First = 0, Last = 0;
};
// The nearest sample outside the view on either side, to draw the line into the edge.
struct TTrendEdge {
    bool Has = false;
    double X = 0; // pixels from the plot's left edge
    float Value = 0;
};
struct TTrendSeries {
    int Quantity = 0;
    std::vector<TTrendColumn> Columns; // one per pixel
    TTrendEdge Before, After;
};
// The columns of quantity `q` over the samples (in time order) seen in `r` on `width`
// pixels. Each sample counts in exactly one column; samples that are not numbers are skipped.
// The work is one pass over the samples in view and a binary search for their ends.
void DecimateSeries(const TTrendSample* samples, size_t n, int q, const TTrendTimeRange& r,
                    int width, const TTrendGaps& gaps, TTrendSeries& out);
// The same for several series at once (each names its Quantity), in one pass over the samples.
void DecimateSeriesSet(const TTrendSample* samples, size_t n, TTrendSeries* const* series,
                       size_t count, const TTrendTimeRange& r, int width, const TTrendGaps& gaps);
// The extremes over the columns of some series; false when no column has data.
bool SeriesExtent(const std::vector<TTrendSeries>& series, double& lo, double& hi);

// --- zoom and pan ---

// What the time axis may show: the samples' span and the shortest span.
struct TTrendViewLimits {
    TDateTime First = 0, Last = 0;
    double MinSpan = kmonTrendMinSpanDays;
};
// Everything: the samples' span, or the shortest span from the first sample on.
TTrendTimeRange WholeRange(const TTrendViewLimits& l);
// Keeps a range inside the whole range (the whole range when it would not fit).
TTrendTimeRange ClampRange(const TTrendTimeRange& r, const TTrendViewLimits& l);
// Zooms by `factor` (> 1 in, < 1 out) keeping the time `anchor` at the same pixel; the span
// stays between the shortest span and the whole span.
TTrendTimeRange ZoomAbout(const TTrendTimeRange& r, double factor, TDateTime anchor,
                          const TTrendViewLimits& l);
// Shifts by `deltaDays` (later for > 0), stopping at the ends.
TTrendTimeRange PanBy(const TTrendTimeRange& r, double deltaDays, const TTrendViewLimits& l);
// The range after new samples moved the last time from `oldLast` to l.Last: the whole range
// stays whole; a view that showed the last sample keeps it in sight, shifting by whole span;
// any other view stays where the operator put it.
TTrendTimeRange FollowNewSamples(const TTrendTimeRange& r, TDateTime oldLast,
                                 const TTrendViewLimits& l);
bool IsWholeRange(const TTrendTimeRange& r, const TTrendViewLimits& l);

// --- readout ---

// The index of the sample nearest to `t` (the earlier of two as near); n when there is none.
size_t NearestSample(const TTrendSample* samples, size_t n, TDateTime t);
// Decimals of a quantity's value in the readout.
int ReadoutDecimals(int q);
// "Ua 230,12 В": a quantity's value as the readout writes it.
std::string ReadoutValue(int q, float v, char decimalSeparator);

// --- span statistics ---

// The statistics of one quantity's samples in a span chosen with the mouse. T1 and T2 are the
// shares in % of the samples strictly outside the normal (blue) and the maximum (red) limit
// lines: between the lowest and the highest line of the colour, a single line being an upper
// limit; NaN without such lines. The upper 95 % value is the nearest rank, the
// ceil(0.95 N)-th smallest, as the protocol takes it.
struct TTrendSpanStats {
    size_t N = 0;
    double Min, Max, Mean, Upper95, T1, T2;
};
TTrendSpanStats TrendSpanStats(const std::vector<TTrendSample>& samples, TDateTime from,
                               TDateTime to, int quantity,
                               const std::vector<TmonTrendLimit>& limits);
// "Ua: N 200, мин 219,50, макс 231,00, ср. 225,10, 95 % 230,80 В, T1 3,5 %, T2 0 %".
std::string SpanStatsText(int quantity, const TTrendSpanStats& s, char decimalSeparator);
// "Δt 00:10:00: ΔUa 2,50 В, ΔF -0,02 Гц" from the sample at the fixed cursor to the one at
// the pointer.
std::string CursorDeltaText(const TTrendSample& fixed, const TTrendSample& pointer,
                            const std::vector<int>& quantities, char decimalSeparator);

// --- the plot model ---

struct TTrendPlotLayout {
    int Width = 800, Height = 400; // the whole picture
    int Left = 70, Right = 10, Top = 8, Bottom = 34;
    int PaneGap = 14;
    int MinLabelPx = 90;
    int MinValueTickPx = 28;
    int PlotWidth() const { return Width - Left - Right; }
    int PlotHeight() const { return Height - Top - Bottom; }
};

// One value axis: the chosen quantities of one unit.
struct TTrendPane {
    std::string Unit;
    int Top = 0, Height = 0;
    TTrendValueAxis Axis;
    std::vector<TTrendSeries> Series;
    std::vector<TmonTrendLimit> Limits;
};
struct TTrendPlotModel {
    TTrendTimeRange Range;
    TTrendPlotLayout Layout;
    std::vector<TTrendTimeTick> Ticks;
    std::vector<TTrendPane> Panes;
    std::vector<TTrendBand> Bands; // the outage bands in view, shaded
};
// The quantities grouped by unit, in the order of the check list.
std::vector<std::vector<int>> PaneQuantities(const std::vector<int>& checked);
// Everything the picture shows. Each pane's axis covers its data in view and the normal limits
// (so that the operator sees how near the limits the values run).
TTrendPlotModel BuildPlotModel(const std::vector<TTrendSample>& samples,
                               const std::vector<int>& checked, const TmonSettings& settings,
                               const TTrendTimeRange& range, const TTrendPlotLayout& layout,
                               const TTrendTimeFormat& fmt, const TTrendGaps& gaps);

} // namespace qz
