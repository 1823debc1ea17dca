// The recording journal: one SQLite database per recording that keeps the meter, every
// settings and scale-coefficient answer, every 3-second record and every waveform block as
// the meter sent them. The schema is described in journal/README.md.
//
// The writer commits each answer, record and block in a transaction of its own with the
// write-ahead log synced to the disk, so a killed process or a power cut loses at most the
// item being written. It also keeps the outages of the recording (the stretches the meter did
// not answer) and marks the journal as finished when it closes it. The reader opens a journal
// read-only and never changes it; it reads every schema version up to its own.
#pragma once

#include "common/DateTime.h"
#include "exchange/monStorage.h"
#include "journal/jnSqlite.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qz {

// PRAGMA application_id of our journals ("QZJN") and the schema version (PRAGMA user_version)
// this program writes and reads.
constexpr int32_t kjnApplicationId = 0x515A4A4E;
// Version 2 added the outage table, the meter row's `closed` time and the smaller pages;
// version 1 journals are read as they are (no outages; finished when their log was folded back).
constexpr int32_t kjnSchemaVersion = 2;

// The page size of the journals this program writes (journals of any page size are read).
constexpr int32_t kjnPageSize = 512;

// The meter and the recording, as kept in the journal's single meter row.
struct TjnMeter {
    int32_t DeviceType = -1; // value of the connection model's device type
    int32_t ModelIndex = -1; // row 0..5 of the QZ2 model table
    std::string Model;       // display name of the device type
    int32_t FactoryNumber = 0;
    int32_t Address = 0;
    std::string Connection; // how the meter was reached, as the operator reads it
    std::string ProgramVersion;
    TDateTime Started = 0; // this computer's local time when the recording began
};

// Answers kept as they were read. The time parameters are kept when they led to a settings
// read: their change flag and change time are what a replay has to announce.
enum class TjnAnswerKind : int32_t { TimeParams = 1, Settings = 2, ScaleKoeffs = 3 };

struct TjnAnswerView {
    int64_t Id = 0;
    TjnAnswerKind Kind = TjnAnswerKind::Settings;
    TDateTime MeterTime = 0; // the meter's time of the cycle that read it
    TDateTime LocalTime = 0;
    const uint8_t* Data = nullptr; // valid during the callback only
    size_t Size = 0;
};

struct TjnRecordView {
    int64_t Seq = 0;
    TDateTime MeterTime = 0; // the record's own time (answer header time less 3 s)
    TDateTime LocalTime = 0; // when this computer received it
    int64_t SettingsId = 0;  // the settings and scale answers in force (0: none)
    int64_t ScaleId = 0;
    const uint8_t* Data = nullptr; // the record's data field; valid during the callback only
    size_t Size = 0;
};

struct TjnWaveformView {
    int64_t Id = 0;
    TDateTime MeterTime = 0; // the answer header's time
    TDateTime LocalTime = 0;
    int64_t SettingsId = 0;
    uint8_t ChannelMask = 0;
    uint8_t SizeCode = 0;
    const uint8_t* Data = nullptr; // valid during the callback only
    size_t Size = 0;
};

// A stretch during which the meter was not read: from the failed exchange to the next record
// stored (or to the end of the recording).
struct TjnOutageView {
    int64_t Id = 0;
    TDateTime Began = 0;         // local time of the failure
    TDateTime Ended = 0;         // local time of the next record, or of the close; 0: open
    TDateTime LastMeterTime = 0; // meter time of the last record before it (0: none)
    int32_t Code = 0;            // the exchange's error code and the meter's status
    int32_t Status = 0;
    std::string Text; // the error as the operator read it
    bool HasEnd() const { return Ended != 0; }
};

// The decoded query columns of a record (journal/README.md), as the recorder stored them from
// the exchange's decoding of the record. A value that was not a number is stored as NULL and
// read back as a quiet NaN.
struct TjnRecordValuesView {
    int64_t Seq = 0;
    TDateTime MeterTime = 0;
    int64_t SettingsId = 0;
    const double* Values = nullptr; // JournalColumnCount() values; valid during the callback only
};

// The query columns: their number and the position of a column by its name (-1: no such).
int JournalColumnCount();
int JournalColumnIndex(const std::string& name);
const char* JournalColumnName(int index);

