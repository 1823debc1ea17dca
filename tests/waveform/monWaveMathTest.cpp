#include "waveform/monWaveMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace qz;

TEST(WaveRounding, TruncTowardZeroAndHalfToEven) {
    EXPECT_EQ(msTrunc(2.9), 2);
    EXPECT_EQ(msTrunc(-2.9), -2);
    EXPECT_EQ(msRnd(2.5), 2);
    EXPECT_EQ(msRnd(3.5), 4);
    EXPECT_EQ(msRnd(-2.5), -2);
    EXPECT_EQ(msRnd(-2.6), -3);
    EXPECT_EQ(msTrunc(1e30), 2147483647) << "saturates instead of overflowing";
    EXPECT_EQ(msRnd(NAN), 0);
}

TEST(WaveZoom, FromWidthAndCode) {
    EXPECT_EQ(ZoomFromWidth(400, 2), 6);  // 64 samples: 6 pixels each
    EXPECT_EQ(ZoomFromWidth(400, 5), 1);  // 512/400 = 1 sample per pixel, shown as 1
    EXPECT_EQ(ZoomFromWidth(200, 5), -2); // two samples per pixel
    EXPECT_EQ(ZoomFromWidth(100, 5), -5);
    EXPECT_EQ(ZoomFromWidth(404, 1), 12);
    EXPECT_EQ(ZoomFromWidth(0, 2), 1) << "no width, no division by zero";
    EXPECT_EQ(ZoomFromWidth(400, 0), 1);
    EXPECT_EQ(ZoomFromWidth(400, 6), 1);
    EXPECT_EQ(SampleCountOfCode(1), 32);
    EXPECT_EQ(SampleCountOfCode(5), 512);
    EXPECT_EQ(SampleCountOfCode(0), 0);
    EXPECT_EQ(SampleCountOfCode(6), 0);
}

TEST(WaveSchet, RangesForEachZoomKind) {
    TmsView v;
    v.QuantCount = 64;
    v.ClientWidth = 400; // plot width 384
    v.Zoom = 6;
    Schet(v);
    EXPECT_EQ(v.VisibleCount, 64); // min(64, 384 / 6 = 64)
    EXPECT_EQ(v.Max, 1);           // 64 - 64 + 1: nothing to scroll
    v.QuantCount = 200;
    v.Position = 1;
    Schet(v);
    EXPECT_EQ(v.VisibleCount, 64);
    EXPECT_EQ(v.Max, 200 - 64 + 1);

    TmsView one;
    one.QuantCount = 512;
    one.ClientWidth = 400;
    one.Zoom = 1;
    Schet(one);
    EXPECT_EQ(one.VisibleCount, 384);
    EXPECT_EQ(one.Max, 512 - 400 + 15);
    one.QuantCount = 300;
    Schet(one);
    EXPECT_EQ(one.VisibleCount, 300);
    EXPECT_EQ(one.Max, 300) << "the plot is wider than the samples";

    TmsView neg;
    neg.QuantCount = 512;
    neg.ClientWidth = 200; // plot width 184
    neg.Zoom = -2;
    Schet(neg);
    EXPECT_EQ(neg.VisibleCount, 368); // 184 < 256: W * k
    EXPECT_EQ(neg.Max, 512 - 368 + 1);
    neg.Zoom = -4;
    Schet(neg);
    EXPECT_EQ(neg.VisibleCount, 512); // 184 >= 128: all samples
    EXPECT_EQ(neg.Max, 512);
}

TEST(WaveSchet, PositionIsPulledBackAndKeptInRange) {
    TmsView v;
    v.QuantCount = 200;
    v.ClientWidth = 400;
    v.Zoom = 6; // 64 samples shown
    v.Position = 180;
    Schet(v);
    EXPECT_EQ(v.Position, 200 - 64) << "64 + 180 - 1 runs past 200";

    TmsView neg;
    neg.QuantCount = 512;
    neg.ClientWidth = 200;
    neg.Zoom = -2;
    neg.Position = 300;
    Schet(neg);
    EXPECT_EQ(neg.Position, 512 - 368);

    TmsView one;
    one.QuantCount = 512;
    one.ClientWidth = 400;
    one.Zoom = 1;
    one.Position = 130; // 400 + 130 - 17 > 512
    Schet(one);
    EXPECT_EQ(one.Position, 512 - 400 - 16);
    one.Position = 129; // not past the end: only kept within the maximum
    Schet(one);
    EXPECT_EQ(one.Position, 512 - 400 + 15);

    TmsView empty;
    empty.QuantCount = 0;
    empty.ClientWidth = 400;
    empty.Zoom = 6;
    empty.Position = 50;
    Schet(empty);
    EXPECT_EQ(empty.VisibleCount, 0);
    EXPECT_EQ(empty.Max, 1) << "the track bar never gets an empty range";
    EXPECT_EQ(empty.Position, 1);

    TmsView zero;
    zero.Zoom = 0;
    zero.QuantCount = 64;
    zero.ClientWidth = 400;
    Schet(zero);
    EXPECT_EQ(zero.Zoom, 1);
}

