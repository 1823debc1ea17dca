// A meter that answers from a recording instead of from its model: the simulator asks it for
// the data of each request at the meter's current time.
#pragma once

#include "common/DateTime.h"

#include <cstdint>
#include <vector>

namespace qz {

class IMeterReplay {
public:
    virtual ~IMeterReplay() = default;
    // Each call fills the answer's data field for the meter time `now`, and `stamp`, the
    // answer header's time; false when the recording has nothing to give (the meter then
    // answers with the status `Status()` of that call).
    virtual bool TimeParams(TDateTime now, std::vector<uint8_t>& data) = 0;
    virtual bool Settings(TDateTime now, std::vector<uint8_t>& data) = 0;
    virtual bool ScaleKoeffs(TDateTime now, std::vector<uint8_t>& data) = 0;
    virtual bool Record3sec(TDateTime now, std::vector<uint8_t>& data, TDateTime& stamp) = 0;
    virtual bool Waveform(TDateTime now, uint8_t mask, uint8_t sizeCode, std::vector<uint8_t>& data,
                          TDateTime& stamp) = 0;
    // The meter status for a request the recording cannot serve.
    virtual uint16_t MissingStatus(uint8_t cmd) const { return cmd == 32 ? 4 : 9; }
};

} // namespace qz
