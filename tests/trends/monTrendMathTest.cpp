#include "trends/monTrendMath.h"
#include "trends/monTrendDemo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace qz;

namespace {

constexpr double kSec = 1.0 / kmonSecondsPerDay;

TDateTime At(int y, int mo, int d, int h, int mi, int s) {
    TDateTime t = 0;
    EXPECT_TRUE(TryEncodeDateTime({y, mo, d, h, mi, s, 0}, t));
    return t;
}

TTrendSample Sample(TDateTime t, int q, float v) {
    TTrendSample s;
    s.Time = t;
    s.Value[q] = v;
    return s;
}

} // namespace

TEST(TrendTimeAxis, PatternsOfTheDesktopLocales) {
    const TDateTime t = At(2026, 3, 5, 13, 7, 9) + 42.0 / kMSecsPerDay;
    EXPECT_EQ(FormatDateTimePattern(t, "dd.MM.yyyy HH:mm:ss"), "05.03.2026 13:07:09");
    EXPECT_EQ(FormatDateTimePattern(t, "M/d/yy h:mm:ss AP t"), "3/5/26 1:07:09 PM");
    EXPECT_EQ(FormatDateTimePattern(t, "hh:mm ap"), "01:07 pm");
    EXPECT_EQ(FormatDateTimePattern(t, "H:mm:ss.zzz"), "13:07:09.042");
    EXPECT_EQ(FormatDateTimePattern(t, "yyyy-MM-dd'T'HH 'o''clock'"), "2026-03-05T13 o'clock");
    // Names where the desktop gives them, numbers otherwise. 05.03.2026 is a Thursday.
    TTrendTimeFormat names;
    names.ShortMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    names.LongDays = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
    EXPECT_EQ(FormatDateTimePattern(t, "dddd d MMM yyyy", &names), "Thursday 5 Mar 2026");
    EXPECT_EQ(FormatDateTimePattern(t, "ddd d MMM", &names), "05 5 Mar");
    EXPECT_EQ(FormatDateTimePattern(At(1899, 12, 30, 0, 0, 0), "dddd", &names), "Saturday");
    EXPECT_EQ(FormatDateTimePattern(At(1899, 12, 29, 0, 0, 0), "dddd", &names), "Friday");
    // Midnight and noon in a twelve-hour clock are 12.
    EXPECT_EQ(FormatDateTimePattern(At(2026, 3, 5, 0, 0, 0), "h AP"), "12 AM");
    EXPECT_EQ(FormatDateTimePattern(At(2026, 3, 5, 12, 0, 0), "h AP"), "12 PM");
}

TEST(TrendTimeAxis, StepsFromSecondsToDays) {
    // 1600 pixels with labels 90 apart take 17 labels.
    struct Case {
        double Span, Step;
    } cases[] = {{10, 1},
                 {30, 2},
                 {60, 5},
                 {170, 10},
                 {250, 15},
                 {500, 30},
                 {1000, 60},
                 {2000, 120},
                 {3600, 300},
                 {10000, 600},
                 {15000, 900},
                 {30000, 1800},
                 {60000, 3600},
                 {120000, 7200},
                 {180000, 10800},
                 {360000, 21600},
                 {604800, 43200},
                 {1.4e6, 86400},
                 {2.9e6, 172800},
                 {1e7, 604800},
                 {2e7, 1209600},
                 {4e7, 2419200},
                 {8e7, 2 * 2419200.0}};
    for (const Case& c : cases)
        EXPECT_EQ(TimeTickStep(c.Span, 1600, 90), c.Step) << "span " << c.Span;
    EXPECT_EQ(TimeTickStep(0, 1600, 90), 1);
    EXPECT_EQ(TimeTickStep(std::nan(""), 1600, 90), 1);
    EXPECT_EQ(TimeTickStep(100, 0, 90), 120); // one label for a plot with no width
}

