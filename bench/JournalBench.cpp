// The recording journal on this machine's disk: the cost of appending one 3-second record
// (its own transaction, synced), the bytes a record takes and what a week of records comes
// to, and the CSV export of a week (201 600 records) with the peak memory of the process.
//
//   build/bench/bench_journal --benchmark_counters_tabular=true
// The files go to QZ_BENCH_DIR (default: the current folder), which should be on the disk
// the journals are meant for, not on a memory file system.
#include "journal/jnJournal.h"
#include "simulator/MeterModel.h"
#include "tools/qzcli/CliJournal.h"
#ifdef QZ_BENCH_TRENDS
#include "trends/monTrendJournal.h"
#endif

#include "bench/BenchRepeat.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

using namespace qz;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kWeek = 7 * 24 * 1200; // records of 3 seconds

std::string BenchDir() {
    const char* d = std::getenv("QZ_BENCH_DIR");
    return d && *d ? d : ".";
}

TjnMeter Meter() {
    TjnMeter m;
    m.DeviceType = 2;
    m.ModelIndex = 1;
    m.Model = "QZ2M";
    m.FactoryNumber = 1;
    m.Address = 1;
    m.Connection = "TCP/IP";
    m.ProgramVersion = "bench";
    return m;
}

int64_t JournalBytes(const std::string& f) {
    std::error_code e;
    int64_t n = int64_t(fs::file_size(f, e));
    if (fs::exists(f + "-wal")) n += int64_t(fs::file_size(f + "-wal", e));
    return n;
}

// A journal with settings, scale coefficients and one record from the simulated meter.
void StartJournal(TjnWriter& w, const std::string& file, std::vector<uint8_t>& record,
                  TmonData3sec& decoded) {
    const TMeterModel model(1);
    std::string e;
    fs::remove(file);
    if (!w.Create(file, Meter(), e)) throw std::runtime_error(e);
    const TDateTime t = NowDateTime();
    const auto tp = model.TimeData(t, true, t), s = model.SettingsData(), k = model.ScaleData();
    w.AddAnswer(TjnAnswerKind::TimeParams, t, t, tp.data(), tp.size(), e);
    w.AddAnswer(TjnAnswerKind::Settings, t, t, s.data(), s.size(), e);
    w.AddAnswer(TjnAnswerKind::ScaleKoeffs, t, t, k.data(), k.size(), e);
    record = model.RecordData(t);
    TmonSettings settings;
    DecodeSettings(s.data(), s.size(), settings);
    double vs = 0, cs = 0;
    DecodeScaleKoeffs(k.data(), k.size(), vs, cs);
    Decode3sec(record.data(), record.size(), true, settings, vs, cs, decoded);
}

void BM_AppendRecord(benchmark::State& state) {
    const std::string file = BenchDir() + "/bench-append.db";
    TjnWriter w;
    std::vector<uint8_t> record;
    TmonData3sec decoded;
    StartJournal(w, file, record, decoded);
    const int64_t before = JournalBytes(file);
    std::string e;
    TDateTime t = NowDateTime();
    int64_t n = 0;
    for (auto _ : state) {
        t += 3.0 / 86400;
        if (!w.AddRecord(t, t, record.data(), record.size(), decoded, e)) {
            state.SkipWithError(e.c_str());
            break;
        }
        ++n;
    }
    w.Close(e);
    const double perRecord = double(JournalBytes(file) - before) / double(n ? n : 1);
    state.counters["bytes_per_record"] = perRecord;
    state.counters["week_MB"] = perRecord * double(kWeek) / 1e6;
    fs::remove(file);
}
BENCHMARK(BM_AppendRecord)->Unit(benchmark::kMicrosecond)->Iterations(2000);

// A week's journal, made quickly: one recorded record copied for every 3 seconds of a week
// in a single transaction (the recorder would take a week for it).
std::string WeekJournal() {
    const std::string file = BenchDir() + "/bench-week.db";
    if (fs::exists(file)) return file;
    {
        TjnWriter w;
        std::vector<uint8_t> record;
        TmonData3sec decoded;
        StartJournal(w, file, record, decoded);
        std::string e;
        const TDateTime t = NowDateTime();
        w.AddRecord(t, t, record.data(), record.size(), decoded, e);
        w.Close(e);
    }
    bench::RepeatRecords(file, kWeek - 1, 3, "seq = 1");
    return file;
}

void BM_ExportWeekCsv(benchmark::State& state) {
    const std::string journal = WeekJournal();
    const std::string csv = BenchDir() + "/bench-week.csv";
    for (auto _ : state) {
        std::ostringstream out, err;
        if (RunJournalCommand({"export", journal, "--csv", csv}, out, err) != 0) {
            state.SkipWithError(err.str().c_str());
            break;
        }
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    state.counters["records"] = double(kWeek);
    state.counters["journal_MB"] = double(JournalBytes(journal)) / 1e6;
    state.counters["csv_MB"] = double(fs::file_size(csv)) / 1e6;
    state.counters["peak_rss_MB"] = double(ru.ru_maxrss) / 1024.0;
    fs::remove(csv);
}
BENCHMARK(BM_ExportWeekCsv)->Unit(benchmark::kSecond)->Iterations(1);

#ifdef QZ_BENCH_TRENDS
// A week's journal opened in the trends window: every record read into trend samples (the
// window waits for this before it can draw the file).
void BM_OpenWeekTrend(benchmark::State& state) {
    const std::string journal = WeekJournal();
    size_t samples = 0;
    for (auto _ : state) {
        std::string e;
        auto source = LoadJournalTrend(journal, e);
        if (!source) {
            state.SkipWithError(e.c_str());
            break;
        }
        samples = source->Count();
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    state.counters["samples"] = double(samples);
    state.counters["peak_rss_MB"] = double(ru.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_OpenWeekTrend)->Unit(benchmark::kMillisecond)->Iterations(3);
#endif

} // namespace

BENCHMARK_MAIN();
