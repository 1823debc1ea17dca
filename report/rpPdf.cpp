#include "report/rpPdf.h"

#include "journal/jnOutFile.h"
#include "report/rpOutput.h"

#include <QBuffer>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include <algorithm>
#include <cmath>
#include <vector>

namespace qz {
namespace {

// Device units: 254 dots per inch is ten to the millimetre.
constexpr int kDpi = 254;
constexpr int kMm = 10;
// The limit colours of the windows: blue for the normal range, red for the maximum one.
const QColor kNormalColor(0, 0, 255);
const QColor kMaxColor(255, 0, 0);
const QColor kValueColor(0, 110, 0);
const QColor kGridColor(200, 200, 200);
// Rows listed before "and N more" in the lists of intervals and outages.
constexpr size_t kListedRows = 60;

QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), int(s.size()));
}

int DecimalsOf(int q) {
    return q == rqDF ? 3 : 2;
}

std::string Num(double v, int decimals) {
    return RpNumber(v, decimals, ',');
}

// "−5,00 … 5,00" for a two-sided range, "5,00" for an upper limit, "—" for none.
std::string RangeText(const TrpRange& r, int decimals) {
    if (std::isnan(r.Low) && std::isnan(r.High)) return "—";
    if (std::isnan(r.Low)) return Num(r.High, decimals);
    return Num(r.Low, decimals) + " … " + Num(r.High, decimals);
}

struct TColumn {
    QString Title;
    int Width; // in 0.1 mm
    Qt::Alignment Align = Qt::AlignRight;
};

class TDocument {
public:
    TDocument(QPdfWriter& w, QPainter& p) : W(w), P(p) {
        Width = w.width();
        Height = w.height();
    }

    void NewPage() {
        W.newPage();
        Y = 0;
    }
    // Room for `h` more units on this page, or a new page.
    void Need(int h) {
        if (Y + h > Height - 8 * kMm) NewPage();
    }
    void Font(double points, bool bold = false) {
        QFont f("DejaVu Sans");
        f.setPointSizeF(points);
        f.setBold(bold);
        P.setFont(f);
    }
    int LineHeight() const { return P.fontMetrics().height(); }

    void Title(const QString& text, double points = 12) {
        Font(points, true);
        Need(LineHeight() * 2);
        Y += LineHeight() / 2;
        P.setPen(Qt::black);
        P.drawText(QRect(0, Y, Width, LineHeight()), Qt::AlignLeft | Qt::AlignVCenter, text);
        Y += LineHeight() + kMm;
    }
    // Wrapped text across the page.
    void Paragraph(const QString& text, double points = 9, bool bold = false) {
        Font(points, bold);
        const QRect r = P.boundingRect(QRect(0, 0, Width, 100000), Qt::TextWordWrap, text);
        Need(r.height());
        P.setPen(Qt::black);
        P.drawText(QRect(0, Y, Width, r.height()), Qt::TextWordWrap, text);
        Y += r.height() + kMm;
    }
    // "Name: value" rows.
    void Field(const QString& name, const QString& value) {
        Font(9);
        const int nameWidth = 55 * kMm;
        const QRect r =
            P.boundingRect(QRect(0, 0, Width - nameWidth, 100000), Qt::TextWordWrap, value);
        Need(r.height());
        P.setPen(Qt::black);
        P.drawText(QRect(0, Y, nameWidth, r.height()), Qt::AlignLeft, name);
        P.drawText(QRect(nameWidth, Y, Width - nameWidth, r.height()), Qt::TextWordWrap, value);
        Y += r.height() + kMm / 2;
    }
    // A table; the header is repeated on each page it runs over. `colours` may give a row
    // text colour.
    void Table(const std::vector<TColumn>& cols, const std::vector<std::vector<QString>>& rows,
               const std::vector<QColor>& colours = {}) {
        Font(7);
        const int rowH = LineHeight() + kMm;
        auto header = [&] {
            Font(7, true);
            int x = 0;
            int h = rowH;
            for (const TColumn& c : cols)
                h = std::max(
                    h, P.boundingRect(QRect(0, 0, c.Width - kMm, 100000), Qt::TextWordWrap, c.Title)
                               .height() +
                           kMm);
            P.fillRect(QRect(0, Y, TotalWidth(cols), h), QColor(235, 235, 235));
            P.setPen(Qt::black);
            for (const TColumn& c : cols) {
                P.drawText(QRect(x + kMm / 2, Y, c.Width - kMm, h),
                           Qt::AlignCenter | Qt::TextWordWrap, c.Title);
                x += c.Width;
            }
            Y += h;
            P.drawLine(0, Y, TotalWidth(cols), Y);
            Font(7);
        };
        Need(rowH * 4);
        header();
        for (size_t r = 0; r < rows.size(); ++r) {
            if (Y + rowH > Height - 8 * kMm) {
                NewPage();
                header();
            }
            P.setPen(r < colours.size() ? colours[r] : QColor(Qt::black));
            int x = 0;
            for (size_t c = 0; c < cols.size() && c < rows[r].size(); ++c) {
                P.drawText(QRect(x + kMm / 2, Y, cols[c].Width - kMm, rowH),
                           cols[c].Align | Qt::AlignVCenter, rows[r][c]);
                x += cols[c].Width;
            }
            Y += rowH;
            P.setPen(kGridColor);
            P.drawLine(0, Y, TotalWidth(cols), Y);
        }
        Y += 2 * kMm;
    }
    static int TotalWidth(const std::vector<TColumn>& cols) {
        int w = 0;
        for (const TColumn& c : cols)
            w += c.Width;
        return w;
    }

