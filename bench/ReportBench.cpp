// The power-quality protocol of a week (201 600 records of 3 seconds, every harmonic of every
// phase present): qzcli report --json and --pdf run as the operator runs them, with the wall
// time and the peak memory of each run.
//
//   build/bench/bench_report --benchmark_counters_tabular=true
// The week's journal (about 400 MB) is made once in QZ_BENCH_DIR (default: the current folder).
#include "tests/support/PqJournal.h"

#include "bench/BenchRepeat.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qz;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kWeek = 7 * 24 * 1200;
// Distinct records written by the journal writer; the week repeats them.
constexpr int kPattern = 240;

std::string BenchDir() {
    const char* d = std::getenv("QZ_BENCH_DIR");
    return d && *d ? d : ".";
}

// Voltages, unbalance, frequency and all 39 harmonics varying from record to record.
test::TPqValues Varying(int i) {
    test::TPqValues v;
    const double s = std::sin(i * 0.07);
    for (int ph = 0; ph < 3; ++ph) {
        v.U[ph] = 220 + 8 * s + ph;
        v.ULine[ph] = 380 + 14 * s;
        v.KU[ph] = 3 + s;
        v.KULine[ph] = 3 + s;
    }
    v.F = 50 + 0.1 * s;
    v.K2 = 1 + 0.5 * s;
    v.K0 = 0.8 + 0.3 * s;
    for (int n = 2; n <= 40; ++n)
        v.Harm[n] = (n == 5 ? 4 : 0.15) * (1.2 + s);
    return v;
}

// A week's journal: kPattern records through the writer, then copied forward in one
// transaction (the recorder would take a week).
std::string WeekJournal() {
    const std::string file = BenchDir() + "/bench-report-week.db";
    if (fs::exists(file)) return file;
    const TDateTime start = test::RecordingDay(0, 0, 0);
    {
        test::TPqJournal j(file);
        j.Settings(start, test::PqSettings());
        for (int i = 0; i < kPattern; ++i)
            j.Record(start + i * 3.0 / 86400, Varying(i));
        if (!j.Close()) throw std::runtime_error(j.Error);
    }
    bench::RepeatRecords(file, kWeek / kPattern - 1, kPattern * 3, "1");
    return file;
}

// Runs qzcli with `args`, its output thrown away: the wall time and the peak memory.
bool RunQzcli(const std::vector<std::string>& args, double& seconds, double& peakMb) {
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        freopen("/dev/null", "w", stdout);
        std::vector<char*> argv{const_cast<char*>(QZ_QZCLI_PATH)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(QZ_QZCLI_PATH, argv.data());
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    peakMb = double(ru.ru_maxrss) / 1024.0;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Run(benchmark::State& state, const std::vector<std::string>& extra) {
    const std::string journal = WeekJournal();
    std::vector<std::string> args{"report", journal};
    args.insert(args.end(), extra.begin(), extra.end());
    double peak = 0;
    for (auto _ : state) {
        double seconds = 0;
        if (!RunQzcli(args, seconds, peak)) {
            state.SkipWithError("qzcli report failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.counters["records"] = double(kWeek);
    state.counters["peak_rss_MB"] = peak;
}

void BM_WeekJson(benchmark::State& state) {
    Run(state, {"--json"});
}
BENCHMARK(BM_WeekJson)->Unit(benchmark::kSecond)->UseManualTime()->Iterations(2);

void BM_WeekPdf(benchmark::State& state) {
    const std::string pdf = BenchDir() + "/bench-report-week.pdf";
    Run(state, {"--pdf", pdf});
    std::error_code e;
    state.counters["pdf_kB"] = double(fs::file_size(pdf, e)) / 1e3;
    fs::remove(pdf, e);
}
BENCHMARK(BM_WeekPdf)->Unit(benchmark::kSecond)->UseManualTime()->Iterations(2);

} // namespace

BENCHMARK_MAIN();
