// The main window's records: the CSV file of "Сохранить", the journal of "Запись" and the
// trends window of the records shown.
#include "monitor/monMain.h"
#include "monitor/monMainParts.h"

#include "exchange/monCsvExport.h"
#include "monitor/monRecording.h"
#include "settings/cmnKnownFoldersFunc.h"
#include "trends/monTrendsWindow.h"

#include <QCheckBox>
#include <QPushButton>

#include <filesystem>

namespace qz {

const char* const kmonMsgSaved = "Сохранено: ";
const char* const kmonMsgNotSaved = "Не удалось сохранить";

// --- saving ---

void TForm1::SaveMeasurements() {
    if (!C.buSaveData->isEnabled() || !FConnection) return;
    double currentFactor = 0, voltageFactor = 0;
    const TSigExperiment* experiment = nullptr;
    if (C.ChkViewSinus->isChecked() && FWaveform) {
        currentFactor = FWaveform->CurrentFactor();
        voltageFactor = FWaveform->VoltageFactor();
        experiment = FWaveform->Experiment();
    }
    TmonCsvOptions opt;
    opt.DecimalSeparator = FFormat.DecimalSeparator;
    opt.FormatDateTime = FFormat.FormatDateTime;
    opt.DocumentsFolder = FOpt.DocumentsFolder;
    std::string name, error;
    // The operator is told either way: a file that silently was not written would be taken
    // for saved measurements.
    if (SaveMeasurementsToFile(CsvDeviceOf(*FConnection), FShown, currentFactor, voltageFactor,
                               experiment, opt, &name, &error)) {
        FLastSavedFile = name;
        SetStatusNote(Q(kmonMsgSaved + std::filesystem::path(name).filename().string()), Q(name));
    } else {
        if (error.empty()) error = "Причина неизвестна";
        const std::string shown = name.empty() ? kmonMsgNotSaved : kmonMsgNotSaved + (" " + name);
        SetStatusNote(Q(shown), Q(shown + ": " + error));
        ShowMessage(kmonCaptionError, TmonMessageIcon::Error, shown + ":\r\n\r\n" + error);
    }
}

// --- recording ---

void TForm1::ChkRecordClick() {
    FSettings->WriteRecordingOn(C.ChkRecord->isChecked());
    UpdateRecording();
}

void TForm1::UpdateRecording() {
    // One journal per poll: opened when both the toggle and the poll are on, closed when
    // either goes off (or the window closes).
    const bool wanted = C.ChkRecord->isChecked() && FExchange.MainRunning() &&
                        !FExchange.MainStopping() && !Closing() && FConnection;
    if (wanted == FRecording->Active()) return;
    std::string error;
    if (wanted) {
        if (!FRecording->Start(RecordingFolder(DocumentsFolder()), *FConnection, error)) {
            QSignalBlocker block(C.ChkRecord);
            C.ChkRecord->setChecked(false);
            FSettings->WriteRecordingOn(false);
        }
    } else {
        error = FRecording->Stop();
    }
    RefreshStatus(); // the journal's file and count
    if (!error.empty()) ShowMessage(kmonCaptionError, TmonMessageIcon::Error, error);
}

void TForm1::HandleRecordingFailure(const std::string& file, const std::string& text) {
    // Stopped by the operator meanwhile (and told then), or a new journal begun: not this one.
    if (!FRecording->Active() || FRecording->FileName() != file) return;
    // The journal keeps what was committed before the failure; polling goes on.
    FRecording->Stop();
    {
        QSignalBlocker block(C.ChkRecord);
        C.ChkRecord->setChecked(false);
    }
    FSettings->WriteRecordingOn(false);
    RefreshStatus();
    ShowMessage(kmonCaptionError, TmonMessageIcon::Error, text);
}

std::string TForm1::RecordingFile() const {
    return FRecording->FileName();
}

bool TForm1::Recording() const {
    return FRecording->Active();
}

int64_t TForm1::RecordingRecords() const {
    return FRecording->Records();
}

// --- trends ---

std::string TForm1::DocumentsFolder() const {
    return FOpt.DocumentsFolder.empty() ? GetDocumentsPath() : FOpt.DocumentsFolder;
}

void TForm1::ShowTrends() {
    if (Closing()) return;
    if (!FTrends) {
        FTrends = std::make_unique<TmonTrendsWindow>(this);
        // A tool window of this one, as the waveform window: above it, but under the boxes.
        FTrends->setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
        FTrends->SetSettings(FShown.Settings);
        bool stored = false;
        const std::vector<int> chosen = FSettings->ReadTrendQuantities(stored);
        if (stored) FTrends->SetChosenQuantities(chosen);
        FTrends->OnQuantitiesChanged = [this](const std::vector<int>& q) {
            FSettings->WriteTrendQuantities(q);
        };
        // Back from a journal file: the limit lines of the meter polled now.
        FTrends->OnLive = [this] { FTrends->SetSettings(FShown.Settings); };
        FTrends->SetLiveSource(FTrendSource.get());
        FTrends->SetJournalFolder(RecordingFolder(DocumentsFolder()));
        FTrends->SetFileOpener(FOpt.TrendOpener);
        FTrends->SetProtocolWriter(FOpt.TrendProtocolWriter);
    } else if (FExchange.MainRunning() && !FTrends->ShowingLive()) {
        // A journal file was shown there: while a poll runs, "Тренды" means its trend.
        FTrends->ShowLive();
    }
    FTrends->show();
    FTrends->raise();
    FTrends->activateWindow();
}

void TForm1::PrepareTrendsForPoll() {
    const std::string meter = MeterName(FConnection);
    if (meter == FTrendMeter) return; // Stop and Start again: one trend goes on
    // Another meter's values on the same axes would read as one trend; they start afresh.
    auto fresh = std::make_unique<TmonTrendMemorySource>(meter, true, kmonTrendLiveSamples);
    if (FTrends) FTrends->SetLiveSource(fresh.get()); // let go of the old samples first
    FTrendSource = std::move(fresh);
    FTrendMeter = meter;
}

void TForm1::AppendTrendSample() {
    TDateTime first = 0, last = 0;
    // The same record shown again (no new one from the meter yet) is one point, not two.
    if (FTrendSource->Span(first, last) && FShown.Data3sec.Time == last) return;
    if (!FTrendSource->Append(TrendSampleOf(FShown.Data3sec)))
        return; // the meter's clock went back
    // A journal file opened in the window keeps the limits it was recorded with.
    if (FTrends && FTrends->Source() == FTrendSource.get()) {
        FTrends->SetSettings(FShown.Settings); // the limits are read with the records
        FTrends->SamplesAppended();
    }
}

} // namespace qz
