#include "trends/monTrendJournal.h"

#include "common/Assert.h"
#include "journal/jnJournal.h"
#ifdef QZ_TRENDS_PROTOCOL
#include "report/rpJournals.h"
#include "report/rpPdf.h"
#endif

#include <array>
#include <filesystem>

namespace qz {

TmonTrendJournalSource::TmonTrendJournalSource(std::string path)
    : TmonTrendMemorySource(std::filesystem::path(path).filename().string(), false),
      FPath(std::move(path)) {}

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

// The position of each quantity's column among the journal's query columns, looked up once.
const int* ColumnPositions() {
    static const auto positions = [] {
        std::array<int, kmonTrendQuantityCount> p{};
        for (int q = 0; q < kmonTrendQuantityCount; ++q) {
            p[size_t(q)] = JournalColumnIndex(kColumnOf[q]);
            QZ_ASSERT(p[size_t(q)] >= 0, "monTrendJournal: no such journal column");
        }
        return p;
    }();
    return positions.data();
}

// A recording goes on while its log beside the file holds records: the recorder folds the log
// back (or empties it) when it closes the journal.
bool LogHoldsRecords(const std::string& path) {
    std::error_code e;
    const auto size = std::filesystem::file_size(path + "-wal", e);
    return !e && size > 0;
}

} // namespace

bool TmonTrendJournalSource::ReadNew(std::string& error, TTrendLoadProgress* progress) {
    error.clear();
    // Whether the recording goes on is seen before reading: a record added after the look is
    // taken at the next one.
    const bool recording = LogHoldsRecords(FPath);
    TjnReader reader;
    FBusy = false;
    const auto failed = [&] {
        FBusy = reader.LastFailure() == TjnOpenResult::Locked;
        return false;
    };
    if (reader.Open(FPath, error) != TjnOpenResult::Ok) return failed();
    const int* column = ColumnPositions();
    if (progress) {
        int64_t records = 0, waveforms = 0;
        if (!reader.Counts(records, waveforms, error)) return failed();
        progress->Total = records;
    }
    int64_t lastSettings = FLastSettings < 0 ? 0 : FLastSettings, read = 0;
    bool cancelled = false;
    const bool walked = reader.ForEachRecordValues(
        kjnAnyTimeFrom, kjnAnyTimeTo,
        [&](const TjnRecordValuesView& r) {
            if (progress && read % kProgressStep == 0) {
                progress->Done = read;
                if (progress->Cancel) return !(cancelled = true);
            }
            ++read;
            TTrendSample s;
            s.Time = r.MeterTime;
            for (int q = 0; q < kmonTrendQuantityCount; ++q)
                s.Value[q] = float(r.Values[column[q]]);
            if (!Append(s)) ++FSkipped;
            FLastSeq = r.Seq;
            lastSettings = r.SettingsId;
            return true;
        },
        error, FLastSeq);
    if (!walked) return failed();
    if (cancelled) {
        error = kmonTrendLoadCancelled;
        return false;
    }
    if (progress) progress->Done = read;
    // The outages are few: read whole each time, so that one begun or ended since is seen.
    std::vector<TTrendOutage> outages;
    if (!reader.ForEachOutage(
            [&](const TjnOutageView& o) {
                outages.push_back({o.Began, o.Ended, o.LastMeterTime, o.Text});
                return true;
            },
            error))
        return failed();
    SetOutages(std::move(outages));
    SetNotice(UnfinishedText(reader));
    // The limit lines: the recorded settings in force at the last record.
    if (lastSettings != FLastSettings) {
        TjnDecoder decoder(reader);
        if (!decoder.SettingsOf(lastSettings, FSettings, error)) return failed();
        FLastSettings = lastSettings;
    }
    SetLive(recording);
    return true;
}

bool TmonTrendJournalSource::Refresh() {
    if (!Live()) return false;
    const size_t before = End();
    std::string error;
    // A journal held for a moment by its recorder is looked at again at the next look.
    if (!ReadNew(error) && !FBusy) SetLive(false);
    return End() != before;
}

std::unique_ptr<TmonTrendJournalSource>
LoadJournalTrend(const std::string& path, std::string& error, TTrendLoadProgress* progress) {
    auto source = std::make_unique<TmonTrendJournalSource>(path);
    if (!source->ReadNew(error, progress)) return nullptr;
    return source;
}

std::unique_ptr<ITrendSource> OpenJournalTrend(const std::string& path, std::string& error,
                                               TTrendLoadProgress* progress) {
    return LoadJournalTrend(path, error, progress);
}

bool WriteJournalProtocol(const std::string& path, TDateTime from, TDateTime to,
                          const std::string& pdf, std::string& error,
                          TTrendLoadProgress* progress) {
#ifdef QZ_TRENDS_PROTOCOL
    TrpReadOptions options;
    options.From = from;
    options.To = to;
    if (progress) {
        progress->Total = 1000;
        options.Progress = [progress](double share) {
            progress->Done = int64_t(share * 1000);
            return !progress->Cancel.load();
        };
    }
    TrpAssessment a;
    TrpSource source;
    if (!AssessJournals({path}, options, a, source, error)) return false;
    TrpProtocolInfo info;
    info.LimitsSource = "уставки измерителя";
    info.ProgramVersion = std::string("qzmonitor ") + QZ_VERSION_STRING;
    info.Created = NowDateTime();
    return RpWritePdf(a, source, info, pdf, error);
#else
    (void)path, (void)from, (void)to, (void)pdf, (void)progress;
    error = "Эта сборка не умеет писать протокол PDF";
    return false;
#endif
}

} // namespace qz
