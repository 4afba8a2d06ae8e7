// The once-a-minute schedule decision: is this minute a send minute on a selected weekday,
// and has the expiry date been reached. Everything is read from the settings file at every
// tick; nothing is kept between ticks. Times and dates are the computer's local ones.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "core/DateTime.h"

class IniFile;

namespace schedule {

using TimeOfDay = kz::TimeOfDay;

// LocalDateTime is a local calendar date and time of day, as the clock gives it.
struct LocalDateTime {
  std::chrono::year_month_day date;
  TimeOfDay time;
};

LocalDateTime NowLocal();

// MinuteOf: the date and time as a local time point to the minute (the seconds dropped), for
// comparing and counting send minutes.
std::chrono::local_time<std::chrono::minutes> MinuteOf(const LocalDateTime& at);

// ParseTimeText reads "H:mm" or "H:mm:ss" (the setup window stores "HH:mm:ss"); anything
// else, the empty text included, raises EConvertError "'<text>' is not a valid time".
TimeOfDay ParseTimeText(std::string_view text);

// ParseDateText reads "d.M.yyyy" (the setup window stores "dd.MM.yyyy"), optionally followed
// by a time; anything else raises EConvertError "'<text>' is not a valid date".
std::chrono::year_month_day ParseDateText(std::string_view text);

std::string FormatTimeText(const TimeOfDay& t);                    // "HH:mm:ss"
std::string FormatDateText(const std::chrono::year_month_day& d);  // "dd.MM.yyyy"

// DayOfWeek numbers the weekdays 1 = Sunday .. 7 = Saturday.
int DayOfWeek(const std::chrono::year_month_day& d);

// DayKey is the "Datum" key of a weekday number: 1 "Ne", 2 "Po", ... 7 "So".
std::string_view DayKey(int dayOfWeek);

// IsSendDay: today's key in section "Datum" holds exactly its own text.
bool IsSendDay(const IniFile& ini, const std::chrono::year_month_day& today);

// IsSendMinute compares hours and minutes only (seconds play no part).
bool IsSendMinute(const TimeOfDay& now, const TimeOfDay& sendTime);

// IsExpired: today is the expiry date or a later day.
bool IsExpired(const std::chrono::year_month_day& today, const std::chrono::year_month_day& expiry);

// The stored schedule of one tick, read and converted in the order the tick needs it: the
// expiry date first, then the send time; a bad text raises EConvertError.
struct StoredSchedule {
  std::chrono::year_month_day expiry;
  TimeOfDay sendTime;
};
StoredSchedule ReadStoredSchedule(const IniFile& ini);

}  // namespace schedule
