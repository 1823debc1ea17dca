// A long recording as a series of journals of one meter: the recorder that starts a new
// journal at each of the meter's midnights (or Mondays), the names of the files, and the
// reader that takes several journals of one meter as one recording in time order.
#pragma once

#include "journal/jnJournal.h"
#include "journal/jnRecorder.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qz {

// The file name of a journal: "<model code>_<factory number>_<yyyy-mm-dd_hh-mm-ss>.db" in
// ASCII ("qz2m_1234_2026-12-08_14-23-11.db"), the model code being the command-line name of
// the model ("qz" for an unknown model); `attempt` > 1 adds "_<attempt>" (a name taken).
std::string JournalFileName(int modelIndex, int32_t factoryNumber, TDateTime start,
                            int attempt = 1);

// How often a series starts a new journal: at the meter's midnight, or at its Monday 00:00.
enum class TjnRotation { Day, Week };
// "day" or "week"; false for anything else.
bool ParseRotation(const std::string& text, TjnRotation& out);
// The start of the day or week that holds `meterTime`, and the start of the next one.
TDateTime RotationStart(TDateTime meterTime, TjnRotation rotation);
TDateTime RotationEnd(TDateTime meterTime, TjnRotation rotation);

// Holds the journal a rotating recorder writes (it must exist before the recorder).
struct TjnCurrentWriter {
    std::unique_ptr<TjnWriter> Current = std::make_unique<TjnWriter>();
};

// A recorder that writes a series of journals into one folder: the first starts with the
// recording, named by its local start time; each record whose meter time lies in a later day
// (week) than the journal's first record starts the next one, named by that day's
// (week's) start, and receives the answers in force first, so that each journal decodes on
// its own. The switch happens between two items under the recorder's lock: no record is lost
// or stored twice. The journal left is closed (finished) at the switch. Everything else is
// TjnRecorder's: OnFailure, Now, BeginOutage, Records, Error.
class TjnRotatingRecorder : private TjnCurrentWriter, public TjnRecorder {
public:
    TjnRotatingRecorder(TmonSharedStorage& storage, IExchangeListener* next);
    ~TjnRotatingRecorder() override;

    // Makes the folder when it is missing and creates the first journal in it, for `meter`
    // (its Started time names the file; a name taken gets the next free suffix). False with
    // the operator's text.
    bool Start(const std::string& folder, const TjnMeter& meter, TjnRotation rotation,
               std::string& error);
    // TjnWriter::SetCommitInterval of every journal of the series (set before Start).
    void SetCommitInterval(double seconds) { Current->SetCommitInterval(seconds); }
    // Closes the journal being written (the exchange threads must have stopped). False with
    // the reason in `error`.
    bool Close(std::string& error);
    // The journal being written (or the last one), and every journal of the series so far.
    std::string FileName() const;
    std::vector<std::string> Files() const;

protected:
    bool BeforeItem(TDateTime meterTime, std::string& error) override;

private:
    bool CreateJournal(TDateTime start, TjnWriter& writer, std::string& fileName,
                       std::string& error);
    std::string FFolder;
    TjnMeter FMeter;
    TjnRotation FRotation = TjnRotation::Day;
    TDateTime FPeriodEnd = 0; // meter time at which the next journal starts (0: not yet known)
    std::vector<std::string> FFiles;
};

// Several journals of one meter read as one recording, in time order: the journals are
// ordered by their first record (one without records by its start) and each walk goes
// through them in that order. Each item comes with the index of its journal; answer ids,
// record numbers and the decoding belong to that journal (Decoder(i)).
class TjnSeries {
public:
    // Opens every file read-only. False with the operator's text when one cannot be read,
    // a file is given twice, or the journals are of different meters (the text names both).
    bool Open(const std::vector<std::string>& files, std::string& error);

    size_t Size() const { return FJournals.size(); }
    TjnReader& Journal(size_t i) { return FJournals[i]->Reader; }
    const std::string& FileName(size_t i) const { return FJournals[i]->FileName; }
    TjnDecoder& Decoder(size_t i) { return *FJournals[i]->Decoder; }
    // The meter as the first journal names it (the same meter in all of them).
    const TjnMeter& Meter() const { return FJournals.front()->Reader.Meter(); }

    bool Counts(int64_t& records, int64_t& waveforms, std::string& error);
    // Meter times of the first and the last record of all (false when there is none).
    bool RecordSpan(TDateTime& first, TDateTime& last, std::string& error);

    using TRecordFn = std::function<bool(size_t journal, const TjnRecordView&)>;
    using TValuesFn = std::function<bool(size_t journal, const TjnRecordValuesView&)>;
    using TTimeFn = std::function<bool(size_t journal, int64_t seq, TDateTime meterTime)>;
    using TWaveformFn = std::function<bool(size_t journal, const TjnWaveformView&)>;
    using TOutageFn = std::function<bool(size_t journal, const TjnOutageView&)>;
    using TAnswerFn = std::function<bool(size_t journal, const TjnAnswerView&)>;
    // As the TjnReader walks of the same names, journal after journal; a callback returning
    // false ends the whole walk.
    bool ForEachRecord(TDateTime from, TDateTime to, const TRecordFn& f, std::string& error);
    bool ForEachRecordValues(TDateTime from, TDateTime to, const TValuesFn& f, std::string& error);
    bool ForEachRecordTime(const TTimeFn& f, std::string& error);
    bool ForEachWaveform(TDateTime from, TDateTime to, const TWaveformFn& f, std::string& error);
    bool ForEachOutage(const TOutageFn& f, std::string& error);
    bool ForEachAnswer(const TAnswerFn& f, std::string& error);

private:
    struct TJournal {
        TjnReader Reader;
        std::string FileName;
        TDateTime OrderTime = 0;
        std::unique_ptr<TjnDecoder> Decoder; // made once the journal is open
    };
    // Runs `walk(i, stop)` on each journal in order until one fails or sets `stop`.
    template <class Walk> bool Each(Walk walk);
    std::vector<std::unique_ptr<TJournal>> FJournals;
};

} // namespace qz
