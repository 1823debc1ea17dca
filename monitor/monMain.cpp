#include "monitor/monMain.h"
#include "monitor/monMainParts.h"

#include "channel/LCAObject.h"
#include "channel/LCATrace.h"
#include "connection/ui/CcnMessages.h"
#include "monitor/monCommandLine.h"
#include "monitor/monRecording.h"
#include "monitor/monSpectrum.h"
#include "protocol/DeviceStatus.h"
#include "protocol/QZ2Models.h"
#include "settings/cmnPortAccess.h"
#include "trends/monTrendsWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace qz {

const char* const kmonAppTitle = "Монитор Каврен-QZ2";
const char* const kmonMsgNoDevice = "Не выбран измеритель";
const char* const kmonMsgExchangeError = "Ошибка обмена с измерителем:\r\n\r\n";
const char* const kmonMsgNoWaveforms = "Данный измеритель не предоставляет формы сигналов";
const char* const kmonMsgConnectionObject = "Ошибка при создании объекта подключения";
const char* const kmonMsgCloseWhileRecording =
    "Идёт запись. Остановить запись и закрыть программу?";
const char* const kmonCaptionWarning = "Внимание";
const char* const kmonCaptionError = "Ошибка";

TForm1::TForm1(TmonFormOptions options)
    : FOpt(std::move(options)),
      FSettings(FOpt.Settings ? std::move(FOpt.Settings) : std::make_unique<TmonIniFile>()),
      FList(*FSettings),
      FRecording(std::make_unique<TmonRecording>(FStorage, static_cast<IExchangeListener*>(this))),
      FExchange(FOpt.Exchange, FRecording.get(), &FStorage) {
    FFormat = FOpt.Format ? *FOpt.Format : SystemFormat();
    if (!FOpt.Messages) FOpt.Messages = std::make_unique<TmonMessageBoxes>(this);
    FIcons = {MakeAngleIcon(), MakeNormalLimitIcon(), MakeMaxLimitIcon()};
    FWakeNotifier = new QSocketNotifier(FCalls.WakeFd(), QSocketNotifier::Read, this);
    connect(FWakeNotifier, &QSocketNotifier::activated, this, [this] { DrainCalls(); });
    FRecording->OnFailure = [this](const std::string& file, const std::string& text) {
        RunOnWindowThread([this, &file, &text] { HandleRecordingFailure(file, text); });
    };
    FTrendSource = std::make_unique<TmonTrendMemorySource>("", true, kmonTrendLiveSamples);
    FLineLog = FOpt.LineLog ? FOpt.LineLog : &monLineLog();
    C = BuildForm(this, FIcons);
    FSpectrumFont = QFont(QStringLiteral("DejaVu Serif"));
    FSpectrumFont.setPixelSize(9);
    ConnectHandlers();
    CentreOnScreen(); // again once shown, when the window manager's frame is known
    FormCreate();
    qApp->installEventFilter(this);
}

TForm1::~TForm1() {
    qApp->removeEventFilter(this);
    FormClose();
    FLineLog->SetNotify(nullptr); // waits for a message being reported
    // A trace of this window's ends with it (the threads have ended and closed their
    // channels); one given on the command line is the program's to end.
    if (FOwnTrace && FLineLog->Trace() == FOwnTrace) {
        FLineLog->SetTrace(nullptr);
        LCASetAddedLogMask(0);
    }
    if (FOwnTrace) FOwnTrace->Stop();
    // FormDestroy: the settings reach the disk even when the window was never closed.
    SaveSettingsFile();
    delete FWakeNotifier;
}

