#include "tools/qzcli/CliLocale.h"

#include "common/Cp1251.h"

#include <cstring>
#include <ctime>
#include <langinfo.h>
#include <locale.h>

namespace qz {

struct TCliLocale::THandle {
    locale_t Loc = nullptr;
    ~THandle() {
        if (Loc) freelocale(Loc);
    }
};

TCliLocale TCliLocale::Classic() {
    TCliLocale l;
    l.FHandle = std::make_shared<THandle>();
    l.FHandle->Loc = newlocale(LC_ALL_MASK, "C", nullptr);
    return l;
}

TCliLocale TCliLocale::FromEnvironment() {
    TCliLocale l = Classic();
    locale_t& loc = l.FHandle->Loc;
    if (!loc) return l;
    // One category at a time: a missing LC_TIME locale must not cost the decimal separator.
    for (int mask : {LC_NUMERIC_MASK, LC_TIME_MASK, LC_CTYPE_MASK}) {
        if (locale_t next = newlocale(mask, "", loc)) loc = next;
    }
    return l;
}

namespace {
const char* Info(locale_t loc, nl_item item) {
    if (!loc) return "";
    const char* s = nl_langinfo_l(item, loc);
    return s ? s : "";
}
} // namespace

std::string TCliLocale::DecimalPoint() const {
    return Info(FHandle ? FHandle->Loc : nullptr, RADIXCHAR);
}
std::string TCliLocale::DateFormat() const {
    return Info(FHandle ? FHandle->Loc : nullptr, D_FMT);
}
std::string TCliLocale::TimeFormat() const {
    return Info(FHandle ? FHandle->Loc : nullptr, T_FMT);
}

std::string TCliLocale::Format(const std::string& format, TDateTime t) const {
    if (format.empty() || !FHandle || !FHandle->Loc) return "";
    const TDateTimeParts p = DecodeDateTime(t);
    std::tm tm{};
    tm.tm_year = p.Year - 1900;
    tm.tm_mon = p.Month - 1;
    tm.tm_mday = p.Day;
    tm.tm_hour = p.Hour;
    tm.tm_min = p.Minute;
    tm.tm_sec = p.Second;
    // Day of the week and of the year, for the formats that name them (30.12.1899 was a
    // Saturday).
    const long days = long(t < 0 ? t - 1 : t); // whole days since 30.12.1899
    tm.tm_wday = int(((days + 6) % 7 + 7) % 7);
    static const int kBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const bool leap = (p.Year % 4 == 0 && p.Year % 100 != 0) || p.Year % 400 == 0;
    tm.tm_yday = kBefore[(p.Month - 1) % 12] + p.Day - 1 + (leap && p.Month > 2 ? 1 : 0);
    tm.tm_isdst = -1;
    char buf[256];
    const size_t n = strftime_l(buf, sizeof buf, format.c_str(), &tm, FHandle->Loc);
    std::string out(buf, n);
    // The file is written in code page 1251 from UTF-8; month names of a locale in another
    // code page are taken over when it is 1251, and left out otherwise.
    const std::string codeset = Info(FHandle->Loc, CODESET);
    if (codeset == "UTF-8") return out;
    if (codeset == "CP1251") return Cp1251ToUtf8(out);
    std::string ascii;
    for (char c : out)
        if (static_cast<unsigned char>(c) < 0x80) ascii += c;
    return ascii;
}

namespace {
// Drops the time-zone conversions (%Z, %z) and the blanks they leave at the ends.
std::string WithoutZone(const std::string& f) {
    std::string out;
    for (size_t i = 0; i < f.size(); ++i) {
        if (f[i] == '%' && i + 1 < f.size()) {
            if (f[i + 1] == 'Z' || f[i + 1] == 'z') {
                ++i;
                continue;
            }
            out += f[i];
            out += f[++i];
            continue;
        }
        out += f[i];
    }
    const size_t b = out.find_first_not_of(' ');
    if (b == std::string::npos) return "";
    return out.substr(b, out.find_last_not_of(' ') - b + 1);
}
} // namespace

TmonCsvOptions CsvOptionsOf(const TCliLocale& locale, char forcedSeparator) {
    TmonCsvOptions o;
    const std::string point = locale.DecimalPoint();
    if (forcedSeparator == '.' || forcedSeparator == ',')
        o.DecimalSeparator = forcedSeparator;
    else if (point.size() == 1 && static_cast<unsigned char>(point[0]) < 0x80)
        o.DecimalSeparator = point[0];
    else
        o.DecimalSeparator = '.';
    const std::string date = locale.DateFormat();
    const std::string time = WithoutZone(locale.TimeFormat());
    o.FormatDateTime = [locale, date, time](TDateTime t) {
        std::string s = locale.Format(date, t);
        if (TimeOfDayMs(t) != 0 && !time.empty()) s += ' ' + locale.Format(time, t);
        return s;
    };
    return o;
}

} // namespace qz
