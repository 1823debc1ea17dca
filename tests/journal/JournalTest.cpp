// The journal on its own: what goes in comes out the same, decoding reruns to the same
// values, and files that are not good journals are refused with a text and left untouched.
#include "journal/jnJournal.h"
#include "journal/jnMeterOf.h"
#include "journal/jnRecorder.h"
#include "journal/jnReplay.h"
#include "journal/jnSalvage.h"
#include "journal/jnSeries.h"
#include "protocol/QZ2Commands.h"
#include "simulator/MeterModel.h"
#include "simulator/SimOptions.h"
#include "tests/support/Files.h"
#include "tests/support/JournalFeed.h"
#include "tests/support/JournalMeter.h"
#include "tests/support/JournalRows.h"
#include "tests/support/RecordingListener.h"
#include "tests/support/TempDir.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qz;
using qz::test::ReadFileBytes;
using qz::test::TempDir;
namespace fs = std::filesystem;

namespace {

constexpr auto* At = &test::RecordingDay;

TjnMeter QZ2MMeter() {
    return test::JournalMeter(1, 1234); // QZ2M: the extended record
}

// A journal of `records` records from the simulated meter's answers, with the settings
// answered twice (a change after the first half) and one waveform block per record.
void WriteJournal(const std::string& file, int records, bool close = true,
                  std::vector<TmonData3sec>* decoded = nullptr) {
    const TMeterModel meter(1);
    TjnWriter w;
    std::string e;
    ASSERT_TRUE(w.Create(file, QZ2MMeter(), e)) << e;
    TmonSettings settings;
    settings.HasNeutral = 1;
    double vs = 0, cs = 0;
    for (int i = 0; i < records; ++i) {
        const TDateTime t = At(10, 0, 3 + 3 * i);
        if (i == 0 || i == records / 2) {
            std::vector<uint8_t> tp = meter.TimeData(t, true, t);
            std::vector<uint8_t> s = meter.SettingsData();
            if (i > 0) s[qz2::kSetCurrentCode] = 3; // 15 A nominal from now on
            const std::vector<uint8_t> k = meter.ScaleData();
            ASSERT_TRUE(w.AddAnswer(TjnAnswerKind::TimeParams, t, t, tp.data(), tp.size(), e));
            ASSERT_TRUE(w.AddAnswer(TjnAnswerKind::Settings, t, t, s.data(), s.size(), e));
            ASSERT_TRUE(w.AddAnswer(TjnAnswerKind::ScaleKoeffs, t, t, k.data(), k.size(), e));
            ASSERT_TRUE(DecodeSettings(s.data(), s.size(), settings));
            ASSERT_TRUE(DecodeScaleKoeffs(k.data(), k.size(), vs, cs));
        }
        const std::vector<uint8_t> r = meter.RecordData(t + 3.0 / 86400);
        TmonData3sec d;
        ASSERT_NE(Decode3sec(r.data(), r.size(), true, settings, vs, cs, d),
                  TmonDecodeResult::TooShort);
        d.Time = t;
        if (decoded) decoded->push_back(d);
        ASSERT_TRUE(w.AddRecord(t, t + 0.5 / 86400, r.data(), r.size(), d, e)) << e;
        const std::vector<uint8_t> wf = meter.WaveformData(0xFF, 2, SecondsOf(t));
        ASSERT_TRUE(w.AddWaveform(t, t, 0xFF, 2, wf.data(), wf.size(), e)) << e;
    }
    if (close) {
        ASSERT_TRUE(w.Close(e)) << e;
    }
}

} // namespace

