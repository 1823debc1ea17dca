// What the exchange threads tell the window, recorded for a test to wait on and assert on.
// The calls come on the threads; every field is guarded by M (read them after a Wait*, which
// takes the lock, or under it).
#pragma once

#include "exchange/monExchangeThreads.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace qz::test {

class TRecordingListener : public IExchangeListener {
public:
    using Clock = std::chrono::steady_clock;

    void OnData3sec() override {
        std::lock_guard<std::mutex> lock(M);
        if (Storage) RecordTimes.push_back(Storage->Snapshot().Data3sec.Time);
        ++Records;
        if (OnRecord) OnRecord(Records);
        if (StopAfter && Records >= StopAfter && Thread) Thread->Stop();
        Cv.notify_all();
    }
    void OnAnswer(const TmonAnswer&) override {
        std::lock_guard<std::mutex> lock(M);
        ++Answers;
    }
    void OnSignalData(uint8_t channelMask, uint8_t sizeCode) override {
        std::lock_guard<std::mutex> lock(M);
        Blocks.emplace_back(channelMask, sizeCode);
        if (OnBlock) OnBlock(Blocks.size());
        if (StopAfter && Blocks.size() >= StopAfter && Thread) Thread->Stop();
        Cv.notify_all();
    }
    void OnExchangeEnd(int32_t code, int32_t status) override {
        std::lock_guard<std::mutex> lock(M);
        Ended = true;
        EndCode = code;
        EndStatus = status;
        if (Thread) EndText = Thread->GetErrorText();
        EndAt = Clock::now();
        Cv.notify_all();
    }
    void OnSignalEnd(int32_t code, int32_t status) override {
        std::lock_guard<std::mutex> lock(M);
        SignalEnded = true;
        SignalEndCode = code;
        SignalEndStatus = status;
        if (Thread) SignalEndText = Thread->GetErrorText();
        Cv.notify_all();
    }

    // An outage of a thread that reconnects: kept with the text the thread gives for it.
    void OnOutage(int32_t code, int32_t status, uint32_t retryMs) override {
        std::lock_guard<std::mutex> lock(M);
        Outages.push_back({code, status, retryMs});
        if (Thread) OutageTexts.push_back(Thread->EndText(code, status));
        if (StopAfterOutages && Outages.size() >= StopAfterOutages && Thread) Thread->Stop();
        Cv.notify_all();
    }
    void OnSignalOutage(int32_t code, int32_t status, uint32_t retryMs) override {
        OnOutage(code, status, retryMs);
    }

    // Whether the polling (the waveform thread) ended within ms milliseconds.
    bool WaitEnd(int ms = 20000) {
        return WaitFor(ms, [&] { return Ended; });
    }
    bool WaitSignalEnd(int ms = 20000) {
        return WaitFor(ms, [&] { return SignalEnded; });
    }
    // Whether n records came within ms milliseconds; the wait ends early with the polling.
    bool WaitRecords(size_t n, int ms = 20000) {
        WaitFor(ms, [&] { return Records >= n || Ended; });
        std::lock_guard<std::mutex> lock(M);
        return Records >= n;
    }
    size_t RecordCount() {
        std::lock_guard<std::mutex> lock(M);
        return Records;
    }

    std::mutex M;
    std::condition_variable Cv;
    // Set before the thread starts.
    TmonSharedStorage* Storage = nullptr; // each record's time is read from it
    TExchangeThread* Thread = nullptr;    // its error text is kept; StopAfter stops it
    size_t StopAfter = 0;                 // stop the thread inside the call of this record or block
    size_t StopAfterOutages = 0;          // stop the thread inside the call of this outage
    // Called under M on the thread, with the count so far, before its next cycle.
    std::function<void(size_t)> OnRecord, OnBlock;

    size_t Records = 0, Answers = 0;
    std::vector<TDateTime> RecordTimes;
    std::vector<std::pair<uint8_t, uint8_t>> Blocks; // channel mask and size code of each
    bool Ended = false, SignalEnded = false;
    int32_t EndCode = -1, EndStatus = -1, SignalEndCode = -1, SignalEndStatus = -1;
    std::string EndText, SignalEndText;
    Clock::time_point EndAt;
    struct TOutage {
        int32_t Code, Status;
        uint32_t RetryMs;
    };
    std::vector<TOutage> Outages;
    std::vector<std::string> OutageTexts;

private:
    template <class P> bool WaitFor(int ms, P done) {
        std::unique_lock<std::mutex> lock(M);
        return Cv.wait_for(lock, std::chrono::milliseconds(ms), done);
    }
};

} // namespace qz::test
