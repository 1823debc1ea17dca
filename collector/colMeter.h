// One meter of the collector: its polling thread with reconnection, and its journals, a
// series in a folder of its own. It knows nothing of the broker: it records, and tells
// whoever listens that the journal has grown.
#pragma once

#include "collector/colLog.h"
#include "collector/colPayload.h"
#include "exchange/monExchangeThreads.h"
#include "journal/jnSeries.h"

#include <functional>
#include <memory>
#include <string>

namespace qz {

class TccnConnection;

// A meter as the configuration gives it.
struct TcolMeterSpec {
    // The meter's configuration as text: two specs with the same key are the same meter,
    // which a reload leaves running.
    std::string Key;
    std::shared_ptr<const TccnConnection> Connection;
};

// What all meters share.
struct TcolMeterOptions {
    std::string RecordingsDir; // each meter records into "<dir>/<model code>_<factory number>"
    TjnRotation Rotation = TjnRotation::Day;
    uint32_t ReconnectMaxMs = 60000;
};

// Who the meter is, from the connection.
TcolMeterId MeterIdOf(const TccnConnection& connection);

class TcolMeter {
public:
    // `grown` is called on the polling thread after each record and each outage has been
    // committed to the journal; it must not wait.
    TcolMeter(TcolMeterSpec spec, const TcolMeterOptions& options, TcolLog& log,
              std::function<void()> grown);
    ~TcolMeter();

    // Opens the first journal and starts polling. False with the operator's text.
    bool Start(std::string& error);
    // Asks the polling to end (returns at once; every meter can be asked before any waits).
    void Stop();
    // Waits for the polling thread and closes the journal.
    void Join();

    const TcolMeterSpec& Spec() const { return FSpec; }
    const TcolMeterId& Id() const { return FId; }
    const std::string& Folder() const { return FFolder; }
    std::string Name() const { return MeterName(FId); }

private:
    class TFront;
    class TTail;
    TcolMeterSpec FSpec;
    TcolMeterOptions FOptions;
    TcolLog& FLog;
    TcolMeterId FId;
    std::string FFolder;
    TmonSharedStorage FStorage;
    std::unique_ptr<TTail> FTail;
    std::unique_ptr<TjnRotatingRecorder> FRecorder;
    std::unique_ptr<TFront> FFront;
    std::unique_ptr<TMainExchangeThread> FThread; // last: it goes first
    bool FJoined = false;
};

} // namespace qz
