// The main window's presentation: the value labels, the powers, the harmonics grid and the
// spectrum with its scale.
#include "monitor/monMain.h"
#include "monitor/monMainParts.h"

#include "common/DateTime.h"
#include "monitor/monRecording.h"
#include "monitor/monSpectrum.h"

#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableWidget>

namespace qz {

TmonFormatContext SystemFormat() {
    TmonFormatContext ctx;
    QLocale loc = QLocale::system();
    QString point = loc.decimalPoint();
    ctx.DecimalSeparator =
        (point.size() == 1 && point[0].unicode() < 128) ? char(point[0].unicode()) : '.';
    QString dateFormat = loc.dateFormat(QLocale::ShortFormat);
    QString timeFormat = loc.timeFormat(QLocale::LongFormat);
    // The long time format of many locales names the time zone; the meter's clock has none.
    timeFormat.remove(QLatin1Char('t'));
    timeFormat = timeFormat.trimmed();
    ctx.FormatDateTime = [dateFormat, timeFormat](TDateTime t) {
        TDateTimeParts p = DecodeDateTime(t);
        QDate date(p.Year, p.Month, p.Day);
        QString s = date.toString(dateFormat);
        if (TimeOfDayMs(t) != 0)
            s += QLatin1Char(' ') + QTime(p.Hour, p.Minute, p.Second, p.MSec).toString(timeFormat);
        return s.toStdString();
    };
    return ctx;
}

std::string MeterName(const TccnConnection* c) {
    if (!c || !c->CustomDevice()) return std::string();
    const TccnCustomDevice* d = c->CustomDevice();
    const TDeviceType t = d->DeviceType();
    return std::string(t < DeviceTypeCount ? DeviceTypeNames[t] : "") + " № " +
           std::to_string(d->FactoryNum());
}

namespace {

void Put(QLabel* l, const TmonLabel& v) {
    if (!v.Set) return;
    l->setText(Q(v.Text));
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, ToQColor(v.Color));
    l->setPalette(pal);
}

} // namespace

// --- presentation ---

void TForm1::ShowMeasurements() {
    TmonSelections sel;
    sel.VoltageItem = C.Combo_U->currentIndex();
    sel.CurrentItem = C.Combo_I->currentIndex();
    sel.WholeSignal = !C.RB_first->isChecked();
    TmonMeasurementsView v = qz::ShowMeasurements(FShown, sel, FBaseCaption.toStdString(), FFormat);
    // The caption is the program's and the data's time alone: a journal's name there would
    // push the time out of sight. The journal is told in the status label.
    setWindowTitle(Q(v.Caption));
    C.LUnom->setText(Q(v.LUnom));
    C.LUnom_mf->setText(Q(v.LUnomMf));
    C.Label48->setText(Q(v.Label48));
    C.L_I_nom->setText(Q(v.LInom));
    Put(C.L_freq, v.Freq);
    Put(C.L_delta_F, v.DeltaF);
    for (int x = 0; x < 4; ++x) {
        Put(C.L_U[x], v.U[x]);
        Put(C.L_I[x], v.I[x]);
        Put(C.L_fi_UI[x], v.PhiUI[x]);
        Put(C.L_K_U[x], v.KU[x]);
        Put(C.L_K_I[x], v.KI[x]);
    }
    for (int l = 0; l < 3; ++l) {
        Put(C.L_U_line[l], v.ULine[l]);
        Put(C.L_U_seq[l], v.USeq[l]);
        Put(C.L_I_seq[l], v.ISeq[l]);
        Put(C.L_fi_UI_seq[l], v.PhiUISeq[l]);
        Put(C.L_K_U_line[l], v.KULine[l]);
    }
    Put(C.L_K_0, v.K0);
    Put(C.L_K_1, v.K2);
    ShowPowers();
    FillHarmonicsGrid();
}

void TForm1::ShowPowers() {
    TmonPowersView v = qz::ShowPowers(FShown.Data3sec, !C.RB_first->isChecked(),
                                      FShown.Settings.HasNeutral != 0, FFormat.DecimalSeparator);
    for (int g = 0; g < 3; ++g) {
        C.L_P_hdr[g]->setText(Q(v.Header[g]));
        for (int i = 0; i < 5; ++i)
            Put(C.L_PQS[g][i], v.Value[g][i]);
    }
    for (int i = 0; i < 5; ++i)
        Put(C.L_Cos[i], v.Cos[i]);
}

