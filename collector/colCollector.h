// The meters of one collector: started, stopped and reloaded as a set. Each meter polls on its
// own thread (meters on one line share it through the logical-channel worker); one that
// fails to start or stops with an error leaves the others running.
#pragma once

#include "collector/colMeter.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qz {

class TcolPublisher;

class TcolCollector {
public:
    // `publisher` (may be null: recording only) is told of every meter and woken by them.
    TcolCollector(const TcolMeterOptions& options, TcolLog& log, TcolPublisher* publisher);
    ~TcolCollector();

    // Makes the running meters those of `specs`: the new ones start, the ones no longer given
    // stop, the rest go on untouched. Returns how many of the new ones could not start (each
    // is said in the log; a later Apply tries it again).
    int Apply(std::vector<TcolMeterSpec> specs);
    // Stops every meter: all are asked at once, then each is waited for.
    void StopAll();
    size_t Running() const { return FMeters.size(); }

private:
    TcolMeterOptions FOptions;
    TcolLog& FLog;
    TcolPublisher* FPublisher;
    std::map<std::string, std::unique_ptr<TcolMeter>> FMeters; // by key
};

} // namespace qz
