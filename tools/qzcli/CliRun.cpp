#include "tools/qzcli/CliRun.h"

#include "channel/LCAObject.h"
#include "connection/CcnConnectionList.h"
#include "exchange/monCsvExport.h"
#include "exchange/monExchangeThreads.h"
#include "protocol/QZ2Models.h"
#include "settings/cmnKnownFoldersFunc.h"
#include "settings/cmnPortAccess.h"
#include "settings/monIniFile.h"
#include "simulator/MeterSimulator.h"
#include "tools/qzcli/CliFormat.h"
#include "tools/qzcli/CliJournal.h"
#include "tools/qzcli/CliLocale.h"
#include "tools/qzcli/CliTrace.h"
#include "waveform/monHeadlessSignalWindow.h"
#include "waveform/monSignalControl.h"
#include "waveform/monWaveMath.h"

#include <cerrno>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

namespace qz {

TmonIniFile OpenSettings(const TCliOptions& o) {
    if (!o.SettingsFile.empty()) return TmonIniFile::AtPath(o.SettingsFile);
    // The monitor's own file, whatever this program is called.
    return TmonIniFile(kMonitorProductName, "qzmonitor");
}

// Loads the stored list; an absent list is an empty one, a damaged one is reported.
bool LoadList(const TmonIniFile& settings, TccnConnectionList& list, std::ostream& err) {
    if (!settings.LoadError().empty()) {
        err << settings.LoadError() << '\n';
        return false;
    }
    const TmonListLoad load = settings.LoadConnectionList(list);
    if (load.State != TmonListState::Damaged) return true;
    err << "Список подключений в файле настроек повреждён: " << settings.FileName() << '\n'
        << load.Reason << '\n';
    return false;
}

std::unique_ptr<TccnConnection> MakeConnection(int modelIndex, int32_t factory,
                                               const TCliOptions& o, const std::string& host,
                                               uint16_t port) {
    auto c = std::make_unique<TccnConnection>();
    auto device = CreateDevice(TDeviceType(QZ2Model(modelIndex).DeviceType));
    device->SetFactoryNum(factory);
    c->SetCustomDevice(std::move(device));
    auto protocol = std::make_unique<TccnKavrenProtocol>();
    protocol->SetDeviceAddress(uint16_t(factory)); // the address is the factory number's 16 bits
    c->SetCustomDeviceProtocol(std::move(protocol));
    if (!host.empty()) {
        auto mode = std::make_unique<TccnDirectTCPIPConMode>();
        mode->TCPIPInterface().SetIpAddress(host);
        mode->TCPIPInterface().SetIpPort(port);
        c->SetCustomConMode(std::move(mode));
    } else {
        auto mode = std::make_unique<TccnDirect232ConMode>();
        mode->ComPortInterface().SetPortName(o.ComPort);
        mode->ComPortInterface().SetBaudrate(o.Baud);
        c->SetCustomConMode(std::move(mode));
    }
    return c;
}

namespace {

// Prints each record as it comes and tells the waiting main thread how the exchange ended.
class TPrinter : public IExchangeListener {
public:
    TPrinter(const TCliOptions& o, std::ostream& out, std::ostream& err, TmonSharedStorage& s,
             const TccnConnection& c, bool neutral, int endFd, TmonCsvOptions csvOptions)
        : O(o), Out(out), Err(err), Storage(s), Connection(c), Device(CsvDeviceOf(c)),
          Neutral(neutral), EndFd(endFd), CsvOptions(std::move(csvOptions)) {}