TEST(TrendTimeAxis, TicksAreAlignedApartAndLabelled) {
    const TTrendTimeFormat f;
    const TDateTime start = At(2026, 3, 5, 23, 40, 3);
    for (double spanSec : {45.0, 600.0, 3600.0, 7 * 86400.0, 40 * 86400.0}) {
        const TTrendTimeRange r{start, start + spanSec * kSec};
        const auto ticks = TimeTicks(r, 1600, 90, f);
        ASSERT_GE(ticks.size(), 2u) << spanSec;
        const double step = TimeTickStep(spanSec, 1600, 90);
        for (size_t i = 0; i < ticks.size(); ++i) {
            const double s = ticks[i].Time * kmonSecondsPerDay;
            EXPECT_NEAR(std::remainder(s, step), 0, 1e-3) << spanSec;
            EXPECT_GE(ticks[i].Time, r.From);
            EXPECT_LE(ticks[i].Time, r.To + 1e-9);
            if (i > 0) {
                EXPECT_GE(TimeToX(ticks[i].Time, r, 0, 1600) -
                              TimeToX(ticks[i - 1].Time, r, 0, 1600),
                          90 - 1e-6);
            }
        }
    }
    // Seconds: the long time, the date under the first tick only (no midnight inside).
    auto t = TimeTicks({start, start + 45 * kSec}, 1600, 90, f);
    EXPECT_EQ(t[0].Label, "23:40:05");
    EXPECT_EQ(t[0].DateLabel, "05.03.2026");
    EXPECT_EQ(t[1].Label, "23:40:10");
    EXPECT_EQ(t[1].DateLabel, "");
    // An hour across midnight: the short time, the date again where it changes.
    t = TimeTicks({start, start + 3600 * kSec}, 1600, 90, f);
    EXPECT_EQ(t[0].Label, "23:45");
    bool changed = false;
    for (const auto& k : t)
        if (k.Label == "00:00") {
            EXPECT_EQ(k.DateLabel, "06.03.2026");
            changed = true;
        } else if (&k != &t[0]) {
            EXPECT_EQ(k.DateLabel, "");
        }
    EXPECT_TRUE(changed);
    // Forty days: dates at midnight.
    t = TimeTicks({start, start + 40 * 86400 * kSec}, 1600, 90, f);
    EXPECT_EQ(t[0].Label, "07.03.2026");
    EXPECT_EQ(t[0].DateLabel, "");
    EXPECT_TRUE(TimeTicks({start, start}, 1600, 90, f).empty());
}

TEST(TrendValueAxis, NiceTicksInTheUnit) {
    TTrendValueAxis a = NiceValueAxis(214.3, 231.7, 200, 28);
    EXPECT_EQ(a.Step, 5);
    EXPECT_EQ(a.Lo, 210);
    EXPECT_EQ(a.Hi, 235);
    EXPECT_EQ(a.Decimals, 0);
    EXPECT_EQ(ValueTicks(a).size(), 6u);
    EXPECT_EQ(ValueLabel(225, a, ','), "225");

    a = NiceValueAxis(49.93, 50.06, 200, 28);
    EXPECT_DOUBLE_EQ(a.Step, 0.02);
    EXPECT_EQ(a.Decimals, 2);
    EXPECT_EQ(ValueLabel(a.Lo, a, ','), "49,92");

    // Powers of a few kilowatts and more are labelled in kilo.
    a = NiceValueAxis(12000, 18000, 200, 28);
    EXPECT_EQ(a.Prefix, "к");
    EXPECT_EQ(ValueLabel(15000, a, '.'), "15");

    // A flat trend is opened around its value; zero gets a range of its own.
    a = NiceValueAxis(230, 230, 200, 28);
    EXPECT_LT(a.Lo, 230);
    EXPECT_GT(a.Hi, 230);
    a = NiceValueAxis(0, 0, 200, 28);
    EXPECT_LT(a.Lo, 0);
    EXPECT_GT(a.Hi, 0);
    a = NiceValueAxis(std::nan(""), 5, 200, 28);
    EXPECT_EQ(a.Lo, 0);
    EXPECT_EQ(a.Hi, 1);
    for (double t : ValueTicks(NiceValueAxis(-3.3, 7.1, 300, 28))) {
        EXPECT_GE(t, -5);
        EXPECT_LE(t, 8);
    }
}

