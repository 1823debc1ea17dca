// What qzcli makes of the line: the trace file (--trace), the connection's progress on
// stderr (without --json), and the link figures each JSON record carries.
#pragma once

#include "channel/LCATrace.h"
#include "channel/LCAType.h"
#include "protocol/CustomProtocol.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>

namespace qz {

struct TCliOptions;

// {"Requests":..,"Answers":..,...,"LastRoundTripMs":..}
std::string LinkJson(const TLinkStatistics& s);
// A JSON record with the link figures added as its last member "Link".
std::string WithLinkJson(const std::string& recordJson, const TLinkStatistics& s);
// One progress line: "[  3.2 с] Соединение установлено."
std::string FormatConnectProgress(const std::string& text, std::chrono::milliseconds elapsed);

// A stream that hands whole lines to a target stream under a lock, so that lines written
// from the exchange threads and from the channel worker never interleave or race.
class TCliLineStream : public std::ostream {
public:
    TCliLineStream(std::ostream& target, std::mutex& mutex);
    ~TCliLineStream() override;

private:
    class TBuf : public std::streambuf {
    public:
        TBuf(std::ostream& target, std::mutex& mutex) : Target(target), Mutex(mutex) {}
        int_type overflow(int_type ch) override;
        std::streamsize xsputn(const char* s, std::streamsize n) override;
        int sync() override;

    private:
        void Emit();
        std::ostream& Target;
        std::mutex& Mutex;
        std::string Line;
    };
    TBuf Buf;
};

// The log callback of one poll run. Made before the module starts (the module takes its
// callback when it starts); finished after it has ended.
class TCliLineLog {
public:
    explicit TCliLineLog(std::ostream& err);
    TCliLineLog(const TCliLineLog&) = delete;
    TCliLineLog& operator=(const TCliLineLog&) = delete;

    // Opens the trace file the options ask for and decides on the progress lines. False,
    // with the operator's text in error, when the file cannot be opened.
    bool Open(const TCliOptions& options, std::string& error);
    // The callback for LCAInitialize; null when nothing is wanted.
    TLCALogProc LogProc();
    // The classes the channels must report.
    uint8_t ChannelLogMask() const;
    // stderr for the other writers of the run while the callback may print.
    std::ostream& Err() { return Shared; }
    // Called after LCAFinalize: the trace is written out and closed. False with the text in
    // error when a line could not be written.
    bool Finish(std::string& error);

private:
    void Progress(const std::string& text, TLCAHandle handle);

    std::ostream& Target;
    std::mutex Mutex;
    TCliLineStream Shared;
    std::unique_ptr<TLCATrace> Trace;
    bool ShowProgress = false;
    using TClock = std::chrono::steady_clock;
    std::map<int32_t, TClock::time_point> ConnectStart; // by channel, under Mutex
};

} // namespace qz