    QPdfWriter& W;
    QPainter& P;
    int Width = 0, Height = 0, Y = 0;
};

// A value axis that holds the values and the limits that are set.
void AxisRange(const std::vector<double>& values, const TrpLimits& l, double& lo, double& hi) {
    lo = INFINITY;
    hi = -INFINITY;
    for (double v : values) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    for (double v : {l.Normal.Low, l.Normal.High, l.Max.Low, l.Max.High})
        if (std::isfinite(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    if (!std::isfinite(lo)) lo = 0, hi = 1;
    if (hi - lo < 1e-9) {
        lo -= 0.5;
        hi += 0.5;
    }
    const double pad = (hi - lo) * 0.08;
    lo -= pad;
    hi += pad;
}

void LimitLine(QPainter& p, const QRect& r, double v, double lo, double hi, const QColor& c,
               bool vertical) {
    if (!std::isfinite(v)) return;
    p.setPen(QPen(c, 3, Qt::DashLine));
    if (vertical) {
        const int x = r.left() + int((v - lo) / (hi - lo) * r.width());
        p.drawLine(x, r.top(), x, r.bottom());
    } else {
        const int y = r.bottom() - int((v - lo) / (hi - lo) * r.height());
        p.drawLine(r.left(), y, r.right(), y);
    }
}

void LimitLines(QPainter& p, const QRect& r, const TrpLimits& l, double lo, double hi,
                bool vertical) {
    LimitLine(p, r, l.Normal.Low, lo, hi, kNormalColor, vertical);
    LimitLine(p, r, l.Normal.High, lo, hi, kNormalColor, vertical);
    LimitLine(p, r, l.Max.Low, lo, hi, kMaxColor, vertical);
    LimitLine(p, r, l.Max.High, lo, hi, kMaxColor, vertical);
}

void Frame(QPainter& p, const QRect& r) {
    p.setPen(QPen(Qt::black, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r);
}

// The 10-minute values of a quantity against time, with its limit lines.
void DrawChart(TDocument& d, const QRect& box, const TrpAssessment& a, int q) {
    QPainter& p = d.P;
    // The title above the frame, where no limit line runs through it.
    const QRect r = box.adjusted(14 * kMm, 6 * kMm, -2 * kMm, -7 * kMm);
    std::vector<double> values;
    for (const TrpInterval& i : a.IntervalList)
        if (i.Valid && std::isfinite(i.Values[size_t(q)])) values.push_back(i.Values[size_t(q)]);
    const TrpStats& st = a.Stats[size_t(q)];
    double lo, hi;
    AxisRange(values, st.Limits, lo, hi);
    const double t0 = a.IntervalList.empty() ? 0 : a.IntervalList.front().Start;
    double t1 = a.IntervalList.empty() ? 1 : a.IntervalList.back().Start;
    if (t1 - t0 < 1e-9) t1 = t0 + 600.0 / 86400;
    d.Font(6);
    p.setPen(Qt::black);
    for (int k = 0; k <= 4; ++k) {
        const double v = lo + (hi - lo) * k / 4;
        const int y = r.bottom() - int(double(r.height()) * k / 4);
        p.setPen(kGridColor);
        p.drawLine(r.left(), y, r.right(), y);
        p.setPen(Qt::black);
        p.drawText(QRect(box.left(), y - 2 * kMm, 13 * kMm, 4 * kMm),
                   Qt::AlignRight | Qt::AlignVCenter, Q(Num(v, DecimalsOf(q))));
    }
    for (int k = 0; k <= 4; ++k) {
        const double t = t0 + (t1 - t0) * k / 4;
        const int x = r.left() + int(double(r.width()) * k / 4);
        // The last label ends at the frame so as not to run into the histogram.
        const QRect label = k == 4
                                ? QRect(r.right() - 30 * kMm, r.bottom() + kMm, 30 * kMm, 5 * kMm)
                                : QRect(x - 15 * kMm, r.bottom() + kMm, 30 * kMm, 5 * kMm);
        p.drawText(label, k == 4 ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignCenter,
                   Q(RpTimeText(t).substr(0, 5) + RpTimeText(t).substr(10, 6))); // "08.12 15:10"
    }
    LimitLines(p, r, st.Limits, lo, hi, false);
    // Points joined where the intervals follow each other; a gap breaks the line.
    p.setPen(QPen(kValueColor, 3));
    QPointF prev;
    int64_t prevIndex = -2;
    for (const TrpInterval& i : a.IntervalList) {
        const double v = i.Values[size_t(q)];
        if (!i.Valid || !std::isfinite(v)) continue;
        const QPointF pt(r.left() + (i.Start - t0) / (t1 - t0) * r.width(),
                         r.bottom() - (v - lo) / (hi - lo) * r.height());
        if (i.Index == prevIndex + 1)
            p.drawLine(prev, pt);
        else
            p.drawEllipse(pt, 4, 4);
        prev = pt;
        prevIndex = i.Index;
    }
    Frame(p, r);
    d.Font(7, true);
    p.setPen(Qt::black);
    p.drawText(QRect(r.left(), box.top() + kMm, r.width(), 4 * kMm), Qt::AlignLeft,
               Q(RpQuantityInfo(q).Title + ", " + RpQuantityInfo(q).Unit));
}

// How the 10-minute values (Δf: the 3-second ones are too many to keep; its histogram is of
// the 10-minute means) spread, with the limits.
void DrawHistogram(TDocument& d, const QRect& box, const TrpAssessment& a, int q) {
    QPainter& p = d.P;
    const QRect r = box.adjusted(3 * kMm, 6 * kMm, -2 * kMm, -7 * kMm);
    std::vector<double> values;
    for (const TrpInterval& i : a.IntervalList)
        if (i.Valid && std::isfinite(i.Values[size_t(q)])) values.push_back(i.Values[size_t(q)]);
    const TrpStats& st = a.Stats[size_t(q)];
    double lo, hi;
    AxisRange(values, st.Limits, lo, hi);
    constexpr int kBins = 24;
    std::vector<int> bins(kBins, 0);
    for (double v : values)
        ++bins[size_t(std::clamp(int((v - lo) / (hi - lo) * kBins), 0, kBins - 1))];
    const int top = std::max(1, *std::max_element(bins.begin(), bins.end()));
    p.setPen(Qt::NoPen);
    p.setBrush(kValueColor);
    for (int b = 0; b < kBins; ++b) {
        const int h = int(double(bins[size_t(b)]) / top * r.height());
        const int x0 = r.left() + r.width() * b / kBins,
                  x1 = r.left() + r.width() * (b + 1) / kBins;
        p.drawRect(QRect(x0 + 1, r.bottom() - h, x1 - x0 - 2, h));
    }
    p.setBrush(Qt::NoBrush);
    LimitLines(p, r, st.Limits, lo, hi, true);
    Frame(p, r);
    d.Font(6);
    p.setPen(Qt::black);
    p.drawText(QRect(r.left() - 10 * kMm, r.bottom() + kMm, 20 * kMm, 5 * kMm), Qt::AlignCenter,
               Q(Num(lo, DecimalsOf(q))));
    p.drawText(QRect(r.right() - 10 * kMm, r.bottom() + kMm, 20 * kMm, 5 * kMm), Qt::AlignCenter,
               Q(Num(hi, DecimalsOf(q))));
    p.drawText(QRect(r.left(), box.top() + kMm, r.width(), 4 * kMm), Qt::AlignRight,
               QString("N = %1").arg(values.size()));
}

// The upper 95 % value of each harmonic as a share of its normal limit.
void DrawHarmonicBars(TDocument& d, const TrpAssessment& a) {
    QPainter& p = d.P;
    const int h = 80 * kMm;
    d.Need(h + 10 * kMm);
    const QRect r(12 * kMm, d.Y, d.Width - 14 * kMm, h);
    double top = 120;
    for (int ph = 0; ph < 3; ++ph)
        for (int n = 2; n <= 40; ++n) {
            const TrpStats& st = a.Stats[size_t(RpHarmQuantity(ph, n))];
            if (std::isfinite(st.Upper95) && std::isfinite(st.Limits.Normal.High))
                top = std::max(top, st.Upper95 / st.Limits.Normal.High * 100 * 1.05);
        }
    d.Font(6);
    for (int k = 0; k <= 4; ++k) {
        const double v = top * k / 4;
        const int y = r.bottom() - int(double(r.height()) * k / 4);
        p.setPen(kGridColor);
        p.drawLine(r.left(), y, r.right(), y);
        p.setPen(Qt::black);
        p.drawText(QRect(0, y - 2 * kMm, 11 * kMm, 4 * kMm), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(int(std::lround(v))) + " %");
    }
    const QColor phaseColours[3] = {QColor(200, 160, 0), QColor(0, 140, 0), QColor(200, 0, 0)};
    const double slot = double(r.width()) / 39;
    for (int n = 2; n <= 40; ++n) {
        const double x = r.left() + slot * (n - 2);
        for (int ph = 0; ph < 3; ++ph) {
            const TrpStats& st = a.Stats[size_t(RpHarmQuantity(ph, n))];
            if (!std::isfinite(st.Upper95) || !std::isfinite(st.Limits.Normal.High)) continue;
            const double share = st.Upper95 / st.Limits.Normal.High * 100;
            const int bh = int(std::min(share, top) / top * r.height());
            p.fillRect(QRectF(x + slot * (0.1 + 0.27 * ph), r.bottom() - bh, slot * 0.25, bh),
                       phaseColours[ph]);
        }
        p.setPen(Qt::black);
        p.drawText(QRectF(x, r.bottom() + kMm, slot, 4 * kMm), Qt::AlignCenter, QString::number(n));
    }
    LimitLine(p, r, 100, 0, top, kNormalColor, false);
    Frame(p, r);
    d.Y += h + 6 * kMm;
    d.Font(7);
    int x = r.left();
    const char* names[3] = {"фаза A", "фаза B", "фаза C"};
    for (int ph = 0; ph < 3; ++ph) {
        p.fillRect(QRect(x, d.Y, 4 * kMm, 3 * kMm), phaseColours[ph]);
        p.setPen(Qt::black);
        p.drawText(QRect(x + 5 * kMm, d.Y - kMm, 25 * kMm, 5 * kMm), Qt::AlignLeft, names[ph]);
        x += 30 * kMm;
    }
    p.setPen(QPen(kNormalColor, 3, Qt::DashLine));
    p.drawLine(x, d.Y + 15, x + 8 * kMm, d.Y + 15);
    p.setPen(Qt::black);
    p.drawText(QRect(x + 10 * kMm, d.Y - kMm, 80 * kMm, 5 * kMm), Qt::AlignLeft,
               "нормально допустимое значение (100 %)");
    d.Y += 6 * kMm;
}

QColor VerdictColour(int verdict) {
    return verdict == 0 ? kMaxColor : QColor(Qt::black);
}

void Header(TDocument& d, const TrpAssessment& a, const TrpSource& s, const TrpProtocolInfo& info) {
    d.Title("Протокол оценки качества электрической энергии", 14);
    d.Paragraph("по 3-секундным измерениям; нормы — по уставкам измерителя или по файлу норм "
                "(показатели ГОСТ 32144-2013, методы ГОСТ 30804.4.30)",
                8);
    d.Field("Измеритель:",
            Q(s.Meter.Model + ", заводской номер " + std::to_string(s.Meter.FactoryNumber)));
    d.Field("Подключение:", Q(s.Meter.Connection));
    std::string files;
    for (const std::string& f : s.Files)
        files += (files.empty() ? "" : "; ") + f;
    d.Field(s.Files.size() > 1 ? "Журналы:" : "Журнал:", Q(files));
    if (a.Records)
        d.Field("Период:", Q(RpTimeText(a.First) + " — " + RpTimeText(a.Last) + " (" +
                             RpDurationText(a.Last - a.First + 3.0 / 86400) + ")"));
    d.Field("Записи 3 с:", Q(std::to_string(a.Records) + " из " +
                             std::to_string(a.ExpectedRecords) + " ожидаемых"));
    d.Field("Интервалы 10 мин:",
            Q(std::to_string(a.ValidIntervals) + " достоверных из " + std::to_string(a.Intervals) +
              " (достоверен интервал с 180 и более записями из 200)"));
    int64_t missing = 0;
    for (const TrpOutage& o : a.Outages)
        missing += o.Missing;
    std::string outages = a.Outages.empty() ? std::string("нет")
                                            : std::to_string(a.Outages.size()) + ", нет " +
                                                  std::to_string(missing) + " записей";
    if (!s.PollOutages.empty())
        outages += "; перерывов опроса по журналу: " + std::to_string(s.PollOutages.size());
    d.Field("Перерывы записи:", Q(outages));
    d.Field("Нормы:", Q(info.LimitsSource));
    d.Field("Программа:", Q(info.ProgramVersion));
    d.Field("Дата протокола:", Q(RpTimeText(info.Created)));
}

void Summary(TDocument& d, const TrpAssessment& a) {
    d.Title("Сводная таблица");
    const std::vector<TColumn> cols = {
        {"Показатель", 17 * kMm, Qt::AlignLeft},
        {"Ед.", 7 * kMm, Qt::AlignCenter},
        {"Нормально допустимые", 25 * kMm},
        {"Предельно допустимые", 25 * kMm},
        {"N", 12 * kMm},
        {"Мин", 11 * kMm},
        {"Макс", 11 * kMm},
        {"Нижнее 5 %", 12 * kMm},
        {"Верхнее 95 %", 12 * kMm},
        {"T1, %", 10 * kMm},
        {"T2, %", 10 * kMm},
        {"Заключение", 28 * kMm, Qt::AlignCenter},
    };
    std::vector<std::vector<QString>> rows;
    std::vector<QColor> colours;
    for (int q = 0; q < krpMainCount; ++q) {
        const TrpStats& st = a.Stats[size_t(q)];
        const TrpQuantityInfo& info = RpQuantityInfo(q);
        const int dec = DecimalsOf(q);
        rows.push_back({Q(info.Symbol + (st.LimitsChanged ? " *" : "")), Q(info.Unit),
                        Q(RangeText(st.Limits.Normal, dec)), Q(RangeText(st.Limits.Max, dec)),
                        QString::number(st.N), Q(Num(st.Min, dec)), Q(Num(st.Max, dec)),
                        Q(Num(st.Lower95, dec)), Q(Num(st.Upper95, dec)), Q(Num(st.T1, 2)),
                        Q(Num(st.T2, 2)), Q(RpVerdictText(st.Verdict))});
        colours.push_back(VerdictColour(st.Verdict));
    }
    d.Table(cols, rows, colours);
    d.Paragraph("Δf оценивается по каждой 3-секундной записи (N — число записей): 10-секундные "
                "значения частоты из 3-секундных записей не составить, поэтому оценка строже "
                "стандартной. Остальные показатели — по среднеквадратичным 10-минутным "
                "значениям достоверных интервалов. T1 и T2 — доли значений строго вне "
                "нормально и предельно допустимых значений. Соответствует: T1 ≤ 5 % и T2 = 0. "
                "Нормы берутся из уставок, действовавших для последней записи интервала (для "
                "Δf — для каждой записи); * — нормы менялись за период, показаны последние. "
                "Норма 0 не задана: показатель не оценивается.",
                7);
    d.Title("Без оценки", 10);
    const std::vector<TColumn> shownCols = {
        {"Величина", 60 * kMm, Qt::AlignLeft},
        {"Ед.", 10 * kMm, Qt::AlignCenter},
        {"N", 15 * kMm},
        {"Мин", 20 * kMm},
        {"Среднее", 20 * kMm},
        {"Макс", 20 * kMm},
    };
    rows.clear();
    for (int k = 0; k < krpShownCount; ++k) {
        const TrpShownStats& st = a.Shown[size_t(k)];
        const int dec = k >= rsP ? 1 : 2;
        rows.push_back({Q(RpShownInfo(k).Title), Q(RpShownInfo(k).Unit), QString::number(st.N),
                        Q(Num(st.Min, dec)), Q(Num(st.Mean, dec)), Q(Num(st.Max, dec))});
    }
    d.Table(shownCols, rows);
}

void Harmonics(TDocument& d, const TrpAssessment& a) {
    d.NewPage();
    d.Title("Гармонические составляющие напряжения KU(n)");
    const std::vector<TColumn> cols = {
        {"n", 8 * kMm, Qt::AlignCenter},
        {"Фаза", 10 * kMm, Qt::AlignCenter},
        {"N", 12 * kMm},
        {"Верхнее 95 %, %", 20 * kMm},
        {"Макс, %", 18 * kMm},
        {"Нормально допустимое, %", 24 * kMm},
        {"Предельно допустимое, %", 24 * kMm},
        {"T1, %", 16 * kMm},
        {"T2, %", 16 * kMm},
        {"Заключение", 30 * kMm, Qt::AlignCenter},
    };
    std::vector<std::vector<QString>> rows;
    std::vector<QColor> colours;
    const char* phases[3] = {"A", "B", "C"};
    for (int n = 2; n <= 40; ++n)
        for (int ph = 0; ph < 3; ++ph) {
            const TrpStats& st = a.Stats[size_t(RpHarmQuantity(ph, n))];
            rows.push_back({QString::number(n), phases[ph], QString::number(st.N),
                            Q(Num(st.Upper95, 2)), Q(Num(st.Max, 2)),
                            Q(Num(st.Limits.Normal.High, 2)), Q(Num(st.Limits.Max.High, 2)),
                            Q(Num(st.T1, 2)), Q(Num(st.T2, 2)), Q(RpVerdictText(st.Verdict))});
            colours.push_back(VerdictColour(st.Verdict));
        }
    d.Table(cols, rows, colours);
    d.Need(100 * kMm); // the title stays with its chart
    d.Title("Верхние 95 % значения гармоник в % от нормально допустимых", 10);
    DrawHarmonicBars(d, a);
}

void Charts(TDocument& d, const TrpAssessment& a) {
    d.NewPage();
    d.Title("10-минутные значения и их распределение");
    d.Paragraph("Линии норм: синие — нормально допустимые, красные — предельно допустимые "
                "значения (цвета окна измерений). Показаны достоверные интервалы; для Δf — "
                "10-минутные средние, оценка же — по 3-секундным записям.",
                7);
    const int h = 52 * kMm;
    for (int q = 0; q < krpMainCount; ++q) {
        d.Need(h);
        const int chartW = d.Width * 2 / 3;
        DrawChart(d, QRect(0, d.Y, chartW, h), a, q);
        DrawHistogram(d, QRect(chartW, d.Y, d.Width - chartW, h), a, q);
        d.Y += h + 2 * kMm;
    }
}

void Lists(TDocument& d, const TrpAssessment& a) {
    d.NewPage();
    d.Title("Недостоверные интервалы");
    std::vector<std::vector<QString>> rows;
    size_t invalid = 0;
    for (const TrpInterval& i : a.IntervalList) {
        if (i.Valid) continue;
        if (++invalid <= kListedRows)
            rows.push_back({Q(RpTimeText(i.Start)), QString::number(i.Records),
                            QString::number(RpExpectedPerInterval(a.IntervalSeconds))});
    }
    const int64_t empty = a.Intervals - int64_t(a.IntervalList.size());
    if (rows.empty() && empty == 0)
        d.Paragraph("Нет: каждый интервал содержит не менее 180 записей.");
    if (!rows.empty())
        d.Table({{"Начало интервала", 40 * kMm, Qt::AlignLeft},
                 {"Записей", 20 * kMm},
                 {"Из", 20 * kMm}},
                rows);
    if (invalid > kListedRows)
        d.Paragraph(Q("… и ещё " + std::to_string(invalid - kListedRows) + " интервалов"));
    if (empty > 0)
        d.Paragraph(Q("Интервалов без единой записи: " + std::to_string(empty) +
                      " (они приходятся на перерывы записи)."));

    d.Title("Перерывы записи");
    rows.clear();
    for (size_t k = 0; k < a.Outages.size() && k < kListedRows; ++k) {
        const TrpOutage& o = a.Outages[k];
        rows.push_back({Q(RpTimeText(o.After)), Q(RpTimeText(o.Before)),
                        Q(RpDurationText(o.Before - o.After)), QString::number(o.Missing)});
    }
    if (rows.empty())
        d.Paragraph("Нет: записи идут каждые 3 с от первой до последней.");
    else
        d.Table({{"Последняя запись перед", 40 * kMm, Qt::AlignLeft},
                 {"Первая запись после", 40 * kMm, Qt::AlignLeft},
                 {"Длительность", 35 * kMm},
                 {"Нет записей", 25 * kMm}},
                rows);
    if (a.Outages.size() > kListedRows)
        d.Paragraph(Q("… и ещё " + std::to_string(a.Outages.size() - kListedRows) + " перерывов"));
}

// The stretches the recorder itself kept as failed exchanges, with their reasons.
void PollOutages(TDocument& d, const TrpSource& s) {
    if (s.PollOutages.empty()) return;
    d.Title("Перерывы опроса по журналу", 10);
    std::vector<std::vector<QString>> rows;
    for (size_t k = 0; k < s.PollOutages.size() && k < kListedRows; ++k) {
        const TrpPollOutage& o = s.PollOutages[k];
        rows.push_back({Q(RpTimeText(o.Began)),
                        o.Ended ? Q(RpTimeText(o.Ended)) : "до конца записи", Q(o.Text)});
    }
    d.Table({{"Начало (время компьютера)", 38 * kMm, Qt::AlignLeft},
             {"Конец", 38 * kMm, Qt::AlignLeft},
             {"Причина", 104 * kMm, Qt::AlignLeft}},
            rows);
    if (s.PollOutages.size() > kListedRows)
        d.Paragraph(Q("… и ещё " + std::to_string(s.PollOutages.size() - kListedRows)));
}

void Closing(TDocument& d, const TrpAssessment& a) {
    d.Title("Не оцениваются по 3-секундным данным");
    d.Paragraph("Провалы и перенапряжения, прерывания напряжения, доза фликера (кратковременная "
                "и длительная) и импульсные напряжения (переходные процессы) в этом протоколе не "
                "оцениваются: для них стандарт требует среднеквадратичных значений за каждый "
                "полупериод или мгновенных отсчётов, а 3-секундные записи их не содержат. "
                "Отклонение частоты оценивается по 3-секундным, а не 10-секундным значениям.");
    d.Title("Заключение");
    d.Font(11, true);
    d.Need(d.LineHeight() * 2);
    d.P.setPen(VerdictColour(a.Verdict));
    QString text;
    if (a.Verdict == 1)
        text = "Качество электрической энергии по оцененным показателям соответствует нормам.";
    else if (a.Verdict == 0)
        text = "Качество электрической энергии не соответствует нормам.";
    else
        text = "Качество электрической энергии не оценивается: нет норм или значений.";
    const QRect r = d.P.boundingRect(QRect(0, 0, d.Width, 100000), Qt::TextWordWrap, text);
    d.P.drawText(QRect(0, d.Y, d.Width, r.height()), Qt::TextWordWrap, text);
    d.Y += r.height() + kMm;
    std::string failed;
    for (int q = 0; q < krpAssessedCount; ++q)
        if (a.Stats[size_t(q)].Verdict == 0)
            failed += (failed.empty() ? "" : ", ") + RpQuantityInfo(q).Key;
    d.Paragraph(Q("Общее заключение: " + std::string(RpVerdictText(a.Verdict)) +
                  (failed.empty() ? "" : ". Не соответствуют: " + failed)));
    d.Y += 10 * kMm;
    d.Font(9);
    d.P.setPen(Qt::black);
    for (const char* role : {"Измерения провёл", "Протокол проверил"}) {
        d.Need(14 * kMm);
        d.P.drawText(QRect(0, d.Y, 45 * kMm, 6 * kMm), Qt::AlignLeft | Qt::AlignBottom, role);
        d.P.drawLine(47 * kMm, d.Y + 6 * kMm, 100 * kMm, d.Y + 6 * kMm);
        d.P.drawLine(105 * kMm, d.Y + 6 * kMm, 150 * kMm, d.Y + 6 * kMm);
        d.Font(6);
        d.P.drawText(QRect(47 * kMm, d.Y + 6 * kMm, 53 * kMm, 4 * kMm), Qt::AlignCenter,
                     "должность, фамилия, инициалы");
        d.P.drawText(QRect(105 * kMm, d.Y + 6 * kMm, 45 * kMm, 4 * kMm), Qt::AlignCenter,
                     "подпись, дата");
        d.Font(9);
        d.Y += 14 * kMm;
    }
}

} // namespace

bool RpWritePdf(const TrpAssessment& a, const TrpSource& source, const TrpProtocolInfo& info,
                const std::string& file, std::string& error) {
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setResolution(kDpi);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(20, 12, 10, 12), QPageLayout::Millimeter));
        writer.setTitle("Протокол оценки качества электрической энергии");
        writer.setCreator(QString::fromUtf8(info.ProgramVersion.c_str()));
        QPainter painter;
        if (!painter.begin(&writer)) {
            error = "Не удалось начать файл PDF " + file;
            return false;
        }
        TDocument d(writer, painter);
        Header(d, a, source, info);
        Summary(d, a);
        Harmonics(d, a);
        Charts(d, a);
        Lists(d, a);
        PollOutages(d, source);
        Closing(d, a);
        painter.end();
    }
    TjnOutFile out;
    if (!out.Open(file, error)) return false;
    out.Write(bytes.constData(), size_t(bytes.size()));
    return out.Commit(error);
}

} // namespace qz