TEST(TrendMapping, TimesAndValuesToPixels) {
    const TTrendTimeRange r{100.0, 100.0 + 1600 * kSec};
    EXPECT_DOUBLE_EQ(TimeToX(r.From, r, 70, 1600), 70);
    EXPECT_NEAR(TimeToX(r.To, r, 70, 1600), 1670, 1e-6);
    EXPECT_NEAR(TimeToX(100.0 + 800 * kSec, r, 70, 1600), 870, 1e-6);
    for (double x : {70.0, 333.5, 1670.0})
        EXPECT_NEAR(TimeToX(XToTime(x, r, 70, 1600), r, 70, 1600), x, 1e-6);

    EXPECT_EQ(ValueToY(240, 200, 240, 10, 400), 10);
    EXPECT_EQ(ValueToY(200, 200, 240, 10, 400), 410);
    EXPECT_EQ(ValueToY(220, 200, 240, 10, 400), 210);
    // Far outside values stay a pane's height beyond the edge; no overflow.
    EXPECT_EQ(ValueToY(1e30, 200, 240, 10, 400), 10 - 400);
    EXPECT_EQ(ValueToY(-1e30, 200, 240, 10, 400), 410 + 400);
    EXPECT_EQ(ValueToY(std::nan(""), 200, 240, 10, 400), 210);
    EXPECT_EQ(ValueToY(5, 1, 1, 10, 400), 210);
}

TEST(TrendDecimation, EachColumnKeepsTheExtremesOfItsSamples) {
    // 50 000 noisy samples a second apart on 300 columns: every column holds many samples.
    const auto samples = GenerateTrendSamples(45000.0, 50000, 1.0, 7);
    const TTrendTimeRange r{samples[1000].Time + 0.3 * kSec, samples[48000].Time};
    const int width = 300;
    TTrendSeries s;
    DecimateSeries(samples.data(), samples.size(), tqUA, r, width, kmonTrendDefaultGapDays, s);
    ASSERT_EQ(s.Columns.size(), size_t(width));
    std::vector<float> lo(width, 1e30f), hi(width, -1e30f);
    std::vector<int> count(width, 0);
    for (const auto& x : samples) {
        if (x.Time < r.From || x.Time > r.To) continue;
        const int c = std::min(width - 1, int((x.Time - r.From) / r.Span() * width));
        lo[size_t(c)] = std::min(lo[size_t(c)], x.Value[tqUA]);
        hi[size_t(c)] = std::max(hi[size_t(c)], x.Value[tqUA]);
        ++count[size_t(c)];
    }
    for (int c = 0; c < width; ++c) {
        ASSERT_GT(count[size_t(c)], 100);
        EXPECT_TRUE(s.Columns[size_t(c)].Has);
        EXPECT_EQ(s.Columns[size_t(c)].Min, lo[size_t(c)]) << c;
        EXPECT_EQ(s.Columns[size_t(c)].Max, hi[size_t(c)]) << c;
        EXPECT_TRUE(s.Columns[size_t(c)].Joined);
    }
    // The neighbours outside the view lead the line into both edges.
    EXPECT_TRUE(s.Before.Has);
    EXPECT_EQ(s.Before.Value, samples[1000].Value[tqUA]);
    EXPECT_LT(s.Before.X, 0);
    EXPECT_TRUE(s.After.Has);
    EXPECT_EQ(s.After.Value, samples[48001].Value[tqUA]);
    EXPECT_GT(s.After.X, width);
}

