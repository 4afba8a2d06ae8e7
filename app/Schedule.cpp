#include "app/Schedule.h"

#include <array>
#include <charconv>
#include <ctime>

#include "app/IniFile.h"
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

bool ReadTime(std::string_view t, std::size_t& pos, TimeOfDay& out) {
  if (!ReadNumber(t, pos, 1, 2, out.hour))
    return false;
  if (pos >= t.size() || t[pos] != ':')
    return false;
  ++pos;
  if (!ReadNumber(t, pos, 2, 2, out.minute))
    return false;
  out.second = 0;
  if (pos < t.size() && t[pos] == ':') {
    ++pos;
    if (!ReadNumber(t, pos, 2, 2, out.second))
      return false;
  }
  return out.hour < 24 && out.minute < 60 && out.second < 60;
}

std::string Pad2(unsigned v) {
  return v < 10 ? "0" + std::to_string(v) : std::to_string(v);
}

}  // namespace

LocalDateTime NowLocal() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&now, &tm);
  return {std::chrono::year{tm.tm_year + 1900} / (tm.tm_mon + 1) / tm.tm_mday,
          {tm.tm_hour, tm.tm_min, tm.tm_sec}};
}

TimeOfDay ParseTimeText(std::string_view text) {
  const std::string_view t = kz::Trim(text);
  std::size_t pos = 0;
  TimeOfDay out;
  if (!ReadTime(t, pos, out) || pos != t.size()) {
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
    ok = ok && ReadTime(t, pos, ignored) && pos == t.size();
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
  static constexpr std::array<std::string_view, 7> kKeys = {"Ne", "Po", "Ut", "St",
                                                            "Ct", "Pa", "So"};
  return kKeys.at(static_cast<std::size_t>(dayOfWeek - 1));
}

bool IsSendDay(const IniFile& ini, const std::chrono::year_month_day& today) {
  const std::string_view key = DayKey(DayOfWeek(today));
  return ini.ReadString("Datum", key) == key;
}

bool IsSendMinute(const TimeOfDay& now, const TimeOfDay& sendTime) {
  return now.hour == sendTime.hour && now.minute == sendTime.minute;
}

bool IsExpired(const std::chrono::year_month_day& today,
               const std::chrono::year_month_day& expiry) {
  return std::chrono::sys_days(today) >= std::chrono::sys_days(expiry);
}

StoredSchedule ReadStoredSchedule(const IniFile& ini) {
  const std::string timeText = ini.ReadString("Cas", "cas");
  const std::string dateText = ini.ReadString("Do", "datm");
  StoredSchedule s;
  s.expiry = ParseDateText(dateText);
  s.sendTime = ParseTimeText(timeText);
  return s;
}

}  // namespace schedule
