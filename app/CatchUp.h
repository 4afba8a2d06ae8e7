// Catch-up of a missed send: when ticks stopped over a send slot (the computer slept or was
// off), the latest such slot is named, and, when the user allowed it, sent once on waking or
// at start if it lies at most N hours back (N from 1 to 24; 0 is off, the default). Older
// missed slots are only ever named through the latest one: a week away sends one message,
// not one per Monday. A slot the ledger holds as served is neither named nor sent.
#pragma once

#include <optional>

#include "app/Schedule.h"
#include "app/SendSlots.h"
#include "app/SettingsStore.h"

class IniFile;

namespace catchup {

inline constexpr int kOff = 0;
inline constexpr int kMaxHours = 24;

// The setting: "Odeslat zmeškané odeslání, pokud je zpoždění nejvýše [N] hodin", stored as
// N (0 or absent: off). Files written before the setting existed lack the key.
inline constexpr settings::SettingKey kCatchUpKey{"Dohnat", "hodiny"};

// StoredHours reads the setting; a value that is no whole number from 0 to kMaxHours is off.
int StoredHours(const IniFile& ini);

struct Decision {
  std::optional<schedule::LocalDateTime> missed;  // the latest missed slot, to be named
  bool sendNow = false;                           // send that slot now
};

// Decide looks for the latest send slot after `lastTick` and before `now` (as the missed-send
// detection does) that the ledger does not hold as served, and whether to send it with
// catch-up after at most `hours` hours (kOff .. kMaxHours; anything else raises EclError).
Decision Decide(const IniFile& ini, const schedule::LocalDateTime& lastTick,
                const schedule::LocalDateTime& now, const schedule::StoredSchedule& stored,
                const sendslots::Ledger& ledger, int hours);

}  // namespace catchup
