#include "journal/jnSalvage.h"

#include "common/SystemErrorText.h"
#include "journal/jnJournal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace qz {
namespace {

uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint16_t Be16(const uint8_t* p) {
    return uint16_t(p[0] << 8 | p[1]);
}

// An SQLite varint at p (at most 9 bytes, never past end); false when it does not fit.
bool Varint(const uint8_t*& p, const uint8_t* end, uint64_t& v) {
    v = 0;
    for (int i = 0; i < 9; ++i) {
        if (p >= end) return false;
        const uint8_t b = *p++;
        if (i == 8) {
            v = v << 8 | b;
            return true;
        }
        v = v << 7 | (b & 0x7F);
        if (!(b & 0x80)) return true;
    }
    return true;
}

// The pages of the damaged file, newer pages from its log where the log committed them.
class TPages {
public:
    ~TPages() {
        if (FDb >= 0) close(FDb);
        if (FWal >= 0) close(FWal);
    }
    bool Open(const std::string& file, std::string& error) {
        FDb = open(file.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (FDb < 0 || fstat(FDb, &st) != 0) {
            error = "Не удалось открыть файл " + file + ": " + SystemErrorText(errno);
            return false;
        }
        FFileSize = st.st_size;
        uint8_t h[100];
        if (pread(FDb, h, sizeof h, 0) != ssize_t(sizeof h) ||
            std::memcmp(h, "SQLite format 3", 16) != 0 ||
            Be32(h + 68) != uint32_t(kjnApplicationId)) {
            error = "Файл не является журналом записи измерений: " + file;
            return false;
        }
        FPageSize = Be16(h + 16) == 1 ? 65536 : Be16(h + 16);
        if (FPageSize < 512 || (FPageSize & (FPageSize - 1)) != 0) {
            error = "Заголовок журнала повреждён: " + file;
            return false;
        }
        FUsable = FPageSize - h[20];
        if (FUsable < 480) {
            error = "Заголовок журнала повреждён: " + file;
            return false;
        }
        FExpected = Be32(h + 28);
        FCount = uint32_t(std::min<int64_t>(FFileSize / FPageSize, 0x7FFFFFFF));
        ReadLog(file + "-wal");
        FExpected = std::max(FExpected, FCount);
        return true;
    }
    uint32_t PageSize() const { return FPageSize; }
    uint32_t Usable() const { return FUsable; }
    // Pages the journal should have (its header or its log) and pages that can be read.
    uint32_t Expected() const { return FExpected; }
    uint32_t Count() const { return FCount; }
    bool UsedLog() const { return !FLog.empty(); }
    bool Read(uint32_t page, std::vector<uint8_t>& buf) const {
        if (page == 0 || page > FCount) return false;
        buf.resize(FPageSize);
        const auto log = FLog.find(page);
        if (log != FLog.end())
            return pread(FWal, buf.data(), FPageSize, log->second) == ssize_t(FPageSize);
        const off_t at = off_t(page - 1) * FPageSize;
        return at + FPageSize <= FFileSize &&
               pread(FDb, buf.data(), FPageSize, at) == ssize_t(FPageSize);
    }

private:
    // The frames of every transaction the log committed, their checksums checked; a torn or
    // stale frame ends the log.
    void ReadLog(const std::string& wal) {
        FWal = open(wal.c_str(), O_RDONLY | O_CLOEXEC);
        if (FWal < 0) return;
        uint8_t h[32];
        if (pread(FWal, h, 32, 0) != 32) return;
        const uint32_t magic = Be32(h);
        if ((magic & 0xFFFFFFFE) != 0x377F0682 || Be32(h + 8) != FPageSize) return;
        const bool bigEndian = magic & 1;
        uint32_t s1 = 0, s2 = 0;
        Checksum(bigEndian, h, 24, s1, s2);
        if (s1 != Be32(h + 24) || s2 != Be32(h + 28)) return;
        std::map<uint32_t, off_t> pending;
        std::vector<uint8_t> frame(24 + FPageSize);
        uint32_t committedCount = 0;
        for (off_t at = 32;; at += off_t(frame.size())) {
            if (pread(FWal, frame.data(), frame.size(), at) != ssize_t(frame.size())) break;
            if (std::memcmp(frame.data() + 8, h + 16, 8) != 0) break; // another generation
            Checksum(bigEndian, frame.data(), 8, s1, s2);
            Checksum(bigEndian, frame.data() + 24, FPageSize, s1, s2);
            if (s1 != Be32(frame.data() + 16) || s2 != Be32(frame.data() + 20)) break;
            const uint32_t page = Be32(frame.data());
            if (page == 0) break;
            pending[page] = at + 24;
            if (const uint32_t size = Be32(frame.data() + 4)) { // a commit
                for (const auto& p : pending)
                    FLog[p.first] = p.second;
                pending.clear();
                committedCount = size;
            }
        }
        if (committedCount == 0) return;
        FExpected = committedCount;
        // Only pages that are there are walked, whatever size the log claims.
        if (!FLog.empty()) FCount = std::max(FCount, FLog.rbegin()->first);
    }
    static uint32_t Word(const uint8_t* p, bool bigEndian) {
        return bigEndian ? Be32(p)
                         : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }
    static void Checksum(bool bigEndian, const uint8_t* p, size_t n, uint32_t& s1, uint32_t& s2) {
        for (size_t i = 0; i + 8 <= n; i += 8) {
            s1 += Word(p + i, bigEndian) + s2;
            s2 += Word(p + i + 4, bigEndian) + s1;
        }
    }

    int FDb = -1, FWal = -1;
    off_t FFileSize = 0;
    uint32_t FPageSize = 0, FUsable = 0, FExpected = 0, FCount = 0;
    std::map<uint32_t, off_t> FLog; // page -> offset of its newest committed copy in the log
};

enum class TType { Null, Int, Real, Text, Blob };

struct TValue {
    TType Type = TType::Null;
    int64_t Int = 0;
    double Real = 0;
    std::string Bytes; // text or blob
    bool Numeric() const { return Type == TType::Int || Type == TType::Real; }
    double Number() const { return Type == TType::Int ? double(Int) : Real; }
};

// The columns of a row's payload; false for bytes that are no row.
bool DecodeRow(const std::vector<uint8_t>& payload, std::vector<TValue>& row) {
    row.clear();
    const uint8_t* p = payload.data();
    const uint8_t* end = p + payload.size();
    uint64_t headerSize = 0;
    if (!Varint(p, end, headerSize) || headerSize > payload.size() || headerSize < 1) return false;
    const uint8_t* headerEnd = payload.data() + headerSize;
    const uint8_t* body = headerEnd;
    while (p < headerEnd) {
        uint64_t t = 0;
        if (!Varint(p, headerEnd, t) || row.size() > 200) return false;
        TValue v;
        static const int kIntSize[] = {0, 1, 2, 3, 4, 6, 8};
        if (t == 0) {
            v.Type = TType::Null;
        } else if (t <= 6 || t == 8 || t == 9) {
            v.Type = TType::Int;
            if (t >= 8) {
                v.Int = int64_t(t - 8);
            } else {
                const int n = kIntSize[t];
                if (end - body < n) return false;
                uint64_t x = (body[0] & 0x80) ? ~uint64_t(0) : 0;
                for (int i = 0; i < n; ++i)
                    x = x << 8 | body[i];
                v.Int = int64_t(x);
                body += n;
            }
        } else if (t == 7) {
            if (end - body < 8) return false;
            uint64_t x = 0;
            for (int i = 0; i < 8; ++i)
                x = x << 8 | body[i];
            std::memcpy(&v.Real, &x, 8);
            v.Type = TType::Real;
            body += 8;
        } else if (t >= 12) {
            const uint64_t n = (t - 12) / 2;
            if (uint64_t(end - body) < n) return false;
            v.Type = (t & 1) ? TType::Text : TType::Blob;
            v.Bytes.assign(reinterpret_cast<const char*>(body), size_t(n));
            body += n;
        } else {
            return false;
        }
        row.push_back(std::move(v));
    }
    return true;
}

enum class TTable { None, Meter, Answer, Record1, Record2, Waveform, Outage };

// Which table a row belongs to, by the number and kinds of its columns.
TTable ShapeOf(const std::vector<TValue>& r) {
    auto is = [&r](size_t i, TType t) { return r[i].Type == t; };
    auto num = [&r](size_t i) { return r[i].Numeric(); };
    auto numOrNull = [&r](size_t i) { return r[i].Numeric() || r[i].Type == TType::Null; };
    const size_t n = r.size();
    if (n == 0 || !is(0, TType::Null)) return TTable::None; // the id lives in the row id
    if ((n == 9 || n == 10) && is(1, TType::Int) && is(2, TType::Int) && is(3, TType::Text) &&
        is(4, TType::Int) && is(5, TType::Int) && is(6, TType::Text) && is(7, TType::Text) &&
        num(8) && (n == 9 || numOrNull(9)))
        return TTable::Meter;
    if (n == 5 && is(1, TType::Int) && num(2) && num(3) && is(4, TType::Blob))
        return TTable::Answer;
    if (n == 7 && num(1) && num(2) && is(3, TType::Int) && is(4, TType::Int) && is(5, TType::Int) &&
        is(6, TType::Blob))
        return TTable::Waveform;
    if (n == 7 && num(1) && numOrNull(2) && numOrNull(3) && is(4, TType::Int) &&
        is(5, TType::Int) && is(6, TType::Text))
        return TTable::Outage;
    const size_t values = size_t(JournalColumnCount());
    if (n == 6 + values && num(1) && num(2) && is(3, TType::Int) && is(4, TType::Int)) {
        const bool dataLast = is(n - 1, TType::Blob), dataFifth = is(5, TType::Blob);
        const size_t from = dataLast ? 5 : 6;
        for (size_t i = from; i < from + values; ++i)
            if (!numOrNull(i)) return TTable::None;
        if (dataLast) return TTable::Record2;
        if (dataFifth) return TTable::Record1;
    }
    return TTable::None;
}

void Bind(TjnStmt& s, int i, const TValue& v) {
    switch (v.Type) {
    case TType::Null:
        s.BindNull(i);
        break;
    case TType::Int:
        s.Bind(i, v.Int);
        break;
    case TType::Real:
        s.Bind(i, v.Real);
        break;
    case TType::Text:
        s.Bind(i, v.Bytes);
        break;
    case TType::Blob:
        s.BindBlob(i, v.Bytes.data(), v.Bytes.size());
        break;
    }
}

struct TKind {
    TjnSalvageCount& Count;
    TjnStmt Insert;
    std::vector<int64_t> Ids;
};

} // namespace

bool SalvageJournal(const std::string& broken, const std::string& target, TjnSalvageReport& report,
                    std::string& error) {
    report = TjnSalvageReport();
    TPages pages;
    if (!pages.Open(broken, error)) return false;
    report.UsedLog = pages.UsedLog();
    report.Pages = pages.Expected();

    // Each table leaf page in turn; each of its cells a row, whole with its overflow pages or
    // not at all. The rows are kept by the shape they have, the meter first.
    const uint32_t usable = pages.Usable();
    const uint32_t maxLocal = usable - 35;
    const uint32_t minLocal = (usable - 12) * 32 / 255 - 23;
    std::vector<uint8_t> page, over;
    std::vector<uint32_t> visited(size_t(pages.Count()) + 1, 0);
    uint32_t epoch = 0;
    auto forEachRow = [&](const std::function<void(TTable, int64_t, std::vector<TValue>&)>& f,
                          const std::function<void()>& broken) {
        std::vector<uint8_t> payload;
        std::vector<TValue> row;
        for (uint32_t n = 1; n <= pages.Count(); ++n) {
            if (!pages.Read(n, page)) continue;
            const size_t h = n == 1 ? 100 : 0;
            if (page[h] != 0x0D) continue; // table leaf pages only
            const uint16_t cells = Be16(&page[h + 3]);
            if (h + 8 + size_t(cells) * 2 > usable) continue;
            for (uint16_t c = 0; c < cells; ++c) {
                const size_t at = Be16(&page[h + 8 + c * 2]);
                if (at < h + 8 || at >= usable) continue;
                const uint8_t* p = page.data() + at;
                const uint8_t* end = page.data() + usable;
                uint64_t size = 0, rowid = 0;
                // A row longer than all the pages there are is no row.
                if (!Varint(p, end, size) || !Varint(p, end, rowid) ||
                    size > uint64_t(pages.Count()) * usable)
                    continue;
                size_t local = size_t(size);
                if (size > maxLocal) {
                    const size_t k = minLocal + (size - minLocal) % (usable - 4);
                    local = k <= maxLocal ? k : minLocal;
                }
                if (size_t(end - p) < local + (local < size ? 4 : 0)) continue;
                payload.assign(p, p + local);
                // The rest of the row on its overflow pages, each naming the next.
                uint32_t next = local < size ? Be32(p + local) : 0;
                bool whole = true;
                ++epoch;
                while (payload.size() < size) {
                    // A chain that comes back to a page of its own is broken, not endless.
                    if (next > pages.Count() || visited[next] == epoch || !pages.Read(next, over)) {
                        whole = false;
                        break;
                    }
                    const size_t take = std::min<size_t>(usable - 4, size - payload.size());
                    payload.insert(payload.end(), over.begin() + 4, over.begin() + 4 + take);
                    visited[next] = epoch;
                    next = Be32(over.data());
                }
                if (!whole) {
                    broken();
                    continue;
                }
                if (!DecodeRow(payload, row)) continue;
                const TTable t = ShapeOf(row);
                if (t != TTable::None) f(t, int64_t(rowid), row);
            }
        }
    };

    TjnMeter meter;
    int64_t brokenRows = 0;
    forEachRow(
        [&](TTable t, int64_t rowid, std::vector<TValue>& r) {
            if (t != TTable::Meter || rowid != 1 || report.MeterSaved) return;
            meter.DeviceType = int32_t(r[1].Int);
            meter.ModelIndex = int32_t(r[2].Int);
            meter.Model = r[3].Bytes;
            meter.FactoryNumber = int32_t(r[4].Int);
            meter.Address = int32_t(r[5].Int);
            meter.Connection = r[6].Bytes;
            meter.ProgramVersion = r[7].Bytes;
            meter.Started = r[8].Number();
            report.MeterSaved = true;
        },
        [&] { ++brokenRows; });
    if (!report.MeterSaved) {
        error = "В журнале " + broken +
                " не уцелели сведения об измерителе: данные не удалось сохранить";
        return false;
    }

    {
        TjnWriter w;
        if (!w.Create(target, meter, error) || !w.Close(error)) return false;
    }
    TjnDb db;
    if (db.Open(target, SQLITE_OPEN_READWRITE) != SQLITE_OK || db.Exec("BEGIN") != SQLITE_OK) {
        error = "Не удалось записать журнал " + target + ": " + db.ErrorText();
        return false;
    }
    std::string columns;
    for (int c = 0; c < JournalColumnCount(); ++c)
        columns += std::string(", ") + JournalColumnName(c);
    std::string values;
    for (int c = 0; c < JournalColumnCount() + 6; ++c)
        values += c ? ", ?" : "?";
    TKind answers{report.Answers, {}, {}}, records{report.Records, {}, {}},
        waveforms{report.Waveforms, {}, {}}, outages{report.Outages, {}, {}};
    const std::string recordSql = "INSERT OR IGNORE INTO record (seq, meter_time, local_time, "
                                  "settings_id, scale_id" +
                                  columns + ", data) VALUES (" + values + ")";
    if (answers.Insert.Prepare(db, "INSERT OR IGNORE INTO answer (id, kind, meter_time, "
                                   "local_time, data) VALUES (?, ?, ?, ?, ?)") != SQLITE_OK ||
        records.Insert.Prepare(db, recordSql.c_str()) != SQLITE_OK ||
        waveforms.Insert.Prepare(db, "INSERT OR IGNORE INTO waveform (id, meter_time, "
                                     "local_time, settings_id, channel_mask, size_code, data) "
                                     "VALUES (?, ?, ?, ?, ?, ?, ?)") != SQLITE_OK ||
        outages.Insert.Prepare(db, "INSERT OR IGNORE INTO outage (id, began, ended, "
                                   "last_meter_time, code, status, text) "
                                   "VALUES (?, ?, ?, ?, ?, ?, ?)") != SQLITE_OK) {
        error = "Не удалось записать журнал " + target + ": " + db.ErrorText();
        return false;
    }
    bool failed = false;
    forEachRow(
        [&](TTable t, int64_t rowid, std::vector<TValue>& r) {
            if (failed || t == TTable::Meter) return;
            TKind& k = t == TTable::Answer     ? answers
                       : t == TTable::Waveform ? waveforms
                       : t == TTable::Outage   ? outages
                                               : records;
            k.Insert.Bind(1, rowid);
            if (t == TTable::Record1) { // the raw data before the values
                for (int i = 1; i <= 4; ++i)
                    Bind(k.Insert, i + 1, r[size_t(i)]);
                for (int c = 0; c < JournalColumnCount(); ++c)
                    Bind(k.Insert, 6 + c, r[size_t(6 + c)]);
                Bind(k.Insert, 6 + JournalColumnCount(), r[5]);
            } else {
                for (size_t i = 1; i < r.size(); ++i)
                    Bind(k.Insert, int(i) + 1, r[i]);
            }
            const int rc = k.Insert.Step();
            k.Insert.Reset();
            if (rc != SQLITE_DONE) {
                failed = true;
                return;
            }
            if (sqlite3_changes(db.Handle()) == 0) return; // the same row seen twice
            k.Ids.push_back(rowid);
            ++k.Count.Saved;
            k.Count.LastTime = std::max(k.Count.LastTime, r[1].Number());
        },
        [] {});
    if (failed || db.Exec("COMMIT") != SQLITE_OK) {
        error = "Не удалось записать журнал " + target + ": " + db.ErrorText();
        return false;
    }
    for (TKind* k : {&answers, &records, &waveforms, &outages}) {
        if (k->Ids.empty()) continue;
        const auto [lo, hi] = std::minmax_element(k->Ids.begin(), k->Ids.end());
        k->Count.FirstId = *lo;
        k->Count.LastId = *hi;
        k->Count.Missing = (*hi - *lo + 1) - int64_t(k->Ids.size());
    }
    // Rows found without all their pages: most are records, the only rows that span pages.
    report.Records.Broken = brokenRows;
    for (uint32_t n = 1; n <= std::min(pages.Expected(), pages.Count()); ++n)
        if (!pages.Read(n, page)) ++report.UnreadablePages;
    if (pages.Expected() > pages.Count())
        report.UnreadablePages += pages.Expected() - pages.Count();
    return true;
}

std::string SalvageReportText(const TjnSalvageReport& r, const std::string& target) {
    auto line = [](const char* what, const TjnSalvageCount& c) {
        std::string s = std::string("  ") + what + ": сохранено " + std::to_string(c.Saved);
        if (c.Missing || c.Broken)
            s += ", потеряно " + std::to_string(c.Missing + c.Broken) +
                 (c.Broken ? " (из них неполных " + std::to_string(c.Broken) + ")" : "");
        return s + "\n";
    };
    std::string s = "Новый журнал: " + target + "\n";
    s += line("ответы измерителя", r.Answers);
    s += line("записи 3 с", r.Records);
    s += line("блоки форм сигналов", r.Waveforms);
    s += line("перерывы опроса", r.Outages);
    if (r.Records.Saved) {
        const TDateTimeParts p = DecodeDateTime(r.Records.LastTime);
        char buf[64];
        std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", p.Day, p.Month, p.Year,
                      p.Hour, p.Minute, p.Second);
        s += std::string("  последняя сохранённая запись: ") + buf + "\n";
    }
    if (r.UsedLog) s += "  последние записи взяты из файла журнала -wal рядом с ним\n";
    if (r.UnreadablePages)
        s += "Не прочитано страниц файла: " + std::to_string(r.UnreadablePages) + " из " +
             std::to_string(r.Pages) +
             " (файл обрезан или повреждён): то, что было на них после последней сохранённой "
             "записи, утрачено\n";
    return s;
}

} // namespace qz
