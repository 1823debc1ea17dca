// Journals opened as trends: the samples are the records as the exchange decoded them, the
// limit lines take the settings of the last record, and a file that is not a journal
// is refused with the reader's own text.
#include "trends/monTrendJournal.h"
#include "journal/jnJournal.h"
#include "protocol/QZ2Commands.h"
#include "simulator/MeterModel.h"
#include "tests/support/JournalMeter.h"
#include "tests/support/RecordingQzcli.h"
#include "tests/support/TempDir.h"
#include "trends/monTrendMath.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <thread>

using namespace qz;
using qz::test::TempDir;
namespace fs = std::filesystem;

namespace {

constexpr auto* At = &test::RecordingDay;

TjnMeter Meter(int modelIndex) {
    return test::JournalMeter(modelIndex, 77);
}

// `records` records of the simulated meter 3 s apart from `t0`, the settings answered again
// with a 15 A nominal current before the second half, each record decoded as the exchange
// decoded it into `decoded`. `times` (when given) replaces the record times.
// `alter` (when given) changes a record's decoded values before they are stored.
void WriteJournal(const std::string& file, int records, std::vector<TmonData3sec>& decoded,
                  const std::vector<TDateTime>& times = {},
                  const std::function<void(int, TmonData3sec&)>& alter = {}) {
    const TMeterModel meter(1);
    TjnWriter w;
    std::string e;
    ASSERT_TRUE(w.Create(file, Meter(1), e)) << e;
    TmonSettings settings;
    double vs = 0, cs = 0;
    for (int i = 0; i < records; ++i) {
        const TDateTime t = times.empty() ? At(10, 0, 3 + 3 * i) : times[size_t(i)];
        if (i == 0 || i == records / 2) {
            std::vector<uint8_t> s = meter.SettingsData();
            if (i > 0) s[qz2::kSetCurrentCode] = 3;
            const std::vector<uint8_t> k = meter.ScaleData();
            ASSERT_TRUE(w.AddAnswer(TjnAnswerKind::Settings, t, t, s.data(), s.size(), e)) << e;
            ASSERT_TRUE(w.AddAnswer(TjnAnswerKind::ScaleKoeffs, t, t, k.data(), k.size(), e));
            ASSERT_TRUE(DecodeSettings(s.data(), s.size(), settings));
            ASSERT_TRUE(DecodeScaleKoeffs(k.data(), k.size(), vs, cs));
        }
        const std::vector<uint8_t> r = meter.RecordData(t + 3.0 / 86400);
        TmonData3sec d;
        ASSERT_NE(Decode3sec(r.data(), r.size(), true, settings, vs, cs, d),
                  TmonDecodeResult::TooShort);
        d.Time = t;
        if (alter) alter(i, d);
        decoded.push_back(d);
        ASSERT_TRUE(w.AddRecord(t, t, r.data(), r.size(), d, e)) << e;
    }
    ASSERT_TRUE(w.Close(e)) << e;
}

std::unique_ptr<ITrendSource> Open(const std::string& file, std::string& error) {
    return OpenTrendFile(&OpenJournalTrend, file, error);
}

} // namespace

