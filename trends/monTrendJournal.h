// A recording journal as a trends source: the records of a recording, finished or going on in
// another program, with the meter's settings in force at the last record for the limit lines.
// Kept apart from the trends core so that the core needs no SQLite.
#pragma once

#include "exchange/monStorage.h"
#include "trends/monTrendSource.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qz {

// The samples of a journal, read on opening from the values the recorder stored beside each raw
// record (the decoding the exchange made of it), with the journal's outages and, for a journal
// whose recording was not finished, the journal's warning as the source's notice. A journal that
// another program is still recording (its log beside it holds records) is followed: Refresh takes
// the records added since.
class TmonTrendJournalSource : public TmonTrendMemorySource {
public:
    explicit TmonTrendJournalSource(std::string path);
    // The settings in force at the journal's last record (with no record: no limits, the
    // fourth channel as the meter's model has it).
    bool SettingsInForce(TmonSettings& out) const override;
    const TmonSettings& Settings() const { return FSettings; }
    // Records left out because their time ran back from the one before (the meter's clock was
    // set back during the recording): a trend never runs backwards.
    int64_t Skipped() const { return FSkipped; }
    // Reads the records after those read so far. False with the reader's text in `error` (the
    // file is gone, or no longer a journal this program reads).
    bool ReadNew(std::string& error, TTrendLoadProgress* progress = nullptr);
    // While the journal is being recorded: ReadNew, and the end of the following once the
    // recording has ended (the log folded back into the file). A failed read ends it too,
    // unless the recorder only held the journal for a moment.
    bool Refresh() override;

private:
    const std::string FPath;
    TmonSettings FSettings;
    int64_t FSkipped = 0;
    int64_t FLastSeq = 0;       // the newest record read
    int64_t FLastSettings = -1; // the settings answer in force at it (-1: none read yet)
    bool FBusy = false;         // the last read found the journal held by its recorder
};

// Reads every record of the journal at `path`, telling `progress` (may be null) how far it has
// come and stopping when it asks. Null with the reader's text in `error` when the file is not a
// journal this program reads (foreign, newer, truncated), its recorded settings cannot be read,
// or the load was asked to stop (kmonTrendLoadCancelled).
std::unique_ptr<TmonTrendJournalSource> LoadJournalTrend(const std::string& path,
                                                         std::string& error,
                                                         TTrendLoadProgress* progress = nullptr);

// The opener the trends window is given for "open a file" (a TTrendFileOpener).
std::unique_ptr<ITrendSource> OpenJournalTrend(const std::string& path, std::string& error,
                                               TTrendLoadProgress* progress);

// The protocol of the journal at `path` over meter times from..to as a PDF (TrendProtocolWriter's
// signature); false with a text in a build without the PDF renderer.
bool WriteJournalProtocol(const std::string& path, TDateTime from, TDateTime to,
                          const std::string& pdf, std::string& error, TTrendLoadProgress* progress);

} // namespace qz