void TForm1::ConnectHandlers() {
    connect(C.BStart, &QPushButton::clicked, this, [this] { BStartClick(); });
    connect(C.BDevices, &QPushButton::clicked, this, [this] { BDevicesClick(); });
    connect(C.buSaveData, &QPushButton::clicked, this, [this] { SaveMeasurements(); });
    connect(C.ChkViewSinus, &QCheckBox::toggled, this, [this] { ChkViewSinusClick(); });
    FNoteTimer = new QTimer(this);
    FNoteTimer->setSingleShot(true);
    connect(FNoteTimer, &QTimer::timeout, this, [this] {
        FNote.clear();
        FNoteTip.clear();
        RefreshStatus();
    });
    FProgressTimer = new QTimer(this);
    FProgressTimer->setInterval(1000);
    connect(FProgressTimer, &QTimer::timeout, this, [this] { ShowLineProgress(); });
    connect(C.ChkRecord, &QCheckBox::toggled, this, [this] { ChkRecordClick(); });
    connect(C.BTrends, &QPushButton::clicked, this, [this] { ShowTrends(); });
    connect(C.TrendsAction, &QAction::triggered, this, [this] { ShowTrends(); });
    connect(C.TraceAction, &QAction::toggled, this, [this](bool on) { SetLineTrace(on); });
    connect(C.ResumeAction, &QAction::toggled, this, [this](bool on) { SetResume(on); });
    FRetryTimer = new QTimer(this);
    FRetryTimer->setInterval(250);
    connect(FRetryTimer, &QTimer::timeout, this, [this] { RefreshStatus(); });
    connect(C.Combo_U, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int i) {
        FSettings->WriteViewItem(kVoltageItemKey, i);
        ShowMeasurements();
    });
    connect(C.Combo_I, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int i) {
        FSettings->WriteViewItem(kCurrentItemKey, i);
        ShowMeasurements();
    });
    connect(C.RB_whole, &QRadioButton::clicked, this, [this] { ShowPowers(); });
    connect(C.RB_first, &QRadioButton::clicked, this, [this] { ShowPowers(); });
    connect(C.ComboBox1, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this] { FillHarmonicsGrid(); });
    connect(C.ComboBox2, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this] { ComboBox2Change(); });
    connect(C.BInc, &QPushButton::clicked, this, [this] { BIncClick(); });
    connect(C.BDec, &QPushButton::clicked, this, [this] { BDecClick(); });
    connect(C.ScrollBar1, &QScrollBar::valueChanged, this, [this] { ScrollBar1Change(); });
    C.Image1->OnMouseDown = [this](int x) { Image1MouseDown(x); };
}

void TForm1::FormCreate() {
    char version[64];
    std::snprintf(version, sizeof version, "%d.%d.%d", QZ_VERSION_MAJOR, QZ_VERSION_MINOR,
                  QZ_VERSION_PATCH);
    FBaseCaption = QString::fromUtf8(kmonAppTitle) + QStringLiteral("  v ") + version;
    setWindowTitle(FBaseCaption);
    for (TDeviceType t : {dtQZ2, dtQZ2M, dtQZ2C, dtQZ2A, dtQZ2AM, dtQZ2AC})
        FDialogOptions.DeviceTypeOptions().AddDeviceTypeOptions(
            t, SetBit(dptKavren),
            TConModeTypes(SetBit(cmtDirect232) | SetBit(cmtPhoneModem232) |
                          SetBit(cmtRadioModem232) | SetBit(cmtDirectTCPIP)));
    FDialogOptions.MultiSelect = false;
    FBarStep = SpectrumBarStep(kmonSpectrumWidth);
    RestoreToggles(); // before the connection is shown: the labels follow Combo_U, Combo_I
    LoadConnections();
    FLineLog->SetNotify([this] { PostToWindowThread([this] { ShowLineProgress(); }); });
    FStartingUp = true; // the legend keeps the form's own captions
    ComboBox2Change();
    FStartingUp = false;
    UpdateControlStates();
}

void TForm1::LoadConnections() {
    const std::string warning = FList.Load();
    if (!warning.empty()) {
        // Told once the window stands, so the box has its owner on the screen.
        QTimer::singleShot(0, this, [this, warning] {
            if (!FClosed) ShowMessage(kmonCaptionWarning, TmonMessageIcon::Warning, warning);
        });
    }
    FSelectedID = FSettings->ReadSelectedID();
    SelectOrTell(FList.List().FindByID(FSelectedID));
}

