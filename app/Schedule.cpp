#include "app/Schedule.h"

#include <array>
#include <charconv>
#include <ctime>

#include "app/IniFile.h"
#include "app/SettingsStore.h"
#include "core/Error.h"
#include "core/StringUtils.h"

namespace schedule {
namespace {

// Reads an unsigned decimal of minDigits..maxDigits digits at text[pos].
bool ReadNumber(std::string_view text, std::size_t& pos, int minDigits, int maxDigits, int& out) {
  std::size_t end = pos;
  while (end < text.size() && end - pos < static_cast<std::size_t>(maxDigits) && text[end] >= '0' &&
         text[end] <= '9') {
    ++end;
  }
  if (end - pos < static_cast<std::size_t>(minDigits))
    return false;
  std::from_chars(text.data() + pos, text.data() + end, out);
  pos = end;
  return true;
}

std::string Pad2(unsigned v) {
  std::string text = std::to_string(v);
  if (v < 10)
    text.insert(text.begin(), '0');
  return text;
}

}  // namespace

LocalDateTime NowLocal() {
  const kz::DateTimeParts p = kz::LocalNow().parts;
  return {std::chrono::year{p.Year} / p.Month / p.Day, {p.Hour, p.Minute, p.Second}};
}

std::chrono::local_time<std::chrono::minutes> MinuteOf(const LocalDateTime& at) {
  return std::chrono::local_days(at.date) + std::chrono::hours(at.time.hour) +
         std::chrono::minutes(at.time.minute);
}

TimeOfDay ParseTimeText(std::string_view text) {
  const std::string_view t = kz::Trim(text);
  std::size_t pos = 0;
  TimeOfDay out;
  if (!kz::ReadTimeOfDay(t, pos, out) || pos != t.size()) {
    throw EConvertError("'" + std::string(text) + "' is not a valid time");
  }
  return out;
}

std::chrono::year_month_day ParseDateText(std::string_view text) {
  const std::string_view t = kz::Trim(text);
  std::size_t pos = 0;
  int d = 0, m = 0, y = 0;
  bool ok = ReadNumber(t, pos, 1, 2, d) && pos < t.size() && t[pos++] == '.' &&
            ReadNumber(t, pos, 1, 2, m) && pos < t.size() && t[pos++] == '.' &&
            ReadNumber(t, pos, 4, 4, y);
  if (ok && pos < t.size()) {
    // An optional time after the date, as in "12.12.2012 10:00:00".
    TimeOfDay ignored;
    ok = t[pos] == ' ';
    while (ok && pos < t.size() && t[pos] == ' ')
      ++pos;
    ok = ok && kz::ReadTimeOfDay(t, pos, ignored) && pos == t.size();
  }
  const std::chrono::year_month_day date{std::chrono::year{y}, std::chrono::month(m),
                                         std::chrono::day(d)};
  if (!ok || !date.ok())
    throw EConvertError("'" + std::string(text) + "' is not a valid date");
  return date;
}

std::string FormatTimeText(const TimeOfDay& t) {
  return Pad2(t.hour) + ":" + Pad2(t.minute) + ":" + Pad2(t.second);
}

std::string FormatDateText(const std::chrono::year_month_day& d) {
  return Pad2(unsigned(d.day())) + "." + Pad2(unsigned(d.month())) + "." +
         std::to_string(int(d.year()));
}

int DayOfWeek(const std::chrono::year_month_day& d) {
  return static_cast<int>(std::chrono::weekday(std::chrono::sys_days(d)).c_encoding()) + 1;
}

std::string_view DayKey(int dayOfWeek) {
  return settings::kWeekdayKeys.at(static_cast<std::size_t>(dayOfWeek - 1));
}

bool IsSendDay(const IniFile& ini, const std::chrono::year_month_day& today) {
  return settings::IsDayChosen(ini, DayOfWeek(today));
}

bool IsSendMinute(const TimeOfDay& now, const TimeOfDay& sendTime) {
  return now.hour == sendTime.hour && now.minute == sendTime.minute;
}

bool IsExpired(const std::chrono::year_month_day& today,
               const std::chrono::year_month_day& expiry) {
  return std::chrono::sys_days(today) >= std::chrono::sys_days(expiry);
}

StoredSchedule ReadStoredSchedule(const IniFile& ini) {
  const std::string timeText = settings::ReadSetting(ini, settings::kSendTimeKey);
  const std::string dateText = settings::ReadSetting(ini, settings::kValidUntilKey);
  StoredSchedule s;
  s.expiry = ParseDateText(dateText);
  s.sendTime = ParseTimeText(timeText);
  return s;
}

}  // namespace schedule
