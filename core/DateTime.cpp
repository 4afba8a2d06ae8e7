#include "core/DateTime.h"

#include <chrono>
#include <cmath>
#include <cstdint>

namespace kz {
namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;
// Days from 1970-01-01 to 1899-12-30.
constexpr std::int64_t kEpochShift = -25'569;

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(int y, int m, int d) {
  using namespace std::chrono;
  return sys_days(year{y} / month(static_cast<unsigned>(m)) / day(static_cast<unsigned>(d)))
      .time_since_epoch()
      .count();
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  using namespace std::chrono;
  const year_month_day date{sys_days{days{z}}};
  y = static_cast<int>(date.year());
  m = static_cast<int>(static_cast<unsigned>(date.month()));
  d = static_cast<int>(static_cast<unsigned>(date.day()));
}

}  // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
  const std::int64_t days = DaysFromCivil(year, month, day) - kEpochShift;
  const double time = ((hour * 60.0 + minute) * 60.0 + second + millisecond / 1000.0) / 86400.0;
  // Before the epoch the fraction still counts forward from midnight (-1.25 is 29 Dec 06:00).
  return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

DateTimeParts DecodeDateTime(TDateTime value) {
  double whole = std::trunc(value);
  std::int64_t ms = std::llround(std::fabs(value - whole) * static_cast<double>(kMsPerDay));
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    whole += value < 0 ? -1 : 1;
  }
  const std::int64_t days = static_cast<std::int64_t>(whole);
  DateTimeParts p;
  CivilFromDays(days + kEpochShift, p.Year, p.Month, p.Day);
  p.Hour = static_cast<int>(ms / 3'600'000);
  p.Minute = static_cast<int>(ms / 60'000 % 60);
  p.Second = static_cast<int>(ms / 1000 % 60);
  p.Millisecond = static_cast<int>(ms % 1000);
  // 1899-12-30 was a Saturday.
  p.DayOfWeek = static_cast<int>(((days % 7) + 7 + 6) % 7) + 1;
  return p;
}

int DaysInMonth(int year, int month) {
  if (month < 1 || month > 12)
    return 0;
  const std::chrono::year_month_day_last last{std::chrono::year{year} /
                                              std::chrono::month(static_cast<unsigned>(month)) /
                                              std::chrono::last};
  return static_cast<int>(static_cast<unsigned>(last.day()));
}

TDateTime DateTimeFromTm(const std::tm& tm) {
  return EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                        tm.tm_sec);
}

std::tm DateTimeToTm(TDateTime value) {
  const DateTimeParts p = DecodeDateTime(value);
  std::tm tm{};
  tm.tm_year = p.Year - 1900;
  tm.tm_mon = p.Month - 1;
  tm.tm_mday = p.Day;
  tm.tm_hour = p.Hour;
  tm.tm_min = p.Minute;
  tm.tm_sec = p.Second;
  tm.tm_wday = p.DayOfWeek - 1;
  tm.tm_isdst = -1;
  return tm;
}

TDateTime DateTimeFromTimeT(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return DateTimeFromTm(tm);
}

std::time_t DateTimeToTimeT(TDateTime value) {
  std::tm tm = DateTimeToTm(value);
  return std::mktime(&tm);
}

long UtcOffsetSeconds(TDateTime value) {
  const std::time_t t = DateTimeToTimeT(value);
  std::tm tm{};
  if (t == static_cast<std::time_t>(-1) || localtime_r(&t, &tm) == nullptr)
    return 0;
  return tm.tm_gmtoff;
}

LocalTime LocalNow() {
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
  const std::time_t t = static_cast<std::time_t>(ms.count() / 1000);
  std::tm tm{};
  localtime_r(&t, &tm);
  LocalTime local;
  local.parts = {tm.tm_year + 1900,
                 tm.tm_mon + 1,
                 tm.tm_mday,
                 tm.tm_hour,
                 tm.tm_min,
                 tm.tm_sec,
                 static_cast<int>(ms.count() % 1000),
                 tm.tm_wday + 1};
  local.utcOffsetSeconds = tm.tm_gmtoff;
  return local;
}

TDateTime Now() {
  const DateTimeParts p = LocalNow().parts;
  return EncodeDateTime(p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.Millisecond);
}

namespace {

// Reads an unsigned decimal of minDigits..maxDigits digits at text[pos].
bool ReadNumber(std::string_view text, std::size_t& pos, int minDigits, int maxDigits, int& out) {
  std::size_t end = pos;
  out = 0;
  while (end < text.size() && end - pos < static_cast<std::size_t>(maxDigits) && text[end] >= '0' &&
         text[end] <= '9') {
    out = out * 10 + (text[end] - '0');
    ++end;
  }
  if (end - pos < static_cast<std::size_t>(minDigits))
    return false;
  pos = end;
  return true;
}

}  // namespace

bool ReadTimeOfDay(std::string_view text, std::size_t& pos, TimeOfDay& out, TimeOfDayForm form) {
  if (!ReadNumber(text, pos, 1, 2, out.hour))
    return false;
  if (pos >= text.size() || text[pos] != ':')
    return false;
  ++pos;
  if (!ReadNumber(text, pos, form.minFieldDigits, 2, out.minute))
    return false;
  out.second = 0;
  if (pos < text.size() && text[pos] == ':') {
    ++pos;
    if (!ReadNumber(text, pos, form.minFieldDigits, 2, out.second))
      return false;
  }
  return out.hour < 24 && out.minute < 60 && out.second <= form.maxSecond;
}

}  // namespace kz
