// The protocol's rules one by one on records whose values are known: the intervals aligned to
// the meter's clock, quadratic means, the 90 % rule, nearest rank, strictly outside, limits of
// 0, the settings of each interval, the limits file, and journals read as one recording.
#include "report/rpAssessment.h"
#include "report/rpJournals.h"
#include "report/rpLimitsFile.h"
#include "tests/support/PqJournal.h"
#include "tests/support/TempDir.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace qz;
using qz::test::PqSettings;
using qz::test::TPqJournal;
using qz::test::TPqValues;

namespace {

constexpr auto* At = &test::RecordingDay;
constexpr double kStep = 3.0 / 86400;

TmonSettings Settings(double phaseNominal = 220, double lineNominal = 380) {
    TmonSettings s;
    const std::vector<uint8_t> a = PqSettings(phaseNominal, lineNominal);
    DecodeSettings(a.data(), a.size(), s);
    return s;
}

// A record with every phase voltage `u`, the negative-sequence unbalance `k2`, frequency `f`.
TmonData3sec Record(double u = 220, double k2 = 0, double f = 50) {
    TmonData3sec d;
    for (int ph = 0; ph < 3; ++ph) {
        d.U[ph] = u;
        d.ULine[ph] = u * std::sqrt(3.0);
    }
    d.K2 = k2;
    d.F = f;
    return d;
}

// `count` records every 3 s from `from`, each made by `make(i)`.
template <class F>
void AddRecords(TrpAggregator& a, TDateTime from, int count, const TmonSettings& s, F make) {
    for (int i = 0; i < count; ++i)
        a.Add(from + i * kStep, make(i), s);
}

// `n` full intervals from 10:00, interval i holding K2 = k2(i) in every record.
template <class F> TrpAssessment K2Intervals(int n, F k2, const TmonSettings& s = Settings()) {
    TrpAggregator a;
    for (int i = 0; i < n; ++i)
        AddRecords(a, At(10, 0, 0) + i * 600.0 / 86400, 200, s,
                   [&](int) { return Record(220, k2(i)); });
    return a.Finish();
}

} // namespace

TEST(ReportRules, IntervalsAlignToTheMeterClockAndAverageQuadratically) {
    TrpAggregator a;
    const TmonSettings s = Settings();
    // From 10:07:00 to 10:21:57: a partial interval, a full one, a partial one. Voltages
    // alternate 200 and 240 V in the full one: its mean is √((200² + 240²) / 2) = 220.907 V.
    AddRecords(a, At(10, 7, 0), 300, s, [](int i) { return Record(i % 2 ? 240 : 200); });
    // A record 1 ms before the tick still belongs to the interval before it.
    a.Add(At(10, 22, 0) - 0.001 / 86400, Record(), s);
    a.Add(At(10, 22, 0) + 0.5 / 86400, Record(), s);
    const TrpAssessment r = a.Finish();
    ASSERT_EQ(r.IntervalList.size(), 3u);
    EXPECT_DOUBLE_EQ(r.IntervalList[0].Start, At(10, 0, 0));
    EXPECT_DOUBLE_EQ(r.IntervalList[1].Start, At(10, 10, 0));
    EXPECT_DOUBLE_EQ(r.IntervalList[2].Start, At(10, 20, 0));
    EXPECT_EQ(r.IntervalList[0].Records, 60);  // 10:07:00 .. 10:09:57
    EXPECT_EQ(r.IntervalList[1].Records, 200); // 10:10:00 exactly opens the second
    EXPECT_EQ(r.IntervalList[2].Records, 42);  // 10:20:00 .. 10:21:57, 10:21:59.999, 10:22:00.5
    EXPECT_EQ(r.Intervals, 3);
    EXPECT_EQ(r.ValidIntervals, 1);
    // (220.907 - 220) / 220 × 100
    EXPECT_NEAR(r.IntervalList[1].Values[rqDUPhase], 0.41237, 1e-5);
    EXPECT_NEAR(r.Stats[rqDUPhase].Max, 0.41237, 1e-5);
    EXPECT_EQ(r.Stats[rqDUPhase].N, 1); // the partial intervals are not assessed
    // Δf is judged per record, partial intervals included.
    EXPECT_EQ(r.Stats[rqDF].N, 302);
}

