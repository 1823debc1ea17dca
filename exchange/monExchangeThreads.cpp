#include "exchange/monExchangeThreads.h"

#include "channel/LCAType.h"
#include "connection/CcnConnectionList.h"
#include "exchange/monLineParams.h"
#include "protocol/CommonQZ2Protocol.h"
#include "protocol/CustomProtocol.h"
#include "protocol/DeviceStatus.h"
#include "protocol/QZ2Models.h"
#include "sigcalc/sigcalc.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <time.h>

namespace qz {

// ---------------------------------------------------------------------------------------------
// Waits

TmonClock TmonClock::Real() {
    TmonClock c;
    c.Ticks = [] {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return uint32_t(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
    };
    c.Sleep = [](uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    return c;
}

void monSleepFor(uint32_t ms, const TmonClock& clock, const std::function<bool()>& stop) {
    const uint32_t end = clock.Ticks() + ms; // wraps like the tick count itself
    uint32_t now = clock.Ticks();
    // A wait whose end lies near the top of the range stops once the count has wrapped to
    // small values; otherwise it would last for the whole 49-day cycle.
    while (!stop() && now < end && (end <= 4000000000u || now >= 1000000000u)) {
        clock.Sleep(50);
        now = clock.Ticks();
    }
}

void monWaitUntil(uint32_t start, uint32_t period, const TmonClock& clock,
                  const std::function<bool()>& stop) {
    const uint32_t now = clock.Ticks();
    // Only a count below the start means it wrapped since then. A cycle that ended within the
    // tick it began in still waits its whole period: the meter is asked once per interval.
    if (now >= start && now - start < period) monSleepFor(period - (now - start), clock, stop);
}

uint32_t monNextRetryMs(uint32_t current, const TmonReconnect& policy) {
    const uint64_t doubled = uint64_t(current) * 2;
    return uint32_t(std::max<uint64_t>(policy.FirstMs, std::min<uint64_t>(doubled, policy.MaxMs)));
}

bool monSettingsChanged(bool changeFlag, TDateTime changeTime, TDateTime remembered) {
    const double oneMs = 1.0 / kMSecsPerDay;
    return !(changeFlag && std::fabs(changeTime - remembered) < oneMs);
}

// ---------------------------------------------------------------------------------------------
// TExchangeThread

namespace {
std::atomic<uint8_t> gExchangeLogMask{0};
} // namespace

void monSetExchangeLogMask(uint8_t mask) {
    gExchangeLogMask = mask;
}

uint8_t monExchangeLogMask() {
    return gExchangeLogMask.load();
}

struct TExchangeThread::TProtocolArgs {
    TLCAParams Line;
    uint16_t AttemptCount = 0;
    uint16_t DeviceAddress = 0;
    uint8_t Variant = 0;
};

TExchangeThread::TExchangeThread(IExchangeListener* listener, const TccnConnection* connection,
                                 TmonSharedStorage* storage)
    : FListener(listener), FStorage(storage) {
    if (!connection) throw std::runtime_error("ExchangeThread: подключение не может быть nil");
    if (!storage) throw std::runtime_error("ExchangeThread: хранилище не может быть nil");
    const TccnCustomDevice* device = connection->CustomDevice();
    const int type = device ? int(device->DeviceType()) : -1;
    const std::string typeName =
        (type >= 0 && type < DeviceTypeCount) ? DeviceTypeNames[type] : std::string();
    FModelIndex = uint8_t(ModelIndexOfDeviceType(type, typeName));
    const auto* protocol =
        dynamic_cast<const TccnKavrenProtocol*>(connection->CustomDeviceProtocol());
    if (!protocol || protocol->ProtocolType() != dptKavren)
        throw std::runtime_error(std::string("Обмен с измерителями поддерживается только по "
                                             "протоколу \"") +
                                 DeviceProtocolTypeNames[dptKavren] + "\"");

    // Everything the thread needs from the connection, taken now.
    FArgs = std::make_unique<TProtocolArgs>();
    if (const TccnCustomConMode* mode = connection->CustomConMode()) {
        FillPCAParams(mode, FArgs->Line.Pca);
        FArgs->Line.MaxAttemptCountOnConnect = uint16_t(mode->MaxAttemptCountOnConnect());
        FArgs->Line.Priority = 1;
        FArgs->Line.LogMask = monExchangeLogMask();
    }
    FArgs->AttemptCount = uint16_t(protocol->MaxAttemptCount());
    FArgs->DeviceAddress = protocol->DeviceAddress();
    FArgs->Variant = QZ2Model(FModelIndex).Variant;
}

TExchangeThread::~TExchangeThread() {
    Stop();
    Join();
}

void TExchangeThread::Start() {
    if (!FThread.joinable() && !FFinished) FThread = std::thread([this] { Body(); });
}

void TExchangeThread::Stop() {
    FTerminated = true;
    std::lock_guard<std::mutex> lock(FProtocolMutex);
    if (FProtocol) FProtocol->Cancel();
}

void TExchangeThread::Join() {
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

std::string TExchangeThread::GetErrorText() const {
    if (const int32_t code = FDataError.load()) return ProtocolErrorText(code);
    std::lock_guard<std::mutex> lock(FProtocolMutex);
    return FProtocol ? FProtocol->GetErrorText() : std::string();
}

std::string TExchangeThread::EndText(int32_t errorCode, int32_t deviceStatus) const {
    if (deviceStatus != 0) return DeviceStatusText(deviceStatus & 0xFFFF);
    return errorCode != 0 ? GetErrorText() : std::string();
}

TLinkStatistics TExchangeThread::LinkStatistics() const {
    std::lock_guard<std::mutex> lock(FProtocolMutex);
    return FProtocol ? FProtocol->LinkStatistics() : FLastStatistics;
}

bool TExchangeThread::RefuseData() {
    FDataError = prtErrBadData;
    return false;
}

void TExchangeThread::EndCodes(int32_t& code, int32_t& status) const {
    code = 0;
    status = 0;
    if (Terminated()) return;
    if (const int32_t data = FDataError.load()) {
        code = data; // the answer arrived and checked out, but its contents cannot be used
        return;
    }
    code = FProtocol->GetLastError();
    status = FProtocol->GetCommand() ? FProtocol->GetCommand()->GetDeviceStatus() : 0;
}

void TExchangeThread::CreateProtocol() {
    auto protocol = std::make_unique<TCommonQZ2Protocol>(FArgs->Line, false, FArgs->AttemptCount,
                                                         FArgs->DeviceAddress, FArgs->Variant);
    std::lock_guard<std::mutex> lock(FProtocolMutex);
    FProtocol = std::move(protocol);
    if (FTerminated) FProtocol->Cancel(); // a stop that came before the protocol existed
}

void TExchangeThread::FreeProtocol() {
    std::unique_ptr<TCommonQZ2Protocol> old;
    {
        std::lock_guard<std::mutex> lock(FProtocolMutex);
        if (FProtocol) FLastStatistics = FProtocol->LinkStatistics();
        old.swap(FProtocol);
    }
}

void TExchangeThread::SleepFor(uint32_t ms) {
    monSleepFor(ms, FClock, [this] { return Terminated(); });
}

void TExchangeThread::WaitUntil(uint32_t start, uint32_t period) {
    monWaitUntil(start, period, FClock, [this] { return Terminated(); });
}

TDateTime TExchangeThread::HeaderTime() const {
    const auto* cmd = dynamic_cast<const TQZ2_CustomCmd*>(FProtocol->GetCommand());
    return cmd ? cmd->RecordTime() : 0;
}

void TExchangeThread::Tell(TmonAnswerKind kind, const uint8_t* data, size_t size,
                           TDateTime meterTime, uint8_t mask, uint8_t sizeCode) {
    if (!FListener) return;
    TmonAnswer a;
    a.Kind = kind;
    a.Data = data;
    a.Size = size;
    a.MeterTime = meterTime;
    a.ChannelMask = mask;
    a.SizeCode = sizeCode;
    FListener->OnAnswer(a);
}

bool TExchangeThread::Reconnect(uint32_t& retryMs,
                                void (IExchangeListener::*tell)(int32_t, int32_t, uint32_t)) {
    int32_t code = 0, status = 0;
    EndCodes(code, status);
    if (FListener) (FListener->*tell)(code, status, retryMs);
    // Closing the channel closes the line once no other channel uses it: the next request
    // connects anew.
    FreeProtocol();
    FDataError = 0;
    SleepFor(retryMs);
    retryMs = monNextRetryMs(retryMs, FReconnect);
    if (Terminated()) return false;
    CreateProtocol();
    return true;
}

void TExchangeThread::Body() {
    try {
        Execute();
    } catch (...) {
        // Execute reports its own end; an unexpected exception must not take the process.
    }
    FreeProtocol();
    FFinished = true;
}

// ---------------------------------------------------------------------------------------------
// TMainExchangeThread

TMainExchangeThread::~TMainExchangeThread() {
    Stop();
    Join(); // before the members Execute uses are gone
}

bool TMainExchangeThread::ReadTimeParams(TDateTime& changeTime, TDateTime& deviceTime,
                                         bool& changeFlag) {
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (!FProtocol->ReadTimeParams(data, size) || Terminated()) return false;
    const auto* cmd = FProtocol->CommandAs<TQZ2_TimeParamsCmd>();
    if (!cmd) return RefuseData();
    deviceTime = cmd->DeviceTime();
    changeTime = cmd->ChangeTime();
    changeFlag = cmd->ChangeFlag();
    Tell(TmonAnswerKind::TimeParams, data, size, deviceTime);
    return true;
}

bool TMainExchangeThread::ReadSettings() {
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (!FProtocol->ReadSettings(data, size) || Terminated()) return false;
    Tell(TmonAnswerKind::Settings, data, size, HeaderTime());
    bool ok = false;
    FStorage->Update([&](TmonStorage& s) { ok = DecodeSettings(data, size, s.Settings); });
    return ok || RefuseData(); // shorter than the settings layout
}

bool TMainExchangeThread::ReadScaleKoeffs(double& voltageScale, double& currentScale) {
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (!FProtocol->ReadScaleKoeffs(data, size) || Terminated()) return false;
    Tell(TmonAnswerKind::ScaleKoeffs, data, size, HeaderTime());
    // A coefficient that is not a finite number would scale every harmonic into nonsense.
    return DecodeScaleKoeffs(data, size, voltageScale, currentScale) || RefuseData();
}

bool TMainExchangeThread::Read3sec(double currentScale, double voltageScale, TDateTime& time) {
    const uint8_t* data = nullptr;
    size_t size = 0;
    const bool extended = ModelHasNeutral(FModelIndex);
    const bool ok = extended ? FProtocol->ReadArchive3secM(data, size, time)
                             : FProtocol->ReadArchive3sec(data, size, time);
    if (!ok || Terminated()) return false;
    Tell(TmonAnswerKind::Record3sec, data, size, time);
    // Decode outside the lock, publish under it.
    const TmonSettings settings = FStorage->Settings();
    TmonData3sec decoded;
    if (Decode3sec(data, size, extended, settings, voltageScale, currentScale, decoded) ==
        TmonDecodeResult::TooShort)
        return RefuseData();
    decoded.Time = time;
    FStorage->Update([&](TmonStorage& s) { s.Data3sec = decoded; });
    return true;
}

void TMainExchangeThread::RunCycles(bool& gotRecord, TDateTime& lastRecordTime) {
    // A fresh start reads the settings and coefficients: the remembered time 0 never equals a
    // decoded one.
    TDateTime remembered = 0, lastDeviceTime = 0;
    double voltageScale = 0, currentScale = 0;
    uint32_t reconnections = 0;
    bool ok = true;
    while (ok && !Terminated()) {
        TDateTime changeTime = 0, deviceTime = 0;
        bool changeFlag = false;
        ok = ReadTimeParams(changeTime, deviceTime, changeFlag);
        if (Terminated()) break;
        if (ok && FReconnect.Enabled) {
            // The line lost its connection and made it again within its own attempts: that
            // is an outage too, only a short one, and the meter may have restarted in it.
            const uint32_t now = LinkStatistics().Reconnections;
            if (now != reconnections) remembered = 0;
            reconnections = now;
        }
        const uint32_t start = Ticks();
        const uint32_t period = uint32_t(3 - DecodeTime(deviceTime).Second % 3) * 1000u;
        if (ok && monSettingsChanged(changeFlag, changeTime, remembered)) {
            ok = ReadSettings();
            if (Terminated()) break;
            if (ok) ok = ReadScaleKoeffs(voltageScale, currentScale);
            if (Terminated()) break;
            if (ok) remembered = changeTime;
        }
        TDateTime recordTime = 0;
        if (ok) {
            ok = Read3sec(currentScale, voltageScale, recordTime);
            if (Terminated()) break;
        }
        if (ok) {
            // The same record again is not announced twice. After an outage the meter may have
            // come back within the interval it last gave. On a slow line an interval may end
            // between the time and the record answers: the record is then the next one, and
            // the next cycle, waited from the time answer, finds it again. A meter whose clock
            // stands still still gives its one record every cycle.
            const bool repeated = lastRecordTime != 0 && recordTime == lastRecordTime &&
                                  (!gotRecord || deviceTime != lastDeviceTime);
            gotRecord = true;
            lastRecordTime = recordTime;
            lastDeviceTime = deviceTime;
            if (FListener && !repeated) FListener->OnData3sec();
            WaitUntil(start, period);
        }
    }
}

void TMainExchangeThread::Execute() {
    CreateProtocol();
    uint32_t retryMs = FReconnect.FirstMs;
    TDateTime lastRecordTime = 0;
    for (;;) {
        bool gotRecord = false;
        RunCycles(gotRecord, lastRecordTime);
        if (Terminated() || !FReconnect.Enabled) break;
        if (gotRecord) retryMs = FReconnect.FirstMs; // the line had recovered
        if (!Reconnect(retryMs, &IExchangeListener::OnOutage)) break;
    }
    int32_t code = 0, status = 0;
    EndCodes(code, status);
    if (FListener) FListener->OnExchangeEnd(code, status);
}

// ---------------------------------------------------------------------------------------------
// TSignalExchangeThread

TSignalExchangeThread::TSignalExchangeThread(IExchangeListener* listener,
                                             const TccnConnection* connection,
                                             TmonSharedStorage* storage, TSigExperiment* experiment)
    : TExchangeThread(listener, connection, storage), FExperiment(experiment) {
    if (!experiment) throw std::runtime_error("ExchangeThread: сигнал не может быть nil");
}

TSignalExchangeThread::~TSignalExchangeThread() {
    Stop();
    Join();
}

void TSignalExchangeThread::Execute() {
    CreateProtocol();
    // Waveform requests start once the polling thread has the meter's settings.
    while (std::fabs(FStorage->Settings().VoltageRatio) < 1e-4 && !Terminated())
        SleepFor(100);
    uint32_t retryMs = FReconnect.FirstMs;
    while (!Terminated()) {
        const uint32_t start = Ticks();
        const uint8_t mask = FExperiment->ChannelMask.load();
        const uint8_t sizeCode = FExperiment->SizeCode.load();
        uint16_t size = 0;
        const uint8_t* data = nullptr;
        const bool ok = FProtocol->ReadSignalTrend(mask, sizeCode, size, data);
        if (Terminated()) break;
        if (ok) {
            Tell(TmonAnswerKind::Signal, data, size, HeaderTime(), mask, sizeCode);
            FStorage->Update([&](TmonStorage& s) {
                s.SignalData = data;
                s.SignalSize = size;
            });
            if (FListener) FListener->OnSignalData(mask, sizeCode);
            // The block lives in the protocol's answer: gone with the next request.
            FStorage->Update([&](TmonStorage& s) {
                s.SignalData = nullptr;
                s.SignalSize = 0;
            });
            retryMs = FReconnect.FirstMs;
        } else {
            const int32_t status =
                FProtocol->GetCommand() ? FProtocol->GetCommand()->GetDeviceStatus() : 0;
            if (status == 2 || status == 3 || status == 4) break; // no waveforms of this kind
            if (FReconnect.Enabled) {
                if (!Reconnect(retryMs, &IExchangeListener::OnSignalOutage)) break;
                continue;
            }
        }
        WaitUntil(start, 1000);
    }
    int32_t code = 0, status = 0;
    EndCodes(code, status);
    if (FListener) FListener->OnSignalEnd(code, status);
}

} // namespace qz
