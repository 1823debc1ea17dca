// The main window of the monitor: choice of the meter, Start/Stop of the polling and
// waveform threads, the value labels, the harmonic spectrum and the harmonics grid.
#pragma once

#include "connection/CcnConnectionClasses.h"
#include "connection/CcnConnectionList.h"
#include "exchange/monExchangeThreads.h"
#include "monitor/monExchange.h"
#include "monitor/monFormat.h"
#include "monitor/monMessages.h"
#include "monitor/monProgress.h"
#include "settings/monIniFile.h"

#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QAction;
class QMenu;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QSocketNotifier;
class QTimer;
class QTableWidget;

namespace qz {

class TmonSpectrumImage;
class TmonGridHeader;
class TmonRecording;
class TmonTrendMemorySource;
class TmonTrendsWindow;

extern const char* const kmonAppTitle; // "Монитор Каврен-QZ2"
extern const char* const kmonMsgNoDevice;
extern const char* const kmonMsgExchangeError;
extern const char* const kmonMsgNoWaveforms;
extern const char* const kmonMsgConnectionObject;

// The start-up warning about a stored connection list that did not load: the settings file,
// why, and the file the stored value is copied to before a new list replaces it.
std::string ListNotLoadedText(const std::string& settingsFile, const std::string& reason,
                              const std::string& backupFile);

// The waveform window as the main window sees it (the window itself plugs in later).
class ImonWaveformView {
public:
    virtual ~ImonWaveformView() = default;
    // The signal library's experiment the waveform thread reads its mask and size code from.
    virtual TSigExperiment* Experiment() const = 0;
    // The factors that turn stored samples into amperes and volts (for the CSV file).
    virtual double CurrentFactor() const = 0;
    virtual double VoltageFactor() const = 0;
    // A waveform block is in the storage; its data is valid during the call only.
    virtual void OnSignalData(const TmonStorage& storage, uint8_t channelMask,
                              uint8_t sizeCode) = 0;
};

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
    std::function<std::unique_ptr<ImonWaveformView>(QWidget* owner, bool hasNeutral)>
        WaveformFactory;
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
    bool Running() const { return FMainThread || FSignalThread; }
    bool MainStopping() const { return FMainStopping; }
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
    bool StoredListKept() const { return FKeepStoredList; }
    const std::string& ListBackupFile() const { return FListBackup; }
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
    QMenu* ContextMenu() const { return FContextMenu; }

    // "Трассировка линии": starts or stops a trace file of the line.
    void SetLineTrace(bool on);
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
    void RunOnWindowThread(const std::function<void()>& f);
    // Queues f for the window's thread without waiting (the channel worker's messages).
    void PostToWindowThread(std::function<void()> f);
    // The progress label from the line's last connect stage, and its tooltip.
    void ShowLineProgress();
    void ShowLinkStatistics();
    // Handles the calls the exchange threads queued.
    void DrainCalls();

    void HandleData3sec();
    void HandleExchangeEnd(int32_t errorCode, int32_t deviceStatus);
    void HandleSignalData(uint8_t channelMask, uint8_t sizeCode);
    void HandleSignalEnd(int32_t errorCode, int32_t deviceStatus);

    void BuildForm();
    void FormCreate();
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
    // A thread whose end was reported: joined and freed once it has returned.
    void Retire(std::unique_ptr<ImonExchange> t);
    void ReapRetired();
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

