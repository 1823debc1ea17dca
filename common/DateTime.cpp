#include "common/DateTime.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace qz {

bool IsLeapYear(int year) {
    return (year % 4 == 0) && ((year % 100 != 0) || (year % 400 == 0));
}

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return kDays[month - 1] + ((month == 2 && IsLeapYear(year)) ? 1 : 0);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return false;
    long days = 0;
    for (int m = 1; m < month; ++m)
        days += DaysInMonth(year, m);
    const long y = year - 1;
    days += day + y * 365 + y / 4 - y / 100 + y / 400;
    // 01.01.0001 is day 1 of this count and 30.12.1899 is day kDateDelta.
    out = double(days - kDateDelta);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        msec < 0 || msec > 999)
        return false;
    out = (double(hour) * 3600000.0 + double(minute) * 60000.0 + double(second) * 1000.0 +
           double(msec)) /
          kMSecsPerDay;
    return true;
}

bool TryEncodeDateTime(const TDateTimeParts& p, TDateTime& out) {
    TDateTime d, t;
    if (!TryEncodeDate(p.Year, p.Month, p.Day, d) ||
        !TryEncodeTime(p.Hour, p.Minute, p.Second, p.MSec, t))
        return false;
    out = d >= 0 ? d + t : d - t;
    return true;
}

namespace {

// Splits a value into days since 30.12.1899 and milliseconds of the day.
void Split(TDateTime dt, long& days, long& ms) {
    // Beyond the years 1..9999 no calendar applies (and the day count would not fit a
    // long): such a value, read from outside bytes, decodes like a non-number.
    if (!std::isfinite(dt) || std::fabs(dt) > 3.0e6) dt = 0;
    const double whole = std::trunc(dt);
    days = long(whole);
    ms = long(std::llround(std::fabs(dt - whole) * kMSecsPerDay));
    if (ms >= long(kMSecsPerDay)) {
        ms -= long(kMSecsPerDay);
        days += (dt < 0 ? -1 : 1);
    }
}

TDateParts DaysToDate(long days) {
    // Day number counted from 01.01.0001 (= 1).
    long n = days + kDateDelta;
    TDateParts r;
    if (n < 1) n = 1;
    long t = n - 1;
    long y = 1;
    const long d400 = 146097, d100 = 36524, d4 = 1461;
    y += 400 * (t / d400);
    t %= d400;
    long c = t / d100;
    if (c == 4) c = 3;
    y += 100 * c;
    t -= c * d100;
    y += 4 * (t / d4);
    t %= d4;
    long a = t / 365;
    if (a == 4) a = 3;
    y += a;
    t -= a * 365;
    int m = 1;
    while (t >= DaysInMonth(int(y), m)) {
        t -= DaysInMonth(int(y), m);
        ++m;
    }
    r.Year = int(y);
    r.Month = m;
    r.Day = int(t) + 1;
    return r;
}

} // namespace

TDateTimeParts DecodeDateTime(TDateTime dt) {
    long days, ms;
    Split(dt, days, ms);
    const TDateParts d = DaysToDate(days);
    TDateTimeParts r;
    r.Year = d.Year;
    r.Month = d.Month;
    r.Day = d.Day;
    r.Hour = int(ms / 3600000);
    r.Minute = int(ms / 60000 % 60);
    r.Second = int(ms / 1000 % 60);
    r.MSec = int(ms % 1000);
    return r;
}

TDateParts DecodeDate(TDateTime dt) {
    const TDateTimeParts p = DecodeDateTime(dt);
    return {p.Year, p.Month, p.Day};
}

TTimeParts DecodeTime(TDateTime dt) {
    const TDateTimeParts p = DecodeDateTime(dt);
    return {p.Hour, p.Minute, p.Second, p.MSec};
}

int32_t TimeOfDayMs(TDateTime dt) {
    long days, ms;
    Split(dt, days, ms);
    return int32_t(ms);
}

TDateTime NowDateTime() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    std::tm tm{};
    localtime_r(&t, &tm);
    const int ms = int(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    TDateTime out = 0;
    TryEncodeDateTime({tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                       tm.tm_sec, ms < 0 ? 0 : ms},
                      out);
    return out;
}

bool IsValidBcd(uint8_t b) {
    return (b & 0x0F) <= 9 && (b >> 4) <= 9;
}
int BcdToInt(uint8_t b) {
    return (b >> 4) * 10 + (b & 0x0F);
}
uint8_t IntToBcd(int value) {
    value %= 100;
    if (value < 0) value += 100;
    return uint8_t(((value / 10) << 4) | (value % 10));
}

} // namespace qz
