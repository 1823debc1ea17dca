// The assessment as text: the JSON object scripts read, and the CSV tables in the user's
// regional format (code page 1251, as the other CSV files of the program).
#pragma once

#include "exchange/monCsvExport.h"
#include "report/rpAssessment.h"
#include "report/rpJournals.h"

#include <string>

namespace qz {

// One JSON object (no line break inside), times as TDateTime numbers by the meter's clock.
std::string RpJson(const TrpAssessment& a, const TrpSource& source);

// The statistics table and then the intervals' values.
std::string RpCsv(const TrpAssessment& a, const TmonCsvOptions& options);
// One row per interval that holds records: its start, records, the validity flag, and the
// value of every quantity as the protocol forms it.
std::string RpIntervalsCsv(const TrpAssessment& a, const TmonCsvOptions& options);

// A number as the protocol shows it: `decimals` places, the given separator; "—" for none.
std::string RpNumber(double v, int decimals, char separator = ',');
// The verdict's words.
const char* RpVerdictText(int verdict);

} // namespace qz
