// Date and time as the meter world counts it: a double holding days since 30.12.1899, the
// fraction being the time of day. Also the BCD byte helpers the meter's clock uses.
#pragma once

#include <cstdint>

namespace qz {

using TDateTime = double;

constexpr double kMSecsPerDay = 86400000.0;
// Days from 01.01.0001 to 30.12.1899.
constexpr int kDateDelta = 693594;

struct TDateParts {
    int Year = 0, Month = 0, Day = 0;
};
struct TTimeParts {
    int Hour = 0, Minute = 0, Second = 0, MSec = 0;
};
struct TDateTimeParts {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, MSec = 0;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Encoders return false (and leave the result untouched) for out-of-range parts.
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out);
bool TryEncodeDateTime(const TDateTimeParts& p, TDateTime& out);

// Decoding follows the convention of such values: the integral part counts days (negative
// before 30.12.1899) and the absolute value of the fraction is the time of day. The time is
// rounded to the millisecond; a rounding that reaches midnight carries into the next day.
TDateTimeParts DecodeDateTime(TDateTime dt);
TDateParts DecodeDate(TDateTime dt);
TTimeParts DecodeTime(TDateTime dt);

// Milliseconds since midnight of the time part.
int32_t TimeOfDayMs(TDateTime dt);

// The current local time of this computer.
TDateTime NowDateTime();

// Packed BCD: 0x59 <-> 59.
bool IsValidBcd(uint8_t b);
int BcdToInt(uint8_t b);     // digits are taken as they stand, even when not valid BCD
uint8_t IntToBcd(int value); // value 0..99; others are reduced modulo 100

} // namespace qz
