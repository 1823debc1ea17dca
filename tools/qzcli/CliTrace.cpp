#include "tools/qzcli/CliTrace.h"

#include "channel/LCAObject.h"
#include "tools/qzcli/CliOptions.h"

#include <cstdio>

namespace qz {

std::string LinkJson(const TLinkStatistics& s) {
    return "{\"Requests\":" + std::to_string(s.Requests) +
           ",\"Answers\":" + std::to_string(s.Answers) +
           ",\"Repeats\":" + std::to_string(s.Repeats) +
           ",\"CheckErrors\":" + std::to_string(s.CheckErrors) +
           ",\"Timeouts\":" + std::to_string(s.Timeouts) +
           ",\"BytesSent\":" + std::to_string(s.BytesSent) +
           ",\"BytesReceived\":" + std::to_string(s.BytesReceived) +
           ",\"LastRoundTripMs\":" + std::to_string(s.LastRoundTripMs) +
           ",\"Reconnections\":" + std::to_string(s.Reconnections) + "}";
}

std::string WithLinkJson(const std::string& recordJson, const TLinkStatistics& s) {
    const auto end = recordJson.rfind('}');
    if (end == std::string::npos) return recordJson;
    const auto before =
        end == 0 ? std::string::npos : recordJson.find_last_not_of(" \t\r\n", end - 1);
    const bool empty = before == std::string::npos || recordJson[before] == '{';
    return recordJson.substr(0, end) + (empty ? "" : ",") + "\"Link\":" + LinkJson(s) +
           recordJson.substr(end);
}

std::string FormatConnectProgress(const std::string& text, std::chrono::milliseconds elapsed) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%5.1f с] ", double(elapsed.count()) / 1000.0);
    return stamp + SanitizeTraceText(text);
}

// ---------------------------------------------------------------------------------------------

TCliLineStream::TCliLineStream(std::ostream& target, std::mutex& mutex)
    : std::ostream(nullptr), Buf(target, mutex) {
    rdbuf(&Buf);
}

TCliLineStream::~TCliLineStream() {
    Buf.pubsync();
}

TCliLineStream::TBuf::int_type TCliLineStream::TBuf::overflow(int_type ch) {
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    Line += traits_type::to_char_type(ch);
    if (ch == '\n') Emit();
    return ch;
}

std::streamsize TCliLineStream::TBuf::xsputn(const char* s, std::streamsize n) {
    for (std::streamsize i = 0; i < n; ++i) {
        Line += s[i];
        if (s[i] == '\n') Emit();
    }
    return n;
}

int TCliLineStream::TBuf::sync() {
    if (!Line.empty()) Emit();
    return 0;
}

void TCliLineStream::TBuf::Emit() {
    std::lock_guard<std::mutex> lock(Mutex);
    Target << Line;
    Target.flush();
    Line.clear();
}

// ---------------------------------------------------------------------------------------------

TCliLineLog::TCliLineLog(std::ostream& err) : Target(err), Shared(err, Mutex) {}

bool TCliLineLog::Open(const TCliOptions& o, std::string& error) {
    ShowProgress = !o.Json;
    // The module's dumps are as long as this run's trace wants them.
    LCASetDumpLimit(o.TraceBytes);
    if (!o.TraceFile.empty()) {
        TLCATraceOptions options;
        options.MaxFileBytes = uint64_t(o.TraceSizeMb) * 1024 * 1024;
        Trace = TLCATrace::Open(o.TraceFile, o.TraceMask, error, options);
        if (!Trace) return false;
    }
    return true;
}

TLCALogProc TCliLineLog::LogProc() {
    if (!Trace && !ShowProgress) return nullptr;
    TLCALogProc trace = Trace ? Trace->LogProc() : nullptr;
    const bool progress = ShowProgress;
    return [this, trace, progress](const std::string& text, uint8_t msgClass, TLCAHandle h) {
        if (trace) trace(text, msgClass, h);
        if (progress && msgClass == lcaLogConnect) Progress(text, h);
    };
}

uint8_t TCliLineLog::ChannelLogMask() const {
    return uint8_t((Trace ? Trace->ChannelLogMask() : 0) | (ShowProgress ? lcaLogConnect : 0));
}

void TCliLineLog::Progress(const std::string& text, TLCAHandle handle) {
    const auto now = TClock::now();
    std::lock_guard<std::mutex> lock(Mutex);
    // The seconds count from the start of the channel's connect: a modem's stages, or the
    // attempts of a TCP connect, each show how long the line has been trying.
    auto it = ConnectStart.find(handle.Id);
    if (text == "Соединение..." || it == ConnectStart.end())
        it = ConnectStart.insert_or_assign(handle.Id, now).first;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - it->second);
    Target << FormatConnectProgress(text, elapsed) << '\n';
    Target.flush();
}

bool TCliLineLog::Finish(std::string& error) {
    Shared.flush();
    if (!Trace || Trace->Stop()) return true;
    error = Trace->ErrorText();
    return false;
}

} // namespace qz
