#include "trends/monTrendsWindow.h"
#include "tests/support/QtTestApp.h"
#include "tests/support/TempDir.h"
#include "trends/monTrendDemo.h"

#include <QApplication>
#include <QClipboard>
#include <QImageReader>
#include <QKeyEvent>
#include <QListWidget>
#include <QMouseEvent>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

using namespace qz;

namespace {

::testing::Environment* const kEnv =
    ::testing::AddGlobalTestEnvironment(new test::QtTestEnvironment("test_trends_window"));

constexpr double kSec = 1.0 / 86400.0;

void Mouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton b,
           Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton
                                     : type == QEvent::MouseMove        ? Qt::MouseButtons()
                                                                        : b;
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), b, buttons, modifiers);
    QApplication::sendEvent(w, &e);
}

void Key(QWidget* w, int key) {
    QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

struct TrendsWindow : ::testing::Test {
    TmonTrendMemorySource src{"проверка"};
    TmonTrendsWindow w;
    std::vector<TTrendSample> samples = GenerateTrendSamples(46000.25, 600, 3.0, 5);
    std::vector<std::pair<std::string, std::string>> errors;

    void SetUp() override {
        w.OnError = [this](const std::string& c, const std::string& t) {
            errors.push_back({c, t});
        };
        w.resize(1000, 600);
        w.SetSettings(DemoTrendSettings());
        w.SetSource(&src);
        w.show();
        QApplication::processEvents();
    }
    void Feed(size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            ASSERT_TRUE(src.Append(samples[i]));
            w.SamplesAppended();
        }
    }
};

} // namespace

TEST_F(TrendsWindow, FollowsLiveSamplesAndReadsOutARecordedValueAtItsTime) {
    EXPECT_EQ(w.windowTitle().toStdString(), "Тренды — проверка");
    EXPECT_EQ(w.SampleCount(), 0u);
    EXPECT_EQ(w.ReadoutAt(46000.25), "");
    Feed(0, 300);
    ASSERT_EQ(w.SampleCount(), 300u);
    // Everything is on show and grows with the recording.
    EXPECT_DOUBLE_EQ(w.Range().From, samples[0].Time);
    EXPECT_DOUBLE_EQ(w.Range().To, samples[299].Time);
    Feed(300, 400);
    EXPECT_DOUBLE_EQ(w.Range().To, samples[399].Time);

    // The pointer over the column of record 250: the readout names its time and its values.
    const TTrendSample& rec = samples[250];
    const int x = w.PlotXOfTime(rec.Time);
    Mouse(w.Plot(), QEvent::MouseMove, QPoint(x, 100), Qt::NoButton);
    const std::string shown = w.ReadoutText().toStdString();
    EXPECT_EQ(shown, w.ReadoutAt(rec.Time));
    const char sep = SystemDecimalSeparator();
    for (int q : {tqUA, tqUB, tqUC})
        EXPECT_NE(shown.find(ReadoutValue(q, rec.Value[q], sep)), std::string::npos) << shown;
    const TTrendTimeFormat f = SystemTrendTimeFormat();
    EXPECT_EQ(shown.rfind(FormatDateTimePattern(rec.Time, f.Date, &f) + " " +
                              FormatDateTimePattern(rec.Time, f.LongTime, &f),
                          0),
              0u)
        << shown;
    // A newly checked quantity joins the readout.
    w.SetChecked(tqF, true);
    EXPECT_NE(w.ReadoutAt(rec.Time).find(ReadoutValue(tqF, rec.Value[tqF], sep)),
              std::string::npos);
    // The readout follows live samples under a resting pointer.
    Feed(400, 401);
    EXPECT_EQ(w.ReadoutText().toStdString(), w.ReadoutAt(w.TimeAtPlotX(x)));
}

