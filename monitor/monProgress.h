// The line's messages as the window program takes them: one log callback for the whole
// process (the channel worker takes its callback once, when it starts), which hands every
// message to the line trace switched on at the moment, if any, and keeps the stage of each
// channel's connect for the window's progress label. No Qt: the callback runs on the worker
// thread and never waits for the window.
#pragma once

#include "channel/LCAType.h"
#include "protocol/CustomProtocol.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace qz {

class TLCATrace;

// The progress label's text: "Соединение... 12 с" while a stage goes on (the whole seconds
// since the connect began), the final text alone once it has ended.
std::string monConnectProgressText(const std::string& stage, bool connecting,
                                   std::chrono::milliseconds elapsed);
// The label's tooltip: the figures of the polling thread's conversation.
std::string monLinkStatisticsText(const TLinkStatistics& s);

// The stage a channel's connect has reached.
struct TmonLineStage {
    std::string Text;
    bool Connecting = false; // "Соединение..." and the stages before the end
    std::chrono::steady_clock::time_point Start; // when the connect began
    int32_t Channel = 0;
};

class TmonLineLog {
public:
    using TClock = std::chrono::steady_clock;
    explicit TmonLineLog(std::function<TClock::time_point()> clock = {});
    ~TmonLineLog();
    TmonLineLog(const TmonLineLog&) = delete;
    TmonLineLog& operator=(const TmonLineLog&) = delete;

    // The callback to start the module with. Any thread; it never waits for a file or the
    // window.
    TLCALogProc LogProc();
    void Report(const std::string& text, uint8_t msgClass, TLCAHandle handle);

    // The trace that receives the messages from now on (null: none); the one it replaces is
    // returned, for the caller to stop. A message in flight may still reach the old one.
    std::shared_ptr<TLCATrace> SetTrace(std::shared_ptr<TLCATrace> trace);
    std::shared_ptr<TLCATrace> Trace() const;
    // The classes the channels must report: the connect for the progress, and the trace's.
    uint8_t ChannelLogMask() const;

    // The stage last reported by any channel; none before the first.
    std::optional<TmonLineStage> LastStage() const;
    // Forgets the stages (a new poll starts from nothing).
    void ClearStages();
    // Called after each connect message, on the reporting thread; must not wait. Replacing
    // it waits for a call in progress, so an owner that clears it may go afterwards.
    void SetNotify(std::function<void()> notify);

private:
    std::function<TClock::time_point()> FClock;
    mutable std::mutex FMutex;
    std::shared_ptr<TLCATrace> FTrace;
    TLCALogProc FTraceProc;
    std::map<int32_t, TmonLineStage> FStages;
    std::optional<TmonLineStage> FLast;
    std::function<void()> FNotify;
};

// The process's line log: main starts the module with its callback.
TmonLineLog& monLineLog();

} // namespace qz