TEST(Journal, KeepsEveryItemAndDecodesToTheValuesTheExchangeHad) {
    TempDir dir;
    const std::string file = dir.Path() + "/j.db";
    std::vector<TmonData3sec> expected;
    WriteJournal(file, 8, true, &expected);
    // Closed cleanly: one file, no log beside it, created with the usual permissions.
    EXPECT_FALSE(fs::exists(file + "-wal"));
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);

    TjnReader r;
    std::string e;
    ASSERT_EQ(r.Open(file, e), TjnOpenResult::Ok) << e;
    EXPECT_EQ(r.Meter().Model, "Каврен–QZ2М");
    EXPECT_EQ(r.Meter().FactoryNumber, 1234);
    EXPECT_EQ(r.Meter().Connection, QZ2MMeter().Connection);
    EXPECT_DOUBLE_EQ(r.Meter().Started, At(10, 0, 0));
    // A journal from before the row named its program: the version, and that the name is
    // not known.
    EXPECT_EQ(RecordingProgramText(r.Meter()), "версия 0.1.0.0 (имя программы не записано)");
    int64_t records = 0, waveforms = 0;
    ASSERT_TRUE(r.Counts(records, waveforms, e));
    EXPECT_EQ(records, 8);
    EXPECT_EQ(waveforms, 8);

    // Records come back in order with their raw data and decode to exactly what the
    // exchange decoded, the second settings (15 A nominal) in force for the second half.
    TjnDecoder decoder(r);
    size_t n = 0;
    const TMeterModel meter(1);
    ASSERT_TRUE(r.ForEachRecord(
        kjnAnyTimeFrom, kjnAnyTimeTo,
        [&](const TjnRecordView& v) {
            EXPECT_EQ(v.Size, 1946u);
            const std::vector<uint8_t> raw = meter.RecordData(v.MeterTime + 3.0 / 86400);
            EXPECT_TRUE(std::equal(raw.begin(), raw.end(), v.Data));
            TmonData3sec d;
            EXPECT_TRUE(decoder.Decode(v, d, e)) << e;
            const TmonData3sec& x = expected[n];
            EXPECT_DOUBLE_EQ(d.Time, x.Time);
            EXPECT_EQ(d.U1[phA], x.U1[phA]);
            EXPECT_EQ(d.P[pwSum], x.P[pwSum]);
            EXPECT_EQ(d.KIn_B[4], x.KIn_B[4]); // relative to the nominal current in force
            EXPECT_EQ(d.Un_N[2], x.Un_N[2]);
            ++n;
            return true;
        },
        e));
    EXPECT_EQ(n, 8u);
    EXPECT_NE(expected[0].KIn_B[4], expected[7].KIn_B[4]) << "the settings change shows";

    // A time window limits the walk; a callback can end it early.
    n = 0;
    ASSERT_TRUE(r.ForEachRecord(
        At(10, 0, 6), At(10, 0, 12), [&](const TjnRecordView&) { return ++n, true; }, e));
    EXPECT_EQ(n, 3u);
    n = 0;
    ASSERT_TRUE(r.ForEachWaveform(
        kjnAnyTimeFrom, kjnAnyTimeTo,
        [&](const TjnWaveformView& b) {
            EXPECT_EQ(b.ChannelMask, 0xFF);
            EXPECT_EQ(b.SizeCode, 2);
            EXPECT_EQ(b.Size, 64u * 8 * 2 + 1);
            return ++n < 2;
        },
        e));
    EXPECT_EQ(n, 2u);
    std::vector<TjnAnswerKind> kinds;
    ASSERT_TRUE(
        r.ForEachAnswer([&](const TjnAnswerView& a) { return kinds.push_back(a.Kind), true; }, e));
    EXPECT_EQ(kinds.size(), 6u);
    EXPECT_EQ(kinds[0], TjnAnswerKind::TimeParams);
    EXPECT_EQ(kinds[1], TjnAnswerKind::Settings);
    EXPECT_EQ(kinds[2], TjnAnswerKind::ScaleKoeffs);
}

