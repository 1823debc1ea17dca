#include "report/rpJournals.h"

#include "journal/jnSeries.h"
#include "protocol/QZ2Models.h"
#include "report/rpLimitsFile.h"

#include <algorithm>
#include <cstdint>

namespace qz {

bool AssessJournals(const std::vector<std::string>& files, const TrpReadOptions& options,
                    TrpAssessment& out, TrpSource& source, std::string& error) {
    TjnSeries series;
    if (!series.Open(files, error)) return false;
    int64_t total = 0, waveforms = 0;
    if (!series.Counts(total, waveforms, error)) return false;
    source = TrpSource();
    source.Meter = series.Meter();
    for (size_t i = 0; i < series.Size(); ++i)
        source.Files.push_back(series.FileName(i));
    if (!series.ForEachOutage(
            [&](size_t, const TjnOutageView& o) {
                source.PollOutages.push_back({o.Began, o.Ended, o.LastMeterTime, o.Text});
                return true;
            },
            error))
        return false;

    TrpAggregator aggregator(options.IntervalSeconds);
    TmonData3sec d;
    TmonSettings meterSettings, settings;
    const bool extended = ModelHasNeutral(source.Meter.ModelIndex);
    // The settings in force come from each journal's decoder; the scale coefficients are
    // looked up here because the records are decoded without the harmonic angles, which the
    // assessment has no use for and which cost most of a decoding's time. Answer ids belong to
    // their journal: the caches start again with each.
    size_t journal = SIZE_MAX;
    int64_t settingsId = -1, scaleId = -1, done = 0;
    double voltageScale = 0, currentScale = 0;
    bool stopped = false, failed = false;
    std::string stepError;
    const bool walked = series.ForEachRecord(
        options.From, options.To,
        [&](size_t i, const TjnRecordView& r) {
            if (i != journal) {
                journal = i;
                settingsId = scaleId = -1;
            }
            if (r.SettingsId != settingsId) {
                if (!series.Decoder(i).SettingsOf(r.SettingsId, meterSettings, stepError))
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
                    if (!series.Journal(i).LoadAnswer(r.ScaleId, kind, data, stepError))
                        return !(failed = true);
                    if (kind == TjnAnswerKind::ScaleKoeffs)
                        DecodeScaleKoeffs(data.data(), data.size(), voltageScale, currentScale);
                }
                scaleId = r.ScaleId;
            }
            if (Decode3sec(r.Data, r.Size, extended, meterSettings, voltageScale, currentScale, d,
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
        error =
            (journal < series.Size() ? series.FileName(journal) + ": " : std::string()) + stepError;
        return false;
    }
    if (stopped) {
        error = "Оценка остановлена";
        return false;
    }
    out = aggregator.Finish();
    return true;
}

} // namespace qz
