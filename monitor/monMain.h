// The main window of the monitor: choice of the meter, Start/Stop of the polling and
// waveform threads, the value labels, the harmonic spectrum and the harmonics grid.
#pragma once

#include "connection/CcnConnectionClasses.h"
#include "connection/CcnConnectionList.h"
#include "exchange/monExchangeThreads.h"
#include "monitor/monCallQueue.h"
#include "monitor/monConnectionKeeper.h"
#include "monitor/monExchange.h"
#include "monitor/monExchangeSession.h"
#include "monitor/monFormat.h"
#include "monitor/monMainForm.h"
#include "monitor/monMessages.h"
#include "monitor/monProgress.h"
#include "settings/monIniFile.h"
#include "trends/monTrendSource.h"
#include "waveform/monWaveformViewIntf.h"

#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QKeyEvent;
class QMenu;
class QSocketNotifier;
class QTimer;

namespace qz {

class TmonRecording;
class TmonTrendsWindow;

extern const char* const kmonAppTitle; // "Монитор Каврен-QZ2"
extern const char* const kmonMsgNoDevice;
extern const char* const kmonMsgExchangeError;
extern const char* const kmonMsgNoWaveforms;
extern const char* const kmonMsgConnectionObject;
extern const char* const kmonMsgSaved;    // "Сохранено: " before the file's name
extern const char* const kmonMsgNotSaved; // "Не удалось сохранить"
extern const char* const kmonMsgCloseWhileRecording;
extern const char* const kmonTraceMark; // the status label's mark while the line is traced
// The exchange's error on one line, as the status label tells it: "Ошибка обмена с
// измерителем: " and `text`.
std::string ExchangeErrorLine(const std::string& text);
// How long the status label keeps the note of a save.
constexpr int kmonStatusNoteMs = 15000;

// What the window is built with; everything has a real default.
struct TmonFormOptions {
    std::unique_ptr<TmonIniFile> Settings;  // default: the user's settings file
    TmonExchangeFactory Exchange;           // the threads (MakeRealExchangeFactory)
    std::unique_ptr<ImonMessages> Messages; // default: message boxes
    // The connection-list dialog: true when the operator chose ("Выбрать"), the chosen
    // identifier (or -1) in `selectedID`. Not set: the button only stores the list.
    std::function<bool(QWidget* owner, TccnConnectionList& list,
                       const TccnConnectionListUIOptions& options, int32_t& selectedID)>
        ConnectionDialog;
    // Creates the waveform window for the current meter. Not set: "Сигнал" shows nothing.
    TmonWaveformFactory WaveformFactory;
    // Opens a recording journal for "Открыть запись…" of the trends window. Not set: opening a
    // file there ends with the message that this build cannot.
    TTrendFileOpener TrendOpener = nullptr;
    // What writes a journal's protocol for the trends window's "Протокол…" (null: none).
    TTrendProtocolWriter TrendProtocolWriter = nullptr;
    // The user's formats; defaults from the system locale.
    std::optional<TmonFormatContext> Format;
    // Where "Сохранить" writes; empty: the user's documents folder.
    std::string DocumentsFolder;
    // The process's line messages (monLineLog() when not set): the connect's progress, and
    // the trace of "Трассировка линии".
    TmonLineLog* LineLog = nullptr;
};

class TForm1 : public QWidget, private IExchangeListener {
    Q_OBJECT
public:
    explicit TForm1(TmonFormOptions options = TmonFormOptions());
    ~TForm1() override;

    // Selects a meter given on the command line (owned by the window) and starts polling
    // when asked to.
    void ConnectFromCommandLine(int modelIndex, int32_t factoryNumber, uint8_t comPort, bool start);
    // Selects a connection the window owns from now on (the demo's simulator).
    void UseOwnedConnection(std::unique_ptr<TccnConnection> connection, bool start);
    void SelectConnection(TccnConnection* c);

    void BStartClick();
    void BDevicesClick();
    void SaveMeasurements();
    // Stops the threads and waits for them; runs when the window closes.
    void FormClose();

