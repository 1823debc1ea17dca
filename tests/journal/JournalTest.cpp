// The journal on its own: what goes in comes out the same, decoding reruns to the same
// values, and files that are not good journals are refused with a text and left untouched.
#include "journal/jnJournal.h"
#include "protocol/QZ2Commands.h"
#include "simulator/MeterModel.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sqlite3.h>
#include <sys/stat.h>

using namespace qz;
namespace fs = std::filesystem;

namespace {

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/qzjournal-test-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string path;
};

std::string ReadAll(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TDateTime At(int h, int m, int s) {
    TDateTime t = 0;
    TryEncodeDateTime({2026, 12, 8, h, m, s, 0}, t);
    return t;
}

TjnMeter QZ2MMeter() {
    TjnMeter m;
    m.DeviceType = 2;
    m.ModelIndex = 1; // QZ2M: the extended record
    m.Model = "Каврен–QZ2М";
    m.FactoryNumber = 1234;
    m.Address = 1234;
    m.Connection = "TCP/IP (IP: 127.0.0.1, Порт: 4001)";
    m.ProgramVersion = "0.1.0.0";
    m.Started = At(10, 0, 0);
    return m;
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
    if (close) ASSERT_TRUE(w.Close(e)) << e;
}

} // namespace

TEST(Journal, KeepsEveryItemAndDecodesToTheValuesTheExchangeHad) {
    TempDir dir;
    const std::string file = dir.path + "/j.db";
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
    const std::string good = dir.path + "/good.db";
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
    EXPECT_EQ(open(dir.path + "/absent.db"), TjnOpenResult::NotFound);
    EXPECT_NE(e.find("absent.db"), std::string::npos);

    const std::string text = dir.path + "/text.db";
    std::ofstream(text) << std::string(4096, 'x');
    EXPECT_EQ(open(text), TjnOpenResult::NotJournal);
    EXPECT_FALSE(e.empty());
    std::ofstream(dir.path + "/empty.db").close();
    EXPECT_EQ(open(dir.path + "/empty.db"), TjnOpenResult::NotJournal);

    // Somebody else's database.
    const std::string other = dir.path + "/other.db";
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES (1);", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    EXPECT_EQ(open(other), TjnOpenResult::NotJournal);

    // A journal of a newer schema.
    const std::string newer = dir.path + "/newer.db";
    fs::copy_file(good, newer);
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(newer.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "PRAGMA user_version = 2", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    EXPECT_EQ(open(newer), TjnOpenResult::NewerSchema);
    EXPECT_NE(e.find("новой"), std::string::npos) << e;

    // Cut short, as by a copy that did not finish.
    const std::string cut = dir.path + "/cut.db";
    fs::copy_file(good, cut);
    fs::resize_file(cut, fs::file_size(cut) / 2);
    EXPECT_EQ(open(cut), TjnOpenResult::Damaged);
    EXPECT_NE(e.find("повреждён"), std::string::npos) << e;

    // Still being recorded by another recorder.
    const std::string busy = dir.path + "/busy.db";
    {
        TjnWriter live;
        ASSERT_TRUE(live.Create(busy, QZ2MMeter(), e)) << e;
        EXPECT_EQ(open(busy), TjnOpenResult::Locked);
        EXPECT_NE(e.find("занят"), std::string::npos) << e;
    }
    EXPECT_EQ(open(busy), TjnOpenResult::Ok) << e;
}

TEST(Journal, ReadingChangesNothing) {
    TempDir dir;
    const std::string file = dir.path + "/j.db";
    WriteJournal(file, 5);
    const std::string before = ReadAll(file);
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
    EXPECT_EQ(ReadAll(file), before);
    EXPECT_FALSE(fs::exists(file + "-wal"));
    // A read-only file is read all the same.
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
    TjnReader r;
    std::string e;
    EXPECT_EQ(r.Open(file, e), TjnOpenResult::Ok) << e;
}

TEST(Journal, ARecordShorterThanItsLayoutIsReportedNotDecoded) {
    TempDir dir;
    const std::string file = dir.path + "/j.db";
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
