// Journals whose power-quality content is known: every record written with the voltages,
// frequency, unbalance, distortion and harmonic levels a test names, the settings (nominal
// values and limits) changeable in mid-recording. Header-only, for the tests and benchmarks
// that link the journal library.
#pragma once

#include "journal/jnJournal.h"
#include "protocol/KavrenCommand.h"
#include "protocol/QZ2Layout.h"
#include "simulator/MeterModel.h"
#include "tests/support/JournalMeter.h"

#include <cmath>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace qz::test {

// What one 3-second record measures. Harmonics are in % of the fundamental (which equals U),
// the same on the three phases.
struct TPqValues {
    double U[3] = {220, 220, 220};
    double ULine[3] = {380, 380, 380};
    double F = 50;
    double K0 = 0, K2 = 0;
    double KU[3] = {0, 0, 0};
    double KULine[3] = {0, 0, 0};
    double Harm[41] = {}; // n = 2..40
};

inline void PqPutFloat(std::vector<uint8_t>& d, size_t off, double v) {
    const float f = float(v);
    std::memcpy(d.data() + off, &f, 4);
}
// A 16-bit value in hundredths (limits, frequency, coefficients).
inline void PqPutHundredths(std::vector<uint8_t>& d, size_t off, double v) {
    PutU16(d.data() + off, uint16_t(int16_t(std::lround(v * 100))));
}

// Where to make generated journals: the writer syncs every record, which a memory file system
// makes quick enough for the thousands a test needs ("": the usual temporary folder).
inline std::string PqJournalFolder() {
    return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "";
}

// The simulated meter's settings answer with the nominal voltages replaced.
inline std::vector<uint8_t> PqSettings(double phaseNominal = 220, double lineNominal = 380) {
    std::vector<uint8_t> s = TMeterModel(0).SettingsData();
    PqPutFloat(s, qz2::kSetNominalPhaseVoltage, phaseNominal);
    PqPutFloat(s, qz2::kSetNominalLineVoltage, lineNominal);
    return s;
}

class TPqJournal {
public:
    // A basic-record meter (model row 0) numbered `factory`.
    TPqJournal(const std::string& file, int32_t factory = 1234) {
        TjnMeter m = JournalMeter(0, factory);
        m.Model = "Каврен–QZ2";
        Ok = FWriter.Create(file, m, Error);
    }
    // Settings in force from the next record on (the scale coefficients go with the first).
    void Settings(TDateTime t, const std::vector<uint8_t>& answer) {
        if (!Ok) return;
        if (!FScaled) {
            const std::vector<uint8_t> k = FModel.ScaleData();
            Ok = FWriter.AddAnswer(TjnAnswerKind::ScaleKoeffs, t, t, k.data(), k.size(), Error);
            FScaled = true;
        }
        Ok = Ok &&
             FWriter.AddAnswer(TjnAnswerKind::Settings, t, t, answer.data(), answer.size(), Error);
        Ok = Ok && DecodeSettings(answer.data(), answer.size(), FSettings);
    }
    void Record(TDateTime t, const TPqValues& v) {
        if (!Ok) return;
        const std::vector<uint8_t> r = RecordOf(t, v);
        TmonData3sec d;
        double vs = 0, cs = 0;
        const std::vector<uint8_t> k = FModel.ScaleData();
        DecodeScaleKoeffs(k.data(), k.size(), vs, cs);
        Decode3sec(r.data(), r.size(), false, FSettings, vs, cs, d);
        d.Time = t;
        Ok = FWriter.AddRecord(t, t, r.data(), r.size(), d, Error);
    }
    // Records every 3 s from `from` (included) to `to` (excluded), all measuring `v`.
    void Records(TDateTime from, TDateTime to, const TPqValues& v) {
        for (int i = 0; from + i * 3.0 / 86400 < to - 1e-3 / 86400; ++i)
            Record(from + i * 3.0 / 86400, v);
    }
    // A stretch in which the meter did not answer, as the recorder keeps it.
    void Outage(TDateTime began, TDateTime ended, TDateTime lastMeterTime,
                const std::string& text) {
        Ok = Ok && FWriter.BeginOutage(began, lastMeterTime, 3, 0, text, Error) &&
             FWriter.EndOutage(ended, Error);
    }
    bool Close() { return Ok && (Ok = FWriter.Close(Error)); }

    // The raw record measuring `v`: the simulated meter's record with the named values put in.
    std::vector<uint8_t> RecordOf(TDateTime t, const TPqValues& v) const {
        std::vector<uint8_t> r = FModel.RecordData(t + 3.0 / 86400);
        // The harmonic magnitude unit of the simulated meter's scale coefficient: 0.01 V.
        constexpr double kUnit = 0.01;
        for (int ph = 0; ph < 3; ++ph) {
            PqPutFloat(r, qz2::PhaseUGroup(ph), v.U[ph]);
            PqPutFloat(r, qz2::PhaseUGroup(ph) + qz2::kGroupRms, v.U[ph]);
            PqPutFloat(r, qz2::LineUGroup(ph), v.ULine[ph]);
            PqPutFloat(r, qz2::LineUGroup(ph) + qz2::kGroupRms, v.ULine[ph]);
            PqPutHundredths(r, qz2::KUPhase(ph), v.KU[ph]);
            PqPutHundredths(r, qz2::KULine(ph), v.KULine[ph]);
            for (int n = 2; n <= 40; ++n) {
                const double mag = v.Harm[n] / 100 * v.U[ph] / kUnit;
                PutU16(r.data() + qz2::Harmonic(qz2::PhaseUTable(ph), n),
                       uint16_t(int16_t(std::lround(mag))));
                PutU16(r.data() + qz2::Harmonic(qz2::PhaseUTable(ph), n) + 2, 0);
            }
        }
        PqPutHundredths(r, qz2::kFrequency, v.F);
        PqPutHundredths(r, qz2::kK0, v.K0);
        PqPutHundredths(r, qz2::kK2, v.K2);
        return r;
    }

    bool Ok = false;
    std::string Error;

private:
    TjnWriter FWriter;
    TMeterModel FModel{0};
    TmonSettings FSettings;
    bool FScaled = false;
};

} // namespace qz::test
