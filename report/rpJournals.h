// The journals of one meter read as one recording and assessed.
#pragma once

#include "journal/jnJournal.h"
#include "report/rpAssessment.h"

#include <functional>
#include <string>
#include <vector>

namespace qz {

struct TrpReadOptions {
    TDateTime From = kjnAnyTimeFrom; // meter times, both included
    TDateTime To = kjnAnyTimeTo;
    int IntervalSeconds = 600;
    // Limits that replace the meter's (a limits file); null: the meter's own.
    const TmonSettings* Limits = nullptr;
    // Called now and then with the share done (0..1); false stops the reading.
    std::function<bool(double)> Progress;
};

// A stretch the recorder kept as one in which the meter was not read, with its reason.
struct TrpPollOutage {
    TDateTime Began = 0, Ended = 0; // this computer's local time; Ended 0: to the end
    TDateTime LastMeterTime = 0;    // meter time of the last record before it (0: none)
    std::string Text;               // the error as the operator read it
};

// What the journals were and what they told of the meter.
struct TrpSource {
    std::vector<std::string> Files;         // in the order of their first records
    TjnMeter Meter;                         // of the earliest journal
    std::vector<TrpPollOutage> PollOutages; // as the journals kept them, in time order
};

// Reads the records of `files` (one meter's journals, in any order, read as one series;
// records kept twice, as when journals overlap, count once) and assesses them. False with the
// operator's text for a journal that cannot be read, journals of different meters, or a stop by
// Progress.
bool AssessJournals(const std::vector<std::string>& files, const TrpReadOptions& options,
                    TrpAssessment& out, TrpSource& source, std::string& error);

} // namespace qz
