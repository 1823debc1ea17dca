#include "collector/colMeter.h"

#include "connection/CcnConnectionList.h"
#include "journal/jnMeterOf.h"
#include "protocol/QZ2Models.h"
#include "settings/cmnPortAccess.h"

#include <stdexcept>

namespace qz {

TcolMeterId MeterIdOf(const TccnConnection& connection) {
    const TjnMeter m = JournalMeterOf(connection, "qzcli");
    TcolMeterId id;
    id.Code = m.ModelIndex >= 0 && m.ModelIndex < kQZ2ModelCount
                  ? QZ2Model(m.ModelIndex).CmdLineName
                  : "qz";
    id.Model = m.Model;
    id.FactoryNumber = m.FactoryNumber;
    return id;
}

// After the recorder: what it has committed may be delivered.
class TcolMeter::TTail : public IExchangeListener {
public:
    explicit TTail(std::function<void()> grown) : Grown(std::move(grown)) {}
    void OnData3sec() override { Grown(); }
    std::function<void()> Grown;
};

// Between the polling thread and the recorder: an outage begins in the journal, and is said.
class TcolMeter::TFront : public IExchangeListener {
public:
    TFront(TcolMeter& m) : M(m) {}
    void OnData3sec() override { M.FRecorder->OnData3sec(); }
    void OnAnswer(const TmonAnswer& a) override { M.FRecorder->OnAnswer(a); }
    void OnExchangeEnd(int32_t code, int32_t status) override {
        M.FRecorder->OnExchangeEnd(code, status);
        if (code != 0 || status != 0)
            M.FLog.Write(M.Name(), "Опрос прекращён: " + M.FThread->EndText(code, status));
    }
    void OnOutage(int32_t code, int32_t status, uint32_t retryMs) override {
        const std::string text = M.FThread->EndText(code, status);
        M.FRecorder->BeginOutage(code, status, text);
        // A serial port the service's account may not open: the device and the cure.
        const std::string detail =
            status == 0 ? PortAccessDetail(code, M.FSpec.Connection.get()) : std::string();
        M.FLog.Write(M.Name(), "Ошибка обмена с измерителем: " + text +
                                   (detail.empty() ? "" : " " + detail) + " Повтор через " +
                                   std::to_string((retryMs + 999) / 1000) + " с.");
        M.FTail->Grown();
    }
    TcolMeter& M;
};

TcolMeter::TcolMeter(TcolMeterSpec spec, const TcolMeterOptions& options, TcolLog& log,
                     std::function<void()> grown)
    : FSpec(std::move(spec)), FOptions(options), FLog(log), FId(MeterIdOf(*FSpec.Connection)),
      FFolder(options.RecordingsDir + "/" + MeterFolderName(FId)),
      FTail(std::make_unique<TTail>(std::move(grown))) {}

TcolMeter::~TcolMeter() {
    Stop();
    Join();
}

bool TcolMeter::Start(std::string& error) {
    try {
        FRecorder = std::make_unique<TjnRotatingRecorder>(FStorage, FTail.get());
        if (!FRecorder->Start(FFolder, JournalMeterOf(*FSpec.Connection, "qzcli"),
                              FOptions.Rotation, error))
            return false;
        FFront = std::make_unique<TFront>(*this);
        FThread =
            std::make_unique<TMainExchangeThread>(FFront.get(), FSpec.Connection.get(), &FStorage);
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    // A journal that cannot be written stops this meter only.
    FRecorder->OnFailure = [this](const std::string& reason) {
        FLog.Write(Name(), "Запись журнала прекращена: " + reason);
        FThread->Stop();
    };
    TmonReconnect policy;
    policy.Enabled = true;
    policy.MaxMs = FOptions.ReconnectMaxMs;
    FThread->SetReconnect(policy);
    FThread->Start();
    return true;
}

void TcolMeter::Stop() {
    if (FThread) FThread->Stop();
}

void TcolMeter::Join() {
    if (FJoined || !FThread) return;
    FJoined = true;
    FThread->Join();
    FThread.reset();
    std::string error;
    if (!FRecorder->Close(error))
        FLog.Write(Name(), JournalWriteErrorText(FRecorder->FileName(), error));
}

} // namespace qz
