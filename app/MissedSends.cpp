#include "app/MissedSends.h"

#include <chrono>
#include <cstdio>

#include "app/SettingsStore.h"
#include "core/AtomicFile.h"

namespace missed {

namespace {

using Minutes = std::chrono::local_time<std::chrono::minutes>;

}  // namespace

std::optional<schedule::LocalDateTime> ReadLastTick() {
  try {
    bool exists = false;
    const std::string text = kz::ReadWholeFile(settings::FilePath(kStateFile), 256, &exists);
    if (!exists)
      return std::nullopt;
    // "dd.mm.yyyy hh:mm:ss"
    const std::size_t space = text.find(' ');
    if (space == std::string::npos)
      return std::nullopt;
    schedule::LocalDateTime at;
    at.date = schedule::ParseDateText(text.substr(0, space));
    std::string time = text.substr(space + 1);
    while (!time.empty() && (time.back() == '\n' || time.back() == '\r'))
      time.pop_back();
    at.time = schedule::ParseTimeText(time);
    return at;
  } catch (const std::exception&) {
    return std::nullopt;  // a damaged state file only costs one missed-send notice
  }
}

void WriteLastTick(const schedule::LocalDateTime& at) {
  settings::EnsureDataFolder();
  kz::WriteFileAtomically(settings::FilePath(kStateFile), StampText(at) + "\n");
}

namespace {

// The latest send minute strictly between the two ticks, on a send day up to the expiry.
std::optional<schedule::LocalDateTime> LatestSlotBetween(const IniFile& ini,
                                                         const schedule::LocalDateTime& previous,
                                                         const schedule::LocalDateTime& now,
                                                         const schedule::StoredSchedule& stored) {
  const Minutes from = schedule::MinuteOf(previous);
  const Minutes to = schedule::MinuteOf(now);
  // The send days repeat weekly, so the latest missed minute lies within the last week.
  std::chrono::local_days day(now.date);
  const std::chrono::local_days first =
      std::max(std::chrono::local_days(previous.date), day - std::chrono::days(7));
  for (; day >= first; day -= std::chrono::days(1)) {
    const std::chrono::year_month_day date(day);
    const Minutes candidate = schedule::MinuteOf({date, stored.sendTime});
    if (candidate <= from || candidate >= to)
      continue;
    if (date > stored.expiry || !schedule::IsSendDay(ini, date))
      continue;
    return schedule::LocalDateTime{date, {stored.sendTime.hour, stored.sendTime.minute, 0}};
  }
  return std::nullopt;
}

}  // namespace

std::optional<schedule::LocalDateTime> FindMissed(const IniFile& ini,
                                                  const schedule::LocalDateTime& previous,
                                                  const schedule::LocalDateTime& now,
                                                  const schedule::StoredSchedule& stored) {
  const auto gap = schedule::MinuteOf(now) - schedule::MinuteOf(previous);
  if (gap <= std::chrono::minutes(kGapMinutes))
    return std::nullopt;
  return LatestSlotBetween(ini, previous, now, stored);
}

std::optional<schedule::LocalDateTime> FindLate(const IniFile& ini,
                                                const schedule::LocalDateTime& previous,
                                                const schedule::LocalDateTime& now,
                                                const schedule::StoredSchedule& stored) {
  const auto gap = schedule::MinuteOf(now) - schedule::MinuteOf(previous);
  if (gap > std::chrono::minutes(kGapMinutes) || gap <= std::chrono::minutes(0))
    return std::nullopt;
  return LatestSlotBetween(ini, previous, now, stored);
}

std::string MinuteText(const schedule::LocalDateTime& at) {
  char text[24];
  std::snprintf(text, sizeof text, "%s %02d:%02d", schedule::FormatDateText(at.date).c_str(),
                at.time.hour, at.time.minute);
  return text;
}

std::string StampText(const schedule::LocalDateTime& at) {
  return schedule::FormatDateText(at.date) + " " + schedule::FormatTimeText(at.time);
}

std::string MissedText(const schedule::LocalDateTime& at) {
  return "Zmeškané odeslání:\rNaplánované odeslání " + MinuteText(at) +
         " neproběhlo, počítač byl uspaný nebo vypnutý.";
}

}  // namespace missed
