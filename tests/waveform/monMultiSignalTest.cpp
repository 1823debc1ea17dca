#include "WaveQtEnv.h"

#include "waveform/monMultiSignal.h"
#include "waveform/monSignalControl.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTimer>

#include <cmath>
#include <memory>

using namespace qz;
using qz::test::Click;
using qz::test::DragMove;
using qz::test::SendMouse;
using qz::test::SendWheel;

namespace {

QColor Rgb(uint32_t bgr) {
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

// Counts the events of one type that reach a widget.
class EventCounter : public QObject {
public:
    int ViewChanged = 0;
    int F2Released = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == TmsMessageEvent::EventType() &&
            static_cast<TmsMessageEvent*>(e)->Msg == WM_MS_VIEWCHANGED)
            ++ViewChanged;
        if (e->type() == QEvent::KeyRelease && static_cast<QKeyEvent*>(e)->key() == Qt::Key_F2)
            ++F2Released;
        return false;
    }
};

struct WindowFixture : ::testing::Test {
    QWidget owner;
    EventCounter counter;
    std::unique_ptr<TmonSignalControl> control;
    std::unique_ptr<TWMultiSignal> w;
    int closeRequests = 0;

    void Open(bool neutral) {
        TWMultiSignal::ForgetSavedState();
        owner.installEventFilter(&counter);
        control = std::make_unique<TmonSignalControl>(neutral);
        w = std::make_unique<TWMultiSignal>(&owner, control->Experiment(), neutral);
        w->OnCloseRequest = [this] { ++closeRequests; };
        control->Open(*w);
    }
    void TearDown() override {
        w.reset();
        TWMultiSignal::ForgetSavedState();
    }
    TSigExperiment* Exp() { return control->Experiment(); }
    // Every sample of channel `item` at `stored` (32768 = zero); n samples.
    void Fill(int item, int n, int stored, uint8_t node = 0) {
        for (int i = 0; i < n; ++i)
            ChanelSett(Exp()->Channels[size_t(item)], uint32_t(i), stored, node);
        w->SetQuantCount(int(ExpGetQuantCount(Exp())));
        w->Schet();
    }
    int CountColour(const QColor& c, int fromRow = 0, int toRow = -1) {
        const QImage& img = w->Picture();
        if (toRow < 0) toRow = img.height() - 1;
        int n = 0;
        for (int y = std::max(0, fromRow); y <= std::min(toRow, img.height() - 1); ++y)
            for (int x = 0; x < img.width(); ++x)
                n += img.pixelColor(x, y) == c;
        return n;
    }
    void Flush() { QCoreApplication::processEvents(); }
    // The colour on row y or a neighbour (a 2-pixel pen covers two rows).
    bool RowNear(int x, int y, const QColor& c) {
        for (int r = y - 1; r <= y + 1; ++r)
            if (r >= 0 && r < w->Picture().height() && w->Picture().pixelColor(x, r) == c)
                return true;
        return false;
    }
};

} // namespace

TEST_F(WindowFixture, FormAsCreatedAndOptionsPanel) {
    Open(true);
    EXPECT_EQ(w->size(), QSize(404, 242));
    ASSERT_EQ(w->ChanelList->count(), 11);
    EXPECT_EQ(w->ChanelList->item(0)->text(), "0 Un");
    EXPECT_EQ(w->CBoxPointCount->count(), 4) << "\"512\" removed with neutral";
    EXPECT_EQ(w->CBoxPointCount->currentText(), "64");
    EXPECT_EQ(w->Zoom(), 6) << "FormResize after showing: 404 / 64";
    w->BOptClick();
    EXPECT_TRUE(w->Panel2->isVisible());
    EXPECT_EQ(w->BOpt->text(), "<<");
    EXPECT_EQ(w->ChanelList->height(), int(242 * 0.4));
    w->resize(404, 300);
    EXPECT_EQ(w->CBScaleI->y(), 300 - 16 - 26) << "the panel follows the size while shown";
    w->BOptClick();
    EXPECT_FALSE(w->Panel2->isVisible());
    EXPECT_EQ(w->BOpt->text(), ">>");
}

