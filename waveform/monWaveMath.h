// The arithmetic of the waveform window: zoom from the window width, the visible range and the
// position of the hidden track bar, grid steps, the vertical mapping, the channel mask built
// from the ticked items, the zoom and range clicks and the readout under the pointer.
//
// No Qt here: the window keeps its state in these records and calls these functions, so every
// rule can be checked without a display.
#pragma once

// The rounding, the sample counts of the codes, the scale factors and the channel items are
// those of the decoded block.
#include "exchange/monSignalBlock.h"

#include <cstdint>
#include <vector>

namespace qz {

// Zoom for a client width and a sample-count code: k > 1 pixels per sample, 1, or -k samples
// per pixel. The whole block fits into the width.
int ZoomFromWidth(int clientWidth, int code);

// The horizontal view: samples held, zoom, client width and the hidden track bar.
struct TmsView {
    int QuantCount = 0;
    int Zoom = 1;
    int ClientWidth = 0;
    int Position = 1; // first sample shown
    int Min = 1;
    int Max = 70000;
    int LineSize = 1;
    int PageSize = 10;
    int VisibleCount = 0;
    int PlotWidth() const { return ClientWidth - 16; }
};

// Recomputes the visible count and the track-bar maximum, pulls the position back so that the
// view does not run past the samples, and keeps it within Min .. Max.
void Schet(TmsView& v);

// The track bar's line and page size for the zoom.
void SetTrackSteps(TmsView& v);

// Grid step for a plot of `clientHeight` (the plot is 32 pixels lower): a power of ten of
// volts or amperes giving about one cell per 39 pixels.
double GridStep(int clientHeight, double fullScale, double coef);

// Plot height of a client height.
inline int PlotHeight(int clientHeight) {
    return clientHeight - 32;
}
// Row of an amount `a` at `s` pixels per unit (a = 0 on the zero line, larger higher up).
int ValueToY(int plotHeight, int vertOffset, double a, double s);
// Row of the zero line.
int ZeroLineY(int plotHeight, int vertOffset);
// Row of a stored sample value (32768 = zero).
inline int SampleToY(int plotHeight, int vertOffset, int stored, double s) {
    return ValueToY(plotHeight, vertOffset, 32768 - stored, s);
}

// One pixel column of a trace that has more samples than pixels.
struct TmsColumn {
    int X = 0;   // 1 for the first column
    int Min = 0; // the lowest and the highest sample of the column
    int Max = 0;
    int MaxAt = 0;     // the first sample holding Max (the mark of a mark channel)
    bool Node = false; // one of its samples is a node
};
// Samples first .. end - 1 in columns of `k` each. A sample past `samples` reads as the zero
// line (32768); a last part shorter than `k` makes no column.
std::vector<TmsColumn> DecimateColumns(const std::vector<uint16_t>& samples,
                                       const std::vector<uint8_t>& nodes, int first, int end,
                                       int k);

// Channel mask from the check state of every item: a bit per ticked phase item, and a ticked
// line voltage asks for both of its phases.
uint8_t ChannelMaskOf(const std::vector<bool>& checked, bool hasNeutral);

// Buttons of the clicks.
enum class TmsButton { Left, Right, Middle };

// A horizontal zoom click at x. Changes Zoom, Position and the track bar; runs Schet.
void HorizontalZoomClick(TmsView& v, TmsButton b, int x);

// The vertical state of a range mode: full scale and the scroll-bar position (the vertical
// offset is its negative).
struct TmsRange {
    int FullScale = 0;
    int ScrollPosition = 0;
};
// A range click at row y (voltage or current range): left magnifies, right shrinks, and the
// level under the pointer stays in place.
void RangeClick(TmsRange& r, TmsButton b, int y, int plotHeight);

// Sample number under the pointer at x for track-bar position p and `step` samples per
// readout step.
int SampleUnderPointer(int zoom, int x, int p, double step);
// Height of row y above the zero line, in pixels.
int HeightAtRow(int vertOffset, int plotHeight, int y);

// Track-bar position that centres sample `sample` (message "show sample").
int PositionCentring(int sample, int clientWidth, int zoom);

// The busy indicator after one more block: "-" "\" "|" "/" in turn; any other text stays.
const char* NextBusyCaption(const char* caption);

} // namespace qz
