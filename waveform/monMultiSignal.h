// The waveform window: coloured traces of the phase voltages and currents over a zero line and
// optional voltage and current grids, with zoom, pan, range clicks and a readout under the
// pointer in the caption.
#pragma once

#include "sigcalc/sigcalc.h"
#include "waveform/monSignalControl.h"
#include "waveform/monWaveMath.h"

#include <QEvent>
#include <QImage>
#include <QWidget>

#include <cstdint>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QScrollBar;
class QSlider;
class QTimer;

namespace qz {

// Window messages the waveform window accepts (as events of TmsMessageEvent).
enum TmsMessage : int {
    WM_MS_SETQUANT = 0x818F,
    WM_MS_TIMERON = 0x8190,
    WM_MS_TIMERRESET = 0x8191,
    WM_MS_TIMEROFF = 0x8192,
    WM_MS_COMMAND = 0x8193,
    WM_MS_VIEWCHANGED = 0x8196,
};

// A window message: its number and parameters. WM_MS_VIEWCHANGED carries the sender's zoom
// and track bar by value instead of by address.
class TmsMessageEvent : public QEvent {
public:
    static QEvent::Type EventType();
    TmsMessageEvent(int msg, intptr_t wParam = 0, intptr_t lParam = 0)
        : QEvent(EventType()), Msg(msg), WParam(wParam), LParam(lParam) {}
    int Msg;
    intptr_t WParam;
    intptr_t LParam;
    int Zoom = 1;
    int Position = 1;
    int PageSize = 10;
    int Max = 1;
};

// Mouse mode, chosen by the modifier keys.
enum class TmsMode { Pan, HorizontalZoom, VoltageRange, CurrentRange, Select };

class TWMultiSignal : public QWidget, public ImsSignalWindow {
    Q_OBJECT
public:
    TWMultiSignal(QWidget* owner, TSigExperiment* exp, bool hasNeutral);
    ~TWMultiSignal() override;

    // ImsSignalWindow
    void SetFullScales(int uFullScale, int iFullScale) override;
    void RemovePointCountItem(int index) override;
    void SetQuantCount(int quantCount) override;
    void SetZoom(int zoom) override;
    void ShowWindow() override;
    void Schet() override;
    void FormResize() override;
    void SetScales(double voltage, double current) override;
    void FormRis() override;
    bool ItemChecked(int item) const override;
    std::string BusyCaption() const override;
    void SetBusyCaption(const std::string& caption) override;
    double UCoef() const override { return FUCoef; }
    double ICoef() const override { return FICoef; }

    void CBoxPointCountChange();
    void GridCompute_U();
    void GridCompute_I();
    // Follows the modifier keys: mode and cursor.
    void ApplyShiftState(Qt::KeyboardModifiers mods);
    // Copies the plot (or `rect` of it, when valid) to the clipboard.
    void CopyGraphics(const QRect& rect = QRect());
    // Shows or hides the options panel (the ">>" / "<<" button).
    void BOptClick();

    // Called when the window is asked to close (close button, Esc): the owner switches the
    // display off and frees the window. Unset, the window stays.
    std::function<void()> OnCloseRequest;

    // State, for the owner, tests and the screenshots.
    TSigExperiment* Exp() const { return FExp; }
    bool HasNeutral() const { return FHasNeutral; }
    const TmsView& View() const { return FView; }
    int Zoom() const { return FView.Zoom; }
    int QuantCount() const { return FView.QuantCount; }
    int VertOffset() const;
    int UFullScale() const { return FUFullScale; }
    int IFullScale() const { return FIFullScale; }
    double UGridStep() const { return FUGridStep; }
    double IGridStep() const { return FIGridStep; }
    TmsMode Mode() const { return FMode; }
    // Colours as 0x00BBGGRR: the window (and list), the marks and the selection frame (its
    // inverse), the grid.
    uint32_t WindowColour() const { return FWindowColour; }
    uint32_t MarkColour() const { return FMarkColour; }
    uint32_t GridColour() const { return FGridColour; }
    bool Dragging() const { return FDragging || FSelecting; }
    const QImage& Picture() const { return FPicture; }
    int ViewChangedPosted() const { return FViewChangedPosted; }
    // Forgets what earlier windows of this run kept (tests start from a first window).
    static void ForgetSavedState();

    // Controls, named as in the form.
    QWidget* Panel2;
    QListWidget* ChanelList;
    QLabel* Label1;
    QComboBox* CBoxPointCount;
    QCheckBox* CBNodes;
    QCheckBox* CBScaleU;
    QCheckBox* CBScaleI;
    QWidget* StatusStrip;
    QLabel* Label4;
    QPushButton* BOpt;
    QScrollBar* ScrollBar1;
    QSlider* TrackBar1;
    QTimer* Timer1;

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* obj, QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    void BuildForm();
    void LayoutControls();
    void LayoutPanel();
    void FormShow();
    void FormDestroy();
    void FormPaint();
    void FormMouseMove(int x, int y, Qt::KeyboardModifiers mods);
    void ChanelListChange();
    void ScaleClick(QCheckBox* which);
    void ScrollBar1Change();
    void TrackBar1Change();
    void SetPosition(int position);
    void SyncTrackBar();
    void PostViewChanged();
    void RequestClose();
    void HandleMessage(const TmsMessageEvent& m);
    void SetWindowColour(uint32_t colour);
    void HandleKey(QKeyEvent* e, bool press);
    void ShowCopyMenu(const QPoint& globalPos, const QRect& rect);
    QString ZoomCaption() const;
    void DrawGrid(class QPainter& p, bool voltage, int& labelWidth);
    void DrawChannel(class QPainter& p, const TSigChannel& ch, int H, int vo);

    TSigExperiment* FExp;
    bool FHasNeutral;
    TmsView FView;
    int FUFullScale = 0;
    int FIFullScale = 0;
    double FUCoef = 0;
    double FICoef = 0;
    double FUGridStep = 20.0;
    double FIGridStep = 20.0;
    QImage FPicture;
    TmsMode FMode = TmsMode::Pan;
    uint32_t FWindowColour = 0xFFFFFF;
    uint32_t FMarkColour = 0x000000;
    uint32_t FGridColour = 0x808080;
    bool FDragging = false;
    bool FSelecting = false;
    int FDragX = 0, FDragY = 0;
    QRect FSelection;
    bool FInViewChanged = false;
    bool FShownOnce = false;
    int FViewChangedPosted = 0;
};

} // namespace qz
