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

std::unique_ptr<TmonTrendJournalSource> LoadJournalTrend(const std::string& path,
                                                         std::string& error) {
    error.clear();
    TjnReader reader;
    if (reader.Open(path, error) != TjnOpenResult::Ok) return nullptr;

    auto source =
        std::make_unique<TmonTrendJournalSource>(std::filesystem::path(path).filename().string());
    // The exports' decoding: the recorded settings and scales in force for each record.
    TjnDecoder decoder(reader);
    TmonData3sec d;
    int64_t lastSettings = 0;
    bool decoded = true;
    const bool walked = reader.ForEachRecord(
        kjnAnyTimeFrom, kjnAnyTimeTo,
        [&](const TjnRecordView& r) {
            if (!decoder.Decode(r, d, error)) return decoded = false;
            if (!source->Append(TrendSampleOf(d))) ++source->FSkipped;
            lastSettings = r.SettingsId;
            return true;
        },
        error);
    if (!walked || !decoded) return nullptr;
    if (!decoder.SettingsOf(lastSettings, source->FSettings, error)) return nullptr;
    return source;
}

std::unique_ptr<ITrendSource> OpenJournalTrend(const std::string& path, std::string& error) {
    return LoadJournalTrend(path, error);
}

void InstallJournalTrendOpener() {
    TrendFileOpener = &OpenJournalTrend;
}

} // namespace qz
