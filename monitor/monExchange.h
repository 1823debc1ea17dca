// How the main window runs the exchange threads. The window sees a thread only through
// ImonExchange, so it can be tested with threads that answer at once; the real threads are
// wrapped by MakeRealExchangeFactory (monExchangeFactory.cpp).
#pragma once

#include "exchange/monExchangeThreads.h"
#include "protocol/CustomProtocol.h"

#include <functional>
#include <memory>
#include <string>

namespace qz {

class IExchangeListener;
class TccnConnection;
class TmonSharedStorage;
struct TSigExperiment;

class ImonExchange {
public:
    virtual ~ImonExchange() = default;
    virtual void Start() = 0;
    // Asks for the end; the thread reports it through the listener.
    virtual void Stop() = 0;
    // True once the thread body has returned (it may still need Join).
    virtual bool Finished() const = 0;
    // Waits for the thread. Never called from inside one of its own listener calls.
    virtual void Join() = 0;
    // The protocol's error text, valid during the end call.
    virtual std::string GetErrorText() const = 0;
    // What the conversation has moved over the line so far. Any thread.
    virtual TLinkStatistics LinkStatistics() const { return {}; }
    // Before Start: whether a failed step ends the thread or is an outage it polls through.
    virtual void SetReconnect(const TmonReconnect& policy) { (void)policy; }
};

struct TmonExchangeFactory {
    // The constructors may throw std::exception with the system's text (unsupported device).
    std::function<std::unique_ptr<ImonExchange>(IExchangeListener*, const TccnConnection*,
                                                TmonSharedStorage*)>
        MakeMain;
    std::function<std::unique_ptr<ImonExchange>(IExchangeListener*, const TccnConnection*,
                                                TmonSharedStorage*, TSigExperiment*)>
        MakeSignal;
};

// The polling and waveform threads of exchange/.
TmonExchangeFactory MakeRealExchangeFactory();

} // namespace qz
