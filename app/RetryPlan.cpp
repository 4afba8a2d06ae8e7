#include "app/RetryPlan.h"

#include <array>

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

}  // namespace retry