TEST_F(TrendsWindow, WheelKeysDragAndHome) {
    Feed(0, 600);
    const TTrendTimeRange whole = w.Range();
    QWidget* plot = w.Plot();
    const int x = w.PlotXOfTime(samples[200].Time);
    const TDateTime under = w.TimeAtPlotX(x);
    QWheelEvent wheel(QPointF(x, 50), QPointF(plot->mapToGlobal(QPoint(x, 50))), QPoint(),
                      QPoint(0, 240), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(plot, &wheel);
    EXPECT_NEAR(w.Range().Span(), whole.Span() / (1.25 * 1.25), 1e-9);
    EXPECT_NEAR(w.TimeAtPlotX(x), under, 1.0 * kSec); // the time under the pointer stays
    // Dragging left by 100 pixels shows later times, by 100 pixels' worth.
    const TTrendTimeRange before = w.Range();
    const double perPixel = before.Span() / w.Plot()->Layout().PlotWidth();
    Mouse(plot, QEvent::MouseButtonPress, QPoint(500, 100), Qt::LeftButton);
    Mouse(plot, QEvent::MouseMove, QPoint(400, 100), Qt::NoButton);
    Mouse(plot, QEvent::MouseButtonRelease, QPoint(400, 100), Qt::LeftButton);
    EXPECT_NEAR(w.Range().From, before.From + 100 * perPixel, 1e-9);
    EXPECT_NEAR(w.Range().Span(), before.Span(), 1e-9);
    // The keys zoom and pan; Home shows everything.
    Key(plot, Qt::Key_Minus);
    EXPECT_GT(w.Range().Span(), before.Span());
    const TDateTime from = w.Range().From;
    Key(plot, Qt::Key_Left);
    EXPECT_LT(w.Range().From, from);
    Key(plot, Qt::Key_Home);
    EXPECT_DOUBLE_EQ(w.Range().From, whole.From);
    EXPECT_DOUBLE_EQ(w.Range().To, whole.To);
    // A view moved away from the end stays put while records arrive.
    w.SetRange({samples[10].Time, samples[50].Time});
    src.Append(GenerateTrendSamples(samples.back().Time + 3 * kSec, 1, 3.0, 9)[0]);
    w.SamplesAppended();
    EXPECT_DOUBLE_EQ(w.Range().From, samples[10].Time);
}

TEST_F(TrendsWindow, CopiesAndSavesThePicture) {
    Feed(0, 600);
    QApplication::clipboard()->clear();
    w.CopyGraphics();
    const QImage img = QApplication::clipboard()->image();
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.size(), w.Plot()->size());
    // The trend of phase A is painted in its yellow.
    int yellow = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixelColor(x, y) == QColor(0xFF, 0xFF, 0x00)) ++yellow;
    EXPECT_GT(yellow, w.Plot()->Layout().PlotWidth() / 2);

    const test::TempDir dir;
    const QString path = QString::fromStdString(dir.Path() + "/trend.png");
    std::string error;
    ASSERT_TRUE(SaveTrendImage(w.PlotImage(), path, error)) << error;
    QImageReader r(path);
    EXPECT_EQ(r.format(), "png");
    EXPECT_EQ(r.read().size(), w.Plot()->size());
    const QString bad = QString::fromStdString(dir.Path() + "/missing/trend.png");
    EXPECT_FALSE(SaveTrendImage(w.PlotImage(), bad, error));
    EXPECT_NE(error.find(bad.toStdString()), std::string::npos);
    EXPECT_FALSE(SaveTrendImage(QImage(), path, error));
    EXPECT_FALSE(error.empty());
}

// Lets the window take a file read on its own thread; false if it never finishes.
bool WaitOpened(TmonTrendsWindow& w) {
    return test::WaitUntil([&] { return !w.Opening(); }, 10000);
}

TEST_F(TrendsWindow, OpeningAFileWithoutTheJournalKeepsTheViewAndSaysSo) {
    Feed(0, 10);
    w.SetFileOpener(nullptr);
    w.OpenFile("/nowhere/rec.db");
    ASSERT_TRUE(WaitOpened(w));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first, "Ошибка");
    EXPECT_NE(errors[0].second.find("/nowhere/rec.db"), std::string::npos);
    EXPECT_EQ(w.SampleCount(), 10u);
}