void TForm1::RestoreToggles() {
    {
        QSignalBlocker block(C.ChkRecord);
        C.ChkRecord->setChecked(FSettings->ReadRecordingOn());
    }
    {
        // The labels are written from these once a connection is shown; "Сигнал" opens its
        // window with the next Start, as a tick given before the Start does.
        QSignalBlocker u(C.Combo_U), i(C.Combo_I), s(C.ChkViewSinus);
        C.Combo_U->setCurrentIndex(FSettings->ReadViewItem(kVoltageItemKey, C.Combo_U->count(),
                                                           C.Combo_U->currentIndex()));
        C.Combo_I->setCurrentIndex(FSettings->ReadViewItem(kCurrentItemKey, C.Combo_I->count(),
                                                           C.Combo_I->currentIndex()));
        C.ChkViewSinus->setChecked(FSettings->ReadSignalOn());
    }
    {
        QSignalBlocker block(C.ResumeAction);
        C.ResumeAction->setChecked(FSettings->ReadResumeOn());
    }
    SetResume(C.ResumeAction->isChecked());
    // A trace given on the command line shows as on; otherwise the stored choice.
    if (FLineLog->Trace()) {
        QSignalBlocker block(C.TraceAction);
        C.TraceAction->setChecked(true);
    } else if (FSettings->ReadLineTraceOn()) {
        C.TraceAction->setChecked(true);
    }
}

void TForm1::SelectOrTell(TccnConnection* c) {
    try {
        SelectConnection(c);
    } catch (const std::exception& e) {
        // A connection of a device the exchange does not support.
        SelectConnection(nullptr);
        ShowMessage(kmonCaptionError, TmonMessageIcon::Error, e.what());
    }
}

// --- connection ---

void TForm1::SelectConnection(TccnConnection* c) {
    // A device outside the six models is refused before anything changes.
    bool neutral = false;
    if (c && c->CustomDevice()) {
        TDeviceType t = c->CustomDevice()->DeviceType();
        neutral = ModelHasNeutral(
            ModelIndexOfDeviceType(int(t), t < DeviceTypeCount ? DeviceTypeNames[t] : "?"));
    }
    FConnection = c;
    if (FOwnedConnection && FOwnedConnection.get() != c)
        FOwnedConnection.reset(); // nothing runs on it: the button is disabled while running
    FStorage.Clear();
    FShown.Clear();
    FShown.Settings.HasNeutral = neutral ? 1 : 0;
    FStorage.Update([neutral](TmonStorage& s) { s.Settings.HasNeutral = neutral ? 1 : 0; });
    UpdateConnectionControls();
    ShowMeasurements();
    DrawSpectrum();
    if (FTrends) FTrends->SetSettings(FShown.Settings); // the N channel quantities
}

void TForm1::UpdateConnectionControls() {
    if (FConnection && FConnection->CustomDevice()) {
        C.BDevices->setText(Q(MeterName(FConnection)));
    } else {
        C.BDevices->setText(QString::fromUtf8("Измеритель ..."));
    }
    const bool neutral = FShown.Settings.HasNeutral != 0;
    {
        QSignalBlocker block(C.ComboBox1);
        C.ComboBox1->setCurrentIndex(0);
        while (C.ComboBox1->count() > 6)
            C.ComboBox1->removeItem(6);
        if (neutral) C.ComboBox1->addItem(QString::fromUtf8("Фаза N"));
        C.ComboBox1->addItem(QString::fromUtf8("Мощность"));
    }
    for (QLabel* l : {C.L_U[3], C.L_I[3], C.L_fi_UI[3], C.L_PQS[0][pwN], C.L_PQS[1][pwN],
                      C.L_PQS[2][pwN], C.L_Cos[pwN], C.L_K_U[3], C.L_K_I[3]})
        l->setEnabled(neutral);
    C.L_Blue->setVisible(neutral && C.ComboBox2->currentIndex() != 1);
}

void TForm1::UseOwnedConnection(std::unique_ptr<TccnConnection> connection, bool start) {
    if (Running()) return; // the meter never changes under a running thread
    TccnConnection* c = connection.get();
    std::unique_ptr<TccnConnection> previous = std::move(FOwnedConnection);
    FOwnedConnection = std::move(connection);
    SelectOrTell(c);
    if (start && FConnection) BStartClick();
}

void TForm1::ConnectFromCommandLine(int modelIndex, int32_t factoryNumber, uint8_t comPort,
                                    bool start) {
    std::unique_ptr<TccnConnection> c;
    try {
        c = MakeCommandLineConnection(modelIndex, factoryNumber, comPort);
    } catch (const std::exception&) {
        c.reset();
        ShowMessage(kmonCaptionError, TmonMessageIcon::Error, kmonMsgConnectionObject);
    }
    UseOwnedConnection(std::move(c), start);
}