TEST_F(WindowFixture, ZoomFollowsWidthAndPointCount) {
    Open(false);
    w->resize(400, 242);
    EXPECT_EQ(w->Zoom(), 6);
    w->CBoxPointCount->setCurrentIndex(4); // 512
    EXPECT_EQ(Exp()->SizeCode.load(), 5) << "the next request asks for 512 samples";
    EXPECT_EQ(w->Zoom(), 1);
    w->resize(200, 242);
    EXPECT_EQ(w->Zoom(), -2);
    w->CBoxPointCount->setCurrentIndex(0);
    EXPECT_EQ(Exp()->SizeCode.load(), 1);
    EXPECT_EQ(w->Zoom(), 6);
}

TEST_F(WindowFixture, TraceRowsFollowTheMapping) {
    Open(true);
    Fill(1, 64, 32768 - 5000); // " Uа", yellow
    w->CBScaleU->setChecked(false);
    w->FormRis();
    const int H = PlotHeight(w->height());
    const int y = SampleToY(H, 0, 32768 - 5000, 2.0 * H / 111409);
    EXPECT_TRUE(RowNear(100, y, Rgb(0x00FFFF)));
    EXPECT_EQ(y, H - 5000 * 2 * H / 111409 - H / 2);
    EXPECT_LT(y, ZeroLineY(H, 0)) << "stored values below 32768 lie above the zero line";
    EXPECT_EQ(w->Picture().pixelColor(100, ZeroLineY(H, 0)), Rgb(0x808080));
    EXPECT_EQ(w->Picture().pixelColor(100, H), Rgb(0x0015DE)) << "bottom line";

    // The vertical offset moves trace and zero line alike.
    w->ScrollBar1->setValue(-20);
    EXPECT_EQ(w->VertOffset(), 20);
    EXPECT_TRUE(RowNear(100, y + 20, Rgb(0x00FFFF)));
    EXPECT_FALSE(RowNear(100, y, Rgb(0x00FFFF)));
    EXPECT_EQ(w->Picture().pixelColor(100, ZeroLineY(H, 20)), Rgb(0x808080));
}

TEST_F(WindowFixture, ChannelWithoutSamplesOrUncheckedIsSkipped) {
    Open(true);
    // Only " Uа" and " Ub" ticked, so no later channel can paint over " Ub".
    for (int i = 0; i < w->ChanelList->count(); ++i)
        w->ChanelList->item(i)->setCheckState(i == 1 || i == 2 ? Qt::Checked : Qt::Unchecked);
    Fill(1, 64, 32768 + 3000);
    w->FormRis();
    EXPECT_GT(CountColour(Rgb(0x00FFFF)), 50);
    EXPECT_EQ(CountColour(Rgb(0x00FF00)), 0) << "\" Ub\" is ticked but holds no samples";
    Fill(2, 64, 32768 - 3000);
    w->FormRis();
    EXPECT_GT(CountColour(Rgb(0x00FF00)), 50);
    w->ChanelList->item(2)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(CountColour(Rgb(0x00FF00)), 0);
}

TEST_F(WindowFixture, BothScalesOffLeaveOnlyZeroLineAndTraces) {
    Open(true);
    w->SetScales(1, 1);
    w->GridCompute_U();
    w->GridCompute_I();
    Fill(1, 64, 32768 + 3000);
    const int H = PlotHeight(w->height());
    const int y0 = ZeroLineY(H, 0);
    const QColor grey = Rgb(0x808080);
    // Scale U on: grid lines and labels away from the zero line.
    w->FormRis();
    EXPECT_GT(CountColour(grey, 0, y0 - 12), 30);
    // Both off: grey only on the zero line and its "0".
    w->CBScaleU->setChecked(false);
    w->CBScaleI->setChecked(false);
    w->FormRis();
    EXPECT_EQ(CountColour(grey, 0, y0 - 5), 0);
    EXPECT_EQ(CountColour(grey, y0 + 12, w->height()), 0);
    EXPECT_GT(CountColour(grey, y0, y0), w->width() / 2);
    EXPECT_GT(CountColour(Rgb(0x00FFFF)), 50) << "the trace is still drawn";
    // The axis title goes with its scale.
    w->CBScaleI->setChecked(true);
    w->FormRis();
    EXPECT_GT(CountColour(grey, 0, y0 - 12), 30);
}

