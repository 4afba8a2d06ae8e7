#include "app/TrayStatus.h"

#include <array>
#include <chrono>
#include <string_view>

#include "app/MissedSends.h"
#include "app/SendSlots.h"
#include "app/SettingsStore.h"
#include "core/Error.h"

namespace traystatus {

namespace {

// Weekday abbreviations, 1 = Sunday .. 7 = Saturday.
constexpr std::array<std::string_view, 7> kDayNames = {"ne", "po", "út", "st", "čt", "pá", "so"};

}  // namespace

std::optional<schedule::LocalDateTime> NextSend(
    const IniFile& ini, const schedule::LocalDateTime& now, const schedule::StoredSchedule& stored,
    const std::optional<schedule::LocalDateTime>& served) {
  sendslots::Ledger ledger;
  ledger.served = served;
  const schedule::TimeOfDay sendMinute{stored.sendTime.hour, stored.sendTime.minute, 0};
  const bool laterToday =
      sendMinute.hour * 60 + sendMinute.minute > now.time.hour * 60 + now.time.minute;
  std::chrono::local_days day(now.date);
  for (int i = laterToday ? 0 : 1; i <= 7; ++i) {
    const std::chrono::year_month_day date(day + std::chrono::days(i));
    if (date > stored.expiry)
      break;
    const schedule::LocalDateTime slot{date, sendMinute};
    if (schedule::IsSendDay(ini, date) && !sendslots::IsServed(ledger, slot, now))
      return slot;
  }
  return std::nullopt;
}

std::string ToolTip(const IniFile* ini, const schedule::LocalDateTime& now,
                    const std::optional<history::Event>& last,
                    const std::optional<schedule::LocalDateTime>& served) {
  std::string text = "Kadenza";
  std::string_view separator = " – ";
  if (last) {
    // The stored time without its seconds.
    text += std::string(separator) + "poslední odeslání " + last->when.substr(0, 16) + ": " +
            last->result;
    separator = "; ";
  }
  return text + std::string(separator) + ScheduleText(ini, now, served);
}

std::string ScheduleText(const IniFile* ini, const schedule::LocalDateTime& now,
                         const std::optional<schedule::LocalDateTime>& served) {
  if (!ini)
    return "odesílání není nastaveno";
  try {
    const schedule::StoredSchedule stored = schedule::ReadStoredSchedule(*ini);
    if (const auto next = NextSend(*ini, now, stored, served)) {
      return "příští odeslání " +
             std::string(kDayNames[static_cast<std::size_t>(schedule::DayOfWeek(next->date) - 1)]) +
             " " + missed::MinuteText(*next);
    }
    if (now.date >= stored.expiry)
      return "platnost časovače vypršela";
    for (int weekday = 1; weekday <= 7; ++weekday) {
      // A day is chosen, but none of its sends falls before the expiry.
      if (settings::IsDayChosen(*ini, weekday))
        return "do konce platnosti " + schedule::FormatDateText(stored.expiry) +
               " už žádné odeslání nebude";
    }
    return "není vybrán žádný den odeslání";
  } catch (const EConvertError&) {
    return "odesílání není nastaveno";
  }
}

}  // namespace traystatus
