// The trends window with a week of 3-second records (201 600 samples): a full redraw at 1600
// plot pixels, the statistics of a span of the whole week, and the taking of one new record by
// an open window.
#include "trends/monTrendDemo.h"
#include "trends/monTrendsWindow.h"

#include <QApplication>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

constexpr size_t kWeek = 201600;

QApplication* App() {
    static int argc = 1;
    static char name[] = "bench_trends";
    static char* argv[] = {name, nullptr};
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication* app = new QApplication(argc, argv);
    return app;
}

const std::vector<qz::TTrendSample>& Week() {
    static const auto w = qz::GenerateTrendSamples(46000.0, kWeek, 3.0, 1);
    return w;
}

// Building the plot model (decimation, ticks, axes) and painting it: what a paint event does.
void BM_WeekRedraw(benchmark::State& state) {
    App();
    std::vector<int> checked = {qz::tqUA, qz::tqUB, qz::tqUC};
    if (state.range(0) > 3)
        checked.insert(checked.end(), {qz::tqF, qz::tqIA, qz::tqIB, qz::tqIC, qz::tqK2});
    qz::TTrendPlotLayout layout;
    layout.Width = 1600 + layout.Left + layout.Right;
    layout.Height = 700;
    const auto& week = Week();
    const qz::TTrendTimeRange r{week.front().Time, week.back().Time};
    const qz::TmonSettings s = qz::DemoTrendSettings();
    QImage img(layout.Width, layout.Height, QImage::Format_RGB32);
    for (auto _ : state) {
        const auto m = qz::BuildPlotModel(week, checked, s, r, layout, qz::TTrendTimeFormat(),
                                          qz::kmonTrendDefaultGapDays);
        QPainter p(&img);
        qz::PaintTrends(p, m, ',');
        benchmark::DoNotOptimize(img.constBits());
    }
    state.counters["plot_px"] = layout.PlotWidth();
    state.counters["quantities"] = double(checked.size());
}
BENCHMARK(BM_WeekRedraw)->Arg(3)->Arg(8)->Unit(benchmark::kMillisecond);

// The plot model alone: decimation, ticks and axes without the painting.
void BM_WeekModel(benchmark::State& state) {
    const std::vector<int> checked = {qz::tqUA, qz::tqUB, qz::tqUC};
    qz::TTrendPlotLayout layout;
    layout.Width = 1600 + layout.Left + layout.Right;
    layout.Height = 700;
    const auto& week = Week();
    const qz::TTrendTimeRange r{week.front().Time, week.back().Time};
    const qz::TmonSettings s = qz::DemoTrendSettings();
    for (auto _ : state) {
        auto m = qz::BuildPlotModel(week, checked, s, r, layout, qz::TTrendTimeFormat(),
                                    qz::kmonTrendDefaultGapDays);
        benchmark::DoNotOptimize(m.Panes.data());
    }
}
BENCHMARK(BM_WeekModel)->Unit(benchmark::kMillisecond);

// The statistics of a span the operator selects over the whole week, three quantities.
void BM_WeekSpanStats(benchmark::State& state) {
    const auto& week = Week();
    const qz::TmonSettings s = qz::DemoTrendSettings();
    for (auto _ : state)
        for (int q : {qz::tqUA, qz::tqUB, qz::tqUC}) {
            const auto st = qz::TrendSpanStats(week, week.front().Time, week.back().Time, q,
                                               qz::TrendLimitsOf(q, s));
            benchmark::DoNotOptimize(st.Upper95);
        }
}
BENCHMARK(BM_WeekSpanStats)->Unit(benchmark::kMillisecond);

// One record appended to the source and taken by the window showing the whole week: the
// samples read, the view moved along and a repaint asked for (Arg 0), or painted too (Arg 1).
void BM_AppendOne(benchmark::State& state) {
    App();
    qz::TmonTrendMemorySource src;
    for (const auto& x : Week())
        src.Append(x);
    qz::TmonTrendsWindow w;
    w.resize(1600 + 70 + 10 + 180, 700);
    w.SetSource(&src);
    w.show();
    QApplication::processEvents();
    qz::TTrendSample next = Week().back();
    for (auto _ : state) {
        next.Time += 3.0 / 86400.0;
        src.Append(next);
        w.SamplesAppended();
        if (state.range(0)) benchmark::DoNotOptimize(w.PlotImage().constBits());
    }
    state.counters["samples"] = double(w.SampleCount());
}
BENCHMARK(BM_AppendOne)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