TEST_F(TrendsWindow, TheListOffersTheNeutralOnlyWithIt) {
    auto* list = w.findChild<QListWidget*>();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count(), kmonTrendQuantityCount);
    TmonSettings s = DemoTrendSettings();
    s.HasNeutral = 0;
    w.SetSettings(s);
    EXPECT_EQ(list->count(), kmonTrendQuantityCount - 4);
    // The choice survives the change.
    const auto checked = w.CheckedQuantities();
    EXPECT_EQ(checked, (std::vector<int>{tqUA, tqUB, tqUC}));
}

namespace {

// A recorded file as the journal opener gives it: closed, with the settings of the meter it
// came from (here one without the fourth channel).
class TRecordedSource : public TmonTrendMemorySource {
public:
    TRecordedSource() : TmonTrendMemorySource("rec.db", false) {}
    bool SettingsInForce(TmonSettings& out) const override {
        out = DemoTrendSettings();
        out.HasNeutral = 0;
        return true;
    }
};

std::unique_ptr<ITrendSource> OpenRecorded(const std::string&, std::string&, TTrendLoadProgress*) {
    auto s = std::make_unique<TRecordedSource>();
    for (const TTrendSample& x : GenerateTrendSamples(46001.5, 20, 3.0, 9))
        s->Append(x);
    return s;
}

} // namespace

TEST_F(TrendsWindow, AnOpenedFileShowsItsSamplesWithTheSettingsItWasRecordedWith) {
    Feed(0, 10);
    w.SetFileOpener(&OpenRecorded);
    w.OpenFile("/records/rec.db");
    ASSERT_TRUE(WaitOpened(w));
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(w.SampleCount(), 20u);
    EXPECT_TRUE(w.windowTitle().endsWith(QString::fromUtf8("rec.db")));
    // The meter it was recorded from had no N channel: its quantities are not offered.
    auto* list = w.findChild<QListWidget*>();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count(), kmonTrendQuantityCount - 4);
}

namespace {

// A reading that tells its progress and then waits to be let go (or told to stop), so that a
// test can look at the window while a file is being read.
struct TGate {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Released = false;
    bool SawCancel = false;
    bool Reading = false;
};
TGate* Gate = nullptr;

std::unique_ptr<ITrendSource> OpenGated(const std::string& path, std::string& error,
                                        TTrendLoadProgress* progress) {
    progress->Total = 200;
    progress->Done = 80;
    std::unique_lock<std::mutex> g(Gate->Lock);
    Gate->Reading = true;
    Gate->Changed.notify_all();
    while (!Gate->Released && !progress->Cancel)
        Gate->Changed.wait_for(g, std::chrono::milliseconds(1));
    if (progress->Cancel) {
        Gate->SawCancel = true;
        error = kmonTrendLoadCancelled;
        return nullptr;
    }
    return OpenRecorded(path, error, progress);
}

// Pixels of `c` in row `y` across the plot, and how many runs of them there are.
struct TRowScan {
    int Count = 0, Runs = 0;
};
TRowScan ScanRow(const QImage& img, int y, int left, int width, const QColor& c) {
    TRowScan r;
    bool in = false;
    for (int x = left; x <= left + width; ++x) {
        const bool hit = img.pixelColor(x, y) == c;
        r.Count += hit;
        r.Runs += hit && !in;
        in = hit;
    }
    return r;
}

int CountColour(const QImage& img, const QColor& c) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += img.pixelColor(x, y) == c;
    return n;
}

} // namespace

