#include "report/rpJournals.h"

#include "protocol/QZ2Models.h"
#include "report/rpLimitsFile.h"

#include <algorithm>
#include <memory>

namespace qz {

bool AssessJournals(const std::vector<std::string>& files, const TrpReadOptions& options,
                    TrpAssessment& out, TrpSource& source, std::string& error) {
    if (files.empty()) {
        error = "Не задан ни один журнал";
        return false;
    }
    struct TOpened {
        std::string File;
        std::unique_ptr<TjnReader> Reader;
        TDateTime First = 0;
        int64_t Records = 0;
    };
    std::vector<TOpened> journals;
    int64_t total = 0;
    for (const std::string& f : files) {
        TOpened j{f, std::make_unique<TjnReader>()};
        if (j.Reader->Open(f, error) != TjnOpenResult::Ok) return false;
        TDateTime last = 0;
        int64_t waveforms = 0;
        if (!j.Reader->Counts(j.Records, waveforms, error)) return false;
        if (!j.Reader->RecordSpan(j.First, last, error) && !error.empty()) return false;
        total += j.Records;
        journals.push_back(std::move(j));
    }
    std::stable_sort(journals.begin(), journals.end(),
                     [](const TOpened& a, const TOpened& b) { return a.First < b.First; });
    const TjnMeter& meter = journals.front().Reader->Meter();
    for (const TOpened& j : journals) {
        const TjnMeter& m = j.Reader->Meter();
        if (m.ModelIndex != meter.ModelIndex || m.FactoryNumber != meter.FactoryNumber) {
            error = "Журналы записаны с разных измерителей: " + journals.front().File + " (" +
                    meter.Model + ", № " + std::to_string(meter.FactoryNumber) + ") и " + j.File +
                    " (" + m.Model + ", № " + std::to_string(m.FactoryNumber) + ")";
            return false;
        }
    }
    source = TrpSource();
    source.Meter = meter;
    for (const TOpened& j : journals)
        source.Files.push_back(j.File);

    TrpAggregator aggregator(options.IntervalSeconds);
    TmonData3sec d;
    TmonSettings meterSettings, settings;
    const bool extended = ModelHasNeutral(meter.ModelIndex);
    int64_t done = 0;
    bool stopped = false, failed = false;
    for (TOpened& j : journals) {
        // The settings in force come from the journal's decoder; the scale coefficients are
        // looked up here because the records are decoded without the harmonic angles, which
        // the assessment has no use for and which cost most of a decoding's time.
        TjnDecoder decoder(*j.Reader);
        int64_t settingsId = -1, scaleId = -1;
        double voltageScale = 0, currentScale = 0;
        std::string stepError;
        const bool walked = j.Reader->ForEachRecord(
            options.From, options.To,
            [&](const TjnRecordView& r) {
                if (r.SettingsId != settingsId) {
                    if (!decoder.SettingsOf(r.SettingsId, meterSettings, stepError))
                        return !(failed = true);
                    settings = meterSettings;
                    if (options.Limits) ApplyLimits(*options.Limits, settings);
                    settingsId = r.SettingsId;
                }
                if (r.ScaleId != scaleId) {
                    voltageScale = currentScale = 0;
                    TjnAnswerKind kind;
                    std::vector<uint8_t> data;
                    if (r.ScaleId != 0) {
                        if (!j.Reader->LoadAnswer(r.ScaleId, kind, data, stepError))
                            return !(failed = true);
                        if (kind == TjnAnswerKind::ScaleKoeffs)
                            DecodeScaleKoeffs(data.data(), data.size(), voltageScale, currentScale);
                    }
                    scaleId = r.ScaleId;
                }
                if (Decode3sec(r.Data, r.Size, extended, meterSettings, voltageScale, currentScale,
                               d,
                               TmonDecodeDepth::NoHarmonicAngles) == TmonDecodeResult::TooShort) {
                    stepError = "запись " + std::to_string(r.Seq) + " короче своего формата";
                    return !(failed = true);
                }
                aggregator.Add(r.MeterTime, d, settings);
                if (options.Progress && (++done & 1023) == 0 &&
                    !options.Progress(double(done) / double(std::max<int64_t>(total, 1))))
                    return !(stopped = true);
                return true;
            },
            stepError);
        if (!walked || failed) {
            error = j.File + ": " + stepError;
            return false;
        }
        if (stopped) {
            error = "Оценка остановлена";
            return false;
        }
    }
    out = aggregator.Finish();
    return true;
}

} // namespace qz