TEST(WaveGrid, StepFromHeight232) {
    // H = 200: trunc(200 / 39) = 5 cells over the full scale.
    const double coef = UCoefOf(3.8105099);
    const double full = 111409 * coef;
    EXPECT_DOUBLE_EQ(GridStep(232, 111409, coef),
                     std::pow(10.0, std::nearbyint(std::log10(full / 5))));
    EXPECT_DOUBLE_EQ(GridStep(232, 111409, coef), 1000.0);      // 1587 V: 317 V a cell
    EXPECT_DOUBLE_EQ(GridStep(232, 111409, UCoefOf(1)), 100.0); // 416 V: 83 V a cell
    EXPECT_DOUBLE_EQ(GridStep(232, 65535, ICoefOf(5, true)), 10.0);
    EXPECT_DOUBLE_EQ(GridStep(40, 111409, coef), 1000.0) << "at least one cell";
    EXPECT_DOUBLE_EQ(GridStep(232, 0, coef), 1.0) << "no log of zero";
}

TEST(WaveMapping, ValueToYAndZeroLine) {
    // H = 200: the stored zero and the zero line share a row.
    EXPECT_EQ(SampleToY(200, 0, 32768, 0.01), 100);
    EXPECT_EQ(ZeroLineY(200, 0), 100);
    EXPECT_EQ(ValueToY(200, 0, 1000, 0.05), 50) << "larger amounts higher up";
    EXPECT_EQ(ValueToY(200, 0, -1000, 0.05), 150);
    EXPECT_EQ(ValueToY(200, 0, 1015, 0.05), 50) << "50.75 pixels: the fraction is dropped";
    EXPECT_EQ(ValueToY(200, 0, -1015, 0.05), 150);
    EXPECT_EQ(ValueToY(200, 30, 0, 0.05), 130) << "the offset moves everything";
    // H = 201 (remainder 1 on division by 4): the two rows differ by one.
    EXPECT_EQ(SampleToY(201, 0, 32768, 0.01), 101);
    EXPECT_EQ(ZeroLineY(201, 0), 100);
    // H = 203 leaves remainder 3: rnd(101.5) = 102 = 203 - 101.
    EXPECT_EQ(SampleToY(203, -7, 32768, 0.01), ZeroLineY(203, -7));
}

TEST(WaveScales, CoefficientsAndDefaults) {
    EXPECT_DOUBLE_EQ(UCoefOf(1), 1.224744871391589 * 100 / 32768);
    EXPECT_DOUBLE_EQ(UCoefOf(0.00005), UCoefOf(3.8105099));
    EXPECT_DOUBLE_EQ(ICoefOf(1, true), 5.0 / 32768);
    EXPECT_DOUBLE_EQ(ICoefOf(1, false), 2.1213203435596424 / 32768);
    EXPECT_DOUBLE_EQ(ICoefOf(0, true), ICoefOf(5, true));
    EXPECT_DOUBLE_EQ(ICoefOf(-0.00009, false), ICoefOf(5, false));
}

