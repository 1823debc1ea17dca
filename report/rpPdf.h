// The power-quality protocol as a PDF on A4 pages, in Russian: the header, the summary and
// harmonics tables, a chart and a histogram of each main quantity's 10-minute values against
// its limits, the 95 % harmonic values against their normal limits, the invalid intervals
// and the outages, what 3-second data cannot assess, the verdict and the signature lines.
// Drawn with the Qt painting classes (an application object must exist: qzcli makes one on
// the offscreen platform); the text is real text a PDF reader can copy.
#pragma once

#include "report/rpProtocol.h"

namespace qz {

// Writes the protocol to `file`, replacing it only when complete. False with the operator's
// text.
bool RpWritePdf(const TrpAssessment& a, const TrpSource& source, const TrpProtocolInfo& info,
                const std::string& file, std::string& error);

} // namespace qz
