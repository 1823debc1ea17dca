// The limits of the protocol taken from a text file instead of the meter's settings, for
// example the table of another voltage level. The file has the fields of the meter's
// settings, one a line, in the meter's own order:
//
//   # comment (also after a value)
//   PhaseVoltageLimits = 10 5 -10 -5      upper maximum, upper normal, lower maximum, lower normal,
//   % LineVoltageLimits  = 10 5 -10 -5      the same for the line voltages FrequencyLimits    = 0.4
//   0.2 -0.2 -0.4  upper maximum, upper normal, lower normal, lower maximum, Hz K0Limits = 4 2
//   maximum, normal, % K2Limits = 4 2 KULimits = 8 12                       distortion coefficient:
//   normal, maximum, % KULimits[5] = 6 9                     harmonic n = 2..40: normal, maximum, %
//
// Numbers take a point or a comma. A limit of 0, and every field the file leaves out, is not
// set: the quantity is shown but not judged against it. Each field may appear once.
#pragma once

#include "exchange/monStorage.h"

#include <string>

namespace qz {

// The limits of a file: the limit fields of `limits` are filled, the rest stays 0. False
// with the operator's text naming the line for anything the file does not hold right.
bool ParseLimitsText(const std::string& text, TmonSettings& limits, std::string& error);
// Reads and parses the file `fileName`; the text names the file as well.
bool LoadLimitsFile(const std::string& fileName, TmonSettings& limits, std::string& error);

// Puts the limit fields of `limits` into `settings`, keeping its nominal values.
void ApplyLimits(const TmonSettings& limits, TmonSettings& settings);

} // namespace qz