TEST(WaveDecimation, EachColumnKeepsItsExtremesFirstMaximumAndNodes) {
    // Ten samples from 2 in columns of 3: 2..4, 5..7, 8..10; 11 is left over.
    std::vector<uint16_t> samples(12);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = uint16_t(1000 + (i % 4) * 100);
    samples[3] = 65535; // the range's edges are extremes like any other value
    samples[8] = 1300;
    samples[9] = 0;
    samples[10] = 1300; // ties the maximum of its column, first held by 8
    std::vector<uint8_t> nodes(12, 0);
    nodes[6] = 1;
    const auto c = DecimateColumns(samples, nodes, 2, 12, 3);
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[0].X, 1);
    EXPECT_EQ(c[0].Min, 1000);
    EXPECT_EQ(c[0].Max, 65535);
    EXPECT_EQ(c[0].MaxAt, 3);
    EXPECT_FALSE(c[0].Node);
    EXPECT_EQ(c[1].X, 2);
    EXPECT_EQ(c[1].Min, 1100);
    EXPECT_EQ(c[1].Max, 1300);
    EXPECT_EQ(c[1].MaxAt, 7);
    EXPECT_TRUE(c[1].Node);
    EXPECT_EQ(c[2].X, 3);
    EXPECT_EQ(c[2].Min, 0);
    EXPECT_EQ(c[2].Max, 1300);
    EXPECT_EQ(c[2].MaxAt, 8);
    EXPECT_FALSE(c[2].Node);
}

TEST(WaveDecimation, SamplesPastTheChannelReadAsTheZeroLine) {
    const std::vector<uint16_t> samples = {100, 200, 300};
    const auto c = DecimateColumns(samples, {}, 1, 5, 2);
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].Min, 200);
    EXPECT_EQ(c[0].Max, 300);
    EXPECT_EQ(c[1].Min, 32768);
    EXPECT_EQ(c[1].Max, 32768);
    EXPECT_FALSE(c[1].Node);
    EXPECT_TRUE(DecimateColumns(samples, {}, 3, 3, 2).empty());
    EXPECT_EQ(DecimateColumns(samples, {}, 0, 3, 0).size(), 3u) << "no column is empty";
}

TEST(WaveMask, FromCheckedItems) {
    std::vector<bool> n(11, false);
    n[9] = true; // " Ubc" only
    EXPECT_EQ(ChannelMaskOf(n, true), (1 << 2) | (1 << 3));
    n.assign(11, false);
    n[8] = true; // " Uаb"
    EXPECT_EQ(ChannelMaskOf(n, true), (1 << 1) | (1 << 2));
    n.assign(11, false);
    n[10] = true; // " Uca"
    n[0] = true;  // " Un"
    n[7] = true;  // " In"
    EXPECT_EQ(ChannelMaskOf(n, true), 1 | (1 << 1) | (1 << 3) | (1 << 7));
    EXPECT_EQ(ChannelMaskOf(std::vector<bool>(11, true), true), 255);

    std::vector<bool> w(9, false);
    w[8] = true; // " Uca" without neutral: Uа and Uc
    EXPECT_EQ(ChannelMaskOf(w, false), (1 << 0) | (1 << 2));
    w.assign(9, false);
    w[7] = true;
    w[4] = true; // " Ib"
    EXPECT_EQ(ChannelMaskOf(w, false), (1 << 1) | (1 << 2) | (1 << 4));
    EXPECT_EQ(ChannelMaskOf(std::vector<bool>(9, true), false), 63);
    EXPECT_EQ(ChannelMaskOf(std::vector<bool>(9, false), false), 0);
    EXPECT_EQ(ChannelMaskOf(std::vector<bool>(3, true), true), 7) << "short lists are safe";
}

TEST(WaveHorizontalZoom, RightAndLeftClicks) {
    // The Zoom = 1 <-> -2 edge: out gives -2, in gives -1, which becomes 1.
    TmsView v;
    v.QuantCount = 512;
    v.ClientWidth = 200; // plot width 184
    v.Zoom = 1;
    v.Position = 100;
    HorizontalZoomClick(v, TmsButton::Right, 50);
    EXPECT_EQ(v.Zoom, -2);
    EXPECT_EQ(v.Position, 50); // 100 + 50 - 2 * 50
    EXPECT_EQ(v.LineSize, 2);
    EXPECT_EQ(v.PageSize, 20);
    EXPECT_EQ(v.Max, 512 - 368 + 1);
    HorizontalZoomClick(v, TmsButton::Left, 50);
    EXPECT_EQ(v.Zoom, 1);
    EXPECT_EQ(v.Position, 99); // 50 + 50 * 2 - 50 * 1 - 1
    EXPECT_EQ(v.LineSize, 1);
    EXPECT_EQ(v.PageSize, 10);

    // Out and back in at the same x returns to the same first sample.
    TmsView w;
    w.QuantCount = 512;
    w.ClientWidth = 400;
    w.Zoom = 6;
    w.Position = 100;
    HorizontalZoomClick(w, TmsButton::Right, 120);
    EXPECT_EQ(w.Zoom, 3);
    EXPECT_EQ(w.Position, 80); // 100 + rnd(120 / 6) - rnd(120 / 3)
    EXPECT_EQ(w.PageSize, 4);
    HorizontalZoomClick(w, TmsButton::Left, 120);
    EXPECT_EQ(w.Zoom, 6);
    EXPECT_EQ(w.Position, 100);

    // Zoom 3 out: rnd(1.5) = 2; zoom 2 out: 1 (not on to -2 in the same click).
    w.Zoom = 3;
    HorizontalZoomClick(w, TmsButton::Right, 0);
    EXPECT_EQ(w.Zoom, 2);
    HorizontalZoomClick(w, TmsButton::Right, 0);
    EXPECT_EQ(w.Zoom, 1);

    w.Zoom = -4;
    w.Position = 10;
    HorizontalZoomClick(w, TmsButton::Right, 10);
    EXPECT_EQ(w.Zoom, -8);
    HorizontalZoomClick(w, TmsButton::Left, 10);
    EXPECT_EQ(w.Zoom, -4);
}

