// A 3-second record as one JSON object: what `qzcli poll --json` prints and the collector
// publishes.
#pragma once

#include "exchange/monStorage.h"

#include <string>

namespace qz {

// One JSON object on one line: every field of the record under its own name, grouped
// fields as arrays, harmonic tables as 39-element arrays (harmonics 2..40), and after "Time"
// (the TDateTime number) "TimeISO", the same moment as ISO 8601 local time. Numbers are in
// the form of their quantity (exchange/monNumberText.h); a value that is not a finite
// number is null.
std::string RecordJson(const TmonData3sec& data);

// "2026-12-08T14:49:28.160": a TDateTime as ISO 8601 local time to the millisecond (the
// meter's clock has no zone; none is claimed).
std::string IsoLocalTime(TDateTime t);

} // namespace qz
