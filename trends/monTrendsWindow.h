// The trends window ("Тренды"): the chosen quantities against time from a recording, following
// new records live. The arithmetic is in monTrendMath; this file only gathers the operator's
// choices, paints the plot model and handles the mouse and keys.
#pragma once

#include "trends/monTrendMath.h"
#include "trends/monTrendSource.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;
class QTimer;

namespace qz {

// Paints a plot model over the spectrum's grey ground: panes with their value axes and limit
// lines, the time axis, the decimated trends.
void PaintTrends(QPainter& p, const TTrendPlotModel& m, char decimalSeparator);
QImage RenderTrends(const TTrendPlotModel& m, char decimalSeparator);

// Writes a picture as a PNG file. False with a text for the operator when it cannot be written.
bool SaveTrendImage(const QImage& image, const QString& path, std::string& error);

// The user's date and time patterns and decimal separator from the desktop's locale.
TTrendTimeFormat SystemTrendTimeFormat();
char SystemDecimalSeparator();

class TmonTrendPlot;

class TmonTrendsWindow : public QWidget {
    Q_OBJECT
public:
    explicit TmonTrendsWindow(QWidget* parent = nullptr);
    ~TmonTrendsWindow() override;

    // The samples to show: not owned, it must outlive the window or be replaced first. The
    // whole range is shown; new samples are taken on SamplesAppended() and once a second.
    void SetSource(ITrendSource* source);
    ITrendSource* Source() const { return FSource; }
    // The samples of the poll that runs (not owned, as SetSource): "Текущий опрос" comes back
    // to them from a journal file. While they are shown, a new live source replaces them.
    void SetLiveSource(ITrendSource* source);
    // Leaves a journal file (or its reading) for the live samples; OnLive runs then.
    void ShowLive();
    bool ShowingLive() const { return FLive && FSource == FLive; }
    std::function<void()> OnLive;
    // Opens a journal file through the file opener on a thread of its own and shows it when it
    // is read (owned by the window); meanwhile the window shows how far the reading has come
    // and stays usable. A failure keeps what was shown and tells the operator ("Ошибка").
    // Opening another file, Esc or closing the window abandons a reading in progress.
    void OpenFile(const std::string& path);
    bool Opening() const { return FLoad != nullptr; }
    void CancelOpen();
    // What opens journal files (null: this build cannot, and opening one says so).
    void SetFileOpener(TTrendFileOpener opener) { FOpener = opener; }
    // What writes the protocol of a journal (null: "Протокол…" stays off).
    void SetProtocolWriter(TTrendProtocolWriter writer);
    // Where "Открыть запись…" starts looking: the folder the recordings go to.
    void SetJournalFolder(const std::string& folder) { FJournalFolder = folder; }
    // The progress of an opening, or what became of the last one ("" when nothing to say).
    QString StatusText() const;
    // The source's notice shown under the plot (a journal not finished); "" for none.
    QString NoticeText() const;
    // The meter's settings: the limit lines and whether the N channel quantities are offered.
    void SetSettings(const TmonSettings& s);
    const TmonSettings& Settings() const { return FSettings; }

    // Takes the samples appended to the source since the last call and moves the view along.
    void SamplesAppended();

    // The chosen quantities, in the order of the list.
    std::vector<int> CheckedQuantities() const;
    void SetChecked(int quantity, bool checked);
    // The operator's choice, the N channel's quantities included while a meter without them
    // hides them; set from the settings, reported on every change.
    const std::vector<int>& ChosenQuantities() const { return FChosen; }
    void SetChosenQuantities(const std::vector<int>& quantities);
    std::function<void(const std::vector<int>&)> OnQuantitiesChanged;

    // The time axis.
    TTrendTimeRange Range() const { return FRange; }
    void SetRange(const TTrendTimeRange& r);
    void ShowWhole();
    void ZoomAt(double factor, TDateTime anchor);
    void Pan(double deltaDays);

    // The readout of the sample nearest to `t`: its time and the chosen values; inside an
    // outage of the source, the outage's times and text instead; "" with no data.
    std::string ReadoutAt(TDateTime t) const;
    // The readout shown under the plot now (follows the pointer).
    QString ReadoutText() const;
    // The time at a pixel column of the plot widget.
    TDateTime TimeAtPlotX(int x) const;
    int PlotXOfTime(TDateTime t) const;
    TmonTrendPlot* Plot() const { return FPlot; }

