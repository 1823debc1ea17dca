// The exchange threads: the 3-second polling thread and the waveform thread.
//
// Each thread owns one protocol object and through it one logical channel on the meter's
// line. They report to the window through a listener whose four calls stand for the four
// notifications of the exchange (3-second data, exchange end, waveform data, waveform end).
// The calls are made synchronously on the exchange thread, in the same order, and the thread
// waits until the call returns: what the listener reads from the storage during a call is
// complete and stable. The storage itself is guarded by a lock, so the window may also read
// it between calls (copies through Snapshot()).
#pragma once

#include "exchange/monStorage.h"
#include "protocol/CustomProtocol.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace qz {

class TccnConnection;
class TCommonQZ2Protocol;
struct TSigExperiment;

// The storage shared by the window and the exchange threads.
class TmonSharedStorage {
public:
    // A consistent copy of everything.
    TmonStorage Snapshot() const {
        std::lock_guard<std::mutex> lock(Mutex);
        return Data;
    }
    // Only the meter's settings, which the decoding and the waveform thread need.
    TmonSettings Settings() const {
        std::lock_guard<std::mutex> lock(Mutex);
        return Data.Settings;
    }
    // Runs f on the storage under the lock.
    template <class F> void Update(F&& f) {
        std::lock_guard<std::mutex> lock(Mutex);
        f(Data);
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(Mutex);
        Data.Clear();
    }

private:
    mutable std::mutex Mutex;
    TmonStorage Data;
};

// An answer of the meter as it came, before decoding: for a recorder that keeps the raw bytes.
enum class TmonAnswerKind { TimeParams, Settings, ScaleKoeffs, Record3sec, Signal };
struct TmonAnswer {
    TmonAnswerKind Kind = TmonAnswerKind::TimeParams;
    const uint8_t* Data = nullptr; // the answer's data field, valid during the call only
    size_t Size = 0;
    // The meter's time: its current time for the time parameters, the record's time for a
    // 3-second record, the answer header's time otherwise.
    TDateTime MeterTime = 0;
    uint8_t ChannelMask = 0, SizeCode = 0; // of a waveform block
};

// What the exchange threads tell the window. Called on the exchange thread; the thread waits
// until the call returns.
class IExchangeListener {
public:
    virtual ~IExchangeListener() = default;
    // A new 3-second record is in the storage.
    virtual void OnData3sec() {}
    // The polling ended: (0, 0) after a stop and only then; otherwise the protocol's error
    // code and the meter's status of the last answer, or 204 with status 0 for an answer
    // that arrived whole but cannot be used. The thread's GetErrorText() is valid during the
    // call.
    virtual void OnExchangeEnd(int32_t errorCode, int32_t deviceStatus) {
        (void)errorCode, (void)deviceStatus;
    }
    // A waveform block is in the storage (SignalData / SignalSize), requested with this
    // channel mask and sample-count code; SignalData is valid only during this call.
    virtual void OnSignalData(uint8_t channelMask, uint8_t sizeCode) {
        (void)channelMask, (void)sizeCode;
    }
    // A successful read, before it is decoded and announced (OnData3sec, OnSignalData).
    virtual void OnAnswer(const TmonAnswer& answer) { (void)answer; }
    // The waveform thread ended, with the codes as for OnExchangeEnd.
    virtual void OnSignalEnd(int32_t errorCode, int32_t deviceStatus) {
        (void)errorCode, (void)deviceStatus;
    }
    // Only with reconnection on (SetReconnect): a step of the polling failed, with the codes
    // as for OnExchangeEnd; the thread closes its channel and opens it again after retryMs.
    // The thread's GetErrorText() is valid during the call.
    virtual void OnOutage(int32_t errorCode, int32_t deviceStatus, uint32_t retryMs) {
        (void)errorCode, (void)deviceStatus, (void)retryMs;
    }
    // The same for the waveform thread.
    virtual void OnSignalOutage(int32_t errorCode, int32_t deviceStatus, uint32_t retryMs) {
        (void)errorCode, (void)deviceStatus, (void)retryMs;
    }
};

// What an exchange thread does when a step fails. Off, the failure ends the polling (the
// waveform thread skips the block). On, it is an outage: the thread closes its channel,
// waits, opens the channel again (the line connects anew, a modem dials again) and starts
// over with the time parameters, the settings and the scale coefficients, for the meter may
// have been reset or set up anew meanwhile. The first wait is FirstMs; each further failure
// without a good answer in between doubles it, up to MaxMs.
struct TmonReconnect {
    bool Enabled = false;
    uint32_t FirstMs = 3000;
    uint32_t MaxMs = 60000;
};
// The wait after `current`: doubled, at most MaxMs (and never below FirstMs).
uint32_t monNextRetryMs(uint32_t current, const TmonReconnect& policy);

// The tick count and the pause of the waits; tests replace both.
struct TmonClock {
    std::function<uint32_t()> Ticks; // milliseconds, 32 bits, wrapping
    std::function<void(uint32_t)> Sleep;
    static TmonClock Real();
};

// Sleeps in steps of 50 ms until ms milliseconds of the tick count have passed or stop()
// is true. An end near the top of the 32-bit range ends once the count has wrapped around.
void monSleepFor(uint32_t ms, const TmonClock& clock, const std::function<bool()>& stop);
// Completes a period that began at tick `start`: sleeps the rest when the tick count is not
// below `start` (it has not wrapped) and less than `period` has passed, otherwise returns at
// once.
void monWaitUntil(uint32_t start, uint32_t period, const TmonClock& clock,
                  const std::function<bool()>& stop);