TEST(Journal, NeverOverwritesAFileAndRefusesWhatIsNotAGoodJournal) {
    TempDir dir;
    const std::string good = dir.Path() + "/good.db";
    WriteJournal(good, 4);
    std::string e;

    // An existing file of any kind is not replaced by a new recording.
    TjnWriter w;
    EXPECT_FALSE(w.Create(good, QZ2MMeter(), e));
    EXPECT_NE(e.find("существует"), std::string::npos) << e;
    TjnReader check;
    EXPECT_EQ(check.Open(good, e), TjnOpenResult::Ok) << e;

    auto open = [&](const std::string& file) {
        TjnReader r;
        e.clear();
        return r.Open(file, e);
    };
    EXPECT_EQ(open(dir.Path() + "/absent.db"), TjnOpenResult::NotFound);
    EXPECT_NE(e.find("absent.db"), std::string::npos);

    const std::string text = dir.Path() + "/text.db";
    std::ofstream(text) << std::string(4096, 'x');
    EXPECT_EQ(open(text), TjnOpenResult::NotJournal);
    EXPECT_FALSE(e.empty());
    std::ofstream(dir.Path() + "/empty.db").close();
    EXPECT_EQ(open(dir.Path() + "/empty.db"), TjnOpenResult::NotJournal);

    // Somebody else's database.
    const std::string other = dir.Path() + "/other.db";
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES (1);", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    EXPECT_EQ(open(other), TjnOpenResult::NotJournal);

    // A journal of a newer schema.
    const std::string newer = dir.Path() + "/newer.db";
    fs::copy_file(good, newer);
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(newer.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "PRAGMA user_version = 3", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    EXPECT_EQ(open(newer), TjnOpenResult::NewerSchema);
    EXPECT_NE(e.find("новой"), std::string::npos) << e;

    // Cut short, as by a copy that did not finish.
    const std::string cut = dir.Path() + "/cut.db";
    fs::copy_file(good, cut);
    fs::resize_file(cut, fs::file_size(cut) / 2);
    EXPECT_EQ(open(cut), TjnOpenResult::Damaged);
    EXPECT_NE(e.find("повреждён"), std::string::npos) << e;
}

TEST(Journal, AJournalBeingRecordedIsReadAsFarAsItIsWrittenAndAReaderDoesNotSpoilItsClose) {
    TempDir dir;
    const std::string file = dir.Path() + "/live.db";
    const TMeterModel meter(1);
    TjnWriter w;
    std::string e;
    ASSERT_TRUE(w.Create(file, QZ2MMeter(), e)) << e;
    const std::vector<uint8_t> r = meter.RecordData(At(10, 0, 6));
    const TmonData3sec d;
    const auto add = [&](int i) {
        const TDateTime t = At(10, 0, 3 * i);
        return w.AddRecord(t, t, r.data(), r.size(), d, e);
    };
    ASSERT_TRUE(add(1) && add(2)) << e;

    // Another program (qzcli info, the trends window) reads it while it is being recorded.
    TjnReader reader;
    ASSERT_EQ(reader.Open(file, e), TjnOpenResult::Ok) << e;
    int64_t records = 0, blocks = 0;
    ASSERT_TRUE(reader.Counts(records, blocks, e)) << e;
    EXPECT_EQ(records, 2);
    // Each read sees every record committed before it.
    ASSERT_TRUE(add(3)) << e;
    ASSERT_TRUE(reader.Counts(records, blocks, e)) << e;
    EXPECT_EQ(records, 3);
    std::vector<int64_t> seqs;
    ASSERT_TRUE(reader.ForEachRecordValues(
        kjnAnyTimeFrom, kjnAnyTimeTo,
        [&](const TjnRecordValuesView& v) {
            seqs.push_back(v.Seq);
            return true;
        },
        e))
        << e;
    EXPECT_EQ(seqs, (std::vector<int64_t>{1, 2, 3}));

    // A reader left open does not make the close fail, and the file alone holds every record
    // (the log beside it, kept for the reader, is empty): a copy of it is the whole journal.
    ASSERT_TRUE(w.Close(e)) << e;
    ASSERT_TRUE(reader.Counts(records, blocks, e)) << e;
    EXPECT_EQ(records, 3);
    const std::string copy = dir.Path() + "/copy.db";
    fs::copy_file(file, copy);
    TjnReader copied;
    ASSERT_EQ(copied.Open(copy, e), TjnOpenResult::Ok) << e;
    ASSERT_TRUE(copied.Counts(records, blocks, e)) << e;
    EXPECT_EQ(records, 3);
    reader = TjnReader();
}

TEST(Journal, ReadingChangesNothing) {
    TempDir dir;
    const std::string file = dir.Path() + "/j.db";
    WriteJournal(file, 5);
    const std::string before = ReadFileBytes(file);
    {
        TjnReader r;
        std::string e;
        ASSERT_EQ(r.Open(file, e), TjnOpenResult::Ok);
        TjnDecoder d(r);
        TmonData3sec x;
        ASSERT_TRUE(r.ForEachRecord(
            kjnAnyTimeFrom, kjnAnyTimeTo, [&](const TjnRecordView& v) { return d.Decode(v, x, e); },
            e));
    }
    EXPECT_EQ(ReadFileBytes(file), before);
    EXPECT_FALSE(fs::exists(file + "-wal"));
    // A read-only file is read all the same.
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
    TjnReader r;
    std::string e;
    EXPECT_EQ(r.Open(file, e), TjnOpenResult::Ok) << e;
}

TEST(Journal, ARecordShorterThanItsLayoutIsReportedNotDecoded) {
    TempDir dir;
    const std::string file = dir.Path() + "/j.db";
    {
        TjnWriter w;
        std::string e;
        ASSERT_TRUE(w.Create(file, QZ2MMeter(), e));
        const std::vector<uint8_t> shortRecord(1602, 0); // basic size for an extended model
        ASSERT_TRUE(w.AddRecord(At(10, 0, 3), At(10, 0, 3), shortRecord.data(), shortRecord.size(),
                                TmonData3sec(), e));
        ASSERT_TRUE(w.Close(e));
    }
    TjnReader r;
    std::string e;
    ASSERT_EQ(r.Open(file, e), TjnOpenResult::Ok);
    TjnDecoder d(r);
    bool decoded = true;
    ASSERT_TRUE(r.ForEachRecord(
        kjnAnyTimeFrom, kjnAnyTimeTo,
        [&](const TjnRecordView& v) {
            TmonData3sec x;
            decoded = d.Decode(v, x, e);
            return true;
        },
        e));
    EXPECT_FALSE(decoded);
    EXPECT_NE(e.find("короче"), std::string::npos) << e;
}

TEST(JournalReplay, AnswersWhatWasInForceAndNothingItDidNotRecord) {
    TempDir dir;
    const std::string file = dir.Path() + "/j.db";
    WriteJournal(file, 6); // records at 10:00:03 .. 10:00:18, settings changed at 10:00:12
    TjnReplay replay;
    std::string e;
    ASSERT_TRUE(replay.Open(file, e)) << e;
    EXPECT_DOUBLE_EQ(replay.StartTime(), At(10, 0, 6));
    const TMeterModel meter(1);
    std::vector<uint8_t> data;
    TDateTime stamp = 0;

    // The records of the intervals that have ended, the last one served until the next.
    ASSERT_TRUE(replay.Record3sec(At(10, 0, 6) + 0.2 / 86400, data, stamp));
    EXPECT_DOUBLE_EQ(stamp, At(10, 0, 6));
    EXPECT_EQ(data, meter.RecordData(At(10, 0, 6)));
    ASSERT_TRUE(replay.Record3sec(At(10, 0, 11), data, stamp));
    EXPECT_DOUBLE_EQ(stamp, At(10, 0, 9));
    ASSERT_TRUE(replay.Record3sec(At(10, 0, 21) + 0.5 / 86400, data, stamp));
    EXPECT_DOUBLE_EQ(stamp, At(10, 0, 21)); // the last record
    EXPECT_FALSE(replay.Record3sec(At(10, 0, 24) + 0.5 / 86400, data, stamp));
    EXPECT_EQ(replay.MissingStatus(27), 9);

    // Settings and time parameters in force: the change appears at 10:00:12; the meter's
    // current time is the replay's own.
    ASSERT_TRUE(replay.Settings(At(10, 0, 11), data));
    EXPECT_EQ(data[qz2::kSetCurrentCode], meter.SettingsData()[qz2::kSetCurrentCode]);
    ASSERT_TRUE(replay.Settings(At(10, 0, 13), data));
    EXPECT_EQ(data[qz2::kSetCurrentCode], 3);
    ASSERT_TRUE(replay.TimeParams(At(10, 0, 13), data));
    ASSERT_EQ(data.size(), 44u);
    EXPECT_DOUBLE_EQ(DecodeQZ2Time(data.data()), At(10, 0, 13));
    EXPECT_DOUBLE_EQ(DecodeQZ2Time(data.data() + 8), At(10, 0, 12)); // recorded change time
    EXPECT_NE(data[6], 0);
    ASSERT_TRUE(replay.ScaleKoeffs(At(10, 0, 1), data)); // before the first: the first
    EXPECT_EQ(data, meter.ScaleData());

    // Waveforms: the nearest block of the same mask and size; none of another kind.
    ASSERT_TRUE(replay.Waveform(At(10, 0, 10), 0xFF, 2, data, stamp));
    EXPECT_DOUBLE_EQ(stamp, At(10, 0, 9));
    EXPECT_EQ(data, meter.WaveformData(0xFF, 2, SecondsOf(At(10, 0, 9))));
    ASSERT_TRUE(replay.Waveform(At(10, 0, 11), 0xFF, 2, data, stamp));
    EXPECT_DOUBLE_EQ(stamp, At(10, 0, 12));
    EXPECT_FALSE(replay.Waveform(At(10, 0, 10), 0x3F, 2, data, stamp));
    EXPECT_FALSE(replay.Waveform(At(10, 0, 10), 0xFF, 3, data, stamp));
    EXPECT_EQ(replay.MissingStatus(32), 4);

    // Nothing to replay in a journal without records.
    const std::string empty = dir.Path() + "/empty.db";
    {
        TjnWriter w;
        ASSERT_TRUE(w.Create(empty, QZ2MMeter(), e));
    }
    TjnReplay none;
    EXPECT_FALSE(none.Open(empty, e));
    EXPECT_NE(e.find("нет ни одной записи"), std::string::npos) << e;
}

TEST(JournalRecorder, AFailedWriteIsReportedOnceAndTheListenerStillHearsEverything) {
    TjnWriter closed; // never opened: every write fails
    TmonSharedStorage storage;
    test::TRecordingListener next;
    TjnRecorder recorder(closed, storage, &next);
    int failures = 0;
    std::string text;
    recorder.OnFailure = [&](const std::string& e) {
        ++failures;
        text = e;
    };
    const uint8_t bytes[12] = {};
    TmonAnswer a;
    a.Kind = TmonAnswerKind::Settings;
    a.Data = bytes;
    a.Size = sizeof bytes;
    recorder.OnAnswer(a);
    a.Kind = TmonAnswerKind::Record3sec;
    recorder.OnAnswer(a);
    recorder.OnData3sec();
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(recorder.Error(), text);
    EXPECT_EQ(recorder.Records(), 0);
    EXPECT_EQ(next.Answers, 2u);
    EXPECT_EQ(next.Records, 1u);
}

TEST(JournalReplay, TheSimulatorsCommandLineTakesTheJournalAndTheSpeed) {
    TSimOptions o;
    bool help = false;
    std::string e;
    ASSERT_TRUE(ParseSimArgs({"--replay", "/x/site.db", "--speed", "12.5"}, o, help, e)) << e;
    EXPECT_EQ(o.ReplayFile, "/x/site.db");
    EXPECT_DOUBLE_EQ(o.Speed, 12.5);
    for (const char* bad : {"0", "-1", "fast", "1001"}) {
        TSimOptions b;
        EXPECT_FALSE(ParseSimArgs({"--speed", bad}, b, help, e)) << bad;
    }
    TSimOptions b;
    EXPECT_FALSE(ParseSimArgs({"--replay"}, b, help, e));
}

namespace {

using TFeed = test::TJournalFeed;

} // namespace

TEST(JournalOutage, ALossIsOneOutageEndedByTheNextRecordOrByTheClose) {
    TempDir dir;
    const std::string file = dir.Path() + "/j.db";
    TjnWriter w;
    std::string e;
    ASSERT_TRUE(w.Create(file, QZ2MMeter(), e)) << e;
    TFeed feed;
    TjnRecorder recorder(w, feed.Storage, nullptr);
    recorder.Now = [&] { return feed.LocalNow; };
    feed.Settings(recorder, At(10, 0, 0));
    feed.Record(recorder, At(10, 0, 3));
    feed.Record(recorder, At(10, 0, 6));
    // The line is lost; every failed retry continues the same outage.
    feed.LocalNow = At(10, 0, 10);
    recorder.BeginOutage(3, 0, "Нет ответа от устройства.");
    feed.LocalNow = At(10, 0, 16);
    recorder.BeginOutage(4, 0, "Ошибка связи");
    // Back: the meter gives the record stored already, then new ones.
    feed.Record(recorder, At(10, 0, 6));
    feed.Record(recorder, At(10, 0, 30));
    feed.LocalNow = At(10, 1, 0);
    recorder.BeginOutage(3, 9, "Нет данных");
    ASSERT_TRUE(recorder.Error().empty()) << recorder.Error();
    EXPECT_EQ(recorder.Records(), 3);
    ASSERT_TRUE(w.Close(At(10, 2, 0), e)) << e;

    TjnReader r;
    ASSERT_EQ(r.Open(file, e), TjnOpenResult::Ok) << e;
    EXPECT_EQ(r.Version(), kjnSchemaVersion);
    EXPECT_FALSE(r.Unfinished());
    EXPECT_DOUBLE_EQ(r.Closed(), At(10, 2, 0));
    EXPECT_EQ(test::JournalRecordTimes(r),
              (std::vector<TDateTime>{At(10, 0, 3), At(10, 0, 6), At(10, 0, 30)}));
    const std::vector<TjnOutageView> o = test::JournalOutages(r);
    ASSERT_EQ(o.size(), 2u);
    EXPECT_DOUBLE_EQ(o[0].Began, At(10, 0, 10));
    EXPECT_DOUBLE_EQ(o[0].Ended, At(10, 0, 31)); // the local time of the next new record
    EXPECT_DOUBLE_EQ(o[0].LastMeterTime, At(10, 0, 6));
    EXPECT_EQ(o[0].Code, 3);
    EXPECT_EQ(o[0].Text, "Нет ответа от устройства.");
    EXPECT_DOUBLE_EQ(o[1].Began, At(10, 1, 0));
    EXPECT_DOUBLE_EQ(o[1].Ended, At(10, 2, 0)); // the recording stopped during it
    EXPECT_EQ(o[1].Status, 9);
    EXPECT_DOUBLE_EQ(o[1].LastMeterTime, At(10, 0, 30));
}

TEST(Journal, AVersion1JournalIsReadAsItIs) {
    TempDir dir;
    const std::string file = dir.Path() + "/v1.db";
    std::vector<TmonData3sec> expected;
    WriteJournal(file, 4, true, &expected);
    // What the first version wrote: 32 KiB pages, no outages, no mark of the close.
    auto toVersion1 = [](const std::string& f, const char* mode) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(f.c_str(), &db), SQLITE_OK);
        const std::string sql = "DROP TABLE outage; ALTER TABLE meter DROP COLUMN closed;"
                                " PRAGMA user_version = 1; PRAGMA page_size = 32768; VACUUM;"
                                " PRAGMA journal_mode = " +
                                std::string(mode);
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db);
        sqlite3_close(db);
    };
    toVersion1(file, "DELETE");
    std::string e;
    TjnReader r;
    ASSERT_EQ(r.Open(file, e), TjnOpenResult::Ok) << e;
    EXPECT_EQ(r.Version(), 1);
    EXPECT_FALSE(r.Unfinished());
    EXPECT_TRUE(test::JournalOutages(r).empty());
    TjnDecoder decoder(r);
    size_t n = 0;
    ASSERT_TRUE(r.ForEachRecord(
        kjnAnyTimeFrom, kjnAnyTimeTo,
        [&](const TjnRecordView& v) {
            TmonData3sec d;
            EXPECT_TRUE(decoder.Decode(v, d, e)) << e;
            EXPECT_EQ(d.P[pwSum], expected[n++].P[pwSum]);
            return true;
        },
        e));
    EXPECT_EQ(n, 4u);
    // A version 1 journal whose log was never folded back was not finished.
    const std::string open = dir.Path() + "/v1-open.db";
    WriteJournal(open, 2);
    toVersion1(open, "WAL");
    TjnReader o;
    ASSERT_EQ(o.Open(open, e), TjnOpenResult::Ok) << e;
    EXPECT_TRUE(o.Unfinished());
    EXPECT_NE(UnfinishedText(o).find("запись не завершена"), std::string::npos);
}

