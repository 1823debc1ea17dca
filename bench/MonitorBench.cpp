// The main window's work for one 3-second record, offscreen: labels, harmonics grid and
// spectrum image; and the same followed by a full repaint of the window.
//   QT_QPA_PLATFORM=offscreen build/bench/bench_monitor
#include "monitor/monCommandLine.h"
#include "monitor/monMain.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

namespace {

using namespace qz;

class IdleThread : public ImonExchange {
public:
    void Start() override {}
    void Stop() override {}
    bool Finished() const override { return true; }
    void Join() override {}
    std::string GetErrorText() const override { return {}; }
};

class NoMessages : public ImonMessages {
public:
    void Show(const std::string&, TmonMessageIcon, const std::string&) override {}
};

struct Window {
    IExchangeListener* Listener = nullptr;
    std::unique_ptr<TForm1> Form;
    Window() {
        TmonFormOptions o;
        o.Settings = std::make_unique<TmonIniFile>(kMonitorProductName, "bench_monitor");
        o.Messages = std::make_unique<NoMessages>();
        o.Exchange.MakeMain = [this](IExchangeListener* l, const TccnConnection*,
                                     TmonSharedStorage*) {
            Listener = l;
            return std::unique_ptr<ImonExchange>(new IdleThread);
        };
        Form = std::make_unique<TForm1>(std::move(o));
        Form->show();
        Form->UseOwnedConnection(MakeTcpConnection(1, 1, "127.0.0.1", 1), true);
    }
    // A record whose values change every time, so no text stays the same.
    void Record(int i) {
        Form->SharedStorage().Update([i](TmonStorage& s) {
            s.Settings.NominalPhaseVoltage = 57.735f;
            s.Settings.NominalLineVoltage = 100;
            s.Data3sec.Time = 46000 + i / 28800.0;
            for (int ph = 0; ph < 4; ++ph) {
                s.Data3sec.U1[ph] = 57 + (i % 10) * 0.1 + ph;
                s.Data3sec.I1[ph] = 4 + (i % 7) * 0.01;
                s.Data3sec.P[ph] = 900 + i % 200;
                for (int n = 0; n < kmonHarmCount; ++n) {
                    s.Data3sec.KUn(ph)[n] = (n + i % 5) * 0.05;
                    s.Data3sec.KIn(ph)[n] = (n + i % 3) * 0.2;
                }
            }
        });
        Listener->OnData3sec();
    }
};

Window& TheWindow() {
    static Window w;
    return w;
}

void BM_ShowRecord(benchmark::State& state) {
    Window& w = TheWindow();
    int i = 0;
    for (auto _ : state)
        w.Record(++i);
}
BENCHMARK(BM_ShowRecord)->Unit(benchmark::kMicrosecond);

void BM_ShowRecordAndRepaint(benchmark::State& state) {
    Window& w = TheWindow();
    int i = 0;
    for (auto _ : state) {
        w.Record(++i);
        QPixmap p = w.Form->grab(); // paints every control of the window
        benchmark::DoNotOptimize(p);
    }
}
BENCHMARK(BM_ShowRecordAndRepaint)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Keep the benchmark's settings file out of the user's folder.
    std::string folder = (std::filesystem::temp_directory_path() / "qz-bench-monitor").string();
    setenv("XDG_DATA_HOME", folder.c_str(), 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    TheWindow().Form.reset();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