TEST(ReportRules, AnIntervalNeedsNinetyPercentOfItsRecords) {
    TrpAggregator a;
    const TmonSettings s = Settings();
    // 10:00: 180 records (valid, K2 1 %); 10:10: 179 (invalid, K2 9 %); nothing at 10:20 and
    // 10:30; 10:40: 200 (valid, K2 1.5 %).
    AddRecords(a, At(10, 0, 0), 180, s, [](int) { return Record(220, 1); });
    AddRecords(a, At(10, 10, 0), 179, s, [](int) { return Record(220, 9); });
    AddRecords(a, At(10, 40, 0), 200, s, [](int) { return Record(220, 1.5); });
    const TrpAssessment r = a.Finish();
    EXPECT_EQ(r.Records, 559);
    EXPECT_EQ(r.Intervals, 5); // empty ones included
    EXPECT_EQ(r.ValidIntervals, 2);
    // One record per 3 s from 10:00:00 to 10:49:57.
    EXPECT_EQ(r.ExpectedRecords, 1000);
    ASSERT_EQ(r.Outages.size(), 2u);
    EXPECT_EQ(r.Outages[0].Missing, 20);
    EXPECT_EQ(r.Outages[1].Missing, 421); // 10:18:54 .. 10:40:00: 1266 s
    const TrpStats& k2 = r.Stats[rqK2U];
    EXPECT_EQ(k2.N, 2);
    EXPECT_DOUBLE_EQ(k2.Max, 1.5); // the invalid interval's 9 % is never assessed
    EXPECT_EQ(k2.Verdict, 1);
}

TEST(ReportRules, NinetyFivePercentIsTheNearestRankAndLimitsAreStrict) {
    // 30 intervals with K2 = 0.1 .. 3.0 %: the upper 95 % value is the ⌈28.5⌉ = 29th, 2.9
    // (an interpolation would give 2.855). Normal 2 %, maximum 4 %: 2.0 is on the limit and
    // inside, 2.1 .. 3.0 outside: T1 = 10 of 30.
    TrpAssessment r = K2Intervals(30, [](int i) { return (i + 1) / 10.0; });
    const TrpStats& k2 = r.Stats[rqK2U];
    EXPECT_EQ(k2.N, 30);
    EXPECT_NEAR(k2.Upper95, 2.9, 1e-12);
    EXPECT_TRUE(std::isnan(k2.Lower95)); // one-sided
    EXPECT_NEAR(k2.T1, 100.0 * 10 / 30, 1e-9);
    EXPECT_DOUBLE_EQ(k2.T2, 0);
    EXPECT_EQ(k2.Verdict, 0);
    EXPECT_EQ(r.Verdict, 0);

    // One value of 20 above the normal limit is 5 %: still complies; a value exactly on the
    // maximum limit is not outside it, one above it fails even alone.
    r = K2Intervals(20, [](int i) { return i == 0 ? 4.0 : 1.0; });
    EXPECT_DOUBLE_EQ(r.Stats[rqK2U].T1, 5);
    EXPECT_DOUBLE_EQ(r.Stats[rqK2U].T2, 0);
    EXPECT_EQ(r.Stats[rqK2U].Verdict, 1);
    r = K2Intervals(20, [](int i) { return i == 0 ? 4.01 : 1.0; });
    EXPECT_DOUBLE_EQ(r.Stats[rqK2U].T2, 5);
    EXPECT_EQ(r.Stats[rqK2U].Verdict, 0);

    // Two-sided: of Δf = -0.09 .. 0.19 and 0.21 Hz the lower 5 % value is the ⌈1.5⌉ = 2nd
    // smallest, the upper the 29th. 50.21 Hz is outside the normal +0.2 Hz.
    TrpAggregator a;
    const TmonSettings s = Settings();
    AddRecords(a, At(10, 0, 0), 30, s,
               [](int i) { return Record(220, 0, i == 0 ? 50.21 : 49.9 + 0.01 * i); });
    r = a.Finish();
    EXPECT_NEAR(r.Stats[rqDF].Lower95, -0.08, 1e-9);
    EXPECT_NEAR(r.Stats[rqDF].Upper95, 0.19, 1e-9);
    EXPECT_NEAR(r.Stats[rqDF].T1, 100.0 / 30, 1e-9); // only 50.21
}

TEST(ReportRules, ALimitOfZeroIsNotSet) {
    TmonSettings s = Settings();
    s.K2Limits[0] = s.K2Limits[1] = 0;
    s.KULimits[5] = 0; // harmonic 5: normal limit not set, maximum kept
    const TrpAssessment r = K2Intervals(
        3, [](int) { return 50.0; }, s);
    EXPECT_EQ(r.Stats[rqK2U].N, 3);
    EXPECT_DOUBLE_EQ(r.Stats[rqK2U].Max, 50);
    EXPECT_TRUE(std::isnan(r.Stats[rqK2U].T1));
    EXPECT_TRUE(std::isnan(r.Stats[rqK2U].Limits.Normal.High));
    EXPECT_EQ(r.Stats[rqK2U].Verdict, -1);
    const TrpStats& h5 = r.Stats[RpHarmQuantity(phA, 5)];
    EXPECT_TRUE(std::isnan(h5.T1));
    EXPECT_DOUBLE_EQ(h5.T2, 0);
    EXPECT_EQ(h5.Verdict, 1);
    EXPECT_EQ(r.Verdict, 1); // the unjudged K2 does not fail the recording
}