TEST_F(TrendsWindow, AFileIsReadBesideTheWindowWithItsProgressShownAndMayBeAbandoned) {
    Feed(0, 10);
    TGate gate;
    Gate = &gate;
    w.SetFileOpener(&OpenGated);
    w.OpenFile("/records/rec.db");
    EXPECT_TRUE(w.Opening());
    // The window goes on while the file is read: the progress is shown, the view still works.
    const QString want = QString::fromUtf8("Чтение записи /records/rec.db: 40 %");
    test::WaitUntil([&] { return w.StatusText() == want; }, 2000);
    EXPECT_EQ(w.StatusText(), want);
    EXPECT_EQ(w.SampleCount(), 10u);
    Key(w.Plot(), Qt::Key_Minus);
    Key(w.Plot(), Qt::Key_Home);
    EXPECT_DOUBLE_EQ(w.Range().From, samples[0].Time);
    {
        std::lock_guard<std::mutex> g(gate.Lock);
        gate.Released = true;
        gate.Changed.notify_all();
    }
    ASSERT_TRUE(WaitOpened(w));
    EXPECT_EQ(w.SampleCount(), 20u);
    EXPECT_EQ(w.StatusText(), "");
    EXPECT_TRUE(errors.empty());

    // Esc abandons a reading: the reader is told to stop, what was shown stays, no box.
    gate.Released = false;
    gate.Reading = false;
    w.OpenFile("/records/other.db");
    {
        std::unique_lock<std::mutex> g(gate.Lock);
        ASSERT_TRUE(
            gate.Changed.wait_for(g, std::chrono::seconds(10), [&] { return gate.Reading; }));
    }
    Key(w.Plot(), Qt::Key_Escape);
    EXPECT_FALSE(w.Opening());
    EXPECT_TRUE(gate.SawCancel);
    EXPECT_EQ(w.StatusText().toStdString(), kmonTrendLoadCancelled);
    EXPECT_EQ(w.SampleCount(), 20u);
    EXPECT_TRUE(errors.empty());

    // Closing the window abandons it too.
    gate.SawCancel = false;
    w.OpenFile("/records/third.db");
    w.close();
    EXPECT_FALSE(w.Opening());
    EXPECT_TRUE(gate.SawCancel);
    Gate = nullptr;
}

TEST_F(TrendsWindow, AWindowFollowingALimitedSourceHoldsNoMoreThanIt) {
    TmonTrendMemorySource limited("live", true, 128);
    w.SetSource(&limited);
    for (size_t i = 0; i < 600; ++i) {
        ASSERT_TRUE(limited.Append(samples[i]));
        w.SamplesAppended();
    }
    // Let go of in steps: never more than the source's share over its capacity.
    EXPECT_LE(w.SampleCount(), 128u + 128u / 64);
    EXPECT_GE(w.SampleCount(), 128u);
    EXPECT_DOUBLE_EQ(w.Samples().back().Time, samples[599].Time);
    // Whole range shown all along: it moves with the samples held.
    EXPECT_DOUBLE_EQ(w.Range().From, w.Samples().front().Time);
    EXPECT_DOUBLE_EQ(w.Range().To, samples[599].Time);
    // The samples are the newest, in order, none twice.
    const size_t n = w.SampleCount();
    for (size_t i = 0; i < n; ++i)
        ASSERT_EQ(w.Samples()[i].Time, samples[600 - n + i].Time) << i;
    w.SetSource(&src);
}