    // State read by tests and the screenshots.
    bool Running() const { return FExchange.Running(); }
    bool MainStopping() const { return FExchange.MainStopping(); }
    TccnConnection* CurrentConnection() const { return FConnection; }
    const TmonStorage& ShownStorage() const { return FShown; }
    const QString& BaseCaption() const { return FBaseCaption; }
    int SpectrumLevel() const { return FLevel; }
    const TmonSpectrumScale& SpectrumScale() const { return FScale; }
    const QImage& SpectrumImage() const;
    TmonSharedStorage& SharedStorage() { return FStorage; }
    TmonIniFile& Settings() { return *FSettings; }
    // The stored list did not load, and its value stays in the settings file until the
    // operator saves a list through the dialog.
    bool StoredListKept() const { return FList.StoredListKept(); }
    const std::string& ListBackupFile() const { return FList.BackupFile(); }
    // The path of the last CSV file written ("" before any).
    const std::string& LastSavedFile() const { return FLastSavedFile; }

    // The journal of "Запись": being written, or the last one written ("" before any).
    std::string RecordingFile() const;
    bool Recording() const;
    int64_t RecordingRecords() const;

    // "Тренды": opens the trends window of the records shown, or raises it.
    void ShowTrends();
    // The trends window (null until first opened) and the records it is given.
    TmonTrendsWindow* TrendsWindow() const { return FTrends.get(); }
    const TmonTrendMemorySource& TrendSource() const { return *FTrendSource; }
    // The window's context menu, shown on a right click.
    QMenu* ContextMenu() const { return C.ContextMenu; }
    // The form's controls.
    const TmonFormControls& Controls() const { return C; }

    // "Трассировка линии": starts or stops a trace file of the line.
    void SetLineTrace(bool on);
    // "Возобновлять опрос после ошибок": taken by the polls started from now on.
    bool Resuming() const { return FExchange.Reconnect().Enabled; }
    // The status label shows an outage and counts down to the next attempt.
    bool InOutage() const { return !FOutageText.isEmpty(); }
    bool LineTracing() const;
    // The trace file the window started last ("" before any).
    const std::string& LineTraceFile() const { return FLineTraceFile; }

    // Runs after each record was shown, with the number of records shown so far.
    std::function<void(int)> OnRecordShown;

    // The harmonic under a click on the spectrum at x moves the grid to its row.
    void Image1MouseDown(int x);
    void BIncClick();
    void BDecClick();
    void ShowMeasurements();
    void DrawSpectrum();

protected:
    void closeEvent(QCloseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* obj, QEvent* e) override;

private:
    // IExchangeListener: called on an exchange thread, handled on the window's thread while
    // that thread waits.
    void OnData3sec() override;
    void OnExchangeEnd(int32_t errorCode, int32_t deviceStatus) override;
    void OnSignalData(uint8_t channelMask, uint8_t sizeCode) override;
    void OnSignalEnd(int32_t errorCode, int32_t deviceStatus) override;
    void OnOutage(int32_t errorCode, int32_t deviceStatus, uint32_t retryMs) override;
    void RunOnWindowThread(const std::function<void()>& f) { FCalls.Run(f); }
    // Queues f for the window's thread without waiting (the channel worker's messages).
    void PostToWindowThread(std::function<void()> f) { FCalls.Post(std::move(f)); }
    // Handles the calls the exchange threads queued.
    void DrainCalls() { FCalls.Drain(); }
    // The window is closing: it handles nothing more and starts no thread.
    bool Closing() const { return FCalls.Closed(); }
    // The progress label from the line's last connect stage, and its tooltip.
    void ShowLineProgress();
    void ShowLinkStatistics();
    // The status label under the powers (LProgress): the connect's progress or the poll's
    // end; a note of the operator's last action, shown for a while; the journal being
    // written; the trace's mark. Each setter redraws the label from all of them.
    void SetProgressText(const QString& text, bool connecting);
    void SetStatusNote(const QString& text, const QString& tip);
    void RefreshStatus();
    std::string LineTraceFileShown() const;
    // The outage's error and "Повтор через N с", the error cut short to keep it all in the label.
    QString OutageCountdownText(const QString& error, int seconds) const;

    void HandleData3sec();
    void HandleExchangeEnd(int32_t errorCode, int32_t deviceStatus);
    void HandleSignalData(uint8_t channelMask, uint8_t sizeCode);
    void HandleSignalEnd(int32_t errorCode, int32_t deviceStatus);
    // "Возобновлять опрос после ошибок": the error in the status label with the seconds to
    // the next attempt, the outage in the journal; no box.
    void HandleOutage(int32_t errorCode, int32_t deviceStatus, uint32_t retryMs);
    void EndOutage();
    void SetResume(bool on);

