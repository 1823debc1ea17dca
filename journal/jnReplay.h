// A journal replayed as a meter: the answers the simulator gives while it replays.
//
// The meter's clock starts when the first record was served, that is its record time plus
// 3 seconds, and runs at the chosen speed (the program sets the simulator's clock from
// StartTime). At each moment the time parameters, settings and scale coefficients are the
// ones recorded last before it (the time parameters with the current time put in); a
// 3-second request gets the last record of the interval that has ended, so the records come
// in recorded order on the usual 3-second boundaries, and after the last one the meter has
// no data (status 9). A waveform request gets the block nearest in time that was read with
// the same channel mask and sample-count code, or status 4.
#pragma once

#include "journal/jnJournal.h"
#include "simulator/ReplaySource.h"

#include <mutex>
#include <string>

namespace qz {

class TjnReplay : public IMeterReplay {
public:
    // Opens the journal read-only. False with the operator's text (also for a journal
    // without any record: there is nothing to replay).
    bool Open(const std::string& fileName, std::string& error);
    const TjnMeter& Meter() const { return FReader.Meter(); }
    TDateTime StartTime() const { return FFirst + 3.0 / 86400; }
    TDateTime EndTime() const { return FLast + 3.0 / 86400; }

    bool TimeParams(TDateTime now, std::vector<uint8_t>& data) override;
    bool Settings(TDateTime now, std::vector<uint8_t>& data) override;
    bool ScaleKoeffs(TDateTime now, std::vector<uint8_t>& data) override;
    bool Record3sec(TDateTime now, std::vector<uint8_t>& data, TDateTime& stamp) override;
    bool Waveform(TDateTime now, uint8_t mask, uint8_t sizeCode, std::vector<uint8_t>& data,
                  TDateTime& stamp) override;

private:
    bool AnswerInForce(TjnAnswerKind kind, TDateTime now, std::vector<uint8_t>& data);
    std::mutex FMutex; // the simulator answers each connection on its own thread
    TjnReader FReader;
    TjnStmt FAnswerBefore, FAnswerFirst, FRecord, FBlockBefore, FBlockAfter;
    TDateTime FFirst = 0, FLast = 0;
};

} // namespace qz