    TmonFormOptions FOpt;
    TmonFormatContext FFormat;
    TmonSharedStorage FStorage;
    TmonStorage FShown; // the copy the labels, grid, spectrum and CSV file are made from
    std::unique_ptr<TmonIniFile> FSettings;
    TccnConnectionList FConnections;
    TccnConnection* FConnection = nullptr;
    std::unique_ptr<TccnConnection> FOwnedConnection;
    int32_t FSelectedID = kNoSelectedID;
    TccnConnectionListUIOptions FDialogOptions;
    std::unique_ptr<ImonExchange> FMainThread;
    bool FMainStopping = false;
    std::unique_ptr<ImonExchange> FSignalThread;
    bool FSignalStopping = false;
    std::list<std::unique_ptr<ImonExchange>> FRetired;
    std::unique_ptr<ImonWaveformView> FWaveform;
    std::unique_ptr<TmonRecording> FRecording; // the listener the exchange threads are given
    // The records shown, for the trends window; the window goes before the samples it reads.
    std::unique_ptr<TmonTrendMemorySource> FTrendSource;
    std::string FTrendMeter; // the meter whose records FTrendSource holds
    std::unique_ptr<TmonTrendsWindow> FTrends;
    QMenu* FContextMenu = nullptr;
    QAction* FTraceAction = nullptr;
    TmonLineLog* FLineLog = nullptr;
    std::shared_ptr<TLCATrace> FOwnTrace; // the trace this window started
    std::string FLineTraceFile;
    QTimer* FProgressTimer = nullptr;
    std::atomic<bool> FClosing{false};
    struct TQueuedCall {
        const std::function<void()>* F = nullptr;
        std::function<void()> Posted; // a call no one waits for
        bool Done = false;            // under FCallsMutex
        std::condition_variable Cv;
    };
    std::mutex FCallsMutex;
    std::deque<std::shared_ptr<TQueuedCall>> FCalls;
    int FWakeFd = -1; // eventfd: a call is queued
    QSocketNotifier* FWakeNotifier = nullptr;
    bool FClosed = false;
    QString FBaseCaption;
    std::string FLastSavedFile;
    int FRecordsShown = 0;
    bool FStartingUp = false;
    bool FCentred = false;        // centred once its frame was known
    bool FKeepStoredList = false; // the stored list did not load
    std::string FListBackup;      // where its value goes before a list replaces it

    // spectrum state
    int FLevel = 1;
    int FBarStep = 11;
    TmonSpectrumScale FScale;
    QFont FSpectrumFont;
    QPixmap FAngleIcon, FNormalIcon, FMaxIcon;

public:
    // Controls, named as in the form (tests find them by objectName as well).
    QGroupBox *GroupBox1, *GroupBox2, *GroupBox3, *GroupBox4, *GroupBox5, *GroupBox6, *GroupBox7,
        *GroupBox8, *GroupBox9, *GroupBox10;
    QPushButton *BDevices, *BStart, *buSaveData, *BInc, *BDec;
    QCheckBox* ChkViewSinus;
    QCheckBox* ChkRecord; // "Запись"
    QPushButton* BTrends; // "Тренды"
    QComboBox *Combo_U, *Combo_I, *ComboBox1, *ComboBox2;
    QRadioButton *RB_whole, *RB_first;
    QLabel *LUnom, *LUnom_mf, *Label48, *L_I_nom, *L_freq, *L_delta_F;
    QLabel *L_U[4], *L_I[4], *L_fi_UI[4]; // a, b, c, N
    QLabel* L_U_line[3];                  // ab, bc, ca
    QLabel *L_U_seq[3], *L_I_seq[3], *L_fi_UI_seq[3];
    QLabel *L_K_0, *L_K_1;
    QLabel* L_P_hdr[3];  // L_P, L_Q, L_S
    QLabel* L_PQS[3][5]; // [P, Q, S][a, b, c, abc, n]
    QLabel* L_Cos[5];
    QLabel *L_K_U[4], *L_K_U_line[3], *L_K_I[4];
    QLabel *L_Yellow, *L_Green, *L_Red, *L_Blue;
    QLabel* LProgress; // the connect's progress; the link figures in its tooltip
    QScrollBar* ScrollBar1;
    QTableWidget* StringGrid1;
    TmonSpectrumImage* Image1;
    TmonGridHeader* GridHeader;
};

} // namespace qz
