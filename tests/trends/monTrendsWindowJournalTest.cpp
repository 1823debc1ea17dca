// The trends window over real journals: an outage the recorder kept is a shaded gap with no
// line across it and its reason in the readout; a journal whose recording was not finished is
// shown with the journal's own warning.
#include "tests/support/PqJournal.h"
#include "tests/support/QtTestApp.h"
#include "tests/support/TempDir.h"
#include "trends/monTrendJournal.h"
#include "trends/monTrendsWindow.h"

#include <QApplication>
#include <QMouseEvent>

#include <gtest/gtest.h>

using namespace qz;

namespace {

::testing::Environment* const kEnv =
    ::testing::AddGlobalTestEnvironment(new test::QtTestEnvironment("test_trends_window_journal"));

constexpr double kSec = 1.0 / 86400.0;
const TDateTime kT0 = test::RecordingDay(10, 0, 0);

struct TrendsWindowJournal : ::testing::Test {
    test::TempDir dir{"trends-window", test::PqJournalFolder()};
    TmonTrendsWindow w;
    std::vector<std::string> errors;

    void SetUp() override {
        w.OnError = [this](const std::string&, const std::string& t) { errors.push_back(t); };
        w.resize(1000, 600);
        w.SetFileOpener(&OpenJournalTrend);
        w.show();
        w.SetChecked(tqUB, false);
        w.SetChecked(tqUC, false);
        QApplication::processEvents();
    }
    bool Open(const std::string& file) {
        w.OpenFile(file);
        return test::WaitUntil([&] { return !w.Opening(); }, 10000) && errors.empty();
    }
};

// Pixels of colour `c` in column x of the plot between rows y0 and y1.
int InColumn(const QImage& img, int x, int y0, int y1, const QColor& c) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        n += img.pixelColor(x, y) == c;
    return n;
}

} // namespace

TEST_F(TrendsWindowJournal, AnOutageIsAShadedGapWithoutALineAndTheReadoutGivesItsText) {
    const std::string file = dir / "outage.db";
    {
        test::TPqJournal j(file);
        j.Settings(kT0, test::PqSettings());
        test::TPqValues v;
        j.Records(kT0, kT0 + 60 * kSec, v);
        // The meter did not answer from 10:01:01 until the record of 10:02:00.
        j.Outage(kT0 + 61 * kSec, kT0 + 120 * kSec, kT0 + 57 * kSec, "Нет ответа от устройства.");
        j.Records(kT0 + 120 * kSec, kT0 + 180 * kSec, v);
        ASSERT_TRUE(j.Close()) << j.Error;
    }
    ASSERT_TRUE(Open(file)) << (errors.empty() ? "" : errors[0]);
    EXPECT_TRUE(w.NoticeText().isEmpty()) << w.NoticeText().toStdString();
    ASSERT_EQ(w.OutageBands().size(), 1u);
    EXPECT_EQ(w.OutageBands()[0].From, kT0 + 57 * kSec);
    EXPECT_EQ(w.OutageBands()[0].To, kT0 + 120 * kSec);

    const QImage img = w.PlotImage();
    if (const char* shot = getenv("QZ_TRENDS_OUTAGE_SHOT")) img.save(shot);
    const TTrendPlotLayout l = w.Plot()->Layout();
    const int x0 = w.PlotXOfTime(kT0 + 57 * kSec), x1 = w.PlotXOfTime(kT0 + 120 * kSec);
    ASSERT_GT(x1 - x0, 20);
    const uint32_t rgb = TrendQuantityInfo(tqUA).Rgb;
    const QColor ua(int(rgb >> 16), int((rgb >> 8) & 0xFF), int(rgb & 0xFF));
    const QColor ground(int(kmonTrendGround >> 16), int((kmonTrendGround >> 8) & 0xFF),
                        int(kmonTrendGround & 0xFF));
    const int top = l.Top + 1, bottom = l.Top + l.PlotHeight() - 1;
    // The trend is drawn on both sides, and nothing of it inside the band (but the marks of
    // the records at its edges, a pixel or two wide).
    EXPECT_GT(InColumn(img, (l.Left + x0) / 2, top, bottom, ua), 0);
    EXPECT_GT(InColumn(img, (x1 + l.Left + l.PlotWidth()) / 2, top, bottom, ua), 0);
    for (int x = x0 + 3; x <= x1 - 3; ++x)
        ASSERT_EQ(InColumn(img, x, top, bottom, ua), 0)
            << "a line crosses the outage at " << x << " (" << x0 << ".." << x1 << ")";
    // The band is shaded: none of its pixels is the bare ground, which fills the plot beside it.
    const int mid = (x0 + x1) / 2;
    EXPECT_EQ(InColumn(img, mid, top, bottom, ground), 0);
    EXPECT_GT(InColumn(img, (l.Left + x0) / 2, top, bottom, ground), (bottom - top) / 2);

    // The readout inside the band gives the outage, beside it the record.
    QMouseEvent move(QEvent::MouseMove, QPointF(mid, l.Top + 50), QPointF(), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w.Plot(), &move);
    const std::string text = w.ReadoutText().toStdString();
    EXPECT_NE(text.find("Перерыв опроса с"), std::string::npos) << text;
    EXPECT_NE(text.find("10:01:01 по 10:02:00"), std::string::npos) << text;
    EXPECT_NE(text.find("Нет ответа от устройства."), std::string::npos) << text;
    EXPECT_NE(w.ReadoutAt(kT0 + 30 * kSec).find("Ua 220"), std::string::npos);
}

TEST_F(TrendsWindowJournal, AJournalNotClosedIsShownWithTheJournalsWarningUntilItIsClosed) {
    const std::string file = dir / "open.db";
    test::TPqJournal j(file);
    j.Settings(kT0, test::PqSettings());
    j.Records(kT0, kT0 + 30 * kSec, test::TPqValues());
    ASSERT_TRUE(j.Ok) << j.Error;
    // Its recorder still holds it, as one killed would have left it: the records in the log.
    ASSERT_TRUE(Open(file)) << (errors.empty() ? "" : errors[0]);
    EXPECT_EQ(w.SampleCount(), 10u);
    const std::string notice = w.NoticeText().toStdString();
    EXPECT_NE(notice.find("запись не завершена"), std::string::npos) << notice;
    EXPECT_NE(notice.find(file + "-wal"), std::string::npos) << notice;
    // Closed, the journal is finished: the warning goes at the next look.
    ASSERT_TRUE(j.Close()) << j.Error;
    w.SamplesAppended();
    EXPECT_TRUE(w.NoticeText().isEmpty()) << w.NoticeText().toStdString();
}