TEST(TrendDecimation, OnePassForSeveralQuantitiesGivesWhatEachAloneGives) {
    auto samples = GenerateTrendSamples(45000.0, 5000, 3.0, 2);
    // A gap in the frequency only: the voltages stay joined across it.
    for (size_t i = 2000; i < 2100; ++i)
        samples[i].Value[tqF] = std::numeric_limits<float>::quiet_NaN();
    const TTrendTimeRange r{samples[100].Time, samples[4000].Time};
    TTrendSeries f, ua, bad;
    f.Quantity = tqF;
    ua.Quantity = tqUA;
    bad.Quantity = -1;
    TTrendSeries* set[] = {&f, &bad, &ua};
    DecimateSeriesSet(samples.data(), samples.size(), set, 3, r, 700, kmonTrendDefaultGapDays);
    EXPECT_TRUE(bad.Columns.empty());
    for (TTrendSeries* s : {&f, &ua}) {
        TTrendSeries alone;
        DecimateSeries(samples.data(), samples.size(), s->Quantity, r, 700, kmonTrendDefaultGapDays,
                       alone);
        ASSERT_EQ(alone.Columns.size(), s->Columns.size());
        int breaks = 0;
        for (size_t c = 0; c < alone.Columns.size(); ++c) {
            const TTrendColumn &a = alone.Columns[c], &b = s->Columns[c];
            EXPECT_EQ(a.Has, b.Has);
            EXPECT_EQ(a.Joined, b.Joined);
            EXPECT_EQ(a.Min, b.Min);
            EXPECT_EQ(a.Max, b.Max);
            EXPECT_EQ(a.First, b.First);
            EXPECT_EQ(a.Last, b.Last);
            if (b.Has && !b.Joined) ++breaks;
        }
        EXPECT_EQ(breaks, s == &f ? 1 : 0) << s->Quantity;
        EXPECT_EQ(alone.Before.Has, s->Before.Has);
        EXPECT_EQ(alone.After.Value, s->After.Value);
    }
}

TEST(TrendDecimation, GapsBreakTheLineAndBadValuesAreSkipped) {
    const TDateTime t0 = 45000.0;
    std::vector<TTrendSample> v;
    for (int i = 0; i < 10; ++i)
        v.push_back(Sample(t0 + 3 * i * kSec, tqF, 50.0f + 0.01f * float(i)));
    // The recording paused for a minute.
    for (int i = 0; i < 10; ++i)
        v.push_back(Sample(t0 + (90 + 3 * i) * kSec, tqF, 49.9f));
    v[3].Value[tqF] = std::numeric_limits<float>::quiet_NaN();
    const TTrendTimeRange r{t0, t0 + 120 * kSec};
    TTrendSeries s;
    DecimateSeries(v.data(), v.size(), tqF, r, 120, kmonTrendDefaultGapDays, s);
    int columns = 0, breaks = 0;
    for (const auto& c : s.Columns) {
        if (!c.Has) continue;
        ++columns;
        if (!c.Joined) ++breaks;
        EXPECT_TRUE(std::isfinite(c.Min) && std::isfinite(c.Max));
    }
    EXPECT_EQ(columns, 19);
    EXPECT_EQ(breaks, 2); // the very first sample and the one after the pause
    EXPECT_FALSE(s.Columns[3 * 3].Has);
    EXPECT_FALSE(s.Before.Has);
    EXPECT_FALSE(s.After.Has);
    // A view inside the pause joins nothing into its edges.
    DecimateSeries(v.data(), v.size(), tqF, {t0 + 40 * kSec, t0 + 80 * kSec}, 100,
                   kmonTrendDefaultGapDays, s);
    EXPECT_FALSE(s.Before.Has);
    EXPECT_FALSE(s.After.Has);
    // Degenerate calls leave an empty table, never a fault.
    DecimateSeries(v.data(), v.size(), tqF, {t0, t0}, 100, kmonTrendDefaultGapDays, s);
    EXPECT_EQ(s.Columns.size(), 100u);
    DecimateSeries(nullptr, 0, tqF, r, 100, kmonTrendDefaultGapDays, s);
    DecimateSeries(v.data(), v.size(), kmonTrendQuantityCount, r, 100, kmonTrendDefaultGapDays, s);
    DecimateSeries(v.data(), v.size(), tqF, r, 0, kmonTrendDefaultGapDays, s);
    EXPECT_TRUE(s.Columns.empty());
}

