// The simulated meter as a server: it listens on TCP (one conversation per connection, each
// on its own thread) or serves a pseudo-terminal, until Stop().
#pragma once

#include "simulator/MeterResponder.h"
#include "simulator/SimOptions.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qz {

// One request the simulated meter took in (addressed to it), as a test looks at it: when it
// came, on which connection, and what it asked for.
struct TSimRequest {
    std::chrono::steady_clock::time_point At;
    uint32_t Connection = 0; // 1, 2, ... in the order the connections were accepted
    uint8_t Cmd = 0;
    uint8_t Cmd1 = 0;
};

class TMeterSimulator {
public:
    explicit TMeterSimulator(TSimOptions options);
    ~TMeterSimulator();
    TMeterSimulator(const TMeterSimulator&) = delete;
    TMeterSimulator& operator=(const TMeterSimulator&) = delete;

    // Opens the listening socket or the pseudo-terminal and starts serving. False with a
    // message in `error` when that fails (the simulator then stays stopped).
    bool Start(std::string* error = nullptr);
    // Stops serving, closes every connection and waits for all threads. Idempotent.
    void Stop();

    // The TCP port actually listened on (after Start).
    uint16_t port() const { return FPort; }
    // Device path of the pseudo-terminal (after Start with a pty link).
    const std::string& PtyPath() const { return FPtyPath; }

    void SetSettingsChange(bool flag, TDateTime time) { FResponder.SetSettingsChange(flag, time); }
    const TMeterResponder& Responder() const { return FResponder; }

    // Counters over all connections: requests addressed to this meter, answers begun.
    uint64_t RequestCount() const { return FRequests.load(); }
    uint64_t AnswerCount() const { return FAnswers.load(); }
    uint64_t ConnectionCount() const { return FConnections.load(); }
    // Every request taken in so far, in the order they came.
    std::vector<TSimRequest> RequestLog() const;

private:
    struct TSession;
    bool StartTcp(std::string& error);
    bool StartPty(std::string& error);
    void AcceptLoop();
    void Serve(int fd, uint32_t id, bool closeOnDemand);
    // Writes all of `data`, paced when a baud rate is set; false when stopped or broken.
    bool SendAll(int fd, const uint8_t* data, size_t size);
    // Waits until `fd` is readable or the stop signal arrives (false), up to `ms` (-1: ever).
    bool WaitReadable(int fd, int ms);
    // Has Stop been asked for?
    bool Stopping() const;
    void NoteRequest(uint32_t id, const std::vector<uint8_t>& frame);
    void Log(uint32_t id, const char* dir, const std::string& text);
    void ReapFinished(bool all);

    TSimOptions FOpt;
    TMeterResponder FResponder;
    int FStopFd = -1;
    int FListenFd = -1;
    int FPtyMaster = -1;
    int FPtySlave = -1;
    uint16_t FPort = 0;
    std::string FPtyPath;
    bool FRunning = false;
    std::thread FMainThread;
    std::mutex FSessionsMutex;
    std::list<std::unique_ptr<TSession>> FSessions;
    std::mutex FLogMutex;
    std::FILE* FLog = nullptr;
    std::atomic<uint64_t> FRequests{0}, FAnswers{0}, FConnections{0};
    mutable std::mutex FRequestLogMutex;
    std::vector<TSimRequest> FRequestLog;
};

} // namespace qz
