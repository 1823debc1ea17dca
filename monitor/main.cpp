// qzmonitor: the monitor's window program.
//
//   qzmonitor                              the window with the stored selection
//   qzmonitor poll comN model factory [/start]   a meter on a COM port, polled at once with /start
//   qzmonitor --demo                       a simulated meter on loopback, polled at once
//   qzmonitor --demo --screenshots DIR     the demo, PNGs of the window after two records
//   ... --trace FILE [--trace-mask M] [--trace-bytes N] [--trace-size MB]
//                                          a trace of the lines into FILE ("-" for stderr)
//   qzmonitor --help | --version           answered without a display
#include "channel/LCAObject.h"
#include "channel/LCATrace.h"
#include "common/ProgramVersion.h"
#include "connection/ui/CcnConnectionListUI.h"
#include "exchange/monExchangeThreads.h"
#include "monitor/monCommandLine.h"
#include "monitor/monMain.h"
#include "monitor/monProgress.h"
#include "monitor/monTranslations.h"
#include "simulator/MeterSimulator.h"
#include "trends/monTrendJournal.h"
#ifdef QZ_WITH_WAVEFORM
#include "waveform/monWaveformView.h"
#endif

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kDemoModel = 1; // QZ2M: all four channels on show
constexpr int32_t kDemoFactoryNumber = 1234;

// Grabs the window with every grid selection and every spectrum selection.
bool WriteScreenshots(qz::TForm1& w, const QString& folder) {
    QDir().mkpath(folder);
    bool ok = true;
    const int spectrum = w.Controls().ComboBox2->currentIndex();
    for (int i = 0; i < w.Controls().ComboBox1->count(); ++i) {
        w.Controls().ComboBox1->setCurrentIndex(i);
        ok = w.grab().save(folder + QStringLiteral("/grid_%1.png").arg(i)) && ok;
    }
    w.Controls().ComboBox1->setCurrentIndex(0);
    for (int i = 0; i < w.Controls().ComboBox2->count(); ++i) {
        w.Controls().ComboBox2->setCurrentIndex(i);
        ok = w.grab().save(folder + QStringLiteral("/spectrum_%1.png").arg(i)) && ok;
    }
    w.Controls().ComboBox2->setCurrentIndex(spectrum);
    return ok;
}

// Opens the trace the command line asks for, before the window and the module: a file that
// cannot be written is refused at once, on a terminal. False (and the text said) on an error.
bool OpenTrace(std::vector<std::string> args, std::unique_ptr<qz::TLCATrace>& trace) {
    std::optional<qz::TmonTraceArguments> traceArgs;
    std::string error;
    if (!qz::TakeTraceArguments(args, traceArgs, error)) {
        std::fprintf(stderr, "qzmonitor: %s\n", error.c_str());
        return false;
    }
    if (!traceArgs) return true;
    qz::TLCATraceOptions options;
    options.MaxFileBytes = uint64_t(traceArgs->SizeMb) * 1024 * 1024;
    trace = qz::TLCATrace::Open(traceArgs->File, traceArgs->Mask, error, options);
    qz::LCASetDumpLimit(traceArgs->Bytes);
    if (!trace) {
        std::fprintf(stderr, "qzmonitor: %s\n", error.c_str());
        return false;
    }
    return true;
}

// The window's own options of the command line, with the trace's already taken.
struct TWindowArguments {
    std::vector<std::string> Rest; // for a poll given on the command line
    bool Demo = false;
    QString Screenshots;
};

TWindowArguments WindowArguments() {
    TWindowArguments w;
    for (const QString& a : QApplication::arguments().mid(1))
        w.Rest.push_back(a.toStdString());
    std::optional<qz::TmonTraceArguments> taken; // checked before; only taken out here
    std::string ignored;
    qz::TakeTraceArguments(w.Rest, taken, ignored);
    for (size_t i = 0; i < w.Rest.size(); ++i) {
        if (w.Rest[i] == "--demo")
            w.Demo = true;
        else if (w.Rest[i] == "--screenshots" && i + 1 < w.Rest.size())
            w.Screenshots = QString::fromStdString(w.Rest[++i]);
    }
    return w;
}

// The demo's simulated meter on a loopback port of its own; null (and the reason said) when it
// did not start.
std::unique_ptr<qz::TMeterSimulator> StartDemoMeter() {
    qz::TSimOptions o;
    o.ModelIndex = kDemoModel;
    o.Address = uint16_t(kDemoFactoryNumber);
    o.ListenHost = "127.0.0.1";
    o.ListenPort = 0;
    auto sim = std::make_unique<qz::TMeterSimulator>(o);
    std::string error;
    if (!sim->Start(&error)) {
        std::fprintf(stderr, "qzmonitor: the simulator did not start: %s\n", error.c_str());
        return nullptr;
    }
    std::printf("qzmonitor: simulated meter listening on 127.0.0.1:%u\n", unsigned(sim->port()));
    std::fflush(stdout);
    return sim;
}

