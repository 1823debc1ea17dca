#include "monitor/monProgress.h"

#include "channel/LCATrace.h"

namespace qz {

namespace {
constexpr char kConnecting[] = "Соединение...";
} // namespace

std::string monConnectProgressText(const std::string& stage, bool connecting,
                                   std::chrono::milliseconds elapsed) {
    const std::string text = SanitizeTraceText(stage);
    if (!connecting) return text;
    const long long seconds = elapsed.count() < 0 ? 0 : elapsed.count() / 1000;
    return text + " " + std::to_string(seconds) + " с";
}

std::string monLinkStatisticsText(const TLinkStatistics& s) {
    std::string t = "Запросов: " + std::to_string(s.Requests) +
                    "\nОтветов: " + std::to_string(s.Answers) +
                    "\nПовторов: " + std::to_string(s.Repeats) +
                    "\nОшибок контрольной суммы: " + std::to_string(s.CheckErrors) +
                    "\nТайм-аутов: " + std::to_string(s.Timeouts) +
                    "\nПередано байт: " + std::to_string(s.BytesSent) +
                    "\nПринято байт: " + std::to_string(s.BytesReceived) + "\nПоследний обмен: ";
    t += s.LastRoundTripMs < 0 ? std::string("—") : std::to_string(s.LastRoundTripMs) + " мс";
    return t;
}

TmonLineLog::TmonLineLog(std::function<TClock::time_point()> clock) : FClock(std::move(clock)) {
    if (!FClock) FClock = [] { return TClock::now(); };
}

TmonLineLog::~TmonLineLog() = default;

TLCALogProc TmonLineLog::LogProc() {
    return [this](const std::string& text, uint8_t msgClass, TLCAHandle h) {
        Report(text, msgClass, h);
    };
}

void TmonLineLog::Report(const std::string& text, uint8_t msgClass, TLCAHandle handle) {
    TLCALogProc trace;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        trace = FTraceProc;
    }
    // The trace filters by its own classes and only queues the message.
    if (trace) trace(text, msgClass, handle);
    if (msgClass != lcaLogConnect) return;
    const auto now = FClock();
    std::lock_guard<std::mutex> lock(FMutex);
    // The seconds count from the start of the channel's connect, across a modem's stages.
    auto it = FStages.find(handle.Id);
    const bool begins = text == kConnecting || it == FStages.end();
    TmonLineStage& s = FStages[handle.Id];
    if (begins) s.Start = now;
    s.Text = text;
    s.Channel = handle.Id;
    // The worker ends a connect with "Соединение установлено." or "Соединение не
    // установлено: …"; everything else is a stage on the way.
    s.Connecting = text.rfind("Соединение установлено", 0) != 0 &&
                   text.rfind("Соединение не установлено", 0) != 0;
    FLast = s;
    if (FNotify) FNotify();
}

std::shared_ptr<TLCATrace> TmonLineLog::SetTrace(std::shared_ptr<TLCATrace> trace) {
    std::lock_guard<std::mutex> lock(FMutex);
    FTraceProc = trace ? trace->LogProc() : nullptr;
    std::swap(FTrace, trace);
    return trace;
}

std::shared_ptr<TLCATrace> TmonLineLog::Trace() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FTrace;
}

uint8_t TmonLineLog::ChannelLogMask() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return uint8_t(lcaLogConnect | (FTrace ? FTrace->ChannelLogMask() : 0));
}

std::optional<TmonLineStage> TmonLineLog::LastStage() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FLast;
}

void TmonLineLog::ClearStages() {
    std::lock_guard<std::mutex> lock(FMutex);
    FStages.clear();
    FLast.reset();
}

void TmonLineLog::SetNotify(std::function<void()> notify) {
    std::lock_guard<std::mutex> lock(FMutex);
    FNotify = std::move(notify);
}

TmonLineLog& monLineLog() {
    // Never destroyed: a module not finalised before the program's exit may still report.
    static TmonLineLog* log = new TmonLineLog;
    return *log;
}

} // namespace qz