TEST(TrendGaps, MissingRecordsAndOutagesBreakTheLineAndPlaceTheirBands) {
    const TDateTime t0 = 45000.5;
    std::vector<TTrendSample> v;
    // Records every 3 s; one missing after 12 s (a 6 s step), two missing after 30 s (9 s).
    for (int sec : {0, 3, 6, 9, 12, 18, 21, 24, 27, 30, 39, 42, 45, 48, 51, 54})
        v.push_back(Sample(t0 + sec * kSec, tqF, 50.0f));
    // The meter was not read from the record at 42 s to the next one, 45 s: a quick recovery
    // whose step alone would be joined.
    std::vector<TTrendOutage> outages = {
        {t0 + 43 * kSec, t0 + 45 * kSec, t0 + 42 * kSec, "Нет ответа от устройства."},
        // Before the first record: 20 s by the computer's clock.
        {t0 - 30 * kSec, t0 - 10 * kSec, 0, "Порт занят"},
    };
    TTrendGaps gaps;
    gaps.Bands = OutageBands(outages, v.data(), v.size());
    ASSERT_EQ(gaps.Bands.size(), 2u);
    EXPECT_EQ(gaps.Bands[0].Index, 1u); // sorted by their place on the axis
    EXPECT_NEAR(gaps.Bands[0].From, t0 - 20 * kSec, 1e-9);
    EXPECT_EQ(gaps.Bands[0].To, t0);
    EXPECT_EQ(gaps.Bands[1].From, t0 + 42 * kSec);
    EXPECT_EQ(gaps.Bands[1].To, t0 + 45 * kSec);

    // One column per second (each record in the middle of its column): the breaks fall after the
    // two missing records and the outage.
    const TTrendTimeRange r{t0 - 0.5 * kSec, t0 + 59.5 * kSec};
    TTrendSeries s;
    DecimateSeries(v.data(), v.size(), tqF, r, 60, gaps, s);
    std::vector<int> breaks;
    for (size_t c = 0; c < s.Columns.size(); ++c)
        if (s.Columns[c].Has && !s.Columns[c].Joined) breaks.push_back(int(c));
    EXPECT_EQ(breaks, (std::vector<int>{0, 39, 45}));
    // A view from inside the outage joins nothing across it into its left edge; one ending
    // inside it nothing into its right edge.
    DecimateSeries(v.data(), v.size(), tqF, {t0 + 43 * kSec, t0 + 50 * kSec}, 70, gaps, s);
    EXPECT_FALSE(s.Before.Has);
    DecimateSeries(v.data(), v.size(), tqF, {t0 + 35 * kSec, t0 + 44 * kSec}, 90, gaps, s);
    EXPECT_FALSE(s.After.Has);
    DecimateSeries(v.data(), v.size(), tqF, {t0 + 46 * kSec, t0 + 53 * kSec}, 70, gaps, s);
    EXPECT_TRUE(s.Before.Has && s.After.Has);

    // The readout's band: strictly inside, not at the records that bound it.
    ASSERT_NE(BandAt(gaps.Bands, t0 + 43.5 * kSec), nullptr);
    EXPECT_EQ(BandAt(gaps.Bands, t0 + 43.5 * kSec)->Index, 0u);
    EXPECT_EQ(BandAt(gaps.Bands, t0 + 42 * kSec), nullptr);
    EXPECT_EQ(BandAt(gaps.Bands, t0 + 45 * kSec), nullptr);
    EXPECT_EQ(BandAt(gaps.Bands, t0 + 30 * kSec), nullptr);
    EXPECT_EQ(BandAt({}, t0), nullptr);

    // At the end of a recording: closed during the outage it lasts as long as the computer saw
    // it; without an end kept it runs on past any view. Nothing is placed without records.
    outages = {{t0 + 60 * kSec, t0 + 90 * kSec, t0 + 54 * kSec, ""},
               {t0 + 100 * kSec, 0, t0 + 54 * kSec, ""}};
    const auto end = OutageBands(outages, v.data(), v.size());
    ASSERT_EQ(end.size(), 2u);
    EXPECT_NEAR(end[0].To - end[0].From, 30 * kSec, 1e-9);
    EXPECT_TRUE(std::isinf(end[1].To));
    EXPECT_TRUE(OutageBands(outages, v.data(), 0).empty());

    const TTrendTimeFormat f;
    EXPECT_EQ(OutageReadout({At(2026, 12, 8, 10, 0, 5), At(2026, 12, 8, 10, 0, 17), 0,
                             "Нет ответа от устройства."},
                            f),
              "Перерыв опроса с 08.12.2026 10:00:05 по 10:00:17 (время компьютера): Нет ответа "
              "от устройства.");
    EXPECT_EQ(OutageReadout({At(2026, 12, 8, 23, 59, 0), At(2026, 12, 9, 0, 1, 0), 0, "x"}, f),
              "Перерыв опроса с 08.12.2026 23:59:00 по 09.12.2026 00:01:00 (время компьютера): x");
    EXPECT_EQ(OutageReadout({At(2026, 12, 8, 10, 0, 5), 0, 0, "x"}, f),
              "Перерыв опроса с 08.12.2026 10:00:05 (время компьютера; конец не записан): x");
}

