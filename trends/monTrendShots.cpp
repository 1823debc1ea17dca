// Writes PNG pictures of the trends window:
//   qz_trends_shots <folder>
// an hour of the simulated meter's records, a zoom into one minute, the hour with a span's
// statistics and a second cursor, and a generated week.
#include "simulator/MeterModel.h"
#include "trends/monTrendDemo.h"
#include "trends/monTrendsWindow.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>

#include <cstdio>

using namespace qz;

namespace {

// An hour of 3-second records as the simulated meter answers them, decoded as the polling
// thread decodes them.
bool FillDemoHour(TmonTrendMemorySource& src, TmonSettings& settings, TDateTime start) {
    const TMeterModel model(1);
    const auto sd = model.SettingsData();
    if (!DecodeSettings(sd.data(), sd.size(), settings)) return false;
    settings.HasNeutral = model.HasNeutral() ? 1 : 0;
    double us = 0, is = 0;
    const auto kd = model.ScaleData();
    if (!DecodeScaleKoeffs(kd.data(), kd.size(), us, is)) return false;
    for (int i = 0; i < 1200; ++i) {
        const TDateTime t = start + i * 3.0 / 86400.0;
        const auto rec = model.RecordData(t);
        TmonData3sec d;
        if (Decode3sec(rec.data(), rec.size(), model.HasNeutral(), settings, us, is, d) ==
            TmonDecodeResult::TooShort)
            return false;
        d.Time = t;
        src.Append(TrendSampleOf(d));
    }
    return true;
}

bool Save(TmonTrendsWindow& w, const QString& folder, const char* name) {
    QApplication::processEvents();
    const QString path = folder + "/" + name;
    if (!w.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
        return false;
    }
    std::printf("%s\n", path.toLocal8Bit().constData());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("screenshots");
    QDir().mkpath(folder);
    TDateTime start = 0;
    TryEncodeDateTime({2026, 3, 5, 10, 0, 0, 0}, start);
    bool ok = true;
    {
        TmonTrendMemorySource src("демо: час записи");
        TmonSettings s;
        if (!FillDemoHour(src, s, start)) {
            std::fprintf(stderr, "the simulated meter's records did not decode\n");
            return 1;
        }
        TmonTrendsWindow w;
        w.resize(1100, 700);
        w.SetSettings(s);
        w.SetSource(&src);
        w.SetChecked(tqF, true);
        w.SetChecked(tqIA, true);
        w.SetChecked(tqIB, true);
        w.SetChecked(tqIC, true);
        w.show();
        ok = Save(w, folder, "trends-hour-demo.png") && ok;
        // One minute in the middle of the hour, the pointer on a record.
        const TDateTime m0 = start + 30 * 60 / 86400.0;
        w.SetRange({m0, m0 + 60 / 86400.0});
        QApplication::processEvents();
        const int x = w.PlotXOfTime(m0 + 31 / 86400.0);
        QMouseEvent move(QEvent::MouseMove, QPointF(x, 100),
                         QPointF(w.Plot()->mapToGlobal(QPoint(x, 100))), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(w.Plot(), &move);
        ok = Save(w, folder, "trends-minute-zoom.png") && ok;
        // The whole hour with a span's statistics and a second cursor.
        w.ShowWhole();
        w.SelectSpan(start + 10 * 60 / 86400.0, start + 30 * 60 / 86400.0);
        w.SetFixedCursor(start + 5 * 60 / 86400.0);
        QApplication::processEvents();
        const int x2 = w.PlotXOfTime(start + 40 * 60 / 86400.0);
        QMouseEvent move2(QEvent::MouseMove, QPointF(x2, 100),
                          QPointF(w.Plot()->mapToGlobal(QPoint(x2, 100))), Qt::NoButton,
                          Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w.Plot(), &move2);
        ok = Save(w, folder, "trends-span-statistics.png") && ok;
    }
    {
        TmonTrendMemorySource src("сгенерированная неделя");
        for (const auto& x : GenerateTrendSamples(start, 201600, 3.0, 11))
            src.Append(x);
        TmonTrendsWindow w;
        w.resize(1100, 700);
        w.SetSettings(DemoTrendSettings());
        w.SetSource(&src);
        w.SetChecked(tqF, true);
        w.SetChecked(tqKUA, true);
        w.SetChecked(tqK2, true);
        w.show();
        ok = Save(w, folder, "trends-week-generated.png") && ok;
    }
    return ok ? 0 : 1;
}
