// What the protocol says beside the statistics, and the renderer's interface: the PDF writer
// lives in a target of its own (it needs the Qt painting classes), and the programs hand it
// over to what needs no Qt as this function.
#pragma once

#include "report/rpAssessment.h"
#include "report/rpJournals.h"

#include <functional>
#include <string>

namespace qz {

struct TrpProtocolInfo {
    std::string LimitsSource;   // "измеритель" or the limits file's name
    std::string ProgramVersion; // "qzcli 0.1.0"
    TDateTime Created = 0;      // this computer's time of the report
};

using TrpPdfWriter =
    std::function<bool(const TrpAssessment& a, const TrpSource& source, const TrpProtocolInfo& info,
                       const std::string& file, std::string& error)>;

// A duration as the protocol writes it: "7 сут 0 ч 0 мин".
std::string RpDurationText(double days);
// A meter time as "08.12.2026 10:00:00".
std::string RpTimeText(TDateTime t);

} // namespace qz