    void ConnectHandlers();
    void FormCreate();
    // The stored list and the selection; the operator is told of a list that did not load.
    void LoadConnections();
    void RestoreToggles();
    // SelectConnection, a refused device told to the operator and none selected instead.
    void SelectOrTell(TccnConnection* c);
    void UpdateConnectionControls();
    void UpdateControlStates();
    void StartMainExchange();
    void StopMainExchange();
    void StartSignalExchange();
    void StopSignalExchange();
    void ChkViewSinusClick();
    void ToggleViewSinus();
    void ShowPowers();
    void FillHarmonicsGrid();
    void ComboBox2Change();
    void ScrollBar1Change();
    void ComputeScale();
    // Joins the threads whose end was handled once they have returned.
    void ScheduleReap(int delayMs);
    void WaitForAllThreads();
    void SaveSettingsFile();
    // Puts the window with its frame in the middle of its screen.
    void CentreOnScreen();
    // After the dialog: stores the list unless the damaged stored value is still to be kept.
    void StoreConnectionsAfterDialog(const std::string& before);
    void ShowMessage(const char* caption, TmonMessageIcon icon, const std::string& text);
    // "Запись": a journal is open while the toggle is on and the meter is polled.
    void ChkRecordClick();
    void UpdateRecording();
    void HandleRecordingFailure(const std::string& fileName, const std::string& text);
    // The trends of a new poll: those of the previous one stay when it polled the same meter.
    void PrepareTrendsForPoll();
    // The documents folder: the one given for tests, else the desktop's.
    std::string DocumentsFolder() const;
    void AppendTrendSample();
    // The window's keys: the spectrum's scroll and scale on a press, F2, F3 and F4 on release.
    void FormKeyDown(QKeyEvent* k);
    // True when the key was the window's (F2, F3, F4): it goes no further.
    bool FormKeyUp(QKeyEvent* k);
    // Whether the current meter is an "(A)" model (the waveform window's voltage factor).
    bool CurrentModelIsA() const;

    TmonFormOptions FOpt;
    TmonFormatContext FFormat;
    TmonSharedStorage FStorage;
    TmonStorage FShown; // the copy the labels, grid, spectrum and CSV file are made from
    std::unique_ptr<TmonIniFile> FSettings;
    TmonConnectionKeeper FList;
    TccnConnection* FConnection = nullptr;
    std::unique_ptr<TccnConnection> FOwnedConnection;
    int32_t FSelectedID = kNoSelectedID;
    TccnConnectionListUIOptions FDialogOptions;
    TmonCallQueue FCalls; // before the threads, which call through it until they end
    QSocketNotifier* FWakeNotifier = nullptr;
    std::unique_ptr<TmonRecording> FRecording; // the listener the exchange threads are given
    TmonExchangeSession FExchange;
    std::unique_ptr<ImonWaveformView> FWaveform;
    // The records shown, for the trends window; the window goes before the samples it reads.
    std::unique_ptr<TmonTrendMemorySource> FTrendSource;
    std::string FTrendMeter; // the meter whose records FTrendSource holds
    std::unique_ptr<TmonTrendsWindow> FTrends;
    TmonLineLog* FLineLog = nullptr;
    std::shared_ptr<TLCATrace> FOwnTrace; // the trace this window started
    std::string FLineTraceFile;
    QTimer* FProgressTimer = nullptr;
    QString FProgressText;
    bool FProgressConnecting = false;
    QString FNote, FNoteTip;
    QTimer* FNoteTimer = nullptr;
    QString FLinkTip;
    QString FOutageText;   // the error of the outage the poll waits out ("" when none)
    QString FOutageDetail; // why its serial port cannot be opened, for the tip ("" when known not)
    std::chrono::steady_clock::time_point FRetryAt;
    QTimer* FRetryTimer = nullptr; // counts the seconds down in the label
    bool FPollResumes = false;     // the running poll was started to wait out its errors
    bool FClosed = false;
    QString FBaseCaption;
    std::string FLastSavedFile;
    int FRecordsShown = 0;
    bool FStartingUp = false;
    bool FCentred = false; // centred once its frame was known

    // spectrum state
    int FLevel = 1;
    int FBarStep = 11;
    TmonSpectrumScale FScale;
    QFont FSpectrumFont;
    TmonFormIcons FIcons;
    TmonFormControls C{}; // the form's controls, named as in the form
};

} // namespace qz
