// The recording journal: one SQLite database per recording that keeps the meter, every
// settings and scale-coefficient answer, every 3-second record and every waveform block as
// the meter sent them. The schema is described in journal/README.md.
//
// The writer commits each answer, record and block in a transaction of its own with the
// write-ahead log synced to the disk, so a killed process or a power cut loses at most the
// item being written. The reader opens a journal read-only and never changes it.
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
constexpr int32_t kjnSchemaVersion = 1;

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
    // ones in force.
    bool AddRecord(TDateTime meterTime, TDateTime localTime, const uint8_t* data, size_t size,
                   const TmonData3sec& decoded, std::string& error);
    bool AddWaveform(TDateTime meterTime, TDateTime localTime, uint8_t channelMask,
                     uint8_t sizeCode, const uint8_t* data, size_t size, std::string& error);

    // Folds the write-ahead log into the database so that the journal is one file again.
    bool Close(std::string& error);

private:
    bool Fail(const char* what, std::string& error);
    TjnDb FDb;
    TjnStmt FAnswer, FRecord, FWaveform;
    int64_t FSettingsId = 0, FScaleId = 0;
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
};

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