class TjnWriter {
public:
    TjnWriter() = default;
    ~TjnWriter();
    TjnWriter(const TjnWriter&) = delete;
    TjnWriter& operator=(const TjnWriter&) = delete;

    // Creates a new journal at `fileName` (mode 0666 less the umask) and writes the meter
    // row. A file that exists already is never touched: false with the reason in `error`.
    bool Create(const std::string& fileName, const TjnMeter& meter, std::string& error);
    bool IsOpen() const { return FDb.IsOpen(); }

    // Each call is one committed transaction. False with the reason in `error`.
    bool AddAnswer(TjnAnswerKind kind, TDateTime meterTime, TDateTime localTime,
                   const uint8_t* data, size_t size, std::string& error);
    // `decoded` gives the query columns; the settings and scale answers last added are the
    // ones in force. A record ends an open outage at its local time, in the same transaction.
    bool AddRecord(TDateTime meterTime, TDateTime localTime, const uint8_t* data, size_t size,
                   const TmonData3sec& decoded, std::string& error);
    bool AddWaveform(TDateTime meterTime, TDateTime localTime, uint8_t channelMask,
                     uint8_t sizeCode, const uint8_t* data, size_t size, std::string& error);

    // An outage begins: the exchange failed and polling will be tried again. `lastMeterTime`
    // is the meter time of the last record stored (0: none). While one is open, another
    // failure continues it (true, nothing written).
    bool BeginOutage(TDateTime began, TDateTime lastMeterTime, int32_t code, int32_t status,
                     const std::string& text, std::string& error);
    // Ends the open outage at `ended`; true and nothing written when none is open.
    bool EndOutage(TDateTime ended, std::string& error);
    bool InOutage() const { return FOutageId != 0; }

    // The log is folded back into the file at most this often while recording, so that the
    // file copied alone misses at most that stretch (0: after every item).
    void SetCheckpointInterval(double seconds) { FCheckpointSeconds = seconds; }
    // Items are gathered into one transaction for at most this long before it commits (0, the
    // default: each item commits, synced to the disk, before its call returns). Gathering
    // writes the disk several times less, and a power cut loses the items gathered since the
    // last commit. The beginning of an outage, the close and a failure commit at once.
    void SetCommitInterval(double seconds) { FCommitSeconds = seconds; }
    double CommitInterval() const { return FCommitSeconds; }

    // Ends an open outage at the close time, marks the journal as finished and folds the
    // write-ahead log into the database so that the journal is one file again. `closedAt` is
    // this computer's time of the close (0: now).
    bool Close(std::string& error) { return Close(0, error); }
    bool Close(TDateTime closedAt, std::string& error);
    const std::string& FileName() const { return FFileName; }

private:
    bool Fail(const char* what, std::string& error);
    bool Step(TjnStmt& s, const char* what, std::string& error);
    bool UpdateOutageEnd(TDateTime ended, const char* what, std::string& error);
    void CheckpointNow(bool due);
    bool OpenItem(bool several, const char* what, std::string& error);
    bool EndItem(bool ok, bool several, const char* what, std::string& error);
    bool CommitGroup(const char* what, std::string& error);
    TjnDb FDb;
    TjnStmt FAnswer, FRecord, FWaveform, FOutageBegin, FOutageEnd;
    int64_t FSettingsId = 0, FScaleId = 0, FOutageId = 0;
    double FCheckpointSeconds = 60;
    double FLastCheckpoint = 0; // seconds of the steady clock
    double FCommitSeconds = 0;
    bool FInGroup = false;
    double FGroupStarted = 0; // seconds of the steady clock
    std::string FFileName;
};

// Why a journal could not be opened.
enum class TjnOpenResult { Ok, NotFound, CannotOpen, NotJournal, NewerSchema, Damaged, Locked };

class TjnReader {
public:
    // Opens read-only and checks that the file is one of our journals, of a schema this
    // program knows and complete (a journal being recorded is read as far as it is written).
    // `error` gets the operator's text.
    TjnOpenResult Open(const std::string& fileName, std::string& error);
    const TjnMeter& Meter() const { return FMeter; }

