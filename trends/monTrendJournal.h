// A recording journal as a trends source: the records of a finished (or crashed) recording, with
// the meter's settings in force at the last record for the limit lines. Kept apart from the trends
// core so that the core needs no SQLite.
#pragma once

#include "exchange/monStorage.h"
#include "trends/monTrendSource.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qz {

// The samples of a journal, read once on opening from the values the recorder stored beside each
// raw record (the decoding the exchange made of it); a journal opened from a file is closed.
class TmonTrendJournalSource : public TmonTrendMemorySource {
public:
    explicit TmonTrendJournalSource(std::string name);
    // The settings in force at the journal's last record (with no record: no limits, the
    // fourth channel as the meter's model has it).
    bool SettingsInForce(TmonSettings& out) const override;
    const TmonSettings& Settings() const { return FSettings; }
    // Records left out because their time ran back from the one before (the meter's clock was
    // set back during the recording): a trend never runs backwards.
    int64_t Skipped() const { return FSkipped; }

private:
    friend std::unique_ptr<TmonTrendJournalSource>
    LoadJournalTrend(const std::string& path, std::string& error, TTrendLoadProgress* progress);
    TmonSettings FSettings;
    int64_t FSkipped = 0;
};

// Reads every record of the journal at `path`, telling `progress` (may be null) how far it has
// come and stopping when it asks. Null with the reader's text in `error` when the file is not a
// journal this program reads (foreign, newer, truncated, held by a recorder), its recorded
// settings cannot be read, or the load was asked to stop (kmonTrendLoadCancelled).
std::unique_ptr<TmonTrendJournalSource> LoadJournalTrend(const std::string& path,
                                                         std::string& error,
                                                         TTrendLoadProgress* progress = nullptr);

// The opener the trends window uses for "open a file" (TrendFileOpener's signature).
std::unique_ptr<ITrendSource> OpenJournalTrend(const std::string& path, std::string& error,
                                               TTrendLoadProgress* progress);

// Makes the trends window open journal files: call once at program start.
void InstallJournalTrendOpener();

} // namespace qz
