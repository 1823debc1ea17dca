// Decoding time of one extended 3-second record (the polling thread decodes one every
// 3 seconds; this keeps an eye on it staying far below that), and of the CSV text.
#include "exchange/monCsvExport.h"
#include "exchange/monStorage.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

void PutF32(std::vector<uint8_t>& b, size_t off, float v) {
    std::memcpy(&b[off], &v, 4);
}
void PutI16(std::vector<uint8_t>& b, size_t off, int16_t v) {
    b[off] = uint8_t(v);
    b[off + 1] = uint8_t(uint16_t(v) >> 8);
}

// A record with every group and harmonic filled, so that no shortcut for zeros applies.
std::vector<uint8_t> ExtendedRecord() {
    std::vector<uint8_t> b(1946);
    const size_t groups[] = {0,  10,  20,  30,  40,  50,  60,   70,  80,
                             90, 100, 110, 120, 130, 140, 1602, 1612};
    for (size_t g : groups) {
        PutF32(b, g, 57.7f + g * 0.01f);
        PutF32(b, g + 4, 57.9f);
        PutI16(b, g + 8, int16_t(g * 37 % 36000 - 18000));
    }
    const size_t tables[] = {168, 324, 480, 636, 792, 948, 1110, 1266, 1422, 1624, 1782};
    for (size_t t : tables)
        for (int n = 0; n < 39; ++n) {
            PutI16(b, t + 4 * n, int16_t(100 - 7 * n));
            PutI16(b, t + 4 * n + 2, int16_t(-50 + 3 * n));
        }
    for (size_t off : {1578, 1582, 1586, 1590, 1594, 1598, 1938, 1942})
        PutF32(b, off, 280.5f);
    PutI16(b, 150, 5001);
    return b;
}

qz::TmonSettings Settings() {
    qz::TmonSettings s;
    s.NominalPhaseVoltage = 57.735f;
    s.NominalLineVoltage = 100;
    s.NominalCurrent = 5;
    s.NominalFrequency = 50;
    s.VoltageRatio = 100;
    return s;
}

void BM_DecodeExtended3sec(benchmark::State& state) {
    const std::vector<uint8_t> rec = ExtendedRecord();
    const qz::TmonSettings s = Settings();
    qz::TmonData3sec d;
    for (auto _ : state) {
        auto r = qz::Decode3sec(rec.data(), rec.size(), true, s, 0.75, 0.01, d);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(d.Pn_N[38]);
    }
}
BENCHMARK(BM_DecodeExtended3sec);

void BM_FormatMeasurementsCsv(benchmark::State& state) {
    const std::vector<uint8_t> rec = ExtendedRecord();
    qz::TmonStorage st;
    st.Settings = Settings();
    st.Settings.HasNeutral = 1;
    qz::Decode3sec(rec.data(), rec.size(), true, st.Settings, 0.75, 0.01, st.Data3sec);
    for (auto _ : state) {
        std::string text = qz::FormatMeasurementsCsv({"QZ2M", 1234}, st, 1, 1, nullptr);
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(BM_FormatMeasurementsCsv);

} // namespace

BENCHMARK_MAIN();