TEST_F(WindowFixture, MinMaxBarsWhenSamplesOutnumberPixels) {
    Open(false);
    w->CBoxPointCount->setCurrentIndex(4); // 512 samples
    w->resize(200, 242);
    ASSERT_EQ(w->Zoom(), -2);
    for (int i = 0; i < 512; ++i)
        ChanelSett(Exp()->Channels[0], uint32_t(i), i % 2 ? 32768 + 9000 : 32768 - 9000, 0);
    w->SetQuantCount(512);
    w->Schet();
    w->CBScaleU->setChecked(false);
    w->FormRis();
    const int H = PlotHeight(w->height());
    const double s = 2.0 * H / 111409;
    const int top = SampleToY(H, 0, 32768 + 9000, s), bottom = SampleToY(H, 0, 32768 - 9000, s);
    ASSERT_NE(top, bottom);
    // Each column's bar covers both extremes and the rows between them.
    const int x = 50;
    for (int y = std::min(top, bottom) + 1; y < std::max(top, bottom); ++y)
        EXPECT_EQ(w->Picture().pixelColor(x, y), Rgb(0x00FFFF)) << y;
}

TEST_F(WindowFixture, NodeSquaresOnlyWithNodesTicked) {
    Open(true);
    Fill(1, 64, 32768, 1);
    w->CBScaleU->setChecked(false);
    w->FormRis();
    const int H = PlotHeight(w->height());
    const int y = ZeroLineY(H, 0);
    const int x = 6 * 5; // sample P + 6 at zoom 6
    EXPECT_NE(w->Picture().pixelColor(x - 2, y - 2), Rgb(0x00FFFF));
    w->CBNodes->setChecked(true);
    w->FormRis();
    EXPECT_EQ(w->Picture().pixelColor(x - 2, y - 2), Rgb(0x00FFFF));
    EXPECT_EQ(w->Picture().pixelColor(x + 2, y + 2), Rgb(0x00FFFF));
}