TEST(WaveHorizontalZoom, MiddleFitsTheRecord) {
    TmsView v;
    v.QuantCount = 512;
    v.ClientWidth = 216; // plot width 200: 512 / 200 -> log2 = 1.35 -> -2^2
    v.Zoom = 3;
    HorizontalZoomClick(v, TmsButton::Middle, 10);
    EXPECT_EQ(v.Zoom, -4);
    EXPECT_GE(200 * 4, 512);
    v.ClientWidth = 1000;
    v.Zoom = 3;
    HorizontalZoomClick(v, TmsButton::Middle, 10);
    EXPECT_EQ(v.Zoom, 3) << "a record narrower than the plot keeps its zoom";
}

TEST(WaveRange, MagnifyShrinkAndLimits) {
    TmsRange r{10, 0};
    RangeClick(r, TmsButton::Left, 50, 200);
    EXPECT_EQ(r.FullScale, 10);
    r = {196608, 0};
    RangeClick(r, TmsButton::Right, 50, 200);
    EXPECT_EQ(r.FullScale, 196608);
    r = {111409, 0};
    RangeClick(r, TmsButton::Left, 100, 200);
    EXPECT_EQ(r.FullScale, 111409 - 11140);
    EXPECT_EQ(r.ScrollPosition, 0) << "a click on the zero line keeps the offset";
    r = {1000, 0};
    RangeClick(r, TmsButton::Right, 100, 200);
    EXPECT_EQ(r.FullScale, 1100);
}

TEST(WaveRange, LevelUnderPointerStays) {
    // The amount under the pointer before and after a click stays within a pixel.
    for (TmsButton b : {TmsButton::Left, TmsButton::Right}) {
        TmsRange r{50000, -20};
        const int H = 200, y = 30;
        const double before = double(r.FullScale) / H * HeightAtRow(-r.ScrollPosition, H, y);
        RangeClick(r, b, y, H);
        const double after = double(r.FullScale) / H * HeightAtRow(-r.ScrollPosition, H, y);
        EXPECT_NEAR(after, before, 2.0 * r.FullScale / H);
        EXPECT_NE(r.ScrollPosition, -20);
    }
}

TEST(WaveReadout, SampleUnderPointer) {
    EXPECT_EQ(SampleUnderPointer(6, 61, 10, 1), 20); // trunc(61 / 6) + 10
    EXPECT_EQ(SampleUnderPointer(1, 61, 10, 1), 71);
    EXPECT_EQ(SampleUnderPointer(-4, 61, 10, 1), 254);
    EXPECT_EQ(SampleUnderPointer(-4, 61, 10, 2), 127);
    EXPECT_EQ(SampleUnderPointer(1, 61, 10, 0), 71) << "a zero step reads as one";
    EXPECT_EQ(HeightAtRow(0, 200, 100), 0);
    EXPECT_EQ(HeightAtRow(0, 200, 0), 100);
    EXPECT_EQ(HeightAtRow(15, 200, 100), 15);
}

TEST(WaveBusy, TurnsAndLeavesOtherTexts) {
    std::string c = "-";
    std::string seen;
    for (int i = 0; i < 4; ++i) {
        c = NextBusyCaption(c.c_str());
        seen += c;
    }
    EXPECT_EQ(seen, "\\|/-");
    EXPECT_STREQ(NextBusyCaption("x"), "x");
    EXPECT_STREQ(NextBusyCaption(""), "");
}
