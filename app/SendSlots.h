// The send ledger: odesilani.dat in the data folder, the one record of which send slot (the
// date and the hour and minute of a send day's send) was last served and which sends are
// under way. The schedule tick, the start-up, the missed-send detection and the tooltip all
// read it, so a slot is served once whatever the local clock does (daylight-saving time
// ending, a corrected clock, an NTP step), and a send cut off before its outcome (power
// loss, a kill, a logout) is found at the next start instead of being forgotten.
//
// The file, LF-ended lines of tab-separated fields, written whole and atomically:
//   served <TAB> dd.mm.yyyy hh:mm
//   attempt <TAB> pid <TAB> process start <TAB> boot id <TAB> a history line (SendHistory.h)
//   retry <TAB> slot <TAB> attempts made <TAB> next attempt <TAB> window start (dd.mm.yyyy hh:mm)
// The retry line names a slot whose last attempt met a temporary failure, so that a restart
// goes on with its attempts instead of forgetting them.
// The attempt's history line holds the start time, the kind, "probíhá", the recipient count
// and the subject. An attempt is written before a send connects and removed when its outcome
// is in the history. Every change runs under an exclusive lock of the data folder, so the
// tray program and `kadenza --send-now` never lose each other's lines.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/RetryPlan.h"
#include "app/Schedule.h"
#include "app/SendHistory.h"
#include "app/SettingsStore.h"

namespace sendslots {

inline constexpr std::string_view kFile = settings::kSendLedgerFile;
// A served slot further than this ahead of the clock was served under a clock that was
// wrong; it does not hold back the sends of the real dates.
inline constexpr int kFutureToleranceDays = 7;

// One send under way: the process that runs it and what the history will say of it.
struct Attempt {
  long pid = 0;
  unsigned long long processStart = 0;  // the process's start, in clock ticks since boot
  std::string bootId;
  history::Event event;
  friend bool operator==(const Attempt&, const Attempt&) = default;
};

struct Ledger {
  std::optional<schedule::LocalDateTime> served;
  std::vector<Attempt> attempts;
  std::optional<retry::Pending> retry = std::nullopt;
};

// KeepRetry records the slot waiting for its next attempt (nothing: none waits).
void KeepRetry(const std::optional<retry::Pending>& pending);

// Format / Parse: the file's text. Parse skips lines of another form.
std::string Format(const Ledger& ledger);
Ledger Parse(std::string_view text);

// Read answers the ledger; a missing file is an empty ledger. Raises EclError when the file
// cannot be read.
Ledger Read();

// Update runs `change` on the ledger under the folder's lock and writes the result back
// atomically (owner-only) before the lock goes; raises EclError naming the file.
void Update(const std::function<void(Ledger&)>& change);

// IsServed: `slot` is the served slot or lies before it (a served slot far ahead of `now`
// aside, see kFutureToleranceDays).
bool IsServed(const Ledger& ledger, const schedule::LocalDateTime& slot,
              const schedule::LocalDateTime& now);

// Claim marks `slot` served and answers true, or answers false when it is served already.
// It runs before the send starts, so a restart or a clock that comes back over the minute
// finds the slot taken.
bool Claim(const schedule::LocalDateTime& slot, const schedule::LocalDateTime& now);

// SlotOf is the send slot of a day: its date with the send time's hour and minute.
schedule::LocalDateTime SlotOf(const std::chrono::year_month_day& date,
                               const schedule::TimeOfDay& sendTime);

// This process as an attempt's owner.
Attempt OwnAttempt(history::Event event);

// IsRunning: the attempt's process is this boot's and still runs (the same process, not a
// later one that got its number).
bool IsRunning(const Attempt& attempt);

// AddAttempt records a send of this process under way; RemoveAttempt takes it out again.
void AddAttempt(const Attempt& attempt);
void RemoveAttempt(const Attempt& attempt);

// TakeOrphans removes and answers the attempts whose process is gone without an outcome.
std::vector<Attempt> TakeOrphans();

}  // namespace sendslots
