#include "collector/colInFlight.h"

#include <algorithm>

namespace qz {

void TcolInFlight::Reset(const TcolMark& acked) {
    FQueue.clear();
    FAcked = FSent = acked;
}

void TcolInFlight::Add(int mid, const TcolMark& after) {
    FQueue.push_back({mid, false, after});
    FSent = after;
}

void TcolInFlight::Pass(const TcolMark& after) {
    FQueue.push_back({0, true, after});
    FSent = after;
    Advance();
}

bool TcolInFlight::Ack(int mid) {
    if (mid == 0) return false;
    auto e = std::find_if(FQueue.begin(), FQueue.end(),
                          [mid](const TEntry& e) { return e.Mid == mid && !e.Acked; });
    if (e == FQueue.end()) return false;
    e->Acked = true;
    Advance();
    return true;
}

void TcolInFlight::Advance() {
    while (!FQueue.empty() && FQueue.front().Acked) {
        FAcked = FQueue.front().After;
        FQueue.pop_front();
    }
}

size_t TcolInFlight::Unacked() const {
    return size_t(
        std::count_if(FQueue.begin(), FQueue.end(), [](const TEntry& e) { return !e.Acked; }));
}

} // namespace qz