void TForm1::BDevicesClick() {
    if (Running() || Closing()) return;
    const std::string before = FList.Snapshot();
    if (FOpt.ConnectionDialog) {
        int32_t chosen = FSelectedID;
        if (FOpt.ConnectionDialog(this, FList.List(), FDialogOptions, chosen)) {
            FSelectedID = chosen;
            FSettings->WriteSelectedID(FSelectedID);
            SelectOrTell(FList.List().FindByID(FSelectedID));
            if (C.ChkViewSinus->isChecked()) ToggleViewSinus();
        } else if (FConnection && FConnection != FOwnedConnection.get()) {
            // Closed without a choice, but the list may have changed under the current
            // connection: it may be gone (never touch it again) or edited (show it anew).
            SelectOrTell(FList.List().FindByID(FSelectedID));
        }
    }
    StoreConnectionsAfterDialog(before);
    SaveSettingsFile();
}

void TForm1::StoreConnectionsAfterDialog(const std::string& before) {
    std::string error;
    if (!FList.StoreAfterDialog(before, error))
        ShowMessage(kmonCaptionError, TmonMessageIcon::Error, error);
}

void TForm1::SaveSettingsFile() {
    std::string error;
    if (!FSettings->UpdateFile(&error))
        std::fprintf(stderr, "qzmonitor: settings not saved: %s\n", error.c_str());
}

std::string ExchangeErrorLine(const std::string& text) {
    std::string line = kmonMsgExchangeError;
    line.erase(line.find_last_not_of(" \r\n") + 1);
    return line + " " + text;
}

// --- exchange control ---

void TForm1::BStartClick() {
    if (Closing()) return;
    if (C.BStart->text() == QString::fromUtf8(kmonStartCaption)) {
        if (!FConnection) {
            ShowMessage(kmonCaptionWarning, TmonMessageIcon::Warning, kmonMsgNoDevice);
            return;
        }
        try {
            StartMainExchange();
        } catch (const std::exception& e) {
            ShowMessage(kmonCaptionError, TmonMessageIcon::Error, e.what());
        }
        UpdateControlStates();
        if (C.ChkViewSinus->isChecked()) ToggleViewSinus();
    } else {
        StopMainExchange();
        UpdateControlStates();
    }
}

void TForm1::StartMainExchange() {
    FExchange.CheckStartMain(FConnection);
    if (Closing()) return; // the window is closing: no thread starts
    PrepareTrendsForPoll();
    FLineLog->ClearStages();
    FLinkTip.clear();
    SetProgressText(QString(), false);
    // The channels report their connect (for the label) and what the trace wants.
    monSetExchangeLogMask(FLineLog->ChannelLogMask());
    EndOutage();
    FPollResumes = Resuming();
    FExchange.StartMain(FConnection);
}

void TForm1::SetResume(bool on) {
    TmonReconnect policy;
    policy.Enabled = on;
    FExchange.SetReconnect(policy); // the threads started from now on
    FSettings->WriteResumeOn(on);
}

void TForm1::StopMainExchange() {
    FExchange.StopMain();
}

void TForm1::StartSignalExchange() {
    FExchange.CheckStartSignal(FConnection);
    if (!FWaveform || Closing()) return;
    FExchange.StartSignal(FConnection, FWaveform->Experiment());
}

void TForm1::StopSignalExchange() {
    FExchange.StopSignal();
}

void TForm1::UpdateControlStates() {
    const bool running = Running();
    const bool closing = Closing();
    C.BStart->setText(QString::fromUtf8(running ? kmonStopCaption : kmonStartCaption));
    C.BStart->setEnabled(!closing);
    C.BDevices->setEnabled(!running && !closing);
    C.buSaveData->setEnabled(running && !closing);
    C.ChkViewSinus->setEnabled(!FExchange.MainStopping() && !FExchange.SignalStopping() &&
                               !closing);
    C.ChkRecord->setEnabled(!closing);
    UpdateRecording();
}

void TForm1::ToggleViewSinus() {
    // Unchecking and checking again rebuilds the waveform window for the current meter and
    // starts its thread beside the polling thread.
    C.ChkViewSinus->setChecked(false);
    C.ChkViewSinus->setChecked(true);
}

