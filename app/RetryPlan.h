// The retry plan of a send that met a temporary failure: the next attempt follows the failed
// one after 1, 2, 5, 10, 15 and 30 minutes, then every 30 minutes, as long as it stays within
// two hours of the send minute and before the next send slot (that slot's own send takes
// over). Pure arithmetic on local times; the tick keeps the count and the times.
#pragma once

#include <chrono>
#include <optional>

namespace retry {

using LocalTime = std::chrono::local_seconds;

// How long after the send minute attempts may still be made.
inline constexpr std::chrono::minutes kRetryWindow{120};

// RetryDelay is the pause after the attempt numbered `attemptsMade` (1 = the first attempt,
// at the send minute) failed; attemptsMade < 1 is taken as 1.
std::chrono::minutes RetryDelay(int attemptsMade);

// NextAttempt answers when to try again after `attemptsMade` attempts, the last of which
// failed at `failedAt`; nothing when that time lies past the end of the window or at or past
// the next send slot.
std::optional<LocalTime> NextAttempt(LocalTime sendMinute, int attemptsMade, LocalTime failedAt,
                                     std::optional<LocalTime> nextSlot);

}  // namespace retry
