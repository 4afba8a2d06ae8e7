// The retry plan of a send that met a temporary failure: the next attempt follows the failed
// one after 1, 2, 5, 10, 15 and 30 minutes, then every 30 minutes, as long as it stays within
// two hours of the send minute and before the next send slot (that slot's own send takes
// over). Pure arithmetic on local times; the tick keeps the count and the times.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "app/Schedule.h"

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

// LocalOf: a calendar date and time as a local time point (seconds included); DateTimeOf
// goes back, to the minute.
LocalTime LocalOf(const schedule::LocalDateTime& at);
schedule::LocalDateTime DateTimeOf(LocalTime at);

// Pending is a send slot whose last attempt met a temporary failure: how many attempts were
// made, when the next falls due, and when its window began (the slot's minute, or the first
// attempt when the slot was served late: caught up after waking, or after a late tick).
struct Pending {
  schedule::LocalDateTime slot;
  int attempts = 0;
  LocalTime next;
  LocalTime from;
};

// WindowStart: the window of a slot first attempted at `firstAttempt` begins at the later of
// the slot and that attempt, so a send served late gets its attempts too.
LocalTime WindowStart(const schedule::LocalDateTime& slot,
                      const schedule::LocalDateTime& firstAttempt);

// AfterFailure plans the next attempt of `slot` (window from `from`) after `attemptsMade`
// attempts, the last failed at `failedAt`; nothing when the plan has no further attempt (the
// window ended, the next slot comes first).
std::optional<Pending> AfterFailure(const schedule::LocalDateTime& slot, LocalTime from,
                                    int attemptsMade, const schedule::LocalDateTime& failedAt,
                                    const std::optional<schedule::LocalDateTime>& nextSlot);

// IsDue: the pending attempt's time has come at `now`.
bool IsDue(const Pending& pending, const schedule::LocalDateTime& now);

// WindowOpen: `now` still lies inside a window begun at `from` (at most kRetryWindow after
// it and before the next slot), so a send may still wait for the network.
bool WindowOpen(LocalTime from, const schedule::LocalDateTime& now,
                const std::optional<schedule::LocalDateTime>& nextSlot);

// ClockText: the time of day as "hh:mm"; NextAttemptText is what the tooltip tells:
// "další pokus v hh:mm".
std::string ClockText(LocalTime at);
std::string NextAttemptText(LocalTime at);

}  // namespace retry
