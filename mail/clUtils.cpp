#include "mail/clUtils.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <vector>

#include "core/Error.h"
#include "core/StringUtils.h"

namespace {

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string FormatBias(long offsetSeconds) {
  const long bias = -offsetSeconds / 60;  // minutes, UTC minus local time
  const long a = bias < 0 ? -bias : bias;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%s%.2ld%.2ld", bias <= 0 ? "+" : "-", a / 60, a % 60);
  return buf;
}

std::vector<std::string_view> SplitWords(std::string_view s) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && kz::IsSpaceOrControl(s[i]))
      ++i;
    const std::size_t start = i;
    while (i < s.size() && !kz::IsSpaceOrControl(s[i]))
      ++i;
    if (i > start)
      words.push_back(s.substr(start, i - start));
  }
  return words;
}

[[noreturn]] void BadDate(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid date");
}

// The zone of the date: "+hhmm" / "-hhmm", or one of the names RFC 5322 keeps; else none.
bool ParseZone(std::string_view word, long& offsetSeconds) {
  if (word.size() == 5 && (word[0] == '+' || word[0] == '-')) {
    for (char c : word.substr(1)) {
      if (c < '0' || c > '9')
        return false;
    }
    const long hh = (word[1] - '0') * 10 + (word[2] - '0');
    const long mm = (word[3] - '0') * 10 + (word[4] - '0');
    offsetSeconds = (hh * 60 + mm) * 60 * (word[0] == '-' ? -1 : 1);
    return true;
  }
  struct Named {
    const char* name;
    int hours;
  };
  static constexpr Named kNamed[] = {{"UT", 0},   {"UTC", 0},  {"GMT", 0},  {"Z", 0},
                                     {"EST", -5}, {"EDT", -4}, {"CST", -6}, {"CDT", -5},
                                     {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
  for (const auto& z : kNamed) {
    if (kz::EqualsNoCase(word, z.name)) {
      offsetSeconds = z.hours * 3600L;
      return true;
    }
  }
  return false;
}

}  // namespace

std::string GetTimeZoneBias() {
  return FormatBias(kz::LocalNow().utcOffsetSeconds);
}

std::string GetTimeZoneBias(TDateTime dateTime) {
  return FormatBias(kz::UtcOffsetSeconds(dateTime));
}

std::string FormatMailDate(TDateTime dateTime) {
  const kz::DateTimeParts p = kz::DecodeDateTime(dateTime);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s, %d %s %d %.2d:%.2d:%.2d %s", kDays[p.DayOfWeek - 1], p.Day,
                kMonths[p.Month - 1], p.Year, p.Hour, p.Minute, p.Second,
                GetTimeZoneBias(dateTime).c_str());
  return buf;
}

TDateTime ParseMailDate(std::string_view text) {
  std::string_view s = kz::Trim(text);
  // An optional day-name prefix ending in a comma.
  const std::size_t comma = s.find(',');
  if (comma != std::string_view::npos &&
      s.substr(0, comma).find_first_of("0123456789") == std::string_view::npos) {
    s.remove_prefix(comma + 1);
  }
  const std::vector<std::string_view> words = SplitWords(s);
  if (words.size() < 3)
    return 0;
  const int day = kz::ParseInt(words[0]);
  int month = 0;
  for (int m = 0; m < 12; ++m) {
    if (kz::EqualsNoCase(words[1], kMonths[m]))
      month = m + 1;
  }
  if (month == 0)
    month = kz::DecodeDateTime(kz::Now()).Month;
  int year = kz::ParseInt(words[2]);
  const std::string_view yearDigits = kz::Trim(words[2]);
  if (yearDigits.size() <= 2 && year >= 0) {
    year += year < 50 ? 2000 : 1900;
  } else if (yearDigits.size() == 3 && year >= 0) {
    year += 1900;
  }
  if (year < 1 || year > 9999 || day < 1 || day > kz::DaysInMonth(year, month))
    BadDate(text);

  int hour = 0, minute = 0, second = 0;
  long offset = 0;
  for (std::size_t w = 3; w < words.size(); ++w) {
    std::string_view word = words[w];
    if (word.find(':') != std::string_view::npos) {
      std::string_view suffix;
      const std::size_t end = word.find_last_of("0123456789");
      if (end != std::string_view::npos && end + 1 < word.size()) {
        suffix = word.substr(end + 1);
        word = word.substr(0, end + 1);
      }
      // Mail dates in the wild write single-digit minutes, and a leap second.
      kz::TimeOfDay time;
      std::size_t pos = 0;
      if (!kz::ReadTimeOfDay(word, pos, time, {1, 60}) || pos != word.size())
        BadDate(text);
      hour = time.hour;
      minute = time.minute;
      second = time.second;
      if (w + 1 < words.size() && suffix.empty() &&
          (kz::EqualsNoCase(words[w + 1], "AM") || kz::EqualsNoCase(words[w + 1], "PM"))) {
        suffix = words[++w];
      }
      if (kz::EqualsNoCase(suffix, "PM") && hour < 12)
        hour += 12;
      if (kz::EqualsNoCase(suffix, "AM") && hour == 12)
        hour = 0;
    } else {
      ParseZone(word, offset);
    }
  }
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60) {
    BadDate(text);
  }
  if (second == 60)
    second = 59;  // a leap second
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  const std::time_t utc = timegm(&tm) - offset;
  return kz::DateTimeFromTimeT(utc);
}

std::string GenerateBoundary() {
  auto tick = [] {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint32_t>(ts.tv_sec * 1000 + ts.tv_nsec / 1'000'000);
  };
  thread_local std::mt19937 rng{std::random_device{}()};
  const std::uint32_t first = tick();
  const std::uint32_t second = tick() >> 1;
  const unsigned random = std::uniform_int_distribution<unsigned>(0, 999)(rng);
  return "Mark=_" + std::to_string(first) + std::to_string(second) + std::to_string(random);
}