TEST(TrendReadout, NearestSampleToATime) {
    std::vector<TTrendSample> v;
    for (int i = 0; i < 5; ++i)
        v.push_back(Sample(1000.0 + 3 * i * kSec, tqUA, float(220 + i)));
    EXPECT_EQ(NearestSample(v.data(), v.size(), v[2].Time), 2u);
    EXPECT_EQ(NearestSample(v.data(), v.size(), v[2].Time + 1.4 * kSec), 2u);
    EXPECT_EQ(NearestSample(v.data(), v.size(), v[2].Time + 1.6 * kSec), 3u);
    EXPECT_EQ(NearestSample(v.data(), v.size(), v[2].Time + 1.5 * kSec), 2u);
    EXPECT_EQ(NearestSample(v.data(), v.size(), 0.0), 0u);
    EXPECT_EQ(NearestSample(v.data(), v.size(), 5000.0), 4u);
    EXPECT_EQ(NearestSample(v.data(), 0, 1000.0), 0u);
    EXPECT_EQ(NearestSample(v.data(), v.size(), std::nan("")), v.size());
    EXPECT_EQ(ReadoutValue(tqUA, 230.126f, ','), "Ua 230,13 В");
    EXPECT_EQ(ReadoutValue(tqCosSum, 0.9f, ','), "cosΣ 0,900");
}

