#include "app/CatchUp.h"

#include <charconv>
#include <chrono>
#include <string>

#include "app/MissedSends.h"
#include "core/Error.h"

namespace catchup {

int StoredHours(const IniFile& ini) {
  const std::string text = settings::ReadSetting(ini, kCatchUpKey);
  int hours = kOff;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), hours);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || hours < kOff ||
      hours > kMaxHours) {
    return kOff;
  }
  return hours;
}

Decision Decide(const IniFile& ini, const schedule::LocalDateTime& lastTick,
                const schedule::LocalDateTime& now, const schedule::StoredSchedule& stored,
                const sendslots::Ledger& ledger, int hours) {
  if (hours < kOff || hours > kMaxHours)
    throw EclError("catch-up delay out of range 0.." + std::to_string(kMaxHours) + ": " +
                   std::to_string(hours));
  Decision decision;
  const auto slot = missed::FindMissed(ini, lastTick, now, stored);
  if (!slot || sendslots::IsServed(ledger, *slot, now))
    return decision;
  decision.missed = slot;
  decision.sendNow = hours != kOff && schedule::MinuteOf(now) - schedule::MinuteOf(*slot) <=
                                          std::chrono::hours(hours);
  return decision;
}

}  // namespace catchup