void TForm1::FillHarmonicsGrid() {
    TmonGridView g =
        qz::FillHarmonicsGrid(FShown, C.ComboBox1->currentIndex(), FFormat.DecimalSeparator);
    const int columns = g.ColumnCount - 1; // the fixed column is the row header
    const int current = C.StringGrid1->currentRow();
    C.StringGrid1->setColumnCount(columns);
    const int width = columns == 4 ? 75 : 100;
    for (int c = 0; c < columns; ++c) {
        C.StringGrid1->setColumnWidth(c, width);
        QTableWidgetItem* h = C.StringGrid1->horizontalHeaderItem(c);
        if (!h) {
            h = new QTableWidgetItem;
            C.StringGrid1->setHorizontalHeaderItem(c, h);
        }
        // The angle symbol is painted over the blanks the caption begins with; three more
        // keep it clear of the text in the narrower fallback fonts.
        QString header = Q(g.Header[c + 1]);
        if (header.startsWith(QStringLiteral("     "))) header.prepend(QStringLiteral("   "));
        h->setText(header);
        h->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        for (int r = 0; r < kmonGridRows; ++r) {
            QTableWidgetItem* it = C.StringGrid1->item(r, c);
            if (!it) {
                it = new QTableWidgetItem;
                C.StringGrid1->setItem(r, c, it);
            }
            it->setText(Q(g.Cell[r][c + 1]));
            it->setData(kmonGridMarkerRole, uint32_t(g.Marker[r][c + 1]));
        }
    }
    C.GridHeader->AngleIcon = g.AngleIcon;
    C.GridHeader->viewport()->update();
    if (current >= 0) C.StringGrid1->setCurrentCell(current, 0);
}

// --- spectrum ---

const QImage& TForm1::SpectrumImage() const {
    return C.Image1->Image;
}

void TForm1::ComboBox2Change() {
    const int index = C.ComboBox2->currentIndex();
    const bool neutral = FShown.Settings.HasNeutral != 0;
    if (FStartingUp) {
        C.L_Blue->setVisible(neutral);
    } else if (index == 1) {
        C.L_Yellow->setText("AB");
        C.L_Green->setText("BC");
        C.L_Red->setText("CA");
        C.L_Blue->setVisible(false);
    } else {
        C.L_Yellow->setText(" A ");
        C.L_Green->setText(" B ");
        C.L_Red->setText(" C ");
        C.L_Blue->setVisible(neutral);
    }
    FLevel = ClampLevel(FSettings->ReadLevel(index));
    {
        QSignalBlocker block(C.ScrollBar1);
        C.ScrollBar1->setValue(ClampPos(FSettings->ReadPos(index)) + kScrollRange);
    }
    ComputeScale();
    DrawSpectrum();
}

void TForm1::ComputeScale() {
    FScale = ComputeSpectrumScale(kmonSpectrumHeight, FLevel, C.ScrollBar1->value());
}

void TForm1::DrawSpectrum() {
    const bool neutral = FShown.Settings.HasNeutral != 0;
    qz::DrawSpectrum(C.Image1->Image, FScale,
                     SpectrumTablesOf(FShown.Data3sec, C.ComboBox2->currentIndex(), neutral),
                     FSpectrumFont, FFormat.DecimalSeparator);
    C.Image1->update();
}

void TForm1::BIncClick() {
    if (FLevel < 2) return;
    --FLevel;
    FSettings->WriteLevel(C.ComboBox2->currentIndex(), FLevel);
    ComputeScale();
    DrawSpectrum();
}

void TForm1::BDecClick() {
    if (FLevel > 298) return;
    ++FLevel;
    FSettings->WriteLevel(C.ComboBox2->currentIndex(), FLevel);
    ComputeScale();
    DrawSpectrum();
}

void TForm1::ScrollBar1Change() {
    FSettings->WritePos(C.ComboBox2->currentIndex(), C.ScrollBar1->value() - kScrollRange);
    ComputeScale();
    DrawSpectrum();
}

void TForm1::Image1MouseDown(int x) {
    int n = HarmonicAtX(x, FBarStep);
    if (n != 0) C.StringGrid1->setCurrentCell(n - 2, 0);
}

} // namespace qz
