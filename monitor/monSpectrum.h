// Painting of the harmonic spectrum and of the window's 16-pixel icons.
#pragma once

#include "monitor/monFormat.h"

#include <QFont>
#include <QImage>
#include <QPixmap>

namespace qz {

// The tables of the yellow, green, red and blue bars; Blue may be null (not drawn).
struct TmonSpectrumTables {
    const double* Yellow = nullptr;
    const double* Green = nullptr;
    const double* Red = nullptr;
    const double* Blue = nullptr;
};

// The tables a spectrum selection shows (0 "KUф", 1 "KUмф", 2 "KI"); the blue bars only for a
// meter with the neutral channel and never for the line voltages.
TmonSpectrumTables SpectrumTablesOf(const TmonData3sec& d, int selection, bool hasNeutral);

// Bars of harmonics 2..40 over a grey ground, then the grid lines with their labels.
void DrawSpectrum(QImage& image, const TmonSpectrumScale& sc, const TmonSpectrumTables& t,
                  const QFont& font, char decimalSeparator);

// The angle symbol, the normal-limit marker (blue) and the maximum-limit marker (red).
QPixmap MakeAngleIcon();
QPixmap MakeNormalLimitIcon();
QPixmap MakeMaxLimitIcon();
// The picture of the trends button: three phase trends over the spectrum's grey ground.
QPixmap MakeTrendsIcon();

// A TmonColor as a Qt colour.
QColor ToQColor(TmonColor c);

} // namespace qz