TEST(TrendJournal, SamplesAreTheDecodedRecordsAndTheLimitsThoseOfTheLastRecord) {
    TempDir dir;
    const std::string file = dir.Path() + "/site-a.db";
    std::vector<TmonData3sec> expected;
    WriteJournal(file, 10, expected);

    std::string error = "stale";
    std::unique_ptr<ITrendSource> s = Open(file, error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(s->Count(), 10u);
    EXPECT_FALSE(s->Live());
    EXPECT_EQ(s->Name(), "site-a.db");
    TDateTime first = 0, last = 0;
    ASSERT_TRUE(s->Span(first, last));
    EXPECT_DOUBLE_EQ(first, At(10, 0, 3));
    EXPECT_DOUBLE_EQ(last, At(10, 0, 30));

    // The sample at a record's time in each half (the nominal current changed between them,
    // and with it the current coefficient).
    for (size_t k : {size_t(2), size_t(8)}) {
        std::vector<TTrendSample> at;
        ASSERT_EQ(s->ReadRange(expected[k].Time, expected[k].Time, at), 1u);
        const TTrendSample want = TrendSampleOf(expected[k]);
        EXPECT_DOUBLE_EQ(at[0].Time, expected[k].Time);
        EXPECT_EQ(at[0].Value[tqUA], float(expected[k].U[phA]));
        EXPECT_EQ(at[0].Value[tqF], float(expected[k].F));
        EXPECT_GT(at[0].Value[tqUA], 100.f); // a real voltage, not an empty sample
        for (int q = 0; q < kmonTrendQuantityCount; ++q)
            EXPECT_EQ(at[0].Value[q], want.Value[q]) << TrendQuantityInfo(q).Name << " " << k;
    }

    TmonSettings st;
    ASSERT_TRUE(s->SettingsInForce(st));
    EXPECT_EQ(st.NominalCurrent, 15.f);
    EXPECT_EQ(st.HasNeutral, 1); // the model with the fourth channel
    EXPECT_GT(st.NominalPhaseVoltage, 0.f);
    EXPECT_FALSE(TrendLimitsOf(tqUA, st).empty());
}

TEST(TrendJournal, RecordsWhoseTimeRunsBackAreLeftOutAndCounted) {
    TempDir dir;
    const std::string file = dir.Path() + "/clock-set-back.db";
    std::vector<TmonData3sec> expected;
    WriteJournal(file, 4, expected, {At(10, 0, 3), At(10, 0, 6), At(9, 59, 0), At(10, 0, 9)});
    std::string error;
    std::unique_ptr<TmonTrendJournalSource> s = LoadJournalTrend(file, error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->Count(), 3u);
    EXPECT_EQ(s->Skipped(), 1);
    std::vector<TTrendSample> all;
    s->ReadFrom(0, 10, all);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_DOUBLE_EQ(all[2].Time, At(10, 0, 9));
}

TEST(TrendJournal, FilesThatAreNotJournalsAreRefusedWithTheReadersText) {
    TempDir dir;
    const std::string text = dir.Path() + "/notes.db";
    { std::ofstream(text) << "this is not a database, only some notes\n"; }
    TjnReader reader;
    std::string readerError;
    ASSERT_NE(reader.Open(text, readerError), TjnOpenResult::Ok);
    ASSERT_FALSE(readerError.empty());

    std::string error;
    EXPECT_FALSE(Open(text, error));
    EXPECT_EQ(error, readerError);

    const std::string missing = dir.Path() + "/gone.db";
    std::string missingError;
    reader.Open(missing, missingError);
    EXPECT_FALSE(Open(missing, error));
    EXPECT_EQ(error, missingError);
    EXPECT_NE(error.find("gone.db"), std::string::npos) << error;
}

TEST(TrendJournal, AnEmptyJournalGivesNoSamplesAndThePlotStillBuilds) {
    TempDir dir;
    const std::string file = dir.Path() + "/empty.db";
    {
        TjnWriter w;
        std::string e;
        ASSERT_TRUE(w.Create(file, Meter(0), e)) << e;
        ASSERT_TRUE(w.Close(e)) << e;
    }
    std::string error;
    std::unique_ptr<ITrendSource> s = Open(file, error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->Count(), 0u);
    TDateTime first = 0, last = 0;
    EXPECT_FALSE(s->Span(first, last));
    TmonSettings st;
    st.NominalPhaseVoltage = 57.7f; // must be replaced: no settings were ever read
    ASSERT_TRUE(s->SettingsInForce(st));
    EXPECT_EQ(st.NominalPhaseVoltage, 0.f);
    EXPECT_EQ(st.HasNeutral, 0); // the model without the fourth channel

    // What the window does with it: read everything, show the whole range, draw.
    std::vector<TTrendSample> samples;
    EXPECT_EQ(s->ReadFrom(0, s->Count(), samples), 0u);
    TTrendViewLimits l;
    l.First = l.Last = At(12, 0, 0);
    const TTrendTimeRange r = WholeRange(l);
    EXPECT_GT(r.Span(), 0);
    const TTrendPlotModel m = BuildPlotModel(samples, {tqUA, tqF}, st, r, TTrendPlotLayout(),
                                             TTrendTimeFormat(), kmonTrendDefaultGapDays);
    ASSERT_EQ(m.Panes.size(), 2u);
    for (const TTrendPane& p : m.Panes)
        for (const TTrendSeries& series : p.Series)
            for (const TTrendColumn& c : series.Columns)
                EXPECT_FALSE(c.Has);
}

TEST(TrendJournal, ProgressCountsTheRecordsAndAStopAskedForEndsTheReading) {
    TempDir dir;
    const std::string file = dir.Path() + "/progress.db";
    std::vector<TmonData3sec> expected;
    // A frequency that was not a number is stored as NULL: it must come back as no value, not
    // as a dip of the trend to 0 Hz.
    WriteJournal(file, 6, expected, {}, [](int i, TmonData3sec& d) {
        if (i == 3) d.F = std::nan("");
    });

    TTrendLoadProgress progress;
    std::string error;
    std::unique_ptr<TmonTrendJournalSource> s = LoadJournalTrend(file, error, &progress);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(progress.Total.load(), 6);
    EXPECT_EQ(progress.Done.load(), 6);
    std::vector<TTrendSample> all;
    ASSERT_EQ(s->ReadFrom(0, 10, all), 6u);
    EXPECT_TRUE(std::isnan(all[3].Value[tqF]));
    EXPECT_EQ(all[2].Value[tqF], float(expected[2].F));
    EXPECT_EQ(all[3].Value[tqUA], float(expected[3].U[phA]));

    TTrendLoadProgress stop;
    stop.Cancel = true;
    EXPECT_FALSE(LoadJournalTrend(file, error, &stop));
    EXPECT_EQ(error, kmonTrendLoadCancelled);

    // The window's way: a thread of its own, the source handed over once it has finished.
    TmonTrendFileLoad load(file, &OpenJournalTrend);
    while (!load.Finished())
        std::this_thread::yield();
    EXPECT_DOUBLE_EQ(load.Fraction(), 1.0);
    std::unique_ptr<ITrendSource> taken = load.Take(error);
    ASSERT_TRUE(taken) << error;
    EXPECT_EQ(taken->Count(), 6u);
    EXPECT_EQ(taken->Name(), "progress.db");
}

TEST(TrendJournal, AJournalBeingRecordedIsFollowedUntilItsRecordingEnds) {
    TempDir dir;
    const std::string file = dir.Path() + "/live.db";
    const TMeterModel meter(1);
    TjnWriter w;
    std::string e;
    ASSERT_TRUE(w.Create(file, Meter(1), e)) << e;
    std::vector<uint8_t> s = meter.SettingsData();
    const std::vector<uint8_t> k = meter.ScaleData();
    ASSERT_TRUE(
        w.AddAnswer(TjnAnswerKind::Settings, At(10, 0, 0), At(10, 0, 0), s.data(), s.size(), e));
    ASSERT_TRUE(
        w.AddAnswer(TjnAnswerKind::ScaleKoeffs, At(10, 0, 0), At(10, 0, 0), k.data(), k.size(), e));
    const std::vector<uint8_t> r = meter.RecordData(At(10, 0, 6));
    TmonData3sec d;
    const auto add = [&](int i) {
        d.Time = At(10, 0, 3 * i);
        d.U[phA] = 220 + i;
        return w.AddRecord(d.Time, d.Time, r.data(), r.size(), d, e);
    };
    ASSERT_TRUE(add(1) && add(2)) << e;

    std::unique_ptr<TmonTrendJournalSource> src = LoadJournalTrend(file, e);
    ASSERT_TRUE(src) << e;
    EXPECT_EQ(src->Count(), 2u);
    EXPECT_TRUE(src->Live());
    EXPECT_FALSE(src->Refresh()); // nothing new yet
    const float nominal = src->Settings().NominalCurrent;

    // New records, and settings answered again with another nominal current.
    s[qz2::kSetCurrentCode] = 3;
    ASSERT_TRUE(
        w.AddAnswer(TjnAnswerKind::Settings, At(10, 0, 9), At(10, 0, 9), s.data(), s.size(), e));
    ASSERT_TRUE(add(3) && add(4)) << e;
    EXPECT_TRUE(src->Refresh());
    ASSERT_EQ(src->Count(), 4u);
    std::vector<TTrendSample> all;
    src->ReadFrom(0, 10, all);
    EXPECT_EQ(all[3].Value[tqUA], 224.f);
    EXPECT_DOUBLE_EQ(all[3].Time, At(10, 0, 12));
    EXPECT_EQ(src->Settings().NominalCurrent, 15.f);
    EXPECT_NE(nominal, 15.f);

    // The recording ends: the last records are taken and the following stops.
    ASSERT_TRUE(add(5)) << e;
    ASSERT_TRUE(w.Close(e)) << e;
    // Held for a moment by another program (as the recorder holds it while it folds its log
    // back): the look finds nothing and the following goes on.
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_FALSE(src->Refresh());
    EXPECT_TRUE(src->Live());
    sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_TRUE(src->Refresh());
    EXPECT_EQ(src->Count(), 5u);
    EXPECT_FALSE(src->Live());
    EXPECT_FALSE(src->Refresh());

    // A finished journal is not followed at all; one that goes away ends the following.
    std::unique_ptr<TmonTrendJournalSource> closed = LoadJournalTrend(file, e);
    ASSERT_TRUE(closed) << e;
    EXPECT_FALSE(closed->Live());
    const std::string gone = dir.Path() + "/gone.db";
    TjnWriter w2;
    ASSERT_TRUE(w2.Create(gone, Meter(1), e)) << e;
    ASSERT_TRUE(w2.AddRecord(d.Time, d.Time, r.data(), r.size(), d, e)) << e;
    std::unique_ptr<TmonTrendJournalSource> removed = LoadJournalTrend(gone, e);
    ASSERT_TRUE(removed) << e;
    EXPECT_TRUE(removed->Live());
    fs::remove(gone);
    EXPECT_FALSE(removed->Refresh());
    EXPECT_FALSE(removed->Live());
    EXPECT_EQ(removed->Count(), 1u); // what was read stays on show
}

#ifdef QZ_QZCLI_PATH
TEST(TrendJournal, FollowsWhatAQzcliProcessRecordsOnTheRealClock) {
    TempDir dir;
    const std::string file = dir.Path() + "/qzcli.db";
    test::TRecordingQzcli recorder(QZ_QZCLI_PATH, file);
    ASSERT_TRUE(recorder.Started());
    // A record printed is a record committed.
    ASSERT_GE(recorder.ReadLines(1), 1u);
    std::string e;
    std::unique_ptr<TmonTrendJournalSource> src = LoadJournalTrend(file, e);
    ASSERT_TRUE(src) << e;
    EXPECT_TRUE(src->Live());
    const size_t first = src->Count();
    EXPECT_GE(first, 1u);
    // The next record printed reaches the trend at the next look.
    ASSERT_GE(recorder.ReadLines(first + 1), first + 1);
    EXPECT_TRUE(src->Refresh());
    EXPECT_GE(src->Count(), first + 1);

    const int status = recorder.Stop(SIGTERM); // qzcli closes the journal cleanly
    recorder.ReadLines(size_t(-1));
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    src->Refresh();
    EXPECT_FALSE(src->Live());

    TjnReader reader;
    ASSERT_EQ(reader.Open(file, e), TjnOpenResult::Ok) << e;
    int64_t records = 0, blocks = 0;
    ASSERT_TRUE(reader.Counts(records, blocks, e)) << e;
    EXPECT_EQ(int64_t(src->Count()), records);
    EXPECT_GE(records, int64_t(recorder.Lines()));
    // The meter's records, 3 s apart by its clock.
    std::vector<TTrendSample> all;
    src->ReadFrom(0, src->Count(), all);
    for (size_t i = 1; i < all.size(); ++i)
        EXPECT_NEAR((all[i].Time - all[i - 1].Time) * 86400, 3.0, 0.01) << i;
}
#endif