TEST(JournalSeries, ANewJournalAtTheMetersMidnightLosesAndDoublesNoRecord) {
    TempDir dir;
    TFeed feed;
    TjnRotatingRecorder recorder(feed.Storage, nullptr);
    recorder.Now = [&] { return feed.LocalNow; };
    TjnMeter meter = QZ2MMeter();
    meter.Started = At(23, 59, 40);
    std::string e;
    ASSERT_TRUE(recorder.Start(dir.Path() + "/rec", meter, TjnRotation::Day, e)) << e;
    feed.Settings(recorder, At(23, 59, 48));
    std::vector<TDateTime> sent;
    for (int i = 0; i < 8; ++i) { // 23:59:51 .. 00:00:12 by the meter's clock
        sent.push_back(At(23, 59, 51) + 3.0 * i / 86400);
        feed.Record(recorder, sent.back());
    }
    ASSERT_TRUE(recorder.Error().empty()) << recorder.Error();
    ASSERT_TRUE(recorder.Close(e)) << e;
    const std::vector<std::string> files = recorder.Files();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(fs::path(files[0]).filename(), "qz2m_1234_2026-12-08_23-59-40.db");
    EXPECT_EQ(fs::path(files[1]).filename(), "qz2m_1234_2026-12-09_00-00-00.db");

    // Each journal is finished and decodes alone; together they hold every record once.
    std::vector<TDateTime> stored;
    for (const std::string& f : files) {
        TjnReader r;
        ASSERT_EQ(r.Open(f, e), TjnOpenResult::Ok) << e;
        EXPECT_FALSE(r.Unfinished()) << f;
        TjnDecoder decoder(r);
        ASSERT_TRUE(r.ForEachRecord(
            kjnAnyTimeFrom, kjnAnyTimeTo,
            [&](const TjnRecordView& v) {
                TmonData3sec d;
                EXPECT_TRUE(decoder.Decode(v, d, e)) << e;
                EXPECT_GT(d.U[phA], 0) << "decoded with the settings and scale in force";
                stored.push_back(v.MeterTime);
                return true;
            },
            e));
    }
    EXPECT_EQ(stored, sent);

    // Read as one, in time order whatever order they are named in.
    TjnSeries series;
    ASSERT_TRUE(series.Open({files[1], files[0]}, e)) << e;
    EXPECT_EQ(series.FileName(0), files[0]);
    std::vector<TDateTime> read;
    ASSERT_TRUE(series.ForEachRecord(
        kjnAnyTimeFrom, kjnAnyTimeTo,
        [&](size_t j, const TjnRecordView& v) {
            TmonData3sec d;
            EXPECT_TRUE(series.Decoder(j).Decode(v, d, e)) << e;
            read.push_back(v.MeterTime);
            return read.size() < 5; // a callback ends the whole walk
        },
        e));
    EXPECT_EQ(read, std::vector<TDateTime>(sent.begin(), sent.begin() + 5));
    int64_t records = 0, blocks = 0;
    ASSERT_TRUE(series.Counts(records, blocks, e));
    EXPECT_EQ(records, 8);

    // Weeks start on Monday 00:00: 8 December 2026 is a Tuesday.
    EXPECT_DOUBLE_EQ(RotationStart(At(10, 0, 0), TjnRotation::Week), At(0, 0, 0) - 1);
    EXPECT_DOUBLE_EQ(RotationEnd(At(23, 59, 59), TjnRotation::Week), At(0, 0, 0) + 6);
}

