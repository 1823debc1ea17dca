// The main window's view of the line: the connect's progress, the link figures and the trace
// of "Трассировка линии".
#include "monitor/monMain.h"
#include "monitor/monMainParts.h"

#include "channel/LCATrace.h"
#include "exchange/monCsvExport.h"
#include "settings/cmnKnownFoldersFunc.h"

#include <QAction>
#include <QDateTime>
#include <QLabel>
#include <QTimer>

#include <filesystem>

namespace qz {

// --- the line: progress, figures, trace ---

void TForm1::ShowLineProgress() {
    // A message that arrives after the poll's end (it is queued, the end is not) changes
    // nothing: the end has set the label.
    const auto stage = FLineLog->LastStage();
    if (!stage || !FExchange.MainRunning()) {
        FProgressTimer->stop();
        return;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        TmonLineLog::TClock::now() - stage->Start);
    C.LProgress->setText(Q(monConnectProgressText(stage->Text, stage->Connecting, elapsed)));
    if (stage->Connecting && !FExchange.MainStopping()) {
        if (!FProgressTimer->isActive()) FProgressTimer->start();
    } else {
        FProgressTimer->stop();
    }
}

void TForm1::ShowLinkStatistics() {
    if (!FExchange.Main()) return;
    C.LProgress->setToolTip(Q(monLinkStatisticsText(FExchange.Main()->LinkStatistics())));
}

bool TForm1::LineTracing() const {
    return FLineLog->Trace() != nullptr;
}

void TForm1::SetLineTrace(bool on) {
    if (on == LineTracing()) {
        FSettings->WriteLineTraceOn(on);
        return;
    }
    std::string error;
    if (on) {
        const std::string product = MakeProductFolder(DocumentsFolder(), kmonApplicationTitle);
        std::unique_ptr<TLCATrace> trace;
        if (product.empty()) {
            error = "Не найдена папка документов.";
        } else {
            const std::string folder = product + "Трассировка/";
            std::error_code ec;
            std::filesystem::create_directories(folder, ec);
            const std::string name =
                QDateTime::currentDateTime().toString("yyyy-MM-dd_HH-mm-ss").toStdString();
            FLineTraceFile = folder + name + ".log";
            trace = TLCATrace::Open(FLineTraceFile, kTraceAllClasses, error);
        }
        if (trace) {
            FOwnTrace = std::move(trace);
            FLineLog->SetTrace(FOwnTrace);
        }
    } else {
        std::shared_ptr<TLCATrace> old = FLineLog->SetTrace(nullptr);
        if (old && !old->Stop()) error = old->ErrorText();
        FOwnTrace.reset();
    }
    // Channels opened from now on report what the trace writes.
    monSetExchangeLogMask(FLineLog->ChannelLogMask());
    const bool now = LineTracing();
    if (C.TraceAction->isChecked() != now) {
        QSignalBlocker block(C.TraceAction);
        C.TraceAction->setChecked(now);
    }
    FSettings->WriteLineTraceOn(now);
    if (!error.empty()) ShowMessage(kmonCaptionError, TmonMessageIcon::Error, error);
}

} // namespace qz
