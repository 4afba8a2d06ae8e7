// Missed sends: the time of the last schedule tick is kept in a small state file in the
// data folder, so that a tick (or a start) that finds the previous tick more than two
// minutes back can tell which send minute of a send day went by unseen while the computer
// slept or was off; such a send is only named, never sent late. A tick that merely fired a
// little late (the timer drifts, the machine was busy) and so stepped over the send minute
// serves that minute instead: nothing went by unseen, the tick was just slow.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/Schedule.h"
#include "app/SettingsStore.h"

class IniFile;

namespace missed {

inline constexpr std::string_view kStateFile = settings::kTickStateFile;
// A gap longer than this between two ticks means ticks were missed.
inline constexpr int kGapMinutes = 2;

// ReadLastTick answers the stored time of the last tick; a missing or unreadable state
// file answers nothing.
std::optional<schedule::LocalDateTime> ReadLastTick();
// WriteLastTick stores the time atomically, owner-only; raises EclError.
void WriteLastTick(const schedule::LocalDateTime& at);

// FindMissed answers the latest send minute after `previous` and before `now` (both
// minutes excluded: a tick ran in each) on a chosen send day not after the expiry, when
// more than kGapMinutes lie between the two; else nothing.
std::optional<schedule::LocalDateTime> FindMissed(const IniFile& ini,
                                                  const schedule::LocalDateTime& previous,
                                                  const schedule::LocalDateTime& now,
                                                  const schedule::StoredSchedule& stored);

// FindLate answers the send minute that lies after `previous` and before `now` (both
// minutes excluded) on a chosen send day not after the expiry, when at most kGapMinutes lie
// between the two: the ticks ran on, one of them late, and this tick serves that minute.
std::optional<schedule::LocalDateTime> FindLate(const IniFile& ini,
                                                const schedule::LocalDateTime& previous,
                                                const schedule::LocalDateTime& now,
                                                const schedule::StoredSchedule& stored);

// Text forms: "dd.mm.yyyy hh:mm" for the balloon, "dd.mm.yyyy hh:mm:ss" stored.
std::string MinuteText(const schedule::LocalDateTime& at);
std::string StampText(const schedule::LocalDateTime& at);

// The balloon that names a missed send.
std::string MissedText(const schedule::LocalDateTime& at);

}  // namespace missed