TEST(JournalSeries, JournalsOfDifferentMetersOrTheSameFileTwiceAreRefused) {
    TempDir dir;
    const std::string a = dir.Path() + "/a.db", b = dir.Path() + "/b.db";
    WriteJournal(a, 1);
    {
        TjnWriter w;
        std::string e;
        ASSERT_TRUE(w.Create(b, test::JournalMeter(1, 99), e)) << e;
    }
    TjnSeries series;
    std::string e;
    EXPECT_FALSE(series.Open({a, b}, e));
    EXPECT_NE(e.find("разных измерителей"), std::string::npos) << e;
    EXPECT_NE(e.find("a.db"), std::string::npos) << e;
    EXPECT_NE(e.find("b.db (Каврен–QZ2М, заводской номер 99)"), std::string::npos) << e;
    EXPECT_FALSE(series.Open({a, dir.Path() + "/./a.db"}, e));
    EXPECT_NE(e.find("дважды"), std::string::npos) << e;
}

TEST(JournalWriter, GatheredItemsCommitAtAnOutageOrTheCloseAndAKillLosesOnlyTheGathering) {
    TempDir dir;
    const TMeterModel meter(1);
    const auto r = meter.RecordData(At(10, 0, 3));
    auto add = [&](TjnWriter& w, int i, std::string& e) {
        const TDateTime t = At(10, 0, 3 + 3 * i);
        return w.AddRecord(t, t, r.data(), r.size(), TmonData3sec(), e);
    };
    auto counts = [](const std::string& file) {
        TjnReader reader;
        std::string e;
        int64_t records = -1, waveforms = -1;
        EXPECT_EQ(reader.Open(file, e), TjnOpenResult::Ok) << e;
        EXPECT_TRUE(reader.Counts(records, waveforms, e)) << e;
        return records;
    };
    // Killed while gathering: what the outage committed stays, the outage open; the records
    // gathered after it, the one that ended it among them, are gone together.
    const std::string killed = dir.Path() + "/killed.db";
    const pid_t child = fork();
    if (child == 0) {
        auto* w = new TjnWriter; // never closed
        std::string e;
        w->SetCommitInterval(1e9);
        if (!w->Create(killed, QZ2MMeter(), e)) _exit(1);
        for (int i = 0; i < 5; ++i)
            if (!add(*w, i, e)) _exit(1);
        if (!w->BeginOutage(At(10, 0, 18), At(10, 0, 15), 3, 0, "Нет ответа", e)) _exit(1);
        for (int i = 6; i < 9; ++i)
            if (!add(*w, i, e)) _exit(1);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(counts(killed), 5);
    {
        TjnReader reader;
        std::string e;
        ASSERT_EQ(reader.Open(killed, e), TjnOpenResult::Ok) << e;
        const auto outages = test::JournalOutages(reader);
        ASSERT_EQ(outages.size(), 1u);
        EXPECT_FALSE(outages[0].HasEnd());
    }

    // A reader sees nothing of a gathering until the close commits it.
    const std::string closed = dir.Path() + "/closed.db";
    TjnWriter w;
    std::string e;
    w.SetCommitInterval(1e9);
    ASSERT_TRUE(w.Create(closed, QZ2MMeter(), e)) << e;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(add(w, i, e)) << e;
    EXPECT_EQ(counts(closed), 0);
    ASSERT_TRUE(w.Close(e)) << e;
    EXPECT_EQ(counts(closed), 3);
}

TEST(JournalSalvage, AKilledRecordingAndItsFileCutAnywhereKeepEveryWholeRecordBeforeTheCut) {
    TempDir dir;
    const std::string killed = dir.Path() + "/killed.db";
    constexpr int kRecords = 40;
    // A recorder killed in the middle of a recording: its last items only in the log.
    const pid_t child = fork();
    if (child == 0) {
        auto* w = new TjnWriter; // never closed
        std::string e;
        const TMeterModel meter(1);
        if (!w->Create(killed, QZ2MMeter(), e)) _exit(1);
        const auto s = meter.SettingsData(), k = meter.ScaleData();
        w->AddAnswer(TjnAnswerKind::Settings, At(10, 0, 0), At(10, 0, 0), s.data(), s.size(), e);
        w->AddAnswer(TjnAnswerKind::ScaleKoeffs, At(10, 0, 0), At(10, 0, 0), k.data(), k.size(), e);
        w->SetCheckpointInterval(1e9);
        for (int i = 0; i < kRecords; ++i) {
            const TDateTime t = At(10, 0, 3 + 3 * i);
            const auto r = meter.RecordData(t + 3.0 / 86400);
            if (i == 20) w->BeginOutage(t, t, 3, 0, "Нет ответа от устройства.", e);
            if (!w->AddRecord(t, t, r.data(), r.size(), TmonData3sec(), e)) _exit(1);
            if (i % 10 == 0) {
                const auto b = meter.WaveformData(0xFF, 2, SecondsOf(t));
                w->AddWaveform(t, t, 0xFF, 2, b.data(), b.size(), e);
            }
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // Each commit in the log was padded to a 4 KiB boundary (its last frame repeated past
    // it), so that the next commit never writes into a synced page again.
    {
        const std::string log = ReadFileBytes(killed + "-wal");
        auto be32 = [&](size_t at) {
            return uint32_t(uint8_t(log[at])) << 24 | uint32_t(uint8_t(log[at + 1])) << 16 |
                   uint32_t(uint8_t(log[at + 2])) << 8 | uint32_t(uint8_t(log[at + 3]));
        };
        ASSERT_GT(log.size(), 32u);
        const size_t frame = 24 + be32(8);
        int commits = 0;
        for (size_t at = 32; at + frame <= log.size(); at += frame) {
            if (log.compare(at + 8, 8, log, 16, 8) != 0) break; // a frame of an older pass
            const bool commit = be32(at + 4) != 0;
            const bool last = at + 2 * frame > log.size() || be32(at + frame + 4) == 0 ||
                              log.compare(at + frame + 8, 8, log, 16, 8) != 0;
            if (!commit || !last) continue;
            ++commits;
            EXPECT_LT((at + frame) % 4096, frame) << "a commit ending at " << at + frame;
        }
        EXPECT_GT(commits, kRecords / 2);
    }

    std::string e;
    TjnReader r;
    ASSERT_EQ(r.Open(killed, e), TjnOpenResult::Ok) << e;
    EXPECT_TRUE(r.Unfinished());
    EXPECT_NE(UnfinishedText(r).find(killed + "-wal"), std::string::npos) << UnfinishedText(r);
    std::vector<std::string> original;
    ASSERT_TRUE(r.ForEachRecord(
        kjnAnyTimeFrom, kjnAnyTimeTo,
        [&](const TjnRecordView& v) {
            return original.emplace_back(v.Data, v.Data + v.Size), true;
        },
        e));
    ASSERT_EQ(original.size(), size_t(kRecords));

    // Salvaged with its log: every row of every kind, the records byte for byte.
    auto salvage = [&](const std::string& from, const std::string& to, TjnSalvageReport& report) {
        const bool ok = SalvageJournal(from, to, report, e);
        if (!ok) {
            EXPECT_FALSE(e.empty());
        }
        return ok;
    };
    auto savedSeqs = [&](const std::string& file) {
        std::vector<int64_t> seqs;
        TjnReader s;
        EXPECT_EQ(s.Open(file, e), TjnOpenResult::Ok) << e;
        EXPECT_FALSE(s.Unfinished());
        TjnDecoder decoder(s);
        EXPECT_TRUE(s.ForEachRecord(
            kjnAnyTimeFrom, kjnAnyTimeTo,
            [&](const TjnRecordView& v) {
                EXPECT_EQ(std::string(v.Data, v.Data + v.Size), original[size_t(v.Seq - 1)]);
                TmonData3sec d;
                EXPECT_TRUE(decoder.Decode(v, d, e)) << e;
                return seqs.push_back(v.Seq), true;
            },
            e));
        return seqs;
    };
    TjnSalvageReport report;
    ASSERT_TRUE(salvage(killed, dir.Path() + "/all.db", report)) << e;
    EXPECT_EQ(savedSeqs(dir.Path() + "/all.db").size(), size_t(kRecords));
    EXPECT_EQ(report.Answers.Saved, 2);
    EXPECT_EQ(report.Waveforms.Saved, 4);
    EXPECT_EQ(report.Outages.Saved, 1);
    EXPECT_TRUE(report.UsedLog);
    EXPECT_NE(SalvageReportText(report, "all.db").find("записи 3 с: сохранено 40"),
              std::string::npos);

    // The file with its log folded in (as the recorder does every minute), copied alone and
    // cut short anywhere.
    const std::string folded = dir.Path() + "/folded.db";
    fs::copy_file(killed, folded);
    fs::copy_file(killed + "-wal", folded + "-wal");
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(folded.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE); PRAGMA journal_mode = DELETE",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    const std::string whole = ReadFileBytes(folded);
    std::srand(25);
    std::vector<size_t> cuts = {whole.size() - 1, whole.size() - 3000};
    for (int i = 0; i < 10; ++i)
        cuts.push_back(size_t(std::rand()) % whole.size());
    std::sort(cuts.begin(), cuts.end());
    std::vector<int64_t> before; // what the shorter cut kept
    for (size_t cut : cuts) {
        const std::string file = dir.Path() + "/cut" + std::to_string(cut) + ".db";
        std::ofstream(file, std::ios::binary) << whole.substr(0, cut);
        TjnReader c;
        if (c.Open(file, e) == TjnOpenResult::Damaged) {
            EXPECT_NE(e.find("qzcli salvage " + file), std::string::npos) << e;
        }
        const std::string to = dir.Path() + "/saved" + std::to_string(cut) + ".db";
        if (!salvage(file, to, report)) {
            EXPECT_LT(cut, 4096u) << e; // only a file cut within its first pages has no meter
            continue;
        }
        // More of the file keeps all that less of it kept; near its end, all but the records
        // whose pages were cut off (each takes at least two pages after its leaf).
        const std::vector<int64_t> seqs = savedSeqs(to);
        EXPECT_EQ(report.Records.Saved, int64_t(seqs.size()));
        EXPECT_TRUE(std::includes(seqs.begin(), seqs.end(), before.begin(), before.end()))
            << "cut at " << cut;
        before = seqs;
        if (cut > whole.size() * 3 / 4) {
            const int64_t lostBound = int64_t((whole.size() - cut) / (2 * kjnPageSize)) + 2;
            EXPECT_GE(int64_t(seqs.size()), kRecords - lostBound) << "cut at " << cut;
        }
    }
}