TEST(ReportRules, EachIntervalIsJudgedByTheSettingsOfItsLastRecord) {
    TrpAggregator a;
    TmonSettings s1 = Settings(220, 380), s2 = Settings(230, 400);
    s2.FrequencyLimits[1] = 0.05f; // upper normal Δf 0.05 Hz from the change on
    // 10:00: 230 V throughout, the nominal changes to 230 V at the interval's last record:
    // δU = 0, the line voltage 230·√3 = 398.37 V against 400 V: -0.407 %. 10:10: the same.
    // Frequency 50.1 Hz: inside ±0.2 before the change, outside +0.05 after it, record by record.
    AddRecords(a, At(10, 0, 0), 199, s1, [](int) { return Record(230, 0, 50.1); });
    a.Add(At(10, 9, 57), Record(230, 0, 50.1), s2);
    AddRecords(a, At(10, 10, 0), 200, s2, [](int) { return Record(230, 0, 50.1); });
    const TrpAssessment r = a.Finish();
    EXPECT_EQ(r.Settings.size(), 2u);
    EXPECT_NEAR(r.Stats[rqDUPhase].Max, 0, 1e-9);
    EXPECT_NEAR(r.Stats[rqDULine].Max, -0.40708, 1e-5);
    EXPECT_NEAR(r.Stats[rqDF].T1, 100.0 * 201 / 400, 1e-9);
    EXPECT_TRUE(r.Stats[rqDF].LimitsChanged);
    EXPECT_DOUBLE_EQ(r.Stats[rqDF].Limits.Normal.High, 0.05);

    // Against the first settings alone the same voltage is 4.545 % high.
    TrpAggregator b;
    AddRecords(b, At(10, 0, 0), 200, s1, [](int) { return Record(230); });
    EXPECT_NEAR(b.Finish().Stats[rqDUPhase].Max, 10.0 / 220 * 100, 1e-9);
}

TEST(ReportLimitsFile, ReadsTheMeterFieldsAndNamesTheBadLine) {
    TmonSettings l;
    std::string e;
    ASSERT_TRUE(ParseLimitsText("# 10 кВ\r\n"
                                "PhaseVoltageLimits = 10 5 -10 -5\n"
                                "FrequencyLimits = 0,4 0,2 -0.2 -0.4  # Гц\n"
                                "K2Limits = 4 2\n"
                                "KULimits = 5 8\n"
                                "KULimits[5] = 4 6\n"
                                "\n",
                                l, e))
        << e;
    EXPECT_FLOAT_EQ(l.PhaseVoltageLimits[3], -5);
    EXPECT_FLOAT_EQ(l.FrequencyLimits[0], 0.4f);
    EXPECT_FLOAT_EQ(l.K2Limits[1], 2);
    EXPECT_FLOAT_EQ(l.KULimits[1], 8);
    EXPECT_FLOAT_EQ(l.KULimits[5], 4);
    EXPECT_FLOAT_EQ(l.KULimits[5 + 39], 6);
    EXPECT_FLOAT_EQ(l.LineVoltageLimits[0], 0); // left out: not set

    // Applied to the meter's settings: the limits change, the nominal stays.
    TmonSettings s = Settings(57.7f, 100);
    ApplyLimits(l, s);
    EXPECT_FLOAT_EQ(s.NominalPhaseVoltage, 57.7f);
    EXPECT_FLOAT_EQ(s.KULimits[5], 4);
    EXPECT_FLOAT_EQ(s.K0Limits[0], 0);

    const struct {
        const char* text;
        const char* message;
    } bad[] = {
        {"K2Limits = 4 2\nK2 = 1", "строка 2: неизвестное поле «K2»"},
        {"\n\nK2Limits 4 2", "строка 3: ожидается «поле = значения»"},
        {"K2Limits = 4", "строка 1: у поля K2Limits должно быть значений: 2, а задано: 1"},
        {"K0Limits = 4 два", "строка 1: «два» — не число"},
        {"K0Limits = 4 1e9", "строка 1: «1e9» — не число"},
        {"K0Limits = nan 1", "строка 1: «nan» — не число"},
        {"KULimits[41] = 1 2", "строка 1: номер гармоники в «KULimits[41]»"},
        {"KULimits[x] = 1 2", "строка 1: номер гармоники"},
        {"K2Limits = 4 2\nK2Limits = 4 2", "строка 2: поле K2Limits задано второй раз"},
        {"K2Limits = 4\0 2", "строка 1:"},
    };
    for (const auto& b : bad) {
        TmonSettings untouched;
        untouched.K2Limits[0] = 7;
        e.clear();
        EXPECT_FALSE(ParseLimitsText(b.text, untouched, e)) << b.text;
        EXPECT_NE(e.find(b.message), std::string::npos) << e;
        EXPECT_FLOAT_EQ(untouched.K2Limits[0], 7);
    }
    EXPECT_FALSE(LoadLimitsFile("/nonexistent/limits.txt", l, e));
    EXPECT_NE(e.find("/nonexistent/limits.txt"), std::string::npos);
}