void TForm1::ChkViewSinusClick() {
    if (Closing()) return; // the waveform window is freed and no thread starts now
    FSettings->WriteSignalOn(C.ChkViewSinus->isChecked());
    if (C.ChkViewSinus->isChecked()) {
        if (!FWaveform && FOpt.WaveformFactory)
            FWaveform = FOpt.WaveformFactory(this, FShown.Settings.HasNeutral != 0,
                                             [this] { return CurrentModelIsA(); });
        if (FExchange.MainRunning() && !FExchange.MainStopping() && FWaveform &&
            !FExchange.SignalRunning()) {
            try {
                StartSignalExchange();
            } catch (const std::exception& e) {
                ShowMessage(kmonCaptionError, TmonMessageIcon::Error, e.what());
            }
        }
    } else {
        StopSignalExchange();
        UpdateControlStates();
        // The waveform thread reads the experiment until it ends; it is retired (and the
        // experiment freed with the window) only after its end was reported.
        if (!FExchange.SignalRunning()) FWaveform.reset();
    }
    UpdateControlStates();
}

bool TForm1::CurrentModelIsA() const {
    if (!FConnection || !FConnection->CustomDevice()) return false;
    return ModelIsA(ModelIndexOfDeviceTypeValue(int(FConnection->CustomDevice()->DeviceType())));
}

// --- thread notifications ---

void TForm1::OnData3sec() {
    RunOnWindowThread([this] { HandleData3sec(); });
}
void TForm1::OnExchangeEnd(int32_t errorCode, int32_t deviceStatus) {
    RunOnWindowThread([=] { HandleExchangeEnd(errorCode, deviceStatus); });
}
void TForm1::OnSignalData(uint8_t channelMask, uint8_t sizeCode) {
    RunOnWindowThread([=] { HandleSignalData(channelMask, sizeCode); });
}
void TForm1::OnSignalEnd(int32_t errorCode, int32_t deviceStatus) {
    RunOnWindowThread([=] { HandleSignalEnd(errorCode, deviceStatus); });
}
void TForm1::OnOutage(int32_t errorCode, int32_t deviceStatus, uint32_t retryMs) {
    RunOnWindowThread([=] { HandleOutage(errorCode, deviceStatus, retryMs); });
}

void TForm1::HandleData3sec() {
    const uint8_t neutral = FShown.Settings.HasNeutral;
    FShown = FStorage.Snapshot();
    FShown.Settings.HasNeutral = neutral;
    FShown.SignalData = nullptr; // valid only during a waveform call
    FShown.SignalSize = 0;
    EndOutage(); // the meter answers again
    ShowMeasurements();
    DrawSpectrum();
    AppendTrendSample();
    ShowLinkStatistics();
    RefreshStatus(); // the journal's count
    ++FRecordsShown;
    if (OnRecordShown) OnRecordShown(FRecordsShown);
}

void TForm1::HandleExchangeEnd(int32_t errorCode, int32_t deviceStatus) {
    // A poll that waits out its errors ends only when asked to: what it ends with is the
    // outage it was in, told already.
    const bool asked = FPollResumes && FExchange.MainStopping();
    EndOutage();
    if ((errorCode != 0 || deviceStatus != 0) && !asked) {
        StopSignalExchange();
        std::string text = deviceStatus != 0 ? DeviceStatusText(deviceStatus & 0xFFFF)
                                             : (FExchange.Main() ? FExchange.Main()->GetErrorText()
                                                                 : std::string());
        // A serial port the account may not open: the device and the cure beside the code's text.
        if (deviceStatus == 0) {
            const std::string detail = PortAccessDetail(errorCode, FConnection);
            if (!detail.empty()) text += "\r\n\r\n" + detail;
        }
        // The label ends on the error too (its first line: the label has one).
        SetProgressText(Q(monConnectProgressText(ExchangeErrorLine(text.substr(0, text.find('\r'))),
                                                 false, std::chrono::milliseconds(0))),
                        false);
        ShowMessage(kmonCaptionError, TmonMessageIcon::Error, kmonMsgExchangeError + text);
    } else if (const auto stage = FLineLog->LastStage(); stage && stage->Connecting) {
        SetProgressText(QString(), false); // stopped while connecting
    }
    FProgressTimer->stop();
    ShowLinkStatistics();
    FExchange.MainEnded();
    ScheduleReap(0);
    UpdateControlStates();
}

