#include "trends/monTrendSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>

using namespace qz;

TEST(TrendQuantities, TableAndWhatEachTakesFromARecord) {
    for (int q = 0; q < kmonTrendQuantityCount; ++q)
        EXPECT_EQ(TrendQuantityInfo(q).Id, q);
    EXPECT_EQ(TrendQuantitiesOf(true).size(), size_t(kmonTrendQuantityCount));
    const auto three = TrendQuantitiesOf(false);
    EXPECT_EQ(three.size(), size_t(kmonTrendQuantityCount - 4));
    for (auto q : three)
        EXPECT_FALSE(TrendQuantityInfo(q).NeutralOnly);
    // The phase colours of the spectrum.
    EXPECT_EQ(TrendQuantityInfo(tqUA).Rgb, 0xFFFF00u);
    EXPECT_EQ(TrendQuantityInfo(tqIB).Rgb, 0x00FF00u);
    EXPECT_EQ(TrendQuantityInfo(tqKUC).Rgb, 0xFF0000u);
    EXPECT_EQ(TrendQuantityInfo(tqKIN).Rgb, 0x0000FFu);

    TmonData3sec d;
    d.Time = 45000.5;
    d.F = 49.98;
    for (int i = 0; i < 4; ++i) {
        d.U[i] = 220 + i;
        d.U1[i] = 1; // the fundamental is not what the trend of U shows
        d.I[i] = 1.5 + i;
        d.KU[i] = 3 + i;
    }
    d.ULine[lnBC] = 381;
    d.P[pwSum] = 3000;
    d.P[pwA] = 1;
    d.Q[pwSum] = 400;
    d.S[pwSum] = 3100;
    d.CosPhi[pwSum] = 0.95;
    d.CosPhi[pwN] = 0.1;
    d.K2 = 1.25;
    d.KI_A = 7;
    d.KI_B = 8; // a single-precision field
    d.KI_C = 9;
    d.KI_N = 10;
    const TTrendSample s = TrendSampleOf(d);
    EXPECT_EQ(s.Time, 45000.5);
    EXPECT_FLOAT_EQ(s.Value[tqF], 49.98f);
    EXPECT_EQ(s.Value[tqUC], 222);
    EXPECT_EQ(s.Value[tqUN], 223);
    EXPECT_EQ(s.Value[tqUBC], 381);
    EXPECT_EQ(s.Value[tqIB], 2.5);
    EXPECT_EQ(s.Value[tqPSum], 3000);
    EXPECT_EQ(s.Value[tqQSum], 400);
    EXPECT_EQ(s.Value[tqSSum], 3100);
    EXPECT_FLOAT_EQ(s.Value[tqCosSum], 0.95f);
    EXPECT_EQ(s.Value[tqK2], 1.25);
    EXPECT_EQ(s.Value[tqKUN], 6);
    EXPECT_EQ(s.Value[tqKIA], 7);
    EXPECT_EQ(s.Value[tqKIB], 8);
    EXPECT_EQ(s.Value[tqKIN], 10);
}

TEST(TrendQuantities, LimitLinesFromTheMetersSettings) {
    TmonSettings s;
    // Before the settings are read there is nothing to draw.
    EXPECT_TRUE(TrendLimitsOf(tqUA, s).empty());
    EXPECT_TRUE(TrendLimitsOf(tqF, s).empty());
    EXPECT_TRUE(TrendLimitsOf(tqKUA, s).empty());
    s.NominalPhaseVoltage = 220;
    s.NominalLineVoltage = 380;
    const float dev[4] = {10, 5, -10, -5}; // upper max, upper normal, lower max, lower normal
    std::copy(dev, dev + 4, s.PhaseVoltageLimits);
    std::copy(dev, dev + 4, s.LineVoltageLimits);
    s.NominalFrequency = 50;
    const float f[4] = {0.4f, 0.2f, -0.2f, -0.4f}; // the lower pair the other way round
    std::copy(f, f + 4, s.FrequencyLimits);
    s.KULimits[0] = 8;
    s.KULimits[1] = 12;
    s.K2Limits[0] = 4;
    s.K2Limits[1] = 2;

    auto has = [](const std::vector<TmonTrendLimit>& v, double value, TmonColor c) {
        return std::any_of(v.begin(), v.end(), [&](const TmonTrendLimit& l) {
            return std::fabs(l.Value - value) < 1e-4 && l.Color == c;
        });
    };
    auto u = TrendLimitsOf(tqUB, s);
    EXPECT_EQ(u.size(), 4u);
    EXPECT_TRUE(has(u, 242, mclRed));
    EXPECT_TRUE(has(u, 231, mclBlue));
    EXPECT_TRUE(has(u, 209, mclBlue));
    EXPECT_TRUE(has(u, 198, mclRed));
    auto ul = TrendLimitsOf(tqUCA, s);
    EXPECT_TRUE(has(ul, 399, mclBlue));
    EXPECT_TRUE(has(ul, 418, mclRed));
    auto fl = TrendLimitsOf(tqF, s);
    EXPECT_EQ(fl.size(), 4u);
    EXPECT_TRUE(has(fl, 50.4, mclRed));
    EXPECT_TRUE(has(fl, 50.2, mclBlue));
    EXPECT_TRUE(has(fl, 49.8, mclBlue));
    EXPECT_TRUE(has(fl, 49.6, mclRed));
    auto ku = TrendLimitsOf(tqKUN, s);
    EXPECT_EQ(ku.size(), 2u);
    EXPECT_TRUE(has(ku, 8, mclBlue));
    EXPECT_TRUE(has(ku, 12, mclRed));
    auto k2 = TrendLimitsOf(tqK2, s);
    EXPECT_TRUE(has(k2, 2, mclBlue));
    EXPECT_TRUE(has(k2, 4, mclRed));
    // The neutral's voltage and the currents have no limits.
    EXPECT_TRUE(TrendLimitsOf(tqUN, s).empty());
    EXPECT_TRUE(TrendLimitsOf(tqIA, s).empty());
    // A limit not reported (zero) draws no line.
    s.PhaseVoltageLimits[0] = 0;
    EXPECT_EQ(TrendLimitsOf(tqUA, s).size(), 3u);
}

