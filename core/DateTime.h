// Date-time values as day counts: whole days since 30 December 1899, the fraction is the
// time of day, always local time. Helpers convert to and from std::tm and time_t.
#pragma once

#include <cstddef>
#include <ctime>
#include <string_view>

// TDateTime: days since 1899-12-30 00:00 local time; 1.5 is 1899-12-31 12:00.
using TDateTime = double;

namespace kz {

// The broken-down form of a TDateTime; DayOfWeek runs 1 = Sunday .. 7 = Saturday.
struct DateTimeParts {
  int Year = 1899;
  int Month = 12;
  int Day = 30;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
  int DayOfWeek = 7;
};

// EncodeDateTime builds the day count of a civil date and time (no range checks beyond
// what the arithmetic needs; callers validate their input).
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int millisecond = 0);
// DecodeDateTime splits a day count, rounded to the millisecond.
DateTimeParts DecodeDateTime(TDateTime value);

// DaysInMonth of a month of the proleptic Gregorian calendar.
int DaysInMonth(int year, int month);

// Conversions to and from the C library's local time.
TDateTime DateTimeFromTm(const std::tm& tm);
std::tm DateTimeToTm(TDateTime value);  // tm_isdst is -1: let mktime decide
TDateTime DateTimeFromTimeT(std::time_t t);
std::time_t DateTimeToTimeT(TDateTime value);

// UtcOffsetSeconds is the local zone's offset east of UTC in force at `value`.
long UtcOffsetSeconds(TDateTime value);

// The local clock: the one place the system reads the time of day.
struct LocalTime {
  DateTimeParts parts;        // to the millisecond
  long utcOffsetSeconds = 0;  // of the local zone, east of UTC, now
};
LocalTime LocalNow();
// Now is LocalNow as a day count.
TDateTime Now();

// A time of day as written "h:mm" or "h:mm:ss".
struct TimeOfDay {
  int hour = 0;
  int minute = 0;
  int second = 0;
  friend bool operator==(const TimeOfDay&, const TimeOfDay&) = default;
};

// How strictly ReadTimeOfDay reads: the fewest digits of the minutes and seconds, and the
// largest second (60 lets a leap second through).
struct TimeOfDayForm {
  int minFieldDigits = 2;
  int maxSecond = 59;
};

// ReadTimeOfDay reads "h:mm" or "h:mm:ss" at text[pos] (the hour one or two digits, the
// other fields minFieldDigits to two) and moves pos past it. False, with pos unspecified,
// when the text does not have that form or a field is out of range (hour 0..23, minute
// 0..59, second 0..maxSecond). What follows the time is left to the caller.
bool ReadTimeOfDay(std::string_view text, std::size_t& pos, TimeOfDay& out,
                   TimeOfDayForm form = {});

}  // namespace kz
