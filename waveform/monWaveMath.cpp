#include "waveform/monWaveMath.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qz {

namespace {

// Full scales are kept within these bounds by the range clicks.
constexpr int kMinFullScale = 10;
constexpr int kMaxFullScale = 0x30000;

} // namespace

int ZoomFromWidth(int clientWidth, int code) {
    const int n = SampleCountOfCode(code);
    if (n == 0 || clientWidth <= 0) return 1;
    const int zoom = clientWidth / n;
    if (zoom != 0) return zoom;
    const int d = n / clientWidth;
    return d == 1 ? 1 : -d;
}

void Schet(TmsView& v) {
    const int q = v.QuantCount;
    const int w = v.PlotWidth();
    int& p = v.Position;
    if (v.Zoom == 0) v.Zoom = 1;
    if (v.Zoom == 1) {
        v.VisibleCount = std::min(q, w);
        v.Max = w >= q ? q : q - v.ClientWidth + 15;
        if (v.ClientWidth + p - 17 > q) p = q - v.ClientWidth - 16;
    } else if (v.Zoom > 1) {
        const int shown = w / v.Zoom;
        v.VisibleCount = std::min(q, shown);
        v.Max = q - shown + 1 < q ? q - shown + 1 : q;
        if (shown + p - 1 > q) p = q - shown;
    } else {
        const int k = -v.Zoom;
        const long span = long(w) * k;
        v.VisibleCount = w < q / k ? int(span) : q;
        v.Max = span <= q ? int(q - span + 1) : q;
        if (span + p - 1 > q) p = int(q - span);
    }
    // The track bar never has an empty range and keeps its position inside it.
    v.Max = std::max(v.Max, v.Min);
    p = std::clamp(p, v.Min, v.Max);
    v.VisibleCount = std::max(v.VisibleCount, 0);
}

void SetTrackSteps(TmsView& v) {
    if (v.Zoom < 0) {
        v.LineSize = -v.Zoom;
        v.PageSize = -10 * v.Zoom;
    } else {
        v.LineSize = 1;
        v.PageSize = v.Zoom > 1 ? 4 : 10;
    }
}

double GridStep(int clientHeight, double fullScale, double coef) {
    const int cells = std::max(1, (clientHeight - 32) / 39);
    const double full = fullScale * coef;
    if (!(full > 0) || !std::isfinite(full)) return 1.0;
    return std::pow(10.0, msRnd(std::log10(full / cells)));
}

int ValueToY(int plotHeight, int vertOffset, double a, double s) {
    return plotHeight + vertOffset - msTrunc(a * s) - plotHeight / 2;
}

int ZeroLineY(int plotHeight, int vertOffset) {
    return msRnd(plotHeight / 2.0) + vertOffset;
}

std::vector<TmsColumn> DecimateColumns(const std::vector<uint16_t>& samples,
                                       const std::vector<uint8_t>& nodes, int first, int end,
                                       int k) {
    std::vector<TmsColumn> columns;
    if (k < 1) k = 1;
    if (end <= first) return columns;
    columns.reserve(size_t((end - first) / k));
    const int n = int(samples.size());
    const int flags = int(nodes.size());
    TmsColumn c;
    int inColumn = 0;
    for (int i = first; i < end; ++i) {
        const int v = i >= 0 && i < n ? samples[size_t(i)] : 32768;
        if (inColumn == 0 || v < c.Min) c.Min = v;
        if (inColumn == 0 || v > c.Max) {
            c.Max = v;
            c.MaxAt = i;
        }
        c.Node = c.Node || (i >= 0 && i < flags && nodes[size_t(i)] != 0);
        if (++inColumn == k) {
            c.X = int(columns.size()) + 1;
            columns.push_back(c);
            c = TmsColumn();
            inColumn = 0;
        }
    }
    return columns;
}

