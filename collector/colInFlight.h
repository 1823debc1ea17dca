// The messages of one meter handed to the MQTT client and not yet acknowledged, oldest first,
// each with the mark it leads to. The broker may acknowledge them in any order, and a
// connection that breaks may leave a gap; the durable mark moves only over an unbroken run of
// acknowledged messages from the oldest, so a record whose acknowledgement never came is
// never passed over: it is sent again, from the mark, rather than lost.
#pragma once

#include "collector/colMark.h"

#include <cstddef>
#include <deque>

namespace qz {

class TcolInFlight {
public:
    // Starts at the durable mark with nothing in flight.
    void Reset(const TcolMark& acked);
    // A message handed to the client as `mid`; `after` is the mark once it and every message
    // before it are acknowledged. Reading goes on after it.
    void Add(int mid, const TcolMark& after);
    // A record with nothing to publish: passed as soon as everything before it is.
    void Pass(const TcolMark& after);
    // The broker acknowledged `mid`. False when no message in flight has it (one given up, or
    // not a meter's).
    bool Ack(int mid);
    // What is in flight is taken as lost: reading starts again at the durable mark (a record
    // may then arrive twice, which QoS 1 allows; none is skipped).
    void GiveUp() { Reset(FAcked); }

    const TcolMark& Acked() const { return FAcked; } // the durable mark
    const TcolMark& Sent() const { return FSent; }   // where reading goes on
    size_t Size() const { return FQueue.size(); }    // what counts against the window
    bool Empty() const { return FQueue.empty(); }
    size_t Unacked() const;

private:
    struct TEntry {
        int Mid;
        bool Acked;
        TcolMark After;
    };
    // The mark over the acknowledged run at the front.
    void Advance();

    std::deque<TEntry> FQueue;
    TcolMark FAcked, FSent;
};

} // namespace qz