TEST_F(TrendsWindow, DrawsTheMetersLimitsAsDashedLinesInTheirColours) {
    // Values beyond the maximum range on both sides, so that every limit is inside its pane.
    samples[100].Value[tqF] = 49.45f;
    samples[100].Value[tqUA] = 195;
    samples[200].Value[tqF] = 50.55f;
    samples[200].Value[tqUA] = 245;
    samples[300].Value[tqKUA] = 13;
    Feed(0, 600);
    w.SetChecked(tqUB, false);
    w.SetChecked(tqUC, false);
    w.SetChecked(tqF, true);
    w.SetChecked(tqKUA, true);
    ASSERT_EQ(w.CheckedQuantities(), (std::vector<int>{tqF, tqUA, tqKUA}));

    const QColor red(0xFF, 0, 0), blue(0, 0, 0xFF);
    // The limits the model puts on each pane, checked in the picture the window paints.
    const auto modelOf = [&](const TmonSettings& s) {
        return BuildPlotModel(w.Samples(), w.CheckedQuantities(), s, w.Range(), w.Plot()->Layout(),
                              SystemTrendTimeFormat(), kmonTrendDefaultGapDays);
    };
    const auto checkLines = [&](const TTrendPlotModel& m, const QImage& img) {
        const int left = m.Layout.Left, width = m.Layout.PlotWidth();
        for (const TTrendPane& pane : m.Panes)
            for (const TmonTrendLimit& lim : pane.Limits) {
                const int y =
                    ValueToY(lim.Value, pane.Axis.Lo, pane.Axis.Hi, pane.Top, pane.Height);
                ASSERT_GT(y, pane.Top) << pane.Unit << " " << lim.Value;
                ASSERT_LT(y, pane.Top + pane.Height) << pane.Unit << " " << lim.Value;
                const QColor c = lim.Color == mclRed ? red : blue;
                const TRowScan row = ScanRow(img, y, left, width, c);
                // Dashed: most of the row in the limit's colour, broken into many dashes (the
                // trend crosses it at a few columns only).
                EXPECT_GT(row.Count, width / 2) << pane.Unit << " " << lim.Value << " row " << y;
                EXPECT_LT(row.Count, width * 9 / 10) << pane.Unit << " " << lim.Value;
                EXPECT_GT(row.Runs, width / 20) << pane.Unit << " " << lim.Value;
            }
    };
    TmonSettings s = DemoTrendSettings();
    TTrendPlotModel m = modelOf(s);
    ASSERT_EQ(m.Panes.size(), 3u);
    // F ±0.2 / ±0.4 Hz, Ua ±5 % / ±10 % of 220 V, KU 8 / 12 %: two of each colour, one of each
    // for KU.
    const auto colours = [](const TTrendPane& p, TmonColor c) {
        return std::count_if(p.Limits.begin(), p.Limits.end(),
                             [c](const TmonTrendLimit& l) { return l.Color == c; });
    };
    for (int i : {0, 1})
        EXPECT_TRUE(colours(m.Panes[size_t(i)], mclRed) == 2 &&
                    colours(m.Panes[size_t(i)], mclBlue) == 2)
            << m.Panes[size_t(i)].Unit;
    EXPECT_TRUE(colours(m.Panes[2], mclRed) == 1 && colours(m.Panes[2], mclBlue) == 1);
    QImage img = w.PlotImage();
    ASSERT_EQ(img.size(), w.Plot()->size());
    checkLines(m, img);

    // A meter whose nominals are not known and that reports no maximum distortion: only the
    // normal KU line is left; nothing else in the picture is red or blue.
    s.NominalFrequency = 0;
    s.NominalPhaseVoltage = 0;
    s.KULimits[1] = 0;
    w.SetSettings(s);
    m = modelOf(s);
    ASSERT_EQ(m.Panes.size(), 3u);
    EXPECT_TRUE(m.Panes[0].Limits.empty() && m.Panes[1].Limits.empty());
    ASSERT_EQ(m.Panes[2].Limits.size(), 1u);
    img = w.PlotImage();
    checkLines(m, img);
    EXPECT_EQ(CountColour(img, red), 0);
    const TTrendPane& ku = m.Panes[2];
    const int kuRow = ValueToY(8, ku.Axis.Lo, ku.Axis.Hi, ku.Top, ku.Height);
    EXPECT_EQ(CountColour(img, blue),
              ScanRow(img, kuRow, m.Layout.Left, m.Layout.PlotWidth(), blue).Count);
}

namespace {

// A journal file that another program goes on recording: each look finds one more record,
// measured with settings of its own.
class TGrowingFile : public TmonTrendMemorySource {
public:
    explicit TGrowingFile(std::vector<TTrendSample> s)
        : TmonTrendMemorySource("growing.db", true), FNext(std::move(s)) {}
    bool Refresh() override {
        ++Looks;
        if (Looks > FNext.size()) return false;
        return Append(FNext[Looks - 1]);
    }
    bool SettingsInForce(TmonSettings& out) const override {
        out = DemoTrendSettings();
        out.NominalPhaseVoltage = 100.f + float(Looks);
        return true;
    }
    size_t Looks = 0;

private:
    std::vector<TTrendSample> FNext;
};

} // namespace