uint8_t ChannelMaskOf(const std::vector<bool>& checked, bool hasNeutral) {
    const int first = FirstLineItem(hasNeutral);
    // Phase bits of Uа, Ub, Uc and the phases of each line voltage.
    const int ua = hasNeutral ? 1 : 0;
    const int lines[3][2] = {{ua, ua + 1}, {ua + 1, ua + 2}, {ua, ua + 2}};
    unsigned mask = 0;
    const int n = std::min<int>(int(checked.size()), ChannelItemCount(hasNeutral));
    for (int i = 0; i < n; ++i) {
        if (!checked[size_t(i)]) continue;
        if (i < first)
            mask |= 1u << i;
        else
            mask |= (1u << lines[i - first][0]) | (1u << lines[i - first][1]);
    }
    return uint8_t(mask);
}

void HorizontalZoomClick(TmsView& v, TmsButton b, int x) {
    int& z = v.Zoom;
    int& p = v.Position;
    if (z == 0) z = 1;
    if (b == TmsButton::Middle) {
        const int w = v.PlotWidth();
        if (w > 0 && w < v.QuantCount)
            z = -(1 << (msTrunc(std::log2(double(v.QuantCount) / w)) + 1));
    } else if (b == TmsButton::Right) {
        if (z < 0 && z > -(1 << 20)) {
            const int old = z;
            z *= 2;
            p += x * -old - x * -z;
        }
        if (z == 1) {
            z = -2;
            p += x - 2 * x;
        }
        if (z > 1) {
            const int old = z;
            z = msRnd(z / 2.0);
            p += msRnd(double(x) / old) - msRnd(double(x) / z);
        }
    } else {
        if (z > 0 && z < (1 << 20)) {
            const int old = z;
            z *= 2;
            p += msRnd(double(x) / old) - msTrunc(double(x) / z);
        }
        if (z < 0) {
            const int old = z;
            z /= 2;
            p += x * -old - x * -z - 1;
        }
    }
    if (z == -1 || z == 0) z = 1;
    SetTrackSteps(v);
    Schet(v);
}

void RangeClick(TmsRange& r, TmsButton b, int y, int plotHeight) {
    if (plotHeight <= 0) return;
    const int old = r.FullScale;
    if (b == TmsButton::Left && old > kMinFullScale)
        r.FullScale = old - old / 10;
    else if (b == TmsButton::Right && old < kMaxFullScale)
        r.FullScale = old + old / 10;
    else
        return;
    const double h0 = plotHeight;
    const int d = HeightAtRow(-r.ScrollPosition, plotHeight, y);
    const int a = msRnd(old / h0 * d);
    const int h = msTrunc(a - r.FullScale / h0 * d);
    const double ppu = h0 / r.FullScale;
    r.ScrollPosition = std::clamp(msTrunc(r.ScrollPosition - h * ppu), -100000, 100000);
}

int SampleUnderPointer(int zoom, int x, int p, double step) {
    if (!(step > 0)) step = 1;
    if (zoom >= 2) return msTrunc((x / zoom + p) / step);
    if (zoom == 1 || zoom == 0) return msTrunc((x + p) / step);
    return msTrunc((double(x) * -zoom + p) / step);
}

int HeightAtRow(int vertOffset, int plotHeight, int y) {
    return msTrunc(vertOffset - plotHeight / 2.0 + (plotHeight - y));
}

int PositionCentring(int sample, int clientWidth, int zoom) {
    if (zoom >= 2) return sample - msTrunc(clientWidth / 2.0 / zoom);
    if (zoom <= 0) return sample - msTrunc(clientWidth / 2.0 * -zoom);
    return sample - clientWidth / 2;
}

const char* NextBusyCaption(const char* caption) {
    static const char* const kTurn[4] = {"-", "\\", "|", "/"};
    for (int i = 0; i < 4; ++i)
        if (caption && std::strcmp(caption, kTurn[i]) == 0) return kTurn[(i + 1) % 4];
    return caption;
}

} // namespace qz