// The window until it is closed; the program's status.
int RunWindow(QApplication& app, const TWindowArguments& args, qz::TMeterSimulator* demo) {
    int rc = 0;
    qz::TmonFormOptions opt;
    opt.Exchange = qz::MakeRealExchangeFactory();
    opt.ConnectionDialog = qz::MakeConnectionListDialog();
#ifdef QZ_WITH_WAVEFORM
    opt.WaveformFactory = qz::MakeWaveformView; // "Сигнал": the waveform window
#endif
    opt.TrendOpener = &qz::OpenJournalTrend; // "Открыть запись…" of the trends window
    opt.TrendProtocolWriter = &qz::WriteJournalProtocol; // its "Протокол…"
    qz::TForm1 w(std::move(opt));
    w.show();
    if (demo) {
        w.UseOwnedConnection(
            qz::MakeTcpConnection(kDemoModel, kDemoFactoryNumber, "127.0.0.1", demo->port()), true);
    } else if (auto poll = qz::ParsePollArguments(args.Rest)) {
        w.ConnectFromCommandLine(poll->ModelIndex, poll->FactoryNumber, poll->ComPort, poll->Start);
    }
    if (!args.Screenshots.isEmpty()) {
        const QString folder = args.Screenshots;
        w.OnRecordShown = [&w, folder, &rc](int count) {
            if (count != 2) return;
            if (!WriteScreenshots(w, folder)) rc = 2;
            QTimer::singleShot(0, &w, [&w] { w.close(); });
        };
        // A demo that shows nothing in a minute has failed.
        QTimer::singleShot(60000, &w, [&w, &rc] {
            std::fprintf(stderr, "qzmonitor: no two records within a minute\n");
            rc = 3;
            w.close();
        });
    }
    const int loop = app.exec();
    return rc != 0 ? rc : loop;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> raw(argv + (argc > 0), argv + argc);
    // QApplication opens the display at once and ends the program without one, so the
    // requests that need no window are answered first.
    switch (qz::FindInfoRequest(raw)) {
    case qz::TmonInfoRequest::Help:
        std::fputs(qz::MonitorHelpText().c_str(), stdout);
        return 0;
    case qz::TmonInfoRequest::Version:
        std::fputs(qz::ProgramVersionText("qzmonitor").c_str(), stdout);
        return 0;
    case qz::TmonInfoRequest::None:
        break;
    }
    // The module takes the trace's log callback when it starts.
    std::unique_ptr<qz::TLCATrace> trace;
    if (!OpenTrace(raw, trace)) return 2;

    // Without any display the toolkit would end the program with an abort of its own; the
    // engineer on a terminal over ssh is told what to use instead.
    if (!qz::DisplayExpected(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"),
                             std::getenv("QT_QPA_PLATFORM"))) {
        std::fputs("qzmonitor: нет дисплея (DISPLAY и WAYLAND_DISPLAY не заданы). Без окна "
                   "измеритель опрашивает qzcli: qzcli poll --help\n",
                   stderr);
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(qz::kmonAppTitle));
    qz::InstallQtTranslations(app); // the toolkit's own texts in the user's language
    // Lets the desktop match the window to its installed entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.qzmonitor.qzmonitor"));
    const TWindowArguments args = WindowArguments();

    // The logical-channel worker runs for the whole program with the one callback of the line
    // log, which the window's progress label reads and whose trace the window can switch; the
    // channels report their connect, and with a trace the trace's classes.
    qz::TmonLineLog& lineLog = qz::monLineLog();
    if (trace) lineLog.SetTrace(std::move(trace));
    qz::LCAInitialize(lineLog.LogProc());
    qz::monSetExchangeLogMask(lineLog.ChannelLogMask());

    std::unique_ptr<qz::TMeterSimulator> sim;
    if (args.Demo && !(sim = StartDemoMeter())) return 1;
    int rc = RunWindow(app, args, sim.get());
    if (sim) sim->Stop();
    // The window and its exchange are gone: the module's last messages, then the trace's.
    qz::LCAFinalize();
    if (auto left = lineLog.SetTrace(nullptr); left && !left->Stop()) {
        std::fprintf(stderr, "qzmonitor: %s\n", left->ErrorText().c_str());
        if (rc == 0) rc = 1;
    }
    return rc;
}
