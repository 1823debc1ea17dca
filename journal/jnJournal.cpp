#include "journal/jnJournal.h"

#include "common/SystemErrorText.h"
#include "journal/jnAlignedVfs.h"

#include "protocol/QZ2Models.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace qz {
namespace {

// The query columns of a record: the main decoded values, so that a journal can be searched
// with SQL without decoding the raw data again.
struct TjnColumn {
    const char* Name;
    double (*Get)(const TmonData3sec&);
};

#define QZ_COL(name, expr)                                                                         \
    {                                                                                              \
        name, [](const TmonData3sec& d) -> double { return expr; }                                 \
    }
const TjnColumn kColumns[] = {
    QZ_COL("f", d.F),
    QZ_COL("u_a", d.U[phA]),
    QZ_COL("u_b", d.U[phB]),
    QZ_COL("u_c", d.U[phC]),
    QZ_COL("u_n", d.U[phN]),
    QZ_COL("i_a", d.I[phA]),
    QZ_COL("i_b", d.I[phB]),
    QZ_COL("i_c", d.I[phC]),
    QZ_COL("i_n", d.I[phN]),
    QZ_COL("uline_ab", d.ULine[lnAB]),
    QZ_COL("uline_bc", d.ULine[lnBC]),
    QZ_COL("uline_ca", d.ULine[lnCA]),
    QZ_COL("p_a", d.P[pwA]),
    QZ_COL("p_b", d.P[pwB]),
    QZ_COL("p_c", d.P[pwC]),
    QZ_COL("p_sum", d.P[pwSum]),
    QZ_COL("p_n", d.P[pwN]),
    QZ_COL("q_a", d.Q[pwA]),
    QZ_COL("q_b", d.Q[pwB]),
    QZ_COL("q_c", d.Q[pwC]),
    QZ_COL("q_sum", d.Q[pwSum]),
    QZ_COL("q_n", d.Q[pwN]),
    QZ_COL("s_a", d.S[pwA]),
    QZ_COL("s_b", d.S[pwB]),
    QZ_COL("s_c", d.S[pwC]),
    QZ_COL("s_sum", d.S[pwSum]),
    QZ_COL("s_n", d.S[pwN]),
    QZ_COL("cos_a", d.CosPhi[pwA]),
    QZ_COL("cos_b", d.CosPhi[pwB]),
    QZ_COL("cos_c", d.CosPhi[pwC]),
    QZ_COL("cos_sum", d.CosPhi[pwSum]),
    QZ_COL("cos_n", d.CosPhi[pwN]),
    QZ_COL("k0", d.K0),
    QZ_COL("k2", d.K2),
    QZ_COL("ku_a", d.KU[phA]),
    QZ_COL("ku_b", d.KU[phB]),
    QZ_COL("ku_c", d.KU[phC]),
    QZ_COL("ku_n", d.KU[phN]),
    QZ_COL("ki_a", d.KI(phA)),
    QZ_COL("ki_b", d.KI(phB)),
    QZ_COL("ki_c", d.KI(phC)),
    QZ_COL("ki_n", d.KI(phN)),
};
#undef QZ_COL
constexpr int kColumnCount = int(sizeof kColumns / sizeof kColumns[0]);

std::string ColumnList(const char* suffix) {
    std::string s;
    for (const TjnColumn& c : kColumns) {
        s += ", ";
        s += c.Name;
        s += suffix;
    }
    return s;
}

// The indexes on the meter times are made when the recording closes: kept up to date while
// recording they would add a page to every commit, as much again as a record's own pages.
// A journal being recorded (or cut off) is read without them, by its row order.
const char* const kIndexSql = "CREATE INDEX IF NOT EXISTS record_meter_time ON record (meter_time);"
                              "CREATE INDEX IF NOT EXISTS waveform_meter_time ON waveform "
                              "(meter_time);";

std::string SchemaSql() {
    // The decoded values come before the raw data: a reader of the values alone (the trends)
    // then finds them at the start of the row, in the page that holds it, and leaves the pages
    // of the raw bytes unread.
    return "CREATE TABLE meter ("
           " id INTEGER PRIMARY KEY CHECK (id = 1),"
           " device_type INTEGER NOT NULL, model_index INTEGER NOT NULL, model TEXT NOT NULL,"
           " factory_number INTEGER NOT NULL, address INTEGER NOT NULL,"
           " connection TEXT NOT NULL, program_version TEXT NOT NULL, started REAL NOT NULL,"
           " closed REAL);"
           "CREATE TABLE answer ("
           " id INTEGER PRIMARY KEY, kind INTEGER NOT NULL,"
           " meter_time REAL NOT NULL, local_time REAL NOT NULL, data BLOB NOT NULL);"
           "CREATE TABLE record ("
           " seq INTEGER PRIMARY KEY, meter_time REAL NOT NULL, local_time REAL NOT NULL,"
           " settings_id INTEGER NOT NULL, scale_id INTEGER NOT NULL" +
           ColumnList(" REAL") +
           ", data BLOB NOT NULL);"
           "CREATE TABLE waveform ("
           " id INTEGER PRIMARY KEY, meter_time REAL NOT NULL, local_time REAL NOT NULL,"
           " settings_id INTEGER NOT NULL, channel_mask INTEGER NOT NULL,"
           " size_code INTEGER NOT NULL, data BLOB NOT NULL);"
           "CREATE TABLE outage ("
           " id INTEGER PRIMARY KEY, began REAL NOT NULL, ended REAL, last_meter_time REAL,"
           " code INTEGER NOT NULL, status INTEGER NOT NULL, text TEXT NOT NULL);";
}

} // namespace

