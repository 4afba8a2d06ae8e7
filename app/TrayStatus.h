// The tray icon's tooltip: the last event of the send history and the next planned send,
// or that the schedule has expired or is not set up.
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

// ToolTip builds the text; `ini` is null when there are no settings yet.
std::string ToolTip(const IniFile* ini, const schedule::LocalDateTime& now,
                    const std::optional<history::Event>& last,
                    const std::optional<schedule::LocalDateTime>& served = std::nullopt);

}  // namespace traystatus