TEST_F(WindowFixture, ModifierKeysChooseModeCursorAndScale) {
    Open(true);
    const QPoint p(100, 100);
    SendMouse(w.get(), QEvent::MouseMove, p, Qt::NoButton, Qt::AltModifier);
    EXPECT_EQ(w->Mode(), TmsMode::HorizontalZoom);
    EXPECT_EQ(w->cursor().shape(), Qt::SizeHorCursor);
    SendMouse(w.get(), QEvent::MouseMove, p, Qt::NoButton, Qt::ShiftModifier);
    EXPECT_EQ(w->Mode(), TmsMode::CurrentRange);
    EXPECT_EQ(w->cursor().shape(), Qt::BitmapCursor);
    EXPECT_TRUE(w->CBScaleI->isChecked());
    EXPECT_FALSE(w->CBScaleU->isChecked());
    SendMouse(w.get(), QEvent::MouseMove, p, Qt::NoButton, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(w->Mode(), TmsMode::CurrentRange) << "other combinations change nothing";
    SendMouse(w.get(), QEvent::MouseMove, p, Qt::NoButton, Qt::ControlModifier);
    EXPECT_EQ(w->Mode(), TmsMode::VoltageRange);
    EXPECT_TRUE(w->CBScaleU->isChecked());
    EXPECT_FALSE(w->CBScaleI->isChecked());
    SendMouse(w.get(), QEvent::MouseMove, p, Qt::NoButton);
    EXPECT_EQ(w->Mode(), TmsMode::Pan);
    EXPECT_EQ(w->cursor().shape(), Qt::OpenHandCursor);
    // Keys alone switch modes too.
    QKeyEvent alt(QEvent::KeyPress, Qt::Key_Alt, Qt::NoModifier);
    QApplication::sendEvent(w.get(), &alt);
    EXPECT_EQ(w->Mode(), TmsMode::HorizontalZoom);
    QKeyEvent altUp(QEvent::KeyRelease, Qt::Key_Alt, Qt::AltModifier);
    QApplication::sendEvent(w.get(), &altUp);
    EXPECT_EQ(w->Mode(), TmsMode::Pan);
}

TEST_F(WindowFixture, HorizontalZoomClicksAndViewChangedMessage) {
    Open(false);
    w->CBoxPointCount->setCurrentIndex(4);
    w->resize(400, 242);
    Fill(0, 512, 32768);
    ASSERT_EQ(w->Zoom(), 1);
    Flush();
    const int before = counter.ViewChanged;
    Click(w.get(), QPoint(100, 50), Qt::RightButton, Qt::AltModifier);
    EXPECT_EQ(w->Zoom(), -2);
    EXPECT_TRUE(w->windowTitle().endsWith(QString::fromUtf8(" Масш.:-2")));
    Click(w.get(), QPoint(100, 50), Qt::LeftButton, Qt::AltModifier);
    EXPECT_EQ(w->Zoom(), 1);
    Click(w.get(), QPoint(100, 50), Qt::MiddleButton, Qt::AltModifier);
    EXPECT_EQ(w->Zoom(), -2) << "512 samples on 384 pixels: -2^(trunc(log2(1.33)) + 1)";
    Flush();
    EXPECT_EQ(counter.ViewChanged - before, 3);
}

TEST_F(WindowFixture, RangeClicksKeepLimits) {
    Open(true);
    w->SetFullScales(10, 196608);
    Click(w.get(), QPoint(100, 60), Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(w->UFullScale(), 10);
    Click(w.get(), QPoint(100, 60), Qt::RightButton, Qt::ShiftModifier);
    EXPECT_EQ(w->IFullScale(), 196608);
    Click(w.get(), QPoint(100, 60), Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(w->IFullScale(), 196608 - 19660);
    EXPECT_NE(w->ScrollBar1->value(), 0) << "the level under the pointer stays in place";
    Click(w.get(), QPoint(100, 60), Qt::RightButton, Qt::ControlModifier);
    EXPECT_EQ(w->UFullScale(), 11);
}

TEST_F(WindowFixture, WheelPansOnlyInPanMode) {
    Open(false);
    w->CBoxPointCount->setCurrentIndex(4);
    w->resize(200, 242); // zoom -2, 368 of 512 shown
    Fill(0, 512, 32768);
    const int p0 = w->View().Position;
    SendWheel(w.get(), QPoint(50, 50), -120);
    EXPECT_EQ(w->View().Position, p0 + 10);
    SendWheel(w.get(), QPoint(50, 50), 120);
    EXPECT_EQ(w->View().Position, p0);
    for (auto mods : {Qt::AltModifier, Qt::ControlModifier, Qt::ShiftModifier}) {
        SendMouse(w.get(), QEvent::MouseMove, QPoint(50, 50), Qt::NoButton, mods);
        SendWheel(w.get(), QPoint(50, 50), -120, mods);
        EXPECT_EQ(w->View().Position, p0);
    }
}

TEST_F(WindowFixture, PanDragMovesPositionAndOffset) {
    Open(true);
    Fill(1, 256, 32768); // zoom 6: 64 of 256 shown
    w->Schet();
    SendMouse(w.get(), QEvent::MouseMove, QPoint(200, 100), Qt::NoButton);
    SendMouse(w.get(), QEvent::MouseButtonPress, QPoint(200, 100), Qt::LeftButton);
    EXPECT_EQ(w->cursor().shape(), Qt::SizeAllCursor);
    const int p0 = w->View().Position;
    DragMove(w.get(), QPoint(188, 90), Qt::LeftButton);
    EXPECT_EQ(w->View().Position, p0 + 2) << "12 pixels at 6 per sample";
    EXPECT_EQ(w->ScrollBar1->value(), 10);
    SendMouse(w.get(), QEvent::MouseButtonRelease, QPoint(188, 90), Qt::LeftButton);
    EXPECT_EQ(w->cursor().shape(), Qt::OpenHandCursor);
}

// Modifier keys pressed during a pan do not change what the release does: the drag ends,
// and after it the window neither pans on plain moves nor takes a click as a range click.
TEST_F(WindowFixture, ADragEndsOnReleaseWhateverTheModifiersDid) {
    Open(true);
    Fill(1, 256, 32768);
    w->Schet();
    const int u0 = w->UFullScale(), i0 = w->IFullScale();
    for (auto mods : {Qt::ControlModifier, Qt::ShiftModifier, Qt::AltModifier}) {
        SendMouse(w.get(), QEvent::MouseMove, QPoint(200, 100), Qt::NoButton);
        SendMouse(w.get(), QEvent::MouseButtonPress, QPoint(200, 100), Qt::LeftButton);
        DragMove(w.get(), QPoint(190, 100), Qt::LeftButton, mods);
        QKeyEvent key(QEvent::KeyPress,
                      mods == Qt::ControlModifier ? Qt::Key_Control
                      : mods == Qt::ShiftModifier ? Qt::Key_Shift
                                                  : Qt::Key_Alt,
                      mods);
        QApplication::sendEvent(w.get(), &key);
        EXPECT_EQ(w->Mode(), TmsMode::Pan) << "the drag keeps its mode";
        SendMouse(w.get(), QEvent::MouseButtonRelease, QPoint(190, 100), Qt::LeftButton, mods);
        EXPECT_FALSE(w->Dragging()) << mods;
        EXPECT_NE(w->Mode(), TmsMode::Pan) << "the keys held now choose the mode";
        EXPECT_EQ(w->UFullScale(), u0) << "the release was no range click";
        EXPECT_EQ(w->IFullScale(), i0);
        SendMouse(w.get(), QEvent::MouseMove, QPoint(190, 100), Qt::NoButton); // keys let go
        const int p = w->View().Position;
        SendMouse(w.get(), QEvent::MouseMove, QPoint(100, 60), Qt::NoButton);
        EXPECT_EQ(w->View().Position, p) << "a move without a button does not pan";
        EXPECT_EQ(w->Mode(), TmsMode::Pan);
    }
    // A release the window never saw: the next move without a button ends the drag.
    SendMouse(w.get(), QEvent::MouseButtonPress, QPoint(200, 100), Qt::LeftButton);
    SendMouse(w.get(), QEvent::MouseMove, QPoint(150, 100), Qt::NoButton);
    EXPECT_FALSE(w->Dragging());
    Click(w.get(), QPoint(100, 60), Qt::LeftButton, Qt::ControlModifier);
    EXPECT_NE(w->UFullScale(), u0) << "a range click works again";
}

// Ctrl and Shift tick "Шкала U" and "Шкала I"; the picture shows the new grid at once.
TEST_F(WindowFixture, ScaleKeysRedrawAtOnce) {
    Open(true);
    w->resize(404, 242);
    w->CBScaleU->setChecked(false);
    w->CBScaleI->setChecked(true);
    w->FormRis();
    const QImage currentGrid = w->Picture().copy();
    QKeyEvent ctrl(QEvent::KeyPress, Qt::Key_Control, Qt::NoModifier);
    QApplication::sendEvent(w.get(), &ctrl);
    EXPECT_TRUE(w->CBScaleU->isChecked());
    EXPECT_NE(w->Picture(), currentGrid);
    const QImage afterKey = w->Picture().copy();
    w->FormRis();
    EXPECT_EQ(w->Picture(), afterKey) << "the picture after the key is the voltage grid's";
    QKeyEvent shift(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier);
    QApplication::sendEvent(w.get(), &shift);
    EXPECT_EQ(w->Picture(), currentGrid);
}

// New scale factors from a refill give new grid steps at once, without a resize.
TEST_F(WindowFixture, NewScaleFactorsRecomputeTheGrids) {
    Open(true);
    w->resize(404, 242);
    w->SetScales(3.81, 5);
    const double u0 = w->UGridStep(), i0 = w->IGridStep();
    EXPECT_DOUBLE_EQ(u0, GridStep(w->height(), w->UFullScale(), w->UCoef()));
    w->SetScales(100.0, 1000);
    EXPECT_DOUBLE_EQ(w->UGridStep(), GridStep(w->height(), w->UFullScale(), w->UCoef()));
    EXPECT_DOUBLE_EQ(w->IGridStep(), GridStep(w->height(), w->IFullScale(), w->ICoef()));
    EXPECT_NE(w->UGridStep(), u0);
    EXPECT_NE(w->IGridStep(), i0);
}

// Message 0x8193 with wParam 0: the window and the list take the experiment's colour, the
// marks its inverse.
TEST_F(WindowFixture, ColourMessageRecolours) {
    Open(false);
    w->resize(404, 242);
    EXPECT_EQ(w->WindowColour(), 0xFFFFFFu);
    Exp()->BackgroundColour = 0x00400000; // dark blue as 0x00BBGGRR
    TmsMessageEvent colours(WM_MS_COMMAND, 0);
    QApplication::sendEvent(w.get(), &colours);
    EXPECT_EQ(w->WindowColour(), 0x400000u);
    EXPECT_EQ(w->MarkColour(), 0xBFFFFFu);
    EXPECT_EQ(w->GridColour(), 0x808080u);
    const QColor blue(0, 0, 0x40);
    EXPECT_EQ(w->ChanelList->item(0)->background().color(), blue);
    EXPECT_EQ(w->Picture().pixelColor(2, w->height() - 5), blue) << "the strip under the plot";
    // A system colour (high byte set) is the window colour white again.
    Exp()->BackgroundColour = 0xFF000005;
    QApplication::sendEvent(w.get(), &colours);
    EXPECT_EQ(w->WindowColour(), 0xFFFFFFu);
    EXPECT_EQ(w->MarkColour(), 0x000000u);
}

TEST_F(WindowFixture, CaptionReadsValuesUnderThePointer) {
    Open(true);
    w->SetScales(1, 1);
    Fill(1, 64, 32768);
    const int H = PlotHeight(w->height());
    SendMouse(w.get(), QEvent::MouseMove, QPoint(61, ZeroLineY(H, 0)), Qt::NoButton);
    const QString t = w->windowTitle();
    const QString first = QString::fromStdString(Exp()->Channels[0]->Name).trimmed();
    ASSERT_FALSE(first.isEmpty());
    EXPECT_TRUE(t.startsWith(QString::fromUtf8(" Масш.:6   Канал ") + first + "   U:0"))
        << t.toStdString();
    EXPECT_TRUE(t.endsWith(QString::fromUtf8(" A   Отсчёт:") +
                           QString::number(61 / 6 + w->View().Position)))
        << t.toStdString();
    EXPECT_EQ(w->ChanelList->currentRow(), 0) << "item 0 is selected for the readout";
    SendMouse(w.get(), QEvent::MouseMove, QPoint(61, 0), Qt::NoButton);
    const double volts = std::nearbyint(111409.0 / H * (H / 2)) * w->UCoef();
    EXPECT_TRUE(w->windowTitle().contains(QLocale::system().toString(volts, 'f', 1)))
        << w->windowTitle().toStdString();
    // Another channel chosen in the list: the readout names it.
    ASSERT_GE(Exp()->Channels.size(), 2u);
    w->ChanelList->setCurrentRow(1);
    SendMouse(w.get(), QEvent::MouseMove, QPoint(61, 0), Qt::NoButton);
    const QString second = QString::fromStdString(Exp()->Channels[1]->Name).trimmed();
    EXPECT_NE(second, first);
    EXPECT_TRUE(w->windowTitle().contains(QString::fromUtf8("   Канал ") + second + "   U:"))
        << w->windowTitle().toStdString();
}

TEST_F(WindowFixture, LineVoltageAsksForItsPhases) {
    Open(true);
    for (int i = 0; i < w->ChanelList->count(); ++i)
        w->ChanelList->item(i)->setCheckState(i == 9 ? Qt::Checked : Qt::Unchecked);
    EXPECT_EQ(Exp()->ChannelMask.load(), (1 << 2) | (1 << 3));
    EXPECT_TRUE(w->ItemChecked(9));
    EXPECT_FALSE(w->ItemChecked(2)) << "the phases are asked for, not shown";
}

TEST_F(WindowFixture, EscAndCloseOnlyAskTheOwner) {
    Open(true);
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(w.get(), &esc);
    EXPECT_EQ(closeRequests, 1);
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->close());
    EXPECT_EQ(closeRequests, 2);
    EXPECT_TRUE(w->isVisible());
    // Esc in a control (key preview) does the same.
    QApplication::sendEvent(w->CBoxPointCount, &esc);
    EXPECT_EQ(closeRequests, 3);
}

TEST_F(WindowFixture, F2ReleaseGoesToTheOwner) {
    Open(true);
    QKeyEvent f2(QEvent::KeyRelease, Qt::Key_F2, Qt::NoModifier);
    QApplication::sendEvent(w.get(), &f2);
    Flush();
    EXPECT_EQ(counter.F2Released, 1);
    QKeyEvent f3(QEvent::KeyRelease, Qt::Key_F3, Qt::NoModifier);
    QApplication::sendEvent(w.get(), &f3);
    Flush();
    EXPECT_EQ(counter.F2Released, 1);
}

TEST_F(WindowFixture, StateKeptForTheNextWindow) {
    Open(true);
    w->CBScaleI->click(); // I on, U off
    w->CBNodes->setChecked(true);
    w->BOptClick();
    w->ChanelList->item(3)->setCheckState(Qt::Unchecked);
    w->ScrollBar1->setValue(33);
    w->SetFullScales(5000, 6000);
    const uint8_t mask = Exp()->ChannelMask.load();
    w.reset();
    control = std::make_unique<TmonSignalControl>(true);
    w = std::make_unique<TWMultiSignal>(&owner, control->Experiment(), true);
    control->Open(*w);
    EXPECT_TRUE(w->CBScaleI->isChecked());
    EXPECT_FALSE(w->CBScaleU->isChecked());
    EXPECT_TRUE(w->CBNodes->isChecked());
    EXPECT_TRUE(w->Panel2->isVisible());
    EXPECT_EQ(w->BOpt->text(), "<<");
    EXPECT_FALSE(w->ItemChecked(3));
    EXPECT_EQ(Exp()->ChannelMask.load(), mask);
    EXPECT_EQ(w->ScrollBar1->value(), 33);
    EXPECT_EQ(w->UFullScale(), 5000) << "the kept scale wins over the new window's";
    EXPECT_EQ(w->IFullScale(), 6000);
    EXPECT_EQ(w->QuantCount(), 0);

    // A window with another channel count keeps the ticks and mask of its own.
    w.reset();
    control = std::make_unique<TmonSignalControl>(false);
    w = std::make_unique<TWMultiSignal>(&owner, control->Experiment(), false);
    control->Open(*w);
    EXPECT_TRUE(w->ItemChecked(3));
    EXPECT_EQ(Exp()->ChannelMask.load(), 63);
}

TEST_F(WindowFixture, WindowMessages) {
    Open(false);
    Fill(0, 2000, 32768);
    w->SetQuantCount(0);
    Flush();
    TmsMessageEvent setQuant(WM_MS_SETQUANT);
    QApplication::sendEvent(w.get(), &setQuant);
    EXPECT_EQ(w->QuantCount(), 2000);
    EXPECT_EQ(w->TrackBar1->maximum(), 2000);
    EXPECT_EQ(w->View().Position, 2000);

    TmsMessageEvent reset(WM_MS_TIMERRESET);
    QApplication::sendEvent(w.get(), &reset);
    EXPECT_EQ(w->View().Position, 1);
    TmsMessageEvent on(WM_MS_TIMERON);
    QApplication::sendEvent(w.get(), &on);
    EXPECT_TRUE(w->Timer1->isActive());
    TmsMessageEvent off(WM_MS_TIMEROFF);
    QApplication::sendEvent(w.get(), &off);
    EXPECT_FALSE(w->Timer1->isActive());

    TmsMessageEvent show(WM_MS_COMMAND, 3, 500);
    QApplication::sendEvent(w.get(), &show);
    EXPECT_EQ(w->View().Position, 500 - 404 / 2 / 6);

    // A view change from elsewhere is taken over without being passed on.
    Flush();
    const int before = counter.ViewChanged;
    TmsMessageEvent vc(WM_MS_VIEWCHANGED);
    vc.Zoom = 2;
    vc.Position = 7;
    vc.PageSize = 4;
    vc.Max = 60;
    QApplication::sendEvent(w.get(), &vc);
    EXPECT_EQ(w->Zoom(), 2);
    EXPECT_EQ(w->View().Position, 7);
    Flush();
    EXPECT_EQ(counter.ViewChanged, before);

    Exp()->Caption = "exp";
    TmsMessageEvent cap(WM_MS_COMMAND, 5);
    QApplication::sendEvent(w.get(), &cap);
    EXPECT_EQ(w->windowTitle(), "exp");
}

TEST_F(WindowFixture, CopyGraphicsToClipboard) {
    Open(true);
    Fill(1, 64, 32768 + 2000);
    w->FormRis();
    w->CopyGraphics(QRect(10, 20, 30, 40));
    EXPECT_EQ(QApplication::clipboard()->image().size(), QSize(30, 40));
    w->CopyGraphics();
    EXPECT_EQ(QApplication::clipboard()->image().size(), QSize(404 - 16, 242 - 30));
}