int JournalColumnCount() {
    return kColumnCount;
}

const char* JournalColumnName(int index) {
    return index >= 0 && index < kColumnCount ? kColumns[index].Name : "";
}

int JournalColumnIndex(const std::string& name) {
    for (int c = 0; c < kColumnCount; ++c)
        if (name == kColumns[c].Name) return c;
    return -1;
}

namespace {

std::string Placeholders(int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += i ? ", ?" : "?";
    return s;
}

bool Done(int rc) {
    return rc == SQLITE_DONE || rc == SQLITE_OK;
}

double SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TjnWriter

TjnWriter::~TjnWriter() {
    std::string ignored;
    if (FDb.IsOpen()) Close(ignored);
}

bool TjnWriter::Fail(const char* what, std::string& error) {
    error = std::string(what) + ": " + FDb.ErrorText();
    return false;
}

bool TjnWriter::Create(const std::string& fileName, const TjnMeter& meter, std::string& error) {
    // The file is made here, exclusively, so that an existing file (another recording, or
    // anything else) is never opened for writing.
    const int fd = open(fileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = errno == EEXIST
                    ? "Файл уже существует, журнал не перезаписывается: " + fileName
                    : "Не удалось создать файл журнала " + fileName + ": " + SystemErrorText(errno);
        return false;
    }
    close(fd);
    FFileName = fileName;
    FOutageId = 0;
    FSettingsId = FScaleId = 0;
    FInGroup = false;
    auto undo = [&](const char* what) {
        Fail(what, error);
        FAnswer = TjnStmt();
        FRecord = TjnStmt();
        FWaveform = TjnStmt();
        FOutageBegin = TjnStmt();
        FOutageEnd = TjnStmt();
        FDb.Close();
        unlink(fileName.c_str()); // ours and still empty of records
        return false;
    };
    // Written through the layer that ends each commit of the log on a 4 KiB boundary.
    if (FDb.Open(fileName, SQLITE_OPEN_READWRITE, AlignedCommitVfs()) != SQLITE_OK)
        return undo("Не удалось открыть журнал");
    // The schema is written in the rollback mode first, so that the file carries its header
    // and tables even when the process dies before the log is ever folded in.
    const std::string setup = "PRAGMA page_size = " + std::to_string(kjnPageSize) +
                              "; PRAGMA application_id = " + std::to_string(kjnApplicationId) +
                              "; PRAGMA user_version = " + std::to_string(kjnSchemaVersion) +
                              "; PRAGMA synchronous = FULL; BEGIN; " + SchemaSql();
    if (FDb.Exec(setup.c_str()) != SQLITE_OK) return undo("Не удалось создать журнал");
    TjnStmt m;
    m.Prepare(FDb, "INSERT INTO meter VALUES (1, ?, ?, ?, ?, ?, ?, ?, ?, NULL)");
    m.Bind(1, int64_t(meter.DeviceType));
    m.Bind(2, int64_t(meter.ModelIndex));
    m.Bind(3, meter.Model);
    m.Bind(4, int64_t(meter.FactoryNumber));
    m.Bind(5, int64_t(meter.Address));
    m.Bind(6, meter.Connection);
    m.Bind(7, meter.ProgramVersion);
    m.Bind(8, meter.Started);
    if (!Done(m.Step()) || FDb.Exec("COMMIT") != SQLITE_OK)
        return undo("Не удалось записать журнал");
    m = TjnStmt();
    // From now on only this process writes it, every commit synced to the disk; other
    // programs may read it meanwhile (the log lets them see every committed record). The log
    // is folded back by the writer itself, on its own schedule (CheckpointNow).
    if (FDb.Exec("PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;"
                 " PRAGMA wal_autocheckpoint = 0; BEGIN IMMEDIATE; COMMIT;") != SQLITE_OK)
        return undo("Не удалось открыть журнал для записи");
    const std::string rec = "INSERT INTO record (meter_time, local_time, settings_id, scale_id, "
                            "data" +
                            ColumnList("") + ") VALUES (" + Placeholders(5 + kColumnCount) + ")";
    if (FAnswer.Prepare(FDb, "INSERT INTO answer (kind, meter_time, local_time, data) "
                             "VALUES (?, ?, ?, ?)") != SQLITE_OK ||
        FRecord.Prepare(FDb, rec.c_str()) != SQLITE_OK ||
        FWaveform.Prepare(FDb, "INSERT INTO waveform (meter_time, local_time, settings_id, "
                               "channel_mask, size_code, data) VALUES (?, ?, ?, ?, ?, ?)") !=
            SQLITE_OK ||
        FOutageBegin.Prepare(FDb, "INSERT INTO outage (began, last_meter_time, code, status, "
                                  "text) VALUES (?, ?, ?, ?, ?)") != SQLITE_OK ||
        FOutageEnd.Prepare(FDb, "UPDATE outage SET ended = ? WHERE id = ?") != SQLITE_OK)
        return undo("Не удалось подготовить журнал");
    FLastCheckpoint = SteadySeconds();
    return true;
}

bool TjnWriter::Step(TjnStmt& s, const char* what, std::string& error) {
    const int rc = s.Step();
    const bool ok = Done(rc);
    if (!ok) Fail(what, error);
    s.Reset();
    return ok;
}

void TjnWriter::CheckpointNow(bool due) {
    // A passive fold: it copies what no reader still needs and never waits for one. A
    // failure costs nothing but a longer log: every item stays committed in it.
    const double now = SteadySeconds();
    if (!due && now - FLastCheckpoint < FCheckpointSeconds) return;
    FLastCheckpoint = now;
    sqlite3_wal_checkpoint_v2(FDb.Handle(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
}

// An item is one transaction of its own, or a part of the gathered group. An item of several
// statements is also a savepoint, so that it is kept whole or not at all either way.
bool TjnWriter::OpenItem(bool several, const char* what, std::string& error) {
    if (!FDb.IsOpen()) return Fail("Журнал не открыт", error);
    if (FCommitSeconds > 0 && !FInGroup) {
        if (FDb.Exec("BEGIN IMMEDIATE") != SQLITE_OK) return Fail(what, error);
        FInGroup = true;
        FGroupStarted = SteadySeconds();
    }
    if (several && FDb.Exec("SAVEPOINT item") != SQLITE_OK) return Fail(what, error);
    return true;
}

bool TjnWriter::EndItem(bool ok, bool several, const char* what, std::string& error) {
    if (several) {
        if (!ok) FDb.Exec("ROLLBACK TO item");
        // Outside a group the release is the commit.
        if (FDb.Exec("RELEASE item") != SQLITE_OK && ok) ok = Fail(what, error);
    }
    if (FInGroup) {
        // A failed item is undone alone; the items gathered before it are committed now.
        std::string ignored;
        if (!ok)
            CommitGroup(what, ignored);
        else if (SteadySeconds() - FGroupStarted >= FCommitSeconds)
            ok = CommitGroup(what, error);
        return ok;
    }
    if (ok) CheckpointNow(false);
    return ok;
}

bool TjnWriter::CommitGroup(const char* what, std::string& error) {
    if (!FInGroup) return true;
    FInGroup = false;
    // SQLite undoes the whole transaction itself on some failures (a full disk, an I/O error).
    if (sqlite3_get_autocommit(FDb.Handle())) {
        error = std::string(what) + ": собранные с последней фиксации данные не сохранены";
        return false;
    }
    if (FDb.Exec("COMMIT") != SQLITE_OK) {
        Fail(what, error);
        FDb.Exec("ROLLBACK");
        return false;
    }
    CheckpointNow(false);
    return true;
}

bool TjnWriter::AddAnswer(TjnAnswerKind kind, TDateTime meterTime, TDateTime localTime,
                          const uint8_t* data, size_t size, std::string& error) {
    const char* what = "Не удалось записать ответ в журнал";
    if (!OpenItem(false, what, error)) return false;
    FAnswer.Bind(1, int64_t(kind));
    FAnswer.Bind(2, meterTime);
    FAnswer.Bind(3, localTime);
    FAnswer.BindBlob(4, data, size);
    const bool ok = Step(FAnswer, what, error);
    if (ok && kind == TjnAnswerKind::Settings) FSettingsId = FDb.LastInsertId();
    if (ok && kind == TjnAnswerKind::ScaleKoeffs) FScaleId = FDb.LastInsertId();
    return EndItem(ok, false, what, error);
}

bool TjnWriter::UpdateOutageEnd(TDateTime ended, const char* what, std::string& error) {
    FOutageEnd.Bind(1, ended);
    FOutageEnd.Bind(2, FOutageId);
    return Step(FOutageEnd, what, error);
}

bool TjnWriter::AddRecord(TDateTime meterTime, TDateTime localTime, const uint8_t* data,
                          size_t size, const TmonData3sec& decoded, std::string& error) {
    const char* what = "Не удалось записать запись в журнал";
    // The record and the end of the outage it ends are one item: a journal never holds the
    // one without the other.
    const bool ending = FOutageId != 0;
    if (!OpenItem(ending, what, error)) return false;
    bool ok = !ending || UpdateOutageEnd(localTime, what, error);
    if (ok) {
        FRecord.Bind(1, meterTime);
        FRecord.Bind(2, localTime);
        FRecord.Bind(3, FSettingsId);
        FRecord.Bind(4, FScaleId);
        FRecord.BindBlob(5, data, size);
        for (int c = 0; c < kColumnCount; ++c)
            FRecord.Bind(6 + c, kColumns[c].Get(decoded));
        ok = Step(FRecord, what, error);
    }
    ok = EndItem(ok, ending, what, error);
    if (ok && ending) FOutageId = 0;
    return ok;
}

bool TjnWriter::AddWaveform(TDateTime meterTime, TDateTime localTime, uint8_t channelMask,
                            uint8_t sizeCode, const uint8_t* data, size_t size,
                            std::string& error) {
    const char* what = "Не удалось записать форму сигнала в журнал";
    if (!OpenItem(false, what, error)) return false;
    FWaveform.Bind(1, meterTime);
    FWaveform.Bind(2, localTime);
    FWaveform.Bind(3, FSettingsId);
    FWaveform.Bind(4, int64_t(channelMask));
    FWaveform.Bind(5, int64_t(sizeCode));
    FWaveform.BindBlob(6, data, size);
    return EndItem(Step(FWaveform, what, error), false, what, error);
}

bool TjnWriter::BeginOutage(TDateTime began, TDateTime lastMeterTime, int32_t code, int32_t status,
                            const std::string& text, std::string& error) {
    const char* what = "Не удалось записать перерыв опроса в журнал";
    if (!FDb.IsOpen()) return Fail("Журнал не открыт", error);
    if (FOutageId != 0) return true;
    if (!OpenItem(false, what, error)) return false;
    FOutageBegin.Bind(1, began);
    if (lastMeterTime != 0)
        FOutageBegin.Bind(2, lastMeterTime);
    else
        FOutageBegin.BindNull(2);
    FOutageBegin.Bind(3, int64_t(code));
    FOutageBegin.Bind(4, int64_t(status));
    FOutageBegin.Bind(5, text);
    const bool ok = Step(FOutageBegin, what, error);
    const int64_t id = FDb.LastInsertId();
    // Polling now waits, maybe for long: what was gathered goes to the disk with the outage.
    if (!(EndItem(ok, false, what, error) && CommitGroup(what, error))) return false;
    FOutageId = id;
    return true;
}

bool TjnWriter::EndOutage(TDateTime ended, std::string& error) {
    const char* what = "Не удалось записать конец перерыва опроса в журнал";
    if (!FDb.IsOpen()) return Fail("Журнал не открыт", error);
    if (FOutageId == 0) return true;
    if (!OpenItem(false, what, error)) return false;
    if (!EndItem(UpdateOutageEnd(ended, what, error), false, what, error)) return false;
    FOutageId = 0;
    return true;
}

bool TjnWriter::Close(TDateTime closedAt, std::string& error) {
    if (!FDb.IsOpen()) return true;
    if (closedAt == 0) closedAt = NowDateTime();
    bool ok = EndOutage(closedAt, error);
    std::string ignored;
    if (!CommitGroup("Не удалось закрыть журнал", ok ? error : ignored)) ok = false;
    // The mark of a finished recording: a journal without it was cut off (or is still being
    // recorded), and its readers say so.
    TjnStmt closed;
    if (ok &&
        (FDb.Exec("BEGIN IMMEDIATE") != SQLITE_OK || FDb.Exec(kIndexSql) != SQLITE_OK ||
         closed.Prepare(FDb, "UPDATE meter SET closed = ? WHERE id = 1") != SQLITE_OK ||
         (closed.Bind(1, closedAt), !Done(closed.Step())) || FDb.Exec("COMMIT") != SQLITE_OK)) {
        ok = Fail("Не удалось закрыть журнал", error);
        FDb.Exec("ROLLBACK");
    }
    closed = TjnStmt();
    FAnswer = TjnStmt();
    FRecord = TjnStmt();
    FWaveform = TjnStmt();
    FOutageBegin = TjnStmt();
    FOutageEnd = TjnStmt();
    // Back to a single self-contained file that any reader opens without side files. Another
    // program reading the journal just now (qzcli info, a trends window) is waited for a
    // little; one that holds it longer leaves the journal in its log mode, every record
    // committed and readable all the same, so that is no failure of the recording.
    sqlite3_busy_timeout(FDb.Handle(), 3000);
    const int rc = FDb.Exec("PRAGMA wal_checkpoint(TRUNCATE); PRAGMA journal_mode = DELETE;");
    const bool folded =
        rc == SQLITE_OK || (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED;
    if (!folded && ok) ok = Fail("Не удалось закрыть журнал", error);
    FDb.Close();
    return ok;
}

// ---------------------------------------------------------------------------------------------
// TjnReader

namespace {

TjnOpenResult ResultOfCode(int rc) {
    switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return TjnOpenResult::Locked;
    case SQLITE_NOTADB:
        return TjnOpenResult::NotJournal;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return TjnOpenResult::CannotOpen;
    default:
        return TjnOpenResult::Damaged;
    }
}

// True when the file's header says it is in the write-ahead-log mode: the recording that
// wrote it never folded its log back (a version 1 journal has no other mark of a clean close).
bool HeaderInLogMode(const std::string& fileName) {
    unsigned char header[20] = {};
    const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const ssize_t n = pread(fd, header, sizeof header, 0);
    close(fd);
    return n == ssize_t(sizeof header) && (header[18] == 2 || header[19] == 2);
}

std::string TextOf(TjnOpenResult r, const std::string& file, const std::string& detail) {
    switch (r) {
    case TjnOpenResult::Ok:
        return "";
    case TjnOpenResult::NotFound:
        return "Файл журнала не найден: " + file;
    case TjnOpenResult::CannotOpen:
        return "Не удалось открыть журнал " + file + (detail.empty() ? "" : ": " + detail);
    case TjnOpenResult::NotJournal:
        return "Файл не является журналом записи измерений: " + file;
    case TjnOpenResult::NewerSchema:
        return "Журнал " + file + " записан более новой версией программы (" + detail +
               "); обновите программу";
    case TjnOpenResult::Damaged:
        return "Журнал повреждён или обрезан: " + file +
               (detail.empty() ? "" : " (" + detail + ")") + ". " + SalvageAdvice(file);
    case TjnOpenResult::Locked:
        return "Журнал занят: в него ведёт запись другая программа: " + file;
    }
    return "";
}

} // namespace

std::string SalvageAdvice(const std::string& fileName) {
    return "Уцелевшие данные можно перенести в новый журнал: qzcli salvage " + fileName +
           " НОВЫЙ.db";
}

std::string UnfinishedText(const TjnReader& journal) {
    if (!journal.Unfinished()) return "";
    std::string s = "Внимание: запись не завершена (журнал не был закрыт: запись ещё идёт или "
                    "программа, которая её вела, была прервана). ";
    if (journal.HasLog())
        s += "Последние записи хранятся в файле " + journal.LogFileName() +
             ": копируйте его вместе с журналом.";
    else
        s += "Файла " + journal.LogFileName() +
             " с последними записями рядом нет: записи после последнего сброса журнала на "
             "диск в этой копии отсутствуют.";
    return s;
}

TjnOpenResult TjnReader::Open(const std::string& fileName, std::string& error) {
    FFileName = fileName;
    FDb.Close();
    FVersion = 0;
    FUnfinished = FHasLog = false;
    FClosed = 0;
    auto fail = [&](TjnOpenResult r, const std::string& detail = std::string()) {
        FFailure = r;
        error = TextOf(r, fileName, detail);
        FDb.Close();
        return r;
    };
    struct stat st {};
    if (stat(fileName.c_str(), &st) != 0)
        return errno == ENOENT ? fail(TjnOpenResult::NotFound)
                               : fail(TjnOpenResult::CannotOpen, SystemErrorText(errno));
    if (!S_ISREG(st.st_mode)) return fail(TjnOpenResult::NotJournal);
    if (access(fileName.c_str(), R_OK) != 0)
        return fail(TjnOpenResult::CannotOpen, SystemErrorText(errno));
    // An empty file would open as an empty database: it is none of ours.
    if (st.st_size < 512) return fail(TjnOpenResult::NotJournal);

    const int rc = FDb.Open(fileName, SQLITE_OPEN_READONLY);
    if (rc != SQLITE_OK) return fail(ResultOfCode(rc), SqliteText(rc));
    sqlite3_busy_timeout(FDb.Handle(), 250);

    auto pragma = [&](const char* sql, int64_t& value) {
        TjnStmt s;
        int r = s.Prepare(FDb, sql);
        if (r == SQLITE_OK) {
            r = s.Step();
            if (r == SQLITE_ROW) value = s.Int(0);
            if (r == SQLITE_ROW || r == SQLITE_DONE) r = SQLITE_OK;
        }
        return r;
    };
    int64_t appId = 0, version = 0;
    int r = pragma("PRAGMA application_id", appId);
    if (r != SQLITE_OK) return fail(ResultOfCode(r), FDb.ErrorText());
    if (appId != kjnApplicationId) return fail(TjnOpenResult::NotJournal);
    r = pragma("PRAGMA user_version", version);
    if (r != SQLITE_OK) return fail(ResultOfCode(r), FDb.ErrorText());
    if (version > kjnSchemaVersion)
        return fail(TjnOpenResult::NewerSchema, "версия " + std::to_string(version) +
                                                    ", известна " +
                                                    std::to_string(kjnSchemaVersion));
    if (version < 1) return fail(TjnOpenResult::NotJournal);
    FVersion = int32_t(version);

    // A file cut short: the header promises more pages than the file holds. (With a log
    // beside it the newest pages may live only in the log.)
    int64_t pages = 0, pageSize = 0;
    if (pragma("PRAGMA page_count", pages) != SQLITE_OK ||
        pragma("PRAGMA page_size", pageSize) != SQLITE_OK)
        return fail(TjnOpenResult::Damaged, FDb.ErrorText());
    struct stat wal {};
    const bool hasLog = stat((fileName + "-wal").c_str(), &wal) == 0 && wal.st_size > 0;
    if (!hasLog && pages * pageSize > int64_t(st.st_size))
        return fail(TjnOpenResult::Damaged, "файл короче, чем записано в его заголовке");
    FHasLog = hasLog;

    TjnStmt m;
    r = m.Prepare(FDb, "SELECT device_type, model_index, model, factory_number, address, "
                       "connection, program_version, started FROM meter WHERE id = 1");
    if (r != SQLITE_OK) return fail(ResultOfCode(r), FDb.ErrorText());
    r = m.Step();
    if (r != SQLITE_ROW)
        return fail(r == SQLITE_DONE ? TjnOpenResult::Damaged : ResultOfCode(r),
                    r == SQLITE_DONE ? "нет сведений об измерителе" : FDb.ErrorText());
    FMeter.DeviceType = int32_t(m.Int(0));
    FMeter.ModelIndex = int32_t(m.Int(1));
    FMeter.Model = m.Text(2);
    FMeter.FactoryNumber = int32_t(m.Int(3));
    FMeter.Address = int32_t(m.Int(4));
    FMeter.Connection = m.Text(5);
    FMeter.ProgramVersion = m.Text(6);
    FMeter.Started = m.Real(7);
    if (FMeter.ModelIndex < 0 || FMeter.ModelIndex >= kQZ2ModelCount)
        return fail(TjnOpenResult::Damaged, "неизвестная модель измерителя");
    m = TjnStmt();
    FClosed = 0;
    if (FVersion >= 2) {
        TjnStmt c;
        r = c.Prepare(FDb, "SELECT closed FROM meter WHERE id = 1");
        if (r == SQLITE_OK) r = c.Step();
        if (r != SQLITE_ROW) return fail(ResultOfCode(r), FDb.ErrorText());
        if (!c.IsNull(0)) FClosed = c.Real(0);
        FUnfinished = FClosed == 0;
    } else {
        FUnfinished = HeaderInLogMode(fileName);
    }
    // The other tables must be there and readable.
    // (One row each: a check that costs the same for a week's journal as for a minute's.)
    for (const char* sql : {"SELECT id FROM answer LIMIT 1", "SELECT id FROM waveform LIMIT 1",
                            "SELECT seq, meter_time, local_time, settings_id, scale_id, data "
                            "FROM record LIMIT 1",
                            "SELECT id, began, ended, last_meter_time, code, status, text "
                            "FROM outage LIMIT 1"}) {
        if (FVersion < 2 && std::strstr(sql, "outage")) continue;
        TjnStmt s;
        r = s.Prepare(FDb, sql);
        if (r == SQLITE_OK) r = s.Step();
        if (r != SQLITE_ROW && r != SQLITE_DONE) return fail(ResultOfCode(r), FDb.ErrorText());
    }
    error.clear();
    return TjnOpenResult::Ok;
}

bool TjnReader::StepError(int rc, std::string& error) const {
    const TjnOpenResult r = ResultOfCode(rc);
    FFailure = r == TjnOpenResult::NotJournal ? TjnOpenResult::Damaged : r;
    error = TextOf(FFailure, FFileName, FDb.ErrorText());
    return false;
}

bool TjnReader::Counts(int64_t& records, int64_t& waveforms, std::string& error) {
    TjnStmt s;
    int rc = s.Prepare(FDb, "SELECT (SELECT count(*) FROM record), (SELECT count(*) FROM "
                            "waveform)");
    if (rc != SQLITE_OK) return StepError(rc, error);
    rc = s.Step();
    if (rc != SQLITE_ROW) return StepError(rc, error);
    records = s.Int(0);
    waveforms = s.Int(1);
    return true;
}

bool TjnReader::RecordSpan(TDateTime& first, TDateTime& last, std::string& error) {
    TjnStmt s;
    int rc = s.Prepare(FDb, "SELECT min(meter_time), max(meter_time) FROM record");
    if (rc != SQLITE_OK) return StepError(rc, error);
    rc = s.Step();
    if (rc != SQLITE_ROW) return StepError(rc, error);
    if (s.IsNull(0)) {
        error.clear();
        return false;
    }
    first = s.Real(0);
    last = s.Real(1);
    return true;
}

bool TjnReader::ForEachAnswer(const std::function<bool(const TjnAnswerView&)>& f,
                              std::string& error) {
    TjnStmt s;
    int rc =
        s.Prepare(FDb, "SELECT id, kind, meter_time, local_time, data FROM answer ORDER BY id");
    if (rc != SQLITE_OK) return StepError(rc, error);
    while ((rc = s.Step()) == SQLITE_ROW) {
        TjnAnswerView a;
        a.Id = s.Int(0);
        a.Kind = TjnAnswerKind(s.Int(1));
        a.MeterTime = s.Real(2);
        a.LocalTime = s.Real(3);
        a.Data = s.Blob(4, a.Size);
        if (!f(a)) return true;
    }
    return rc == SQLITE_DONE || StepError(rc, error);
}

bool TjnReader::ForEachRecord(TDateTime from, TDateTime to,
                              const std::function<bool(const TjnRecordView&)>& f,
                              std::string& error) {
    TjnStmt s;
    int rc = s.Prepare(FDb, "SELECT seq, meter_time, local_time, settings_id, scale_id, data "
                            "FROM record WHERE meter_time >= ? AND meter_time <= ? ORDER BY seq");
    if (rc != SQLITE_OK) return StepError(rc, error);
    s.Bind(1, from);
    s.Bind(2, to);
    while ((rc = s.Step()) == SQLITE_ROW) {
        TjnRecordView v;
        v.Seq = s.Int(0);
        v.MeterTime = s.Real(1);
        v.LocalTime = s.Real(2);
        v.SettingsId = s.Int(3);
        v.ScaleId = s.Int(4);
        v.Data = s.Blob(5, v.Size);
        if (!f(v)) return true;
    }
    return rc == SQLITE_DONE || StepError(rc, error);
}

bool TjnReader::ForEachRecordValues(TDateTime from, TDateTime to,
                                    const std::function<bool(const TjnRecordValuesView&)>& f,
                                    std::string& error, int64_t afterSeq) {
    TjnStmt s;
    const std::string sql = "SELECT seq, meter_time, settings_id" + ColumnList("") +
                            " FROM record WHERE seq > ? AND meter_time >= ? AND meter_time <= ?"
                            " ORDER BY seq";
    int rc = s.Prepare(FDb, sql.c_str());
    if (rc != SQLITE_OK) return StepError(rc, error);
    s.Bind(1, afterSeq);
    s.Bind(2, from);
    s.Bind(3, to);
    double values[kColumnCount];
    while ((rc = s.Step()) == SQLITE_ROW) {
        TjnRecordValuesView v;
        v.Seq = s.Int(0);
        v.MeterTime = s.Real(1);
        v.SettingsId = s.Int(2);
        for (int c = 0; c < kColumnCount; ++c)
            values[c] = s.IsNull(3 + c) ? std::numeric_limits<double>::quiet_NaN() : s.Real(3 + c);
        v.Values = values;
        if (!f(v)) return true;
    }
    return rc == SQLITE_DONE || StepError(rc, error);
}

bool TjnReader::ForEachRecordTime(const std::function<bool(int64_t, TDateTime)>& f,
                                  std::string& error) {
    TjnStmt s;
    int rc = s.Prepare(FDb, "SELECT seq, meter_time FROM record ORDER BY seq");
    if (rc != SQLITE_OK) return StepError(rc, error);
    while ((rc = s.Step()) == SQLITE_ROW)
        if (!f(s.Int(0), s.Real(1))) return true;
    return rc == SQLITE_DONE || StepError(rc, error);
}

bool TjnReader::ForEachWaveform(TDateTime from, TDateTime to,
                                const std::function<bool(const TjnWaveformView&)>& f,
                                std::string& error) {
    TjnStmt s;
    int rc = s.Prepare(FDb, "SELECT id, meter_time, local_time, settings_id, channel_mask, "
                            "size_code, data FROM waveform WHERE meter_time >= ? AND "
                            "meter_time <= ? ORDER BY id");
    if (rc != SQLITE_OK) return StepError(rc, error);
    s.Bind(1, from);
    s.Bind(2, to);
    while ((rc = s.Step()) == SQLITE_ROW) {
        TjnWaveformView v;
        v.Id = s.Int(0);
        v.MeterTime = s.Real(1);
        v.LocalTime = s.Real(2);
        v.SettingsId = s.Int(3);
        v.ChannelMask = uint8_t(s.Int(4));
        v.SizeCode = uint8_t(s.Int(5));
        v.Data = s.Blob(6, v.Size);
        if (!f(v)) return true;
    }
    return rc == SQLITE_DONE || StepError(rc, error);
}

bool TjnReader::ForEachOutage(const std::function<bool(const TjnOutageView&)>& f,
                              std::string& error) {
    if (FVersion < 2) return true; // version 1 kept no outages
    TjnStmt s;
    int rc = s.Prepare(FDb, "SELECT id, began, ended, last_meter_time, code, status, text "
                            "FROM outage ORDER BY id");
    if (rc != SQLITE_OK) return StepError(rc, error);
    while ((rc = s.Step()) == SQLITE_ROW) {
        TjnOutageView o;
        o.Id = s.Int(0);
        o.Began = s.Real(1);
        o.Ended = s.IsNull(2) ? 0 : s.Real(2);
        o.LastMeterTime = s.IsNull(3) ? 0 : s.Real(3);
        o.Code = int32_t(s.Int(4));
        o.Status = int32_t(s.Int(5));
        o.Text = s.Text(6);
        if (!f(o)) return true;
    }
    return rc == SQLITE_DONE || StepError(rc, error);
}

bool TjnReader::LoadAnswer(int64_t id, TjnAnswerKind& kind, std::vector<uint8_t>& data,
                           std::string& error) {
    TjnStmt s;
    int rc = s.Prepare(FDb, "SELECT kind, data FROM answer WHERE id = ?");
    if (rc != SQLITE_OK) return StepError(rc, error);
    s.Bind(1, id);
    rc = s.Step();
    if (rc == SQLITE_DONE) {
        error = TextOf(TjnOpenResult::Damaged, FFileName,
                       "нет ответа измерителя " + std::to_string(id));
        return false;
    }
    if (rc != SQLITE_ROW) return StepError(rc, error);
    kind = TjnAnswerKind(s.Int(0));
    size_t size = 0;
    const uint8_t* p = s.Blob(1, size);
    data.assign(p, p + size);
    return true;
}

// ---------------------------------------------------------------------------------------------
// TjnDecoder

TjnDecoder::TjnDecoder(TjnReader& reader)
    : FReader(reader), FExtended(ModelHasNeutral(reader.Meter().ModelIndex)) {}

bool TjnDecoder::SettingsOf(int64_t settingsId, TmonSettings& out, std::string& error) {
    if (settingsId != FSettingsId) {
        TmonSettings s;
        s.HasNeutral = FExtended ? 1 : 0;
        if (settingsId != 0) {
            TjnAnswerKind kind;
            std::vector<uint8_t> data;
            if (!FReader.LoadAnswer(settingsId, kind, data, error)) return false;
            // A settings answer too short to decode leaves the settings empty, as the
            // exchange would have had none.
            if (kind == TjnAnswerKind::Settings) DecodeSettings(data.data(), data.size(), s);
        }
        FSettings = s;
        FSettingsId = settingsId;
    }
    out = FSettings;
    return true;
}

bool TjnDecoder::Decode(const TjnRecordView& record, TmonData3sec& out, std::string& error) {
    TmonSettings settings;
    if (!SettingsOf(record.SettingsId, settings, error)) return false;
    if (record.ScaleId != FScaleId) {
        double u = 0, i = 0;
        if (record.ScaleId != 0) {
            TjnAnswerKind kind;
            std::vector<uint8_t> data;
            if (!FReader.LoadAnswer(record.ScaleId, kind, data, error)) return false;
            if (kind == TjnAnswerKind::ScaleKoeffs)
                DecodeScaleKoeffs(data.data(), data.size(), u, i);
        }
        FVoltageScale = u;
        FCurrentScale = i;
        FScaleId = record.ScaleId;
    }
    if (Decode3sec(record.Data, record.Size, FExtended, settings, FVoltageScale, FCurrentScale,
                   out) == TmonDecodeResult::TooShort) {
        error = "Запись " + std::to_string(record.Seq) + " журнала короче своего формата";
        return false;
    }
    out.Time = record.MeterTime;
    return true;
}

} // namespace qz
