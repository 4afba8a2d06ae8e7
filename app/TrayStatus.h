// The tray icon's tooltip: the last scheduled or manual send of the send history and the
// next planned send, or that the schedule has expired or is not set up.
#pragma once

#include <optional>
#include <string>

#include "app/Schedule.h"
#include "app/SendHistory.h"

class IniFile;

namespace traystatus {

// NextSend answers the first send minute after `now`'s minute on a chosen send day, up to
// and including the expiry day, that is not `served` or before it (the send ledger's last
// served slot, so a clock set back does not announce a send that will not go); nothing when
// there is none.
std::optional<schedule::LocalDateTime> NextSend(
    const IniFile& ini, const schedule::LocalDateTime& now, const schedule::StoredSchedule& stored,
    const std::optional<schedule::LocalDateTime>& served = std::nullopt);

// ScheduleText tells the next send ("příští odeslání po 14.12.2026 08:00"), or that the
// schedule has expired, has no send day before its expiry, has no send day at all or is not
// set up (`ini` null: no settings yet).
std::string ScheduleText(const IniFile* ini, const schedule::LocalDateTime& now,
                         const std::optional<schedule::LocalDateTime>& served = std::nullopt);

// ToolTip builds the text; `ini` is null when there are no settings yet.
std::string ToolTip(const IniFile* ini, const schedule::LocalDateTime& now,
                    const std::optional<history::Event>& last,
                    const std::optional<schedule::LocalDateTime>& served = std::nullopt);

}  // namespace traystatus