    void OnData3sec() override {
        const TmonStorage snap = Storage.Snapshot();
        std::lock_guard<std::mutex> lock(Mutex);
        std::lock_guard<std::mutex> signalLock(SignalMutex); // the experiment, for the CSV
        if (O.Json) {
            Out << WithLinkJson(RecordJson(snap.Data3sec),
                                Thread ? Thread->LinkStatistics() : TLinkStatistics())
                << '\n';
        } else {
            if (Records == 0) Out << RecordTableHeader(Neutral) << '\n';
            Out << RecordTableRow(snap.Data3sec, Neutral) << '\n';
        }
        Out.flush();
        ++Records;
        // A file that cannot be written ends the run at once: a script that asked for the
        // files must not poll on without them.
        if (O.Csv && !SaveCsv(snap)) {
            SaveFailed = true;
            if (Thread) Thread->Stop();
        }
        if (O.Count > 0 && Records >= O.Count && Thread) Thread->Stop();
    }

    void OnExchangeEnd(int32_t code, int32_t status) override {
        std::lock_guard<std::mutex> lock(Mutex);
        Code = code;
        Status = status;
        if (Thread) Text = Thread->EndText(code, status);
        const uint64_t one = 1;
        (void)!write(EndFd, &one, sizeof one);
    }

    // Polling goes on after an outage: the error with the time it came and the wait.
    void OnOutage(int32_t code, int32_t status, uint32_t retryMs) override {
        Outage("Ошибка обмена с измерителем: ", Thread, code, status, retryMs);
    }
    void OnSignalOutage(int32_t code, int32_t status, uint32_t retryMs) override {
        Outage("Ошибка чтения формы сигналов: ", SignalThread, code, status, retryMs);
    }

    // A waveform block: into the experiment, which the next CSV file carries.
    void OnSignalData(uint8_t mask, uint8_t code) override {
        if (!Signal) return;
        const TmonStorage snap = Storage.Snapshot();
        std::lock_guard<std::mutex> lock(SignalMutex);
        Signal->OnSignalData(*SignalWindow, snap, mask, code, ModelIsA);
        ++Blocks;
    }
    void OnSignalEnd(int32_t, int32_t status) override {
        std::lock_guard<std::mutex> lock(Mutex);
        if (status != 0) Err << "Данный измеритель не предоставляет формы сигналов\n";
    }

    TExchangeThread* Thread = nullptr;
    TExchangeThread* SignalThread = nullptr;
    TmonSignalControl* Signal = nullptr;
    TmonHeadlessSignalWindow* SignalWindow = nullptr;
    bool ModelIsA = false;
    int64_t Blocks = 0;
    std::mutex SignalMutex;
    int64_t Records = 0;
    bool SaveFailed = false;
    int32_t Code = 0, Status = 0;
    std::string Text;
    std::mutex Mutex;

private:
    void Outage(const char* what, const TExchangeThread* thread, int32_t code, int32_t status,
                uint32_t retryMs) {
        std::string text = thread ? thread->EndText(code, status) : std::string();
        if (!text.empty() && text.back() != '.') text += '.';
        const std::string detail = status == 0 ? PortAccessDetail(code, &Connection) : "";
        std::lock_guard<std::mutex> lock(Mutex);
        Err << CliTimeText(NowDateTime()) << ' ' << what << text << " Повтор через "
            << (retryMs + 999) / 1000 << " с.\n";
        if (!detail.empty()) Err << detail << '\n';
        Err.flush();
    }

    bool SaveCsv(const TmonStorage& snap) {
        std::string error, file;
        bool ok;
        // The last waveform block goes with the record once one has arrived.
        const TSigExperiment* exp = Signal && Blocks > 0 ? Signal->Experiment() : nullptr;
        const double iF = exp ? SignalWindow->ICoef() : 0, uF = exp ? SignalWindow->UCoef() : 0;
        if (!O.CsvDir.empty()) {
            file = O.CsvDir + "/" + MeasurementsCsvFileName(Device.FactoryNumber, NowDateTime());
            ok = ForceDirectories(O.CsvDir, &error) &&
                 WriteMeasurementsCsv(Device, snap, iF, uF, exp, file, CsvOptions, &error);
        } else {
            ok = SaveMeasurementsToFile(Device, snap, iF, uF, exp, CsvOptions, &file, &error);
        }
        if (ok)
            Err << "Сохранено: " << file << '\n';
        else
            Err << "Не удалось сохранить " << file << ": " << error << '\n';
        return ok;
    }

