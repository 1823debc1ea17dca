#include "trends/monTrendJournal.h"

#include "journal/jnJournal.h"

#include <filesystem>

namespace qz {

TmonTrendJournalSource::TmonTrendJournalSource(std::string name)
    : TmonTrendMemorySource(std::move(name), false) {}

bool TmonTrendJournalSource::SettingsInForce(TmonSettings& out) const {
    out = FSettings;
    return true;
}

namespace {

// The journal's query column of every trend quantity: the values the recorder stored from the
// exchange's decoding, so that opening a week needs no decoding of harmonic tables.
constexpr const char* kColumnOf[kmonTrendQuantityCount] = {
    "f",    "u_a",  "u_b",  "u_c",   "u_n",   "uline_ab", "uline_bc", "uline_ca", "i_a",
    "i_b",  "i_c",  "i_n",  "p_sum", "q_sum", "s_sum",    "cos_sum",  "k2",       "ku_a",
    "ku_b", "ku_c", "ku_n", "ki_a",  "ki_b",  "ki_c",     "ki_n",
};

// Records read between two looks at the progress: often enough for a smooth bar and a quick
// stop, seldom enough to cost nothing.
constexpr int64_t kProgressStep = 1024;

} // namespace

std::unique_ptr<TmonTrendJournalSource>
LoadJournalTrend(const std::string& path, std::string& error, TTrendLoadProgress* progress) {
    error.clear();
    TjnReader reader;
    if (reader.Open(path, error) != TjnOpenResult::Ok) return nullptr;
    int column[kmonTrendQuantityCount];
    for (int q = 0; q < kmonTrendQuantityCount; ++q)
        if ((column[q] = JournalColumnIndex(kColumnOf[q])) < 0) {
            error = std::string("Журнал без столбца ") + kColumnOf[q] + ": " + path;
            return nullptr;
        }
    if (progress) {
        int64_t records = 0, waveforms = 0;
        if (!reader.Counts(records, waveforms, error)) return nullptr;
        progress->Total = records;
    }

    auto source =
        std::make_unique<TmonTrendJournalSource>(std::filesystem::path(path).filename().string());
    int64_t lastSettings = 0, read = 0;
    bool cancelled = false;
    const bool walked = reader.ForEachRecordValues(
        kjnAnyTimeFrom, kjnAnyTimeTo,
        [&](const TjnRecordValuesView& r) {
            TTrendSample s;
            s.Time = r.MeterTime;
            for (int q = 0; q < kmonTrendQuantityCount; ++q)
                s.Value[q] = float(r.Values[column[q]]);
            if (!source->Append(s)) ++source->FSkipped;
            lastSettings = r.SettingsId;
            if (progress && read % kProgressStep == 0) {
                progress->Done = read;
                if (progress->Cancel) return !(cancelled = true);
            }
            ++read;
            return true;
        },
        error);
    if (!walked) return nullptr;
    if (cancelled) {
        error = kmonTrendLoadCancelled;
        return nullptr;
    }
    if (progress) progress->Done = read;
    // The limit lines: the recorded settings in force at the last record.
    TjnDecoder decoder(reader);
    if (!decoder.SettingsOf(lastSettings, source->FSettings, error)) return nullptr;
    return source;
}

std::unique_ptr<ITrendSource> OpenJournalTrend(const std::string& path, std::string& error,
                                               TTrendLoadProgress* progress) {
    return LoadJournalTrend(path, error, progress);
}

void InstallJournalTrendOpener() {
    TrendFileOpener = &OpenJournalTrend;
}

} // namespace qz
