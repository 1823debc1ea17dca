// The main window's view of the line: the connect's progress, the link figures and the trace
// of "Трассировка линии".
#include "monitor/monMain.h"
#include "monitor/monMainParts.h"

#include "channel/LCAObject.h"
#include "channel/LCATrace.h"
#include "exchange/monCsvExport.h"
#include "monitor/monRecording.h"
#include "settings/cmnKnownFoldersFunc.h"

#include <QAction>
#include <QDateTime>
#include <QFontMetrics>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <filesystem>

namespace qz {

const char* const kmonTraceMark = "Трассировка ● ";

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
    SetProgressText(Q(monConnectProgressText(stage->Text, stage->Connecting, elapsed)),
                    stage->Connecting);
    if (stage->Connecting && !FExchange.MainStopping()) {
        if (!FProgressTimer->isActive()) FProgressTimer->start();
    } else {
        FProgressTimer->stop();
    }
}

void TForm1::ShowLinkStatistics() {
    if (!FExchange.Main()) return;
    FLinkTip = Q(monLinkStatisticsText(FExchange.Main()->LinkStatistics()));
    RefreshStatus();
}

void TForm1::SetProgressText(const QString& text, bool connecting) {
    FProgressText = text;
    FProgressConnecting = connecting;
    RefreshStatus();
}

void TForm1::SetStatusNote(const QString& text, const QString& tip) {
    FNote = text;
    FNoteTip = tip;
    FNoteTimer->start(kmonStatusNoteMs);
    RefreshStatus();
}

void TForm1::RefreshStatus() {
    // One line under the powers: an outage the poll waits out, else what the operator did
    // last (a save) while it is fresh, else the connect under way, else the journal being
    // written, else the line's last word. The trace is marked before it, for a trace fills
    // the disk while it is on.
    QString main;
    QString tip;
    if (!FOutageText.isEmpty()) {
        // Counted down to the next attempt; then the line's connect shows, until a record
        // ends the outage.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              FRetryAt - std::chrono::steady_clock::now())
                              .count();
        main = FOutageText;
        tip = Q(ExchangeErrorLine(FOutageText.toStdString()));
        if (!FOutageDetail.isEmpty()) tip += "\n" + FOutageDetail;
        if (left > 0) {
            main = OutageCountdownText(FOutageText, int((left + 999) / 1000));
        } else if (FProgressConnecting) {
            FRetryTimer->stop();
            main = FProgressText;
        } else {
            FRetryTimer->stop();
        }
    } else if (!FNote.isEmpty()) {
        main = FNote;
        tip = FNoteTip;
    } else if (FRecording->Active() && !FProgressConnecting) {
        main = Q(RecordingStatusText(FRecording->FileName(), FRecording->Records()));
        tip = Q(FRecording->FileName());
    } else {
        main = FProgressText;
    }
    QString text = main;
    if (LineTracing()) {
        text = QString::fromUtf8(kmonTraceMark) + text;
        tip = tip.isEmpty() ? Q(LineTraceFileShown()) : tip + "\n" + Q(LineTraceFileShown());
    }
    if (!FLinkTip.isEmpty()) tip = tip.isEmpty() ? FLinkTip : tip + "\n\n" + FLinkTip;
    C.LProgress->setText(text);
    C.LProgress->setToolTip(tip);
}

QString TForm1::OutageCountdownText(const QString& error, int seconds) const {
    // The countdown is what the operator waits for, and the label is narrow: the error is
    // cut short to leave room for it (the tip holds the whole error).
    const QString countdown = QString::fromUtf8("Повтор через %1 с").arg(seconds);
    const QFontMetrics metrics(C.LProgress->font());
    const QString lead = LineTracing() ? QString::fromUtf8(kmonTraceMark) : QString();
    const int room = C.LProgress->contentsRect().width() -
                     metrics.horizontalAdvance(lead + QStringLiteral(". ") + countdown);
    const QString shown = metrics.elidedText(error, Qt::ElideRight, std::max(room, 0));
    if (shown.isEmpty()) return countdown;
    // Most errors end in a full stop already; the countdown follows as a sentence.
    const bool ended = shown.endsWith('.') || shown.endsWith(QChar(0x2026));
    return shown + (ended ? QStringLiteral(" ") : QStringLiteral(". ")) + countdown;
}

std::string TForm1::LineTraceFileShown() const {
    const std::shared_ptr<TLCATrace> trace = FLineLog->Trace();
    const std::string file = trace && trace == FOwnTrace ? FLineTraceFile : std::string();
    return "Трассировка линии" + (file.empty() ? std::string() : ": " + file);
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
    // Channels opened from now on report what the trace writes, and so do those already
    // open: a trace begun in mid-poll shows the poll at once.
    monSetExchangeLogMask(FLineLog->ChannelLogMask());
    const bool now = LineTracing();
    LCASetAddedLogMask(now ? FLineLog->ChannelLogMask() : 0);
    if (C.TraceAction->isChecked() != now) {
        QSignalBlocker block(C.TraceAction);
        C.TraceAction->setChecked(now);
    }
    FSettings->WriteLineTraceOn(now);
    RefreshStatus();
    if (!error.empty()) ShowMessage(kmonCaptionError, TmonMessageIcon::Error, error);
}

} // namespace qz
