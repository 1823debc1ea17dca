// One drawing pass of the waveform window: 11 channels of 512 samples at 400 and 1600 pixels.
#include "waveform/monMultiSignal.h"
#include "waveform/monSignalControl.h"
#include "waveform/monWaveDemo.h"

#include <QApplication>
#include <QCheckBox>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

namespace {

QApplication* App() {
    static int argc = 1;
    static char name[] = "bench_waveform";
    static char* argv[] = {name, nullptr};
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication* app = new QApplication(argc, argv);
    return app;
}

void BM_FormRis(benchmark::State& state) {
    App();
    const int width = int(state.range(0));
    qz::TWMultiSignal::ForgetSavedState(); // a window of its own, not the last one's state
    qz::TmonSignalControl control(true);
    qz::TWMultiSignal w(nullptr, control.Experiment(), true);
    control.Open(w);
    w.resize(width, 400);
    // 512 samples in all 11 channels, line voltages included.
    const auto block = qz::DemoSignalBlock(true, 0xFF, 512, 10900, 4600);
    const bool lines[3] = {true, true, true};
    qz::RefillExperiment(control.Experiment(), true, block.data(), int32_t(block.size()), 0xFF, 5,
                         qz::RefillFactorsOf(true, 1.0, 0, 0), lines);
    w.SetQuantCount(int(qz::ExpGetQuantCount(control.Experiment())));
    w.SetZoom(qz::ZoomFromWidth(width, 5));
    w.Schet();
    w.CBScaleU->setChecked(true);
    for (auto _ : state) {
        w.FormRis();
        benchmark::DoNotOptimize(w.Picture().constBits());
    }
    state.counters["zoom"] = w.Zoom();
    state.counters["samples"] = w.QuantCount();
}
BENCHMARK(BM_FormRis)->Arg(400)->Arg(1600)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
