#include "app/RetryPlan.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace retry {

namespace {

constexpr std::array<std::chrono::minutes, 6> kDelays{
    std::chrono::minutes(1),  std::chrono::minutes(2),  std::chrono::minutes(5),
    std::chrono::minutes(10), std::chrono::minutes(15), std::chrono::minutes(30)};

}  // namespace

std::chrono::minutes RetryDelay(int attemptsMade) {
  const int index = attemptsMade < 1 ? 0 : attemptsMade - 1;
  if (static_cast<std::size_t>(index) >= kDelays.size())
    return kDelays.back();
  return kDelays[static_cast<std::size_t>(index)];
}

std::optional<LocalTime> NextAttempt(LocalTime sendMinute, int attemptsMade, LocalTime failedAt,
                                     std::optional<LocalTime> nextSlot) {
  const LocalTime next = failedAt + RetryDelay(attemptsMade);
  if (next > sendMinute + kRetryWindow)
    return std::nullopt;
  if (nextSlot && next >= *nextSlot)
    return std::nullopt;
  return next;
}

LocalTime LocalOf(const schedule::LocalDateTime& at) {
  return std::chrono::local_days(at.date) + std::chrono::hours(at.time.hour) +
         std::chrono::minutes(at.time.minute) + std::chrono::seconds(at.time.second);
}

schedule::LocalDateTime DateTimeOf(LocalTime at) {
  const auto day = std::chrono::floor<std::chrono::days>(at);
  const std::chrono::hh_mm_ss time(at - day);
  return {std::chrono::year_month_day(day),
          {static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()), 0}};
}

LocalTime WindowStart(const schedule::LocalDateTime& slot,
                      const schedule::LocalDateTime& firstAttempt) {
  const LocalTime attempt = std::chrono::floor<std::chrono::minutes>(LocalOf(firstAttempt));
  return std::max(LocalOf(slot), attempt);
}

std::optional<Pending> AfterFailure(const schedule::LocalDateTime& slot, LocalTime from,
                                    int attemptsMade, const schedule::LocalDateTime& failedAt,
                                    const std::optional<schedule::LocalDateTime>& nextSlot) {
  std::optional<LocalTime> next;
  if (nextSlot)
    next = LocalOf(*nextSlot);
  const auto at = NextAttempt(from, attemptsMade, LocalOf(failedAt), next);
  if (!at)
    return std::nullopt;
  return Pending{slot, attemptsMade, *at, from};
}

bool IsDue(const Pending& pending, const schedule::LocalDateTime& now) {
  return LocalOf(now) >= pending.next;
}

bool WindowOpen(LocalTime from, const schedule::LocalDateTime& now,
                const std::optional<schedule::LocalDateTime>& nextSlot) {
  const LocalTime at = LocalOf(now);
  if (at > from + kRetryWindow)
    return false;
  return !nextSlot || at < LocalOf(*nextSlot);
}

std::string ClockText(LocalTime at) {
  const schedule::TimeOfDay time = DateTimeOf(at).time;
  char text[8];
  std::snprintf(text, sizeof text, "%02d:%02d", time.hour, time.minute);
  return text;
}

std::string NextAttemptText(LocalTime at) {
  return "další pokus v " + ClockText(at);
}

}  // namespace retry
