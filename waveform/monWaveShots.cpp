// Writes PNG pictures of the waveform window with demo data at several sizes and zooms:
//   qz_waveform_shots <folder>
#include "exchange/monStorage.h"
#include "waveform/monMultiSignal.h"
#include "waveform/monSignalControl.h"
#include "waveform/monWaveDemo.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QMouseEvent>
#include <QPainter>

#include <cstdio>
#include <cstdlib>
#include <functional>

using namespace qz;

namespace {

struct Shot {
    const char* File;
    bool Neutral;
    int ComboIndex;
    QSize Size;
    std::function<void(TWMultiSignal&)> Prepare;
};

// A click as the operator makes it, with the modifier keys of a mode.
void Click(TWMultiSignal& w, QPoint pos, Qt::MouseButton b, Qt::KeyboardModifiers mods) {
    const QPointF p(pos), g(w.mapToGlobal(pos));
    QMouseEvent move(QEvent::MouseMove, p, g, Qt::NoButton, Qt::NoButton, mods);
    QApplication::sendEvent(&w, &move);
    QMouseEvent press(QEvent::MouseButtonPress, p, g, b, b, mods);
    QApplication::sendEvent(&w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, p, g, b, Qt::NoButton, mods);
    QApplication::sendEvent(&w, &release);
}

// The window with its caption above, as a title bar would show it.
QImage WithCaption(TWMultiSignal& w) {
    const QImage body = w.grab().toImage();
    QImage img(body.width(), body.height() + 20, QImage::Format_RGB32);
    img.fill(QColor(0xD8, 0xD8, 0xE0));
    QPainter p(&img);
    p.setPen(Qt::black);
    p.drawText(QRect(6, 0, img.width() - 12, 20), Qt::AlignVCenter | Qt::AlignLeft,
               w.windowTitle());
    p.drawImage(0, 20, body);
    return img;
}

bool TakeShot(const Shot& s, const QString& folder) {
    TWMultiSignal::ForgetSavedState();
    QWidget owner;
    TmonSignalControl control(s.Neutral);
    TWMultiSignal w(&owner, control.Experiment(), s.Neutral);
    control.Open(w);
    w.resize(s.Size);
    w.CBoxPointCount->setCurrentIndex(s.ComboIndex);
    TmonStorage st;
    st.Settings.VoltageRatio = 3.8105099f;
    st.Settings.NominalCurrent = 5.0f;
    const uint8_t mask = control.Experiment()->ChannelMask.load();
    const uint8_t code = control.Experiment()->SizeCode.load();
    const auto block = DemoSignalBlock(s.Neutral, mask, SampleCountOfCode(code), 10900, 4600);
    st.SignalData = block.data();
    st.SignalSize = int32_t(block.size());
    control.OnSignalData(w, st, mask, code, false);
    if (s.Prepare) s.Prepare(w);
    w.FormRis();
    QCoreApplication::processEvents();
    const QString file = folder + "/" + s.File;
    if (!WithCaption(w).save(file)) {
        std::fprintf(stderr, "cannot write %s\n", file.toLocal8Bit().constData());
        return false;
    }
    std::printf("%s  zoom %d\n", file.toLocal8Bit().constData(), w.Zoom());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    const Shot shots[] = {
        {"waveform-64-zoom6.png", true, 1, QSize(404, 242), nullptr},
        {"waveform-256-zoom3-panel.png", true, 3, QSize(900, 420),
         [](TWMultiSignal& w) {
             w.BOptClick();
             w.CBNodes->setChecked(true);
         }},
        {"waveform-512-zoom1.png", false, 4, QSize(560, 300), nullptr},
        {"waveform-512-zoom-2-bars.png", false, 4, QSize(240, 260), nullptr},
        {"waveform-current-scale-magnified.png", true, 2, QSize(640, 360),
         [](TWMultiSignal& w) {
             // Shift: current range; three left clicks magnify around the pointer.
             for (int i = 0; i < 3; ++i)
                 Click(w, QPoint(300, 120), Qt::LeftButton, Qt::ShiftModifier);
             Click(w, QPoint(300, 120), Qt::LeftButton, Qt::AltModifier); // zoom in
             w.ApplyShiftState(Qt::NoModifier);
         }},
        {"waveform-voltage-scale-magnified.png", false, 1, QSize(500, 320),
         [](TWMultiSignal& w) {
             for (int i = 0; i < 8; ++i)
                 Click(w, QPoint(200, 100), Qt::LeftButton, Qt::ControlModifier);
             w.ApplyShiftState(Qt::NoModifier);
         }},
    };
    bool ok = true;
    for (const Shot& s : shots)
        ok = TakeShot(s, folder) && ok;
    return ok ? 0 : 1;
}