TEST_F(TrendsWindow, AFileStillBeingRecordedIsFollowedOnceASecond) {
    TGrowingFile file({samples.begin(), samples.begin() + 3});
    w.SetSource(&file);
    EXPECT_EQ(w.SampleCount(), 0u);
    w.SamplesAppended();
    EXPECT_EQ(w.SampleCount(), 1u);
    EXPECT_FLOAT_EQ(w.Settings().NominalPhaseVoltage, 101.f);
    // The window's own timer looks again without being told.
    test::WaitUntil([&] { return w.SampleCount() >= 3; }, 10000);
    EXPECT_EQ(w.SampleCount(), 3u);
    EXPECT_DOUBLE_EQ(w.Samples().back().Time, samples[2].Time);
    EXPECT_FLOAT_EQ(w.Settings().NominalPhaseVoltage, 103.f);
    w.SetSource(&src);
}

TEST_F(TrendsWindow, ASpanChosenWithShiftShowsItsStatisticsAndCtrlFixesASecondCursor) {
    Feed(0, 400);
    const TDateTime from = w.Range().From;
    QWidget* plot = w.Plot();
    const int x0 = w.PlotXOfTime(samples[100].Time), x1 = w.PlotXOfTime(samples[200].Time);
    Mouse(plot, QEvent::MouseButtonPress, QPoint(x0, 100), Qt::LeftButton, Qt::ShiftModifier);
    Mouse(plot, QEvent::MouseMove, QPoint(x1, 100), Qt::NoButton, Qt::ShiftModifier);
    Mouse(plot, QEvent::MouseButtonRelease, QPoint(x1, 100), Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_DOUBLE_EQ(w.Range().From, from); // selecting does not pan
    // The statistics of each chosen quantity are those of the samples under the span.
    const TDateTime t0 = w.TimeAtPlotX(x0), t1 = w.TimeAtPlotX(x1);
    const std::string shown = w.SpanStatsText().toStdString();
    const char sep = SystemDecimalSeparator();
    for (int q : {tqUA, tqUB, tqUC}) {
        const TTrendSpanStats st =
            TrendSpanStats(w.Samples(), t0, t1, q, TrendLimitsOf(q, DemoTrendSettings()));
        EXPECT_GT(st.N, 90u);
        EXPECT_NE(shown.find(SpanStatsText(q, st, sep)), std::string::npos) << shown;
    }
    EXPECT_NE(shown.find("T1 "), std::string::npos);
    // Shift and a click without a span clears it.
    Mouse(plot, QEvent::MouseButtonPress, QPoint(x0, 100), Qt::LeftButton, Qt::ShiftModifier);
    Mouse(plot, QEvent::MouseButtonRelease, QPoint(x0, 100), Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(w.SpanStatsText(), "");

    // Ctrl and a click fixes a cursor; the readout then tells the way from it to the pointer.
    Mouse(plot, QEvent::MouseButtonPress, QPoint(x0, 100), Qt::LeftButton, Qt::ControlModifier);
    Mouse(plot, QEvent::MouseMove, QPoint(x1, 100), Qt::NoButton);
    const TTrendSample& a = samples[NearestSample(samples.data(), 400, w.TimeAtPlotX(x0))];
    const TTrendSample& b = samples[NearestSample(samples.data(), 400, w.TimeAtPlotX(x1))];
    EXPECT_NE(w.ReadoutText().toStdString().find(CursorDeltaText(a, b, {tqUA, tqUB, tqUC}, sep)),
              std::string::npos)
        << w.ReadoutText().toStdString();
    w.SetFixedCursor(std::nan(""));
    EXPECT_EQ(w.ReadoutText().toStdString().find("Δt"), std::string::npos);
}