void TForm1::HandleOutage(int32_t errorCode, int32_t deviceStatus, uint32_t retryMs) {
    // The thread waits in this call, so its error text is still the one of this failure.
    std::string text = deviceStatus != 0
                           ? DeviceStatusText(deviceStatus & 0xFFFF)
                           : (FExchange.Main() ? FExchange.Main()->GetErrorText() : std::string());
    text = text.substr(0, text.find('\r'));
    if (text.empty()) text = "код " + std::to_string(errorCode);
    FRecording->BeginOutage(errorCode, deviceStatus, text); // the journal goes on, with a gap
    FOutageText = Q(text);
    // A serial port the account may not open: the device and the cure, in the label's tip.
    FOutageDetail = deviceStatus == 0 ? Q(PortAccessDetail(errorCode, FConnection)) : QString();
    FRetryAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(retryMs);
    FRetryTimer->start();
    ShowLinkStatistics();
    RefreshStatus();
}

void TForm1::EndOutage() {
    if (FOutageText.isEmpty()) return;
    FOutageText.clear();
    FRetryTimer->stop();
    RefreshStatus();
}

void TForm1::HandleSignalData(uint8_t channelMask, uint8_t sizeCode) {
    if (!FWaveform) return;
    TmonStorage s = FStorage.Snapshot(); // SignalData stays valid while the thread waits
    FWaveform->OnSignalData(s, channelMask, sizeCode);
}

void TForm1::HandleSignalEnd(int32_t, int32_t deviceStatus) {
    if (deviceStatus != 0)
        ShowMessage(kmonCaptionWarning, TmonMessageIcon::Warning, kmonMsgNoWaveforms);
    FExchange.SignalEnded();
    ScheduleReap(0);
    if (!C.ChkViewSinus->isChecked()) FWaveform.reset();
    UpdateControlStates();
}

void TForm1::ScheduleReap(int delayMs) {
    // A thread whose end was handled is still inside its own end call: it is joined once
    // that has returned.
    QTimer::singleShot(delayMs, this, [this] {
        if (FExchange.ReapRetired()) ScheduleReap(10);
    });
}

void TForm1::WaitForAllThreads() {
    // A thread may be waiting for the window to take a call; keep taking them (they do
    // nothing now) until every thread has returned.
    FExchange.WaitForAll([this] {
        DrainCalls();
        // The operator's clicks wait: the controls are disabled and the window is going.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 5);
        QThread::msleep(2);
    });
}

void TForm1::FormClose() {
    if (FClosed) return;
    FClosed = true;
    FCalls.Close();
    // While the threads end nothing may start another one: a tick of "Сигнал" now would
    // start a waveform thread that no one stops, and the close would wait for ever.
    UpdateControlStates();
    FExchange.Close();
    WaitForAllThreads();
    FWaveform.reset();
    FTrends.reset(); // before the samples it reads
    // The list is stored after each use of the dialog; a list that never loaded must not
    // replace the stored value here.
    SaveSettingsFile();
}

void TForm1::CentreOnScreen() {
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect target(QPoint(), frameGeometry().size());
    target.moveCenter(screen->availableGeometry().center());
    move(target.topLeft()); // a window's position is that of its frame
}

void TForm1::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (FCentred) return;
    FCentred = true;
    // The frame's size arrives from the window manager after the window is mapped.
    QTimer::singleShot(100, this, [this] { CentreOnScreen(); });
}

void TForm1::contextMenuEvent(QContextMenuEvent* e) {
    if (Closing()) return;
    C.ContextMenu->popup(e->globalPos());
    e->accept();
}

void TForm1::closeEvent(QCloseEvent* e) {
    // A survey runs for days; a stray Alt+F4 must not end its journal unasked.
    if (!FClosed && Recording() &&
        !FOpt.Messages->Ask(kmonCaptionWarning, kmonMsgCloseWhileRecording)) {
        e->ignore();
        return;
    }
    FormClose();
    e->accept();
}

} // namespace qz
