// The user's regional formats for the CSV file, read the C library's way: the decimal
// separator from LC_NUMERIC, the date and time formats from LC_TIME, each category found in
// LC_ALL, then LC_NUMERIC / LC_TIME, then LANG, as setlocale(LC_ALL, "") would. The window
// takes the same from the desktop's locale; qzcli runs without the window toolkit.
#pragma once

#include "exchange/monCsvExport.h"

#include <memory>
#include <string>

namespace qz {

// What a locale says about numbers and date-times.
class TCliLocale {
public:
    // The locale the environment names. A category whose locale is not installed reads as
    // the C locale, as setlocale would leave it.
    static TCliLocale FromEnvironment();
    // The C locale.
    static TCliLocale Classic();

    std::string DecimalPoint() const; // e.g. "," (may be more than one byte)
    std::string DateFormat() const;   // strftime format, e.g. "%d.%m.%Y"
    std::string TimeFormat() const;   // strftime format, e.g. "%H:%M:%S"
    // A date-time formatted with `format` (strftime), as UTF-8.
    std::string Format(const std::string& format, TDateTime t) const;

private:
    struct THandle;
    std::shared_ptr<THandle> FHandle;
};

// The CSV options of a locale: the decimal separator is `forcedSeparator` when it is '.' or
// ',', otherwise the locale's when that is one ASCII character, otherwise '.'; date-times are
// the date followed by a blank and the time, the time left out at exactly midnight and a time
// zone dropped from the time format (the meter's clock has none).
TmonCsvOptions CsvOptionsOf(const TCliLocale& locale, char forcedSeparator = 0);

} // namespace qz
