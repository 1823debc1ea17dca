// A 3-second record as one JSON object: what `qzcli poll --json` prints and the collector
// publishes.
#pragma once

#include "exchange/monStorage.h"

#include <string>

namespace qz {

// One JSON object on one line: every field of the record under its own name, grouped
// fields as arrays, harmonic tables as 39-element arrays (harmonics 2..40). Numbers have up
// to 15 significant digits; a value that is not a finite number is null.
std::string RecordJson(const TmonData3sec& data);

} // namespace qz