    // The schema version of the file (1 or 2).
    int32_t Version() const { return FVersion; }
    // True when the recording did not finish: the program recording it was stopped without
    // closing it (killed, a power cut) or is still recording. Its last items may be only in
    // the log beside it, LogFileName(); a copy of the file without the log lacks them.
    bool Unfinished() const { return FUnfinished; }
    std::string LogFileName() const { return FFileName + "-wal"; }
    bool HasLog() const { return FHasLog; }
    // The local time of the clean close (0: not closed, or a version 1 journal).
    TDateTime Closed() const { return FClosed; }

    // Summary figures.
    bool Counts(int64_t& records, int64_t& waveforms, std::string& error);
    // Meter times of the first and the last record (false when there is none).
    bool RecordSpan(TDateTime& first, TDateTime& last, std::string& error);

    // Walk in recorded order; a callback returning false ends the walk (not a failure).
    // Records and blocks are limited to meter times from..to (inclusive).
    bool ForEachAnswer(const std::function<bool(const TjnAnswerView&)>& f, std::string& error);
    bool ForEachRecord(TDateTime from, TDateTime to,
                       const std::function<bool(const TjnRecordView&)>& f, std::string& error);
    bool ForEachWaveform(TDateTime from, TDateTime to,
                         const std::function<bool(const TjnWaveformView&)>& f, std::string& error);
    // The query columns of the records without their raw data: what a reader needs that has no
    // use for the harmonic tables (the trends), at a fraction of a decoding's cost. Only the
    // records after `afterSeq`: the way to follow a journal that is being recorded.
    bool ForEachRecordValues(TDateTime from, TDateTime to,
                             const std::function<bool(const TjnRecordValuesView&)>& f,
                             std::string& error, int64_t afterSeq = 0);
    // Only the record times, in recorded order: cheap enough for a week's journal.
    bool ForEachRecordTime(const std::function<bool(int64_t seq, TDateTime meterTime)>& f,
                           std::string& error);
    // The outages in recorded order (none in a version 1 journal).
    bool ForEachOutage(const std::function<bool(const TjnOutageView&)>& f, std::string& error);
    // One answer by its id (its bytes copied).
    bool LoadAnswer(int64_t id, TjnAnswerKind& kind, std::vector<uint8_t>& data,
                    std::string& error);

    // For readers with queries of their own (the replay); the connection is read-only.
    const TjnDb& Db() const { return FDb; }
    // The operator's text for a failed step.
    bool StepError(int rc, std::string& error) const;
    // Why the opening or the last failed step failed (Locked: the recorder held the journal
    // for a moment, as when it folds its log back; worth another try).
    TjnOpenResult LastFailure() const { return FFailure; }

private:
    mutable TjnOpenResult FFailure = TjnOpenResult::Ok;
    TjnDb FDb;
    TjnMeter FMeter;
    std::string FFileName;
    int32_t FVersion = 0;
    bool FUnfinished = false, FHasLog = false;
    TDateTime FClosed = 0;
};

// The warning about a journal whose recording did not finish, naming the log that holds its
// last records ("" for a finished journal).
std::string UnfinishedText(const TjnReader& journal);
// What a reader tells about a damaged journal: the command that saves what is left of it.
std::string SalvageAdvice(const std::string& fileName);

// The widest range of meter times, for walks without limits.
constexpr TDateTime kjnAnyTimeFrom = -1e9;
constexpr TDateTime kjnAnyTimeTo = 1e9;

// The settings and scales in force for the records of a walk: the answers by id, decoded
// once each time they change.
class TjnDecoder {
public:
    explicit TjnDecoder(TjnReader& reader);
    // Decodes a record as the exchange did: the recorded settings and scales in force, the
    // model's record layout. False when its settings cannot be loaded or the record is short.
    bool Decode(const TjnRecordView& record, TmonData3sec& out, std::string& error);
    // The settings in force for an answer id (HasNeutral set from the model).
    bool SettingsOf(int64_t settingsId, TmonSettings& out, std::string& error);

private:
    TjnReader& FReader;
    bool FExtended;
    int64_t FSettingsId = -1, FScaleId = -1;
    TmonSettings FSettings;
    double FVoltageScale = 0, FCurrentScale = 0;
};

} // namespace qz