TEST(ReportJournals, JournalsOfOneMeterReadAsOneRecording) {
    test::TempDir dir("qz-report", test::PqJournalFolder());
    const std::string a = dir.Path() + "/a.db", b = dir.Path() + "/b.db",
                      other = dir.Path() + "/other.db";
    TPqValues v;
    v.K2 = 1;
    v.Harm[5] = 3;
    {
        TPqJournal j(a);
        j.Settings(At(10, 0, 0), PqSettings());
        j.Records(At(10, 0, 0), At(10, 10, 0), v); // 200 records
        ASSERT_TRUE(j.Close()) << j.Error;
    }
    {
        // The second journal repeats the first one's last record, then goes on to 10:20.
        TPqJournal j(b);
        j.Settings(At(10, 9, 57), PqSettings());
        v.K2 = 3;
        v.Harm[5] = 7; // above the simulated meter's normal limit for n = 5 (6 %)
        j.Records(At(10, 9, 57), At(10, 20, 0), v);
        ASSERT_TRUE(j.Close()) << j.Error;
    }
    TrpAssessment r;
    TrpSource source;
    std::string e;
    ASSERT_TRUE(AssessJournals({b, a}, TrpReadOptions(), r, source, e)) << e;
    EXPECT_EQ(source.Files, (std::vector<std::string>{a, b}));
    EXPECT_EQ(r.Records, 400);
    EXPECT_EQ(r.OutOfOrder, 1);
    EXPECT_EQ(r.ValidIntervals, 2);
    EXPECT_TRUE(r.Outages.empty());
    EXPECT_DOUBLE_EQ(r.Stats[rqK2U].Min, 1);
    EXPECT_DOUBLE_EQ(r.Stats[rqK2U].Max, 3);
    EXPECT_NEAR(r.Stats[RpHarmQuantity(phB, 5)].Min, 3, 1e-4);
    EXPECT_NEAR(r.Stats[RpHarmQuantity(phB, 5)].Max, 7, 1e-4);
    EXPECT_DOUBLE_EQ(r.Stats[RpHarmQuantity(phB, 5)].T1, 50);
    EXPECT_EQ(r.Stats[RpHarmQuantity(phB, 5)].Verdict, 0);

    // --from/--to: only the second interval.
    TrpReadOptions o;
    o.From = At(10, 10, 0);
    o.To = At(10, 19, 58);
    ASSERT_TRUE(AssessJournals({a, b}, o, r, source, e)) << e;
    EXPECT_EQ(r.Records, 200);
    EXPECT_EQ(r.Intervals, 1);
    EXPECT_DOUBLE_EQ(r.Stats[rqK2U].Min, 3);

    // A limits file in place of the meter's: K2 3 % against a normal limit of 2.5.
    TmonSettings limits;
    limits.K2Limits[1] = 2.5f;
    o.Limits = &limits;
    ASSERT_TRUE(AssessJournals({a, b}, o, r, source, e)) << e;
    EXPECT_DOUBLE_EQ(r.Stats[rqK2U].T1, 100);
    EXPECT_TRUE(std::isnan(r.Stats[rqK2U].T2));
    EXPECT_EQ(r.Stats[RpHarmQuantity(phA, 5)].Verdict, -1);

    // Another meter's journal is refused by name.
    {
        TPqJournal j(other, 999);
        j.Settings(At(11, 0, 0), PqSettings());
        j.Record(At(11, 0, 0), v);
        ASSERT_TRUE(j.Close()) << j.Error;
    }
    EXPECT_FALSE(AssessJournals({a, other}, TrpReadOptions(), r, source, e));
    EXPECT_NE(e.find("разных измерителей"), std::string::npos) << e;
    EXPECT_NE(e.find(other), std::string::npos) << e;
    EXPECT_NE(e.find("999"), std::string::npos) << e;
}
