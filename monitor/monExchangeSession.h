// The life of the polling and waveform threads of one window: started on the operator's
// request, asked to stop, retired once their end was reported, joined once they have returned,
// and all waited for when the window closes. No toolkit here: the window (or a test) drives it
// from its own thread and hands it the threads' end reports.
#pragma once

#include "monitor/monExchange.h"

#include <functional>
#include <list>
#include <memory>

namespace qz {

class TmonExchangeSession {
public:
    // The threads are made by `factory` and report to `listener`; they fill `storage`.
    TmonExchangeSession(TmonExchangeFactory factory, IExchangeListener* listener,
                        TmonSharedStorage* storage);
    // Stops what still runs and waits for it (with no calls to take: the window has closed).
    ~TmonExchangeSession();
    TmonExchangeSession(const TmonExchangeSession&) = delete;
    TmonExchangeSession& operator=(const TmonExchangeSession&) = delete;

    // A thread exists from its start until its end was handed in.
    bool Running() const { return FMain || FSignal; }
    bool MainRunning() const { return FMain != nullptr; }
    bool SignalRunning() const { return FSignal != nullptr; }
    // Asked to stop, its end not yet handed in.
    bool MainStopping() const { return FMainStopping; }
    bool SignalStopping() const { return FSignalStopping; }
    // The polling thread, for its error text and link figures (null when none).
    const ImonExchange* Main() const { return FMain.get(); }

    // Throws the operator's text when the polling thread may not start with `c`.
    void CheckStartMain(const TccnConnection* c) const;
    // What the threads started from now on do when a step fails (default: they end).
    void SetReconnect(const TmonReconnect& policy) { FReconnect = policy; }
    const TmonReconnect& Reconnect() const { return FReconnect; }
    // Starts the polling thread (the checks above first). Nothing starts once closed.
    void StartMain(const TccnConnection* c);
    // The same for the waveform thread.
    void CheckStartSignal(const TccnConnection* c) const;
    // Starts the waveform thread reading `experiment` (the checks above first).
    void StartSignal(const TccnConnection* c, TSigExperiment* experiment);
    // Stops the waveform thread, then the polling thread. The references stay until the ends.
    void StopMain();
    void StopSignal();

    // The end of a thread was reported; called inside that report, while the thread waits.
    // The thread is retired: ReapRetired joins it once it has returned.
    void MainEnded();
    void SignalEnded();
    // Joins the retired threads that have returned; true while some are left to join.
    bool ReapRetired();

    // The window closes: both threads are asked to stop and nothing starts any more.
    void Close();
    bool Closed() const { return FClosed; }
    // Waits until every thread has returned, calling `pump` between the looks (the window
    // keeps taking the threads' calls, which may be waiting on it), then joins and frees them.
    void WaitForAll(const std::function<void()>& pump);

private:
    bool AllFinished() const;

    TmonExchangeFactory FFactory;
    TmonReconnect FReconnect;
    IExchangeListener* FListener;
    TmonSharedStorage* FStorage;
    std::unique_ptr<ImonExchange> FMain;
    std::unique_ptr<ImonExchange> FSignal;
    bool FMainStopping = false;
    bool FSignalStopping = false;
    bool FClosed = false;
    std::list<std::unique_ptr<ImonExchange>> FRetired;
};

} // namespace qz