TEST(TrendSource, MemorySourceKeepsOrderAndReadsRanges) {
    TmonTrendMemorySource src("test");
    TDateTime a = 0, b = 0;
    EXPECT_FALSE(src.Span(a, b));
    for (int i = 0; i < 10; ++i) {
        TTrendSample s;
        s.Time = 100 + i;
        s.Value[tqF] = float(i);
        EXPECT_TRUE(src.Append(s));
    }
    TTrendSample old;
    old.Time = 105;
    EXPECT_FALSE(src.Append(old)); // a trend never runs backwards
    old.Time = std::nan("");
    EXPECT_FALSE(src.Append(old));
    EXPECT_EQ(src.Count(), 10u);
    ASSERT_TRUE(src.Span(a, b));
    EXPECT_EQ(a, 100);
    EXPECT_EQ(b, 109);
    std::vector<TTrendSample> out;
    EXPECT_EQ(src.ReadRange(102, 105, out), 4u); // both ends included
    EXPECT_EQ(out.front().Time, 102);
    EXPECT_EQ(out.back().Time, 105);
    EXPECT_EQ(src.ReadRange(105, 102, out), 0u);
    out.clear();
    EXPECT_EQ(src.ReadFrom(8, 100, out), 2u);
    EXPECT_EQ(out[0].Value[tqF], 8);
    EXPECT_EQ(src.ReadFrom(10, 100, out), 0u);
    EXPECT_EQ(src.ReadFrom(0, 3, out), 3u);
}

TEST(TrendSource, ALimitedSourceLetsGoOfItsOldestAndKeepsThePositions) {
    TmonTrendMemorySource src("live", true, 4);
    EXPECT_EQ(src.Capacity(), 4u);
    for (int i = 0; i < 10; ++i) {
        TTrendSample s;
        s.Time = 100 + i;
        ASSERT_TRUE(src.Append(s));
    }
    EXPECT_EQ(src.Count(), 4u);
    EXPECT_EQ(src.End(), 10u);
    TDateTime a = 0, b = 0;
    ASSERT_TRUE(src.Span(a, b));
    EXPECT_EQ(a, 106);
    EXPECT_EQ(b, 109);
    // Positions let go of are skipped; the rest keep the numbers they were appended with.
    std::vector<TTrendSample> out;
    EXPECT_EQ(src.ReadFrom(0, 10, out), 4u);
    EXPECT_EQ(out.front().Time, 106);
    out.clear();
    EXPECT_EQ(src.ReadFrom(3, 5, out), 2u); // positions 3..7, of which 6 and 7 are held
    EXPECT_EQ(out.front().Time, 106);
    EXPECT_EQ(out.back().Time, 107);
    out.clear();
    EXPECT_EQ(src.ReadFrom(8, size_t(-1), out), 2u); // no overflow on a huge count
    EXPECT_EQ(out.back().Time, 109);
    EXPECT_EQ(src.ReadFrom(10, 5, out), 0u);
    EXPECT_EQ(src.ReadFrom(size_t(-1), size_t(-1), out), 0u);
}

TEST(TrendSource, AppendWhileReading) {
    TmonTrendMemorySource src;
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            TTrendSample s;
            s.Time = i;
            src.Append(s);
        }
    });
    size_t read = 0;
    std::vector<TTrendSample> got;
    while (read < 2000) {
        read += src.ReadFrom(read, 64, got);
        std::this_thread::yield();
    }
    writer.join();
    ASSERT_EQ(got.size(), 2000u);
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i].Time, double(i));
}

namespace {
std::unique_ptr<ITrendSource> SilentFailure(const std::string&, std::string&, TTrendLoadProgress*) {
    return nullptr;
}
std::unique_ptr<ITrendSource> Opens(const std::string& path, std::string&, TTrendLoadProgress*) {
    return std::make_unique<TmonTrendMemorySource>(path, false);
}
} // namespace

TEST(TrendSource, OpeningAFileNeedsTheJournalsOpener) {
    std::string error;
    EXPECT_EQ(OpenTrendFile(nullptr, "/x/a.db", error), nullptr);
    EXPECT_NE(error.find("/x/a.db"), std::string::npos);
    EXPECT_EQ(OpenTrendFile(SilentFailure, "/x/b.db", error), nullptr);
    EXPECT_NE(error.find("/x/b.db"), std::string::npos);
    auto s = OpenTrendFile(Opens, "/x/c.db", error);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Name(), "/x/c.db");
    EXPECT_TRUE(error.empty());
}