TEST(TrendZoomPan, StaysWithinTheSamplesAndKeepsTheAnchor) {
    const TTrendViewLimits l{1000.0, 1001.0, kmonTrendMinSpanDays};
    const TTrendTimeRange whole = WholeRange(l);
    EXPECT_EQ(whole.From, 1000.0);
    EXPECT_EQ(whole.To, 1001.0);
    // Zooming in keeps the anchor at its pixel.
    const TDateTime anchor = 1000.3;
    TTrendTimeRange r = ZoomAbout(whole, 4, anchor, l);
    EXPECT_NEAR(r.Span(), 0.25, 1e-12);
    EXPECT_NEAR(TimeToX(anchor, r, 0, 1000), TimeToX(anchor, whole, 0, 1000), 1e-6);
    // Zooming in stops at the shortest span, out at the whole span.
    for (int i = 0; i < 100; ++i)
        r = ZoomAbout(r, 2, anchor, l);
    EXPECT_NEAR(r.Span(), kmonTrendMinSpanDays, 1e-12);
    EXPECT_LE(r.From, anchor);
    EXPECT_GE(r.To, anchor);
    for (int i = 0; i < 100; ++i)
        r = ZoomAbout(r, 0.5, anchor, l);
    EXPECT_TRUE(IsWholeRange(r, l));
    // A zoom at the edge does not run past it.
    r = ZoomAbout(ZoomAbout(whole, 10, 1000.95, l), 0.9, 1000.999, l);
    EXPECT_LE(r.To, 1001.0 + 1e-12);
    // Panning stops at both ends, keeping the span.
    r = ZoomAbout(whole, 10, 1000.5, l);
    TTrendTimeRange p = PanBy(r, 5, l);
    EXPECT_NEAR(p.To, 1001.0, 1e-12);
    EXPECT_NEAR(p.Span(), r.Span(), 1e-12);
    p = PanBy(r, -5, l);
    EXPECT_NEAR(p.From, 1000.0, 1e-12);
    EXPECT_NEAR(PanBy(r, 0.01, l).From, r.From + 0.01, 1e-12);
    EXPECT_TRUE(IsWholeRange(PanBy(whole, 0.3, l), l));
    EXPECT_TRUE(IsWholeRange(ZoomAbout(whole, std::nan(""), anchor, l), l));
    // One sample: the shortest span from it on.
    const TTrendViewLimits one{1000.0, 1000.0, kmonTrendMinSpanDays};
    EXPECT_NEAR(WholeRange(one).Span(), kmonTrendMinSpanDays, 1e-12);
}

TEST(TrendZoomPan, FollowingNewSamples) {
    TTrendViewLimits l{1000.0, 1000.5, kmonTrendMinSpanDays};
    const TTrendTimeRange whole = WholeRange(l);
    const TTrendTimeRange end{1000.4, 1000.5};
    const TTrendTimeRange middle{1000.1, 1000.2};
    l.Last = 1000.6;
    // The whole range grows.
    TTrendTimeRange r = FollowNewSamples(whole, 1000.5, l);
    EXPECT_TRUE(IsWholeRange(r, l));
    // A view at the end keeps the last sample in sight with its span.
    r = FollowNewSamples(end, 1000.5, l);
    EXPECT_NEAR(r.To, 1000.6, 1e-12);
    EXPECT_NEAR(r.Span(), 0.1, 1e-12);
    // Elsewhere the view stays where the operator put it.
    r = FollowNewSamples(middle, 1000.5, l);
    EXPECT_EQ(r.From, middle.From);
    EXPECT_EQ(r.To, middle.To);
    // At the start of a recording the first minute fills from the left.
    TTrendViewLimits start{1000.0, 1000.0, 60 * kSec};
    const TTrendTimeRange first = WholeRange(start);
    start.Last = 1000.0 + 3 * kSec;
    r = FollowNewSamples(first, 1000.0, start);
    EXPECT_EQ(r.From, 1000.0);
    EXPECT_NEAR(r.Span(), 60 * kSec, 1e-12);
}

TEST(TrendPlotModel, PanesByUnitWithLimitsInView) {
    const auto samples = GenerateTrendSamples(45000.0, 1200, 3.0, 3);
    const TmonSettings s = DemoTrendSettings();
    TTrendPlotLayout layout;
    layout.Width = 900;
    layout.Height = 600;
    const TTrendTimeRange r{samples.front().Time, samples.back().Time};
    const TTrendPlotModel m = BuildPlotModel(samples, {tqUA, tqIA, tqUB, tqF, tqUAB}, s, r, layout,
                                             TTrendTimeFormat(), kmonTrendDefaultGapDays);
    ASSERT_EQ(m.Panes.size(), 3u);
    EXPECT_EQ(m.Panes[0].Unit, "В");
    ASSERT_EQ(m.Panes[0].Series.size(), 3u);
    EXPECT_EQ(m.Panes[0].Series[1].Quantity, tqUB);
    EXPECT_EQ(m.Panes[1].Unit, "А");
    EXPECT_EQ(m.Panes[2].Unit, "Гц");
    // Phase 231/209 V and line 399/361 V normal limits, each once, and all inside the axis.
    int blue = 0;
    for (const auto& lim : m.Panes[0].Limits)
        if (lim.Color == mclBlue) {
            ++blue;
            EXPECT_GE(lim.Value, m.Panes[0].Axis.Lo);
            EXPECT_LE(lim.Value, m.Panes[0].Axis.Hi);
        }
    EXPECT_EQ(blue, 4);
    for (const auto& p : m.Panes) {
        EXPECT_GE(p.Top, layout.Top);
        EXPECT_LE(p.Top + p.Height, layout.Top + layout.PlotHeight());
        EXPECT_EQ(p.Series[0].Columns.size(), size_t(layout.PlotWidth()));
    }
    EXPECT_FALSE(m.Ticks.empty());
    EXPECT_TRUE(BuildPlotModel(samples, {}, s, r, layout, TTrendTimeFormat(), 1).Panes.empty());
}

