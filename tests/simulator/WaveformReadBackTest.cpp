// The simulated meter's waveform blocks, read the monitor's way: refilled into the experiment,
// turned into volts and amperes by the waveform window's factors, and written to the CSV file.
// What comes back must be the network the meter's own 3-second record describes: the same
// instantaneous values (sign and size), and the same RMS for phase and line voltages and
// currents.
#include "common/Cp1251.h"
#include "connection/CcnConnectionList.h"
#include "exchange/monCsvExport.h"
#include "exchange/monStorage.h"
#include "protocol/QZ2Models.h"
#include "simulator/MeterModel.h"
#include "tests/support/CsvCells.h"
#include "waveform/monHeadlessSignalWindow.h"
#include "waveform/monSignalControl.h"
#include "waveform/monWaveMath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>

namespace qz {
namespace {

double Instant(const TChannelPhasors& c, double w, double t) {
    double x = 0;
    for (int n = 1; n <= 40; ++n)
        x += std::sqrt(2.0) * std::abs(c.H[n]) * std::cos(w * n * t + std::arg(c.H[n]));
    return x;
}

double Rms(const std::vector<double>& v) {
    double s = 0;
    for (double x : v)
        s += x * x;
    return v.empty() ? 0 : std::sqrt(s / double(v.size()));
}

// The waveform columns of a CSV file (code page 1251, decimal comma), by column 0..10 in the
// order of the headers: Uа Iа Uв Iв Uс Iс Uн Iн Uав Uвс Uса. Sample rows are the ones whose
// first cell is the sample number.
std::map<int, std::vector<double>> CsvWaveColumns(const std::string& csv) {
    std::map<int, std::vector<double>> cols;
    std::istringstream in(csv);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] < '1' || line[0] > '9') continue;
        std::vector<std::string> cells = test::CsvCells(line);
        if (cells.size() != 12) continue;
        for (int c = 0; c < 11; ++c) {
            std::string& cell = cells[size_t(c) + 1];
            if (cell.empty()) continue;
            std::replace(cell.begin(), cell.end(), ',', '.');
            cols[c].push_back(std::strtod(cell.c_str(), nullptr));
        }
    }
    return cols;
}

class WaveformReadBack : public ::testing::TestWithParam<int> {};

TEST_P(WaveformReadBack, ReadsAsTheRecordsVoltagesAndCurrents) {
    const int model = GetParam();
    TMeterModel m(model);
    const bool ext = m.HasNeutral();
    TDateTime end = 0;
    ASSERT_TRUE(TryEncodeDateTime({2026, 3, 14, 12, 0, 3, 0}, end));
    const double t = SecondsOf(end) - 1.5; // the state the record stands for

    // The record, decoded as the polling thread does.
    TmonStorage storage;
    const auto settingsData = m.SettingsData();
    ASSERT_TRUE(DecodeSettings(settingsData.data(), settingsData.size(), storage.Settings));
    storage.Settings.HasNeutral = ext ? 1 : 0;
    double vScale = 0, cScale = 0;
    const auto scaleData = m.ScaleData();
    ASSERT_TRUE(DecodeScaleKoeffs(scaleData.data(), scaleData.size(), vScale, cScale));
    const auto record = m.RecordData(end);
    ASSERT_EQ(Decode3sec(record.data(), record.size(), ext, storage.Settings, vScale, cScale,
                         storage.Data3sec),
              TmonDecodeResult::Complete);
    const TmonData3sec& d = storage.Data3sec;

    // One period of every channel, refilled as the main window does.
    const uint8_t mask = ext ? 0xFF : 0x3F;
    const std::vector<uint8_t> block = m.WaveformData(mask, 2, t);
    storage.SignalData = block.data();
    storage.SignalSize = int32_t(block.size());
    TmonSignalControl control(ext);
    TmonHeadlessSignalWindow window(ext);
    control.OnSignalData(window, storage, mask, 2, ModelIsA(model));
    const TSigExperiment* exp = control.Experiment();
    ASSERT_EQ(ExpGetQuantCount(const_cast<TSigExperiment*>(exp)), 64u);

    // Expected: channel number -> (phasors, current?, RMS of the record).
    const TMeterSnapshot s = m.Snapshot(t);
    const double w = 2 * 3.14159265358979323846 * s.Frequency;
    const double dt = 1.0 / (TMeterModel::kSamplesPerPeriod * s.Frequency);
    struct TExpect {
        int Key;
        const char* Name;
        TChannelPhasors Ch;
        bool Current;
        double RecordRms;
        int CsvColumn;
    };
    auto line = [&](int a, int b) {
        TChannelPhasors l;
        for (int n = 1; n <= 40; ++n)
            l.H[n] = s.U[a].H[n] - s.U[b].H[n];
        return l;
    };
    std::vector<TExpect> expect = {
        {2, "Ua", s.U[0], false, d.U[phA], 0},
        {3, "Ub", s.U[1], false, d.U[phB], 2},
        {4, "Uc", s.U[2], false, d.U[phC], 4},
        {5, "Ia", s.I[0], true, d.I[phA], 1},
        {6, "Ib", s.I[1], true, d.I[phB], 3},
        {7, "Ic", s.I[2], true, d.I[phC], 5},
        {9, "Uab", line(0, 1), false, d.ULine[lnAB], 8},
        {10, "Ubc", line(1, 2), false, d.ULine[lnBC], 9},
        {11, "Uca", line(2, 0), false, d.ULine[lnCA], 10},
    };
    if (ext) {
        expect.push_back({1, "Un", s.U[3], false, d.U[phN], 6});
        expect.push_back({8, "In", s.I[3], true, d.I[phN], 7});
    }
    const std::string csv = Cp1251ToUtf8(FormatMeasurementsCsv(
        CsvDeviceOf(TccnConnection()), storage, window.ICoef(), window.UCoef(), exp));
    const auto columns = CsvWaveColumns(csv);

    for (const TExpect& e : expect) {
        SCOPED_TRACE(e.Name);
        const TSigChannel* ch = exp->FindChannel(e.Key);
        ASSERT_NE(ch, nullptr);
        ASSERT_EQ(ch->SampleCount(), 64u);
        const double k = e.Current ? window.ICoef() : window.UCoef();
        double peak = 0;
        for (int n = 1; n <= 40; ++n)
            peak += std::sqrt(2.0) * std::abs(e.Ch.H[n]);
        std::vector<double> read;
        for (uint32_t i = 0; i < 64; ++i) {
            const double v = (32768.0 - ch->Samples[i]) * 2 * k;
            read.push_back(v);
            // The instantaneous value, sign included, to a sample unit and a little more.
            ASSERT_NEAR(v, Instant(e.Ch, w, i * dt), 0.005 * peak + 4 * k) << "sample " << i;
        }
        EXPECT_NEAR(Rms(read), e.RecordRms, 0.02 * e.RecordRms) << "through the refill";
        ASSERT_EQ(columns.count(e.CsvColumn), 1u);
        EXPECT_EQ(columns.at(e.CsvColumn).size(), 64u);
        EXPECT_NEAR(Rms(columns.at(e.CsvColumn)), e.RecordRms, 0.02 * e.RecordRms)
            << "through the CSV file";
    }
    if (!ext) {
        EXPECT_EQ(columns.count(6), 0u) << "no Uн without the neutral channel";
        EXPECT_EQ(columns.count(7), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(AllModels, WaveformReadBack, ::testing::Range(0, kQZ2ModelCount));

} // namespace
} // namespace qz