// The log classes every exchange thread made from now on opens its channel with (0, the
// default: the worker reports nothing). Like the module's log callback, which receives the
// reports, it is one setting for the whole process; a front end with a line trace sets it to
// the trace's channel mask before it creates the threads.
void monSetExchangeLogMask(uint8_t mask);
uint8_t monExchangeLogMask();

class TExchangeThread {
public:
    // Checks its inputs (texts of the exceptions, std::runtime_error, are the system's):
    // a connection and a storage must be given, the device type must be one of the QZ2
    // models and the protocol the meter protocol. Everything the thread needs from the
    // connection is copied here, so the caller may change its list while the thread runs.
    TExchangeThread(IExchangeListener* listener, const TccnConnection* connection,
                    TmonSharedStorage* storage);
    // Stops the thread and waits for it.
    virtual ~TExchangeThread();
    TExchangeThread(const TExchangeThread&) = delete;
    TExchangeThread& operator=(const TExchangeThread&) = delete;

    // Starts the thread (it is created "suspended").
    void Start();
    // Asks the thread to stop: no further attempt starts; the thread ends after the step it
    // is in and reports the end with (0, 0). Any thread may call it.
    void Stop();
    // Waits until the thread has ended. Must not be called from a listener call.
    void Join();
    bool Terminated() const { return FTerminated.load(); }
    // True once the thread body has returned.
    bool Finished() const { return FFinished.load(); }
    uint8_t ModelIndex() const { return FModelIndex; }
    // The text of the end code: the protocol's error text (valid while the protocol exists,
    // during the end call), or the text of 204 after an answer whose contents were refused.
    std::string GetErrorText() const;
    // The text the operator sees for the codes of an end or an outage call: the meter's
    // status text for a status, otherwise GetErrorText() ("" for 0, 0). Valid where
    // GetErrorText() is.
    std::string EndText(int32_t errorCode, int32_t deviceStatus) const;
    // What the thread's conversation has moved over the line so far; after the thread has
    // ended, the figures it ended with. Any thread may call it, a listener call included.
    TLinkStatistics LinkStatistics() const;

    // Tests make the waits instant.
    void SetClock(TmonClock clock) { FClock = std::move(clock); }
    // Before Start: what a failed step leads to (default: the end of the polling).
    void SetReconnect(const TmonReconnect& policy) { FReconnect = policy; }

protected:
    virtual void Execute() = 0;
    void CreateProtocol();
    void FreeProtocol();
    void SleepFor(uint32_t ms);
    void WaitUntil(uint32_t start, uint32_t period);
    uint32_t Ticks() const { return FClock.Ticks(); }
    // A step whose answer passed the protocol's checks but cannot be decoded ends the
    // exchange with 204 "Получены некорректные данные." (status 0): a settings answer shorter
    // than its layout, a scale coefficient that is not a finite number, a 3-second record
    // shorter than its layout. Returns false for the step to return.
    bool RefuseData();
    // The codes of the end call: (0, 0) only after a stop.
    void EndCodes(int32_t& code, int32_t& status) const;
    // The held answer's header time, and the raw answer handed to the listener.
    TDateTime HeaderTime() const;
    void Tell(TmonAnswerKind kind, const uint8_t* data, size_t size, TDateTime meterTime,
              uint8_t mask = 0, uint8_t sizeCode = 0);
    // After a failed step with reconnection on: tells the listener (through `tell`, with the
    // codes and the wait), closes the channel, waits and opens it again. `retryMs` is the
    // wait, and becomes the next one. False when a stop came meanwhile (the channel is then
    // closed).
    bool Reconnect(uint32_t& retryMs, void (IExchangeListener::*tell)(int32_t, int32_t, uint32_t));

    TmonReconnect FReconnect;

    IExchangeListener* FListener;
    TmonSharedStorage* FStorage;
    uint8_t FModelIndex = 0;
    std::unique_ptr<TCommonQZ2Protocol> FProtocol;

private:
    void Body();

    struct TProtocolArgs;
    std::unique_ptr<TProtocolArgs> FArgs;
    TmonClock FClock = TmonClock::Real();
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<int32_t> FDataError{0};
    mutable std::mutex FProtocolMutex; // Stop and GetErrorText against Create/Free
    TLinkStatistics FLastStatistics;   // of the freed protocol, under FProtocolMutex
    std::thread FThread;
};

// Reads the meter's 3-second records, once per 3-second interval of its clock.
class TMainExchangeThread : public TExchangeThread {
public:
    using TExchangeThread::TExchangeThread;
    ~TMainExchangeThread() override;

protected:
    void Execute() override;

private:
    // The cycles on one opened channel, until a step fails or a stop; `gotRecord` tells
    // whether a record came, `lastRecordTime` is the meter time of the last one (kept from
    // one opened channel to the next).
    void RunCycles(bool& gotRecord, TDateTime& lastRecordTime);
    bool ReadTimeParams(TDateTime& changeTime, TDateTime& deviceTime, bool& changeFlag);
    bool ReadSettings();
    bool ReadScaleKoeffs(double& voltageScale, double& currentScale);
    bool Read3sec(double currentScale, double voltageScale, TDateTime& time);
};

// True unless the flag is set and the change time equals the remembered one within 1 ms.
bool monSettingsChanged(bool changeFlag, TDateTime changeTime, TDateTime remembered);

// Reads waveform blocks about once a second while the operator shows the waveforms.
class TSignalExchangeThread : public TExchangeThread {
public:
    // The experiment (not owned) gives the channel mask and the sample-count code read
    // before every request; a null experiment is refused with the system's text.
    TSignalExchangeThread(IExchangeListener* listener, const TccnConnection* connection,
                          TmonSharedStorage* storage, TSigExperiment* experiment);
    ~TSignalExchangeThread() override;

protected:
    void Execute() override;

private:
    TSigExperiment* FExperiment;
};

} // namespace qz