    // A span chosen with Shift and the mouse: its statistics for each chosen quantity (min,
    // max, mean, upper 95 %, T1/T2 against the limit lines) under the plot. An empty span
    // clears it.
    void SelectSpan(TDateTime from, TDateTime to);
    QString SpanStatsText() const;
    // A second cursor fixed with Ctrl and a click: the readout adds Δt and Δvalue from it to the
    // pointer. NaN removes it.
    void SetFixedCursor(TDateTime t);

    // The picture as "Копировать графику" and saving give it.
    QImage PlotImage() const;
    void CopyGraphics();
    // Asks for a file name and saves the picture.
    void SavePicture();

    size_t SampleCount() const { return FSamples.size(); }
    // The source's outages placed among the samples shown.
    const std::vector<TTrendBand>& OutageBands() const { return FGaps.Bands; }
    const std::vector<TTrendSample>& Samples() const { return FSamples; }

    // The journal file shown ("" for a live source or nothing).
    const std::string& ShownFile() const { return FShownFile; }
    // "Протокол…": the power-quality protocol of the journal shown, over the shown span, as a
    // PDF written on a thread of its own while the status line shows how far it has come, then
    // opened in the desktop's viewer. Needs a journal shown and a protocol writer.
    void WriteProtocol(const std::string& pdf);
    bool WritingProtocol() const { return FProtocol != nullptr; }
    // Where the protocol goes ("" to give up); a save dialog unless a test replaces it.
    std::function<std::string(const std::string& suggested)> ChooseProtocolFile;
    // Shows a written protocol; the desktop's viewer unless a test replaces it.
    std::function<void(const std::string& pdf)> OpenDocument;

    // How the window tells the operator of a failure; a message box unless a test replaces it.
    std::function<void(const std::string& caption, const std::string& text)> OnError;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    friend class TmonTrendPlot;
    void CheckLoad();
    void KeepOnScreen();
    void ShowSource(std::unique_ptr<ITrendSource> source);
    void FillList();
    void Reload();
    void UpdateCaption();
    bool TakeOutages();
    void ShowNotice();
    TTrendViewLimits Limits() const;
    const TTrendPlotModel& Model(int width, int height) const;
    void Invalidate();
    void PointerAt(int x);
    void ReportError(const std::string& text);
    void CheckProtocol();
    void UpdateProtocolButton();

    ITrendSource* FSource = nullptr;
    std::unique_ptr<ITrendSource> FOwned;
    TmonSettings FSettings;
    std::vector<TTrendSample> FSamples;
    std::vector<TTrendOutage> FOutages;
    TTrendGaps FGaps; // what breaks the lines: long steps and FOutages' bands
    size_t FRead = 0; // the source's position after the newest sample taken
    std::unique_ptr<TmonTrendFileLoad> FLoad;
    QTimer* FLoadTimer = nullptr;
    QLabel* FStatus = nullptr;
    std::string FJournalFolder;
    TTrendFileOpener FOpener = nullptr;
    TTrendProtocolWriter FProtocolWriter = nullptr;
    std::string FShownFile;
    struct TProtocolJob;
    std::unique_ptr<TProtocolJob> FProtocol;
    QTimer* FProtocolTimer = nullptr;
    QPushButton* FProtocolButton = nullptr;
    ITrendSource* FLive = nullptr;
    QPushButton* FLiveButton = nullptr;
    std::vector<int> FChosen{tqUA, tqUB, tqUC};
    void UpdateLiveButton();
    void ListChanged();
    bool FPlaced = false;
    TTrendTimeRange FRange;
    TTrendTimeFormat FFormat;
    char FSeparator = ',';
    QListWidget* FList = nullptr;
    TmonTrendPlot* FPlot = nullptr;
    QLabel* FReadout = nullptr;
    QLabel* FSpanStats = nullptr;
    QLabel* FNotice = nullptr;
    TDateTime FSpanFrom = 0, FSpanTo = 0; // equal: no span
    TDateTime FFixedCursor;               // NaN: none
    QTimer* FFollow = nullptr;
    int FPointerX = -1;
    mutable TTrendPlotModel FModel;
    mutable bool FModelValid = false;
};

// The painted plot; the window's keys work here too.
class TmonTrendPlot : public QWidget {
    Q_OBJECT
public:
    explicit TmonTrendPlot(TmonTrendsWindow* owner);
    TTrendPlotLayout Layout() const;

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void wheelEvent(QWheelEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent*) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    TmonTrendsWindow* FOwner;
    bool FDragging = false;
    bool FSelecting = false;
    TDateTime FSelectFrom = 0;
    int FDragX = 0;
    TTrendTimeRange FDragRange;
};

} // namespace qz