TEST(TrendSpanStatistics, NearestRankAndSharesOutsideTheLimitLines) {
    // Ua of 20 samples 221 .. 240 V; lines: normal 209 .. 231 V (blue), maximum 198 .. 242 V.
    std::vector<TTrendSample> s;
    const TDateTime t0 = At(2026, 12, 8, 10, 0, 0);
    for (int i = 0; i < 20; ++i)
        s.push_back(Sample(t0 + i * 3 * kSec, tqUA, float(221 + i)));
    s[5].Value[tqUA] = std::numeric_limits<float>::quiet_NaN(); // no value: not counted
    const std::vector<TmonTrendLimit> lines = {
        {242, mclRed}, {231, mclBlue}, {209, mclBlue}, {198, mclRed}};
    // The whole span: 19 values; 232 .. 240 (9) above the normal band, none beyond 242.
    TTrendSpanStats st = TrendSpanStats(s, t0, t0 + 57 * kSec, tqUA, lines);
    EXPECT_EQ(st.N, 19u);
    EXPECT_DOUBLE_EQ(st.Min, 221);
    EXPECT_DOUBLE_EQ(st.Max, 240);
    EXPECT_DOUBLE_EQ(st.Upper95, 240); // the ⌈18.05⌉ = 19th
    EXPECT_NEAR(st.T1, 100.0 * 9 / 19, 1e-9);
    EXPECT_DOUBLE_EQ(st.T2, 0);
    // The first ten samples (one without a value): 221 .. 230 but 226, all inside; the value on
    // the line (231) is not outside it.
    st = TrendSpanStats(s, t0, t0 + 30 * kSec, tqUA, lines);
    EXPECT_EQ(st.N, 10u);
    EXPECT_DOUBLE_EQ(st.Upper95, 231); // the 10th of 10
    EXPECT_NEAR(st.Mean, (221 + 222 + 223 + 224 + 225 + 227 + 228 + 229 + 230 + 231) / 10.0, 1e-9);
    EXPECT_DOUBLE_EQ(st.T1, 0);
    // A single line is an upper limit; no lines, no shares.
    st = TrendSpanStats(s, t0, t0 + 57 * kSec, tqUA, {{235, mclBlue}});
    EXPECT_NEAR(st.T1, 100.0 * 5 / 19, 1e-9);
    EXPECT_TRUE(std::isnan(st.T2));
    EXPECT_EQ(SpanStatsText(tqUA, st, ',').substr(0, 8), "Ua: N 19");
    EXPECT_EQ(TrendSpanStats(s, t0 + 100 * kSec, t0 + 200 * kSec, tqUA, lines).N, 0u);
    TTrendSample a = Sample(t0, tqUA, 220.0f), b = Sample(t0 + 75 * kSec, tqUA, 222.5f);
    a.Value[tqF] = 50.01f;
    b.Value[tqF] = 49.99f;
    EXPECT_EQ(CursorDeltaText(b, a, {tqUA, tqF}, ','), "Δt -00:01:15: ΔUa -2,50 В, ΔF 0,020 Гц");
}