    const TCliOptions& O;
    std::ostream& Out;
    std::ostream& Err;
    TmonSharedStorage& Storage;
    const TccnConnection& Connection;
    TmonCsvDevice Device;
    bool Neutral;
    int EndFd;
    TmonCsvOptions CsvOptions;
};

} // namespace

int RunConnections(const TCliOptions& o, std::ostream& out, std::ostream& err) {
    TmonIniFile settings = OpenSettings(o);
    TccnConnectionList list;
    if (!LoadList(settings, list, err)) return 1;
    if (o.Text) {
        TccnMemoryStream stream;
        try {
            list.SaveToStream(stream, sfText);
        } catch (const std::exception& e) {
            err << e.what() << '\n';
            return 1;
        }
        out << stream.Data();
        return 0;
    }
    out << ConnectionRows(list, settings.ReadSelectedID());
    return 0;
}

int RunPoll(const TCliOptions& o, std::ostream& out, std::ostream& err, int stopFd) {
    // The trace file first: one that cannot be opened is refused before anything runs.
    TCliLineLog lineLog(err);
    {
        std::string error;
        if (!lineLog.Open(o, error)) {
            err << error << '\n';
            return 2;
        }
    }
    // Where the meter is.
    TccnConnectionList list;
    std::unique_ptr<TccnConnection> own;
    std::unique_ptr<TMeterSimulator> sim;
    const TccnConnection* connection = nullptr;
    if (o.Id >= 0) {
        TmonIniFile settings = OpenSettings(o);
        if (!LoadList(settings, list, err)) return 2;
        connection = list.FindByID(o.Id);
        if (!connection) {
            err << "Подключение с идентификатором " << o.Id << " не найдено в "
                << settings.FileName() << '\n';
            return 2;
        }
    } else if (o.Demo) {
        TSimOptions so;
        so.ModelIndex = o.Model.empty() ? 1 : ModelIndexOfName(o.Model);
        so.ListenPort = 0;
        so.LogFile = o.DemoLog;
        // The requests go to the factory number's 16 bits; the simulated meter answers there.
        const int32_t factory = o.Factory > 0 ? o.Factory : 1;
        so.Address = uint16_t(factory);
        sim = std::make_unique<TMeterSimulator>(so);
        std::string error;
        if (!sim->Start(&error)) {
            err << "Не удалось запустить имитатор измерителя: " << error << '\n';
            return 2;
        }
        err << "Демонстрация: имитатор измерителя на 127.0.0.1:" << sim->port() << '\n';
        own = MakeConnection(so.ModelIndex, factory, o, "127.0.0.1", sim->port());
        connection = own.get();
    } else {
        own = MakeConnection(ModelIndexOfName(o.Model), o.Factory, o, o.TcpHost, o.TcpPort);
        connection = own.get();
    }

    // The module takes its callback when it starts, and the threads their log mask when they
    // are made; the mask goes back to none with the run.
    LCAInitialize(lineLog.LogProc());
    monSetExchangeLogMask(lineLog.ChannelLogMask());
    struct TMaskReset {
        ~TMaskReset() { monSetExchangeLogMask(0); }
    } maskReset;
    const int endFd = eventfd(0, EFD_CLOEXEC);
    int result = 0;
    {
        TmonSharedStorage storage;
        std::unique_ptr<TPrinter> printer;
        std::unique_ptr<TmonSignalControl> signal;
        std::unique_ptr<TmonHeadlessSignalWindow> signalWindow;
        std::unique_ptr<TCliRecording> recording;
        // Threads last: they go first, before anything they use.
        std::unique_ptr<TMainExchangeThread> thread;
        std::unique_ptr<TSignalExchangeThread> signalThread;
        try {
            const TccnCustomDevice* device = connection->CustomDevice();
            const int type = device ? int(device->DeviceType()) : -1;
            const bool neutral =
                ModelHasNeutral(ModelIndexOfDeviceTypeValue(type)); // false outside the six
            storage.Update([&](TmonStorage& s) { s.Settings.HasNeutral = neutral ? 1 : 0; });
            printer = std::make_unique<TPrinter>(
                o, out, lineLog.Err(), storage, *connection, neutral, endFd,
                CsvOptionsOf(TCliLocale::FromEnvironment(), o.Decimal));
            IExchangeListener* listener = printer.get();
            if (!o.RecordFile.empty() || o.RecordSeries) {
                recording = std::make_unique<TCliRecording>(storage, printer.get());
                recording->SetCommitInterval(o.CommitEverySec);
                listener = recording->Listener();
            }
            thread = std::make_unique<TMainExchangeThread>(listener, connection, &storage);
            if (o.Signal) {
                signal = std::make_unique<TmonSignalControl>(neutral);
                signalWindow = std::make_unique<TmonHeadlessSignalWindow>(neutral);
                printer->Signal = signal.get();
                printer->SignalWindow = signalWindow.get();
                printer->ModelIsA = ModelIsA(ModelIndexOfDeviceTypeValue(type));
                signalThread = std::make_unique<TSignalExchangeThread>(
                    listener, connection, &storage, signal->Experiment());
            }
            std::string error;
            const std::string folder =
                o.RecordDir.empty() ? RecordingFolder(GetDocumentsPath()) : o.RecordDir;
            if (recording && o.RecordSeries && folder.empty())
                throw std::runtime_error("Не найдена папка документов для журналов; укажите "
                                         "--record-dir DIR");
            if (recording &&
                !(o.RecordSeries ? recording->OpenSeries(folder, o.Rotate, *connection, error)
                                 : recording->Open(o.RecordFile, *connection, error)))
                throw std::runtime_error(error);
        } catch (const std::exception& e) {
            err << e.what() << '\n';
            close(endFd);
            LCAFinalize();
            return 2;
        }
        printer->Thread = thread.get();
        printer->SignalThread = signalThread.get();
        if (o.Reconnect) {
            TmonReconnect policy;
            policy.Enabled = true;
            policy.MaxMs = o.ReconnectMaxSec * 1000;
            thread->SetReconnect(policy);
            if (signalThread) signalThread->SetReconnect(policy);
        }
        if (recording) {
            recording->SetPollingThread(thread.get());
            recording->OnFailure([&thread] { thread->Stop(); });
        }
        thread->Start();
        if (signalThread) signalThread->Start();
        pollfd fds[2] = {{endFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        bool stopping = false;
        for (;;) {
            const int n = poll(fds, stopFd >= 0 && !stopping ? 2 : 1, -1);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) break;
            if (fds[0].revents) break;
            if (!stopping && (fds[1].revents & POLLIN)) {
                stopping = true;
                thread->Stop();
            }
        }
        thread->Join();
        if (signalThread) {
            // Polling is over; the waveforms stop with it.
            signalThread->Stop();
            signalThread->Join();
        }
        std::lock_guard<std::mutex> lock(printer->Mutex);
        if (printer->Code != 0 || printer->Status != 0) {
            err << "Ошибка обмена с измерителем: " << printer->Text << '\n';
            if (printer->Status == 0) {
                const std::string detail = PortAccessDetail(printer->Code, connection);
                if (!detail.empty()) err << detail << '\n';
            }
            result = 1;
        }
        if (printer->SaveFailed) result = 1;
        thread.reset();
        signalThread.reset();
        if (recording) {
            // Only after the threads: nothing writes any more.
            const std::string error = recording->Finish();
            if (!error.empty()) {
                err << error << '\n';
                result = 1;
            }
        }
    }
    close(endFd);
    LCAFinalize();
    std::string traceError;
    if (!lineLog.Finish(traceError)) {
        err << traceError << '\n';
        result = 1;
    }
    return result;
}

} // namespace qz
