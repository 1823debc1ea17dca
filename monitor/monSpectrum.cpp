#include "monitor/monSpectrum.h"

#include <QPainter>
#include <QPainterPath>

namespace qz {

QColor ToQColor(TmonColor c) {
    uint32_t v = uint32_t(c); // 0x00BBGGRR
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

TmonSpectrumTables SpectrumTablesOf(const TmonData3sec& d, int selection, bool hasNeutral) {
    TmonSpectrumTables t;
    switch (selection) {
    case 1:
        t.Yellow = d.KUn_AB;
        t.Green = d.KUn_BC;
        t.Red = d.KUn_CA;
        break;
    case 2:
        t.Yellow = d.KIn_A;
        t.Green = d.KIn_B;
        t.Red = d.KIn_C;
        t.Blue = hasNeutral ? d.KIn_N : nullptr;
        break;
    default:
        t.Yellow = d.KUn_A;
        t.Green = d.KUn_B;
        t.Red = d.KUn_C;
        t.Blue = hasNeutral ? d.KUn_N : nullptr;
    }
    return t;
}

void DrawSpectrum(QImage& image, const TmonSpectrumScale& sc, const TmonSpectrumTables& t,
                  const QFont& font, char decimalSeparator) {
    const int width = image.width();
    const int height = image.height();
    const int step = SpectrumBarStep(width);
    QPainter p(&image);
    p.fillRect(image.rect(), QColor(0x6A, 0x6A, 0x6A));

    struct TBar {
        const double* Table;
        QColor Color;
        int Shift;
    };
    const TBar bars[4] = {{t.Yellow, QColor(0xFF, 0xFF, 0x00), 0},
                          {t.Green, QColor(0x00, 0xFF, 0x00), 2},
                          {t.Red, QColor(0xFF, 0x00, 0x00), 4},
                          {t.Blue, QColor(0x00, 0x00, 0xFF), 6}};
    for (const TBar& b : bars) {
        if (!b.Table) continue;
        p.setPen(QPen(b.Color, 2, Qt::SolidLine, Qt::FlatCap));
        for (int n = 2; n <= 40; ++n) {
            int h = SpectrumBarHeight(sc, b.Table[n - 2]);
            if (h <= 0) continue; // the top lies at or below the bottom: nothing to see
            int x = SpectrumBarX(step, n) + b.Shift;
            p.drawLine(x, height, x, height - h);
        }
    }

    p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
    p.setBrush(Qt::NoBrush);
    p.setFont(font);
    const int lines = (uint8_t(sc.Lines) == 255) ? -1 : sc.Lines;
    const QFontMetrics fm(font);
    for (int j = 0; j <= lines; ++j) {
        int y = height - j * sc.Spacing - sc.BaseHeight;
        p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
        p.drawLine(0, y, width, y);
        p.setPen(Qt::white);
        p.drawText(QPoint(1, y + fm.ascent()),
                   QString::fromStdString(SpectrumGridLabel(sc, j, decimalSeparator)));
    }
}

namespace {

QPixmap Blank() {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    return pm;
}

} // namespace

QPixmap MakeAngleIcon() {
    QPixmap pm = Blank();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1.5));
    p.drawLine(QPointF(2, 13.5), QPointF(14, 13.5));
    p.drawLine(QPointF(2, 13.5), QPointF(11, 2));
    p.drawArc(QRectF(-3, 8.5, 14, 10), 0, 52 * 16);
    return pm;
}

QPixmap MakeNormalLimitIcon() {
    // A blue triangle pointing up: above the normal limit.
    QPixmap pm = Blank();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath tri;
    tri.moveTo(8, 2);
    tri.lineTo(14, 13);
    tri.lineTo(2, 13);
    tri.closeSubpath();
    p.fillPath(tri, QColor(0x00, 0x00, 0xFF));
    return pm;
}

QPixmap MakeMaxLimitIcon() {
    // A red disc with an exclamation mark: above the maximum limit.
    QPixmap pm = Blank();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0xFF, 0x00, 0x00));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 4.5), QPointF(8, 9));
    p.drawPoint(QPointF(8, 12));
    return pm;
}

QPixmap MakeTrendsIcon() {
    QPixmap pm = Blank();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRectF(0, 1, 16, 14), QColor(0x6A, 0x6A, 0x6A));
    const QColor colours[3] = {QColor(0xFF, 0xFF, 0x00), QColor(0x00, 0xFF, 0x00),
                               QColor(0xFF, 0x00, 0x00)};
    for (int k = 0; k < 3; ++k) {
        const double y = 4.5 + 3.5 * k;
        const QPointF line[5] = {{1, y + 1}, {5, y - 1.5}, {8, y + 1.5}, {11, y - 1}, {15, y}};
        p.setPen(QPen(colours[k], 1.2));
        p.drawPolyline(line, 5);
    }
    return pm;
}

} // namespace qz
